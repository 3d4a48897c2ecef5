#pragma once

#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "performance/MidiListTexts.h"

namespace performance {

class CMidiListModel;

// The running list of notes played, newest row on top, coloured by the note's source.
// AddMessage may be called on any thread: it only queues the row's cells under the performance
// lock and posts one queued call per cell to the GUI thread, which applies the cells in queue
// order. Everything else runs on the GUI thread.
class CMidiListCtrl : public QTableView {
    Q_OBJECT

public:
    // Rows kept before the list empties itself: the row after the 1001st starts a new list.
    static constexpr std::uint32_t kMaxRowsBeforeClear = 1000;
    static constexpr int kColumnWidth = 130;
    // Shortest time between two applications of queued cells: each one repaints the list, so
    // a fast stream of rows is shown at most about 60 times a second. A row after a pause
    // shows at once.
    static constexpr std::chrono::milliseconds kApplyInterval{16};

    explicit CMidiListCtrl(QWidget* parent = nullptr);
    ~CMidiListCtrl() override;

    // Any thread. Queues one row (note, velocity, source tag) for the GUI thread; never waits
    // for it. Returns TRUE.
    BOOL AddMessage(BYTE note, BYTE velocity, int source);

    // GUI thread. Empties the list at once; cells still queued are applied afterwards. Leaves
    // the row counter as it is.
    void DeleteAllItems();

    // GUI thread. Applies every cell queued so far, oldest first, with the rows that arrived
    // together inserted in one step.
    void ApplyPendingCells();

    // GUI thread: the rows shown.
    int GetItemCount() const;
    QString GetItemText(int item, int subItem) const;
    QColor GetItemColor(int item) const;

    // Any thread: cells queued and not yet applied.
    std::size_t GetPendingCount() const;

private:
    struct PendingCell {
        enum class Kind { DeleteAll, Insert, Set };
        Kind kind = Kind::Set;
        int column = 0;
        QString text;
    };

    void QueueCell(PendingCell cell);
    // Target of the queued call that AddMessage posts per cell: applies the queue now, or arms
    // the timer when the last application was less than kApplyInterval ago.
    void OnCellQueued();

    CMidiListModel* m_model;  // owned through Qt parenting
    // Guarded by the performance lock.
    std::deque<PendingCell> m_pendingCells;
    // Rows added since the last automatic clear; guarded by the performance lock.
    std::uint32_t m_rowCounter = 0;
    // GUI thread: when the queue was last applied, and the timer of a deferred application.
    QElapsedTimer m_sinceApply;
    QTimer m_applyTimer;
};

}  // namespace performance
