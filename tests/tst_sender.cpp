// Whole sending runs through the phone and the sender thread against the simulated phone on
// a real pseudo-terminal.

#include "app/AppData.h"
#include "base/OleDate.h"
#include "link/GsmSerial.h"
#include "link/Phone.h"
#include "modemsim/ModemSim.h"
#include "sending/SenderThread.h"

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
        data->phone->onWorkerDone = [this](Phone &) { ++workerDone; };
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
    bool startRun() {
        bool started = false;
        withPhoneLock(*data->phone, [&] {
            if (!data->phone->isBusy()) {
                data->phone->start(data->newSender());
                started = true;
            }
        });
        return started;
    }

    bool waitIdle(int timeoutMs = 20000) {
        QElapsedTimer timer;
        timer.start();
        while (data->phone->isBusy() && timer.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return !data->phone->isBusy();
    }

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
};

const QList<QByteArray> SetupCommands = {"AT+CMGF=?", "ATE0", "AT+CMGF=0"};

} // namespace

class TestSender : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyOutboxSendsSetupOnly();
    void threeAcceptedMessages();
    void refusalEndsTheRun();
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

void TestSender::refusalEndsTheRun() {
    ModemSimOptions options;
    options.failAt = 1;
    RunFixture f(options);
    f.addMessages(2);
    QVERIFY(f.run());
    QCOMPARE(f.data->phone->reports, QList<QByteArray>{"+CMS ERROR: 500"});
    QCOMPARE(f.outboxStatuses(),
             (QList<MessageStatus>{MessageStatus::Pending, MessageStatus::Pending}));
    QCOMPARE(f.sim.bodiesSeen(), 1);
    QVERIFY(!f.data->serial->connected());
    QCOMPARE(f.data->moveSentMessages(), 0);
}

void TestSender::refusedSetupCommand_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("commands");
    QTest::newRow("AT+CMGF=? refused") << 0 << 1;
    QTest::newRow("AT+CMGF=0 refused") << 1 << 3;
}

void TestSender::refusedSetupCommand() {
    QFETCH(int, which);
    QFETCH(int, commands);
    ModemSimOptions options;
    (which == 0 ? options.refuseCmgfQuery : options.refuseCmgf0) = true;
    RunFixture f(options);
    f.addMessages(1);
    QVERIFY(f.run());
    QCOMPARE(f.sim.commands().size(), commands);
    QCOMPARE(f.data->phone->reports, QList<QByteArray>{"ERROR"});
    QCOMPARE(f.sim.bodiesSeen(), 0);
    QCOMPARE(f.outboxStatuses(), QList<MessageStatus>{MessageStatus::Pending});
    QCOMPARE(f.refreshes, 0);
}

void TestSender::stopWhileWaitingForPrompt() {
    ModemSimOptions options;
    options.delayMs = 1500;
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
    QCOMPARE(f.outboxStatuses(), (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Pending,
                                                       MessageStatus::Pending}));
    QVERIFY(!f.data->serial->connected());
    // The refresh after the failed outcome still ran: sending and outcome for both.
    QCOMPARE(f.refreshes, 4);
}

void TestSender::hangUpMidRun() {
    ModemSimOptions options;
    options.hangupAt = 2;
    RunFixture f(options);
    f.addMessages(3);
    QVERIFY(f.run());
    QCOMPARE(f.data->phone->reports.size(), 1);
    QVERIFY(!f.data->phone->reports[0].isEmpty());
    QCOMPARE(f.outboxStatuses(), (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Pending,
                                                       MessageStatus::Pending}));
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
    QTest::addColumn<QByteArray>("report");
    QTest::newRow("comma in number")
        << QByteArray("12,34") << false << QByteArray("Invalid phone number: 12,34");
    QTest::newRow("CR and Ctrl-Z in number")
        << QByteArray("12\r34\x1a") << false << QByteArray("Invalid phone number: 12\r34\x1a");
    QTest::newRow("empty number") << QByteArray() << false << QByteArray("Invalid phone number: ");
    QTest::newRow("long flag") << QByteArray("123") << true
                               << QByteArray("Long messages are not supported");
}

void TestSender::invalidNumberAndLongFlag() {
    QFETCH(QByteArray, number);
    QFETCH(bool, isLong);
    QFETCH(QByteArray, report);
    RunFixture f;
    f.addMessage("111", QStringLiteral("first"));
    f.addMessage(number, QStringLiteral("second"), false, isLong);
    f.addMessage("333", QStringLiteral("third"));
    QVERIFY(f.run());
    QCOMPARE(f.data->phone->reports, QList<QByteArray>{report});
    QCOMPARE(f.outboxStatuses(), (QList<MessageStatus>{MessageStatus::Sent, MessageStatus::Pending,
                                                       MessageStatus::Pending}));
    // Nothing was written to the phone for the refused message.
    QCOMPARE(f.sim.commands().mid(SetupCommands.size()), QList<QByteArray>{"AT+CMGS=14"});
    QCOMPARE(f.sim.bodiesSeen(), 1);
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
    QCOMPARE(first.data->phone->reports.size(), 1);
    QCOMPARE(first.data->moveSentMessages(), position - 1);

    // The second run goes to a fresh phone on the same project.
    ModemSim second;
    QVERIFY(second.start());
    first.data->settings->setSessionPort(second.portPath().toLocal8Bit());
    first.data->serial->readWait = GsmSerial::ReadWaitMs;
    QVERIFY(first.run());
    QVERIFY(first.data->phone->reports.isEmpty());
    first.data->moveSentMessages();

    QList<ReceivedSms> accepted = first.sim.received() + second.received();
    QCOMPARE(first.data->outboxList->count(), 0);
    QCOMPARE(first.data->sentList->count(), 20);
    QCOMPARE(accepted.size(), 20);
    QSet<QByteArray> numbers;
    for (int i = 0; i < 20; ++i) {
        const Message sent = first.data->sentList->get(i);
        QCOMPARE(accepted[i].number, sent.number);
        QCOMPARE(accepted[i].text, sent.text);
        numbers.insert(sent.number);
    }
    QCOMPARE(numbers.size(), 20);
}

QTEST_GUILESS_MAIN(TestSender)
#include "tst_sender.moc"
