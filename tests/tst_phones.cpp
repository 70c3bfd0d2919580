// Runs through several phones at once: simulated phones on real pseudo-terminals, each with its
// own pace and faults, one outbox; the settings' list of phones and pelorvane-cli's --port
// given more than once.

#include "app/AppData.h"
#include "app/Settings.h"
#include "base/Error.h"
#include "data/OutcomeLog.h"
#include "link/Phone.h"
#include "modemsim/ModemSim.h"
#include "sending/PhoneGroupRun.h"
#include "sending/SenderThread.h"
#include "support/CliRun.h"
#include "support/RunStart.h"
#include "support/TestMessages.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <vector>

namespace {

// A data module on a temporary settings file whose session ports are the given phones.
struct GroupFixture {
    explicit GroupFixture(const QList<ModemSimOptions> &phones, int messages) {
        for (const ModemSimOptions &options : phones) {
            sims.push_back(std::make_unique<ModemSim>(options));
            QString error;
            if (!sims.back()->start(&error))
                qWarning("simulated phone: %s", qPrintable(error));
            ports << sims.back()->portPath().toLocal8Bit();
        }
        data = std::make_unique<AppData>(dir.filePath(QStringLiteral("pelorvane.ini")));
        data->settings->setSessionPorts(ports);
        data->settings->setRetryDelaysMs({});
        data->phone->onWorkerDone = [this](Phone &phone) {
            if (auto *worker = qobject_cast<SendingWorker *>(phone.endedWorker())) {
                summary = worker->summary();
                statuses = worker->phoneStatuses();
                grouped = qobject_cast<PhoneGroupRun *>(worker) != nullptr;
            }
        };
        addNumberedMessages(*data->outboxList, messages);
    }

    bool start() { return ::startRun(*data); }

    bool waitIdle(int timeoutMs = 30000) { return waitPhoneIdle(*data->phone, timeoutMs); }

    int count(MessageStatus status) const {
        int n = 0;
        for (int i = 0; i < data->outboxList->count(); ++i)
            n += data->outboxList->get(i).status == status ? 1 : 0;
        return n;
    }

    QTemporaryDir dir;
    std::vector<std::unique_ptr<ModemSim>> sims;
    QList<QByteArray> ports;
    std::unique_ptr<AppData> data;
    RunSummary summary;
    QList<PhoneRunStatus> statuses;
    bool grouped = false;
};

// Keeps outcomes in memory, but the one commit numbered failAt cannot be made durable (a full
// disk for a moment).
class FailingOnceLog final : public OutcomeLog {
public:
    explicit FailingOnceLog(int failAt) : m_failAt(failAt) {}
    void commit(const void *, const std::function<Message()> &change) override {
        change();
        if (++m_commits == m_failAt)
            throw Error(QStringLiteral("Cannot write the journal: disk full"));
    }
    void inFlight(const void *, const Message &) override {}

private:
    int m_failAt;
    std::atomic<int> m_commits{0};
};

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestPhones : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void eachMessageThroughOnePhone();
    void everyPhoneFailsToStart();
    void stopEndsEveryPhone();
    void outcomeNotRecordedEndsEveryPhone();
    void onePhoneRunIsNotGrouped();
    void settingsKeepThePhoneList();
    void settingsRefuseBadLists_data();
    void settingsRefuseBadLists();
    void cliRefusesBadPorts_data();
    void cliRefusesBadPorts();
    void cliSendsThroughSeveralPhones();
    void cliProbesEachPhone();
};

void TestPhones::eachMessageThroughOnePhone() {
    // The refusing phone answers at once, so that it meets three messages before the others
    // have sent them all.
    ModemSimOptions quick;
    quick.delayMs = 5;
    ModemSimOptions slow;
    slow.delayMs = 25;
    ModemSimOptions refusing;
    refusing.refuseEvery = "+CMS ERROR: 500";
    ModemSimOptions hangingUp;
    hangingUp.delayMs = 10;
    hangingUp.hangupAt = 5;
    GroupFixture f({quick, slow, refusing, hangingUp}, 60);
    QVERIFY(f.start());
    QVERIFY(f.waitIdle());
    QVERIFY(f.grouped);

    // Every message the phones accepted is one of the outbox, accepted by one phone once.
    QHash<QByteArray, QByteArray> acceptedBy;
    int accepted = 0;
    for (const auto &sim : f.sims) {
        for (const ReceivedSms &sms : sim->received()) {
            QVERIFY2(!acceptedBy.contains(sms.number), sms.number.constData());
            acceptedBy.insert(sms.number, sim->portPath().toLocal8Bit());
            ++accepted;
        }
    }
    QCOMPARE(f.sims[2]->received().size(), 0);
    QCOMPARE(f.sims[3]->received().size(), 4);
    QVERIFY(f.sims[0]->received().size() > 0 && f.sims[1]->received().size() > 0);

    // The body the phone hung up on may have gone: Unknown; every other one was sent, the
    // refused ones by the other phones.
    QCOMPARE(f.summary.sent, accepted);
    QCOMPARE(accepted, 59);
    QCOMPARE(f.summary.unknown, 1);
    QCOMPARE(f.summary.failed, 0);
    QCOMPARE(f.summary.notSent, 0);
    QCOMPARE(f.count(MessageStatus::Sent), accepted);
    QCOMPARE(f.count(MessageStatus::Unknown), 1);
    for (int i = 0; i < f.data->outboxList->count(); ++i) {
        const Message message = f.data->outboxList->get(i);
        if (message.status == MessageStatus::Sent)
            QCOMPARE(message.phone.toLocal8Bit(), acceptedBy.value(message.number));
    }

    QCOMPARE(f.statuses.size(), 4);
    QCOMPARE(f.statuses[0].state, PhoneRunStatus::State::Done);
    QCOMPARE(f.statuses[1].state, PhoneRunStatus::State::Done);
    QCOMPARE(f.statuses[2].state, PhoneRunStatus::State::Paused);
    QCOMPARE(f.statuses[2].detail, QStringLiteral("refused 3 times: +CMS ERROR: 500"));
    QCOMPARE(f.statuses[3].state, PhoneRunStatus::State::Paused);
    QCOMPARE(f.statuses[3].detail, QStringLiteral("phone hung up"));
    QCOMPARE(f.statuses[3].sent, 4);
    QCOMPARE(f.statuses[0].sent + f.statuses[1].sent, 55);
    const QString line = PhoneRunStatus::line(f.statuses);
    QVERIFY2(line.contains(QString::fromLocal8Bit(f.ports[2]) +
                           QStringLiteral(": paused — refused 3 times")),
             qPrintable(line));
    // Each phone's report names it.
    const QList<QByteArray> reports = f.data->phone->reports;
    QVERIFY(std::any_of(reports.cbegin(), reports.cend(),
                        [&](const QByteArray &r) { return r.startsWith(f.ports[2] + ": "); }));
    QVERIFY(std::any_of(reports.cbegin(), reports.cend(),
                        [&](const QByteArray &r) { return r.startsWith(f.ports[3] + ": "); }));
}

void TestPhones::everyPhoneFailsToStart() {
    ModemSimOptions noSim;
    noSim.noSim = true;
    ModemSimOptions denied;
    denied.registration = "denied";
    GroupFixture f({noSim, denied}, 10);
    const QByteArray missing = f.dir.filePath(QStringLiteral("no-such-tty")).toLocal8Bit();
    QVERIFY(f.data->settings->setSessionPorts({f.ports[0], f.ports[1], missing}));
    QVERIFY(f.start());
    QVERIFY(f.waitIdle());

    QVERIFY(!f.summary.started);
    QCOMPARE(f.summary.notSent, 10);
    QCOMPARE(f.count(MessageStatus::Pending), 10);
    QCOMPARE(f.statuses.size(), 3);
    QCOMPARE(f.statuses[0].detail, QStringLiteral("no SIM card"));
    QCOMPARE(f.statuses[1].detail, QStringLiteral("network denied"));
    QCOMPARE(f.statuses[2].detail, QStringLiteral("port cannot be opened"));
    for (const PhoneRunStatus &status : f.statuses)
        QCOMPARE(status.state, PhoneRunStatus::State::Paused);
    QCOMPARE(f.data->phone->reports.size(), 3);
}

void TestPhones::stopEndsEveryPhone() {
    ModemSimOptions paced;
    paced.delayMs = 60;
    GroupFixture f({paced, paced, paced}, 40);
    QVERIFY(f.start());
    QElapsedTimer timer;
    timer.start();
    auto total = [&] {
        int n = 0;
        for (const auto &sim : f.sims)
            n += static_cast<int>(sim->received().size());
        return n;
    };
    while (total() < 6 && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    f.data->stopWorkerAndWait();
    QVERIFY(!f.data->phone->isBusy());
    QCOMPARE(f.count(MessageStatus::Sending), 0);
    // A stop lets a body being taken finish: nothing the phones took is left unrecorded.
    QCOMPARE(f.count(MessageStatus::Sent), total());
    QCOMPARE(f.summary.sent, total());
    QVERIFY(f.count(MessageStatus::Pending) > 0);
    QCOMPARE(f.summary.notSent, f.count(MessageStatus::Pending));
    for (const PhoneRunStatus &status : f.statuses)
        QVERIFY(status.state == PhoneRunStatus::State::Done);
}

void TestPhones::outcomeNotRecordedEndsEveryPhone() {
    ModemSimOptions paced;
    paced.delayMs = 20;
    GroupFixture f({paced, paced, paced}, 60);
    FailingOnceLog log(6);
    std::function<void()> noRefresh;
    auto *group = new PhoneGroupRun(*f.data->outboxList, f.ports, [&] {
        return new SenderThread(*f.data->outboxList, *f.data->contactList, log, noRefresh);
    });
    withPhoneLock(*f.data->phone, [&] { f.data->phone->start(group); });
    QVERIFY(f.waitIdle());

    // The phone whose outcome was lost says so; the others stopped with it, though their own
    // outcomes could still be written.
    QVERIFY(std::any_of(f.statuses.cbegin(), f.statuses.cend(), [](const PhoneRunStatus &s) {
        return s.state == PhoneRunStatus::State::Paused && s.detail == "outcome not recorded";
    }));
    QVERIFY2(f.count(MessageStatus::Pending) > 40,
             qPrintable(QString::number(f.count(MessageStatus::Pending))));
    QCOMPARE(f.count(MessageStatus::Sending), 0);
}

void TestPhones::onePhoneRunIsNotGrouped() {
    // The second phone is switched off: the run is the one-phone run, through the first
    // enabled one, and records no phone.
    ModemSim sim;
    QVERIFY(sim.start());
    QTemporaryDir dir;
    AppData data(dir.filePath(QStringLiteral("pelorvane.ini")));
    QVERIFY(data.settings->setPhones(
        {{"ttyS31", false}, {sim.portPath().toLocal8Bit(), true}, {"ttyS30", false}}));
    QCOMPARE(data.settings->sendingPorts(), QList<QByteArray>{sim.portPath().toLocal8Bit()});
    addNumberedMessages(*data.outboxList, 3);
    bool grouped = true;
    data.phone->onWorkerDone = [&](Phone &phone) {
        grouped = qobject_cast<PhoneGroupRun *>(phone.endedWorker()) != nullptr;
    };
    withPhoneLock(*data.phone, [&] { data.phone->start(data.newSender()); });
    QElapsedTimer timer;
    timer.start();
    while (data.phone->isBusy() && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QVERIFY(!grouped);
    QCOMPARE(sim.received().size(), 3);
    QCOMPARE(data.outboxList->get(0).phone, QString());

    // Every phone switched off: no run at all.
    QVERIFY(data.settings->setPhones({{"ttyS31", false}}));
    QVERIFY_THROWS_EXCEPTION(Error, data.newSender());
}

void TestPhones::settingsKeepThePhoneList() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pelorvane.ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Setting]\nCOM Port=ttyUSB3\n");
    file.close();
    {
        // A file of an older version: one phone, and it is written back as it was.
        Settings settings(path);
        QCOMPARE(settings.phones(), (QList<PhoneChoice>{{"ttyUSB3", true}}));
        QCOMPARE(settings.sendingPorts(), QList<QByteArray>{"ttyUSB3"});
        settings.setComPortName("ttyUSB4");
        QVERIFY(settings.save());
    }
    QCOMPARE(readFile(path), QByteArray("[Setting]\nCOM Port=ttyUSB4\n"));

    const QList<PhoneChoice> list = {
        {"ttyUSB0", true}, {"ttyUSB1", false}, {"/dev/serial/by-id/usb-x", true}};
    {
        Settings settings(path);
        QVERIFY(settings.setPhones(list));
        // The session list wins for the program run and is never written.
        QVERIFY(settings.setSessionPorts({"ttyACM0", "ttyACM1"}));
        QCOMPARE(settings.sendingPorts(), (QList<QByteArray>{"ttyACM0", "ttyACM1"}));
        QCOMPARE(settings.comPortName(), QByteArray("ttyACM0"));
        QVERIFY(settings.save());
    }
    {
        Settings settings(path);
        QCOMPARE(settings.phones(), list);
        QCOMPARE(settings.sendingPorts(),
                 (QList<QByteArray>{"ttyUSB0", "/dev/serial/by-id/usb-x"}));
        // Back to one phone: the keys of the others go with them.
        QVERIFY(settings.setPhones({{"ttyUSB0", true}}));
        QVERIFY(settings.save());
    }
    QCOMPARE(readFile(path), QByteArray("[Setting]\nCOM Port=ttyUSB0\n"));
}

void TestPhones::settingsRefuseBadLists_data() {
    QTest::addColumn<QList<QByteArray>>("ports");
    QTest::newRow("empty list") << QList<QByteArray>{};
    QTest::newRow("same name twice") << QList<QByteArray>{"ttyUSB0", "ttyUSB1", "ttyUSB0"};
    QTest::newRow("one device by two names") << QList<QByteArray>{"ttyS0", "COM1"};
    QTest::newRow("a path and its name") << QList<QByteArray>{"ttyUSB2", "/dev/ttyUSB2"};
    QTest::newRow("empty port") << QList<QByteArray>{"ttyUSB0", ""};
    QList<QByteArray> seventeen;
    for (int i = 0; i < 17; ++i)
        seventeen << "ttyUSB" + QByteArray::number(i);
    QTest::newRow("seventeen phones") << seventeen;
}

void TestPhones::settingsRefuseBadLists() {
    QFETCH(QList<QByteArray>, ports);
    QTemporaryDir dir;
    Settings settings(dir.filePath(QStringLiteral("pelorvane.ini")));
    QList<PhoneChoice> phones;
    for (const QByteArray &port : ports)
        phones << PhoneChoice{port, true};
    QString error;
    QVERIFY(!settings.setPhones(phones, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(settings.phones(), (QList<PhoneChoice>{{"COM1", true}}));
    QVERIFY(!settings.modified());
    if (!ports.isEmpty()) {
        QVERIFY(!settings.setSessionPorts(ports));
        QCOMPARE(settings.sendingPorts(), QList<QByteArray>{"COM1"});
    }
}

void TestPhones::cliRefusesBadPorts_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("send: one port twice")
        << QStringList{"send", "x.sms", "--port", "ttyUSB0", "--port", "ttyUSB0"};
    QTest::newRow("probe: one device by two names")
        << QStringList{"probe", "--port", "ttyUSB0", "--port", "/dev/ttyUSB0"};
    QStringList seventeen{"probe"};
    for (int i = 0; i < 17; ++i)
        seventeen << "--port" << QStringLiteral("ttyUSB%1").arg(i);
    QTest::newRow("probe: seventeen ports") << seventeen;
    QTest::newRow("probe: ports and the simulated phone")
        << QStringList{"probe", "--port", "ttyUSB0", "--simulate"};
}

void TestPhones::cliRefusesBadPorts() {
    QFETCH(QStringList, args);
    const CliRun run = runCliInProcess(args);
    QCOMPARE(run.status, 2);
    QVERIFY(!run.err.isEmpty());
}

void TestPhones::cliSendsThroughSeveralPhones() {
    // The accepting phones answer late, so that the refusing one meets three messages.
    ModemSimOptions accepting;
    accepting.delayMs = 40;
    ModemSim first(accepting);
    ModemSimOptions refusing;
    refusing.refuseEvery = "+CMS ERROR: 38";
    ModemSim second(refusing);
    ModemSim third(accepting);
    QVERIFY(first.start() && second.start() && third.start());
    QTemporaryDir dir;
    const QString project = dir.filePath(QStringLiteral("club.sms"));
    {
        AppData data(dir.filePath(QStringLiteral("pelorvane.ini")));
        addNumberedMessages(*data.outboxList, 12);
        data.fileName = project;
        QVERIFY(data.save());
    }
    const CliRun run =
        runCliInProcess({"send", project, "--port", first.portPath(), "--port", second.portPath(),
                         "--port", third.portPath(), "--retry-after", "0"});
    QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
    QVERIFY2(run.out.contains(QStringLiteral("Sent 12 of 12")), qPrintable(run.out));
    QCOMPARE(first.received().size() + third.received().size(), 12);
    QCOMPARE(second.received().size(), 0);
    // The progress names the paused phone and why.
    QVERIFY2(run.err.contains(second.portPath() + QStringLiteral(": paused — refused 3 times")),
             qPrintable(run.err));

    // show gives each sent message's phone.
    const CliRun show = runCliInProcess({"show", project});
    QCOMPARE(show.status, 0);
    const QJsonArray sent =
        QJsonDocument::fromJson(show.out.toUtf8()).object()[QStringLiteral("sent")].toArray();
    QCOMPARE(sent.size(), 12);
    int viaFirst = 0;
    for (const QJsonValue &message : sent) {
        const QString phone = message[QStringLiteral("phone")].toString();
        QVERIFY2(phone == first.portPath() || phone == third.portPath(), qPrintable(phone));
        viaFirst += phone == first.portPath() ? 1 : 0;
    }
    QCOMPARE(viaFirst, first.received().size());
}

void TestPhones::cliProbesEachPhone() {
    ModemSim ready;
    ModemSimOptions noSim;
    noSim.noSim = true;
    ModemSim missingSim(noSim);
    QVERIFY(ready.start() && missingSim.start());
    const CliRun both =
        runCliInProcess({"probe", "--port", ready.portPath(), "--port", missingSim.portPath()});
    QCOMPARE(both.status, 1);
    const qsizetype firstHeading = both.out.indexOf(QStringLiteral("Phone on ") + ready.portPath());
    const qsizetype secondHeading =
        both.out.indexOf(QStringLiteral("Phone on ") + missingSim.portPath());
    QVERIFY2(firstHeading == 0 && secondHeading > 0, qPrintable(both.out));
    QCOMPARE(both.out.count(QStringLiteral("\nManufacturer: ")), 2);

    const CliRun one = runCliInProcess({"probe", "--port", ready.portPath()});
    QCOMPARE(one.status, 0);
    QVERIFY(!one.out.contains(QStringLiteral("Phone on ")));
}

QTEST_GUILESS_MAIN(TestPhones)
#include "tst_phones.moc"
