// The serial port and the serial link on a real pseudo-terminal: line settings, exclusive
// opening, the exact bytes of a command, read waits, hang-ups, stops and bad input.
#include "base/Error.h"
#include "link/GsmSerial.h"
#include "link/SerialPort.h"
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

using Lines = QList<QByteArray>;

namespace {

QString errorOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const Error &e) {
        return e.message();
    }
    return QString();
}

// The second process of the exclusive-open test: opens the port, says what happened.
int tryOpen(const char *path, bool asNobody) {
    if (asNobody && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
        std::printf("cannot drop privileges\n");
        std::fflush(stdout);
        return 3;
    }
    QCoreApplication::setApplicationName("tst_comport");
    SerialPort port(path);
    try {
        port.open();
    } catch (const Error &e) {
        std::printf("%s\n", qPrintable(e.message()));
        std::fflush(stdout);
        return 1;
    }
    std::printf("opened\n");
    return 0;
}

// Runs this executable as a second process. fork and exec rather than QProcess, whose
// vfork-style start upsets ThreadSanitizer in the parent.
QString runTryOpen(const QByteArray &path, bool asNobody, int *exitCode) {
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

void makeFile(const QString &path, const QByteArray &content = {}) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestSerialPort : public QObject {
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

void TestSerialPort::devicePath_data() {
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

void TestSerialPort::devicePath() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, path);
    QCOMPARE(SerialPort::devicePath(name), path);
}

void TestSerialPort::listPortsSkipsVirtualAndPhantomTtys() {
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString sys = root.filePath("sys");
    const QString dev = root.filePath("dev");
    QVERIFY(QDir().mkpath(sys) && QDir().mkpath(dev));
    struct Entry {
        const char *name;
        bool device;
        const char *type; // nullptr: no type file
        bool node;
    };
    const Entry entries[] = {
        {"ttyS0", true, "4\n", true},      {"ttyS1", true, "0\n", true},
        {"ttyS10", true, "4", true},       {"ttyS2", true, "0", true},
        {"ttyUSB0", true, nullptr, true},  {"ttyACM0", true, nullptr, true},
        {"ttyACM1", true, nullptr, false}, {"rfcomm0", false, nullptr, true},
        {"tty0", false, nullptr, true},    {"tty1", false, nullptr, true},
        {"ptmx", false, nullptr, true},    {"console", false, nullptr, true},
        {"ttyAMA0", true, "83", true},
    };
    for (const Entry &e : entries) {
        const QString dir = sys + '/' + e.name;
        QVERIFY(QDir().mkpath(dir));
        if (e.device)
            QVERIFY(QDir().mkpath(dir + "/device"));
        if (e.type)
            makeFile(dir + "/type", e.type);
        if (e.node)
            makeFile(dev + '/' + e.name);
    }
    QCOMPARE(SerialPort::listPorts(sys, dev),
             (Lines{"COM1", "COM11", "rfcomm0", "ttyACM0", "ttyAMA0", "ttyUSB0"}));
    QCOMPARE(SerialPort::listPorts(root.filePath("missing"), dev), Lines{});
}

void TestSerialPort::listPortsOfThisSystem() {
    const Lines ports = SerialPort::listPorts();
    for (const QByteArray &port : ports) {
        QVERIFY2(QFile::exists(QString::fromLocal8Bit(SerialPort::devicePath(port))), port);
        QVERIFY2(!port.startsWith("pts") && port != "ptmx" && port != "console" &&
                     !(port.startsWith("tty") && port.size() > 3 && std::isdigit(port[3])),
                 port);
    }
    for (qsizetype i = 1; i < ports.size(); ++i)
        QVERIFY(ports[i - 1].compare(ports[i], Qt::CaseInsensitive) <= 0);
}

void TestSerialPort::openFailures_data() {
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

void TestSerialPort::openFailures() {
    QFETCH(QByteArray, name);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QByteArray content = "keep me\n";
    if (name == "FILE") {
        name = QFile::encodeName(dir.filePath("plain"));
        makeFile(QString::fromLocal8Bit(name), content);
    }
    SerialPort port(name);
    QCOMPARE(errorOf([&] { port.open(); }), error);
    QVERIFY(!port.isOpen());
    if (name.startsWith('/') && QFile::exists(QString::fromLocal8Bit(name))) {
        QFile file(QString::fromLocal8Bit(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }
}

void TestSerialPort::openAppliesRawLineSettings() {
    PtyPair pty;
    QVERIFY(pty.isValid());
    SerialPort port(pty.slavePath());
    port.open();
    QVERIFY(port.isOpen());
    termios tio{};
    QCOMPARE(::tcgetattr(port.handle(), &tio), 0);
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
    QVERIFY(::fcntl(port.handle(), F_GETFD) & FD_CLOEXEC);
}

void TestSerialPort::bytesPassUnchanged() {
    PtyPair pty;
    SerialPort port(pty.slavePath());
    port.open();
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    QVERIFY(pty.write(all));
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    while (received.size() < all.size() && timer.elapsed() < 2000) {
        port.waitForChar(100, nullptr);
        QByteArray part(port.bytesWaiting(), '\0');
        part.resize(port.read(part.data(), int(part.size())));
        received += part;
    }
    QCOMPARE(received, all);
    QCOMPARE(port.write(all.constData(), int(all.size())), 256);
    QCOMPARE(pty.read(257, 300), all);
}

void TestSerialPort::reopenAfterClose() {
    PtyPair pty;
    SerialPort port(pty.slavePath());
    for (int round = 0; round < 3; ++round) {
        port.open();
        QVERIFY(port.isOpen());
        port.close();
        QVERIFY(!port.isOpen());
        port.close();
    }
    // A closed port leaves the device to anybody else.
    SerialPort other(pty.slavePath());
    other.open();
    QVERIFY(other.isOpen());
}

void TestSerialPort::setPortNameWhileOpenMovesThePort() {
    PtyPair first, second;
    SerialPort port(first.slavePath());
    port.open();
    port.setPortName(second.slavePath());
    QVERIFY(port.isOpen());
    QCOMPARE(port.portName(), second.slavePath());
    QCOMPARE(port.write("A", 1), 1);
    QCOMPARE(second.read(1, 500), QByteArray("A"));
    SerialPort other(first.slavePath());
    other.open();
    QVERIFY(other.isOpen());
}

void TestSerialPort::closedPortOperationsFail_data() {
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("error");
    QTest::newRow("bytes waiting") << 0 << "ClearCommError function failed (win error code: 9)";
    QTest::newRow("read") << 1 << "ReadFile function failed (win error code: 9)";
    QTest::newRow("wait") << 2 << "WaitForEvent method failed (win error code: 9)";
    QTest::newRow("write") << 3 << "WriteFile function failed (win error code: 9)";
}

void TestSerialPort::closedPortOperationsFail() {
    QFETCH(int, operation);
    QFETCH(QString, error);
    SerialPort port("COM1");
    char buffer[8];
    const auto run = [&] {
        switch (operation) {
        case 0:
            port.bytesWaiting();
            break;
        case 1:
            port.read(buffer, 8);
            break;
        case 2:
            port.waitForChar(10, nullptr);
            break;
        default:
            port.write("AT", 2);
        }
    };
    QCOMPARE(errorOf(run), error);
    // Nothing asked, nothing done.
    QCOMPARE(port.read(buffer, 0), 0);
    QCOMPARE(port.write(buffer, 0), 0);
}

void TestSerialPort::stopSignalEndsWaitAndIsConsumed() {
    PtyPair pty;
    SerialPort port(pty.slavePath());
    port.open();
    WaitSignal stop;
    QVERIFY(!stop.isSet());
    stop.set();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(port.waitForChar(5000, &stop), unsigned(SerialPort::NoEvent));
    QVERIFY(timer.elapsed() < 1000);
    QVERIFY(!stop.isSet());
    QVERIFY(pty.write("x"));
    QCOMPARE(port.waitForChar(5000, &stop), unsigned(SerialPort::CharReceived));
    QCOMPARE(port.bytesWaiting(), 1);
}

void TestSerialPort::secondObjectCannotOpen() {
    PtyPair pty;
    SerialPort first(pty.slavePath());
    first.open();
    SerialPort second(pty.slavePath());
    const QString error = errorOf([&] { second.open(); });
    // Root passes the terminal's exclusive flag and meets the lock instead. The holder is
    // named on the next line.
    const QString code = error.section(u'\n', 0, 0);
    QVERIFY2(
        code == QStringLiteral("Unable to open com port (win error code: %1)").arg(EBUSY) ||
            code == QStringLiteral("Unable to open com port (win error code: %1)").arg(EWOULDBLOCK),
        qPrintable(error));
    QVERIFY2(error.section(u'\n', 1, 1).contains(QStringLiteral(" is in use by ")),
             qPrintable(error));
    QVERIFY(!second.isOpen());
    // The failed attempt must not have loosened the first one's hold.
    QCOMPARE(first.write("AT\r\n", 4), 4);
    QCOMPARE(pty.read(4, 500), QByteArray("AT\r\n"));
    QVERIFY(!errorOf([&] { SerialPort(pty.slavePath()).open(); }).isEmpty());
    first.close();
    second.open();
    QVERIFY(second.isOpen());
}

void TestSerialPort::secondProcessCannotOpen() {
    PtyPair pty;
    SerialPort port(pty.slavePath());
    port.open();
    int code = -1;
    QString said = runTryOpen(pty.slavePath(), false, &code);
    QCOMPARE(code, 1);
    QVERIFY2(said.startsWith("Unable to open com port (win error code: "), qPrintable(said));

    const bool root = ::geteuid() == 0;
    if (root) {
        // Without root the terminal's exclusive flag is what refuses.
        QCOMPARE(::chmod(pty.slavePath().constData(), 0666), 0);
        said = runTryOpen(pty.slavePath(), true, &code);
        QCOMPARE(said.section(u'\n', 0, 0),
                 QStringLiteral("Unable to open com port (win error code: %1)").arg(EBUSY));
        // Root's descriptors are closed to nobody: the holder cannot be named, only found.
        QCOMPARE(said.section(u'\n', 1),
                 QStringLiteral("%1 is in use by another program (sudo fuser -v %2 names it)")
                     .arg(QString::fromLocal8Bit(pty.slavePath().mid(5)),
                          QString::fromLocal8Bit(pty.slavePath())));
        QCOMPARE(code, 1);
    }
    port.close();
    said = runTryOpen(pty.slavePath(), false, &code);
    QCOMPARE(said, QStringLiteral("opened"));
    if (root) {
        said = runTryOpen(pty.slavePath(), true, &code);
        QCOMPARE(said, QStringLiteral("opened"));
    }
}

void TestSerialPort::writeCommandPutsExactBytes() {
    PtyPair pty;
    SerialPort port(pty.slavePath());
    GsmSerial link(port);
    QVERIFY(!link.connected());
    link.open();
    QVERIFY(link.connected());
    Lines sent;
    link.onCommandSent = [&](GsmLink &, const QByteArray &command) { sent.append(command); };
    QCOMPARE(link.writeCommand("AT"), 4);
    QCOMPARE(pty.read(100, 300), QByteArray("\x41\x54\x0d\x0a"));
    QCOMPARE(sent, Lines{"AT"});
    // A message body ends with Ctrl-Z and still gets its line end.
    QCOMPARE(link.writeCommand("0011\x1a"), 7);
    QCOMPARE(pty.read(100, 300), QByteArray("0011\x1a\r\n"));
    link.close();
    QVERIFY(!link.connected());
    QVERIFY(!port.isOpen());
}

void TestSerialPort::writeCommandFailsWhenNothingLeaves() {
    PtyPair pty;
    SerialPort port(pty.slavePath());
    GsmSerial link(port);
    link.open();
    // Fill the line while the other end reads nothing, until the pty has moved all it can.
    const QByteArray block(4096, 'x');
    for (bool moved = true; moved;) {
        moved = false;
        while (::write(port.handle(), block.constData(), size_t(block.size())) > 0)
            moved = true;
        QCOMPARE(errno, EAGAIN);
        QTest::qWait(50);
    }
    bool sentCalled = false;
    link.onCommandSent = [&](GsmLink &, const QByteArray &) { sentCalled = true; };
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(errorOf([&] { link.writeCommand("AT"); }),
             QStringLiteral("Cannot write data to COM port"));
    // 500 ms plus 50 ms for each of the four bytes.
    QVERIFY2(timer.elapsed() >= 690 && timer.elapsed() < 2500,
             qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!sentCalled);
}

void TestSerialPort::openOnOpenLinkLeavesPortAndClearsAborted() {
    PtyPair pty;
    SerialPort port(pty.slavePath());
    GsmSerial link(port);
    link.open();
    const int handle = port.handle();
    QVERIFY(pty.write("\r\nRING\r\n"));
    QTest::qWait(20);
    link.aborted = true;
    link.open();
    QVERIFY(!link.aborted);
    QCOMPARE(port.handle(), handle);
    QVERIFY(link.connected());
    // What the modem sent before is still there.
    QByteArray chunk;
    QCOMPARE(link.readAvailable(chunk, 100), 8);
    QCOMPARE(chunk, QByteArray("\r\nRING\r\n"));
}

void TestSerialPort::ownedPortIsClosedWithTheLink() {
    PtyPair pty;
    {
        auto owned = std::make_unique<SerialPort>(pty.slavePath());
        SerialPort *port = owned.get();
        GsmSerial link(std::move(owned));
        QCOMPARE(&link.port(), port);
        link.open();
        QVERIFY(port->isOpen());
    }
    SerialPort again(pty.slavePath());
    again.open();
    { GsmSerial borrowing(again); }
    // Destroying a link closes the port but leaves the object to its owner.
    QVERIFY(!again.isOpen());
    again.open();
    QVERIFY(again.isOpen());
}

void TestSerialPort::readAvailableOnPty() {
    PtyPair pty;
    SerialPort port(pty.slavePath());
    GsmSerial link(port);
    link.open();
    QByteArray chunk = "stale";
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(link.readAvailable(chunk, 100), -2);
    QVERIFY(timer.elapsed() >= 90);
    QVERIFY(chunk.isEmpty());

    QVERIFY(pty.write("OK\r\n"));
    QTest::qWait(20);
    timer.restart();
    QCOMPARE(link.readAvailable(chunk, 5000), 4);
    QCOMPARE(chunk, QByteArray("OK\r\n"));
    QVERIFY(timer.elapsed() < 1000);

    std::thread modem([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.write("+CSQ");
    });
    timer.restart();
    const int n = link.readAvailable(chunk, 5000);
    modem.join();
    QVERIFY(n >= 1 && n <= 4);
    QCOMPARE(chunk, QByteArray("+CSQ").left(n));
    QVERIFY(timer.elapsed() < 2000);

    QCOMPARE(link.readCount(chunk, 0), 0);
    QVERIFY(chunk.isEmpty());
}

void TestSerialPort::waitResponseOnPty() {
    PtyPair pty;
    SerialPort port(pty.slavePath());
    GsmSerial link(port);
    link.open();
    std::thread modem([&] {
        const QByteArray command = pty.read(8, 2000);
        if (command == "AT+CSQ\r\n") {
            pty.write("AT+CSQ\r\r\n+CS");
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            pty.write("Q: 17,99\r\n\r\nOK");
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            pty.write("\r\n");
        }
    });
    const bool ok = link.executeCommand("AT+CSQ");
    modem.join();
    QVERIFY(ok);
    QCOMPARE(link.responses, (Lines{"AT+CSQ", "+CSQ: 17,99", "OK"}));
    QCOMPARE(link.infoField(1), QByteArray("17"));
}

void TestSerialPort::timeoutOnPty() {
    PtyPair pty;
    SerialPort port(pty.slavePath());
    GsmSerial link(port);
    link.open();
    link.readWait = 5;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(errorOf([&] { link.executeCommand("AT"); }),
             QStringLiteral("Timeout in reading COM port"));
    // 61 waits of 5 ms.
    QVERIFY2(timer.elapsed() >= 300 && timer.elapsed() < 3000,
             qPrintable(QString::number(timer.elapsed())));
    QVERIFY(link.connected());
    QCOMPARE(GsmSerial::ReadWaitMs, 500);
    QCOMPARE(GsmSerial::EmptyWaitBudget, 60);
}

void TestSerialPort::hangupGivesTransportError_data() {
    QTest::addColumn<bool>("duringWait");
    QTest::addColumn<QString>("error");
    QTest::newRow("during the wait") << true << "Error in ReadBuffer";
    QTest::newRow("before the wait")
        << false << "ClearCommError function failed (win error code: 5)";
}

void TestSerialPort::hangupGivesTransportError() {
    QFETCH(bool, duringWait);
    QFETCH(QString, error);
    PtyPair pty;
    SerialPort port(pty.slavePath());
    GsmSerial link(port);
    link.open();
    QVERIFY(pty.write("\r\n+CSQ: 1,99\r\n"));
    QTest::qWait(20);
    std::thread modem;
    if (duringWait) {
        modem = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            pty.closeMaster();
        });
    } else {
        QByteArray chunk;
        QCOMPARE(link.readAvailable(chunk, 100), 14);
        pty.closeMaster();
    }
    QElapsedTimer timer;
    timer.start();
    const QString said = errorOf([&] { link.waitResponse(QByteArray(), true); });
    if (modem.joinable())
        modem.join();
    QCOMPARE(said, error);
    QVERIFY(timer.elapsed() < 2000);
    if (duringWait)
        QCOMPARE(link.responses, Lines{"+CSQ: 1,99"});
    QCOMPARE(errorOf([&] { link.writeCommand("AT"); }),
             QStringLiteral("WriteFile function failed (win error code: 5)"));
    link.close();
    QVERIFY(!link.connected());
}

void TestSerialPort::stopEndsWait_data() {
    QTest::addColumn<bool>("flagOnly");
    QTest::addColumn<int>("limitMs");
    // Setting the flag alone lets the read wait in progress run out (500 ms).
    QTest::newRow("Aborted flag") << true << 1500;
    QTest::newRow("Abort") << false << 300;
}

void TestSerialPort::stopEndsWait() {
    QFETCH(bool, flagOnly);
    QFETCH(int, limitMs);
    PtyPair pty;
    SerialPort port(pty.slavePath());
    GsmSerial link(port);
    link.open();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (flagOnly)
            link.aborted = true;
        else
            link.abort();
    });
    QElapsedTimer timer;
    timer.start();
    const bool result = link.executeCommand("AT");
    const qint64 elapsed = timer.elapsed();
    stopper.join();
    QVERIFY(!result);
    QVERIFY2(elapsed < limitMs, qPrintable(QString::number(elapsed)));
    QVERIFY(!link.waitResponse(QByteArray(), true));
    link.open();
    QVERIFY(!link.aborted);
}

void TestSerialPort::megabyteBurstEndsOnStop() {
    PtyPair pty;
    SerialPort port(pty.slavePath());
    GsmSerial link(port);
    link.open();
    QByteArray burst(1 << 20, '\0');
    for (qsizetype i = 0; i < burst.size(); ++i) {
        const char c = char((i * 37 + 11) % 256);
        burst[i] = c == '\r' || c == '\n' || c == 'O' || c == 'E' || c == '>' ? '.' : c;
    }
    std::atomic<bool> written{false};
    std::thread modem([&] {
        written = pty.write(burst, 20000);
        link.abort();
    });
    QElapsedTimer timer;
    timer.start();
    const bool result = link.waitResponse("> ", false);
    modem.join();
    QVERIFY(written);
    QVERIFY(!result);
    QVERIFY(link.responses.isEmpty());
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
}

void TestSerialPort::garbageAndNulBeforeAnswer() {
    PtyPair pty;
    SerialPort port(pty.slavePath());
    GsmSerial link(port);
    link.open();
    QByteArray noise(300, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char(i % 7 == 0 ? 0 : 0x80 + i % 100);
    QVERIFY(pty.write(noise + "\r\nOK\r\n"));
    QVERIFY(link.waitResponse(QByteArray(), true));
    QCOMPARE(link.responses.size(), 2);
    QCOMPARE(link.responses[0], QByteArray(noise).replace('\0', QByteArray()));
    QCOMPARE(link.responses[1], QByteArray("OK"));
}

int main(int argc, char *argv[]) {
    if (argc == 3 && std::strcmp(argv[1], "--try-open") == 0)
        return tryOpen(argv[2], false);
    if (argc == 3 && std::strcmp(argv[1], "--try-open-as-nobody") == 0)
        return tryOpen(argv[2], true);
    QCoreApplication app(argc, argv);
    TestSerialPort test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serialport.moc"
