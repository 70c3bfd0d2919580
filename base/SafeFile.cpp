#include "base/SafeFile.h"

#include "base/Error.h"
#include "base/PosixFile.h"
#include "base/StateFolder.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtEndian>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray BackupMagic("PVBK\x01\0\0\0", 8);
constexpr int DigestSize = 20;

[[noreturn]] void fail(const QString &shownName, int error) {
    throw Error(QStringLiteral("Cannot write %1: %2")
                    .arg(QDir::toNativeSeparators(shownName), systemErrorText(error)));
}

QByteArray digestOf(const QByteArray &bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

// What a rewrite in place keeps until the new content is complete: the content before it and
// the digest of the content being written.
struct Backup {
    QByteArray newDigest;
    QByteArray oldDigest;
    QByteArray oldContent;
};

QString backupPathFor(const QString &target) {
    return stateFolder() + QStringLiteral("/backups/") +
           stateFileName(target, QStringLiteral(".backup"));
}

QByteArray encodeBackup(const Backup &backup) {
    QByteArray bytes = BackupMagic + backup.newDigest + backup.oldDigest;
    char size[8];
    qToLittleEndian(quint64(backup.oldContent.size()), size);
    bytes.append(size, 8);
    bytes += backup.oldContent;
    return bytes;
}

// A backup is written whole under a new name and renamed into place: one that does not read
// completely was never anyone's safeguard.
std::optional<Backup> readBackup(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(file.size());
    const qsizetype head = BackupMagic.size() + 2 * DigestSize + 8;
    if (bytes.size() < head || !bytes.startsWith(BackupMagic))
        return std::nullopt;
    const quint64 size = qFromLittleEndian<quint64>(bytes.constData() + head - 8);
    if (size != quint64(bytes.size() - head))
        return std::nullopt;
    Backup backup;
    backup.newDigest = bytes.mid(BackupMagic.size(), DigestSize);
    backup.oldDigest = bytes.mid(BackupMagic.size() + DigestSize, DigestSize);
    backup.oldContent = bytes.mid(head);
    return backup;
}

// The file a save goes to: the target of a symbolic link rather than the link.
QString resolvedTarget(const QString &fileName) {
    const QFileInfo info(fileName);
    if (info.isSymLink() && info.exists())
        return info.canonicalFilePath();
    return info.absoluteFilePath();
}

bool folderRefusesNewFiles(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

enum class RenameResult { Done, FolderNotWritable, OwnerNotKept };

struct RenameOutcome {
    RenameResult result = RenameResult::Done;
    int error = 0;
};

// A new file beside target, renamed over it. Raises for every failure but the two after which
// a rewrite in place may still succeed.
RenameOutcome replaceByRename(const QString &target, const QByteArray &bytes,
                              const struct stat *old, const QString &shownName) {
    const QString base = QFileInfo(target).absoluteFilePath();
    QString temp;
    FileDescriptor fd;
    for (int attempt = 0; attempt < 100 && !fd.isOpen(); ++attempt) {
        temp = base + u'.' + QString::number(QRandomGenerator::global()->generate(), 36);
        fd.reset(openFile(temp, O_WRONLY | O_CREAT | O_EXCL, 0666));
        if (!fd.isOpen() && errno != EEXIST) {
            if (old && folderRefusesNewFiles(errno))
                return {RenameResult::FolderNotWritable, errno};
            fail(shownName, errno);
        }
    }
    if (!fd.isOpen())
        fail(shownName, EEXIST);
    struct Remove {
        QString path;
        ~Remove() {
            if (!path.isEmpty())
                ::unlink(QFile::encodeName(path).constData());
        }
    } removeTemp{temp};

    if (!writeFully(fd.get(), bytes.constData(), bytes.size()))
        fail(shownName, errno);
    if (old) {
        // A save as another user (root) must not hand the user's file to that user.
        struct stat now {};
        if (::fstat(fd.get(), &now) != 0)
            fail(shownName, errno);
        if ((now.st_uid != old->st_uid || now.st_gid != old->st_gid) &&
            ::fchown(fd.get(), old->st_uid, old->st_gid) != 0) {
            if (errno == EPERM)
                return {RenameResult::OwnerNotKept, EPERM};
            fail(shownName, errno);
        }
        if (::fchmod(fd.get(), old->st_mode & 07777) != 0)
            fail(shownName, errno);
    }
    if (::fsync(fd.get()) != 0)
        fail(shownName, errno);
    fd.reset();
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) != 0)
        fail(shownName, errno);
    removeTemp.path.clear();
    if (!syncFolderOf(target))
        fail(shownName, errno);
    return {};
}

void writeBackup(const QString &path, const Backup &backup, const QString &shownName) {
    if (!makeFolders(QFileInfo(path).absolutePath())) {
        const int error = errno;
        throw Error(QStringLiteral("Cannot write %1: its old content cannot be kept in %2: %3")
                        .arg(QDir::toNativeSeparators(shownName),
                             QDir::toNativeSeparators(QFileInfo(path).absolutePath()),
                             systemErrorText(error)));
    }
    replaceByRename(path, encodeBackup(backup), nullptr, shownName);
}

void removeBackup(const QString &path) {
    ::unlink(QFile::encodeName(path).constData());
}

// Overwrites the file's content; when a write fails the old content goes back before the
// error is raised.
void rewriteInPlace(int fd, const QByteArray &bytes, const QByteArray &old,
                    const QString &shownName) {
    const bool written = writeFully(fd, bytes.constData(), bytes.size(), 0) &&
                         ::ftruncate(fd, off_t(bytes.size())) == 0 && ::fdatasync(fd) == 0;
    if (written)
        return;
    const int error = errno;
    if (writeFully(fd, old.constData(), old.size(), 0) && ::ftruncate(fd, off_t(old.size())) == 0)
        ::fdatasync(fd);
    fail(shownName, error);
}

} // namespace

void writeFileSafely(const QString &fileName, const QByteArray &bytes) {
    const QString target = resolvedTarget(fileName);
    struct stat old {};
    const bool exists = ::stat(QFile::encodeName(target).constData(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        fail(fileName, EISDIR);
    if (exists && !S_ISREG(old.st_mode)) {
        // A device or a pipe has no old content to keep.
        FileDescriptor fd(openFile(target, O_WRONLY | O_TRUNC));
        if (!fd.isOpen() || !writeFully(fd.get(), bytes.constData(), bytes.size()))
            fail(fileName, errno);
        return;
    }

    const QString backupPath = backupPathFor(target);
    const QByteArray newDigest = digestOf(bytes);
    std::optional<Backup> backup = exists ? readBackup(backupPath) : std::nullopt;
    if (backup) {
        QFile current(target);
        const QByteArray currentDigest = current.open(QIODevice::ReadOnly)
                                             ? digestOf(current.read(current.size()))
                                             : QByteArray();
        if (currentDigest == backup->newDigest || currentDigest == backup->oldDigest) {
            // The last rewrite completed (or never began): nothing left to guard.
            removeBackup(backupPath);
            backup.reset();
        } else {
            // The file is still cut off: the backup guards it until this save is complete.
            backup->newDigest = newDigest;
            writeBackup(backupPath, *backup, fileName);
        }
    }

    const RenameOutcome renamed = replaceByRename(target, bytes, exists ? &old : nullptr, fileName);
    if (renamed.result != RenameResult::Done) {
        FileDescriptor fd(openFile(target, O_RDWR));
        if (!fd.isOpen())
            fail(fileName,
                 renamed.result == RenameResult::FolderNotWritable ? renamed.error : errno);
        QByteArray current;
        if (!readFully(fd.get(), current))
            fail(fileName, errno);
        if (!backup) {
            backup = Backup{newDigest, digestOf(current), current};
            writeBackup(backupPath, *backup, fileName);
        }
        rewriteInPlace(fd.get(), bytes, current, fileName);
    }
    if (backup)
        removeBackup(backupPath);
}

void writeFileSafely(const QString &fileName, const std::function<void(QIODevice &device)> &write) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    write(buffer);
    buffer.close();
    writeFileSafely(fileName, buffer.data());
}

QByteArray readFileSafely(const QString &fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(file.errorString());
    // Only as many bytes as the file has: a device that never ends reads as empty.
    const QByteArray bytes = file.read(file.size());
    if (file.error() != QFileDevice::NoError)
        throw Error(file.errorString());
    if (const std::optional<Backup> backup = readBackup(backupPathFor(resolvedTarget(fileName)))) {
        const QByteArray digest = digestOf(bytes);
        if (digest != backup->newDigest && digest != backup->oldDigest)
            return backup->oldContent;
    }
    return bytes;
}
