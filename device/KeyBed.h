#pragma once

#include <chrono>
#include <functional>
#include <string_view>

#include "device/IKeyBedView.h"
#include "device/KeyScanThread.h"
#include "device/KeyScanner.h"
#include "platform/ch341/ICh341Device.h"

namespace device {

// The main dialog's key-bed state: opening at start-up, plug and unplug, the window title,
// and the scan thread, which runs exactly while the device is open. GUI thread, except the
// two posting hooks. Handlers may wait for one USB transfer (stopping the scan), so the
// dialog calls them without holding the performance lock.
class KeyBed {
public:
    static constexpr std::string_view kTitleWorking = "键乐坊 -- 正常工作中";
    static constexpr std::string_view kTitleNoDevice = "键乐坊 -- 未插设备";
    static constexpr std::string_view kOpenFailedText = "打开设备失败!";
    static constexpr std::string_view kOpenFailedCaption = "键乐坊 -- 岚桥科技";
    // Posted through the device-event hook by the scan thread when the first scan after an
    // open read no row: the chip opened but does not answer. Not a driver code.
    static constexpr ULONG kScanFailedEvent = 0x100;

    // Called on the driver's thread with a plug/unplug code, or on the key-bed thread with
    // kScanFailedEvent: must only post a call of OnDeviceEvent(code) to the GUI thread.
    using DeviceEventPoster = std::function<void(ULONG code)>;
    // Called on the key-bed thread with a row's events, or on the GUI thread with the
    // releases of the keys held when the device went away: must only post them to the GUI
    // thread (where CKeyNoteMap::HandleKeyEvents takes them), in call order.
    using KeyEventPoster = KeyScanThread::EventSink;

    // `device` and `view` must outlive this object.
    KeyBed(platform::ch341::ICh341Device& device, IKeyBedView& view,
           DeviceEventPoster postDeviceEvent, KeyEventPoster postKeyEvents,
           std::chrono::nanoseconds scanPeriod = KeyScanThread::kPeriod);
    // Runs Destroy when the dialog did not.
    ~KeyBed();
    KeyBed(const KeyBed&) = delete;
    KeyBed& operator=(const KeyBed&) = delete;

    // Start-up: registers the notification before the first open, so no plug-in is missed,
    // opens the device, sets the title and, when open, parallel mode 2 and the scan. No box.
    void Start(ULONG index = 0);
    // A posted plug (3) or unplug (0) code; any other code only sets the title again (and
    // parallel mode when open). kScanFailedEvent of the current scan is a failed open. When
    // the device leaves the open state, every key the scan holds is released through the
    // key-event hook. At most one open-failure box shows at a time: events that arrive while
    // it is up (its modal loop runs them) are handled without a second box.
    void OnDeviceEvent(ULONG code);
    // Runs first on the key-bed thread whenever a scan starts; set before Start.
    void SetScanThreadSetup(KeyScanThread::ThreadSetup setup) {
        scanThread_.SetThreadSetup(std::move(setup));
    }
    // Stops the scan, closes the device, clears the open flag; returns 1.
    BOOL CloseDevice();
    // Window destruction: unregisters the notification, then closes the device.
    void Destroy();

    bool IsDeviceOpen() const { return m_bDeviceOpen; }
    ULONG DeviceIndex() const { return m_nDeviceIndex; }
    bool IsScanning() const { return scanThread_.IsRunning(); }
    const KeyScanner& Scanner() const { return scanner_; }

private:
    // Title, parallel mode and scan thread after the open flag changed.
    void ApplyOpenState();
    void OnScanFailed();
    // Posts a release for every key the (stopped) scan holds.
    void ReleaseHeldKeys();
    void ShowOpenFailedBox();

    platform::ch341::ICh341Device& device_;
    IKeyBedView& view_;
    DeviceEventPoster postDeviceEvent_;
    KeyEventPoster postKeyEvents_;

    ULONG m_nDeviceIndex = 0;
    bool m_bDeviceOpen = false;
    bool registered_ = false;
    bool boxShowing_ = false;

    KeyScanner scanner_;
    KeyScanThread scanThread_;  // declared last: stopped before the scanner goes
};

}  // namespace device
