// The tunestead program: builds the process-wide music objects, runs the main dialog, and
// tears the objects down after it in reverse order.

#include <QApplication>
#include <memory>

#include "app/CMainApp.h"
#include "app/MessageBoxPrompts.h"
#include "device/CKeyNoteMap.h"
#include "musicport/CDirectMusic.h"
#include "musicport/COutputPort.h"
#include "platform/backends/DefaultMusicSystem.h"
#include "platform/ch341/Ch341UsbDevice.h"
#include "recorder/CNoteRecorder.h"
#include "recorder/IMonotonicClock.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tunestead"));
    QApplication::setApplicationDisplayName(QStringLiteral("键乐坊"));

    // Process-wide objects, destroyed in reverse order after the dialog has ended.
    const std::unique_ptr<platform::music::IMusicSystem> musicSystem =
        platform::CreateDefaultMusicSystem();
    musicport::CDirectMusic music(*musicSystem);
    musicport::COutputPort outputPort;
    app::MessageBoxPrompts prompts;
    const std::unique_ptr<platform::ch341::Ch341UsbDevice> keyBedDevice =
        platform::ch341::Ch341UsbDevice::CreateWithLibusb();
    device::CKeyNoteMap keyNoteMap;
    const recorder::SteadyClock recorderClock;
    recorder::CNoteRecorder noteRecorder(recorderClock);

    app::CMainApp theApp({music, outputPort, prompts, *keyBedDevice, keyNoteMap, noteRecorder});
    theApp.InitInstance();
    return theApp.ExitCode();
}
