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
