#pragma once

#include <QByteArray>
#include <QList>

#include "link/WaitSignal.h"

#include <atomic>
#include <functional>

// The command/response channel to the phone: one AT command at a time, response lines
// collected until a final line, and helpers that read the information line of a reply.
// The transport (the seven virtual operations) is implemented by TGsmSerial.
class TGsmLink {
public:
    using TLineEvent = std::function<void(TGsmLink &link, const QByteArray &text)>;

    TGsmLink();
    virtual ~TGsmLink();

    TGsmLink(const TGsmLink &) = delete;
    TGsmLink &operator=(const TGsmLink &) = delete;

    // Transport.
    virtual bool Connected() const = 0;
    // Bytes delivered (0 when a read delivered nothing), -1 for a line error, -2 for a timeout.
    virtual int ReadAvailable(QByteArray &text, int timeoutMs) = 0;
    virtual int ReadCount(QByteArray &text, int count) = 0;
    virtual int WriteCommand(const QByteArray &command) = 0;
    virtual void Close() = 0;
    virtual void Open() = 0;
    virtual bool WaitResponse(const QByteArray &expected, bool completeLinesOnly) = 0;

    // Command helpers; they read Responses and LastCommand only.
    bool ExecuteCommand(const QByteArray &command);
    bool SendAndWait(const QByteArray &command, const QByteArray &expected, bool completeLinesOnly);
    bool LastCommandFailed() const { return !ResultOk; }
    QByteArray InfoLine() const;
    int InfoFieldCount() const;
    QByteArray InfoField(int n) const;

    void AddResponseLine(const QByteArray &line);
    bool IsFinalResponse(const QList<QByteArray> &expected, const QByteArray &line);

    QByteArray LastCommand;
    bool ResultOk = false;
    QList<QByteArray> Responses;
    // Set by a worker's stop request on the UI thread, polled by the worker before each read;
    // cleared only by Open.
    std::atomic<bool> Aborted{false};
    TLineEvent OnResponseLine;
    TLineEvent OnCommandSent;
    // Reset before every read wait, which it ends early when set.
    TWaitSignal WaitStopSignal;

    // Sets Aborted and ends a read wait in progress at once instead of at its time-out.
    // Safe to call from any thread.
    void Abort();
};
