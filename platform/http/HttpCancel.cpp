#include "platform/http/HttpCancel.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace platform::http {

HttpCancel::HttpCancel() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

HttpCancel::~HttpCancel() {
    if (m_fd >= 0)
        close(m_fd);
}

void HttpCancel::Cancel() {
    if (m_cancelled.exchange(true, std::memory_order_acq_rel) || m_fd < 0)
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_fd, &one, sizeof one);
}

}  // namespace platform::http
