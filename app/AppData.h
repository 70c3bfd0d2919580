#pragma once

#include "app/ComposeFields.h"
#include "app/JournalFile.h"
#include "app/Settings.h"
#include "data/ContactList.h"
#include "data/MessageList.h"
#include "data/OutcomeLog.h"
#include "link/PhoneReadiness.h"
#include "smpp/SmppSession.h"

#include <QIODevice>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class SerialPort;
class GsmSerial;
class Phone;
class ProjectJournal;
class ProjectLock;
class SendingWorker;

// The application data module: owner of the long-lived objects and of the project document
// (the compose fields, the contacts, the outbox and the sent list, the file name and the
// modified flag), with New, Load and Save of the project file.
//
// Project file: bytes 0x83 0x56, version 10, a reserved 0, then sections, each a tag byte and
// its payload: 0 compose fields, 1 contacts, 2 outbox, 3 sent list.
//
// Version 11 is the same followed by sections that carry their length: a tag byte of 4 or
// above, an int32 payload length, the payload; a reader skips the ones it does not know. Tag 4
// gives the outbox messages' states that version 10 cannot hold: an int32 count, then per
// message its int32 index in the outbox, status byte (0 pending, 2 sent, 3 failed, 4 unknown),
// int32 accepted parts, int32 part reference, reason (wide field) and error (ansi field). A
// document whose outbox holds no such state is written as version 10, byte for byte. Tag 5 gives
// what version 10 cannot hold of messages in either list: an int32 count, then per message the
// list's tag byte (2 outbox, 3 sent), its int32 index there, the phone that sent it (wide
// field; kept when a run used several), the SMS centre's message id (ansi field), the delivery
// state byte (0 none, 1 delivered, 2 not delivered, 3 expired) and its detail (wide field).
//
// The outcomes of a run are kept in the project's journal (ProjectJournal) until the next save;
// a load folds the journal that belongs to the file into the document. A program that writes
// project files names itself in lockHolder, and then holds the lock of the file it works on.
class AppData {
public:
    // Asks for the name to save under (the window's save dialog); empty means cancel.
    using AskFileName = std::function<QString()>;

    // settingsFile: the ini file to use; empty for the usual location (beside the executable
    // when that folder is writable, else the user's configuration folder).
    explicit AppData(const QString &settingsFile = QString());
    // Stops a running worker and waits for its end before anything it uses is freed.
    ~AppData();
    AppData(const AppData &) = delete;
    AppData &operator=(const AppData &) = delete;

    // Created in this order, freed in the reverse one.
    std::unique_ptr<Settings> settings;
    std::unique_ptr<SerialPort> comPort;
    std::unique_ptr<GsmSerial> serial;
    std::unique_ptr<Phone> phone;
    std::unique_ptr<ContactList> contactList;
    std::unique_ptr<MessageList> outboxList;
    std::unique_ptr<MessageList> sentList;
    // The run outcomes not yet in the project file; handed to every sending run.
    std::unique_ptr<ProjectJournal> journal;

    // Full path of the project file; empty while untitled.
    QString fileName;
    // Set by any list change, cleared by New and by a completed Load or Save. Editing the
    // compose fields does not set it.
    std::atomic<bool> modified{false};
    // Read and written by the compose view; Load replaces them when the file has them.
    ComposeFields compose;
    // Provided by the main window; Save without it behaves as a cancelled dialog.
    AskFileName onAskFileName;

    // What this program is in the lock of a project file ("pelorvane", "pelorvane-cli queue");
    // empty for one that takes no lock (reading, tests). With it, Load and Save take the lock
    // of their file before they touch it and keep it while the document is that file's.
    QString lockHolder;
    // A lock held by another program is waited for (onWaitForLock is told by whom) rather than
    // refused with ProjectInUseError.
    bool waitForLock = false;
    std::function<void(const QString &message)> onWaitForLock;

    // The project file as it was last read or written (what a journal applies to).
    ProjectIdentity fileIdentity;
    // What the last Load found in the file's journal.
    FoldResult lastFold;

    // The time sending runs go by; the system's when null (tests put a fast one here).
    std::shared_ptr<PaceClock> clock;
    // A time of day at which the window's runs begin (the next such moment when Start is
    // pressed); invalid: at once. For this program run only.
    QTime startAt;

    // Run on the UI thread by the sender after each status change of a message (the main
    // window's refreshAll); may be empty.
    std::function<void()> onRefreshAll;
    // How sending runs ask the user for a PIN and show their waits, and the advice their
    // stops end with (the window's or pelorvane-cli's); the network wait is the settings'.
    ReadinessOptions readiness;

    // The SMS centre's password, asked when a run or a probe connects (the window's password
    // store, pelorvane-cli's environment or file); nullopt or empty: none. Never kept in the
    // settings file.
    std::function<std::optional<QByteArray>()> smppPassword;
    // The connection to the SMS centre as the settings give it, the password from smppPassword.
    // Raises Error when the certificate to trust cannot be read.
    SmppConfig smppConfig() const;

    // The transfer after a sending run: every sent outbox message moves, in order, to the end
    // of the sent list; both lists notify when any moved. Returns how many moved.
    int moveSentMessages();

    // A sending run over this project's outbox and contacts, created suspended for
    // Phone::start: through the phone, or through the SMS centre when that is the settings'
    // connection kind (receipts then also reach the sent list, which becomes modified); long
    // messages take their references from the settings. Opens the journal
    // the run records its outcomes in first, and raises Error when it cannot be written. The retry
    // delays and the stop at the first refusal are the settings'.
    SendingWorker *newSender();

    // Takes the lock of path for lockHolder (nothing without a holder, or when held already):
    // ProjectInUseError when another program holds it and waitForLock is not set.
    void lockProject(const QString &path);
    // The path whose lock is held, empty when none.
    QString lockedFile() const;

    // Stops the running worker, if any, and serves the event queue until it has ended.
    void stopWorkerAndWait();

    // The onChange handler of the three lists.
    void setModified() { modified = true; }

    // The file-name part of fileName, or "Untitled".
    QString title() const;

    // Empties the three lists, makes the document untitled and unmodified. The compose fields
    // stay; the lock of the file is released and an untitled journal is given up.
    void newProject();

    // The untitled projects that programs sending them ended without saving (their journals),
    // the newest first.
    static QStringList unsavedUntitledProjects();
    // Makes one of them the document: the state at the start of its run and every outcome
    // since; untitled and modified. Its journal becomes this document's. Raises Error.
    void recoverUntitled(const QString &journalPath);
    // Forgets one of them.
    static void discardUntitled(const QString &journalPath);

    // Reads the project file path (fileName when empty). Sections the file lacks leave
    // that part of the document as it was; a section that fails part-way leaves its part as
    // it was, while sections read completely before the failure stay. fileName becomes the
    // file read as soon as anything from it is in the document; Modified is cleared when the
    // load completes and kept otherwise. Errors: "Invalid file format.", "Invalid file
    // version %d", "Stream read error", "List count out of bounds (%d)", the file's own error,
    // ProjectInUseError. A completed load folds the file's journal into the document (see
    // lastFold) and moves the outbox messages that are sent to the end of the sent list; the
    // document is then modified when that changed anything. Only reads.
    void load(const QString &path = QString());

    // Writes the project to fileName, asking for a name first when the document is untitled
    // or saveAs is set. Returns false when the question was cancelled: nothing is written and
    // nothing changes. The chosen name becomes fileName at once (once its lock is held);
    // Modified is cleared when the file is complete. On failure the previous file is left
    // intact and the error is raised ("Cannot write NAME: " and the system's reason). A run
    // may go on meanwhile: the save waits for the outcome being recorded, and the journal
    // starts afresh for the new file.
    bool save(bool saveAs = false);

    // The whole project file, written to / read from a device. loadFromDevice reads the
    // sections as Load does but leaves fileName and Modified alone; taken is set as soon as a
    // section has changed the document (also when it then fails).
    // inFlight: the messages the phones are taking, which the file shows as Unknown.
    void saveToDevice(QIODevice &device, const QList<Message> &inFlight = {}) const;
    void loadFromDevice(QIODevice &device, bool *taken = nullptr);

    static constexpr quint8 Magic0 = 0x83;
    static constexpr quint8 Magic1 = 0x56;
    static constexpr quint8 FileVersion = 10;
    static constexpr quint8 ExtendedFileVersion = 11;

private:
    QByteArray projectBytes(const QList<Message> &inFlight) const;
    // A lock of path for lockHolder that is not held yet; null when none is needed.
    std::unique_ptr<ProjectLock> newLock(const QString &path) const;

    std::unique_ptr<ProjectLock> m_lock;
};
