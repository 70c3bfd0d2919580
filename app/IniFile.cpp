#include "app/IniFile.h"

#include "base/Error.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QByteArray Utf8Bom("\xEF\xBB\xBF");

bool sameName(const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The line end a raw line carries: "\r\n", "\n" or nothing for a last line without one.
QByteArray lineEnd(const QByteArray &raw) {
    if (raw.endsWith("\r\n"))
        return QByteArrayLiteral("\r\n");
    if (raw.endsWith('\n'))
        return QByteArrayLiteral("\n");
    return {};
}

QString decodeValue(const QString &trimmed) {
    if (trimmed.size() >= 2 && trimmed.startsWith(u'"') && trimmed.endsWith(u'"'))
        return trimmed.mid(1, trimmed.size() - 2);
    return trimmed;
}

// Quotes a value that reading would otherwise change: outer blanks, or outer quotes of its own.
QString encodeValue(const QString &value) {
    const bool quoted = value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"');
    if (quoted || value != value.trimmed())
        return u'"' + value + u'"';
    return value;
}

bool hasLineBreak(const QString &text) {
    return text.contains(u'\n') || text.contains(u'\r');
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult readFileBytes(const QString &fileName, QByteArray &bytes, QString &error) {
    bytes.clear();
    const QFileInfo info(fileName);
    if (!info.exists())
        return ReadResult::Missing;
    if (info.isDir()) {
        error = QStringLiteral("%1 is a folder").arg(fileName);
        return ReadResult::Failed;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return ReadResult::Failed;
    }
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        bytes.clear();
        return ReadResult::Failed;
    }
    return ReadResult::Ok;
}

} // namespace

// The file as a list of raw lines, each parsed once when it is read or made.
class IniFile::Document {
public:
    explicit Document(const QByteArray &bytes) {
        const qsizetype firstBreak = bytes.indexOf('\n');
        m_eol = firstBreak > 0 && bytes.at(firstBreak - 1) == '\r' ? QByteArrayLiteral("\r\n")
                                                                   : QByteArrayLiteral("\n");
        qsizetype start = 0;
        while (start < bytes.size()) {
            qsizetype end = bytes.indexOf('\n', start);
            end = end < 0 ? bytes.size() : end + 1;
            m_lines.append(parseLine(bytes.mid(start, end - start), m_lines.isEmpty()));
            start = end;
        }
    }

    QByteArray bytes() const {
        QByteArray bytes;
        for (const Line &line : m_lines)
            bytes += line.raw;
        return bytes;
    }

    const QString *value(const QString &section, const QString &key) const {
        const qsizetype at = findKey(section, key);
        return at < 0 ? nullptr : &m_lines.at(at).value;
    }

    bool hasSection(const QString &section) const { return findSection(section) >= 0; }

    QStringList keys(const QString &section) const {
        QStringList keys;
        const qsizetype header = findSection(section);
        if (header < 0)
            return keys;
        for (qsizetype i = header + 1, end = sectionEnd(header); i < end; ++i) {
            const Line &line = m_lines.at(i);
            if (line.kind == Kind::Key && !keys.contains(line.name, Qt::CaseInsensitive))
                keys.append(line.name);
        }
        return keys;
    }

    QStringList sections() const {
        QStringList sections;
        for (const Line &line : m_lines)
            if (line.kind == Kind::Section && !sections.contains(line.name, Qt::CaseInsensitive))
                sections.append(line.name);
        return sections;
    }

    void setValue(const QString &section, const QString &key, const QString &value) {
        const QByteArray encoded = encodeValue(value).toUtf8();
        const qsizetype at = findKey(section, key);
        if (at >= 0) {
            // Keep the key as spelled and the blanks around '='; replace what follows.
            const QByteArray &raw = m_lines.at(at).raw;
            qsizetype valueStart = raw.indexOf('=') + 1;
            while (valueStart < raw.size() &&
                   (raw.at(valueStart) == ' ' || raw.at(valueStart) == '\t'))
                ++valueStart;
            m_lines[at] = parseLine(raw.left(valueStart) + encoded + lineEnd(raw), at == 0);
            return;
        }
        const QByteArray keyLine = key.toUtf8() + '=' + encoded + m_eol;
        const qsizetype header = findSection(section);
        if (header >= 0) {
            qsizetype after = header;
            for (qsizetype i = header + 1, end = sectionEnd(header); i < end; ++i)
                if (m_lines.at(i).kind == Kind::Key)
                    after = i;
            terminate(after);
            m_lines.insert(after + 1, parseLine(keyLine, false));
            return;
        }
        if (!m_lines.isEmpty()) {
            terminate(m_lines.size() - 1);
            if (m_lines.last().kind != Kind::Blank)
                m_lines.append(parseLine(m_eol, false));
        }
        m_lines.append(parseLine('[' + section.toUtf8() + ']' + m_eol, m_lines.isEmpty()));
        m_lines.append(parseLine(keyLine, false));
    }

    void removeKey(const QString &section, const QString &key) {
        const qsizetype header = findSection(section);
        if (header < 0)
            return;
        for (qsizetype i = sectionEnd(header) - 1; i > header; --i) {
            const Line &line = m_lines.at(i);
            if (line.kind == Kind::Key && sameName(line.name, key))
                m_lines.removeAt(i);
        }
    }

    void removeSection(const QString &section) {
        for (qsizetype header = findSection(section); header >= 0; header = findSection(section))
            m_lines.remove(header, sectionEnd(header) - header);
    }

private:
    enum class Kind { Blank, Comment, Section, Key, Other };

    struct Line {
        QByteArray raw; // as in the file, line end included
        Kind kind = Kind::Other;
        QString name;  // section or key name, trimmed
        QString value; // a key's value, trimmed and unquoted
    };

    static Line parseLine(QByteArray raw, bool first) {
        Line line;
        QByteArray content = raw.left(raw.size() - lineEnd(raw).size());
        if (first && content.startsWith(Utf8Bom))
            content.remove(0, Utf8Bom.size());
        line.raw = std::move(raw);
        const QString text = QString::fromUtf8(content).trimmed();
        if (text.isEmpty()) {
            line.kind = Kind::Blank;
        } else if (text.startsWith(u';') || text.startsWith(u'#')) {
            line.kind = Kind::Comment;
        } else if (text.startsWith(u'[')) {
            const qsizetype close = text.indexOf(u']');
            if (close > 0) {
                line.kind = Kind::Section;
                line.name = text.mid(1, close - 1).trimmed();
            }
        } else if (const qsizetype eq = text.indexOf(u'='); eq > 0) {
            line.name = text.left(eq).trimmed();
            if (!line.name.isEmpty()) {
                line.kind = Kind::Key;
                line.value = decodeValue(text.mid(eq + 1).trimmed());
            }
        }
        return line;
    }

    // Gives the line at index a line end, so that a line can follow it.
    void terminate(qsizetype index) {
        Line &line = m_lines[index];
        if (!line.raw.endsWith('\n'))
            line.raw += m_eol;
    }

    qsizetype findSection(const QString &section) const {
        if (section.isEmpty())
            return -1;
        for (qsizetype i = 0; i < m_lines.size(); ++i) {
            const Line &line = m_lines.at(i);
            if (line.kind == Kind::Section && sameName(line.name, section))
                return i;
        }
        return -1;
    }

    qsizetype sectionEnd(qsizetype header) const {
        qsizetype i = header + 1;
        while (i < m_lines.size() && m_lines.at(i).kind != Kind::Section)
            ++i;
        return i;
    }

    qsizetype findKey(const QString &section, const QString &key) const {
        const qsizetype header = findSection(section);
        if (header < 0)
            return -1;
        for (qsizetype i = header + 1, end = sectionEnd(header); i < end; ++i) {
            const Line &line = m_lines.at(i);
            if (line.kind == Kind::Key && sameName(line.name, key))
                return i;
        }
        return -1;
    }

    QList<Line> m_lines;
    QByteArray m_eol; // line end for new lines: that of the first line, LF for a new file
};

IniFile::IniFile(QString fileName) : m_fileName(std::move(fileName)) {
    reload();
}

IniFile::~IniFile() = default;

void IniFile::apply(Document &document, const Change &change) {
    switch (change.kind) {
    case Change::Write:
        document.setValue(change.section, change.key, change.value);
        break;
    case Change::DeleteKey:
        document.removeKey(change.section, change.key);
        break;
    case Change::EraseSection:
        document.removeSection(change.section);
        break;
    }
}

void IniFile::reload() {
    QByteArray bytes;
    QString error;
    // An unreadable file reads as empty; updateFile refuses to write over it.
    readFileBytes(m_fileName, bytes, error);
    m_document = std::make_unique<Document>(bytes);
    for (const Change &change : std::as_const(m_pending))
        apply(*m_document, change);
}

void IniFile::record(Change change) {
    apply(*m_document, change);
    m_pending.append(std::move(change));
}

bool IniFile::updateFile() {
    if (m_pending.isEmpty())
        return true;
    QByteArray onDisk;
    QString error;
    if (readFileBytes(m_fileName, onDisk, error) == ReadResult::Failed) {
        m_errorString = QStringLiteral("Cannot read %1: %2").arg(m_fileName, error);
        return false;
    }
    auto document = std::make_unique<Document>(onDisk);
    for (const Change &change : std::as_const(m_pending))
        apply(*document, change);
    const QByteArray bytes = document->bytes();
    if (bytes != onDisk) {
        // Unbuffered, so that a short write (file size limit, full disk) shows in write()'s
        // count: through the buffer, commit() can report success for a truncated file.
        QSaveFile file(m_fileName);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
            file.write(bytes) != bytes.size() || !file.commit()) {
            m_errorString =
                QStringLiteral("Cannot write %1: %2").arg(m_fileName, file.errorString());
            return false;
        }
    }
    m_document = std::move(document);
    m_pending.clear();
    m_errorString.clear();
    return true;
}

namespace {

QString checkedSection(const QString &section) {
    const QString name = section.trimmed();
    if (name.isEmpty() || name.contains(u']') || hasLineBreak(name))
        throw Error(QStringLiteral("Invalid settings section name"));
    return name;
}

QString checkedKey(const QString &key) {
    const QString name = key.trimmed();
    if (name.isEmpty() || name.contains(u'=') || hasLineBreak(name) || name.startsWith(u'[') ||
        name.startsWith(u';') || name.startsWith(u'#'))
        throw Error(QStringLiteral("Invalid settings key name"));
    return name;
}

} // namespace

QString IniFile::readString(const QString &section, const QString &key,
                            const QString &defaultValue) const {
    const QString *value = m_document->value(section.trimmed(), key.trimmed());
    return value ? *value : defaultValue;
}

int IniFile::readInteger(const QString &section, const QString &key, int defaultValue) const {
    const QString *value = m_document->value(section.trimmed(), key.trimmed());
    if (!value)
        return defaultValue;
    bool ok = false;
    const int number = value->toInt(&ok, 10);
    return ok ? number : defaultValue;
}

bool IniFile::readBool(const QString &section, const QString &key, bool defaultValue) const {
    const QString *value = m_document->value(section.trimmed(), key.trimmed());
    if (!value)
        return defaultValue;
    for (const char *word : {"TRUE", "YES", "Y"})
        if (sameName(*value, QLatin1StringView(word)))
            return true;
    for (const char *word : {"FALSE", "NO", "N"})
        if (sameName(*value, QLatin1StringView(word)))
            return false;
    return defaultValue;
}

bool IniFile::sectionExists(const QString &section) const {
    return m_document->hasSection(section.trimmed());
}

bool IniFile::valueExists(const QString &section, const QString &key) const {
    return m_document->value(section.trimmed(), key.trimmed()) != nullptr;
}

QStringList IniFile::readSection(const QString &section) const {
    return m_document->keys(section.trimmed());
}

QStringList IniFile::readSections() const {
    return m_document->sections();
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value) {
    if (hasLineBreak(value))
        throw Error(QStringLiteral("A settings value cannot hold a line break"));
    record({Change::Write, checkedSection(section), checkedKey(key), value});
}

void IniFile::writeInteger(const QString &section, const QString &key, int value) {
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString &section, const QString &key, bool value) {
    writeString(section, key, value ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
}

void IniFile::deleteKey(const QString &section, const QString &key) {
    record({Change::DeleteKey, section.trimmed(), key.trimmed(), {}});
}

void IniFile::eraseSection(const QString &section) {
    record({Change::EraseSection, section.trimmed(), {}, {}});
}
