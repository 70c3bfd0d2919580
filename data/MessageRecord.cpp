#include "data/MessageRecord.h"

#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr qsizetype MaxInlineNumber = std::numeric_limits<quint16>::max();
constexpr qsizetype MaxInlineText = std::numeric_limits<qint32>::max() / 2;

} // namespace

static_assert(alignof(MessageRecord) >= alignof(char16_t));

MessageRef MessageRecord::create(const Message &message, const MessageRecord *textSource) {
    const MessageRecord *owner = nullptr;
    if (textSource && !(textSource->m_extra && textSource->m_extra->hasText) &&
        textSource->textView() == QStringView(message.text))
        owner = textSource->m_textOwner ? textSource->m_textOwner : textSource;
    const bool numberInline = message.number.size() <= MaxInlineNumber;
    const bool textInline = owner == nullptr && message.text.size() <= MaxInlineText;
    const qsizetype textLength = textInline ? message.text.size() : 0;
    const qsizetype numberLength = numberInline ? message.number.size() : 0;

    void *memory = ::operator new(sizeof(MessageRecord) + std::size_t(textLength) * 2 +
                                  std::size_t(numberLength));
    auto *record = new (memory) MessageRecord();
    MessageRef ref(record);
    record->m_textLength = quint32(textLength);
    record->m_numberLength = quint16(numberLength);
    if (textLength > 0)
        std::memcpy(record->ownText(), message.text.utf16(), std::size_t(textLength) * 2);
    if (numberLength > 0)
        std::memcpy(record->ownNumber(), message.number.constData(), std::size_t(numberLength));
    if (owner) {
        record->m_textOwner = const_cast<MessageRecord *>(owner);
        record->m_textOwner->retain();
    }
    if (!numberInline) {
        record->extra().hasNumber = true;
        record->extra().number = message.number;
    }
    if (!textInline && !owner) {
        record->extra().hasText = true;
        record->extra().text = message.text;
    }
    record->flash = message.flash;
    record->isLong = message.isLong;
    record->created = message.created;
    record->sent = message.sent;
    record->status = message.status;
    if (!message.reason.isEmpty())
        record->setReason(message.reason);
    if (!message.error.isEmpty())
        record->setError(message.error);
    if (message.acceptedParts != 0)
        record->setAcceptedParts(message.acceptedParts);
    if (message.partReference != -1)
        record->setPartReference(message.partReference);
    if (!message.phone.isEmpty())
        record->setPhone(message.phone);
    if (!message.messageId.isEmpty())
        record->setMessageId(message.messageId);
    if (message.delivery != DeliveryState::None || !message.deliveryDetail.isEmpty())
        record->setDelivery(message.delivery, message.deliveryDetail);
    return ref;
}

void MessageRecord::release() {
    if (m_refs.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    MessageRecord *owner = m_textOwner;
    this->~MessageRecord();
    ::operator delete(static_cast<void *>(this));
    // An owner never shares another record's text, so this goes one level deep.
    if (owner)
        owner->release();
}

MessageRecord::Extra &MessageRecord::extra() {
    if (!m_extra)
        m_extra = std::make_unique<Extra>();
    return *m_extra;
}

QByteArray MessageRecord::number() const {
    if (m_extra && m_extra->hasNumber)
        return m_extra->number;
    return QByteArray(ownNumber(), m_numberLength);
}

QStringView MessageRecord::textView() const {
    if (m_extra && m_extra->hasText)
        return m_extra->text;
    if (m_textOwner)
        return m_textOwner->textView();
    return QStringView(ownText(), qsizetype(m_textLength));
}

QString MessageRecord::text() const {
    if (m_extra && m_extra->hasText)
        return m_extra->text;
    return textView().toString();
}

QString MessageRecord::reason() const {
    return m_extra ? m_extra->reason : QString();
}

QByteArray MessageRecord::error() const {
    return m_extra ? m_extra->error : QByteArray();
}

void MessageRecord::setReason(const QString &reason) {
    if (m_extra || !reason.isEmpty())
        extra().reason = reason;
}

void MessageRecord::setError(const QByteArray &error) {
    if (m_extra || !error.isEmpty())
        extra().error = error;
}

void MessageRecord::setAcceptedParts(quint16 parts) {
    if (m_extra || parts != 0)
        extra().acceptedParts = parts;
}

void MessageRecord::setPartReference(qint16 reference) {
    if (m_extra || reference != -1)
        extra().partReference = reference;
}

void MessageRecord::clearPartProgress() {
    if (m_extra) {
        m_extra->acceptedParts = 0;
        m_extra->partReference = -1;
    }
}

void MessageRecord::setPhone(const QString &phone) {
    if (m_extra || !phone.isEmpty())
        extra().phone = phone;
}

void MessageRecord::setMessageId(const QByteArray &id) {
    if (m_extra || !id.isEmpty())
        extra().messageId = id;
}

void MessageRecord::setDelivery(DeliveryState state, const QString &detail) {
    if (m_extra || state != DeliveryState::None || !detail.isEmpty()) {
        extra().delivery = state;
        extra().deliveryDetail = detail;
    }
}

Message MessageRecord::toMessage() const {
    Message m;
    m.number = number();
    m.text = text();
    m.flash = flash;
    m.isLong = isLong;
    m.created = created;
    m.sent = sent;
    m.status = status;
    m.reason = reason();
    m.error = error();
    m.acceptedParts = acceptedParts();
    m.partReference = partReference();
    if (m_extra) {
        m.phone = m_extra->phone;
        m.messageId = m_extra->messageId;
        m.delivery = m_extra->delivery;
        m.deliveryDetail = m_extra->deliveryDetail;
    }
    return m;
}

void MessageRecord::assign(const Message &message) {
    if (number() != message.number) {
        // A number that fits where the old one was stays inline; the text may be shared with
        // other records, so a different text always goes to the separate part.
        if (!(m_extra && m_extra->hasNumber) && message.number.size() <= m_numberLength) {
            std::memcpy(ownNumber(), message.number.constData(),
                        std::size_t(message.number.size()));
            m_numberLength = quint16(message.number.size());
        } else {
            extra().hasNumber = true;
            extra().number = message.number;
        }
    }
    if (textView() != QStringView(message.text)) {
        extra().hasText = true;
        extra().text = message.text;
    }
    flash = message.flash;
    isLong = message.isLong;
    created = message.created;
    sent = message.sent;
    status = message.status;
    setReason(message.reason);
    setError(message.error);
    setAcceptedParts(message.acceptedParts);
    setPartReference(message.partReference);
    setPhone(message.phone);
    setMessageId(message.messageId);
    setDelivery(message.delivery, message.deliveryDetail);
}
