#include "app/ProjectJournal.h"

#include "base/Error.h"
#include "base/OleDate.h"
#include "base/StateFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const QString &path, int error) {
    throw Error(QStringLiteral("Cannot write the journal %1: %2")
                    .arg(QDir::toNativeSeparators(path), systemErrorText(error)));
}

void removeFile(const QString &path) {
    if (!path.isEmpty())
        ::unlink(QFile::encodeName(path).constData());
}

bool tryLockExclusive(int fd) {
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// Creates path afresh holding header, synced, its name too. Returns 0 or the error number.
int createJournal(const QString &path, const QByteArray &header, int mode, bool lock,
                  const struct stat *owner, FileDescriptor &out) {
    FileDescriptor fd(openFile(path, O_RDWR | O_CREAT | O_TRUNC, mode));
    if (!fd.isOpen())
        return errno;
    if (lock && !tryLockExclusive(fd.get()))
        return errno;
    // A journal written by root for a user's project stays readable and removable by the user.
    if (owner && (owner->st_uid != ::geteuid() || owner->st_gid != ::getegid()) &&
        ::fchown(fd.get(), owner->st_uid, owner->st_gid) != 0) {
        // Not allowed to: the journal stays this user's, which is what a user could make anyway.
    }
    if (!writeFully(fd.get(), header.constData(), header.size(), 0) ||
        ::ftruncate(fd.get(), off_t(header.size())) != 0 || ::fdatasync(fd.get()) != 0 ||
        !syncFolderOf(path)) {
        const int error = errno;
        removeFile(path);
        return error;
    }
    out = std::move(fd);
    return 0;
}

} // namespace

QString ProjectJournal::pathBeside(const QString &projectFile) {
    return QFileInfo(projectFile).absoluteFilePath() + QStringLiteral(".journal");
}

QString ProjectJournal::pathInStateFolder(const QString &projectFile) {
    return stateFolder() + QStringLiteral("/journals/") +
           stateFileName(projectFile, QStringLiteral(".journal"));
}

QString ProjectJournal::untitledFolder() {
    return stateFolder() + QStringLiteral("/untitled");
}

QString ProjectJournal::existingFor(const QString &projectFile) {
    for (const QString &path : {pathBeside(projectFile), pathInStateFolder(projectFile)}) {
        if (QFileInfo::exists(path))
            return path;
    }
    return QString();
}

QStringList ProjectJournal::orphanedUntitled() {
    const QFileInfoList entries =
        QDir(untitledFolder())
            .entryInfoList({QStringLiteral("*.journal")}, QDir::Files, QDir::Time);
    QStringList orphans;
    for (const QFileInfo &entry : entries) {
        FileDescriptor fd(openFile(entry.absoluteFilePath(), O_RDONLY));
        // A program that still runs holds its journal locked.
        if (fd.isOpen() && tryLockExclusive(fd.get()))
            orphans << entry.absoluteFilePath();
    }
    return orphans;
}

bool ProjectJournal::isOpen() const {
    QMutexLocker lock(&m_mutex);
    return m_fd.isOpen();
}

QString ProjectJournal::path() const {
    QMutexLocker lock(&m_mutex);
    return m_path;
}

void ProjectJournal::commit(const void *key, const std::function<Message()> &change) {
    QMutexLocker lock(&m_mutex);
    const Message message = change();
    m_inFlight.remove(key);
    append({JournalRecord::Kind::Commit, message}, key);
}

void ProjectJournal::inFlight(const void *key, const Message &message) {
    QMutexLocker lock(&m_mutex);
    append({JournalRecord::Kind::InFlight, message}, key);
    m_inFlight.insert(key, message);
}

void ProjectJournal::append(JournalRecord record, const void *key) {
    // A commit that leaves the message claimed (a part taken) keeps its number; any other
    // ends the claim, and the record's address may then be a new message's.
    const bool claimEnds = record.kind == JournalRecord::Kind::Commit &&
                           record.message.status != MessageStatus::Sending;
    auto slot = m_slots.find(key);
    if (slot == m_slots.end())
        slot = m_slots.insert(key, m_nextSlot++);
    record.slot = *slot;
    if (claimEnds)
        m_slots.erase(slot);
    if (!m_failure.isEmpty())
        throw Error(m_failure);
    if (!m_fd.isOpen())
        throw Error(QStringLiteral("The run's outcomes cannot be recorded: no journal is open"));
    const QByteArray bytes = encodeJournalRecord(record);
    if (!writeFully(m_fd.get(), bytes.constData(), bytes.size(), m_size)) {
        const int error = errno;
        // What part of the record made it is dropped, so that the next one follows a whole one.
        if (::ftruncate(m_fd.get(), off_t(m_size)) != 0) {
        }
        fail(m_path, error);
    }
    if (m_deferred) {
        m_size += bytes.size();
        m_unsynced = true;
        return;
    }
    if (::fdatasync(m_fd.get()) != 0)
        fail(m_path, errno);
    m_size += bytes.size();
}

void ProjectJournal::setDeferred(bool deferred) {
    QMutexLocker lock(&m_mutex);
    m_deferred = deferred;
}

void ProjectJournal::flush() {
    QMutexLocker lock(&m_mutex);
    if (!m_unsynced)
        return;
    if (!m_fd.isOpen())
        throw Error(QStringLiteral("The run's outcomes cannot be recorded: no journal is open"));
    if (::fdatasync(m_fd.get()) != 0)
        fail(m_path, errno);
    m_unsynced = false;
}

void ProjectJournal::open(const QString &projectFile, const ProjectIdentity &identity,
                          const std::function<QByteArray()> &snapshot) {
    QMutexLocker lock(&m_mutex);
    m_failure.clear();
    if (projectFile.isEmpty()) {
        const QString previous = m_untitled ? m_path : QString();
        JournalContent content;
        content.untitled = true;
        content.started = oleNow();
        content.snapshot = snapshot();
        const QString folder = untitledFolder();
        if (!makeFolders(folder))
            fail(folder, errno);
        static std::atomic<int> counter{0};
        const QString path =
            QStringLiteral("%1/%2-%3-%4.journal")
                .arg(folder,
                     QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))
                .arg(::getpid())
                .arg(counter++);
        FileDescriptor fd;
        if (const int error =
                createJournal(path, encodeJournalHeader(content), 0600, true, nullptr, fd))
            fail(path, error);
        m_fd = std::move(fd);
        m_path = path;
        m_untitled = true;
        m_size = encodeJournalHeader(content).size();
        m_inFlight.clear();
        m_unsynced = false;
        // The new journal holds everything the old one did.
        if (previous != path)
            removeFile(previous);
        return;
    }
    const QString besidePath = pathBeside(projectFile);
    const QString statePath = pathInStateFolder(projectFile);
    if (m_fd.isOpen() && !m_untitled && (m_path == besidePath || m_path == statePath))
        return;
    closeLocked(true);
    openTitled(projectFile, identity);
}

void ProjectJournal::openTitled(const QString &projectFile, const ProjectIdentity &identity) {
    const QString existing = existingFor(projectFile);
    if (!existing.isEmpty()) {
        const std::optional<JournalContent> content = readJournalFile(existing);
        if (content && !content->untitled && content->identity == identity) {
            // Its records are in the document since the load: the run goes on after them.
            FileDescriptor fd(openFile(existing, O_RDWR));
            if (!fd.isOpen())
                fail(existing, errno);
            if (::ftruncate(fd.get(), off_t(content->validSize)) != 0 || ::fdatasync(fd.get()) != 0)
                fail(existing, errno);
            m_fd = std::move(fd);
            m_path = existing;
            m_untitled = false;
            m_size = content->validSize;
            return;
        }
        // Folded into the file by a save already, or no journal at all.
        removeFile(existing);
    }
    JournalContent content;
    content.identity = identity;
    const QByteArray header = encodeJournalHeader(content);
    struct stat project {};
    const bool projectExists = ::stat(QFile::encodeName(projectFile).constData(), &project) == 0;
    const int mode = projectExists ? int(project.st_mode & 0666) : 0600;
    FileDescriptor fd;
    QString path = pathBeside(projectFile);
    int error = createJournal(path, header, mode, false, projectExists ? &project : nullptr, fd);
    if (error == EACCES || error == EPERM || error == EROFS) {
        // A folder the user may not write: the project is saved in place, its journal kept here.
        path = pathInStateFolder(projectFile);
        error = makeFolders(QFileInfo(path).absolutePath())
                    ? createJournal(path, header, 0600, false, nullptr, fd)
                    : errno;
    }
    if (error != 0)
        fail(path, error);
    m_fd = std::move(fd);
    m_path = path;
    m_untitled = false;
    m_size = header.size();
}

void ProjectJournal::saveExclusive(
    const QString &projectFile, const std::function<ProjectIdentity(const QList<Message> &)> &save,
    bool runGoesOn) {
    QMutexLocker lock(&m_mutex);
    const ProjectIdentity identity = save(m_inFlight.values());
    const QString oldPath = m_path;
    m_fd.reset();
    m_path.clear();
    m_untitled = false;
    m_size = 0;
    m_unsynced = false;
    m_failure.clear();
    // The file holds everything these journals did.
    removeFile(oldPath);
    removeFile(pathBeside(projectFile));
    removeFile(pathInStateFolder(projectFile));
    if (!runGoesOn)
        return;
    try {
        openTitled(projectFile, identity);
    } catch (const Error &e) {
        m_failure = e.message();
    }
}

void ProjectJournal::close() {
    QMutexLocker lock(&m_mutex);
    closeLocked(true);
}

void ProjectJournal::closeLocked(bool removeUntitled) {
    if (m_untitled && removeUntitled)
        removeFile(m_path);
    m_fd.reset();
    m_path.clear();
    m_untitled = false;
    m_size = 0;
    m_inFlight.clear();
    m_unsynced = false;
    m_failure.clear();
}

void ProjectJournal::adoptUntitled(const QString &path) {
    QMutexLocker lock(&m_mutex);
    closeLocked(true);
    FileDescriptor fd(openFile(path, O_RDWR));
    if (!fd.isOpen())
        fail(path, errno);
    if (!tryLockExclusive(fd.get()))
        fail(path, errno);
    const std::optional<JournalContent> content = readJournalFile(path);
    if (!content || !content->untitled)
        throw Error(QStringLiteral("%1 is not the journal of an untitled project")
                        .arg(QDir::toNativeSeparators(path)));
    if (::ftruncate(fd.get(), off_t(content->validSize)) != 0)
        fail(path, errno);
    m_fd = std::move(fd);
    m_path = path;
    m_untitled = true;
    m_size = content->validSize;
}
