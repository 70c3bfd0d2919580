#pragma once

#include "app/ComposeFields.h"
#include "app/Setting.h"
#include "data/ContactUnit.h"
#include "data/MessageUnit.h"

#include <QIODevice>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class TComPort;
class TGsmSerial;
class TPhone;

// The application data module: owner of the long-lived objects and of the project document
// (the compose fields, the contacts, the outbox and the sent list, the file name and the
// modified flag), with New, Load and Save of the project file.
//
// Project file: bytes 0x83 0x56, version 10, a reserved 0, then sections, each a tag byte and
// its payload: 0 compose fields, 1 contacts, 2 outbox, 3 sent list.
class TDataModule1 {
public:
    // Asks for the name to save under (the window's save dialog); empty means cancel.
    using TAskFileName = std::function<QString()>;

    // settingsFile: the ini file to use; empty for the usual location (beside the executable
    // when that folder is writable, else the user's configuration folder).
    explicit TDataModule1(const QString &settingsFile = QString());
    // Stops a running worker and waits for its end before anything it uses is freed.
    ~TDataModule1();
    TDataModule1(const TDataModule1 &) = delete;
    TDataModule1 &operator=(const TDataModule1 &) = delete;

    // Created in this order, freed in the reverse one.
    std::unique_ptr<TSettings> Settings;
    std::unique_ptr<TComPort> ComPort;
    std::unique_ptr<TGsmSerial> Serial;
    std::unique_ptr<TPhone> Phone;
    std::unique_ptr<TContactList> ContactList;
    std::unique_ptr<TMessageList> OutboxList;
    std::unique_ptr<TMessageList> SentList;

    // Full path of the project file; empty while untitled.
    QString FileName;
    // Set by any list change, cleared by New and by a completed Load or Save. Editing the
    // compose fields does not set it.
    std::atomic<bool> Modified{false};
    // Read and written by the compose view; Load replaces them when the file has them.
    TComposeFields Compose;
    // Provided by the main window; Save without it behaves as a cancelled dialog.
    TAskFileName OnAskFileName;

    // Run on the UI thread by the sender after each status change of a message (the main
    // window's RefreshAll); may be empty.
    std::function<void()> OnRefreshAll;

    // The transfer after a sending run: every sent outbox message moves, in order, to the end
    // of the sent list; both lists notify when any moved. Returns how many moved.
    int MoveSentMessages();

    // Stops the running worker, if any, and serves the event queue until it has ended.
    void StopWorkerAndWait();

    // The OnChange handler of the three lists.
    void SetModified() { Modified = true; }

    // The file-name part of FileName, or "Untitled".
    QString Title() const;

    // Empties the three lists, makes the document untitled and unmodified. The compose fields
    // stay.
    void New();

    // Reads the project file fileName (FileName when empty). Sections the file lacks leave
    // that part of the document as it was; a section that fails part-way leaves its part as
    // it was, while sections read completely before the failure stay. FileName becomes the
    // file read as soon as anything from it is in the document; Modified is cleared when the
    // load completes and kept otherwise. Errors: "Invalid file format.", "Invalid file
    // version %d", "Stream read error", "List count out of bounds (%d)", the file's own error.
    void Load(const QString &fileName = QString());

    // Writes the project to FileName, asking for a name first when the document is untitled
    // or saveAs is set. Returns false when the question was cancelled: nothing is written and
    // nothing changes. The chosen name becomes FileName at once; Modified is cleared when the
    // file is complete. On failure the previous file is left intact and the error is raised
    // ("Stream write error" or the file's error).
    bool Save(bool saveAs = false);

    // The whole project file, written to / read from a device. LoadFromDevice reads the
    // sections as Load does but leaves FileName and Modified alone; taken is set as soon as a
    // section has changed the document (also when it then fails).
    void SaveToDevice(QIODevice &device) const;
    void LoadFromDevice(QIODevice &device, bool *taken = nullptr);

    static constexpr quint8 Magic0 = 0x83;
    static constexpr quint8 Magic1 = 0x56;
    static constexpr quint8 FileVersion = 10;
};
