// A port that cannot be opened, in plain words: who holds a busy port (read from /proc, real
// and built), what to do about ModemManager, and the group a refused user is missing; through
// the serial port itself, in a second process without privileges, and in pelorvane-cli.

#include "base/Error.h"
#include "link/PortHolder.h"
#include "link/PortTrouble.h"
#include "link/SerialPort.h"
#include "support/CliRun.h"
#include "support/PtyPair.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

using Process = PortHolder::Process;
Q_DECLARE_METATYPE(Process)

namespace {

const QString ThisProgram = QStringLiteral("tst_porttrouble");

QString openError(SerialPort &port) {
    return errorMessage([&] { port.open(); });
}

QString openErrorLine(int error) {
    return QStringLiteral("Unable to open com port (win error code: %1)").arg(error);
}

// The pty's name as the explanation gives it: "pts/3".
QString ptyName(const PtyPair &pty) {
    return QString::fromLocal8Bit(pty.slavePath()).mid(5);
}

bool makeLink(const QString &target, const QString &link) {
    QDir().mkpath(QFileInfo(link).path());
    return QFile::link(target, link);
}

// The second process of the refused-open test: opens the port as nobody, says what happened.
int openAsNobody(const char *path) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
        std::printf("cannot drop privileges\n");
        return 3;
    }
    SerialPort port(path);
    try {
        port.open();
    } catch (const Error &e) {
        std::printf("%s\n", qPrintable(e.message()));
        return 1;
    }
    std::printf("opened\n");
    return 0;
}

// Runs this executable again to open path as nobody; fork and exec rather than QProcess,
// whose vfork-style start upsets ThreadSanitizer.
QString runOpenAsNobody(const QByteArray &path) {
    const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return QStringLiteral("no pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execl(self.constData(), self.constData(), "--open-as-nobody", path.constData(), nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    QByteArray said;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
        said.append(buffer, n);
    ::close(out[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return QStringLiteral("child failed");
    return QString::fromLocal8Bit(said).trimmed();
}

// The pty's device node, or a link to it named as in /dev/serial/by-id; empty on failure.
QByteArray portPath(const PtyPair &pty, const QTemporaryDir &dir, bool throughLink) {
    if (!throughLink)
        return pty.slavePath();
    const QString link = dir.filePath(QStringLiteral("by-id/usb-Maker_Modem-if00-port0"));
    if (!makeLink(QString::fromLocal8Bit(pty.slavePath()), link))
        return QByteArray();
    return QFile::encodeName(link);
}

} // namespace

class TestPortTrouble : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void holderIsThisProcess_data();
    void holderIsThisProcess();
    void holdersInBuiltProc();
    void usbIdsFromSysfs_data();
    void usbIdsFromSysfs();
    void busyText_data();
    void busyText();
    void deniedText_data();
    void deniedText();
    void busyOpenNamesHolder_data();
    void busyOpenNamesHolder();
    void refusedOpenNamesGroup();
    void otherErrorsUnexplained();
    void cliProbeAndSendExplain();
};

void TestPortTrouble::holderIsThisProcess_data() {
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("device node") << false;
    QTest::newRow("link to it, as in /dev/serial/by-id") << true;
}

void TestPortTrouble::holderIsThisProcess() {
    QFETCH(bool, throughLink);
    PtyPair pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    const QByteArray path = portPath(pty, dir, throughLink);
    QVERIFY(!path.isEmpty());
    PortHolder finder;
    const Process self{::getpid(), ThisProgram};
    QVERIFY(!finder.holdersOf(path).contains(self));

    const int fd = ::open(pty.slavePath().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    const QList<Process> holders = finder.holdersOf(path);
    ::close(fd);
    QVERIFY2(holders.contains(self), qPrintable(QString::number(holders.size())));
    QCOMPARE(finder.processName(::getpid()), ThisProgram);
    QVERIFY(!finder.holdersOf(path).contains(self));
}

void TestPortTrouble::holdersInBuiltProc() {
    PtyPair pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    const QString proc = dir.filePath(QStringLiteral("proc"));
    const QString other = dir.filePath(QStringLiteral("other.log"));
    writeAll(other, "log");
    const QString port = QString::fromLocal8Bit(pty.slavePath());
    auto process = [&](const QString &pid, const QByteArray &comm, const QByteArray &cmdline) {
        QDir(proc).mkpath(pid + QStringLiteral("/fd"));
        writeAll(proc + u'/' + pid + QStringLiteral("/comm"), comm + '\n');
        writeAll(proc + u'/' + pid + QStringLiteral("/cmdline"), cmdline);
    };
    process(QStringLiteral("812"), "ModemManager", QByteArray("/usr/sbin/ModemManager\0", 23));
    QVERIFY(makeLink(port, proc + QStringLiteral("/812/fd/7")));
    QVERIFY(makeLink(other, proc + QStringLiteral("/812/fd/2")));
    process(QStringLiteral("900"), "minicom", QByteArray("minicom\0-D\0/dev/ttyUSB0\0", 24));
    QVERIFY(makeLink(other, proc + QStringLiteral("/900/fd/3")));
    // The kernel keeps 15 characters of the name: the command line gives the rest.
    process(QStringLiteral("77"), "pelorvane-modem",
            QByteArray("/usr/local/bin/pelorvane-modemsim\0--log\0x\0", 43));
    QVERIFY(makeLink(port, proc + QStringLiteral("/77/fd/5")));
    QVERIFY(makeLink(port, proc + QStringLiteral("/77/fd/6")));
    QDir(proc).mkpath(QStringLiteral("sys/fd"));
    QVERIFY(makeLink(port, proc + QStringLiteral("/sys/fd/1")));

    PortHolder finder(proc);
    QCOMPARE(finder.holdersOf(pty.slavePath()),
             (QList<Process>{{77, QStringLiteral("pelorvane-modemsim")},
                             {812, QStringLiteral("ModemManager")}}));
    QVERIFY(!finder.someHidden());
    // Files other than devices are the same file by inode.
    QCOMPARE(
        finder.holdersOf(QFile::encodeName(other)),
        (QList<Process>{{812, QStringLiteral("ModemManager")}, {900, QStringLiteral("minicom")}}));
    QCOMPARE(finder.processesNamed(QStringLiteral("ModemManager")),
             (QList<Process>{{812, QStringLiteral("ModemManager")}}));
    QVERIFY(finder.holdersOf(QFile::encodeName(dir.filePath(QStringLiteral("missing")))).isEmpty());

    if (::geteuid() != 0) {
        // Another user's descriptors cannot be read: the list may lack a holder, and says so.
        QVERIFY(
            QFile::setPermissions(proc + QStringLiteral("/900/fd"), QFileDevice::Permissions()));
        finder.holdersOf(QFile::encodeName(other));
        QVERIFY(finder.someHidden());
        QFile::setPermissions(proc + QStringLiteral("/900/fd"), QFileDevice::ReadOwner |
                                                                    QFileDevice::WriteOwner |
                                                                    QFileDevice::ExeOwner);
    }
}

void TestPortTrouble::usbIdsFromSysfs_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("found");
    QTest::newRow("USB serial adapter: ids two levels up") << QStringLiteral("ttyUSB0") << true;
    QTest::newRow("built-in port: no USB ids") << QStringLiteral("ttyS0") << false;
    QTest::newRow("pseudo-terminal: not in sysfs") << QStringLiteral("pts/3") << false;
}

void TestPortTrouble::usbIdsFromSysfs() {
    QFETCH(QString, port);
    QFETCH(bool, found);
    QTemporaryDir dir;
    const QString sys = dir.filePath(QStringLiteral("sys"));
    const QString usb = sys + QStringLiteral("/devices/pci0000:00/usb1/1-2");
    QDir().mkpath(usb + QStringLiteral("/1-2:1.0/ttyUSB0"));
    writeAll(usb + QStringLiteral("/idVendor"), "12d1\n");
    writeAll(usb + QStringLiteral("/idProduct"), "1001\n");
    QVERIFY(makeLink(usb + QStringLiteral("/1-2:1.0/ttyUSB0"),
                     sys + QStringLiteral("/class/tty/ttyUSB0/device")));
    QDir().mkpath(sys + QStringLiteral("/devices/platform/serial8250"));
    QVERIFY(makeLink(sys + QStringLiteral("/devices/platform/serial8250"),
                     sys + QStringLiteral("/class/tty/ttyS0/device")));

    QByteArray vendor, product;
    QCOMPARE(PortTrouble::usbIds(sys, port, &vendor, &product), found);
    QCOMPARE(vendor, found ? QByteArray("12d1") : QByteArray());
    QCOMPARE(product, found ? QByteArray("1001") : QByteArray());
}

void TestPortTrouble::busyText_data() {
    QTest::addColumn<QList<Process>>("holders");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<QList<Process>>("modemManagers");
    QTest::addColumn<QByteArray>("vendor");
    QTest::addColumn<QString>("text");
    const QList<Process> mm{{812, QStringLiteral("ModemManager")}};
    const QString rule =
        QStringLiteral("echo 'ACTION==\"add|change|move|bind\", ATTRS{idVendor}==\"%1\", "
                       "ATTRS{idProduct}==\"%2\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"' | sudo tee -a "
                       "/etc/udev/rules.d/99-pelorvane-modem.rules\n");
    const QString advice = QStringLiteral("Tell ModemManager to leave this modem alone with a "
                                          "udev rule, then unplug and replug the modem:\n");
    const QString reload =
        QStringLiteral("sudo udevadm control --reload && sudo udevadm trigger\n");
    const QString stop =
        QStringLiteral("Or stop ModemManager for this session: sudo systemctl stop ModemManager");

    QTest::newRow("ModemManager holds it: the rule with the modem's ids")
        << mm << false << mm << QByteArray("12d1")
        << QStringLiteral("ttyUSB0 is in use by ModemManager (pid 812)\n") + advice +
               rule.arg(QStringLiteral("12d1"), QStringLiteral("1001")) + reload + stop;
    QTest::newRow("ModemManager runs, root's descriptors hidden, ids unknown")
        << QList<Process>{} << true << mm << QByteArray()
        << QStringLiteral("ttyUSB0 is in use by another program, probably by ModemManager (pid "
                          "812), which is running\n") +
               advice + rule.arg(QStringLiteral("VENDOR"), QStringLiteral("PRODUCT")) + reload +
               QStringLiteral("VENDOR and PRODUCT are the modem's USB ids: udevadm info -q "
                              "property -n /dev/ttyUSB0 | grep -E 'ID_VENDOR_ID|ID_MODEL_ID'\n") +
               stop;
    QTest::newRow("a terminal program holds it")
        << QList<Process>{{4242, QStringLiteral("minicom")}} << false << QList<Process>{}
        << QByteArray()
        << QStringLiteral("ttyUSB0 is in use by minicom (pid 4242)\nClose the port in that "
                          "program, or choose another port.");
    QTest::newRow("three holders, ModemManager running apart")
        << QList<Process>{{1, QStringLiteral("a")},
                          {2, QStringLiteral("b")},
                          {3, QStringLiteral("c")}}
        << false << mm << QByteArray()
        << QStringLiteral("ttyUSB0 is in use by a (pid 1), b (pid 2) and c (pid 3)\nClose the "
                          "port in that program, or choose another port.");
    QTest::newRow("hidden holder, no ModemManager")
        << QList<Process>{} << true << QList<Process>{} << QByteArray()
        << QStringLiteral("ttyUSB0 is in use by another program (sudo fuser -v /dev/ttyUSB0 "
                          "names it)");
    QTest::newRow("no holder to be found")
        << QList<Process>{} << false << QList<Process>{} << QByteArray()
        << QStringLiteral("ttyUSB0 is in use by another program");
}

void TestPortTrouble::busyText() {
    QFETCH(QList<Process>, holders);
    QFETCH(bool, hidden);
    QFETCH(QList<Process>, modemManagers);
    QFETCH(QByteArray, vendor);
    QFETCH(QString, text);
    PortTrouble::BusyFacts facts;
    facts.port = QStringLiteral("ttyUSB0");
    facts.path = QStringLiteral("/dev/ttyUSB0");
    facts.holders = holders;
    facts.holdersHidden = hidden;
    facts.modemManagers = modemManagers;
    facts.vendorId = vendor;
    facts.productId = vendor.isEmpty() ? QByteArray() : QByteArray("1001");
    QCOMPARE(PortTrouble::busyText(facts), text);
}

void TestPortTrouble::deniedText_data() {
    QTest::addColumn<unsigned>("mode");
    QTest::addColumn<QString>("group");
    QTest::addColumn<bool>("inGroup");
    QTest::addColumn<bool>("listedInGroup");
    QTest::addColumn<bool>("root");
    QTest::addColumn<bool>("examined");
    QTest::addColumn<QString>("text");
    const QString dialout = QStringLiteral("dialout");
    const QString root = QStringLiteral("root");
    const QString notAllowed = QStringLiteral(
        "ttyUSB0 (owner root, group %1, mode %2) may not be opened by you; serial ports "
        "normally belong to the group dialout with mode 0660.");

    QTest::newRow("not in dialout: how to join")
        << 0660u << dialout << false << false << false << true
        << QStringLiteral("You are not in the group dialout, which may open ttyUSB0. Join it, "
                          "then log out and back in:\nsudo usermod -aG dialout $USER");
    QTest::newRow("joined, but not since this login")
        << 0660u << dialout << false << true << false << true
        << QStringLiteral("You are in the group dialout, which may open ttyUSB0, but only since "
                          "after this login: log out and back in (then id -nG lists dialout).");
    QTest::newRow("another distribution's group is named")
        << 0660u << QStringLiteral("uucp") << false << false << false << true
        << QStringLiteral("You are not in the group uucp, which may open ttyUSB0. Join it, then "
                          "log out and back in:\nsudo usermod -aG uucp $USER");
    QTest::newRow("group may not open it") << 0600u << dialout << false << false << false << true
                                           << notAllowed.arg(dialout, QStringLiteral("0600"));
    QTest::newRow("root's group: joining is no answer")
        << 0660u << root << false << false << false << true
        << notAllowed.arg(root, QStringLiteral("0660"));
    QTest::newRow("in the group and still refused")
        << 0660u << dialout << true << true << false << true
        << notAllowed.arg(dialout, QStringLiteral("0660"));
    QTest::newRow("root refused: not a matter of groups")
        << 0660u << dialout << false << false << true << true << QString();
    QTest::newRow("node cannot be looked at")
        << 0u << QString() << false << false << false << false
        << QStringLiteral("You have no permission to open /dev/ttyUSB0.");
}

void TestPortTrouble::deniedText() {
    QFETCH(unsigned, mode);
    QFETCH(QString, group);
    QFETCH(bool, inGroup);
    QFETCH(bool, listedInGroup);
    QFETCH(bool, root);
    QFETCH(bool, examined);
    QFETCH(QString, text);
    PortTrouble::AccessFacts facts;
    facts.port = QStringLiteral("ttyUSB0");
    facts.path = QStringLiteral("/dev/ttyUSB0");
    facts.examined = examined;
    facts.owner = QStringLiteral("root");
    facts.group = group;
    facts.rootGroup = group == QLatin1String("root");
    facts.mode = mode;
    facts.root = root;
    facts.inGroup = inGroup;
    facts.listedInGroup = listedInGroup;
    QCOMPARE(PortTrouble::deniedText(facts), text);
}

void TestPortTrouble::busyOpenNamesHolder_data() {
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("device node") << false;
    QTest::newRow("by-id style link") << true;
}

void TestPortTrouble::busyOpenNamesHolder() {
    QFETCH(bool, throughLink);
    PtyPair pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    const QByteArray path = portPath(pty, dir, throughLink);
    QVERIFY(!path.isEmpty());
    SerialPort holder(pty.slavePath());
    holder.open();
    SerialPort second(path);
    const QStringList lines = openError(second).split(u'\n');
    // Root passes the terminal's exclusive flag and meets the lock instead.
    QVERIFY2(lines[0] == openErrorLine(EBUSY) || lines[0] == openErrorLine(EWOULDBLOCK),
             qPrintable(lines.join(u'|')));
    QCOMPARE(lines.mid(1),
             (QStringList{QStringLiteral("%1 is in use by %2 (pid %3)")
                              .arg(ptyName(pty), ThisProgram)
                              .arg(::getpid()),
                          QStringLiteral("Close the port in that program, or choose another "
                                         "port.")}));
    // The failed attempt itself is no holder once the first one lets go.
    holder.close();
    second.open();
    QVERIFY(second.isOpen());
}

void TestPortTrouble::refusedOpenNamesGroup() {
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                  QFileDevice::ExeOther));
    const QString port = dir.filePath(QStringLiteral("ttyFake0"));
    writeAll(port, QByteArray());
    const QByteArray path = QFile::encodeName(port);

    if (::geteuid() != 0) {
        // An ordinary user meets a node no one may open.
        QCOMPARE(::chmod(path.constData(), 0), 0);
        SerialPort refused(path);
        const QStringList lines = openError(refused).split(u'\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], openErrorLine(EACCES));
        QVERIFY2(lines[1].startsWith(port + QStringLiteral(" (owner ")), qPrintable(lines[1]));
        QVERIFY2(lines[1].contains(QStringLiteral(", mode 0000) may not be opened by you;")),
                 qPrintable(lines[1]));
        return;
    }
    // Root may open anything: the refusal is met by a second process as nobody, on a node
    // of the group dialout as serial ports are.
    const group *dialout = ::getgrnam("dialout");
    if (!dialout)
        QSKIP("This system has no group dialout to give the node");
    QCOMPARE(::chown(path.constData(), 0, dialout->gr_gid), 0);
    QCOMPARE(::chmod(path.constData(), 0660), 0);
    const QString said = runOpenAsNobody(path);
    if (said == QLatin1String("cannot drop privileges"))
        QSKIP("Running as root without the right to become nobody");
    QCOMPARE(said, openErrorLine(EACCES) +
                       QStringLiteral("\nYou are not in the group dialout, which may open %1. "
                                      "Join it, then log out and back in:\n"
                                      "sudo usermod -aG dialout $USER")
                           .arg(port));
}

void TestPortTrouble::otherErrorsUnexplained() {
    QTemporaryDir dir;
    SerialPort missing(QFile::encodeName(dir.filePath(QStringLiteral("ttyGone"))));
    QCOMPARE(openError(missing), openErrorLine(ENOENT));
    QVERIFY(PortTrouble::explain("/dev/ttyUSB0", ENOTTY).isEmpty());
}

void TestPortTrouble::cliProbeAndSendExplain() {
    PtyPair pty;
    QVERIFY(pty.isValid());
    SerialPort holder(pty.slavePath());
    holder.open();
    const QString port = QString::fromLocal8Bit(pty.slavePath());
    const QString heldBy = QStringLiteral("%1 is in use by %2 (pid %3)\nClose the port in that "
                                          "program, or choose another port.")
                               .arg(ptyName(pty), ThisProgram)
                               .arg(::getpid());

    const CliRun probe = runCliInProcess({"probe", "--port", port});
    QCOMPARE(probe.status, 1);
    QVERIFY2(probe.err ==
                     port + QStringLiteral(": ") + openErrorLine(EBUSY) + u'\n' + heldBy + u'\n' ||
                 probe.err == port + QStringLiteral(": ") + openErrorLine(EWOULDBLOCK) + u'\n' +
                                  heldBy + u'\n',
             qPrintable(probe.err));

    QTemporaryDir dir;
    const QString project = dir.filePath(QStringLiteral("busy.sms"));
    QCOMPARE(runCliInProcess({"queue", project, "--country", "US", "--to", "2000", "hi"}).status,
             0);
    const CliRun send = runCliInProcess({"send", project, "--port", port});
    QCOMPARE(send.status, 3);
    // One line each, not one line with escaped line ends.
    QVERIFY2(send.out.contains(QStringLiteral("Unable to open com port (win error code: ")),
             qPrintable(send.out));
    QVERIFY2(send.out.contains(QStringLiteral(")\n") + heldBy + u'\n'), qPrintable(send.out));
}

int main(int argc, char *argv[]) {
    if (argc == 3 && std::strcmp(argv[1], "--open-as-nobody") == 0)
        return openAsNobody(argv[2]);
    QCoreApplication app(argc, argv);
    TestPortTrouble test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_porttrouble.moc"
