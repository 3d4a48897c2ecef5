// The main dialog's start-up, note routing and shut-down against the scriptable music
// platform, with the real widgets (offscreen).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/CInputReceiver.h"
#include "app/CMainDlg.h"
#include "app/IUserPrompts.h"
#include "app/PortSelection.h"
#include "device/CKeyNoteMap.h"
#include "device/KeyBed.h"
#include "musicport/CCollection.h"
#include "musicport/CDLSLoader.h"
#include "musicport/CDirectMusic.h"
#include "musicport/CInputPort.h"
#include "musicport/CInstrument.h"
#include "musicport/COutputPort.h"
#include "performance/CMidiListCtrl.h"
#include "performance/PerformanceLock.h"
#include "piano/CPianoCtrl.h"
#include "platform/ch341/SimulatedKeyBed.h"
#include "platform/music/ResultCodes.h"
#include "platform/music/fake/FakeMusicSystem.h"
#include "res/ResourceIds.h"

namespace {

namespace pm = platform::music;
using pm::DWORD;
using pm::fake::FakeMusicSystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Prompt {
    std::string text;
    std::string caption;
    app::PromptIcon icon;
};

class RecordingPrompts final : public app::IUserPrompts {
public:
    void ShowMessage(std::string_view text, std::string_view caption,
                     app::PromptIcon icon) override {
        shown.push_back({std::string(text), std::string(caption), icon});
    }
    std::vector<Prompt> shown;
};

// The process-wide music objects as the program builds them, over one music system.
struct MusicStack {
    MusicStack(pm::IMusicSystem& system, app::IUserPrompts& prompts)
        : music(system),
          loader(system),
          ports({music, outputPort, inputPort, loader, collection, instrument, receiver}, prompts) {
    }
    app::MainServices Services(app::IUserPrompts& prompts, platform::ch341::ICh341Device& keyBed,
                               device::CKeyNoteMap& keyNoteMap) {
        return {music, outputPort, prompts, keyBed, keyNoteMap, ports, receiver};
    }

    musicport::CDirectMusic music;
    musicport::COutputPort outputPort;
    app::CInputReceiver receiver;  // outlives the input port's notification thread
    musicport::CInputPort inputPort;
    musicport::CDLSLoader loader;
    musicport::CCollection collection;
    musicport::CInstrument instrument;
    app::PortSelection ports;
};

// The process-wide objects as the program builds them, over the fake platform. The first
// output port here has no downloadable sounds: the instrument list is in General MIDI mode.
class MainDialogTest : public ::testing::Test {
protected:
    MainDialogTest() {
        system.AddPort("MIDI In", pm::DMUS_PC_INPUTCLASS);
        system.AddPort("Synth", pm::DMUS_PC_OUTPUTCLASS)
            .Description(u"Built-in synthesizer")
            .EffectFlags(pm::DMUS_EFFECT_REVERB | pm::DMUS_EFFECT_CHORUS);
        system.AddPort("External", pm::DMUS_PC_OUTPUTCLASS).Description(u"External MIDI");
    }

    app::MainServices Services() { return stack.Services(prompts, keyBed, keyNoteMap); }

    // Runs the dialog's modal loop; `during` runs inside it, then the dialog closes with
    // `close` unless `during` ended it.
    int RunModal(app::CMainDlg& dialog, const std::function<void()>& during = {}) {
        QTimer::singleShot(0, &dialog, [&] {
            if (during)
                during();
            if (dialog.isVisible())
                dialog.close();
        });
        return dialog.DoModal();
    }

    std::vector<DWORD> SynthPlayed() { return system.Port("Synth").Played(); }

    FakeMusicSystem system;
    RecordingPrompts prompts;
    MusicStack stack{system, prompts};
    platform::ch341::SimulatedKeyBed keyBed{false};  // unplugged unless a test plugs it
    device::CKeyNoteMap keyNoteMap;
};

TEST_F(MainDialogTest, StartUpActivatesTheFirstOutputPortAndListsBothOutputs) {
    app::CMainDlg dialog(Services());
    std::optional<pm::DMUS_PORTPARAMS8> params;
    bool wasActive = false;
    QString title;
    QSize size;
    int instruments = 0;
    QStringList outputs;
    const int code = RunModal(dialog, [&] {
        params = system.Port("Synth").LastParams();
        wasActive = system.Port("Synth").IsActive();
        title = dialog.windowTitle();
        size = dialog.size();
        auto* instrumentCombo = qobject_cast<QComboBox*>(dialog.Control(res::IDC_INSTRUMENT));
        instruments = instrumentCombo->count();
        auto* outputCombo = qobject_cast<QComboBox*>(dialog.Control(res::IDC_OUTPUT_PORT));
        for (int i = 0; i < outputCombo->count(); ++i)
            outputs << outputCombo->itemText(i);
    });

    EXPECT_EQ(code, 0);
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_TRUE(wasActive);
    ASSERT_TRUE(params.has_value());
    EXPECT_EQ(params->dwValidParams, pm::DMUS_PORTPARAMS_CHANNELGROUPS |
                                         pm::DMUS_PORTPARAMS_EFFECTS |
                                         pm::DMUS_PORTPARAMS_SAMPLERATE);
    EXPECT_EQ(params->dwChannelGroups, 1u);
    EXPECT_EQ(params->dwSampleRate, 44100u);
    EXPECT_EQ(params->dwVoices, 0u);
    EXPECT_EQ(outputs, (QStringList{"Built-in synthesizer", "External MIDI"}));
    EXPECT_EQ(system.Port("External").OpenCount(), 0);
    EXPECT_EQ(title, QStringLiteral("键乐坊 -- 未插设备"));
    EXPECT_EQ(size, QSize(675, 320));
    EXPECT_EQ(instruments, 128);
}

TEST_F(MainDialogTest, ClosingSendsAllNotesOffFirstAndEndsWithZero) {
    app::CMainDlg dialog(Services());
    const int code = RunModal(dialog);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(dialog.IsClosing());
    EXPECT_THAT(SynthPlayed(), ElementsAre(0x7BB0u));
}

TEST_F(MainDialogTest, EscapeAndEnterEndTheDialogWithoutTheShutDownSequence) {
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        SCOPED_TRACE(key);
        FakeMusicSystem freshSystem;
        freshSystem.AddPort("Synth", pm::DMUS_PC_OUTPUTCLASS);
        MusicStack fresh(freshSystem, prompts);
        app::CMainDlg dialog(fresh.Services(prompts, keyBed, keyNoteMap));
        QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(&dialog, key); });
        const int code = dialog.DoModal();
        EXPECT_EQ(code, key == Qt::Key_Escape ? int(QDialog::Rejected) : int(QDialog::Accepted));
        EXPECT_FALSE(dialog.IsClosing());
        EXPECT_THAT(freshSystem.Port("Synth").Played(), IsEmpty());
    }
}

TEST_F(MainDialogTest, MusicStartFailureTellsTheUserAndEndsAfterStartUp) {
    system.FailOn("CreateMusic", pm::REGDB_E_CLASSNOTREG);
    app::CMainDlg dialog(Services());
    const int code = dialog.DoModal();  // no modal loop: start-up ends the dialog

    EXPECT_EQ(code, 0);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text,
              "Can't initialize the synthesizer.\nEnsure you have an audio output device and a "
              "General MIDI SoundFont installed in your system.");
    // Steps after the skipped ones still ran.
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("键乐坊 -- 未插设备"));
    EXPECT_EQ(dialog.size(), QSize(675, 320));
    EXPECT_EQ(system.Port("Synth").OpenCount(), 0);
}

TEST_F(MainDialogTest, PortStartFailureTellsTheUserAndShutsDown) {
    system.Port("Synth").FailOn("Activate", pm::DSERR_NODRIVER);
    app::CMainDlg dialog(Services());
    const int code = dialog.DoModal();

    EXPECT_EQ(code, 0);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Error during the music port objects initialization");
    EXPECT_THAT(SynthPlayed(), IsEmpty());  // no buffer: the shut-down send fails quietly
}

TEST_F(MainDialogTest, NoOutputPortStillStartsWithTheGeneralMidiList) {
    FakeMusicSystem empty;
    MusicStack emptyStack(empty, prompts);
    app::CMainDlg dialog(emptyStack.Services(prompts, keyBed, keyNoteMap));
    int instruments = -1;
    const int code = RunModal(dialog, [&] {
        instruments = qobject_cast<QComboBox*>(dialog.Control(res::IDC_INSTRUMENT))->count();
        dialog.PlayNote(60, 1);  // the send fails with -1 and is only reported
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(instruments, 128);
}

TEST_F(MainDialogTest, PlayNoteSendsUpToTheCutOffForOnAndOff) {
    app::CMainDlg dialog(Services());
    RunModal(dialog, [&] {
        for (const int note : {36, 84, 85, 127}) {
            dialog.PlayNote(musicport::BYTE(note), 1);
            dialog.PlayNote(musicport::BYTE(note), 0);
        }
    });
    EXPECT_THAT(SynthPlayed(), ElementsAre(0x7F2490u, 0x7F2480u, 0x7F5490u, 0x7F5480u, 0x7BB0u));
}

TEST_F(MainDialogTest, AllNotesOffReleasesEveryKeyAndSendsOneMessage) {
    app::CMainDlg dialog(Services());
    std::vector<DWORD> played;
    RunModal(dialog, [&] {
        piano::CPianoCtrl* piano = dialog.Piano();
        EXPECT_EQ(piano->GetFirstNote(), 36);
        EXPECT_EQ(piano->GetLastNote(), 95);
        const QImage released = piano->grab().toImage();
        piano->PressKey(36);
        piano->PressKey(95);
        QApplication::processEvents();
        EXPECT_NE(piano->grab().toImage(), released);
        dialog.AllNotesOff();
        QApplication::processEvents();
        EXPECT_EQ(piano->grab().toImage(), released);
        played = SynthPlayed();
    });
    EXPECT_THAT(played, ElementsAre(0x7BB0u));
}

TEST_F(MainDialogTest, MousePressSoundsListsAndReleaseEndsTheNote) {
    app::CMainDlg dialog(Services());
    std::vector<DWORD> played;
    int rows = -1;
    QString noteCell;
    RunModal(dialog, [&] {
        piano::CPianoCtrl* piano = dialog.Piano();
        // The lower part of the first white key is note 36.
        QTest::mousePress(piano, Qt::LeftButton, {}, QPoint(10, 70));
        QTest::mouseRelease(piano, Qt::LeftButton, {}, QPoint(10, 70));
        QApplication::processEvents();
        played = SynthPlayed();
        rows = dialog.MessageList()->GetItemCount();
        noteCell = dialog.MessageList()->GetItemText(0, 1);
    });
    EXPECT_THAT(played, ElementsAre(0x7F2490u, 0x7F2480u));
    EXPECT_EQ(rows, 1);  // a release adds no row
    EXPECT_EQ(noteCell, QStringLiteral("C2"));
}

TEST_F(MainDialogTest, MenuOpeningAndMovesAfterActivationReleaseAllNotes) {
    app::CMainDlg dialog(Services());
    std::vector<DWORD> afterMenu;
    std::vector<DWORD> afterMove;
    RunModal(dialog, [&] {
        dialog.PlayNote(60, 1);
        QMenu* fileMenu = dialog.MenuBar()->findChildren<QMenu*>().value(0);
        ASSERT_NE(fileMenu, nullptr);
        emit fileMenu->aboutToShow();
        afterMenu = SynthPlayed();
        // An activation, then a move: every later move releases all notes.
        QApplication::setActiveWindow(&dialog);
        QApplication::processEvents();
        dialog.move(dialog.pos() + QPoint(5, 5));
        QApplication::processEvents();
        afterMove = SynthPlayed();
    });
    EXPECT_THAT(afterMenu, ElementsAre(0x7F3C90u, 0x7BB0u));
    ASSERT_GE(afterMove.size(), 3u);
    EXPECT_EQ(afterMove.back(), 0x7BB0u);
}

TEST_F(MainDialogTest, DeactivatingTheWindowWhileAKeyIsHeldReleasesIt) {
    app::CMainDlg dialog(Services());
    std::vector<DWORD> played;
    QImage whileHeld;
    QImage afterDeactivation;
    RunModal(dialog, [&] {
        QApplication::setActiveWindow(&dialog);
        QApplication::processEvents();
        piano::CPianoCtrl* piano = dialog.Piano();
        const QImage released = piano->grab().toImage();
        QTest::mousePress(piano, Qt::LeftButton, {}, QPoint(10, 70));  // held: note 36
        QApplication::processEvents();
        whileHeld = piano->grab().toImage();
        EXPECT_NE(whileHeld, released);
        QApplication::setActiveWindow(nullptr);
        QApplication::processEvents();
        afterDeactivation = piano->grab().toImage();
        EXPECT_EQ(afterDeactivation, released);
        played = SynthPlayed();
    });
    EXPECT_THAT(played, ElementsAre(0x7F2490u, 0x7BB0u));
}

TEST_F(MainDialogTest, KeysAboveTheCutOffShowAndListButStaySilent) {
    app::CMainDlg dialog(Services());
    std::vector<DWORD> played;
    int rows = 0;
    QString value;
    RunModal(dialog, [&] {
        piano::CPianoCtrl* piano = dialog.Piano();
        piano->SetFirstNote(72);  // the second octave now starts at 84
        const QImage before = piano->grab().toImage();
        // C# of the second octave: note 85, one above the highest that sounds (84).
        QTest::mousePress(piano, Qt::LeftButton, {}, QPoint(154 + 20, 30));
        QApplication::processEvents();
        EXPECT_NE(piano->grab().toImage(), before);
        QTest::mouseRelease(piano, Qt::LeftButton, {}, QPoint(154 + 20, 30));
        dialog.MessageList()->ApplyPendingCells();
        rows = dialog.MessageList()->GetItemCount();
        value = dialog.MessageList()->GetItemText(0, 3);
        played = SynthPlayed();
    });
    EXPECT_THAT(played, IsEmpty());
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(value, QStringLiteral("85"));
}

TEST_F(MainDialogTest, KeyBedPresentAtStartUpPlaysThroughTheWholeRoad) {
    keyBed.Plug();
    app::CMainDlg dialog(Services());
    QString title;
    std::vector<DWORD> afterPress;
    std::vector<DWORD> afterRelease;
    QString source;
    QColor colour;
    RunModal(dialog, [&] {
        title = dialog.windowTitle();
        const QImage released = dialog.Piano()->grab().toImage();
        keyBed.Press(12);  // row 1, column 3: one octave above the first key, note 48
        EXPECT_TRUE(QTest::qWaitFor([&] { return SynthPlayed().size() == 1; }, 2000));
        afterPress = SynthPlayed();
        dialog.MessageList()->ApplyPendingCells();
        QApplication::processEvents();
        EXPECT_NE(dialog.Piano()->grab().toImage(), released);
        source = dialog.MessageList()->GetItemText(0, 5);
        colour = dialog.MessageList()->GetItemColor(0);
        keyBed.Release(12);
        EXPECT_TRUE(QTest::qWaitFor([&] { return SynthPlayed().size() == 2; }, 2000));
        afterRelease = SynthPlayed();
        QApplication::processEvents();
        EXPECT_EQ(dialog.Piano()->grab().toImage(), released);
        EXPECT_EQ(dialog.MessageList()->GetItemCount(), 1);  // a release adds no row
    });
    EXPECT_EQ(title, QStringLiteral("键乐坊 -- 正常工作中"));
    EXPECT_THAT(afterPress, ElementsAre(0x7F3090u));
    EXPECT_THAT(afterRelease, ElementsAre(0x7F3090u, 0x7F3080u));
    EXPECT_EQ(source, QStringLiteral("4"));
    EXPECT_EQ(colour, QColor(255, 128, 64));
    EXPECT_FALSE(keyBed.IsOpen());  // closed when the window went
}

TEST_F(MainDialogTest, PlugUnplugAndAFailedOpenShowInTheTitle) {
    app::CMainDlg dialog(Services());
    QStringList titles;
    RunModal(dialog, [&] {
        titles << dialog.windowTitle();
        keyBed.Plug();  // the driver's thread would post; the dialog handles it queued
        QApplication::processEvents();
        titles << dialog.windowTitle();
        keyBed.Unplug();
        QApplication::processEvents();
        titles << dialog.windowTitle();
        keyBed.SetOpenFails(true);
        keyBed.Plug();
        QApplication::processEvents();
        titles << dialog.windowTitle();
    });
    EXPECT_EQ(titles, (QStringList{"键乐坊 -- 未插设备", "键乐坊 -- 正常工作中",
                                   "键乐坊 -- 未插设备", "键乐坊 -- 未插设备"}));
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "打开设备失败!");
    EXPECT_EQ(prompts.shown[0].caption, "键乐坊 -- 岚桥科技");
    EXPECT_EQ(prompts.shown[0].icon, app::PromptIcon::Error);
}

TEST_F(MainDialogTest, InputNotesLightKeysListYellowRowsAndSoundOnlyThroughThru) {
    app::CMainDlg dialog(Services());
    QImage released;
    QImage pressed;
    int rows = 0;
    QColor colour;
    QString note;
    RunModal(dialog, [&] {
        piano::CPianoCtrl* piano = dialog.Piano();
        released = piano->grab().toImage();
        system.Port("MIDI In").Receive({0x90, 60, 100});  // channel 1
        system.Port("MIDI In").Receive({0x95, 64, 90});   // channel 6
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                dialog.MessageList()->ApplyPendingCells();
                return dialog.MessageList()->GetItemCount() == 2;
            },
            5000));
        QApplication::processEvents();
        pressed = piano->grab().toImage();
        rows = dialog.MessageList()->GetItemCount();
        colour = dialog.MessageList()->GetItemColor(0);
        note = dialog.MessageList()->GetItemText(0, 3);
        system.Port("MIDI In").Receive({0x80, 60, 0});
        system.Port("MIDI In").Receive({0x95, 64, 0});  // velocity 0 ends the note too
        EXPECT_TRUE(QTest::qWaitFor([&] { return piano->grab().toImage() == released; }, 5000));
    });
    EXPECT_NE(pressed, released);
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(colour, QColor(255, 255, 0));
    EXPECT_EQ(note, QStringLiteral("64"));  // the newest row first
    // Thru forwarded channel 1 only; the receiver itself sends nothing.
    EXPECT_THAT(
        system.Port("Synth").ThruReceived(),
        ElementsAre(std::pair<DWORD, DWORD>{0, 0x643C90}, std::pair<DWORD, DWORD>{0, 0x3C80}));
    EXPECT_THAT(SynthPlayed(), ::testing::Each(0x7BB0u));  // all-notes-off only
}

TEST_F(MainDialogTest, SwitchingInputWhileNotesStreamInCompletesAtOnce) {
    system.AddPort("Second In", pm::DMUS_PC_INPUTCLASS);
    app::CMainDlg dialog(Services());
    bool joined = false;
    RunModal(dialog, [&] {
        std::atomic<bool> streaming{true};
        std::thread source([&] {
            for (int i = 0; streaming; ++i)
                system.Port("MIDI In").Receive({0x90, musicport::BYTE(40 + i % 40), 64});
        });
        {
            // The dialog thread holds the performance lock, as every handler does.
            performance::PerformanceGuard lock(performance::PerformanceLock());
            QThread::msleep(20);
            qobject_cast<QComboBox*>(dialog.Control(res::IDC_INPUT_PORT))->setCurrentIndex(1);
            // Stopped by acknowledgement, not abandoned after a time-out.
            joined =
                stack.inputPort.IsNotificationRunning() && system.Port("MIDI In").OpenCount() == 0;
        }
        streaming = false;
        source.join();
    });
    EXPECT_TRUE(joined);
    EXPECT_EQ(stack.ports.InputPortIndex(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    // Test discovery runs the binary without ctest's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
