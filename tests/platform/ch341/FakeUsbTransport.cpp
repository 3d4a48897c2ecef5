#include "FakeUsbTransport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform::ch341::test {

Transfer Transfer::Control(std::uint8_t type, std::uint8_t req, std::uint16_t value,
                           std::uint16_t index, Ch341Error result) {
    Transfer t;
    t.kind = Kind::Control;
    t.requestType = type;
    t.request = req;
    t.value = value;
    t.index = index;
    t.result = result;
    return t;
}

Transfer Transfer::ControlIn(std::uint8_t type, std::uint8_t req, std::uint16_t value,
                             std::uint16_t index, std::vector<std::uint8_t> reply,
                             Ch341Error result) {
    Transfer t = Control(type, req, value, index, result);
    t.kind = Kind::ControlIn;
    t.bytes = std::move(reply);
    return t;
}

Transfer Transfer::Out(std::uint8_t ep, std::vector<std::uint8_t> bytes, Ch341Error result,
                       int transferred) {
    Transfer t;
    t.kind = Kind::BulkOut;
    t.endpoint = ep;
    t.bytes = std::move(bytes);
    t.result = result;
    t.transferred = transferred;
    return t;
}

Transfer Transfer::In(std::uint8_t ep, std::vector<std::uint8_t> reply, Ch341Error result) {
    Transfer t;
    t.kind = Kind::BulkIn;
    t.endpoint = ep;
    t.bytes = std::move(reply);
    t.result = result;
    return t;
}

namespace {

class FakeHandle final : public IUsbDeviceHandle {
public:
    explicit FakeHandle(std::shared_ptr<FakeUsbTransport::State> state)
        : state_(std::move(state)) {}
    ~FakeHandle() override {
        std::lock_guard lock(state_->mutex);
        ++state_->closes;
    }

    Ch341Error ControlOut(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                          std::uint16_t index, std::span<const std::uint8_t> data,
                          unsigned /*timeoutMs*/) override {
        const Guard guard(*state_);
        Transfer t;
        if (!Next(Transfer::Kind::Control, t)) {
            return state_->autoAnswer ? Ch341Error::None : Ch341Error::Io;
        }
        EXPECT_EQ(requestType, t.requestType);
        EXPECT_EQ(request, t.request);
        EXPECT_EQ(value, t.value);
        EXPECT_EQ(index, t.index);
        EXPECT_TRUE(data.empty());
        return t.result;
    }

    Ch341Error ControlIn(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                         std::uint16_t index, std::span<std::uint8_t> buffer, int& transferred,
                         unsigned /*timeoutMs*/) override {
        const Guard guard(*state_);
        transferred = 0;
        Transfer t;
        if (!NextControlIn(request, t)) {
            return state_->autoAnswer ? Ch341Error::None : Ch341Error::Io;
        }
        EXPECT_EQ(requestType, t.requestType);
        EXPECT_EQ(request, t.request);
        EXPECT_EQ(value, t.value);
        EXPECT_EQ(index, t.index);
        if (t.result != Ch341Error::None) {
            return t.result;
        }
        const std::size_t n = std::min(buffer.size(), t.bytes.size());
        std::copy_n(t.bytes.begin(), n, buffer.begin());
        transferred = static_cast<int>(n);
        return Ch341Error::None;
    }

    Ch341Error BulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data, int& transferred,
                       unsigned /*timeoutMs*/) override {
        const Guard guard(*state_);
        Transfer t;
        if (!Next(Transfer::Kind::BulkOut, t)) {
            transferred = static_cast<int>(data.size());
            return state_->autoAnswer ? Ch341Error::None : Ch341Error::Io;
        }
        EXPECT_EQ(endpoint, t.endpoint);
        EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.end()), t.bytes);
        transferred = t.transferred >= 0 ? t.transferred : static_cast<int>(data.size());
        if (t.result != Ch341Error::None) {
            transferred = 0;
        }
        return t.result;
    }

    Ch341Error BulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer, int& transferred,
                      unsigned /*timeoutMs*/) override {
        const Guard guard(*state_);
        {
            std::lock_guard lock(state_->mutex);
            state_->inBufferSizes.push_back(buffer.size());
        }
        Transfer t;
        if (!Next(Transfer::Kind::BulkIn, t)) {
            if (!state_->autoAnswer) {
                return Ch341Error::Io;
            }
            t.endpoint = endpoint;
            t.bytes = state_->autoReply;
        }
        EXPECT_EQ(endpoint, t.endpoint);
        transferred = 0;
        if (t.result != Ch341Error::None) {
            return t.result;
        }
        const std::size_t n = std::min(buffer.size(), t.bytes.size());
        std::copy_n(t.bytes.begin(), n, buffer.begin());
        transferred = static_cast<int>(n);
        return Ch341Error::None;
    }

private:
    // Marks a transfer in flight; two at once means the driver let two threads in together.
    struct Guard {
        explicit Guard(FakeUsbTransport::State& s) : state(s) {
            if (state.inFlight.fetch_add(1) != 0) {
                state.overlapped = true;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        ~Guard() { state.inFlight.fetch_sub(1); }
        FakeUsbTransport::State& state;
    };

    // The version request is answered from State::chipVersion unless a control IN is next.
    bool NextControlIn(std::uint8_t request, Transfer& t) {
        {
            std::lock_guard lock(state_->mutex);
            const bool scripted =
                !state_->script.empty() && state_->script.front().kind == Transfer::Kind::ControlIn;
            if (!scripted && request == 0x5F && !state_->chipVersion.empty()) {
                ++state_->versionReads;
                t = Transfer::ControlIn(0xC0, 0x5F, 0, 0, state_->chipVersion);
                return true;
            }
        }
        return Next(Transfer::Kind::ControlIn, t);
    }

    bool Next(Transfer::Kind kind, Transfer& t) {
        std::lock_guard lock(state_->mutex);
        if (state_->script.empty()) {
            if (!state_->autoAnswer) {
                ADD_FAILURE() << "unexpected transfer of kind " << static_cast<int>(kind);
            }
            return false;
        }
        t = state_->script.front();
        state_->script.pop_front();
        EXPECT_EQ(static_cast<int>(kind), static_cast<int>(t.kind)) << "transfer out of order";
        return true;
    }

    std::shared_ptr<FakeUsbTransport::State> state_;
};

}  // namespace

Ch341Error FakeUsbTransport::Open(const UsbDeviceInfo& device,
                                  std::unique_ptr<IUsbDeviceHandle>& handle) {
    std::lock_guard lock(state_->mutex);
    ++state_->opens;
    state_->opened.push_back(device);
    if (openResult != Ch341Error::None) {
        return openResult;
    }
    handle = std::make_unique<FakeHandle>(state_);
    return Ch341Error::None;
}

Ch341Error FakeUsbTransport::StartHotplug(HotplugHandler h) {
    if (hotplugResult == Ch341Error::None) {
        handler = std::move(h);
    }
    return hotplugResult;
}

void FakeUsbTransport::StopHotplug() {
    handler = nullptr;
    std::lock_guard lock(state_->mutex);
    ++state_->hotplugStops;
}

void FakeUsbTransport::Fire(HotplugEvent event, const UsbDeviceInfo& device) {
    if (handler) {
        handler(event, device);
    }
}

}  // namespace platform::ch341::test
