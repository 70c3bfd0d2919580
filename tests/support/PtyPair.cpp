#include "PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

PtyPair::PtyPair() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return;
    char name[128];
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
        ::ptsname_r(m_master, name, sizeof name) != 0) {
        closeMaster();
        return;
    }
    m_slavePath = name;
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    closeMaster();
}

QByteArray PtyPair::read(int count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    QByteArray result;
    while (result.size() < count && m_master >= 0) {
        char buffer[4096];
        const ssize_t n = ::read(m_master, buffer,
                                 std::min<size_t>(sizeof buffer, size_t(count - result.size())));
        if (n > 0) {
            result.append(buffer, n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{m_master, POLLIN, 0};
        ::poll(&p, 1, int(left));
    }
    return result;
}

bool PtyPair::write(const QByteArray &bytes, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    qsizetype done = 0;
    while (done < bytes.size() && m_master >= 0) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (Clock::now() >= deadline)
            return false;
        pollfd p{m_master, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    return done == bytes.size();
}

void PtyPair::closeMaster() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}
