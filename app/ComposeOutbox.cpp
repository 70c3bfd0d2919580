#include "app/ComposeOutbox.h"

#include "base/OleDate.h"
#include "data/ContactList.h"
#include "data/MessageList.h"

#include <QHash>

namespace {

const QString NotValidForCountry = QStringLiteral("not a valid number for its country");

// Control characters shown as \xHH, so that a number cannot break the lines of a message.
QString printable(const QByteArray &typed) {
    QString shown;
    for (QChar ch : QString::fromLocal8Bit(typed)) {
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(ch.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += ch;
    }
    return shown;
}

QString joinPlaceholders(const QStringList &names) {
    if (names.size() == 1)
        return names.first();
    return names.sliced(0, names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") +
           names.last();
}

void appendLines(QString &text, const QStringList &lines, int maxLines) {
    const int shown = std::min<int>(int(lines.size()), maxLines);
    for (int i = 0; i < shown; ++i)
        text += QLatin1Char('\n') + lines[i];
    if (lines.size() > shown)
        text += QStringLiteral("\n... and %1 more").arg(lines.size() - shown);
}

} // namespace

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

MessageTemplate composeTemplate(const QString &subject, const QString &body) {
    if (subject.isEmpty())
        return MessageTemplate(body);
    return MessageTemplate::joined(MessageTemplate(subject), QStringLiteral(":"),
                                   MessageTemplate(body));
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

QList<Recipient> typedRecipients(ContactList &contacts, const QByteArray &to,
                                 PhoneNumberParser &parser) {
    QList<Recipient> result;
    for (const QByteArray &typed : splitRecipients(to)) {
        if (!isBlankRecipient(typed))
            result.append({typed, QString(), parser.parse(typed)});
    }
    if (result.isEmpty())
        return result;
    // One pass over the contacts, the first contact of a number winning.
    QHash<QByteArray, QString> names;
    {
        QHash<QByteArray, int> wanted;
        for (const Recipient &recipient : result) {
            if (recipient.parsed.isUsable())
                wanted.insert(recipient.parsed.number, 0);
        }
        ContactList::Locker items(contacts);
        for (const auto &contact : *items) {
            if (names.size() == wanted.size())
                break;
            const ParsedNumber parsed = parser.parse(contact->number);
            if (parsed.isUsable() && wanted.contains(parsed.number) &&
                !names.contains(parsed.number))
                names.insert(parsed.number, contact->name);
        }
    }
    for (Recipient &recipient : result) {
        if (recipient.parsed.isUsable())
            recipient.name = names.value(recipient.parsed.number);
    }
    return result;
}

QList<Recipient> contactRecipients(ContactList &contacts, bool checkedOnly,
                                   PhoneNumberParser &parser) {
    QList<Recipient> result;
    ContactList::Locker items(contacts);
    result.reserve(static_cast<qsizetype>(items->size()));
    for (const auto &contact : *items) {
        if ((checkedOnly && contact->checked == 0) || isBlankRecipient(contact->number))
            continue;
        result.append({contact->number, contact->name, parser.parse(contact->number)});
    }
    return result;
}

int OutboxPlan::unverifiedCount() const {
    int count = 0;
    for (const Entry &entry : entries)
        count += entry.unverified ? 1 : 0;
    return count;
}

QList<Message> OutboxPlan::messages(bool flash, bool isLong, bool withUnverified) const {
    QList<Message> result;
    result.reserve(entries.size());
    const double now = oleNow();
    for (const Entry &entry : entries) {
        if (entry.unverified && !withUnverified)
            continue;
        Message message;
        message.number = entry.recipient.parsed.number;
        message.text = entry.text;
        message.flash = flash ? 1 : 0;
        message.isLong = isLong ? 1 : 0;
        message.created = now;
        message.status = MessageStatus::Pending;
        result.append(message);
    }
    return result;
}

QString OutboxPlan::errorText(bool withUnverified, int maxLines) const {
    if (!unknownPlaceholders.isEmpty()) {
        return QStringLiteral("Unknown placeholder%1 %2: nothing was queued. The known ones are "
                              "{Name}, {FirstName} and {Number}.")
            .arg(unknownPlaceholders.size() == 1 ? QString() : QStringLiteral("s"),
                 joinPlaceholders(unknownPlaceholders));
    }
    QStringList lines;
    for (const Recipient &recipient : refused)
        lines << printable(recipient.typed) + QStringLiteral(": ") + recipient.parsed.reason;
    if (!withUnverified) {
        for (const Entry &entry : entries) {
            if (entry.unverified)
                lines << printable(entry.recipient.typed) + QStringLiteral(": ") +
                             NotValidForCountry;
        }
    }
    if (lines.isEmpty())
        return {};
    QString text = lines.size() == 1
                       ? QStringLiteral("1 number was not queued:")
                       : QStringLiteral("%1 numbers were not queued:").arg(lines.size());
    appendLines(text, lines, maxLines);
    return text;
}

QString OutboxPlan::unverifiedQuestion(int maxLines) const {
    QStringList lines;
    for (const Entry &entry : entries) {
        if (entry.unverified)
            lines << printable(entry.recipient.typed);
    }
    if (lines.isEmpty())
        return {};
    QString text = lines.size() == 1
                       ? QStringLiteral("1 number is not a valid number for its country:")
                       : QStringLiteral("%1 numbers are not valid numbers for their country:")
                             .arg(lines.size());
    appendLines(text, lines, maxLines);
    text += lines.size() == 1 ? QStringLiteral("\nQueue it anyway?")
                              : QStringLiteral("\nQueue them anyway?");
    return text;
}

OutboxPlan planOutbox(const QList<Recipient> &recipients, const QString &subject,
                      const QString &body) {
    OutboxPlan plan;
    const MessageTemplate text = composeTemplate(subject, body);
    plan.unknownPlaceholders = text.unknownPlaceholders();
    // A number checked once serves every message to it.
    QHash<QByteArray, bool> valid;
    for (const Recipient &recipient : recipients) {
        if (!recipient.parsed.isUsable()) {
            plan.refused.append(recipient);
            continue;
        }
        if (!plan.unknownPlaceholders.isEmpty())
            continue;
        OutboxPlan::Entry entry;
        entry.recipient = recipient;
        entry.text = text.fill(recipient.name, recipient.parsed.number);
        if (recipient.parsed.kind == ParsedNumber::Kind::Number) {
            auto known = valid.constFind(recipient.parsed.number);
            if (known == valid.cend())
                known = valid.insert(recipient.parsed.number,
                                     PhoneNumberParser::isValidNumber(recipient.parsed.number));
            entry.unverified = !*known;
        }
        plan.entries.append(std::move(entry));
    }
    return plan;
}

int queueMessages(MessageList &outbox, const OutboxPlan &plan, bool flash, bool isLong,
                  bool withUnverified) {
    const QList<Message> messages = plan.messages(flash, isLong, withUnverified);
    for (const Message &message : messages)
        outbox.add(message);
    return static_cast<int>(messages.size());
}
