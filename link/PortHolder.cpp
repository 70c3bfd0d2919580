#include "link/PortHolder.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

// The kernel keeps 15 characters of a program's name in comm.
constexpr int CommLength = 15;

struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool isPid(const char *name) {
    if (*name == '\0')
        return false;
    for (const char *c = name; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
    }
    return true;
}

bool sameFile(const struct stat &a, const struct stat &b) {
    const bool aDevice = S_ISCHR(a.st_mode) || S_ISBLK(a.st_mode);
    const bool bDevice = S_ISCHR(b.st_mode) || S_ISBLK(b.st_mode);
    if (aDevice || bDevice)
        return aDevice && bDevice && (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT) &&
               a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

QByteArray readSmallFile(const QByteArray &path) {
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096);
}

} // namespace

PortHolder::PortHolder(QString procRoot) : m_procRoot(QFile::encodeName(procRoot)) {}

QList<qint64> PortHolder::pids() const {
    QList<qint64> pids;
    const DirHandle dir(::opendir(m_procRoot.constData()));
    if (!dir)
        return pids;
    while (const dirent *entry = ::readdir(dir.get())) {
        if (isPid(entry->d_name))
            pids.append(QByteArray(entry->d_name).toLongLong());
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

QByteArray PortHolder::procPath(qint64 pid, const char *leaf) const {
    return m_procRoot + '/' + QByteArray::number(pid) + '/' + leaf;
}

QList<PortHolder::Process> PortHolder::holdersOf(const QByteArray &path) {
    m_someHidden = false;
    QList<Process> holders;
    struct stat target {};
    if (path.isEmpty() || ::stat(path.constData(), &target) != 0)
        return holders;
    for (const qint64 pid : pids()) {
        const QByteArray fdDir = procPath(pid, "fd");
        const DirHandle dir(::opendir(fdDir.constData()));
        if (!dir) {
            // A process that ended meanwhile hides nothing.
            if (errno == EACCES || errno == EPERM)
                m_someHidden = true;
            continue;
        }
        while (const dirent *entry = ::readdir(dir.get())) {
            if (entry->d_name[0] == '.')
                continue;
            struct stat held {};
            // stat follows the descriptor's link to the file itself, whatever name opened it.
            const QByteArray link = fdDir + '/' + entry->d_name;
            if (::stat(link.constData(), &held) == 0 && sameFile(held, target)) {
                holders.append({pid, processName(pid)});
                break;
            }
        }
    }
    return holders;
}

QList<PortHolder::Process> PortHolder::processesNamed(const QString &name) const {
    QList<Process> found;
    for (const qint64 pid : pids()) {
        const QString shown = processName(pid);
        if (shown == name)
            found.append({pid, shown});
    }
    return found;
}

QString PortHolder::processName(qint64 pid) const {
    const QByteArray comm = readSmallFile(procPath(pid, "comm")).trimmed();
    if (comm.size() < CommLength)
        return QString::fromLocal8Bit(comm);
    // The first word of the command line, without its folder, when comm is its beginning.
    const QByteArray argv0 = readSmallFile(procPath(pid, "cmdline")).split('\0').value(0);
    const QByteArray program = argv0.mid(argv0.lastIndexOf('/') + 1);
    return QString::fromLocal8Bit(program.startsWith(comm) ? program : comm);
}
