#pragma once

#include "data/MessageList.h"
#include "link/PhoneReadiness.h"
#include "sending/OutboxQueue.h"
#include "sending/PhoneRunStatus.h"
#include "sending/RefusalPolicy.h"
#include "sending/RunPacer.h"
#include "sending/RunProgress.h"
#include "sending/RunSummary.h"
#include "sending/SendingWorker.h"
#include "sms/SmsSubmit.h"

#include <QMutex>

#include <atomic>
#include <functional>
#include <memory>

class ContactList;
class OutcomeLog;

// How a run treats refusals.
struct SendOptions {
    // The waits before the tries again of a message the phone refused for a while (network
    // busy, ...), one try per entry; after the last the message stays pending.
    QList<int> retryDelaysMs = {5000, 30000, 120000};
    // Ends the run at the first refusal of any kind, the message pending, as older versions
    // did; otherwise a refusal of one message leaves the others to go.
    bool stopAtFirstRefusal = false;
    // The run start's checks of the SIM card, the network and the service centre. The
    // callbacks askPin, showStatus and showNetwork run on the UI thread (the worker waits);
    // pause is the worker's own.
    ReadinessOptions readiness;
    // A service centre number of the user's, put into every message of the run in place of
    // the phone's stored one; empty for the phone's.
    QByteArray serviceCentre;
    // The pace of the run, the clock it goes by (the system's when null) and where the caps
    // are counted across runs (this run only when null; it must outlive the run).
    PacePlan pace;
    std::shared_ptr<PaceClock> clock;
    SentLedger *ledger = nullptr;
};

// The worker that empties the outbox through the phone: the phone is readied (ModemSetup),
// then the pending messages go one by one in outbox order until none is left, the phone cannot
// send or the run is stopped. Each outcome goes through the outcome log before the next
// message: Sent (stays in the outbox until the window moves it), Failed with the reason (the
// run goes on), Unknown when the phone may have sent it (no answer after the body, the line
// broke, a stop it did not answer in time; never sent again by itself), or back to Pending. A
// long message goes as concatenated parts; each part the phone accepts is noted, and a later
// attempt sends only the missing ones with the same reference.
class SenderThread : public SendingWorker {
    Q_OBJECT
public:
    // Gives the concatenation reference for a message that goes in parts.
    using ReferenceSource = std::function<quint8()>;

    // refreshAll is read each time it is used (it may be set after the run starts) and runs on
    // the UI thread; it may be empty. It and the lists and the log outlive the run.
    // nextReference is called on the worker thread once per message sent in parts (a later
    // attempt reuses the message's reference); without one the run counts references from 0.
    SenderThread(MessageList &outbox, ContactList &contacts, OutcomeLog &outcomes,
                 const std::function<void()> &refreshAll, ReferenceSource nextReference = {},
                 SendOptions options = {});

    const RunSummary &summary() const override { return m_summary; }
    const RunProgress &progress() const override { return m_progress; }

    // Makes this run one phone's of several: messages are claimed from queue (shared with the
    // others), each one's share of the run also goes into total, and every accepted message
    // is marked as sent by phoneLabel (the port as the user gave it). Before the start only.
    void joinGroup(OutboxQueue &queue, RunProgress &total, const QByteArray &phoneLabel);
    // Where this phone stands; readable from any thread while the run goes.
    PhoneRunStatus status() const;
    // An outcome could not be made durable: nothing more may be sent by any phone.
    bool outcomeNotRecorded() const { return m_outcomeNotRecorded; }

protected:
    void execute() override;

private:
    enum class Next { Continue, StopRun };
    enum class Attempt { Accepted, Refused, Stopped, Abandoned };

    void runSession();
    void sendMessages();
    // Waits until the pace lets the next message go; false when stopped. cycleStart: when
    // the wait ended.
    bool waitForTurn(QDateTime &cycleStart);
    Next sendMessage(const MessageList::Item &record);
    Next tryMessage(const MessageList::Item &record, const SmsSubmit &request, const PduList &pdus);
    Attempt sendParts(const MessageList::Item &record, const PduList &pdus);
    Attempt sendPdu(const MessageList::Item &record, const QByteArray &pduText, int length);
    void cancelPrompt();
    // Writes an outcome into the record through the outcome log.
    void commit(const MessageList::Item &record,
                const std::function<void(MessageRecord &)> &change);
    void commitPending(const MessageList::Item &record);
    void commitFailed(const MessageList::Item &record, const QString &reason,
                      const QByteArray &error);
    void commitUnknown(const MessageList::Item &record, const QString &reason,
                       const QByteArray &error);
    // The message goes back to the queue for another phone of the run, already Pending.
    void giveBack(const MessageList::Item &record);
    quint8 takeReference();
    void refreshAll();
    void setState(PhoneRunStatus::State state, const QString &detail = QString());
    // The short reason in the status of a phone whose set-up failed.
    static QString setupFailureReason(const QByteArray &step, const QByteArray &failure);
    QString stopRunReason(const RefusalPolicy::Decision &decision) const;

    MessageList &m_outbox;
    OutboxQueue m_ownQueue;
    OutboxQueue *m_queue;
    RunProgress *m_total = nullptr;
    QByteArray m_phoneLabel;
    ContactList &m_contacts;
    OutcomeLog &m_outcomes;
    const std::function<void()> &m_refreshAll;
    ReferenceSource m_nextReference;
    SendOptions m_options;
    std::shared_ptr<PaceClock> m_clock;
    RunPacer m_pacer;
    RunProgress m_progress;
    RefusalPolicy m_policy;
    RunSummary m_summary;
    int m_ownReference = 0;
    // The SMSC field before every PDU: "00" for the phone's stored centre.
    QByteArray m_serviceCentreField = "00";
    // The phone's refusal of the last attempt.
    QByteArray m_refusal;
    // A body (or part) was written and its answer not yet read: the phone may be sending it.
    bool m_bodyInFlight = false;
    // The last messages that failed, newest last, in case a streak of the same refusal turns
    // out to be the phone's.
    QList<MessageList::Item> m_recentFailed;
    // The messages left pending after their last try while the phone refused the same way,
    // and that way: they go to the other phones when the refusals turn out to be the phone's.
    QList<MessageList::Item> m_streakPending;
    QByteArray m_streakLine;
    bool m_portOpened = false;
    std::atomic<bool> m_outcomeNotRecorded{false};
    mutable QMutex m_statusLock;
    PhoneRunStatus m_status;
};
