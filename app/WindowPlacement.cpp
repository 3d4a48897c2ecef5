#include "app/WindowPlacement.h"

#include <algorithm>

namespace app {

namespace {

// One axis: `position` pulled back inside [low, low + span), the near edge winning.
int KeepAxis(int position, int length, int low, int span) {
    const int farthest = low + span - length;
    return std::max(low, std::min(position, farthest));
}

int PlaceAxis(int length, int low, int span) {
    return KeepAxis(low + (span - length) / 2, length, low, span);
}

}  // namespace

QPoint CentredPlacement(QSize size, const QRect& available) {
    return {PlaceAxis(size.width(), available.left(), available.width()),
            PlaceAxis(size.height(), available.top(), available.height())};
}

QPoint KeptInside(const QRect& frame, const QRect& available) {
    return {KeepAxis(frame.left(), frame.width(), available.left(), available.width()),
            KeepAxis(frame.top(), frame.height(), available.top(), available.height())};
}

}  // namespace app
