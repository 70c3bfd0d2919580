#include "PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

TPtyPair::TPtyPair() {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0)
        return;
    char name[128];
    if (::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0 ||
        ::ptsname_r(FMaster, name, sizeof name) != 0) {
        CloseMaster();
        return;
    }
    FSlavePath = name;
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
}

TPtyPair::~TPtyPair() {
    CloseMaster();
}

QByteArray TPtyPair::Read(int count, int timeoutMs) {
    using TClock = std::chrono::steady_clock;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    QByteArray result;
    while (result.size() < count && FMaster >= 0) {
        char buffer[4096];
        const ssize_t n =
            ::read(FMaster, buffer, std::min<size_t>(sizeof buffer, size_t(count - result.size())));
        if (n > 0) {
            result.append(buffer, n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0)
            break;
        pollfd p{FMaster, POLLIN, 0};
        ::poll(&p, 1, int(left));
    }
    return result;
}

bool TPtyPair::Write(const QByteArray &bytes, int timeoutMs) {
    using TClock = std::chrono::steady_clock;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    qsizetype done = 0;
    while (done < bytes.size() && FMaster >= 0) {
        const ssize_t n = ::write(FMaster, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (TClock::now() >= deadline)
            return false;
        pollfd p{FMaster, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    return done == bytes.size();
}

void TPtyPair::CloseMaster() {
    if (FMaster >= 0)
        ::close(FMaster);
    FMaster = -1;
}
