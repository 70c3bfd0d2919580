// The device probe through the phone, against the simulated phone and a scripted one on real
// pseudo-terminals.

#include "app/Database.h"
#include "app/Setting.h"
#include "link/GsmSerial.h"
#include "link/PhoneUnit.h"
#include "sending/GetInfoThread.h"
#include "support/ScriptedPhone.h"
#include "tools/cli/Cli.h"
#include "tools/modemsim/ModemSim.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

namespace {

using TResult = TGetInfoThread::TResult;
using TValues = std::array<QByteArray, TGetInfoThread::RowCount>;

// A data module on a temporary settings file whose probes go to port.
struct TProbeFixture {
    explicit TProbeFixture(const QByteArray &port) {
        Data = std::make_unique<TDataModule1>(Dir.filePath(QStringLiteral("pelorvane.ini")));
        Data->Settings->SetSessionPort(port);
        Data->Phone->OnWorkerDone = [this](TPhone &phone) {
            ++WorkerDone;
            ReportsAtEnd = phone.Reports;
        };
    }

    // Runs one probe the way the phone view does and waits for the phone to become idle.
    std::optional<TResult> Probe() {
        std::optional<TResult> result;
        bool started = false;
        WithPhoneLock(*Data->Phone, [&] {
            if (Data->Phone->IsBusy())
                return;
            Data->Phone->Start(new TGetInfoThread([&](const TResult &r) {
                OnUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
                LinkOpenInHandler = Data->Serial->Connected();
                result = r;
            }));
            started = true;
        });
        if (!started)
            return std::nullopt;
        QElapsedTimer timer;
        timer.start();
        while (Data->Phone->IsBusy() && timer.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return result;
    }

    QTemporaryDir Dir;
    std::unique_ptr<TDataModule1> Data;
    int WorkerDone = 0;
    QList<QByteArray> ReportsAtEnd;
    bool OnUiThread = false;
    bool LinkOpenInHandler = true;
};

struct TCliRun {
    int Status = -1;
    QString Out;
    QString Err;
};

TCliRun RunProbe(const QStringList &args) {
    TCliRun run;
    QTextStream out(&run.Out);
    QTextStream err(&run.Err);
    QBuffer in;
    in.open(QIODevice::ReadOnly);
    run.Status = RunCli(QStringList{QStringLiteral("probe")} + args, out, err, in);
    return run;
}

const QList<QByteArray> AllCommands{"AT+CBC", "AT+GMI", "AT+GMM", "AT+CSQ"};

} // namespace

class TestGetInfo : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void simulatedPhone_data();
    void simulatedPhone();
    void refusedCommandEndsSequence_data();
    void refusedCommandEndsSequence();
    void scriptedReplies_data();
    void scriptedReplies();
    void badSignalFieldFails();
    void portThatCannotOpen();
    void linkAlreadyOpen();
    void signalText_data();
    void signalText();
    void cliProbe_data();
    void cliProbe();
    void cliProbeProcess();
};

void TestGetInfo::simulatedPhone_data() {
    QTest::addColumn<int>("battery");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QByteArray>("batteryText");
    QTest::addColumn<QByteArray>("signalText");
    QTest::newRow("battery 85, signal 7") << 85 << 7 << QByteArray("85%") << QByteArray("Low (7)");
    QTest::newRow("signal 0") << 100 << 0 << QByteArray("100%") << QByteArray("Low (0)");
    QTest::newRow("signal 8") << 5 << 8 << QByteArray("5%") << QByteArray("Mid (8)");
    QTest::newRow("signal 15") << 0 << 15 << QByteArray("0%") << QByteArray("Mid (15)");
    QTest::newRow("signal 16") << 50 << 16 << QByteArray("50%") << QByteArray("High (16)");
    QTest::newRow("signal 31") << 50 << 31 << QByteArray("50%") << QByteArray("High (31)");
    QTest::newRow("signal 32") << 50 << 32 << QByteArray("50%") << QByteArray("Unknown");
    QTest::newRow("signal 99 (not known)")
        << 50 << 99 << QByteArray("50%") << QByteArray("Unknown");
}

void TestGetInfo::simulatedPhone() {
    QFETCH(int, battery);
    QFETCH(int, signal);
    QFETCH(QByteArray, batteryText);
    QFETCH(QByteArray, signalText);
    TModemSimOptions options;
    options.Battery = battery;
    options.Signal = signal;
    options.Maker = "ACME Mobile";
    options.Model = "Model 3310, rev B";
    TModemSim sim(options);
    QString error;
    QVERIFY2(sim.Start(&error), qPrintable(error));
    TProbeFixture f(sim.PortPath().toLocal8Bit());

    const std::optional<TResult> result = f.Probe();
    QVERIFY(result);
    QCOMPARE(result->Outcome, TGetInfoThread::poDone);
    QCOMPARE(result->Values,
             (TValues{batteryText, "ACME Mobile", "Model 3310, rev B", signalText}));
    // No set-up commands: the probe leaves echo as it is.
    QCOMPARE(sim.Commands(), AllCommands);
    QVERIFY(f.OnUiThread);
    QVERIFY(!f.LinkOpenInHandler);
    QVERIFY(!f.Data->Serial->Connected());
    QCOMPARE(f.WorkerDone, 1);
    QVERIFY(f.ReportsAtEnd.isEmpty());
}

void TestGetInfo::refusedCommandEndsSequence_data() {
    QTest::addColumn<bool>("refuseCbc");
    QTest::addColumn<bool>("refuseGmm");
    QTest::addColumn<QByteArray>("refused");
    QTest::addColumn<TValues>("values");
    QTest::addColumn<int>("commandsSent");
    QTest::newRow("AT+CBC refused: four empty values")
        << true << false << QByteArray("AT+CBC") << TValues{} << 1;
    QTest::newRow("AT+GMM refused: battery and maker only")
        << false << true << QByteArray("AT+GMM") << TValues{"85%", "Pelorvane", "", ""} << 3;
}

void TestGetInfo::refusedCommandEndsSequence() {
    QFETCH(bool, refuseCbc);
    QFETCH(bool, refuseGmm);
    QFETCH(QByteArray, refused);
    QFETCH(TValues, values);
    QFETCH(int, commandsSent);
    TModemSimOptions options;
    options.RefuseCbc = refuseCbc;
    options.RefuseGmm = refuseGmm;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    TProbeFixture f(sim.PortPath().toLocal8Bit());

    const std::optional<TResult> result = f.Probe();
    QVERIFY(result);
    QCOMPARE(result->Outcome, TGetInfoThread::poRefused);
    QCOMPARE(result->RefusedCommand, refused);
    QCOMPARE(result->Values, values);
    QCOMPARE(sim.Commands(), AllCommands.first(commandsSent));
    QVERIFY(f.ReportsAtEnd.isEmpty());
    QVERIFY(!f.Data->Serial->Connected());
}

void TestGetInfo::scriptedReplies_data() {
    QTest::addColumn<QByteArray>("cbc");
    QTest::addColumn<QByteArray>("csq");
    QTest::addColumn<QByteArray>("batteryText");
    QTest::addColumn<QByteArray>("signalText");
    QTest::newRow("+CBC with one field") << QByteArray("+CBC: 85") << QByteArray("+CSQ: 20,99")
                                         << QByteArray("Unknown") << QByteArray("High (20)");
    QTest::newRow("+CBC without a colon") << QByteArray("85") << QByteArray("+CSQ: 20,99")
                                          << QByteArray("Unknown") << QByteArray("High (20)");
    QTest::newRow("+CSQ without a colon") << QByteArray("+CBC: 1,60") << QByteArray("weak")
                                          << QByteArray("60%") << QByteArray("Unknown");
    QTest::newRow("+CSQ negative") << QByteArray("+CBC: 1,60") << QByteArray("+CSQ: -1,0")
                                   << QByteArray("60%") << QByteArray("Unknown");
    QTest::newRow("+CSQ with blanks") << QByteArray("+CBC: 0,7") << QByteArray("+CSQ:  12 , 3")
                                      << QByteArray("7%") << QByteArray("Mid (12)");
}

void TestGetInfo::scriptedReplies() {
    QFETCH(QByteArray, cbc);
    QFETCH(QByteArray, csq);
    QFETCH(QByteArray, batteryText);
    QFETCH(QByteArray, signalText);
    TScriptedPhone phone;
    QVERIFY(phone.IsValid());
    phone.SetReply("AT+CBC", {cbc, "OK"});
    phone.SetReply("AT+GMI", {"Maker", "OK"});
    phone.SetReply("AT+GMM", {"Model X", "OK"});
    phone.SetReply("AT+CSQ", {csq, "OK"});
    TProbeFixture f(phone.PortPath());

    const std::optional<TResult> result = f.Probe();
    QVERIFY(result);
    QCOMPARE(result->Outcome, TGetInfoThread::poDone);
    QCOMPARE(result->Values, (TValues{batteryText, "Maker", "Model X", signalText}));
}

void TestGetInfo::badSignalFieldFails() {
    TScriptedPhone phone;
    QVERIFY(phone.IsValid());
    phone.SetReply("AT+CBC", {"+CBC: 0,50", "OK"});
    phone.SetReply("AT+GMI", {"Maker", "OK"});
    phone.SetReply("AT+GMM", {"Model X", "OK"});
    phone.SetReply("AT+CSQ", {"+CSQ: strong,99", "OK"});
    TProbeFixture f(phone.PortPath());

    const std::optional<TResult> result = f.Probe();
    QVERIFY(result);
    QCOMPARE(result->Outcome, TGetInfoThread::poFailed);
    QCOMPARE(result->Error, QStringLiteral("'strong' is not a valid integer value"));
    QCOMPARE(result->Values, TValues{});
    QVERIFY(f.ReportsAtEnd.isEmpty());
    QVERIFY(!f.Data->Serial->Connected());
    QCOMPARE(f.WorkerDone, 1);
}

void TestGetInfo::portThatCannotOpen() {
    QTemporaryDir dir;
    TProbeFixture f(dir.filePath(QStringLiteral("no-such-port")).toLocal8Bit());
    const std::optional<TResult> result = f.Probe();
    QVERIFY(result);
    QCOMPARE(result->Outcome, TGetInfoThread::poFailed);
    QVERIFY(!result->Error.isEmpty());
    QVERIFY(f.ReportsAtEnd.isEmpty());
    QVERIFY(!f.Data->Phone->IsBusy());
    QCOMPARE(f.WorkerDone, 1);
    // The phone is free for the next worker.
    QVERIFY(f.Probe());
}

void TestGetInfo::linkAlreadyOpen() {
    TModemSim sim;
    QVERIFY(sim.Start());
    TProbeFixture f(sim.PortPath().toLocal8Bit());
    f.Data->Serial->Port().SetPortName(sim.PortPath().toLocal8Bit());
    f.Data->Serial->Open();
    const std::optional<TResult> result = f.Probe();
    QVERIFY(result);
    QCOMPARE(result->Outcome, TGetInfoThread::poBusy);
    QVERIFY(sim.Commands().isEmpty());
    // Whoever opened the link keeps it.
    QVERIFY(f.Data->Serial->Connected());
    f.Data->Serial->Close();
}

void TestGetInfo::signalText_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("0") << 0 << QByteArray("Low (0)");
    QTest::newRow("7") << 7 << QByteArray("Low (7)");
    QTest::newRow("8") << 8 << QByteArray("Mid (8)");
    QTest::newRow("15") << 15 << QByteArray("Mid (15)");
    QTest::newRow("16") << 16 << QByteArray("High (16)");
    QTest::newRow("31") << 31 << QByteArray("High (31)");
    QTest::newRow("32") << 32 << QByteArray("Unknown");
    QTest::newRow("99") << 99 << QByteArray("Unknown");
    QTest::newRow("-1 as unsigned") << -1 << QByteArray("Unknown");
}

void TestGetInfo::signalText() {
    QFETCH(int, value);
    QFETCH(QByteArray, text);
    QCOMPARE(TGetInfoThread::SignalText(value), text);
}

void TestGetInfo::cliProbe_data() {
    QTest::addColumn<bool>("refuseGmm");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("all four rows")
        << false << 0
        << "Battery Level: 85%\nManufacturer: Pelorvane\nModel: Demo GSM Phone\nSignal "
           "Strength: High (20)\n"
        << "";
    QTest::newRow("model refused")
        << true << 0 << "Battery Level: 85%\nManufacturer: Pelorvane\nModel: \nSignal Strength: \n"
        << "Note: the phone refused AT+GMM; the rows after it are empty\n";
}

void TestGetInfo::cliProbe() {
    QFETCH(bool, refuseGmm);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    TModemSimOptions options;
    options.RefuseGmm = refuseGmm;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    const TCliRun run = RunProbe({QStringLiteral("--port"), sim.PortPath()});
    QCOMPARE(run.Err, err);
    QCOMPARE(run.Out, out);
    QCOMPARE(run.Status, status);

    const TCliRun simulated = RunProbe({QStringLiteral("--simulate")});
    QCOMPARE(simulated.Status, 0);
    QVERIFY2(simulated.Out.contains(QStringLiteral("Model: Demo GSM Phone\n")),
             qPrintable(simulated.Out));
}

void TestGetInfo::cliProbeProcess() {
    const QString dir = qEnvironmentVariableIsSet("PELORVANE_BINARY_DIR")
                            ? qEnvironmentVariable("PELORVANE_BINARY_DIR")
                            : QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    const QString cli = QDir(dir).filePath(QStringLiteral("tools/cli/pelorvane-cli"));
    QTemporaryDir tmp;
    const auto run = [&](const QStringList &args) {
        QProcess process;
        process.start(cli, QStringList{QStringLiteral("probe")} + args);
        if (!process.waitForFinished(30000))
            return TCliRun{};
        return TCliRun{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                       QString::fromUtf8(process.readAllStandardError())};
    };
    const TCliRun simulated = run({QStringLiteral("--simulate")});
    QCOMPARE(simulated.Status, 0);
    QCOMPARE(simulated.Out.count(QLatin1Char('\n')), 4);
    QVERIFY(simulated.Out.startsWith(QStringLiteral("Battery Level: 85%\n")));

    const TCliRun missing = run({QStringLiteral("--port"), tmp.filePath(QStringLiteral("none"))});
    QCOMPARE(missing.Status, 1);
    QVERIFY(missing.Out.isEmpty());
    QVERIFY2(missing.Err.startsWith(tmp.filePath(QStringLiteral("none")) + QStringLiteral(": ")),
             qPrintable(missing.Err));

    QCOMPARE(run({QStringLiteral("--port")}).Status, 2);
    QCOMPARE(
        run({QStringLiteral("--simulate"), QStringLiteral("--port"), QStringLiteral("x")}).Status,
        2);
    QCOMPARE(run({QStringLiteral("extra")}).Status, 2);
}

QTEST_GUILESS_MAIN(TestGetInfo)
#include "tst_getinfo.moc"
