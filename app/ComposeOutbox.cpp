#include "app/ComposeOutbox.h"

#include "base/OleDate.h"
#include "data/ContactList.h"
#include "data/MessageList.h"

bool isBlankRecipient(const QByteArray &recipient) {
    for (char c : recipient)
        if (static_cast<unsigned char>(c) > 32)
            return false;
    return true;
}

QString composeText(const QString &subject, const QString &body) {
    if (subject.isEmpty())
        return body;
    return subject + QLatin1Char(':') + body;
}

QList<QByteArray> splitRecipients(const QByteArray &to) {
    QList<QByteArray> result;
    qsizetype start = 0;
    const qsizetype size = to.size();
    for (qsizetype i = 0; i <= size; ++i) {
        const char c = i < size ? to[i] : '\n';
        if (c != ';' && c != '\r' && c != '\n')
            continue;
        result << to.mid(start, i - start);
        // CR LF is one line end; ";" becomes CR LF itself, so ";\n" is two.
        if (c == '\r' && i + 1 < size && to[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    // Splitting into lines drops the empty line after a final separator.
    if (!result.isEmpty() && result.constLast().isEmpty())
        result.removeLast();
    return result;
}

QList<QByteArray> contactNumbers(ContactList &contacts, bool checkedOnly) {
    QList<QByteArray> result;
    ContactList::Locker items(contacts);
    result.reserve(static_cast<qsizetype>(items->size()));
    for (const auto &contact : *items)
        if (!checkedOnly || contact->checked != 0)
            result << contact->number;
    return result;
}

int queueMessages(MessageList &outbox, const QList<QByteArray> &recipients, const QString &text,
                  bool flash, bool isLong) {
    int added = 0;
    const double now = oleNow();
    for (const QByteArray &recipient : recipients) {
        if (isBlankRecipient(recipient))
            continue;
        Message message;
        message.number = recipient;
        message.text = text;
        message.flash = flash ? 1 : 0;
        message.isLong = isLong ? 1 : 0;
        message.created = now;
        message.status = MessageStatus::Pending;
        outbox.add(message);
        ++added;
    }
    return added;
}
