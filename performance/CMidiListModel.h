#pragma once

#include <QAbstractTableModel>
#include <deque>
#include <vector>

#include "performance/MidiListTexts.h"

namespace performance {

// Rows of the message list, newest first. GUI thread only: CMidiListCtrl feeds it from its
// queue of pending cells.
class CMidiListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit CMidiListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Inserts complete rows, given oldest first, so that the last ends on top.
    void InsertTopRows(const std::vector<MidiRowTexts>& rows);
    // Sets one cell of the top row; returns false (and changes nothing) when there is no row.
    bool SetTopCell(int column, const QString& text);
    void DeleteAllItems();

    // Colour of a row, from its hidden source cell.
    QColor RowColor(int row) const;

private:
    std::deque<MidiRowTexts> m_rows;
};

}  // namespace performance
