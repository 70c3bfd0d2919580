#include "data/MessageList.h"

#include "base/StreamIO.h"

namespace {

// Number and Text lengths, Flash, Long, Created, Sent.
constexpr qint64 EmptyMessageSize = 4 + 4 + 1 + 1 + 8 + 8;

} // namespace

MessageList::~MessageList() {
    clear();
}

void MessageList::saveToStream(QIODevice &device) const {
    StreamWriter writer(device);
    saveToStream(writer);
    writer.flush();
}

void MessageList::saveToStream(StreamWriter &writer) const {
    QMutexLocker lock(&m_lock);
    writer.writeInt32(static_cast<qint32>(m_items.size()));
    for (const Item &item : m_items) {
        const MessageRecord &m = *item;
        writer.writeAnsi(m.number());
        writer.writeWide(m.textView());
        writer.writeByte(m.flash);
        writer.writeByte(m.isLong);
        writer.writeDouble(m.created);
        writer.writeDouble(m.sent);
    }
}

void MessageList::loadFromStream(QIODevice &device, MessageStatus status, int version) {
    StreamReader reader(device);
    loadFromStream(reader, status, version);
}

void MessageList::loadFromStream(StreamReader &reader, MessageStatus status, int version) {
    if (version != 10)
        return;
    qint32 count = reader.readInt32();
    if (count < 0)
        countError(count);
    if (count * EmptyMessageSize > reader.bytesLeft())
        StreamReader::fail();
    Items items;
    items.reserve(count);
    // Bulk messages mostly share one text: a record with the previous record's text shares it,
    // and reading it as the previous text spares the copy.
    Message m;
    m.status = status;
    for (qint32 i = 0; i < count; ++i) {
        m.number = reader.readAnsi();
        m.text = reader.readWide(&m.text);
        m.flash = reader.readByte();
        m.isLong = reader.readByte();
        m.created = reader.readDouble();
        m.sent = reader.readDouble();
        items.push_back(MessageRecord::create(m, items.empty() ? nullptr : items.back().get()));
    }
    replaceItems(std::move(items));
}

int MessageList::retry(bool failed, bool unknown) {
    int count = 0;
    {
        QMutexLocker lock(&m_lock);
        for (const auto &item : m_items) {
            if ((failed && item->status == MessageStatus::Failed) ||
                (unknown && item->status == MessageStatus::Unknown)) {
                item->status = MessageStatus::Pending;
                item->setReason(QString());
                item->setError(QByteArray());
                ++count;
            }
        }
    }
    if (count > 0)
        changed();
    return count;
}

int MessageList::moveSentTo(MessageList &sent, std::vector<RowRun> *runs) {
    if (&sent == this)
        return 0;
    int moved = 0;
    {
        QMutexLocker outboxLock(&m_lock);
        QMutexLocker sentLock(&sent.m_lock);
        std::size_t write = 0;
        for (std::size_t read = 0; read < m_items.size(); ++read) {
            if (m_items[read]->status == MessageStatus::Sent) {
                sent.m_items.push_back(std::move(m_items[read]));
                ++moved;
                if (runs) {
                    const int row = static_cast<int>(read);
                    if (!runs->empty() && runs->back().first + runs->back().count == row)
                        ++runs->back().count;
                    else
                        runs->push_back({row, 1});
                }
            } else {
                if (write != read)
                    m_items[write] = std::move(m_items[read]);
                ++write;
            }
        }
        m_items.resize(write);
    }
    if (moved > 0) {
        changed();
        sent.changed();
    }
    return moved;
}
