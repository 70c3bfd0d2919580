#include "ScriptedPhone.h"

#include <chrono>

TScriptedPhone::TScriptedPhone() {
    if (FPty.IsValid())
        FThread = std::thread([this] { Serve(); });
}

TScriptedPhone::~TScriptedPhone() {
    FStop = true;
    if (FThread.joinable())
        FThread.join();
}

void TScriptedPhone::SetReply(const QByteArray &command, const QList<QByteArray> &lines) {
    std::lock_guard lock(FLock);
    FReplies.insert(command, lines);
}

QList<QByteArray> TScriptedPhone::Commands() const {
    std::lock_guard lock(FLock);
    return FCommands;
}

void TScriptedPhone::Serve() {
    QByteArray line;
    while (!FStop) {
        const QByteArray byte = FPty.Read(1, 20);
        if (byte.isEmpty()) {
            // Nobody has the port open: the master reads fail at once.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (byte[0] == '\n')
            continue;
        if (byte[0] != '\r') {
            line += byte;
            continue;
        }
        QList<QByteArray> reply{"ERROR"};
        {
            std::lock_guard lock(FLock);
            FCommands.append(line);
            if (FReplies.contains(line))
                reply = FReplies.value(line);
        }
        QByteArray answer = line + '\r';
        for (const QByteArray &text : reply)
            answer += "\r\n" + text + "\r\n";
        FPty.Write(answer, 1000);
        line.clear();
    }
}
