#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class ContactList;
class MessageList;

// Send to Outbox, shared by the compose view and pelorvane-cli queue.

// The text that is counted and sent: the body, or subject ":" body when there is a subject.
QString composeText(const QString &subject, const QString &body);

// Typed recipients: ";" separates them like a line end; entries are kept exactly as typed.
QList<QByteArray> splitRecipients(const QByteArray &to);

// A recipient that is empty after removing spaces and control characters from both ends.
bool isBlankRecipient(const QByteArray &recipient);

// The numbers of every contact, or of the checked ones, in contact-list order.
QList<QByteArray> contactNumbers(ContactList &contacts, bool checkedOnly);

// Appends one pending message per recipient, skipping the ones that are empty after removing
// spaces and control characters from both ends. Returns how many were added.
int queueMessages(MessageList &outbox, const QList<QByteArray> &recipients, const QString &text,
                  bool flash, bool isLong = false);
