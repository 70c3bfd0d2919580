#include "ScriptedSerial.h"

TScriptedSerial::TScriptedSerial() : TGsmSerial(std::make_unique<TComPort>()) {}

void TScriptedSerial::AddChunk(const QByteArray &chunk) {
    FScript.append({chunk, int(chunk.size())});
}

void TScriptedSerial::AddChunks(const QList<QByteArray> &chunks) {
    for (const QByteArray &chunk : chunks)
        AddChunk(chunk);
}

void TScriptedSerial::AddResult(int result) {
    FScript.append({QByteArray(), result});
}

void TScriptedSerial::AddReply(const QList<QByteArray> &chunks) {
    FReplies.append(chunks);
}

int TScriptedSerial::ReadAvailable(QByteArray &text, int) {
    ++Reads;
    if (BeforeRead)
        BeforeRead(Reads);
    text.clear();
    if (FScript.isEmpty())
        return -2;
    const TStep step = FScript.takeFirst();
    text = step.Chunk;
    return step.Result;
}

int TScriptedSerial::WriteCommand(const QByteArray &command) {
    Written.append(command);
    if (!FReplies.isEmpty())
        AddChunks(FReplies.takeFirst());
    if (OnCommandSent)
        OnCommandSent(*this, command);
    return int(command.size()) + 2;
}
