#include "SmppSession.h"

#include "smpp/SmppStatus.h"

#include "base/Error.h"

#include <QMetaObject>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <limits>

namespace {

constexpr quint32 MaxSequence = 0x7FFFFFFF;

SmppPdu submitPdu(const SmppSubmission &submission) {
    SmppPdu pdu;
    pdu.command = SmppCommand::SubmitSm;
    pdu.serviceType = submission.serviceType;
    pdu.source = submission.source;
    pdu.destination = submission.destination;
    pdu.esmClass = submission.esmClass;
    pdu.protocolId = submission.protocolId;
    pdu.priorityFlag = submission.priorityFlag;
    pdu.validityPeriod = submission.validityPeriod;
    pdu.registeredDelivery = submission.registeredDelivery;
    pdu.dataCoding = submission.dataCoding;
    pdu.shortMessage = submission.shortMessage;
    return pdu;
}

QString seconds(int ms) {
    return QString::number(ms / 1000.0, 'g', 3);
}

} // namespace

SmppSession::SmppSession(SmppConfig config, QObject *parent)
    : QObject(parent), m_config(std::move(config)) {
    m_config.window = std::max(1, m_config.window);
    m_throttleDelay = m_config.throttleDelayMs;
    m_clock.start();
    m_deadlineTimer.setSingleShot(true);
    connect(&m_deadlineTimer, &QTimer::timeout, this, &SmppSession::onDeadline);
    m_enquireTimer.setInterval(m_config.enquireLinkIntervalMs);
    connect(&m_enquireTimer, &QTimer::timeout, this, &SmppSession::onEnquireTimer);
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &SmppSession::connectSocket);
    m_throttleTimer.setSingleShot(true);
    connect(&m_throttleTimer, &QTimer::timeout, this, &SmppSession::onThrottleOver);
    m_rateTimer.setSingleShot(true);
    m_rateTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_rateTimer, &QTimer::timeout, this, &SmppSession::pump);
}

SmppSession::EventScope::EventScope(SmppSession &session) : m_session(session) {
    ++m_session.m_eventDepth;
}

SmppSession::EventScope::~EventScope() {
    if (--m_session.m_eventDepth == 0)
        m_session.flushOutgoing();
}

SmppSession::~SmppSession() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        delete m_socket;
    }
}

void SmppSession::open() {
    if (m_state != State::Idle)
        return;
    EventScope scope(*this);
    SmppPdu bind;
    bind.command = SmppCommand::BindTransceiver;
    bind.systemId = m_config.systemId;
    bind.password = m_config.password;
    bind.systemType = m_config.systemType;
    if (const QString problem = smppPduProblem(bind); !problem.isEmpty())
        throw Error(QStringLiteral("Cannot connect to the SMS centre: %1").arg(problem));
    connectSocket();
}

void SmppSession::submit(const SmppSubmission &submission) {
    if (m_state == State::Finished)
        throw Error(QStringLiteral("The connection to the SMS centre has ended"));
    if (const QString problem = smppPduProblem(submitPdu(submission)); !problem.isEmpty())
        throw Error(QStringLiteral("Cannot send the message: %1").arg(problem));
    EventScope scope(*this);
    m_queue.push_back({submission, m_nextOrder++});
    m_busy = true;
    pump();
}

void SmppSession::stop() {
    if (m_state == State::Finished || m_stopping)
        return;
    EventScope scope(*this);
    m_stopping = true;
    m_reconnectTimer.stop();
    m_throttleTimer.stop();
    m_rateTimer.stop();
    m_throttled = false;
    pump();
}

QString SmppSession::endpoint() const {
    return QStringLiteral("%1:%2").arg(m_config.host).arg(m_config.port);
}

void SmppSession::connectSocket() {
    if (m_state == State::Finished)
        return;
    EventScope scope(*this);
    closeSocket();
    m_state = State::Connecting;
    m_stateDeadline = m_clock.elapsed() + m_config.connectTimeoutMs;
    if (m_config.tls) {
        auto *ssl = new QSslSocket(this);
        QSslConfiguration tlsConfig = QSslConfiguration::defaultConfiguration();
        if (!m_config.trustedCertificates.isEmpty())
            tlsConfig.addCaCertificates(m_config.trustedCertificates);
        ssl->setSslConfiguration(tlsConfig);
        connect(ssl, &QSslSocket::encrypted, this, &SmppSession::onConnected);
        m_socket = ssl;
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QTcpSocket::connected, this, &SmppSession::onConnected);
    }
    connect(m_socket, &QTcpSocket::readyRead, this, &SmppSession::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &SmppSession::onSocketDropped);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &SmppSession::onSocketDropped);
    if (auto *ssl = qobject_cast<QSslSocket *>(m_socket))
        ssl->connectToHostEncrypted(m_config.host, m_config.port);
    else
        m_socket->connectToHost(m_config.host, m_config.port);
    armDeadlineTimer();
}

void SmppSession::onConnected() {
    if (m_state != State::Connecting || !m_socket)
        return;
    EventScope scope(*this);
    // Small PDUs, one answer awaited per window slot: waiting to fill a segment only adds delay.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    SmppPdu bind;
    bind.command = m_config.bindMode == SmppBindMode::Transceiver ? SmppCommand::BindTransceiver
                                                                  : SmppCommand::BindTransmitter;
    bind.sequence = nextSequence();
    bind.systemId = m_config.systemId;
    bind.password = m_config.password;
    bind.systemType = m_config.systemType;
    m_state = State::Binding;
    m_bindSequence = bind.sequence;
    m_stateDeadline = m_clock.elapsed() + m_config.responseTimeoutMs;
    send(bind);
    armDeadlineTimer();
}

void SmppSession::onSocketDropped() {
    if (deferWhileInHandler() || !m_socket)
        return;
    EventScope scope(*this);
    const QString why = m_socket->errorString();
    // The answers that came before the close still count.
    const quint64 generation = m_generation;
    if (m_socket->bytesAvailable() > 0)
        processIncoming();
    if (generation != m_generation || m_state == State::Finished || !m_socket)
        return;
    if (m_state == State::Unbinding) {
        // The centre may close right after unbind_resp, or instead of it.
        closeSocket();
        finish({});
        return;
    }
    if (m_state == State::Connecting)
        dropConnection(
            QStringLiteral("Cannot connect to the SMS centre at %1: %2").arg(endpoint(), why));
    else
        dropConnection(QStringLiteral("The connection to %1 dropped: %2").arg(endpoint(), why));
}

void SmppSession::onReadyRead() {
    if (deferWhileInHandler() || m_state == State::Finished)
        return;
    EventScope scope(*this);
    processIncoming();
}

void SmppSession::onDeadline() {
    if (deferWhileInHandler())
        return;
    EventScope scope(*this);
    checkDeadlines();
}

void SmppSession::onEnquireTimer() {
    if (m_state != State::Bound || m_enquireSequence != 0)
        return; // one at a time; the deadline catches a centre that stays silent
    EventScope scope(*this);
    SmppPdu pdu;
    pdu.command = SmppCommand::EnquireLink;
    pdu.sequence = nextSequence();
    m_enquireSequence = pdu.sequence;
    m_enquireDeadline = m_clock.elapsed() + m_config.responseTimeoutMs;
    send(pdu);
    if (!m_deadlineTimer.isActive())
        armDeadlineTimer();
}

void SmppSession::onThrottleOver() {
    EventScope scope(*this);
    m_throttled = false;
    m_throttleProbe = true;
    pump();
}

bool SmppSession::deferWhileInHandler() {
    if (m_handlerDepth == 0)
        return false;
    m_deferred = true;
    return true;
}

void SmppSession::resumeAfterHandler() {
    m_resumeQueued = false;
    if (m_handlerDepth > 0 || !m_deferred)
        return; // the handler running now queues the next resume
    m_deferred = false;
    if (m_state == State::Finished)
        return;
    EventScope scope(*this);
    if (m_socket && m_socket->state() == QAbstractSocket::UnconnectedState &&
        m_state != State::WaitingToReconnect && m_state != State::Idle) {
        onSocketDropped();
        return;
    }
    if (m_socket && m_socket->bytesAvailable() > 0)
        processIncoming();
    if (m_state == State::Finished)
        return;
    checkDeadlines();
    pump();
}

bool SmppSession::runHandler(const std::function<void()> &call, bool barrier) {
    // What a handler recorded must be durable before the centre hears anything more.
    if (!barrier)
        m_barrierDue = true;
    ++m_handlerDepth;
    QString failure;
    try {
        call();
    } catch (const Error &e) {
        failure = e.message();
    } catch (const std::exception &e) {
        failure = QString::fromLocal8Bit(e.what());
    }
    --m_handlerDepth;
    if (!failure.isEmpty()) {
        m_handlerBroken = true;
        if (m_error.isEmpty())
            m_error = failure;
        finish(failure);
        return false;
    }
    if (m_handlerDepth == 0 && m_deferred && !m_resumeQueued) {
        m_resumeQueued = true;
        QMetaObject::invokeMethod(this, &SmppSession::resumeAfterHandler, Qt::QueuedConnection);
    }
    return true;
}

bool SmppSession::report(const SmppOutcome &outcome) {
    if (m_handlerBroken)
        return false;
    if (!m_outcomeHandler)
        return true;
    return runHandler([this, &outcome] { m_outcomeHandler(outcome); });
}

void SmppSession::processIncoming() {
    if (!m_socket)
        return;
    const quint64 generation = m_generation;
    // Data that came while a handler ran a nested event loop gets no readyRead of its own
    // (the socket does not emit it inside our readyRead slot), so read until nothing is left.
    while (m_state != State::Finished && generation == m_generation &&
           m_socket->bytesAvailable() > 0) {
        m_rx.append(m_socket->readAll());
        while (m_state != State::Finished && generation == m_generation) {
            const QByteArrayView rest = QByteArrayView(m_rx).sliced(m_rxPos);
            const SmppFrame frame = smppFrame(rest);
            if (frame.kind == SmppFrame::Kind::Incomplete)
                break;
            if (frame.kind == SmppFrame::Kind::Invalid) {
                // Nothing after a broken length can be trusted to start a PDU.
                SmppPdu nack;
                nack.command = SmppCommand::GenericNack;
                nack.status = SmppStatusInvalidCommandLength;
                send(nack);
                dropConnection(
                    QStringLiteral("The SMS centre at %1 sent a PDU of impossible length")
                        .arg(endpoint()));
                return;
            }
            const SmppDecoded decoded = decodeSmppPdu(rest.first(frame.length));
            m_rxPos += frame.length;
            handlePdu(decoded);
        }
        if (generation == m_generation && m_rxPos > 0) {
            m_rx.remove(0, m_rxPos);
            m_rxPos = 0;
        }
    }
}

void SmppSession::handlePdu(const SmppDecoded &decoded) {
    const SmppPdu &pdu = decoded.pdu;
    if (!decoded.ok) {
        Q_EMIT notice(decoded.error);
        if (!isSmppResponse(pdu.command)) {
            SmppPdu nack;
            nack.command = SmppCommand::GenericNack;
            nack.status = SmppStatusInvalidCommandLength;
            nack.sequence = pdu.sequence;
            send(nack);
            return;
        }
        // A response's header still says which request it answers and how.
    }
    switch (pdu.command) {
    case SmppCommand::EnquireLink: {
        SmppPdu resp;
        resp.command = SmppCommand::EnquireLinkResp;
        resp.sequence = pdu.sequence;
        send(resp);
        return;
    }
    case SmppCommand::EnquireLinkResp:
        if (pdu.sequence == m_enquireSequence)
            m_enquireSequence = 0;
        return;
    case SmppCommand::Unbind: {
        SmppPdu resp;
        resp.command = SmppCommand::UnbindResp;
        resp.sequence = pdu.sequence;
        send(resp);
        if (m_stopping || m_state == State::Unbinding) {
            closeSocket();
            finish({});
        } else {
            dropConnection(
                QStringLiteral("The SMS centre at %1 ended the session").arg(endpoint()));
        }
        return;
    }
    case SmppCommand::UnbindResp:
        if (m_state == State::Unbinding && pdu.sequence == m_unbindSequence) {
            closeSocket();
            finish({});
        }
        return;
    case SmppCommand::DeliverSm:
        handleDeliverSm(pdu);
        return;
    case SmppCommand::AlertNotification:
        return; // has no response, and nothing here waits for one
    case SmppCommand::BindTransmitterResp:
    case SmppCommand::BindTransceiverResp:
    case SmppCommand::BindReceiverResp:
        handleBindResponse(pdu);
        return;
    case SmppCommand::SubmitSmResp:
    case SmppCommand::GenericNack: {
        const auto it =
            std::find_if(m_inFlight.cbegin(), m_inFlight.cend(),
                         [&pdu](const InFlight &f) { return f.sequence == pdu.sequence; });
        if (it != m_inFlight.cend()) {
            quint32 status = pdu.status;
            // A generic_nack always refuses, even one that says "no error".
            if (pdu.command == SmppCommand::GenericNack && status == SmppStatusOk)
                status = SmppStatusUnknownError;
            handleSubmitResponse(it - m_inFlight.cbegin(), status, pdu.messageId);
            return;
        }
        if (pdu.command == SmppCommand::GenericNack) {
            if (pdu.sequence == m_bindSequence && m_state == State::Binding) {
                SmppPdu refused = pdu;
                if (refused.status == SmppStatusOk)
                    refused.status = SmppStatusUnknownError;
                handleBindResponse(refused);
                return;
            }
            if (pdu.sequence == m_enquireSequence) {
                m_enquireSequence = 0; // it answered: the link is alive
                return;
            }
            if (pdu.sequence == m_unbindSequence && m_state == State::Unbinding) {
                closeSocket();
                finish({});
                return;
            }
        }
        Q_EMIT notice(QStringLiteral("%1 for sequence number %2, which awaits no answer "
                                     "(late, after a time-out?)")
                          .arg(smppCommandName(pdu.command))
                          .arg(pdu.sequence));
        return;
    }
    default:
        break;
    }
    if (isSmppResponse(pdu.command)) {
        Q_EMIT notice(QStringLiteral("Unexpected %1 ignored").arg(smppCommandName(pdu.command)));
        return;
    }
    SmppPdu nack;
    nack.command = SmppCommand::GenericNack;
    nack.status = SmppStatusInvalidCommandId;
    nack.sequence = pdu.sequence;
    send(nack);
}

void SmppSession::handleBindResponse(const SmppPdu &pdu) {
    if (m_state != State::Binding || pdu.sequence != m_bindSequence) {
        Q_EMIT notice(QStringLiteral("Unexpected %1 ignored").arg(smppCommandName(pdu.command)));
        return;
    }
    m_bindSequence = 0;
    if (pdu.status != SmppStatusOk) {
        // Wrong credentials stay wrong: trying again would only lock the account.
        closeSocket();
        finish(
            QStringLiteral("The SMS centre refused the bind: %1").arg(smppStatusText(pdu.status)));
        return;
    }
    m_state = State::Bound;
    m_everBound = true;
    m_reconnectAttempts = 0;
    m_enquireTimer.start();
    armDeadlineTimer();
    Q_EMIT bound(pdu.systemId);
    pump();
}

void SmppSession::handleSubmitResponse(qsizetype index, quint32 status,
                                       const QByteArray &messageId) {
    InFlight sent = m_inFlight.takeAt(index);
    switch (classifySmppStatus(status)) {
    case SmppStatusClass::Success: {
        m_sessionRefusals = 0;
        if (!m_throttled) {
            m_throttleProbe = false;
            m_throttleDelay = m_config.throttleDelayMs;
        }
        if (messageId.isEmpty())
            Q_EMIT notice(QStringLiteral("submit_sm_resp %1 accepted the message without a "
                                         "message ID; no receipt can be matched to it")
                              .arg(sent.sequence));
        SmppOutcome outcome;
        outcome.id = sent.item.submission.id;
        outcome.kind = SmppOutcome::Kind::Accepted;
        outcome.messageId = normaliseSmppMessageId(messageId);
        if (!report(outcome))
            return;
        break;
    }
    case SmppStatusClass::Retry:
        requeue(std::move(sent.item));
        throttle(status);
        break;
    case SmppStatusClass::MessageFailure: {
        SmppOutcome outcome;
        outcome.id = sent.item.submission.id;
        outcome.kind = SmppOutcome::Kind::Failed;
        outcome.status = status;
        outcome.reason = smppStatusText(status);
        if (!report(outcome))
            return;
        break;
    }
    case SmppStatusClass::SessionFailure:
        // Refused, so certainly not taken: it may go again once the session is bound anew.
        requeue(std::move(sent.item));
        if (++m_sessionRefusals > m_config.maxReconnectAttempts) {
            finish(QStringLiteral("The SMS centre keeps refusing messages: %1")
                       .arg(smppStatusText(status)));
            return;
        }
        dropConnection(QStringLiteral("The SMS centre at %1 answered %2")
                           .arg(endpoint(), smppStatusText(status)));
        return;
    }
    pump();
}

void SmppSession::handleDeliverSm(const SmppPdu &pdu) {
    const std::optional<SmppReceipt> receipt = smppReceipt(pdu);
    if (receipt) {
        if (m_receiptHandler && !m_handlerBroken &&
            !runHandler([this, &receipt] { m_receiptHandler(*receipt); }))
            return; // not acknowledged: the centre delivers it again later
    } else {
        Q_EMIT notice(QStringLiteral("deliver_sm from %1 that is no delivery receipt ignored")
                          .arg(QString::fromLatin1(pdu.source.address)));
    }
    if (m_state == State::Finished || !m_socket)
        return;
    SmppPdu resp;
    resp.command = SmppCommand::DeliverSmResp;
    resp.sequence = pdu.sequence;
    send(resp);
}

void SmppSession::checkDeadlines() {
    const qint64 now = m_clock.elapsed();
    switch (m_state) {
    case State::Connecting:
        if (now >= m_stateDeadline) {
            dropConnection(
                QStringLiteral("Cannot connect to the SMS centre at %1: no answer within %2 s")
                    .arg(endpoint(), seconds(m_config.connectTimeoutMs)));
            return;
        }
        break;
    case State::Binding:
        if (now >= m_stateDeadline) {
            dropConnection(
                QStringLiteral("The SMS centre at %1 did not answer the bind within %2 s")
                    .arg(endpoint(), seconds(m_config.responseTimeoutMs)));
            return;
        }
        break;
    case State::Unbinding:
        if (now >= m_stateDeadline) {
            closeSocket();
            finish({});
            return;
        }
        break;
    case State::Bound:
        if (m_enquireSequence != 0 && now >= m_enquireDeadline) {
            dropConnection(
                QStringLiteral("The SMS centre at %1 did not answer enquire_link within %2 s")
                    .arg(endpoint(), seconds(m_config.responseTimeoutMs)));
            return;
        }
        if (!m_inFlight.isEmpty() && now >= m_inFlight.first().deadline) {
            dropConnection(
                QStringLiteral("The SMS centre at %1 did not answer submit_sm within %2 s")
                    .arg(endpoint(), seconds(m_config.responseTimeoutMs)));
            return;
        }
        break;
    default:
        break;
    }
    armDeadlineTimer();
}

void SmppSession::armDeadlineTimer() {
    qint64 next = std::numeric_limits<qint64>::max();
    switch (m_state) {
    case State::Connecting:
    case State::Binding:
    case State::Unbinding:
        next = m_stateDeadline;
        break;
    case State::Bound:
        if (m_enquireSequence != 0)
            next = m_enquireDeadline;
        // Every request waits as long, so the oldest one is due first.
        if (!m_inFlight.isEmpty())
            next = std::min(next, m_inFlight.first().deadline);
        break;
    default:
        break;
    }
    if (next == std::numeric_limits<qint64>::max()) {
        m_deadlineTimer.stop();
        return;
    }
    const qint64 wait = std::max<qint64>(0, next - m_clock.elapsed()) + 1;
    m_deadlineTimer.start(
        static_cast<int>(std::min<qint64>(wait, std::numeric_limits<int>::max())));
}

void SmppSession::pump() {
    if (m_state == State::Finished || deferWhileInHandler())
        return;
    EventScope scope(*this);
    if (m_stopping) {
        finishStopping();
        return;
    }
    if (m_state != State::Bound)
        return;
    const qint64 intervalNs =
        m_config.maxPerSecond > 0 ? static_cast<qint64>(1e9 / m_config.maxPerSecond) : 0;
    const qsizetype window = m_throttleProbe ? 1 : m_config.window;
    while (!m_throttled && !m_queue.empty() && m_inFlight.size() < window) {
        if (intervalNs > 0) {
            const qint64 now = m_clock.nsecsElapsed();
            if (now < m_nextSendNs) {
                if (!m_rateTimer.isActive())
                    m_rateTimer.start(static_cast<int>((m_nextSendNs - now + 999999) / 1000000));
                break;
            }
            m_nextSendNs = std::max(m_nextSendNs, now - intervalNs) + intervalNs;
        }
        sendSubmit();
    }
    if (m_busy && m_queue.empty() && m_inFlight.isEmpty()) {
        m_busy = false;
        Q_EMIT drained();
    }
}

void SmppSession::finishStopping() {
    while (!m_queue.empty()) {
        Queued item = std::move(m_queue.front());
        m_queue.pop_front();
        SmppOutcome outcome;
        outcome.id = item.submission.id;
        outcome.kind = SmppOutcome::Kind::NotSent;
        outcome.reason = QStringLiteral("stopped before it was sent");
        if (!report(outcome) || m_state == State::Finished)
            return;
    }
    switch (m_state) {
    case State::Idle:
    case State::Connecting:
    case State::Binding:
    case State::WaitingToReconnect:
        closeSocket();
        finish({});
        return;
    case State::Bound:
        if (m_inFlight.isEmpty())
            sendUnbind();
        return;
    case State::Unbinding:
    case State::Finished:
        return;
    }
}

void SmppSession::sendSubmit() {
    Queued item = std::move(m_queue.front());
    m_queue.pop_front();
    SmppPdu pdu = submitPdu(item.submission);
    pdu.sequence = nextSequence();
    // Set first: a send outside any event goes out at once, and must still follow the barrier.
    m_barrierDue = true;
    send(pdu);
    m_inFlight.append(
        {std::move(item), pdu.sequence, m_clock.elapsed() + m_config.responseTimeoutMs});
    ++m_submitsSent;
    if (!m_deadlineTimer.isActive())
        armDeadlineTimer();
}

void SmppSession::sendUnbind() {
    SmppPdu pdu;
    pdu.command = SmppCommand::Unbind;
    pdu.sequence = nextSequence();
    m_unbindSequence = pdu.sequence;
    m_state = State::Unbinding;
    m_stateDeadline = m_clock.elapsed() + m_config.responseTimeoutMs;
    m_enquireTimer.stop();
    send(pdu);
    armDeadlineTimer();
}

void SmppSession::send(const SmppPdu &pdu) {
    if (!m_socket)
        return;
    m_outgoing.append(encodeSmppPdu(pdu));
    if (m_eventDepth == 0)
        flushOutgoing();
}

void SmppSession::flushOutgoing() {
    if (m_handlerBroken) {
        // What a handler that failed had recorded may not be durable: nothing more goes.
        m_outgoing.clear();
        m_barrierDue = false;
        return;
    }
    if (std::exchange(m_barrierDue, false) && m_barrierHandler) {
        ++m_barriers;
        if (!runHandler(m_barrierHandler, true))
            return;
    }
    if (m_outgoing.isEmpty())
        return;
    const QByteArray bytes = std::exchange(m_outgoing, {});
    if (m_socket)
        m_socket->write(bytes);
}

quint32 SmppSession::nextSequence() {
    m_sequence = m_sequence >= MaxSequence ? 1 : m_sequence + 1;
    return m_sequence;
}

void SmppSession::requeue(Queued item) {
    const auto at =
        std::upper_bound(m_queue.begin(), m_queue.end(), item.order,
                         [](quint64 order, const Queued &queued) { return order < queued.order; });
    m_queue.insert(at, std::move(item));
}

void SmppSession::throttle(quint32 status) {
    if (m_throttled)
        return;
    m_throttled = true;
    Q_EMIT notice(QStringLiteral("The SMS centre answered %1: pausing for %2 s")
                      .arg(smppStatusName(status), seconds(m_throttleDelay)));
    m_throttleTimer.start(m_throttleDelay);
    m_throttleDelay = std::min(m_throttleDelay * 2, m_config.maxThrottleDelayMs);
}

void SmppSession::dropConnection(const QString &reason) {
    if (m_state == State::Finished)
        return;
    closeSocket();
    m_throttled = false;
    m_throttleProbe = false;
    m_throttleTimer.stop();
    m_rateTimer.stop();
    m_state = State::WaitingToReconnect;
    const QList<InFlight> lost = std::exchange(m_inFlight, {});
    for (const InFlight &sent : lost) {
        SmppOutcome outcome;
        outcome.id = sent.item.submission.id;
        outcome.kind = SmppOutcome::Kind::Unknown;
        outcome.reason = QStringLiteral("no answer before the connection ended: %1").arg(reason);
        if (!report(outcome) || m_state == State::Finished)
            return;
    }
    if (m_stopping) {
        finish({});
        return;
    }
    if (!m_everBound) {
        finish(reason);
        return;
    }
    if (++m_reconnectAttempts > m_config.maxReconnectAttempts) {
        finish(QStringLiteral("%1 (gave up after %2 attempts to connect again)")
                   .arg(reason)
                   .arg(m_config.maxReconnectAttempts));
        return;
    }
    const int shift = std::min(m_reconnectAttempts - 1, 16);
    const qint64 delay = std::min<qint64>(static_cast<qint64>(m_config.reconnectDelayMs) << shift,
                                          m_config.maxReconnectDelayMs);
    Q_EMIT notice(QStringLiteral("%1; connecting again in %2 s")
                      .arg(reason, seconds(static_cast<int>(delay))));
    Q_EMIT connectionLost(reason);
    if (m_state == State::WaitingToReconnect && !m_stopping)
        m_reconnectTimer.start(static_cast<int>(delay));
}

void SmppSession::closeSocket() {
    // What is written (an unbind_resp, a deliver_sm_resp) goes out before the close.
    if (m_socket)
        flushOutgoing();
    m_outgoing.clear();
    m_enquireTimer.stop();
    m_deadlineTimer.stop();
    m_enquireSequence = 0;
    m_bindSequence = 0;
    m_unbindSequence = 0;
    ++m_generation;
    m_rx.clear();
    m_rxPos = 0;
    if (!m_socket)
        return;
    QTcpSocket *socket = std::exchange(m_socket, nullptr);
    socket->disconnect(this);
    socket->flush();
    socket->disconnectFromHost();
    socket->deleteLater();
}

void SmppSession::finish(const QString &error) {
    if (m_state == State::Finished)
        return;
    m_state = State::Finished;
    if (m_error.isEmpty())
        m_error = error;
    m_reconnectTimer.stop();
    m_throttleTimer.stop();
    m_rateTimer.stop();
    closeSocket();
    const QString ended = error.isEmpty() ? QStringLiteral("the session ended") : error;
    const QList<InFlight> lost = std::exchange(m_inFlight, {});
    for (const InFlight &sent : lost) {
        SmppOutcome outcome;
        outcome.id = sent.item.submission.id;
        outcome.kind = SmppOutcome::Kind::Unknown;
        outcome.reason = QStringLiteral("no answer before the session ended: %1").arg(ended);
        if (!report(outcome))
            break;
    }
    while (!m_queue.empty() && !m_handlerBroken) {
        Queued item = std::move(m_queue.front());
        m_queue.pop_front();
        SmppOutcome outcome;
        outcome.id = item.submission.id;
        outcome.kind = SmppOutcome::Kind::NotSent;
        outcome.reason = QStringLiteral("not sent: %1").arg(ended);
        report(outcome);
    }
    m_queue.clear();
    Q_EMIT finished(m_error);
}
