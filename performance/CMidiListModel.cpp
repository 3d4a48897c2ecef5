#include "performance/CMidiListModel.h"

#include <cstddef>

namespace performance {

CMidiListModel::CMidiListModel(QObject* parent) : QAbstractTableModel(parent) {}

int CMidiListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CMidiListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kMidiListColumnCount;
}

QVariant CMidiListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return m_rows[static_cast<std::size_t>(index.row())]
                         [static_cast<std::size_t>(index.column())];
        case Qt::ForegroundRole:
            return RowColor(index.row());
        case Qt::BackgroundRole:
            return QColor(Qt::black);
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        default:
            return {};
    }
}

QVariant CMidiListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kMidiListColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        const std::string_view heading = kMidiListHeadings[static_cast<std::size_t>(section)];
        return QString::fromLatin1(heading.data(), static_cast<qsizetype>(heading.size()));
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    return {};
}

Qt::ItemFlags CMidiListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void CMidiListModel::InsertTopRows(const std::vector<MidiRowTexts>& rows) {
    if (rows.empty()) {
        return;
    }
    beginInsertRows({}, 0, static_cast<int>(rows.size()) - 1);
    for (const MidiRowTexts& row : rows) {
        m_rows.push_front(row);
    }
    endInsertRows();
}

bool CMidiListModel::SetTopCell(int column, const QString& text) {
    if (m_rows.empty() || column < 0 || column >= kMidiListColumnCount) {
        return false;
    }
    m_rows.front()[static_cast<std::size_t>(column)] = text;
    // The source cell colours the whole row.
    const bool wholeRow = column == static_cast<int>(MidiListColumn::Source);
    emit dataChanged(index(0, wholeRow ? 0 : column), index(0, column));
    return true;
}

void CMidiListModel::DeleteAllItems() {
    if (m_rows.empty()) {
        return;
    }
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

QColor CMidiListModel::RowColor(int row) const {
    if (row < 0 || row >= rowCount()) {
        return SourceColor(0);
    }
    const auto& cells = m_rows[static_cast<std::size_t>(row)];
    return SourceColor(SourceTagOfText(cells[static_cast<std::size_t>(MidiListColumn::Source)]));
}

}  // namespace performance
