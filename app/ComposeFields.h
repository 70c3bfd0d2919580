#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

class StreamReader;
class StreamWriter;

// What a To or Cc box names: the numbers typed into it, or one of its two list entries.
enum class RecipientChoice : quint8 { Typed, AllContacts, CheckedContacts };

// The entry's text as the box shows it: "All contacts (7)", "Checked contacts (2)".
QString recipientEntryText(RecipientChoice choice, int count);
// The entry a text is, whatever count it shows; Typed for any other text.
RecipientChoice recipientChoiceOf(const QString &text);

// The four fields of the compose view as the project file stores them: To and Cc as ansi
// fields, Subject and Body as wide fields, in that order.
//
// A box that names a list entry holds the entry's text, as older files have it; reading such
// a text back gives the choice again, so a file keeps the choice without a new section and
// every program that reads version 10 still reads it. No number is ever written that way.
struct ComposeFields {
    QByteArray to;
    QByteArray cc;
    QString subject;
    QString body;
    // Follow the text: set by loadFromStream, and kept by the view with the entry's text.
    RecipientChoice toChoice = RecipientChoice::Typed;
    RecipientChoice ccChoice = RecipientChoice::Typed;

    bool operator==(const ComposeFields &other) const = default;

    void saveToStream(StreamWriter &writer) const;
    // Reads nothing unless version is 10. The fields change only when all four were read.
    void loadFromStream(StreamReader &reader, int version);
};
