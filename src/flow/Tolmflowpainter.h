#pragma once
// Painting of a flow diagram with QPainter: grid, unions, links and nodes
// (fill or gradient, picture, text in its layout, border). Used by the widget
// and for rendering a diagram to an image without a display.
#include <QImage>

#include "flow/Tolmflow.h"

class QPainter;

namespace tolm {

// From (0,0) to the furthest right and bottom edge of the visible nodes,
// links and unions.
TFlowRect DiagramExtent(const TTolmFlow& flow);

// Paints the diagram's surface within area (surface pixels = painter units).
void PaintTolmFlow(QPainter& painter, const TTolmFlow& flow, const QRect& area);

// The diagram as an image of its extent plus margin pixels on the right and
// at the bottom.
QImage RenderTolmFlow(const TTolmFlow& flow, int margin = 10);

}  // namespace tolm
