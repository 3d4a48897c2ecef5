#include "device/KeyBed.h"

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
    if (code == CH341_DEVICE_ARRIVAL) {
        // A reopen replaces the handle under the scan; stop it meanwhile.
        scanThread_.Stop();
        if (device_.OpenDevice(m_nDeviceIndex)) {
            m_bDeviceOpen = true;
        } else {
            view_.ShowErrorBox(kOpenFailedText, kOpenFailedCaption);
            m_bDeviceOpen = false;
        }
    } else if (code == CH341_DEVICE_REMOVE) {
        scanThread_.Stop();
        device_.CloseDevice(m_nDeviceIndex);
        m_bDeviceOpen = false;
    }
    ApplyOpenState();
}

void KeyBed::ApplyOpenState() {
    if (m_bDeviceOpen) {
        view_.SetWindowTitle(kTitleWorking);
        device_.InitParallel(m_nDeviceIndex, CH341_PARALLEL_MODE_MEM);
        scanThread_.Start(m_nDeviceIndex, postKeyEvents_);
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
