#pragma once

#include <QByteArray>
#include <QString>

// Thin helpers over POSIX file descriptors for the files whose every byte must be checked
// (project saves, the journal, lock files): no buffering that could hide a short write.

// An open descriptor, closed when it goes.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor &&other) noexcept : m_fd(other.release()) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// open(2) with O_CLOEXEC and a retry after EINTR; -1 with errno set on failure.
int openFile(const QString &path, int flags, int mode = 0);

// Writes every byte at the descriptor's position (or at offset when it is not negative),
// retrying after interruptions. False with errno set when a write fails or makes no progress
// (a full disk, a file-size limit: ENOSPC when the system gave no reason).
bool writeFully(int fd, const char *data, qint64 size, qint64 offset = -1);

// Reads the whole file from offset 0; false with errno set on failure.
bool readFully(int fd, QByteArray &bytes);

// The system's text for an error number ("No space left on device").
QString systemErrorText(int error);

// fsync of the folder that holds path, so that a rename or a new name in it is durable.
// False with errno set on failure.
bool syncFolderOf(const QString &path);

// Creates the folder and its parents with mode 0700 where missing; false with errno set.
bool makeFolders(const QString &path);
