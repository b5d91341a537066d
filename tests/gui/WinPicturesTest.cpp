// The Windows window's pictures, converted from the drawn ones into bitmaps
// and icons: read back by another reader (Qt's), each shows what was drawn,
// at each size the window picks from.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

std::vector<QImage> IconImages(const QString& path) {
    QImageReader reader(path, "ico");
    std::vector<QImage> images;
    for (int i = 0; i < reader.imageCount(); ++i)
        if (reader.jumpToImage(i)) images.push_back(reader.read().convertToFormat(QImage::Format_ARGB32));
    return images;
}

// Pixels that are fully transparent in both may differ in colour.
bool SamePicture(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return false;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32), y = b.convertToFormat(QImage::Format_ARGB32);
    for (int row = 0; row < x.height(); ++row)
        for (int column = 0; column < x.width(); ++column) {
            const QRgb p = x.pixel(column, row), q = y.pixel(column, row);
            if (p != q && (qAlpha(p) != 0 || qAlpha(q) != 0)) return false;
        }
    return true;
}

TEST(WindowsPictures, BitmapsAndIconsShowWhatWasDrawn) {
    tolm::test::TempDir out;
    const std::string command = std::string(TOLM_WIN_PICTURES) + " " + TOLM_DRAWN_PICTURES + " " + out.Path();
    ASSERT_EQ(std::system(command.c_str()), 0);
    const QDir drawn(TOLM_DRAWN_PICTURES), converted(QString::fromStdString(out.Path()));

    for (const char* name : {"R_1100", "R_1200", "R_1400", "R_1900S", "R_1900D", "R_1900", "W_500", "KV4100", "Quorin"}) {
        const QImage picture(drawn.filePath(QString("%1.png").arg(name)));
        QImage onWhite(picture.size(), QImage::Format_ARGB32);
        onWhite.fill(Qt::white);
        QPainter(&onWhite).drawImage(0, 0, picture);
        EXPECT_TRUE(SamePicture(QImage(converted.filePath(QString("%1.bmp").arg(name)), "bmp"), onWhite)) << name;
    }

    // The button's picture at 100, 150 and 200 %; the one at 100 % with the
    // drawn colours and transparency.
    const QImage glyph(drawn.filePath("Upgrade.png"));
    const auto glyphs = IconImages(converted.filePath("Upgrade.ico"));
    ASSERT_EQ(glyphs.size(), 3u);
    EXPECT_TRUE(SamePicture(glyphs[0], glyph));
    EXPECT_EQ(glyphs[1].width(), glyph.width() * 3 / 2);
    EXPECT_EQ(glyphs[2].height(), glyph.height() * 2);

    // The program's icon in each size, 256 among them (stored as 0).
    const auto icons = IconImages(converted.filePath("tolm-upgrade.ico"));
    ASSERT_EQ(icons.size(), 4u);
    int i = 0;
    for (int size : {16, 32, 48, 256})
        EXPECT_TRUE(SamePicture(icons[i++], QImage(drawn.filePath(QString("icons/%1x%1/tolm-upgrade.png").arg(size)))))
            << size;
}

}  // namespace
