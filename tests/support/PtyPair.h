#pragma once

#include <QByteArray>

// A pseudo-terminal whose slave end stands in for a serial port; the test plays the modem
// on the master end.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();

    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    const QByteArray &slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Reads from the master until count bytes have come or timeoutMs has passed.
    QByteArray read(int count, int timeoutMs);
    // Writes all bytes to the master, waiting for room up to timeoutMs; false on an error or
    // when the slave side stopped reading.
    bool write(const QByteArray &bytes, int timeoutMs = 5000);
    // Hangs up the line as a modem that is switched off does.
    void closeMaster();

private:
    int m_master = -1;
    QByteArray m_slavePath;
};
