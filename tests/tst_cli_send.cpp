// pelorvane-cli queue and send: the outbox as Send to Outbox fills it, and a whole run through
// the simulated phone, in-process and as a real process stopped by Ctrl+C.

#include "app/AppData.h"
#include "app/ComposeOutbox.h"
#include "modemsim/ModemSim.h"
#include "support/CliRun.h"
#include "support/ProcessSignal.h"
#include "tools/cli/Cli.h"

#include <QBuffer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>

namespace {

std::unique_ptr<AppData> loadProject(const QString &fileName) {
    auto data = std::make_unique<AppData>();
    data->load(fileName);
    return data;
}

QString cliPath() {
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
    void queueAndSendLongMessage();
    void sendGoesOnAfterRefusal();
    void sendStopsAtFirstRefusalWhenAsked();
    void sendExitStatuses();
    void showGivesStatusAndReason();
    void sendStoppedBySignal_data();
    void sendStoppedBySignal();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ModemSim> m_slowPhone;
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
    QCOMPARE(::splitRecipients(to), recipients);
}

void TestCliSend::queueTypedAllChecked() {
    const QString project = m_dir.filePath(QStringLiteral("queue.sms"));
    {
        AppData data;
        for (const char *number : {"111", "222", "333"}) {
            Contact contact;
            contact.number = number;
            contact.checked = QByteArray(number) != "222";
            data.contactList->add(contact);
        }
        data.onAskFileName = [&] { return project; };
        QVERIFY(data.save());
    }
    CliRun run = runCliInProcess({"queue", project, "--country", "US", "--to", "111;222; ;333",
                                  "--subject", "Hi", "--flash", "there"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("Queued 3 messages\n"));
    run = runCliInProcess({"queue", project, "--country", "US", "--checked", "checked only"});
    QCOMPARE(run.out, QStringLiteral("Queued 2 messages\n"));
    run = runCliInProcess({"queue", project, "--country", "US", "--all", "everyone"});
    QCOMPARE(run.out, QStringLiteral("Queued 3 messages\n"));

    auto data = loadProject(project);
    QCOMPARE(data->outboxList->count(), 8);
    const Message first = data->outboxList->get(0);
    QCOMPARE(first.text, QStringLiteral("Hi:there"));
    QCOMPARE(first.flash, quint8(1));
    QCOMPARE(first.status, MessageStatus::Pending);
    QVERIFY(first.created > 0);
    QCOMPARE(first.sent, 0.0);
    QCOMPARE(data->outboxList->get(3).number, QByteArray("111"));
    QCOMPARE(data->outboxList->get(4).number, QByteArray("333"));
    QCOMPARE(data->outboxList->get(7).text, QStringLiteral("everyone"));
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
    const CliRun run = runCliInProcess(QStringList{"queue"} + args);
    QCOMPARE(run.status, status);
    QVERIFY(!run.err.isEmpty());
    QVERIFY(!QFile::exists(QStringLiteral("x.sms")));
}

void TestCliSend::sendWholeOutbox() {
    const QString project = m_dir.filePath(QStringLiteral("send.sms"));
    QCOMPARE(
        runCliInProcess({"queue", project, "--country", "US", "--to", "111;222", "hello"}).status,
        0);
    const CliRun run = runCliInProcess({"send", project, "--simulate"});
    QCOMPARE(run.status, 0);
    QVERIFY(run.out.endsWith(QStringLiteral("Sent 2 of 2\n")));
    QVERIFY(run.err.contains(QStringLiteral("Message 2 of 2 to 222: sent")));
    auto data = loadProject(project);
    QCOMPARE(data->outboxList->count(), 0);
    QCOMPARE(data->sentList->count(), 2);
    QVERIFY(data->sentList->get(1).sent > 0);
}

void TestCliSend::queueAndSendLongMessage() {
    const QString project = m_dir.filePath(QStringLiteral("long.sms"));
    const QString text = QString(400, u'L');
    CliRun run =
        runCliInProcess({"queue", project, "--to", "111", "--country", "US", "--long", text});
    QCOMPARE(run.status, 0);
    // Beyond what a long message holds nothing is queued, rather than cut at sending.
    run = runCliInProcess(
        {"queue", project, "--to", "222", "--country", "US", "--long", QString(1001, u'x')});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err, QStringLiteral("The message is too long: a long message holds 1000 of its "
                                     "1001 characters; nothing was queued\n"));
    auto data = loadProject(project);
    QCOMPARE(data->outboxList->count(), 1);
    QCOMPARE(data->outboxList->get(0).isLong, quint8(1));
    data.reset();

    run = runCliInProcess({"show", project});
    QVERIFY(run.out.contains(QStringLiteral("\"long\": true")));

    ModemSim sim;
    QVERIFY(sim.start());
    run = runCliInProcess({"send", project, "--port", sim.portPath()});
    QCOMPARE(run.status, 0);
    QVERIFY(run.out.endsWith(QStringLiteral("Sent 1 of 1\n")));
    QCOMPARE(sim.received().size(), 3);
    QCOMPARE(sim.completed().size(), 1);
    QCOMPARE(sim.completed()[0].number, QByteArray("111"));
    QCOMPARE(sim.completed()[0].text, text);
}

// The phone refuses the second message for a while each time: it is tried again at once
// (--retry-after 0,0), then left pending, and the third still goes.
void TestCliSend::sendGoesOnAfterRefusal() {
    ModemSimOptions options;
    options.refuseNumber.insert("222", "+CMS ERROR: 42");
    ModemSim sim(options);
    QVERIFY(sim.start());
    const QString project = m_dir.filePath(QStringLiteral("refused.sms"));
    QCOMPARE(runCliInProcess({"queue", project, "--country", "US", "--to", "111;222;333", "hello"})
                 .status,
             0);
    const CliRun run =
        runCliInProcess({"send", project, "--port", sim.portPath(), "--retry-after", "0,0"});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.out, QStringLiteral("Sent 2 of 3: 1 not sent\n"));
    QVERIFY(run.err.contains(QStringLiteral("to 222: not sent")));
    QCOMPARE(sim.bodiesSeen(), 5);
    auto data = loadProject(project);
    QCOMPARE(data->sentList->count(), 2);
    QCOMPARE(data->outboxList->count(), 1);
    QCOMPARE(data->outboxList->get(0).number, QByteArray("222"));
    QCOMPARE(data->outboxList->get(0).status, MessageStatus::Pending);
}

void TestCliSend::sendStopsAtFirstRefusalWhenAsked() {
    ModemSimOptions options;
    options.refuseNumber.insert("222", "+CMS ERROR: 1");
    ModemSim sim(options);
    QVERIFY(sim.start());
    const QString project = m_dir.filePath(QStringLiteral("stop-first.sms"));
    QCOMPARE(runCliInProcess({"queue", project, "--country", "US", "--to", "111;222;333", "hello"})
                 .status,
             0);
    const CliRun run =
        runCliInProcess({"send", project, "--port", sim.portPath(), "--stop-at-first-refusal"});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.out, QStringLiteral("The phone refused the message to 222: number not in use "
                                     "(+CMS ERROR: 1).\nSent 1 of 3: 2 not sent\n"));
    QCOMPARE(sim.bodiesSeen(), 2);
    QCOMPARE(loadProject(project)->outboxList->count(), 2);
}

void TestCliSend::sendExitStatuses() {
    const QString project = m_dir.filePath(QStringLiteral("empty.sms"));
    QCOMPARE(runCliInProcess({"queue", project, "--country", "US", "--to", "111", "hello"}).status,
             0);
    QCOMPARE(runCliInProcess({"retry", project}).out,
             QStringLiteral("Put 0 messages back to pending\n"));
    // Nothing to send, but the port cannot be opened: the run could not start.
    const QString emptyProject = m_dir.filePath(QStringLiteral("nothing.sms"));
    QCOMPARE(runCliInProcess({"import", emptyProject, m_dir.filePath("none.csv")}).status, 2);
    AppData blank;
    blank.fileName = emptyProject;
    blank.save();
    CliRun run = runCliInProcess({"send", emptyProject, "--port", "/nonexistent/ttyX"});
    QCOMPARE(run.status, 3);
    QVERIFY(!run.out.contains(QStringLiteral("Sent")));
    // An empty port name is a usage error, not the stored port.
    run = runCliInProcess({"send", project, "--port", ""});
    QCOMPARE(run.status, 2);
    QVERIFY(run.err.contains(QStringLiteral("--port needs a port name")));
    for (const QString &bad : {QStringLiteral("x"), QStringLiteral("5,-1"), QString()}) {
        run = runCliInProcess({"send", project, "--retry-after", bad});
        QCOMPARE(run.status, 2);
    }
    QCOMPARE(runCliInProcess({"retry", project, "--bogus"}).status, 2);
    // A phone that answers and an empty outbox: done.
    {
        ModemSim sim;
        QVERIFY(sim.start());
        run = runCliInProcess({"send", emptyProject, "--port", sim.portPath()});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("Sent 0 of 0\n"));
    }
    QCOMPARE(loadProject(project)->outboxList->count(), 1);
}

void TestCliSend::showGivesStatusAndReason() {
    const QString project = m_dir.filePath(QStringLiteral("show.sms"));
    QCOMPARE(runCliInProcess({"queue", project, "--country", "US", "--to", "111", "hello"}).status,
             0);
    const CliRun run = runCliInProcess({"show", project});
    QCOMPARE(run.status, 0);
    for (const char *field : {"\"status\": \"pending\"", "\"reason\": \"\"", "\"error\": \"\""})
        QVERIFY2(run.out.contains(QString::fromLatin1(field)), field);
    QVERIFY(!run.out.contains(QStringLiteral("partsSent")));
}

void TestCliSend::sendStoppedBySignal_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("outputClosed");
    QTest::newRow("Ctrl+C") << SIGINT << false;
    QTest::newRow("SIGTERM") << SIGTERM << false;
    QTest::newRow("SIGHUP, the session closed") << SIGHUP << false;
    // send ... | head -1: the progress lines meet a closed pipe.
    QTest::newRow("output closed, then SIGTERM") << SIGTERM << true;
}

void TestCliSend::sendStoppedBySignal() {
    QFETCH(int, signal);
    QFETCH(bool, outputClosed);
    // One phone for every row, started before the first program: the thread sanitizer cannot
    // follow a thread started after QProcess has forked.
    if (!m_slowPhone) {
        ModemSimOptions options;
        options.delayMs = 40;
        m_slowPhone = std::make_unique<ModemSim>(options);
        QVERIFY(m_slowPhone->start());
    }
    ModemSim &sim = *m_slowPhone;
    const qsizetype before = sim.received().size();
    const QString project =
        m_dir.filePath(QStringLiteral("stopped-%1.sms").arg(QTest::currentDataTag()).simplified());
    QStringList numbers;
    for (int i = 0; i < 200; ++i)
        numbers << QString::number(1000 + i);
    QCOMPARE(runCliInProcess({"queue", project, "--country", "US", "--to", numbers.join(';'), "hi"})
                 .status,
             0);

    QProcess process;
    process.start(cliPath(), {"send", project, "--port", sim.portPath()});
    QVERIFY(process.waitForStarted());
    if (outputClosed) {
        process.closeReadChannel(QProcess::StandardOutput);
        process.closeReadChannel(QProcess::StandardError);
    }
    QTRY_VERIFY_WITH_TIMEOUT(sim.received().size() >= before + 2, 20000);
    QVERIFY(signalChild(process, signal));
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);

    // Every message the phone took is under Sent; the rest wait in the outbox.
    auto data = loadProject(project);
    const int accepted = int(sim.received().size() - before);
    QVERIFY(accepted < 200);
    QCOMPARE(data->sentList->count(), accepted);
    QCOMPARE(data->outboxList->count(), 200 - accepted);
}

QTEST_GUILESS_MAIN(TestCliSend)
#include "tst_cli_send.moc"
