#pragma once

#include "data/RecordList.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <vector>

class StreamReader;
class StreamWriter;

enum class MessageStatus : quint8 {
    Pending = 0, // waiting in the outbox
    Sending = 1, // claimed by the sender, being submitted
    Sent = 2,    // accepted by the phone
    Failed = 3,  // refused for good (a number not in use, ...): reason and error say why
    Unknown = 4, // the phone may have sent it (no answer after the body): never resent by itself
};

// One SMS to one number. Flash and Long are bytes (0 or 1 when made by the program; other
// values read from a file are kept as they are). Created and Sent are OLE dates
// (data/OleDate.h), 0 when not set.
struct Message {
    QByteArray number;
    QString text;
    quint8 flash = 0;
    quint8 isLong = 0;
    double created = 0;
    double sent = 0;
    MessageStatus status = MessageStatus::Pending;
    // Why a message is Failed or Unknown, in plain words, and the phone's own line (e.g.
    // "+CMS ERROR: 1"); empty otherwise.
    QString reason;
    QByteArray error;
    // How far a message sent in parts got in this program run (not in the project file): bit
    // k is set once the phone accepted part k + 1, and partReference is the concatenation
    // reference every part goes with, -1 until one is taken. A later attempt sends only the
    // missing parts, with the same reference.
    quint16 acceptedParts = 0;
    qint16 partReference = -1;

    // A copy that is a new message (Resend): nothing of it sent, no reference yet.
    void clearPartProgress() {
        acceptedParts = 0;
        partReference = -1;
    }

    bool operator==(const Message &other) const = default;
};

// Rows first..first + count - 1 of a list, numbered as before a change.
struct RowRun {
    int first = 0;
    int count = 0;
    bool operator==(const RowRun &other) const = default;
};

// The outbox and the sent list. Stream format: int32 count, then per record Number (ansi
// field), Text (wide field), Flash, Long (one byte each), Created, Sent (8-byte doubles);
// the status and the part progress are not stored (a loaded record has none).
class MessageList final : public RecordList<Message, MessageList> {
public:
    MessageList() = default;
    // Clears the list (which notifies).
    ~MessageList();

    // Writes the list under the lock; no notification.
    void saveToStream(QIODevice &device) const;
    void saveToStream(StreamWriter &writer) const;

    // Replaces the contents with the list read from the stream, every record getting the given
    // status; no notification. Reads nothing and changes nothing unless version is 10. The
    // records are read into a fresh sequence that replaces the current one only when complete,
    // so a failed load leaves the list as it was. The device overload leaves the device's
    // position after the list (or where reading failed).
    void loadFromStream(QIODevice &device, MessageStatus status, int version);
    void loadFromStream(StreamReader &reader, MessageStatus status, int version);

    // Moves every MessageStatus::Sent record, in list order, to the end of sent, in one pass over
    // the list: the records themselves move (holders' pointers stay valid). Takes this list's lock,
    // then sent's. Notifies this list and then sent when at least one record moved. Returns the
    // number moved. When runs is given, it receives the rows that left, as runs of adjacent rows
    // in ascending order, numbered as before the move.
    int moveSentTo(MessageList &sent, std::vector<RowRun> *runs = nullptr);

    // Puts the Failed records (when failed) and the Unknown ones (when unknown) back to Pending,
    // their reason and the phone's line cleared; the parts a long message got through stay
    // noted, so only the rest goes again. Notifies when one changed; returns how many did.
    int retry(bool failed, bool unknown);
};
