#include "ui/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QThread>

Q_LOGGING_CATEGORY(lcInstance, "pelorvane.instance", QtWarningMsg)

namespace {

const QByteArray ActivateRequest = "activate\n";
const QByteArray ActivateReply = "ok\n";

} // namespace

QString SingleInstance::identity(const QString &executablePath) {
    QString identity = executablePath.toUpper();
    identity.replace(QLatin1Char('/'), QLatin1Char('_'));
    identity.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return identity;
}

QString SingleInstance::executablePath(const char *argv0) {
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!self.isEmpty())
        return self;
    const QFileInfo named(QString::fromLocal8Bit(argv0 ? argv0 : ""));
    const QString canonical = named.canonicalFilePath();
    return canonical.isEmpty() ? named.absoluteFilePath() : canonical;
}

SingleInstance::SingleInstance(const QString &identity, const QString &folder, QObject *parent)
    : QObject(parent) {
    QString dir = folder;
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    // A socket path has little room: the identity goes in as a digest.
    const QByteArray digest =
        QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha1).toHex().left(24);
    const QString base = QStringLiteral("pelorvane-") + QString::fromLatin1(digest);
    m_lockPath = QDir(dir).filePath(base + QStringLiteral(".lock"));
    m_serverName = QDir(dir).filePath(base + QStringLiteral(".sock"));
}

SingleInstance::~SingleInstance() {
    stopListening();
}

bool SingleInstance::tryRegister() {
    m_lock = std::make_unique<QLockFile>(m_lockPath);
    // Only a live process holds the lock; age alone never makes it stale.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return true;
    m_lock.reset();
    return false;
}

bool SingleInstance::activateRunning(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    // The running copy may hold the lock before it listens: try again for a moment.
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_serverName);
        if (socket.waitForConnected(qMax<qint64>(1, deadline.remainingTime()))) {
            socket.write(ActivateRequest);
            if (!socket.waitForBytesWritten(qMax<qint64>(1, deadline.remainingTime())))
                return false;
            QByteArray reply;
            while (!reply.contains('\n') && !deadline.hasExpired() &&
                   socket.waitForReadyRead(qMax<qint64>(1, deadline.remainingTime())))
                reply += socket.readAll();
            return reply == ActivateReply;
        }
        QThread::msleep(50);
    }
    return false;
}

bool SingleInstance::listen() {
    if (m_server)
        return true;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock: a socket file left behind by a copy that crashed is nobody's.
    QLocalServer::removeServer(m_serverName);
    if (!m_server->listen(m_serverName)) {
        qCWarning(lcInstance) << "cannot listen on" << m_serverName << m_server->errorString();
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::serveConnection);
    qCInfo(lcInstance) << "listening";
    return true;
}

void SingleInstance::stopListening() {
    if (!m_server)
        return;
    m_server->close();
    delete m_server;
    m_server = nullptr;
}

void SingleInstance::serveConnection() {
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto serve = [this, socket] {
            if (!socket->canReadLine()) {
                // Nothing but the one short request is expected.
                if (socket->bytesAvailable() > 64)
                    socket->abort();
                return;
            }
            const QByteArray request = socket->readLine();
            if (request == ActivateRequest) {
                qCInfo(lcInstance) << "activated";
                if (onActivate)
                    onActivate();
                socket->write(ActivateReply);
            }
            socket->disconnectFromServer();
        };
        connect(socket, &QLocalSocket::readyRead, this, serve);
        // The request may have arrived with the connection.
        if (socket->bytesAvailable() > 0)
            serve();
    }
}
