#include "link/WaitSignal.h"

#include "base/Error.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

WaitSignal::WaitSignal() {
    m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_fd < 0)
        throw Error(QStringLiteral("WaitForEvent method failed (win error code: %1)").arg(errno));
}

WaitSignal::~WaitSignal() {
    ::close(m_fd);
}

void WaitSignal::set() {
    const std::uint64_t one = 1;
    // Fails only when the counter is saturated, which still leaves it set.
    [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
}

void WaitSignal::reset() {
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_fd, &value, sizeof value);
}

bool WaitSignal::isSet() const {
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}
