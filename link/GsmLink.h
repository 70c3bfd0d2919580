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
    // Whether line ends the wait (classifyReplyLine): OK or an expected text sets resultOk,
    // an error line clears it, and a final line becomes finalLine. An unterminated line
    // (complete false) is final only as an expected text.
    bool isFinalResponse(const QList<QByteArray> &expected, const QByteArray &line,
                         bool complete = true);

    QByteArray lastCommand;
    // The command line whose answer is being read (set by sendAndWait); it tells the answer
    // to a query such as AT+CREG? from the same kind of line sent unasked.
    QByteArray awaitedCommand;
    bool resultOk = false;
    QList<QByteArray> responses;
    // The line that ended the last wait; empty when it ended without one.
    QByteArray finalLine;
    // Set by a worker's stop request on the UI thread, polled by the worker before each read;
    // cleared only by Open.
    std::atomic<bool> aborted{false};
    LineEvent onResponseLine;
    LineEvent onCommandSent;
    // Each unsolicited line the phone sent while an answer was read (never in Responses).
    LineEvent onUnsolicitedLine;
    // Reset before every read wait, which it ends early when set.
    WaitSignal waitStopSignal;

    // Sets Aborted and ends a read wait in progress at once instead of at its time-out.
    // Safe to call from any thread.
    void abort();
    // A stop that lets the exchange in progress finish, but not wait for ever: Aborted takes
    // effect ms from now (an earlier time already set stays). Cleared by Open. Any thread.
    void abortAfter(int ms);
    // Whether a wait must give up now: Aborted, or the time set by abortAfter has come.
    bool abortDue() const;
    // Milliseconds until the time set by abortAfter (0 when it has come), -1 when none is set.
    int msUntilAbort() const;

protected:
    // Open's part: clears Aborted and a pending abortAfter.
    void clearAbort();

private:
    // Steady-clock milliseconds at which Aborted takes effect; 0 when none is set.
    std::atomic<qint64> m_abortAt{0};
};
