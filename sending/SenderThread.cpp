#include "sending/SenderThread.h"

#include "base/Error.h"
#include "base/OleDate.h"
#include "data/ContactList.h"
#include "data/MessageList.h"
#include "data/OutcomeLog.h"
#include "link/GsmSerial.h"
#include "link/ModemSetup.h"
#include "sending/SimIdentity.h"
#include "sms/SmsParts.h"

#include <QMutexLocker>

#include <algorithm>

namespace {

constexpr char CtrlZ = 26;
// One bit per part in Message::acceptedParts.
static_assert(maxParts(Coding::Gsm7Bit) <= 16 && maxParts(Coding::EightBit) <= 16 &&
              maxParts(Coding::Ucs2) <= 16);

// Why a message is Unknown or Failed without a refusal of the phone.
const QString ReasonNoAnswer = QStringLiteral("no answer after the phone took it");
const QString ReasonLineBroke = QStringLiteral("the line to the phone broke while it took it");
const QString ReasonStopped = QStringLiteral("stopped before the phone answered");
const QString ReasonInvalidNumber = QStringLiteral("invalid phone number");

// Failures remembered for a streak of one refusal that turns out to be the phone's; a streak
// holds more only when many messages go to the same few numbers.
constexpr qsizetype RecentFailedKept = 32;
// How often a phone with nothing to claim looks whether another one gave a message back.
constexpr int UnsettledPollMs = 50;

// Closes the link however the run ends.
struct LinkCloser {
    GsmSerial &link;
    ~LinkCloser() { link.close(); }
};

// An outcome that could not be made durable: unlike an error of the line, it ends the whole
// run, whatever phones are left.
class OutcomeNotRecorded : public Error {
public:
    explicit OutcomeNotRecorded(const QString &message) : Error(message) {}
};

// Lets Stop abort the link's waits at once again when the body exchange ends.
struct RestoreAbortOnStop {
    std::atomic<bool> &flag;
    ~RestoreAbortOnStop() { flag = true; }
};

} // namespace

SenderThread::SenderThread(MessageList &outbox, ContactList &contacts, OutcomeLog &outcomes,
                           const std::function<void()> &refreshAll, ReferenceSource nextReference,
                           SendOptions options)
    : m_outbox(outbox), m_ownQueue(outbox), m_queue(&m_ownQueue), m_contacts(contacts),
      m_outcomes(outcomes), m_refreshAll(refreshAll), m_nextReference(std::move(nextReference)),
      m_options(std::move(options)),
      m_clock(m_options.clock ? m_options.clock : std::make_shared<SystemClock>()),
      m_pacer(m_options.pace, *m_clock, m_options.ledger), m_policy(m_options.stopAtFirstRefusal) {}

void SenderThread::joinGroup(OutboxQueue &queue, RunProgress &total, const QByteArray &phoneLabel) {
    m_queue = &queue;
    m_total = &total;
    m_phoneLabel = phoneLabel;
    QMutexLocker locker(&m_statusLock);
    m_status.port = phoneLabel;
}

PhoneRunStatus SenderThread::status() const {
    QMutexLocker locker(&m_statusLock);
    return m_status;
}

void SenderThread::setState(PhoneRunStatus::State state, const QString &detail) {
    QMutexLocker locker(&m_statusLock);
    m_status.state = state;
    m_status.detail = detail;
}

void SenderThread::execute() {
    WorkerThread::execute();
    if (link()->connected()) {
        addReport("Phone already busy");
        setState(PhoneRunStatus::State::Paused, QStringLiteral("port in use"));
        stop();
        return;
    }
    try {
        runSession();
        if (status().state != PhoneRunStatus::State::Paused)
            setState(PhoneRunStatus::State::Done);
    } catch (const Error &e) {
        addReport(e.message().toLocal8Bit());
        QString reason;
        if (m_outcomeNotRecorded)
            reason = QStringLiteral("outcome not recorded");
        else if (!m_portOpened)
            reason = QStringLiteral("port cannot be opened");
        else if (dynamic_cast<const ReadTimeout *>(&e))
            reason = QStringLiteral("phone does not answer");
        else
            reason =
                m_summary.started ? QStringLiteral("phone hung up") : QStringLiteral("line broke");
        setState(PhoneRunStatus::State::Paused, reason);
    }
    // Whatever is pending now was not sent by this run.
    MessageList::Locker items(m_outbox);
    for (const auto &message : *items)
        m_summary.notSent += message->status == MessageStatus::Pending ? 1 : 0;
}

void SenderThread::runSession() {
    GsmSerial &link = *this->link();
    link.port().setPortName(portName ? portName() : QByteArray("COM1"));
    {
        QMutexLocker locker(&m_statusLock);
        m_status.port = m_phoneLabel.isEmpty() ? link.port().portName() : m_phoneLabel;
    }
    link.open();
    m_portOpened = true;
    LinkCloser closer{link};
    abortLinkOnStop = true;

    if (!m_options.serviceCentre.isEmpty()) {
        m_serviceCentreField = serviceCentreField(m_options.serviceCentre);
        if (m_serviceCentreField.isEmpty()) {
            addReport("The service centre number " + m_options.serviceCentre +
                      " is not a phone number: give it as digits, with + in front when "
                      "international.");
            setState(PhoneRunStatus::State::Paused, QStringLiteral("bad service centre number"));
            return;
        }
    }

    ModemSetup setup(link);
    ReadinessOptions readiness = m_options.readiness;
    readiness.serviceCentreGiven = !m_options.serviceCentre.isEmpty();
    // The front end's callbacks are the UI thread's.
    if (readiness.askPin) {
        readiness.askPin = [ask = readiness.askPin](const PinRequest &request) {
            std::optional<QByteArray> pin;
            synchronize([&] { pin = ask(request); });
            return pin;
        };
    }
    if (readiness.showStatus) {
        readiness.showStatus = [show = readiness.showStatus](const QString &status) {
            synchronize([&] { show(status); });
        };
    }
    if (readiness.showNetwork) {
        readiness.showNetwork = [show = readiness.showNetwork](const QString &network) {
            synchronize([&] { show(network); });
        };
    }
    readiness.pause = [this](int ms) { return pause(ms); };
    switch (setup.run(ModemSetup::sendingSteps() + PhoneReadiness::steps(readiness))) {
    case ModemSetup::Result::Failed:
        addReport(setup.failure());
        setState(PhoneRunStatus::State::Paused,
                 setupFailureReason(setup.failedStep(), setup.failure()));
        return;
    case ModemSetup::Result::Stopped:
        return;
    case ModemSetup::Result::Ready:
        break;
    }
    m_summary.started = true;
    setState(PhoneRunStatus::State::Sending);
    // Caps count per SIM; only then is the phone asked which one it holds.
    if (m_options.pace.perHour > 0 || m_options.pace.perDay > 0)
        m_pacer.setSim(simIdentity(link, link.port().portName()));
    sendMessages();
}

void SenderThread::sendMessages() {
    m_progress.begin(m_queue->pendingCount());
    while (!terminated()) {
        // A message waiting for its turn stays pending: nothing is claimed before the wait.
        QDateTime cycleStart;
        if (!m_queue->hasPending()) {
            // Another phone of the run may still give back what it cannot send.
            if (!m_queue->hasUnsettled() || !pause(UnsettledPollMs))
                break;
            continue;
        }
        if (!waitForTurn(cycleStart))
            break;
        // The record is shared: it stays valid if it leaves the list while we send it.
        int row = -1;
        const MessageList::Item record = m_queue->claim(&row);
        if (!record)
            break;
        m_progress.started(row);
        if (m_total)
            m_total->started(row);
        refreshAll();
        Next next;
        try {
            next = sendMessage(record);
        } catch (...) {
            // The outcome is in the record already: let the lists show it, then end the run.
            m_queue->settle();
            refreshAll();
            throw;
        }
        m_queue->settle();
        bool sent;
        {
            MessageList::Locker items(m_outbox);
            sent = record->status == MessageStatus::Sent;
        }
        if (sent)
            m_pacer.messageSent();
        m_pacer.messageDone();
        // A message's share of the run: its exchange and the pause after it.
        const qint64 share = cycleStart.msecsTo(m_clock->now()) + m_pacer.pauseLeftMs();
        m_progress.finished(sent, share);
        if (m_total)
            m_total->finished(sent, share);
        refreshAll();
        if (next == Next::StopRun)
            break;
    }
}

bool SenderThread::waitForTurn(QDateTime &cycleStart) {
    bool held = false;
    const bool go =
        m_pacer.waitForTurn([this](int ms) { return pause(ms); },
                            [this, &held](const RunPacer::Wait &wait) {
                                // The pause between messages is no news;
                                // the end of a wait is only after one that was.
                                if (wait.reason == RunPacer::Reason::Interval ||
                                    (wait.reason == RunPacer::Reason::None && !held))
                                    return;
                                held = true;
                                const QString text = m_pacer.waitText(wait, m_clock->now());
                                m_progress.setWaiting(text);
                                setState(text.isEmpty() ? PhoneRunStatus::State::Sending
                                                        : PhoneRunStatus::State::Waiting,
                                         text);
                                refreshAll();
                            });
    cycleStart = m_clock->now();
    return go && !terminated();
}

SenderThread::Next SenderThread::sendMessage(const MessageList::Item &record) {
    SmsSubmit request;
    int reference;
    {
        MessageList::Locker items(m_outbox);
        request.text = record->text();
        request.number = record->number();
        request.flash = record->flash != 0;
        request.isLong = record->isLong != 0;
        reference = record->partReference();
    }
    PduList pdus;
    try {
        request.coding = detectCoding(request.text);
        // Taken once per message and kept with it, so that the parts of a later attempt join
        // the ones the phone has already accepted.
        if (request.isLong && reference < 0 && isValidNumber(request.number) &&
            messagePartCount(request.text, request.coding, true) > 1) {
            reference = takeReference();
            MessageList::Locker items(m_outbox);
            record->setPartReference(static_cast<qint16>(reference));
        }
        request.reference = static_cast<quint8>(std::max(reference, 0));
        if (buildSubmitParts(request, pdus) == BuildResult::InvalidNumber || pdus.isEmpty()) {
            commitFailed(record, ReasonInvalidNumber, QByteArray());
            return Next::Continue;
        }
    } catch (...) {
        commitPending(record);
        throw;
    }
    return tryMessage(record, request, pdus);
}

SenderThread::Next SenderThread::tryMessage(const MessageList::Item &record,
                                            const SmsSubmit &request, const PduList &pdus) {
    for (qsizetype attempt = 0;; ++attempt) {
        Attempt result;
        try {
            result = sendParts(record, pdus);
        } catch (...) {
            // The outcome first; the error then ends the run.
            QString reason = ReasonLineBroke;
            try {
                throw;
            } catch (const ReadTimeout &) {
                reason = ReasonNoAnswer;
            } catch (...) {
            }
            try {
                if (m_bodyInFlight) {
                    commitUnknown(record, reason, QByteArray());
                } else {
                    commitPending(record);
                    giveBack(record);
                }
            } catch (...) {
                // The first error is the one the user needs to see.
            }
            throw;
        }

        switch (result) {
        case Attempt::Accepted:
            commit(record, [this](MessageRecord &m) {
                // The last part's time: the message is complete only now.
                m.sent = oleNow();
                m.status = MessageStatus::Sent;
                m.setReason(QString());
                m.setError(QByteArray());
                if (!m_phoneLabel.isEmpty())
                    m.setPhone(QString::fromLocal8Bit(m_phoneLabel));
                m_contacts.incSentCount(m.number());
            });
            ++m_summary.sent;
            {
                QMutexLocker locker(&m_statusLock);
                ++m_status.sent;
            }
            m_policy.accepted();
            m_streakPending.clear();
            m_streakLine.clear();
            return Next::Continue;
        case Attempt::Stopped:
            commitPending(record);
            return Next::StopRun;
        case Attempt::Abandoned:
            commitUnknown(record, ReasonStopped, QByteArray());
            return Next::StopRun;
        case Attempt::Refused:
            break;
        }

        const RefusalPolicy::Decision decision = m_policy.refused(m_refusal, request.number);
        if (m_refusal.trimmed() != m_streakLine) {
            m_streakLine = m_refusal.trimmed();
            m_streakPending.clear();
        }
        switch (decision.action) {
        case RefusalPolicy::Action::Fail:
            commitFailed(record, decision.refusal.reason, m_refusal.trimmed());
            return Next::Continue;
        case RefusalPolicy::Action::StopRun: {
            // Not the recipients' fault after all: they wait for the next run.
            QList<MessageList::Item> back;
            for (int i = 0; i < decision.failedInStreak && !m_recentFailed.isEmpty(); ++i) {
                const MessageList::Item failed = m_recentFailed.takeLast();
                QString reason;
                commit(failed, [&reason](MessageRecord &m) {
                    reason = m.reason();
                    m.status = MessageStatus::Pending;
                    m.setReason(QString());
                    m.setError(QByteArray());
                });
                m_summary.removeFailed(reason);
                back.prepend(failed);
            }
            commitPending(record);
            // Other phones of the run may send what this one could not.
            back += m_streakPending;
            back.append(record);
            m_streakPending.clear();
            for (const MessageList::Item &item : std::as_const(back))
                giveBack(item);
            addReport(decision.report);
            setState(PhoneRunStatus::State::Paused, stopRunReason(decision));
            return Next::StopRun;
        }
        case RefusalPolicy::Action::Retry:
            if (attempt >= m_options.retryDelaysMs.size()) {
                commitPending(record);
                m_streakPending.append(record);
                if (m_streakPending.size() > RecentFailedKept)
                    m_streakPending.removeFirst();
                return Next::Continue;
            }
            if (!pause(m_options.retryDelaysMs[attempt])) {
                commitPending(record);
                return Next::StopRun;
            }
            break;
        }
    }
}

// Sends, in order, the PDUs whose bit in the record's accepted parts is clear; for a message
// in parts every part the phone accepts is recorded at once.
SenderThread::Attempt SenderThread::sendParts(const MessageList::Item &record,
                                              const PduList &pdus) {
    const bool inParts = pdus.size() > 1;
    quint16 accepted;
    {
        MessageList::Locker items(m_outbox);
        accepted = record->acceptedParts();
    }
    for (qsizetype k = 0; k < pdus.size(); ++k) {
        const auto bit = static_cast<quint16>(1u << k);
        if (inParts && (accepted & bit))
            continue;
        const Attempt result = sendPdu(record, m_serviceCentreField + pdus[k].hex, pdus[k].length);
        if (result != Attempt::Accepted)
            return result;
        if (inParts)
            commit(record,
                   [bit](MessageRecord &m) { m.setAcceptedParts(m.acceptedParts() | bit); });
    }
    return Attempt::Accepted;
}

SenderThread::Attempt SenderThread::sendPdu(const MessageList::Item &record,
                                            const QByteArray &pduText, int length) {
    m_refusal.clear();
    m_bodyInFlight = false;
    if (terminated())
        return Attempt::Stopped;
    GsmSerial &link = *this->link();
    RestoreAbortOnStop restore{abortLinkOnStop};
    try {
        if (!link.sendAndWait("AT+CMGS=" + QByteArray::number(length), "> ", false)) {
            // Stopped while waiting: the prompt may still come.
            cancelPrompt();
            return Attempt::Stopped;
        }
        if (!link.resultOk) {
            m_refusal = link.finalLine;
            return Attempt::Refused;
        }
        // The phone is taking the message: a stop lets the exchange finish (within a grace).
        abortLinkOnStop = false;
        if (terminated()) {
            cancelPrompt();
            return Attempt::Stopped;
        }
        Message inFlight;
        {
            MessageList::Locker items(m_outbox);
            inFlight = record->toMessage();
        }
        try {
            m_outcomes.inFlight(record.get(), inFlight);
        } catch (const Error &e) {
            m_outcomeNotRecorded = true;
            throw OutcomeNotRecorded(e.message());
        }
    } catch (...) {
        cancelPrompt();
        throw;
    }
    m_bodyInFlight = true;
    if (!link.sendAndWait(pduText + CtrlZ, QByteArray(), true))
        return Attempt::Abandoned;
    m_bodyInFlight = false;
    if (!link.resultOk) {
        m_refusal = link.finalLine;
        return Attempt::Refused;
    }
    return Attempt::Accepted;
}

void SenderThread::cancelPrompt() {
    // Best effort: the run ends anyway, and the next one starts with ESC too.
    try {
        link()->writeEscape();
    } catch (...) {
    }
}

void SenderThread::commit(const MessageList::Item &record,
                          const std::function<void(MessageRecord &)> &change) {
    try {
        m_outcomes.commit(record.get(), [&] {
            MessageList::Locker items(m_outbox);
            change(*record);
            return record->toMessage();
        });
    } catch (const Error &e) {
        m_outcomeNotRecorded = true;
        throw OutcomeNotRecorded(e.message());
    }
}

void SenderThread::giveBack(const MessageList::Item &record) {
    m_queue->giveBack(record);
}

QString SenderThread::setupFailureReason(const QByteArray &step, const QByteArray &failure) {
    if (step == "SIM card") {
        if (failure.contains("PUK"))
            return QStringLiteral("SIM blocked");
        if (failure.contains("no SIM card"))
            return QStringLiteral("no SIM card");
        if (failure.contains("PIN"))
            return QStringLiteral("SIM needs its PIN");
        return QStringLiteral("SIM card not usable");
    }
    if (step == "network")
        return failure.contains("denied") ? QStringLiteral("network denied")
                                          : QStringLiteral("no network");
    if (step == "service centre")
        return QStringLiteral("no service centre");
    if (step == "wake up")
        return QStringLiteral("phone does not answer");
    return QStringLiteral("set-up refused");
}

QString SenderThread::stopRunReason(const RefusalPolicy::Decision &decision) const {
    const QString line = QString::fromLocal8Bit(m_refusal.trimmed());
    if (decision.refusal.refusalClass == RefusalClass::PhoneLevel)
        return decision.refusal.reason;
    if (m_options.stopAtFirstRefusal)
        return QStringLiteral("refused: ") + line;
    if (decision.refusal.kind == PhoneRefusal::Kind::Plain)
        return QStringLiteral("refused twice: ") + line;
    return QStringLiteral("refused %1 times: ").arg(RefusalPolicy::SameRefusalLimit) + line;
}

void SenderThread::commitPending(const MessageList::Item &record) {
    commit(record, [](MessageRecord &m) {
        m.status = MessageStatus::Pending;
        m.setReason(QString());
        m.setError(QByteArray());
    });
}

void SenderThread::commitFailed(const MessageList::Item &record, const QString &reason,
                                const QByteArray &error) {
    commit(record, [&](MessageRecord &m) {
        m.status = MessageStatus::Failed;
        m.setReason(reason);
        m.setError(error);
    });
    m_summary.addFailed(reason);
    m_recentFailed.append(record);
    if (m_recentFailed.size() > RecentFailedKept)
        m_recentFailed.removeFirst();
}

void SenderThread::commitUnknown(const MessageList::Item &record, const QString &reason,
                                 const QByteArray &error) {
    commit(record, [&](MessageRecord &m) {
        m.status = MessageStatus::Unknown;
        m.setReason(reason);
        m.setError(error);
    });
    ++m_summary.unknown;
}

quint8 SenderThread::takeReference() {
    if (m_nextReference)
        return m_nextReference();
    return static_cast<quint8>(m_ownReference++ & 0xFF);
}

void SenderThread::refreshAll() {
    if (m_refreshAll)
        synchronize(m_refreshAll);
}
