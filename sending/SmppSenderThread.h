#pragma once

#include "data/MessageList.h"
#include "sending/RunProgress.h"
#include "sending/RunSummary.h"
#include "sending/SendingWorker.h"
#include "smpp/SmppSession.h"

#include <QElapsedTimer>
#include <QHash>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>

class ContactList;
class OutcomeLog;
class PhoneNumberParser;

// How a run over an SMS centre goes besides the connection itself.
struct SmppRunOptions {
    SmppConfig config;
    // The originator: a number or a sender name (see smppSourceAddress); empty for the centre's.
    QString source;
    bool receipts = true; // registered_delivery 1, and receipts taken while bound
    bool latin1Default = false;
    // The country of numbers that are still national (queued by an older version).
    QString country;
    // A receipt changed a message of the sent list: the document is modified. Safe to call on
    // the worker's thread.
    std::function<void()> sentListChanged;
};

// The worker that empties the outbox through an SMS centre over SMPP: binds, then claims the
// pending messages in outbox order (Sending, under the outbox's lock) and keeps up to the
// window's submissions outstanding. Each message is in flight in the outcome log before its
// first part goes, and its outcome is committed before the session sends anything more: Sent
// once every part is accepted, Failed when a part is refused for good, Unknown when the answer
// to a part never came (never sent again by itself), Pending again when it was not sent. Receipts
// set the delivery state of the message they name, in the outbox or in the sent list.
class SmppSenderThread : public SendingWorker {
    Q_OBJECT
public:
    using ReferenceSource = std::function<quint8()>;

    // The lists, the log and refreshAll outlive the run; refreshAll runs on the UI thread and
    // may be empty. nextReference gives the concatenation reference of a message in parts.
    SmppSenderThread(MessageList &outbox, MessageList &sent, ContactList &contacts,
                     OutcomeLog &outcomes, const std::function<void()> &refreshAll,
                     ReferenceSource nextReference, SmppRunOptions options);
    ~SmppSenderThread() override;

    const RunSummary &summary() const override { return m_summary; }
    const RunProgress &progress() const override { return m_progress; }

protected:
    void execute() override;

private:
    // A message handed to the session, until every part has its outcome.
    struct Claimed {
        MessageList::Item record;
        int row = 0;
        int outstanding = 0; // parts without an outcome yet
        quint16 accepted = 0;
        QByteArray messageId;
        QString failed;
        QString unknown;
        bool notSent = false;
        // A receipt for a part that came before the last part's answer: kept for the commit
        // of the outcome, which ends the message's time in flight.
        std::optional<std::pair<DeliveryState, QString>> delivery;
    };
    // Where a message's id leads a receipt.
    struct Sent {
        MessageList::Item record;
        bool inOutbox = false; // accepted in this run: still in the outbox, in the outcome log
    };

    void indexSentList();
    void onBound();
    void claimMore();
    // Claims and submits the next pending message; false when none is left.
    bool claimOne();
    void onOutcome(const SmppOutcome &outcome);
    void finishMessage(quint64 key, Claimed &claimed);
    void onReceipt(const SmppReceipt &receipt);
    void commit(const MessageList::Item &record,
                const std::function<void(MessageRecord &)> &change);
    void abandonClaims(const QString &why);
    void scheduleRefresh();
    void refreshAll();

    MessageList &m_outbox;
    MessageList &m_sent;
    ContactList &m_contacts;
    OutcomeLog &m_outcomes;
    const std::function<void()> &m_refreshAll;
    ReferenceSource m_nextReference;
    SmppRunOptions m_options;
    SmppAddress m_source;
    std::unique_ptr<PhoneNumberParser> m_numbers;

    SmppSession *m_session = nullptr; // lives on the worker's stack while it runs
    std::unordered_map<quint64, Claimed> m_claimed;
    QHash<const MessageRecord *, quint64> m_claimKeys;
    quint64 m_nextKey = 0;
    int m_position = 0; // where the search for the next pending message starts
    bool m_outboxDone = false;
    bool m_stopping = false;
    QHash<QByteArray, Sent> m_byMessageId;
    QElapsedTimer m_sinceOutcome;
    QTimer *m_refreshTimer = nullptr;

    RunProgress m_progress;
    RunSummary m_summary;
};
