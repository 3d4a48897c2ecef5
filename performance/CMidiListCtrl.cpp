#include "performance/CMidiListCtrl.h"

#include <QHeaderView>
#include <QThread>
#include <utility>

#include "performance/CMidiListDelegate.h"
#include "performance/CMidiListModel.h"
#include "performance/PerformanceLock.h"

namespace performance {

CMidiListCtrl::CMidiListCtrl(QWidget* parent)
    : QTableView(parent), m_model(new CMidiListModel(this)) {
    setModel(m_model);
    setItemDelegate(new CMidiListDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    verticalHeader()->hide();
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    for (int column = 0; column < kMidiListColumnCount; ++column) {
        setColumnWidth(column, kColumnWidth);
    }
    const int sourceColumn = static_cast<int>(MidiListColumn::Source);
    setColumnWidth(sourceColumn, 0);
    setColumnHidden(sourceColumn, true);

    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Window, Qt::black);
    setPalette(colours);
}

// The pending cells go with the deque; queued calls still in flight die with this object.
CMidiListCtrl::~CMidiListCtrl() = default;

BOOL CMidiListCtrl::AddMessage(BYTE note, BYTE velocity, int source) {
    MidiRowTexts texts = MakeMidiRowTexts(note, velocity, source);
    // One lock for the whole row so that rows of different producers never interleave.
    const PerformanceGuard guard(PerformanceLock());
    if (m_rowCounter > kMaxRowsBeforeClear) {
        QueueCell({PendingCell::Kind::DeleteAll, 0, {}});
        m_rowCounter = 0;
    }
    QueueCell({PendingCell::Kind::Insert, 0, std::move(texts[0])});
    for (int column = 1; column < kMidiListColumnCount; ++column) {
        QueueCell(
            {PendingCell::Kind::Set, column, std::move(texts[static_cast<std::size_t>(column)])});
    }
    ++m_rowCounter;
    return platform::music::TRUE;
}

void CMidiListCtrl::QueueCell(PendingCell cell) {
    m_pendingCells.push_back(std::move(cell));
    // Posting never blocks on the GUI thread; each call applies the oldest cell, so the order of
    // application is the order of the queue.
    QMetaObject::invokeMethod(this, &CMidiListCtrl::ApplyPendingCell, Qt::QueuedConnection);
}

void CMidiListCtrl::ApplyPendingCell() {
    Q_ASSERT(QThread::currentThread() == thread());
    PendingCell cell;
    {
        const PerformanceGuard guard(PerformanceLock());
        if (m_pendingCells.empty()) {
            return;
        }
        cell = std::move(m_pendingCells.front());
        m_pendingCells.pop_front();
    }
    switch (cell.kind) {
        case PendingCell::Kind::DeleteAll:
            m_model->DeleteAllItems();
            break;
        case PendingCell::Kind::Insert:
            m_model->InsertTopRow(cell.text);
            break;
        case PendingCell::Kind::Set:
            // The list may have been emptied since the row's insert: then there is nothing to set.
            m_model->SetTopCell(cell.column, cell.text);
            break;
    }
}

void CMidiListCtrl::DeleteAllItems() {
    Q_ASSERT(QThread::currentThread() == thread());
    m_model->DeleteAllItems();
}

int CMidiListCtrl::GetItemCount() const {
    return m_model->rowCount();
}

QString CMidiListCtrl::GetItemText(int item, int subItem) const {
    return m_model->index(item, subItem).data().toString();
}

QColor CMidiListCtrl::GetItemColor(int item) const {
    return m_model->RowColor(item);
}

std::size_t CMidiListCtrl::GetPendingCount() const {
    const PerformanceGuard guard(PerformanceLock());
    return m_pendingCells.size();
}

}  // namespace performance
