#pragma once

#include <atomic>

namespace platform::http {

// Ends a GET in progress from another thread: a flag, and a descriptor that becomes readable
// when it is set, so a client waiting on its sockets wakes at once.
class HttpCancel {
public:
    HttpCancel();
    ~HttpCancel();
    HttpCancel(const HttpCancel&) = delete;
    HttpCancel& operator=(const HttpCancel&) = delete;

    // Any thread, any number of times.
    void Cancel();
    bool Cancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    // Readable once cancelled; -1 when none could be made (the flag still works).
    int WakeDescriptor() const { return m_fd; }

private:
    std::atomic<bool> m_cancelled{false};
    int m_fd;
};

}  // namespace platform::http
