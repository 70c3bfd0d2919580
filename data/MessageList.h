#pragma once

#include "data/MessageRecord.h"
#include "data/RecordList.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <vector>

class StreamReader;
class StreamWriter;

// Rows first..first + count - 1 of a list, numbered as before a change.
struct RowRun {
    int first = 0;
    int count = 0;
    bool operator==(const RowRun &other) const = default;
};

// The outbox and the sent list. Stream format: int32 count, then per record Number (ansi
// field), Text (wide field), Flash, Long (one byte each), Created, Sent (8-byte doubles);
// the status and the part progress are not stored (a loaded record has none).
class MessageList final : public RecordList<Message, MessageList, MessageRecord, MessageRef> {
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

private:
    friend class RecordList<Message, MessageList, MessageRecord, MessageRef>;
    // A message added right after one with the same text shares it.
    Item makeItem(const Message &message) const {
        return MessageRecord::create(message, m_items.empty() ? nullptr : m_items.back().get());
    }
    static Message valueOf(const MessageRecord &record) { return record.toMessage(); }
    static void overwrite(MessageRecord &record, const Message &message) { record.assign(message); }
};
