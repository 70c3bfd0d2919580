#pragma once

#include "PtyPair.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <mutex>

#include <atomic>
#include <thread>

// A phone on a pseudo-terminal whose answers the test writes: each command line is echoed,
// as phones do by default, and answered with the lines set for it, or with ERROR when none
// are. For replies the simulated phone never gives (a one-field +CBC, a signal that is not
// a number).
class ScriptedPhone {
public:
    ScriptedPhone();
    ~ScriptedPhone();
    ScriptedPhone(const ScriptedPhone &) = delete;
    ScriptedPhone &operator=(const ScriptedPhone &) = delete;

    // The lines after the echo, "OK" or "ERROR" included; set before the program sends it.
    void setReply(const QByteArray &command, const QList<QByteArray> &lines);
    bool isValid() const { return m_pty.isValid(); }
    QByteArray portPath() const { return m_pty.slavePath(); }
    // The command lines received so far, without CR.
    QList<QByteArray> commands() const;

private:
    void serve();

    PtyPair m_pty;
    mutable std::mutex m_lock;
    QHash<QByteArray, QList<QByteArray>> m_replies;
    QList<QByteArray> m_commands;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
