// The device probe through the phone, against the simulated phone and a scripted one on real
// pseudo-terminals.

#include "app/AppData.h"
#include "app/Settings.h"
#include "link/GsmSerial.h"
#include "link/Phone.h"
#include "modemsim/ModemSim.h"
#include "sending/ProbeThread.h"
#include "support/ScriptedPhone.h"
#include "tools/cli/Cli.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

namespace {

using Result = ProbeThread::Result;
// The first four rows, as they always were; the checks after them have tests of their own.
using Values = std::array<QByteArray, 4>;

Values firstFour(const Result &result) {
    return {result.values[0], result.values[1], result.values[2], result.values[3]};
}

// A data module on a temporary settings file whose probes go to port.
struct ProbeFixture {
    explicit ProbeFixture(const QByteArray &port) {
        data = std::make_unique<AppData>(dir.filePath(QStringLiteral("pelorvane.ini")));
        data->settings->setSessionPort(port);
        data->phone->onWorkerDone = [this](Phone &phone) {
            ++workerDone;
            reportsAtEnd = phone.reports;
        };
    }

    // Runs one probe the way the phone view does and waits for the phone to become idle.
    std::optional<Result> probe() {
        std::optional<Result> result;
        bool started = false;
        withPhoneLock(*data->phone, [&] {
            if (data->phone->isBusy())
                return;
            data->phone->start(new ProbeThread([&](const Result &r) {
                onUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
                linkOpenInHandler = data->serial->connected();
                result = r;
            }));
            started = true;
        });
        if (!started)
            return std::nullopt;
        QElapsedTimer timer;
        timer.start();
        while (data->phone->isBusy() && timer.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return result;
    }

    QTemporaryDir dir;
    std::unique_ptr<AppData> data;
    int workerDone = 0;
    QList<QByteArray> reportsAtEnd;
    bool onUiThread = false;
    bool linkOpenInHandler = true;
};

struct CliRun {
    int status = -1;
    QString out;
    QString err;
};

CliRun runProbe(const QStringList &args) {
    CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    QBuffer in;
    in.open(QIODevice::ReadOnly);
    run.status = runCli(QStringList{QStringLiteral("probe")} + args, out, err, in);
    return run;
}

const QList<QByteArray> AllCommands{"AT+CBC", "AT+GMI", "AT+GMM", "AT+CSQ"};
// The checks that follow them, whatever the first four gave.
const QList<QByteArray> CheckCommands{"AT+CPIN?", "AT+CREG?", "AT+CGREG?", "AT+CEREG?",
                                      "AT+COPS?", "AT+CSCA?", "AT+CGSN"};

} // namespace

class TestProbe : public QObject {
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

void TestProbe::simulatedPhone_data() {
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

void TestProbe::simulatedPhone() {
    QFETCH(int, battery);
    QFETCH(int, signal);
    QFETCH(QByteArray, batteryText);
    QFETCH(QByteArray, signalText);
    ModemSimOptions options;
    options.battery = battery;
    options.signal = signal;
    options.maker = "ACME Mobile";
    options.model = "Model 3310, rev B";
    ModemSim sim(options);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    ProbeFixture f(sim.portPath().toLocal8Bit());

    const std::optional<Result> result = f.probe();
    QVERIFY(result);
    QCOMPARE(result->outcome, ProbeThread::Done);
    QCOMPARE(firstFour(*result),
             (Values{batteryText, "ACME Mobile", "Model 3310, rev B", signalText}));
    // No set-up commands: the probe leaves echo as it is.
    QCOMPARE(sim.commands(), AllCommands + CheckCommands);
    QVERIFY(f.onUiThread);
    QVERIFY(!f.linkOpenInHandler);
    QVERIFY(!f.data->serial->connected());
    QCOMPARE(f.workerDone, 1);
    QVERIFY(f.reportsAtEnd.isEmpty());
}

void TestProbe::refusedCommandEndsSequence_data() {
    QTest::addColumn<bool>("refuseCbc");
    QTest::addColumn<bool>("refuseGmm");
    QTest::addColumn<QByteArray>("refused");
    QTest::addColumn<Values>("values");
    QTest::addColumn<int>("commandsSent");
    QTest::newRow("AT+CBC refused: four empty values")
        << true << false << QByteArray("AT+CBC") << Values{} << 1;
    QTest::newRow("AT+GMM refused: battery and maker only")
        << false << true << QByteArray("AT+GMM") << Values{"85%", "Pelorvane", "", ""} << 3;
}

void TestProbe::refusedCommandEndsSequence() {
    QFETCH(bool, refuseCbc);
    QFETCH(bool, refuseGmm);
    QFETCH(QByteArray, refused);
    QFETCH(Values, values);
    QFETCH(int, commandsSent);
    ModemSimOptions options;
    options.refuseCbc = refuseCbc;
    options.refuseGmm = refuseGmm;
    ModemSim sim(options);
    QVERIFY(sim.start());
    ProbeFixture f(sim.portPath().toLocal8Bit());

    const std::optional<Result> result = f.probe();
    QVERIFY(result);
    QCOMPARE(result->outcome, ProbeThread::Refused);
    QCOMPARE(result->refusedCommand, refused);
    QCOMPARE(firstFour(*result), values);
    QCOMPARE(sim.commands(), AllCommands.first(commandsSent) + CheckCommands);
    // A phone without a battery reading may send all the same.
    QCOMPARE(result->values[ProbeThread::SimRow], QByteArray("Ready"));
    QVERIFY(result->canSend);
    QVERIFY(f.reportsAtEnd.isEmpty());
    QVERIFY(!f.data->serial->connected());
}

void TestProbe::scriptedReplies_data() {
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

void TestProbe::scriptedReplies() {
    QFETCH(QByteArray, cbc);
    QFETCH(QByteArray, csq);
    QFETCH(QByteArray, batteryText);
    QFETCH(QByteArray, signalText);
    ScriptedPhone phone;
    QVERIFY(phone.isValid());
    phone.setReply("AT+CBC", {cbc, "OK"});
    phone.setReply("AT+GMI", {"Maker", "OK"});
    phone.setReply("AT+GMM", {"Model X", "OK"});
    phone.setReply("AT+CSQ", {csq, "OK"});
    ProbeFixture f(phone.portPath());

    const std::optional<Result> result = f.probe();
    QVERIFY(result);
    QCOMPARE(result->outcome, ProbeThread::Done);
    QCOMPARE(firstFour(*result), (Values{batteryText, "Maker", "Model X", signalText}));
    // A phone that refuses every check is taken as able to send.
    QCOMPARE(result->values[ProbeThread::NetworkRow], QByteArray("not reported by the phone"));
    QVERIFY(result->canSend);
}

void TestProbe::badSignalFieldFails() {
    ScriptedPhone phone;
    QVERIFY(phone.isValid());
    phone.setReply("AT+CBC", {"+CBC: 0,50", "OK"});
    phone.setReply("AT+GMI", {"Maker", "OK"});
    phone.setReply("AT+GMM", {"Model X", "OK"});
    phone.setReply("AT+CSQ", {"+CSQ: strong,99", "OK"});
    ProbeFixture f(phone.portPath());

    const std::optional<Result> result = f.probe();
    QVERIFY(result);
    QCOMPARE(result->outcome, ProbeThread::Failed);
    QCOMPARE(result->error, QStringLiteral("'strong' is not a valid integer value"));
    QCOMPARE(firstFour(*result), Values{});
    QVERIFY(!result->canSend);
    QVERIFY(f.reportsAtEnd.isEmpty());
    QVERIFY(!f.data->serial->connected());
    QCOMPARE(f.workerDone, 1);
}

void TestProbe::portThatCannotOpen() {
    QTemporaryDir dir;
    ProbeFixture f(dir.filePath(QStringLiteral("no-such-port")).toLocal8Bit());
    const std::optional<Result> result = f.probe();
    QVERIFY(result);
    QCOMPARE(result->outcome, ProbeThread::Failed);
    QVERIFY(!result->error.isEmpty());
    QVERIFY(f.reportsAtEnd.isEmpty());
    QVERIFY(!f.data->phone->isBusy());
    QCOMPARE(f.workerDone, 1);
    // The phone is free for the next worker.
    QVERIFY(f.probe());
}

void TestProbe::linkAlreadyOpen() {
    ModemSim sim;
    QVERIFY(sim.start());
    ProbeFixture f(sim.portPath().toLocal8Bit());
    f.data->serial->port().setPortName(sim.portPath().toLocal8Bit());
    f.data->serial->open();
    const std::optional<Result> result = f.probe();
    QVERIFY(result);
    QCOMPARE(result->outcome, ProbeThread::Busy);
    QVERIFY(sim.commands().isEmpty());
    // Whoever opened the link keeps it.
    QVERIFY(f.data->serial->connected());
    f.data->serial->close();
}

void TestProbe::signalText_data() {
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

void TestProbe::signalText() {
    QFETCH(int, value);
    QFETCH(QByteArray, text);
    QCOMPARE(ProbeThread::signalText(value), text);
}

void TestProbe::cliProbe_data() {
    // Without the signal strength's answer the signal in dBm is not known either.
    const auto checks = [](const char *signal) {
        return QStringLiteral("SIM: Ready\nNetwork: home (GSM)\nOperator: Pelorvane Net\n"
                              "Service centre: +491710760000\nSignal: %1\nIMEI: "
                              "356938035643809\n")
            .arg(QLatin1String(signal));
    };
    QTest::addColumn<bool>("refuseGmm");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("all four rows")
        << false << 0
        << "Battery Level: 85%\nManufacturer: Pelorvane\nModel: Demo GSM Phone\nSignal "
           "Strength: High (20)\n" +
               checks("-73 dBm")
        << "";
    QTest::newRow("model refused")
        << true << 0
        << "Battery Level: 85%\nManufacturer: Pelorvane\nModel: \nSignal Strength: \n" +
               checks("unknown")
        << "Note: the phone refused AT+GMM; the rows after it up to Signal Strength are empty\n";
}

void TestProbe::cliProbe() {
    QFETCH(bool, refuseGmm);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    ModemSimOptions options;
    options.refuseGmm = refuseGmm;
    ModemSim sim(options);
    QVERIFY(sim.start());
    const CliRun run = runProbe({QStringLiteral("--port"), sim.portPath()});
    QCOMPARE(run.err, err);
    QCOMPARE(run.out, out);
    QCOMPARE(run.status, status);

    const CliRun simulated = runProbe({QStringLiteral("--simulate")});
    QCOMPARE(simulated.status, 0);
    QVERIFY2(simulated.out.contains(QStringLiteral("Model: Demo GSM Phone\n")),
             qPrintable(simulated.out));
}

void TestProbe::cliProbeProcess() {
    const QString dir = qEnvironmentVariableIsSet("PELORVANE_BINARY_DIR")
                            ? qEnvironmentVariable("PELORVANE_BINARY_DIR")
                            : QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    const QString cli = QDir(dir).filePath(QStringLiteral("tools/cli/pelorvane-cli"));
    QTemporaryDir tmp;
    const auto run = [&](const QStringList &args) {
        QProcess process;
        process.start(cli, QStringList{QStringLiteral("probe")} + args);
        if (!process.waitForFinished(30000))
            return CliRun{};
        return CliRun{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                      QString::fromUtf8(process.readAllStandardError())};
    };
    const CliRun simulated = run({QStringLiteral("--simulate")});
    QCOMPARE(simulated.status, 0);
    QCOMPARE(simulated.out.count(QLatin1Char('\n')), ProbeThread::RowCount);
    QVERIFY(simulated.out.startsWith(QStringLiteral("Battery Level: 85%\n")));

    const CliRun missing = run({QStringLiteral("--port"), tmp.filePath(QStringLiteral("none"))});
    QCOMPARE(missing.status, 1);
    QVERIFY(missing.out.isEmpty());
    QVERIFY2(missing.err.startsWith(tmp.filePath(QStringLiteral("none")) + QStringLiteral(": ")),
             qPrintable(missing.err));

    QCOMPARE(run({QStringLiteral("--port")}).status, 2);
    QCOMPARE(
        run({QStringLiteral("--simulate"), QStringLiteral("--port"), QStringLiteral("x")}).status,
        2);
    QCOMPARE(run({QStringLiteral("extra")}).status, 2);
}

QTEST_GUILESS_MAIN(TestProbe)
#include "tst_probe.moc"
