// Build tool: draws the window's product pictures and the "Upgrade" button's
// picture as PNG files, and writes the resource list that bundles them.
//
//   tolm-draw-pictures OUTDIR
//
// Every picture is drawn here from simple shapes, so the program ships no
// image from elsewhere. Product pictures are 100 x 100, the button's 36 x 36.
// The program's desktop icon is the button's picture on a rounded tile, in
// the sizes of the icon theme: OUTDIR/icons/NxN/tolm-upgrade.png.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QColor kOutline(0x2b, 0x2f, 0x36);
const QColor kGlass(0xc0, 0x39, 0x2b);

struct ScannerLook {
    QColor body;
    QColor accent;       // trigger and nose bumper
    bool cable = true;   // corded models trail a cable from the handle
    bool wireless = false;
    bool grip = false;   // ribbed grip on the handle
    bool bumper = false; // rubber bumper round the nose
    bool display = false;  // small status window on top of the head
};

QPainterPath Polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    bool first = true;
    for (const QPointF& p : points) {
        if (first)
            path.moveTo(p);
        else
            path.lineTo(p);
        first = false;
    }
    path.closeSubpath();
    return path;
}

void Background(QPainter& p, int size) {
    QLinearGradient sky(0, 0, 0, size);
    sky.setColorAt(0, QColor(0xfb, 0xfc, 0xfe));
    sky.setColorAt(1, QColor(0xe3, 0xe8, 0xef));
    p.fillRect(QRectF(0, 0, size, size), sky);
}

QBrush Shaded(const QColor& base, QRectF box) {
    QLinearGradient g(box.topLeft(), box.bottomLeft());
    g.setColorAt(0, base.lighter(135));
    g.setColorAt(1, base.darker(115));
    return g;
}

// A gun-style handheld scanner facing left, in a 100 x 100 box.
void DrawHandheldScanner(QPainter& p, const ScannerLook& look) {
    p.save();
    QPen pen(kOutline, 1.6);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);

    if (look.cable) {
        QPainterPath cable;
        cable.moveTo(71, 88);
        cable.cubicTo(74, 97, 88, 96, 95, 84);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kOutline, 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawPath(cable);
        p.setPen(pen);
    }

    // Laser fan leaving the scan window.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe7, 0x4c, 0x3c, 70));
    p.drawPath(Polygon({{11, 33}, {0, 22}, {0, 46}}));
    p.setPen(pen);

    // Trigger, behind the handle.
    QPainterPath trigger;
    trigger.moveTo(47, 44);
    trigger.cubicTo(42, 52, 45, 60, 52, 62);
    trigger.lineTo(55, 47);
    trigger.closeSubpath();
    p.setBrush(look.accent);
    p.drawPath(trigger);

    // Handle.
    QPainterPath handle = Polygon({{50, 42}, {75, 40}, {82, 86}, {80, 90}, {64, 92}, {60, 89}});
    p.setBrush(Shaded(look.body.darker(110), handle.boundingRect()));
    p.drawPath(handle);
    if (look.grip) {
        p.setPen(QPen(look.body.darker(160), 1.2));
        for (int i = 0; i < 5; ++i) p.drawLine(QPointF(63 + i * 0.9, 56 + i * 6), QPointF(75 + i * 0.9, 55 + i * 6));
        p.setPen(pen);
    }

    // Head: taller at the nose, tapering to the back.
    QPainterPath head = Polygon({{10, 20}, {18, 17}, {86, 21}, {92, 26}, {91, 41}, {86, 46}, {18, 49}, {10, 46}});
    p.setBrush(Shaded(look.body, head.boundingRect()));
    p.drawPath(head);

    // Highlight along the top of the head.
    p.setPen(QPen(QColor(255, 255, 255, 150), 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(22, 21), QPointF(82, 24));
    p.setPen(pen);

    // Scan window at the nose.
    p.setBrush(kGlass);
    p.drawPath(Polygon({{10, 22}, {15, 21}, {15, 46}, {10, 45}}));
    if (look.bumper) {
        p.setBrush(look.accent);
        p.drawPath(Polygon({{15, 17.5}, {22, 17}, {22, 49}, {15, 48.5}}));
    }

    if (look.display) {
        p.setBrush(QColor(0x9f, 0xd8, 0xa8));
        p.drawRoundedRect(QRectF(54, 26, 22, 10), 2, 2);
    } else {
        // Status light.
        p.setBrush(QColor(0x2e, 0xcc, 0x71));
        p.drawEllipse(QPointF(74, 30), 2.6, 2.6);
    }

    if (look.wireless) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(look.accent, 2.0, Qt::SolidLine, Qt::RoundCap));
        for (int r = 6; r <= 14; r += 4) p.drawArc(QRectF(88 - r, 14 - r, 2 * r, 2 * r), 0 * 16, 90 * 16);
    }
    p.restore();
}

// A charging and communication dock seen from the front, in a 100 x 100 box.
void DrawDock(QPainter& p, const QColor& body) {
    p.save();
    QPen pen(kOutline, 1.6);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    QPainterPath base = Polygon({{8, 92}, {14, 62}, {86, 62}, {92, 92}});
    p.setBrush(Shaded(body, base.boundingRect()));
    p.drawPath(base);
    // The cradle's slot for the scanner's handle.
    p.setBrush(QColor(0x1f, 0x23, 0x29));
    p.drawPath(Polygon({{38, 64}, {62, 64}, {60, 72}, {40, 72}}));
    // Front strip with charge and link lights.
    p.setBrush(QColor(0x3a, 0x40, 0x4a));
    p.drawRoundedRect(QRectF(22, 78, 56, 8), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2e, 0xcc, 0x71));
    p.drawEllipse(QPointF(32, 82), 2.4, 2.4);
    p.setBrush(QColor(0xf3, 0x9c, 0x12));
    p.drawEllipse(QPointF(42, 82), 2.4, 2.4);
    p.setBrush(QColor(0x34, 0x98, 0xdb));
    p.drawEllipse(QPointF(52, 82), 2.4, 2.4);
    p.restore();
}

const ScannerLook kTidScanner{QColor(0x3b, 0x3f, 0x46), QColor(0xf1, 0xc4, 0x0f), false, true, true, true, false};

// A handheld terminal: a screen above a keypad, in a 100 x 100 box.
void DrawTerminal(QPainter& p, bool keypadHeavy) {
    p.save();
    QPen pen(kOutline, 1.6);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    const QRectF body = keypadHeavy ? QRectF(30, 6, 40, 88) : QRectF(24, 8, 52, 84);
    const QColor shell = keypadHeavy ? QColor(0x5d, 0x6d, 0x7e) : QColor(0xec, 0xf0, 0xf1);
    p.setBrush(Shaded(shell, body));
    p.drawRoundedRect(body, 8, 8);

    // Scan window on the top edge.
    p.setBrush(kGlass);
    p.drawRoundedRect(QRectF(body.center().x() - 8, body.top() - 2, 16, 4), 1.5, 1.5);

    if (keypadHeavy) {
        // Monochrome screen and a full keypad.
        p.setBrush(QColor(0xa9, 0xd1, 0x8e));
        p.drawRoundedRect(QRectF(35, 14, 30, 26), 2, 2);
        p.setPen(QPen(QColor(0x3c, 0x5a, 0x2a), 1.2));
        for (int line = 0; line < 4; ++line) p.drawLine(QPointF(38, 19 + line * 5), QPointF(54 + (line % 2) * 7, 19 + line * 5));
        p.setPen(pen);
        p.setBrush(QColor(0xec, 0xf0, 0xf1));
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col) p.drawRoundedRect(QRectF(36 + col * 10, 45 + row * 9, 8, 6), 1.5, 1.5);
        p.setBrush(QColor(0x27, 0xae, 0x60));
        p.drawRoundedRect(QRectF(36, 45 + 5 * 9, 28, 3), 1, 1);
    } else {
        // Large colour screen with a few keys and a navigation pad.
        QLinearGradient screen(0, 16, 0, 62);
        screen.setColorAt(0, QColor(0x5d, 0xad, 0xe2));
        screen.setColorAt(1, QColor(0x1f, 0x61, 0x8d));
        p.setBrush(screen);
        p.drawRoundedRect(QRectF(30, 16, 40, 46), 3, 3);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 170));
        for (int i = 0; i < 3; ++i) p.drawRoundedRect(QRectF(34 + i * 12, 22, 8, 8), 2, 2);
        p.drawRoundedRect(QRectF(34, 36, 32, 3), 1, 1);
        p.drawRoundedRect(QRectF(34, 43, 24, 3), 1, 1);
        p.setPen(pen);
        p.setBrush(QColor(0x95, 0xa5, 0xa6));
        p.drawEllipse(QPointF(50, 76), 8, 8);
        p.setBrush(QColor(0xec, 0xf0, 0xf1));
        p.drawEllipse(QPointF(50, 76), 3, 3);
        p.setBrush(QColor(0xe7, 0x4c, 0x3c));
        p.drawRoundedRect(QRectF(29, 72, 9, 7), 2, 2);
        p.setBrush(QColor(0x27, 0xae, 0x60));
        p.drawRoundedRect(QRectF(62, 72, 9, 7), 2, 2);
    }
    p.restore();
}

// The button's picture: a device with an arrow going up into it.
void DrawUpgradeGlyph(QPainter& p) {
    p.save();
    QPen pen(kOutline, 1.4);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Shaded(QColor(0x5d, 0x6d, 0x7e), QRectF(3, 20, 30, 13)));
    p.drawRoundedRect(QRectF(3, 21, 30, 12), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2e, 0xcc, 0x71));
    p.drawEllipse(QPointF(27, 27), 2, 2);
    p.setPen(pen);
    p.setBrush(Shaded(QColor(0x27, 0xae, 0x60), QRectF(8, 2, 20, 22)));
    p.drawPath(Polygon({{18, 2}, {30, 13}, {23, 13}, {23, 24}, {13, 24}, {13, 13}, {6, 13}}));
    p.restore();
}

struct Picture {
    const char* name;
    int size;
    std::function<void(QPainter&)> draw;
};

std::vector<Picture> Pictures() {
    const auto scanner = [](ScannerLook look) {
        return [look](QPainter& p) { DrawHandheldScanner(p, look); };
    };
    return {
        {"R_1100", 100, scanner({QColor(0x34, 0x6d, 0xa8), QColor(0x2b, 0x2f, 0x36), true, false, false, false, false})},
        {"R_1200", 100, scanner({QColor(0x23, 0x8b, 0x7a), QColor(0x2b, 0x2f, 0x36), true, false, true, false, false})},
        {"R_1400", 100, scanner({QColor(0x4a, 0x4f, 0x57), QColor(0xe6, 0x7e, 0x22), true, false, true, true, false})},
        {"W_500", 100, scanner({QColor(0x6c, 0x5c, 0xa8), QColor(0x34, 0x98, 0xdb), false, true, false, false, false})},
        {"R_1900S", 100, scanner(kTidScanner)},
        {"R_1900D", 100, [](QPainter& p) { DrawDock(p, QColor(0x3b, 0x3f, 0x46)); }},
        {"R_1900", 100,
         [](QPainter& p) {
             // The scanner stands in its dock, handle down in the slot.
             p.save();
             p.translate(50, 55);
             p.scale(0.7, 0.7);
             p.translate(-68, -70);
             DrawHandheldScanner(p, kTidScanner);
             p.restore();
             DrawDock(p, QColor(0x3b, 0x3f, 0x46));
         }},
        {"KV4100", 100, [](QPainter& p) { DrawTerminal(p, true); }},
        {"Quorin", 100, [](QPainter& p) { DrawTerminal(p, false); }},
        {"Upgrade", 36, DrawUpgradeGlyph},
    };
}

constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

bool WriteIcons(const QDir& out) {
    for (int size : kIconSizes) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 36.0, size / 36.0);
        QLinearGradient tile(0, 0, 0, 36);
        tile.setColorAt(0, QColor(0xfb, 0xfc, 0xfe));
        tile.setColorAt(1, QColor(0xd5, 0xdc, 0xe6));
        p.setPen(QPen(QColor(0x9a, 0xa5, 0xb1), 0.8));
        p.setBrush(tile);
        p.drawRoundedRect(QRectF(0.5, 0.5, 35, 35), 6, 6);
        p.translate(3.6, 3.6);
        p.scale(0.8, 0.8);
        DrawUpgradeGlyph(p);
        p.end();
        const QString dir = QString("icons/%1x%1").arg(size);
        if (!out.mkpath(dir) || !image.save(out.filePath(dir + "/tolm-upgrade.png"), "PNG")) return false;
    }
    return true;
}

bool WriteResourceList(const QDir& out, const std::vector<Picture>& pictures) {
    QFile qrc(out.filePath("pictures.qrc"));
    if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    QTextStream s(&qrc);
    s << "<RCC>\n  <qresource prefix=\"/pictures\">\n";
    for (const Picture& pic : pictures) s << "    <file>" << pic.name << ".png</file>\n";
    s << "  </qresource>\n</RCC>\n";
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tolm-draw-pictures OUTDIR\n");
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "tolm-draw-pictures: cannot create %s\n", argv[1]);
        return 1;
    }
    const std::vector<Picture> pictures = Pictures();
    for (const Picture& pic : pictures) {
        QImage image(pic.size, pic.size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        // Product pictures fill their panel; the button's picture sits on the button's face.
        if (pic.size == 100) Background(painter, pic.size);
        pic.draw(painter);
        painter.end();
        const QString file = out.filePath(QString::fromLatin1(pic.name) + ".png");
        if (!image.save(file, "PNG")) {
            std::fprintf(stderr, "tolm-draw-pictures: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    if (!WriteIcons(out)) {
        std::fprintf(stderr, "tolm-draw-pictures: cannot write the icons\n");
        return 1;
    }
    if (!WriteResourceList(out, pictures)) {
        std::fprintf(stderr, "tolm-draw-pictures: cannot write the resource list\n");
        return 1;
    }
    return 0;
}
