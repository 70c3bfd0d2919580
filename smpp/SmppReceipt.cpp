#include "SmppReceipt.h"

namespace {

// The value after "key:" in a receipt text, up to the next blank; nullopt when the key is not
// there. Keys (lower case) match at the start or after a blank in any case: lowered is text in
// lower case, octet for octet.
std::optional<QByteArray> receiptField(QByteArrayView text, QByteArrayView lowered,
                                       QByteArrayView key) {
    qsizetype from = 0;
    while (from < lowered.size()) {
        const qsizetype at = lowered.indexOf(key, from);
        if (at < 0)
            return std::nullopt;
        if (at == 0 || lowered[at - 1] == ' ') {
            const qsizetype start = at + key.size();
            qsizetype end = start;
            while (end < text.size() && text[end] != ' ')
                ++end;
            return text.sliced(start, end - start).toByteArray();
        }
        from = at + 1;
    }
    return std::nullopt;
}

SmppDeliveryState stateFromStat(const QByteArray &stat) {
    if (stat == "DELIVRD")
        return SmppDeliveryState::Delivered;
    if (stat == "EXPIRED")
        return SmppDeliveryState::Expired;
    if (stat == "UNDELIV" || stat == "REJECTD" || stat == "DELETED")
        return SmppDeliveryState::Undelivered;
    return SmppDeliveryState::Other;
}

// message_state values and the stat word a receipt text uses for each.
struct MessageState {
    SmppDeliveryState state;
    const char *stat;
};

MessageState fromMessageState(quint8 value) {
    switch (value) {
    case 1:
        return {SmppDeliveryState::Other, "ENROUTE"};
    case 2:
        return {SmppDeliveryState::Delivered, "DELIVRD"};
    case 3:
        return {SmppDeliveryState::Expired, "EXPIRED"};
    case 4:
        return {SmppDeliveryState::Undelivered, "DELETED"};
    case 5:
        return {SmppDeliveryState::Undelivered, "UNDELIV"};
    case 6:
        return {SmppDeliveryState::Other, "ACCEPTD"};
    case 8:
        return {SmppDeliveryState::Undelivered, "REJECTD"};
    default:
        return {SmppDeliveryState::Other, "UNKNOWN"};
    }
}

std::optional<quint64> parseNumber(QByteArrayView digits, int base) {
    if (digits.isEmpty())
        return std::nullopt;
    bool ok = false;
    const quint64 value = digits.toULongLong(&ok, base);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

QByteArray normaliseSmppMessageId(QByteArrayView id) {
    QByteArray result = id.trimmed().toByteArray().toUpper();
    qsizetype zeros = 0;
    while (zeros + 1 < result.size() && result[zeros] == '0')
        ++zeros;
    result.remove(0, zeros);
    return result;
}

QList<QByteArray> smppMessageIdCandidates(QByteArrayView receiptId) {
    const QByteArray id = normaliseSmppMessageId(receiptId);
    QList<QByteArray> candidates{id};
    const auto add = [&candidates](const QByteArray &candidate) {
        if (!candidates.contains(candidate))
            candidates.append(candidate);
    };
    if (const auto decimal = parseNumber(id, 10))
        add(QByteArray::number(*decimal, 16).toUpper());
    if (const auto hex = parseNumber(id, 16))
        add(QByteArray::number(*hex, 10));
    return candidates;
}

std::optional<SmppReceipt> smppReceipt(const SmppPdu &deliverSm) {
    if (deliverSm.command != SmppCommand::DeliverSm ||
        (deliverSm.esmClass & SmppEsmMessageTypeMask) != SmppEsmDeliveryReceipt)
        return std::nullopt;
    SmppReceipt receipt;
    receipt.recipient = deliverSm.source;
    receipt.text = deliverSm.shortMessage.isEmpty() && deliverSm.messagePayload
                       ? *deliverSm.messagePayload
                       : deliverSm.shortMessage;
    // The fields before "text:", which holds the start of the message and so anything.
    QByteArray fields = receipt.text;
    if (const qsizetype textAt = fields.toLower().indexOf(" text:"); textAt >= 0)
        fields.truncate(textAt);
    const QByteArray lowered = fields.toLower();
    const auto field = [&](QByteArrayView key) { return receiptField(fields, lowered, key); };

    QByteArray id;
    if (deliverSm.receiptedMessageId && !deliverSm.receiptedMessageId->isEmpty())
        id = *deliverSm.receiptedMessageId;
    else if (const auto textId = field("id:"))
        id = *textId;
    receipt.messageId = normaliseSmppMessageId(id);
    if (receipt.messageId.isEmpty())
        return std::nullopt;

    if (deliverSm.messageState) {
        const MessageState state = fromMessageState(*deliverSm.messageState);
        receipt.state = state.state;
        receipt.stat = state.stat;
    } else {
        receipt.stat = field("stat:").value_or(QByteArray()).toUpper();
        receipt.state = stateFromStat(receipt.stat);
    }
    if (const auto err = field("err:"))
        receipt.err = *err;
    else if (deliverSm.networkErrorCode)
        receipt.err =
            QByteArray::number((static_cast<quint8>(deliverSm.networkErrorCode->at(1)) << 8) |
                               static_cast<quint8>(deliverSm.networkErrorCode->at(2)));
    return receipt;
}
