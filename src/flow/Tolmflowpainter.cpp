#include "flow/Tolmflowpainter.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include <algorithm>
#include <cmath>

namespace tolm {

namespace {

QColor ToQColor(TColor c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

QRect ToQRect(const TFlowRect& r) {
    return QRect(QPoint(std::min(r.Left, r.Right), std::min(r.Top, r.Bottom)),
                 QPoint(std::max(r.Left, r.Right) - 1, std::max(r.Top, r.Bottom) - 1));
}

// The rectangle a union shows: around its members now, or the stored one.
TFlowRect UnionRect(const TTolmFlow_Union& u) {
    if (std::optional<TFlowRect> r = u.MemberBounds()) return *r;
    return {u.Left(), u.Top(), u.Left() + u.Width(), u.Top() + u.Height()};
}

// Shape numbers: 2 rounded box, 3 ellipse, 4 diamond; 1 and every other
// number a plain box.
QPainterPath ShapePath(int shape, const QRectF& r) {
    QPainterPath path;
    switch (shape) {
    case 2:
        path.addRoundedRect(r, std::min(r.width(), r.height()) / 5, std::min(r.width(), r.height()) / 5);
        break;
    case 3:
        path.addEllipse(r);
        break;
    case 4: {
        QPolygonF diamond;
        diamond << QPointF(r.center().x(), r.top()) << QPointF(r.right(), r.center().y())
                << QPointF(r.center().x(), r.bottom()) << QPointF(r.left(), r.center().y());
        path.addPolygon(diamond);
        path.closeSubpath();
        break;
    }
    default:
        path.addRect(r);
        break;
    }
    return path;
}

Qt::Alignment LayoutAlignment(TLayout layout) {
    const int n = static_cast<int>(layout);
    Qt::Alignment horizontal = n < 3 ? Qt::AlignLeft : n < 6 ? Qt::AlignRight : Qt::AlignHCenter;
    Qt::Alignment vertical = (n % 3 == 0) ? Qt::AlignTop : (n % 3 == 1) ? Qt::AlignVCenter : Qt::AlignBottom;
    return horizontal | vertical;
}

QImage PictureImage(const TFlowPicture& picture) {
    QImage image(picture.Width(), picture.Height(), QImage::Format_ARGB32);
    for (int y = 0; y < picture.Height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < picture.Width(); ++x) {
            const TColor c = picture.Pixel(x, y);
            const bool clear = picture.Transparent && c == picture.TransparentColor;
            row[x] = qRgba(RedOf(c), GreenOf(c), BlueOf(c), clear ? 0 : 255);
        }
    }
    return image;
}

void PaintGrid(QPainter& p, const TTolmFlow& flow, const QRect& area) {
    if (!flow.ShowGrid() || flow.GridStyle() == TGridStyle::gsNull) return;
    const int dx = flow.xGrid(), dy = flow.yGrid();
    if (dx <= 0 || dy <= 0) return;
    const int x0 = area.left() - area.left() % dx, y0 = area.top() - area.top() % dy;
    QPen pen(ToQColor(flow.GridColor()));
    pen.setWidth(0);
    switch (flow.GridStyle()) {
    case TGridStyle::gsPixels:
        p.setPen(pen);
        for (int y = y0; y <= area.bottom(); y += dy)
            for (int x = x0; x <= area.right(); x += dx) p.drawPoint(x, y);
        break;
    case TGridStyle::gsLines:
    case TGridStyle::gsDotted_Lines:
        pen.setStyle(flow.GridStyle() == TGridStyle::gsLines ? Qt::SolidLine : Qt::DotLine);
        p.setPen(pen);
        for (int x = x0; x <= area.right(); x += dx) p.drawLine(x, area.top(), x, area.bottom());
        for (int y = y0; y <= area.bottom(); y += dy) p.drawLine(area.left(), y, area.right(), y);
        break;
    case TGridStyle::gsNull:
        break;
    }
}

void PaintUnion(QPainter& p, const TTolmFlow_Union& u) {
    if (!u.Visible()) return;
    if (u.AtNodeObjects_Count() == 0 && u.AtLinkObjects_Count() == 0 && u.Width() == 0 && u.Height() == 0) return;
    QPen pen(u.Select() ? QColor(0, 0, 255) : QColor(96, 96, 96));
    pen.setStyle(Qt::DashLine);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(ToQRect(UnionRect(u)).adjusted(-4, -4, 4, 4)).adjusted(0.5, 0.5, -0.5, -0.5));
}

void PaintLink(QPainter& p, const TTolmFlow_Link& link) {
    if (!link.Visible() || link.DrawPoints().size() < 2) return;
    QPolygon line;
    for (const TFlowPoint& pt : link.DrawPoints()) line << QPoint(pt.X, pt.Y);
    const QColor color = link.Select() ? QColor(0, 0, 255) : QColor(0, 0, 0);
    p.setPen(QPen(color, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(line);

    // An arrow head on the last segment shows the direction.
    const QPointF tip = line.last();
    const QPointF from = line.at(line.size() - 2);
    const double angle = std::atan2(tip.y() - from.y(), tip.x() - from.x());
    const double len = 9, spread = 0.4;
    QPolygonF head;
    head << tip << tip - QPointF(len * std::cos(angle - spread), len * std::sin(angle - spread))
         << tip - QPointF(len * std::cos(angle + spread), len * std::sin(angle + spread));
    p.setBrush(color);
    p.drawPolygon(head);

    if (link.Select()) {
        p.setBrush(color);
        for (const TFlowPoint& pt : link.Points()) p.drawRect(pt.X - 2, pt.Y - 2, 4, 4);
    }
}

void PaintFill(QPainter& p, const TTolmFlow_Node& node, const QPainterPath& path, const QRectF& r) {
    if (node.Transparent()) return;
    const QColor begin = ToQColor(node.BeginColor()), end = ToQColor(node.EndColor());
    if (node.BeginColor() == node.EndColor()) {
        p.fillPath(path, ToQColor(node.BackColor()));
        return;
    }
    QLinearGradient g;
    switch (node.GradientStyle()) {
    case TGradientStyle::gsHorizontal:
        g = QLinearGradient(r.topLeft(), r.topRight());
        break;
    case TGradientStyle::gsVertical:
        g = QLinearGradient(r.topLeft(), r.bottomLeft());
        break;
    case TGradientStyle::gsVertCenter:
        g = QLinearGradient(r.topLeft(), r.bottomLeft());
        g.setColorAt(0.5, end);
        g.setColorAt(1, begin);
        break;
    case TGradientStyle::gsHorizCenter:
        g = QLinearGradient(r.topLeft(), r.topRight());
        g.setColorAt(0.5, end);
        g.setColorAt(1, begin);
        break;
    case TGradientStyle::gsRectangle: {
        // Nested rectangles from the border (begin) to the centre (end).
        p.save();
        p.setClipPath(path, Qt::IntersectClip);
        const int steps = std::max(1, static_cast<int>(std::min(r.width(), r.height()) / 2));
        for (int i = 0; i < steps; ++i) {
            const double t = static_cast<double>(i) / steps;
            QColor c = QColor::fromRgbF(begin.redF() + (end.redF() - begin.redF()) * t,
                                        begin.greenF() + (end.greenF() - begin.greenF()) * t,
                                        begin.blueF() + (end.blueF() - begin.blueF()) * t);
            p.fillRect(r.adjusted(i, i, -i, -i), c);
        }
        p.restore();
        return;
    }
    }
    g.setColorAt(0, begin);
    if (node.GradientStyle() == TGradientStyle::gsHorizontal || node.GradientStyle() == TGradientStyle::gsVertical)
        g.setColorAt(1, end);
    p.fillPath(path, g);
}

void PaintPicture(QPainter& p, const TTolmFlow_Node& node, const QPainterPath& path, const QRect& r) {
    if (node.Image().Empty()) return;
    const QImage image = PictureImage(node.Image());
    const Qt::Alignment a = LayoutAlignment(node.Image_Layout());
    int x = r.left() + (r.width() - image.width()) / 2;
    int y = r.top() + (r.height() - image.height()) / 2;
    if (a & Qt::AlignLeft) x = r.left() + 2;
    if (a & Qt::AlignRight) x = r.right() - 1 - image.width();
    if (a & Qt::AlignTop) y = r.top() + 2;
    if (a & Qt::AlignBottom) y = r.bottom() - 1 - image.height();
    p.save();
    p.setClipPath(path, Qt::IntersectClip);
    p.drawImage(x, y, image);
    p.restore();
}

// The node's text is bytes in the diagram's code page.
void PaintText(QPainter& p, const TTolmFlow& flow, const TTolmFlow_Node& node, const QRect& r) {
    if (node.Lines().empty()) return;
    QStringList lines;
    for (const std::string& line : node.Lines()) lines << QString::fromStdString(flow.DecodeText(line));
    const TFlowFont& f = node.Font();
    QFont font(QString::fromStdString(flow.DecodeText(f.Name)));
    font.setPointSize(std::max(1, f.Size));
    font.setBold(f.Style.Bold);
    font.setItalic(f.Style.Italic);
    font.setUnderline(f.Style.Underline);
    font.setStrikeOut(f.Style.StrikeOut);
    p.setFont(font);
    p.setPen(ToQColor(f.Color));
    p.drawText(r.adjusted(3, 3, -3, -3), static_cast<int>(LayoutAlignment(node.Text_Layout())) | Qt::TextDontClip,
               lines.join('\n'));
}

void PaintNode(QPainter& p, const TTolmFlow& flow, const TTolmFlow_Node& node) {
    if (!node.Visible()) return;
    const QRect r = ToQRect(node.DisplayRect());
    // Through the centres of the outermost pixels, so that a one-pixel
    // border is sharp and lies inside the node.
    const QRectF rf = QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath path = ShapePath(node.Shape(), rf);

    PaintFill(p, node, path, rf);
    PaintPicture(p, node, path, r);
    PaintText(p, flow, node, r);
    if (node.LineWidth() > 0) {
        QPen pen(ToQColor(node.LineColor()), node.LineWidth());
        pen.setJoinStyle(Qt::MiterJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
    if (node.Select()) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0));
        for (QPoint c : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()})
            p.drawRect(c.x() - 2, c.y() - 2, 5, 5);
    }
}

}  // namespace

TFlowRect DiagramExtent(const TTolmFlow& flow) {
    TFlowRect extent;
    auto reach = [&extent](int x, int y) {
        extent.Right = std::max(extent.Right, x);
        extent.Bottom = std::max(extent.Bottom, y);
    };
    for (int i = 0; i < flow.ObjectNode_Count(); ++i) {
        const TTolmFlow_Node* n = flow.GetNodeAtIndex(i);
        if (!n->Visible()) continue;
        const TFlowRect r = n->DisplayRect();
        reach(std::max(r.Left, r.Right), std::max(r.Top, r.Bottom));
    }
    for (int i = 0; i < flow.ObjectLink_Count(); ++i) {
        const TTolmFlow_Link* l = flow.GetLinkAtIndex(i);
        if (!l->Visible()) continue;
        for (const TFlowPoint& pt : l->Points()) reach(pt.X, pt.Y);
    }
    for (int i = 0; i < flow.ObjectUnion_Count(); ++i) {
        const TTolmFlow_Union* u = flow.GetUnionAtIndex(i);
        if (!u->Visible()) continue;
        const TFlowRect r = UnionRect(*u);
        reach(std::max(r.Left, r.Right) + 4, std::max(r.Top, r.Bottom) + 4);  // the frame lies outside
    }
    return extent;
}

void PaintTolmFlow(QPainter& p, const TTolmFlow& flow, const QRect& area) {
    p.save();
    p.setClipRect(area);
    p.fillRect(area, ToQColor(flow.Color()));
    PaintGrid(p, flow, area);
    p.setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i < flow.ObjectUnion_Count(); ++i) PaintUnion(p, *flow.GetUnionAtIndex(i));
    for (int i = 0; i < flow.ObjectNode_Count(); ++i) PaintNode(p, flow, *flow.GetNodeAtIndex(i));
    for (int i = 0; i < flow.ObjectLink_Count(); ++i) PaintLink(p, *flow.GetLinkAtIndex(i));
    p.restore();
}

QImage RenderTolmFlow(const TTolmFlow& flow, int margin) {
    const TFlowRect extent = DiagramExtent(flow);
    const int width = std::max(1, extent.Right + margin);
    const int height = std::max(1, extent.Bottom + margin);
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    PaintTolmFlow(painter, flow, image.rect());
    painter.end();
    return image;
}

}  // namespace tolm
