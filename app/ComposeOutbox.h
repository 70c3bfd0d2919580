#pragma once

#include "app/MessageTemplate.h"
#include "data/MessageList.h"
#include "data/PhoneNumberParser.h"

#include <QByteArray>
#include <QList>
#include <QString>

class ContactList;
class MessageList;

// Send to Outbox, shared by the compose view and pelorvane-cli queue.

// The text that is counted and sent: the body, or subject ":" body when there is a subject.
QString composeText(const QString &subject, const QString &body);

// The same for a text with placeholders: subject and body are read apart, so that a brace in
// one never pairs with a brace in the other.
MessageTemplate composeTemplate(const QString &subject, const QString &body);

// Typed recipients: ";" separates them like a line end; entries are kept exactly as typed.
QList<QByteArray> splitRecipients(const QByteArray &to);

// A recipient that is empty after removing spaces and control characters from both ends.
bool isBlankRecipient(const QByteArray &recipient);

// One recipient of Send to Outbox: the number as typed or stored with the contact, the
// contact's name (empty for a typed number that belongs to no contact) and what the number
// becomes when it is queued.
struct Recipient {
    QByteArray typed;
    QString name;
    ParsedNumber parsed;
};

// The typed recipients in order, blank entries left out. A typed number takes the name of the
// first contact whose number is the same once both are parsed ("0151 2345678" finds the
// contact stored as "+49 151 2345678").
QList<Recipient> typedRecipients(ContactList &contacts, const QByteArray &to,
                                 PhoneNumberParser &parser);
// Every contact, or the checked ones, in contact-list order, blank numbers left out.
QList<Recipient> contactRecipients(ContactList &contacts, bool checkedOnly,
                                   PhoneNumberParser &parser);

// What Send to Outbox would do, worked out before anything is queued.
struct OutboxPlan {
    struct Entry {
        Recipient recipient;
        QString text;            // the final text, placeholders filled
        bool unverified = false; // parsed, but not a valid number of its country
    };

    // Placeholders the text names but nobody knows: nothing may be queued.
    QStringList unknownPlaceholders;
    // The recipients that can be queued, in order, with their texts (none when a placeholder
    // is unknown).
    QList<Entry> entries;
    // Recipients whose number is refused (the reason is in parsed.reason).
    QList<Recipient> refused;

    int unverifiedCount() const;

    // The messages to queue, in order: every entry, the unverified ones only when asked for.
    // Pending, created now.
    QList<Message> messages(bool flash, bool isLong, bool withUnverified) const;

    // Why something was not queued, for an error box: the unknown placeholders, or one line
    // per refused number ("112: emergency number"), the unverified ones too unless they are
    // queued. At most maxLines numbers, then how many more. Empty when everything is queued.
    QString errorText(bool withUnverified, int maxLines = 20) const;
    // The question whether to queue numbers that are not valid for their country.
    QString unverifiedQuestion(int maxLines = 20) const;
};

// Fills the text for every recipient whose number can be sent; checks each full number
// against its country's numbering plan.
OutboxPlan planOutbox(const QList<Recipient> &recipients, const QString &subject,
                      const QString &body);

// Appends the plan's messages to the outbox; returns how many.
int queueMessages(MessageList &outbox, const OutboxPlan &plan, bool flash, bool isLong,
                  bool withUnverified);
