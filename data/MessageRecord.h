#pragma once

#include "data/Message.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <atomic>
#include <cstddef>
#include <memory>
#include <utility>

class MessageRecord;

// A counted reference to a MessageRecord, shared between the lists and whoever holds a record
// (the sender): a record lives until its last reference goes, so a holder keeps it after the
// window deleted it. Copies may be made and dropped on any thread.
class MessageRef {
public:
    MessageRef() = default;
    MessageRef(std::nullptr_t) {}
    MessageRef(const MessageRef &other);
    MessageRef(MessageRef &&other) noexcept : m_record(std::exchange(other.m_record, nullptr)) {}
    MessageRef &operator=(MessageRef other) noexcept {
        std::swap(m_record, other.m_record);
        return *this;
    }
    ~MessageRef();

    MessageRecord *get() const { return m_record; }
    MessageRecord *operator->() const { return m_record; }
    MessageRecord &operator*() const { return *m_record; }
    explicit operator bool() const { return m_record != nullptr; }
    void reset() { MessageRef().swap(*this); }
    void swap(MessageRef &other) noexcept { std::swap(m_record, other.m_record); }

    friend bool operator==(const MessageRef &a, const MessageRef &b) {
        return a.m_record == b.m_record;
    }
    friend bool operator==(const MessageRef &a, std::nullptr_t) { return a.m_record == nullptr; }

private:
    friend class MessageRecord;
    // Takes over a reference already counted.
    explicit MessageRef(MessageRecord *adopted) : m_record(adopted) {}

    MessageRecord *m_record = nullptr;
};

// A message as the lists keep it: one allocation holding the fixed fields, the number and the
// text, so a million messages with different texts stay within about twice their size on disk.
// A record made right after one with the same text shares that record's text (bulk messages).
// What only a run needs (the reason, the phone's line, the part progress) and values that no
// longer fit their place after an overwrite live in a separate part made on demand.
// The list's lock guards every field, as for Message.
class MessageRecord {
public:
    // A new record with the message's values. When textSource holds the same text, the new
    // record shares it instead of keeping a copy.
    static MessageRef create(const Message &message, const MessageRecord *textSource = nullptr);

    MessageRecord(const MessageRecord &) = delete;
    MessageRecord &operator=(const MessageRecord &) = delete;

    QByteArray number() const;
    QString text() const;
    // The text without a copy: valid until the record is overwritten or freed.
    QStringView textView() const;

    QString reason() const;
    QByteArray error() const;
    void setReason(const QString &reason);
    void setError(const QByteArray &error);

    quint16 acceptedParts() const { return m_extra ? m_extra->acceptedParts : 0; }
    qint16 partReference() const { return m_extra ? m_extra->partReference : -1; }
    void setAcceptedParts(quint16 parts);
    void setPartReference(qint16 reference);
    // As Message::clearPartProgress.
    void clearPartProgress();

    QString phone() const { return m_extra ? m_extra->phone : QString(); }
    void setPhone(const QString &phone);
    QByteArray messageId() const { return m_extra ? m_extra->messageId : QByteArray(); }
    void setMessageId(const QByteArray &id);
    DeliveryState delivery() const { return m_extra ? m_extra->delivery : DeliveryState::None; }
    QString deliveryDetail() const { return m_extra ? m_extra->deliveryDetail : QString(); }
    void setDelivery(DeliveryState state, const QString &detail = QString());

    Message toMessage() const;
    // Takes every value of the message; the record keeps its identity.
    void assign(const Message &message);

    double created = 0;
    double sent = 0;

private:
    friend class MessageRef;

    struct Extra {
        QString reason;
        QByteArray error;
        quint16 acceptedParts = 0;
        qint16 partReference = -1;
        QString phone;
        QByteArray messageId;
        DeliveryState delivery = DeliveryState::None;
        QString deliveryDetail;
        // Set when an overwrite did not fit the values' places in the record.
        bool hasNumber = false;
        bool hasText = false;
        QByteArray number;
        QString text;
    };

    MessageRecord() = default;
    ~MessageRecord() = default;

    Extra &extra();
    const char16_t *ownText() const { return reinterpret_cast<const char16_t *>(this + 1); }
    char16_t *ownText() { return reinterpret_cast<char16_t *>(this + 1); }
    const char *ownNumber() const {
        return reinterpret_cast<const char *>(ownText() + m_textLength);
    }
    char *ownNumber() { return reinterpret_cast<char *>(ownText() + m_textLength); }

    void retain() { m_refs.fetch_add(1, std::memory_order_relaxed); }
    void release();

    std::unique_ptr<Extra> m_extra;
    // The record whose text this one shares, counted; null when the text follows this record.
    MessageRecord *m_textOwner = nullptr;
    std::atomic<int> m_refs{1};
    quint32 m_textLength = 0;
    quint16 m_numberLength = 0;

public:
    // Last, so that they fill the end of the record's fixed part.
    quint8 flash = 0;
    quint8 isLong = 0;
    MessageStatus status = MessageStatus::Pending;
};

inline MessageRef::MessageRef(const MessageRef &other) : m_record(other.m_record) {
    if (m_record)
        m_record->retain();
}

inline MessageRef::~MessageRef() {
    if (m_record)
        m_record->release();
}
