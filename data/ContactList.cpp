#include "data/ContactList.h"

#include "base/SafeFile.h"
#include "base/StreamIO.h"
#include "data/CsvFields.h"

#include <QFile>
#include <QSet>

namespace {

// Name and Number lengths, sentCount, Checked.
constexpr qint64 EmptyContactSize = 4 + 4 + 4 + 1;

// Calls f once per line of text. A line ends at CR, LF or CR LF; a last line without an end
// counts, an empty tail after the last end does not.
template <typename F>
void forEachLine(const QByteArray &text, F f) {
    const char *data = text.constData();
    qsizetype size = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        char c = data[i];
        if (c != '\r' && c != '\n')
            continue;
        f(QByteArray(data + start, i - start));
        if (c == '\r' && i + 1 < size && data[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        f(QByteArray(data + start, size - start));
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

ImportResult ContactList::importFromFile(const QString &fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(file.errorString());
    QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(file.errorString());
    file.close();

    ImportResult result;
    {
        // Notifies on the way out, after the lock has been released, also when a line fails.
        struct NotifyAdded {
            ContactList &list;
            const ImportResult &result;
            ~NotifyAdded() {
                if (result.imported > 0)
                    list.changed();
            }
        } notify{*this, result};

        QMutexLocker lock(&m_lock);
        QSet<QByteArray> numbers;
        numbers.reserve(qsizetype(m_items.size()));
        for (const Item &item : m_items)
            numbers.insert(item->number);
        Contact contact;
        forEachLine(text, [&](const QByteArray &line) {
            if (!parseContactLine(line, contact))
                return;
            if (numbers.contains(contact.number)) {
                ++result.duplicates;
                return;
            }
            numbers.insert(contact.number);
            m_items.push_back(std::make_shared<Contact>(contact));
            ++result.imported;
        });
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
