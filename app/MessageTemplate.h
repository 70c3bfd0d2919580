#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A message text with placeholders that are filled per recipient: {Name}, {FirstName} (the name
// up to its first space) and {Number} (the number the message goes to). Names are matched
// without regard to letter case, spaces, "_" and "-" ({first name} is {FirstName}). A fallback
// after "|" stands in for an empty value: {Name|friend}. A "{" that does not start a placeholder
// (no closing brace, no letter after it) is text. Any other name in braces is an unknown
// placeholder: the text cannot be sent until it is corrected.
class MessageTemplate {
public:
    struct Segment {
        enum class Kind { Text, Name, FirstName, Number };
        Kind kind = Kind::Text;
        QString text; // the literal text, or the placeholder's fallback
    };

    explicit MessageTemplate(const QString &text = QString());

    // first, the plain text separator, then second.
    static MessageTemplate joined(const MessageTemplate &first, const QString &separator,
                                  const MessageTemplate &second);

    const QList<Segment> &segments() const { return m_segments; }
    bool hasPlaceholders() const { return m_hasPlaceholders; }
    // The unknown placeholders as written ("{Nmae}"), each once, in order of appearance.
    const QStringList &unknownPlaceholders() const { return m_unknown; }

    // The text for one recipient: name as stored with the contact (empty for a number that
    // belongs to no contact), number as it is sent.
    QString fill(const QString &name, const QByteArray &number) const;

    // The value a placeholder takes before its fallback is applied.
    static QString value(Segment::Kind kind, const QString &name, const QByteArray &number);
    static QString firstName(const QString &name);

private:
    QList<Segment> m_segments;
    QStringList m_unknown;
    bool m_hasPlaceholders = false;
};
