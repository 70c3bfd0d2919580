#pragma once

#include "data/RecordList.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

class TStreamReader;
class TStreamWriter;

enum TMessageStatus : quint8 {
    msPending = 0, // waiting in the outbox
    msSending = 1, // claimed by the sender, being submitted
    msSent = 2,    // accepted by the phone
};

// One SMS to one number. Flash and Long are bytes (0 or 1 when made by the program; other
// values read from a file are kept as they are). Created and Sent are OLE dates
// (data/OleDate.h), 0 when not set.
struct TMessage {
    QByteArray Number;
    QString Text;
    quint8 Flash = 0;
    quint8 Long = 0;
    double Created = 0;
    double Sent = 0;
    TMessageStatus Status = msPending;

    bool operator==(const TMessage &other) const = default;
};

// The outbox and the sent list. Stream format: int32 count, then per record Number (ansi
// field), Text (wide field), Flash, Long (one byte each), Created, Sent (8-byte doubles);
// the status is not stored.
class TMessageList final : public TRecordList<TMessage, TMessageList> {
public:
    TMessageList() = default;
    // Clears the list (which notifies).
    ~TMessageList();

    // Writes the list under the lock; no notification.
    void SaveToStream(QIODevice &device) const;
    void SaveToStream(TStreamWriter &writer) const;

    // Replaces the contents with the list read from the stream, every record getting the given
    // status; no notification. Reads nothing and changes nothing unless version is 10. The
    // records are read into a fresh sequence that replaces the current one only when complete,
    // so a failed load leaves the list as it was. The device overload leaves the device's
    // position after the list (or where reading failed).
    void LoadFromStream(QIODevice &device, TMessageStatus status, int version);
    void LoadFromStream(TStreamReader &reader, TMessageStatus status, int version);

    // Moves every msSent record, in list order, to the end of sent, in one pass over the list:
    // the records themselves move (holders' pointers stay valid). Takes this list's lock, then
    // sent's. Notifies this list and then sent when at least one record moved. Returns the
    // number moved.
    int MoveSentTo(TMessageList &sent);
};
