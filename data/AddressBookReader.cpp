#include "data/AddressBookReader.h"

#include "data/CsvFields.h"

#include <QHash>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <optional>

namespace {

// Windows-1252 at 0x80 to 0x9F; the five unused codes stay the C1 controls, as Windows maps
// them.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

const QString Ascii = QStringLiteral("ASCII");
const QString Utf8 = QStringLiteral("UTF-8");
const QString Utf16 = QStringLiteral("UTF-16");
const QString Windows1252 = QStringLiteral("Windows-1252");

QString decodeWindows1252(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = QChar(b >= 0x80 && b < 0xA0 ? Cp1252High[b - 0x80] : char16_t(b));
    }
    return text;
}

bool isAscii(QByteArrayView bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isValidUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    return !decoder.hasError();
}

QString decode(QByteArrayView bytes, const QString &encoding) {
    return encoding == Windows1252 ? decodeWindows1252(bytes) : QString::fromUtf8(bytes);
}

// Lower case, accents and everything but letters and digits dropped: "Téléphone portable"
// becomes "telephoneportable".
QString headerKey(const QString &cell) {
    QString key;
    for (QChar ch : cell.normalized(QString::NormalizationForm_KD)) {
        if (ch == QChar(0x0142) || ch == QChar(0x0141)) // Polish l with stroke
            ch = QLatin1Char('l');
        if (ch.isLetterOrNumber())
            key += ch.toLower();
    }
    return key;
}

const QSet<QString> &fullNameHeaders() {
    static const QSet<QString> set = {
        "name",           "fullname",     "displayname",  "contact",    "contactname",
        "kontakt",        "vollername",   "anzeigename",  "nomcomplet", "contacto",
        "nombrecompleto", "nomecompleto", "contatto",     "contato",    "nominativo",
        "imieinazwisko",  "nazwa",        "kontaktnazwa",
    };
    return set;
}

const QSet<QString> &firstNameHeaders() {
    static const QSet<QString> set = {
        "firstname", "givenname", "forename",     "vorname", "prenom",
        "nombre",    "nome",      "primeironome", "imie",
    };
    return set;
}

const QSet<QString> &lastNameHeaders() {
    static const QSet<QString> set = {
        "lastname",  "surname",      "familyname", "nachname",  "familienname",
        "nom",       "nomdefamille", "apellido",   "apellidos", "cognome",
        "sobrenome", "apelido",      "ultimonome", "nazwisko",
    };
    return set;
}

const QSet<QString> &mobileHeaders() {
    static const QSet<QString> set = {
        "mobile",
        "mobilephone",
        "mobilenumber",
        "cell",
        "cellphone",
        "cellular",
        "handy",
        "handynummer",
        "mobil",
        "mobiltelefon",
        "mobilnummer",
        "portable",
        "telephoneportable",
        "mobile1",
        "movil",
        "telefonomovil",
        "celular",
        "telefonocelular",
        "cellulare",
        "telefonocellulare",
        "numerodicellulare",
        "telemovel",
        "numerodetelemovel",
        "komorka",
        "telefonkomorkowy",
        "numerkomorki",
        "numerkomorkowy",
    };
    return set;
}

const QSet<QString> &phoneHeaders() {
    static const QSet<QString> set = {
        "phone",       "telephone",         "tel",         "number",
        "phonenumber", "telephonenumber",   "phone1value", "primaryphone",
        "homephone",   "businessphone",     "workphone",   "otherphone",
        "telefon",     "telefonnummer",     "nummer",      "rufnummer",
        "numero",      "numerodetelephone", "telefono",    "numerodetelefono",
        "telefone",    "numerodetelefone",  "numer",       "numertelefonu",
        "nrtelefonu",
    };
    return set;
}

const QSet<QString> &sentCountHeaders() {
    static const QSet<QString> set = {"sentcount", "sent"};
    return set;
}

struct Columns {
    int fullName = -1;
    int firstName = -1;
    int lastName = -1;
    int mobile = -1;
    int phone = -1;
    int sentCount = -1;

    bool isHeader() const {
        return (fullName >= 0 || firstName >= 0 || lastName >= 0) && (mobile >= 0 || phone >= 0);
    }
};

Columns columnsOf(const QStringList &cells) {
    Columns columns;
    auto take = [](int &column, int index) {
        if (column < 0)
            column = index;
    };
    for (int i = 0; i < cells.size(); ++i) {
        const QString key = headerKey(cells[i]);
        if (fullNameHeaders().contains(key))
            take(columns.fullName, i);
        else if (firstNameHeaders().contains(key))
            take(columns.firstName, i);
        else if (lastNameHeaders().contains(key))
            take(columns.lastName, i);
        else if (mobileHeaders().contains(key))
            take(columns.mobile, i);
        else if (phoneHeaders().contains(key))
            take(columns.phone, i);
        else if (sentCountHeaders().contains(key))
            take(columns.sentCount, i);
    }
    return columns;
}

bool isLineEnd(QChar ch) {
    return ch == QLatin1Char('\r') || ch == QLatin1Char('\n');
}

// The delimiter the first lines use outside quotes: the one found on the most lines, then the
// one whose count per line repeats most often, then the most often; a comma when in doubt.
QChar detectDelimiter(const QString &text) {
    const std::array<QChar, 3> candidates = {QLatin1Char(','), QLatin1Char(';'), QLatin1Char('\t')};
    constexpr int SampleLines = 50;
    std::array<QList<int>, 3> perLine;
    bool quoted = false;
    std::array<int, 3> current{};
    int lines = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i <= size && lines < SampleLines; ++i) {
        const QChar ch = i < size ? text[i] : QLatin1Char('\n');
        if (ch == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (!quoted && isLineEnd(ch)) {
            if (current != std::array<int, 3>{} || i == size) {
                for (int c = 0; c < 3; ++c)
                    perLine[c].append(current[c]);
                ++lines;
            }
            current = {};
        } else if (!quoted) {
            for (int c = 0; c < 3; ++c)
                current[c] += ch == candidates[c] ? 1 : 0;
        }
    }
    struct Score {
        int lines = 0;
        int steady = 0;
        int total = 0;
        auto operator<=>(const Score &) const = default;
    };
    Score best;
    QChar chosen = candidates[0];
    for (int c = 0; c < 3; ++c) {
        Score score;
        QHash<int, int> counts;
        for (int n : perLine[c]) {
            if (n > 0) {
                ++score.lines;
                score.total += n;
                score.steady = std::max(score.steady, ++counts[n]);
            }
        }
        if (score > best) {
            best = score;
            chosen = candidates[c];
        }
    }
    return chosen;
}

// One record of a CSV text; a quoted field may run over several lines.
struct CsvRecord {
    QStringList fields;
    int line = 0;
    bool malformed = false;
};

class CsvScanner {
public:
    CsvScanner(const QString &text, QChar delimiter) : m_text(text), m_delimiter(delimiter) {}

    bool next(CsvRecord &record);

private:
    // Past the line end at m_pos (CR, LF or CR LF), counting the line.
    void skipLineEnd() {
        if (m_text[m_pos] == QLatin1Char('\r') && m_pos + 1 < m_text.size() &&
            m_text[m_pos + 1] == QLatin1Char('\n'))
            ++m_pos;
        ++m_pos;
        ++m_line;
    }

    const QString &m_text;
    const QChar m_delimiter;
    qsizetype m_pos = 0;
    int m_line = 1;
};

bool CsvScanner::next(CsvRecord &record) {
    const qsizetype size = m_text.size();
    if (m_pos >= size)
        return false;
    record.fields.clear();
    record.line = m_line;
    record.malformed = false;
    const qsizetype start = m_pos;
    enum class State { FieldStart, Unquoted, Quoted, AfterQuote } state = State::FieldStart;
    QString field;
    while (m_pos < size) {
        const QChar ch = m_text[m_pos];
        switch (state) {
        case State::FieldStart:
            if (ch == QLatin1Char('"')) {
                state = State::Quoted;
            } else if (ch == m_delimiter) {
                record.fields.append(QString());
            } else if (isLineEnd(ch)) {
                skipLineEnd();
                return true;
            } else {
                field = ch;
                state = State::Unquoted;
            }
            ++m_pos;
            break;
        case State::Unquoted:
        case State::AfterQuote:
            if (ch == m_delimiter) {
                record.fields.append(field);
                field.clear();
                state = State::FieldStart;
            } else if (isLineEnd(ch)) {
                if (!field.isEmpty())
                    record.fields.append(field);
                skipLineEnd();
                return true;
            } else if (state == State::Unquoted) {
                field += ch;
            } else {
                // Text after a closing quote: the rest of this line goes with the bad record.
                record.malformed = true;
                while (m_pos < size && !isLineEnd(m_text[m_pos]))
                    ++m_pos;
                if (m_pos < size)
                    skipLineEnd();
                return true;
            }
            ++m_pos;
            break;
        case State::Quoted:
            if (ch == QLatin1Char('"')) {
                if (m_pos + 1 < size && m_text[m_pos + 1] == QLatin1Char('"')) {
                    field += ch;
                    ++m_pos;
                } else {
                    state = State::AfterQuote;
                }
            } else if (isLineEnd(ch)) {
                // Kept as the file has it (CR LF, LF or CR), so that an exported name comes back.
                const qsizetype from = m_pos;
                skipLineEnd();
                field += QStringView(m_text).sliced(from, m_pos - from);
                continue;
            } else {
                field += ch;
            }
            ++m_pos;
            break;
        }
    }
    if (state == State::Quoted) {
        // A quote never closed: only its own line is bad, reading goes on after it.
        record.malformed = true;
        m_pos = start;
        m_line = record.line;
        while (m_pos < size && !isLineEnd(m_text[m_pos]))
            ++m_pos;
        if (m_pos < size)
            skipLineEnd();
        return true;
    }
    if (!field.isEmpty())
        record.fields.append(field);
    return true;
}

QString fieldAt(const QStringList &fields, int column) {
    return column >= 0 && column < fields.size() ? fields[column] : QString();
}

void readCsv(const QString &text, AddressBook &book) {
    CsvScanner scanner(text, detectDelimiter(text));
    CsvRecord record;
    bool first = true;
    Columns columns;
    bool header = false;
    while (scanner.next(record)) {
        if (record.malformed) {
            book.skippedLines << QStringLiteral("line %1: %2").arg(record.line).arg(csvErrorText());
            continue;
        }
        if (record.fields.isEmpty())
            continue;
        if (first) {
            first = false;
            columns = columnsOf(record.fields);
            // An exchange file's line ends in its sent count: a contact named "Name" with the
            // number "Phone" is no header.
            bool countAtEnd = false;
            if (record.fields.size() == 3)
                record.fields[2].toInt(&countAtEnd);
            header = columns.isHeader() && !countAtEnd;
            if (header)
                continue;
        }
        Contact contact;
        if (header) {
            QString name = fieldAt(record.fields, columns.fullName).trimmed();
            if (name.isEmpty()) {
                const QString given = fieldAt(record.fields, columns.firstName).trimmed();
                const QString family = fieldAt(record.fields, columns.lastName).trimmed();
                name = given.isEmpty() || family.isEmpty() ? given + family
                                                           : given + QLatin1Char(' ') + family;
            }
            QString number = fieldAt(record.fields, columns.mobile).trimmed();
            if (number.isEmpty())
                number = fieldAt(record.fields, columns.phone).trimmed();
            contact.name = name;
            contact.number = number.toLocal8Bit();
            bool ok = false;
            const int count = fieldAt(record.fields, columns.sentCount).trimmed().toInt(&ok);
            contact.sentCount = ok ? count : 0;
        } else {
            // The exchange file's own columns, nothing trimmed.
            contact.name = fieldAt(record.fields, 0);
            contact.number = fieldAt(record.fields, 1).toLocal8Bit();
            bool ok = false;
            const int count = fieldAt(record.fields, 2).toInt(&ok);
            contact.sentCount = ok ? count : 0;
        }
        if (!contact.name.isEmpty() && !contact.number.isEmpty())
            book.contacts.append(contact);
    }
}

// --- vCard

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray decodeQuotedPrintable(QByteArrayView value) {
    QByteArray bytes;
    bytes.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '=' && i + 2 < value.size()) {
            const int high = hexValue(value[i + 1]);
            const int low = hexValue(value[i + 2]);
            if (high >= 0 && low >= 0) {
                bytes += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        if (c == '=' && i == value.size() - 1)
            break; // a soft line break left at the end
        bytes += c;
    }
    return bytes;
}

QString decodeCharset(const QByteArray &bytes, const QString &charset, const QString &fallback) {
    const QString name = charset.toUpper();
    if (name.isEmpty())
        return decode(bytes, fallback);
    if (name == QLatin1String("UTF-8") || name == QLatin1String("UTF8"))
        return QString::fromUtf8(bytes);
    if (name == QLatin1String("WINDOWS-1252") || name == QLatin1String("CP1252"))
        return decodeWindows1252(bytes);
    if (name == QLatin1String("ISO-8859-1") || name == QLatin1String("LATIN1") ||
        name == QLatin1String("US-ASCII"))
        return QString::fromLatin1(bytes);
    QStringDecoder decoder(name.toLatin1().constData());
    if (decoder.isValid())
        return decoder(bytes);
    return decode(bytes, fallback);
}

// The parts of a structured value (N) split at unescaped ";", then unescaped.
QStringList splitStructured(const QString &value) {
    QStringList parts;
    QString part;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar ch = value[i];
        if (ch == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value[++i];
            part += next == QLatin1Char('n') || next == QLatin1Char('N') ? QLatin1Char('\n') : next;
        } else if (ch == QLatin1Char(';')) {
            parts << part;
            part.clear();
        } else {
            part += ch;
        }
    }
    parts << part;
    return parts;
}

QString unescapeText(const QString &value) {
    return splitStructured(value).join(QLatin1Char(';'));
}

// Splits at separator outside double quotes.
QList<QByteArray> splitOutsideQuotes(QByteArrayView text, char separator) {
    QList<QByteArray> parts;
    bool quoted = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] == '"')
            quoted = !quoted;
        if (i == text.size() || (!quoted && text[i] == separator)) {
            parts << text.sliced(start, i - start).toByteArray();
            start = i + 1;
        }
    }
    return parts;
}

struct VCardProperty {
    QByteArray name; // upper case, group dropped
    QSet<QByteArray> types;
    int prefRank = 0; // 0: not preferred; else 1 (most) to 100
    bool quotedPrintable = false;
    QString charset;
    QByteArray value;
};

// "NAME;PARAM=X;BARE:value" of one unfolded line; false when it has no ":".
bool parseProperty(const QByteArray &line, VCardProperty &property) {
    bool quoted = false;
    qsizetype colon = -1;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon < 0)
        return false;
    property = VCardProperty();
    property.value = line.sliced(colon + 1);
    const QList<QByteArray> head = splitOutsideQuotes(QByteArrayView(line).first(colon), ';');
    QByteArray name = head.first().trimmed().toUpper();
    if (const qsizetype dot = name.lastIndexOf('.'); dot >= 0)
        name = name.sliced(dot + 1);
    property.name = name;
    for (qsizetype p = 1; p < head.size(); ++p) {
        QByteArray param = head[p].trimmed();
        QByteArray key, value;
        if (const qsizetype eq = param.indexOf('='); eq >= 0) {
            key = param.first(eq).trimmed().toUpper();
            value = param.sliced(eq + 1).trimmed();
        } else {
            key = "TYPE"; // vCard 2.1 names its types bare: TEL;CELL;PREF
            value = param;
        }
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.sliced(1, value.size() - 2);
        if (key == "TYPE") {
            for (const QByteArray &type : value.toUpper().split(',')) {
                const QByteArray t = type.trimmed();
                if (t == "PREF") {
                    if (property.prefRank == 0)
                        property.prefRank = 1;
                } else if (t == "QUOTED-PRINTABLE") {
                    property.quotedPrintable = true;
                } else {
                    property.types.insert(t);
                }
            }
        } else if (key == "PREF") {
            bool ok = false;
            const int rank = value.toInt(&ok);
            property.prefRank = ok && rank >= 1 ? rank : 1;
        } else if (key == "ENCODING") {
            property.quotedPrintable = value.toUpper() == "QUOTED-PRINTABLE";
        } else if (key == "CHARSET") {
            property.charset = QString::fromLatin1(value);
        }
    }
    return true;
}

struct VCard {
    QString formattedName;
    QString structuredName;
    QString organisation;
    struct Tel {
        QString number;
        bool mobile = false;
        int prefRank = 0;
    };
    QList<Tel> tels;

    QString name() const {
        if (!formattedName.trimmed().isEmpty())
            return formattedName.trimmed();
        if (!structuredName.isEmpty()) {
            // Family; Given; Additional; Prefixes; Suffixes: given name first.
            const QStringList parts = splitStructured(structuredName);
            const QString family = parts.value(0).trimmed();
            const QString given = parts.value(1).trimmed();
            const QString name = given.isEmpty() || family.isEmpty()
                                     ? given + family
                                     : given + QLatin1Char(' ') + family;
            if (!name.isEmpty())
                return name;
        }
        return splitStructured(organisation).value(0).trimmed();
    }

    QString number() const {
        const Tel *chosen = nullptr;
        for (const Tel &tel : tels) {
            if (!tel.mobile)
                continue;
            if (!chosen ||
                (tel.prefRank > 0 && (chosen->prefRank == 0 || tel.prefRank < chosen->prefRank)))
                chosen = &tel;
        }
        if (!chosen && !tels.isEmpty())
            chosen = &tels.first();
        return chosen ? chosen->number : QString();
    }
};

// The physical lines of a vCard file joined into logical ones: a line starting with a blank
// continues the one before, and so does the line after a quoted-printable line ending in "=".
QList<QByteArray> unfoldLines(const QByteArray &bytes) {
    QList<QByteArray> lines;
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    bool softBreak = false;
    for (qsizetype i = 0; i <= size; ++i) {
        if (i < size && bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        const QByteArray line = bytes.sliced(start, i - start);
        if (i < size && bytes[i] == '\r' && i + 1 < size && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
        if (!lines.isEmpty() && (softBreak || line.startsWith(' ') || line.startsWith('\t'))) {
            QByteArray &last = lines.last();
            if (softBreak)
                last.chop(1); // the "=" of the soft break
            last += softBreak ? line : line.sliced(1);
        } else if (!line.isEmpty() || i < size) {
            lines << line;
        }
        const QByteArray &last = lines.isEmpty() ? line : lines.last();
        const qsizetype colon = last.indexOf(':');
        softBreak = last.endsWith('=') && colon >= 0 &&
                    last.first(colon).toUpper().contains("QUOTED-PRINTABLE");
    }
    return lines;
}

void readVCards(const QByteArray &bytes, const QString &encoding, AddressBook &book) {
    std::optional<VCard> card;
    VCardProperty property;
    auto finish = [&] {
        if (!card)
            return;
        const QString number = card->number().trimmed();
        if (number.isEmpty()) {
            ++book.cardsWithoutNumber;
        } else {
            Contact contact;
            contact.name = card->name();
            contact.number = number.toLocal8Bit();
            book.contacts.append(contact);
        }
        card.reset();
    };
    for (const QByteArray &line : unfoldLines(bytes)) {
        if (!parseProperty(line, property))
            continue;
        const QByteArray value = property.value.trimmed().toUpper();
        if (property.name == "BEGIN" && value == "VCARD") {
            finish();
            card.emplace();
            continue;
        }
        if (property.name == "END" && value == "VCARD") {
            finish();
            continue;
        }
        if (!card)
            continue;
        const QByteArray raw =
            property.quotedPrintable ? decodeQuotedPrintable(property.value) : property.value;
        if (property.name == "FN") {
            if (card->formattedName.isEmpty())
                card->formattedName = unescapeText(decodeCharset(raw, property.charset, encoding));
        } else if (property.name == "N") {
            if (card->structuredName.isEmpty())
                card->structuredName = decodeCharset(raw, property.charset, encoding);
        } else if (property.name == "ORG") {
            if (card->organisation.isEmpty())
                card->organisation = decodeCharset(raw, property.charset, encoding);
        } else if (property.name == "TEL") {
            QString number = decodeCharset(raw, property.charset, encoding).trimmed();
            if (number.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive)) {
                number = number.sliced(4);
                if (const qsizetype semicolon = number.indexOf(QLatin1Char(';')); semicolon >= 0)
                    number.truncate(semicolon);
            }
            if (number.isEmpty())
                continue;
            const bool mobile = property.types.contains("CELL") ||
                                property.types.contains("MOBILE") ||
                                property.types.contains("IPHONE");
            card->tels.append({number, mobile, property.prefRank});
        }
    }
    finish(); // a last card without END still counts
}

bool startsWithVCard(QByteArrayView bytes) {
    qsizetype i = 0;
    while (i < bytes.size() &&
           (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n'))
        ++i;
    constexpr QByteArrayView Begin = "BEGIN:VCARD";
    return bytes.size() - i >= Begin.size() &&
           bytes.sliced(i, Begin.size()).compare(Begin, Qt::CaseInsensitive) == 0;
}

} // namespace

AddressBook readAddressBook(const QByteArray &bytes) {
    AddressBook book;
    QByteArray data;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(bytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE
                                                            : QStringDecoder::Utf16BE);
        data = QString(decoder(QByteArrayView(bytes).sliced(2))).toUtf8();
        book.encoding = Utf16;
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        data = bytes.sliced(3);
        book.encoding = Utf8;
    } else {
        data = bytes;
        book.encoding = isAscii(data) ? Ascii : isValidUtf8(data) ? Utf8 : Windows1252;
    }
    // Text from a UTF-16 file is UTF-8 from here on.
    const QString textEncoding = book.encoding == Windows1252 ? Windows1252 : Utf8;
    if (startsWithVCard(data)) {
        book.format = AddressBook::Format::VCard;
        readVCards(data, textEncoding, book);
    } else {
        readCsv(decode(data, textEncoding), book);
    }
    return book;
}
