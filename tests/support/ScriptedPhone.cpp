#include "ScriptedPhone.h"

#include <chrono>

ScriptedPhone::ScriptedPhone() {
    if (m_pty.isValid())
        m_thread = std::thread([this] { serve(); });
}

ScriptedPhone::~ScriptedPhone() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void ScriptedPhone::setReply(const QByteArray &command, const QList<QByteArray> &lines) {
    std::lock_guard lock(m_lock);
    m_replies.insert(command, lines);
}

QList<QByteArray> ScriptedPhone::commands() const {
    std::lock_guard lock(m_lock);
    return m_commands;
}

void ScriptedPhone::serve() {
    QByteArray line;
    while (!m_stop) {
        const QByteArray byte = m_pty.read(1, 20);
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
            std::lock_guard lock(m_lock);
            m_commands.append(line);
            if (m_replies.contains(line))
                reply = m_replies.value(line);
        }
        QByteArray answer = line + '\r';
        for (const QByteArray &text : reply)
            answer += "\r\n" + text + "\r\n";
        m_pty.write(answer, 1000);
        line.clear();
    }
}
