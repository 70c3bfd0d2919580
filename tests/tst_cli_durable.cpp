// pelorvane-cli as a real process whose end nobody chooses: killed at any moment of a send
// (nothing accepted is lost, nothing is sent twice), a file-size limit at any point of a save
// (the previous file stays), another writer on the same project (refused or waited for), a
// folder the user cannot write (saved in place, owner and mode kept), refused and possibly
// sent messages kept apart across runs.

#include "app/AppData.h"
#include "app/ProjectLock.h"
#include "modemsim/ModemSim.h"
#include "support/ProcessSignal.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString cliPath() {
    return qEnvironmentVariable("PELORVANE_BINARY_DIR") +
           QStringLiteral("/tools/cli/pelorvane-cli");
}

struct CliRun {
    int status = -1;
    QString out;
    QString err;
};

// Runs the program to its end; limit (bytes) caps the size of any file it writes, user (a
// uid) is who it runs as. Both are set by util-linux's prlimit and setpriv, not in the forked
// child (a sanitizer may not allow code there).
CliRun runCli(const QStringList &args, qint64 limit = -1, uid_t user = 0) {
    QStringList command{cliPath()};
    if (limit >= 0)
        command = QStringList{"prlimit", QStringLiteral("--fsize=%1").arg(limit), "--"} + command;
    if (user != 0)
        command = QStringList{"setpriv", QStringLiteral("--reuid=%1").arg(user),
                              QStringLiteral("--regid=%1").arg(user), "--clear-groups", "--"} +
                  command;
    QProcess process;
    const QString program = command.takeFirst();
    process.start(program, command + args);
    CliRun run;
    if (!process.waitForFinished(60000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QStringList numbers(int count, int first = 1000) {
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QString::number(first + i);
    return list;
}

// The numbers of the messages the phone accepted after the first `from`.
QSet<QByteArray> receivedNumbers(const ModemSim &sim, qsizetype from) {
    QSet<QByteArray> set;
    for (const ReceivedSms &sms : sim.received().mid(from))
        set.insert(sms.number);
    return set;
}

// Waits until the phone has dealt with every byte a killed program left on the line (it
// answers after its delay): until what it saw stays the same for a while.
void settle(const ModemSim &sim) {
    qsizetype last = -1;
    for (int stable = 0; stable < 4;) {
        QTest::qSleep(50);
        const qsizetype now = sim.received().size() + sim.bodiesSeen();
        stable = now == last ? stable + 1 : 0;
        last = now;
    }
}

// Where each message of a project is, by number (the numbers are distinct).
struct Where {
    QSet<QByteArray> sent, pending, unknown, other;
    QMap<QByteArray, int> seen;
};

Where whereIs(const QString &project) {
    AppData data;
    data.load(project);
    Where where;
    for (int i = 0; i < data.sentList->count(); ++i) {
        where.sent.insert(data.sentList->get(i).number);
        ++where.seen[data.sentList->get(i).number];
    }
    for (int i = 0; i < data.outboxList->count(); ++i) {
        const Message m = data.outboxList->get(i);
        ++where.seen[m.number];
        switch (m.status) {
        case MessageStatus::Pending:
            where.pending.insert(m.number);
            break;
        case MessageStatus::Unknown:
            where.unknown.insert(m.number);
            break;
        default:
            where.other.insert(m.number);
        }
    }
    return where;
}

} // namespace

class TestCliDurable : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void killedAtRandomMoments();
    void saveCutAtEveryPoint();
    void sendRefusesWhenOutcomesCannotBeRecorded_data();
    void sendRefusesWhenOutcomesCannotBeRecorded();
    void secondWriterRefusedOrWaits();
    void folderNotWritableSavesInPlace();
    void failedAndUnknownAcrossRuns();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void queue(const QString &project, const QStringList &to, const QString &text = "hi");

    std::unique_ptr<QTemporaryDir> m_dir;
    // One phone for every run, started before any program is: the thread sanitizer cannot
    // follow a thread started after QProcess's fork.
    std::unique_ptr<ModemSim> m_sim;
    // Refuses 222 for good and hangs up on the third message body: one use only.
    std::unique_ptr<ModemSim> m_refusingSim;
};

void TestCliDurable::initTestCase() {
    ModemSimOptions options;
    options.delayMs = 8;
    m_sim = std::make_unique<ModemSim>(options);
    QVERIFY(m_sim->start());
    options.refuseNumber.insert("222", "+CMS ERROR: 1");
    options.hangupAt = 3;
    m_refusingSim = std::make_unique<ModemSim>(options);
    QVERIFY(m_refusingSim->start());
}

void TestCliDurable::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestCliDurable::queue(const QString &project, const QStringList &to, const QString &text) {
    const CliRun run = runCli({"queue", project, "--country", "US", "--to", to.join(';'), text});
    QVERIFY2(run.status == 0, qPrintable(run.err));
}

void TestCliDurable::killedAtRandomMoments() {
    constexpr int Count = 20;
    const QString original = path("original.sms");
    queue(original, numbers(Count));
    if (QTest::currentTestFailed())
        return;
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator random(seed);
    for (int position = 0; position < Count; ++position) {
        const QString project = path(QStringLiteral("kill%1.sms").arg(position));
        QVERIFY(QFile::copy(original, project));
        const qsizetype firstFrom = m_sim->received().size();
        const int bodiesBefore = m_sim->bodiesSeen();
        QProcess send;
        send.start(cliPath(), {"send", project, "--port", m_sim->portPath()});
        QVERIFY(send.waitForStarted());
        // The moment: after the phone took `position` bodies, then anywhere within about
        // two answers (the start-up, a body, its answer, a save).
        if (position > 0)
            QTRY_VERIFY_WITH_TIMEOUT(m_sim->bodiesSeen() >= bodiesBefore + position, 30000);
        QTest::qSleep(int(random.bounded(position == 0 ? 150 : 25)));
        // It may have finished on its own by now: then there is nothing to kill.
        if (signalChild(send, SIGKILL))
            QVERIFY(send.waitForFinished(10000));
        settle(*m_sim);
        const QSet<QByteArray> accepted = receivedNumbers(*m_sim, firstFrom);

        // Every message once; every accepted one sent or, the one in flight, unknown.
        const Where after = whereIs(project);
        QCOMPARE(after.seen.size(), Count);
        for (auto it = after.seen.cbegin(); it != after.seen.cend(); ++it)
            QVERIFY2(it.value() == 1, it.key().constData());
        QVERIFY(after.other.isEmpty());
        QVERIFY2(after.unknown.size() <= 1, qPrintable(QString::number(position)));
        QVERIFY((after.sent - accepted).isEmpty());
        QVERIFY((accepted - after.sent - after.unknown).isEmpty());
        QCOMPARE(after.sent.size() + after.unknown.size() + after.pending.size(), Count);

        // The next run sends only what the phone never took, and nothing from Unknown.
        const qsizetype secondFrom = m_sim->received().size();
        const CliRun run = runCli({"send", project, "--port", m_sim->portPath()});
        QVERIFY2(run.status == 0, qPrintable(run.err + run.out));
        QCOMPARE(receivedNumbers(*m_sim, secondFrom), after.pending);
        QCOMPARE(int(m_sim->received().size() - secondFrom), int(after.pending.size()));
        const Where end = whereIs(project);
        QCOMPARE(end.sent, after.sent + after.pending);
        QCOMPARE(end.unknown, after.unknown);
        QVERIFY(!QFile::exists(project + ".journal"));
    }
}

void TestCliDurable::saveCutAtEveryPoint() {
    const QString project = path("cut.sms");
    queue(project, numbers(40));
    const QByteArray before = readAll(project);
    QVERIFY(before.size() > 1000);
    // The save after one more message is a little larger: cut it at every point.
    QVERIFY(QFile::copy(project, path("probe.sms")));
    QCOMPARE(runCli({"queue", path("probe.sms"), "--country", "US", "--to", "2000", "more"}).status,
             0);
    const qint64 after = QFileInfo(path("probe.sms")).size();
    QVERIFY(QFile::remove(path("probe.sms")));
    // From 1: a limit of 0 stops a sanitizer build before it reaches main.
    for (qint64 limit = 1; limit < after; limit += (limit < 64 || limit > after - 64) ? 1 : 97) {
        const CliRun run =
            runCli({"queue", project, "--country", "US", "--to", "2000", "more"}, limit);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(QStringLiteral("Cannot write %1: File too large").arg(project)),
                 qPrintable(run.err));
        QVERIFY(!run.out.contains(QStringLiteral("Queued")));
        QCOMPARE(readAll(project), before);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"cut.sms"});
    }
    const CliRun run = runCli({"queue", project, "--country", "US", "--to", "2000", "more"});
    QCOMPARE(run.status, 0);
    AppData data;
    data.load(project);
    QCOMPARE(data.outboxList->count(), 41);
}

void TestCliDurable::sendRefusesWhenOutcomesCannotBeRecorded_data() {
    QTest::addColumn<QString>("obstacle");
    QTest::newRow("journal cannot be made") << QStringLiteral("journal");
    QTest::newRow("project cannot be saved") << QStringLiteral("limit");
}

void TestCliDurable::sendRefusesWhenOutcomesCannotBeRecorded() {
    QFETCH(QString, obstacle);
    const QString project = path("refuse.sms");
    queue(project, numbers(3));
    const QByteArray before = readAll(project);
    qint64 limit = -1;
    if (obstacle == QLatin1String("journal"))
        QVERIFY(QDir().mkdir(project + ".journal"));
    else
        limit = before.size() - 1;
    const int bodiesBefore = m_sim->bodiesSeen();
    const CliRun run = runCli({"send", project, "--port", m_sim->portPath()}, limit);
    QCOMPARE(run.status, 3);
    QVERIFY2(run.err.contains(QStringLiteral("Nothing was sent")), qPrintable(run.err));
    QCOMPARE(m_sim->bodiesSeen(), bodiesBefore);
    QCOMPARE(readAll(project), before);
}

void TestCliDurable::secondWriterRefusedOrWaits() {
    const QString project = path("club.sms");
    queue(project, numbers(1));
    auto holder = std::make_unique<ProjectLock>();
    holder->acquire(project, QStringLiteral("pelorvane-cli send"));
    const QString inUse =
        QStringLiteral("club.sms is in use by pelorvane-cli send (pid %1)").arg(::getpid());

    CliRun run = runCli({"queue", project, "--country", "US", "--to", "2000", "refused"});
    QCOMPARE(run.status, 3);
    QCOMPARE(run.err.trimmed(), inUse);
    run = runCli({"import", project, "/dev/null"});
    QCOMPARE(run.status, 3);
    const int bodiesBefore = m_sim->bodiesSeen();
    run = runCli({"send", project, "--port", m_sim->portPath()});
    QCOMPARE(run.status, 3);
    QCOMPARE(m_sim->bodiesSeen(), bodiesBefore);
    // Reading and exporting take no lock.
    QCOMPARE(runCli({"show", project}).status, 0);
    QCOMPARE(runCli({"export", project, path("c.csv")}).status, 0);

    // With --wait the queue goes on once the holder is done, after the holder's own save.
    QProcess waiting;
    waiting.start(cliPath(),
                  {"queue", project, "--country", "US", "--to", "3000", "--wait", "waited"});
    QVERIFY(waiting.waitForStarted());
    QByteArray said;
    QTRY_VERIFY2_WITH_TIMEOUT((said += waiting.readAllStandardError()).contains("waiting for it"),
                              said.constData(), 20000);
    QCOMPARE(QString::fromLocal8Bit(said), inUse + "; waiting for it\n");
    {
        AppData data;
        data.load(project);
        Message m;
        m.number = "4000";
        m.text = QStringLiteral("holder's");
        data.outboxList->add(m);
        data.save();
    }
    holder.reset();
    QVERIFY(waiting.waitForFinished(20000));
    QCOMPARE(waiting.exitCode(), 0);
    AppData data;
    data.load(project);
    QStringList texts;
    for (int i = 0; i < data.outboxList->count(); ++i)
        texts << data.outboxList->get(i).text;
    QCOMPARE(texts, (QStringList{"hi", "holder's", "waited"}));
    QVERIFY(!QFile::exists(project + ".lock"));
}

void TestCliDurable::folderNotWritableSavesInPlace() {
    if (::geteuid() != 0)
        QSKIP("needs root to run the program as another user");
    const uid_t nobody = 65534;
    // The user's state folder (backups of a rewrite in place) is the user's own.
    const QString state = path("state");
    QVERIFY(QDir().mkdir(state));
    QVERIFY(::chown(QFile::encodeName(state).constData(), nobody, nobody) == 0);
    const QByteArray oldState = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", state.toLocal8Bit());
    auto restore = qScopeGuard([&] { qputenv("XDG_STATE_HOME", oldState); });

    // A folder only root may write, a file everyone may.
    const QString folder = path("shared");
    QVERIFY(QDir().mkdir(folder));
    ::chmod(QFile::encodeName(m_dir->path()).constData(), 0755);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    const QString project = folder + "/club.sms";
    queue(project, numbers(30));
    QVERIFY(::chmod(QFile::encodeName(project).constData(), 0666) == 0);
    QVERIFY(::chown(QFile::encodeName(project).constData(), 0, 0) == 0);
    const QByteArray before = readAll(project);

    // Cut at points of the rewrite: the file reads as before (its old content kept aside).
    for (qint64 limit : {qint64(1), qint64(100), before.size() / 2, before.size() - 1}) {
        const CliRun run =
            runCli({"queue", project, "--country", "US", "--to", "2000", "cut"}, limit, nobody);
        QCOMPARE(run.status, 1);
        AppData data;
        data.load(project);
        QCOMPARE(data.outboxList->count(), 30);
    }
    CliRun run =
        runCli({"queue", project, "--country", "US", "--to", "2000", "in place"}, -1, nobody);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    struct stat info {};
    QVERIFY(::stat(QFile::encodeName(project).constData(), &info) == 0);
    QCOMPARE(info.st_uid, uid_t(0));
    QCOMPARE(info.st_mode & 07777, mode_t(0666));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"club.sms"});
    AppData data;
    data.load(project);
    QCOMPARE(data.outboxList->count(), 31);

    // Saved by root, a user's file stays the user's, with its mode.
    QVERIFY(::chown(QFile::encodeName(project).constData(), nobody, nobody) == 0);
    QVERIFY(::chmod(QFile::encodeName(project).constData(), 0640) == 0);
    run = runCli({"queue", project, "--country", "US", "--to", "2001", "by root"});
    QCOMPARE(run.status, 0);
    QVERIFY(::stat(QFile::encodeName(project).constData(), &info) == 0);
    QCOMPARE(info.st_uid, nobody);
    QCOMPARE(info.st_gid, gid_t(nobody));
    QCOMPARE(info.st_mode & 07777, mode_t(0640));
}

// A run that leaves a refused message and one the phone may have sent, all through the
// program's processes and its file: show reads both back with their reasons, the next run
// sends neither, and retry --failed brings back only the refused one.
void TestCliDurable::failedAndUnknownAcrossRuns() {
    const QString project = path(QStringLiteral("outcomes.sms"));
    queue(project, {"111", "222", "333", "444"});
    CliRun run = runCli({"send", project, "--port", m_refusingSim->portPath()});
    QCOMPARE(run.status, 1);
    QCOMPARE(receivedNumbers(*m_refusingSim, 0), QSet<QByteArray>{"111"});

    QFile file(project);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(int(file.read(4).at(2)), 11);
    file.close();

    // Number -> {status, reason, error} of each outbox message, as show prints them.
    const auto outbox = [&] {
        const CliRun show = runCli({"show", project, "--outbox"});
        QMap<QString, QStringList> states;
        for (const QJsonValue &value : QJsonDocument::fromJson(show.out.toUtf8()).array()) {
            const QJsonObject m = value.toObject();
            states.insert(
                m[u"number"].toString(),
                {m[u"status"].toString(), m[u"reason"].toString(), m[u"error"].toString()});
        }
        return states;
    };
    const QStringList unknown = {"unknown", "the line to the phone broke while it took it", ""};
    QMap<QString, QStringList> states = outbox();
    QCOMPARE(states.keys(), (QStringList{"222", "333", "444"}));
    QCOMPARE(states["222"], (QStringList{"failed", "number not in use", "+CMS ERROR: 1"}));
    QCOMPARE(states["333"], unknown);
    QCOMPARE(states["444"], (QStringList{"pending", "", ""}));

    qsizetype before = m_sim->received().size();
    run = runCli({"send", project, "--port", m_sim->portPath()});
    QCOMPARE(run.status, 0);
    QCOMPARE(receivedNumbers(*m_sim, before), QSet<QByteArray>{"444"});
    QCOMPARE(m_sim->received().size(), before + 1);

    run = runCli({"retry", project, "--failed"});
    QCOMPARE(run.out, QStringLiteral("Put 1 messages back to pending\n"));
    states = outbox();
    QCOMPARE(states["222"], (QStringList{"pending", "", ""}));
    QCOMPARE(states["333"], unknown);

    before = m_sim->received().size();
    run = runCli({"send", project, "--port", m_sim->portPath()});
    QCOMPARE(run.status, 0);
    QCOMPARE(receivedNumbers(*m_sim, before), QSet<QByteArray>{"222"});
    QCOMPARE(m_sim->received().size(), before + 1);
    AppData data;
    data.load(project);
    QCOMPARE(data.sentList->count(), 3);
    QCOMPARE(outbox().keys(), QStringList{"333"});
}

QTEST_GUILESS_MAIN(TestCliDurable)
#include "tst_cli_durable.moc"
