#include "link/PortTrouble.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const QString ModemManager = QStringLiteral("ModemManager");
// The same file the README's rule goes into; appended to, so other modems' rules stay.
const QString RuleFile = QStringLiteral("/etc/udev/rules.d/99-pelorvane-modem.rules");
// How far above the tty's device sysfs may keep the USB device's ids (interface, device).
constexpr int UsbIdDepth = 6;

QString holderList(const QList<PortHolder::Process> &holders) {
    QStringList named;
    for (const PortHolder::Process &holder : holders)
        named << QStringLiteral("%1 (pid %2)").arg(holder.name).arg(holder.pid);
    if (named.size() < 2)
        return named.join(QString());
    const QString last = named.takeLast();
    return named.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

QString modemManagerAdvice(const PortTrouble::BusyFacts &facts) {
    const bool idsKnown = !facts.vendorId.isEmpty() && !facts.productId.isEmpty();
    const QString vendor =
        idsKnown ? QString::fromLatin1(facts.vendorId) : QStringLiteral("VENDOR");
    const QString product =
        idsKnown ? QString::fromLatin1(facts.productId) : QStringLiteral("PRODUCT");
    const QString rule =
        QStringLiteral("ACTION==\"add|change|move|bind\", ATTRS{idVendor}==\"%1\", "
                       "ATTRS{idProduct}==\"%2\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"")
            .arg(vendor, product);
    QStringList lines;
    lines << QStringLiteral("Tell ModemManager to leave this modem alone with a udev rule, then "
                            "unplug and replug the modem:")
          << QStringLiteral("echo '%1' | sudo tee -a %2").arg(rule, RuleFile)
          << QStringLiteral("sudo udevadm control --reload && sudo udevadm trigger");
    if (!idsKnown) {
        lines << QStringLiteral("VENDOR and PRODUCT are the modem's USB ids: udevadm info -q "
                                "property -n %1 | grep -E 'ID_VENDOR_ID|ID_MODEL_ID'")
                     .arg(facts.path);
    }
    lines << QStringLiteral("Or stop ModemManager for this session: sudo systemctl stop "
                            "ModemManager");
    return lines.join(QLatin1Char('\n'));
}

// getpwuid_r and getgrgid_r want a buffer of a size they only say by failing.
template <typename Entry, typename Id, typename Lookup>
bool lookUp(Id id, Entry *entry, std::vector<char> &buffer, Lookup lookup) {
    buffer.resize(4096);
    for (;;) {
        Entry *found = nullptr;
        const int result = lookup(id, entry, buffer.data(), buffer.size(), &found);
        if (result == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        return result == 0 && found;
    }
}

QString userName(uid_t uid) {
    passwd entry{};
    std::vector<char> buffer;
    if (lookUp(uid, &entry, buffer, ::getpwuid_r))
        return QString::fromLocal8Bit(entry.pw_name);
    return QString::number(uid);
}

QString groupName(gid_t gid) {
    group entry{};
    std::vector<char> buffer;
    if (lookUp(gid, &entry, buffer, ::getgrgid_r))
        return QString::fromLocal8Bit(entry.gr_name);
    return QString::number(gid);
}

bool processHasGroup(gid_t gid) {
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i) {
        if (groups[size_t(i)] == gid)
            return true;
    }
    return false;
}

// Whether the user is a member of gid in the user and group files, as a new login would be.
bool userListedInGroup(uid_t uid, gid_t gid) {
    passwd user{};
    std::vector<char> userBuffer;
    if (!lookUp(uid, &user, userBuffer, ::getpwuid_r))
        return false;
    if (user.pw_gid == gid)
        return true;
    group entry{};
    std::vector<char> groupBuffer;
    if (!lookUp(gid, &entry, groupBuffer, ::getgrgid_r))
        return false;
    for (char **member = entry.gr_mem; member && *member; ++member) {
        if (std::strcmp(*member, user.pw_name) == 0)
            return true;
    }
    return false;
}

QByteArray resolved(const QByteArray &path) {
    char buffer[PATH_MAX];
    return ::realpath(path.constData(), buffer) ? QByteArray(buffer) : path;
}

QByteArray readId(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(64).trimmed();
}

} // namespace

bool PortTrouble::isBusy(int error) {
    // EBUSY: the terminal's exclusive flag; EWOULDBLOCK: the lock every opener takes.
    return error == EBUSY || error == EWOULDBLOCK || error == EAGAIN;
}

bool PortTrouble::isDenied(int error) {
    return error == EACCES || error == EPERM;
}

QString PortTrouble::explain(const QByteArray &devicePath, int error, const Sources &sources) {
    if (isBusy(error))
        return busyText(busyFacts(devicePath, sources));
    if (isDenied(error))
        return deniedText(accessFacts(devicePath));
    return {};
}

QString PortTrouble::portNameFor(const QByteArray &devicePath) {
    const QByteArray node = resolved(devicePath);
    return QString::fromLocal8Bit(node.startsWith("/dev/") ? node.mid(5) : node);
}

bool PortTrouble::usbIds(const QString &sysRoot, const QString &port, QByteArray *vendorId,
                         QByteArray *productId) {
    // sysfs writes the slashes of a tty's name (pts/3) as "!".
    QString sysName = port;
    sysName.replace(QLatin1Char('/'), QLatin1Char('!'));
    QString dir =
        QFileInfo(sysRoot + QStringLiteral("/class/tty/") + sysName + QStringLiteral("/device"))
            .canonicalFilePath();
    for (int depth = 0; depth < UsbIdDepth && !dir.isEmpty(); ++depth) {
        const QByteArray vendor = readId(dir + QStringLiteral("/idVendor"));
        const QByteArray product = readId(dir + QStringLiteral("/idProduct"));
        if (!vendor.isEmpty() && !product.isEmpty()) {
            *vendorId = vendor;
            *productId = product;
            return true;
        }
        const QString parent = QFileInfo(dir).path();
        if (parent == dir)
            break;
        dir = parent;
    }
    return false;
}

PortTrouble::BusyFacts PortTrouble::busyFacts(const QByteArray &devicePath,
                                              const Sources &sources) {
    BusyFacts facts;
    facts.port = portNameFor(devicePath);
    facts.path = QString::fromLocal8Bit(resolved(devicePath));
    PortHolder finder(sources.procRoot);
    facts.holders = finder.holdersOf(devicePath);
    facts.holdersHidden = finder.someHidden();
    facts.modemManagers = finder.processesNamed(ModemManager);
    usbIds(sources.sysRoot, facts.port, &facts.vendorId, &facts.productId);
    return facts;
}

PortTrouble::AccessFacts PortTrouble::accessFacts(const QByteArray &devicePath) {
    AccessFacts facts;
    facts.port = portNameFor(devicePath);
    facts.path = QString::fromLocal8Bit(resolved(devicePath));
    facts.root = ::geteuid() == 0;
    struct stat node {};
    if (::stat(devicePath.constData(), &node) != 0)
        return facts;
    facts.examined = true;
    facts.owner = userName(node.st_uid);
    facts.group = groupName(node.st_gid);
    facts.rootGroup = node.st_gid == 0;
    facts.mode = node.st_mode & 07777;
    facts.inGroup = processHasGroup(node.st_gid);
    facts.listedInGroup = userListedInGroup(::geteuid(), node.st_gid);
    return facts;
}

QString PortTrouble::busyText(const BusyFacts &facts) {
    QStringList lines;
    bool modemManagerHolds = false;
    for (const PortHolder::Process &holder : facts.holders)
        modemManagerHolds = modemManagerHolds || holder.name == ModemManager;
    // ModemManager runs as root: an ordinary user cannot see its descriptors, only that it runs.
    const bool modemManagerLikely = facts.holders.isEmpty() && !facts.modemManagers.isEmpty();
    if (!facts.holders.isEmpty()) {
        lines << QStringLiteral("%1 is in use by %2").arg(facts.port, holderList(facts.holders));
    } else if (modemManagerLikely) {
        lines << QStringLiteral("%1 is in use by another program, probably by %2, which is running")
                     .arg(facts.port, holderList(facts.modemManagers));
    } else if (facts.holdersHidden) {
        lines << QStringLiteral("%1 is in use by another program (sudo fuser -v %2 names it)")
                     .arg(facts.port, facts.path);
    } else {
        lines << QStringLiteral("%1 is in use by another program").arg(facts.port);
    }
    if (modemManagerHolds || modemManagerLikely)
        lines << modemManagerAdvice(facts);
    else if (!facts.holders.isEmpty())
        lines << QStringLiteral("Close the port in that program, or choose another port.");
    return lines.join(QLatin1Char('\n'));
}

QString PortTrouble::deniedText(const AccessFacts &facts) {
    if (!facts.examined)
        return QStringLiteral("You have no permission to open %1.").arg(facts.path);
    // Root is refused for other reasons than groups (a read-only mount, a security module).
    if (facts.root)
        return {};
    const bool groupMayOpen = (facts.mode & 0060) == 0060 && !facts.rootGroup;
    if (groupMayOpen && !facts.inGroup && facts.listedInGroup) {
        return QStringLiteral("You are in the group %1, which may open %2, but only since after "
                              "this login: log out and back in (then id -nG lists %1).")
            .arg(facts.group, facts.port);
    }
    if (groupMayOpen && !facts.inGroup) {
        return QStringLiteral("You are not in the group %1, which may open %2. Join it, then log "
                              "out and back in:\nsudo usermod -aG %1 $USER")
            .arg(facts.group, facts.port);
    }
    return QStringLiteral("%1 (owner %2, group %3, mode %4) may not be opened by you; serial "
                          "ports normally belong to the group dialout with mode 0660.")
        .arg(facts.port, facts.owner, facts.group,
             QStringLiteral("%1").arg(facts.mode, 4, 8, QLatin1Char('0')));
}
