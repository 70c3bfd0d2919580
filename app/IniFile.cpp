#include "app/IniFile.h"

#include "app/Errors.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QByteArray Utf8Bom("\xEF\xBB\xBF");

bool SameName(const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The line end a raw line carries: "\r\n", "\n" or nothing for a last line without one.
QByteArray LineEnd(const QByteArray &raw) {
    if (raw.endsWith("\r\n"))
        return QByteArrayLiteral("\r\n");
    if (raw.endsWith('\n'))
        return QByteArrayLiteral("\n");
    return {};
}

QString DecodeValue(const QString &trimmed) {
    if (trimmed.size() >= 2 && trimmed.startsWith(u'"') && trimmed.endsWith(u'"'))
        return trimmed.mid(1, trimmed.size() - 2);
    return trimmed;
}

// Quotes a value that reading would otherwise change: outer blanks, or outer quotes of its own.
QString EncodeValue(const QString &value) {
    const bool quoted = value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"');
    if (quoted || value != value.trimmed())
        return u'"' + value + u'"';
    return value;
}

bool HasLineBreak(const QString &text) {
    return text.contains(u'\n') || text.contains(u'\r');
}

enum class TReadResult { Ok, Missing, Failed };

TReadResult ReadFileBytes(const QString &fileName, QByteArray &bytes, QString &error) {
    bytes.clear();
    const QFileInfo info(fileName);
    if (!info.exists())
        return TReadResult::Missing;
    if (info.isDir()) {
        error = QStringLiteral("%1 is a folder").arg(fileName);
        return TReadResult::Failed;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return TReadResult::Failed;
    }
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        bytes.clear();
        return TReadResult::Failed;
    }
    return TReadResult::Ok;
}

} // namespace

// The file as a list of raw lines, each parsed once when it is read or made.
class TIniFile::TDocument {
public:
    explicit TDocument(const QByteArray &bytes) {
        const qsizetype firstBreak = bytes.indexOf('\n');
        FEol = firstBreak > 0 && bytes.at(firstBreak - 1) == '\r' ? QByteArrayLiteral("\r\n")
                                                                  : QByteArrayLiteral("\n");
        qsizetype start = 0;
        while (start < bytes.size()) {
            qsizetype end = bytes.indexOf('\n', start);
            end = end < 0 ? bytes.size() : end + 1;
            FLines.append(ParseLine(bytes.mid(start, end - start), FLines.isEmpty()));
            start = end;
        }
    }

    QByteArray Bytes() const {
        QByteArray bytes;
        for (const TLine &line : FLines)
            bytes += line.Raw;
        return bytes;
    }

    const QString *Value(const QString &section, const QString &key) const {
        const qsizetype at = FindKey(section, key);
        return at < 0 ? nullptr : &FLines.at(at).Value;
    }

    bool HasSection(const QString &section) const { return FindSection(section) >= 0; }

    QStringList Keys(const QString &section) const {
        QStringList keys;
        const qsizetype header = FindSection(section);
        if (header < 0)
            return keys;
        for (qsizetype i = header + 1, end = SectionEnd(header); i < end; ++i) {
            const TLine &line = FLines.at(i);
            if (line.Kind == TKind::Key && !keys.contains(line.Name, Qt::CaseInsensitive))
                keys.append(line.Name);
        }
        return keys;
    }

    QStringList Sections() const {
        QStringList sections;
        for (const TLine &line : FLines)
            if (line.Kind == TKind::Section && !sections.contains(line.Name, Qt::CaseInsensitive))
                sections.append(line.Name);
        return sections;
    }

    void SetValue(const QString &section, const QString &key, const QString &value) {
        const QByteArray encoded = EncodeValue(value).toUtf8();
        const qsizetype at = FindKey(section, key);
        if (at >= 0) {
            // Keep the key as spelled and the blanks around '='; replace what follows.
            const QByteArray &raw = FLines.at(at).Raw;
            qsizetype valueStart = raw.indexOf('=') + 1;
            while (valueStart < raw.size() &&
                   (raw.at(valueStart) == ' ' || raw.at(valueStart) == '\t'))
                ++valueStart;
            FLines[at] = ParseLine(raw.left(valueStart) + encoded + LineEnd(raw), at == 0);
            return;
        }
        const QByteArray keyLine = key.toUtf8() + '=' + encoded + FEol;
        const qsizetype header = FindSection(section);
        if (header >= 0) {
            qsizetype after = header;
            for (qsizetype i = header + 1, end = SectionEnd(header); i < end; ++i)
                if (FLines.at(i).Kind == TKind::Key)
                    after = i;
            Terminate(after);
            FLines.insert(after + 1, ParseLine(keyLine, false));
            return;
        }
        if (!FLines.isEmpty()) {
            Terminate(FLines.size() - 1);
            if (FLines.last().Kind != TKind::Blank)
                FLines.append(ParseLine(FEol, false));
        }
        FLines.append(ParseLine('[' + section.toUtf8() + ']' + FEol, FLines.isEmpty()));
        FLines.append(ParseLine(keyLine, false));
    }

    void RemoveKey(const QString &section, const QString &key) {
        const qsizetype header = FindSection(section);
        if (header < 0)
            return;
        for (qsizetype i = SectionEnd(header) - 1; i > header; --i) {
            const TLine &line = FLines.at(i);
            if (line.Kind == TKind::Key && SameName(line.Name, key))
                FLines.removeAt(i);
        }
    }

    void RemoveSection(const QString &section) {
        for (qsizetype header = FindSection(section); header >= 0; header = FindSection(section))
            FLines.remove(header, SectionEnd(header) - header);
    }

private:
    enum class TKind { Blank, Comment, Section, Key, Other };

    struct TLine {
        QByteArray Raw; // as in the file, line end included
        TKind Kind = TKind::Other;
        QString Name;  // section or key name, trimmed
        QString Value; // a key's value, trimmed and unquoted
    };

    static TLine ParseLine(QByteArray raw, bool first) {
        TLine line;
        QByteArray content = raw.left(raw.size() - LineEnd(raw).size());
        if (first && content.startsWith(Utf8Bom))
            content.remove(0, Utf8Bom.size());
        line.Raw = std::move(raw);
        const QString text = QString::fromUtf8(content).trimmed();
        if (text.isEmpty()) {
            line.Kind = TKind::Blank;
        } else if (text.startsWith(u';') || text.startsWith(u'#')) {
            line.Kind = TKind::Comment;
        } else if (text.startsWith(u'[')) {
            const qsizetype close = text.indexOf(u']');
            if (close > 0) {
                line.Kind = TKind::Section;
                line.Name = text.mid(1, close - 1).trimmed();
            }
        } else if (const qsizetype eq = text.indexOf(u'='); eq > 0) {
            line.Name = text.left(eq).trimmed();
            if (!line.Name.isEmpty()) {
                line.Kind = TKind::Key;
                line.Value = DecodeValue(text.mid(eq + 1).trimmed());
            }
        }
        return line;
    }

    // Gives the line at index a line end, so that a line can follow it.
    void Terminate(qsizetype index) {
        TLine &line = FLines[index];
        if (!line.Raw.endsWith('\n'))
            line.Raw += FEol;
    }

    qsizetype FindSection(const QString &section) const {
        if (section.isEmpty())
            return -1;
        for (qsizetype i = 0; i < FLines.size(); ++i) {
            const TLine &line = FLines.at(i);
            if (line.Kind == TKind::Section && SameName(line.Name, section))
                return i;
        }
        return -1;
    }

    qsizetype SectionEnd(qsizetype header) const {
        qsizetype i = header + 1;
        while (i < FLines.size() && FLines.at(i).Kind != TKind::Section)
            ++i;
        return i;
    }

    qsizetype FindKey(const QString &section, const QString &key) const {
        const qsizetype header = FindSection(section);
        if (header < 0)
            return -1;
        for (qsizetype i = header + 1, end = SectionEnd(header); i < end; ++i) {
            const TLine &line = FLines.at(i);
            if (line.Kind == TKind::Key && SameName(line.Name, key))
                return i;
        }
        return -1;
    }

    QList<TLine> FLines;
    QByteArray FEol; // line end for new lines: that of the first line, LF for a new file
};

TIniFile::TIniFile(QString fileName) : FFileName(std::move(fileName)) {
    Reload();
}

TIniFile::~TIniFile() = default;

void TIniFile::Apply(TDocument &document, const TChange &change) {
    switch (change.Kind) {
    case TChange::Write:
        document.SetValue(change.Section, change.Key, change.Value);
        break;
    case TChange::DeleteKey:
        document.RemoveKey(change.Section, change.Key);
        break;
    case TChange::EraseSection:
        document.RemoveSection(change.Section);
        break;
    }
}

void TIniFile::Reload() {
    QByteArray bytes;
    QString error;
    // An unreadable file reads as empty; UpdateFile refuses to write over it.
    ReadFileBytes(FFileName, bytes, error);
    FDocument = std::make_unique<TDocument>(bytes);
    for (const TChange &change : std::as_const(FPending))
        Apply(*FDocument, change);
}

void TIniFile::Record(TChange change) {
    Apply(*FDocument, change);
    FPending.append(std::move(change));
}

bool TIniFile::UpdateFile() {
    if (FPending.isEmpty())
        return true;
    QByteArray onDisk;
    QString error;
    if (ReadFileBytes(FFileName, onDisk, error) == TReadResult::Failed) {
        FErrorString = QStringLiteral("Cannot read %1: %2").arg(FFileName, error);
        return false;
    }
    auto document = std::make_unique<TDocument>(onDisk);
    for (const TChange &change : std::as_const(FPending))
        Apply(*document, change);
    const QByteArray bytes = document->Bytes();
    if (bytes != onDisk) {
        // Unbuffered, so that a short write (file size limit, full disk) shows in write()'s
        // count: through the buffer, commit() can report success for a truncated file.
        QSaveFile file(FFileName);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
            file.write(bytes) != bytes.size() || !file.commit()) {
            FErrorString = QStringLiteral("Cannot write %1: %2").arg(FFileName, file.errorString());
            return false;
        }
    }
    FDocument = std::move(document);
    FPending.clear();
    FErrorString.clear();
    return true;
}

namespace {

QString CheckedSection(const QString &section) {
    const QString name = section.trimmed();
    if (name.isEmpty() || name.contains(u']') || HasLineBreak(name))
        throw EPelorvane(QStringLiteral("Invalid settings section name"));
    return name;
}

QString CheckedKey(const QString &key) {
    const QString name = key.trimmed();
    if (name.isEmpty() || name.contains(u'=') || HasLineBreak(name) || name.startsWith(u'[') ||
        name.startsWith(u';') || name.startsWith(u'#'))
        throw EPelorvane(QStringLiteral("Invalid settings key name"));
    return name;
}

} // namespace

QString TIniFile::ReadString(const QString &section, const QString &key,
                             const QString &defaultValue) const {
    const QString *value = FDocument->Value(section.trimmed(), key.trimmed());
    return value ? *value : defaultValue;
}

int TIniFile::ReadInteger(const QString &section, const QString &key, int defaultValue) const {
    const QString *value = FDocument->Value(section.trimmed(), key.trimmed());
    if (!value)
        return defaultValue;
    bool ok = false;
    const int number = value->toInt(&ok, 10);
    return ok ? number : defaultValue;
}

bool TIniFile::ReadBool(const QString &section, const QString &key, bool defaultValue) const {
    const QString *value = FDocument->Value(section.trimmed(), key.trimmed());
    if (!value)
        return defaultValue;
    for (const char *word : {"TRUE", "YES", "Y"})
        if (SameName(*value, QLatin1StringView(word)))
            return true;
    for (const char *word : {"FALSE", "NO", "N"})
        if (SameName(*value, QLatin1StringView(word)))
            return false;
    return defaultValue;
}

bool TIniFile::SectionExists(const QString &section) const {
    return FDocument->HasSection(section.trimmed());
}

bool TIniFile::ValueExists(const QString &section, const QString &key) const {
    return FDocument->Value(section.trimmed(), key.trimmed()) != nullptr;
}

QStringList TIniFile::ReadSection(const QString &section) const {
    return FDocument->Keys(section.trimmed());
}

QStringList TIniFile::ReadSections() const {
    return FDocument->Sections();
}

void TIniFile::WriteString(const QString &section, const QString &key, const QString &value) {
    if (HasLineBreak(value))
        throw EPelorvane(QStringLiteral("A settings value cannot hold a line break"));
    Record({TChange::Write, CheckedSection(section), CheckedKey(key), value});
}

void TIniFile::WriteInteger(const QString &section, const QString &key, int value) {
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString &section, const QString &key, bool value) {
    WriteString(section, key, value ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
}

void TIniFile::DeleteKey(const QString &section, const QString &key) {
    Record({TChange::DeleteKey, section.trimmed(), key.trimmed(), {}});
}

void TIniFile::EraseSection(const QString &section) {
    Record({TChange::EraseSection, section.trimmed(), {}, {}});
}
