#pragma once

#include <QByteArray>

// A pseudo-terminal whose slave end stands in for a serial port; the test plays the modem
// on the master end.
class TPtyPair {
public:
    TPtyPair();
    ~TPtyPair();

    TPtyPair(const TPtyPair &) = delete;
    TPtyPair &operator=(const TPtyPair &) = delete;

    bool IsValid() const { return FMaster >= 0; }
    const QByteArray &SlavePath() const { return FSlavePath; }
    int MasterFd() const { return FMaster; }

    // Reads from the master until count bytes have come or timeoutMs has passed.
    QByteArray Read(int count, int timeoutMs);
    // Writes all bytes to the master, waiting for room up to timeoutMs; false on an error or
    // when the slave side stopped reading.
    bool Write(const QByteArray &bytes, int timeoutMs = 5000);
    // Hangs up the line as a modem that is switched off does.
    void CloseMaster();

private:
    int FMaster = -1;
    QByteArray FSlavePath;
};
