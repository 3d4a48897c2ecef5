#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform::music {

// An auto-reset event: Set wakes one waiter (or the next one to wait) and the event resets
// itself as that waiter leaves. Safe on any thread; Set never blocks for long.
class AutoResetEvent {
public:
    void Set() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        wake_.notify_one();
    }
    // Waits until set, then resets.
    void Wait() {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return signalled_; });
        signalled_ = false;
    }
    // True when set within `timeout` (and reset), false on time-out.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!wake_.wait_for(lock, timeout, [this] { return signalled_; }))
            return false;
        signalled_ = false;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool signalled_ = false;
};

}  // namespace platform::music
