#include "platform/ch341/LibusbTransport.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/log/DebugOutput.h"

namespace platform::ch341 {

namespace {

struct TransferDeleter {
    void operator()(libusb_transfer* transfer) const { libusb_free_transfer(transfer); }
};
using TransferPtr = std::unique_ptr<libusb_transfer, TransferDeleter>;

// One queued exchange: its transfers and the buffers they move, owned together so that, in
// the unlikely case libusb never gives a cancelled transfer back, all of it is leaked rather
// than freed under the kernel. libusb runs the completion callback on whichever thread
// handles events (the scan thread, or the hot-plug event thread), one at a time under its
// event lock; the scan thread reads the counters without that lock, hence atomics.
struct Exchange {
    std::vector<std::vector<std::uint8_t>> buffers;  // one per transfer, the read's last
    std::vector<TransferPtr> transfers;              // declared after: freed before the buffers
    std::atomic<int> pending{0};
    std::atomic<bool> failed{false};
    int allDone = 0;  // the "completed" flag libusb_handle_events_timeout_completed watches
};

void LIBUSB_CALL OnExchangeTransferDone(libusb_transfer* transfer) {
    auto* exchange = static_cast<Exchange*>(transfer->user_data);
    const bool out = (transfer->endpoint & LIBUSB_ENDPOINT_IN) == 0;
    if (transfer->status != LIBUSB_TRANSFER_COMPLETED ||
        (out && transfer->actual_length < transfer->length)) {
        exchange->failed = true;
    }
    if (--exchange->pending == 0) {
        exchange->allDone = 1;
    }
}

Ch341Error FromTransferStatus(int status) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return Ch341Error::None;
        case LIBUSB_TRANSFER_TIMED_OUT:
        case LIBUSB_TRANSFER_CANCELLED:  // only at the deadline, or behind a failure
            return Ch341Error::Timeout;
        case LIBUSB_TRANSFER_STALL:
            return Ch341Error::Stall;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return Ch341Error::NoDevice;
        case LIBUSB_TRANSFER_OVERFLOW:
            return Ch341Error::Overflow;
        default:
            return Ch341Error::Io;
    }
}

class LibusbDeviceHandle final : public IUsbDeviceHandle {
public:
    LibusbDeviceHandle(libusb_context* context, libusb_device_handle* handle)
        : context_(context), handle_(handle) {}
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

    Ch341Error BulkOutsThenIn(std::uint8_t endpointOut,
                              std::span<const std::span<const std::uint8_t>> packets,
                              std::span<int> sent, std::uint8_t endpointIn,
                              std::span<std::uint8_t> buffer, int& received,
                              unsigned timeoutMs) override {
        received = 0;
        std::fill(sent.begin(), sent.end(), 0);
        // One transfer per packet, the read last. The host controller sends an endpoint's
        // transfers in the order they were submitted; the read is answered (NAKed until then)
        // only once the last command has reached the chip.
        auto exchange = std::make_unique<Exchange>();
        exchange->buffers.reserve(packets.size() + 1);
        for (std::size_t i = 0; i <= packets.size(); ++i) {
            TransferPtr transfer(libusb_alloc_transfer(0));
            if (!transfer) {
                return Ch341Error::Io;
            }
            const bool out = i < packets.size();
            auto& data = out ? exchange->buffers.emplace_back(packets[i].begin(), packets[i].end())
                             : exchange->buffers.emplace_back(buffer.size());
            libusb_fill_bulk_transfer(transfer.get(), handle_, out ? endpointOut : endpointIn,
                                      data.data(), static_cast<int>(data.size()),
                                      &OnExchangeTransferDone, exchange.get(), 0);
            exchange->transfers.push_back(std::move(transfer));
        }
        std::vector<TransferPtr>& transfers = exchange->transfers;
        Ch341Error error = Ch341Error::None;
        std::size_t submitted = 0;
        for (; submitted < transfers.size(); ++submitted) {
            const int result = libusb_submit_transfer(transfers[submitted].get());
            if (result < 0) {
                error = LibusbTransport::FromLibusb(result);
                break;
            }
            ++exchange->pending;
        }
        // One transfer timeout bounds the whole exchange. The transfers carry none of their
        // own, so a command behind one that was given up is cancelled before it can go out.
        bool timedOut = false;
        if (error == Ch341Error::None) {
            timedOut = !WaitForExchange(*exchange, std::chrono::milliseconds(timeoutMs));
        }
        if (exchange->pending > 0) {
            CancelFromTheBack(std::span(transfers).first(submitted), *exchange);
        }
        if (exchange->pending > 0) {
            OutputDebugString("CH341 transfers not given back after a cancel; left allocated");
            static_cast<void>(exchange.release());
            return Ch341Error::Io;
        }
        // Every transfer is back: their status and lengths are settled.
        for (std::size_t i = 0; i < submitted; ++i) {
            const libusb_transfer& transfer = *transfers[i];
            if (i < packets.size()) {
                sent[i] = transfer.actual_length;
            } else {
                received = transfer.actual_length;
                std::copy_n(exchange->buffers[i].begin(), received, buffer.begin());
            }
            if (error != Ch341Error::None) {
                continue;
            }
            error = FromTransferStatus(transfer.status);
            if (error == Ch341Error::None && i < packets.size() &&
                transfer.actual_length < transfer.length) {
                error = Ch341Error::ShortTransfer;
            }
        }
        if (error == Ch341Error::None && timedOut) {
            error = Ch341Error::Timeout;
        }
        return error;
    }

private:
    // Handles events until every transfer is done (true), or one failed or the time is up.
    bool WaitForExchange(Exchange& exchange, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (exchange.pending > 0 && !exchange.failed) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero()) {
                return false;
            }
            const auto us = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
            timeval wait{static_cast<time_t>(us / 1'000'000),
                         static_cast<suseconds_t>(us % 1'000'000)};
            libusb_handle_events_timeout_completed(context_, &wait, &exchange.allDone);
        }
        return !exchange.failed;
    }

    // Cancels the later transfers first, so that no command goes out behind one given up,
    // and waits (bounded) until libusb has given every transfer back.
    void CancelFromTheBack(std::span<const TransferPtr> submitted, Exchange& exchange) {
        for (auto it = submitted.rbegin(); it != submitted.rend(); ++it) {
            libusb_cancel_transfer(it->get());  // NOT_FOUND when it is done already
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (exchange.pending > 0 && std::chrono::steady_clock::now() < deadline) {
            timeval wait{0, 100'000};
            libusb_handle_events_timeout_completed(context_, &wait, &exchange.allDone);
        }
    }

    libusb_context* context_;
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
        auto owned = std::make_unique<LibusbDeviceHandle>(context_, raw);
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
