#include "recorder/StopSignal.h"

namespace recorder {

void StopSignal::Request() {
    {
        std::lock_guard lock(m_mutex);
        m_requested = true;
    }
    m_wake.notify_all();
}

bool StopSignal::Requested() const {
    std::lock_guard lock(m_mutex);
    return m_requested;
}

bool StopSignal::WaitUntil(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(m_mutex);
    return m_wake.wait_until(lock, deadline, [this] { return m_requested; });
}

void StopSignal::WaitForRequest() const {
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return m_requested; });
}

}  // namespace recorder
