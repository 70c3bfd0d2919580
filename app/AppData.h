#pragma once

#include "app/ComposeFields.h"
#include "app/Settings.h"
#include "data/ContactList.h"
#include "data/MessageList.h"
#include "data/OutcomeLog.h"

#include <QIODevice>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class SerialPort;
class GsmSerial;
class Phone;
class SenderThread;

// The application data module: owner of the long-lived objects and of the project document
// (the compose fields, the contacts, the outbox and the sent list, the file name and the
// modified flag), with New, Load and Save of the project file.
//
// Project file: bytes 0x83 0x56, version 10, a reserved 0, then sections, each a tag byte and
// its payload: 0 compose fields, 1 contacts, 2 outbox, 3 sent list.
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
    // Where a sending run makes each outcome durable before it goes on.
    std::unique_ptr<OutcomeLog> outcomeLog = std::make_unique<TransientOutcomeLog>();

    // Full path of the project file; empty while untitled.
    QString fileName;
    // Set by any list change, cleared by New and by a completed Load or Save. Editing the
    // compose fields does not set it.
    std::atomic<bool> modified{false};
    // Read and written by the compose view; Load replaces them when the file has them.
    ComposeFields compose;
    // Provided by the main window; Save without it behaves as a cancelled dialog.
    AskFileName onAskFileName;

    // Run on the UI thread by the sender after each status change of a message (the main
    // window's refreshAll); may be empty.
    std::function<void()> onRefreshAll;

    // The transfer after a sending run: every sent outbox message moves, in order, to the end
    // of the sent list; both lists notify when any moved. Returns how many moved.
    int moveSentMessages();

    // A sending run over this project's outbox and contacts, created suspended for
    // Phone::start; long messages take their references from the settings, and the retry
    // delays and the stop at the first refusal are the settings' too. Its outcomes go through
    // outcomeLog.
    SenderThread *newSender();

    // Stops the running worker, if any, and serves the event queue until it has ended.
    void stopWorkerAndWait();

    // The onChange handler of the three lists.
    void setModified() { modified = true; }

    // The file-name part of fileName, or "Untitled".
    QString title() const;

    // Empties the three lists, makes the document untitled and unmodified. The compose fields
    // stay.
    void newProject();

    // Reads the project file path (fileName when empty). Sections the file lacks leave
    // that part of the document as it was; a section that fails part-way leaves its part as
    // it was, while sections read completely before the failure stay. fileName becomes the
    // file read as soon as anything from it is in the document; Modified is cleared when the
    // load completes and kept otherwise. Errors: "Invalid file format.", "Invalid file
    // version %d", "Stream read error", "List count out of bounds (%d)", the file's own error.
    void load(const QString &path = QString());

    // Writes the project to fileName, asking for a name first when the document is untitled
    // or saveAs is set. Returns false when the question was cancelled: nothing is written and
    // nothing changes. The chosen name becomes fileName at once; Modified is cleared when the
    // file is complete. On failure the previous file is left intact and the error is raised
    // ("Stream write error" or the file's error).
    bool save(bool saveAs = false);

    // The whole project file, written to / read from a device. loadFromDevice reads the
    // sections as Load does but leaves fileName and Modified alone; taken is set as soon as a
    // section has changed the document (also when it then fails).
    void saveToDevice(QIODevice &device) const;
    void loadFromDevice(QIODevice &device, bool *taken = nullptr);

    static constexpr quint8 Magic0 = 0x83;
    static constexpr quint8 Magic1 = 0x56;
    static constexpr quint8 FileVersion = 10;
};
