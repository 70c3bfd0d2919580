#include "SmppProbe.h"

#include "base/Error.h"

#include <QEventLoop>

namespace {

SmppConfig probeConfig(SmppConfig config) {
    // One attempt: a probe reports, it does not wait for a centre to come back.
    config.maxReconnectAttempts = 0;
    return config;
}

} // namespace

SmppProbe::SmppProbe(SmppConfig config, QObject *parent)
    : QObject(parent), m_session(probeConfig(std::move(config))) {
    connect(&m_session, &SmppSession::bound, this, &SmppProbe::onBound);
    connect(&m_session, &SmppSession::finished, this, &SmppProbe::onSessionFinished);
}

void SmppProbe::start() {
    try {
        m_session.open();
    } catch (const Error &e) {
        m_done = true;
        Q_EMIT finished(false, e.message());
    }
}

void SmppProbe::onBound() {
    m_bound = true;
    m_session.stop();
}

void SmppProbe::onSessionFinished(const QString &error) {
    if (m_done)
        return;
    m_done = true;
    const SmppConfig &config = m_session.config();
    if (m_bound)
        Q_EMIT finished(true, QStringLiteral("Connected as %1 to %2:%3")
                                  .arg(QString::fromLatin1(config.systemId), config.host)
                                  .arg(config.port));
    else
        Q_EMIT finished(false, error);
}

SmppProbe::Result SmppProbe::run(const SmppConfig &config) {
    SmppProbe probe(config);
    Result result;
    QEventLoop loop;
    bool done = false;
    connect(&probe, &SmppProbe::finished, &loop, [&](bool ok, const QString &text) {
        result = {ok, text};
        done = true;
        loop.quit();
    });
    probe.start();
    if (!done)
        loop.exec();
    return result;
}
