#pragma once

#include "smpp/SmppSession.h"

#include <QObject>
#include <QString>

// Tries a connection's settings: connects, binds, unbinds again and says how it went, as
// "Connected as <system_id> to <host>:<port>" or why the bind failed, in plain words.
class SmppProbe : public QObject {
    Q_OBJECT
public:
    explicit SmppProbe(SmppConfig config, QObject *parent = nullptr);

    void start();

    // Runs a probe to its end in a local event loop (the command line, tests).
    struct Result {
        bool ok = false;
        QString text;
    };
    static Result run(const SmppConfig &config);

Q_SIGNALS:
    void finished(bool ok, const QString &text);

private:
    void onBound();
    void onSessionFinished(const QString &error);

    SmppSession m_session;
    bool m_bound = false;
    bool m_done = false;
};
