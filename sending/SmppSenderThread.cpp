#include "sending/SmppSenderThread.h"

#include "base/Error.h"
#include "base/OleDate.h"
#include "data/ContactList.h"
#include "data/OutcomeLog.h"
#include "data/PhoneNumberParser.h"
#include "sending/SmppMessageEncoder.h"
#include "smpp/SmppReceipt.h"
#include "sms/SmsParts.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace {

const QString ReasonInvalidNumber = QStringLiteral("invalid phone number");
// The lists and the command line's progress follow the run at this pace rather than per
// message: hundreds of outcomes a second would keep the UI thread busy with nothing else.
constexpr int RefreshIntervalMs = 200;
// How soon a stop is noticed: WorkerThread::stop cannot wake an event loop.
constexpr int StopPollMs = 50;
// A submission's id: the claim's key, then the part's index in the low byte.
constexpr int PartBits = 8;
static_assert(maxParts(Coding::Ucs2) < (1 << PartBits) && maxParts(Coding::Gsm7Bit) <= 16);

QString deliveryDetail(const SmppReceipt &receipt) {
    QString detail = QString::fromLatin1(receipt.stat);
    if (receipt.state != SmppDeliveryState::Delivered && !receipt.err.isEmpty())
        detail += QStringLiteral(", error ") + QString::fromLatin1(receipt.err);
    return detail;
}

} // namespace

SmppSenderThread::SmppSenderThread(MessageList &outbox, MessageList &sent, ContactList &contacts,
                                   OutcomeLog &outcomes, const std::function<void()> &refreshAll,
                                   ReferenceSource nextReference, SmppRunOptions options)
    : m_outbox(outbox), m_sent(sent), m_contacts(contacts), m_outcomes(outcomes),
      m_refreshAll(refreshAll), m_nextReference(std::move(nextReference)),
      m_options(std::move(options)) {}

SmppSenderThread::~SmppSenderThread() = default;

void SmppSenderThread::execute() {
    WorkerThread::execute();
    const std::optional<SmppAddress> source = smppSourceAddress(m_options.source);
    if (!source) {
        addReport(QStringLiteral("The sender \"%1\" cannot go to the SMS centre: a name has at "
                                 "most 11 letters or digits, a number at most 20 digits.")
                      .arg(m_options.source)
                      .toLocal8Bit());
        return;
    }
    if (m_options.config.host.isEmpty()) {
        addReport("No SMS centre is set: give its host and port.");
        return;
    }
    m_source = *source;
    // Made here: the parser keeps state for its one thread.
    m_numbers = std::make_unique<PhoneNumberParser>(m_options.country);
    indexSentList();
    {
        MessageList::Locker items(m_outbox);
        m_progress.begin(
            static_cast<int>(std::count_if(items->cbegin(), items->cend(), [](const auto &m) {
                return m->status == MessageStatus::Pending;
            })));
    }

    // Records are written as outcomes come and made durable once per batch, in the session's
    // barrier: before the centre hears of anything more, and so before the next submission.
    struct DeferredOutcomes {
        explicit DeferredOutcomes(OutcomeLog &log) : log(log) { log.setDeferred(true); }
        ~DeferredOutcomes() { log.setDeferred(false); }
        OutcomeLog &log;
    } deferred(m_outcomes);

    SmppSession session(m_options.config);
    m_session = &session;
    QEventLoop loop;
    QString ended;
    session.setOutcomeHandler([this](const SmppOutcome &outcome) { onOutcome(outcome); });
    session.setReceiptHandler([this](const SmppReceipt &receipt) { onReceipt(receipt); });
    session.setBarrierHandler([this] { m_outcomes.flush(); });
    QObject::connect(&session, &SmppSession::bound, &session, [this] { onBound(); });
    QObject::connect(&session, &SmppSession::connectionLost, &session,
                     [this](const QString &reason) {
                         m_progress.setWaiting(reason + QStringLiteral("; connecting again"));
                         scheduleRefresh();
                     });
    QObject::connect(&session, &SmppSession::finished, &loop,
                     [&loop, &ended](const QString &error) {
                         ended = error;
                         loop.quit();
                     });
    QTimer refreshTimer;
    refreshTimer.setSingleShot(true);
    m_refreshTimer = &refreshTimer;
    QObject::connect(&refreshTimer, &QTimer::timeout, &session, [this] { refreshAll(); });
    QTimer stopPoll;
    QObject::connect(&stopPoll, &QTimer::timeout, &session, [this] {
        if (terminated() && !m_stopping) {
            m_stopping = true;
            m_session->stop();
        }
    });
    stopPoll.start(StopPollMs);

    try {
        session.open();
        if (session.state() != SmppSession::State::Finished)
            loop.exec();
    } catch (const Error &e) {
        ended = e.message();
    }
    stopPoll.stop();
    refreshTimer.stop();
    try {
        m_outcomes.flush();
    } catch (const Error &e) {
        if (ended.isEmpty())
            ended = e.message();
    }
    if (!ended.isEmpty())
        addReport(ended.toLocal8Bit());
    abandonClaims(ended);
    m_session = nullptr;
    m_refreshTimer = nullptr;
    m_progress.setWaiting(QString());
    refreshAll();

    MessageList::Locker items(m_outbox);
    for (const auto &message : *items)
        m_summary.notSent += message->status == MessageStatus::Pending ? 1 : 0;
}

void SmppSenderThread::indexSentList() {
    // Receipts of earlier runs come at the bind: the messages they name are in the sent list
    // (or still in the outbox when a run ended before they were filed).
    const auto add = [this](MessageList &list, bool inOutbox) {
        MessageList::Locker items(list);
        for (const MessageList::Item &item : *items) {
            const QByteArray id = item->messageId();
            if (!id.isEmpty())
                m_byMessageId.insert(normaliseSmppMessageId(id), {item, inOutbox});
        }
    };
    add(m_sent, false);
    add(m_outbox, true);
}

void SmppSenderThread::onBound() {
    m_summary.started = true;
    m_progress.setWaiting(QString());
    m_sinceOutcome.start();
    claimMore();
    scheduleRefresh();
}

void SmppSenderThread::claimMore() {
    if (!m_session)
        return;
    // The session's queue holds one window's worth ahead, so that a stop or a dropped
    // connection leaves few messages claimed and the window never waits for a claim.
    while (!m_stopping && !m_outboxDone && !terminated() &&
           m_session->state() != SmppSession::State::Finished &&
           m_session->queuedCount() < m_options.config.window) {
        if (!claimOne())
            m_outboxDone = true;
    }
    // The run ends when every message has its outcome; receipts still to come are taken at the
    // next bind.
    if (m_outboxDone && m_claimed.empty() && !m_stopping) {
        m_stopping = true;
        m_session->stop();
    }
}

bool SmppSenderThread::claimOne() {
    MessageList::Item record;
    int row = -1;
    QByteArray number;
    QString text;
    SmppTextOptions textOptions;
    quint16 acceptedBefore = 0;
    int reference = -1;
    QByteArray earlierId;
    {
        MessageList::Locker items(m_outbox);
        const auto count = static_cast<int>(items->size());
        // Deletions during the run move the rows: what is left before the cursor is searched once
        // the rest has nothing more.
        for (int pass = 0; pass < 2 && !record; ++pass) {
            for (int i = pass == 0 ? std::min(m_position, count) : 0; i < count; ++i) {
                if ((*items)[i]->status == MessageStatus::Pending) {
                    record = (*items)[i];
                    row = i;
                    break;
                }
            }
            if (m_position == 0)
                break;
        }
        if (!record)
            return false;
        record->status = MessageStatus::Sending;
        m_position = row + 1;
        number = record->number();
        text = record->text();
        textOptions.isLong = record->isLong != 0;
        textOptions.flash = record->flash != 0;
        acceptedBefore = record->acceptedParts();
        reference = record->partReference();
        earlierId = record->messageId();
    }
    m_progress.started(row);
    textOptions.latin1Default = m_options.latin1Default;

    const ParsedNumber parsed = m_numbers->parse(number);
    if (!parsed.isUsable()) {
        commit(record, [](MessageRecord &m) {
            m.status = MessageStatus::Failed;
            m.setReason(ReasonInvalidNumber);
            m.setError(QByteArray());
        });
        m_summary.addFailed(ReasonInvalidNumber);
        m_progress.finished(false, m_sinceOutcome.restart());
        return true;
    }
    const int parts = smppPartCount(text, textOptions);
    if (parts > 1 && reference < 0) {
        // Kept with the message, so that the parts of a later attempt join those already sent.
        reference = m_nextReference ? m_nextReference() : 0;
        MessageList::Locker items(m_outbox);
        record->setPartReference(static_cast<qint16>(reference));
    }
    textOptions.reference = static_cast<quint8>(std::max(reference, 0));
    const SmppEncodedMessage encoded = encodeSmppText(text, textOptions);

    Message inFlight;
    {
        MessageList::Locker items(m_outbox);
        inFlight = record->toMessage();
    }
    m_outcomes.inFlight(record.get(), inFlight);

    const quint64 key = m_nextKey++;
    Claimed &claimed = m_claimed[key];
    m_claimKeys.insert(record.get(), key);
    claimed.record = record;
    claimed.row = row;
    claimed.accepted = parts > 1 ? acceptedBefore : 0;
    // A message in parts is known to the centre by its first part's id: that is the one kept,
    // and the one its receipt names.
    if (parts > 1 && (acceptedBefore & 1u))
        claimed.messageId = earlierId;

    SmppSubmission submission;
    submission.source = m_source;
    submission.destination = smppDestinationAddress(parsed.number);
    submission.esmClass = encoded.esmClass;
    submission.dataCoding = encoded.dataCoding;
    submission.registeredDelivery = m_options.receipts ? 1 : 0;
    for (int k = 0; k < encoded.parts.size(); ++k) {
        if (parts > 1 && (claimed.accepted & (1u << k)))
            continue;
        submission.id = (key << PartBits) | static_cast<quint64>(k);
        submission.shortMessage = encoded.parts[k];
        try {
            m_session->submit(submission);
        } catch (const Error &e) {
            // Nothing of this part went: the message fails as a whole, its other parts
            // answer as they come.
            claimed.failed = e.message();
            break;
        }
        ++claimed.outstanding;
    }
    if (claimed.outstanding == 0)
        finishMessage(key, claimed);
    return true;
}

void SmppSenderThread::onOutcome(const SmppOutcome &outcome) {
    const quint64 key = outcome.id >> PartBits;
    const auto part = static_cast<int>(outcome.id & ((1u << PartBits) - 1));
    const auto found = m_claimed.find(key);
    if (found == m_claimed.end())
        return;
    Claimed &claimed = found->second;
    switch (outcome.kind) {
    case SmppOutcome::Kind::Accepted:
        claimed.accepted |= static_cast<quint16>(1u << part);
        if (part == 0)
            claimed.messageId = outcome.messageId;
        if (!outcome.messageId.isEmpty())
            m_byMessageId.insert(outcome.messageId, {claimed.record, true});
        break;
    case SmppOutcome::Kind::Failed:
        if (claimed.failed.isEmpty())
            claimed.failed = outcome.reason;
        break;
    case SmppOutcome::Kind::Unknown:
        if (claimed.unknown.isEmpty())
            claimed.unknown = outcome.reason;
        break;
    case SmppOutcome::Kind::NotSent:
        claimed.notSent = true;
        break;
    }
    if (--claimed.outstanding <= 0)
        finishMessage(key, claimed);
    claimMore();
    scheduleRefresh();
}

void SmppSenderThread::finishMessage(quint64 key, Claimed &claimed) {
    const Claimed done = std::move(claimed);
    m_claimed.erase(key);
    m_claimKeys.remove(done.record.get());
    MessageStatus status = MessageStatus::Sent;
    QString reason;
    if (!done.failed.isEmpty()) {
        // Some part was refused for good: the message cannot arrive whole.
        status = MessageStatus::Failed;
        reason = done.failed;
    } else if (!done.unknown.isEmpty()) {
        status = MessageStatus::Unknown;
        reason = done.unknown;
    } else if (done.notSent) {
        // The parts the centre took stay noted: only the rest goes next time.
        status = MessageStatus::Pending;
    }
    const bool sent = status == MessageStatus::Sent;
    commit(done.record, [this, &done, status, &reason, sent](MessageRecord &m) {
        m.status = status;
        m.setReason(reason);
        m.setError(QByteArray());
        m.setMessageId(done.messageId);
        if (done.delivery)
            m.setDelivery(done.delivery->first, done.delivery->second);
        if (sent) {
            m.sent = oleNow();
            m_contacts.incSentCount(m.number());
        } else {
            m.setAcceptedParts(done.accepted);
        }
    });
    if (status == MessageStatus::Failed)
        m_summary.addFailed(reason);
    else if (status == MessageStatus::Unknown)
        ++m_summary.unknown;
    else if (sent)
        ++m_summary.sent;
    if (status != MessageStatus::Pending)
        m_progress.finished(sent, m_sinceOutcome.isValid() ? m_sinceOutcome.restart() : 0);
}

void SmppSenderThread::onReceipt(const SmppReceipt &receipt) {
    DeliveryState state = DeliveryState::None;
    switch (receipt.state) {
    case SmppDeliveryState::Delivered:
        state = DeliveryState::Delivered;
        break;
    case SmppDeliveryState::Undelivered:
        state = DeliveryState::Undelivered;
        break;
    case SmppDeliveryState::Expired:
        state = DeliveryState::Expired;
        break;
    case SmppDeliveryState::Other:
        return; // en route, accepted: the final word comes later
    }
    Sent target;
    for (const QByteArray &id : smppMessageIdCandidates(receipt.messageId)) {
        const auto hit = m_byMessageId.constFind(id);
        if (hit != m_byMessageId.cend()) {
            target = *hit;
            break;
        }
    }
    if (!target.record)
        return;
    const QString detail = deliveryDetail(receipt);
    // Each part of a long message may get a receipt: one that did not arrive is the word that
    // counts.
    const auto apply = [state, &detail](MessageRecord &m) {
        if (state == DeliveryState::Delivered && m.delivery() != DeliveryState::None &&
            m.delivery() != DeliveryState::Delivered)
            return;
        m.setDelivery(state, detail);
    };
    if (const auto claim = m_claimKeys.constFind(target.record.get());
        claim != m_claimKeys.cend()) {
        // A commit now would end the message's time in flight while parts are still out.
        Claimed &claimed = m_claimed.at(*claim);
        if (!(claimed.delivery && state == DeliveryState::Delivered))
            claimed.delivery = std::pair(state, detail);
    } else if (target.inOutbox) {
        commit(target.record, apply);
    } else {
        {
            MessageList::Locker items(m_sent);
            apply(*target.record);
        }
        // The sent list has no journal: the state is kept with the project's next save.
        if (m_options.sentListChanged)
            m_options.sentListChanged();
    }
    scheduleRefresh();
}

void SmppSenderThread::commit(const MessageList::Item &record,
                              const std::function<void(MessageRecord &)> &change) {
    m_outcomes.commit(record.get(), [&] {
        MessageList::Locker items(m_outbox);
        change(*record);
        return record->toMessage();
    });
}

void SmppSenderThread::abandonClaims(const QString &why) {
    // Only after an outcome could not be recorded does the session end with messages it has
    // not answered for: they may have gone, and the log cannot take anything more.
    const QString reason = QStringLiteral("the outcome could not be recorded: %1").arg(why);
    for (auto &[key, claimed] : m_claimed) {
        MessageList::Locker items(m_outbox);
        claimed.record->status = MessageStatus::Unknown;
        claimed.record->setReason(reason);
        ++m_summary.unknown;
    }
    m_claimed.clear();
    m_claimKeys.clear();
}

void SmppSenderThread::scheduleRefresh() {
    if (m_refreshTimer && !m_refreshTimer->isActive())
        m_refreshTimer->start(RefreshIntervalMs);
}

void SmppSenderThread::refreshAll() {
    if (m_refreshAll)
        synchronize(m_refreshAll);
}
