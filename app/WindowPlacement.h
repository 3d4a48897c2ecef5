#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace app {

// Top-left corner for a window of `size` centred in `available` (a screen's area without its
// panels). A window larger than the area keeps its top-left corner inside it, so its title and
// menu bar stay reachable; the rest runs off the right or bottom edge.
QPoint CentredPlacement(QSize size, const QRect& available);

// Top-left corner for a window whose frame is `frame` after a resize: where it is, moved up or
// left only as far as needed to bring its far edges inside `available`. A window larger than
// the area keeps its top-left corner inside it.
QPoint KeptInside(const QRect& frame, const QRect& available);

}  // namespace app
