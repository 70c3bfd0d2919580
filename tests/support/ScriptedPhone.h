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
class TScriptedPhone {
public:
    TScriptedPhone();
    ~TScriptedPhone();
    TScriptedPhone(const TScriptedPhone &) = delete;
    TScriptedPhone &operator=(const TScriptedPhone &) = delete;

    // The lines after the echo, "OK" or "ERROR" included; set before the program sends it.
    void SetReply(const QByteArray &command, const QList<QByteArray> &lines);
    bool IsValid() const { return FPty.IsValid(); }
    QByteArray PortPath() const { return FPty.SlavePath(); }
    // The command lines received so far, without CR.
    QList<QByteArray> Commands() const;

private:
    void Serve();

    TPtyPair FPty;
    mutable std::mutex FLock;
    QHash<QByteArray, QList<QByteArray>> FReplies;
    QList<QByteArray> FCommands;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};
