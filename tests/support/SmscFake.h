#pragma once

#include "smpp/SmppSession.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The fake SMS centre (tools/smsc-fake) as a child process on a free loopback port, with its
// JSON log in a temporary folder. Stopped when destroyed. Started with posix_spawn rather than
// QProcess's fork: after a fork in a process with threads the thread sanitizer cannot follow
// the threads started later (a sending run's worker).
class SmscFake {
public:
    SmscFake();
    ~SmscFake();

    SmscFake(const SmscFake &) = delete;
    SmscFake &operator=(const SmscFake &) = delete;

    // Empty when Node.js runs here, else why not: tests skip with it.
    static QString unavailableReason();
    // The self-signed certificate for 127.0.0.1 and localhost that comes with the fake, and its
    // key: for --tls-cert and --tls-key, and for the client to trust.
    static QString certificatePath();
    static QString keyPath();

    // Starts with the fake's own options (--password, --throttle-after, ...); false with
    // errorText() when it does not come up.
    bool start(const QStringList &options = {});
    void stop();

    quint16 port() const { return m_port; }
    const QString &errorText() const { return m_error; }
    // Settings for this centre with short times, for tests: window 10, account "pelorvane".
    SmppConfig config() const;

    // The log's entries so far, all or those of one event ("submit_sm", "bind", ...).
    QList<QJsonObject> log(const QString &event = {}) const;

private:
    QTemporaryDir m_dir;
    qint64 m_pid = -1;
    int m_output = -1; // the child's standard output, for its first line
    quint16 m_port = 0;
    QString m_error;
};

// Skips the test when Node.js cannot run the fake centre.
#define SKIP_WITHOUT_SMSC_FAKE()                                                                   \
    do {                                                                                           \
        if (const QString why = SmscFake::unavailableReason(); !why.isEmpty())                     \
            QSKIP(qPrintable(QStringLiteral("SKIPPED: ") + why));                                  \
    } while (false)
