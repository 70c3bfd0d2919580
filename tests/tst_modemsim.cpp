// The simulated phone, driven through its real pseudo-terminal with plain POSIX I/O.

#include "modemsim/ModemSim.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

Q_DECLARE_METATYPE(ModemSimOptions)

namespace {

constexpr int Patience = 5000; // ms; only reached when something is broken
// Between one program closing the port and the next opening it. The phone learns of a
// close asynchronously, as a real device learns of a dropped line.
constexpr int GapBetweenPrograms = 100;

// The program's end of the line, reduced to open/read/write.
class Port {
public:
    explicit Port(const QString &path) {
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~Port() { close(); }
    Port(const Port &) = delete;
    Port &operator=(const Port &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    bool write(const QByteArray &data) {
        qsizetype done = 0;
        QElapsedTimer timer;
        timer.start();
        while (done < data.size() && timer.elapsed() < Patience) {
            const ssize_t n = ::write(m_fd, data.constData() + done, data.size() - done);
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{m_fd, POLLOUT, 0};
                ::poll(&p, 1, 50);
            } else {
                return false;
            }
        }
        return done == data.size();
    }

    // Reads until what was received satisfies done, or the time is up; gives everything read.
    template <typename Done>
    QByteArray readWhile(Done done, int timeoutMs) {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            if (done(m_buffer))
                return take();
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0 || !readSome(static_cast<int>(left)))
                return take();
        }
    }
    QByteArray readUntil(const QList<QByteArray> &endings, int timeoutMs = Patience) {
        return readWhile(
            [&](const QByteArray &b) {
                return std::any_of(endings.begin(), endings.end(),
                                   [&](const QByteArray &e) { return b.endsWith(e); });
            },
            timeoutMs);
    }
    QByteArray readUntil(const QByteArray &ending) { return readUntil(QList{ending}); }

    // Up to a final result line (one containing OK or ERROR) or the "> " prompt.
    QByteArray readAnswer(int timeoutMs = Patience) {
        return readWhile(
            [](const QByteArray &b) {
                if (b.endsWith("> ") || b.endsWith("> \r\n") || b.endsWith("\r\n>"))
                    return true;
                if (!b.endsWith("\r\n"))
                    return false;
                const QByteArray last = b.chopped(2).mid(b.chopped(2).lastIndexOf('\n') + 1);
                return last.contains("OK") || last.contains("ERROR");
            },
            timeoutMs);
    }

    // Everything that arrives within the time.
    QByteArray readFor(int ms) { return readUntil(QList<QByteArray>{}, ms); }

    QByteArray exchange(const QByteArray &command) {
        write(command + "\r\n");
        return readAnswer();
    }

    // Waits for the line to show a hang-up: POLLHUP, then a read that gives EIO or end of file.
    bool seesHangup(int timeoutMs) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && (p.revents & POLLHUP)) {
                char c;
                const ssize_t n = ::read(m_fd, &c, 1);
                return n == 0 || (n < 0 && errno == EIO);
            }
            if (p.revents & POLLIN) {
                char buffer[256];
                (void)::read(m_fd, buffer, sizeof buffer);
            }
        }
        return false;
    }

private:
    bool readSome(int timeoutMs) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
            return false;
        char buffer[4096];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        m_buffer.append(buffer, n);
        return true;
    }
    QByteArray take() {
        QByteArray taken = m_buffer;
        m_buffer.clear();
        return taken;
    }

    int m_fd = -1;
    QByteArray m_buffer;
};

// The example message of the program's encoder: 0123456789, GSM 7 bit, "hello".
const QByteArray HelloPdu = "01000A811032547698000005E8329BFD06";

QByteArray answerLines(std::initializer_list<QByteArray> lines) {
    QByteArray bytes;
    for (const QByteArray &line : lines)
        bytes += "\r\n" + line + "\r\n";
    return bytes;
}

QByteArray accepted(int reference) {
    return answerLines({"+CMGS: " + QByteArray::number(reference), "OK"});
}

// Submits one body as the program does: AT+CMGS=<n>, prompt, "00", PDU, Ctrl-Z, CR LF.
QByteArray submit(Port &port, const QByteArray &pdu, int octets = -1) {
    if (octets < 0)
        octets = static_cast<int>(pdu.size() / 2);
    const QByteArray prompt = port.exchange("AT+CMGS=" + QByteArray::number(octets));
    if (!prompt.endsWith("> "))
        return "no prompt: " + prompt;
    port.write("00" + pdu + "\x1A\r\n");
    return port.readAnswer();
}

QString toolPath() {
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
    void joinsLongMessagesPerNumberAndReference();

    void toolPrintsPathAndServes();
    void toolOptions_data();
    void toolOptions();
    void toolHangupEndsProcess();
    void toolRejectsBadArguments_data();
    void toolRejectsBadArguments();
    void toolHelp();
};

void TestModemSim::echoesUntilAte0() {
    ModemSim sim;
    QVERIFY(sim.start());
    Port port(sim.portPath());
    QVERIFY(port.isOpen());

    QCOMPARE(port.exchange("AT"), QByteArray("AT\r") + answerLines({"OK"}));
    QCOMPARE(port.exchange("at+csq"), QByteArray("at+csq\r") + answerLines({"+CSQ: 20,99", "OK"}));
    QCOMPARE(port.exchange("ATE0"), QByteArray("ATE0\r") + answerLines({"OK"}));
    QCOMPARE(port.exchange("AT"), answerLines({"OK"}));
    QCOMPARE(port.exchange("ATE1"), answerLines({"OK"}));
    QCOMPARE(port.exchange("AT"), QByteArray("AT\r") + answerLines({"OK"}));
    // With echo on, the body is echoed too, but not the CR LF after Ctrl-Z.
    QCOMPARE(port.exchange("AT+CMGS=17"), QByteArray("AT+CMGS=17\r\r\n> "));
    port.write("00" + HelloPdu + "\x1A\r\n");
    QCOMPARE(port.readAnswer(), "00" + HelloPdu + "\x1A" + accepted(1));
    QCOMPARE(port.readFor(100), QByteArray());
}

void TestModemSim::answers_data() {
    QTest::addColumn<ModemSimOptions>("options");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");

    const ModemSimOptions plain;
    auto with = [](auto change) {
        ModemSimOptions o;
        change(o);
        return o;
    };
    QTest::newRow("AT") << plain << QByteArray("AT") << answerLines({"OK"});
    QTest::newRow("lower case at") << plain << QByteArray("at") << answerLines({"OK"});
    QTest::newRow("CMGF query") << plain << QByteArray("AT+CMGF=?")
                                << answerLines({"+CMGF: (0,1)", "OK"});
    QTest::newRow("CMGF=0") << plain << QByteArray("AT+CMGF=0") << answerLines({"OK"});
    QTest::newRow("CMGF read") << plain << QByteArray("AT+CMGF?")
                               << answerLines({"+CMGF: 0", "OK"});
    QTest::newRow("CMGF=2 unknown") << plain << QByteArray("AT+CMGF=2") << answerLines({"ERROR"});
    QTest::newRow("CBC") << plain << QByteArray("AT+CBC") << answerLines({"+CBC: 0,85", "OK"});
    QTest::newRow("GMI") << plain << QByteArray("AT+GMI") << answerLines({"Pelorvane", "OK"});
    QTest::newRow("CGMI") << plain << QByteArray("AT+CGMI") << answerLines({"Pelorvane", "OK"});
    QTest::newRow("GMM") << plain << QByteArray("AT+GMM") << answerLines({"Demo GSM Phone", "OK"});
    QTest::newRow("CSQ") << plain << QByteArray("AT+CSQ") << answerLines({"+CSQ: 20,99", "OK"});
    QTest::newRow("spaces and mixed case")
        << plain << QByteArray("a T + c S q") << answerLines({"+CSQ: 20,99", "OK"});
    QTest::newRow("backspace edits the line")
        << plain << QByteArray("AT+CSX\bQ") << answerLines({"+CSQ: 20,99", "OK"});
    QTest::newRow("CMGS test") << plain << QByteArray("AT+CMGS=?") << answerLines({"OK"});
    QTest::newRow("CMGS without length")
        << plain << QByteArray("AT+CMGS=") << answerLines({"ERROR"});
    QTest::newRow("CMGS non-numeric")
        << plain << QByteArray("AT+CMGS=1x") << answerLines({"ERROR"});
    QTest::newRow("CMGS zero") << plain << QByteArray("AT+CMGS=0")
                               << answerLines({"+CMS ERROR: 304"});
    QTest::newRow("CMGS above any TPDU")
        << plain << QByteArray("AT+CMGS=165") << answerLines({"+CMS ERROR: 304"});
    QTest::newRow("unknown command") << plain << QByteArray("AT+FOO") << answerLines({"ERROR"});
    QTest::newRow("dial is unknown") << plain << QByteArray("ATD123;") << answerLines({"ERROR"});
    QTest::newRow("no AT prefix") << plain << QByteArray("hello") << answerLines({"ERROR"});
    QTest::newRow("ATI") << plain << QByteArray("ATI")
                         << answerLines({"Pelorvane", "Demo GSM Phone", "OK"});

    QTest::newRow("battery 42") << with([](auto &o) { o.battery = 42; }) << QByteArray("AT+CBC")
                                << answerLines({"+CBC: 0,42", "OK"});
    QTest::newRow("signal unknown") << with([](auto &o) { o.signal = 99; }) << QByteArray("AT+CSQ")
                                    << answerLines({"+CSQ: 99,99", "OK"});
    QTest::newRow("maker") << with([](auto &o) { o.maker = "Acme"; }) << QByteArray("AT+GMI")
                           << answerLines({"Acme", "OK"});
    QTest::newRow("model") << with([](auto &o) { o.model = "X 1"; }) << QByteArray("AT+GMM")
                           << answerLines({"X 1", "OK"});
    QTest::newRow("refuse CMGF query") << with([](auto &o) { o.refuseCmgfQuery = true; })
                                       << QByteArray("AT+CMGF=?") << answerLines({"ERROR"});
    QTest::newRow("refuse CMGF=0") << with([](auto &o) { o.refuseCmgf0 = true; })
                                   << QByteArray("AT+CMGF=0") << answerLines({"ERROR"});
    QTest::newRow("refuse CBC") << with([](auto &o) { o.refuseCbc = true; }) << QByteArray("AT+CBC")
                                << answerLines({"ERROR"});
    QTest::newRow("refuse GMM") << with([](auto &o) { o.refuseGmm = true; }) << QByteArray("AT+GMM")
                                << answerLines({"ERROR"});
    QTest::newRow("refusals leave other commands") << with([](auto &o) {
        o.refuseCmgfQuery = o.refuseCmgf0 = o.refuseCbc = o.refuseGmm = true;
    }) << QByteArray("AT+CSQ") << answerLines({"+CSQ: 20,99", "OK"});
}

void TestModemSim::answers() {
    QFETCH(ModemSimOptions, options);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);

    ModemSim sim(options);
    QVERIFY(sim.start());
    Port port(sim.portPath());
    QCOMPARE(port.exchange("ATE0"), QByteArray("ATE0\r") + answerLines({"OK"}));
    QCOMPARE(port.exchange(command), answer);
    QCOMPARE(port.readFor(50), QByteArray());
}

void TestModemSim::promptHasNoLineEnd() {
    for (const bool lineEnd : {false, true}) {
        ModemSimOptions options;
        options.promptWithLineEnd = lineEnd;
        ModemSim sim(options);
        QVERIFY(sim.start());
        Port port(sim.portPath());
        port.exchange("ATE0");
        port.write("AT+CMGS=17\r\n");
        const QByteArray prompt = port.readUntil(lineEnd ? "> \r\n" : "> ");
        QCOMPARE(prompt + port.readFor(150), lineEnd ? QByteArray("\r\n> \r\n") : "\r\n> ");
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

    ModemSim sim;
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    QCOMPARE(port.exchange("AT+CMGS=" + QByteArray::number(pdu.size() / 2)), "\r\n> ");
    port.write(smsc + pdu + "\x1A\r\n");
    QCOMPARE(port.readAnswer(), accepted(1));

    QVERIFY(sim.waitForReceived(1, Patience));
    const QList<ReceivedSms> received = sim.received();
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0].number, number);
    QCOMPARE(received[0].coding, coding);
    QCOMPARE(received[0].flash, flash);
    QCOMPARE(received[0].text, text);
    QCOMPARE(received[0].pdu, pdu);
    QCOMPARE(received[0].reference, 1);
    QCOMPARE(sim.bodies(), QList<QByteArray>{smsc + pdu});
    QCOMPARE(sim.bodiesSeen(), 1);
    // The CR LF after Ctrl-Z is no command: nothing more arrives, the phone takes commands.
    QCOMPARE(port.readFor(50), QByteArray());
    QCOMPARE(port.exchange("AT"), answerLines({"OK"}));
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

    ModemSim sim;
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    QCOMPARE(port.exchange("AT+CMGS=" + QByteArray::number(octets)), "\r\n> ");
    port.write(body + "\x1A\r\n");
    QCOMPARE(port.readAnswer(), answerLines({"+CMS ERROR: 304"}));
    QCOMPARE(sim.bodiesSeen(), 1);
    QVERIFY(sim.received().isEmpty());
    QCOMPARE(port.exchange("AT"), answerLines({"OK"}));
}

void TestModemSim::referencesCount() {
    ModemSim sim;
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    for (int i = 1; i <= 3; ++i)
        QCOMPARE(submit(port, HelloPdu), accepted(i));
    QVERIFY(sim.waitForReceived(3, Patience));
    QCOMPARE(sim.received()[2].reference, 3);
    QVERIFY(!sim.waitForReceived(4, 50));
}

void TestModemSim::escapeCancelsBody() {
    ModemSim sim;
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    QCOMPARE(port.exchange("AT+CMGS=17"), "\r\n> ");
    port.write("0001000A81\x1B");
    QCOMPARE(port.readAnswer(), answerLines({"OK"}));
    QCOMPARE(sim.bodiesSeen(), 0);
    QCOMPARE(port.exchange("AT"), answerLines({"OK"}));
    QCOMPARE(submit(port, HelloPdu), accepted(1));
}

void TestModemSim::textModeRefusesCmgs() {
    ModemSim sim;
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    QCOMPARE(port.exchange("AT+CMGF=1"), answerLines({"OK"}));
    QCOMPARE(port.exchange("AT+CMGF?"), answerLines({"+CMGF: 1", "OK"}));
    QCOMPARE(port.exchange("AT+CMGS=17"), answerLines({"+CMS ERROR: 302"}));
    QCOMPARE(port.exchange("AT+CMGF=0"), answerLines({"OK"}));
    QCOMPARE(submit(port, HelloPdu), accepted(1));
}

void TestModemSim::failAt() {
    ModemSimOptions options;
    options.failAt = 2;
    ModemSim sim(options);
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    QCOMPARE(submit(port, HelloPdu), accepted(1));
    QCOMPARE(submit(port, HelloPdu), answerLines({"+CMS ERROR: 500"}));
    QCOMPARE(submit(port, HelloPdu), accepted(2));
    QCOMPARE(sim.bodiesSeen(), 3);
    QCOMPARE(sim.received().size(), 2);
}

void TestModemSim::silentAt() {
    ModemSimOptions options;
    options.silentAt = 1;
    ModemSim sim(options);
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    QCOMPARE(port.exchange("AT+CMGS=17"), "\r\n> ");
    port.write("00" + HelloPdu + "\x1A\r\n");
    QCOMPARE(port.readFor(300), QByteArray());
    QCOMPARE(sim.bodiesSeen(), 1);
    QVERIFY(sim.received().isEmpty());
    // Only that body goes unanswered.
    QCOMPARE(port.exchange("AT"), answerLines({"OK"}));
    QCOMPARE(submit(port, HelloPdu), accepted(1));
}

void TestModemSim::hangupAt() {
    ModemSimOptions options;
    options.hangupAt = 2;
    ModemSim sim(options);
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    QCOMPARE(submit(port, HelloPdu), accepted(1));
    QCOMPARE(port.exchange("AT+CMGS=17"), "\r\n> ");
    QVERIFY(sim.isServing());
    port.write("00" + HelloPdu + "\x1A\r\n");
    QVERIFY(port.seesHangup(Patience));
    QTRY_VERIFY_WITH_TIMEOUT(!sim.isServing(), Patience);
    QCOMPARE(sim.bodiesSeen(), 2);
    QCOMPARE(sim.received().size(), 1);
    // A waiter learns at once that no more messages will come.
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!sim.waitForReceived(2, Patience));
    QVERIFY(timer.elapsed() < Patience / 2);
    sim.stop();
}

void TestModemSim::delayBeforeEachAnswer() {
    ModemSimOptions options;
    options.delayMs = 400;
    ModemSim sim(options);
    QVERIFY(sim.start());
    Port port(sim.portPath());

    QElapsedTimer timer;
    timer.start();
    port.write("AT\r\n");
    // The echo is immediate; only the answer waits.
    QCOMPARE(port.readUntil("AT\r"), QByteArray("AT\r"));
    QVERIFY2(timer.elapsed() < 300, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(port.readAnswer(), answerLines({"OK"}));
    QVERIFY(timer.elapsed() >= 390);

    port.exchange("ATE0");
    timer.restart();
    QCOMPARE(port.exchange("AT+CMGS=17"), "\r\n> ");
    QVERIFY(timer.elapsed() >= 390);
    timer.restart();
    port.write("00" + HelloPdu + "\x1A\r\n");
    QCOMPARE(port.readAnswer(), accepted(1));
    QVERIFY(timer.elapsed() >= 390);
}

void TestModemSim::unsolicitedBeforeEachAnswer() {
    ModemSimOptions options;
    options.unsolicited = "RING";
    ModemSim sim(options);
    QVERIFY(sim.start());
    Port port(sim.portPath());
    QCOMPARE(port.exchange("ATE0"), "ATE0\r" + answerLines({"RING", "OK"}));
    QCOMPARE(port.exchange("AT+CSQ"), answerLines({"RING", "+CSQ: 20,99", "OK"}));
    QCOMPARE(port.exchange("AT+CMGS=17"), answerLines({"RING"}) + "\r\n> ");
    port.write("00" + HelloPdu + "\x1A\r\n");
    QCOMPARE(port.readAnswer(), answerLines({"RING"}) + accepted(1));
}

void TestModemSim::garbageAndNulBytes() {
    ModemSim sim;
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    // NUL and other control bytes inside a command line are ignored.
    QCOMPARE(port.exchange(QByteArray("AT\0+C\x01S\x7FQ", 9)), answerLines({"+CSQ: 20,99", "OK"}));

    QRandomGenerator random(3);
    QByteArray garbage(256 * 1024, '\0');
    for (char &c : garbage)
        c = static_cast<char>(random.bounded(256));
    // Keep reading while writing, as a program would, so neither side blocks.
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        Port same(sim.portPath());
        same.write(garbage);
        writing = false;
    });
    while (writing)
        port.readFor(20);
    writer.join();
    // Whatever state the garbage left (a body, a line), ESC and CR end it.
    port.write("\x1B\r");
    port.readFor(200);
    QVERIFY(sim.isServing());
    QCOMPARE(port.exchange("ATE0"), answerLines({"OK"}));
    QCOMPARE(submit(port, HelloPdu), accepted(sim.received().size() + 1));
}

void TestModemSim::overlongCommandLine() {
    ModemSim sim;
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    QCOMPARE(port.exchange("AT" + QByteArray(5000, 'X')), answerLines({"ERROR"}));
    QCOMPARE(sim.commands().last(), "AT" + QByteArray(1022, 'X'));
    QCOMPARE(port.exchange("AT"), answerLines({"OK"}));
}

void TestModemSim::recordsCommandsInOrder() {
    ModemSim sim;
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("AT+CMGF=?");
    port.exchange("ATE0");
    port.write("\r\n \r\n");
    port.exchange("AT+CMGF=0");
    submit(port, HelloPdu);
    port.exchange("at+foo");
    const QList<QByteArray> expected{"AT+CMGF=?", "ATE0", "AT+CMGF=0", "AT+CMGS=17", "at+foo"};
    QCOMPARE(sim.commands(), expected);
    QCOMPARE(sim.bodies(), QList<QByteArray>{"00" + HelloPdu});
}

// Readers on other threads while the phone serves (the thread-sanitizer build checks this).
void TestModemSim::recordsAreReadableWhileServing() {
    ModemSim sim;
    QVERIFY(sim.start());
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!done) {
            const qsizetype seen = sim.commands().size() + sim.received().size() +
                                   sim.bodies().size() + sim.bodiesSeen() + sim.isServing() +
                                   sim.portPath().size();
            (void)seen;
            ++reads;
            // Without a pause the reader keeps the simulator's lock busy enough on a loaded
            // machine that the serving thread misses the test's patience.
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    // A failed comparison returns early: the reader must still be joined.
    const auto stopReader = qScopeGuard([&] {
        done = true;
        if (reader.joinable())
            reader.join();
    });
    Port port(sim.portPath());
    port.exchange("ATE0");
    for (int i = 1; i <= 20; ++i)
        QCOMPARE(submit(port, HelloPdu), accepted(i));
    QVERIFY(sim.waitForReceived(20, Patience));
    // On a loaded machine the reader may not have had its first turn yet.
    QTRY_VERIFY_WITH_TIMEOUT(reads > 0, Patience);
    done = true;
    reader.join();
    QCOMPARE(sim.received().size(), 20);
}

void TestModemSim::survivesPortReopen() {
    ModemSim sim;
    QVERIFY(sim.start());
    for (int round = 0; round < 3; ++round) {
        Port port(sim.portPath());
        QVERIFY(port.isOpen());
        QCOMPARE(port.exchange("AT+CSQ").right(6), QByteArray("\r\nOK\r\n"));
    }
    QVERIFY(sim.isServing());
}

// A real line loses what the phone sends while the port is closed; the next program
// must not read answers meant for the one before.
void TestModemSim::reopenDropsWhatNobodyRead() {
    ModemSim sim;
    QVERIFY(sim.start());
    {
        Port port(sim.portPath());
        port.write("AT+CSQ\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(sim.commands().size(), 1, Patience);
        QTest::qWait(100);
    }
    QTest::qWait(GapBetweenPrograms);
    Port port(sim.portPath());
    QCOMPARE(port.readFor(100), QByteArray());
    QCOMPARE(port.exchange("AT"), QByteArray("AT\r") + answerLines({"OK"}));
}

void TestModemSim::reopenDropsDelayedAnswer() {
    ModemSimOptions options;
    options.delayMs = 300;
    ModemSim sim(options);
    QVERIFY(sim.start());
    {
        Port port(sim.portPath());
        port.write("AT+CSQ\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(sim.commands().size(), 1, Patience);
    }
    QTest::qWait(GapBetweenPrograms);
    Port port(sim.portPath());
    QCOMPARE(port.readFor(400), QByteArray());
    QCOMPARE(port.exchange("AT"), QByteArray("AT\r") + answerLines({"OK"}));
}

void TestModemSim::reopenLeavesPrompt() {
    ModemSim sim;
    QVERIFY(sim.start());
    {
        Port port(sim.portPath());
        port.exchange("ATE0");
        QCOMPARE(port.exchange("AT+CMGS=17"), "\r\n> ");
        port.write("0001000A81");
    }
    QTest::qWait(GapBetweenPrograms);
    Port port(sim.portPath());
    QCOMPARE(port.exchange("AT"), answerLines({"OK"}));
    QCOMPARE(sim.bodiesSeen(), 0);
    QCOMPARE(submit(port, HelloPdu), accepted(1));
}

// The sim holds the device open, so an exclusive-use flag set by a program would outlive
// its close and lock out every later non-root opener.
void TestModemSim::closeClearsExclusiveUse() {
    ModemSim sim;
    QVERIFY(sim.start());
    {
        Port port(sim.portPath());
        QCOMPARE(::ioctl(port.fd(), TIOCEXCL), 0);
        int exclusive = 0;
        QCOMPARE(::ioctl(port.fd(), TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive, 1);
    }
    Port port(sim.portPath());
    QVERIFY(port.isOpen()); // as root the flag does not stop this open; the test reads it
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            int exclusive = 1;
            return ::ioctl(port.fd(), TIOCGEXCL, &exclusive) == 0 && exclusive == 0;
        }(),
        Patience);
    QCOMPARE(port.exchange("AT"), QByteArray("AT\r") + answerLines({"OK"}));
}

// Like a second program whose open fails on the lock: it opens and closes the device
// while the first one is mid-message. The first program's exchange goes on unharmed.
void TestModemSim::otherOpenerLeavesHolderAlone() {
    ModemSim sim;
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    QCOMPARE(port.exchange("AT+CMGS=17"), "\r\n> ");
    port.write("00" + HelloPdu.left(10));
    QTRY_VERIFY_WITH_TIMEOUT(Port(sim.portPath()).isOpen(), Patience);
    QTest::qWait(GapBetweenPrograms);
    port.write(HelloPdu.mid(10) + "\x1A\r\n");
    QCOMPARE(port.readAnswer(), accepted(1));
    port.write("AT\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(sim.commands().size(), 3, Patience);
    Port(sim.portPath()).close();
    QTest::qWait(GapBetweenPrograms);
    QCOMPARE(port.readAnswer(), answerLines({"OK"}));
}

void TestModemSim::startStopLifecycle() {
    ModemSim sim;
    QVERIFY(!sim.isServing());
    QString error;
    QVERIFY(sim.start(&error));
    QVERIFY(sim.isServing());
    QVERIFY(!sim.start(&error));
    QVERIFY(!error.isEmpty());
    const QString path = sim.portPath();
    Port port(path);
    QVERIFY(port.isOpen());
    port.exchange("AT");

    sim.stop();
    QVERIFY(!sim.isServing());
    QVERIFY(port.seesHangup(Patience));
    sim.stop();

    // A stopped phone can be started again, on a new line, keeping what it recorded.
    QVERIFY(sim.start(&error));
    Port again(sim.portPath());
    QCOMPARE(again.exchange("AT"), QByteArray("AT\r") + answerLines({"OK"}));
    QCOMPARE(sim.commands().size(), 2);

    // The destructor of a serving phone stops it.
    {
        ModemSim other;
        QVERIFY(other.start());
        Port otherPort(other.portPath());
        otherPort.write("AT+CMGS=17\r\n");
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

    ModemSim sim;
    sim.setLogFile(log);
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    QCOMPARE(submit(port, HelloPdu), accepted(1));
    QCOMPARE(submit(port, HelloPdu, 16), answerLines({"+CMS ERROR: 304"}));
    // UCS-2 text with a quotation mark and a backslash: U+4F60 " \ to +123456, flash.
    QCOMPARE(submit(port, "0100069121436500180A4F600022005C00410042"), accepted(2));
    QVERIFY(sim.waitForReceived(2, Patience));

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

// One UCS-2 part of a concatenated message to the given number (ten digits, 8-bit reference).
QByteArray ucs2Part(const QByteArray &swappedNumber, int reference, int total, int sequence,
                    const QByteArray &textHex) {
    const auto hex2 = [](int v) {
        return QByteArray::number(v, 16).rightJustified(2, '0').toUpper();
    };
    return "41000A81" + swappedNumber + "0008" + hex2(6 + static_cast<int>(textHex.size()) / 2) +
           "050003" + hex2(reference) + hex2(total) + hex2(sequence) + textHex;
}

QList<QJsonObject> logObjects(const QString &path) {
    QFile file(path);
    QList<QJsonObject> objects;
    if (!file.open(QIODevice::ReadOnly))
        return objects;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            objects << QJsonDocument::fromJson(line).object();
    }
    return objects;
}

} // namespace

// Parts come in any order, other messages' parts between them, a part again (a resend), and
// parts with the same reference to another number: each message is joined from its own parts.
void TestModemSim::joinsLongMessagesPerNumberAndReference() {
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("parts.jsonl"));
    ModemSim sim;
    sim.setLogFile(log);
    QVERIFY(sim.start());
    Port port(sim.portPath());
    port.exchange("ATE0");
    const QByteArray first = "1032547698"; // 0123456789
    const QByteArray other = "2143658709"; // 1234567890
    const QList<QByteArray> pdus = {
        ucs2Part(first, 1, 2, 1, "0041"), ucs2Part(first, 2, 2, 2, "0044"),
        ucs2Part(first, 1, 2, 1, "0041"), ucs2Part(other, 2, 2, 1, "0058"),
        ucs2Part(first, 1, 2, 2, "0042"), ucs2Part(first, 2, 2, 1, "0043"),
    };
    for (int i = 0; i < pdus.size(); ++i)
        QCOMPARE(submit(port, pdus[i]), accepted(i + 1));
    QVERIFY(sim.waitForReceived(6, Patience));

    const QList<ReceivedSms> received = sim.received();
    QCOMPARE(received[3].number, QByteArray("1234567890"));
    QCOMPARE(received[3].concatRef, 2);
    QCOMPARE(received[3].concatTotal, 2);
    QCOMPARE(received[3].concatSeq, 1);
    const QList<CompletedSms> completed = sim.completed();
    QCOMPARE(completed.size(), 2);
    QCOMPARE(completed[0].number, QByteArray("0123456789"));
    QCOMPARE(completed[0].ref, 1);
    QCOMPARE(completed[0].parts, 2);
    QCOMPARE(completed[0].text, QStringLiteral("AB"));
    QCOMPARE(completed[1].ref, 2);
    QCOMPARE(completed[1].text, QStringLiteral("CD"));

    // Six parts, then the first message after its fifth part, the second after the sixth.
    const QList<QJsonObject> entries = logObjects(log);
    QCOMPARE(entries.size(), 8);
    const QJsonObject part = entries[1];
    QCOMPARE(part.size(), 7);
    QCOMPARE(part[QStringLiteral("number")].toString(), QStringLiteral("0123456789"));
    QCOMPARE(part[QStringLiteral("ref")].toInt(), 2);
    QCOMPARE(part[QStringLiteral("total")].toInt(), 2);
    QCOMPARE(part[QStringLiteral("seq")].toInt(), 2);
    QCOMPARE(part[QStringLiteral("coding")].toInt(), 2);
    QCOMPARE(part[QStringLiteral("text")].toString(), QStringLiteral("D"));
    const QJsonObject whole = entries[5];
    QCOMPARE(whole.size(), 4);
    QCOMPARE(whole[QStringLiteral("number")].toString(), QStringLiteral("0123456789"));
    QCOMPARE(whole[QStringLiteral("ref")].toInt(), 1);
    QCOMPARE(whole[QStringLiteral("parts")].toInt(), 2);
    QCOMPARE(whole[QStringLiteral("text")].toString(), QStringLiteral("AB"));
    QCOMPARE(entries[7][QStringLiteral("text")].toString(), QStringLiteral("CD"));
    QCOMPARE(entries[6][QStringLiteral("seq")].toInt(), 1);
}

namespace {

// Starts the tool and reads the port path from its first line of output.
bool startTool(QProcess &tool, const QStringList &arguments, QString *path) {
    tool.start(toolPath(), arguments);
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
    QVERIFY2(startTool(tool, {QStringLiteral("--log"), log}, &path), qPrintable(path));
    {
        Port port(path);
        QVERIFY(port.isOpen());
        QCOMPARE(port.exchange("AT+CMGF=?"), "AT+CMGF=?\r" + answerLines({"+CMGF: (0,1)", "OK"}));
        port.exchange("ATE0");
        QCOMPARE(submit(port, HelloPdu), accepted(1));
        QCOMPARE(submit(port, "01000A811032547698001005E8329BFD06"), accepted(2));
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
                               << answerLines({"+CBC: 0,42", "OK"});
    QTest::newRow("--signal") << QStringList{"--signal", "7"} << QByteArray("AT+CSQ")
                              << answerLines({"+CSQ: 7,99", "OK"});
    QTest::newRow("--maker") << QStringList{"--maker", "Acme Ltd"} << QByteArray("AT+GMI")
                             << answerLines({"Acme Ltd", "OK"});
    QTest::newRow("--model") << QStringList{"--model", "M-1"} << QByteArray("AT+GMM")
                             << answerLines({"M-1", "OK"});
    QTest::newRow("--refuse-cmgf-query")
        << QStringList{"--refuse-cmgf-query"} << QByteArray("AT+CMGF=?") << answerLines({"ERROR"});
    QTest::newRow("--refuse-cmgf")
        << QStringList{"--refuse-cmgf"} << QByteArray("AT+CMGF=0") << answerLines({"ERROR"});
    QTest::newRow("--refuse-cbc") << QStringList{"--refuse-cbc"} << QByteArray("AT+CBC")
                                  << answerLines({"ERROR"});
    QTest::newRow("--refuse-gmm") << QStringList{"--refuse-gmm"} << QByteArray("AT+GMM")
                                  << answerLines({"ERROR"});
    QTest::newRow("--unsolicited")
        << QStringList{"--unsolicited", "RING"} << QByteArray("AT") << answerLines({"RING", "OK"});
    QTest::newRow("--prompt-line-end")
        << QStringList{"--prompt-line-end"} << QByteArray("AT+CMGS=17") << QByteArray("\r\n> \r\n");
    QTest::newRow("--delay-ms") << QStringList{"--delay-ms", "50"} << QByteArray("AT")
                                << answerLines({"OK"});
    QTest::newRow("--fail-at") << QStringList{"--fail-at", "1"} << QByteArray()
                               << answerLines({"+CMS ERROR: 500"});
    QTest::newRow("--silent-at") << QStringList{"--silent-at", "1"} << QByteArray() << QByteArray();
    QTest::newRow("no option") << QStringList{} << QByteArray() << accepted(1);
    QTest::newRow("--pin") << QStringList{"--pin", "1234"} << QByteArray("AT+CPIN?")
                           << answerLines({"+CPIN: SIM PIN", "OK"});
    QTest::newRow("--pin, tries left")
        << QStringList{"--pin", "1234"} << QByteArray("AT+CPINR=\"SIM PIN\"")
        << answerLines({"+CPINR: SIM PIN,3,3", "OK"});
    QTest::newRow("--pin, body before it")
        << QStringList{"--pin", "1234"} << QByteArray() << answerLines({"+CMS ERROR: 311"});
    QTest::newRow("--no-sim") << QStringList{"--no-sim"} << QByteArray("AT+CPIN?")
                              << answerLines({"+CME ERROR: 10"});
    QTest::newRow("--register-after-ms")
        << QStringList{"--register-after-ms", "60000"} << QByteArray("AT+CREG?")
        << answerLines({"+CREG: 0,2", "OK"});
    QTest::newRow("--registration denied")
        << QStringList{"--registration", "denied"} << QByteArray("AT+CGREG?")
        << answerLines({"+CGREG: 0,3", "OK"});
    QTest::newRow("--registration searching") << QStringList{"--registration", "searching"}
                                              << QByteArray() << answerLines({"+CMS ERROR: 331"});
    QTest::newRow("--lte-only, CREG")
        << QStringList{"--lte-only"} << QByteArray("AT+CREG?") << answerLines({"+CREG: 0,2", "OK"});
    QTest::newRow("--lte-only, CEREG") << QStringList{"--lte-only"} << QByteArray("AT+CEREG?")
                                       << answerLines({"+CEREG: 0,1", "OK"});
    QTest::newRow("--no-smsc") << QStringList{"--no-smsc"} << QByteArray("AT+CSCA?")
                               << answerLines({"+CSCA: \"\",129", "OK"});
    QTest::newRow("--no-smsc, body")
        << QStringList{"--no-smsc"} << QByteArray() << answerLines({"+CMS ERROR: 330"});
    QTest::newRow("--bare-prompt")
        << QStringList{"--bare-prompt"} << QByteArray("AT+CMGS=17") << QByteArray("\r\n>");
    QTest::newRow("--old-phone") << QStringList{"--old-phone"} << QByteArray("AT+CPIN?")
                                 << answerLines({"ERROR"});
    QTest::newRow("--maker huawei")
        << QStringList{"--maker", "huawei"} << QByteArray("AT^CURC=0") << answerLines({"OK"});
}

// Each option reaches the phone; an empty command means "submit the hello message".
void TestModemSim::toolOptions() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);

    QProcess tool;
    QString path;
    QVERIFY2(startTool(tool, arguments, &path), qPrintable(path));
    {
        Port port(path);
        port.write("ATE0\r\n");
        port.readUntil("OK\r\n");
        if (command.isEmpty()) {
            const QByteArray prompt = port.exchange("AT+CMGS=17");
            if (prompt.endsWith("> ")) {
                port.write("00" + HelloPdu + "\x1A\r\n");
                QCOMPARE(port.readAnswer(500), answer);
            } else {
                // Refused before the body, as a phone that cannot send does.
                QCOMPARE(prompt, answer);
            }
        } else {
            QCOMPARE(port.exchange(command) + port.readFor(50), answer);
        }
    }
    tool.terminate();
    QVERIFY(tool.waitForFinished(Patience));
    QCOMPARE(tool.exitCode(), 0);
}

void TestModemSim::toolHangupEndsProcess() {
    QProcess tool;
    QString path;
    QVERIFY(startTool(tool, {QStringLiteral("--hangup-at"), QStringLiteral("1")}, &path));
    Port port(path);
    port.exchange("ATE0");
    QCOMPARE(port.exchange("AT+CMGS=17"), "\r\n> ");
    port.write("00" + HelloPdu + "\x1A\r\n");
    QVERIFY(port.seesHangup(Patience));
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
    QTest::newRow("PIN of letters") << QStringList{"--pin", "abcd"} << QByteArray("--pin");
    QTest::newRow("unknown registration")
        << QStringList{"--registration", "roaming"} << QByteArray("--registration");
    QTest::newRow("flood of 0 ms") << QStringList{"--urc-flood", "0"} << QByteArray("--urc-flood");
    QTest::newRow("stray argument") << QStringList{"extra"} << QByteArray("extra");
    QTest::newRow("unwritable log") << QStringList{"--log", "/nonexistent-dir/x.jsonl"}
                                    << QByteArray("/nonexistent-dir/x.jsonl");
}

void TestModemSim::toolRejectsBadArguments() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);

    QProcess tool;
    tool.start(toolPath(), arguments);
    QVERIFY(tool.waitForFinished(Patience));
    QVERIFY(tool.exitCode() != 0);
    QCOMPARE(tool.readAllStandardOutput(), QByteArray());
    QVERIFY(tool.readAllStandardError().contains(message));
}

void TestModemSim::toolHelp() {
    QProcess tool;
    tool.start(toolPath(), {QStringLiteral("--help")});
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
