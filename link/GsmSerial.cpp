#include "link/GsmSerial.h"

#include "base/Error.h"
#include "link/ReplyScanner.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>

namespace {

[[noreturn]] void fail(const char *text) {
    throw Error(QCoreApplication::translate("GsmSerial", text));
}

} // namespace

ReadTimeout::ReadTimeout()
    : Error(QCoreApplication::translate("GsmSerial", "Timeout in reading COM port")) {}

GsmSerial::GsmSerial(SerialPort &port) : m_port(&port) {}

GsmSerial::GsmSerial(std::unique_ptr<SerialPort> port)
    : m_ownedPort(std::move(port)), m_port(m_ownedPort.get()) {}

GsmSerial::~GsmSerial() {
    m_port->close();
}

bool GsmSerial::connected() const {
    return m_port->isOpen();
}

void GsmSerial::open() {
    m_port->open();
    clearAbort();
}

void GsmSerial::close() {
    m_port->close();
}

int GsmSerial::readCount(QByteArray &text, int count) {
    text.resize(std::max(count, 0));
    const int n = m_port->read(text.data(), count);
    text.resize(n);
    return n;
}

int GsmSerial::readAvailable(QByteArray &text, int timeoutMs) {
    text.clear();
    const int waiting = m_port->bytesWaiting();
    if (waiting > 0)
        return readCount(text, waiting);
    waitStopSignal.reset();
    const unsigned events = m_port->waitForChar(timeoutMs, &waitStopSignal);
    if (events & SerialPort::CharReceived)
        return readCount(text, m_port->bytesWaiting());
    if (events & SerialPort::LineError)
        return -1;
    return -2;
}

int GsmSerial::writeCommand(const QByteArray &command) {
    const QByteArray line = command + "\r\n";
    const int written = m_port->write(line.constData(), int(line.size()));
    if (written < 1)
        fail("Cannot write data to COM port");
    if (onCommandSent)
        onCommandSent(*this, command);
    return written;
}

void GsmSerial::writeEscape() {
    const char escape = Escape;
    if (m_port->write(&escape, 1) < 1)
        fail("Cannot write data to COM port");
}

void GsmSerial::discardInput(int maxWaits) {
    QByteArray chunk;
    for (int i = 0; i < maxWaits && !abortDue(); ++i) {
        // A phone answers ESC at once; a short quiet spell is enough to know it has finished.
        const int n = readAvailable(chunk, std::min(readWait, DiscardQuietMs));
        if (n == -2)
            return;
        if (n < 0)
            fail("Error in ReadBuffer");
    }
}

bool GsmSerial::waitResponse(const QByteArray &expected, bool completeLinesOnly) {
    responses.clear();
    finalLine.clear();
    ReplyScanner scanner(*this, expected, completeLinesOnly);
    int emptyWaitsLeft = emptyWaitBudget;
    int zeroReadsLeft = ZeroByteReadBudget;
    // In read waits, so that a test's short read wait shortens it too.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(qint64(readWait) * OverallWaitReads);
    QByteArray chunk;
    while (!abortDue()) {
        // A stop that lets this exchange finish ends the wait at its time, not a read later.
        const int untilAbort = msUntilAbort();
        const int wait = untilAbort < 0 ? readWait : std::min(readWait, std::max(untilAbort, 1));
        const int n = readAvailable(chunk, wait);
        if (n > 0) {
            if (scanner.feed(chunk.constData(), std::min<qsizetype>(n, chunk.size())))
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                throw ReadTimeout();
        } else if (n == 0) {
            if (zeroReadsLeft <= 0)
                fail("Zero byte returned in reading COM port");
            --zeroReadsLeft;
        } else if (n == -2) {
            if (untilAbort >= 0)
                continue;
            if (emptyWaitsLeft <= 0 || std::chrono::steady_clock::now() >= deadline)
                throw ReadTimeout();
            --emptyWaitsLeft;
        } else {
            fail("Error in ReadBuffer");
        }
    }
    return false;
}
