// The SMPP session and the bind probe over real loopback sockets, against the fake SMS centre
// (tools/smsc-fake, a Node.js child process) and, for what no real centre does on request,
// against a scripted peer on a QTcpServer.

#include "smpp/SmppProbe.h"
#include "smpp/SmppSession.h"
#include "smpp/SmppStatus.h"
#include "sms/SmsSubmit.h"
#include "support/SmscFake.h"
#include "support/TestFiles.h"

#include "base/Error.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int LongWaitMs = 20000;

// GSM 03.38 septets, one per octet, as data_coding 0 wants them.
QByteArray septets(const QString &text) {
    QByteArray bytes;
    for (const QChar ch : text) {
        const GsmLookup hit = lookupGsmChar(ch);
        if (!hit.found)
            continue;
        if (hit.escaped)
            bytes.append(static_cast<char>(GsmEscape));
        bytes.append(static_cast<char>(hit.septet));
    }
    return bytes;
}

QByteArray ucs2(const QString &text) {
    QByteArray bytes;
    for (const QChar ch : text)
        bytes.append(static_cast<char>(ch.unicode() >> 8)).append(static_cast<char>(ch.unicode()));
    return bytes;
}

SmppSubmission gsmMessage(quint64 id, const QByteArray &to, const QString &text) {
    SmppSubmission submission;
    submission.id = id;
    submission.source = {static_cast<quint8>(SmppTon::Alphanumeric), 0, "Pelorvane"};
    submission.destination = {static_cast<quint8>(SmppTon::International),
                              static_cast<quint8>(SmppNpi::Isdn), to};
    submission.shortMessage = septets(text);
    return submission;
}

QByteArray numberFor(int i) {
    return QByteArray("4915100") + QByteArray::number(i).rightJustified(5, '0');
}

QString textFor(int i) {
    return QStringLiteral("Message %1").arg(i);
}

// What the session reports, in order.
struct Recorder {
    QList<SmppOutcome> outcomes;
    QList<SmppReceipt> receipts;

    void attach(SmppSession &session) {
        session.setOutcomeHandler([this](const SmppOutcome &o) { outcomes.append(o); });
        session.setReceiptHandler([this](const SmppReceipt &r) { receipts.append(r); });
    }
    QList<quint64> ids(SmppOutcome::Kind kind) const {
        QList<quint64> result;
        for (const SmppOutcome &o : outcomes)
            if (o.kind == kind)
                result.append(o.id);
        return result;
    }
};

// The message number in a logged text "Message N".
int loggedNumber(const QJsonObject &entry) {
    return entry.value(QStringLiteral("text")).toString().section(QLatin1Char(' '), 1).toInt();
}

QList<int> loggedNumbers(const QList<QJsonObject> &entries, const QString &outcome) {
    QList<int> numbers;
    for (const QJsonObject &entry : entries)
        if (entry.value(QStringLiteral("outcome")).toString() == outcome)
            numbers.append(loggedNumber(entry));
    return numbers;
}

QList<int> range(int count) {
    QList<int> numbers;
    for (int i = 0; i < count; ++i)
        numbers.append(i);
    return numbers;
}

// The fake, started with options, or the test ends (skipped without Node.js).
#define START_FAKE(fake, ...)                                                                      \
    SKIP_WITHOUT_SMSC_FAKE();                                                                      \
    SmscFake fake;                                                                                 \
    QVERIFY2(fake.start(__VA_ARGS__), qPrintable(fake.errorText()))

// One PDU from a scripted peer's receive buffer, when a whole one is there.
std::optional<SmppPdu> takePdu(QByteArray &buffer) {
    const SmppFrame frame = smppFrame(buffer);
    if (frame.kind != SmppFrame::Kind::Complete)
        return std::nullopt;
    const SmppDecoded decoded = decodeSmppPdu(QByteArrayView(buffer).first(frame.length));
    buffer.remove(0, frame.length);
    return decoded.pdu;
}

// A peer on a QTcpServer that says only what the test tells it.
struct ScriptedCentre {
    QTcpServer server;
    QTcpSocket *peer = nullptr;
    QByteArray received;

    SmppConfig config() {
        if (!server.isListening())
            server.listen(QHostAddress::LocalHost);
        SmppConfig config;
        config.host = QStringLiteral("127.0.0.1");
        config.port = server.serverPort();
        config.systemId = "pelorvane";
        return config;
    }
    bool accept() {
        if (!QTest::qWaitFor([this] { return server.hasPendingConnections(); }, LongWaitMs))
            return false;
        peer = server.nextPendingConnection();
        received.clear();
        return true;
    }
    // The next PDU the session sent, waiting for it.
    std::optional<SmppPdu> next() {
        std::optional<SmppPdu> pdu;
        (void)QTest::qWaitFor(
            [&] {
                received += peer->readAll();
                pdu = takePdu(received);
                return pdu.has_value();
            },
            LongWaitMs);
        return pdu;
    }
    // Accepts the connection and answers its bind.
    bool bind() {
        if (!accept())
            return false;
        const std::optional<SmppPdu> request = next();
        if (!request || request->command != SmppCommand::BindTransceiver)
            return false;
        SmppPdu resp;
        resp.command = SmppCommand::BindTransceiverResp;
        resp.sequence = request->sequence;
        resp.systemId = "peer";
        peer->write(encodeSmppPdu(resp));
        return true;
    }
};

SmppPdu acceptance(const SmppPdu &submit) {
    SmppPdu resp;
    resp.command = SmppCommand::SubmitSmResp;
    resp.sequence = submit.sequence;
    resp.messageId = QByteArray::number(submit.sequence);
    return resp;
}

} // namespace

class TestSmppSession : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void probe_data();
    void probe();
    void probeWithoutCentre();
    void probeOverTls_data();
    void probeOverTls();
    void thousandAcceptedInOrder();
    void messagesArriveAsSent_data();
    void messagesArriveAsSent();
    void refusedNumberFailsWithStatusName();
    void throttlingKeepsOrder_data();
    void throttlingKeepsOrder();
    void droppedConnectionLeavesInFlightUnknown();
    void silentCentreLeavesUnknown();
    void receipts_data();
    void receipts();
    void receiptsWaitForTheNextTransceiverBind();
    void enquireLinkBothWays();
    void outcomeHandlerHoldsTheWindow();
    void raisingHandlerStopsEverything();
    void barrierComesBeforeAnythingMoreGoes();
    void failingBarrierSendsNothingMore();
    void stopAnswersInFlightAndUnbinds();
    void rateLimitSpacesSubmits();
    void centreSpeaksNonsense();
};

void TestSmppSession::probe_data() {
    QTest::addColumn<QStringList>("fakeOptions");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<SmppBindMode>("mode");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");

    const QStringList passwordSecret{QStringLiteral("--password"), QStringLiteral("secret")};
    QTest::newRow("right password")
        << passwordSecret << QByteArray("secret") << SmppBindMode::Transceiver << true
        << "Connected as pelorvane to 127.0.0.1:%1";
    QTest::newRow("transmitter") << passwordSecret << QByteArray("secret")
                                 << SmppBindMode::Transmitter << true
                                 << "Connected as pelorvane to 127.0.0.1:%1";
    QTest::newRow("wrong password")
        << passwordSecret << QByteArray("guess") << SmppBindMode::Transceiver << false
        << "The SMS centre refused the bind: ESME_RINVPASWD: invalid password";
    QTest::newRow("unknown account")
        << QStringList{QStringLiteral("--system-id"), QStringLiteral("school")}
        << QByteArray("secret") << SmppBindMode::Transceiver << false
        << "The SMS centre refused the bind: ESME_RINVSYSID: invalid system ID";
}

void TestSmppSession::probe() {
    QFETCH(QStringList, fakeOptions);
    QFETCH(QByteArray, password);
    QFETCH(SmppBindMode, mode);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    START_FAKE(fake, fakeOptions);
    SmppConfig config = fake.config();
    config.password = password;
    config.bindMode = mode;

    const SmppProbe::Result result = SmppProbe::run(config);
    QCOMPARE(result.text, text.contains(QLatin1String("%1")) ? text.arg(fake.port()) : text);
    QCOMPARE(result.ok, ok);
    const QList<QJsonObject> binds = fake.log(QStringLiteral("bind"));
    QCOMPARE(binds.size(), 1);
    QCOMPARE(binds[0].value(QStringLiteral("command")).toString(),
             mode == SmppBindMode::Transceiver ? QStringLiteral("bind_transceiver")
                                               : QStringLiteral("bind_transmitter"));
    QCOMPARE(binds[0].value(QStringLiteral("interface_version")).toInt(), 0x34);
    QCOMPARE(fake.log(QStringLiteral("unbind")).size(), ok ? 1 : 0);
}

void TestSmppSession::probeWithoutCentre() {
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    SmppConfig config;
    config.host = QStringLiteral("127.0.0.1");
    config.port = closed.serverPort();
    config.systemId = "pelorvane";
    closed.close();

    const SmppProbe::Result result = SmppProbe::run(config);
    QVERIFY(!result.ok);
    QVERIFY2(
        result.text.startsWith(
            QStringLiteral("Cannot connect to the SMS centre at 127.0.0.1:%1: Connection refused")
                .arg(config.port)),
        qPrintable(result.text));

    config.systemId = "sixteen_chars___";
    QCOMPARE(SmppProbe::run(config).text,
             QStringLiteral("Cannot connect to the SMS centre: the system ID is longer than 15 "
                            "characters"));
}

void TestSmppSession::probeOverTls_data() {
    QTest::addColumn<bool>("trusted");
    QTest::newRow("certificate trusted") << true;
    QTest::newRow("certificate unknown") << false;
}

void TestSmppSession::probeOverTls() {
    QFETCH(bool, trusted);
    SKIP_WITHOUT_SMSC_FAKE();
    if (!QSslSocket::supportsSsl())
        QSKIP("SKIPPED: Qt has no TLS backend here");
    const QString cert = SmscFake::certificatePath();
    SmscFake fake;
    QVERIFY2(fake.start({QStringLiteral("--tls-cert"), cert, QStringLiteral("--tls-key"),
                         SmscFake::keyPath()}),
             qPrintable(fake.errorText()));
    SmppConfig config = fake.config();
    config.tls = true;
    if (trusted)
        config.trustedCertificates = QSslCertificate::fromPath(cert);

    const SmppProbe::Result result = SmppProbe::run(config);
    QCOMPARE(result.ok, trusted);
    if (trusted)
        QCOMPARE(result.text,
                 QStringLiteral("Connected as pelorvane to 127.0.0.1:%1").arg(fake.port()));
    else
        QVERIFY2(result.text.contains(QLatin1String("certificate")), qPrintable(result.text));
    QCOMPARE(fake.log(QStringLiteral("bind")).size(), trusted ? 1 : 0);
}

void TestSmppSession::thousandAcceptedInOrder() {
    START_FAKE(fake, {QStringLiteral("--password"), QStringLiteral("secret")});
    SmppSession session(fake.config());
    Recorder recorder;
    qsizetype mostInFlight = 0;
    session.setOutcomeHandler([&](const SmppOutcome &o) {
        mostInFlight = std::max(mostInFlight, session.inFlightCount() + 1);
        recorder.outcomes.append(o);
    });
    QSignalSpy drained(&session, &SmppSession::drained);
    constexpr int Count = 1000;
    for (int i = 0; i < Count; ++i)
        session.submit(gsmMessage(i, numberFor(i), textFor(i)));
    session.open();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.outcomes.size(), Count, LongWaitMs);

    QSet<QByteArray> messageIds;
    for (int i = 0; i < Count; ++i) {
        const SmppOutcome &o = recorder.outcomes[i];
        QCOMPARE(o.kind, SmppOutcome::Kind::Accepted);
        QCOMPARE(o.id, quint64(i));
        QVERIFY(!o.messageId.isEmpty());
        messageIds.insert(o.messageId);
    }
    QCOMPARE(messageIds.size(), Count);
    QCOMPARE(mostInFlight, 10);
    QCOMPARE(session.submitsSent(), quint64(Count));
    QCOMPARE(drained.size(), 1);

    const QList<QJsonObject> logged = fake.log(QStringLiteral("submit_sm"));
    QCOMPARE(loggedNumbers(logged, QStringLiteral("accepted")), range(Count));
    QCOMPARE(logged[7].value(QStringLiteral("destination")).toString(),
             QString::fromLatin1(numberFor(7)));
    QCOMPARE(logged[7].value(QStringLiteral("message_id")).toString().toLatin1(),
             recorder.outcomes[7].messageId);
}

void TestSmppSession::messagesArriveAsSent_data() {
    QTest::addColumn<quint8>("dataCoding");
    QTest::addColumn<QByteArray>("udh");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");

    const QString gsm = QStringLiteral("Price 5\u20AC [sale] {today} ~^|\\ @\u00A3$ \u00E9\u00C4");
    QTest::newRow("GSM with extension characters")
        << quint8(0) << QByteArray() << septets(gsm) << gsm;
    const QString latin1 = QStringLiteral("Gr\u00FC\u00DFe aus K\u00F6ln, caf\u00E9 \u00BD");
    QTest::newRow("Latin-1 (data_coding 3)")
        << quint8(3) << QByteArray() << latin1.toLatin1() << latin1;
    const QString cyrillic = QStringLiteral("\u041F\u0440\u0438\u0432\u0435\u0442 \U0001F44B");
    QTest::newRow("UCS-2 with a surrogate pair")
        << quint8(8) << QByteArray() << ucs2(cyrillic) << cyrillic;
    QTest::newRow("GSM part of a long message")
        << quint8(0) << QByteArray::fromHex("050003A70201") << septets(QStringLiteral("Part one"))
        << QStringLiteral("Part one");
    QTest::newRow("UCS-2 part with a 16-bit reference")
        << quint8(8)
        << QByteArray::fromHex("0608041234030"
                               "2")
        << ucs2(QStringLiteral("zwei")) << QStringLiteral("zwei");
    QTest::newRow("8-bit data is logged as hex")
        << quint8(4) << QByteArray() << QByteArray::fromHex("00FF10") << QString();
}

void TestSmppSession::messagesArriveAsSent() {
    QFETCH(quint8, dataCoding);
    QFETCH(QByteArray, udh);
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    START_FAKE(fake);
    SmppSession session(fake.config());
    Recorder recorder;
    recorder.attach(session);
    SmppSubmission submission = gsmMessage(1, "4915112345678", QString());
    submission.dataCoding = dataCoding;
    submission.esmClass = udh.isEmpty() ? 0 : SmppEsmUdhIndicator;
    submission.registeredDelivery = 1;
    submission.shortMessage = udh + body;
    session.submit(submission);
    session.open();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.outcomes.size(), 1, LongWaitMs);
    QCOMPARE(recorder.outcomes[0].kind, SmppOutcome::Kind::Accepted);

    const QList<QJsonObject> logged = fake.log(QStringLiteral("submit_sm"));
    QCOMPARE(logged.size(), 1);
    const QJsonObject &entry = logged[0];
    QCOMPARE(entry.value(QStringLiteral("source")).toString(), QStringLiteral("Pelorvane"));
    QCOMPARE(entry.value(QStringLiteral("source_ton")).toInt(), 5);
    QCOMPARE(entry.value(QStringLiteral("source_npi")).toInt(), 0);
    QCOMPARE(entry.value(QStringLiteral("destination")).toString(),
             QStringLiteral("4915112345678"));
    QCOMPARE(entry.value(QStringLiteral("destination_ton")).toInt(), 1);
    QCOMPARE(entry.value(QStringLiteral("destination_npi")).toInt(), 1);
    QCOMPARE(entry.value(QStringLiteral("data_coding")).toInt(), dataCoding);
    QCOMPARE(entry.value(QStringLiteral("esm_class")).toInt(), udh.isEmpty() ? 0 : 0x40);
    QCOMPARE(entry.value(QStringLiteral("registered_delivery")).toInt(), 1);
    QCOMPARE(entry.value(QStringLiteral("udh")).toString().toLatin1(), udh.toHex().toUpper());
    if (text.isNull()) {
        QVERIFY(entry.value(QStringLiteral("text")).isNull());
        QCOMPARE(entry.value(QStringLiteral("hex")).toString().toLatin1(), body.toHex().toUpper());
    } else {
        QCOMPARE(entry.value(QStringLiteral("text")).toString(), text);
    }
}

void TestSmppSession::refusedNumberFailsWithStatusName() {
    START_FAKE(fake, {QStringLiteral("--refuse"), QStringLiteral("4999:0x0B")});
    SmppSession session(fake.config());
    Recorder recorder;
    recorder.attach(session);
    session.submit(gsmMessage(1, "4911", QStringLiteral("one")));
    session.submit(gsmMessage(2, "4999", QStringLiteral("two")));
    session.submit(gsmMessage(3, "4922", QStringLiteral("three")));
    session.open();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.outcomes.size(), 3, LongWaitMs);
    QCOMPARE(recorder.ids(SmppOutcome::Kind::Accepted), (QList<quint64>{1, 3}));
    const SmppOutcome &failed = recorder.outcomes[1];
    QCOMPARE(failed.kind, SmppOutcome::Kind::Failed);
    QCOMPARE(failed.id, quint64(2));
    QCOMPARE(failed.status, SmppStatusInvalidDestination);
    QCOMPARE(failed.reason, QStringLiteral("ESME_RINVDSTADR: invalid destination address"));
    QCOMPARE(session.state(), SmppSession::State::Bound);
    // What no centre would take is refused before it is queued.
    QCOMPARE(errorMessage([&] {
                 session.submit(gsmMessage(4, QByteArray(21, '1'), QStringLiteral("four")));
             }),
             QStringLiteral("Cannot send the message: the destination address is longer than 20 "
                            "characters"));
    QCOMPARE(session.queuedCount(), 0);
}

void TestSmppSession::throttlingKeepsOrder_data() {
    QTest::addColumn<QString>("status");
    QTest::newRow("ESME_RTHROTTLED") << QStringLiteral("0x58");
    QTest::newRow("ESME_RMSGQFUL") << QStringLiteral("0x14");
}

void TestSmppSession::throttlingKeepsOrder() {
    QFETCH(QString, status);
    START_FAKE(fake, {QStringLiteral("--throttle-after"), QStringLiteral("100"),
                      QStringLiteral("--throttle-for"), QStringLiteral("150"),
                      QStringLiteral("--throttle-status"), status});
    SmppSession session(fake.config());
    Recorder recorder;
    recorder.attach(session);
    constexpr int Count = 300;
    for (int i = 0; i < Count; ++i)
        session.submit(gsmMessage(i, numberFor(i), textFor(i)));
    session.open();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.outcomes.size(), Count, LongWaitMs);

    QCOMPARE(recorder.ids(SmppOutcome::Kind::Accepted).size(), Count);
    for (int i = 0; i < Count; ++i)
        QCOMPARE(recorder.outcomes[i].id, quint64(i));
    const QList<QJsonObject> logged = fake.log(QStringLiteral("submit_sm"));
    // Accepted once each, in the order submitted; the refused ones were sent again.
    QCOMPARE(loggedNumbers(logged, QStringLiteral("accepted")), range(Count));
    const QList<int> throttled = loggedNumbers(logged, QStringLiteral("throttled"));
    QVERIFY(!throttled.isEmpty());
    QVERIFY(*std::min_element(throttled.cbegin(), throttled.cend()) == 100);
    QCOMPARE(session.submitsSent(), quint64(Count + throttled.size()));
}

void TestSmppSession::droppedConnectionLeavesInFlightUnknown() {
    START_FAKE(fake, {QStringLiteral("--drop-after"), QStringLiteral("50")});
    SmppSession session(fake.config());
    Recorder recorder;
    recorder.attach(session);
    QSignalSpy lost(&session, &SmppSession::connectionLost);
    QSignalSpy bound(&session, &SmppSession::bound);
    constexpr int Count = 200;
    for (int i = 0; i < Count; ++i)
        session.submit(gsmMessage(i, numberFor(i), textFor(i)));
    session.open();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.outcomes.size(), Count, LongWaitMs);

    QCOMPARE(lost.size(), 1);
    QCOMPARE(bound.size(), 2);
    const QList<quint64> unknown = recorder.ids(SmppOutcome::Kind::Unknown);
    const QList<quint64> accepted = recorder.ids(SmppOutcome::Kind::Accepted);
    QVERIFY2(!unknown.isEmpty() && unknown.size() <= 10,
             qPrintable(QString::number(unknown.size())));
    QCOMPARE(accepted.size() + unknown.size(), Count);
    const QList<QJsonObject> logged = fake.log(QStringLiteral("submit_sm"));
    const QList<int> dropped = loggedNumbers(logged, QStringLiteral("dropped"));
    QCOMPARE(dropped, QList<int>{49});
    QVERIFY(unknown.contains(49));
    // Nothing was sent twice: the centre accepted exactly the messages reported accepted.
    QList<int> loggedAccepted = loggedNumbers(logged, QStringLiteral("accepted"));
    QList<int> reportedAccepted;
    for (const quint64 id : accepted)
        reportedAccepted.append(static_cast<int>(id));
    std::sort(loggedAccepted.begin(), loggedAccepted.end());
    std::sort(reportedAccepted.begin(), reportedAccepted.end());
    QCOMPARE(loggedAccepted, reportedAccepted);
    for (const SmppOutcome &o : recorder.outcomes) {
        if (o.kind != SmppOutcome::Kind::Unknown)
            continue;
        QVERIFY(!loggedAccepted.contains(static_cast<int>(o.id)));
        QVERIFY2(o.reason.startsWith(QLatin1String("no answer before the connection ended: "
                                                   "The connection to 127.0.0.1:")),
                 qPrintable(o.reason));
    }
}

void TestSmppSession::silentCentreLeavesUnknown() {
    START_FAKE(fake, {QStringLiteral("--delay"), QStringLiteral("5000")});
    SmppConfig config = fake.config();
    config.responseTimeoutMs = 200;
    config.maxReconnectAttempts = 0;
    SmppSession session(config);
    Recorder recorder;
    recorder.attach(session);
    QSignalSpy finished(&session, &SmppSession::finished);
    for (int i = 0; i < 4; ++i)
        session.submit(gsmMessage(i, numberFor(i), textFor(i)));
    session.open();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, LongWaitMs);
    QVERIFY2(
        finished[0][0].toString().contains(QLatin1String("did not answer submit_sm within 0.2 s")),
        qPrintable(finished[0][0].toString()));
    QCOMPARE(recorder.ids(SmppOutcome::Kind::Unknown), (QList<quint64>{0, 1, 2, 3}));
    QCOMPARE(session.state(), SmppSession::State::Finished);
    QCOMPARE(errorMessage([&] { session.submit(gsmMessage(9, "49", QStringLiteral("x"))); }),
             QStringLiteral("The connection to the SMS centre has ended"));
}

void TestSmppSession::receipts_data() {
    QTest::addColumn<QStringList>("idOptions");
    QTest::addColumn<bool>("exactIds"); // the receipt names the message as submit_sm_resp did

    QTest::newRow("decimal IDs") << QStringList() << true;
    QTest::newRow("hexadecimal IDs, decimal in the receipt text")
        << QStringList{QStringLiteral("--hex-ids")} << false;
    QTest::newRow("hexadecimal IDs with receipted_message_id")
        << QStringList{QStringLiteral("--hex-ids"), QStringLiteral("--receipt-tlv")} << true;
}

void TestSmppSession::receipts() {
    QFETCH(QStringList, idOptions);
    QFETCH(bool, exactIds);
    START_FAKE(fake,
               QStringList{QStringLiteral("--receipt-for"), QStringLiteral("4911:delivered"),
                           QStringLiteral("--receipt-for"), QStringLiteral("4922:undelivered"),
                           QStringLiteral("--receipt-for"), QStringLiteral("4933:expired")} +
                   idOptions);
    SmppSession session(fake.config());
    Recorder recorder;
    recorder.attach(session);
    const QList<QByteArray> numbers{"4911", "4922", "4933"};
    for (int i = 0; i < numbers.size(); ++i) {
        SmppSubmission submission = gsmMessage(i, numbers[i], textFor(i));
        submission.registeredDelivery = 1;
        session.submit(submission);
    }
    session.open();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.receipts.size(), 3, LongWaitMs);

    // The sent messages by message ID, looked up the way the receipts' candidates say.
    QHash<QByteArray, quint64> sent;
    for (const SmppOutcome &o : recorder.outcomes) {
        QCOMPARE(o.kind, SmppOutcome::Kind::Accepted);
        sent.insert(o.messageId, o.id);
    }
    const SmppDeliveryState states[] = {SmppDeliveryState::Delivered,
                                        SmppDeliveryState::Undelivered, SmppDeliveryState::Expired};
    const QByteArray stats[] = {"DELIVRD", "UNDELIV", "EXPIRED"};
    const QByteArray errs[] = {"000", "001", "000"};
    for (const SmppReceipt &receipt : recorder.receipts) {
        const QList<QByteArray> candidates = smppMessageIdCandidates(receipt.messageId);
        QCOMPARE(sent.contains(candidates.first()), exactIds);
        const auto hit = std::find_if(candidates.cbegin(), candidates.cend(),
                                      [&](const QByteArray &c) { return sent.contains(c); });
        QVERIFY(hit != candidates.cend());
        const auto id = static_cast<qsizetype>(sent.value(*hit));
        QCOMPARE(receipt.recipient.address, numbers[id]);
        QCOMPARE(receipt.state, states[id]);
        QCOMPARE(receipt.stat, stats[id]);
        QCOMPARE(receipt.err, errs[id]);
    }
    // Every receipt was acknowledged; the centre logs an acknowledgement only once it has read
    // it, which may be after the session handed the receipt over.
    QTRY_COMPARE_WITH_TIMEOUT(fake.log(QStringLiteral("deliver_sm_resp")).size(), 3, LongWaitMs);
    const QList<QJsonObject> acks = fake.log(QStringLiteral("deliver_sm_resp"));
    for (const QJsonObject &ack : acks)
        QCOMPARE(ack.value(QStringLiteral("status")).toInt(), 0);
}

void TestSmppSession::receiptsWaitForTheNextTransceiverBind() {
    START_FAKE(fake, {QStringLiteral("--receipts"), QStringLiteral("delivered")});
    SmppConfig config = fake.config();
    config.bindMode = SmppBindMode::Transmitter;
    QByteArray messageId;
    {
        SmppSession sending(config);
        Recorder recorder;
        recorder.attach(sending);
        QSignalSpy finished(&sending, &SmppSession::finished);
        SmppSubmission submission = gsmMessage(1, "4911", QStringLiteral("hello"));
        submission.registeredDelivery = 1;
        sending.submit(submission);
        sending.open();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.outcomes.size(), 1, LongWaitMs);
        messageId = recorder.outcomes[0].messageId;
        sending.stop();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, LongWaitMs);
        QVERIFY(recorder.receipts.isEmpty());
    }
    config.bindMode = SmppBindMode::Transceiver;
    SmppSession receiving(config);
    Recorder recorder;
    recorder.attach(receiving);
    receiving.open();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.receipts.size(), 1, LongWaitMs);
    QCOMPARE(recorder.receipts[0].messageId, messageId);
    QCOMPARE(recorder.receipts[0].state, SmppDeliveryState::Delivered);
}

void TestSmppSession::enquireLinkBothWays() {
    START_FAKE(fake, {QStringLiteral("--enquire-link"), QStringLiteral("100")});
    SmppConfig config = fake.config();
    config.enquireLinkIntervalMs = 100;
    SmppSession session(config);
    session.open();
    // The centre's enquire_link answered, and the session's own answered by the centre.
    QTRY_VERIFY_WITH_TIMEOUT(fake.log(QStringLiteral("enquire_link_resp")).size() >= 2 &&
                                 fake.log(QStringLiteral("enquire_link")).size() >= 2,
                             LongWaitMs);
    for (const QJsonObject &resp : fake.log(QStringLiteral("enquire_link_resp")))
        QCOMPARE(resp.value(QStringLiteral("status")).toInt(), 0);
    QCOMPARE(session.state(), SmppSession::State::Bound);
    QCOMPARE(fake.log(QStringLiteral("bind")).size(), 1);
}

void TestSmppSession::outcomeHandlerHoldsTheWindow() {
    START_FAKE(fake);
    SmppConfig config = fake.config();
    // Paced sending: the pacing timer, too, fires inside the handler's event loop.
    config.maxPerSecond = 2000;
    SmppSession session(config);
    QList<SmppOutcome> outcomes;
    int sentDuringHandler = 0;
    session.setOutcomeHandler([&](const SmppOutcome &o) {
        // A handler that takes its time and even runs the event loop (as a slow disk or a
        // dialog would): the freed window slot stays unused until it returns.
        const quint64 before = session.submitsSent();
        const qsizetype inFlight = session.inFlightCount();
        QTest::qWait(3);
        sentDuringHandler += static_cast<int>(session.submitsSent() - before);
        QCOMPARE(session.inFlightCount(), inFlight);
        outcomes.append(o);
    });
    constexpr int Count = 60;
    for (int i = 0; i < Count; ++i)
        session.submit(gsmMessage(i, numberFor(i), textFor(i)));
    session.open();
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), Count, LongWaitMs);
    QCOMPARE(sentDuringHandler, 0);
    for (int i = 0; i < Count; ++i) {
        QCOMPARE(outcomes[i].kind, SmppOutcome::Kind::Accepted);
        QCOMPARE(outcomes[i].id, quint64(i));
    }
    QCOMPARE(loggedNumbers(fake.log(QStringLiteral("submit_sm")), QStringLiteral("accepted")),
             range(Count));
}

void TestSmppSession::raisingHandlerStopsEverything() {
    START_FAKE(fake);
    SmppSession session(fake.config());
    int calls = 0;
    quint64 sentAtThrow = 0;
    session.setOutcomeHandler([&](const SmppOutcome &) {
        if (++calls == 5) {
            sentAtThrow = session.submitsSent();
            throw Error(QStringLiteral("Cannot write the journal: disk full"));
        }
    });
    QSignalSpy finished(&session, &SmppSession::finished);
    for (int i = 0; i < 100; ++i)
        session.submit(gsmMessage(i, numberFor(i), textFor(i)));
    session.open();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, LongWaitMs);
    QCOMPARE(finished[0][0].toString(), QStringLiteral("Cannot write the journal: disk full"));
    QTest::qWait(100);
    QCOMPARE(calls, 5);
    QCOMPARE(session.submitsSent(), sentAtThrow);
    QVERIFY(fake.log(QStringLiteral("submit_sm")).size() <= static_cast<qsizetype>(sentAtThrow));
}

void TestSmppSession::barrierComesBeforeAnythingMoreGoes() {
    ScriptedCentre centre;
    SmppConfig config = centre.config();
    config.window = 3;
    SmppSession session(config);
    // As a sending run does: each outcome recorded and the next message submitted from the
    // handler, the records made durable in the barrier.
    QList<SmppOutcome> outcomes;
    QList<SmppReceipt> receipts;
    qsizetype durableOutcomes = 0;
    qsizetype durableReceipts = 0;
    quint64 next = 0;
    session.setOutcomeHandler([&](const SmppOutcome &o) {
        outcomes.append(o);
        session.submit(gsmMessage(next, numberFor(int(next)), textFor(int(next))));
        ++next;
    });
    session.setReceiptHandler([&](const SmppReceipt &r) { receipts.append(r); });
    session.setBarrierHandler([&] {
        durableOutcomes = outcomes.size();
        durableReceipts = receipts.size();
    });
    session.open();
    QVERIFY(centre.bind());
    QTRY_COMPARE_WITH_TIMEOUT(session.state(), SmppSession::State::Bound, LongWaitMs);
    for (; next < 3; ++next)
        session.submit(gsmMessage(next, numberFor(int(next)), textFor(int(next))));

    for (int round = 0; round < 4; ++round) {
        QList<SmppPdu> window;
        for (int i = 0; i < 3; ++i) {
            const std::optional<SmppPdu> submit = centre.next();
            QVERIFY(submit && submit->command == SmppCommand::SubmitSm);
            // Whatever the session had reported was durable before this went.
            QCOMPARE(durableOutcomes, outcomes.size());
            window.append(*submit);
        }
        // The whole window answered at once: one barrier covers the three outcomes.
        const quint64 barriersBefore = session.barriers();
        QByteArray answers;
        for (const SmppPdu &submit : window)
            answers += encodeSmppPdu(acceptance(submit));
        centre.peer->write(answers);
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 3 * (round + 1), LongWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(session.barriers() > barriersBefore, LongWaitMs);
        QVERIFY(session.barriers() - barriersBefore <= 2);
    }

    SmppPdu deliver;
    deliver.command = SmppCommand::DeliverSm;
    deliver.sequence = 900;
    deliver.esmClass = 0x04;
    deliver.shortMessage = "id:1 sub:001 dlvrd:001 submit date:2612101200 done date:2612101201 "
                           "stat:DELIVRD err:000 text:Message 0";
    centre.peer->write(encodeSmppPdu(deliver));
    std::optional<SmppPdu> resp;
    do {
        resp = centre.next();
        QVERIFY(resp);
    } while (resp->command != SmppCommand::DeliverSmResp);
    QCOMPARE(resp->sequence, 900u);
    QCOMPARE(receipts.size(), 1);
    QCOMPARE(durableReceipts, 1);
}

void TestSmppSession::failingBarrierSendsNothingMore() {
    ScriptedCentre centre;
    SmppConfig config = centre.config();
    config.window = 2;
    SmppSession session(config);
    QList<SmppOutcome> outcomes;
    session.setOutcomeHandler([&](const SmppOutcome &o) {
        outcomes.append(o);
        if (o.kind == SmppOutcome::Kind::Accepted)
            session.submit(gsmMessage(10 + o.id, numberFor(10), textFor(10)));
    });
    bool diskFull = false;
    session.setBarrierHandler([&] {
        if (diskFull)
            throw Error(QStringLiteral("Cannot write the journal: disk full"));
    });
    QSignalSpy finished(&session, &SmppSession::finished);
    session.open();
    QVERIFY(centre.bind());
    QTRY_COMPARE_WITH_TIMEOUT(session.state(), SmppSession::State::Bound, LongWaitMs);
    session.submit(gsmMessage(0, numberFor(0), textFor(0)));
    session.submit(gsmMessage(1, numberFor(1), textFor(1)));
    QByteArray answers;
    for (int i = 0; i < 2; ++i) {
        const std::optional<SmppPdu> submit = centre.next();
        QVERIFY(submit && submit->command == SmppCommand::SubmitSm);
        answers += encodeSmppPdu(acceptance(*submit));
    }
    diskFull = true;
    centre.peer->write(answers);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, LongWaitMs);
    QCOMPARE(finished[0][0].toString(), QStringLiteral("Cannot write the journal: disk full"));
    // The two submissions made while recording those answers never reach the centre.
    QTRY_COMPARE_WITH_TIMEOUT(centre.peer->state(), QAbstractSocket::UnconnectedState, LongWaitMs);
    centre.received += centre.peer->readAll();
    while (const std::optional<SmppPdu> pdu = takePdu(centre.received))
        QVERIFY2(pdu->command != SmppCommand::SubmitSm, "a submit_sm went after the failure");
}

void TestSmppSession::stopAnswersInFlightAndUnbinds() {
    START_FAKE(fake, {QStringLiteral("--delay"), QStringLiteral("30")});
    SmppConfig config = fake.config();
    config.window = 5;
    SmppSession session(config);
    Recorder recorder;
    session.setOutcomeHandler([&](const SmppOutcome &o) {
        recorder.outcomes.append(o);
        if (recorder.outcomes.size() == 1)
            session.stop();
    });
    QSignalSpy finished(&session, &SmppSession::finished);
    constexpr int Count = 40;
    for (int i = 0; i < Count; ++i)
        session.submit(gsmMessage(i, numberFor(i), textFor(i)));
    session.open();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, LongWaitMs);
    QCOMPARE(finished[0][0].toString(), QString());
    QCOMPARE(recorder.outcomes.size(), Count);
    // Those sent were answered; the rest came back untouched, in order.
    const QList<quint64> accepted = recorder.ids(SmppOutcome::Kind::Accepted);
    const QList<quint64> notSent = recorder.ids(SmppOutcome::Kind::NotSent);
    QVERIFY(accepted.size() >= 1 && accepted.size() <= config.window + 1);
    QCOMPARE(accepted.size() + notSent.size(), Count);
    for (int i = 0; i < notSent.size(); ++i)
        QCOMPARE(notSent[i], quint64(accepted.size() + i));
    QCOMPARE(fake.log(QStringLiteral("submit_sm")).size(), accepted.size());
    QCOMPARE(fake.log(QStringLiteral("unbind")).size(), 1);
}

void TestSmppSession::rateLimitSpacesSubmits() {
    START_FAKE(fake);
    SmppConfig config = fake.config();
    config.maxPerSecond = 100;
    SmppSession session(config);
    Recorder recorder;
    recorder.attach(session);
    QSignalSpy bound(&session, &SmppSession::bound);
    session.open();
    QTRY_COMPARE_WITH_TIMEOUT(bound.size(), 1, LongWaitMs);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 21; ++i)
        session.submit(gsmMessage(i, numberFor(i), textFor(i)));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.outcomes.size(), 21, LongWaitMs);
    // Twenty gaps of 10 ms at least, whatever the window allows.
    QVERIFY2(clock.elapsed() >= 195, qPrintable(QString::number(clock.elapsed())));
}

void TestSmppSession::centreSpeaksNonsense() {
    // A peer that says what a well-behaved centre never does.
    ScriptedCentre centre;
    SmppConfig config = centre.config();
    config.reconnectDelayMs = 50;
    config.maxReconnectAttempts = 1;
    SmppSession session(config);
    QSignalSpy lost(&session, &SmppSession::connectionLost);
    QSignalSpy notices(&session, &SmppSession::notice);
    session.open();
    QVERIFY(centre.bind());
    QTRY_COMPARE_WITH_TIMEOUT(session.state(), SmppSession::State::Bound, LongWaitMs);
    QTcpSocket *peer = centre.peer;
    std::optional<SmppPdu> pdu;
    const auto next = [&] {
        pdu = centre.next();
        return pdu.has_value();
    };

    SmppPdu unknown;
    unknown.command = static_cast<SmppCommand>(0x00000777);
    unknown.sequence = 5;
    peer->write(encodeSmppPdu(unknown));
    QVERIFY(next());
    QCOMPARE(pdu->command, SmppCommand::GenericNack);
    QCOMPARE(pdu->sequence, 5u);
    QCOMPARE(pdu->status, SmppStatusInvalidCommandId);

    // A deliver_sm whose sm_length runs past its end, then an enquire_link behind it.
    QByteArray broken = encodeSmppPdu([] {
        SmppPdu deliver;
        deliver.command = SmppCommand::DeliverSm;
        deliver.sequence = 6;
        deliver.shortMessage = "abc";
        return deliver;
    }());
    broken[broken.size() - 4] = 9;
    SmppPdu enquire;
    enquire.command = SmppCommand::EnquireLink;
    enquire.sequence = 7;
    peer->write(broken + encodeSmppPdu(enquire));
    QVERIFY(next());
    QCOMPARE(pdu->command, SmppCommand::GenericNack);
    QCOMPARE(pdu->sequence, 6u);
    QCOMPARE(pdu->status, SmppStatusInvalidCommandLength);
    QVERIFY(next());
    QCOMPARE(pdu->command, SmppCommand::EnquireLinkResp);
    QCOMPARE(pdu->sequence, 7u);

    // A response nobody waits for is noted and ignored.
    SmppPdu stray;
    stray.command = SmppCommand::SubmitSmResp;
    stray.sequence = 999;
    stray.messageId = "1";
    peer->write(encodeSmppPdu(stray));
    QTRY_VERIFY_WITH_TIMEOUT(!notices.isEmpty(), LongWaitMs);
    QCOMPARE(session.state(), SmppSession::State::Bound);

    // An impossible length: nothing behind it can be read, so the session connects anew.
    peer->write(QByteArray::fromHex("FFFFFFFF00000004"));
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, LongWaitMs);
    QVERIFY2(lost[0][0].toString().contains(QLatin1String("impossible length")),
             qPrintable(lost[0][0].toString()));
    QTRY_VERIFY_WITH_TIMEOUT(centre.server.hasPendingConnections(), LongWaitMs);
}

QTEST_GUILESS_MAIN(TestSmppSession)
#include "tst_smppsession.moc"
