#include "platform/ch341/LibusbTransport.h"

#include <libusb.h>

#include <array>
#include <string>
#include <system_error>

#include "platform/log/DebugOutput.h"

namespace platform::ch341 {

namespace {

class LibusbDeviceHandle final : public IUsbDeviceHandle {
public:
    explicit LibusbDeviceHandle(libusb_device_handle* handle) : handle_(handle) {}
    ~LibusbDeviceHandle() override {
        libusb_release_interface(handle_, 0);
        libusb_close(handle_);
    }
    LibusbDeviceHandle(const LibusbDeviceHandle&) = delete;
    LibusbDeviceHandle& operator=(const LibusbDeviceHandle&) = delete;

    Ch341Error ControlOut(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                          std::uint16_t index, std::span<const std::uint8_t> data,
                          unsigned timeoutMs) override {
        // libusb takes a mutable pointer for both directions; an OUT stage only reads it.
        auto* bytes = const_cast<unsigned char*>(data.data());
        const int result =
            libusb_control_transfer(handle_, requestType, request, value, index, bytes,
                                    static_cast<std::uint16_t>(data.size()), timeoutMs);
        return result < 0 ? LibusbTransport::FromLibusb(result) : Ch341Error::None;
    }

    Ch341Error ControlIn(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                         std::uint16_t index, std::span<std::uint8_t> buffer, int& transferred,
                         unsigned timeoutMs) override {
        const int result =
            libusb_control_transfer(handle_, requestType, request, value, index, buffer.data(),
                                    static_cast<std::uint16_t>(buffer.size()), timeoutMs);
        transferred = result < 0 ? 0 : result;
        return result < 0 ? LibusbTransport::FromLibusb(result) : Ch341Error::None;
    }

    Ch341Error BulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data, int& transferred,
                       unsigned timeoutMs) override {
        auto* bytes = const_cast<unsigned char*>(data.data());
        return LibusbTransport::FromLibusb(libusb_bulk_transfer(
            handle_, endpoint, bytes, static_cast<int>(data.size()), &transferred, timeoutMs));
    }

    Ch341Error BulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer, int& transferred,
                      unsigned timeoutMs) override {
        return LibusbTransport::FromLibusb(libusb_bulk_transfer(handle_, endpoint, buffer.data(),
                                                                static_cast<int>(buffer.size()),
                                                                &transferred, timeoutMs));
    }

private:
    libusb_device_handle* handle_;
};

// Owns a device list from libusb_get_device_list.
struct DeviceList {
    explicit DeviceList(libusb_context* context) {
        const ssize_t count = libusb_get_device_list(context, &devices);
        size = count < 0 ? 0 : static_cast<std::size_t>(count);
    }
    ~DeviceList() {
        if (devices != nullptr) {
            libusb_free_device_list(devices, 1);
        }
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    libusb_device** devices = nullptr;
    std::size_t size = 0;
};

int LIBUSB_CALL HotplugCallback(libusb_context* /*context*/, libusb_device* device,
                                libusb_hotplug_event event, void* self) {
    static_cast<LibusbTransport*>(self)->DispatchHotplug(
        event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? HotplugEvent::Arrived : HotplugEvent::Left,
        device);
    return 0;  // stay registered
}

}  // namespace

LibusbTransport::LibusbTransport() {
    const int result = libusb_init(&context_);
    if (result < 0) {
        context_ = nullptr;
        OutputDebugString(std::string("libusb_init failed: ") + libusb_error_name(result));
    }
}

LibusbTransport::~LibusbTransport() {
    StopHotplug();
    if (context_ != nullptr) {
        libusb_exit(context_);
    }
}

Ch341Error LibusbTransport::FromLibusb(int code) {
    switch (code) {
        case LIBUSB_SUCCESS:
            return Ch341Error::None;
        case LIBUSB_ERROR_INVALID_PARAM:
            return Ch341Error::InvalidArgument;
        case LIBUSB_ERROR_ACCESS:
            return Ch341Error::Access;
        case LIBUSB_ERROR_NO_DEVICE:
            return Ch341Error::NoDevice;
        case LIBUSB_ERROR_NOT_FOUND:
            return Ch341Error::NotFound;
        case LIBUSB_ERROR_BUSY:
            return Ch341Error::Busy;
        case LIBUSB_ERROR_TIMEOUT:
            return Ch341Error::Timeout;
        case LIBUSB_ERROR_OVERFLOW:
            return Ch341Error::Overflow;
        case LIBUSB_ERROR_PIPE:
            return Ch341Error::Stall;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return Ch341Error::Unsupported;
        default:
            return Ch341Error::Io;
    }
}

UsbDeviceInfo LibusbTransport::Describe(libusb_device* device) {
    UsbDeviceInfo info;
    info.bus = libusb_get_bus_number(device);
    info.address = libusb_get_device_address(device);
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS) {
        info.vendorId = descriptor.idVendor;
        info.productId = descriptor.idProduct;
    }
    // Cached descriptors: no transfer, so this is allowed inside a hot-plug callback.
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_config_descriptor(device, 0, &config) == LIBUSB_SUCCESS) {
        if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
            const libusb_interface_descriptor& alt = config->interface[0].altsetting[0];
            info.hasInterface0 = true;
            info.interfaceClass = alt.bInterfaceClass;
            info.interfaceSubClass = alt.bInterfaceSubClass;
            info.interfaceProtocol = alt.bInterfaceProtocol;
            // Interface 0 of the device's configuration, as sysfs names it: "1-1.4:1.0".
            std::array<std::uint8_t, 8> ports{};
            const int depth =
                libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
            if (depth > 0) {
                info.kernelDriver =
                    BoundDriver(kSysfsUsbDevices,
                                InterfaceName(info.bus, std::span(ports.data(), std::size_t(depth)),
                                              config->bConfigurationValue, 0));
            }
        }
        libusb_free_config_descriptor(config);
    }
    return info;
}

std::string LibusbTransport::InterfaceName(std::uint8_t bus, std::span<const std::uint8_t> ports,
                                           std::uint8_t configuration, std::uint8_t interface) {
    std::string name = std::to_string(bus) + "-";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        name += (i == 0 ? "" : ".") + std::to_string(ports[i]);
    }
    return name + ":" + std::to_string(configuration) + "." + std::to_string(interface);
}

std::string LibusbTransport::BoundDriver(const std::filesystem::path& usbDevices,
                                         std::string_view interfaceName) {
    // The interface's "driver" link points into /sys/bus/usb/drivers/<name>; it exists only
    // while a driver is bound. usbfs is libusb's own claim, not a kernel driver.
    std::error_code error;
    const std::filesystem::path target =
        std::filesystem::read_symlink(usbDevices / interfaceName / "driver", error);
    if (error) {
        return {};
    }
    const std::string name = target.filename().string();
    return name == "usbfs" ? std::string() : name;
}

std::vector<UsbDeviceInfo> LibusbTransport::ListDevices() {
    std::vector<UsbDeviceInfo> found;
    if (context_ == nullptr) {
        return found;
    }
    const DeviceList list(context_);
    for (std::size_t i = 0; i < list.size; ++i) {
        found.push_back(Describe(list.devices[i]));
    }
    return found;
}

Ch341Error LibusbTransport::Open(const UsbDeviceInfo& device,
                                 std::unique_ptr<IUsbDeviceHandle>& handle) {
    handle.reset();
    if (context_ == nullptr) {
        return Ch341Error::Unsupported;
    }
    const DeviceList list(context_);
    for (std::size_t i = 0; i < list.size; ++i) {
        libusb_device* candidate = list.devices[i];
        if (libusb_get_bus_number(candidate) != device.bus ||
            libusb_get_device_address(candidate) != device.address) {
            continue;
        }
        libusb_device_handle* raw = nullptr;
        const int opened = libusb_open(candidate, &raw);
        if (opened < 0) {
            return FromLibusb(opened);
        }
        auto owned = std::make_unique<LibusbDeviceHandle>(raw);
        // A bound kernel driver (a serial adapter's, or a bus driver on the bridge) keeps its
        // device: detaching it would take the user's port away.
        if (libusb_kernel_driver_active(raw, 0) == 1) {
            return Ch341Error::DriverBound;
        }
        const int claimed = libusb_claim_interface(raw, 0);
        if (claimed < 0) {
            // The handle's destructor releases (harmless when unclaimed) and closes.
            return FromLibusb(claimed);
        }
        handle = std::move(owned);
        return Ch341Error::None;
    }
    return Ch341Error::NoDevice;
}

void LibusbTransport::DispatchHotplug(HotplugEvent event, libusb_device* device) {
    // No exception may cross into libusb.
    try {
        if (handler_) {
            handler_(event, Describe(device));
        }
    } catch (...) {
        OutputDebugString("CH341 hot-plug handler threw; event dropped");
    }
}

Ch341Error LibusbTransport::StartHotplug(HotplugHandler handler) {
    if (context_ == nullptr || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        return Ch341Error::Unsupported;
    }
    StopHotplug();
    handler_ = std::move(handler);
    // Any vendor: a CH341 whose EEPROM changed the ids is recognised by its interface.
    const int result = libusb_hotplug_register_callback(
        context_,
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                          LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        LIBUSB_HOTPLUG_MATCH_ANY, &HotplugCallback, this, &hotplugHandle_);
    if (result != LIBUSB_SUCCESS) {
        handler_ = nullptr;
        return FromLibusb(result);
    }
    stopEvents_ = false;
    eventThread_ = std::thread([this] { EventLoop(); });
    return Ch341Error::None;
}

void LibusbTransport::EventLoop() {
    while (!stopEvents_) {
        timeval timeout{0, 200'000};  // bounds the stop latency if a wake-up is missed
        libusb_handle_events_timeout_completed(context_, &timeout, nullptr);
    }
}

void LibusbTransport::StopHotplug() {
    if (!eventThread_.joinable()) {
        return;
    }
    stopEvents_ = true;
    libusb_hotplug_deregister_callback(context_, hotplugHandle_);
    libusb_interrupt_event_handler(context_);
    eventThread_.join();
    handler_ = nullptr;
}

}  // namespace platform::ch341
