// Whole sending runs through the phone and the sender thread against the simulated phone on
// a real pseudo-terminal.

#include "app/AppData.h"
#include "app/IniFile.h"
#include "base/OleDate.h"
#include "link/GsmSerial.h"
#include "link/Phone.h"
#include "modemsim/ModemSim.h"
#include "sending/SenderThread.h"
#include "support/PtyPair.h"
#include "support/RunStart.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// A data module on a temporary settings file, talking to one simulated phone.
struct RunFixture {
    explicit RunFixture(ModemSimOptions options = {}) : sim(options) {
        QString error;
        started = sim.start(&error);
        if (!started)
            qWarning("simulated phone: %s", qPrintable(error));
        data = std::make_unique<AppData>(dir.filePath(QStringLiteral("pelorvane.ini")));
        data->settings->setSessionPort(sim.portPath().toLocal8Bit());
        data->onRefreshAll = [this] {
            ++refreshes;
            if (onRefresh)
                onRefresh();
        };
        data->phone->onWorkerDone = [this](Phone &phone) {
            ++workerDone;
            if (auto *sender = qobject_cast<SenderThread *>(phone.endedWorker()))
                summary = sender->summary();
        };
        // No waits between tries unless a case asks for them.
        data->settings->setRetryDelaysMs({});
    }

    void addMessage(const QByteArray &number, const QString &text, bool flash = false,
                    bool isLong = false) {
        Message message;
        message.number = number;
        message.text = text;
        message.flash = flash;
        message.isLong = isLong;
        message.created = oleNow();
        data->outboxList->add(message);
    }

    void addMessages(int count) {
        for (int i = 1; i <= count; ++i)
            addMessage(QByteArray::number(1000 + i), QStringLiteral("message %1").arg(i));
    }

    void addContact(const QByteArray &number) {
        Contact contact;
        contact.name = QString::fromLatin1(number);
        contact.number = number;
        data->contactList->add(contact);
    }

    // The UI action pattern of the window's Start.
    bool startRun() { return ::startRun(*data); }

    bool waitIdle(int timeoutMs = 20000) { return waitPhoneIdle(*data->phone, timeoutMs); }

    bool run() { return startRun() && waitIdle(); }

    QList<MessageStatus> outboxStatuses() const {
        QList<MessageStatus> result;
        for (int i = 0; i < data->outboxList->count(); ++i)
            result << data->outboxList->get(i).status;
        return result;
    }

    QTemporaryDir dir;
    ModemSim sim;
    bool started = false;
    std::unique_ptr<AppData> data;
    int refreshes = 0;
    int workerDone = 0;
    std::function<void()> onRefresh;
    RunSummary summary;
};

// Readying the phone, then the checks of the maker, the SIM card, the network (the simulated
// phone has no AT+CEREG?) and its operator, and the service centre.
const QList<QByteArray> SetupCommands = {"AT",        "AT+CMEE=1", "AT+CMGF=?", "ATE0",
                                         "AT+CMGF=0", "AT+CGMI",   "AT+CPIN?",  "AT+CREG?",
                                         "AT+CGREG?", "AT+CEREG?", "AT+COPS?",  "AT+CSCA?"};

} // namespace

class TestSender : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyOutboxSendsSetupOnly();
    void threeAcceptedMessages();
    void refusalEndsTheRunWhenAsked();
    void refusalClasses_data();
    void refusalClasses();
    void sameRefusalForThreeNumbersIsThePhones();
    void retryWaitEndsOnStop();
    void endlessStreamAfterBodyStopsWithinASecond();
    void phoneLeftWaitingForABodyIsWokenUp();
    void phoneThatNeverAnswersCannotStart();
    void refusedSetupCommand_data();
    void refusedSetupCommand();
    void stopWhileWaitingForPrompt();
    void stopDuringBodyCompletesTheMessage();
    void silentPhoneTimesOut();
    void hangUpMidRun();
    void portAlreadyOpen();
    void startTwiceGivesOneWorker();
    void stopWithoutWorker();
    void startAfterStop();
    void invalidNumberAndLongFlag_data();
    void invalidNumberAndLongFlag();
    void longMessagesGoInParts();
    void longMessageThatFitsIsOneSms();
    void refusedPartIsResentAlone();
    void stopBetweenPartsKeepsAcceptedParts();
    void settingsFileCountsReferencesAcrossRuns();
    void skipsMessagesNotPending();
    void deletionsDuringRun();
    void destroyingDataModuleStopsTheRun();
    void faultInjection_data();
    void faultInjection();
};

void TestSender::emptyOutboxSendsSetupOnly() {
    RunFixture f;
    QVERIFY(f.started);
    QVERIFY(f.run());
    QCOMPARE(f.sim.commands(), SetupCommands);
    QVERIFY(f.data->phone->reports.isEmpty());
    QVERIFY(!f.data->serial->connected());
    QCOMPARE(f.workerDone, 1);
    QVERIFY(!f.data->modified);
}

void TestSender::threeAcceptedMessages() {
    RunFixture f;
    f.addContact("1002");
    f.addContact("1002");
    f.addMessages(3);
    f.data->modified = false;
    QList<QList<MessageStatus>> seen;
    f.onRefresh = [&] { seen.append(f.outboxStatuses()); };
    const double before = oleNow();
    QVERIFY(f.run());

    QVERIFY(f.data->phone->reports.isEmpty());
    const QList<ReceivedSms> received = f.sim.received();
    QCOMPARE(received.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(received[i].number, QByteArray::number(1001 + i));
        QCOMPARE(received[i].text, QStringLiteral("message %1").arg(i + 1));
        const Message message = f.data->outboxList->get(i);
        QCOMPARE(message.status, MessageStatus::Sent);
        QVERIFY(message.sent >= before && message.sent <= oleNow());
    }
    // Two refreshes per message: sending, then sent; in list order.
    QCOMPARE(f.refreshes, 6);
    QCOMPARE(seen[0], (QList<MessageStatus>{MessageStatus::Sending, MessageStatus::Pending,
                                            MessageStatus::Pending}));
    QCOMPARE(seen[1], (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Pending,
                                            MessageStatus::Pending}));
    QCOMPARE(seen[2], (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Sending,
                                            MessageStatus::Pending}));
    // Only the first contact with the number counts the message.
    QCOMPARE(f.data->contactList->get(0).sentCount, 1);
    QCOMPARE(f.data->contactList->get(1).sentCount, 0);
    // The sender never notifies; the transfer does.
    QVERIFY(!f.data->modified);
    QCOMPARE(f.data->moveSentMessages(), 3);
    QCOMPARE(f.data->outboxList->count(), 0);
    QCOMPARE(f.data->sentList->count(), 3);
    QVERIFY(f.data->modified);
}

void TestSender::refusalEndsTheRunWhenAsked() {
    ModemSimOptions options;
    options.failAt = 1;
    RunFixture f(options);
    f.data->settings->setStopAtFirstRefusal(true);
    f.data->settings->setRetryDelaysMs({0, 0});
    f.addMessages(2);
    QVERIFY(f.run());
    QCOMPARE(f.data->phone->reports,
             QList<QByteArray>{
                 "The phone refused the message to 1001: unknown error (+CMS ERROR: 500)."});
    QCOMPARE(f.outboxStatuses(),
             (QList<MessageStatus>{MessageStatus::Pending, MessageStatus::Pending}));
    QCOMPARE(f.sim.bodiesSeen(), 1);
    QVERIFY(!f.data->serial->connected());
    QCOMPARE(f.data->moveSentMessages(), 0);
}

void TestSender::refusalClasses_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QList<MessageStatus>>("statuses");
    QTest::addColumn<int>("bodies");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QByteArray>("report");
    using S = MessageStatus;
    const QList<S> failed{S::Sent, S::Failed, S::Sent, S::Sent};
    const QList<S> leftPending{S::Sent, S::Pending, S::Sent, S::Sent};
    const QList<S> stopped{S::Sent, S::Pending, S::Pending, S::Pending};
    QTest::newRow("unassigned number fails alone")
        << QByteArray("+CMS ERROR: 1") << failed << 4
        << QStringLiteral("Sent 3 of 4: 1 failed (number not in use)") << QByteArray();
    QTest::newRow("unidentified subscriber fails alone")
        << QByteArray("+CMS ERROR: 28") << failed << 4
        << QStringLiteral("Sent 3 of 4: 1 failed (recipient not known to the network)")
        << QByteArray();
    QTest::newRow("network busy is tried again, then left pending")
        << QByteArray("+CMS ERROR: 42") << leftPending << 6
        << QStringLiteral("Sent 3 of 4: 1 not sent") << QByteArray();
    QTest::newRow("phone-specific code is tried again")
        << QByteArray("+CMS ERROR: 512") << leftPending << 6
        << QStringLiteral("Sent 3 of 4: 1 not sent") << QByteArray();
    QTest::newRow("SIM busy (CME 14) is tried again")
        << QByteArray("+CME ERROR: 14") << leftPending << 6
        << QStringLiteral("Sent 3 of 4: 1 not sent") << QByteArray();
    QTest::newRow("no SIM card stops the run")
        << QByteArray("+CMS ERROR: 310") << stopped << 2
        << QStringLiteral("Sent 1 of 4: 3 not sent")
        << QByteArray("The phone cannot send: no SIM card (+CMS ERROR: 310). Check that a "
                      "working SIM card is in the phone, then start again.");
    QTest::newRow("no service centre stops the run")
        << QByteArray("+CMS ERROR: 330") << stopped << 2
        << QStringLiteral("Sent 1 of 4: 3 not sent")
        << QByteArray("The phone cannot send: no service centre number (+CMS ERROR: 330). "
                      "Store the service centre number on the phone or SIM card (AT+CSCA), then "
                      "start again.");
    QTest::newRow("plain ERROR is tried once, then stops the run")
        << QByteArray("ERROR") << stopped << 3 << QStringLiteral("Sent 1 of 4: 3 not sent")
        << QByteArray("The phone refused twice in a row without a reason (ERROR). Check the "
                      "phone, its SIM card and its credit, then start again.");
}

// Four messages, the second refused by the phone with line each time it is tried.
void TestSender::refusalClasses() {
    QFETCH(QByteArray, line);
    QFETCH(QList<MessageStatus>, statuses);
    QFETCH(int, bodies);
    QFETCH(QString, summary);
    QFETCH(QByteArray, report);
    ModemSimOptions options;
    options.refuseNumber.insert("1002", line);
    RunFixture f(options);
    f.data->settings->setRetryDelaysMs({0, 0});
    f.addMessages(4);
    QVERIFY(f.run());
    QCOMPARE(f.outboxStatuses(), statuses);
    QCOMPARE(f.sim.bodiesSeen(), bodies);
    QCOMPARE(f.summary.text(), summary);
    QCOMPARE(f.data->phone->reports,
             report.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{report});
    const Message refused = f.data->outboxList->get(1);
    if (refused.status == MessageStatus::Failed) {
        QCOMPARE(refused.error, line);
        QVERIFY(!refused.reason.isEmpty());
    } else {
        QVERIFY(refused.reason.isEmpty());
        QVERIFY(refused.error.isEmpty());
    }
    QCOMPARE(f.sim.received().size(), statuses.count(MessageStatus::Sent));
}

// A refusal that names the recipient, for three recipients in a row, is the phone's: the run
// stops and the two that had failed wait for the next run.
void TestSender::sameRefusalForThreeNumbersIsThePhones() {
    ModemSimOptions options;
    for (const QByteArray number : {"1002", "1003", "1004"})
        options.refuseNumber.insert(number, "+CMS ERROR: 1");
    RunFixture f(options);
    f.addMessages(6);
    QVERIFY(f.run());
    using S = MessageStatus;
    QCOMPARE(f.outboxStatuses(),
             (QList<S>{S::Sent, S::Pending, S::Pending, S::Pending, S::Pending, S::Pending}));
    QCOMPARE(f.data->phone->reports.size(), 1);
    QVERIFY(f.data->phone->reports[0].startsWith(
        "The phone refused 3 messages in a row the same way: number not in use (+CMS ERROR: 1)."));
    QCOMPARE(f.summary.text(), QStringLiteral("Sent 1 of 6: 5 not sent"));
    for (int i = 1; i < 6; ++i)
        QVERIFY(f.data->outboxList->get(i).reason.isEmpty());
}

void TestSender::retryWaitEndsOnStop() {
    ModemSimOptions options;
    options.refuseNumber.insert("1001", "+CMS ERROR: 42");
    RunFixture f(options);
    f.data->settings->setRetryDelaysMs({60000});
    f.addMessages(2);
    QVERIFY(f.startRun());
    QTRY_COMPARE_WITH_TIMEOUT(f.sim.bodiesSeen(), 1, 10000);
    QTest::qWait(100);
    QElapsedTimer timer;
    timer.start();
    f.data->phone->stopWorker();
    QVERIFY(f.waitIdle());
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(f.outboxStatuses(),
             (QList<MessageStatus>{MessageStatus::Pending, MessageStatus::Pending}));
    QCOMPARE(f.sim.bodiesSeen(), 1);
}

// A phone that talks without end after a body (RING, or bytes without a line end) neither
// holds a stop nor a run: the message is unknown, for the phone may have sent it.
void TestSender::endlessStreamAfterBodyStopsWithinASecond() {
    for (const bool lineEnds : {true, false}) {
        ModemSimOptions options;
        options.endlessAt = 1;
        options.endlessText = lineEnds ? "RING" : "garbage";
        options.endlessLineEnds = lineEnds;
        {
            RunFixture f(options);
            f.addMessages(2);
            QVERIFY(f.startRun());
            QTRY_COMPARE_WITH_TIMEOUT(f.sim.bodiesSeen(), 1, 10000);
            QTest::qWait(300);
            QElapsedTimer timer;
            timer.start();
            f.data->phone->stopWorker();
            QVERIFY(f.waitIdle());
            QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
            QCOMPARE(f.outboxStatuses(),
                     (QList<MessageStatus>{MessageStatus::Unknown, MessageStatus::Pending}));
            QCOMPARE(f.data->outboxList->get(0).reason,
                     QStringLiteral("stopped before the phone answered"));
        }
        {
            // Without a stop the wait's overall deadline ends it.
            RunFixture f(options);
            f.data->serial->readWait = 5;
            f.addMessages(2);
            QVERIFY(f.run());
            QCOMPARE(f.data->phone->reports, QList<QByteArray>{"Timeout in reading COM port"});
            QCOMPARE(f.outboxStatuses(),
                     (QList<MessageStatus>{MessageStatus::Unknown, MessageStatus::Pending}));
        }
    }
}

// An earlier program left the phone at its "> " prompt (a modem that ignores DTR): the run
// cancels that body with ESC, wakes the phone and sends; the stale body never goes out.
void TestSender::phoneLeftWaitingForABodyIsWokenUp() {
    ModemSimOptions options;
    options.keepBodyOnClose = true;
    RunFixture f(options);
    f.data->comPort->setPortName(f.sim.portPath().toLocal8Bit());
    f.data->serial->open();
    QVERIFY(f.data->serial->sendAndWait("AT+CMGS=14", "> ", false));
    QVERIFY(f.data->serial->resultOk);
    f.data->serial->close();
    f.addMessages(1);
    QVERIFY(f.run());
    QVERIFY(f.data->phone->reports.isEmpty());
    QCOMPARE(f.outboxStatuses(), QList<MessageStatus>{MessageStatus::Sent});
    QCOMPARE(f.sim.received().size(), 1);
    QCOMPARE(f.sim.received()[0].number, QByteArray("1001"));
}

void TestSender::phoneThatNeverAnswersCannotStart() {
    PtyPair pty;
    QVERIFY(pty.isValid());
    RunFixture f;
    f.data->settings->setSessionPort(pty.slavePath());
    f.data->serial->readWait = 20;
    f.addMessages(2);
    QVERIFY(f.run());
    QCOMPARE(f.data->phone->reports.size(), 1);
    QVERIFY(f.data->phone->reports[0].startsWith("The phone does not answer on "));
    QVERIFY(!f.summary.started);
    QCOMPARE(f.outboxStatuses(),
             (QList<MessageStatus>{MessageStatus::Pending, MessageStatus::Pending}));
    // ESC first, then AT a few times; nothing else.
    const QByteArray written = pty.read(1000, 200);
    QVERIFY(written.startsWith("\x1b"));
    QCOMPARE(written.count("AT\r"), 3);
    QVERIFY(!written.contains("CMGS"));
}

void TestSender::refusedSetupCommand_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("commands");
    QTest::addColumn<QByteArray>("report");
    QTest::newRow("AT+CMGF=? refused")
        << 0 << 3
        << QByteArray("The phone refused AT+CMGF=? (ERROR): The phone does not offer text "
                      "messages through AT commands: try another phone or modem.");
    QTest::newRow("AT+CMGF=0 refused")
        << 1 << 5
        << QByteArray("The phone refused AT+CMGF=0 (ERROR): The phone cannot send messages in "
                      "PDU mode: try another phone or modem.");
}

void TestSender::refusedSetupCommand() {
    QFETCH(int, which);
    QFETCH(int, commands);
    QFETCH(QByteArray, report);
    ModemSimOptions options;
    (which == 0 ? options.refuseCmgfQuery : options.refuseCmgf0) = true;
    // A phone that will not number its errors is still used.
    options.refuseCmee = true;
    RunFixture f(options);
    f.addMessages(1);
    QVERIFY(f.run());
    QCOMPARE(f.sim.commands().size(), commands);
    QCOMPARE(f.data->phone->reports, QList<QByteArray>{report});
    QVERIFY(!f.summary.started);
    QCOMPARE(f.sim.bodiesSeen(), 0);
    QCOMPARE(f.outboxStatuses(), QList<MessageStatus>{MessageStatus::Pending});
    QCOMPARE(f.refreshes, 0);
}

void TestSender::stopWhileWaitingForPrompt() {
    ModemSimOptions options;
    options.promptDelayMs = 1500;
    RunFixture f(options);
    f.data->serial->readWait = 100;
    f.addMessages(2);
    // Once the first message is claimed, stop while the phone is slow to prompt.
    f.onRefresh = [&] {
        if (f.refreshes == 1)
            QTimer::singleShot(200, [&] { f.data->phone->stopWorker(); });
    };
    QElapsedTimer timer;
    QVERIFY(f.startRun());
    QTRY_COMPARE_WITH_TIMEOUT(f.refreshes, 1, 10000);
    timer.start();
    QVERIFY(f.waitIdle());
    // Within one read wait after the stop, not after the phone's slow answer.
    QVERIFY2(timer.elapsed() < 1200, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(f.data->phone->reports.isEmpty());
    QCOMPARE(f.outboxStatuses(),
             (QList<MessageStatus>{MessageStatus::Pending, MessageStatus::Pending}));
    QCOMPARE(f.sim.bodiesSeen(), 0);
    QVERIFY(!f.data->serial->connected());
}

void TestSender::stopDuringBodyCompletesTheMessage() {
    ModemSimOptions options;
    options.delayMs = 150;
    RunFixture f(options);
    f.addMessages(2);
    QVERIFY(f.startRun());
    QTRY_COMPARE_WITH_TIMEOUT(f.sim.bodiesSeen(), 1, 10000);
    f.data->phone->stopWorker();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.outboxStatuses(),
             (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Pending}));
    QCOMPARE(f.sim.received().size(), 1);
    QVERIFY(f.data->phone->reports.isEmpty());
}

void TestSender::silentPhoneTimesOut() {
    ModemSimOptions options;
    options.silentAt = 2;
    RunFixture f(options);
    f.data->serial->readWait = 5;
    f.addMessages(3);
    QVERIFY(f.run());
    QCOMPARE(f.data->phone->reports, QList<QByteArray>{"Timeout in reading COM port"});
    // The phone may have sent it: never pending again by itself.
    QCOMPARE(f.outboxStatuses(), (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Unknown,
                                                       MessageStatus::Pending}));
    QCOMPARE(f.data->outboxList->get(1).reason,
             QStringLiteral("no answer after the phone took it"));
    QVERIFY(!f.data->serial->connected());
    // The refresh after the failed outcome still ran: sending and outcome for both.
    QCOMPARE(f.refreshes, 4);
    QCOMPARE(f.summary.text(), QStringLiteral("Sent 1 of 3: 1 unknown, 1 not sent"));
    // The next run leaves it alone.
    ModemSim second;
    QVERIFY(second.start());
    f.data->settings->setSessionPort(second.portPath().toLocal8Bit());
    QVERIFY(f.run());
    QCOMPARE(second.received().size(), 1);
    QCOMPARE(second.received()[0].number, QByteArray("1003"));
    QCOMPARE(f.outboxStatuses(), (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Unknown,
                                                       MessageStatus::Sent}));
}

void TestSender::hangUpMidRun() {
    ModemSimOptions options;
    options.hangupAt = 2;
    RunFixture f(options);
    f.addMessages(3);
    QVERIFY(f.run());
    QCOMPARE(f.data->phone->reports.size(), 1);
    QVERIFY(!f.data->phone->reports[0].isEmpty());
    QCOMPARE(f.outboxStatuses(), (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Unknown,
                                                       MessageStatus::Pending}));
    QCOMPARE(f.data->outboxList->get(1).reason,
             QStringLiteral("the line to the phone broke while it took it"));
    QVERIFY(!f.data->serial->connected());
}

void TestSender::portAlreadyOpen() {
    RunFixture f;
    f.addMessages(1);
    f.data->comPort->setPortName(f.sim.portPath().toLocal8Bit());
    f.data->serial->open();
    QVERIFY(f.run());
    QCOMPARE(f.data->phone->reports, QList<QByteArray>{"Phone already busy"});
    QVERIFY(f.data->serial->connected());
    QVERIFY(f.sim.commands().isEmpty());
    QCOMPARE(f.outboxStatuses(), QList<MessageStatus>{MessageStatus::Pending});
    f.data->serial->close();
}

void TestSender::startTwiceGivesOneWorker() {
    ModemSimOptions options;
    options.delayMs = 50;
    RunFixture f(options);
    f.addMessages(2);
    QVERIFY(f.startRun());
    QVERIFY(!f.startRun());
    QVERIFY(f.waitIdle());
    QCOMPARE(f.workerDone, 1);
    QCOMPARE(f.sim.received().size(), 2);
    QCOMPARE(f.sim.commands().count("ATE0"), 1);
}

void TestSender::stopWithoutWorker() {
    RunFixture f;
    f.data->phone->stopWorker();
    QVERIFY(!f.data->serial->aborted);
    QVERIFY(!f.data->phone->isBusy());
    QCOMPARE(f.workerDone, 0);
}

void TestSender::startAfterStop() {
    ModemSimOptions options;
    options.delayMs = 300;
    RunFixture f(options);
    f.data->serial->readWait = 50;
    f.addMessages(2);
    QVERIFY(f.startRun());
    f.data->phone->stopWorker();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.workerDone, 1);
    // The stop latched the link's abort flag; the next run's Open clears it.
    QVERIFY(f.run());
    QCOMPARE(f.workerDone, 2);
    QCOMPARE(f.outboxStatuses(), (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Sent}));
    QVERIFY(f.data->phone->reports.isEmpty());
}

void TestSender::invalidNumberAndLongFlag_data() {
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<bool>("isLong");
    QTest::newRow("comma in number") << QByteArray("12,34") << false;
    QTest::newRow("CR and Ctrl-Z in number") << QByteArray("12\r34\x1a") << false;
    QTest::newRow("empty number") << QByteArray() << false;
    QTest::newRow("long message to a bad number") << QByteArray("12#34") << true;
}

void TestSender::invalidNumberAndLongFlag() {
    QFETCH(QByteArray, number);
    QFETCH(bool, isLong);
    RunFixture f;
    f.addMessage("111", QStringLiteral("first"));
    // A long one is long enough for parts.
    f.addMessage(number, isLong ? QString(200, u's') : QStringLiteral("second"), false, isLong);
    f.addMessage("333", QStringLiteral("third"));
    QVERIFY(f.run());
    // It fails alone; the run goes on.
    QVERIFY(f.data->phone->reports.isEmpty());
    QCOMPARE(f.outboxStatuses(), (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Failed,
                                                       MessageStatus::Sent}));
    QCOMPARE(f.data->outboxList->get(1).reason, QStringLiteral("invalid phone number"));
    // Nothing was written to the phone for the refused message.
    QCOMPARE(f.sim.commands().mid(SetupCommands.size()),
             (QList<QByteArray>{"AT+CMGS=14", "AT+CMGS=14"}));
    QCOMPARE(f.sim.bodiesSeen(), 2);
    QCOMPARE(f.summary.text(), QStringLiteral("Sent 2 of 3: 1 failed (invalid phone number)"));
    // A message that is not sent takes no reference.
    QCOMPARE(f.data->outboxList->get(1).partReference, qint16(-1));
}

void TestSender::longMessagesGoInParts() {
    RunFixture f;
    f.addContact("111");
    f.addContact("222");
    const QString first = QStringLiteral("%1 first").arg(QString(400, u'a'));
    const QString second = QString(100, QChar(0x4E2D)); // UCS-2: 67 + 33
    f.addMessage("111", first, true, true);
    f.addMessage("222", second, false, true);
    f.addMessage("333", QStringLiteral("short"));
    const double before = oleNow();
    QVERIFY(f.run());

    QVERIFY(f.data->phone->reports.isEmpty());
    const QList<ReceivedSms> received = f.sim.received();
    QCOMPARE(received.size(), 3 + 2 + 1);
    for (int k = 0; k < 3; ++k) {
        QCOMPARE(received[k].number, QByteArray("111"));
        QCOMPARE(received[k].concatRef, 0);
        QCOMPARE(received[k].concatTotal, 3);
        QCOMPARE(received[k].concatSeq, k + 1);
        QVERIFY(received[k].flash);
    }
    QCOMPARE(received[3].concatRef, 1);
    QCOMPARE(received[4].concatSeq, 2);
    QCOMPARE(received[5].concatTotal, 0);
    const QList<CompletedSms> completed = f.sim.completed();
    QCOMPARE(completed.size(), 2);
    QCOMPARE(completed[0].text, first);
    QCOMPARE(completed[1].text, second);

    const Message sent = f.data->outboxList->get(0);
    QCOMPARE(sent.status, MessageStatus::Sent);
    QVERIFY(sent.sent >= before && sent.sent <= oleNow());
    QCOMPARE(sent.acceptedParts, quint16(0b111));
    QCOMPARE(sent.partReference, qint16(0));
    QCOMPARE(f.data->outboxList->get(1).partReference, qint16(1));
    // Once per message, not per part; two refreshes per message as for any other.
    QCOMPARE(f.data->contactList->get(0).sentCount, 1);
    QCOMPARE(f.data->contactList->get(1).sentCount, 1);
    QCOMPARE(f.refreshes, 6);
    // Filed under Sent with what they went out with.
    QCOMPARE(f.data->moveSentMessages(), 3);
    QCOMPARE(f.data->sentList->get(0).acceptedParts, quint16(0b111));
}

void TestSender::longMessageThatFitsIsOneSms() {
    RunFixture f;
    f.addMessage("123", QString(160, u'x'), false, true);
    QVERIFY(f.run());
    QCOMPARE(f.sim.received().size(), 1);
    QCOMPARE(f.sim.received()[0].header, QByteArray());
    QCOMPARE(f.sim.received()[0].text, QString(160, u'x'));
    const Message message = f.data->outboxList->get(0);
    QCOMPARE(message.status, MessageStatus::Sent);
    QCOMPARE(message.partReference, qint16(-1));
    // No reference was taken from the settings.
    QVERIFY(
        !IniFile(f.data->settings->fileName()).valueExists("Setting", "Long Message Reference"));
}

// Part 2 of 3 is refused: the run ends with the message pending and part 1 remembered; the
// next run sends parts 2 and 3 with the same reference, and nothing else.
void TestSender::refusedPartIsResentAlone() {
    ModemSimOptions options;
    options.failAt = 2;
    RunFixture f(options);
    f.addContact("4915");
    IniFile ini(f.data->settings->fileName());
    ini.writeInteger("Setting", "Long Message Reference", 77);
    QVERIFY(ini.updateFile());
    const QString text = QString(153 * 2 + 20, u'r');
    f.addMessage("4915", text, false, true);
    QVERIFY(f.run());

    // Refused for a while, no tries left: pending for the next run.
    QVERIFY(f.data->phone->reports.isEmpty());
    Message message = f.data->outboxList->get(0);
    QCOMPARE(message.status, MessageStatus::Pending);
    QCOMPARE(message.acceptedParts, quint16(0b001));
    QCOMPARE(message.partReference, qint16(77));
    QCOMPARE(f.sim.received().size(), 1);
    QCOMPARE(f.sim.bodiesSeen(), 2);
    QCOMPARE(f.data->contactList->get(0).sentCount, 0);
    QCOMPARE(f.data->moveSentMessages(), 0);

    const int commandsBefore = static_cast<int>(f.sim.commands().size());
    QVERIFY(f.run());
    QVERIFY(f.data->phone->reports.isEmpty());
    const QList<QByteArray> commands = f.sim.commands().mid(commandsBefore);
    QCOMPARE(commands.size(), SetupCommands.size() + 2);
    const QList<ReceivedSms> received = f.sim.received();
    QCOMPARE(received.size(), 3);
    QCOMPARE(received[1].concatSeq, 2);
    QCOMPARE(received[2].concatSeq, 3);
    for (const ReceivedSms &part : received)
        QCOMPARE(part.concatRef, 77);
    QCOMPARE(f.sim.completed().size(), 1);
    QCOMPARE(f.sim.completed()[0].text, text);
    message = f.data->outboxList->get(0);
    QCOMPARE(message.status, MessageStatus::Sent);
    QCOMPARE(message.acceptedParts, quint16(0b111));
    QCOMPARE(f.data->contactList->get(0).sentCount, 1);
    // One reference for the message, over both runs.
    QCOMPARE(
        IniFile(f.data->settings->fileName()).readInteger("Setting", "Long Message Reference", -1),
        78);
}

// Stopped while the phone takes part 1: the part completes, part 2 is not started; the next
// run sends parts 2 and 3 with part 1's reference.
void TestSender::stopBetweenPartsKeepsAcceptedParts() {
    ModemSimOptions options;
    options.delayMs = 300;
    RunFixture f(options);
    const QString text = QString(150, QChar(0x4E2D)); // 67 + 67 + 16
    f.addMessage("555", text, false, true);
    f.addMessage("556", QStringLiteral("after"));
    QVERIFY(f.startRun());
    QTRY_COMPARE_WITH_TIMEOUT(f.sim.bodiesSeen(), 1, 10000);
    f.data->phone->stopWorker();
    QVERIFY(f.waitIdle());
    QVERIFY(f.data->phone->reports.isEmpty());
    QCOMPARE(f.outboxStatuses(),
             (QList<MessageStatus>{MessageStatus::Pending, MessageStatus::Pending}));
    const Message stopped = f.data->outboxList->get(0);
    QCOMPARE(stopped.acceptedParts, quint16(0b001));
    QCOMPARE(f.sim.received().size(), 1);
    QCOMPARE(f.sim.bodiesSeen(), 1);

    QVERIFY(f.run());
    QVERIFY(f.data->phone->reports.isEmpty());
    const QList<ReceivedSms> received = f.sim.received();
    QCOMPARE(received.size(), 4);
    QCOMPARE(received[1].concatSeq, 2);
    QCOMPARE(received[2].concatSeq, 3);
    QCOMPARE(received[2].concatRef, stopped.partReference);
    QCOMPARE(received[3].text, QStringLiteral("after"));
    QCOMPARE(f.sim.completed().size(), 1);
    QCOMPARE(f.sim.completed()[0].text, text);
    QCOMPARE(f.outboxStatuses(), (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Sent}));
}

// The counter lives in the settings file: a later program run (pelorvane-cli on the same file,
// say) goes on from it, and consecutive long messages never share a reference.
void TestSender::settingsFileCountsReferencesAcrossRuns() {
    RunFixture f;
    const QString iniPath = f.data->settings->fileName();
    IniFile ini(iniPath);
    ini.writeInteger("Setting", "Long Message Reference", 254);
    QVERIFY(ini.updateFile());
    for (int i = 0; i < 2; ++i)
        f.addMessage("100", QString(200, u'a'), false, true);
    QVERIFY(f.run());
    // Another program on the same settings file sends a long message meanwhile.
    QCOMPARE(Settings(iniPath).takeLongMessageReference(), quint8(0));
    f.addMessage("100", QString(200, u'a'), false, true);
    QVERIFY(f.run());
    QList<int> references;
    for (const ReceivedSms &part : f.sim.received())
        references << part.concatRef;
    QCOMPARE(references, (QList<int>{254, 254, 255, 255, 1, 1}));
    QCOMPARE(IniFile(iniPath).readInteger("Setting", "Long Message Reference", -1), 2);
}

void TestSender::skipsMessagesNotPending() {
    RunFixture f;
    f.addMessages(3);
    {
        MessageList::Locker items(*f.data->outboxList);
        (*items)[0]->status = MessageStatus::Sent;
        (*items)[1]->status = MessageStatus::Sending;
    }
    QVERIFY(f.run());
    QCOMPARE(f.sim.received().size(), 1);
    QCOMPARE(f.sim.received()[0].number, QByteArray("1003"));
}

void TestSender::deletionsDuringRun() {
    RunFixture f;
    f.addContact("1001");
    f.addMessages(6);
    // While message 1 is in flight: delete it; while message 2 is: delete it and message 4.
    f.onRefresh = [&] {
        if (f.refreshes == 1) {
            f.data->outboxList->remove(0);
        } else if (f.refreshes == 3) {
            QCOMPARE(f.data->outboxList->get(0).status, MessageStatus::Sending);
            f.data->outboxList->removeMany({0, 2});
        }
    };
    QVERIFY(f.run());
    QVERIFY(f.data->phone->reports.isEmpty());
    QList<QByteArray> numbers;
    for (const ReceivedSms &sms : f.sim.received())
        numbers << sms.number;
    // The deleted-in-flight messages went out once; message 4, deleted while waiting, never.
    QCOMPARE(numbers, (QList<QByteArray>{"1001", "1002", "1003", "1005", "1006"}));
    QCOMPARE(f.outboxStatuses(),
             (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Sent, MessageStatus::Sent}));
    QCOMPARE(f.data->contactList->get(0).sentCount, 1);
}

void TestSender::destroyingDataModuleStopsTheRun() {
    ModemSimOptions options;
    options.delayMs = 100;
    RunFixture f(options);
    f.addMessages(50);
    QVERIFY(f.startRun());
    QTRY_VERIFY_WITH_TIMEOUT(f.sim.received().size() >= 1, 10000);
    // The worker may be waiting in a refresh on this thread: destruction must serve it.
    f.data.reset();
    QCOMPARE(f.workerDone, 1);
    QVERIFY(f.sim.received().size() < 50);
}

void TestSender::faultInjection_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("position");
    const char *names[] = {"refusal", "silence", "hang-up"};
    for (int fault = 0; fault < 3; ++fault)
        for (int position = 1; position <= 20; ++position)
            QTest::addRow("%s at %d", names[fault], position) << fault << position;
}

// Every message ends up exactly once in outbox or sent; the sent ones are exactly what the
// phones accepted; nothing is sent twice over the faulty run and a clean second run.
void TestSender::faultInjection() {
    QFETCH(int, fault);
    QFETCH(int, position);
    ModemSimOptions options;
    (fault == 0 ? options.failAt : fault == 1 ? options.silentAt : options.hangupAt) = position;
    auto data = std::make_unique<RunFixture>(options);
    RunFixture &first = *data;
    // Silence is only noticed after 61 empty read waits: make them short, but not so short
    // that a busy machine's slow answer counts as silence.
    if (fault == 1)
        first.data->serial->readWait = 10;
    first.addMessages(20);
    QVERIFY(first.run());
    // A refusal for a while leaves that message pending and the run goes on; silence and a
    // hang-up end it with that message unknown.
    QCOMPARE(first.data->phone->reports.size(), fault == 0 ? 0 : 1);
    QCOMPARE(first.data->moveSentMessages(), fault == 0 ? 19 : position - 1);

    // The second run goes to a fresh phone on the same project.
    ModemSim second;
    QVERIFY(second.start());
    first.data->settings->setSessionPort(second.portPath().toLocal8Bit());
    first.data->serial->readWait = GsmSerial::ReadWaitMs;
    QVERIFY(first.run());
    QVERIFY(first.data->phone->reports.isEmpty());
    first.data->moveSentMessages();

    QList<ReceivedSms> accepted = first.sim.received() + second.received();
    const int unknown = fault == 0 ? 0 : 1;
    QCOMPARE(first.data->outboxList->count(), unknown);
    if (unknown) {
        const Message left = first.data->outboxList->get(0);
        QCOMPARE(left.status, MessageStatus::Unknown);
        QCOMPARE(left.number, QByteArray::number(1000 + position));
    }
    QCOMPARE(first.data->sentList->count(), 20 - unknown);
    QCOMPARE(accepted.size(), 20 - unknown);
    QSet<QByteArray> numbers;
    for (int i = 0; i < 20 - unknown; ++i) {
        const Message sent = first.data->sentList->get(i);
        QCOMPARE(accepted[i].number, sent.number);
        QCOMPARE(accepted[i].text, sent.text);
        numbers.insert(sent.number);
    }
    QCOMPARE(numbers.size(), 20 - unknown);
}

QTEST_GUILESS_MAIN(TestSender)
#include "tst_sender.moc"
