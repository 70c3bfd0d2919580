#include "app/ComposeFields.h"

#include "base/StreamIO.h"

#include <QRegularExpression>

QString recipientEntryText(RecipientChoice choice, int count) {
    switch (choice) {
    case RecipientChoice::AllContacts:
        return QStringLiteral("All contacts (%1)").arg(count);
    case RecipientChoice::CheckedContacts:
        return QStringLiteral("Checked contacts (%1)").arg(count);
    case RecipientChoice::Typed:
        break;
    }
    return {};
}

RecipientChoice recipientChoiceOf(const QString &text) {
    static const QRegularExpression entry(
        QStringLiteral("^(All|Checked) contacts \\([0-9]{1,10}\\)$"));
    const QRegularExpressionMatch match = entry.match(text);
    if (!match.hasMatch())
        return RecipientChoice::Typed;
    return match.capturedView(1) == QLatin1StringView("All") ? RecipientChoice::AllContacts
                                                             : RecipientChoice::CheckedContacts;
}

void ComposeFields::saveToStream(StreamWriter &writer) const {
    writer.writeAnsi(to);
    writer.writeAnsi(cc);
    writer.writeWide(subject);
    writer.writeWide(body);
}

void ComposeFields::loadFromStream(StreamReader &reader, int version) {
    if (version != 10)
        return;
    ComposeFields read;
    read.to = reader.readAnsi();
    read.cc = reader.readAnsi();
    read.subject = reader.readWide();
    read.body = reader.readWide();
    // Older programs kept a chosen entry as its text only.
    read.toChoice = recipientChoiceOf(QString::fromLocal8Bit(read.to));
    read.ccChoice = recipientChoiceOf(QString::fromLocal8Bit(read.cc));
    *this = std::move(read);
}
