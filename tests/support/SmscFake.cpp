#include "SmscFake.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

namespace {

QString scriptPath() {
    const QString sourceDir = qEnvironmentVariable("PELORVANE_SOURCE_DIR");
    return (sourceDir.isEmpty() ? QStringLiteral(PELORVANE_SOURCE_DIR_BUILT) : sourceDir) +
           QStringLiteral("/tools/smsc-fake/smsc-fake.js");
}

QString logPath(const QTemporaryDir &dir) {
    return dir.filePath(QStringLiteral("smsc-fake.log"));
}

} // namespace

SmscFake::SmscFake() {
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

SmscFake::~SmscFake() {
    stop();
}

QString SmscFake::unavailableReason() {
    static const QString reason = [] {
        QProcess node;
        node.start(QStringLiteral("node"), {QStringLiteral("--version")});
        if (!node.waitForFinished(10000) || node.exitStatus() != QProcess::NormalExit ||
            node.exitCode() != 0)
            return QStringLiteral("Node.js (node) does not run here, so the fake SMS centre "
                                  "cannot start: %1")
                .arg(node.errorString());
        return QString();
    }();
    return reason;
}

bool SmscFake::start(const QStringList &options) {
    stop();
    const QString script = scriptPath();
    const QString modules = QFileInfo(script).dir().filePath(QStringLiteral("node_modules/smpp"));
    if (!QFileInfo::exists(modules)) {
        m_error = QStringLiteral("%1 is missing: run npm ci in tools/smsc-fake "
                                 "(bash tools/dev.sh test does)")
                      .arg(modules);
        return false;
    }
    QFile::remove(logPath(m_dir));
    m_process.start(QStringLiteral("node"),
                    QStringList{script, QStringLiteral("--port"), QStringLiteral("0"),
                                QStringLiteral("--log"), logPath(m_dir)} +
                        options);
    // The first line says which port it took.
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(15000)) {
            m_error = QStringLiteral("the fake SMS centre did not start: %1")
                          .arg(m_process.errorString());
            stop();
            return false;
        }
    }
    const QJsonObject first = QJsonDocument::fromJson(m_process.readLine()).object();
    m_port = static_cast<quint16>(first.value(QStringLiteral("port")).toInt());
    if (first.value(QStringLiteral("event")).toString() != QStringLiteral("listening") ||
        m_port == 0) {
        m_error = QStringLiteral("the fake SMS centre said no port");
        stop();
        return false;
    }
    return true;
}

void SmscFake::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

SmppConfig SmscFake::config() const {
    SmppConfig config;
    config.host = QStringLiteral("127.0.0.1");
    config.port = m_port;
    config.systemId = "pelorvane";
    config.password = "secret";
    config.window = 10;
    config.responseTimeoutMs = 5000;
    config.connectTimeoutMs = 5000;
    config.reconnectDelayMs = 50;
    config.maxReconnectDelayMs = 200;
    config.throttleDelayMs = 50;
    config.maxThrottleDelayMs = 200;
    return config;
}

QList<QJsonObject> SmscFake::log(const QString &event) const {
    QList<QJsonObject> entries;
    QFile file(logPath(m_dir));
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (event.isEmpty() || entry.value(QStringLiteral("event")).toString() == event)
            entries.append(entry);
    }
    return entries;
}
