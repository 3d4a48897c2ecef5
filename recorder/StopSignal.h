#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace recorder {

// A stop request that wakes a timed wait at once. Unlike a pulsed event it stays set, so a
// request made just before the wait begins is not lost. Any thread.
class StopSignal {
public:
    void Request();
    bool Requested() const;
    // Waits until the request or `deadline` on the steady clock; returns Requested().
    bool WaitUntil(std::chrono::steady_clock::time_point deadline) const;
    // Waits for the request however long it takes.
    void WaitForRequest() const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_wake;
    bool m_requested = false;
};

}  // namespace recorder
