// The tunestead program: builds the process-wide music objects, runs the main dialog, and
// tears the objects down after it in reverse order.

#include <QApplication>
#include <cstdio>
#include <memory>

#include "app/CInputReceiver.h"
#include "app/CMainApp.h"
#include "app/CMainDlg.h"
#include "app/MessageBoxPrompts.h"
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
#include "performance/PerformanceLock.h"
#include "platform/backends/DefaultMusicSystem.h"
#include "platform/ch341/Ch341UsbDevice.h"
#include "platform/display/DisplayCheck.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/mixer/AlsaMixer.h"
#include "platform/process/ExitHook.h"
#include "platform/process/TerminationSignals.h"
#include "platform/shell/XdgShell.h"
#include "recorder/CNoteRecorder.h"
#include "recorder/IMonotonicClock.h"
#include "res/Strings.h"
#include "web/CAnnouncement.h"

namespace {

// Builds the process-wide objects, runs the main dialog and tears the objects down in reverse
// order. Returns the exit code; `signal` is the termination signal that ended the run, or 0.
int RunPlayer(platform::music::IMusicSystem& musicSystem, platform::mixer::AlsaMixer& mixer,
              int& signal) {
    // Process-wide objects, destroyed in reverse order after the dialog has ended.
    musicport::CDirectMusic music(musicSystem);
    musicport::COutputPort outputPort;
    // Outlives the input port: the notification thread calls it until the port is destroyed.
    app::CInputReceiver receiver;
    musicport::CInputPort inputPort;
    musicport::CDLSLoader loader(musicSystem);
    musicport::CCollection collection;
    musicport::CInstrument instrument;
    app::MessageBoxPrompts prompts;
    app::PortSelection ports(
        {music, outputPort, inputPort, loader, collection, instrument, receiver}, prompts);
    const std::unique_ptr<platform::ch341::Ch341UsbDevice> keyBedDevice =
        platform::ch341::Ch341UsbDevice::CreateWithLibusb();
    device::CKeyNoteMap keyNoteMap;
    performance::CPerformanceControls controls(mixer);
    platform::shell::XdgShell shell;
    app::WindowCommands commands(shell);
    platform::http::CurlHttpClient http;
    web::CAnnouncement announcement(
        http, std::string(res::kSiteHome) + std::string(res::kAnnouncementPath));
    const recorder::SteadyClock recorderClock;
    recorder::CNoteRecorder noteRecorder(recorderClock);

    // SIGTERM, SIGINT and SIGHUP close the window as its close button does, so the normal
    // shutdown runs (All Notes Off, ports closed) before the process ends.
    platform::process::TerminationSignals terminationSignals([](int) {
        if (app::CMainDlg* dialog = app::CMainDlg::Instance())
            dialog->CloseFromOutside();
    });
    // A lost display ends the process from inside Qt through exit(): the music side still
    // shuts down and the output port is closed, so nothing hangs on an external synthesizer.
    platform::process::ExitHook displayLost([&outputPort] {
        performance::PerformanceGuard lock(performance::PerformanceLock());
        if (app::CMainDlg* dialog = app::CMainDlg::Instance())
            dialog->ShutdownWithoutDisplay();
        outputPort.DeactivatePort();
    });

    app::CMainApp theApp({music, outputPort, prompts, *keyBedDevice, keyNoteMap, controls, commands,
                          shell, announcement, noteRecorder, ports, receiver});
    theApp.InitInstance();
    displayLost.Disarm();
    signal = terminationSignals.First();
    return theApp.ExitCode();
}

}  // namespace

int main(int argc, char** argv) {
    // Qt aborts with a message about reinstalling when it finds no display: say what is wrong.
    if (const auto reason = platform::MissingDisplayReason()) {
        std::fputs(platform::MissingDisplayAdvice(*reason, "tunestead").c_str(), stderr);
        return 2;
    }
    // Made before the application: the synthesizer, the MIDI links and the mixer get ready on
    // threads of their own while the display is reached and the window is built.
    const std::unique_ptr<platform::music::IMusicSystem> musicSystem =
        platform::CreateDefaultMusicSystem();
    platform::mixer::AlsaMixer mixer;
    mixer.OpenAhead();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tunestead"));
    // No display name: Qt would append it to every window title, and the titles are the
    // program's own texts.

    int signal = 0;
    const int code = RunPlayer(*musicSystem, mixer, signal);
    // Ended by a signal: after the shutdown, end the way the signal would have, so that the
    // session sees how the program ended.
    if (signal != 0)
        platform::process::TerminationSignals::RaiseDefault(signal);
    return code;
}
