#include "performance/CMidiListCtrl.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPixmap>
#include <QTest>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "performance/CMidiListModel.h"

namespace performance {
namespace {

// Runs the GUI thread's event loop until the list has applied every pending cell (the queued
// calls, and the timer of an application deferred to keep the repaint rate down).
void Drain(const CMidiListCtrl& list) {
    while (list.GetPendingCount() != 0) {
        QCoreApplication::processEvents();
    }
    QCoreApplication::sendPostedEvents();
}

class MidiListTest : public testing::Test {
protected:
    std::unique_ptr<CMidiListCtrl> m_list = std::make_unique<CMidiListCtrl>();

    void AddRows(int count, int source = 1) {
        for (int i = 0; i < count; ++i) {
            m_list->AddMessage(static_cast<BYTE>(i % 128), 127, source);
        }
    }
};

TEST_F(MidiListTest, RowShowsTheCellTextsInTheSourceColourNewestOnTop) {
    struct RowCase {
        BYTE note;
        BYTE velocity;
        int source;
        QColor colour;
    };
    const RowCase cases[] = {
        {60, 127, 1, QColor(0, 255, 0)},     {0, 0, 2, QColor(255, 255, 0)},
        {127, 12, 3, QColor(127, 255, 255)}, {64, 100, 4, QColor(255, 128, 64)},
        {5, 50, 0, QColor(255, 0, 0)},       {6, 50, 9, QColor(255, 0, 0)},
    };
    for (const RowCase& c : cases) {
        m_list->AddMessage(c.note, c.velocity, c.source);
    }
    EXPECT_EQ(m_list->GetItemCount(), 0) << "rows appear only when the GUI thread applies them";
    Drain(*m_list);

    const int rows = static_cast<int>(std::size(cases));
    ASSERT_EQ(m_list->GetItemCount(), rows);
    for (int i = 0; i < rows; ++i) {
        const RowCase& c = cases[i];
        const int row = rows - 1 - i;
        SCOPED_TRACE(testing::Message() << "row " << row);
        const MidiRowTexts expected = MakeMidiRowTexts(c.note, c.velocity, c.source);
        for (int column = 0; column < kMidiListColumnCount; ++column) {
            EXPECT_EQ(m_list->GetItemText(row, column), expected[static_cast<std::size_t>(column)]);
            const QModelIndex index = m_list->model()->index(row, column);
            EXPECT_EQ(index.data(Qt::ForegroundRole).value<QColor>(), c.colour);
            EXPECT_EQ(index.data(Qt::BackgroundRole).value<QColor>(), QColor(Qt::black));
        }
        EXPECT_EQ(m_list->GetItemColor(row), c.colour);
    }
}

// The model tester checks the whole model on every change, so it is attached to a list that
// already holds 1001 rows: the next row then brings the automatic clear under its eyes.
TEST_F(MidiListTest, ModelKeepsItsContractThroughInsertsSetsAndClears) {
    AddRows(1001);
    Drain(*m_list);
    const QAbstractItemModelTester tester(m_list->model(),
                                          QAbstractItemModelTester::FailureReportingMode::Fatal);
    m_list->AddMessage(60, 127, 1);  // automatic clear, then one row
    Drain(*m_list);
    EXPECT_EQ(m_list->GetItemCount(), 1);

    m_list->AddMessage(61, 127, 2);
    m_list->DeleteAllItems();  // the pending row still comes afterwards
    m_list->AddMessage(62, 127, 3);
    Drain(*m_list);
    EXPECT_EQ(m_list->GetItemCount(), 2);
    m_list->DeleteAllItems();
    m_list->DeleteAllItems();
    EXPECT_EQ(m_list->GetItemCount(), 0);
}

TEST(MidiListModel, RowWithEmptyOrNonNumericSourceCellIsRed) {
    CMidiListModel model;
    model.InsertTopRows({MidiRowTexts{"1"}});
    EXPECT_EQ(model.RowColor(0), QColor(255, 0, 0)) << "empty source cell";
    ASSERT_TRUE(model.SetTopCell(5, "abc"));
    EXPECT_EQ(model.index(0, 2).data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    ASSERT_TRUE(model.SetTopCell(5, "3"));
    EXPECT_EQ(model.index(0, 2).data(Qt::ForegroundRole).value<QColor>(), QColor(127, 255, 255));
}

TEST_F(MidiListTest, ListEmptiesItselfOnTheRowAfterThe1001st) {
    AddRows(1001);
    Drain(*m_list);
    EXPECT_EQ(m_list->GetItemCount(), 1001);

    m_list->AddMessage(77, 127, 4);
    Drain(*m_list);
    ASSERT_EQ(m_list->GetItemCount(), 1);
    EXPECT_EQ(m_list->GetItemText(0, 3), "77");
    EXPECT_EQ(m_list->GetItemText(0, 5), "4");

    // The counter restarted with that row: 1000 more fit before the next clear.
    AddRows(1000);
    Drain(*m_list);
    EXPECT_EQ(m_list->GetItemCount(), 1001);
}

TEST_F(MidiListTest, AutomaticClearQueuedInOneBurstStillLeavesOnlyTheNewRows) {
    // Nothing applied in between: the clear sits in the queue between row 1001 and row 1002.
    AddRows(1003);
    Drain(*m_list);
    EXPECT_EQ(m_list->GetItemCount(), 2);
}

TEST_F(MidiListTest, ClearButtonKeepsTheCounterSoTheAutomaticClearComesSooner) {
    AddRows(600);
    Drain(*m_list);
    m_list->DeleteAllItems();
    EXPECT_EQ(m_list->GetItemCount(), 0);

    AddRows(401);  // counter now 1001, 401 rows shown
    Drain(*m_list);
    EXPECT_EQ(m_list->GetItemCount(), 401);

    m_list->AddMessage(90, 127, 2);
    Drain(*m_list);
    ASSERT_EQ(m_list->GetItemCount(), 1);
    EXPECT_EQ(m_list->GetItemText(0, 3), "90");
}

TEST_F(MidiListTest, CellsPendingAtClearAreAppliedAfterIt) {
    AddRows(2);
    Drain(*m_list);
    m_list->AddMessage(61, 127, 1);
    m_list->AddMessage(62, 127, 2);
    m_list->DeleteAllItems();
    EXPECT_EQ(m_list->GetItemCount(), 0);
    Drain(*m_list);
    ASSERT_EQ(m_list->GetItemCount(), 2);
    EXPECT_EQ(m_list->GetItemText(0, 1), "D4");
    EXPECT_EQ(m_list->GetItemText(1, 1), "C#4");
}

// A set whose row was emptied away by a clear changes nothing.
TEST(MidiListModel, SetThatFindsNoRowIsIgnored) {
    CMidiListModel model;
    EXPECT_FALSE(model.SetTopCell(1, "C4"));
    EXPECT_EQ(model.rowCount(), 0);

    model.InsertTopRows({MidiRowTexts{"1"}});
    model.DeleteAllItems();
    EXPECT_FALSE(model.SetTopCell(5, "2"));
    EXPECT_EQ(model.rowCount(), 0);

    model.InsertTopRows({MakeMidiRowTexts(60, 127, 1), MakeMidiRowTexts(62, 127, 2)});
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.index(0, 1).data().toString(), "D4") << "the last row given ends on top";
    EXPECT_TRUE(model.SetTopCell(3, "99"));
    EXPECT_EQ(model.index(0, 3).data().toString(), "99");
    EXPECT_EQ(model.index(1, 3).data().toString(), "60");
}

// A row that comes right after an application is held back briefly; it must still arrive with
// no further row to push it.
TEST_F(MidiListTest, RowHeldBackAfterAnApplicationArrivesByItself) {
    m_list->AddMessage(60, 127, 1);
    Drain(*m_list);
    m_list->AddMessage(62, 127, 2);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_list->GetItemCount() == 2; }, 5000));
    EXPECT_EQ(m_list->GetItemText(0, 1), "D4");
}

TEST_F(MidiListTest, DestroyingTheListWithCellsPendingDropsThemAndTheirQueuedCalls) {
    AddRows(3);
    Drain(*m_list);
    AddRows(10);
    m_list.reset();
    QCoreApplication::sendPostedEvents();  // the queued calls went with the list
    SUCCEED();
}

// Two producers add rows while the GUI thread applies them: every row must hold the six cells
// of one AddMessage call. Each producer encodes (its tag, a sequence number) in note and
// velocity so that a row with cells from two calls cannot look consistent.
TEST_F(MidiListTest, RowsFromTwoProducerThreadsNeverMixCells) {
    constexpr int kRowsPerProducer = 450;  // 900 rows stay below the automatic clear
    constexpr int kSources[] = {2, 3};
    auto velocityOf = [](int source, int i) {
        return static_cast<BYTE>((i * 13 + source * 40) % 128);
    };

    std::atomic<int> running = 2;
    std::vector<std::thread> producers;
    for (const int source : kSources) {
        producers.emplace_back([&, source] {
            for (int i = 0; i < kRowsPerProducer; ++i) {
                m_list->AddMessage(static_cast<BYTE>(i % 128), velocityOf(source, i), source);
                if (i % 16 == 0) {
                    std::this_thread::yield();
                }
            }
            --running;
        });
    }
    while (running > 0) {
        QCoreApplication::processEvents();
    }
    for (std::thread& producer : producers) {
        producer.join();
    }
    Drain(*m_list);

    ASSERT_EQ(m_list->GetItemCount(), 2 * kRowsPerProducer);
    // Per producer the rows come newest first: sequence numbers count down from the top.
    int next[4] = {0, 0, kRowsPerProducer - 1, kRowsPerProducer - 1};
    for (int row = 0; row < m_list->GetItemCount(); ++row) {
        SCOPED_TRACE(testing::Message() << "row " << row);
        const int source = m_list->GetItemText(row, 5).toInt();
        ASSERT_TRUE(source == 2 || source == 3);
        const int i = next[source]--;
        const MidiRowTexts expected =
            MakeMidiRowTexts(static_cast<BYTE>(i % 128), velocityOf(source, i), source);
        for (int column = 0; column < kMidiListColumnCount; ++column) {
            ASSERT_EQ(m_list->GetItemText(row, column), expected[static_cast<std::size_t>(column)])
                << "column " << column;
        }
    }
    EXPECT_EQ(next[2], -1);
    EXPECT_EQ(next[3], -1);
}

TEST_F(MidiListTest, ColumnsAndSelectionAreSetUp) {
    const char* headings[] = {"Channel", "Note", "Nota", "Value", "Velocity", ""};
    for (int column = 0; column < kMidiListColumnCount; ++column) {
        SCOPED_TRACE(testing::Message() << "column " << column);
        EXPECT_EQ(m_list->model()->headerData(column, Qt::Horizontal).toString(), headings[column]);
        const auto alignment = m_list->model()
                                   ->headerData(column, Qt::Horizontal, Qt::TextAlignmentRole)
                                   .value<Qt::Alignment>();
        EXPECT_TRUE(alignment & Qt::AlignLeft);
    }
    for (int column = 0; column < 5; ++column) {
        EXPECT_EQ(m_list->columnWidth(column), 130);
        EXPECT_FALSE(m_list->isColumnHidden(column));
    }
    EXPECT_TRUE(m_list->isColumnHidden(5));
    EXPECT_EQ(m_list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(m_list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(m_list->palette().color(QPalette::Base), QColor(Qt::black));
}

// The velocity cell carries a 35-pixel outline in the row colour, 4 pixels in from the
// column's left edge and one pixel inside the row.
TEST_F(MidiListTest, VelocityFrameIsPaintedInTheRowColour) {
    const std::pair<int, QColor> cases[] = {
        {1, QColor(0, 255, 0)},    {2, QColor(255, 255, 0)}, {3, QColor(127, 255, 255)},
        {4, QColor(255, 128, 64)}, {0, QColor(255, 0, 0)},
    };
    for (const auto& [source, colour] : cases) {
        m_list->AddMessage(60, 0, source);  // empty bar: nothing but the frame in the cell
    }
    Drain(*m_list);
    m_list->resize(700, 300);
    m_list->show();
    QApplication::processEvents();

    const QImage image = m_list->viewport()->grab().toImage();
    const int rows = static_cast<int>(std::size(cases));
    for (int i = 0; i < rows; ++i) {
        const int row = rows - 1 - i;
        const QColor colour = cases[i].second;
        SCOPED_TRACE(testing::Message() << "source " << cases[i].first);
        const QRect cell = m_list->visualRect(m_list->model()->index(row, 4));
        ASSERT_TRUE(image.rect().contains(cell)) << "row must be visible";
        const int left = cell.left() + 4;
        const int right = cell.left() + 38;
        const int top = cell.top() + 1;
        const int bottom = cell.bottom() - 1;
        const int midY = (top + bottom) / 2;
        const int midX = (left + right) / 2;
        EXPECT_EQ(image.pixelColor(left, midY), colour);
        EXPECT_EQ(image.pixelColor(right, midY), colour);
        EXPECT_EQ(image.pixelColor(midX, top), colour);
        EXPECT_EQ(image.pixelColor(midX, bottom), colour);
        EXPECT_EQ(image.pixelColor(left - 1, midY), QColor(Qt::black));
        EXPECT_EQ(image.pixelColor(right + 1, midY), QColor(Qt::black));
        EXPECT_EQ(image.pixelColor(midX, top - 1), QColor(Qt::black));
        EXPECT_EQ(image.pixelColor(midX, midY), QColor(Qt::black)) << "inside the frame";
    }
}

TEST_F(MidiListTest, BarGlyphsArePaintedInTheRowColour) {
    m_list->AddMessage(60, 127, 4);
    Drain(*m_list);
    m_list->resize(700, 300);
    m_list->show();
    QApplication::processEvents();

    const QImage image = m_list->viewport()->grab().toImage();
    const QRect cell = m_list->visualRect(m_list->model()->index(0, 4));
    int coloured = 0;
    for (int x = cell.left() + 6; x < cell.right(); ++x) {
        for (int y = cell.top() + 3; y < cell.bottom() - 2; ++y) {
            coloured += image.pixelColor(x, y) == QColor(255, 128, 64) ? 1 : 0;
        }
    }
    EXPECT_GT(coloured, 50) << "the ten glyphs render as filled shapes";
}

}  // namespace
}  // namespace performance
