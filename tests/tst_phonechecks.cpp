// The checks of a run start and of the device probe (SIM card, PIN, network, service centre,
// unsolicited lines) against the simulated phone's personalities on a real pseudo-terminal.

#include "app/AppData.h"
#include "base/OleDate.h"
#include "link/GsmSerial.h"
#include "link/Phone.h"
#include "link/PhoneStatus.h"
#include "modemsim/ModemSim.h"
#include "sending/ProbeThread.h"
#include "sending/SenderThread.h"
#include "support/CliRun.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <optional>

Q_DECLARE_METATYPE(ModemSimOptions)

namespace {

// A data module on a temporary settings file, talking to one simulated phone; the PIN dialog
// is answered from pins (then cancelled) and the status lines are recorded.
struct Fixture {
    explicit Fixture(const ModemSimOptions &options = {}) : sim(options) {
        QString error;
        started = sim.start(&error);
        if (!started)
            qWarning("simulated phone: %s", qPrintable(error));
        data = std::make_unique<AppData>(dir.filePath(QStringLiteral("pelorvane.ini")));
        data->settings->setSessionPort(sim.portPath().toLocal8Bit());
        data->settings->setRetryDelaysMs({});
        data->phone->onWorkerDone = [this](Phone &phone) {
            if (auto *sender = qobject_cast<SenderThread *>(phone.endedWorker()))
                summary = sender->summary();
        };
        data->readiness.askPin = [this](const PinRequest &request) -> std::optional<QByteArray> {
            requests.append(request);
            if (pins.isEmpty())
                return std::nullopt;
            return pins.takeFirst();
        };
        data->readiness.showNetwork = [this](const QString &network) { networks << network; };
        data->readiness.showStatus = [this](const QString &status) {
            statuses.append(status);
            if (onStatus)
                onStatus(status);
        };
    }

    void addMessages(int count) {
        for (int i = 1; i <= count; ++i) {
            Message message;
            message.number = QByteArray::number(5000 + i);
            message.text = QStringLiteral("message %1").arg(i);
            message.created = oleNow();
            data->outboxList->add(message);
        }
    }

    bool run(int timeoutMs = 30000) {
        bool begun = false;
        withPhoneLock(*data->phone, [&] {
            if (!data->phone->isBusy()) {
                data->phone->start(data->newSender());
                begun = true;
            }
        });
        return begun && waitIdle(timeoutMs);
    }

    bool waitIdle(int timeoutMs) {
        QElapsedTimer timer;
        timer.start();
        while (data->phone->isBusy() && timer.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return !data->phone->isBusy();
    }

    std::optional<ProbeThread::Result> probe() {
        std::optional<ProbeThread::Result> result;
        bool begun = false;
        withPhoneLock(*data->phone, [&] {
            if (data->phone->isBusy())
                return;
            data->phone->start(new ProbeThread([&](const ProbeThread::Result &r) { result = r; },
                                               data->settings->serviceCentre()));
            begun = true;
        });
        if (begun)
            waitIdle(20000);
        return result;
    }

    int sentCount() const {
        int sent = 0;
        for (int i = 0; i < data->outboxList->count(); ++i)
            sent += data->outboxList->get(i).status == MessageStatus::Sent ? 1 : 0;
        return sent;
    }

    QString reports() const {
        QStringList lines;
        for (const QByteArray &line : std::as_const(data->phone->reports))
            lines << QString::fromLocal8Bit(line);
        return lines.join(QLatin1Char('\n'));
    }

    int commandCount(const QByteArray &command) const { return sim.commands().count(command); }
    bool sentCommandStartingWith(const QByteArray &start) const {
        const QList<QByteArray> commands = sim.commands();
        return std::any_of(commands.begin(), commands.end(),
                           [&](const QByteArray &c) { return c.startsWith(start); });
    }

    QTemporaryDir dir;
    ModemSim sim;
    bool started = false;
    std::unique_ptr<AppData> data;
    RunSummary summary;
    QList<QByteArray> pins;
    QList<PinRequest> requests;
    QStringList statuses;
    QStringList networks;
    std::function<void(const QString &)> onStatus;
};

ModemSimOptions with(const std::function<void(ModemSimOptions &)> &change) {
    ModemSimOptions options;
    change(options);
    return options;
}

using Rows = QList<QByteArray>;

} // namespace

class TestPhoneChecks : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void runStart_data();
    void runStart();
    void refusedPinIsNeverSentAgain();
    void threeWrongPinsLockTheCard();
    void networkWaitEndsWithAdvice();
    void stopEndsTheNetworkWait();
    void serviceCentreOfTheUserGoesIntoEachMessage();
    void floodOfUnsolicitedLinesLosesNothing();
    void probeRows_data();
    void probeRows();
    void signalDbm_data();
    void signalDbm();
    void cliProbeExitStatus_data();
    void cliProbeExitStatus();
    void cliSendTakesPinAndServiceCentre_data();
    void cliSendTakesPinAndServiceCentre();
};

void TestPhoneChecks::runStart_data() {
    QTest::addColumn<ModemSimOptions>("options");
    QTest::addColumn<Rows>("pins");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QString>("report");
    QTest::addColumn<QByteArray>("command");

    QTest::newRow("ready phone") << ModemSimOptions() << Rows{} << 3 << QString()
                                 << QByteArray("AT+CSCA?");
    QTest::newRow("PIN asked and given") << with([](auto &o) { o.pin = "1234"; }) << Rows{"1234"}
                                         << 3 << QString() << QByteArray("AT+CPIN=\"1234\"");
    QTest::newRow("PIN asked, none given")
        << with([](auto &o) { o.pin = "1234"; }) << Rows{} << 0
        << QStringLiteral("The SIM card needs its PIN (3 tries left): start again")
        << QByteArray("AT+CPINR=\"SIM PIN\"");
    QTest::newRow("PIN that is no PIN is not sent")
        << with([](auto &o) { o.pin = "1234"; }) << Rows{"12a4"} << 0
        << QStringLiteral("A PIN is 4 to 8 digits: start again") << QByteArray("AT+CPIN?");
    QTest::newRow("Huawei PIN tries from its own query") << with([](auto &o) {
        o.pin = "4321";
        o.maker = "huawei";
    }) << Rows{} << 0 << QStringLiteral("needs its PIN (3 tries left)")
                                                         << QByteArray("AT^CPIN?");
    QTest::newRow("no SIM card") << with([](auto &o) { o.noSim = true; }) << Rows{} << 0
                                 << QStringLiteral("There is no SIM card in the phone")
                                 << QByteArray("AT+CPIN?");
    QTest::newRow("registration denied")
        << with([](auto &o) { o.registration = "denied"; }) << Rows{} << 0
        << QStringLiteral("The network refused this SIM card (registration denied)")
        << QByteArray("AT+CREG?");
    QTest::newRow("LTE module registered through CEREG only")
        << with([](auto &o) { o.lteOnly = true; }) << Rows{} << 3 << QString()
        << QByteArray("AT+CEREG?");
    QTest::newRow("no service centre")
        << with([](auto &o) { o.noSmsc = true; }) << Rows{} << 0
        << QStringLiteral("The phone has no service centre number, so it cannot send")
        << QByteArray("AT+CSCA?");
    QTest::newRow("bare prompt") << with([](auto &o) { o.barePrompt = true; }) << Rows{} << 3
                                 << QString() << QByteArray("AT+CMGS=");
    QTest::newRow("bare prompt with line end") << with([](auto &o) {
        o.barePrompt = true;
        o.promptWithLineEnd = true;
    }) << Rows{} << 3 << QString() << QByteArray("AT+CMGS=");
    QTest::newRow("Huawei modem is quietened")
        << with([](auto &o) { o.maker = "huawei"; }) << Rows{} << 3 << QString()
        << QByteArray("AT^CURC=0");
    QTest::newRow("old phone without the queries")
        << with([](auto &o) { o.oldPhone = true; }) << Rows{} << 3 << QString()
        << QByteArray("AT+CEREG?");
    QTest::newRow("network after a while") << with([](auto &o) { o.registerAfterMs = 1200; })
                                           << Rows{} << 3 << QString() << QByteArray("AT+CREG?");
}

void TestPhoneChecks::runStart() {
    QFETCH(ModemSimOptions, options);
    QFETCH(Rows, pins);
    QFETCH(int, sent);
    QFETCH(QString, report);
    QFETCH(QByteArray, command);
    Fixture f(options);
    QVERIFY(f.started);
    f.pins = pins;
    f.addMessages(3);
    QVERIFY(f.run());
    QCOMPARE(f.sentCount(), sent);
    QCOMPARE(f.sim.received().size(), sent);
    if (report.isEmpty())
        QVERIFY2(f.data->phone->reports.isEmpty(), qPrintable(f.reports()));
    else
        QVERIFY2(f.reports().contains(report), qPrintable(f.reports()));
    QVERIFY2(f.sentCommandStartingWith(command), command.constData());
    // The operator is shown once the phone is on the network.
    if (sent > 0 && !options.oldPhone)
        QCOMPARE(f.networks, QStringList{options.lteOnly ? QStringLiteral("Pelorvane Net (LTE)")
                                                         : QStringLiteral("Pelorvane Net (GSM)")});
    // A run that did not start leaves every message pending.
    QCOMPARE(f.summary.started, sent > 0);
    if (options.registerAfterMs > 0)
        QCOMPARE(f.statuses, (QStringList{QStringLiteral("Waiting for the network…"), QString()}));
    else
        QVERIFY(f.statuses.isEmpty());
}

void TestPhoneChecks::refusedPinIsNeverSentAgain() {
    Fixture f(with([](auto &o) { o.pin = "9753"; }));
    QVERIFY(f.started);
    f.addMessages(1);
    f.pins = {"1212"};
    QVERIFY(f.run());
    QVERIFY2(f.reports().contains(QStringLiteral("The SIM card refused the PIN")),
             qPrintable(f.reports()));
    // The second question says why and how many tries are left.
    QCOMPARE(f.requests.size(), 2);
    QCOMPARE(f.requests[0].triesLeft, std::optional<int>(3));
    QCOMPARE(f.requests[1].triesLeft, std::optional<int>(2));
    QCOMPARE(f.requests[1].problem, QStringLiteral("The SIM card refused the PIN."));
    QCOMPARE(f.commandCount("AT+CPIN=\"1212\""), 1);

    // Given again, in a later run of the same program, it does not go to the card.
    f.data->phone->reports.clear();
    f.requests.clear();
    f.pins = {"1212", "9753"};
    QVERIFY(f.run());
    QCOMPARE(f.commandCount("AT+CPIN=\"1212\""), 1);
    QCOMPARE(f.requests.size(), 2);
    QVERIFY(f.requests[1].problem.contains(QStringLiteral("refused this PIN before")));
    QCOMPARE(f.sentCount(), 1);
    QVERIFY2(f.data->phone->reports.isEmpty(), qPrintable(f.reports()));
}

void TestPhoneChecks::threeWrongPinsLockTheCard() {
    Fixture f(with([](auto &o) { o.pin = "8642"; }));
    QVERIFY(f.started);
    f.addMessages(1);
    f.pins = {"1000", "1001", "1002", "8642"};
    QVERIFY(f.run());
    QCOMPARE(f.sentCount(), 0);
    QVERIFY2(f.reports().contains(QStringLiteral("locked and needs its PUK (10 tries left)")),
             qPrintable(f.reports()));
    // The right PIN is not even tried on a locked card.
    QCOMPARE(f.pins, QList<QByteArray>{"8642"});
    QCOMPARE(f.commandCount("AT+CPIN=\"8642\""), 0);

    const std::optional<ProbeThread::Result> probe = f.probe();
    QVERIFY(probe);
    QVERIFY(probe->values[ProbeThread::SimRow].startsWith("PUK needed (10 tries left): "));
    QVERIFY(!probe->canSend);
}

void TestPhoneChecks::networkWaitEndsWithAdvice() {
    Fixture f(with([](auto &o) { o.registration = "searching"; }));
    QVERIFY(f.started);
    f.addMessages(1);
    f.data->settings->setNetworkWaitMs(1000);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(f.run());
    QVERIFY(timer.elapsed() >= 1000);
    QVERIFY(timer.elapsed() < 8000);
    QVERIFY2(
        f.reports().contains(QStringLiteral("The phone found no network in 1 s (still searching)")),
        qPrintable(f.reports()));
    QVERIFY(f.reports().contains(QStringLiteral("\"Network Wait\" setting")));
    QCOMPARE(f.sentCount(), 0);
    QCOMPARE(f.statuses.value(0), QStringLiteral("Waiting for the network…"));
    QCOMPARE(f.statuses.last(), QString());
}

void TestPhoneChecks::stopEndsTheNetworkWait() {
    Fixture f(with([](auto &o) { o.registration = "searching"; }));
    QVERIFY(f.started);
    f.addMessages(2);
    QElapsedTimer stopped;
    f.onStatus = [&](const QString &status) {
        if (!status.isEmpty())
            QTimer::singleShot(100, f.data->phone.get(), [&] {
                stopped.start();
                f.data->phone->stopWorker();
            });
    };
    QVERIFY(f.run(20000));
    QVERIFY(stopped.isValid());
    QVERIFY2(stopped.elapsed() < 1000, qPrintable(QString::number(stopped.elapsed())));
    QVERIFY(f.data->phone->reports.isEmpty());
    QCOMPARE(f.sentCount(), 0);
    QCOMPARE(f.data->outboxList->get(1).status, MessageStatus::Pending);
}

void TestPhoneChecks::serviceCentreOfTheUserGoesIntoEachMessage() {
    Fixture f(with([](auto &o) { o.noSmsc = true; }));
    QVERIFY(f.started);
    f.addMessages(2);
    f.data->settings->setServiceCentre("+49 171 0760000");
    QVERIFY(f.run());
    QVERIFY2(f.data->phone->reports.isEmpty(), qPrintable(f.reports()));
    QCOMPARE(f.sentCount(), 2);
    // Seven octets: the type and 12 digits, swapped in pairs.
    for (const QByteArray &body : f.sim.bodies())
        QVERIFY2(body.startsWith("0791947101670000"), body.constData());
    // The phone's own setting is left alone.
    QCOMPARE(f.commandCount("AT+CSCA?"), 0);
    for (const QByteArray &command : f.sim.commands())
        QVERIFY(!command.startsWith("AT+CSCA="));
}

void TestPhoneChecks::floodOfUnsolicitedLinesLosesNothing() {
    Fixture f(with([](auto &o) { o.urcFloodMs = 5; }));
    QVERIFY(f.started);
    constexpr int Count = 100;
    f.addMessages(Count);
    QVERIFY(f.run(120000));
    QVERIFY2(f.data->phone->reports.isEmpty(), qPrintable(f.reports()));
    QCOMPARE(f.sentCount(), Count);
    const QList<ReceivedSms> received = f.sim.received();
    QCOMPARE(received.size(), Count);
    QSet<QByteArray> numbers;
    for (int i = 0; i < Count; ++i) {
        QCOMPARE(received[i].number, QByteArray::number(5001 + i));
        QCOMPARE(received[i].text, QStringLiteral("message %1").arg(i + 1));
        numbers.insert(received[i].number);
    }
    QCOMPARE(numbers.size(), Count);
    QCOMPARE(f.sim.bodiesSeen(), Count);
}

void TestPhoneChecks::probeRows_data() {
    QTest::addColumn<ModemSimOptions>("options");
    QTest::addColumn<Rows>("rows"); // SIM, Network, Operator, Service centre, Signal, IMEI
    QTest::addColumn<bool>("canSend");

    const QByteArray imei = "356938035643809";
    QTest::newRow("ready phone") << ModemSimOptions()
                                 << Rows{"Ready",         "home (GSM)", "Pelorvane Net",
                                         "+491710760000", "-73 dBm",    imei}
                                 << true;
    QTest::newRow("PIN needed") << with([](auto &o) { o.pin = "1234"; })
                                << Rows{"PIN needed (3 tries left): a sending run asks for it",
                                        "not registered: the SIM card waits for its PIN",
                                        "none: the phone is not on a network",
                                        "not readable until the PIN is given",
                                        "-73 dBm",
                                        imei}
                                << true;
    QTest::newRow("no SIM card")
        << with([](auto &o) { o.noSim = true; })
        << Rows{"missing: switch the phone off and insert a SIM card",
                "not registered: check the SIM card, the antenna and the coverage",
                "none: the phone is not on a network",
                "not reported by the phone",
                "-73 dBm",
                imei}
        << false;
    QTest::newRow("searching, weakest signal")
        << with([](auto &o) {
               o.registration = "searching";
               o.signal = 0;
           })
        << Rows{"Ready",
                "searching: wait a minute, or check the antenna and the coverage",
                "none: the phone is not on a network",
                "+491710760000",
                "-113 dBm or less: too weak; move the phone or its antenna",
                imei}
        << false;
    QTest::newRow("denied") << with([](auto &o) { o.registration = "denied"; })
                            << Rows{"Ready",
                                    "denied: ask the SIM card's provider whether the card is "
                                    "active",
                                    "none: the phone is not on a network",
                                    "+491710760000",
                                    "-73 dBm",
                                    imei}
                            << false;
    QTest::newRow("LTE only, strongest signal") << with([](auto &o) {
        o.lteOnly = true;
        o.signal = 31;
    }) << Rows{"Ready", "home (LTE)", "Pelorvane Net", "+491710760000", "-51 dBm or more", imei}
                                                << true;
    QTest::newRow("no service centre")
        << with([](auto &o) { o.noSmsc = true; })
        << Rows{"Ready",
                "home (GSM)",
                "Pelorvane Net",
                "not set: type your provider's number in the Phone view's \"Service centre\" "
                "field (pelorvane-cli: --smsc NUMBER)",
                "-73 dBm",
                imei}
        << false;
    QTest::newRow("old phone, signal unknown") << with([](auto &o) {
        o.oldPhone = true;
        o.signal = 99;
    })
                                               << Rows{"not reported by the phone",
                                                       "not reported by the phone",
                                                       "none",
                                                       "not reported by the phone",
                                                       "unknown",
                                                       "not reported by the phone"}
                                               << true;
    QTest::newRow("Huawei under a flood") << with([](auto &o) {
        o.maker = "huawei";
        o.urcFloodMs = 2;
    }) << Rows{"Ready", "home (GSM)", "Pelorvane Net", "+491710760000", "-73 dBm", imei}
                                          << true;
}

void TestPhoneChecks::probeRows() {
    QFETCH(ModemSimOptions, options);
    QFETCH(Rows, rows);
    QFETCH(bool, canSend);
    Fixture f(options);
    QVERIFY(f.started);
    const std::optional<ProbeThread::Result> result = f.probe();
    QVERIFY(result);
    QCOMPARE(result->outcome, ProbeThread::Done);
    // The first four as they always were.
    QCOMPARE(result->values[ProbeThread::BatteryRow], QByteArray("85%"));
    QCOMPARE(result->values[ProbeThread::ModelRow], QByteArray("Demo GSM Phone"));
    Rows shown;
    for (int row = ProbeThread::SimRow; row <= ProbeThread::ImeiRow; ++row)
        shown << result->values[row];
    QCOMPARE(shown, rows);
    QCOMPARE(result->canSend, canSend);
}

void TestPhoneChecks::signalDbm_data() {
    QTest::addColumn<int>("rssi");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("0") << 0 << QByteArray("-113 dBm or less");
    QTest::newRow("1") << 1 << QByteArray("-111 dBm");
    QTest::newRow("2") << 2 << QByteArray("-109 dBm");
    QTest::newRow("20") << 20 << QByteArray("-73 dBm");
    QTest::newRow("30") << 30 << QByteArray("-53 dBm");
    QTest::newRow("31") << 31 << QByteArray("-51 dBm or more");
    QTest::newRow("99 unknown") << 99 << QByteArray("unknown");
    QTest::newRow("-1 unknown") << -1 << QByteArray("unknown");
    QTest::newRow("32 unknown") << 32 << QByteArray("unknown");
}

void TestPhoneChecks::signalDbm() {
    QFETCH(int, rssi);
    QFETCH(QByteArray, text);
    QCOMPARE(signalDbmText(rssi), text);
}

void TestPhoneChecks::cliProbeExitStatus_data() {
    QTest::addColumn<ModemSimOptions>("options");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("line");
    QTest::newRow("ready phone") << ModemSimOptions() << QStringList() << 0
                                 << QStringLiteral("Network: home (GSM)\n");
    QTest::newRow("no SIM card stops it")
        << with([](auto &o) { o.noSim = true; }) << QStringList() << 1
        << QStringLiteral("SIM: missing: switch the phone off and insert a SIM card\n");
    QTest::newRow("no service centre, given by --smsc")
        << with([](auto &o) { o.noSmsc = true; })
        << QStringList{QStringLiteral("--smsc"), QStringLiteral("+491710760000")} << 0
        << QStringLiteral("Service centre: not set on the phone; yours is used: +491710760000\n");
    QTest::newRow("bad --smsc is a usage error")
        << ModemSimOptions() << QStringList{QStringLiteral("--smsc"), QStringLiteral("abc")} << 2
        << QString();
}

void TestPhoneChecks::cliProbeExitStatus() {
    QFETCH(ModemSimOptions, options);
    QFETCH(QStringList, extra);
    QFETCH(int, status);
    QFETCH(QString, line);
    ModemSim sim(options);
    QVERIFY(sim.start());
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    const CliRun run = runCliInProcess(
        QStringList{QStringLiteral("probe"), QStringLiteral("--port"), sim.portPath()} + extra);
    QCOMPARE(run.status, status);
    if (status == 2)
        return;
    QVERIFY2(run.out.startsWith(QStringLiteral("Battery Level: 85%\nManufacturer: Pelorvane\n"
                                               "Model: Demo GSM Phone\nSignal Strength: High "
                                               "(20)\nSIM: ")),
             qPrintable(run.out));
    QVERIFY2(run.out.contains(line), qPrintable(run.out));
    QVERIFY(run.out.endsWith(QStringLiteral("IMEI: 356938035643809\n")));
}

void TestPhoneChecks::cliSendTakesPinAndServiceCentre_data() {
    QTest::addColumn<ModemSimOptions>("options");
    QTest::addColumn<QByteArray>("pinFileText"); // empty: no --pin-file
    QTest::addColumn<QByteArray>("pinVariable"); // empty: PELORVANE_PIN unset
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");

    const auto pin = with([](auto &o) { o.pin = "2580"; });
    QTest::newRow("PIN from the file") << pin << QByteArray("2580\n") << QByteArray()
                                       << QStringList() << 0 << QStringLiteral("Sent 1 of 1");
    QTest::newRow("PIN from the environment")
        << pin << QByteArray() << QByteArray("2580") << QStringList() << 0
        << QStringLiteral("Sent 1 of 1");
    QTest::newRow("file before the environment")
        << pin << QByteArray("2580") << QByteArray("1111") << QStringList() << 0
        << QStringLiteral("Sent 1 of 1");
    QTest::newRow("no PIN given") << pin << QByteArray() << QByteArray() << QStringList() << 3
                                  << QStringLiteral("The SIM card needs its PIN (3 tries left): "
                                                    "give it with --pin-file FILE or the "
                                                    "environment variable PELORVANE_PIN.");
    QTest::newRow("wrong PIN is given once")
        << pin << QByteArray("0000") << QByteArray() << QStringList() << 3
        << QStringLiteral("The SIM card refused the PIN: give it with --pin-file");
    QTest::newRow("service centre for the run")
        << with([](auto &o) { o.noSmsc = true; }) << QByteArray() << QByteArray()
        << QStringList{QStringLiteral("--smsc"), QStringLiteral("+491710760000")} << 0
        << QStringLiteral("Sent 1 of 1");
    QTest::newRow("no service centre")
        << with([](auto &o) { o.noSmsc = true; }) << QByteArray() << QByteArray() << QStringList()
        << 3 << QStringLiteral("give your provider's number with --smsc NUMBER");
    QTest::newRow("no network in the wait")
        << with([](auto &o) { o.registration = "searching"; }) << QByteArray() << QByteArray()
        << QStringList{QStringLiteral("--network-wait"), QStringLiteral("0")} << 3
        << QStringLiteral("--network-wait SECONDS gives it longer");
}

void TestPhoneChecks::cliSendTakesPinAndServiceCentre() {
    QFETCH(ModemSimOptions, options);
    QFETCH(QByteArray, pinFileText);
    QFETCH(QByteArray, pinVariable);
    QFETCH(QStringList, extra);
    QFETCH(int, status);
    QFETCH(QString, output);
    ModemSim sim(options);
    QVERIFY(sim.start());
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    if (pinVariable.isEmpty())
        qunsetenv("PELORVANE_PIN");
    else
        qputenv("PELORVANE_PIN", pinVariable);
    const QString project = dir.filePath(QStringLiteral("p.sms"));
    QCOMPARE(runCliInProcess({QStringLiteral("queue"), project, QStringLiteral("--to"),
                              QStringLiteral("+4915112345678"), QStringLiteral("hello")})
                 .status,
             0);
    QStringList args{QStringLiteral("send"), project, QStringLiteral("--port"), sim.portPath()};
    if (!pinFileText.isEmpty()) {
        const QString pinFile = dir.filePath(QStringLiteral("pin"));
        writeAll(pinFile, pinFileText);
        args << QStringLiteral("--pin-file") << pinFile;
    }
    const CliRun run = runCliInProcess(args + extra);
    qunsetenv("PELORVANE_PIN");
    QVERIFY2(run.out.contains(output), qPrintable(run.out + run.err));
    QCOMPARE(run.status, status);
    QCOMPARE(sim.received().size(), status == 0 ? 1 : 0);
    // The PIN is never in the project nor beside it.
    for (const QString &name : QDir(dir.path()).entryList(QDir::Files)) {
        if (name == QLatin1String("pin"))
            continue;
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(!file.readAll().contains("2580"), qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(TestPhoneChecks)
#include "tst_phonechecks.moc"
