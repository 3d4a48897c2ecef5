// The tunestead program: builds the process-wide music objects, runs the main dialog, and
// tears the objects down after it in reverse order.

#include <QApplication>
#include <cstdio>
#include <memory>

#include "app/CInputReceiver.h"
#include "app/CMainApp.h"
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
#include "platform/backends/DefaultMusicSystem.h"
#include "platform/ch341/Ch341UsbDevice.h"
#include "platform/display/DisplayCheck.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/mixer/AlsaMixer.h"
#include "platform/shell/XdgShell.h"
#include "recorder/CNoteRecorder.h"
#include "recorder/IMonotonicClock.h"
#include "res/Strings.h"
#include "web/CAnnouncement.h"

int main(int argc, char** argv) {
    // Qt aborts with a message about reinstalling when it finds no display: say what is wrong.
    if (const auto reason = platform::MissingDisplayReason()) {
        std::fputs(platform::MissingDisplayAdvice(*reason, "tunestead").c_str(), stderr);
        return 2;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tunestead"));
    // No display name: Qt would append it to every window title, and the titles are the
    // program's own texts.

    // Process-wide objects, destroyed in reverse order after the dialog has ended.
    const std::unique_ptr<platform::music::IMusicSystem> musicSystem =
        platform::CreateDefaultMusicSystem();
    musicport::CDirectMusic music(*musicSystem);
    musicport::COutputPort outputPort;
    // Outlives the input port: the notification thread calls it until the port is destroyed.
    app::CInputReceiver receiver;
    musicport::CInputPort inputPort;
    musicport::CDLSLoader loader(*musicSystem);
    musicport::CCollection collection;
    musicport::CInstrument instrument;
    app::MessageBoxPrompts prompts;
    app::PortSelection ports(
        {music, outputPort, inputPort, loader, collection, instrument, receiver}, prompts);
    const std::unique_ptr<platform::ch341::Ch341UsbDevice> keyBedDevice =
        platform::ch341::Ch341UsbDevice::CreateWithLibusb();
    device::CKeyNoteMap keyNoteMap;
    platform::mixer::AlsaMixer mixer;
    performance::CPerformanceControls controls(mixer);
    platform::shell::XdgShell shell;
    app::WindowCommands commands(shell);
    platform::http::CurlHttpClient http;
    web::CAnnouncement announcement(
        http, std::string(res::kSiteHome) + std::string(res::kAnnouncementPath));
    const recorder::SteadyClock recorderClock;
    recorder::CNoteRecorder noteRecorder(recorderClock);

    app::CMainApp theApp({music, outputPort, prompts, *keyBedDevice, keyNoteMap, controls, commands,
                          shell, announcement, noteRecorder, ports, receiver});
    theApp.InitInstance();
    return theApp.ExitCode();
}
