#include "platform/ch341/Ch341UsbDevice.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "platform/ch341/AccessAdvice.h"
#include "platform/ch341/LibusbTransport.h"
#include "platform/log/DebugOutput.h"

namespace platform::ch341 {

namespace {

struct UsbId {
    std::uint16_t vendorId;
    std::uint16_t productId;
};

// The chip family in serial mode (CH340/CH341 UART, also under WCH's older vendor id 4348):
// the same interface triple as the bridge, but a serial port, never a key bed.
constexpr std::array<UsbId, 4> kSerialIds{{
    {0x1A86, 0x7523},
    {0x1A86, 0x5523},
    {0x1A86, 0x7522},
    {0x4348, 0x5523},
}};

bool LooksLikeTheBridge(const UsbDeviceInfo& device) {
    if (device.vendorId == Ch341UsbDevice::kVendorId &&
        device.productId == Ch341UsbDevice::kProductId) {
        return true;
    }
    for (const UsbId& serial : kSerialIds) {
        if (device.vendorId == serial.vendorId && device.productId == serial.productId) {
            return false;
        }
    }
    return device.hasInterface0 && device.interfaceClass == 0xFF &&
           device.interfaceSubClass == 0x01 && device.interfaceProtocol == 0x02;
}

std::string Hex(unsigned value, int digits) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%0*x", digits, value);
    return text.data();
}

// "bus 001 address 004 (1a86:5512)", as lsusb names a device.
std::string Name(const UsbDeviceInfo& device) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "bus %03u address %03u (%04x:%04x)",
                  unsigned{device.bus}, unsigned{device.address}, unsigned{device.vendorId},
                  unsigned{device.productId});
    return text.data();
}

// The 0xA1 command: 11 bytes, as the chip's vendor sends it.
std::array<std::uint8_t, Ch341UsbDevice::kSetOutputLength> SetOutputPacket(ULONG enable,
                                                                           ULONG direction,
                                                                           ULONG data) {
    return {Ch341UsbDevice::kCmdSetOutput,
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
}

// The line word from the chip's reply to 0xA0. Byte 1 bit 4 (word bit 12) carries no line;
// byte 2 bit 7 is SDA (bit 23).
DWORD InputWord(std::span<const std::uint8_t> reply) {
    return DWORD{reply[0]} | DWORD{static_cast<std::uint8_t>(reply[1] & 0xEF)} << 8 |
           DWORD{static_cast<std::uint8_t>(reply[2] & 0x80)} << 16;
}

void LogIfSkipped(const UsbDeviceInfo& device) {
    if (!device.kernelDriver.empty() && LooksLikeTheBridge(device)) {
        OutputDebugString("CH341 " + Name(device) + " skipped: kernel driver " +
                          device.kernelDriver + " is bound to it");
    }
}

}  // namespace

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
    return LooksLikeTheBridge(device) && device.kernelDriver.empty();
}

std::vector<UsbDeviceInfo> Ch341UsbDevice::ListDevices() {
    std::vector<UsbDeviceInfo> found;
    for (const UsbDeviceInfo& device : transport_->ListDevices()) {
        if (IsCh341(device)) {
            found.push_back(device);
        } else {
            LogIfSkipped(device);
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
    if (event == HotplugEvent::Left) {
        bool ours = false;
        {
            std::lock_guard lock(deviceMutex_);
            ours = IsOursLocked(device);
        }
        if (ours) {
            ReportRemoval();
        }
        return;
    }
    if (!IsCh341(device)) {
        LogIfSkipped(device);
        return;
    }
    std::lock_guard lock(notifyMutex_);
    removalReported_ = false;
    if (notify_) {
        notify_(CH341_DEVICE_ARRIVAL);
    }
}

bool Ch341UsbDevice::IsOursLocked(const UsbDeviceInfo& device) const {
    // A serial adapter pulled out must not close the key bed that stays in.
    if (handles_.empty()) {
        return IsCh341(device);
    }
    for (const auto& [index, opened] : handles_) {
        if (opened.info.bus == device.bus && opened.info.address == device.address) {
            return true;
        }
    }
    return false;
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
        const UsbDeviceInfo& device = devices[index];
        std::unique_ptr<IUsbDeviceHandle> handle;
        Ch341Error error = transport_->Open(device, handle);
        if (error == Ch341Error::None && !handle) {
            error = Ch341Error::Io;
        }
        if (error == Ch341Error::DriverBound) {
            // Bound between the listing and the open: still never taken.
            OutputDebugString("CH341 " + Name(device) +
                              " skipped: a kernel driver is bound to its interface 0");
        }
        if (error == Ch341Error::Access) {
            OutputDebugString(AccessAdvice(device));
        }
        if (error == Ch341Error::None) {
            // A failed version read is only logged: a dead chip shows in the first scan.
            if (LogChipVersionLocked(*handle, device) == Ch341Error::NoDevice) {
                error = Ch341Error::NoDevice;
            }
        }
        if (error != Ch341Error::None) {
            FinishLocked(index, error, "OpenDevice");
            return false;
        }
        handles_[index] = OpenedDevice{std::move(handle), device};
        FinishLocked(index, Ch341Error::None, "OpenDevice");
    }
    std::lock_guard lock(notifyMutex_);
    removalReported_ = false;
    return true;
}

Ch341Error Ch341UsbDevice::LogChipVersionLocked(IUsbDeviceHandle& handle,
                                                const UsbDeviceInfo& device) {
    std::array<std::uint8_t, 2> reply{};
    int got = 0;
    Ch341Error error =
        handle.ControlIn(kRequestTypeVendorIn, kRequestGetVersion, 0, 0, reply, got, kTimeoutMs);
    if (error == Ch341Error::None && got < static_cast<int>(reply.size())) {
        error = Ch341Error::ShortTransfer;
    }
    std::string line = "CH341 " + Name(device) + " opened, chip version ";
    if (error == Ch341Error::None) {
        const unsigned version = reply[0] | unsigned{reply[1]} << 8;  // little-endian
        line += "0x" + Hex(version, 4);
        if (version < kFirstVersionWithParallelIo) {
            line += " (older than the CH341A: its input reads will not answer)";
        }
    } else {
        line += "unknown (" + std::string(ToString(error)) + ")";
    }
    OutputDebugString(line);
    return error;
}

void Ch341UsbDevice::CloseDevice(ULONG index) {
    std::lock_guard lock(deviceMutex_);
    handles_.erase(index);
}

IUsbDeviceHandle* Ch341UsbDevice::HandleLocked(ULONG index) {
    const auto found = handles_.find(index);
    return found == handles_.end() ? nullptr : found->second.handle.get();
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
    const auto packet = SetOutputPacket(enable, direction, data);
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
    const std::array<std::uint8_t, 1> command{kCmdGetStatus};
    return ReadLines(index, command, word, "GetInput");
}

bool Ch341UsbDevice::SetOutputThenGetInput(ULONG index, ULONG enable, ULONG direction, ULONG data,
                                           DWORD* word) {
    // One bulk transfer carrying two command packets, as the chip's vendor batches its own
    // commands: the 0xA1 packet, zero-filled to the 32-byte packet boundary, then 0xA0 as a
    // packet of its own (whether the chip takes 0xA0 after 0xA1 inside one packet is not
    // known). Neither command has a reply to wait for, so the pair costs one transfer and the
    // read a second: two round trips per row instead of three.
    std::array<std::uint8_t, kPacketLength + 1> batch{};
    const auto setOutput = SetOutputPacket(enable, direction, data);
    std::copy(setOutput.begin(), setOutput.end(), batch.begin());
    batch[kPacketLength] = kCmdGetStatus;
    return ReadLines(index, batch, word, "SetOutputThenGetInput");
}

bool Ch341UsbDevice::ReadLines(ULONG index, std::span<const std::uint8_t> commands, DWORD* word,
                               std::string_view operation) {
    if (word == nullptr) {
        std::lock_guard lock(deviceMutex_);
        FinishLocked(index, Ch341Error::InvalidArgument, operation);
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
            int moved = 0;
            error = handle->BulkOut(kEndpointOut, commands, moved, kTimeoutMs);
            if (error == Ch341Error::None && moved != static_cast<int>(commands.size())) {
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
                *word = InputWord(reply);
            }
        }
        vanished = FinishLocked(index, error, operation);
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
