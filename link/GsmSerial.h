#pragma once

#include "link/GsmLink.h"
#include "link/SerialPort.h"

#include "base/Error.h"

#include <memory>

// "Timeout in reading COM port": the phone did not answer in time. An Error like the others;
// callers that try a command again tell it apart.
class ReadTimeout : public Error {
public:
    ReadTimeout();
};

// The AT command channel on a serial port: CR LF after every command, read waits of
// 500 ms and at most 60 empty ones per response. A response also has an overall limit of
// OverallWaitReads read waits, so a modem that talks without ever answering (an endless
// RING) cannot hold a wait for ever.
class GsmSerial : public GsmLink {
public:
    static constexpr int ReadWaitMs = 500;
    static constexpr int EmptyWaitBudget = 60;
    static constexpr int ZeroByteReadBudget = 0;
    static constexpr int OverallWaitReads = 120;
    // ESC: ends the message body the phone is waiting for without sending it.
    static constexpr char Escape = 27;
    // The quiet spell that ends discardInput.
    static constexpr int DiscardQuietMs = 150;

    // The port stays the caller's and must outlive the link.
    explicit GsmSerial(SerialPort &port);
    // The link owns the port and destroys it with itself.
    explicit GsmSerial(std::unique_ptr<SerialPort> port);
    // Closes the port.
    ~GsmSerial() override;

    SerialPort &port() const { return *m_port; }

    bool connected() const override;
    int readAvailable(QByteArray &text, int timeoutMs) override;
    int readCount(QByteArray &text, int count) override;
    int writeCommand(const QByteArray &command) override;
    void close() override;
    void open() override;
    bool waitResponse(const QByteArray &expected, bool completeLinesOnly) override;

    // Writes ESC alone: a phone waiting at its "> " prompt drops the body and returns to
    // commands; elsewhere the byte is ignored.
    virtual void writeEscape();
    // Reads and drops what the phone sends until DiscardQuietMs pass without a byte, or
    // maxWaits read waits have passed (a phone that never stops talking). Stops early when
    // the wait is aborted.
    void discardInput(int maxWaits);

    // Length of each read wait of waitResponse; only tests change it, to run the time-out
    // case quickly.
    int readWait = ReadWaitMs;
    // Empty read waits a response may take before it fails; a caller that tries a command
    // again (waking the phone up) sets a smaller one for the tries.
    int emptyWaitBudget = EmptyWaitBudget;

private:
    std::unique_ptr<SerialPort> m_ownedPort;
    SerialPort *m_port;
};
