#pragma once

#include <QList>
#include <QMutex>
#include <QString>

// How far a sending run has got, for the window's status bar and the command line's progress
// line: "Sending 12 of 300 — about 4 min left", or what the run waits for. Written by the
// sender on its thread, read by anyone.
class RunProgress {
public:
    // messages: pending when the run began.
    void begin(int messages);
    // The message at row of the outbox is being sent (the number'th of the run).
    void started(int row);
    // Its outcome is in; durationMs: what it took, the pause before it included.
    void finished(bool sent, qint64 durationMs);
    // What the run waits for ("Quiet hours: waiting until 07:00"); empty when it goes on.
    void setWaiting(const QString &text);
    // How many phones send at once: the time left shrinks by as much.
    void setParallel(int phones);

    int total() const;
    int done() const;
    int sent() const;
    // The outbox row of the message being sent; -1 when none.
    int currentRow() const;
    QString waitingText() const;
    // The line to show; empty before the first message.
    QString text() const;

    // "about 4 min left" for ms to go.
    static QString timeLeftText(qint64 ms);

private:
    // The recent pace: durations of the last messages, newest last.
    static constexpr int PaceWindow = 10;

    mutable QMutex m_lock;
    bool m_begun = false;
    int m_total = 0;
    int m_done = 0;
    int m_sent = 0;
    int m_row = -1;
    int m_parallel = 1;
    QString m_waiting;
    QList<qint64> m_durations;
};
