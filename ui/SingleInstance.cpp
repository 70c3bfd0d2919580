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

QString TSingleInstance::Identity(const QString &executablePath) {
    QString identity = executablePath.toUpper();
    identity.replace(QLatin1Char('/'), QLatin1Char('_'));
    identity.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return identity;
}

QString TSingleInstance::ExecutablePath(const char *argv0) {
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!self.isEmpty())
        return self;
    const QFileInfo named(QString::fromLocal8Bit(argv0 ? argv0 : ""));
    const QString canonical = named.canonicalFilePath();
    return canonical.isEmpty() ? named.absoluteFilePath() : canonical;
}

TSingleInstance::TSingleInstance(const QString &identity, const QString &folder, QObject *parent)
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
    FLockPath = QDir(dir).filePath(base + QStringLiteral(".lock"));
    FServerName = QDir(dir).filePath(base + QStringLiteral(".sock"));
}

TSingleInstance::~TSingleInstance() {
    StopListening();
}

bool TSingleInstance::TryRegister() {
    FLock = std::make_unique<QLockFile>(FLockPath);
    // Only a live process holds the lock; age alone never makes it stale.
    FLock->setStaleLockTime(0);
    if (FLock->tryLock(0))
        return true;
    FLock.reset();
    return false;
}

bool TSingleInstance::ActivateRunning(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    // The running copy may hold the lock before it listens: try again for a moment.
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(FServerName);
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

bool TSingleInstance::Listen() {
    if (FServer)
        return true;
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock: a socket file left behind by a copy that crashed is nobody's.
    QLocalServer::removeServer(FServerName);
    if (!FServer->listen(FServerName)) {
        qCWarning(lcInstance) << "cannot listen on" << FServerName << FServer->errorString();
        delete FServer;
        FServer = nullptr;
        return false;
    }
    connect(FServer, &QLocalServer::newConnection, this, &TSingleInstance::ServeConnection);
    qCInfo(lcInstance) << "listening";
    return true;
}

void TSingleInstance::StopListening() {
    if (!FServer)
        return;
    FServer->close();
    delete FServer;
    FServer = nullptr;
}

void TSingleInstance::ServeConnection() {
    while (QLocalSocket *socket = FServer->nextPendingConnection()) {
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
                if (OnActivate)
                    OnActivate();
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
