#include "app/ProjectLock.h"

#include "base/StateFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString detailsPathFor(const QString &projectFile) {
    return stateFolder() + QStringLiteral("/locks/") +
           stateFileName(projectFile, QStringLiteral(".lock"));
}

bool flockRetrying(int fd, int operation) {
    int result;
    do {
        result = ::flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// "pelorvane-cli send (pid 4242)" from a lock file's "4242\npelorvane-cli send\n".
QString holderOf(const QString &detailsPath) {
    QFile file(detailsPath);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("another program");
    const QList<QByteArray> lines = file.read(4096).split('\n');
    bool ok = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
    const QString name = QString::fromUtf8(lines.value(1).trimmed());
    if (!ok || name.isEmpty())
        return QStringLiteral("another program");
    return QStringLiteral("%1 (pid %2)").arg(name).arg(pid);
}

QString inUseMessage(const QString &projectFile, const QString &detailsPath) {
    return QStringLiteral("%1 is in use by %2")
        .arg(QFileInfo(projectFile).fileName(), holderOf(detailsPath));
}

// Same file as the path names now (a lock file removed and made anew under the same name is
// another file).
bool stillNamed(int fd, const QString &path) {
    struct stat held {
    }, named{};
    return ::fstat(fd, &held) == 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

QString ProjectLock::canonicalPath(const QString &projectFile) {
    const QFileInfo info(projectFile);
    QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        folder = info.absolutePath();
    return folder + u'/' + info.fileName();
}

QString ProjectLock::lockPath(const QString &projectFile) {
    return QFileInfo(projectFile).absoluteFilePath() + QStringLiteral(".lock");
}

void ProjectLock::acquire(const QString &projectFile, const QString &holder, bool wait,
                          const std::function<void(const QString &message)> &onWait) {
    const QString absolute = canonicalPath(projectFile);
    if (m_fd.isOpen() && absolute == m_projectFile)
        return;

    QString lockFile = lockPath(absolute);
    QString details = lockFile;
    bool ownsLockFile = true;
    FileDescriptor fd;
    for (;;) {
        fd.reset(openFile(lockFile, O_RDWR | O_CREAT, 0644));
        if (!fd.isOpen() && ownsLockFile && (errno == EACCES || errno == EPERM || errno == EROFS)) {
            // The folder refuses new files: lock the project file itself.
            lockFile = absolute;
            details = detailsPathFor(absolute);
            ownsLockFile = false;
            fd.reset(openFile(lockFile, O_RDONLY));
        }
        if (!fd.isOpen()) {
            const int error = errno;
            throw Error(QStringLiteral("Cannot lock %1: %2")
                            .arg(QDir::toNativeSeparators(projectFile), systemErrorText(error)));
        }
        if (!flockRetrying(fd.get(), LOCK_EX | LOCK_NB)) {
            if (errno != EWOULDBLOCK) {
                const int error = errno;
                throw Error(
                    QStringLiteral("Cannot lock %1: %2")
                        .arg(QDir::toNativeSeparators(projectFile), systemErrorText(error)));
            }
            const QString message = inUseMessage(absolute, details);
            if (!wait)
                throw ProjectInUseError(message);
            if (onWait)
                onWait(message);
            if (!flockRetrying(fd.get(), LOCK_EX)) {
                const int error = errno;
                throw Error(
                    QStringLiteral("Cannot lock %1: %2")
                        .arg(QDir::toNativeSeparators(projectFile), systemErrorText(error)));
            }
        }
        // The holder before us may have removed the lock file while we waited on it.
        if (!ownsLockFile || stillNamed(fd.get(), lockFile))
            break;
    }

    const QByteArray text = QByteArray::number(qint64(::getpid())) + '\n' + holder.toUtf8() + '\n';
    if (ownsLockFile) {
        if (::ftruncate(fd.get(), 0) == 0)
            writeFully(fd.get(), text.constData(), text.size(), 0);
    } else if (makeFolders(QFileInfo(details).absolutePath())) {
        FileDescriptor detailsFd(openFile(details, O_WRONLY | O_CREAT | O_TRUNC, 0644));
        if (detailsFd.isOpen())
            writeFully(detailsFd.get(), text.constData(), text.size());
    }
    release();
    m_fd = std::move(fd);
    m_projectFile = absolute;
    m_lockPath = lockFile;
    m_detailsPath = details;
    m_ownsLockFile = ownsLockFile;
}

void ProjectLock::release() {
    if (!m_fd.isOpen())
        return;
    // Removed while still held, so that no other program can take a lock on a file that is
    // about to go (a waiter checks the name still leads to the file it locked).
    if (m_ownsLockFile)
        ::unlink(QFile::encodeName(m_lockPath).constData());
    else
        ::unlink(QFile::encodeName(m_detailsPath).constData());
    m_fd.reset();
    m_projectFile.clear();
    m_lockPath.clear();
    m_detailsPath.clear();
}
