#include "device/KeyScanThread.h"

#include <cassert>
#include <vector>

namespace device {

KeyScanThread::KeyScanThread(KeyScanner& scanner, platform::ch341::ICh341Device& device,
                             std::chrono::nanoseconds period, ScanClock& clock)
    : scanner_(scanner), device_(device), period_(period), clock_(clock) {}

KeyScanThread::~KeyScanThread() {
    Stop();
}

void KeyScanThread::Start(ULONG index, EventSink sink, FailureSink failed) {
    if (thread_.joinable()) {
        return;
    }
    sink_ = std::move(sink);
    failed_ = std::move(failed);
    firstTickFailed_ = false;
    thread_ = std::jthread([this, index](std::stop_token stop) { Run(index, stop); });
}

void KeyScanThread::RequestStop() {
    thread_.request_stop();
}

void KeyScanThread::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    assert(thread_.get_id() != std::this_thread::get_id() && "Stop called from a sink");
    thread_.request_stop();
    thread_.join();
    sink_ = nullptr;
    failed_ = nullptr;
}

bool KeyScanThread::IsRunning() const {
    return thread_.joinable();
}

void KeyScanThread::Run(ULONG index, std::stop_token stop) {
    std::vector<KeyEvent> events;
    events.reserve(KeyScanner::kSoundingKeys);
    if (setup_) {
        setup_();
    }
    bool firstTick = true;
    auto next = clock_.Now() + period_;
    for (;;) {
        if (clock_.WaitUntil(next, stop)) {
            return;
        }
        int rowsRead = 0;
        for (int row = 0; row < KeyScanner::kRows && !stop.stop_requested(); ++row) {
            events.clear();
            if (scanner_.ScanRow(device_, index, row, events)) {
                ++rowsRead;
            }
            // Handed on even when Stop cut the tick short: a press the counters took must
            // reach the key map, or a later release would end another key's note.
            if (!events.empty() && sink_) {
                sink_(events);
            }
        }
        ++ticks_;
        if (stop.stop_requested()) {
            return;
        }
        if (firstTick && rowsRead == 0) {
            // No row answered: the chip opened but is dead. Report once and end, instead of
            // timing out on every transfer of every tick.
            firstTickFailed_ = true;
            if (failed_) {
                failed_();
            }
            return;
        }
        firstTick = false;
        next += period_;
        const auto now = clock_.Now();
        if (now >= next) {
            // The tick ran past the next one's time (slow transfers, a stall): the next tick
            // runs at once, on the latest grid point passed, so the missed ones are not run
            // back to back, which would read the same switch states several times.
            ++overruns_;
            next += ((now - next) / period_) * period_;
        }
    }
}

}  // namespace device
