#include "sending/OutboxQueue.h"

#include <algorithm>

int OutboxQueue::scanStart() {
    if (!m_last)
        return 0;
    const int row = m_outbox.indexOf(m_last.get(), m_lastRow);
    return row >= 0 ? row + 1 : 0;
}

int OutboxQueue::pendingCount() {
    MessageList::Locker items(m_outbox);
    int pending = 0;
    for (const MessageList::Item &item : m_givenBack)
        pending += item->status == MessageStatus::Pending ? 1 : 0;
    const int count = static_cast<int>(items->size());
    for (int i = scanStart(); i < count; ++i)
        pending += (*items)[i]->status == MessageStatus::Pending ? 1 : 0;
    return pending;
}

bool OutboxQueue::hasPending() {
    MessageList::Locker items(m_outbox);
    for (const MessageList::Item &item : m_givenBack)
        if (item->status == MessageStatus::Pending)
            return true;
    const int count = static_cast<int>(items->size());
    for (int i = scanStart(); i < count; ++i)
        if ((*items)[i]->status == MessageStatus::Pending)
            return true;
    return false;
}

MessageList::Item OutboxQueue::claim(int *row) {
    MessageList::Locker items(m_outbox);
    while (!m_givenBack.isEmpty()) {
        const MessageList::Item item = m_givenBack.takeFirst();
        // Deleted or retried by the user meanwhile: no longer ours to send.
        const int index = m_outbox.indexOf(item.get());
        if (index < 0 || item->status != MessageStatus::Pending)
            continue;
        item->status = MessageStatus::Sending;
        ++m_unsettled;
        if (row)
            *row = index;
        return item;
    }
    const int count = static_cast<int>(items->size());
    for (int i = scanStart(); i < count; ++i) {
        const MessageList::Item &item = (*items)[i];
        if (item->status == MessageStatus::Pending) {
            item->status = MessageStatus::Sending;
            ++m_unsettled;
            m_last = item;
            m_lastRow = i;
            if (row)
                *row = i;
            return item;
        }
    }
    return {};
}

void OutboxQueue::giveBack(const MessageList::Item &record) {
    MessageList::Locker items(m_outbox);
    if (!m_givenBack.contains(record))
        m_givenBack.append(record);
}

void OutboxQueue::settle() {
    MessageList::Locker items(m_outbox);
    m_unsettled = std::max(m_unsettled - 1, 0);
}

bool OutboxQueue::hasUnsettled() {
    MessageList::Locker items(m_outbox);
    return m_unsettled > 0;
}
