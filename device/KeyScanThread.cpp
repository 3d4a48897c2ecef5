#include "device/KeyScanThread.h"

#include <cassert>
#include <vector>

namespace device {

KeyScanThread::KeyScanThread(KeyScanner& scanner, platform::ch341::ICh341Device& device,
                             std::chrono::nanoseconds period)
    : scanner_(scanner), device_(device), period_(period) {}

KeyScanThread::~KeyScanThread() {
    Stop();
}

void KeyScanThread::Start(ULONG index, EventSink sink) {
    if (thread_.joinable()) {
        return;
    }
    sink_ = std::move(sink);
    {
        std::lock_guard lock(mutex_);
        stop_ = false;
    }
    thread_ = std::thread([this, index] { Run(index); });
}

void KeyScanThread::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    assert(thread_.get_id() != std::this_thread::get_id() && "Stop called from the sink");
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    sink_ = nullptr;
}

bool KeyScanThread::IsRunning() const {
    return thread_.joinable();
}

void KeyScanThread::Run(ULONG index) {
    using Clock = std::chrono::steady_clock;
    std::vector<KeyEvent> events;
    events.reserve(KeyScanner::kSoundingKeys);
    auto deadline = Clock::now() + period_;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (wake_.wait_until(lock, deadline, [this] { return stop_; })) {
                return;
            }
        }
        events.clear();
        scanner_.Scan(device_, index, events);
        ++ticks_;
        if (!events.empty() && sink_) {
            sink_(events);
        }
        deadline += period_;
        // After a stall (a USB timeout) start afresh instead of running the missed ticks
        // back to back: a burst would read the same switch states several times.
        const auto now = Clock::now();
        if (now >= deadline) {
            ++overruns_;
            deadline = now + period_;
        }
    }
}

}  // namespace device
