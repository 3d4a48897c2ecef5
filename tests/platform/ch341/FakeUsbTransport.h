#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ch341/IUsbTransport.h"

namespace platform::ch341::test {

// One USB transfer the driver is expected to make, and what the fake answers.
struct Transfer {
    enum class Kind { Control, ControlIn, BulkOut, BulkIn };
    Kind kind = Kind::BulkOut;
    std::uint8_t endpoint = 0;  // bulk only
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::vector<std::uint8_t> bytes;  // OUT: the exact bytes expected; IN: the reply
    Ch341Error result = Ch341Error::None;
    int transferred = -1;  // -1: all of `bytes`

    static Transfer Control(std::uint8_t type, std::uint8_t req, std::uint16_t value,
                            std::uint16_t index, Ch341Error result = Ch341Error::None);
    static Transfer ControlIn(std::uint8_t type, std::uint8_t req, std::uint16_t value,
                              std::uint16_t index, std::vector<std::uint8_t> reply,
                              Ch341Error result = Ch341Error::None);
    static Transfer Out(std::uint8_t ep, std::vector<std::uint8_t> bytes,
                        Ch341Error result = Ch341Error::None, int transferred = -1);
    static Transfer In(std::uint8_t ep, std::vector<std::uint8_t> reply,
                       Ch341Error result = Ch341Error::None);
};

// A USB stack that checks every transfer against a script, byte for byte, and reports a
// mismatch, a transfer beyond the script or overlapping transfers as test failures.
class FakeUsbTransport final : public IUsbTransport {
public:
    struct State {
        std::mutex mutex;
        std::deque<Transfer> script;
        std::vector<std::size_t> inBufferSizes;
        int opens = 0;
        int closes = 0;
        int hotplugStops = 0;
        std::vector<UsbDeviceInfo> opened;
        std::atomic<int> inFlight{0};
        bool overlapped = false;
        // When set, unscripted transfers succeed with `autoReply` instead of failing.
        bool autoAnswer = false;
        std::vector<std::uint8_t> autoReply{0xFF, 0xFF, 0xFF, 0, 0, 0};
        // The chip-version request (0xC0/0x5F) is answered with this unless the script's next
        // transfer is a control IN; empty: it goes through the script like any other.
        std::vector<std::uint8_t> chipVersion{0x30, 0x00};
        int versionReads = 0;
    };

    explicit FakeUsbTransport(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::vector<UsbDeviceInfo> devices;
    Ch341Error openResult = Ch341Error::None;
    Ch341Error hotplugResult = Ch341Error::None;
    HotplugHandler handler;  // set while hot-plug runs

    std::vector<UsbDeviceInfo> ListDevices() override { return devices; }
    Ch341Error Open(const UsbDeviceInfo& device,
                    std::unique_ptr<IUsbDeviceHandle>& handle) override;
    Ch341Error StartHotplug(HotplugHandler h) override;
    void StopHotplug() override;

    // What the event thread would do on an arrival or removal.
    void Fire(HotplugEvent event, const UsbDeviceInfo& device);

private:
    std::shared_ptr<State> state_;
};

}  // namespace platform::ch341::test
