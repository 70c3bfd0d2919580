#include "base/PosixFile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void FileDescriptor::reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

int openFile(const QString &path, int flags, int mode) {
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(native.constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool writeFully(int fd, const char *data, qint64 size, qint64 offset) {
    while (size > 0) {
        const ssize_t n = offset >= 0 ? ::pwrite(fd, data, size_t(size), off_t(offset))
                                      : ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
        if (offset >= 0)
            offset += n;
    }
    return true;
}

bool readFully(int fd, QByteArray &bytes) {
    bytes.clear();
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        bytes.reserve(qsizetype(st.st_size));
    qint64 offset = 0;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        bytes.append(buffer, n);
        offset += n;
    }
}

QString systemErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool syncFolderOf(const QString &path) {
    const QString folder = QFileInfo(path).absolutePath();
    FileDescriptor fd(openFile(folder, O_RDONLY | O_DIRECTORY));
    if (!fd.isOpen())
        return false;
    // Some file systems cannot sync a folder; the rename is as durable as they make it.
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
        return false;
    return true;
}

bool makeFolders(const QString &path) {
    const QByteArray native =
        QFile::encodeName(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    QByteArray partial;
    for (const QByteArray &part : native.split('/')) {
        if (part.isEmpty())
            continue;
        partial += '/' + part;
        if (::mkdir(partial.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}
