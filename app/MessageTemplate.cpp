#include "app/MessageTemplate.h"

namespace {

using Kind = MessageTemplate::Segment::Kind;

bool isNameChar(QChar ch) {
    return ch.isLetterOrNumber() || ch == QLatin1Char(' ') || ch == QLatin1Char('_') ||
           ch == QLatin1Char('-');
}

// The placeholder kind of a name as written, or Text when the name is not known.
Kind kindOf(const QString &written) {
    QString name;
    for (QChar ch : written) {
        if (ch != QLatin1Char(' ') && ch != QLatin1Char('_') && ch != QLatin1Char('-'))
            name += ch.toLower();
    }
    if (name == QLatin1String("name"))
        return Kind::Name;
    if (name == QLatin1String("firstname"))
        return Kind::FirstName;
    if (name == QLatin1String("number"))
        return Kind::Number;
    return Kind::Text;
}

} // namespace

MessageTemplate::MessageTemplate(const QString &text) {
    QString literal;
    auto flushLiteral = [&] {
        if (!literal.isEmpty()) {
            m_segments.append({Kind::Text, literal});
            literal.clear();
        }
    };
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        const QChar ch = text[i];
        if (ch != QLatin1Char('{') || i + 1 >= size || !text[i + 1].isLetter()) {
            literal += ch;
            ++i;
            continue;
        }
        // {name} or {name|fallback}; the fallback holds no braces.
        qsizetype j = i + 1;
        while (j < size && isNameChar(text[j]))
            ++j;
        const qsizetype nameEnd = j;
        bool hasFallback = false;
        if (j < size && text[j] == QLatin1Char('|')) {
            hasFallback = true;
            ++j;
            while (j < size && text[j] != QLatin1Char('}') && text[j] != QLatin1Char('{'))
                ++j;
        }
        if (j >= size || text[j] != QLatin1Char('}')) {
            literal += ch;
            ++i;
            continue;
        }
        const QString written = text.sliced(i, j + 1 - i);
        const Kind kind = kindOf(text.sliced(i + 1, nameEnd - i - 1));
        if (kind == Kind::Text) {
            if (!m_unknown.contains(written))
                m_unknown.append(written);
            literal += written;
        } else {
            flushLiteral();
            m_segments.append(
                {kind, hasFallback ? text.sliced(nameEnd + 1, j - nameEnd - 1) : QString()});
            m_hasPlaceholders = true;
        }
        i = j + 1;
    }
    flushLiteral();
}

MessageTemplate MessageTemplate::joined(const MessageTemplate &first, const QString &separator,
                                        const MessageTemplate &second) {
    MessageTemplate result = first;
    if (!separator.isEmpty())
        result.m_segments.append({Kind::Text, separator});
    result.m_segments += second.m_segments;
    for (const QString &unknown : second.m_unknown) {
        if (!result.m_unknown.contains(unknown))
            result.m_unknown.append(unknown);
    }
    result.m_hasPlaceholders = first.m_hasPlaceholders || second.m_hasPlaceholders;
    return result;
}

QString MessageTemplate::firstName(const QString &name) {
    const QString trimmed = name.trimmed();
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        if (trimmed[i].isSpace())
            return trimmed.first(i);
    }
    return trimmed;
}

QString MessageTemplate::value(Segment::Kind kind, const QString &name, const QByteArray &number) {
    switch (kind) {
    case Kind::Name:
        return name.trimmed();
    case Kind::FirstName:
        return firstName(name);
    case Kind::Number:
        return QString::fromLatin1(number);
    case Kind::Text:
        break;
    }
    return {};
}

QString MessageTemplate::fill(const QString &name, const QByteArray &number) const {
    QString text;
    for (const Segment &segment : m_segments) {
        if (segment.kind == Kind::Text) {
            text += segment.text;
            continue;
        }
        const QString filled = value(segment.kind, name, number);
        text += filled.isEmpty() ? segment.text : filled;
    }
    return text;
}
