#pragma once

#include "base/Error.h"
#include "base/PosixFile.h"

#include <QString>

#include <functional>

// Raised when another program holds a project's lock: "club.sms is in use by pelorvane-cli
// send (pid 4242)".
class ProjectInUseError : public Error {
public:
    using Error::Error;
};

// The one-writer rule for a project file: an exclusive flock on "NAME.sms.lock" beside it,
// which holds the holder's pid and what it is ("pelorvane", "pelorvane-cli send"). The system
// drops the lock when the holder ends in any way (a kill, a crash), so a lock is never stale.
// When the folder cannot take the lock file, the project file itself is locked (a user who
// cannot write the folder saves in place, so the file stays the same) and the holder's details
// go to the state folder.
class ProjectLock {
public:
    ProjectLock() = default;
    ~ProjectLock() { release(); }
    ProjectLock(const ProjectLock &) = delete;
    ProjectLock &operator=(const ProjectLock &) = delete;

    // Takes the lock on projectFile for holder. Held by another program: with wait, onWait is
    // told who holds it and the call returns once the lock is free; without, ProjectInUseError
    // is raised. Other failures raise Error. Holding a lock already, this one replaces it only
    // once taken.
    void acquire(const QString &projectFile, const QString &holder, bool wait = false,
                 const std::function<void(const QString &message)> &onWait = {});
    void release();

    bool isHeld() const { return m_fd.isOpen(); }
    // The absolute path of the project file whose lock is held; empty when none.
    QString projectFile() const { return m_projectFile; }

    static QString lockPath(const QString &projectFile);
    // The folder's real path and the file's name: one lock whatever path leads to the folder,
    // before and after the project file exists.
    static QString canonicalPath(const QString &projectFile);

private:
    FileDescriptor m_fd;
    QString m_projectFile;
    QString m_lockPath;
    QString m_detailsPath;
    bool m_ownsLockFile = false;
};
