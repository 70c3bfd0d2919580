#include "link/SerialPort.h"

#include "base/Error.h"
#include "link/PortTrouble.h"
#include "link/WaitSignal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char *text, int error) {
    throw Error(QCoreApplication::translate("SerialPort", text) +
                QStringLiteral(" (win error code: %1)").arg(error));
}

// The open error's text and code, then what it means for this port in plain words.
[[noreturn]] void failToOpen(const QByteArray &path, int error) {
    QString message = QCoreApplication::translate("SerialPort", "Unable to open com port") +
                      QStringLiteral(" (win error code: %1)").arg(error);
    const QString explanation = PortTrouble::explain(path, error);
    if (!explanation.isEmpty())
        message += QLatin1Char('\n') + explanation;
    throw Error(message);
}

int remainingMs(Clock::time_point deadline) {
    // Rounded up: a wait cut short by truncation would end before its time.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Closes a descriptor whose open has not completed, undoing the exclusive flag if this
// open set it (a failed second open must not clear the first owner's flag).
class Opening {
public:
    explicit Opening(int fd) : m_fd(fd) {}
    ~Opening() {
        if (m_fd < 0)
            return;
        if (m_exclusive)
            ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
    }
    void setExclusive() { m_exclusive = true; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
    bool m_exclusive = false;
};

bool isDecimal(const QByteArray &text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

SerialPort::SerialPort(QByteArray portName) : m_portName(std::move(portName)) {}

SerialPort::~SerialPort() {
    close();
}

void SerialPort::setPortName(const QByteArray &name) {
    m_portName = name;
    if (isOpen()) {
        close();
        open();
    }
}

QByteArray SerialPort::devicePath(const QByteArray &portName) {
    if (portName.startsWith('/'))
        return portName;
    const QByteArray number = portName.mid(3);
    if (portName.left(3).compare("COM", Qt::CaseInsensitive) == 0 && isDecimal(number)) {
        bool ok = false;
        const qlonglong n = number.toLongLong(&ok);
        if (ok && n >= 1 && n <= 1'000'000)
            return "/dev/ttyS" + QByteArray::number(n - 1);
    }
    return "/dev/" + portName;
}

QList<QByteArray> SerialPort::listPorts(const QString &sysClassTty, const QString &devDir) {
    QList<QByteArray> ports;
    const QDir classDir(sysClassTty);
    const QStringList entries =
        classDir.entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : entries) {
        const QString entry = classDir.filePath(name);
        // Virtual terminals, ptys and consoles have no device behind them; rfcomm ports
        // only get one while connected but are ports all the same.
        const bool hasDevice = QFileInfo::exists(entry + QStringLiteral("/device"));
        if (!hasDevice && !name.startsWith(QStringLiteral("rfcomm")))
            continue;
        // Serial-core drivers register every possible port; type 0 means no UART answered.
        QFile type(entry + QStringLiteral("/type"));
        if (type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "0")
            continue;
        if (!QFileInfo::exists(QDir(devDir).filePath(name)))
            continue;
        QByteArray port = name.toLocal8Bit();
        bool legacy = false;
        const int index =
            port.startsWith("ttyS") && isDecimal(port.mid(4)) ? port.mid(4).toInt(&legacy) : -1;
        // The legacy ports go by the COM names that map back to them.
        if (legacy && index < 1'000'000)
            port = "COM" + QByteArray::number(index + 1);
        ports.append(port);
    }
    std::sort(ports.begin(), ports.end(), [](const QByteArray &a, const QByteArray &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return ports;
}

void SerialPort::open() {
    if (isOpen())
        return;
    if (m_portName.isEmpty())
        fail("Unable to open com port", ENOENT);
    const QByteArray path = devicePath(m_portName);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        failToOpen(path, errno);
    int refusal = 0;
    {
        Opening opening(fd);
        // TIOCEXCL keeps other users out but not root; the lock keeps out everyone who opens
        // the port through this class, root included.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            refusal = errno;
        } else if (::ioctl(fd, TIOCEXCL) != 0) {
            refusal = errno;
        } else {
            opening.setExclusive();
            applyLineSettings(fd);
            m_fd = opening.release();
            return;
        }
    }
    // Explained only now that this attempt's own descriptor is closed: the search for the
    // port's holder would find it too.
    failToOpen(path, refusal);
}

void SerialPort::applyLineSettings(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        fail("SetCommState function failed", errno);
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~(INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // Reads return at once with what is buffered.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B115200) != 0 || ::cfsetospeed(&tio, B115200) != 0)
        fail("SetCommState function failed", errno);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        fail("SetCommState function failed", errno);

    // DTR on while the port is open: many phone cables take their power from it, and its
    // drop at close is what tells a modem (AT&D1, AT&D2) to leave a half-finished command.
    // Pseudo-terminals and some virtual ports have no modem lines; that is no fault.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIS, &lines);
}

void SerialPort::close() {
    if (!isOpen())
        return;
    const int fd = std::exchange(m_fd, -1);
    // Dropped here as well, since the hang-up on close (HUPCL) may be switched off.
    int dtr = TIOCM_DTR;
    ::ioctl(fd, TIOCMBIC, &dtr);
    // The flag would outlive this descriptor while the other end of a pty stays open.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

int SerialPort::bytesWaiting() const {
    int count = 0;
    if (::ioctl(m_fd, FIONREAD, &count) != 0)
        fail("ClearCommError function failed", errno);
    return count;
}

int SerialPort::read(char *buffer, int count) {
    if (count < 1)
        return 0;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, size_t(count));
        if (n >= 0)
            return int(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        fail("ReadFile function failed", errno);
    }
}

unsigned SerialPort::waitForChar(int timeoutMs, WaitSignal *stop) {
    if (!isOpen())
        fail("WaitForEvent method failed", EBADF);
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {stop ? stop->handle() : -1, POLLIN, 0}};
        const int r = ::poll(fds, 2, timeoutMs < 0 ? -1 : remainingMs(deadline));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            fail("WaitForEvent method failed", errno);
        }
        if (r == 0)
            return NoEvent;
        unsigned events = NoEvent;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            // A hung-up pty also reports POLLIN for its end of file; only bytes that can
            // still be read count as received.
            events |= LineError;
            int count = 0;
            if (::ioctl(m_fd, FIONREAD, &count) == 0 && count > 0)
                events |= CharReceived;
        } else if (fds[0].revents & POLLIN) {
            events |= CharReceived;
        }
        if (events == NoEvent && (fds[1].revents & POLLIN))
            stop->reset();
        return events;
    }
}

int SerialPort::write(const char *data, int size) {
    if (size < 1)
        return 0;
    if (!isOpen())
        fail("WriteFile function failed", EBADF);
    const auto deadline =
        Clock::now() +
        std::chrono::milliseconds(WriteTimeoutConstantMs + qint64(WriteTimeoutPerByteMs) * size);
    int written = 0;
    while (written < size) {
        const ssize_t n = ::write(m_fd, data + written, size_t(size - written));
        if (n > 0) {
            written += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // Part of the line went out: report that, the next call meets the error again.
            if (written > 0)
                break;
            fail("WriteFile function failed", errno);
        }
        const int left = remainingMs(deadline);
        if (left <= 0)
            break;
        pollfd p{m_fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, left);
        if (r < 0 && errno != EINTR)
            fail("WriteFile function failed", errno);
        if (r == 0)
            break;
    }
    return written;
}
