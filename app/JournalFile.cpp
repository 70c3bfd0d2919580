#include "app/JournalFile.h"

#include "base/Crc32.h"
#include "base/Error.h"
#include "base/StreamIO.h"
#include "data/ContactList.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QtEndian>

#include <cstring>

namespace {

const QByteArray Magic("PVJL", 4);
constexpr quint8 FormatVersion = 1;
constexpr qint64 HeaderFixedSize = 4 + 1 + 1 + 2 + 4 + 4;
constexpr qint64 RecordHeadSize = 8;
// Far above any real record (a message of 1000 characters is about 2 KiB).
constexpr quint32 MaxPayload = 64u * 1024 * 1024;

void appendUInt32(QByteArray &bytes, quint32 value) {
    char raw[4];
    qToLittleEndian(value, raw);
    bytes.append(raw, 4);
}

QByteArray framed(const QByteArray &payload) {
    QByteArray bytes;
    bytes.reserve(payload.size() + RecordHeadSize);
    appendUInt32(bytes, quint32(payload.size()));
    appendUInt32(bytes, crc32(payload));
    bytes += payload;
    return bytes;
}

template <typename F>
QByteArray encoded(F &&write) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    StreamWriter writer(buffer);
    write(writer);
    writer.flush();
    return buffer.data();
}

// The checked payload at offset, or nothing when what is there is not a whole one.
std::optional<QByteArray> payloadAt(const QByteArray &bytes, qint64 offset) {
    if (bytes.size() - offset < RecordHeadSize)
        return std::nullopt;
    const quint32 length = qFromLittleEndian<quint32>(bytes.constData() + offset);
    const quint32 crc = qFromLittleEndian<quint32>(bytes.constData() + offset + 4);
    if (length > MaxPayload || length > bytes.size() - offset - RecordHeadSize)
        return std::nullopt;
    QByteArray payload = bytes.mid(offset + RecordHeadSize, length);
    if (crc32(payload) != crc)
        return std::nullopt;
    return payload;
}

bool sameDouble(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

QByteArray numberOf(const Message &m) {
    return m.number;
}
QByteArray numberOf(const MessageRecord &m) {
    return m.number();
}
QStringView textOf(const Message &m) {
    return m.text;
}
QStringView textOf(const MessageRecord &m) {
    return m.textView();
}

bool sameContent(const MessageRecord &a, const Message &b) {
    return a.number() == b.number && a.textView() == QStringView(b.text) &&
           sameDouble(a.created, b.created) && a.flash == b.flash && a.isLong == b.isLong;
}

template <typename Record>
size_t contentHash(const Record &m) {
    quint64 created;
    std::memcpy(&created, &m.created, 8);
    return qHashMulti(0, numberOf(m), textOf(m), created, m.flash, m.isLong);
}

bool isFinal(MessageStatus status) {
    return status == MessageStatus::Sent || status == MessageStatus::Failed ||
           status == MessageStatus::Unknown;
}

} // namespace

ProjectIdentity ProjectIdentity::of(const QByteArray &content) {
    return {content.size(), QCryptographicHash::hash(content, QCryptographicHash::Sha1)};
}

QString inFlightReason() {
    return QStringLiteral("the program ended while the phone was taking this message");
}

QByteArray encodeJournalHeader(const JournalContent &content) {
    const QByteArray body = encoded([&](StreamWriter &w) {
        if (content.untitled) {
            w.writeDouble(content.started);
            w.writeRaw(content.snapshot.constData(), content.snapshot.size());
        } else {
            const qint64 size = content.identity.size;
            w.writeInt32(qint32(size & 0xFFFFFFFF));
            w.writeInt32(qint32(size >> 32));
            w.writeRaw(content.identity.digest.constData(), content.identity.digest.size());
        }
    });
    QByteArray bytes = Magic;
    bytes += char(FormatVersion);
    bytes += char(content.untitled ? 1 : 0);
    bytes += QByteArray(2, '\0');
    appendUInt32(bytes, quint32(body.size()));
    appendUInt32(bytes, crc32(body));
    return bytes + body;
}

QByteArray encodeJournalRecord(const JournalRecord &record) {
    const Message &m = record.message;
    return framed(encoded([&](StreamWriter &w) {
        w.writeByte(quint8(record.kind));
        w.writeAnsi(m.number);
        w.writeWide(m.text);
        w.writeByte(m.flash);
        w.writeByte(m.isLong);
        w.writeDouble(m.created);
        w.writeDouble(m.sent);
        w.writeByte(quint8(m.status));
        w.writeInt32(m.acceptedParts);
        w.writeInt32(m.partReference);
        w.writeWide(m.reason);
        w.writeAnsi(m.error);
        w.writeInt32(qint32(record.slot));
        w.writeWide(m.phone);
        w.writeAnsi(m.messageId);
        w.writeByte(quint8(m.delivery));
        w.writeWide(m.deliveryDetail);
    }));
}

std::optional<JournalContent> decodeJournal(const QByteArray &bytes) {
    if (bytes.size() < HeaderFixedSize || !bytes.startsWith(Magic) ||
        quint8(bytes[4]) != FormatVersion || quint8(bytes[5]) > 1)
        return std::nullopt;
    JournalContent content;
    content.untitled = bytes[5] == 1;
    const quint32 bodySize = qFromLittleEndian<quint32>(bytes.constData() + 8);
    const quint32 bodyCrc = qFromLittleEndian<quint32>(bytes.constData() + 12);
    if (bodySize > bytes.size() - HeaderFixedSize)
        return std::nullopt;
    const QByteArray body = bytes.mid(HeaderFixedSize, bodySize);
    if (crc32(body) != bodyCrc)
        return std::nullopt;
    if (content.untitled) {
        if (body.size() < 8)
            return std::nullopt;
        quint64 bits = qFromLittleEndian<quint64>(body.constData());
        std::memcpy(&content.started, &bits, 8);
        content.snapshot = body.mid(8);
    } else {
        if (body.size() != 8 + 20)
            return std::nullopt;
        content.identity.size = qFromLittleEndian<qint64>(body.constData());
        content.identity.digest = body.mid(8);
    }

    qint64 offset = HeaderFixedSize + bodySize;
    content.validSize = offset;
    while (const std::optional<QByteArray> payload = payloadAt(bytes, offset)) {
        QBuffer buffer;
        buffer.setData(*payload);
        buffer.open(QIODevice::ReadOnly);
        JournalRecord record;
        try {
            StreamReader r(buffer);
            const quint8 kind = r.readByte();
            if (kind != quint8(JournalRecord::Kind::Commit) &&
                kind != quint8(JournalRecord::Kind::InFlight))
                break;
            record.kind = JournalRecord::Kind(kind);
            Message &m = record.message;
            m.number = r.readAnsi();
            m.text = r.readWide();
            m.flash = r.readByte();
            m.isLong = r.readByte();
            m.created = r.readDouble();
            m.sent = r.readDouble();
            const quint8 status = r.readByte();
            if (status > quint8(MessageStatus::Unknown))
                break;
            m.status = MessageStatus(status);
            m.acceptedParts = quint16(r.readInt32());
            m.partReference = qint16(r.readInt32());
            m.reason = r.readWide();
            m.error = r.readAnsi();
            // Records of a program that ran one phone end here.
            // The reader reads ahead: what is left is its count, not the buffer's.
            if (r.bytesLeft() > 0) {
                record.slot = quint32(r.readInt32());
                m.phone = r.readWide();
                m.messageId = r.readAnsi();
                const quint8 delivery = r.readByte();
                if (delivery > quint8(DeliveryState::Expired))
                    break;
                m.delivery = DeliveryState(delivery);
                m.deliveryDetail = r.readWide();
            }
        } catch (const Error &) {
            break; // a record whose checksum holds but whose content does not read: stop here
        }
        content.records.append(record);
        offset += RecordHeadSize + payload->size();
        content.validSize = offset;
    }
    return content;
}

std::optional<JournalContent> readJournalFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(file.size());
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return decodeJournal(bytes);
}

FoldResult foldJournal(const QList<JournalRecord> &records, MessageList &outbox,
                       ContactList &contacts) {
    FoldResult result;
    if (records.isEmpty())
        return result;
    enum class Touch : quint8 { None, Touched, InFlight };
    MessageList::Locker lock(outbox);
    MessageList::Items &items = lock.items();
    QList<Touch> touched(qsizetype(items.size()), Touch::None);
    QHash<size_t, QList<int>> byContent;
    byContent.reserve(qsizetype(items.size()));
    for (int i = 0; i < int(items.size()); ++i)
        byContent[contentHash(*items[i])].append(i);

    // The message each slot follows, and the slot that follows each message.
    QHash<quint32, int> following;
    QHash<int, quint32> followedBy;
    for (const JournalRecord &record : records) {
        const Message &change = record.message;
        QList<int> &bucket = byContent[contentHash(change)];
        int followed = -1, waiting = -1, loose = -1, retried = -1;
        if (const auto own = following.constFind(record.slot); own != following.cend()) {
            const MessageRecord &m = *items[*own];
            if (sameContent(m, change) && !isFinal(m.status))
                followed = *own;
        }
        for (int i : bucket) {
            if (followed >= 0)
                break;
            const MessageRecord &m = *items[i];
            if (!sameContent(m, change))
                continue;
            if (waiting < 0 && touched[i] == Touch::None && !isFinal(m.status))
                waiting = i;
            // Touched, still open, and no other slot's: taken up again.
            if (loose < 0 && touched[i] != Touch::None && !isFinal(m.status) &&
                !followedBy.contains(i))
                loose = i;
            if (retried < 0 && m.status != MessageStatus::Sent && isFinal(m.status))
                retried = i;
        }
        if (followed < 0)
            followed = waiting >= 0 ? waiting : loose;
        int index = followed >= 0 ? followed : retried;
        // A later word on a message already sent (its delivery receipt) goes to the message
        // the SMS centre knows by that id, rather than adding it once more.
        if (index < 0 && record.kind == JournalRecord::Kind::Commit &&
            change.status == MessageStatus::Sent && !change.messageId.isEmpty()) {
            for (int i : bucket) {
                const MessageRecord &m = *items[i];
                if (m.status == MessageStatus::Sent && m.messageId() == change.messageId &&
                    sameContent(m, change)) {
                    index = i;
                    break;
                }
            }
        }
        bool isNew = false;
        if (index < 0) {
            Message added = change;
            added.status = MessageStatus::Pending;
            added.sent = 0;
            index = int(items.size());
            items.push_back(MessageRecord::create(added));
            touched.append(Touch::None);
            bucket.append(index);
            isNew = true;
            ++result.added;
        }
        if (const auto previous = following.constFind(record.slot);
            previous != following.cend() && *previous != index &&
            followedBy.value(*previous) == record.slot)
            followedBy.remove(*previous);
        following[record.slot] = index;
        followedBy[index] = record.slot;
        MessageRecord &m = *items[index];
        if (record.kind == JournalRecord::Kind::InFlight) {
            // The parts the phone had taken before this one.
            m.setAcceptedParts(m.acceptedParts() | change.acceptedParts);
            if (change.partReference >= 0)
                m.setPartReference(change.partReference);
            touched[index] = Touch::InFlight;
            continue;
        }
        const bool wasSent = m.status == MessageStatus::Sent;
        // No program is sending it any more.
        m.status = change.status == MessageStatus::Sending ? MessageStatus::Pending : change.status;
        m.sent = change.sent;
        m.setAcceptedParts(change.acceptedParts);
        m.setPartReference(change.partReference);
        m.setReason(change.reason);
        m.setError(change.error);
        m.setPhone(change.phone);
        m.setMessageId(change.messageId);
        m.setDelivery(change.delivery, change.deliveryDetail);
        touched[index] = Touch::Touched;
        if (!isNew)
            ++result.changed;
        if (!wasSent && m.status == MessageStatus::Sent) {
            contacts.incSentCount(m.number());
            ++result.newlySent;
        }
    }
    for (int i = 0; i < int(items.size()); ++i) {
        if (touched[i] != Touch::InFlight)
            continue;
        MessageRecord &m = *items[i];
        m.status = MessageStatus::Unknown;
        m.setReason(inFlightReason());
        m.setError(QByteArray());
        ++result.unknown;
    }
    return result;
}
