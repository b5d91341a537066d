#include "gui/Qtappearance.h"

namespace tolm {

QStringList SansFamilies() {
    return {"Liberation Sans", "Arimo", "DejaVu Sans", "Noto Sans CJK TC", "Noto Sans CJK SC", "Noto Sans CJK JP"};
}

namespace {
QFont SansFont(QStringList families, int pixelSize, bool bold) {
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}
}  // namespace

QFont WindowFont() { return SansFont(SansFamilies(), 11, false); }

QFont UpgradeCaptionFont() {
    // The caption has to fit an 81-pixel button: without an Arial-compatible
    // family, the condensed cut comes closer to Arial's width.
    QStringList families = SansFamilies();
    families.insert(families.indexOf("DejaVu Sans"), "DejaVu Sans Condensed");
    return SansFont(families, 16, true);
}

}  // namespace tolm
