#include "gui/Qtpictures.h"

#include <QStringList>

// The resource bundle lives in a static library: register it before first use.
static void RegisterPictureResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(pictures);
        return true;
    }();
    (void)registered;
}

namespace tolm {

const QStringList& ProductPictureNames() {
    static const QStringList names{"R_1100", "R_1200", "R_1400", "R_1900S", "R_1900D",
                                   "R_1900", "W_500",  "KV4100", "Quorin"};
    return names;
}

QPixmap Picture(const std::string& name) {
    RegisterPictureResources();
    if (name.empty()) return {};
    const QString qname = QString::fromStdString(name);
    // Only plain names: a model's text never reaches into other resources.
    if (!ProductPictureNames().contains(qname) && qname != "Upgrade") return {};
    return QPixmap(":/pictures/" + qname + ".png");
}

QPixmap UpgradeButtonPicture() { return Picture("Upgrade"); }

}  // namespace tolm
