#pragma once

#include <QByteArray>
#include <QList>

#include "link/WaitSignal.h"

#include <atomic>
#include <functional>

// The command/response channel to the phone: one AT command at a time, response lines
// collected until a final line, and helpers that read the information line of a reply.
// The transport (the seven virtual operations) is implemented by GsmSerial.
class GsmLink {
public:
    using LineEvent = std::function<void(GsmLink &link, const QByteArray &text)>;

    GsmLink();
    virtual ~GsmLink();

    GsmLink(const GsmLink &) = delete;
    GsmLink &operator=(const GsmLink &) = delete;

    // Transport.
    virtual bool connected() const = 0;
    // Bytes delivered (0 when a read delivered nothing), -1 for a line error, -2 for a timeout.
    virtual int readAvailable(QByteArray &text, int timeoutMs) = 0;
    virtual int readCount(QByteArray &text, int count) = 0;
    virtual int writeCommand(const QByteArray &command) = 0;
    virtual void close() = 0;
    virtual void open() = 0;
    virtual bool waitResponse(const QByteArray &expected, bool completeLinesOnly) = 0;

    // Command helpers; they read Responses and lastCommand only.
    bool executeCommand(const QByteArray &command);
    bool sendAndWait(const QByteArray &command, const QByteArray &expected, bool completeLinesOnly);
    bool lastCommandFailed() const { return !resultOk; }
    QByteArray infoLine() const;
    int infoFieldCount() const;
    QByteArray infoField(int n) const;

    void addResponseLine(const QByteArray &line);
    bool isFinalResponse(const QList<QByteArray> &expected, const QByteArray &line);

    QByteArray lastCommand;
    bool resultOk = false;
    QList<QByteArray> responses;
    // Set by a worker's stop request on the UI thread, polled by the worker before each read;
    // cleared only by Open.
    std::atomic<bool> aborted{false};
    LineEvent onResponseLine;
    LineEvent onCommandSent;
    // Reset before every read wait, which it ends early when set.
    WaitSignal waitStopSignal;

    // Sets Aborted and ends a read wait in progress at once instead of at its time-out.
    // Safe to call from any thread.
    void abort();
};
