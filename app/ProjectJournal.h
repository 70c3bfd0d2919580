#pragma once

#include "app/JournalFile.h"
#include "base/PosixFile.h"
#include "data/OutcomeLog.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The append-only journal of a project's run outcomes: every outcome the phone gives is
// written and flushed to the disk (fdatasync) before the run goes on, so that after a kill, a
// crash or a power loss the next load folds it into the project (foldJournal). It lives beside
// the project file as "NAME.sms.journal", or in the state folder when that folder cannot take
// it; an untitled project's journal lives in the state folder's "untitled" folder, starts with
// the whole document, and is held with flock while its program runs, so that the next start
// can tell it from a live one and offer it back.
//
// A save and an outcome never interleave: commit and inFlight hold the journal's mutex across
// the change and the write, and saveExclusive holds it across the whole save (lock order: the
// journal, then the lists).
class ProjectJournal final : public OutcomeLog {
public:
    ProjectJournal() = default;
    ~ProjectJournal() override = default;
    ProjectJournal(const ProjectJournal &) = delete;
    ProjectJournal &operator=(const ProjectJournal &) = delete;

    // Raises Error when the journal is not open or cannot be written; then the change is made
    // in memory all the same.
    void commit(const void *key, const std::function<Message()> &change) override;
    void inFlight(const void *key, const Message &message) override;
    void setDeferred(bool deferred) override;
    void flush() override;

    // Before a run: makes sure a journal is open. For a project file (identity: of its bytes on
    // disk), the journal already on disk for that identity (whose records the document holds
    // since it was loaded) is appended to; any other is replaced. An untitled project
    // (projectFile empty) gets a new journal that starts with snapshot(), the document as the
    // project file would hold it; the one it had before is removed. Raises Error.
    void open(const QString &projectFile, const ProjectIdentity &identity,
              const std::function<QByteArray()> &snapshot);

    // Runs save while no outcome can be written. save writes the project file and returns the
    // identity of what it wrote; it is given the messages the phones are taking, which the
    // file must not show as waiting. When save succeeds, every journal of the file and the
    // untitled document's one are removed (the file holds what they did), and with runGoesOn a
    // new journal is opened for the new file; when it raises, nothing changes. A journal that
    // cannot be opened afresh makes later outcomes fail (the run stops) but not the save.
    void saveExclusive(const QString &projectFile,
                       const std::function<ProjectIdentity(const QList<Message> &)> &save,
                       bool runGoesOn);

    // The document is given up (New, Open, the end of the program): the journal is closed; an
    // untitled one is removed, a project file's one stays for that file's next load.
    void close();

    // Takes over an untitled journal left by a program that ended without saving (the document
    // was recovered from it): held and removed like this program's own.
    void adoptUntitled(const QString &path);

    bool isOpen() const;
    QString path() const;

    // The journals of a project file: beside it, and in the state folder.
    static QString pathBeside(const QString &projectFile);
    static QString pathInStateFolder(const QString &projectFile);
    // The journal that belongs to projectFile, or empty when there is none.
    static QString existingFor(const QString &projectFile);
    // Untitled journals whose program has ended, the newest first.
    static QStringList orphanedUntitled();
    static QString untitledFolder();

private:
    void append(JournalRecord record, const void *key);
    void openTitled(const QString &projectFile, const ProjectIdentity &identity);
    void startFresh(const QString &path, const QByteArray &header, bool lock);
    void closeLocked(bool removeUntitled);

    mutable QMutex m_mutex;
    FileDescriptor m_fd;
    QString m_path;
    bool m_untitled = false;
    qint64 m_size = 0;
    // The messages the phones are taking: from an inFlight to the next commit of the key.
    QHash<const void *, Message> m_inFlight;
    // The journal's number for each message between its first record and its last one of a
    // claim, so that a fold tells interleaved messages apart; never reused in a journal.
    QHash<const void *, quint32> m_slots;
    quint32 m_nextSlot = 1;
    bool m_deferred = false;
    bool m_unsynced = false; // records written while deferred and not yet flushed
    // Set when the journal could not go on after a save; later outcomes fail with it.
    QString m_failure;
};
