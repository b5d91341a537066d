// Build tool: turns the pictures that tolm-draw-pictures drew into the
// formats a Windows resource script takes.
//
//   tolm-win-pictures PNGDIR OUTDIR
//
// Writes to OUTDIR:
// - NAME.bmp for each 100 x 100 product picture: 24 bits, on the white the
//   pictures are drawn over (they are opaque);
// - Upgrade.ico: the button's picture at 100 %, 150 % and 200 % of its size,
//   so that the window picks a sharp one at each screen resolution;
// - tolm-upgrade.ico: the program's icon, from the desktop icon's sizes.
// Icon images are 32-bit with their alpha and a mask, the form every Windows
// and Wine reads.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

const char* const kProductPictures[] = {"R_1100", "R_1200", "R_1400", "R_1900S", "R_1900D",
                                        "R_1900", "W_500",  "KV4100", "Quorin"};
constexpr int kButtonScales[] = {100, 150, 200};
constexpr int kIconSizes[] = {16, 32, 48, 256};

class TBytes {
public:
    void U8(int v) { data_.push_back(static_cast<char>(v & 0xFF)); }
    void U16(int v) {
        U8(v);
        U8(v >> 8);
    }
    void U32(uint32_t v) {
        U16(static_cast<int>(v & 0xFFFF));
        U16(static_cast<int>(v >> 16));
    }
    void Append(const QByteArray& bytes) { data_.append(bytes); }
    const QByteArray& Data() const { return data_; }
    qsizetype Size() const { return data_.size(); }

private:
    QByteArray data_;
};

void InfoHeader(TBytes& out, int width, int height, int bits, uint32_t imageSize) {
    out.U32(40);
    out.U32(static_cast<uint32_t>(width));
    out.U32(static_cast<uint32_t>(height));
    out.U16(1);
    out.U16(bits);
    out.U32(0);  // BI_RGB
    out.U32(imageSize);
    out.U32(2835);  // 72 dots per inch
    out.U32(2835);
    out.U32(0);
    out.U32(0);
}

QByteArray Bitmap24(const QImage& source) {
    QImage image(source.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter(&image).drawImage(0, 0, source);
    const int stride = (image.width() * 3 + 3) & ~3;
    const uint32_t imageSize = static_cast<uint32_t>(stride * image.height());
    TBytes out;
    out.U8('B');
    out.U8('M');
    out.U32(14 + 40 + imageSize);
    out.U32(0);
    out.U32(14 + 40);
    InfoHeader(out, image.width(), image.height(), 24, imageSize);
    for (int y = image.height() - 1; y >= 0; --y) {  // bottom-up
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            out.U8(qBlue(p));
            out.U8(qGreen(p));
            out.U8(qRed(p));
        }
        for (int pad = image.width() * 3; pad < stride; ++pad) out.U8(0);
    }
    return out.Data();
}

// One icon image: the header (twice the height, for the mask), the colours
// with their alpha (not premultiplied), then the mask (set where transparent).
QByteArray IconImage(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width(), h = image.height();
    const int maskStride = ((w + 31) / 32) * 4;
    TBytes out;
    InfoHeader(out, w, 2 * h, 32, static_cast<uint32_t>(w * h * 4 + maskStride * h));
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const QRgb p = image.pixel(x, y);
            out.U8(qBlue(p));
            out.U8(qGreen(p));
            out.U8(qRed(p));
            out.U8(qAlpha(p));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        std::vector<uint8_t> row(static_cast<size_t>(maskStride), 0);
        for (int x = 0; x < w; ++x)
            if (qAlpha(image.pixel(x, y)) == 0) row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
        for (uint8_t b : row) out.U8(b);
    }
    return out.Data();
}

QByteArray Icon(const std::vector<QImage>& images) {
    std::vector<QByteArray> entries;
    for (const QImage& image : images) entries.push_back(IconImage(image));
    TBytes out;
    out.U16(0);
    out.U16(1);  // an icon
    out.U16(static_cast<int>(images.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const int w = images[i].width(), h = images[i].height();
        out.U8(w >= 256 ? 0 : w);
        out.U8(h >= 256 ? 0 : h);
        out.U8(0);
        out.U8(0);
        out.U16(1);
        out.U16(32);
        out.U32(static_cast<uint32_t>(entries[i].size()));
        out.U32(offset);
        offset += static_cast<uint32_t>(entries[i].size());
    }
    for (const QByteArray& entry : entries) out.Append(entry);
    return out.Data();
}

bool Load(const QDir& dir, const QString& name, QImage& image) {
    if (image.load(dir.filePath(name))) return true;
    std::fprintf(stderr, "tolm-win-pictures: cannot read %s\n", qPrintable(dir.filePath(name)));
    return false;
}

bool Write(const QDir& dir, const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size()) return true;
    std::fprintf(stderr, "tolm-win-pictures: cannot write %s\n", qPrintable(dir.filePath(name)));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tolm-win-pictures PNGDIR OUTDIR\n");
        return 2;
    }
    const QDir in(QString::fromLocal8Bit(argv[1]));
    QDir out(QString::fromLocal8Bit(argv[2]));
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "tolm-win-pictures: cannot create %s\n", argv[2]);
        return 1;
    }
    for (const char* name : kProductPictures) {
        QImage image;
        if (!Load(in, QString("%1.png").arg(name), image)) return 1;
        if (!Write(out, QString("%1.bmp").arg(name), Bitmap24(image))) return 1;
    }

    QImage glyph;
    if (!Load(in, "Upgrade.png", glyph)) return 1;
    std::vector<QImage> glyphs;
    for (int scale : kButtonScales) {
        const int size = glyph.width() * scale / 100;
        glyphs.push_back(scale == 100 ? glyph
                                      : glyph.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    if (!Write(out, "Upgrade.ico", Icon(glyphs))) return 1;

    std::vector<QImage> icons;
    for (int size : kIconSizes) {
        QImage image;
        if (!Load(in, QString("icons/%1x%1/tolm-upgrade.png").arg(size), image)) return 1;
        icons.push_back(image);
    }
    if (!Write(out, "tolm-upgrade.ico", Icon(icons))) return 1;
    return 0;
}
