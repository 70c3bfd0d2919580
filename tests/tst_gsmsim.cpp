// The AT command channel over a real pty against the simulated phone: echo, device answers,
// message submission with its errors, unsolicited lines, silence, stops and hang-ups.
#include "base/Error.h"
#include "link/GsmSerial.h"
#include "link/SerialPort.h"
#include "modemsim/ModemSim.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <memory>
#include <thread>

using Lines = QList<QByteArray>;

namespace {

// To +4915112345678, GSM 7 bit, "hello": 19 octets.
const QByteArray HelloPdu = "01000D91945111325476F8000005E8329BFD06";
const int HelloOctets = 19;

QString errorOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const Error &e) {
        return e.message();
    }
    return QString();
}

// A started phone and a link opened on it.
struct Bench {
    explicit Bench(const ModemSimOptions &options = {}) : sim(options) {
        QString error;
        started = sim.start(&error);
        if (!started) {
            qWarning("simulated phone: %s", qPrintable(error));
            return;
        }
        port.setPortName(QFile::encodeName(sim.portPath()));
        link.open();
    }
    ModemSim sim;
    SerialPort port;
    GsmSerial link{port};
    bool started = false;
};

} // namespace

class TestGsmSim : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void echoUntilAte0();
    void deviceAnswers_data();
    void deviceAnswers();
    void submitMessage_data();
    void submitMessage();
    void promptWithLineEnd();
    void unsolicitedLinesAreLeftOut();
    void silentPhoneTimesOut();
    void stopDuringSilentWait();
    void hangupMidWait();
};

void TestGsmSim::echoUntilAte0() {
    Bench bench;
    QVERIFY(bench.started);
    GsmSerial &link = bench.link;
    QVERIFY(link.executeCommand("AT"));
    QCOMPARE(link.responses, (Lines{"AT", "OK"}));
    QCOMPARE(link.infoLine(), QByteArray("OK"));
    QVERIFY(link.executeCommand("AT+CSQ"));
    QCOMPARE(link.responses.first(), QByteArray("AT+CSQ"));
    QCOMPARE(link.infoLine(), QByteArray("+CSQ: 20,99"));
    QCOMPARE(link.infoFieldCount(), 2);
    QCOMPARE(link.infoField(1), QByteArray("20"));
    QVERIFY(link.executeCommand("ATE0"));
    QVERIFY(link.executeCommand("AT+CSQ"));
    QCOMPARE(link.responses, (Lines{"+CSQ: 20,99", "OK"}));
    QVERIFY(link.executeCommand("AT+CMGF=?"));
    QCOMPARE(link.responses, (Lines{"+CMGF: (0,1)", "OK"}));
    QCOMPARE(bench.sim.commands(), (Lines{"AT", "AT+CSQ", "ATE0", "AT+CSQ", "AT+CMGF=?"}));
}

void TestGsmSim::deviceAnswers_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("infoLine");
    QTest::addColumn<int>("field");
    QTest::addColumn<QByteArray>("value");

    QTest::newRow("battery") << QByteArray("AT+CBC") << false << true << QByteArray("+CBC: 0,42")
                             << 2 << QByteArray("42");
    QTest::newRow("battery refused")
        << QByteArray("AT+CBC") << true << false << QByteArray("ERROR") << 1 << QByteArray("ERROR");
    QTest::newRow("signal") << QByteArray("AT+CSQ") << false << true << QByteArray("+CSQ: 7,99")
                            << 1 << QByteArray("7");
    QTest::newRow("maker") << QByteArray("AT+GMI") << false << true << QByteArray("Acme") << 1
                           << QByteArray("Acme");
    QTest::newRow("model") << QByteArray("AT+GMM") << false << true << QByteArray("Brick 2") << 1
                           << QByteArray("Brick 2");
    QTest::newRow("model refused")
        << QByteArray("AT+GMM") << true << false << QByteArray("ERROR") << 1 << QByteArray("ERROR");
    QTest::newRow("PDU mode refused") << QByteArray("AT+CMGF=0") << true << false
                                      << QByteArray("ERROR") << 1 << QByteArray("ERROR");
    QTest::newRow("unknown command") << QByteArray("AT+XYZZY") << false << false
                                     << QByteArray("ERROR") << 1 << QByteArray("ERROR");
}

void TestGsmSim::deviceAnswers() {
    QFETCH(QByteArray, command);
    QFETCH(bool, refuse);
    QFETCH(bool, result);
    QFETCH(QByteArray, infoLine);
    QFETCH(int, field);
    QFETCH(QByteArray, value);

    ModemSimOptions options;
    options.battery = 42;
    options.signal = 7;
    options.maker = "Acme";
    options.model = "Brick 2";
    options.refuseCbc = refuse;
    options.refuseGmm = refuse;
    options.refuseCmgf0 = refuse;
    Bench bench(options);
    QVERIFY(bench.started);
    // Echo stays on, as for the device probe.
    QCOMPARE(bench.link.executeCommand(command), result);
    QCOMPARE(bench.link.responses.first(), command);
    QCOMPARE(bench.link.infoLine(), infoLine);
    QCOMPARE(bench.link.infoField(field), value);
}

void TestGsmSim::submitMessage_data() {
    QTest::addColumn<int>("octets");
    QTest::addColumn<int>("failAt");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("infoLine");

    QTest::newRow("accepted") << HelloOctets << 0 << true << QByteArray();
    QTest::newRow("wrong length") << HelloOctets - 1 << 0 << false << QByteArray("+CMS ERROR: 304");
    QTest::newRow("refused by the network")
        << HelloOctets << 1 << false << QByteArray("+CMS ERROR: 500");
}

void TestGsmSim::submitMessage() {
    QFETCH(int, octets);
    QFETCH(int, failAt);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, infoLine);

    ModemSimOptions options;
    options.failAt = failAt;
    Bench bench(options);
    QVERIFY(bench.started);
    GsmSerial &link = bench.link;
    QVERIFY(link.executeCommand("ATE0"));
    QVERIFY(link.executeCommand("AT+CMGF=0"));
    link.resultOk = false;
    QVERIFY(link.sendAndWait("AT+CMGS=" + QByteArray::number(octets), "> ", false));
    QVERIFY(link.resultOk);
    QCOMPARE(link.responses.last(), QByteArray("> "));
    QVERIFY(link.sendAndWait("00" + HelloPdu + "\x1a", QByteArray(), true));
    QCOMPARE(link.resultOk, accepted);
    QCOMPARE(link.lastCommandFailed(), !accepted);
    if (accepted) {
        QVERIFY(link.responses.last().contains("OK"));
        QVERIFY(bench.sim.waitForReceived(1, 2000));
        const ReceivedSms sms = bench.sim.received().value(0);
        QCOMPARE(sms.number, QByteArray("+4915112345678"));
        QCOMPARE(sms.text, QStringLiteral("hello"));
        QCOMPARE(sms.coding, 0);
    } else {
        QCOMPARE(link.responses.last(), infoLine);
        QVERIFY(bench.sim.received().isEmpty());
    }
}

void TestGsmSim::promptWithLineEnd() {
    ModemSimOptions options;
    options.promptWithLineEnd = true;
    Bench bench(options);
    QVERIFY(bench.started);
    QVERIFY(bench.link.executeCommand("ATE0"));
    QVERIFY(bench.link.sendAndWait("AT+CMGS=" + QByteArray::number(HelloOctets), "> ", true));
    QVERIFY(bench.link.resultOk);
    QVERIFY(bench.link.sendAndWait("00" + HelloPdu + "\x1a", QByteArray(), true));
    QVERIFY(bench.link.resultOk);
}

// The phone's own lines go to the observer, never into the answer.
void TestGsmSim::unsolicitedLinesAreLeftOut() {
    ModemSimOptions options;
    options.unsolicited = "RING";
    Bench bench(options);
    QVERIFY(bench.started);
    GsmSerial &link = bench.link;
    Lines passed;
    link.onUnsolicitedLine = [&](GsmLink &, const QByteArray &line) { passed << line; };
    QVERIFY(link.executeCommand("ATE0"));
    QVERIFY(link.executeCommand("AT+CSQ"));
    QCOMPARE(link.responses, (Lines{"+CSQ: 20,99", "OK"}));
    QCOMPARE(link.infoLine(), QByteArray("+CSQ: 20,99"));
    QVERIFY(passed.contains("RING"));
}

void TestGsmSim::silentPhoneTimesOut() {
    ModemSimOptions options;
    options.silentAt = 1;
    Bench bench(options);
    QVERIFY(bench.started);
    GsmSerial &link = bench.link;
    QVERIFY(link.executeCommand("ATE0"));
    QVERIFY(link.sendAndWait("AT+CMGS=" + QByteArray::number(HelloOctets), "> ", false));
    link.readWait = 5;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(errorOf([&] { link.sendAndWait("00" + HelloPdu + "\x1a", QByteArray(), true); }),
             QStringLiteral("Timeout in reading COM port"));
    QVERIFY(timer.elapsed() >= 300);
    QVERIFY(link.connected());
}

void TestGsmSim::stopDuringSilentWait() {
    ModemSimOptions options;
    options.silentAt = 1;
    Bench bench(options);
    QVERIFY(bench.started);
    GsmSerial &link = bench.link;
    QVERIFY(link.executeCommand("ATE0"));
    QVERIFY(link.sendAndWait("AT+CMGS=" + QByteArray::number(HelloOctets), "> ", false));
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        link.aborted = true;
    });
    QElapsedTimer timer;
    timer.start();
    const bool result = link.sendAndWait("00" + HelloPdu + "\x1a", QByteArray(), true);
    stopper.join();
    QVERIFY(!result);
    // Within one read wait of the stop.
    QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    // Open clears the latch and the phone answers again.
    link.open();
    QVERIFY(link.executeCommand("AT"));
}

void TestGsmSim::hangupMidWait() {
    ModemSimOptions options;
    options.hangupAt = 1;
    Bench bench(options);
    QVERIFY(bench.started);
    GsmSerial &link = bench.link;
    QVERIFY(link.executeCommand("ATE0"));
    QVERIFY(link.sendAndWait("AT+CMGS=" + QByteArray::number(HelloOctets), "> ", false));
    QElapsedTimer timer;
    timer.start();
    const QString error =
        errorOf([&] { link.sendAndWait("00" + HelloPdu + "\x1a", QByteArray(), true); });
    // The line goes away during the read wait, or before it when the phone is quicker.
    QVERIFY2(error == QStringLiteral("Error in ReadBuffer") ||
                 error == QStringLiteral("ClearCommError function failed (win error code: 5)"),
             qPrintable(error));
    QVERIFY(timer.elapsed() < 5000);
    link.close();
    QVERIFY(!link.connected());
}

QTEST_GUILESS_MAIN(TestGsmSim)
#include "tst_gsmsim.moc"
