// pelorvane-cli send and probe through an SMS centre (the fake one on loopback, started before
// any thread of the run), and what show then gives of the messages.

#include "app/AppData.h"
#include "base/OleDate.h"
#include "support/CliRun.h"
#include "support/SmscFake.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A saved project whose outbox holds one message to each number.
void writeProject(const QString &fileName, const QList<QByteArray> &numbers) {
    AppData data;
    for (const QByteArray &number : numbers) {
        Message message;
        message.number = number;
        message.text = QStringLiteral("Hello ") + QString::fromLatin1(number);
        message.created = oleNow();
        data.outboxList->add(message);
    }
    data.fileName = fileName;
    data.save();
}

} // namespace

class TestCliSmpp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sendFilesMessagesWithTheirDelivery();
    void refusedBindCannotStart_data();
    void refusedBindCannotStart();
    void probeSaysHowTheBindWent();
    void sendOverTlsTrustsTheGivenCertificate();
    void wrongCommandLines_data();
    void wrongCommandLines();

private:
    QTemporaryDir m_dir;
};

void TestCliSmpp::sendFilesMessagesWithTheirDelivery() {
    SKIP_WITHOUT_SMSC_FAKE();
    SmscFake fake;
    QVERIFY2(fake.start({"--password", "secret", "--receipts", "delivered", "--receipt-for",
                         "4915100000002:undelivered"}),
             qPrintable(fake.errorText()));
    const QString project = m_dir.filePath(QStringLiteral("receipts.sms"));
    writeProject(project, {"+4915100000001", "+4915100000002", "+4915100000003"});
    const QString passwordFile = m_dir.filePath(QStringLiteral("password"));
    QFile file(passwordFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("secret\n");
    file.close();

    CliRun run = runCliInProcess(
        {"send", project, "--smpp", QStringLiteral("127.0.0.1:%1").arg(fake.port()), "--system-id",
         "pelorvane", "--password-file", passwordFile, "--source", "+4930123456"});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains(QLatin1String("Sent 3 of 3")), qPrintable(run.out));
    QVERIFY2(run.err.contains(QLatin1String("Message 3 of 3 to +4915100000003: sent")),
             qPrintable(run.err));
    const QList<QJsonObject> submits = fake.log(QStringLiteral("submit_sm"));
    QCOMPARE(submits.size(), 3);
    QCOMPARE(submits[0].value(QLatin1String("source")).toString(), QStringLiteral("4930123456"));
    QCOMPARE(submits[0].value(QLatin1String("source_ton")).toInt(), 1);

    // What the project file keeps, through show.
    run = runCliInProcess({"show", project});
    QCOMPARE(run.status, 0);
    const QJsonArray sent =
        QJsonDocument::fromJson(run.out.toUtf8()).object().value(QLatin1String("sent")).toArray();
    QCOMPARE(sent.size(), 3);
    const QStringList expected = {"delivered", "undelivered", "delivered"};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject message = sent[i].toObject();
        QCOMPARE(message.value(QLatin1String("delivery")).toString(), expected[i]);
        QCOMPARE(message.value(QLatin1String("messageId")).toString(),
                 submits[i].value(QLatin1String("message_id")).toString());
    }
}

void TestCliSmpp::refusedBindCannotStart_data() {
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QString>("error");
    QTest::newRow("wrong password")
        << QByteArray("wrong")
        << QStringLiteral("The SMS centre refused the bind: ESME_RINVPASWD: invalid password");
    QTest::newRow("no password at all")
        << QByteArray() << QStringLiteral("The SMS centre refused the bind: ESME_RINVPASWD");
}

void TestCliSmpp::refusedBindCannotStart() {
    QFETCH(QByteArray, password);
    QFETCH(QString, error);
    SKIP_WITHOUT_SMSC_FAKE();
    SmscFake fake;
    QVERIFY2(fake.start({"--password", "secret"}), qPrintable(fake.errorText()));
    const QString project = m_dir.filePath(QStringLiteral("refused.sms"));
    writeProject(project, {"+4915100000001"});
    if (password.isEmpty())
        qunsetenv("PELORVANE_SMPP_PASSWORD");
    else
        qputenv("PELORVANE_SMPP_PASSWORD", password);
    const CliRun run =
        runCliInProcess({"send", project, "--smpp", QStringLiteral("127.0.0.1:%1").arg(fake.port()),
                         "--system-id", "pelorvane"});
    qunsetenv("PELORVANE_SMPP_PASSWORD");
    QCOMPARE(run.status, 3);
    QVERIFY2(run.out.startsWith(error), qPrintable(run.out));
    AppData data;
    data.load(project);
    QCOMPARE(data.outboxList->get(0).status, MessageStatus::Pending);
}

void TestCliSmpp::probeSaysHowTheBindWent() {
    SKIP_WITHOUT_SMSC_FAKE();
    SmscFake fake;
    QVERIFY2(fake.start({"--password", "secret"}), qPrintable(fake.errorText()));
    const QString target = QStringLiteral("127.0.0.1:%1").arg(fake.port());
    qputenv("PELORVANE_SMPP_PASSWORD", "secret");
    CliRun run = runCliInProcess({"probe", "--smpp", target, "--system-id", "pelorvane"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("Connected as pelorvane to %1\n").arg(target));
    qputenv("PELORVANE_SMPP_PASSWORD", "wrong");
    run = runCliInProcess({"probe", "--smpp", target, "--system-id", "pelorvane"});
    qunsetenv("PELORVANE_SMPP_PASSWORD");
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(QLatin1String("ESME_RINVPASWD")), qPrintable(run.err));
    QCOMPARE(fake.log(QStringLiteral("unbind")).size(), 1);
}

void TestCliSmpp::sendOverTlsTrustsTheGivenCertificate() {
    SKIP_WITHOUT_SMSC_FAKE();
    if (!QSslSocket::supportsSsl())
        QSKIP("SKIPPED: Qt has no TLS backend here");
    SmscFake fake;
    QVERIFY2(
        fake.start({"--tls-cert", SmscFake::certificatePath(), "--tls-key", SmscFake::keyPath()}),
        qPrintable(fake.errorText()));
    const QString project = m_dir.filePath(QStringLiteral("tls.sms"));
    writeProject(project, {"+4915100000001"});
    const QStringList centre{"--smpp",      QStringLiteral("127.0.0.1:%1").arg(fake.port()),
                             "--system-id", "pelorvane",
                             "--tls",       "--certificate"};

    CliRun run = runCliInProcess(QStringList{"send", project} + centre +
                                 QStringList{m_dir.filePath(QStringLiteral("missing.pem"))});
    QCOMPARE(run.status, 3);
    QVERIFY2(run.err.startsWith(QLatin1String("No certificate can be read from ")),
             qPrintable(run.err));

    run = runCliInProcess(QStringList{"send", project} + centre +
                          QStringList{SmscFake::certificatePath()});
    QCOMPARE(run.status, 0);
    QCOMPARE(fake.log(QStringLiteral("submit_sm")).size(), 1);
}

void TestCliSmpp::wrongCommandLines_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no system id") << QStringList{"--smpp", "127.0.0.1:2775"};
    QTest::newRow("no port") << QStringList{"--smpp", "127.0.0.1", "--system-id", "x"};
    QTest::newRow("window out of range")
        << QStringList{"--smpp", "h:1", "--system-id", "x", "--window", "0"};
    QTest::newRow("unknown bind mode")
        << QStringList{"--smpp", "h:1", "--system-id", "x", "--bind", "receiver"};
    QTest::newRow("centre options without --smpp") << QStringList{"--no-receipts"};
    QTest::newRow("certificate without TLS")
        << QStringList{"--smpp", "h:1", "--system-id", "x", "--certificate", "c.pem"};
    QTest::newRow("centre and phone at once")
        << QStringList{"--smpp", "h:1", "--system-id", "x", "--simulate"};
}

void TestCliSmpp::wrongCommandLines() {
    QFETCH(QStringList, args);
    const CliRun run =
        runCliInProcess(QStringList{"send", m_dir.filePath(QStringLiteral("none.sms"))} + args);
    QCOMPARE(run.status, 2);
    QVERIFY(!run.err.isEmpty());
}

QTEST_GUILESS_MAIN(TestCliSmpp)
#include "tst_cli_smpp.moc"
