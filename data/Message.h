#pragma once

#include <QByteArray>
#include <QString>

enum class MessageStatus : quint8 {
    Pending = 0, // waiting in the outbox
    Sending = 1, // claimed by the sender, being submitted
    Sent = 2,    // accepted by the phone
    Failed = 3,  // refused for good (a number not in use, ...): reason and error say why
    Unknown = 4, // the phone may have sent it (no answer after the body): never resent by itself
};

// What a delivery receipt said about a sent message; None until one came.
enum class DeliveryState : quint8 {
    None = 0,
    Delivered = 1,
    Undelivered = 2,
    Expired = 3,
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
    // The phone that sent it (its port as the user gave it) when a run used several; empty
    // otherwise.
    QString phone;
    // The SMS centre's id of a message sent over SMPP, and what its delivery receipt said
    // (deliveryDetail: the receipt's own state and error, e.g. "UNDELIV, error 001").
    QByteArray messageId;
    DeliveryState delivery = DeliveryState::None;
    QString deliveryDetail;

    // A copy that is a new message (Resend): nothing of it sent, no reference yet, no phone
    // nor SMS centre has seen it.
    void clearPartProgress() {
        acceptedParts = 0;
        partReference = -1;
        phone.clear();
        messageId.clear();
        delivery = DeliveryState::None;
        deliveryDetail.clear();
    }

    bool operator==(const Message &other) const = default;
};
