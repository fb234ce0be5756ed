// Paints a display list with a QPainter: one transform from drawing to
// device coordinates, cosmetic pens one pixel wide at any zoom.
#pragma once

#include <QRectF>
#include <QTransform>

#include "draw/display_list.h"

class QPainter;

namespace tarnwick {

// The transform that fits `extent` into `target` with the aspect kept and
// drawing y pointing up.
QTransform FitTransform(const draw::Extent& extent, const QRectF& target);

// Paints every primitive of `list` through `toDevice`.
void PaintDisplayList(QPainter& painter, const draw::DisplayList& list, const QTransform& toDevice);

}  // namespace tarnwick
