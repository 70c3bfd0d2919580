#include "data/ContactUnit.h"

#include "data/MirvParser.h"
#include "data/SafeFile.h"
#include "data/StreamIO.h"

#include <QFile>
#include <QSet>

namespace {

// Name and Number lengths, SentCount, Checked.
constexpr qint64 EmptyContactSize = 4 + 4 + 4 + 1;

// Calls f once per line of text. A line ends at CR, LF or CR LF; a last line without an end
// counts, an empty tail after the last end does not.
template <typename F>
void ForEachLine(const QByteArray &text, F f) {
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

TContactList::~TContactList() {
    Clear();
}

void TContactList::IncSentCount(const QByteArray &number) {
    QMutexLocker lock(&FLock);
    for (const TItem &item : FItems) {
        if (item->Number == number) {
            ++item->SentCount;
            return;
        }
    }
}

int TContactList::CheckedCount() const {
    QMutexLocker lock(&FLock);
    int count = 0;
    for (const TItem &item : FItems) {
        if (item->Checked != 0)
            ++count;
    }
    return count;
}

void TContactList::SaveToStream(QIODevice &device) const {
    TStreamWriter writer(device);
    SaveToStream(writer);
    writer.Flush();
}

void TContactList::SaveToStream(TStreamWriter &writer) const {
    QMutexLocker lock(&FLock);
    writer.WriteInt32(static_cast<qint32>(FItems.size()));
    for (const TItem &item : FItems) {
        writer.WriteWide(item->Name);
        writer.WriteAnsi(item->Number);
        writer.WriteInt32(item->SentCount);
        writer.WriteByte(item->Checked);
    }
}

void TContactList::LoadFromStream(QIODevice &device, int version) {
    TStreamReader reader(device);
    LoadFromStream(reader, version);
}

void TContactList::LoadFromStream(TStreamReader &reader, int version) {
    if (version != 10)
        return;
    qint32 count = reader.ReadInt32();
    if (count < 0)
        CountError(count);
    if (count * EmptyContactSize > reader.BytesLeft())
        TStreamReader::Fail();
    TItems items;
    items.reserve(count);
    for (qint32 i = 0; i < count; ++i) {
        auto c = std::make_shared<TContact>();
        c->Name = reader.ReadWide();
        c->Number = reader.ReadAnsi();
        c->SentCount = reader.ReadInt32();
        c->Checked = reader.ReadByte();
        items.push_back(std::move(c));
    }
    ReplaceItems(std::move(items));
}

bool TContactList::ParseContactLine(const QByteArray &line, TContact &contact) {
    contact = TContact();
    QList<QByteArray> fields;
    ExtractFields(line, fields);
    if (fields.size() >= 1)
        contact.Name = QString::fromLocal8Bit(fields[0]);
    if (fields.size() >= 2)
        contact.Number = fields[1];
    if (fields.size() >= 3) {
        bool ok = false;
        qint32 count = fields[2].toInt(&ok);
        contact.SentCount = ok ? count : 0;
    }
    return !contact.Name.isEmpty() && !contact.Number.isEmpty();
}

TImportResult TContactList::ImportFromFile(const QString &fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EPelorvane(file.errorString());
    QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EPelorvane(file.errorString());
    file.close();

    TImportResult result;
    {
        // Notifies on the way out, after the lock has been released, also when a line fails.
        struct TNotifyAdded {
            TContactList &List;
            const TImportResult &Result;
            ~TNotifyAdded() {
                if (Result.Imported > 0)
                    List.Changed();
            }
        } notify{*this, result};

        QMutexLocker lock(&FLock);
        QSet<QByteArray> numbers;
        numbers.reserve(qsizetype(FItems.size()));
        for (const TItem &item : FItems)
            numbers.insert(item->Number);
        TContact contact;
        ForEachLine(text, [&](const QByteArray &line) {
            if (!ParseContactLine(line, contact))
                return;
            if (numbers.contains(contact.Number)) {
                ++result.Duplicates;
                return;
            }
            numbers.insert(contact.Number);
            FItems.push_back(std::make_shared<TContact>(contact));
            ++result.Imported;
        });
    }
    return result;
}

void TContactList::ExportToFile(const QString &fileName) const {
    // Formatted under the lock, written without it.
    QByteArray text;
    {
        QMutexLocker lock(&FLock);
        for (const TItem &item : FItems) {
            text += '"';
            text += item->Name.toLocal8Bit();
            text += "\",\"";
            text += item->Number;
            text += "\",";
            text += QByteArray::number(item->SentCount);
            text += "\r\n";
        }
    }
    WriteFileSafely(fileName, [&](QIODevice &device) {
        TStreamWriter writer(device);
        writer.WriteRaw(text.constData(), text.size());
        writer.Flush();
    });
}
