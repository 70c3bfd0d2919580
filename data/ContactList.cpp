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

void ContactList::setCountrySource(CountrySource source) {
    QMutexLocker lock(&m_lock);
    m_countrySource = std::move(source);
    m_indexed = false;
}

void ContactList::incSentCount(const QByteArray &number) {
    QMutexLocker lock(&m_lock);
    ensureIndex();
    const auto found = m_index.constFind(m_parser->key(number));
    if (found != m_index.cend())
        ++found->first->sentCount;
}

std::optional<Contact> ContactList::edit(int index, const QString &name, const QByteArray &number) {
    std::optional<Contact> result;
    {
        QMutexLocker lock(&m_lock);
        if (index < 0 || std::size_t(index) >= m_items.size())
            return result;
        Contact &contact = *m_items[index];
        const bool newNumber = contact.number != number;
        contact.name = name;
        contact.number = number;
        if (newNumber)
            itemOverwritten(std::size_t(index));
        result = contact;
    }
    changed();
    return result;
}

QByteArray ContactList::keyOf(const QByteArray &number) {
    QByteArray key = m_parser->key(number);
    // The number itself when it is already in sent form: one copy of the bytes for both.
    return key == number ? number : key;
}

void ContactList::ensureIndex() {
    const QString country = m_countrySource ? m_countrySource() : QString();
    if (m_indexed && m_indexCountry == country && m_keys.size() == m_items.size())
        return;
    if (!m_parser || m_indexCountry != country) {
        m_parser.emplace(country);
        m_indexCountry = country;
    }
    m_keys.clear();
    m_index.clear();
    m_indexed = true;
    m_keys.reserve(m_items.size());
    m_index.reserve(qsizetype(m_items.size()));
    appendKeys(0);
}

void ContactList::dropIndex() {
    m_indexed = false;
    std::vector<QByteArray>().swap(m_keys);
    m_index = {};
}

bool ContactList::indexInStep(std::size_t keyCount) {
    if (!m_indexed)
        return false;
    if (m_keys.size() == keyCount)
        return true;
    // Entries added or removed behind the list's back: built afresh when next needed.
    dropIndex();
    return false;
}

void ContactList::appendKeys(std::size_t first) {
    for (std::size_t i = first; i < m_items.size(); ++i) {
        m_keys.push_back(keyOf(m_items[i]->number));
        KeySlot &slot = m_index[m_keys.back()];
        if (slot.count++ == 0)
            slot.first = m_items[i].get();
    }
}

void ContactList::itemsAppended(std::size_t first) {
    if (indexInStep(first))
        appendKeys(first);
}

void ContactList::itemOverwritten(std::size_t index) {
    if (!indexInStep(m_items.size()))
        return;
    QByteArray key = keyOf(m_items[index]->number);
    if (key == m_keys[index])
        return;
    Contact *contact = m_items[index].get();
    // Out of the old number's slot: the next contact with it takes over when this was first.
    const auto old = m_index.find(m_keys[index]);
    if (--old->count == 0) {
        m_index.erase(old);
    } else if (old->first == contact) {
        std::size_t next = index + 1;
        while (m_keys[next] != m_keys[index])
            ++next;
        old->first = m_items[next].get();
    }
    // Into the new one: first unless a contact before it has the number (a scan only for a
    // number that another contact has too).
    KeySlot &slot = m_index[key];
    if (slot.count++ == 0 || std::find(m_keys.begin(), m_keys.begin() + qptrdiff(index), key) ==
                                 m_keys.begin() + qptrdiff(index))
        slot.first = contact;
    m_keys[index] = std::move(key);
}

void ContactList::itemsRemoved(const QList<int> &indices, const Items &removed) {
    if (!indexInStep(m_items.size() + std::size_t(indices.size())))
        return;
    // The keys go the way the entries went; a number whose first contact went is looked up
    // again in one pass over the rest.
    QSet<QByteArray> lostFirst;
    qsizetype next = 0;
    const std::size_t from = std::size_t(indices.front());
    std::size_t write = from;
    for (std::size_t read = from; read < m_keys.size(); ++read) {
        if (next < indices.size() && std::size_t(indices[next]) == read) {
            const auto slot = m_index.find(m_keys[read]);
            if (--slot->count == 0)
                m_index.erase(slot);
            else if (slot->first == removed[std::size_t(next)].get())
                lostFirst.insert(m_keys[read]);
            ++next;
        } else {
            m_keys[write++] = std::move(m_keys[read]);
        }
    }
    m_keys.resize(write);
    for (std::size_t i = from; i < m_keys.size() && !lostFirst.isEmpty(); ++i) {
        if (lostFirst.remove(m_keys[i]))
            m_index[m_keys[i]].first = m_items[i].get();
    }
}

void ContactList::itemsReplaced() {
    dropIndex();
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
    // Indexed now rather than at the first message sent.
    QMutexLocker lock(&m_lock);
    ensureIndex();
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
        const std::size_t firstNew = m_items.size();
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
        itemsAppended(firstNew);
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
