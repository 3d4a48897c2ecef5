#pragma once

#include <QStyledItemDelegate>

namespace performance {

// Paints the message list's cells and, on the velocity column, a 35-pixel outline in the row's
// colour around the bar glyphs, drawn after the text.
class CMidiListDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // Outline of the velocity frame inside a cell rectangle: from 4 to 38 pixels right of the
    // cell's left edge, one pixel inside its top and bottom.
    static QRect FrameRect(const QRect& cell);
};

}  // namespace performance
