#include "gui/Appearance.h"

namespace tolm {

QStringList SansFamilies() {
    return {"Liberation Sans", "Arimo", "DejaVu Sans", "Noto Sans CJK TC", "Noto Sans CJK SC", "Noto Sans CJK JP"};
}

namespace {
QFont SansFont(int pixelSize, bool bold) {
    QFont font;
    font.setFamilies(SansFamilies());
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}
}  // namespace

QFont WindowFont() { return SansFont(11, false); }

QFont UpgradeCaptionFont() { return SansFont(16, true); }

}  // namespace tolm
