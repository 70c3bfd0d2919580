#pragma once

#include <QList>
#include <QPair>
#include <QString>

// What one sending run did, told in one line at its end:
// "Sent 997 of 1,000: 2 failed (number not in use), 1 unknown".
struct RunSummary {
    // The phone answered and was set up; false when the run could not start (the port, a phone
    // that does not answer or refuses the set-up).
    bool started = false;
    int sent = 0;
    int failed = 0;
    int unknown = 0;
    // Pending in the outbox when the run ended: refused for a while, stopped, never reached.
    int notSent = 0;
    // Why messages failed, each reason once with its count, in the order first met.
    QList<QPair<QString, int>> failedReasons;

    int total() const { return sent + failed + unknown + notSent; }
    bool allSent() const { return sent == total(); }

    void addFailed(const QString &reason);
    // Takes back a failure (the message is pending again after all).
    void removeFailed(const QString &reason);

    // Counts in the default locale's digits and group separators.
    QString text() const;
};
