#include "app/WindowPlacement.h"

#include <algorithm>

namespace app {

namespace {

// One axis: centred, then pulled back inside [low, low + span), the near edge winning.
int PlaceAxis(int length, int low, int span) {
    const int centred = low + (span - length) / 2;
    const int farthest = low + span - length;
    return std::max(low, std::min(centred, farthest));
}

}  // namespace

QPoint CentredPlacement(QSize size, const QRect& available) {
    return {PlaceAxis(size.width(), available.left(), available.width()),
            PlaceAxis(size.height(), available.top(), available.height())};
}

}  // namespace app
