#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/ch341/Ch341Error.h"

namespace platform::ch341 {

// One USB device as listed, with the class triple of interface 0 (altsetting 0) and the kernel
// driver bound to that interface when the transport can tell (empty: none, or unknown).
struct UsbDeviceInfo {
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool hasInterface0 = false;
    std::uint8_t interfaceClass = 0;
    std::uint8_t interfaceSubClass = 0;
    std::uint8_t interfaceProtocol = 0;
    std::string kernelDriver;

    friend bool operator==(const UsbDeviceInfo&, const UsbDeviceInfo&) = default;
};

enum class HotplugEvent { Arrived, Left };

// An open device with interface 0 claimed. Destruction releases the interface and closes.
class IUsbDeviceHandle {
public:
    virtual ~IUsbDeviceHandle() = default;

    // Vendor control request without data stage when `data` is empty.
    virtual Ch341Error ControlOut(std::uint8_t requestType, std::uint8_t request,
                                  std::uint16_t value, std::uint16_t index,
                                  std::span<const std::uint8_t> data, unsigned timeoutMs) = 0;
    // Vendor control request with an IN data stage of up to `buffer.size()` bytes.
    virtual Ch341Error ControlIn(std::uint8_t requestType, std::uint8_t request,
                                 std::uint16_t value, std::uint16_t index,
                                 std::span<std::uint8_t> buffer, int& transferred,
                                 unsigned timeoutMs) = 0;
    virtual Ch341Error BulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data,
                               int& transferred, unsigned timeoutMs) = 0;
    virtual Ch341Error BulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer,
                              int& transferred, unsigned timeoutMs) = 0;
};

// The seam between the CH341 driver and libusb: everything the driver asks of the USB stack.
class IUsbTransport {
public:
    // Runs on the transport's event thread; must not start a transfer.
    using HotplugHandler = std::function<void(HotplugEvent, const UsbDeviceInfo&)>;

    virtual ~IUsbTransport() = default;

    virtual std::vector<UsbDeviceInfo> ListDevices() = 0;
    // Opens the listed device and claims interface 0. A kernel driver bound to the interface
    // is never detached (it may be the serial driver of a user's adapter): the open fails
    // with DriverBound instead.
    virtual Ch341Error Open(const UsbDeviceInfo& device,
                            std::unique_ptr<IUsbDeviceHandle>& handle) = 0;
    // Starts delivering arrivals and removals of every USB device to `handler`.
    virtual Ch341Error StartHotplug(HotplugHandler handler) = 0;
    // After it returns no handler call is running or will run.
    virtual void StopHotplug() = 0;
};

}  // namespace platform::ch341
