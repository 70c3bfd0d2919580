#pragma once

#include "link/GsmSerial.h"

#include <QByteArray>
#include <QList>

#include <functional>

// A serial link whose reads come from a script, so that the real WaitResponse, ExecuteCommand
// and the reading helpers run on chosen chunk boundaries and read results. Its port is never
// opened. A read with nothing left in the script is an empty wait (-2).
class TScriptedSerial : public TGsmSerial {
public:
    TScriptedSerial();

    // One ReadAvailable result each: a chunk of bytes, or a bare result (0, -1, -2).
    void AddChunk(const QByteArray &chunk);
    void AddChunks(const QList<QByteArray> &chunks);
    void AddResult(int result);
    // Chunks that become readable once the next command has been written.
    void AddReply(const QList<QByteArray> &chunks);

    int ReadAvailable(QByteArray &text, int timeoutMs) override;
    int WriteCommand(const QByteArray &command) override;

    int Reads = 0;                            // ReadAvailable calls so far
    QList<QByteArray> Written;                // commands as given to WriteCommand
    std::function<void(int read)> BeforeRead; // called with the 1-based number of each read

private:
    struct TStep {
        QByteArray Chunk;
        int Result;
    };
    QList<TStep> FScript;
    QList<QList<QByteArray>> FReplies;
};
