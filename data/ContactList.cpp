#include "data/ContactList.h"

#include "base/SafeFile.h"
#include "base/StreamIO.h"
#include "data/AddressBookReader.h"
#include "data/CsvFields.h"
#include "data/PhoneNumberParser.h"

#include <QFile>
#include <QHash>
#include <QSet>

namespace {

// Name and Number lengths, sentCount, Checked.
constexpr qint64 EmptyContactSize = 4 + 4 + 4 + 1;

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
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(file.errorString());
    file.close();

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
            text += '"';
            text += item->name.toLocal8Bit();
            text += "\",\"";
            text += item->number;
            text += "\",";
            text += QByteArray::number(item->sentCount);
            text += "\r\n";
        }
    }
    writeFileSafely(fileName, [&](QIODevice &device) {
        StreamWriter writer(device);
        writer.writeRaw(text.constData(), text.size());
        writer.flush();
    });
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
