// The simulated phone, driven through its real pseudo-terminal with plain POSIX I/O.

#include "tools/modemsim/ModemSim.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

Q_DECLARE_METATYPE(TModemSimOptions)

namespace {

constexpr int Patience = 5000; // ms; only reached when something is broken
// Between one program closing the port and the next opening it. The phone learns of a
// close asynchronously, as a real device learns of a dropped line.
constexpr int GapBetweenPrograms = 100;

// The program's end of the line, reduced to open/read/write.
class TPort {
public:
    explicit TPort(const QString &path) {
        FFd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~TPort() { Close(); }
    TPort(const TPort &) = delete;
    TPort &operator=(const TPort &) = delete;

    bool IsOpen() const { return FFd >= 0; }
    int Fd() const { return FFd; }
    void Close() {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }

    bool Write(const QByteArray &data) {
        qsizetype done = 0;
        QElapsedTimer timer;
        timer.start();
        while (done < data.size() && timer.elapsed() < Patience) {
            const ssize_t n = ::write(FFd, data.constData() + done, data.size() - done);
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{FFd, POLLOUT, 0};
                ::poll(&p, 1, 50);
            } else {
                return false;
            }
        }
        return done == data.size();
    }

    // Reads until what was received satisfies done, or the time is up; gives everything read.
    template <typename TDone>
    QByteArray ReadWhile(TDone done, int timeoutMs) {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            if (done(FBuffer))
                return Take();
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0 || !ReadSome(static_cast<int>(left)))
                return Take();
        }
    }
    QByteArray ReadUntil(const QList<QByteArray> &endings, int timeoutMs = Patience) {
        return ReadWhile(
            [&](const QByteArray &b) {
                return std::any_of(endings.begin(), endings.end(),
                                   [&](const QByteArray &e) { return b.endsWith(e); });
            },
            timeoutMs);
    }
    QByteArray ReadUntil(const QByteArray &ending) { return ReadUntil(QList{ending}); }

    // Up to a final result line (one containing OK or ERROR) or the "> " prompt.
    QByteArray ReadAnswer(int timeoutMs = Patience) {
        return ReadWhile(
            [](const QByteArray &b) {
                if (b.endsWith("> ") || b.endsWith("> \r\n"))
                    return true;
                if (!b.endsWith("\r\n"))
                    return false;
                const QByteArray last = b.chopped(2).mid(b.chopped(2).lastIndexOf('\n') + 1);
                return last.contains("OK") || last.contains("ERROR");
            },
            timeoutMs);
    }

    // Everything that arrives within the time.
    QByteArray ReadFor(int ms) { return ReadUntil(QList<QByteArray>{}, ms); }

    QByteArray Exchange(const QByteArray &command) {
        Write(command + "\r\n");
        return ReadAnswer();
    }

    // Waits for the line to show a hang-up: POLLHUP, then a read that gives EIO or end of file.
    bool SeesHangup(int timeoutMs) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            pollfd p{FFd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && (p.revents & POLLHUP)) {
                char c;
                const ssize_t n = ::read(FFd, &c, 1);
                return n == 0 || (n < 0 && errno == EIO);
            }
            if (p.revents & POLLIN) {
                char buffer[256];
                (void)::read(FFd, buffer, sizeof buffer);
            }
        }
        return false;
    }

private:
    bool ReadSome(int timeoutMs) {
        pollfd p{FFd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
            return false;
        char buffer[4096];
        const ssize_t n = ::read(FFd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        FBuffer.append(buffer, n);
        return true;
    }
    QByteArray Take() {
        QByteArray taken = FBuffer;
        FBuffer.clear();
        return taken;
    }

    int FFd = -1;
    QByteArray FBuffer;
};

// The example message of the program's encoder: 0123456789, GSM 7 bit, "hello".
const QByteArray HelloPdu = "01000A811032547698000005E8329BFD06";

QByteArray Answer(std::initializer_list<QByteArray> lines) {
    QByteArray bytes;
    for (const QByteArray &line : lines)
        bytes += "\r\n" + line + "\r\n";
    return bytes;
}

QByteArray Accepted(int reference) {
    return Answer({"+CMGS: " + QByteArray::number(reference), "OK"});
}

// Submits one body as the program does: AT+CMGS=<n>, prompt, "00", PDU, Ctrl-Z, CR LF.
QByteArray Submit(TPort &port, const QByteArray &pdu, int octets = -1) {
    if (octets < 0)
        octets = static_cast<int>(pdu.size() / 2);
    const QByteArray prompt = port.Exchange("AT+CMGS=" + QByteArray::number(octets));
    if (!prompt.endsWith("> "))
        return "no prompt: " + prompt;
    port.Write("00" + pdu + "\x1A\r\n");
    return port.ReadAnswer();
}

QString ToolPath() {
    return qEnvironmentVariable("PELORVANE_BINARY_DIR") +
           QStringLiteral("/tools/modemsim/pelorvane-modemsim");
}

} // namespace

class TestModemSim : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void echoesUntilAte0();
    void answers_data();
    void answers();
    void promptHasNoLineEnd();
    void acceptsAndRecordsBody_data();
    void acceptsAndRecordsBody();
    void refusesBadBody_data();
    void refusesBadBody();
    void referencesCount();
    void escapeCancelsBody();
    void textModeRefusesCmgs();
    void failAt();
    void silentAt();
    void hangupAt();
    void delayBeforeEachAnswer();
    void unsolicitedBeforeEachAnswer();
    void garbageAndNulBytes();
    void overlongCommandLine();
    void recordsCommandsInOrder();
    void recordsAreReadableWhileServing();
    void survivesPortReopen();
    void reopenDropsWhatNobodyRead();
    void reopenDropsDelayedAnswer();
    void reopenLeavesPrompt();
    void closeClearsExclusiveUse();
    void otherOpenerLeavesHolderAlone();
    void startStopLifecycle();
    void logsAcceptedMessagesAsJson();

    void toolPrintsPathAndServes();
    void toolOptions_data();
    void toolOptions();
    void toolHangupEndsProcess();
    void toolRejectsBadArguments_data();
    void toolRejectsBadArguments();
    void toolHelp();
};

void TestModemSim::echoesUntilAte0() {
    TModemSim sim;
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    QVERIFY(port.IsOpen());

    QCOMPARE(port.Exchange("AT"), QByteArray("AT\r") + Answer({"OK"}));
    QCOMPARE(port.Exchange("at+csq"), QByteArray("at+csq\r") + Answer({"+CSQ: 20,99", "OK"}));
    QCOMPARE(port.Exchange("ATE0"), QByteArray("ATE0\r") + Answer({"OK"}));
    QCOMPARE(port.Exchange("AT"), Answer({"OK"}));
    QCOMPARE(port.Exchange("ATE1"), Answer({"OK"}));
    QCOMPARE(port.Exchange("AT"), QByteArray("AT\r") + Answer({"OK"}));
    // With echo on, the body is echoed too, but not the CR LF after Ctrl-Z.
    QCOMPARE(port.Exchange("AT+CMGS=17"), QByteArray("AT+CMGS=17\r\r\n> "));
    port.Write("00" + HelloPdu + "\x1A\r\n");
    QCOMPARE(port.ReadAnswer(), "00" + HelloPdu + "\x1A" + Accepted(1));
    QCOMPARE(port.ReadFor(100), QByteArray());
}

void TestModemSim::answers_data() {
    QTest::addColumn<TModemSimOptions>("options");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");

    const TModemSimOptions plain;
    auto with = [](auto change) {
        TModemSimOptions o;
        change(o);
        return o;
    };
    QTest::newRow("AT") << plain << QByteArray("AT") << Answer({"OK"});
    QTest::newRow("lower case at") << plain << QByteArray("at") << Answer({"OK"});
    QTest::newRow("CMGF query") << plain << QByteArray("AT+CMGF=?")
                                << Answer({"+CMGF: (0,1)", "OK"});
    QTest::newRow("CMGF=0") << plain << QByteArray("AT+CMGF=0") << Answer({"OK"});
    QTest::newRow("CMGF read") << plain << QByteArray("AT+CMGF?") << Answer({"+CMGF: 0", "OK"});
    QTest::newRow("CMGF=2 unknown") << plain << QByteArray("AT+CMGF=2") << Answer({"ERROR"});
    QTest::newRow("CBC") << plain << QByteArray("AT+CBC") << Answer({"+CBC: 0,85", "OK"});
    QTest::newRow("GMI") << plain << QByteArray("AT+GMI") << Answer({"Pelorvane", "OK"});
    QTest::newRow("CGMI") << plain << QByteArray("AT+CGMI") << Answer({"Pelorvane", "OK"});
    QTest::newRow("GMM") << plain << QByteArray("AT+GMM") << Answer({"Demo GSM Phone", "OK"});
    QTest::newRow("CSQ") << plain << QByteArray("AT+CSQ") << Answer({"+CSQ: 20,99", "OK"});
    QTest::newRow("spaces and mixed case")
        << plain << QByteArray("a T + c S q") << Answer({"+CSQ: 20,99", "OK"});
    QTest::newRow("backspace edits the line")
        << plain << QByteArray("AT+CSX\bQ") << Answer({"+CSQ: 20,99", "OK"});
    QTest::newRow("CMGS test") << plain << QByteArray("AT+CMGS=?") << Answer({"OK"});
    QTest::newRow("CMGS without length") << plain << QByteArray("AT+CMGS=") << Answer({"ERROR"});
    QTest::newRow("CMGS non-numeric") << plain << QByteArray("AT+CMGS=1x") << Answer({"ERROR"});
    QTest::newRow("CMGS zero") << plain << QByteArray("AT+CMGS=0") << Answer({"+CMS ERROR: 304"});
    QTest::newRow("CMGS above any TPDU")
        << plain << QByteArray("AT+CMGS=165") << Answer({"+CMS ERROR: 304"});
    QTest::newRow("unknown command") << plain << QByteArray("AT+FOO") << Answer({"ERROR"});
    QTest::newRow("dial is unknown") << plain << QByteArray("ATD123;") << Answer({"ERROR"});
    QTest::newRow("no AT prefix") << plain << QByteArray("hello") << Answer({"ERROR"});
    QTest::newRow("ATI") << plain << QByteArray("ATI")
                         << Answer({"Pelorvane", "Demo GSM Phone", "OK"});

    QTest::newRow("battery 42") << with([](auto &o) { o.Battery = 42; }) << QByteArray("AT+CBC")
                                << Answer({"+CBC: 0,42", "OK"});
    QTest::newRow("signal unknown") << with([](auto &o) { o.Signal = 99; }) << QByteArray("AT+CSQ")
                                    << Answer({"+CSQ: 99,99", "OK"});
    QTest::newRow("maker") << with([](auto &o) { o.Maker = "Acme"; }) << QByteArray("AT+GMI")
                           << Answer({"Acme", "OK"});
    QTest::newRow("model") << with([](auto &o) { o.Model = "X 1"; }) << QByteArray("AT+GMM")
                           << Answer({"X 1", "OK"});
    QTest::newRow("refuse CMGF query") << with([](auto &o) { o.RefuseCmgfQuery = true; })
                                       << QByteArray("AT+CMGF=?") << Answer({"ERROR"});
    QTest::newRow("refuse CMGF=0") << with([](auto &o) { o.RefuseCmgf0 = true; })
                                   << QByteArray("AT+CMGF=0") << Answer({"ERROR"});
    QTest::newRow("refuse CBC") << with([](auto &o) { o.RefuseCbc = true; }) << QByteArray("AT+CBC")
                                << Answer({"ERROR"});
    QTest::newRow("refuse GMM") << with([](auto &o) { o.RefuseGmm = true; }) << QByteArray("AT+GMM")
                                << Answer({"ERROR"});
    QTest::newRow("refusals leave other commands") << with([](auto &o) {
        o.RefuseCmgfQuery = o.RefuseCmgf0 = o.RefuseCbc = o.RefuseGmm = true;
    }) << QByteArray("AT+CSQ") << Answer({"+CSQ: 20,99", "OK"});
}

void TestModemSim::answers() {
    QFETCH(TModemSimOptions, options);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);

    TModemSim sim(options);
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    QCOMPARE(port.Exchange("ATE0"), QByteArray("ATE0\r") + Answer({"OK"}));
    QCOMPARE(port.Exchange(command), answer);
    QCOMPARE(port.ReadFor(50), QByteArray());
}

void TestModemSim::promptHasNoLineEnd() {
    for (const bool lineEnd : {false, true}) {
        TModemSimOptions options;
        options.PromptWithLineEnd = lineEnd;
        TModemSim sim(options);
        QVERIFY(sim.Start());
        TPort port(sim.PortPath());
        port.Exchange("ATE0");
        port.Write("AT+CMGS=17\r\n");
        const QByteArray prompt = port.ReadUntil(lineEnd ? "> \r\n" : "> ");
        QCOMPARE(prompt + port.ReadFor(150), lineEnd ? QByteArray("\r\n> \r\n") : "\r\n> ");
    }
}

void TestModemSim::acceptsAndRecordsBody_data() {
    QTest::addColumn<QByteArray>("smsc");
    QTest::addColumn<QByteArray>("pdu");
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<int>("coding");
    QTest::addColumn<bool>("flash");
    QTest::addColumn<QString>("text");

    QTest::newRow("GSM hello") << QByteArray("00") << HelloPdu << QByteArray("0123456789") << 0
                               << false << "hello";
    QTest::newRow("flash GSM") << QByteArray("00")
                               << QByteArray("01000A811032547698001005E8329BFD06")
                               << QByteArray("0123456789") << 0 << true << "hello";
    QTest::newRow("international 8-bit")
        << QByteArray("00") << QByteArray("01000691214365000403E1FF41") << QByteArray("+123456")
        << 1 << false << QString::fromUtf8("áÿA");
    QTest::newRow("flash UCS-2") << QByteArray("00") << QByteArray("010005812143F50018044F60597D")
                                 << QByteArray("12345") << 2 << true << QString::fromUtf8("你好");
    QTest::newRow("explicit service centre") << QByteArray("07911326040000F0") << HelloPdu
                                             << QByteArray("0123456789") << 0 << false << "hello";
}

void TestModemSim::acceptsAndRecordsBody() {
    QFETCH(QByteArray, smsc);
    QFETCH(QByteArray, pdu);
    QFETCH(QByteArray, number);
    QFETCH(int, coding);
    QFETCH(bool, flash);
    QFETCH(QString, text);

    TModemSim sim;
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    QCOMPARE(port.Exchange("AT+CMGS=" + QByteArray::number(pdu.size() / 2)), "\r\n> ");
    port.Write(smsc + pdu + "\x1A\r\n");
    QCOMPARE(port.ReadAnswer(), Accepted(1));

    QVERIFY(sim.WaitForReceived(1, Patience));
    const QList<TReceivedSms> received = sim.Received();
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0].Number, number);
    QCOMPARE(received[0].Coding, coding);
    QCOMPARE(received[0].Flash, flash);
    QCOMPARE(received[0].Text, text);
    QCOMPARE(received[0].Pdu, pdu);
    QCOMPARE(received[0].Reference, 1);
    QCOMPARE(sim.Bodies(), QList<QByteArray>{smsc + pdu});
    QCOMPARE(sim.BodiesSeen(), 1);
    // The CR LF after Ctrl-Z is no command: nothing more arrives, the phone takes commands.
    QCOMPARE(port.ReadFor(50), QByteArray());
    QCOMPARE(port.Exchange("AT"), Answer({"OK"}));
}

void TestModemSim::refusesBadBody_data() {
    QTest::addColumn<int>("octets");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("length one short") << 16 << "00" + HelloPdu;
    QTest::newRow("length counts the SMSC field") << 18 << "00" + HelloPdu;
    QTest::newRow("no SMSC field") << 17 << HelloPdu;
    QTest::newRow("SMSC field longer than body") << 1 << QByteArray("0791");
    QTest::newRow("empty body") << 17 << QByteArray();
    QTest::newRow("truncated user data") << 15 << "00" + HelloPdu.chopped(4);
    QTest::newRow("odd hex digit count") << 17 << "00" + HelloPdu + "0";
    QTest::newRow("non-hex digit") << 17 << "00" + HelloPdu.chopped(1) + "G";
    QTest::newRow("line end before Ctrl-Z") << 17 << "00" + HelloPdu + "\r\n";
    QTest::newRow("NUL inside") << 17
                                << "00" + HelloPdu.left(10) + QByteArray(1, '\0') +
                                       HelloPdu.mid(11);
    QTest::newRow("SMS-DELIVER") << 17 << "0000" + HelloPdu.mid(2);
    QTest::newRow("body beyond any buffer") << 17 << QByteArray(3000, 'A');
}

void TestModemSim::refusesBadBody() {
    QFETCH(int, octets);
    QFETCH(QByteArray, body);

    TModemSim sim;
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    QCOMPARE(port.Exchange("AT+CMGS=" + QByteArray::number(octets)), "\r\n> ");
    port.Write(body + "\x1A\r\n");
    QCOMPARE(port.ReadAnswer(), Answer({"+CMS ERROR: 304"}));
    QCOMPARE(sim.BodiesSeen(), 1);
    QVERIFY(sim.Received().isEmpty());
    QCOMPARE(port.Exchange("AT"), Answer({"OK"}));
}

void TestModemSim::referencesCount() {
    TModemSim sim;
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    for (int i = 1; i <= 3; ++i)
        QCOMPARE(Submit(port, HelloPdu), Accepted(i));
    QVERIFY(sim.WaitForReceived(3, Patience));
    QCOMPARE(sim.Received()[2].Reference, 3);
    QVERIFY(!sim.WaitForReceived(4, 50));
}

void TestModemSim::escapeCancelsBody() {
    TModemSim sim;
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    QCOMPARE(port.Exchange("AT+CMGS=17"), "\r\n> ");
    port.Write("0001000A81\x1B");
    QCOMPARE(port.ReadAnswer(), Answer({"OK"}));
    QCOMPARE(sim.BodiesSeen(), 0);
    QCOMPARE(port.Exchange("AT"), Answer({"OK"}));
    QCOMPARE(Submit(port, HelloPdu), Accepted(1));
}

void TestModemSim::textModeRefusesCmgs() {
    TModemSim sim;
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    QCOMPARE(port.Exchange("AT+CMGF=1"), Answer({"OK"}));
    QCOMPARE(port.Exchange("AT+CMGF?"), Answer({"+CMGF: 1", "OK"}));
    QCOMPARE(port.Exchange("AT+CMGS=17"), Answer({"+CMS ERROR: 302"}));
    QCOMPARE(port.Exchange("AT+CMGF=0"), Answer({"OK"}));
    QCOMPARE(Submit(port, HelloPdu), Accepted(1));
}

void TestModemSim::failAt() {
    TModemSimOptions options;
    options.FailAt = 2;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    QCOMPARE(Submit(port, HelloPdu), Accepted(1));
    QCOMPARE(Submit(port, HelloPdu), Answer({"+CMS ERROR: 500"}));
    QCOMPARE(Submit(port, HelloPdu), Accepted(2));
    QCOMPARE(sim.BodiesSeen(), 3);
    QCOMPARE(sim.Received().size(), 2);
}

void TestModemSim::silentAt() {
    TModemSimOptions options;
    options.SilentAt = 1;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    QCOMPARE(port.Exchange("AT+CMGS=17"), "\r\n> ");
    port.Write("00" + HelloPdu + "\x1A\r\n");
    QCOMPARE(port.ReadFor(300), QByteArray());
    QCOMPARE(sim.BodiesSeen(), 1);
    QVERIFY(sim.Received().isEmpty());
    // Only that body goes unanswered.
    QCOMPARE(port.Exchange("AT"), Answer({"OK"}));
    QCOMPARE(Submit(port, HelloPdu), Accepted(1));
}

void TestModemSim::hangupAt() {
    TModemSimOptions options;
    options.HangupAt = 2;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    QCOMPARE(Submit(port, HelloPdu), Accepted(1));
    QCOMPARE(port.Exchange("AT+CMGS=17"), "\r\n> ");
    QVERIFY(sim.IsServing());
    port.Write("00" + HelloPdu + "\x1A\r\n");
    QVERIFY(port.SeesHangup(Patience));
    QTRY_VERIFY_WITH_TIMEOUT(!sim.IsServing(), Patience);
    QCOMPARE(sim.BodiesSeen(), 2);
    QCOMPARE(sim.Received().size(), 1);
    // A waiter learns at once that no more messages will come.
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!sim.WaitForReceived(2, Patience));
    QVERIFY(timer.elapsed() < Patience / 2);
    sim.Stop();
}

void TestModemSim::delayBeforeEachAnswer() {
    TModemSimOptions options;
    options.DelayMs = 400;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());

    QElapsedTimer timer;
    timer.start();
    port.Write("AT\r\n");
    // The echo is immediate; only the answer waits.
    QCOMPARE(port.ReadUntil("AT\r"), QByteArray("AT\r"));
    QVERIFY2(timer.elapsed() < 300, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(port.ReadAnswer(), Answer({"OK"}));
    QVERIFY(timer.elapsed() >= 390);

    port.Exchange("ATE0");
    timer.restart();
    QCOMPARE(port.Exchange("AT+CMGS=17"), "\r\n> ");
    QVERIFY(timer.elapsed() >= 390);
    timer.restart();
    port.Write("00" + HelloPdu + "\x1A\r\n");
    QCOMPARE(port.ReadAnswer(), Accepted(1));
    QVERIFY(timer.elapsed() >= 390);
}

void TestModemSim::unsolicitedBeforeEachAnswer() {
    TModemSimOptions options;
    options.Unsolicited = "RING";
    TModemSim sim(options);
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    QCOMPARE(port.Exchange("ATE0"), "ATE0\r" + Answer({"RING", "OK"}));
    QCOMPARE(port.Exchange("AT+CSQ"), Answer({"RING", "+CSQ: 20,99", "OK"}));
    QCOMPARE(port.Exchange("AT+CMGS=17"), Answer({"RING"}) + "\r\n> ");
    port.Write("00" + HelloPdu + "\x1A\r\n");
    QCOMPARE(port.ReadAnswer(), Answer({"RING"}) + Accepted(1));
}

void TestModemSim::garbageAndNulBytes() {
    TModemSim sim;
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    // NUL and other control bytes inside a command line are ignored.
    QCOMPARE(port.Exchange(QByteArray("AT\0+C\x01S\x7FQ", 9)), Answer({"+CSQ: 20,99", "OK"}));

    QRandomGenerator random(3);
    QByteArray garbage(256 * 1024, '\0');
    for (char &c : garbage)
        c = static_cast<char>(random.bounded(256));
    // Keep reading while writing, as a program would, so neither side blocks.
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        TPort same(sim.PortPath());
        same.Write(garbage);
        writing = false;
    });
    while (writing)
        port.ReadFor(20);
    writer.join();
    // Whatever state the garbage left (a body, a line), ESC and CR end it.
    port.Write("\x1B\r");
    port.ReadFor(200);
    QVERIFY(sim.IsServing());
    QCOMPARE(port.Exchange("ATE0"), Answer({"OK"}));
    QCOMPARE(Submit(port, HelloPdu), Accepted(sim.Received().size() + 1));
}

void TestModemSim::overlongCommandLine() {
    TModemSim sim;
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    QCOMPARE(port.Exchange("AT" + QByteArray(5000, 'X')), Answer({"ERROR"}));
    QCOMPARE(sim.Commands().last(), "AT" + QByteArray(1022, 'X'));
    QCOMPARE(port.Exchange("AT"), Answer({"OK"}));
}

void TestModemSim::recordsCommandsInOrder() {
    TModemSim sim;
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("AT+CMGF=?");
    port.Exchange("ATE0");
    port.Write("\r\n \r\n");
    port.Exchange("AT+CMGF=0");
    Submit(port, HelloPdu);
    port.Exchange("at+foo");
    const QList<QByteArray> expected{"AT+CMGF=?", "ATE0", "AT+CMGF=0", "AT+CMGS=17", "at+foo"};
    QCOMPARE(sim.Commands(), expected);
    QCOMPARE(sim.Bodies(), QList<QByteArray>{"00" + HelloPdu});
}

// Readers on other threads while the phone serves (the thread-sanitizer build checks this).
void TestModemSim::recordsAreReadableWhileServing() {
    TModemSim sim;
    QVERIFY(sim.Start());
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!done) {
            const qsizetype seen = sim.Commands().size() + sim.Received().size() +
                                   sim.Bodies().size() + sim.BodiesSeen() + sim.IsServing() +
                                   sim.PortPath().size();
            (void)seen;
            ++reads;
        }
    });
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    for (int i = 1; i <= 20; ++i)
        QCOMPARE(Submit(port, HelloPdu), Accepted(i));
    QVERIFY(sim.WaitForReceived(20, Patience));
    done = true;
    reader.join();
    QVERIFY(reads > 0);
    QCOMPARE(sim.Received().size(), 20);
}

void TestModemSim::survivesPortReopen() {
    TModemSim sim;
    QVERIFY(sim.Start());
    for (int round = 0; round < 3; ++round) {
        TPort port(sim.PortPath());
        QVERIFY(port.IsOpen());
        QCOMPARE(port.Exchange("AT+CSQ").right(6), QByteArray("\r\nOK\r\n"));
    }
    QVERIFY(sim.IsServing());
}

// A real line loses what the phone sends while the port is closed; the next program
// must not read answers meant for the one before.
void TestModemSim::reopenDropsWhatNobodyRead() {
    TModemSim sim;
    QVERIFY(sim.Start());
    {
        TPort port(sim.PortPath());
        port.Write("AT+CSQ\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(sim.Commands().size(), 1, Patience);
        QTest::qWait(100);
    }
    QTest::qWait(GapBetweenPrograms);
    TPort port(sim.PortPath());
    QCOMPARE(port.ReadFor(100), QByteArray());
    QCOMPARE(port.Exchange("AT"), QByteArray("AT\r") + Answer({"OK"}));
}

void TestModemSim::reopenDropsDelayedAnswer() {
    TModemSimOptions options;
    options.DelayMs = 300;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    {
        TPort port(sim.PortPath());
        port.Write("AT+CSQ\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(sim.Commands().size(), 1, Patience);
    }
    QTest::qWait(GapBetweenPrograms);
    TPort port(sim.PortPath());
    QCOMPARE(port.ReadFor(400), QByteArray());
    QCOMPARE(port.Exchange("AT"), QByteArray("AT\r") + Answer({"OK"}));
}

void TestModemSim::reopenLeavesPrompt() {
    TModemSim sim;
    QVERIFY(sim.Start());
    {
        TPort port(sim.PortPath());
        port.Exchange("ATE0");
        QCOMPARE(port.Exchange("AT+CMGS=17"), "\r\n> ");
        port.Write("0001000A81");
    }
    QTest::qWait(GapBetweenPrograms);
    TPort port(sim.PortPath());
    QCOMPARE(port.Exchange("AT"), Answer({"OK"}));
    QCOMPARE(sim.BodiesSeen(), 0);
    QCOMPARE(Submit(port, HelloPdu), Accepted(1));
}

// The sim holds the device open, so an exclusive-use flag set by a program would outlive
// its close and lock out every later non-root opener.
void TestModemSim::closeClearsExclusiveUse() {
    TModemSim sim;
    QVERIFY(sim.Start());
    {
        TPort port(sim.PortPath());
        QCOMPARE(::ioctl(port.Fd(), TIOCEXCL), 0);
        int exclusive = 0;
        QCOMPARE(::ioctl(port.Fd(), TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive, 1);
    }
    TPort port(sim.PortPath());
    QVERIFY(port.IsOpen()); // as root the flag does not stop this open; the test reads it
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            int exclusive = 1;
            return ::ioctl(port.Fd(), TIOCGEXCL, &exclusive) == 0 && exclusive == 0;
        }(),
        Patience);
    QCOMPARE(port.Exchange("AT"), QByteArray("AT\r") + Answer({"OK"}));
}

// Like a second program whose open fails on the lock: it opens and closes the device
// while the first one is mid-message. The first program's exchange goes on unharmed.
void TestModemSim::otherOpenerLeavesHolderAlone() {
    TModemSim sim;
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    QCOMPARE(port.Exchange("AT+CMGS=17"), "\r\n> ");
    port.Write("00" + HelloPdu.left(10));
    QTRY_VERIFY_WITH_TIMEOUT(TPort(sim.PortPath()).IsOpen(), Patience);
    QTest::qWait(GapBetweenPrograms);
    port.Write(HelloPdu.mid(10) + "\x1A\r\n");
    QCOMPARE(port.ReadAnswer(), Accepted(1));
    port.Write("AT\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(sim.Commands().size(), 3, Patience);
    TPort(sim.PortPath()).Close();
    QTest::qWait(GapBetweenPrograms);
    QCOMPARE(port.ReadAnswer(), Answer({"OK"}));
}

void TestModemSim::startStopLifecycle() {
    TModemSim sim;
    QVERIFY(!sim.IsServing());
    QString error;
    QVERIFY(sim.Start(&error));
    QVERIFY(sim.IsServing());
    QVERIFY(!sim.Start(&error));
    QVERIFY(!error.isEmpty());
    const QString path = sim.PortPath();
    TPort port(path);
    QVERIFY(port.IsOpen());
    port.Exchange("AT");

    sim.Stop();
    QVERIFY(!sim.IsServing());
    QVERIFY(port.SeesHangup(Patience));
    sim.Stop();

    // A stopped phone can be started again, on a new line, keeping what it recorded.
    QVERIFY(sim.Start(&error));
    TPort again(sim.PortPath());
    QCOMPARE(again.Exchange("AT"), QByteArray("AT\r") + Answer({"OK"}));
    QCOMPARE(sim.Commands().size(), 2);

    // The destructor of a serving phone stops it.
    {
        TModemSim other;
        QVERIFY(other.Start());
        TPort otherPort(other.PortPath());
        otherPort.Write("AT+CMGS=17\r\n");
    }
}

void TestModemSim::logsAcceptedMessagesAsJson() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString log = dir.filePath(QStringLiteral("messages.jsonl"));
    QFile earlier(log);
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("{\"earlier\": true}\n");
    earlier.close();

    TModemSim sim;
    sim.SetLogFile(log);
    QVERIFY(sim.Start());
    TPort port(sim.PortPath());
    port.Exchange("ATE0");
    QCOMPARE(Submit(port, HelloPdu), Accepted(1));
    QCOMPARE(Submit(port, HelloPdu, 16), Answer({"+CMS ERROR: 304"}));
    // UCS-2 text with a quotation mark and a backslash: U+4F60 " \ to +123456, flash.
    QCOMPARE(Submit(port, "0100069121436500180A4F600022005C00410042"), Accepted(2));
    QVERIFY(sim.WaitForReceived(2, Patience));

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 4); // the earlier line, two messages, the final empty piece
    QCOMPARE(lines[3], QByteArray());
    QJsonParseError error;
    const QJsonObject first = QJsonDocument::fromJson(lines[1], &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(first.size(), 4);
    QCOMPARE(first[QStringLiteral("number")].toString(), QStringLiteral("0123456789"));
    QCOMPARE(first[QStringLiteral("coding")].toInt(-1), 0);
    QCOMPARE(first[QStringLiteral("flash")].toBool(true), false);
    QCOMPARE(first[QStringLiteral("text")].toString(), QStringLiteral("hello"));
    const QJsonObject second = QJsonDocument::fromJson(lines[2], &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(second[QStringLiteral("number")].toString(), QStringLiteral("+123456"));
    QCOMPARE(second[QStringLiteral("coding")].toInt(-1), 2);
    QCOMPARE(second[QStringLiteral("flash")].toBool(false), true);
    QCOMPARE(second[QStringLiteral("text")].toString(), QString::fromUtf8("你\"\\AB"));
}

namespace {

// Starts the tool and reads the port path from its first line of output.
bool StartTool(QProcess &tool, const QStringList &arguments, QString *path) {
    tool.start(ToolPath(), arguments);
    if (!tool.waitForStarted(Patience))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (!tool.canReadLine() && timer.elapsed() < Patience)
        tool.waitForReadyRead(100);
    *path = QString::fromLocal8Bit(tool.readLine()).trimmed();
    return path->startsWith(QLatin1Char('/'));
}

} // namespace

void TestModemSim::toolPrintsPathAndServes() {
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("log.jsonl"));
    QProcess tool;
    QString path;
    QVERIFY2(StartTool(tool, {QStringLiteral("--log"), log}, &path), qPrintable(path));
    {
        TPort port(path);
        QVERIFY(port.IsOpen());
        QCOMPARE(port.Exchange("AT+CMGF=?"), "AT+CMGF=?\r" + Answer({"+CMGF: (0,1)", "OK"}));
        port.Exchange("ATE0");
        QCOMPARE(Submit(port, HelloPdu), Accepted(1));
        QCOMPARE(Submit(port, "01000A811032547698001005E8329BFD06"), Accepted(2));
    }
    tool.terminate();
    QVERIFY(tool.waitForFinished(Patience));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY(tool.readAllStandardError().contains(path.toLocal8Bit() + "; press Ctrl+C to stop"));

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
    QCOMPARE(second[QStringLiteral("number")].toString(), QStringLiteral("0123456789"));
    QCOMPARE(second[QStringLiteral("flash")].toBool(false), true);
    QCOMPARE(second[QStringLiteral("text")].toString(), QStringLiteral("hello"));
}

void TestModemSim::toolOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("--battery") << QStringList{"--battery", "42"} << QByteArray("AT+CBC")
                               << Answer({"+CBC: 0,42", "OK"});
    QTest::newRow("--signal") << QStringList{"--signal", "7"} << QByteArray("AT+CSQ")
                              << Answer({"+CSQ: 7,99", "OK"});
    QTest::newRow("--maker") << QStringList{"--maker", "Acme Ltd"} << QByteArray("AT+GMI")
                             << Answer({"Acme Ltd", "OK"});
    QTest::newRow("--model") << QStringList{"--model", "M-1"} << QByteArray("AT+GMM")
                             << Answer({"M-1", "OK"});
    QTest::newRow("--refuse-cmgf-query")
        << QStringList{"--refuse-cmgf-query"} << QByteArray("AT+CMGF=?") << Answer({"ERROR"});
    QTest::newRow("--refuse-cmgf")
        << QStringList{"--refuse-cmgf"} << QByteArray("AT+CMGF=0") << Answer({"ERROR"});
    QTest::newRow("--refuse-cbc") << QStringList{"--refuse-cbc"} << QByteArray("AT+CBC")
                                  << Answer({"ERROR"});
    QTest::newRow("--refuse-gmm") << QStringList{"--refuse-gmm"} << QByteArray("AT+GMM")
                                  << Answer({"ERROR"});
    QTest::newRow("--unsolicited")
        << QStringList{"--unsolicited", "RING"} << QByteArray("AT") << Answer({"RING", "OK"});
    QTest::newRow("--prompt-line-end")
        << QStringList{"--prompt-line-end"} << QByteArray("AT+CMGS=17") << QByteArray("\r\n> \r\n");
    QTest::newRow("--delay-ms") << QStringList{"--delay-ms", "50"} << QByteArray("AT")
                                << Answer({"OK"});
    QTest::newRow("--fail-at") << QStringList{"--fail-at", "1"} << QByteArray()
                               << Answer({"+CMS ERROR: 500"});
    QTest::newRow("--silent-at") << QStringList{"--silent-at", "1"} << QByteArray() << QByteArray();
    QTest::newRow("no option") << QStringList{} << QByteArray() << Accepted(1);
}

// Each option reaches the phone; an empty command means "submit the hello message".
void TestModemSim::toolOptions() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);

    QProcess tool;
    QString path;
    QVERIFY2(StartTool(tool, arguments, &path), qPrintable(path));
    {
        TPort port(path);
        port.Write("ATE0\r\n");
        port.ReadUntil("OK\r\n");
        if (command.isEmpty()) {
            QCOMPARE(port.Exchange("AT+CMGS=17").right(2), "> ");
            port.Write("00" + HelloPdu + "\x1A\r\n");
            QCOMPARE(port.ReadAnswer(500), answer);
        } else {
            QCOMPARE(port.Exchange(command) + port.ReadFor(50), answer);
        }
    }
    tool.terminate();
    QVERIFY(tool.waitForFinished(Patience));
    QCOMPARE(tool.exitCode(), 0);
}

void TestModemSim::toolHangupEndsProcess() {
    QProcess tool;
    QString path;
    QVERIFY(StartTool(tool, {QStringLiteral("--hangup-at"), QStringLiteral("1")}, &path));
    TPort port(path);
    port.Exchange("ATE0");
    QCOMPARE(port.Exchange("AT+CMGS=17"), "\r\n> ");
    port.Write("00" + HelloPdu + "\x1A\r\n");
    QVERIFY(port.SeesHangup(Patience));
    QVERIFY(tool.waitForFinished(Patience));
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY(tool.readAllStandardError().contains("hung up"));
}

void TestModemSim::toolRejectsBadArguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("battery above 100")
        << QStringList{"--battery", "101"} << QByteArray("--battery");
    QTest::newRow("signal 50") << QStringList{"--signal", "50"} << QByteArray("--signal");
    QTest::newRow("negative fail-at") << QStringList{"--fail-at", "-1"} << QByteArray("--fail-at");
    QTest::newRow("delay not a number")
        << QStringList{"--delay-ms", "soon"} << QByteArray("--delay-ms");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << QByteArray("bogus");
    QTest::newRow("stray argument") << QStringList{"extra"} << QByteArray("extra");
    QTest::newRow("unwritable log") << QStringList{"--log", "/nonexistent-dir/x.jsonl"}
                                    << QByteArray("/nonexistent-dir/x.jsonl");
}

void TestModemSim::toolRejectsBadArguments() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);

    QProcess tool;
    tool.start(ToolPath(), arguments);
    QVERIFY(tool.waitForFinished(Patience));
    QVERIFY(tool.exitCode() != 0);
    QCOMPARE(tool.readAllStandardOutput(), QByteArray());
    QVERIFY(tool.readAllStandardError().contains(message));
}

void TestModemSim::toolHelp() {
    QProcess tool;
    tool.start(ToolPath(), {QStringLiteral("--help")});
    QVERIFY(tool.waitForFinished(Patience));
    QCOMPARE(tool.exitCode(), 0);
    const QByteArray help = tool.readAllStandardOutput();
    for (const char *option :
         {"--fail-at", "--silent-at", "--hangup-at", "--delay-ms", "--prompt-line-end",
          "--refuse-cmgf-query", "--refuse-cmgf", "--refuse-cbc", "--refuse-gmm", "--battery",
          "--signal", "--maker", "--model", "--unsolicited", "--log"})
        QVERIFY2(help.contains(option), option);
}

QTEST_GUILESS_MAIN(TestModemSim)
#include "tst_modemsim.moc"
