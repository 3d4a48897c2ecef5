// PressKey and ReleaseKey from worker threads: they draw under the performance lock and leave
// the repaint to the GUI thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <QApplication>
#include <QPaintEvent>
#include <QTest>
#include <QThread>

#include "RecordingListener.h"
#include "performance/PerformanceLock.h"
#include "piano/CPianoCtrl.h"
#include "piano/CPianoKey.h"

using piano::CPianoCtrl;
using piano::CPianoKey;

namespace {

// Records the paint regions and queued calls the control receives, and on which thread.
class EventSpy : public QObject {
public:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (QThread::currentThread() != qApp->thread()) {
            offThreadEvents.fetch_add(1);
        }
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
        } else if (event->type() == QEvent::MetaCall) {
            ++queuedCalls;
        }
        return false;
    }

    QRegion painted;
    int queuedCalls = 0;
    std::atomic<int> offThreadEvents{0};
};

class PianoThreads : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(control.BuildKeyboard(5, 5));
        control.SetFirstNote(36);
        control.resize(control.sizeHint());
        control.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&control));
        QApplication::processEvents();
        control.installEventFilter(&spy);
        spy.painted = QRegion();
    }

    QRgb Shown(int x, int y) {
        return control.grab(QRect(x, y, 1, 1)).toImage().pixel(0, 0) | 0xFF000000u;
    }

    CPianoCtrl control;
    EventSpy spy;
};

TEST_F(PianoThreads, PressKeyFromAWorkerRepaintsOnTheGuiThread) {
    std::thread worker([this] {
        // The input receiver and the player hold the lock while they call.
        performance::PerformanceGuard guard(performance::PerformanceLock());
        control.PressKey(48);  // C of the second octave: x 155..174
    });
    worker.join();
    EXPECT_EQ(spy.queuedCalls, 0);
    EXPECT_TRUE(spy.painted.isEmpty());

    QTRY_VERIFY_WITH_TIMEOUT(!spy.painted.isEmpty(), 5000);
    EXPECT_EQ(spy.queuedCalls, 1);
    EXPECT_EQ(spy.offThreadEvents.load(), 0);
    // Only the key's two rectangles are repainted.
    EXPECT_TRUE(spy.painted.contains(QRect(155, 0, 15, 50)));
    EXPECT_TRUE(spy.painted.contains(QRect(155, 50, 20, 30)));
    EXPECT_TRUE(QRect(155, 0, 20, 80).contains(spy.painted.boundingRect()));
    EXPECT_EQ(Shown(160, 30), CPianoKey::kWhitePressed);

    spy.painted = QRegion();
    std::thread releaser([this] { control.ReleaseKey(48); });
    releaser.join();
    QTRY_VERIFY_WITH_TIMEOUT(!spy.painted.isEmpty(), 5000);
    EXPECT_EQ(Shown(160, 30), CPianoKey::kWhiteReleased);
}

TEST_F(PianoThreads, PressKeyOnTheGuiThreadUpdatesDirectly) {
    control.PressKey(37);
    QTRY_VERIFY_WITH_TIMEOUT(!spy.painted.isEmpty(), 5000);
    EXPECT_EQ(spy.queuedCalls, 0);
    EXPECT_TRUE(spy.painted.contains(QRect(17, 0, 10, 49)));
    EXPECT_EQ(Shown(20, 30), CPianoKey::kBlackPressed);
}

// A player thread pressing and releasing keys while the mouse plays and the window repaints:
// the pictures end consistent and every key the worker released shows released.
TEST_F(PianoThreads, WorkerAndMouseTogether) {
    RecordingListener listener;
    control.SetListener(&listener);
    std::atomic<bool> stop{false};
    std::thread player([this, &stop] {
        while (!stop.load()) {
            for (int note = 60; note < 96; ++note) {
                performance::PerformanceGuard guard(performance::PerformanceLock());
                control.PressKey(static_cast<piano::BYTE>(note));
                control.ReleaseKey(static_cast<piano::BYTE>(note));
            }
        }
    });
    for (int round = 0; round < 20; ++round) {
        QTest::mousePress(&control, Qt::LeftButton, {}, QPoint(10, 30));
        for (int x = 11; x < 150; x += 3) {
            QTest::mouseMove(&control, QPoint(x, 30));
        }
        QTest::mouseRelease(&control, Qt::LeftButton, {}, QPoint(150, 30));
        QApplication::processEvents();
    }
    stop = true;
    player.join();
    QApplication::processEvents();
    EXPECT_EQ(spy.offThreadEvents.load(), 0);
    EXPECT_EQ(listener.events.size() % 2, 0u);
    for (int o = 0; o < 5; ++o) {
        for (int i = 0; i < 12; ++i) {
            const CPianoKey& key = control.GetOctave(o)->GetKey(i);
            const QRgb released =
                key.IsBlack() ? CPianoKey::kBlackReleased : CPianoKey::kWhiteReleased;
            EXPECT_EQ(control.GetOctave(o)->GetPicture().pixel(key.GetUpperRect().topLeft()),
                      released)
                << "octave " << o << " key " << i;
        }
    }
}

}  // namespace
