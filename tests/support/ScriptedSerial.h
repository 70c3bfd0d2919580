#pragma once

#include "link/GsmSerial.h"

#include <QByteArray>
#include <QList>

#include <functional>

// A serial link whose reads come from a script, so that the real waitResponse, executeCommand
// and the reading helpers run on chosen chunk boundaries and read results. Its port is never
// opened. A read with nothing left in the script is an empty wait (-2).
class ScriptedSerial : public GsmSerial {
public:
    ScriptedSerial();

    // One readAvailable result each: a chunk of bytes, or a bare result (0, -1, -2).
    void addChunk(const QByteArray &chunk);
    void addChunks(const QList<QByteArray> &chunks);
    void addResult(int result);
    // Chunks that become readable once the next command has been written.
    void addReply(const QList<QByteArray> &chunks);

    int readAvailable(QByteArray &text, int timeoutMs) override;
    int writeCommand(const QByteArray &command) override;

    int reads = 0;                            // readAvailable calls so far
    QList<QByteArray> written;                // commands as given to writeCommand
    std::function<void(int read)> beforeRead; // called with the 1-based number of each read

private:
    struct Step {
        QByteArray chunk;
        int result;
    };
    QList<Step> m_script;
    QList<QList<QByteArray>> m_replies;
};
