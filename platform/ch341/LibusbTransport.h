#pragma once

#include <atomic>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "platform/ch341/IUsbTransport.h"

struct libusb_context;
struct libusb_device;

namespace platform::ch341 {

// IUsbTransport over libusb-1.0: its own context, and while hot-plug is on, an event thread
// that runs libusb's event handling and dispatches arrivals and removals.
class LibusbTransport final : public IUsbTransport {
public:
    LibusbTransport();
    ~LibusbTransport() override;
    LibusbTransport(const LibusbTransport&) = delete;
    LibusbTransport& operator=(const LibusbTransport&) = delete;

    std::vector<UsbDeviceInfo> ListDevices() override;
    Ch341Error Open(const UsbDeviceInfo& device,
                    std::unique_ptr<IUsbDeviceHandle>& handle) override;
    Ch341Error StartHotplug(HotplugHandler handler) override;
    void StopHotplug() override;

    // Maps a libusb result code onto the key bed's error vocabulary.
    static Ch341Error FromLibusb(int code);
    static UsbDeviceInfo Describe(libusb_device* device);
    // Where Linux lists USB devices and their interfaces.
    static constexpr std::string_view kSysfsUsbDevices = "/sys/bus/usb/devices";
    // The sysfs name of an interface: bus, port path, configuration value and interface
    // number, e.g. "1-1.4:1.0".
    static std::string InterfaceName(std::uint8_t bus, std::span<const std::uint8_t> ports,
                                     std::uint8_t configuration, std::uint8_t interface);
    // The kernel driver bound to the interface `interfaceName` under `usbDevices`; empty when
    // none (libusb's own usbfs claim counts as none).
    static std::string BoundDriver(const std::filesystem::path& usbDevices,
                                   std::string_view interfaceName);
    // Entry from libusb's hot-plug callback, on the event thread.
    void DispatchHotplug(HotplugEvent event, libusb_device* device);

private:
    void EventLoop();

    libusb_context* context_ = nullptr;
    HotplugHandler handler_;
    int hotplugHandle_ = 0;
    std::atomic<bool> stopEvents_{false};
    std::thread eventThread_;  // runs only between StartHotplug and StopHotplug
};

}  // namespace platform::ch341
