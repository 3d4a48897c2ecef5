// The main dialog's start-up, note routing and shut-down against the scriptable music
// platform, with the real widgets (offscreen).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "MusicStack.h"
#include "app/CMainDlg.h"
#include "app/IUserPrompts.h"
#include "app/MessageBoxPrompts.h"
#include "app/WindowCommands.h"
#include "device/CKeyNoteMap.h"
#include "device/KeyBed.h"
#include "musicport/CDirectMusic.h"
#include "musicport/COutputPort.h"
#include "performance/CMidiListCtrl.h"
#include "performance/CPerformanceControls.h"
#include "performance/PerformanceLock.h"
#include "piano/CPianoCtrl.h"
#include "platform/ch341/Ch341UsbDevice.h"
#include "platform/ch341/SimulatedKeyBed.h"
#include "platform/fluidsynth/FluidSynthBackend.h"
#include "platform/fluidsynth/SoundFontLoader.h"
#include "platform/http/fake/FakeHttpClient.h"
#include "platform/mixer/fake/FakeMixer.h"
#include "platform/music/MusicObject.h"
#include "platform/music/ResultCodes.h"
#include "platform/shell/fake/FakeShell.h"
#include "recorder/CNoteRecorder.h"
#include "res/ResourceIds.h"
#include "tests/support/music/FakeMusicSystem.h"
#include "web/CAnnouncement.h"

namespace {

using tests::MusicStack;

namespace pm = platform::music;
using platform::fluidsynth::FluidSynthBackend;
using pm::DWORD;
using pm::fake::FakeMusicSystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Prompt {
    std::string text;
    std::string caption;
    app::PromptIcon icon;
    std::string details = {};
};

class RecordingPrompts final : public app::IUserPrompts {
public:
    void ShowMessage(std::string_view text, std::string_view caption,
                     app::PromptIcon icon) override {
        shown.push_back({std::string(text), std::string(caption), icon});
    }
    void ShowDetailedMessage(std::string_view text, std::string_view details,
                             std::string_view caption, app::PromptIcon icon) override {
        shown.push_back({std::string(text), std::string(caption), icon, std::string(details)});
    }
    std::vector<Prompt> shown;
};

// Whether the calling thread holds the performance lock (no other thread takes it here).
bool CallerHoldsPerformanceLock() {
    return std::async(std::launch::async,
                      [] {
                          std::recursive_mutex& lock = performance::PerformanceLock();
                          if (!lock.try_lock())
                              return true;
                          lock.unlock();
                          return false;
                      })
        .get();
}

// The simulated key bed, noting opens and closes made under the performance lock: those come
// with stopping the scan, which may wait for a USB transfer.
class LockCheckingKeyBed final : public platform::ch341::ICh341Device {
    using ULONG = platform::ch341::ULONG;
    using DWORD = platform::ch341::DWORD;

public:
    explicit LockCheckingKeyBed(platform::ch341::ICh341Device& device) : device_(device) {}
    bool SetDeviceNotify(ULONG index, NotifyRoutine routine) override {
        return device_.SetDeviceNotify(index, std::move(routine));
    }
    bool OpenDevice(ULONG index) override {
        underLock += CallerHoldsPerformanceLock() ? 1 : 0;
        return device_.OpenDevice(index);
    }
    void CloseDevice(ULONG index) override {
        underLock += CallerHoldsPerformanceLock() ? 1 : 0;
        device_.CloseDevice(index);
    }
    bool InitParallel(ULONG index, ULONG mode) override {
        return device_.InitParallel(index, mode);
    }
    bool SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) override {
        return device_.SetOutput(index, enable, direction, data);
    }
    bool GetInput(ULONG index, DWORD* word) override { return device_.GetInput(index, word); }

    int underLock = 0;

private:
    platform::ch341::ICh341Device& device_;
};

// One CH341 key bed on the USB bus, all keys open, for the real driver. `answersReads` off:
// every read fails at once. `stalled` on: every transfer blocks for its whole timeout, then
// fails, as a chip that stopped answering without disappearing.
class ChipTransport final : public platform::ch341::IUsbTransport {
    using Error = platform::ch341::Ch341Error;

public:
    struct Chip {
        std::atomic<bool> answersReads{true};
        std::atomic<bool> stalled{false};
        std::atomic<int> transfers{0};
        std::atomic<int> inFlight{0};
    };

    explicit ChipTransport(std::shared_ptr<Chip> chip) : chip_(std::move(chip)) {}

    std::vector<platform::ch341::UsbDeviceInfo> ListDevices() override {
        return {{1, 4, 0x1A86, 0x5512, true, 0xFF, 0x01, 0x02, ""}};
    }
    Error Open(const platform::ch341::UsbDeviceInfo&,
               std::unique_ptr<platform::ch341::IUsbDeviceHandle>& handle) override {
        handle = std::make_unique<Handle>(chip_);
        return Error::None;
    }
    Error StartHotplug(HotplugHandler) override { return Error::None; }
    void StopHotplug() override {}

private:
    class Handle final : public platform::ch341::IUsbDeviceHandle {
    public:
        explicit Handle(std::shared_ptr<Chip> chip) : chip_(std::move(chip)) {}
        Error ControlOut(std::uint8_t, std::uint8_t, std::uint16_t, std::uint16_t,
                         std::span<const std::uint8_t>, unsigned timeoutMs) override {
            return Transact(timeoutMs);
        }
        Error ControlIn(std::uint8_t, std::uint8_t, std::uint16_t, std::uint16_t,
                        std::span<std::uint8_t> buffer, int& transferred,
                        unsigned timeoutMs) override {
            buffer[0] = 0x30;
            buffer[1] = 0x00;
            transferred = 2;
            return Transact(timeoutMs);
        }
        Error BulkOut(std::uint8_t, std::span<const std::uint8_t> data, int& transferred,
                      unsigned timeoutMs) override {
            transferred = static_cast<int>(data.size());
            return Transact(timeoutMs);
        }
        Error BulkIn(std::uint8_t, std::span<std::uint8_t> buffer, int& transferred,
                     unsigned timeoutMs) override {
            transferred = 0;
            const Error error = Transact(timeoutMs);
            if (error != Error::None || !chip_->answersReads)
                return error != Error::None ? error : Error::Timeout;
            const std::uint8_t reply[] = {0xFF, 0xFF, 0x80, 0, 0, 0};
            std::copy(std::begin(reply), std::end(reply), buffer.begin());
            transferred = 6;
            return Error::None;
        }

    private:
        Error Transact(unsigned timeoutMs) {
            ++chip_->transfers;
            if (!chip_->stalled)
                return Error::None;
            ++chip_->inFlight;
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            --chip_->inFlight;
            return Error::Timeout;
        }
        std::shared_ptr<Chip> chip_;
    };

    std::shared_ptr<Chip> chip_;
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

    app::MainServices Services() { return Services(prompts, lockCheckingKeyBed); }
    app::MainServices Services(app::IUserPrompts& boxes, platform::ch341::ICh341Device& device) {
        return Services(stack, boxes, device);
    }
    app::MainServices Services(MusicStack& over, app::IUserPrompts& boxes,
                               platform::ch341::ICh341Device& device) {
        return {over.music, over.outputPort, boxes,        device,       keyNoteMap, controls,
                commands,   shell,           announcement, noteRecorder, over.ports, over.receiver};
    }

    // Runs the dialog's modal loop; `during` runs inside it, then the dialog closes with
    // `close` unless `during` ended it. `during` runs from the event loop as a user's actions
    // would, not inside one of the dialog's own handlers (which hold the performance lock).
    int RunModal(app::CMainDlg& dialog, const std::function<void()>& during = {}) {
        QTimer::singleShot(0, &m_user, [&] {
            if (during)
                during();
            if (dialog.isVisible())
                dialog.close();
        });
        return dialog.DoModal();
    }

    std::vector<DWORD> SynthPlayed() { return system.Port("Synth").Played(); }

    QObject m_user;

    FakeMusicSystem system;
    RecordingPrompts prompts;
    MusicStack stack{system, prompts};
    platform::ch341::SimulatedKeyBed keyBed{false};  // unplugged unless a test plugs it
    LockCheckingKeyBed lockCheckingKeyBed{keyBed};
    device::CKeyNoteMap keyNoteMap;
    platform::mixer::fake::FakeMixer mixer{65535, 32768};
    performance::CPerformanceControls controls{mixer};
    platform::shell::fake::FakeShell shell;
    app::WindowCommands commands{shell};
    platform::http::fake::FakeHttpClient http;
    web::CAnnouncement announcement{http, "http://www.tunestead.example/PD/TONEBENCH/AdWords.txt"};
    recorder::SteadyClock recorderClock;
    recorder::CNoteRecorder noteRecorder{recorderClock};
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
        app::CMainDlg dialog(Services(fresh, prompts, keyBed));
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

// The built-in synthesizer alone, with the given options: start-up failures of the real
// backend.
class SynthOnlySystem final : public pm::IMusicSystem {
public:
    explicit SynthOnlySystem(FluidSynthBackend::Options options) : options_(std::move(options)) {}
    pm::HRESULT CreateMusic(std::unique_ptr<pm::IMusic>* out) override {
        std::vector<std::unique_ptr<pm::IPortBackend>> backends;
        backends.push_back(std::make_unique<FluidSynthBackend>(options_));
        *out = std::make_unique<pm::MusicObject>(std::move(backends));
        return pm::S_OK;
    }
    pm::HRESULT CreateLoader(std::unique_ptr<pm::IMusicLoader>* out) override {
        *out = std::make_unique<platform::fluidsynth::SoundFontLoader>();
        return pm::S_OK;
    }

private:
    FluidSynthBackend::Options options_;
};

TEST_F(MainDialogTest, PortStartFailureNamesItsCauseBeneathTheText) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("ts-dialog-test-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(dir);
    const std::string corrupt = (dir / "corrupt.sf2").string();
    std::ofstream(corrupt) << "RIFF....not a SoundFont at all";
    const std::string defaultSoundFont = FluidSynthBackend::Options().soundFontPath;
    const std::string deadServer = "unix:" + (dir / "no-server" / "native").string();

    struct Case {
        const char* name;
        std::string soundFont;
        std::vector<std::string> drivers;
        std::vector<std::string> cause;  // each appears in the details
    };
    const Case cases[] = {
        {"missing SoundFont", "/nonexistent/gm.sf2", {}, {"/nonexistent/gm.sf2", "No such file"}},
        {"corrupt SoundFont", corrupt, {}, {corrupt, "not a SoundFont"}},
        {"no audio server", defaultSoundFont, {"pulseaudio"}, {"PulseAudio", deadServer}},
    };
    const char* oldServer = std::getenv("PULSE_SERVER");
    const std::optional<std::string> savedServer =
        oldServer ? std::optional<std::string>(oldServer) : std::nullopt;
    setenv("PULSE_SERVER", deadServer.c_str(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FluidSynthBackend::Options options;
        options.soundFontPath = c.soundFont;
        options.audioDrivers = c.drivers;
        SynthOnlySystem synthOnly(options);
        RecordingPrompts seen;
        MusicStack synthStack(synthOnly, seen);
        app::CMainDlg dialog(Services(synthStack, seen, keyBed));
        EXPECT_EQ(dialog.DoModal(), 0);
        ASSERT_EQ(seen.shown.size(), 1u);
        EXPECT_EQ(seen.shown[0].text, "Error during the music port objects initialization");
        for (const std::string& words : c.cause)
            EXPECT_THAT(seen.shown[0].details, ::testing::HasSubstr(words));
    }
    if (savedServer)
        setenv("PULSE_SERVER", savedServer->c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
    std::filesystem::remove_all(dir);
}

TEST_F(MainDialogTest, NoOutputPortStillStartsWithTheGeneralMidiList) {
    FakeMusicSystem empty;
    MusicStack emptyStack(empty, prompts);
    app::CMainDlg dialog(Services(emptyStack, prompts, keyBed));
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
        dialog.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
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
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        piano::CPianoCtrl* piano = dialog.Piano();
        const QImage released = piano->grab().toImage();
        QTest::mousePress(piano, Qt::LeftButton, {}, QPoint(10, 70));  // held: note 36
        QApplication::processEvents();
        whileHeld = piano->grab().toImage();
        EXPECT_NE(whileHeld, released);
        // A window of its own takes the activation, as a box popping up over the dialog
        // would (a child window would not: it shares its parent's activation).
        QWidget other;
        other.setWindowModality(Qt::ApplicationModal);
        other.show();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
        EXPECT_FALSE(dialog.isActiveWindow());
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
    EXPECT_EQ(lockCheckingKeyBed.underLock, 0)
        << "plug and unplug stop the scan outside the performance lock";
}

TEST_F(MainDialogTest, PullingTheKeyBedOutReleasesTheHeldKey) {
    keyBed.Plug();
    app::CMainDlg dialog(Services());
    QString title;
    std::vector<DWORD> played;
    RunModal(dialog, [&] {
        const QImage released = dialog.Piano()->grab().toImage();
        keyBed.Press(12);
        EXPECT_TRUE(QTest::qWaitFor([&] { return SynthPlayed().size() == 1; }, 5000));
        keyBed.Unplug();  // the key stays down
        EXPECT_TRUE(QTest::qWaitFor([&] { return SynthPlayed().size() == 2; }, 5000));
        QApplication::processEvents();
        EXPECT_EQ(dialog.Piano()->grab().toImage(), released);
        title = dialog.windowTitle();
        played = SynthPlayed();
    });
    EXPECT_THAT(played, ElementsAre(0x7F3090u, 0x7F3080u));
    EXPECT_EQ(title, QStringLiteral("键乐坊 -- 未插设备"));
}

TEST_F(MainDialogTest, ABouncingConnectorWithFailingOpensStacksNoBoxes) {
    app::MessageBoxPrompts boxes;
    app::CMainDlg dialog(Services(boxes, keyBed));
    std::set<QMessageBox*> seen;
    std::size_t mostAtOnce = 0;
    QString title;
    RunModal(dialog, [&] {
        keyBed.SetOpenFails(true);
        for (int i = 0; i < 20; ++i) {
            keyBed.Plug();  // queued, all of them before the first is handled
            keyBed.Unplug();
        }
        // Each visible box is closed on the second look, after its modal loop has run
        // everything queued so far.
        QTimer watcher;
        std::set<QMessageBox*> looked;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            std::vector<QMessageBox*> visible;
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
                    visible.push_back(box);
            }
            mostAtOnce = std::max(mostAtOnce, visible.size());
            for (QMessageBox* box : visible) {
                seen.insert(box);
                if (!looked.insert(box).second)
                    box->done(QMessageBox::Ok);
            }
        });
        watcher.start(10);
        QTest::qWait(200);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                for (QWidget* widget : QApplication::topLevelWidgets()) {
                    if (qobject_cast<QMessageBox*>(widget) && widget->isVisible())
                        return false;
                }
                return true;
            },
            10000));
        title = dialog.windowTitle();
    });
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(mostAtOnce, 1u);
    EXPECT_EQ(title, QStringLiteral("键乐坊 -- 未插设备"));
}

TEST_F(MainDialogTest, AKeyBedThatNeverAnswersReadsIsAFailedOpenWithOneBox) {
    auto chip = std::make_shared<ChipTransport::Chip>();
    chip->answersReads = false;
    platform::ch341::Ch341UsbDevice driver(std::make_unique<ChipTransport>(chip));
    app::CMainDlg dialog(Services(prompts, driver));
    QString titleAtStart;
    QString titleAfter;
    RunModal(dialog, [&] {
        titleAtStart = dialog.windowTitle();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !prompts.shown.empty(); }, 5000));
        const int transfers = chip->transfers;
        QTest::qWait(100);  // ticks that would come after it
        EXPECT_EQ(chip->transfers, transfers) << "the scan ended with the failed open";
        titleAfter = dialog.windowTitle();
    });
    EXPECT_EQ(titleAtStart, QStringLiteral("键乐坊 -- 正常工作中"));
    EXPECT_EQ(titleAfter, QStringLiteral("键乐坊 -- 未插设备"));
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "打开设备失败!");
    EXPECT_EQ(prompts.shown[0].caption, "键乐坊 -- 岚桥科技");
}

TEST_F(MainDialogTest, ClosingWithAStalledChipWaitsForNoMoreThanTheTransferInFlight) {
    auto chip = std::make_shared<ChipTransport::Chip>();
    platform::ch341::Ch341UsbDevice driver(std::make_unique<ChipTransport>(chip));
    app::CMainDlg dialog(Services(prompts, driver));
    int atClose = 0;
    bool visibleAfterClose = true;
    RunModal(dialog, [&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return chip->transfers > 100; }, 10000));
        chip->stalled = true;
        EXPECT_TRUE(QTest::qWaitFor([&] { return chip->inFlight > 0; }, 5000));
        atClose = chip->transfers;
        dialog.close();
        visibleAfterClose = dialog.isVisible();
    });
    EXPECT_FALSE(visibleAfterClose);
    EXPECT_LE(chip->transfers - atClose, 1) << "the rest of the stalled tick was not waited for";
    EXPECT_TRUE(prompts.shown.empty());
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
