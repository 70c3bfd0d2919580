#pragma once

#include "smpp/SmppPdu.h"
#include "smpp/SmppReceipt.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>

class QTcpSocket;

enum class SmppBindMode {
    Transmitter, // submits only
    Transceiver, // submits and receives delivery receipts on the same connection
};

// Where and how to connect, and the flow limits. The defaults suit a real centre; tests
// shorten the times.
struct SmppConfig {
    QString host;
    quint16 port = 2775;
    bool tls = false;
    // Trusted besides the system's certificates: a gateway's own self-signed certificate.
    QList<QSslCertificate> trustedCertificates;
    QByteArray systemId;
    QByteArray password;
    QByteArray systemType;
    SmppBindMode bindMode = SmppBindMode::Transceiver;

    int window = 10;         // submit_sm sent and not yet answered, at most
    double maxPerSecond = 0; // submit_sm per second, at most; 0 for no limit
    int enquireLinkIntervalMs = 30000;
    int responseTimeoutMs = 30000; // for every request, bind and unbind included
    int connectTimeoutMs = 30000;  // TCP connection and TLS handshake
    int reconnectDelayMs = 1000;   // first wait after a dropped connection, doubling
    int maxReconnectDelayMs = 60000;
    int maxReconnectAttempts = 10; // failed attempts in a row before the session gives up
    int throttleDelayMs = 1000;    // first pause after a throttling answer, doubling
    int maxThrottleDelayMs = 30000;
};

// One short message, already encoded: the octets of short_message (with the user-data header
// in front when esmClass has SmppEsmUdhIndicator), its data_coding, the addresses.
struct SmppSubmission {
    quint64 id = 0; // the caller's, given back in the outcome
    SmppAddress source;
    SmppAddress destination;
    quint8 esmClass = 0;
    quint8 dataCoding = 0;
    quint8 registeredDelivery = 0; // 1: a receipt for the final state
    quint8 protocolId = 0;
    quint8 priorityFlag = 0;
    QByteArray serviceType;
    QByteArray validityPeriod;
    QByteArray shortMessage;
};

struct SmppOutcome {
    enum class Kind {
        Accepted, // the centre took the message: messageId
        Failed,   // the centre refused it for good: status and reason
        Unknown,  // sent, but the answer never came; the session does not send it again
        NotSent,  // never sent (the session stopped or ended first); safe to submit again
    };
    quint64 id = 0;
    Kind kind = Kind::Unknown;
    QByteArray messageId; // normalised (normaliseSmppMessageId)
    quint32 status = 0;
    // Failed: "ESME_RINVDSTADR: invalid destination address"; Unknown, NotSent: why.
    QString reason;
};

// One SMPP session with a centre, for the thread that owns it: connects (TCP or TLS), binds,
// keeps the link alive with enquire_link, sends the submitted messages through a window of
// outstanding submit_sm and reports one outcome for each, reconnects after a dropped
// connection, passes delivery receipts on and unbinds on stop. Entirely event-driven.
//
// The outcome handler is how a caller makes each outcome durable: the session sends no further
// submit_sm until the handler has returned, and acknowledges a receipt only after the receipt
// handler has returned. A handler that raises an exception stops the session at once (nothing
// more is sent or reported; finished carries its message). Handlers may call submit and stop,
// but must not delete the session.
//
// What one event (a read from the centre, a timer, a call) makes the session send goes out
// together at the event's end, and before it the barrier handler runs whenever a handler ran or a
// submit_sm is among it: a caller that writes its records as it goes and makes them durable in
// the barrier pays for one flush per event instead of one per message, and still has everything
// durable before the centre hears of anything more. A barrier that raises stops the session as
// a handler does, and what was waiting to go is dropped.
class SmppSession : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Connecting, Binding, Bound, WaitingToReconnect, Unbinding, Finished };

    using OutcomeHandler = std::function<void(const SmppOutcome &)>;
    using ReceiptHandler = std::function<void(const SmppReceipt &)>;
    using BarrierHandler = std::function<void()>;

    explicit SmppSession(SmppConfig config, QObject *parent = nullptr);
    ~SmppSession() override; // closes the connection without unbinding or reporting

    void setOutcomeHandler(OutcomeHandler handler) { m_outcomeHandler = std::move(handler); }
    void setReceiptHandler(ReceiptHandler handler) { m_receiptHandler = std::move(handler); }
    void setBarrierHandler(BarrierHandler handler) { m_barrierHandler = std::move(handler); }

    // Connects and binds. A failure before the first bind ends the session (finished with the
    // reason); after it, a dropped connection is tried again with back-off.
    void open();
    // Queues one message; it goes as soon as the session is bound and the window has room.
    // Raises Error when a field does not fit (an address over 20 characters, a message over
    // 254 octets) or the session has ended.
    void submit(const SmppSubmission &submission);
    // Queued messages come back NotSent; the answers to those sent are awaited (up to the
    // response time-out), then the session unbinds, closes and finishes.
    void stop();

    State state() const { return m_state; }
    const SmppConfig &config() const { return m_config; }
    qsizetype queuedCount() const { return static_cast<qsizetype>(m_queue.size()); }
    qsizetype inFlightCount() const { return m_inFlight.size(); }
    quint64 submitsSent() const { return m_submitsSent; } // submit_sm sent, resends included
    quint64 barriers() const { return m_barriers; }       // times the barrier handler ran
    const QString &errorText() const { return m_error; }

Q_SIGNALS:
    void bound(const QByteArray &centreSystemId);
    void connectionLost(const QString &reason); // a new connection follows after the back-off
    void drained();                             // nothing queued, nothing awaiting an answer
    void notice(const QString &text);           // odd events worth a log line
    // The session is over: error is empty after stop, else why it ended.
    void finished(const QString &error);

private:
    struct Queued {
        SmppSubmission submission;
        quint64 order = 0; // submission order, kept when a throttled message goes back
    };
    struct InFlight {
        Queued item;
        quint32 sequence = 0;
        qint64 deadline = 0;
    };
    // Held by each event's handling: the outermost one's end sends what the event wrote.
    class EventScope {
    public:
        explicit EventScope(SmppSession &session);
        ~EventScope();
        EventScope(const EventScope &) = delete;
        EventScope &operator=(const EventScope &) = delete;

    private:
        SmppSession &m_session;
    };

    void connectSocket();
    void onConnected();
    void onSocketDropped();
    void onReadyRead();
    void onDeadline();
    void onEnquireTimer();
    void onThrottleOver();
    void resumeAfterHandler();

    void processIncoming();
    void handlePdu(const SmppDecoded &decoded);
    void handleSubmitResponse(qsizetype index, quint32 status, const QByteArray &messageId);
    void handleDeliverSm(const SmppPdu &pdu);
    void handleBindResponse(const SmppPdu &pdu);
    void checkDeadlines();
    void armDeadlineTimer();
    void pump();
    void sendSubmit();
    void send(const SmppPdu &pdu);
    // Runs the barrier when one is due, then writes what waits to go.
    void flushOutgoing();
    void sendUnbind();
    quint32 nextSequence();
    void requeue(Queued item);
    void throttle(quint32 status);
    void dropConnection(const QString &reason);
    void closeSocket();
    void finish(const QString &error);
    void finishStopping();
    // Runs a handler, counting the depth: while one runs, socket and timer events wait
    // (deferWhileInHandler) and resume once it has returned. False when it raised. Any handler
    // but the barrier makes a barrier due.
    bool runHandler(const std::function<void()> &call, bool barrier = false);
    bool report(const SmppOutcome &outcome);
    bool deferWhileInHandler();
    QString endpoint() const;

    SmppConfig m_config;
    OutcomeHandler m_outcomeHandler;
    ReceiptHandler m_receiptHandler;
    BarrierHandler m_barrierHandler;
    State m_state = State::Idle;

    QTcpSocket *m_socket = nullptr;
    QByteArray m_rx;
    qsizetype m_rxPos = 0;
    quint64 m_generation = 0; // counts connections, so that a loop notices its socket went

    std::deque<Queued> m_queue;
    QList<InFlight> m_inFlight; // in the order sent
    quint64 m_nextOrder = 0;
    quint32 m_sequence = 0;
    quint64 m_submitsSent = 0;
    quint64 m_barriers = 0;
    QByteArray m_outgoing; // written by the current event, sent at its end
    int m_eventDepth = 0;
    bool m_barrierDue = false; // a handler ran or a submit_sm waits since the last barrier

    quint32 m_bindSequence = 0;
    quint32 m_enquireSequence = 0;
    quint32 m_unbindSequence = 0;
    qint64 m_stateDeadline = 0; // connect, bind or unbind, whichever is under way
    qint64 m_enquireDeadline = 0;

    QElapsedTimer m_clock;
    QTimer m_deadlineTimer;
    QTimer m_enquireTimer;
    QTimer m_reconnectTimer;
    QTimer m_throttleTimer;
    QTimer m_rateTimer;
    qint64 m_nextSendNs = 0;

    bool m_everBound = false;
    bool m_stopping = false;
    bool m_throttled = false;
    // After a pause, one message goes alone until it is accepted: a burst into a centre that is
    // still throttling would be refused in part and could overtake the earlier messages.
    bool m_throttleProbe = false;
    bool m_handlerBroken = false;
    bool m_deferred = false;     // an event waited for a handler to return
    bool m_resumeQueued = false; // resumeAfterHandler is on its way
    bool m_busy = false;         // drained is emitted once per busy spell
    int m_handlerDepth = 0;
    int m_reconnectAttempts = 0;
    int m_sessionRefusals = 0;
    int m_throttleDelay = 0;
    QString m_error;
};
