#include "performance/CMidiListDelegate.h"

#include <QPainter>

#include "performance/MidiListTexts.h"

namespace performance {

namespace {

constexpr int kFrameLeft = 4;
constexpr int kFrameWidth = 35;

}  // namespace

QRect CMidiListDelegate::FrameRect(const QRect& cell) {
    return QRect(cell.left() + kFrameLeft, cell.top() + 1, kFrameWidth, cell.height() - 2);
}

void CMidiListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    if (index.column() != static_cast<int>(MidiListColumn::Velocity)) {
        return;
    }
    const QRect frame = FrameRect(option.rect);
    if (frame.width() <= 0 || frame.height() <= 0) {
        return;
    }
    const QColor colour = index.data(Qt::ForegroundRole).value<QColor>();
    // Four one-pixel edges: exact pixels whatever the painter's pen and antialiasing settings.
    painter->save();
    painter->fillRect(QRect(frame.left(), frame.top(), frame.width(), 1), colour);
    painter->fillRect(QRect(frame.left(), frame.bottom(), frame.width(), 1), colour);
    painter->fillRect(QRect(frame.left(), frame.top(), 1, frame.height()), colour);
    painter->fillRect(QRect(frame.right(), frame.top(), 1, frame.height()), colour);
    painter->restore();
}

}  // namespace performance
