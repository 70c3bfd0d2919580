#include "ui/PasswordStore.h"

#include <QEventLoop>
#include <QHash>

#include <qt6keychain/keychain.h>

#include <memory>

namespace {

const QString Service = QStringLiteral("pelorvane");

// What was given in this program run: asked again only after it ends, also when the desktop
// has no password store.
QHash<QString, QByteArray> &givenThisRun() {
    static QHash<QString, QByteArray> passwords;
    return passwords;
}

// Runs a job to its end; the job deletes itself afterwards.
void runJob(QKeychain::Job &job) {
    job.setAutoDelete(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

QString errorText(const QKeychain::Job &job) {
    switch (job.error()) {
    case QKeychain::NoError:
        return QString();
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
        return QStringLiteral("No password store is available on this desktop (%1)")
            .arg(job.errorString());
    case QKeychain::AccessDeniedByUser:
        return QStringLiteral("The password store was not opened");
    default:
        return QStringLiteral("The password store failed: %1").arg(job.errorString());
    }
}

} // namespace

QString PasswordStore::keyFor(const QString &host, quint16 port, const QByteArray &systemId) {
    return QStringLiteral("smpp:%1@%2:%3").arg(QString::fromUtf8(systemId), host).arg(port);
}

PasswordStore::ReadResult PasswordStore::read(const QString &key) {
    QKeychain::ReadPasswordJob job(Service);
    job.setKey(key);
    runJob(job);
    ReadResult result;
    if (job.error() == QKeychain::NoError)
        result.password = job.binaryData();
    else if (job.error() != QKeychain::EntryNotFound)
        result.error = errorText(job);
    if (!result.password && givenThisRun().contains(key))
        result.password = givenThisRun().value(key);
    return result;
}

QString PasswordStore::write(const QString &key, const QByteArray &password) {
    givenThisRun().insert(key, password);
    QKeychain::WritePasswordJob job(Service);
    job.setKey(key);
    job.setBinaryData(password);
    runJob(job);
    return errorText(job);
}

QString PasswordStore::remove(const QString &key) {
    givenThisRun().remove(key);
    QKeychain::DeletePasswordJob job(Service);
    job.setKey(key);
    runJob(job);
    return job.error() == QKeychain::EntryNotFound ? QString() : errorText(job);
}
