// Playing the piano with the mouse: real mouse events through QTest, a recording listener.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QVBoxLayout>

#include "RecordingListener.h"
#include "piano/CPianoCtrl.h"
#include "piano/CPianoKey.h"

using piano::CPianoCtrl;
using piano::CPianoKey;
using Events = std::vector<std::string>;

namespace {

class PianoMouse : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(control.BuildKeyboard(5, 5));
        control.SetFirstNote(36);
        control.SetListener(&listener);
        control.resize(control.sizeHint());
    }

    void TearDown() override {
        // QTest remembers held buttons across tests.
        if (held) {
            QTest::mouseRelease(&control, Qt::LeftButton, {}, QPoint(300, 90));
        }
    }

    void Press(QPoint p) {
        QTest::mousePress(&control, Qt::LeftButton, {}, p);
        held = true;
    }
    void Release(QPoint p) {
        QTest::mouseRelease(&control, Qt::LeftButton, {}, p);
        held = false;
    }
    // With the button held QTest sends the move straight to the widget, as Qt's implicit grab
    // does for points outside it.
    void Drag(QPoint p) { QTest::mouseMove(&control, p); }
    // A move without buttons, delivered to the control wherever it is.
    void Hover(QPoint p) {
        QMouseEvent move(QEvent::MouseMove, p, control.mapToGlobal(p), Qt::NoButton, Qt::NoButton,
                         {});
        QApplication::sendEvent(&control, &move);
    }
    QRgb PixelAt(int x, int y) const { return control.GetOctave(0)->GetPicture().pixel(x, y); }

    RecordingListener listener;
    CPianoCtrl control;
    bool held = false;
};

TEST_F(PianoMouse, DragAcrossKeysEndsEachNoteBeforeTheNext) {
    Press({10, 30});
    EXPECT_EQ(listener.events, Events{"on 36"});
    EXPECT_EQ(PixelAt(10, 30), CPianoKey::kWhitePressed);

    // The 1-pixel gap at x = 16 ends C, C# spans 17..26, x = 27 ends it, D starts at 28.
    for (int x = 11; x <= 32; ++x) {
        Drag({x, 30});
    }
    EXPECT_EQ(listener.events, (Events{"on 36", "off 36", "on 37", "off 37", "on 38"}));
    EXPECT_EQ(PixelAt(10, 30), CPianoKey::kWhiteReleased);
    EXPECT_EQ(PixelAt(20, 30), CPianoKey::kBlackReleased);
    EXPECT_EQ(PixelAt(30, 30), CPianoKey::kWhitePressed);

    // Button up ends the current key only; moving out afterwards gives the capture up.
    Release({32, 30});
    EXPECT_EQ(listener.events.back(), "off 38");
    EXPECT_EQ(listener.events.size(), 6u);
    EXPECT_EQ(PixelAt(30, 30), CPianoKey::kWhiteReleased);
    EXPECT_TRUE(control.IsCaptured());
    Hover({40, 30});
    EXPECT_TRUE(control.IsCaptured());
    Hover({40, 90});
    EXPECT_FALSE(control.IsCaptured());
    EXPECT_EQ(listener.events.size(), 6u);
}

TEST_F(PianoMouse, PressInAGapNotifiesNothingButCaptures) {
    for (QPoint gap : {QPoint(16, 30), QPoint(21, 60), QPoint(0, 40), QPoint(10, 0)}) {
        SCOPED_TRACE(gap.x());
        Press(gap);
        EXPECT_TRUE(control.IsCaptured());
        Release(gap);
        Hover({10, 100});
    }
    EXPECT_EQ(listener.events, Events{});
}

TEST_F(PianoMouse, LeavingTheKeyboardEndsTheNote) {
    Press({10, 70});
    Drag({10, 85});  // below the keys
    EXPECT_EQ(listener.events, (Events{"on 36", "off 36"}));
    EXPECT_FALSE(control.IsCaptured());
    Drag({10, 120});
    Release({10, 120});
    EXPECT_EQ(listener.events, (Events{"on 36", "off 36"}));

    // Coming back with the button held plays again and captures again.
    Press({40, 120});
    Drag({30, 70});
    EXPECT_TRUE(control.IsCaptured());
    EXPECT_EQ(listener.events.back(), "on 38");
    Release({30, 70});
    EXPECT_EQ(listener.events.back(), "off 38");
}

TEST_F(PianoMouse, MovesWithoutTheButtonPlayNothing) {
    Hover({10, 30});
    Hover({30, 30});
    EXPECT_EQ(listener.events, Events{});
    EXPECT_EQ(PixelAt(30, 30), CPianoKey::kWhiteReleased);
}

TEST_F(PianoMouse, OtherButtonsAreIgnored) {
    QTest::mousePress(&control, Qt::RightButton, {}, QPoint(10, 30));
    QTest::mouseRelease(&control, Qt::RightButton, {}, QPoint(10, 30));
    QTest::mouseClick(&control, Qt::MiddleButton, {}, QPoint(10, 30));
    EXPECT_EQ(listener.events, Events{});
    EXPECT_FALSE(control.IsCaptured());
}

TEST_F(PianoMouse, DoubleClickPlaysTwice) {
    // Qt delivers a quick second click as press, release, double-click, release.
    QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(10, 30));
    QTest::mouseDClick(&control, Qt::LeftButton, {}, QPoint(10, 30));
    QTest::mouseRelease(&control, Qt::LeftButton, {}, QPoint(10, 30));
    EXPECT_EQ(listener.events, (Events{"on 36", "off 36", "on 36", "off 36"}));
}

// After a click has ended a key, a drag from a gap back onto that key plays it again, and a
// drag onto another key does not end the finished key a second time.
TEST_F(PianoMouse, AKeyEndedByButtonUpIsNotEndedAgain) {
    Press({10, 30});
    Release({10, 30});
    Press({16, 30});
    Drag({10, 30});
    Release({10, 30});
    EXPECT_EQ(listener.events, (Events{"on 36", "off 36", "on 36", "off 36"}));

    listener.events.clear();
    Press({10, 30});
    Release({10, 30});
    Press({16, 30});
    Drag({30, 30});
    EXPECT_EQ(listener.events, (Events{"on 36", "off 36", "on 38"}));
}

TEST_F(PianoMouse, PlaysWithoutAListener) {
    control.SetListener(nullptr);
    Press({10, 30});
    EXPECT_EQ(PixelAt(10, 30), CPianoKey::kWhitePressed);
    Drag({30, 30});
    EXPECT_EQ(PixelAt(10, 30), CPianoKey::kWhiteReleased);
    Release({30, 30});
    EXPECT_EQ(PixelAt(30, 30), CPianoKey::kWhiteReleased);
    EXPECT_EQ(listener.events, Events{});
}

TEST_F(PianoMouse, LeaveEventGivesUpTheCapture) {
    Press({10, 30});
    Release({10, 30});
    ASSERT_TRUE(control.IsCaptured());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&control, &leave);
    EXPECT_FALSE(control.IsCaptured());
}

// The widget must never grab the mouse for itself: a grab left behind would steal every click.
TEST_F(PianoMouse, NeverGrabsTheMouseExplicitly) {
    control.show();
    Press({10, 30});
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    Release({10, 30});
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

// A drag that starts on a neighbouring control and slides onto the keys plays them, through
// the window system's own dispatch (where the press gives the other widget Qt's implicit grab),
// and leaves no grab behind once the button is up.
TEST(PianoDragIn, ADragFromANeighbourPlaysTheKeysItEnters) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* neighbour = new QPushButton(QStringLiteral("Record"), &window);
    auto* control = new CPianoCtrl(&window);
    layout->addWidget(neighbour);
    layout->addWidget(control);
    ASSERT_TRUE(control->BuildKeyboard(5, 5));
    control->SetFirstNote(36);
    RecordingListener listener;
    control->SetListener(&listener);
    control->setFixedSize(control->sizeHint());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QWindow* handle = window.windowHandle();
    auto at = [&](QWidget* widget, QPoint p) { return widget->mapTo(&window, p); };

    QTest::mousePress(handle, Qt::LeftButton, {}, at(neighbour, neighbour->rect().center()));
    QTest::mouseMove(handle, at(neighbour, neighbour->rect().center() + QPoint(5, 0)));
    EXPECT_EQ(listener.events, Events{});
    QTest::mouseMove(handle, at(control, {10, 30}));
    EXPECT_EQ(listener.events, Events{"on 36"});
    QTest::mouseMove(handle, at(control, {30, 30}));
    EXPECT_EQ(listener.events, (Events{"on 36", "off 36", "on 38"}));
    // Out of the keyboard and back in again, still with the button held.
    QTest::mouseMove(handle, at(neighbour, neighbour->rect().center()));
    EXPECT_EQ(listener.events, (Events{"on 36", "off 36", "on 38", "off 38"}));
    QTest::mouseMove(handle, at(control, {50, 30}));
    EXPECT_EQ(listener.events.back(), "on 40");
    QTest::mouseRelease(handle, Qt::LeftButton, {}, at(control, {50, 30}));
    EXPECT_EQ(listener.events.back(), "off 40");
    EXPECT_EQ(listener.events.size(), 6u);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);

    // With the button up, moving over the keys plays nothing.
    QTest::mouseMove(handle, at(control, {70, 30}));
    EXPECT_EQ(listener.events.size(), 6u);
}

// A slider's thumb dragged across the keys stays the slider's: nothing plays, and the slider
// gets the moves and the release.
TEST(PianoDragIn, ASliderThumbDraggedAcrossTheKeysPlaysNothing) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* slider = new QSlider(Qt::Horizontal, &window);
    slider->setRange(0, 10);
    auto* control = new CPianoCtrl(&window);
    layout->addWidget(slider);
    layout->addWidget(control);
    ASSERT_TRUE(control->BuildKeyboard(5, 5));
    control->SetFirstNote(36);
    RecordingListener listener;
    control->SetListener(&listener);
    control->setFixedSize(control->sizeHint());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QWindow* handle = window.windowHandle();
    int released = 0;
    QObject::connect(slider, &QSlider::sliderReleased, [&] { ++released; });

    const QPoint thumb = slider->mapTo(&window, QPoint(4, slider->height() / 2));
    QTest::mousePress(handle, Qt::LeftButton, {}, thumb);
    ASSERT_TRUE(slider->isSliderDown()) << "the press did not take the thumb";
    QTest::mouseMove(handle, control->mapTo(&window, QPoint(10, 30)));
    QTest::mouseMove(handle, control->mapTo(&window, QPoint(30, 30)));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, control->mapTo(&window, QPoint(30, 30)));
    EXPECT_EQ(listener.events, Events{});
    EXPECT_EQ(released, 1);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

}  // namespace
