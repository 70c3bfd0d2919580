#include "link/GsmSerial.h"

#include "base/Error.h"
#include "link/ReplyScanner.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

[[noreturn]] void fail(const char *text) {
    throw Error(QCoreApplication::translate("GsmSerial", text));
}

} // namespace

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
    aborted = false;
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

bool GsmSerial::waitResponse(const QByteArray &expected, bool completeLinesOnly) {
    responses.clear();
    ReplyScanner scanner(*this, expected, completeLinesOnly);
    int emptyWaitsLeft = EmptyWaitBudget;
    int zeroReadsLeft = ZeroByteReadBudget;
    QByteArray chunk;
    while (!aborted) {
        const int n = readAvailable(chunk, readWait);
        if (n > 0) {
            if (scanner.feed(chunk.constData(), std::min<qsizetype>(n, chunk.size())))
                return true;
        } else if (n == 0) {
            if (zeroReadsLeft <= 0)
                fail("Zero byte returned in reading COM port");
            --zeroReadsLeft;
        } else if (n == -2) {
            if (emptyWaitsLeft <= 0)
                fail("Timeout in reading COM port");
            --emptyWaitsLeft;
        } else {
            fail("Error in ReadBuffer");
        }
    }
    return false;
}
