#include "data/MessageUnit.h"

#include "data/StreamIO.h"

namespace {

// Number and Text lengths, Flash, Long, Created, Sent.
constexpr qint64 EmptyMessageSize = 4 + 4 + 1 + 1 + 8 + 8;

} // namespace

TMessageList::~TMessageList() {
    Clear();
}

void TMessageList::SaveToStream(QIODevice &device) const {
    TStreamWriter writer(device);
    SaveToStream(writer);
    writer.Flush();
}

void TMessageList::SaveToStream(TStreamWriter &writer) const {
    QMutexLocker lock(&FLock);
    writer.WriteInt32(static_cast<qint32>(FItems.size()));
    for (const TItem &item : FItems) {
        const TMessage &m = *item;
        writer.WriteAnsi(m.Number);
        writer.WriteWide(m.Text);
        writer.WriteByte(m.Flash);
        writer.WriteByte(m.Long);
        writer.WriteDouble(m.Created);
        writer.WriteDouble(m.Sent);
    }
}

void TMessageList::LoadFromStream(QIODevice &device, TMessageStatus status, int version) {
    TStreamReader reader(device);
    LoadFromStream(reader, status, version);
}

void TMessageList::LoadFromStream(TStreamReader &reader, TMessageStatus status, int version) {
    if (version != 10)
        return;
    qint32 count = reader.ReadInt32();
    if (count < 0)
        CountError(count);
    if (count * EmptyMessageSize > reader.BytesLeft())
        TStreamReader::Fail();
    TItems items;
    items.reserve(count);
    // Bulk messages mostly share one text: reading it as the previous record's text keeps a
    // single copy in memory.
    const QString *previousText = nullptr;
    for (qint32 i = 0; i < count; ++i) {
        auto m = std::make_shared<TMessage>();
        m->Number = reader.ReadAnsi();
        m->Text = reader.ReadWide(previousText);
        m->Flash = reader.ReadByte();
        m->Long = reader.ReadByte();
        m->Created = reader.ReadDouble();
        m->Sent = reader.ReadDouble();
        m->Status = status;
        previousText = &m->Text;
        items.push_back(std::move(m));
    }
    ReplaceItems(std::move(items));
}

int TMessageList::MoveSentTo(TMessageList &sent) {
    if (&sent == this)
        return 0;
    int moved = 0;
    {
        QMutexLocker outboxLock(&FLock);
        QMutexLocker sentLock(&sent.FLock);
        std::size_t write = 0;
        for (std::size_t read = 0; read < FItems.size(); ++read) {
            if (FItems[read]->Status == msSent) {
                sent.FItems.push_back(std::move(FItems[read]));
                ++moved;
            } else {
                if (write != read)
                    FItems[write] = std::move(FItems[read]);
                ++write;
            }
        }
        FItems.resize(write);
    }
    if (moved > 0) {
        Changed();
        sent.Changed();
    }
    return moved;
}
