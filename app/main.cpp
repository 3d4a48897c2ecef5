// The tunestead program: builds the process-wide music objects, runs the main dialog, and
// tears the objects down after it in reverse order.

#include <QApplication>
#include <memory>

#include "app/CInputReceiver.h"
#include "app/CMainApp.h"
#include "app/MessageBoxPrompts.h"
#include "app/PortSelection.h"
#include "device/CKeyNoteMap.h"
#include "musicport/CCollection.h"
#include "musicport/CDLSLoader.h"
#include "musicport/CDirectMusic.h"
#include "musicport/CInputPort.h"
#include "musicport/CInstrument.h"
#include "musicport/COutputPort.h"
#include "platform/backends/DefaultMusicSystem.h"
#include "platform/ch341/Ch341UsbDevice.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tunestead"));
    QApplication::setApplicationDisplayName(QStringLiteral("键乐坊"));

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

    app::CMainApp theApp({music, outputPort, prompts, *keyBedDevice, keyNoteMap, ports, receiver});
    theApp.InitInstance();
    return theApp.ExitCode();
}
