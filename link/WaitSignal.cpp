#include "link/WaitSignal.h"

#include "app/Errors.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

TWaitSignal::TWaitSignal() {
    FFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FFd < 0)
        throw EPelorvane(
            QStringLiteral("WaitForEvent method failed (win error code: %1)").arg(errno));
}

TWaitSignal::~TWaitSignal() {
    ::close(FFd);
}

void TWaitSignal::Set() {
    const std::uint64_t one = 1;
    // Fails only when the counter is saturated, which still leaves it set.
    [[maybe_unused]] const ssize_t n = ::write(FFd, &one, sizeof one);
}

void TWaitSignal::Reset() {
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(FFd, &value, sizeof value);
}

bool TWaitSignal::IsSet() const {
    pollfd p{FFd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}
