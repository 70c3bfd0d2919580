#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Finds the processes that hold a file open by reading /proc/<pid>/fd: what names the
// program keeping a serial port busy. The proc folder is given so that tests can build one.
class PortHolder {
public:
    struct Process {
        qint64 pid = 0;
        QString name;
        bool operator==(const Process &) const = default;
    };

    explicit PortHolder(QString procRoot = QStringLiteral("/proc"));

    // The processes with a descriptor on the file path names, by pid, each once. Symbolic
    // links such as /dev/serial/by-id/... are followed; devices compare by device number (a
    // node made elsewhere for the same device counts), other files by inode. Empty when path
    // cannot be examined.
    QList<Process> holdersOf(const QByteArray &path);
    // After holdersOf: the descriptors of some processes could not be read (another user's,
    // unless root), so a holder may be missing from the list.
    bool someHidden() const { return m_someHidden; }

    // The running processes called name (exactly), by pid.
    QList<Process> processesNamed(const QString &name) const;
    // The program name of pid: its comm, completed from the command line when the kernel cut
    // it at 15 characters; empty when the process is gone.
    QString processName(qint64 pid) const;

private:
    QList<qint64> pids() const;
    QByteArray procPath(qint64 pid, const char *leaf) const;

    QByteArray m_procRoot;
    bool m_someHidden = false;
};
