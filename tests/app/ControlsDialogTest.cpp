// The pitch slider, the note range and the volume slider in the real dialog (offscreen),
// over the scriptable music platform and an in-memory mixer.

#include <QWheelEvent>

#include "app/CMainApp.h"
#include "tests/app/DialogFixture.h"

namespace {

namespace pm = platform::music;
using platform::mixer::fake::FakeMixer;
using ::testing::ElementsAre;

using ControlsDialogTest = dialog_test::DialogFixture;

void Wheel(QWidget* widget, int delta) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(at, widget->mapToGlobal(at), {}, QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

void ClickGroove(QWidget* slider, bool top) {
    const QPoint at(slider->width() / 2, top ? 2 : slider->height() - 3);
    QTest::mousePress(slider, Qt::LeftButton, {}, at);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, at);
}

TEST_F(ControlsDialogTest, StartUpSetsTheControlsFromTheMixer) {
    Run([&](app::CMainDlg& dialog) {
        auto* range = qobject_cast<QComboBox*>(dialog.Control(res::IDC_NOTE_RANGE));
        QStringList texts;
        for (int i = 0; i < range->count(); ++i)
            texts << range->itemText(i);
        EXPECT_EQ(texts, (QStringList{"Octave #-1  ---> Octave #3", "Octave # 0  ---> Octave #4",
                                      "Octave # 1  ---> Octave #5", "Octave # 2  ---> Octave #6",
                                      "Octave # 3  ---> Octave #7", "Octave # 4  ---> Octave #8",
                                      "Octave # 5  ---> Octave #9"}));
        EXPECT_EQ(range->currentIndex(), 3);
        EXPECT_EQ(Slider(dialog, res::IDC_VOLUME)->value(), 4);  // 32768 of 65535
        EXPECT_EQ(Slider(dialog, res::IDC_VOLUME)->tickPosition(), QSlider::TicksBothSides);
        EXPECT_EQ(Slider(dialog, res::IDC_PITCH)->value(), 0);
        EXPECT_EQ(Slider(dialog, res::IDC_PITCH)->tickPosition(), QSlider::NoTicks);
        EXPECT_EQ(KeyName(dialog), QStringLiteral("C"));
        EXPECT_EQ(dialog.TransposeBase(), 36);
    });
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_TRUE(mixer.Written().empty());  // placing the thumb writes nothing
}

// Every way of moving the pitch thumb up transposes up by one, every way down by one, and
// the thumb springs back to the middle.
TEST_F(ControlsDialogTest, EveryInputOnThePitchSliderMovesTheThumbTheWayItPoints) {
    struct Case {
        const char* name;
        std::function<void(QWidget*)> act;
        int semitones;
    };
    const std::vector<Case> cases{
        {"Up", [](QWidget* s) { QTest::keyClick(s, Qt::Key_Up); }, +1},
        {"Down", [](QWidget* s) { QTest::keyClick(s, Qt::Key_Down); }, -1},
        {"PageUp", [](QWidget* s) { QTest::keyClick(s, Qt::Key_PageUp); }, +1},
        {"PageDown", [](QWidget* s) { QTest::keyClick(s, Qt::Key_PageDown); }, -1},
        {"wheel away", [](QWidget* s) { Wheel(s, 120); }, +1},
        {"wheel toward", [](QWidget* s) { Wheel(s, -120); }, -1},
        {"groove top", [](QWidget* s) { ClickGroove(s, true); }, +1},
        {"groove bottom", [](QWidget* s) { ClickGroove(s, false); }, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Run([&](app::CMainDlg& dialog) {
            performance::CSliderCtrl* pitch = Slider(dialog, res::IDC_PITCH);
            pitch->setFocus();
            c.act(pitch);
            EXPECT_EQ(dialog.TransposeBase(), 36 + c.semitones);
            EXPECT_EQ(dialog.Piano()->GetFirstNote(), 36 + c.semitones);
            EXPECT_EQ(KeyName(dialog), c.semitones > 0 ? QStringLiteral("C#") : "B");
            EXPECT_EQ(pitch->value(), 0);
            EXPECT_FALSE(pitch->hasFocus());  // the focus went back to the dialog
        });
    }
}

TEST_F(ControlsDialogTest, TransposeStopsAt48And24AndTheCutOffFollowsIt) {
    Run([&](app::CMainDlg& dialog) {
        performance::CSliderCtrl* pitch = Slider(dialog, res::IDC_PITCH);
        for (int i = 0; i < 13; ++i)
            QTest::keyClick(pitch, Qt::Key_Up);
        EXPECT_EQ(dialog.TransposeBase(), 48);
        EXPECT_EQ(KeyName(dialog), QStringLiteral("C"));
        EXPECT_EQ(pitch->value(), 0);
        for (int i = 0; i < 25; ++i)
            QTest::keyClick(pitch, Qt::Key_Down);
        EXPECT_EQ(dialog.TransposeBase(), 24);
        EXPECT_EQ(KeyName(dialog), QStringLiteral("C"));
        EXPECT_EQ(dialog.Piano()->GetFirstNote(), 24);
        QTest::keyClick(pitch, Qt::Key_Up);  // 25: notes up to 73 sound
        dialog.PlayNote(73, 1);
        dialog.PlayNote(74, 1);
        EXPECT_THAT(Played(), ElementsAre(0x7F4990u));
    });
}

TEST_F(ControlsDialogTest, LettingGoOfThePitchThumbInTheMiddleChangesNothing) {
    Run([&](app::CMainDlg& dialog) {
        performance::CSliderCtrl* pitch = Slider(dialog, res::IDC_PITCH);
        const QPoint middle(pitch->width() / 2, pitch->height() / 2);
        QTest::mousePress(pitch, Qt::LeftButton, {}, middle);
        QTest::mouseRelease(pitch, Qt::LeftButton, {}, middle);
        EXPECT_EQ(dialog.TransposeBase(), 36);
        EXPECT_EQ(KeyName(dialog), QStringLiteral("C"));
        EXPECT_FALSE(pitch->hasFocus());
    });
}

TEST_F(ControlsDialogTest, NoteRangeMovesTheKeyboardByOctavesAfterAllNotesOff) {
    for (int entry = 0; entry <= 6; ++entry) {
        SCOPED_TRACE(entry);
        Run([&](app::CMainDlg& dialog) {
            QTest::keyClick(Slider(dialog, res::IDC_PITCH), Qt::Key_Up);  // base 37, "C#"
            const std::size_t before = Played().size();
            dialog.PlayNote(60, 1);
            auto* range = qobject_cast<QComboBox*>(dialog.Control(res::IDC_NOTE_RANGE));
            range->setFocus();
            // From the start-up entry 3, reach `entry` with the arrow keys; for entry 3 go
            // away and back.
            if (entry == 3) {
                QTest::keyClick(range, Qt::Key_Down);
                QTest::keyClick(range, Qt::Key_Up);
            }
            for (int i = 3; i < entry; ++i)
                QTest::keyClick(range, Qt::Key_Down);
            for (int i = 3; i > entry; --i)
                QTest::keyClick(range, Qt::Key_Up);
            EXPECT_EQ(range->currentIndex(), entry);
            EXPECT_EQ(dialog.Piano()->GetFirstNote(), 12 * entry);
            EXPECT_EQ(dialog.TransposeBase(), 37);
            EXPECT_EQ(KeyName(dialog), QStringLiteral("C#"));
            EXPECT_TRUE(range->hasFocus());
            const std::vector<pm::DWORD> played = Played();
            ASSERT_GE(played.size(), before + 2);
            EXPECT_EQ(played[before], 0x7F3C90u);
            EXPECT_EQ(played.back(), 0x7BB0u);
        });
    }
}

TEST_F(ControlsDialogTest, VolumeSliderWritesTheMasterVolumeWhenAChangeEnds) {
    Run([&](app::CMainDlg& dialog) {
        performance::CSliderCtrl* volume = Slider(dialog, res::IDC_VOLUME);
        volume->setFocus();
        // A button the slider does not take moves nothing and ends nothing.
        QTest::mouseClick(volume, Qt::RightButton, {}, QPoint(volume->width() / 2, 2));
        QTest::keyClick(volume, Qt::Key_Down);  // 4 -> 5
        QTest::keyClick(volume, Qt::Key_End);   // bottom: silent
        Wheel(volume, 120);                     // one step up: 9
        QTest::keyClick(volume, Qt::Key_Home);  // top: full
        ClickGroove(volume, false);             // towards the bottom
        EXPECT_FALSE(volume->hasFocus());
    });
    ASSERT_EQ(mixer.Written().size(), 5u);
    EXPECT_EQ(mixer.Written()[0], 32767u);
    EXPECT_EQ(mixer.Written()[1], 0u);
    EXPECT_EQ(mixer.Written()[2], 6553u);
    EXPECT_EQ(mixer.Written()[3], 65535u);
    EXPECT_LT(mixer.Written()[4], 65535u);
}

// A failing step shows its box and start-up goes on, so every later step that depends on it
// fails too and shows its own box: without a mixer the user sees all three, in order.
TEST_F(ControlsDialogTest, EachFailingMixerStepShowsItsBoxAndQuitsWithMinusOne) {
    struct Case {
        FakeMixer::Step step;
        std::vector<std::string> texts;
    };
    for (const Case& c : {Case{FakeMixer::Step::Open,
                               {"打开音频设备失败!", "打开通道失败!", "获取音频控制器失败!"}},
                          Case{FakeMixer::Step::Line, {"打开通道失败!", "获取音频控制器失败!"}},
                          Case{FakeMixer::Step::Control, {"获取音频控制器失败!"}}}) {
        SCOPED_TRACE(c.texts.front());
        prompts.shown.clear();
        FakeMixer failing;
        failing.FailAt(c.step);
        performance::CPerformanceControls failingControls(failing);
        app::CMainDlg dialog(Services(failingControls));
        const int code = dialog.DoModal();  // the quit request ends the modal loop
        EXPECT_EQ(code, -1);
        EXPECT_EQ(dialog.QuitCode(), -1);
        std::vector<std::string> shown;
        for (const auto& prompt : prompts.shown) {
            shown.push_back(prompt.text);
            EXPECT_EQ(prompt.caption, "错误");
            EXPECT_EQ(prompt.icon, app::PromptIcon::Error);
        }
        EXPECT_EQ(shown, c.texts);
        EXPECT_EQ(dialog.size(), QSize(675, 320));  // start-up went on
        // No control: the thumb sits at the top.
        EXPECT_EQ(Slider(dialog, res::IDC_VOLUME)->value(), 0);
    }
}

// A volume change whose control look-up fails shows the box, asks to quit, and still writes.
TEST_F(ControlsDialogTest, AFailedLookUpOnAVolumeChangeShowsItsBoxAndStillWrites) {
    Run([&](app::CMainDlg& dialog) {
        mixer.FailAt(FakeMixer::Step::Control);
        performance::CSliderCtrl* volume = Slider(dialog, res::IDC_VOLUME);
        volume->setFocus();
        QTest::keyClick(volume, Qt::Key_End);
        EXPECT_EQ(dialog.QuitCode(), -1);
    });
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "获取音频控制器失败!");
    EXPECT_EQ(mixer.Written(), std::vector<std::uint32_t>{0u});
}

TEST_F(ControlsDialogTest, AQuitRequestStandsWhenStartUpEndedTheDialogAnyway) {
    FakeMixer failing;
    failing.FailAt(FakeMixer::Step::Open);
    performance::CPerformanceControls failingControls(failing);
    app::CMainApp application(Services(failingControls));
    m->system.FailOn("CreateMusic", pm::REGDB_E_CLASSNOTREG);
    application.InitInstance();
    EXPECT_EQ(application.ExitCode(), -1);
    // The music box, then the mixer's three.
    ASSERT_EQ(prompts.shown.size(), 4u);
    EXPECT_EQ(prompts.shown[1].text, "打开音频设备失败!");
}

}  // namespace
