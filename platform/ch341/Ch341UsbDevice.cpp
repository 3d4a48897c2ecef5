#include "platform/ch341/Ch341UsbDevice.h"

#include <array>
#include <string>

#include "platform/ch341/LibusbTransport.h"
#include "platform/log/DebugOutput.h"

namespace platform::ch341 {

Ch341UsbDevice::Ch341UsbDevice(std::unique_ptr<IUsbTransport> transport)
    : transport_(std::move(transport)) {}

Ch341UsbDevice::~Ch341UsbDevice() {
    SetDeviceNotify(0, {});
    std::lock_guard lock(deviceMutex_);
    handles_.clear();
}

std::unique_ptr<Ch341UsbDevice> Ch341UsbDevice::CreateWithLibusb() {
    return std::make_unique<Ch341UsbDevice>(std::make_unique<LibusbTransport>());
}

bool Ch341UsbDevice::IsCh341(const UsbDeviceInfo& device) {
    if (device.vendorId == kVendorId && device.productId == kProductId) {
        return true;
    }
    // The same chip family strapped as a serial adapter shows the same interface triple,
    // but it has no parallel mode: never take a USB-serial cable for the key bed.
    if (device.vendorId == kVendorId &&
        (device.productId == 0x7523 || device.productId == 0x5523 || device.productId == 0x7522)) {
        return false;
    }
    return device.hasInterface0 && device.interfaceClass == 0xFF &&
           device.interfaceSubClass == 0x01 && device.interfaceProtocol == 0x02;
}

std::vector<UsbDeviceInfo> Ch341UsbDevice::ListDevices() {
    std::vector<UsbDeviceInfo> found;
    for (const UsbDeviceInfo& device : transport_->ListDevices()) {
        if (IsCh341(device)) {
            found.push_back(device);
        }
    }
    return found;
}

bool Ch341UsbDevice::SetDeviceNotify(ULONG /*index*/, NotifyRoutine routine) {
    if (routine) {
        bool start = false;
        {
            std::lock_guard lock(notifyMutex_);
            notify_ = std::move(routine);
            start = !hotplugRunning_;
            hotplugRunning_ = true;
        }
        if (!start) {
            return true;
        }
        const Ch341Error error = transport_->StartHotplug(
            [this](HotplugEvent event, const UsbDeviceInfo& device) { OnHotplug(event, device); });
        if (error != Ch341Error::None) {
            OutputDebugString(std::string("CH341 hot-plug unavailable: ") +
                              std::string(ToString(error)) +
                              "; an unplug is still seen when a transfer fails");
            std::lock_guard lock(notifyMutex_);
            hotplugRunning_ = false;
            return false;
        }
        return true;
    }
    bool stop = false;
    {
        std::lock_guard lock(notifyMutex_);
        notify_ = nullptr;
        stop = hotplugRunning_;
        hotplugRunning_ = false;
    }
    // Outside notifyMutex_: the event thread may be waiting for it inside the handler.
    if (stop) {
        transport_->StopHotplug();
    }
    return true;
}

void Ch341UsbDevice::OnHotplug(HotplugEvent event, const UsbDeviceInfo& device) {
    if (!IsCh341(device)) {
        return;
    }
    if (event == HotplugEvent::Left) {
        ReportRemoval();
        return;
    }
    std::lock_guard lock(notifyMutex_);
    removalReported_ = false;
    if (notify_) {
        notify_(CH341_DEVICE_ARRIVAL);
    }
}

void Ch341UsbDevice::ReportRemoval() {
    std::lock_guard lock(notifyMutex_);
    if (removalReported_) {
        return;
    }
    removalReported_ = true;
    if (notify_) {
        notify_(CH341_DEVICE_REMOVE);
    }
}

bool Ch341UsbDevice::OpenDevice(ULONG index) {
    {
        std::lock_guard lock(deviceMutex_);
        handles_.erase(index);
        const std::vector<UsbDeviceInfo> devices = ListDevices();
        if (index >= devices.size()) {
            FinishLocked(index, Ch341Error::NotFound, "OpenDevice");
            return false;
        }
        std::unique_ptr<IUsbDeviceHandle> handle;
        const Ch341Error error = transport_->Open(devices[index], handle);
        if (error != Ch341Error::None || !handle) {
            FinishLocked(index, error == Ch341Error::None ? Ch341Error::Io : error, "OpenDevice");
            return false;
        }
        handles_[index] = std::move(handle);
        FinishLocked(index, Ch341Error::None, "OpenDevice");
    }
    std::lock_guard lock(notifyMutex_);
    removalReported_ = false;
    return true;
}

void Ch341UsbDevice::CloseDevice(ULONG index) {
    std::lock_guard lock(deviceMutex_);
    handles_.erase(index);
}

IUsbDeviceHandle* Ch341UsbDevice::HandleLocked(ULONG index) {
    const auto found = handles_.find(index);
    return found == handles_.end() ? nullptr : found->second.get();
}

bool Ch341UsbDevice::FinishLocked(ULONG index, Ch341Error error, std::string_view operation) {
    lastError_ = error;
    if (error == Ch341Error::None) {
        loggedError_ = Ch341Error::None;
        return false;
    }
    if (error != loggedError_) {
        loggedError_ = error;
        OutputDebugString("CH341 " + std::string(operation) + "(" + std::to_string(index) +
                          ") failed: " + std::string(ToString(error)));
    }
    if (error != Ch341Error::NoDevice) {
        return false;
    }
    handles_.erase(index);
    return true;
}

bool Ch341UsbDevice::InitParallel(ULONG index, ULONG mode) {
    bool vanished = false;
    bool ok = false;
    {
        std::lock_guard lock(deviceMutex_);
        IUsbDeviceHandle* handle = HandleLocked(index);
        Ch341Error error = Ch341Error::None;
        if (handle == nullptr) {
            error = Ch341Error::NotOpen;
        } else if (mode > 0xFF) {
            error = Ch341Error::InvalidArgument;
        } else {
            // wValue: mode in the high byte, 0x02 = "configure this mode" in the low byte.
            const auto value = static_cast<std::uint16_t>((mode << 8) | 0x02);
            error = handle->ControlOut(kRequestTypeVendorOut, kRequestParaInit, value, 0, {},
                                       kTimeoutMs);
        }
        vanished = FinishLocked(index, error, "InitParallel");
        ok = error == Ch341Error::None;
    }
    if (vanished) {
        ReportRemoval();
    }
    return ok;
}

bool Ch341UsbDevice::SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) {
    const std::array<std::uint8_t, kSetOutputLength> packet{
        kCmdSetOutput,
        0x6A,
        static_cast<std::uint8_t>(enable & 0x1F),
        static_cast<std::uint8_t>((data >> 8) & 0xEF),  // word bit 12 does not exist
        static_cast<std::uint8_t>(((direction >> 8) & 0xEF) | 0x10),
        static_cast<std::uint8_t>(data & 0xFF),
        static_cast<std::uint8_t>(direction & 0xFF),
        static_cast<std::uint8_t>((data >> 16) & 0x0F),
        0,
        0,
        0};
    bool vanished = false;
    bool ok = false;
    {
        std::lock_guard lock(deviceMutex_);
        IUsbDeviceHandle* handle = HandleLocked(index);
        Ch341Error error = Ch341Error::NotOpen;
        if (handle != nullptr) {
            int sent = 0;
            error = handle->BulkOut(kEndpointOut, packet, sent, kTimeoutMs);
            if (error == Ch341Error::None && sent != static_cast<int>(packet.size())) {
                error = Ch341Error::ShortTransfer;
            }
        }
        vanished = FinishLocked(index, error, "SetOutput");
        ok = error == Ch341Error::None;
    }
    if (vanished) {
        ReportRemoval();
    }
    return ok;
}

bool Ch341UsbDevice::GetInput(ULONG index, DWORD* word) {
    if (word == nullptr) {
        std::lock_guard lock(deviceMutex_);
        FinishLocked(index, Ch341Error::InvalidArgument, "GetInput");
        return false;
    }
    *word = CH341_INPUT_UNKNOWN;
    bool vanished = false;
    bool ok = false;
    {
        std::lock_guard lock(deviceMutex_);
        IUsbDeviceHandle* handle = HandleLocked(index);
        Ch341Error error = Ch341Error::NotOpen;
        if (handle != nullptr) {
            const std::array<std::uint8_t, 1> command{kCmdGetStatus};
            int moved = 0;
            error = handle->BulkOut(kEndpointOut, command, moved, kTimeoutMs);
            if (error == Ch341Error::None && moved != 1) {
                error = Ch341Error::ShortTransfer;
            }
            std::array<std::uint8_t, kReadBufferLength> reply{};
            if (error == Ch341Error::None) {
                moved = 0;
                error = handle->BulkIn(kEndpointIn, reply, moved, kTimeoutMs);
                if (error == Ch341Error::None && moved < static_cast<int>(kStatusReplyLength)) {
                    error = Ch341Error::ShortTransfer;
                }
            }
            if (error == Ch341Error::None) {
                // Byte 1 bit 4 (word bit 12) carries no line; byte 2 bit 7 is SDA (bit 23).
                *word = DWORD{reply[0]} | DWORD{static_cast<std::uint8_t>(reply[1] & 0xEF)} << 8 |
                        DWORD{static_cast<std::uint8_t>(reply[2] & 0x80)} << 16;
            }
        }
        vanished = FinishLocked(index, error, "GetInput");
        ok = error == Ch341Error::None;
    }
    if (vanished) {
        ReportRemoval();
    }
    return ok;
}

Ch341Error Ch341UsbDevice::LastError() const {
    std::lock_guard lock(deviceMutex_);
    return lastError_;
}

}  // namespace platform::ch341
