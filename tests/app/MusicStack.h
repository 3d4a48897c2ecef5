#pragma once

// The process-wide music objects as the program builds them, over one music system: what a
// test or benchmark needs to give the main dialog its ports and instruments; and the rest of
// the dialog's services as fakes, for benchmarks that only need them to exist.

#include "app/CInputReceiver.h"
#include "app/CMainDlg.h"
#include "app/IUserPrompts.h"
#include "app/PortSelection.h"
#include "app/WindowCommands.h"
#include "device/CKeyNoteMap.h"
#include "musicport/CCollection.h"
#include "musicport/CDLSLoader.h"
#include "musicport/CDirectMusic.h"
#include "musicport/CInputPort.h"
#include "musicport/CInstrument.h"
#include "musicport/COutputPort.h"
#include "performance/CPerformanceControls.h"
#include "platform/ch341/ICh341Device.h"
#include "platform/http/fake/FakeHttpClient.h"
#include "platform/mixer/fake/FakeMixer.h"
#include "platform/music/IMusicSystem.h"
#include "platform/shell/fake/FakeShell.h"
#include "recorder/CNoteRecorder.h"
#include "web/CAnnouncement.h"

namespace tests {

struct MusicStack {
    MusicStack(platform::music::IMusicSystem& system, app::IUserPrompts& prompts)
        : music(system),
          loader(system),
          ports({music, outputPort, inputPort, loader, collection, instrument, receiver}, prompts) {
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

// The dialog's other services over fakes: mixer, shell, announcement, recorder on the real clock.
struct DialogFakes {
    app::MainServices Services(MusicStack& stack, app::IUserPrompts& prompts,
                               platform::ch341::ICh341Device& keyBed) {
        return {stack.music,  stack.outputPort, prompts,     keyBed,
                keyNoteMap,   controls,         commands,    shell,
                announcement, noteRecorder,     stack.ports, stack.receiver};
    }

    device::CKeyNoteMap keyNoteMap;
    platform::mixer::fake::FakeMixer mixer;
    performance::CPerformanceControls controls{mixer};
    platform::shell::fake::FakeShell shell;
    app::WindowCommands commands{shell};
    platform::http::fake::FakeHttpClient http;
    web::CAnnouncement announcement{http, "http://www.tunestead.example/PD/TONEBENCH/AdWords.txt"};
    recorder::SteadyClock recorderClock;
    recorder::CNoteRecorder noteRecorder{recorderClock};
};

}  // namespace tests
