#include "data/ContactList.h"

#include "base/SafeFile.h"
#include "base/StreamIO.h"
#include "data/AddressBookReader.h"
#include "data/CsvFields.h"
#include "data/PhoneNumberParser.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

namespace {

// Name and Number lengths, sentCount, Checked.
constexpr qint64 EmptyContactSize = 4 + 4 + 4 + 1;

// The longest line an import reads: a contact is a name and a number, and a file with longer
// lines is no address book (an endless line would only fill the memory).
constexpr qsizetype MaxLineLength = 64 * 1024;
constexpr qint64 ReadChunk = 64 * 1024;

// A field of an exchange file: in quotes, with a quote inside doubled.
void appendQuoted(QByteArray &line, const QByteArray &value) {
    line += '"';
    for (char c : value) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

// The file's bytes, refused with a clear message when they are not text (a NUL byte outside a
// UTF-16 file) or hold a line longer than MaxLineLength. Reads in chunks, so that a device
// that never ends (/dev/zero) is refused at once.
QByteArray readTextFile(const QString &fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(file.errorString());
    const QString shown = QDir::toNativeSeparators(fileName);
    QByteArray bytes;
    qsizetype lineStart = 0;
    qsizetype line = 1;
    bool utf16 = false;
    for (;;) {
        const QByteArray chunk = file.read(ReadChunk);
        if (file.error() != QFileDevice::NoError)
            throw Error(file.errorString());
        if (chunk.isEmpty())
            break;
        const qsizetype from = bytes.size();
        bytes += chunk;
        if (from == 0)
            utf16 = bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
        for (qsizetype i = from; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c == '\0' && !utf16)
                throw Error(QStringLiteral("Cannot import %1: it is not a text file").arg(shown));
            if (c == '\n' || c == '\r') {
                // CR LF ends one line.
                if (!(c == '\n' && i > 0 && bytes[i - 1] == '\r'))
                    ++line;
                lineStart = i + 1;
            } else if (i - lineStart >= MaxLineLength) {
                throw Error(QStringLiteral("Cannot import %1: line %2 is longer than 64 KiB")
                                .arg(shown)
                                .arg(line));
            }
        }
    }
    return bytes;
}

} // namespace

ContactList::~ContactList() {
    clear();
}

void ContactList::incSentCount(const QByteArray &number) {
    QMutexLocker lock(&m_lock);
    for (const Item &item : m_items) {
        if (item->number == number) {
            ++item->sentCount;
            return;
        }
    }
}

int ContactList::checkedCount() const {
    QMutexLocker lock(&m_lock);
    int count = 0;
    for (const Item &item : m_items) {
        if (item->checked != 0)
            ++count;
    }
    return count;
}

void ContactList::saveToStream(QIODevice &device) const {
    StreamWriter writer(device);
    saveToStream(writer);
    writer.flush();
}

void ContactList::saveToStream(StreamWriter &writer) const {
    QMutexLocker lock(&m_lock);
    writer.writeInt32(static_cast<qint32>(m_items.size()));
    for (const Item &item : m_items) {
        writer.writeWide(item->name);
        writer.writeAnsi(item->number);
        writer.writeInt32(item->sentCount);
        writer.writeByte(item->checked);
    }
}

void ContactList::loadFromStream(QIODevice &device, int version) {
    StreamReader reader(device);
    loadFromStream(reader, version);
}

void ContactList::loadFromStream(StreamReader &reader, int version) {
    if (version != 10)
        return;
    qint32 count = reader.readInt32();
    if (count < 0)
        countError(count);
    if (count * EmptyContactSize > reader.bytesLeft())
        StreamReader::fail();
    Items items;
    items.reserve(count);
    for (qint32 i = 0; i < count; ++i) {
        auto c = std::make_shared<Contact>();
        c->name = reader.readWide();
        c->number = reader.readAnsi();
        c->sentCount = reader.readInt32();
        c->checked = reader.readByte();
        items.push_back(std::move(c));
    }
    replaceItems(std::move(items));
}

bool ContactList::parseContactLine(const QByteArray &line, Contact &contact) {
    contact = Contact();
    QList<QByteArray> fields;
    extractFields(line, fields);
    if (fields.size() >= 1)
        contact.name = QString::fromLocal8Bit(fields[0]);
    if (fields.size() >= 2)
        contact.number = fields[1];
    if (fields.size() >= 3) {
        bool ok = false;
        qint32 count = fields[2].toInt(&ok);
        contact.sentCount = ok ? count : 0;
    }
    return !contact.name.isEmpty() && !contact.number.isEmpty();
}

ImportResult ContactList::importFromFile(const QString &fileName, const QString &country) {
    QByteArray bytes = readTextFile(fileName);
    const AddressBook book = readAddressBook(bytes);
    bytes.clear();
    ImportResult result;
    result.skippedLines = book.skippedLines;
    result.cardsWithoutNumber = book.cardsWithoutNumber;
    result.encoding = book.encoding;
    result.vCard = book.format == AddressBook::Format::VCard;
    PhoneNumberParser parser(country);
    {
        QMutexLocker lock(&m_lock);
        QSet<QByteArray> numbers;
        numbers.reserve(qsizetype(m_items.size() + book.contacts.size()));
        for (const Item &item : m_items)
            numbers.insert(parser.key(item->number));
        for (const Contact &contact : book.contacts) {
            QByteArray key = parser.key(contact.number);
            if (numbers.contains(key)) {
                ++result.duplicates;
                continue;
            }
            numbers.insert(std::move(key));
            m_items.push_back(std::make_shared<Contact>(contact));
            ++result.imported;
        }
    }
    if (result.imported > 0)
        changed();
    return result;
}

QList<int> ContactList::duplicateIndices(const QString &country) const {
    PhoneNumberParser parser(country);
    QList<QByteArray> keys;
    {
        QMutexLocker lock(&m_lock);
        keys.reserve(qsizetype(m_items.size()));
        for (const Item &item : m_items) {
            bool blank = true;
            for (char c : item->number)
                blank = blank && static_cast<unsigned char>(c) <= 32;
            keys << (blank ? QByteArray() : parser.key(item->number));
        }
    }
    // Each number's group of indices, the groups kept in order of their first contact.
    QHash<QByteArray, int> groupOf;
    QList<QList<int>> groups;
    for (int i = 0; i < keys.size(); ++i) {
        if (keys[i].isEmpty())
            continue;
        auto found = groupOf.constFind(keys[i]);
        if (found == groupOf.cend()) {
            groupOf.insert(keys[i], int(groups.size()));
            groups.append(QList<int>{i});
        } else {
            groups[*found].append(i);
        }
    }
    QList<int> result;
    for (const QList<int> &group : groups) {
        if (group.size() > 1)
            result += group;
    }
    return result;
}

void ContactList::exportToFile(const QString &fileName) const {
    // Formatted under the lock, written without it.
    QByteArray text;
    {
        QMutexLocker lock(&m_lock);
        for (const Item &item : m_items) {
            appendQuoted(text, item->name.toLocal8Bit());
            text += ',';
            appendQuoted(text, item->number);
            text += ',';
            text += QByteArray::number(item->sentCount);
            text += "\r\n";
        }
    }
    writeFileSafely(fileName, text);
}

QStringList importDetails(const ImportResult &result) {
    QStringList lines;
    if (!result.encoding.isEmpty() && result.encoding != QLatin1String("ASCII"))
        lines << QStringLiteral("The text was read as %1.").arg(result.encoding);
    if (result.cardsWithoutNumber > 0)
        lines << (result.cardsWithoutNumber == 1
                      ? QStringLiteral("1 card had no number.")
                      : QStringLiteral("%1 cards had no number.").arg(result.cardsWithoutNumber));
    if (!result.skippedLines.isEmpty())
        lines << (result.skippedLines.size() == 1
                      ? QStringLiteral("1 malformed line was skipped.")
                      : QStringLiteral("%1 malformed lines were skipped.")
                            .arg(result.skippedLines.size()));
    return lines;
}
