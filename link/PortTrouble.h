#pragma once

#include "link/PortHolder.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Where the facts about a port come from; tests build their own folders.
struct PortTroubleSources {
    QString procRoot = QStringLiteral("/proc");
    QString sysRoot = QStringLiteral("/sys");
};

// Plain words on why a serial port could not be opened and what to do about it: the line(s)
// shown after the open error and its code. Gathering the facts (from /proc, /sys, the device
// node and this process's groups) is apart from wording them, so that tests can give either.
class PortTrouble {
public:
    using Sources = PortTroubleSources;

    // A busy port: what held it, and whether ModemManager runs.
    struct BusyFacts {
        QString port; // the device's name for people: "ttyUSB0", "pts/3"
        QString path; // the device node: "/dev/ttyUSB0"
        QList<PortHolder::Process> holders;
        bool holdersHidden = false; // some processes' descriptors could not be read
        QList<PortHolder::Process> modemManagers;
        QByteArray vendorId; // the USB device's ids, empty when unknown
        QByteArray productId;
    };

    // A refused open: the node's owner, group and mode, and this process's place in the group.
    struct AccessFacts {
        QString port;
        QString path;
        bool examined = false; // the node could be looked at; nothing below is known otherwise
        QString owner;
        QString group;
        bool rootGroup = false; // the node's group is root's (gid 0): no one is meant to join it
        unsigned mode = 0;      // the permission bits
        bool root = false;      // this process runs as root
        bool inGroup = false;   // this process has the node's group
        bool listedInGroup = false; // the user is a member on file (joined after logging in)
    };

    // The explanation for an open of devicePath that failed with errno error, or empty when
    // the error code says all there is to say.
    static QString explain(const QByteArray &devicePath, int error, const Sources &sources = {});

    static bool isBusy(int error);
    static bool isDenied(int error);

    static BusyFacts busyFacts(const QByteArray &devicePath, const Sources &sources = {});
    static AccessFacts accessFacts(const QByteArray &devicePath);
    static QString busyText(const BusyFacts &facts);
    static QString deniedText(const AccessFacts &facts);

    // "ttyUSB0" for /dev/ttyUSB0 and for a link to it; a node outside /dev keeps its path.
    static QString portNameFor(const QByteArray &devicePath);
    // The USB vendor and product ids of the device behind a tty, from sysfs; false when the
    // tty is no USB device.
    static bool usbIds(const QString &sysRoot, const QString &port, QByteArray *vendorId,
                       QByteArray *productId);
};
