#include "app/ComposeOutbox.h"

#include "data/ContactUnit.h"
#include "data/MessageUnit.h"
#include "data/OleDate.h"

bool IsBlankRecipient(const QByteArray &recipient) {
    for (char c : recipient)
        if (static_cast<unsigned char>(c) > 32)
            return false;
    return true;
}

QString ComposeText(const QString &subject, const QString &body) {
    if (subject.isEmpty())
        return body;
    return subject + QLatin1Char(':') + body;
}

QList<QByteArray> SplitRecipients(const QByteArray &to) {
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

QList<QByteArray> ContactNumbers(TContactList &contacts, bool checkedOnly) {
    QList<QByteArray> result;
    TContactList::TLocker items(contacts);
    result.reserve(static_cast<qsizetype>(items->size()));
    for (const auto &contact : *items)
        if (!checkedOnly || contact->Checked != 0)
            result << contact->Number;
    return result;
}

int QueueMessages(TMessageList &outbox, const QList<QByteArray> &recipients, const QString &text,
                  bool flash, bool isLong) {
    int added = 0;
    const double now = OleNow();
    for (const QByteArray &recipient : recipients) {
        if (IsBlankRecipient(recipient))
            continue;
        TMessage message;
        message.Number = recipient;
        message.Text = text;
        message.Flash = flash ? 1 : 0;
        message.Long = isLong ? 1 : 0;
        message.Created = now;
        message.Status = msPending;
        outbox.Add(message);
        ++added;
    }
    return added;
}
