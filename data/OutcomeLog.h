#pragma once

#include "data/MessageList.h"

#include <functional>

// Where a sending run makes each outcome the phone gives durable before it goes on, so that
// a crash, a kill or a power loss never costs an accepted message nor sends one twice. A run
// calls it on its worker thread.
class OutcomeLog {
public:
    virtual ~OutcomeLog() = default;

    // Outcomes of several messages may interleave (several phones, a window of submissions);
    // key tells them apart: the record the outcome is about (its address), the same from the
    // message's first in-flight to its last commit.
    //
    // change writes an outcome into a record of the outbox (taking the outbox's lock itself)
    // and returns a copy of the record as it is afterwards. Returns once that copy is durable;
    // no save of the project falls between the change and the write. Raises Error when the
    // outcome cannot be made durable: the run must then stop before anything else is sent.
    virtual void commit(const void *key, const std::function<Message()> &change) = 0;

    // The phone is about to take message (or one of its parts): should the program end before
    // the next commit of it, the message counts as Unknown, never as pending. Errors as commit.
    virtual void inFlight(const void *key, const Message &message) = 0;

    // A run that sends in batches defers durability: while deferred, commit and inFlight return
    // once the record is written, and flush makes every record written so far durable (errors as
    // commit). Such a run flushes before it acts on what it recorded, that is before anything
    // more goes out, and before it ends.
    virtual void setDeferred(bool deferred) { (void)deferred; }
    virtual void flush() {}
};

// Keeps nothing: runs whose outcomes live in memory only (tests, benchmarks).
class TransientOutcomeLog final : public OutcomeLog {
public:
    void commit(const void *, const std::function<Message()> &change) override { change(); }
    void inFlight(const void *, const Message &) override {}
};
