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

    m_applyTimer.setSingleShot(true);
    m_applyTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_applyTimer, &QTimer::timeout, this, &CMidiListCtrl::ApplyPendingCells);
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
    // Posting never blocks on the GUI thread. The GUI thread applies cells strictly in queue
    // order, so a row is complete before the next one goes in above it.
    QMetaObject::invokeMethod(this, &CMidiListCtrl::OnCellQueued, Qt::QueuedConnection);
}

void CMidiListCtrl::OnCellQueued() {
    if (m_applyTimer.isActive()) {
        return;
    }
    const auto interval = kApplyInterval.count();
    if (m_sinceApply.isValid() && m_sinceApply.elapsed() < interval) {
        m_applyTimer.start(static_cast<int>(interval - m_sinceApply.elapsed()));
        return;
    }
    ApplyPendingCells();
}

void CMidiListCtrl::ApplyPendingCells() {
    Q_ASSERT(QThread::currentThread() == thread());
    m_applyTimer.stop();
    m_sinceApply.start();
    std::deque<PendingCell> cells;
    {
        const PerformanceGuard guard(PerformanceLock());
        cells.swap(m_pendingCells);
    }
    if (cells.empty()) {
        return;
    }
    // Rows inserted since the last clear, oldest first, go to the model in one insertion.
    std::vector<MidiRowTexts> rows;
    auto insertRows = [&] {
        m_model->InsertTopRows(rows);
        rows.clear();
    };
    for (PendingCell& cell : cells) {
        switch (cell.kind) {
            case PendingCell::Kind::DeleteAll:
                insertRows();
                m_model->DeleteAllItems();
                break;
            case PendingCell::Kind::Insert:
                rows.emplace_back()[0] = std::move(cell.text);
                break;
            case PendingCell::Kind::Set:
                if (rows.empty()) {
                    // The row went in with an earlier turn; if the list was emptied since,
                    // there is nothing to set.
                    m_model->SetTopCell(cell.column, cell.text);
                } else {
                    rows.back()[static_cast<std::size_t>(cell.column)] = std::move(cell.text);
                }
                break;
        }
    }
    insertRows();
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
