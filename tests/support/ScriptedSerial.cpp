#include "ScriptedSerial.h"

ScriptedSerial::ScriptedSerial() : GsmSerial(std::make_unique<SerialPort>()) {}

void ScriptedSerial::addChunk(const QByteArray &chunk) {
    m_script.append({chunk, int(chunk.size())});
}

void ScriptedSerial::addChunks(const QList<QByteArray> &chunks) {
    for (const QByteArray &chunk : chunks)
        addChunk(chunk);
}

void ScriptedSerial::addResult(int result) {
    m_script.append({QByteArray(), result});
}

void ScriptedSerial::addReply(const QList<QByteArray> &chunks) {
    m_replies.append(chunks);
}

int ScriptedSerial::readAvailable(QByteArray &text, int) {
    ++reads;
    if (beforeRead)
        beforeRead(reads);
    text.clear();
    if (m_script.isEmpty())
        return -2;
    const Step step = m_script.takeFirst();
    text = step.chunk;
    return step.result;
}

int ScriptedSerial::writeCommand(const QByteArray &command) {
    written.append(command);
    if (!m_replies.isEmpty())
        addChunks(m_replies.takeFirst());
    if (onCommandSent)
        onCommandSent(*this, command);
    return int(command.size()) + 2;
}
