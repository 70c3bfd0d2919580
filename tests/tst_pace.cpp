// The pace of a run against the simulated phone on a real pseudo-terminal, on a fast fake
// clock: the pause between messages and its jitter, the caps per SIM kept in the settings file
// across a restart, quiet hours, the start time, Stop ending a wait at once, and the progress
// line.

#include "app/AppData.h"
#include "base/OleDate.h"
#include "link/GsmSerial.h"
#include "link/Phone.h"
#include "link/SerialPort.h"
#include "modemsim/ModemSim.h"
#include "sending/RunPacer.h"
#include "sending/RunProgress.h"
#include "sending/SenderThread.h"
#include "sending/SimIdentity.h"
#include "support/CliRun.h"
#include "support/FakeClock.h"
#include "support/ScriptedPhone.h"
#include "support/TestMessages.h"
#include "tools/cli/CliPace.h"
#include "tools/cli/CliPort.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QDateTime at(int day, int hour, int minute) {
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute));
}

// A data module on a settings file of its own folder, sending through one simulated phone on
// a fake clock; it notes the clock's time whenever a message is claimed and every wait said.
struct PaceFixture {
    PaceFixture(ModemSim &sim, const QString &iniPath, QDateTime start)
        : clock(std::make_shared<FakeClock>(std::move(start))) {
        data = std::make_unique<AppData>(iniPath);
        data->settings->setSessionPort(sim.portPath().toLocal8Bit());
        data->settings->setRetryDelaysMs({});
        data->clock = clock;
        data->onRefreshAll = [this] { onRefresh(); };
    }

    void addMessages(int count) { addNumberedMessages(*data->outboxList, count); }

    void onRefresh() {
        auto *sender = qobject_cast<SenderThread *>(data->phone->worker());
        if (!sender)
            return;
        const QString waiting = sender->progress().waitingText();
        if (!waiting.isEmpty() && (waits.isEmpty() || waits.last() != waiting)) {
            waits << waiting;
            // While it waits, no message is claimed, and none is in doubt.
            MessageList::Locker items(*data->outboxList);
            for (const auto &message : *items)
                waitingStatusesPending = waitingStatusesPending &&
                                         message->status != MessageStatus::Sending &&
                                         message->status != MessageStatus::Unknown;
        }
        MessageList::Locker items(*data->outboxList);
        for (int i = 0; i < static_cast<int>(items->size()); ++i) {
            if ((*items)[i]->status == MessageStatus::Sending && i != lastClaimed) {
                lastClaimed = i;
                claimed << clock->now();
            }
        }
    }

    RunSummary run() {
        RunSummary summary;
        lastClaimed = -1;
        runWorkerToEnd(*data, data->newSender(), [&summary](WorkerThread &worker) {
            if (auto *sender = qobject_cast<SenderThread *>(&worker))
                summary = sender->summary();
        });
        return summary;
    }

    std::shared_ptr<FakeClock> clock;
    std::unique_ptr<AppData> data;
    QList<QDateTime> claimed;
    QStringList waits;
    bool waitingStatusesPending = true;
    int lastClaimed = -1;
};

PacePlan plan(int intervalMs, int jitter, int perHour = 0, int perDay = 0) {
    PacePlan p;
    p.intervalMs = intervalMs;
    p.jitterPercent = jitter;
    p.perHour = perHour;
    p.perDay = perDay;
    return p;
}

} // namespace

class TestPace : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void pauseBetweenMessages_data();
    void pauseBetweenMessages();
    void jitterReachesItsBounds();
    void capsHoldAcrossRestart_data();
    void capsHoldAcrossRestart();
    void quietHoursWait();
    void startAtPastTimeMeansTomorrow();
    void stopEndsWaitAtOnce();
    void progressText();
    void timeLeft_data();
    void timeLeft();
    void quietHoursParsing_data();
    void quietHoursParsing();
    void paceSettingsSurviveRestart();
    void tallyCountsWindows();
    void cliOptions_data();
    void cliOptions();
    void pacedCliRun();
    void simIdentityFromImsi_data();
    void simIdentityFromImsi();

private:
    std::unique_ptr<ModemSim> m_sim;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestPace::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    m_sim = std::make_unique<ModemSim>();
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestPace::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestPace::pauseBetweenMessages_data() {
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<int>("jitter");
    QTest::newRow("10 s without jitter") << 10000 << 0;
    QTest::newRow("10 s with 25 % jitter") << 10000 << 25;
    QTest::newRow("fractional 2.5 s, 50 %") << 2500 << 50;
}

void TestPace::pauseBetweenMessages() {
    QFETCH(int, intervalMs);
    QFETCH(int, jitter);
    PaceFixture f(*m_sim, m_dir->filePath(QStringLiteral("pelorvane.ini")), at(10, 12, 0));
    f.data->settings->setSessionPacePlan(plan(intervalMs, jitter));
    f.addMessages(6);
    const RunSummary summary = f.run();
    QCOMPARE(summary.sent, 6);
    QCOMPARE(f.claimed.size(), 6);
    // The first goes at once; each later one after a pause within the jitter's bounds.
    QCOMPARE(f.claimed.first(), at(10, 12, 0));
    const qint64 low = intervalMs - qint64(intervalMs) * jitter / 100;
    const qint64 high = intervalMs + qint64(intervalMs) * jitter / 100;
    for (int i = 1; i < f.claimed.size(); ++i) {
        const qint64 gap = f.claimed[i - 1].msecsTo(f.claimed[i]);
        QVERIFY2(gap >= low && gap <= high, qPrintable(QString::number(gap)));
    }
    QVERIFY(f.waits.isEmpty());
    // Without caps nothing is counted, and the settings file is left alone.
    QVERIFY(!IniFile(m_dir->filePath(QStringLiteral("pelorvane.ini")))
                 .sectionExists(QStringLiteral("Sent Counts")));
}

void TestPace::jitterReachesItsBounds() {
    FakeClock clock(at(10, 12, 0));
    RunPacer pacer(plan(8000, 25), clock, nullptr);
    for (const auto &[random, expected] : {std::pair{0.0, 6000}, {0.5, 8000}, {0.999999, 10000}}) {
        pacer.random = [r = random] { return r; };
        pacer.messageDone();
        const RunPacer::Wait wait = pacer.nextWait(clock.now());
        QCOMPARE(wait.reason, RunPacer::Reason::Interval);
        QCOMPARE(clock.now().msecsTo(wait.until), qint64(expected));
    }
}

void TestPace::capsHoldAcrossRestart_data() {
    QTest::addColumn<int>("perHour");
    QTest::addColumn<int>("perDay");
    QTest::addColumn<QDateTime>("resumed");
    QTest::addColumn<QString>("waitText");
    QTest::addColumn<int>("inDay");
    QTest::newRow("hourly cap: the next hour")
        << 2 << 0 << at(10, 11, 0)
        << QStringLiteral("Hourly limit of 2 reached: waiting until 11:00") << 4;
    QTest::newRow("daily cap: midnight")
        << 0 << 2 << at(11, 0, 0)
        << QStringLiteral("Daily limit of 2 reached: waiting until tomorrow 00:00") << 2;
}

void TestPace::capsHoldAcrossRestart() {
    QFETCH(int, perHour);
    QFETCH(int, perDay);
    QFETCH(QDateTime, resumed);
    QFETCH(QString, waitText);
    QFETCH(int, inDay);
    const QString ini = m_dir->filePath(QStringLiteral("pelorvane.ini"));
    {
        PaceFixture first(*m_sim, ini, at(10, 10, 15));
        first.data->settings->setSessionPacePlan(plan(0, 0, perHour, perDay));
        first.addMessages(2);
        QCOMPARE(first.run().sent, 2);
        QVERIFY(first.waits.isEmpty());
    }
    // A new program on the same settings file: the SIM's count is still there.
    PaceFixture second(*m_sim, ini, at(10, 10, 20));
    second.data->settings->setSessionPacePlan(plan(0, 0, perHour, perDay));
    second.addMessages(2);
    QCOMPARE(second.run().sent, 2);
    QCOMPARE(second.waits, QStringList{waitText});
    QVERIFY(second.waitingStatusesPending);
    QCOMPARE(second.claimed.size(), 2);
    QCOMPARE(second.claimed.first(), resumed);
    // The simulated phone refuses AT+CIMI: the port stands for the SIM.
    const QString stored = IniFile(ini).readString(
        QStringLiteral("Sent Counts"), QStringLiteral("Port ") + m_sim->portPath(), QString());
    const SentTally tally = SentTally::fromText(stored);
    QCOMPARE(tally.day, resumed.date());
    QCOMPARE(tally.inDay, inDay);
}

void TestPace::quietHoursWait() {
    PaceFixture f(*m_sim, m_dir->filePath(QStringLiteral("pelorvane.ini")), at(10, 21, 59));
    PacePlan p = plan(60000, 0);
    QVERIFY(PacePlan::parseQuietHours(QStringLiteral("22:00-07:00"), &p.quietFrom, &p.quietUntil));
    f.data->settings->setSessionPacePlan(p);
    f.addMessages(2);
    QCOMPARE(f.run().sent, 2);
    // The first at 21:59; the second would go at 22:00, in the quiet hours.
    QCOMPARE(f.claimed, (QList<QDateTime>{at(10, 21, 59), at(11, 7, 0)}));
    QCOMPARE(f.waits, QStringList{QStringLiteral("Quiet hours: waiting until tomorrow 07:00")});
    QVERIFY(f.waitingStatusesPending);
}

void TestPace::startAtPastTimeMeansTomorrow() {
    QCOMPARE(PacePlan::nextAt(QTime(9, 0), at(10, 10, 0)), at(11, 9, 0));
    QCOMPARE(PacePlan::nextAt(QTime(11, 0), at(10, 10, 0)), at(10, 11, 0));
    QCOMPARE(PacePlan::nextAt(QTime(10, 0), at(10, 10, 0)), at(11, 10, 0));

    // The window's start time, on a run.
    PaceFixture f(*m_sim, m_dir->filePath(QStringLiteral("pelorvane.ini")), at(10, 10, 0));
    f.data->startAt = QTime(9, 30);
    f.addMessages(1);
    QCOMPARE(f.run().sent, 1);
    QCOMPARE(f.claimed, QList<QDateTime>{at(11, 9, 30)});
    QCOMPARE(f.waits, QStringList{QStringLiteral("Waiting until tomorrow 09:30 to start")});
}

void TestPace::stopEndsWaitAtOnce() {
    // The real clock: an hour's wait that only Stop can end.
    auto data = std::make_unique<AppData>(m_dir->filePath(QStringLiteral("pelorvane.ini")));
    data->settings->setSessionPort(m_sim->portPath().toLocal8Bit());
    PacePlan p;
    p.startAt = QDateTime::currentDateTime().addSecs(3600);
    data->settings->setSessionPacePlan(p);
    Message message;
    message.number = "5550199";
    message.text = QStringLiteral("later");
    data->outboxList->add(message);
    QElapsedTimer sinceStop;
    data->onRefreshAll = [&] {
        auto *sender = qobject_cast<SenderThread *>(data->phone->worker());
        if (sender && !sender->progress().waitingText().isEmpty() && !sinceStop.isValid()) {
            QTimer::singleShot(0, data->phone.get(), [&] {
                sinceStop.start();
                data->phone->stopWorker();
            });
        }
    };
    QVERIFY(runWorkerToEnd(*data, data->newSender()));
    QVERIFY(sinceStop.isValid());
    QVERIFY2(sinceStop.elapsed() < 1000, qPrintable(QString::number(sinceStop.elapsed())));
    QCOMPARE(data->outboxList->get(0).status, MessageStatus::Pending);
    QVERIFY(data->phone->reports.isEmpty());
}

void TestPace::progressText() {
    RunProgress progress;
    QCOMPARE(progress.text(), QString());
    progress.begin(300);
    progress.started(0);
    QCOMPARE(progress.text(), QStringLiteral("Sending 1 of 300"));
    for (int i = 0; i < 11; ++i) {
        progress.started(i);
        progress.finished(i != 3, 800);
    }
    progress.started(11);
    // 289 to go at the recent 0.8 s each.
    QCOMPARE(progress.text(), QStringLiteral("Sending 12 of 300 — about 4 min left"));
    QCOMPARE(progress.sent(), 10);
    QCOMPARE(progress.currentRow(), 11);
    progress.setWaiting(QStringLiteral("Quiet hours: waiting until 07:00"));
    QCOMPARE(progress.text(), QStringLiteral("Quiet hours: waiting until 07:00 — 10 of 300 sent"));
    progress.setWaiting(QString());
    // The recent pace counts, not the whole run's: ten slow messages replace the fast ones.
    for (int i = 11; i < 21; ++i)
        progress.finished(true, 6000);
    QCOMPARE(progress.text(), QStringLiteral("Sending 22 of 300 — about 28 min left"));
}

void TestPace::timeLeft_data() {
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("under a second") << qint64(300) << QStringLiteral("about 1 s left");
    QTest::newRow("seconds") << qint64(42000) << QStringLiteral("about 42 s left");
    QTest::newRow("minutes") << qint64(231000) << QStringLiteral("about 4 min left");
    QTest::newRow("hours and minutes")
        << qint64(2 * 3600000 + 10 * 60000) << QStringLiteral("about 2 h 10 min left");
    QTest::newRow("whole hours") << qint64(3 * 3600000) << QStringLiteral("about 3 h left");
    QTest::newRow("days") << qint64(80) * 3600000 << QStringLiteral("about 3 days left");
}

void TestPace::timeLeft() {
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QCOMPARE(RunProgress::timeLeftText(ms), text);
}

void TestPace::quietHoursParsing_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QTime>("inside");
    QTest::addColumn<QTime>("outside");
    QTest::newRow("over midnight") << "22:00-07:00" << true << QTime(3, 0) << QTime(7, 0);
    QTest::newRow("within a day") << "12:30-14:00" << true << QTime(12, 30) << QTime(14, 0);
    QTest::newRow("single-digit hour") << "9:00-17:00" << true << QTime(16, 59) << QTime(8, 59);
    QTest::newRow("equal times") << "08:00-08:00" << false << QTime() << QTime();
    QTest::newRow("hour out of range") << "24:00-07:00" << false << QTime() << QTime();
    QTest::newRow("no dash") << "22:00" << false << QTime() << QTime();
    QTest::newRow("minutes missing") << "22-07" << false << QTime() << QTime();
}

void TestPace::quietHoursParsing() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QTime, inside);
    QFETCH(QTime, outside);
    PacePlan p;
    QCOMPARE(PacePlan::parseQuietHours(text, &p.quietFrom, &p.quietUntil), valid);
    if (!valid)
        return;
    QVERIFY(p.inQuietHours(inside));
    QVERIFY(!p.inQuietHours(outside));
}

void TestPace::paceSettingsSurviveRestart() {
    const QString ini = m_dir->filePath(QStringLiteral("pelorvane.ini"));
    {
        Settings settings(ini);
        QCOMPARE(settings.pacePlan().intervalMs, 0);
        QCOMPARE(settings.pacePlan().jitterPercent, 25);
        PacePlan p = plan(2500, 10, 60, 500);
        QVERIFY(
            PacePlan::parseQuietHours(QStringLiteral("21:00-08:00"), &p.quietFrom, &p.quietUntil));
        settings.setPacePlan(p);
        // The command line's plan is for this run only.
        settings.setSessionPacePlan(plan(100, 0));
        QCOMPARE(settings.pacePlan().intervalMs, 100);
    }
    Settings settings(ini);
    const PacePlan p = settings.pacePlan();
    QCOMPARE(p.intervalMs, 2500);
    QCOMPARE(p.jitterPercent, 10);
    QCOMPARE(p.perHour, 60);
    QCOMPARE(p.perDay, 500);
    QCOMPARE(PacePlan::quietHoursText(p.quietFrom, p.quietUntil), QStringLiteral("21:00-08:00"));
}

void TestPace::tallyCountsWindows() {
    SentTally tally;
    tally = tally.plusOne(at(10, 9, 59)).plusOne(at(10, 10, 0)).plusOne(at(10, 10, 59));
    QCOMPARE(tally.inHour, 2);
    QCOMPARE(tally.inDay, 3);
    QCOMPARE(SentTally::fromText(tally.toText()).at(at(10, 10, 30)).inHour, 2);
    QCOMPARE(tally.at(at(10, 11, 0)).inHour, 0);
    QCOMPARE(tally.at(at(10, 23, 0)).inDay, 3);
    QCOMPARE(tally.at(at(11, 0, 0)).inDay, 0);
    QCOMPARE(SentTally::fromText(QStringLiteral("garbage")).inDay, 0);
}

void TestPace::cliOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<int>("jitter");
    QTest::addColumn<QDateTime>("startAt");
    QTest::newRow("fractional interval takes the default jitter")
        << QStringList{"--interval", "2.5"} << QString() << 2500 << 25 << QDateTime();
    QTest::newRow("jitter given") << QStringList{"--interval", "4", "--jitter", "10"} << QString()
                                  << 4000 << 10 << QDateTime();
    QTest::newRow("start time still ahead today")
        << QStringList{"--start-at", "18:45"} << QString() << 0 << 25 << at(10, 18, 45);
    QTest::newRow("start time past means tomorrow")
        << QStringList{"--start-at", "06:00"} << QString() << 0 << 25 << at(11, 6, 0);
    QTest::newRow("negative interval")
        << QStringList{"--interval", "-1"}
        << QStringLiteral("--interval needs seconds from 0 to 86400, as 5 or 2.5") << 0 << 0
        << QDateTime();
    QTest::newRow("jitter over 100")
        << QStringList{"--jitter", "150"}
        << QStringLiteral("--jitter needs a percentage from 0 to 100") << 0 << 0 << QDateTime();
    QTest::newRow("cap not a number")
        << QStringList{"--per-hour", "many"}
        << QStringLiteral("--per-hour needs a number of messages (0: no limit)") << 0 << 0
        << QDateTime();
    QTest::newRow("quiet hours malformed")
        << QStringList{"--quiet", "22-7"}
        << QStringLiteral("--quiet needs the hours as HH:MM-HH:MM, as 21:00-08:00") << 0 << 0
        << QDateTime();
    QTest::newRow("value missing")
        << QStringList{"--start-at"} << QStringLiteral("--start-at needs a value") << 0 << 0
        << QDateTime();
}

void TestPace::cliOptions() {
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QFETCH(int, intervalMs);
    QFETCH(int, jitter);
    QFETCH(QDateTime, startAt);
    PaceChoice choice;
    QString problem;
    for (int i = 0; i < args.size() && problem.isEmpty(); ++i)
        QVERIFY(choice.take(args, i, problem));
    QCOMPARE(problem, error);
    if (!error.isEmpty())
        return;
    const PacePlan p = choice.applyTo(plan(0, 25), at(10, 12, 0));
    QCOMPARE(p.intervalMs, intervalMs);
    QCOMPARE(p.jitterPercent, jitter);
    QCOMPARE(p.startAt, startAt);
}

void TestPace::pacedCliRun() {
    const QString project = m_dir->filePath(QStringLiteral("paced.sms"));
    {
        AppData data(m_dir->filePath(QStringLiteral("pelorvane.ini")));
        for (int i = 1; i <= 3; ++i) {
            Message message;
            message.number = QByteArray::number(5550200 + i);
            message.text = QStringLiteral("paced %1").arg(i);
            data.outboxList->add(message);
        }
        data.fileName = project;
        data.save();
    }
    QElapsedTimer timer;
    timer.start();
    const CliRun run = runCliInProcess(
        {QStringLiteral("send"), project, QStringLiteral("--simulate"),
         QStringLiteral("--interval"), QStringLiteral("0.3"), QStringLiteral("--jitter"),
         QStringLiteral("0"), QStringLiteral("--quiet"), QStringLiteral("none")});
    QCOMPARE(run.status, 0);
    // Two pauses of 0.3 s between three messages.
    QVERIFY2(timer.elapsed() >= 600, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(run.out, QStringLiteral("Sent 3 of 3\n"));
    // Not a terminal: one plain line per message.
    QCOMPARE(run.err.count(QStringLiteral(": sent\n")), 3);
    QVERIFY(run.err.contains(QStringLiteral("Message 3 of 3 to 5550203: sent")));

    const CliRun bad = runCliInProcess(
        {QStringLiteral("send"), project, QStringLiteral("--per-day"), QStringLiteral("-5")});
    QCOMPARE(bad.status, 2);
    QVERIFY(bad.err.startsWith(QStringLiteral("--per-day needs a number of messages")));
}

void TestPace::simIdentityFromImsi_data() {
    QTest::addColumn<QList<QByteArray>>("reply");
    QTest::addColumn<QString>("identity");
    QTest::newRow("bare IMSI") << QList<QByteArray>{"262011234567890", "OK"}
                               << QStringLiteral("IMSI 262011234567890");
    QTest::newRow("with +CIMI: before it") << QList<QByteArray>{"+CIMI: 262011234567890", "OK"}
                                           << QStringLiteral("IMSI 262011234567890");
    QTest::newRow("refused: the port") << QList<QByteArray>{"ERROR"} << QStringLiteral("Port ");
    QTest::newRow("no number: the port")
        << QList<QByteArray>{"SIM BUSY", "OK"} << QStringLiteral("Port ");
}

void TestPace::simIdentityFromImsi() {
    QFETCH(QList<QByteArray>, reply);
    QFETCH(QString, identity);
    ScriptedPhone phone;
    QVERIFY(phone.isValid());
    phone.setReply("AT+CIMI", reply);
    SerialPort port(phone.portPath());
    GsmSerial link(port);
    link.open();
    QString expected = identity;
    if (expected == QStringLiteral("Port "))
        expected += QString::fromLocal8Bit(phone.portPath());
    QCOMPARE(simIdentity(link, phone.portPath()), expected);
    link.close();
}

QTEST_GUILESS_MAIN(TestPace)
#include "tst_pace.moc"
