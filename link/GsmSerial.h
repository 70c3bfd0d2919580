#pragma once

#include "link/ComPort.h"
#include "link/GsmLink.h"

#include <memory>

// The AT command channel on a serial port: CR LF after every command, read waits of
// 500 ms and at most 60 empty ones per response.
class TGsmSerial : public TGsmLink {
public:
    static constexpr int ReadWaitMs = 500;
    static constexpr int EmptyWaitBudget = 60;
    static constexpr int ZeroByteReadBudget = 0;

    // The port stays the caller's and must outlive the link.
    explicit TGsmSerial(TComPort &port);
    // The link owns the port and destroys it with itself.
    explicit TGsmSerial(std::unique_ptr<TComPort> port);
    // Closes the port.
    ~TGsmSerial() override;

    TComPort &Port() const { return *FPort; }

    bool Connected() const override;
    int ReadAvailable(QByteArray &text, int timeoutMs) override;
    int ReadCount(QByteArray &text, int count) override;
    int WriteCommand(const QByteArray &command) override;
    void Close() override;
    void Open() override;
    bool WaitResponse(const QByteArray &expected, bool completeLinesOnly) override;

    // Length of each read wait of WaitResponse; only tests change it, to run the time-out
    // case quickly.
    int ReadWait = ReadWaitMs;

private:
    std::unique_ptr<TComPort> FOwnedPort;
    TComPort *FPort;
};
