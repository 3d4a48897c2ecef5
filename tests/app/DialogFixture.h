#pragma once

// The main dialog over the scriptable music platform, an in-memory mixer, a shell that opens
// nothing and a scripted HTTP client: for the tests of its controls and commands.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MusicStack.h"
#include "app/CMainDlg.h"
#include "app/IUserPrompts.h"
#include "app/WindowCommands.h"
#include "device/CKeyNoteMap.h"
#include "musicport/CDirectMusic.h"
#include "musicport/COutputPort.h"
#include "performance/CPerformanceControls.h"
#include "performance/CSliderCtrl.h"
#include "piano/CPianoCtrl.h"
#include "platform/ch341/SimulatedKeyBed.h"
#include "platform/http/fake/FakeHttpClient.h"
#include "platform/mixer/fake/FakeMixer.h"
#include "platform/music/ResultCodes.h"
#include "platform/shell/fake/FakeShell.h"
#include "recorder/CNoteRecorder.h"
#include "res/ResourceIds.h"
#include "tests/support/music/FakeMusicSystem.h"
#include "web/CAnnouncement.h"

namespace dialog_test {

namespace pm = platform::music;
using platform::mixer::fake::FakeMixer;

struct Box {
    std::string text;
    std::string caption;
    app::PromptIcon icon;
};

class Boxes final : public app::IUserPrompts {
public:
    void ShowMessage(std::string_view text, std::string_view caption,
                     app::PromptIcon icon) override {
        shown.push_back({std::string(text), std::string(caption), icon});
    }
    std::vector<Box> shown;
};

class DialogFixture : public ::testing::Test {
protected:
    // A fresh music platform with one synthesizer port: the music object starts once.
    struct Music {
        explicit Music(app::IUserPrompts& prompts) : stack(system, prompts) {
            system.AddPort("Synth", pm::DMUS_PC_OUTPUTCLASS);
        }
        pm::fake::FakeMusicSystem system;
        tests::MusicStack stack;
    };

    app::MainServices Services(performance::CPerformanceControls& withControls) {
        m = std::make_unique<Music>(prompts);
        return {m->stack.music, m->stack.outputPort, prompts,        keyBed,
                keyNoteMap,     withControls,        commands,       shell,
                announcement,   noteRecorder,        m->stack.ports, m->stack.receiver};
    }

    // Runs `during` inside the dialog's modal loop, then closes the dialog.
    int Run(const std::function<void(app::CMainDlg&)>& during) {
        app::CMainDlg dialog(Services(controls));
        QTimer::singleShot(0, &dialog, [&] {
            dialog.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
            during(dialog);
            if (dialog.isVisible())
                dialog.close();
        });
        return dialog.DoModal();
    }

    static performance::CSliderCtrl* Slider(app::CMainDlg& dialog, int id) {
        return qobject_cast<performance::CSliderCtrl*>(dialog.Control(id));
    }
    static QString KeyName(app::CMainDlg& dialog) {
        return qobject_cast<QLabel*>(dialog.Control(res::IDC_PITCH_NAME))->text();
    }
    std::vector<pm::DWORD> Played() { return m->system.Port("Synth").Played(); }

    std::unique_ptr<Music> m;
    Boxes prompts;
    platform::ch341::SimulatedKeyBed keyBed{false};
    device::CKeyNoteMap keyNoteMap;
    FakeMixer mixer{65535, 32768};
    performance::CPerformanceControls controls{mixer};
    platform::shell::fake::FakeShell shell;
    app::WindowCommands commands{shell};
    platform::http::fake::FakeHttpClient http;
    web::CAnnouncement announcement{http, "http://www.tunestead.example/PD/TONEBENCH/AdWords.txt"};
    recorder::SteadyClock recorderClock;
    recorder::CNoteRecorder noteRecorder{recorderClock};
};

}  // namespace dialog_test
