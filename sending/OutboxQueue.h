#pragma once

#include "data/MessageList.h"

#include <QList>

// The pending messages of one outbox as the workers of a run take them: each claim marks the
// next pending message Sending, so that it is one worker's only, and claims follow the order
// of the outbox. A message that ran out of tries stays pending behind the claims (the next
// run takes it); one that a worker gives back because its phone stopped goes to the next
// claim, whoever makes it. The state is guarded by the outbox's own lock.
class OutboxQueue {
public:
    explicit OutboxQueue(MessageList &outbox) : m_outbox(outbox) {}

    OutboxQueue(const OutboxQueue &) = delete;
    OutboxQueue &operator=(const OutboxQueue &) = delete;

    // The pending messages a claim may still take.
    int pendingCount();
    bool hasPending();
    // The next pending message, now Sending, and its row; null when none is left.
    MessageList::Item claim(int *row = nullptr);
    // A message the worker's phone could not send, already Pending again, for another worker.
    void giveBack(const MessageList::Item &record);
    // The outcome of a claimed message is in (or it was given back).
    void settle();
    // Claimed messages whose outcome is not in yet: a worker with nothing to claim waits
    // for them, as their phones may still give them back.
    bool hasUnsettled();

private:
    // Where the scan for the next claim begins: after the last claimed record, found again
    // in case rows before it were deleted; the start when it is gone.
    int scanStart();

    MessageList &m_outbox;
    MessageList::Item m_last;
    int m_lastRow = -1;
    QList<MessageList::Item> m_givenBack;
    int m_unsettled = 0;
};
