#include "device/ScanClock.h"

#include <condition_variable>
#include <mutex>

namespace device {

namespace {

class SteadyScanClock final : public ScanClock {
public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    bool WaitUntil(TimePoint deadline, std::stop_token stop) override {
        // Nothing else notifies this variable: only the deadline or the stop request end it.
        std::mutex mutex;
        std::condition_variable_any wake;
        std::unique_lock lock(mutex);
        return wake.wait_until(lock, stop, deadline, [&stop] { return stop.stop_requested(); });
    }
};

}  // namespace

ScanClock& ScanClock::Steady() {
    static SteadyScanClock clock;  // stateless: shared by every scan thread
    return clock;
}

}  // namespace device
