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

// A window with one neighbouring widget above the piano, driven through the window system's
// own dispatch, where a press gives the pressed widget Qt's implicit grab.
class PianoDragIn : public ::testing::Test {
protected:
    void Show(QWidget* above) {
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        neighbour = above;
        control = new CPianoCtrl(&window);
        layout->addWidget(neighbour);
        layout->addWidget(control);
        ASSERT_TRUE(control->BuildKeyboard(5, 5));
        control->SetFirstNote(36);
        control->SetListener(&listener);
        control->setFixedSize(control->sizeHint());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        handle = window.windowHandle();
    }
    QPoint At(QWidget* widget, QPoint p) const { return widget->mapTo(&window, p); }
    QPoint Key(QPoint p) const { return At(control, p); }

    QWidget window;
    QWidget* neighbour = nullptr;
    CPianoCtrl* control = nullptr;
    QWindow* handle = nullptr;
    RecordingListener listener;
};

// A drag that starts on a neighbouring control and slides onto the keys plays them, and leaves
// no grab behind once the button is up.
TEST_F(PianoDragIn, ADragFromANeighbourPlaysTheKeysItEnters) {
    Show(new QPushButton(QStringLiteral("Record"), &window));
    const QPoint middle = At(neighbour, neighbour->rect().center());

    QTest::mousePress(handle, Qt::LeftButton, {}, middle);
    QTest::mouseMove(handle, middle + QPoint(5, 0));
    EXPECT_EQ(listener.events, Events{});
    QTest::mouseMove(handle, Key({10, 30}));
    EXPECT_EQ(listener.events, Events{"on 36"});
    QTest::mouseMove(handle, Key({30, 30}));
    EXPECT_EQ(listener.events, (Events{"on 36", "off 36", "on 38"}));
    // Out of the keyboard and back in again, still with the button held.
    QTest::mouseMove(handle, middle);
    EXPECT_EQ(listener.events, (Events{"on 36", "off 36", "on 38", "off 38"}));
    QTest::mouseMove(handle, Key({50, 30}));
    EXPECT_EQ(listener.events.back(), "on 40");
    QTest::mouseRelease(handle, Qt::LeftButton, {}, Key({50, 30}));
    EXPECT_EQ(listener.events.back(), "off 40");
    EXPECT_EQ(listener.events.size(), 6u);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);

    // With the button up, moving over the keys plays nothing.
    QTest::mouseMove(handle, Key({70, 30}));
    EXPECT_EQ(listener.events.size(), 6u);
}

// A slider's thumb dragged across the keys stays the slider's: nothing plays, and the slider
// gets the moves and the release.
TEST_F(PianoDragIn, ASliderThumbDraggedAcrossTheKeysPlaysNothing) {
    auto* slider = new QSlider(Qt::Horizontal, &window);
    slider->setRange(0, 10);
    Show(slider);
    int released = 0;
    QObject::connect(slider, &QSlider::sliderReleased, [&] { ++released; });

    QTest::mousePress(handle, Qt::LeftButton, {}, At(slider, QPoint(4, slider->height() / 2)));
    ASSERT_TRUE(slider->isSliderDown()) << "the press did not take the thumb";
    QTest::mouseMove(handle, Key({10, 30}));
    QTest::mouseMove(handle, Key({30, 30}));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, Key({30, 30}));
    EXPECT_EQ(listener.events, Events{});
    EXPECT_EQ(released, 1);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

}  // namespace
