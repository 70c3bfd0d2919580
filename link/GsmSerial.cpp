#include "link/GsmSerial.h"

#include "app/Errors.h"
#include "link/ReplyScanner.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

[[noreturn]] void Fail(const char *text) {
    throw EPelorvane(QCoreApplication::translate("TGsmSerial", text));
}

} // namespace

TGsmSerial::TGsmSerial(TComPort &port) : FPort(&port) {}

TGsmSerial::TGsmSerial(std::unique_ptr<TComPort> port)
    : FOwnedPort(std::move(port)), FPort(FOwnedPort.get()) {}

TGsmSerial::~TGsmSerial() {
    FPort->Close();
}

bool TGsmSerial::Connected() const {
    return FPort->IsOpen();
}

void TGsmSerial::Open() {
    FPort->Open();
    Aborted = false;
}

void TGsmSerial::Close() {
    FPort->Close();
}

int TGsmSerial::ReadCount(QByteArray &text, int count) {
    text.resize(std::max(count, 0));
    const int n = FPort->Read(text.data(), count);
    text.resize(n);
    return n;
}

int TGsmSerial::ReadAvailable(QByteArray &text, int timeoutMs) {
    text.clear();
    const int waiting = FPort->BytesWaiting();
    if (waiting > 0)
        return ReadCount(text, waiting);
    WaitStopSignal.Reset();
    const unsigned events = FPort->WaitForChar(timeoutMs, &WaitStopSignal);
    if (events & TComPort::evRxChar)
        return ReadCount(text, FPort->BytesWaiting());
    if (events & TComPort::evLineError)
        return -1;
    return -2;
}

int TGsmSerial::WriteCommand(const QByteArray &command) {
    const QByteArray line = command + "\r\n";
    const int written = FPort->Write(line.constData(), int(line.size()));
    if (written < 1)
        Fail("Cannot write data to COM port");
    if (OnCommandSent)
        OnCommandSent(*this, command);
    return written;
}

bool TGsmSerial::WaitResponse(const QByteArray &expected, bool completeLinesOnly) {
    Responses.clear();
    TReplyScanner scanner(*this, expected, completeLinesOnly);
    int emptyWaitsLeft = EmptyWaitBudget;
    int zeroReadsLeft = ZeroByteReadBudget;
    QByteArray chunk;
    while (!Aborted) {
        const int n = ReadAvailable(chunk, ReadWait);
        if (n > 0) {
            if (scanner.Feed(chunk.constData(), std::min<qsizetype>(n, chunk.size())))
                return true;
        } else if (n == 0) {
            if (zeroReadsLeft <= 0)
                Fail("Zero byte returned in reading COM port");
            --zeroReadsLeft;
        } else if (n == -2) {
            if (emptyWaitsLeft <= 0)
                Fail("Timeout in reading COM port");
            --emptyWaitsLeft;
        } else {
            Fail("Error in ReadBuffer");
        }
    }
    return false;
}
