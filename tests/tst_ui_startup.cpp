// Start-up: the command line, the single-instance rule between real processes of the
// program (copied into temporary folders), and bringing the running copy's window to the
// front.

#include "app/AppData.h"
#include "ui/AppStart.h"
#include "ui/MainWindow.h"
#include "ui/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

QString programPath() {
    return qEnvironmentVariable("PELORVANE_BINARY_DIR") + QStringLiteral("/main/pelorvane");
}

// A copy of the program in a folder of its own, started with a private runtime folder so that
// its lock and socket meet only the copies of this test.
struct ProgramCopy {
    ProgramCopy(const QString &folder, const QString &runtimeDir) {
        path = QDir(folder).filePath(QStringLiteral("pelorvane"));
        copied = QFile::copy(programPath(), path) &&
                 QFile::setPermissions(path, QFile::permissions(programPath()));
        runtime = runtimeDir;
    }

    std::unique_ptr<QProcess> start(const QStringList &arguments = {}) const {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("QT_LOGGING_RULES"),
                   QStringLiteral("pelorvane.instance.info=true"));
        process->setProcessEnvironment(env);
        process->setProgram(path);
        process->setArguments(arguments);
        process->start();
        return process;
    }

    QString path;
    QString runtime;
    bool copied = false;
};

// Reads the process's error output until it holds the text.
bool waitForOutput(QProcess &process, QByteArray &seen, const QByteArray &text,
                   int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!seen.contains(text)) {
        if (timer.elapsed() > timeoutMs || process.state() == QProcess::NotRunning)
            break;
        process.waitForReadyRead(100);
        seen += process.readAllStandardError();
    }
    seen += process.readAllStandardError();
    return seen.contains(text);
}

void kill(QProcess &process) {
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(10000);
    }
}

} // namespace

class TestUiStartup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void identity_data();
    void identity();
    void commandLine_data();
    void commandLine();
    // In-process cases first: ThreadSanitizer does not allow new threads once the process
    // has started another one.
    void secondCopyActivatesFirstInProcess();
    void bringToFrontRestoresMinimised();

    void helpAndVersion_data();
    void helpAndVersion();

    void secondProcessExitsAndActivatesFirst();
    void copiesInDifferentFoldersBothRun();
    void startAfterFirstCopyDied();

private:
    QTemporaryDir m_runtime;
};

void TestUiStartup::initTestCase() {
    Q_INIT_RESOURCE(resources);
    QVERIFY2(QFile::exists(programPath()), qPrintable(programPath()));
    QVERIFY(m_runtime.isValid());
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestUiStartup::identity_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("identity");
    QTest::newRow("unix path") << QStringLiteral("/usr/local/bin/pelorvane")
                               << QStringLiteral("_USR_LOCAL_BIN_PELORVANE");
    QTest::newRow("letter case ignored")
        << QStringLiteral("/Opt/Pelorvane/Pelorvane") << QStringLiteral("_OPT_PELORVANE_PELORVANE");
    QTest::newRow("windows separators") << QStringLiteral("C:\\Programs\\pelorvane.exe")
                                        << QStringLiteral("C:_PROGRAMS_PELORVANE.EXE");
}

void TestUiStartup::identity() {
    QFETCH(QString, path);
    QFETCH(QString, identity);
    QCOMPARE(SingleInstance::identity(path), identity);
    // Two folders are two programs, with their own lock and socket.
    SingleInstance a(SingleInstance::identity(path), m_runtime.path());
    SingleInstance b(SingleInstance::identity(path + QStringLiteral("2")), m_runtime.path());
    QVERIFY(a.lockFilePath() != b.lockFilePath());
    QVERIFY(a.serverName() != b.serverName());
    QVERIFY(a.serverName().toUtf8().size() < 100);
}

void TestUiStartup::commandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("simulate");
    QTest::addColumn<QString>("project");
    QTest::addColumn<bool>("error");
    QTest::newRow("nothing") << QStringList{"pelorvane"} << false << QString() << false;
    QTest::newRow("project") << QStringList{"pelorvane", "work.sms"} << false
                             << QStringLiteral("work.sms") << false;
    QTest::newRow("first argument counts")
        << QStringList{"pelorvane", "a.sms", "b.sms"} << false << QStringLiteral("a.sms") << false;
    QTest::newRow("simulate and project") << QStringList{"pelorvane", "--simulate", "x.sms"} << true
                                          << QStringLiteral("x.sms") << false;
    QTest::newRow("file named like an option after --")
        << QStringList{"pelorvane", "--", "--odd.sms"} << false << QStringLiteral("--odd.sms")
        << false;
    QTest::newRow("unknown option")
        << QStringList{"pelorvane", "--fast"} << false << QString() << true;
}

void TestUiStartup::commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, simulate);
    QFETCH(QString, project);
    QFETCH(bool, error);
    const CommandLine line = parseCommandLine(arguments);
    QCOMPARE(line.simulate, simulate);
    QCOMPARE(line.projectFile, project);
    QCOMPARE(!line.error.isEmpty(), error);
}

void TestUiStartup::helpAndVersion_data() {
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output");
    QTest::newRow("help") << QStringLiteral("--help") << 0 << QByteArray("Usage: pelorvane");
    QTest::newRow("version") << QStringLiteral("--version") << 0
                             << QByteArray("Pelorvane " PELORVANE_VERSION "\n");
    QTest::newRow("unknown option") << QStringLiteral("--bogus") << 2 << QByteArray();
}

void TestUiStartup::helpAndVersion() {
    QFETCH(QString, option);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);
    QProcess process;
    // No display at all: these never open a window.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(env);
    process.start(programPath(), {option});
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray out = process.readAllStandardOutput();
    if (!output.isEmpty())
        QVERIFY2(out.startsWith(output), out.constData());
    else
        QVERIFY(process.readAllStandardError().contains("bogus"));
}

void TestUiStartup::secondCopyActivatesFirstInProcess() {
    const QString identity =
        QStringLiteral("_TEST_IN_PROCESS_%1").arg(QCoreApplication::applicationPid());
    auto first = std::make_unique<SingleInstance>(identity, m_runtime.path());
    QVERIFY(first->tryRegister());
    int activations = 0;
    first->onActivate = [&] { ++activations; };
    QVERIFY(first->listen());

    SingleInstance second(identity, m_runtime.path());
    QVERIFY(!second.tryRegister());
    std::atomic<int> answered{-1};
    std::thread asker([&] { answered = second.activateRunning(5000) ? 1 : 0; });
    QTRY_VERIFY_WITH_TIMEOUT(answered != -1, 10000);
    asker.join();
    QCOMPARE(answered.load(), 1);
    QCOMPARE(activations, 1);

    // Once the first copy has gone, the next one runs.
    first.reset();
    SingleInstance third(identity, m_runtime.path());
    QVERIFY(third.tryRegister());
    // Nobody listens: asking gives up and says so.
    SingleInstance fourth(identity, m_runtime.path());
    QVERIFY(!fourth.tryRegister());
    QVERIFY(!fourth.activateRunning(300));
}

void TestUiStartup::bringToFrontRestoresMinimised() {
    QTemporaryDir dir;
    AppData data(dir.filePath(QStringLiteral("pelorvane.ini")));
    MainWindow window(data);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.showMinimized();
    QTRY_VERIFY(window.isMinimized());
    window.bringToFront();
    QTRY_VERIFY(!window.isMinimized());
    QVERIFY(window.isVisible());
}

void TestUiStartup::secondProcessExitsAndActivatesFirst() {
    QTemporaryDir folder;
    ProgramCopy copy(folder.path(), m_runtime.path());
    QVERIFY(copy.copied);
    auto first = copy.start();
    QByteArray firstErr;
    QVERIFY2(waitForOutput(*first, firstErr, "listening"), firstErr.constData());

    // A project named on the second copy's line is opened by neither copy: a missing file
    // would stop either one at an error box.
    auto second = copy.start({folder.filePath(QStringLiteral("missing.sms"))});
    QVERIFY(second->waitForFinished(20000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(!second->readAllStandardError().contains("listening"));
    QVERIFY2(waitForOutput(*first, firstErr, "activated"), firstErr.constData());
    QCOMPARE(first->state(), QProcess::Running);
    // The second copy wrote no settings of its own.
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("pelorvane.ini"))));
    kill(*first);
}

void TestUiStartup::copiesInDifferentFoldersBothRun() {
    QTemporaryDir folderA;
    QTemporaryDir folderB;
    ProgramCopy a(folderA.path(), m_runtime.path());
    ProgramCopy b(folderB.path(), m_runtime.path());
    QVERIFY(a.copied && b.copied);
    auto first = a.start();
    auto second = b.start();
    QByteArray errA;
    QByteArray errB;
    QVERIFY2(waitForOutput(*first, errA, "listening"), errA.constData());
    QVERIFY2(waitForOutput(*second, errB, "listening"), errB.constData());
    QTest::qWait(300);
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(second->state(), QProcess::Running);
    kill(*first);
    kill(*second);
}

void TestUiStartup::startAfterFirstCopyDied() {
    QTemporaryDir folder;
    ProgramCopy copy(folder.path(), m_runtime.path());
    QVERIFY(copy.copied);
    auto first = copy.start();
    QByteArray err;
    QVERIFY2(waitForOutput(*first, err, "listening"), err.constData());
    // Killed: no clean-up ran, the lock file and the socket stay behind.
    kill(*first);
    auto next = copy.start();
    QByteArray nextErr;
    QVERIFY2(waitForOutput(*next, nextErr, "listening"), nextErr.constData());
    QCOMPARE(next->state(), QProcess::Running);
    kill(*next);
}

QTEST_MAIN(TestUiStartup)
#include "tst_ui_startup.moc"
