#include "ProcessSignal.h"

#include <QProcess>

#include <csignal>

bool signalChild(QProcess &process, int signal) {
    // No events are processed between the check and the kill, so the child cannot be reaped
    // (and its id reused) in between.
    const qint64 pid = process.processId();
    if (pid <= 0 || process.state() != QProcess::Running)
        return false;
    return ::kill(static_cast<pid_t>(pid), signal) == 0;
}
