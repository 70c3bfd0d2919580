// The serial port and the serial link on a real pseudo-terminal: line settings, exclusive
// opening, the exact bytes of a command, read waits, hang-ups, stops and bad input.
#include "app/Errors.h"
#include "link/ComPort.h"
#include "link/GsmSerial.h"
#include "link/WaitSignal.h"
#include "support/PtyPair.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

using TLines = QList<QByteArray>;

namespace {

QString ErrorOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const EPelorvane &e) {
        return e.Message();
    }
    return QString();
}

// The second process of the exclusive-open test: opens the port, says what happened.
int TryOpen(const char *path, bool asNobody) {
    if (asNobody && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
        std::printf("cannot drop privileges\n");
        std::fflush(stdout);
        return 3;
    }
    QCoreApplication::setApplicationName("tst_comport");
    TComPort port(path);
    try {
        port.Open();
    } catch (const EPelorvane &e) {
        std::printf("%s\n", qPrintable(e.Message()));
        std::fflush(stdout);
        return 1;
    }
    std::printf("opened\n");
    return 0;
}

// Runs this executable as a second process. fork and exec rather than QProcess, whose
// vfork-style start upsets ThreadSanitizer in the parent.
QString RunTryOpen(const QByteArray &path, bool asNobody, int *exitCode) {
    const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
    const char *mode = asNobody ? "--try-open-as-nobody" : "--try-open";
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return QStringLiteral("no pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execl(self.constData(), self.constData(), mode, path.constData(), nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    QByteArray said;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
        said.append(buffer, n);
    ::close(out[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return QStringLiteral("child failed");
    *exitCode = WEXITSTATUS(status);
    return QString::fromLocal8Bit(said).trimmed();
}

void MakeFile(const QString &path, const QByteArray &content = {}) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestComPort : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void devicePath_data();
    void devicePath();
    void listPortsSkipsVirtualAndPhantomTtys();
    void listPortsOfThisSystem();

    void openFailures_data();
    void openFailures();
    void openAppliesRawLineSettings();
    void bytesPassUnchanged();
    void reopenAfterClose();
    void setPortNameWhileOpenMovesThePort();
    void closedPortOperationsFail_data();
    void closedPortOperationsFail();
    void stopSignalEndsWaitAndIsConsumed();

    void secondObjectCannotOpen();
    void secondProcessCannotOpen();

    void writeCommandPutsExactBytes();
    void writeCommandFailsWhenNothingLeaves();
    void openOnOpenLinkLeavesPortAndClearsAborted();
    void ownedPortIsClosedWithTheLink();
    void readAvailableOnPty();
    void waitResponseOnPty();
    void timeoutOnPty();
    void hangupGivesTransportError_data();
    void hangupGivesTransportError();
    void stopEndsWait_data();
    void stopEndsWait();
    void megabyteBurstEndsOnStop();
    void garbageAndNulBeforeAnswer();
};

void TestComPort::devicePath_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("COM1") << QByteArray("COM1") << QByteArray("/dev/ttyS0");
    QTest::newRow("COM10") << QByteArray("COM10") << QByteArray("/dev/ttyS9");
    QTest::newRow("lower case com") << QByteArray("com3") << QByteArray("/dev/ttyS2");
    QTest::newRow("COM0 is no COM port") << QByteArray("COM0") << QByteArray("/dev/COM0");
    QTest::newRow("COM without number") << QByteArray("COM") << QByteArray("/dev/COM");
    QTest::newRow("COM with sign") << QByteArray("COM-1") << QByteArray("/dev/COM-1");
    QTest::newRow("COM with letters") << QByteArray("COM1a") << QByteArray("/dev/COM1a");
    QTest::newRow("huge COM number")
        << QByteArray("COM99999999999999999999") << QByteArray("/dev/COM99999999999999999999");
    QTest::newRow("USB name") << QByteArray("ttyUSB0") << QByteArray("/dev/ttyUSB0");
    QTest::newRow("rfcomm name") << QByteArray("rfcomm1") << QByteArray("/dev/rfcomm1");
    QTest::newRow("device path") << QByteArray("/dev/ttyACM0") << QByteArray("/dev/ttyACM0");
    QTest::newRow("pty path") << QByteArray("/dev/pts/7") << QByteArray("/dev/pts/7");
}

void TestComPort::devicePath() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, path);
    QCOMPARE(TComPort::DevicePath(name), path);
}

void TestComPort::listPortsSkipsVirtualAndPhantomTtys() {
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString sys = root.filePath("sys");
    const QString dev = root.filePath("dev");
    QVERIFY(QDir().mkpath(sys) && QDir().mkpath(dev));
    struct TEntry {
        const char *Name;
        bool Device;
        const char *Type; // nullptr: no type file
        bool Node;
    };
    const TEntry entries[] = {
        {"ttyS0", true, "4\n", true},      {"ttyS1", true, "0\n", true},
        {"ttyS10", true, "4", true},       {"ttyS2", true, "0", true},
        {"ttyUSB0", true, nullptr, true},  {"ttyACM0", true, nullptr, true},
        {"ttyACM1", true, nullptr, false}, {"rfcomm0", false, nullptr, true},
        {"tty0", false, nullptr, true},    {"tty1", false, nullptr, true},
        {"ptmx", false, nullptr, true},    {"console", false, nullptr, true},
        {"ttyAMA0", true, "83", true},
    };
    for (const TEntry &e : entries) {
        const QString dir = sys + '/' + e.Name;
        QVERIFY(QDir().mkpath(dir));
        if (e.Device)
            QVERIFY(QDir().mkpath(dir + "/device"));
        if (e.Type)
            MakeFile(dir + "/type", e.Type);
        if (e.Node)
            MakeFile(dev + '/' + e.Name);
    }
    QCOMPARE(TComPort::ListPorts(sys, dev),
             (TLines{"COM1", "COM11", "rfcomm0", "ttyACM0", "ttyAMA0", "ttyUSB0"}));
    QCOMPARE(TComPort::ListPorts(root.filePath("missing"), dev), TLines{});
}

void TestComPort::listPortsOfThisSystem() {
    const TLines ports = TComPort::ListPorts();
    for (const QByteArray &port : ports) {
        QVERIFY2(QFile::exists(QString::fromLocal8Bit(TComPort::DevicePath(port))), port);
        QVERIFY2(!port.startsWith("pts") && port != "ptmx" && port != "console" &&
                     !(port.startsWith("tty") && port.size() > 3 && std::isdigit(port[3])),
                 port);
    }
    for (qsizetype i = 1; i < ports.size(); ++i)
        QVERIFY(ports[i - 1].compare(ports[i], Qt::CaseInsensitive) <= 0);
}

void TestComPort::openFailures_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("error");
    QTest::newRow("missing device") << QByteArray("/dev/pelorvane-no-such-port")
                                    << "Unable to open com port (win error code: 2)";
    QTest::newRow("missing COM port")
        << QByteArray("COM999999") << "Unable to open com port (win error code: 2)";
    QTest::newRow("empty name") << QByteArray() << "Unable to open com port (win error code: 2)";
    QTest::newRow("not a terminal")
        << QByteArray("FILE") << "Unable to open com port (win error code: 25)";
}

void TestComPort::openFailures() {
    QFETCH(QByteArray, name);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QByteArray content = "keep me\n";
    if (name == "FILE") {
        name = QFile::encodeName(dir.filePath("plain"));
        MakeFile(QString::fromLocal8Bit(name), content);
    }
    TComPort port(name);
    QCOMPARE(ErrorOf([&] { port.Open(); }), error);
    QVERIFY(!port.IsOpen());
    if (name.startsWith('/') && QFile::exists(QString::fromLocal8Bit(name))) {
        QFile file(QString::fromLocal8Bit(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }
}

void TestComPort::openAppliesRawLineSettings() {
    TPtyPair pty;
    QVERIFY(pty.IsValid());
    TComPort port(pty.SlavePath());
    port.Open();
    QVERIFY(port.IsOpen());
    termios tio{};
    QCOMPARE(::tcgetattr(port.Handle(), &tio), 0);
    QCOMPARE(::cfgetospeed(&tio), speed_t(B115200));
    QCOMPARE(::cfgetispeed(&tio), speed_t(B115200));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | IXANY | INPCK | ISTRIP | ICRNL | INLCR | IGNCR | PARMRK),
             tcflag_t(0));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(int(tio.c_cc[VMIN]), 0);
    QCOMPARE(int(tio.c_cc[VTIME]), 0);
    QVERIFY(::fcntl(port.Handle(), F_GETFD) & FD_CLOEXEC);
}

void TestComPort::bytesPassUnchanged() {
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    port.Open();
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    QVERIFY(pty.Write(all));
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    while (received.size() < all.size() && timer.elapsed() < 2000) {
        port.WaitForChar(100, nullptr);
        QByteArray part(port.BytesWaiting(), '\0');
        part.resize(port.Read(part.data(), int(part.size())));
        received += part;
    }
    QCOMPARE(received, all);
    QCOMPARE(port.Write(all.constData(), int(all.size())), 256);
    QCOMPARE(pty.Read(257, 300), all);
}

void TestComPort::reopenAfterClose() {
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    for (int round = 0; round < 3; ++round) {
        port.Open();
        QVERIFY(port.IsOpen());
        port.Close();
        QVERIFY(!port.IsOpen());
        port.Close();
    }
    // A closed port leaves the device to anybody else.
    TComPort other(pty.SlavePath());
    other.Open();
    QVERIFY(other.IsOpen());
}

void TestComPort::setPortNameWhileOpenMovesThePort() {
    TPtyPair first, second;
    TComPort port(first.SlavePath());
    port.Open();
    port.SetPortName(second.SlavePath());
    QVERIFY(port.IsOpen());
    QCOMPARE(port.PortName(), second.SlavePath());
    QCOMPARE(port.Write("A", 1), 1);
    QCOMPARE(second.Read(1, 500), QByteArray("A"));
    TComPort other(first.SlavePath());
    other.Open();
    QVERIFY(other.IsOpen());
}

void TestComPort::closedPortOperationsFail_data() {
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("error");
    QTest::newRow("bytes waiting") << 0 << "ClearCommError function failed (win error code: 9)";
    QTest::newRow("read") << 1 << "ReadFile function failed (win error code: 9)";
    QTest::newRow("wait") << 2 << "WaitForEvent method failed (win error code: 9)";
    QTest::newRow("write") << 3 << "WriteFile function failed (win error code: 9)";
}

void TestComPort::closedPortOperationsFail() {
    QFETCH(int, operation);
    QFETCH(QString, error);
    TComPort port("COM1");
    char buffer[8];
    const auto run = [&] {
        switch (operation) {
        case 0:
            port.BytesWaiting();
            break;
        case 1:
            port.Read(buffer, 8);
            break;
        case 2:
            port.WaitForChar(10, nullptr);
            break;
        default:
            port.Write("AT", 2);
        }
    };
    QCOMPARE(ErrorOf(run), error);
    // Nothing asked, nothing done.
    QCOMPARE(port.Read(buffer, 0), 0);
    QCOMPARE(port.Write(buffer, 0), 0);
}

void TestComPort::stopSignalEndsWaitAndIsConsumed() {
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    port.Open();
    TWaitSignal stop;
    QVERIFY(!stop.IsSet());
    stop.Set();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(port.WaitForChar(5000, &stop), unsigned(TComPort::evNone));
    QVERIFY(timer.elapsed() < 1000);
    QVERIFY(!stop.IsSet());
    QVERIFY(pty.Write("x"));
    QCOMPARE(port.WaitForChar(5000, &stop), unsigned(TComPort::evRxChar));
    QCOMPARE(port.BytesWaiting(), 1);
}

void TestComPort::secondObjectCannotOpen() {
    TPtyPair pty;
    TComPort first(pty.SlavePath());
    first.Open();
    TComPort second(pty.SlavePath());
    const QString error = ErrorOf([&] { second.Open(); });
    // Root passes the terminal's exclusive flag and meets the lock instead.
    QVERIFY2(
        error == QStringLiteral("Unable to open com port (win error code: %1)").arg(EBUSY) ||
            error ==
                QStringLiteral("Unable to open com port (win error code: %1)").arg(EWOULDBLOCK),
        qPrintable(error));
    QVERIFY(!second.IsOpen());
    // The failed attempt must not have loosened the first one's hold.
    QCOMPARE(first.Write("AT\r\n", 4), 4);
    QCOMPARE(pty.Read(4, 500), QByteArray("AT\r\n"));
    QVERIFY(!ErrorOf([&] { TComPort(pty.SlavePath()).Open(); }).isEmpty());
    first.Close();
    second.Open();
    QVERIFY(second.IsOpen());
}

void TestComPort::secondProcessCannotOpen() {
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    port.Open();
    int code = -1;
    QString said = RunTryOpen(pty.SlavePath(), false, &code);
    QCOMPARE(code, 1);
    QVERIFY2(said.startsWith("Unable to open com port (win error code: "), qPrintable(said));

    const bool root = ::geteuid() == 0;
    if (root) {
        // Without root the terminal's exclusive flag is what refuses.
        QCOMPARE(::chmod(pty.SlavePath().constData(), 0666), 0);
        said = RunTryOpen(pty.SlavePath(), true, &code);
        QCOMPARE(said, QStringLiteral("Unable to open com port (win error code: %1)").arg(EBUSY));
        QCOMPARE(code, 1);
    }
    port.Close();
    said = RunTryOpen(pty.SlavePath(), false, &code);
    QCOMPARE(said, QStringLiteral("opened"));
    if (root) {
        said = RunTryOpen(pty.SlavePath(), true, &code);
        QCOMPARE(said, QStringLiteral("opened"));
    }
}

void TestComPort::writeCommandPutsExactBytes() {
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    TGsmSerial link(port);
    QVERIFY(!link.Connected());
    link.Open();
    QVERIFY(link.Connected());
    TLines sent;
    link.OnCommandSent = [&](TGsmLink &, const QByteArray &command) { sent.append(command); };
    QCOMPARE(link.WriteCommand("AT"), 4);
    QCOMPARE(pty.Read(100, 300), QByteArray("\x41\x54\x0d\x0a"));
    QCOMPARE(sent, TLines{"AT"});
    // A message body ends with Ctrl-Z and still gets its line end.
    QCOMPARE(link.WriteCommand("0011\x1a"), 7);
    QCOMPARE(pty.Read(100, 300), QByteArray("0011\x1a\r\n"));
    link.Close();
    QVERIFY(!link.Connected());
    QVERIFY(!port.IsOpen());
}

void TestComPort::writeCommandFailsWhenNothingLeaves() {
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    TGsmSerial link(port);
    link.Open();
    // Fill the line while the other end reads nothing, until the pty has moved all it can.
    const QByteArray block(4096, 'x');
    for (bool moved = true; moved;) {
        moved = false;
        while (::write(port.Handle(), block.constData(), size_t(block.size())) > 0)
            moved = true;
        QCOMPARE(errno, EAGAIN);
        QTest::qWait(50);
    }
    bool sentCalled = false;
    link.OnCommandSent = [&](TGsmLink &, const QByteArray &) { sentCalled = true; };
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(ErrorOf([&] { link.WriteCommand("AT"); }),
             QStringLiteral("Cannot write data to COM port"));
    // 500 ms plus 50 ms for each of the four bytes.
    QVERIFY2(timer.elapsed() >= 690 && timer.elapsed() < 2500,
             qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!sentCalled);
}

void TestComPort::openOnOpenLinkLeavesPortAndClearsAborted() {
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    TGsmSerial link(port);
    link.Open();
    const int handle = port.Handle();
    QVERIFY(pty.Write("\r\nRING\r\n"));
    QTest::qWait(20);
    link.Aborted = true;
    link.Open();
    QVERIFY(!link.Aborted);
    QCOMPARE(port.Handle(), handle);
    QVERIFY(link.Connected());
    // What the modem sent before is still there.
    QByteArray chunk;
    QCOMPARE(link.ReadAvailable(chunk, 100), 8);
    QCOMPARE(chunk, QByteArray("\r\nRING\r\n"));
}

void TestComPort::ownedPortIsClosedWithTheLink() {
    TPtyPair pty;
    {
        auto owned = std::make_unique<TComPort>(pty.SlavePath());
        TComPort *port = owned.get();
        TGsmSerial link(std::move(owned));
        QCOMPARE(&link.Port(), port);
        link.Open();
        QVERIFY(port->IsOpen());
    }
    TComPort again(pty.SlavePath());
    again.Open();
    { TGsmSerial borrowing(again); }
    // Destroying a link closes the port but leaves the object to its owner.
    QVERIFY(!again.IsOpen());
    again.Open();
    QVERIFY(again.IsOpen());
}

void TestComPort::readAvailableOnPty() {
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    TGsmSerial link(port);
    link.Open();
    QByteArray chunk = "stale";
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(link.ReadAvailable(chunk, 100), -2);
    QVERIFY(timer.elapsed() >= 90);
    QVERIFY(chunk.isEmpty());

    QVERIFY(pty.Write("OK\r\n"));
    QTest::qWait(20);
    timer.restart();
    QCOMPARE(link.ReadAvailable(chunk, 5000), 4);
    QCOMPARE(chunk, QByteArray("OK\r\n"));
    QVERIFY(timer.elapsed() < 1000);

    std::thread modem([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.Write("+CSQ");
    });
    timer.restart();
    const int n = link.ReadAvailable(chunk, 5000);
    modem.join();
    QVERIFY(n >= 1 && n <= 4);
    QCOMPARE(chunk, QByteArray("+CSQ").left(n));
    QVERIFY(timer.elapsed() < 2000);

    QCOMPARE(link.ReadCount(chunk, 0), 0);
    QVERIFY(chunk.isEmpty());
}

void TestComPort::waitResponseOnPty() {
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    TGsmSerial link(port);
    link.Open();
    std::thread modem([&] {
        const QByteArray command = pty.Read(8, 2000);
        if (command == "AT+CSQ\r\n") {
            pty.Write("AT+CSQ\r\r\n+CS");
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            pty.Write("Q: 17,99\r\n\r\nOK");
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            pty.Write("\r\n");
        }
    });
    const bool ok = link.ExecuteCommand("AT+CSQ");
    modem.join();
    QVERIFY(ok);
    QCOMPARE(link.Responses, (TLines{"AT+CSQ", "+CSQ: 17,99", "OK"}));
    QCOMPARE(link.InfoField(1), QByteArray("17"));
}

void TestComPort::timeoutOnPty() {
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    TGsmSerial link(port);
    link.Open();
    link.ReadWait = 5;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(ErrorOf([&] { link.ExecuteCommand("AT"); }),
             QStringLiteral("Timeout in reading COM port"));
    // 61 waits of 5 ms.
    QVERIFY2(timer.elapsed() >= 300 && timer.elapsed() < 3000,
             qPrintable(QString::number(timer.elapsed())));
    QVERIFY(link.Connected());
    QCOMPARE(TGsmSerial::ReadWaitMs, 500);
    QCOMPARE(TGsmSerial::EmptyWaitBudget, 60);
}

void TestComPort::hangupGivesTransportError_data() {
    QTest::addColumn<bool>("duringWait");
    QTest::addColumn<QString>("error");
    QTest::newRow("during the wait") << true << "Error in ReadBuffer";
    QTest::newRow("before the wait")
        << false << "ClearCommError function failed (win error code: 5)";
}

void TestComPort::hangupGivesTransportError() {
    QFETCH(bool, duringWait);
    QFETCH(QString, error);
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    TGsmSerial link(port);
    link.Open();
    QVERIFY(pty.Write("\r\n+CSQ: 1,99\r\n"));
    QTest::qWait(20);
    std::thread modem;
    if (duringWait) {
        modem = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            pty.CloseMaster();
        });
    } else {
        QByteArray chunk;
        QCOMPARE(link.ReadAvailable(chunk, 100), 14);
        pty.CloseMaster();
    }
    QElapsedTimer timer;
    timer.start();
    const QString said = ErrorOf([&] { link.WaitResponse(QByteArray(), true); });
    if (modem.joinable())
        modem.join();
    QCOMPARE(said, error);
    QVERIFY(timer.elapsed() < 2000);
    if (duringWait)
        QCOMPARE(link.Responses, TLines{"+CSQ: 1,99"});
    QCOMPARE(ErrorOf([&] { link.WriteCommand("AT"); }),
             QStringLiteral("WriteFile function failed (win error code: 5)"));
    link.Close();
    QVERIFY(!link.Connected());
}

void TestComPort::stopEndsWait_data() {
    QTest::addColumn<bool>("flagOnly");
    QTest::addColumn<int>("limitMs");
    // Setting the flag alone lets the read wait in progress run out (500 ms).
    QTest::newRow("Aborted flag") << true << 1500;
    QTest::newRow("Abort") << false << 300;
}

void TestComPort::stopEndsWait() {
    QFETCH(bool, flagOnly);
    QFETCH(int, limitMs);
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    TGsmSerial link(port);
    link.Open();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (flagOnly)
            link.Aborted = true;
        else
            link.Abort();
    });
    QElapsedTimer timer;
    timer.start();
    const bool result = link.ExecuteCommand("AT");
    const qint64 elapsed = timer.elapsed();
    stopper.join();
    QVERIFY(!result);
    QVERIFY2(elapsed < limitMs, qPrintable(QString::number(elapsed)));
    QVERIFY(!link.WaitResponse(QByteArray(), true));
    link.Open();
    QVERIFY(!link.Aborted);
}

void TestComPort::megabyteBurstEndsOnStop() {
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    TGsmSerial link(port);
    link.Open();
    QByteArray burst(1 << 20, '\0');
    for (qsizetype i = 0; i < burst.size(); ++i) {
        const char c = char((i * 37 + 11) % 256);
        burst[i] = c == '\r' || c == '\n' || c == 'O' || c == 'E' || c == '>' ? '.' : c;
    }
    std::atomic<bool> written{false};
    std::thread modem([&] {
        written = pty.Write(burst, 20000);
        link.Abort();
    });
    QElapsedTimer timer;
    timer.start();
    const bool result = link.WaitResponse("> ", false);
    modem.join();
    QVERIFY(written);
    QVERIFY(!result);
    QVERIFY(link.Responses.isEmpty());
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
}

void TestComPort::garbageAndNulBeforeAnswer() {
    TPtyPair pty;
    TComPort port(pty.SlavePath());
    TGsmSerial link(port);
    link.Open();
    QByteArray noise(300, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char(i % 7 == 0 ? 0 : 0x80 + i % 100);
    QVERIFY(pty.Write(noise + "\r\nOK\r\n"));
    QVERIFY(link.WaitResponse(QByteArray(), true));
    QCOMPARE(link.Responses.size(), 2);
    QCOMPARE(link.Responses[0], QByteArray(noise).replace('\0', QByteArray()));
    QCOMPARE(link.Responses[1], QByteArray("OK"));
}

int main(int argc, char *argv[]) {
    if (argc == 3 && std::strcmp(argv[1], "--try-open") == 0)
        return TryOpen(argv[2], false);
    if (argc == 3 && std::strcmp(argv[1], "--try-open-as-nobody") == 0)
        return TryOpen(argv[2], true);
    QCoreApplication app(argc, argv);
    TestComPort test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_comport.moc"
