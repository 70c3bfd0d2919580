#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class WaitSignal;

// The serial port on POSIX termios: exclusive, raw 115200 8N1 without flow control, DTR and
// RTS on while open (DTR drops at close). Reads never block; waiting for input is a separate call
// that a stop signal can end early. Failures raise Error with the failing step's text and errno.
class SerialPort {
public:
    // What waitForChar saw; a hang-up may come together with bytes still to read.
    enum Event : unsigned { NoEvent = 0, CharReceived = 1, LineError = 2 };

    static constexpr int BaudRate = 115200;
    static constexpr int WriteTimeoutConstantMs = 500;
    static constexpr int WriteTimeoutPerByteMs = 50;

    SerialPort() = default;
    explicit SerialPort(QByteArray portName);
    ~SerialPort();

    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    const QByteArray &portName() const { return m_portName; }
    // An open port is closed and reopened under the new name.
    void setPortName(const QByteArray &name);

    // "/dev/x" stays as it is, COMn (n >= 1) is /dev/ttyS(n-1), anything else /dev/<name>.
    static QByteArray devicePath(const QByteArray &portName);
    // The serial ports with hardware behind them, by the names devicePath maps back, sorted.
    static QList<QByteArray>
    listPorts(const QString &sysClassTty = QStringLiteral("/sys/class/tty"),
              const QString &devDir = QStringLiteral("/dev"));

    // Opening an open port does nothing; a failed open leaves the port closed. A busy or
    // forbidden port's error is followed, on the next line, by what holds it or what to do.
    void open();
    // Releases the device; what the modem sent and what is still queued for it is kept.
    void close();
    bool isOpen() const { return m_fd >= 0; }

    int bytesWaiting() const;
    // Reads what is there, up to count bytes, without waiting; 0 when nothing is.
    int read(char *buffer, int count);
    // Waits up to timeoutMs for a received byte, a line error or the stop signal (which it
    // consumes when it ends the wait). Returns a combination of Event.
    unsigned waitForChar(int timeoutMs, WaitSignal *stop);
    // Writes all bytes unless the write time-out passes first; returns the bytes written.
    int write(const char *data, int size);

    int handle() const { return m_fd; }

private:
    static void applyLineSettings(int fd);

    QByteArray m_portName;
    int m_fd = -1;
};
