#pragma once

#include "smpp/SmppPdu.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

// Delivery receipts: what a deliver_sm with the receipt bit says about a message sent earlier,
// and the message IDs that tie the two together.

enum class SmppDeliveryState {
    Delivered,
    Undelivered, // undeliverable, rejected or deleted: stat and err say which
    Expired,
    Other, // en route, accepted, unknown: not a final word
};

struct SmppReceipt {
    QByteArray messageId; // normalised (normaliseSmppMessageId)
    SmppDeliveryState state = SmppDeliveryState::Other;
    QByteArray stat;       // the receipt's word for the state: "DELIVRD", "UNDELIV", "EXPIRED", ...
    QByteArray err;        // the receipt's error code as it came, "000" and the like; may be empty
    SmppAddress recipient; // the original message's destination (the receipt's source)
    QByteArray text;       // the receipt's short message as it came
};

// The receipt a deliver_sm carries; nullopt when it is not a receipt (esm_class) or names no
// message. receipted_message_id and message_state, when present, count before the text's
// "id:" and "stat:".
std::optional<SmppReceipt> smppReceipt(const SmppPdu &deliverSm);

// The one spelling of a message ID used for comparing: blanks around it dropped, letters in
// upper case, leading zeros dropped ("0" stays). "00a3f" and "A3F" are the same ID.
QByteArray normaliseSmppMessageId(QByteArrayView id);

// The normalised IDs a receipt's ID may stand for, the ID itself first, then (when it reads as a
// number) the same number written the other way: decimal digits as hexadecimal, hexadecimal as
// decimal. Some centres answer submit_sm in one form and write receipts in the other. Look the
// candidates up in this order among the IDs of all messages sent and take the first hit: the
// exact ID wins where a centre's decimal "10" and "16" would otherwise meet as 0x10.
QList<QByteArray> smppMessageIdCandidates(QByteArrayView receiptId);
