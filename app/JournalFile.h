#pragma once

#include "data/MessageList.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class ContactList;

// The project file a journal applies to: the size and a digest of its bytes. A save changes
// it, and a journal kept for another identity was folded into the file already.
struct ProjectIdentity {
    qint64 size = -1;
    QByteArray digest;

    static ProjectIdentity of(const QByteArray &content);
    bool isNull() const { return size < 0; }
    bool operator==(const ProjectIdentity &other) const = default;
};

// One outcome of a run: the message as it is after the change (Commit), or as it is when the
// phone is about to take it or one of its parts (InFlight).
struct JournalRecord {
    enum class Kind : quint8 { Commit = 1, InFlight = 2 };
    Kind kind = Kind::Commit;
    Message message;
    // Tells apart the messages whose records interleave (several phones, a window of
    // submissions): one number per message and claim; 0 in records that have none.
    quint32 slot = 0;
};

// A journal file: a header, then records, each with its length and a CRC-32 so that a record
// torn by a power loss is recognised (it and anything after it are dropped).
//
// Header: "PVJL", format 1, kind (0 a project file, 1 untitled), two reserved bytes, the
// length and CRC-32 of its body; the body is the identity (int64 size, 20-byte SHA-1) or, for
// an untitled project, the OLE time of the run's start and the whole project file as it was
// then. Record: uint32 length and CRC-32 of its payload; the payload is the kind byte, then the
// message: number (ansi field), text (wide field), flash, long, created, sent, status, accepted
// parts (int32), part reference (int32), reason (wide field), error (ansi field), and then
// (absent in older records) slot (int32), phone (wide field), message id (ansi field),
// delivery state (byte), delivery detail (wide field). Little-endian.
struct JournalContent {
    bool untitled = false;
    ProjectIdentity identity;
    double started = 0;
    QByteArray snapshot;
    QList<JournalRecord> records;
    // Bytes up to the end of the last whole record: where the next record goes.
    qint64 validSize = 0;
};

QByteArray encodeJournalHeader(const JournalContent &content);
QByteArray encodeJournalRecord(const JournalRecord &record);

// Nothing when the bytes do not start with a whole header (a journal cut off before it held a
// record).
std::optional<JournalContent> decodeJournal(const QByteArray &bytes);
// Nothing when the file is missing, unreadable or not a journal.
std::optional<JournalContent> readJournalFile(const QString &path);

// Why the fold makes a message Unknown.
QString inFlightReason();

struct FoldResult {
    int changed = 0;   // outbox messages whose state a record changed
    int added = 0;     // messages that were not in the file
    int newlySent = 0; // messages found sent that the file did not have as sent
    int unknown = 0;   // messages the phone was taking when the program ended
    bool any() const { return changed + added + unknown > 0; }
};

// Applies the records, in order, to the outbox. A record goes to the message with its content
// (number, text, created, flash, long) that this fold is already following for the record's
// slot (the last one in flight or touched and not yet sent), else to the first one waiting
// (pending), else to the first Failed or Unknown one (it was retried), else (a sent message's
// delivery receipt) to the sent one with its SMS centre's message id; identical messages are
// interchangeable, so any of them will do. A record whose message is not in the outbox (queued
// after the last save) adds it at the end. A message that becomes sent raises its contact's sent
// count; one whose last record is in flight becomes Unknown. Takes the outbox's lock, then the
// contacts' one.
FoldResult foldJournal(const QList<JournalRecord> &records, MessageList &outbox,
                       ContactList &contacts);
