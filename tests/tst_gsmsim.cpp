// The AT command channel over a real pty against the simulated phone: echo, device answers,
// message submission with its errors, unsolicited lines, silence, stops and hang-ups.
#include "app/Errors.h"
#include "link/ComPort.h"
#include "link/GsmSerial.h"
#include "tools/modemsim/ModemSim.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <memory>
#include <thread>

using TLines = QList<QByteArray>;

namespace {

// To +4915112345678, GSM 7 bit, "hello": 19 octets.
const QByteArray HelloPdu = "01000D91945111325476F8000005E8329BFD06";
const int HelloOctets = 19;

QString ErrorOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const EPelorvane &e) {
        return e.Message();
    }
    return QString();
}

// A started phone and a link opened on it.
struct TBench {
    explicit TBench(const TModemSimOptions &options = {}) : Sim(options) {
        QString error;
        Started = Sim.Start(&error);
        if (!Started) {
            qWarning("simulated phone: %s", qPrintable(error));
            return;
        }
        Port.SetPortName(QFile::encodeName(Sim.PortPath()));
        Link.Open();
    }
    TModemSim Sim;
    TComPort Port;
    TGsmSerial Link{Port};
    bool Started = false;
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
    void unsolicitedLinesAreRecorded();
    void silentPhoneTimesOut();
    void stopDuringSilentWait();
    void hangupMidWait();
};

void TestGsmSim::echoUntilAte0() {
    TBench bench;
    QVERIFY(bench.Started);
    TGsmSerial &link = bench.Link;
    QVERIFY(link.ExecuteCommand("AT"));
    QCOMPARE(link.Responses, (TLines{"AT", "OK"}));
    QCOMPARE(link.InfoLine(), QByteArray("OK"));
    QVERIFY(link.ExecuteCommand("AT+CSQ"));
    QCOMPARE(link.Responses.first(), QByteArray("AT+CSQ"));
    QCOMPARE(link.InfoLine(), QByteArray("+CSQ: 20,99"));
    QCOMPARE(link.InfoFieldCount(), 2);
    QCOMPARE(link.InfoField(1), QByteArray("20"));
    QVERIFY(link.ExecuteCommand("ATE0"));
    QVERIFY(link.ExecuteCommand("AT+CSQ"));
    QCOMPARE(link.Responses, (TLines{"+CSQ: 20,99", "OK"}));
    QVERIFY(link.ExecuteCommand("AT+CMGF=?"));
    QCOMPARE(link.Responses, (TLines{"+CMGF: (0,1)", "OK"}));
    QCOMPARE(bench.Sim.Commands(), (TLines{"AT", "AT+CSQ", "ATE0", "AT+CSQ", "AT+CMGF=?"}));
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

    TModemSimOptions options;
    options.Battery = 42;
    options.Signal = 7;
    options.Maker = "Acme";
    options.Model = "Brick 2";
    options.RefuseCbc = refuse;
    options.RefuseGmm = refuse;
    options.RefuseCmgf0 = refuse;
    TBench bench(options);
    QVERIFY(bench.Started);
    // Echo stays on, as for the device probe.
    QCOMPARE(bench.Link.ExecuteCommand(command), result);
    QCOMPARE(bench.Link.Responses.first(), command);
    QCOMPARE(bench.Link.InfoLine(), infoLine);
    QCOMPARE(bench.Link.InfoField(field), value);
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

    TModemSimOptions options;
    options.FailAt = failAt;
    TBench bench(options);
    QVERIFY(bench.Started);
    TGsmSerial &link = bench.Link;
    QVERIFY(link.ExecuteCommand("ATE0"));
    QVERIFY(link.ExecuteCommand("AT+CMGF=0"));
    link.ResultOk = false;
    QVERIFY(link.SendAndWait("AT+CMGS=" + QByteArray::number(octets), "> ", false));
    QVERIFY(link.ResultOk);
    QCOMPARE(link.Responses.last(), QByteArray("> "));
    QVERIFY(link.SendAndWait("00" + HelloPdu + "\x1a", QByteArray(), true));
    QCOMPARE(link.ResultOk, accepted);
    QCOMPARE(link.LastCommandFailed(), !accepted);
    if (accepted) {
        QVERIFY(link.Responses.last().contains("OK"));
        QVERIFY(bench.Sim.WaitForReceived(1, 2000));
        const TReceivedSms sms = bench.Sim.Received().value(0);
        QCOMPARE(sms.Number, QByteArray("+4915112345678"));
        QCOMPARE(sms.Text, QStringLiteral("hello"));
        QCOMPARE(sms.Coding, 0);
    } else {
        QCOMPARE(link.Responses.last(), infoLine);
        QVERIFY(bench.Sim.Received().isEmpty());
    }
}

void TestGsmSim::promptWithLineEnd() {
    TModemSimOptions options;
    options.PromptWithLineEnd = true;
    TBench bench(options);
    QVERIFY(bench.Started);
    QVERIFY(bench.Link.ExecuteCommand("ATE0"));
    QVERIFY(bench.Link.SendAndWait("AT+CMGS=" + QByteArray::number(HelloOctets), "> ", true));
    QVERIFY(bench.Link.ResultOk);
    QVERIFY(bench.Link.SendAndWait("00" + HelloPdu + "\x1a", QByteArray(), true));
    QVERIFY(bench.Link.ResultOk);
}

void TestGsmSim::unsolicitedLinesAreRecorded() {
    TModemSimOptions options;
    options.Unsolicited = "RING";
    TBench bench(options);
    QVERIFY(bench.Started);
    TGsmSerial &link = bench.Link;
    QVERIFY(link.ExecuteCommand("ATE0"));
    QVERIFY(link.ExecuteCommand("AT+CSQ"));
    QVERIFY(link.Responses.contains("RING"));
    QVERIFY(link.Responses.contains("+CSQ: 20,99"));
    QCOMPARE(link.Responses.last(), QByteArray("OK"));
}

void TestGsmSim::silentPhoneTimesOut() {
    TModemSimOptions options;
    options.SilentAt = 1;
    TBench bench(options);
    QVERIFY(bench.Started);
    TGsmSerial &link = bench.Link;
    QVERIFY(link.ExecuteCommand("ATE0"));
    QVERIFY(link.SendAndWait("AT+CMGS=" + QByteArray::number(HelloOctets), "> ", false));
    link.ReadWait = 5;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(ErrorOf([&] { link.SendAndWait("00" + HelloPdu + "\x1a", QByteArray(), true); }),
             QStringLiteral("Timeout in reading COM port"));
    QVERIFY(timer.elapsed() >= 300);
    QVERIFY(link.Connected());
}

void TestGsmSim::stopDuringSilentWait() {
    TModemSimOptions options;
    options.SilentAt = 1;
    TBench bench(options);
    QVERIFY(bench.Started);
    TGsmSerial &link = bench.Link;
    QVERIFY(link.ExecuteCommand("ATE0"));
    QVERIFY(link.SendAndWait("AT+CMGS=" + QByteArray::number(HelloOctets), "> ", false));
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        link.Aborted = true;
    });
    QElapsedTimer timer;
    timer.start();
    const bool result = link.SendAndWait("00" + HelloPdu + "\x1a", QByteArray(), true);
    stopper.join();
    QVERIFY(!result);
    // Within one read wait of the stop.
    QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    // Open clears the latch and the phone answers again.
    link.Open();
    QVERIFY(link.ExecuteCommand("AT"));
}

void TestGsmSim::hangupMidWait() {
    TModemSimOptions options;
    options.HangupAt = 1;
    TBench bench(options);
    QVERIFY(bench.Started);
    TGsmSerial &link = bench.Link;
    QVERIFY(link.ExecuteCommand("ATE0"));
    QVERIFY(link.SendAndWait("AT+CMGS=" + QByteArray::number(HelloOctets), "> ", false));
    QElapsedTimer timer;
    timer.start();
    const QString error =
        ErrorOf([&] { link.SendAndWait("00" + HelloPdu + "\x1a", QByteArray(), true); });
    // The line goes away during the read wait, or before it when the phone is quicker.
    QVERIFY2(error == QStringLiteral("Error in ReadBuffer") ||
                 error == QStringLiteral("ClearCommError function failed (win error code: 5)"),
             qPrintable(error));
    QVERIFY(timer.elapsed() < 5000);
    link.Close();
    QVERIFY(!link.Connected());
}

QTEST_GUILESS_MAIN(TestGsmSim)
#include "tst_gsmsim.moc"
