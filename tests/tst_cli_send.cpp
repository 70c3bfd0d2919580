// pelorvane-cli queue and send: the outbox as Send to Outbox fills it, and a whole run through
// the simulated phone, in-process and as a real process stopped by Ctrl+C.

#include "app/ComposeOutbox.h"
#include "app/Database.h"
#include "tools/cli/Cli.h"
#include "tools/modemsim/ModemSim.h"

#include <QBuffer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

struct TCliRun {
    int Status = -1;
    QString Out;
    QString Err;
};

TCliRun RunCliInProcess(const QStringList &args) {
    TCliRun run;
    QTextStream out(&run.Out);
    QTextStream err(&run.Err);
    QBuffer in;
    in.open(QIODevice::ReadOnly);
    run.Status = RunCli(args, out, err, in);
    out.flush();
    err.flush();
    return run;
}

std::unique_ptr<TDataModule1> LoadProject(const QString &fileName) {
    auto data = std::make_unique<TDataModule1>();
    data->Load(fileName);
    return data;
}

QString CliPath() {
    return qEnvironmentVariable("PELORVANE_BINARY_DIR") +
           QStringLiteral("/tools/cli/pelorvane-cli");
}

} // namespace

class TestCliSend : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void splitRecipients_data();
    void splitRecipients();
    void queueTypedAllChecked();
    void queueRefusesBadArguments_data();
    void queueRefusesBadArguments();
    void sendWholeOutbox();
    void sendThroughPortStopsAtRefusal();
    void sendStoppedByCtrlC();

private:
    QTemporaryDir FDir;
};

void TestCliSend::splitRecipients_data() {
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QList<QByteArray>>("recipients");
    QTest::newRow("blank entry kept for the skip rule")
        << QByteArray("111;222; ;333") << QList<QByteArray>{"111", "222", " ", "333"};
    QTest::newRow("leading space kept")
        << QByteArray("111; 222") << QList<QByteArray>{"111", " 222"};
    QTest::newRow("final separator") << QByteArray("111;") << QList<QByteArray>{"111"};
    QTest::newRow("CR LF and LF lines")
        << QByteArray("1\r\n2\n3\r4") << QList<QByteArray>{"1", "2", "3", "4"};
    QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
}

void TestCliSend::splitRecipients() {
    QFETCH(QByteArray, to);
    QFETCH(QList<QByteArray>, recipients);
    QCOMPARE(SplitRecipients(to), recipients);
}

void TestCliSend::queueTypedAllChecked() {
    const QString project = FDir.filePath(QStringLiteral("queue.sms"));
    {
        TDataModule1 data;
        for (const char *number : {"111", "222", "333"}) {
            TContact contact;
            contact.Number = number;
            contact.Checked = QByteArray(number) != "222";
            data.ContactList->Add(contact);
        }
        data.OnAskFileName = [&] { return project; };
        QVERIFY(data.Save());
    }
    TCliRun run = RunCliInProcess(
        {"queue", project, "--to", "111;222; ;333", "--subject", "Hi", "--flash", "there"});
    QCOMPARE(run.Status, 0);
    QCOMPARE(run.Out, QStringLiteral("Queued 3 messages\n"));
    run = RunCliInProcess({"queue", project, "--checked", "checked only"});
    QCOMPARE(run.Out, QStringLiteral("Queued 2 messages\n"));
    run = RunCliInProcess({"queue", project, "--all", "everyone"});
    QCOMPARE(run.Out, QStringLiteral("Queued 3 messages\n"));

    auto data = LoadProject(project);
    QCOMPARE(data->OutboxList->Count(), 8);
    const TMessage first = data->OutboxList->Get(0);
    QCOMPARE(first.Text, QStringLiteral("Hi:there"));
    QCOMPARE(first.Flash, quint8(1));
    QCOMPARE(first.Status, msPending);
    QVERIFY(first.Created > 0);
    QCOMPARE(first.Sent, 0.0);
    QCOMPARE(data->OutboxList->Get(3).Number, QByteArray("111"));
    QCOMPARE(data->OutboxList->Get(4).Number, QByteArray("333"));
    QCOMPARE(data->OutboxList->Get(7).Text, QStringLiteral("everyone"));
}

void TestCliSend::queueRefusesBadArguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::newRow("no recipients") << QStringList{"x.sms", "text"} << 2;
    QTest::newRow("two recipient kinds") << QStringList{"x.sms", "--all", "--checked", "t"} << 2;
    QTest::newRow("no text") << QStringList{"x.sms", "--all"} << 2;
    QTest::newRow("empty text") << QStringList{"x.sms", "--all", ""} << 1;
}

void TestCliSend::queueRefusesBadArguments() {
    QFETCH(QStringList, args);
    QFETCH(int, status);
    const TCliRun run = RunCliInProcess(QStringList{"queue"} + args);
    QCOMPARE(run.Status, status);
    QVERIFY(!run.Err.isEmpty());
    QVERIFY(!QFile::exists(QStringLiteral("x.sms")));
}

void TestCliSend::sendWholeOutbox() {
    const QString project = FDir.filePath(QStringLiteral("send.sms"));
    QCOMPARE(RunCliInProcess({"queue", project, "--to", "111;222", "hello"}).Status, 0);
    const TCliRun run = RunCliInProcess({"send", project, "--simulate"});
    QCOMPARE(run.Status, 0);
    QVERIFY(run.Out.endsWith(QStringLiteral("Sent 2 of 2\n")));
    QVERIFY(run.Err.contains(QStringLiteral("Message 2 of 2 to 222: sent")));
    auto data = LoadProject(project);
    QCOMPARE(data->OutboxList->Count(), 0);
    QCOMPARE(data->SentList->Count(), 2);
    QVERIFY(data->SentList->Get(1).Sent > 0);
}

void TestCliSend::sendThroughPortStopsAtRefusal() {
    TModemSimOptions options;
    options.FailAt = 2;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    const QString project = FDir.filePath(QStringLiteral("refused.sms"));
    QCOMPARE(RunCliInProcess({"queue", project, "--to", "111;222;333", "hello"}).Status, 0);
    const TCliRun run = RunCliInProcess({"send", project, "--port", sim.PortPath()});
    QCOMPARE(run.Status, 1);
    QVERIFY(run.Out.contains(QStringLiteral("+CMS ERROR: 500\n")));
    QVERIFY(run.Out.endsWith(QStringLiteral("Sent 1 of 3\n")));
    auto data = LoadProject(project);
    QCOMPARE(data->SentList->Count(), 1);
    QCOMPARE(data->OutboxList->Count(), 2);
    QCOMPARE(data->OutboxList->Get(0).Number, QByteArray("222"));
    QCOMPARE(data->OutboxList->Get(0).Status, msPending);
}

void TestCliSend::sendStoppedByCtrlC() {
    TModemSimOptions options;
    options.DelayMs = 40;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    const QString project = FDir.filePath(QStringLiteral("stopped.sms"));
    QStringList numbers;
    for (int i = 0; i < 200; ++i)
        numbers << QString::number(1000 + i);
    QCOMPARE(RunCliInProcess({"queue", project, "--to", numbers.join(';'), "hi"}).Status, 0);

    QProcess process;
    process.start(CliPath(), {"send", project, "--port", sim.PortPath()});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(sim.Received().size() >= 2, 20000);
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);

    // Every message the phone took is under Sent; the rest wait in the outbox.
    auto data = LoadProject(project);
    const int accepted = sim.Received().size();
    QVERIFY(accepted < 200);
    QCOMPARE(data->SentList->Count(), accepted);
    QCOMPARE(data->OutboxList->Count(), 200 - accepted);
}

QTEST_GUILESS_MAIN(TestCliSend)
#include "tst_cli_send.moc"
