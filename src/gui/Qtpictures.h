#pragma once
// The pictures drawn at build time and bundled as resources: the nine product
// pictures (100 x 100) and the "Upgrade" button's picture.
#include <QPixmap>
#include <QString>

#include <string>

namespace tolm {

// Names of the product pictures a TImage model may name.
const QStringList& ProductPictureNames();

// The picture of that name; a null pixmap for "" or a name we do not have.
QPixmap Picture(const std::string& name);

// The picture shown above the "Upgrade" caption.
QPixmap UpgradeButtonPicture();

}  // namespace tolm
