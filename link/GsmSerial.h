#pragma once

#include "link/GsmLink.h"
#include "link/SerialPort.h"

#include <memory>

// The AT command channel on a serial port: CR LF after every command, read waits of
// 500 ms and at most 60 empty ones per response.
class GsmSerial : public GsmLink {
public:
    static constexpr int ReadWaitMs = 500;
    static constexpr int EmptyWaitBudget = 60;
    static constexpr int ZeroByteReadBudget = 0;

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

    // Length of each read wait of waitResponse; only tests change it, to run the time-out
    // case quickly.
    int readWait = ReadWaitMs;

private:
    std::unique_ptr<SerialPort> m_ownedPort;
    SerialPort *m_port;
};
