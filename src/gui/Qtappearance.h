#pragma once
// The window's fonts. The form was laid out in pixels for an 8-point sans
// serif 11 pixels high, so the fonts are sized in pixels: the layout then
// holds whatever the screen's resolution.
#include <QFont>
#include <QStringList>

namespace tolm {

// Sans families in order of preference: Arial-compatible ones first, then the
// one every Debian desktop has, then the CJK family that draws the Chinese
// operator texts (it is also the fallback for glyphs the first one lacks).
QStringList SansFamilies();

// The window's default font: 8 points, 11 pixels high.
QFont WindowFont();

// The "Upgrade" caption: bold, 16 pixels, narrow enough for its button.
QFont UpgradeCaptionFont();

}  // namespace tolm
