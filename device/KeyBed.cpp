#include "device/KeyBed.h"

#include <vector>

#include "platform/log/DebugOutput.h"

namespace device {

using platform::ch341::CH341_DEVICE_ARRIVAL;
using platform::ch341::CH341_DEVICE_REMOVE;
using platform::ch341::CH341_PARALLEL_MODE_MEM;

KeyBed::KeyBed(platform::ch341::ICh341Device& device, IKeyBedView& view,
               DeviceEventPoster postDeviceEvent, KeyEventPoster postKeyEvents,
               std::chrono::nanoseconds scanPeriod)
    : device_(device),
      view_(view),
      postDeviceEvent_(std::move(postDeviceEvent)),
      postKeyEvents_(std::move(postKeyEvents)),
      scanThread_(scanner_, device, scanPeriod) {}

KeyBed::~KeyBed() {
    if (registered_ || m_bDeviceOpen || scanThread_.IsRunning()) {
        Destroy();
    }
}

void KeyBed::Start(ULONG index) {
    m_nDeviceIndex = index;
    m_bDeviceOpen = false;
    // The routine runs on the driver's thread: it only hands the code to the poster.
    device_.SetDeviceNotify(m_nDeviceIndex, [poster = postDeviceEvent_](ULONG code) {
        if (poster) {
            poster(code);
        }
    });
    registered_ = true;
    m_bDeviceOpen = device_.OpenDevice(m_nDeviceIndex);
    ApplyOpenState();
}

void KeyBed::OnDeviceEvent(ULONG code) {
    if (code == kScanFailedEvent) {
        OnScanFailed();
        return;
    }
    const bool wasOpen = m_bDeviceOpen;
    bool openFailed = false;
    if (code == CH341_DEVICE_ARRIVAL) {
        // A reopen replaces the handle under the scan; stop it meanwhile.
        scanThread_.Stop();
        m_bDeviceOpen = device_.OpenDevice(m_nDeviceIndex);
        openFailed = !m_bDeviceOpen;
    } else if (code == CH341_DEVICE_REMOVE) {
        scanThread_.Stop();
        device_.CloseDevice(m_nDeviceIndex);
        m_bDeviceOpen = false;
    }
    ApplyOpenState();
    if (wasOpen && !m_bDeviceOpen) {
        ReleaseHeldKeys();
    }
    // Last, with the state settled: the box's modal loop may run further events.
    if (openFailed) {
        ShowOpenFailedBox();
    }
}

void KeyBed::OnScanFailed() {
    // A report of an earlier scan, overtaken by an unplug or a reopen, changes nothing.
    if (!m_bDeviceOpen || !scanThread_.FirstTickFailed()) {
        return;
    }
    platform::OutputDebugString(
        "Key bed: the first scan read no row; the chip does not answer. "
        "Closed as a failed open.");
    scanThread_.Stop();
    device_.CloseDevice(m_nDeviceIndex);
    m_bDeviceOpen = false;
    ApplyOpenState();
    ReleaseHeldKeys();
    ShowOpenFailedBox();
}

void KeyBed::ReleaseHeldKeys() {
    std::vector<KeyEvent> released;
    scanner_.ReleaseHeldKeys(released);
    if (!released.empty() && postKeyEvents_) {
        postKeyEvents_(released);
    }
}

void KeyBed::ShowOpenFailedBox() {
    if (boxShowing_) {
        return;
    }
    boxShowing_ = true;
    view_.ShowErrorBox(kOpenFailedText, kOpenFailedCaption);
    boxShowing_ = false;
}

void KeyBed::ApplyOpenState() {
    if (m_bDeviceOpen) {
        view_.SetWindowTitle(kTitleWorking);
        device_.InitParallel(m_nDeviceIndex, CH341_PARALLEL_MODE_MEM);
        scanThread_.Start(m_nDeviceIndex, postKeyEvents_, [poster = postDeviceEvent_] {
            if (poster) {
                poster(kScanFailedEvent);
            }
        });
    } else {
        scanThread_.Stop();
        view_.SetWindowTitle(kTitleNoDevice);
    }
}

BOOL KeyBed::CloseDevice() {
    scanThread_.Stop();
    device_.CloseDevice(m_nDeviceIndex);
    m_bDeviceOpen = false;
    return 1;
}

void KeyBed::Destroy() {
    // Unregistering waits for a running notification, so nothing is posted afterwards.
    device_.SetDeviceNotify(m_nDeviceIndex, nullptr);
    registered_ = false;
    CloseDevice();
}

}  // namespace device
