// Whole sending runs through the phone and the sender thread against the simulated phone on
// a real pseudo-terminal.

#include "app/Database.h"
#include "data/OleDate.h"
#include "link/GsmSerial.h"
#include "link/PhoneUnit.h"
#include "sending/SenderThread.h"
#include "tools/modemsim/ModemSim.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// A data module on a temporary settings file, talking to one simulated phone.
struct TRunFixture {
    explicit TRunFixture(TModemSimOptions options = {}) : Sim(options) {
        QString error;
        Started = Sim.Start(&error);
        if (!Started)
            qWarning("simulated phone: %s", qPrintable(error));
        Data = std::make_unique<TDataModule1>(Dir.filePath(QStringLiteral("pelorvane.ini")));
        Data->Settings->SetSessionPort(Sim.PortPath().toLocal8Bit());
        Data->OnRefreshAll = [this] {
            ++Refreshes;
            if (OnRefresh)
                OnRefresh();
        };
        Data->Phone->OnWorkerDone = [this](TPhone &) { ++WorkerDone; };
    }

    void AddMessage(const QByteArray &number, const QString &text, bool flash = false,
                    bool isLong = false) {
        TMessage message;
        message.Number = number;
        message.Text = text;
        message.Flash = flash;
        message.Long = isLong;
        message.Created = OleNow();
        Data->OutboxList->Add(message);
    }

    void AddMessages(int count) {
        for (int i = 1; i <= count; ++i)
            AddMessage(QByteArray::number(1000 + i), QStringLiteral("message %1").arg(i));
    }

    void AddContact(const QByteArray &number) {
        TContact contact;
        contact.Name = QString::fromLatin1(number);
        contact.Number = number;
        Data->ContactList->Add(contact);
    }

    // The UI action pattern of the window's Start.
    bool StartRun() {
        bool started = false;
        WithPhoneLock(*Data->Phone, [&] {
            if (!Data->Phone->IsBusy()) {
                Data->Phone->Start(new TSenderThread(*Data));
                started = true;
            }
        });
        return started;
    }

    bool WaitIdle(int timeoutMs = 20000) {
        QElapsedTimer timer;
        timer.start();
        while (Data->Phone->IsBusy() && timer.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return !Data->Phone->IsBusy();
    }

    bool Run() { return StartRun() && WaitIdle(); }

    QList<TMessageStatus> OutboxStatuses() const {
        QList<TMessageStatus> result;
        for (int i = 0; i < Data->OutboxList->Count(); ++i)
            result << Data->OutboxList->Get(i).Status;
        return result;
    }

    QTemporaryDir Dir;
    TModemSim Sim;
    bool Started = false;
    std::unique_ptr<TDataModule1> Data;
    int Refreshes = 0;
    int WorkerDone = 0;
    std::function<void()> OnRefresh;
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
    TRunFixture f;
    QVERIFY(f.Started);
    QVERIFY(f.Run());
    QCOMPARE(f.Sim.Commands(), SetupCommands);
    QVERIFY(f.Data->Phone->Reports.isEmpty());
    QVERIFY(!f.Data->Serial->Connected());
    QCOMPARE(f.WorkerDone, 1);
    QVERIFY(!f.Data->Modified);
}

void TestSender::threeAcceptedMessages() {
    TRunFixture f;
    f.AddContact("1002");
    f.AddContact("1002");
    f.AddMessages(3);
    f.Data->Modified = false;
    QList<QList<TMessageStatus>> seen;
    f.OnRefresh = [&] { seen.append(f.OutboxStatuses()); };
    const double before = OleNow();
    QVERIFY(f.Run());

    QVERIFY(f.Data->Phone->Reports.isEmpty());
    const QList<TReceivedSms> received = f.Sim.Received();
    QCOMPARE(received.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(received[i].Number, QByteArray::number(1001 + i));
        QCOMPARE(received[i].Text, QStringLiteral("message %1").arg(i + 1));
        const TMessage message = f.Data->OutboxList->Get(i);
        QCOMPARE(message.Status, msSent);
        QVERIFY(message.Sent >= before && message.Sent <= OleNow());
    }
    // Two refreshes per message: sending, then sent; in list order.
    QCOMPARE(f.Refreshes, 6);
    QCOMPARE(seen[0], (QList<TMessageStatus>{msSending, msPending, msPending}));
    QCOMPARE(seen[1], (QList<TMessageStatus>{msSent, msPending, msPending}));
    QCOMPARE(seen[2], (QList<TMessageStatus>{msSent, msSending, msPending}));
    // Only the first contact with the number counts the message.
    QCOMPARE(f.Data->ContactList->Get(0).SentCount, 1);
    QCOMPARE(f.Data->ContactList->Get(1).SentCount, 0);
    // The sender never notifies; the transfer does.
    QVERIFY(!f.Data->Modified);
    QCOMPARE(f.Data->MoveSentMessages(), 3);
    QCOMPARE(f.Data->OutboxList->Count(), 0);
    QCOMPARE(f.Data->SentList->Count(), 3);
    QVERIFY(f.Data->Modified);
}

void TestSender::refusalEndsTheRun() {
    TModemSimOptions options;
    options.FailAt = 1;
    TRunFixture f(options);
    f.AddMessages(2);
    QVERIFY(f.Run());
    QCOMPARE(f.Data->Phone->Reports, QList<QByteArray>{"+CMS ERROR: 500"});
    QCOMPARE(f.OutboxStatuses(), (QList<TMessageStatus>{msPending, msPending}));
    QCOMPARE(f.Sim.BodiesSeen(), 1);
    QVERIFY(!f.Data->Serial->Connected());
    QCOMPARE(f.Data->MoveSentMessages(), 0);
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
    TModemSimOptions options;
    (which == 0 ? options.RefuseCmgfQuery : options.RefuseCmgf0) = true;
    TRunFixture f(options);
    f.AddMessages(1);
    QVERIFY(f.Run());
    QCOMPARE(f.Sim.Commands().size(), commands);
    QCOMPARE(f.Data->Phone->Reports, QList<QByteArray>{"ERROR"});
    QCOMPARE(f.Sim.BodiesSeen(), 0);
    QCOMPARE(f.OutboxStatuses(), QList<TMessageStatus>{msPending});
    QCOMPARE(f.Refreshes, 0);
}

void TestSender::stopWhileWaitingForPrompt() {
    TModemSimOptions options;
    options.DelayMs = 1500;
    TRunFixture f(options);
    f.Data->Serial->ReadWait = 100;
    f.AddMessages(2);
    // Once the first message is claimed, stop while the phone is slow to prompt.
    f.OnRefresh = [&] {
        if (f.Refreshes == 1)
            QTimer::singleShot(200, [&] { f.Data->Phone->StopWorker(); });
    };
    QElapsedTimer timer;
    QVERIFY(f.StartRun());
    QTRY_COMPARE_WITH_TIMEOUT(f.Refreshes, 1, 10000);
    timer.start();
    QVERIFY(f.WaitIdle());
    // Within one read wait after the stop, not after the phone's slow answer.
    QVERIFY2(timer.elapsed() < 1200, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(f.Data->Phone->Reports.isEmpty());
    QCOMPARE(f.OutboxStatuses(), (QList<TMessageStatus>{msPending, msPending}));
    QCOMPARE(f.Sim.BodiesSeen(), 0);
    QVERIFY(!f.Data->Serial->Connected());
}

void TestSender::stopDuringBodyCompletesTheMessage() {
    TModemSimOptions options;
    options.DelayMs = 150;
    TRunFixture f(options);
    f.AddMessages(2);
    QVERIFY(f.StartRun());
    QTRY_COMPARE_WITH_TIMEOUT(f.Sim.BodiesSeen(), 1, 10000);
    f.Data->Phone->StopWorker();
    QVERIFY(f.WaitIdle());
    QCOMPARE(f.OutboxStatuses(), (QList<TMessageStatus>{msSent, msPending}));
    QCOMPARE(f.Sim.Received().size(), 1);
    QVERIFY(f.Data->Phone->Reports.isEmpty());
}

void TestSender::silentPhoneTimesOut() {
    TModemSimOptions options;
    options.SilentAt = 2;
    TRunFixture f(options);
    f.Data->Serial->ReadWait = 5;
    f.AddMessages(3);
    QVERIFY(f.Run());
    QCOMPARE(f.Data->Phone->Reports, QList<QByteArray>{"Timeout in reading COM port"});
    QCOMPARE(f.OutboxStatuses(), (QList<TMessageStatus>{msSent, msPending, msPending}));
    QVERIFY(!f.Data->Serial->Connected());
    // The refresh after the failed outcome still ran: sending and outcome for both.
    QCOMPARE(f.Refreshes, 4);
}

void TestSender::hangUpMidRun() {
    TModemSimOptions options;
    options.HangupAt = 2;
    TRunFixture f(options);
    f.AddMessages(3);
    QVERIFY(f.Run());
    QCOMPARE(f.Data->Phone->Reports.size(), 1);
    QVERIFY(!f.Data->Phone->Reports[0].isEmpty());
    QCOMPARE(f.OutboxStatuses(), (QList<TMessageStatus>{msSent, msPending, msPending}));
    QVERIFY(!f.Data->Serial->Connected());
}

void TestSender::portAlreadyOpen() {
    TRunFixture f;
    f.AddMessages(1);
    f.Data->ComPort->SetPortName(f.Sim.PortPath().toLocal8Bit());
    f.Data->Serial->Open();
    QVERIFY(f.Run());
    QCOMPARE(f.Data->Phone->Reports, QList<QByteArray>{"Phone already busy"});
    QVERIFY(f.Data->Serial->Connected());
    QVERIFY(f.Sim.Commands().isEmpty());
    QCOMPARE(f.OutboxStatuses(), QList<TMessageStatus>{msPending});
    f.Data->Serial->Close();
}

void TestSender::startTwiceGivesOneWorker() {
    TModemSimOptions options;
    options.DelayMs = 50;
    TRunFixture f(options);
    f.AddMessages(2);
    QVERIFY(f.StartRun());
    QVERIFY(!f.StartRun());
    QVERIFY(f.WaitIdle());
    QCOMPARE(f.WorkerDone, 1);
    QCOMPARE(f.Sim.Received().size(), 2);
    QCOMPARE(f.Sim.Commands().count("ATE0"), 1);
}

void TestSender::stopWithoutWorker() {
    TRunFixture f;
    f.Data->Phone->StopWorker();
    QVERIFY(!f.Data->Serial->Aborted);
    QVERIFY(!f.Data->Phone->IsBusy());
    QCOMPARE(f.WorkerDone, 0);
}

void TestSender::startAfterStop() {
    TModemSimOptions options;
    options.DelayMs = 300;
    TRunFixture f(options);
    f.Data->Serial->ReadWait = 50;
    f.AddMessages(2);
    QVERIFY(f.StartRun());
    f.Data->Phone->StopWorker();
    QVERIFY(f.WaitIdle());
    QCOMPARE(f.WorkerDone, 1);
    // The stop latched the link's abort flag; the next run's Open clears it.
    QVERIFY(f.Run());
    QCOMPARE(f.WorkerDone, 2);
    QCOMPARE(f.OutboxStatuses(), (QList<TMessageStatus>{msSent, msSent}));
    QVERIFY(f.Data->Phone->Reports.isEmpty());
}

void TestSender::invalidNumberAndLongFlag_data() {
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<bool>("isLong");
    QTest::addColumn<QByteArray>("report");
    QTest::newRow("space in number")
        << QByteArray("12 34") << false << QByteArray("Invalid phone number: 12 34");
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
    TRunFixture f;
    f.AddMessage("111", QStringLiteral("first"));
    f.AddMessage(number, QStringLiteral("second"), false, isLong);
    f.AddMessage("333", QStringLiteral("third"));
    QVERIFY(f.Run());
    QCOMPARE(f.Data->Phone->Reports, QList<QByteArray>{report});
    QCOMPARE(f.OutboxStatuses(), (QList<TMessageStatus>{msSent, msPending, msPending}));
    // Nothing was written to the phone for the refused message.
    QCOMPARE(f.Sim.Commands().mid(SetupCommands.size()), QList<QByteArray>{"AT+CMGS=14"});
    QCOMPARE(f.Sim.BodiesSeen(), 1);
}

void TestSender::skipsMessagesNotPending() {
    TRunFixture f;
    f.AddMessages(3);
    {
        TMessageList::TLocker items(*f.Data->OutboxList);
        (*items)[0]->Status = msSent;
        (*items)[1]->Status = msSending;
    }
    QVERIFY(f.Run());
    QCOMPARE(f.Sim.Received().size(), 1);
    QCOMPARE(f.Sim.Received()[0].Number, QByteArray("1003"));
}

void TestSender::deletionsDuringRun() {
    TRunFixture f;
    f.AddContact("1001");
    f.AddMessages(6);
    // While message 1 is in flight: delete it; while message 2 is: delete it and message 4.
    f.OnRefresh = [&] {
        if (f.Refreshes == 1) {
            f.Data->OutboxList->Delete(0);
        } else if (f.Refreshes == 3) {
            QCOMPARE(f.Data->OutboxList->Get(0).Status, msSending);
            f.Data->OutboxList->DeleteMany({0, 2});
        }
    };
    QVERIFY(f.Run());
    QVERIFY(f.Data->Phone->Reports.isEmpty());
    QList<QByteArray> numbers;
    for (const TReceivedSms &sms : f.Sim.Received())
        numbers << sms.Number;
    // The deleted-in-flight messages went out once; message 4, deleted while waiting, never.
    QCOMPARE(numbers, (QList<QByteArray>{"1001", "1002", "1003", "1005", "1006"}));
    QCOMPARE(f.OutboxStatuses(), (QList<TMessageStatus>{msSent, msSent, msSent}));
    QCOMPARE(f.Data->ContactList->Get(0).SentCount, 1);
}

void TestSender::destroyingDataModuleStopsTheRun() {
    TModemSimOptions options;
    options.DelayMs = 100;
    TRunFixture f(options);
    f.AddMessages(50);
    QVERIFY(f.StartRun());
    QTRY_VERIFY_WITH_TIMEOUT(f.Sim.Received().size() >= 1, 10000);
    // The worker may be waiting in a refresh on this thread: destruction must serve it.
    f.Data.reset();
    QCOMPARE(f.WorkerDone, 1);
    QVERIFY(f.Sim.Received().size() < 50);
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
    TModemSimOptions options;
    (fault == 0 ? options.FailAt : fault == 1 ? options.SilentAt : options.HangupAt) = position;
    auto data = std::make_unique<TRunFixture>(options);
    TRunFixture &first = *data;
    // Silence is only noticed after 61 empty read waits: make them short, but not so short
    // that a busy machine's slow answer counts as silence.
    if (fault == 1)
        first.Data->Serial->ReadWait = 10;
    first.AddMessages(20);
    QVERIFY(first.Run());
    QCOMPARE(first.Data->Phone->Reports.size(), 1);
    QCOMPARE(first.Data->MoveSentMessages(), position - 1);

    // The second run goes to a fresh phone on the same project.
    TModemSim second;
    QVERIFY(second.Start());
    first.Data->Settings->SetSessionPort(second.PortPath().toLocal8Bit());
    first.Data->Serial->ReadWait = TGsmSerial::ReadWaitMs;
    QVERIFY(first.Run());
    QVERIFY(first.Data->Phone->Reports.isEmpty());
    first.Data->MoveSentMessages();

    QList<TReceivedSms> accepted = first.Sim.Received() + second.Received();
    QCOMPARE(first.Data->OutboxList->Count(), 0);
    QCOMPARE(first.Data->SentList->Count(), 20);
    QCOMPARE(accepted.size(), 20);
    QSet<QByteArray> numbers;
    for (int i = 0; i < 20; ++i) {
        const TMessage sent = first.Data->SentList->Get(i);
        QCOMPARE(accepted[i].Number, sent.Number);
        QCOMPARE(accepted[i].Text, sent.Text);
        numbers.insert(sent.Number);
    }
    QCOMPARE(numbers.size(), 20);
}

QTEST_GUILESS_MAIN(TestSender)
#include "tst_sender.moc"
