// Whole sending runs through an SMS centre: the outbox, the SMPP worker and the outcome log
// against the fake centre (tools/smsc-fake) on loopback, checked on the centre's side by its log.

#include "app/AppData.h"
#include "base/OleDate.h"
#include "link/Phone.h"
#include "sending/SendingWorker.h"
#include "support/SmscFake.h"
#include "support/TestFiles.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QSet>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int LongWaitMs = 30000;

QByteArray numberFor(int i) {
    return QByteArray("+4915100") + QByteArray::number(i).rightJustified(5, '0');
}

// A data module on a temporary settings file whose runs go to the fake centre. The centre is
// started before any thread of the run.
struct SmppRun {
    explicit SmppRun(const SmscFake &fake, const QString &password = QStringLiteral("secret")) {
        data = std::make_unique<AppData>(dir.filePath(QStringLiteral("pelorvane.ini")));
        data->settings->setSessionConnectionKind(ConnectionKind::SmsCentre);
        smpp.host = QStringLiteral("127.0.0.1");
        smpp.port = fake.port();
        smpp.systemId = QStringLiteral("pelorvane");
        smpp.source = QStringLiteral("Club");
        data->settings->setSessionSmppSettings(smpp);
        data->smppPassword = [password] { return std::optional(password.toLatin1()); };
        data->phone->onWorkerDone = [this](Phone &phone) {
            if (auto *sender = qobject_cast<SendingWorker *>(phone.endedWorker()))
                summary = sender->summary();
            reports = phone.reports;
        };
    }

    void addMessage(const QByteArray &number, const QString &text, bool isLong = false) {
        Message message;
        message.number = number;
        message.text = text;
        message.isLong = isLong;
        message.created = oleNow();
        data->outboxList->add(message);
    }

    bool run() {
        data->settings->setSessionSmppSettings(smpp);
        data->phone->start(data->newSender());
        QElapsedTimer timer;
        timer.start();
        while (data->phone->isBusy() && timer.elapsed() < LongWaitMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return !data->phone->isBusy();
    }

    Message outbox(int i) const { return data->outboxList->get(i); }

    QTemporaryDir dir;
    SmppSettings smpp;
    std::unique_ptr<AppData> data;
    RunSummary summary;
    QList<QByteArray> reports;
};

#define START_FAKE(fake, ...)                                                                      \
    SKIP_WITHOUT_SMSC_FAKE();                                                                      \
    SmscFake fake;                                                                                 \
    QVERIFY2(fake.start(__VA_ARGS__), qPrintable(fake.errorText()))

QString field(const QJsonObject &entry, const char *name) {
    return entry.value(QLatin1String(name)).toVariant().toString();
}

// The numbers of the logged texts "Message N" with one outcome, in log order.
QList<int> loggedNumbers(const QList<QJsonObject> &entries, const QString &outcome) {
    QList<int> numbers;
    for (const QJsonObject &entry : entries)
        if (field(entry, "outcome") == outcome)
            numbers.append(field(entry, "text").section(QLatin1Char(' '), 1).toInt());
    return numbers;
}

} // namespace

class TestSmppSender : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void messagesArriveAsSent_data();
    void messagesArriveAsSent();
    void refusalsFailWithTheirReason();
    void throttlingKeepsOrderAndSendsOnce();
    void droppedConnectionLeavesInFlightUnknown();
    void stopAwaitsAnswersAndUnbinds();
    void receiptsSetDelivery();
    void receiptsOfAnEarlierRunComeAtTheNextBind();
    void wrongPasswordCannotStart();
    void runsOverTls_data();
    void runsOverTls();
    void rateLimitPacesTheRun();
    void settingsKeepTheConnectionButNoSessionOverride();
};

void TestSmppSender::messagesArriveAsSent_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isLong");
    QTest::addColumn<bool>("latin1");
    QTest::addColumn<int>("dataCoding");
    QTest::addColumn<QStringList>("parts");

    const QString gsm = QStringLiteral("Price 5\u20AC [sale] @\u00A3$ \u00E9\u00C4");
    QTest::newRow("GSM as septets") << gsm << false << false << 0 << QStringList{gsm};
    const QString cyrillic = QStringLiteral("\u041F\u0440\u0438\u0432\u0435\u0442");
    QTest::newRow("UCS-2") << cyrillic << false << false << 8 << QStringList{cyrillic};
    const QString latin1 = QStringLiteral("Gr\u00FC\u00DFe {Club}");
    QTest::newRow("Latin-1 default alphabet")
        << latin1 << false << true << 3 << QStringList{latin1};
    QTest::newRow("euro sign with Latin-1 default goes as UCS-2")
        << gsm << false << true << 8 << QStringList{gsm};
    const QString longText =
        QString(153, QLatin1Char('a')) + QString(153, QLatin1Char('b')) + QStringLiteral("end");
    QTest::newRow("long GSM in three parts")
        << longText << true << false << 0
        << QStringList{QString(153, QLatin1Char('a')), QString(153, QLatin1Char('b')),
                       QStringLiteral("end")};
    QTest::newRow("not long: cut to one message")
        << longText << false << false << 0
        << QStringList{QString(153, QLatin1Char('a')) + QString(7, QLatin1Char('b'))};
}

void TestSmppSender::messagesArriveAsSent() {
    QFETCH(QString, text);
    QFETCH(bool, isLong);
    QFETCH(bool, latin1);
    QFETCH(int, dataCoding);
    QFETCH(QStringList, parts);
    START_FAKE(fake);
    SmppRun run(fake);
    run.smpp.latin1Default = latin1;
    run.addMessage("+4915112345678", text, isLong);
    QVERIFY(run.run());
    QVERIFY(run.summary.started);
    QCOMPARE(run.outbox(0).status, MessageStatus::Sent);

    const QList<QJsonObject> logged = fake.log(QStringLiteral("submit_sm"));
    QCOMPARE(logged.size(), parts.size());
    QString reference;
    for (int k = 0; k < parts.size(); ++k) {
        const QJsonObject &entry = logged[k];
        QCOMPARE(field(entry, "text"), parts[k]);
        QCOMPARE(entry.value(QLatin1String("data_coding")).toInt(), dataCoding);
        QCOMPARE(field(entry, "source"), QStringLiteral("Club"));
        QCOMPARE(entry.value(QLatin1String("source_ton")).toInt(), 5);
        QCOMPARE(field(entry, "destination"), QStringLiteral("4915112345678"));
        QCOMPARE(entry.value(QLatin1String("destination_ton")).toInt(), 1);
        QCOMPARE(entry.value(QLatin1String("destination_npi")).toInt(), 1);
        QCOMPARE(entry.value(QLatin1String("registered_delivery")).toInt(), 1);
        const QString udh = field(entry, "udh");
        if (parts.size() == 1) {
            QCOMPARE(entry.value(QLatin1String("esm_class")).toInt(), 0);
            QVERIFY(udh.isEmpty());
            continue;
        }
        // The modem path's header: 05 00 03, one reference, the count, the part's number.
        QCOMPARE(entry.value(QLatin1String("esm_class")).toInt(), 0x40);
        QCOMPARE(udh.size(), 12);
        QCOMPARE(udh.left(6), QStringLiteral("050003"));
        if (k == 0)
            reference = udh.mid(6, 2);
        QCOMPARE(udh.mid(6, 2), reference);
        QCOMPARE(udh.mid(8), QStringLiteral("%1%2")
                                 .arg(parts.size(), 2, 10, QLatin1Char('0'))
                                 .arg(k + 1, 2, 10, QLatin1Char('0')));
    }
    // The message is known by its first part's id.
    QCOMPARE(run.outbox(0).messageId, field(logged[0], "message_id").toLatin1());
}

void TestSmppSender::refusalsFailWithTheirReason() {
    START_FAKE(fake, {QStringLiteral("--refuse"), QStringLiteral("491510000002:0x0B")});
    SmppRun run(fake);
    for (int i = 1; i <= 3; ++i)
        run.addMessage(numberFor(i), QStringLiteral("Message %1").arg(i));
    run.addMessage("no number", QStringLiteral("Message 4"));
    QVERIFY(run.run());
    QCOMPARE(run.outbox(0).status, MessageStatus::Sent);
    QCOMPARE(run.outbox(1).status, MessageStatus::Failed);
    QCOMPARE(run.outbox(1).reason, QStringLiteral("ESME_RINVDSTADR: invalid destination address"));
    QCOMPARE(run.outbox(2).status, MessageStatus::Sent);
    QCOMPARE(run.outbox(3).status, MessageStatus::Failed);
    QCOMPARE(run.outbox(3).reason, QStringLiteral("invalid phone number"));
    QCOMPARE(run.summary.sent, 2);
    QCOMPARE(run.summary.failed, 2);
    QCOMPARE(fake.log(QStringLiteral("submit_sm")).size(), 3);
}

void TestSmppSender::throttlingKeepsOrderAndSendsOnce() {
    START_FAKE(fake, {QStringLiteral("--throttle-after"), QStringLiteral("100"),
                      QStringLiteral("--throttle-for"), QStringLiteral("300")});
    SmppRun run(fake);
    constexpr int Count = 300;
    QList<int> expected;
    for (int i = 0; i < Count; ++i) {
        run.addMessage(numberFor(i), QStringLiteral("Message %1").arg(i));
        expected.append(i);
    }
    QVERIFY(run.run());
    QCOMPARE(run.summary.sent, Count);
    const QList<QJsonObject> logged = fake.log(QStringLiteral("submit_sm"));
    QCOMPARE(loggedNumbers(logged, QStringLiteral("accepted")), expected);
    QVERIFY(!loggedNumbers(logged, QStringLiteral("throttled")).isEmpty());
    // The ids the centre gave are the ones kept, each message its own.
    QSet<QByteArray> ids;
    for (int i = 0; i < Count; ++i)
        ids.insert(run.outbox(i).messageId);
    QCOMPARE(ids.size(), Count);
}

void TestSmppSender::droppedConnectionLeavesInFlightUnknown() {
    START_FAKE(fake, {QStringLiteral("--drop-after"), QStringLiteral("50")});
    SmppRun run(fake);
    constexpr int Count = 150;
    for (int i = 0; i < Count; ++i)
        run.addMessage(numberFor(i), QStringLiteral("Message %1").arg(i));
    QVERIFY(run.run());
    const QList<QJsonObject> logged = fake.log(QStringLiteral("submit_sm"));
    const QList<int> accepted = loggedNumbers(logged, QStringLiteral("accepted"));
    QCOMPARE(loggedNumbers(logged, QStringLiteral("dropped")), QList<int>{49});
    QCOMPARE(QSet<int>(accepted.cbegin(), accepted.cend()).size(), accepted.size());
    int unknown = 0;
    for (int i = 0; i < Count; ++i) {
        const Message m = run.outbox(i);
        // Never Sent unless the centre took it. One it took may still be Unknown: its answer
        // can be lost with the connection, and then it is never sent again.
        if (m.status == MessageStatus::Sent) {
            QVERIFY(accepted.contains(i));
        } else {
            QCOMPARE(m.status, MessageStatus::Unknown);
            ++unknown;
        }
    }
    QVERIFY2(unknown >= 1 && unknown <= 10, qPrintable(QString::number(unknown)));
    QCOMPARE(run.summary.unknown, unknown);
    QCOMPARE(run.summary.sent, Count - unknown);
}

// Stop mid-run: the messages the centre was given get their answers, the others go back to
// waiting, nothing is left Sending or sent twice, and the session unbinds.
void TestSmppSender::stopAwaitsAnswersAndUnbinds() {
    START_FAKE(fake, {QStringLiteral("--delay"), QStringLiteral("40")});
    SmppRun run(fake);
    constexpr int Count = 200;
    for (int i = 0; i < Count; ++i)
        run.addMessage(numberFor(i), QStringLiteral("Message %1").arg(i));
    run.data->settings->setSessionSmppSettings(run.smpp);
    run.data->phone->start(run.data->newSender());
    QVERIFY(QTest::qWaitFor([&] { return fake.log(QStringLiteral("submit_sm")).size() >= 20; },
                            LongWaitMs));
    run.data->phone->stopWorker();
    QVERIFY(QTest::qWaitFor([&] { return !run.data->phone->isBusy(); }, LongWaitMs));

    const QList<int> accepted =
        loggedNumbers(fake.log(QStringLiteral("submit_sm")), QStringLiteral("accepted"));
    QCOMPARE(QSet<int>(accepted.cbegin(), accepted.cend()).size(), accepted.size());
    QVERIFY(!accepted.isEmpty() && accepted.size() < Count);
    for (int i = 0; i < Count; ++i) {
        const Message m = run.outbox(i);
        QCOMPARE(m.status, accepted.contains(i) ? MessageStatus::Sent : MessageStatus::Pending);
    }
    QCOMPARE(run.summary.sent, accepted.size());
    QCOMPARE(run.summary.notSent, Count - accepted.size());
    QVERIFY(QTest::qWaitFor([&] { return fake.log(QStringLiteral("unbind")).size() == 1; }, 5000));
}

void TestSmppSender::receiptsSetDelivery() {
    START_FAKE(fake, {QStringLiteral("--receipts"), QStringLiteral("delivered"),
                      QStringLiteral("--receipt-for"), QStringLiteral("491510000001:undelivered"),
                      QStringLiteral("--receipt-for"), QStringLiteral("491510000002:expired"),
                      QStringLiteral("--hex-ids"), QStringLiteral("--receipt-tlv")});
    SmppRun run(fake);
    for (int i = 0; i < 3; ++i)
        run.addMessage(numberFor(i), QStringLiteral("Message %1").arg(i));
    // Its parts' receipts come while later parts are still out.
    run.addMessage(numberFor(3), QString(400, QLatin1Char('x')), true);
    const QString project = run.dir.filePath(QStringLiteral("receipts.sms"));
    run.data->fileName = project;
    QVERIFY(run.data->save());
    QVERIFY(run.run());
    QTRY_COMPARE_WITH_TIMEOUT(fake.log(QStringLiteral("deliver_sm_resp")).size(), 6, LongWaitMs);
    QCOMPARE(run.outbox(0).delivery, DeliveryState::Delivered);
    QCOMPARE(run.outbox(0).deliveryDetail, QStringLiteral("DELIVRD"));
    QCOMPARE(run.outbox(1).delivery, DeliveryState::Undelivered);
    QCOMPARE(run.outbox(1).deliveryDetail, QStringLiteral("UNDELIV, error 001"));
    QCOMPARE(run.outbox(2).delivery, DeliveryState::Expired);
    QCOMPARE(run.outbox(3).status, MessageStatus::Sent);
    QCOMPARE(run.outbox(3).delivery, DeliveryState::Delivered);

    // The project's journal holds the ids and the delivery states until the next save; a
    // receipt's record goes to its sent message rather than adding the message again.
    AppData reloaded(run.dir.filePath(QStringLiteral("other.ini")));
    reloaded.load(project);
    QCOMPARE(reloaded.sentList->count(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(reloaded.sentList->get(i).messageId, run.outbox(i).messageId);
        QCOMPARE(reloaded.sentList->get(i).delivery, run.outbox(i).delivery);
    }
}

void TestSmppSender::receiptsOfAnEarlierRunComeAtTheNextBind() {
    // Receipts in the text alone, decimal where the answers were hexadecimal.
    START_FAKE(fake, {QStringLiteral("--receipts"), QStringLiteral("undelivered"),
                      QStringLiteral("--receipt-delay"), QStringLiteral("1500"),
                      QStringLiteral("--hex-ids")});
    SmppRun run(fake);
    run.addMessage(numberFor(1), QStringLiteral("Message 1"));
    run.addMessage(numberFor(2), QStringLiteral("Message 2"));
    QVERIFY(run.run());
    QCOMPARE(run.data->moveSentMessages(), 2);
    run.data->modified = false;
    QCOMPARE(run.data->sentList->get(0).delivery, DeliveryState::None);
    // The receipts come while no one is bound: the centre keeps them for the next bind.
    QTRY_VERIFY_WITH_TIMEOUT(fake.log(QStringLiteral("close")).size() >= 1, LongWaitMs);
    QTest::qWait(1700);
    QVERIFY(run.run());
    QCOMPARE(run.summary.sent, 0);
    QCOMPARE(run.data->sentList->get(0).delivery, DeliveryState::Undelivered);
    QCOMPARE(run.data->sentList->get(1).delivery, DeliveryState::Undelivered);
    QVERIFY(run.data->modified);
}

void TestSmppSender::wrongPasswordCannotStart() {
    START_FAKE(fake, {QStringLiteral("--password"), QStringLiteral("secret")});
    SmppRun run(fake, QStringLiteral("wrong"));
    run.addMessage(numberFor(1), QStringLiteral("Message 1"));
    QVERIFY(run.run());
    QVERIFY(!run.summary.started);
    QCOMPARE(run.outbox(0).status, MessageStatus::Pending);
    QCOMPARE(run.reports.join('\n'),
             QByteArray("The SMS centre refused the bind: ESME_RINVPASWD: invalid password"));
    QVERIFY(fake.log(QStringLiteral("submit_sm")).isEmpty());
}

void TestSmppSender::runsOverTls_data() {
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QByteArray>("report");
    QTest::newRow("its certificate trusted") << SmscFake::certificatePath() << QByteArray();
    // The system's store knows nothing of a self-signed certificate.
    QTest::newRow("certificate unknown") << QString() << QByteArray("certificate");
    QTest::newRow("certificate file missing")
        << QStringLiteral("/nonexistent/centre.pem")
        << QByteArray("No certificate can be read from /nonexistent/centre.pem");
}

void TestSmppSender::runsOverTls() {
    QFETCH(QString, certificate);
    QFETCH(QByteArray, report);
    if (!QSslSocket::supportsSsl())
        QSKIP("SKIPPED: Qt has no TLS backend here");
    START_FAKE(fake, {QStringLiteral("--tls-cert"), SmscFake::certificatePath(),
                      QStringLiteral("--tls-key"), SmscFake::keyPath()});
    SmppRun run(fake);
    run.smpp.tls = true;
    run.smpp.certificate = certificate;
    run.addMessage(numberFor(1), QStringLiteral("Message 1"));
    run.addMessage(numberFor(2), QStringLiteral("Gr\u00fc\u00dfe \u20ac"));
    if (certificate.startsWith(QLatin1String("/nonexistent"))) {
        // The run cannot be made at all: nothing is claimed.
        run.data->settings->setSessionSmppSettings(run.smpp);
        QCOMPARE(errorMessage([&] { delete run.data->newSender(); }),
                 QString::fromLatin1(report) +
                     QStringLiteral(": it must be a PEM file holding the SMS centre's "
                                    "certificate."));
        QCOMPARE(run.outbox(0).status, MessageStatus::Pending);
        return;
    }
    QVERIFY(run.run());
    const QList<QJsonObject> submits = fake.log(QStringLiteral("submit_sm"));
    if (report.isEmpty()) {
        QCOMPARE(run.summary.sent, 2);
        QCOMPARE(submits.size(), 2);
        QCOMPARE(field(submits[1], "text"), QStringLiteral("Gr\u00fc\u00dfe \u20ac"));
        QCOMPARE(run.outbox(1).status, MessageStatus::Sent);
    } else {
        QVERIFY(!run.summary.started);
        QVERIFY2(run.reports.join('\n').contains(report), run.reports.join('\n').constData());
        QVERIFY(submits.isEmpty());
        QCOMPARE(run.outbox(0).status, MessageStatus::Pending);
    }
}

void TestSmppSender::rateLimitPacesTheRun() {
    START_FAKE(fake);
    SmppRun run(fake);
    run.smpp.rate = 40;
    constexpr int Count = 21;
    for (int i = 0; i < Count; ++i)
        run.addMessage(numberFor(i), QStringLiteral("Message %1").arg(i));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(run.run());
    // Twenty gaps of 25 ms at least, whatever the window allows.
    QVERIFY2(clock.elapsed() >= 490, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(run.summary.sent, Count);
    QCOMPARE(loggedNumbers(fake.log(QStringLiteral("submit_sm")), QStringLiteral("accepted")), [] {
        QList<int> all;
        for (int i = 0; i < Count; ++i)
            all.append(i);
        return all;
    }());
}

void TestSmppSender::settingsKeepTheConnectionButNoSessionOverride() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("pelorvane.ini"));
    SmppSettings stored;
    stored.host = QStringLiteral("smsc.example.net");
    stored.port = 3550;
    stored.tls = true;
    stored.certificate = QStringLiteral("/etc/pelorvane/gateway.pem");
    stored.systemId = QStringLiteral("club");
    stored.systemType = QStringLiteral("VMA");
    stored.source = QStringLiteral("Club");
    stored.bindMode = SmppBindMode::Transmitter;
    stored.receipts = false;
    stored.window = 25;
    stored.rate = 12.5;
    stored.latin1Default = true;
    {
        Settings settings(file);
        QCOMPARE(settings.connectionKind(), ConnectionKind::Phone);
        QCOMPARE(settings.smppSettings(), SmppSettings());
        settings.setConnectionKind(ConnectionKind::SmsCentre);
        settings.setSmppSettings(stored);
        SmppSettings session = stored;
        session.host = QStringLiteral("127.0.0.1");
        settings.setSessionSmppSettings(session);
        settings.setSessionConnectionKind(ConnectionKind::Phone);
        QCOMPARE(settings.smppSettings().host, QStringLiteral("127.0.0.1"));
        QVERIFY(settings.save());
    }
    const Settings settings(file);
    QCOMPARE(settings.connectionKind(), ConnectionKind::SmsCentre);
    QCOMPARE(settings.smppSettings(), stored);
}

QTEST_GUILESS_MAIN(TestSmppSender)
#include "tst_smppsender.moc"
