#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class TWaitSignal;

// The serial port on POSIX termios: exclusive, raw 115200 8N1 without flow control, DTR off
// and RTS on. Reads never block; waiting for input is a separate call that a stop signal
// can end early. Failures raise EPelorvane with the failing step's text and errno.
class TComPort {
public:
    // What WaitForChar saw; a hang-up may come together with bytes still to read.
    enum TEvent : unsigned { evNone = 0, evRxChar = 1, evLineError = 2 };

    static constexpr int BaudRate = 115200;
    static constexpr int WriteTimeoutConstantMs = 500;
    static constexpr int WriteTimeoutPerByteMs = 50;

    TComPort() = default;
    explicit TComPort(QByteArray portName);
    ~TComPort();

    TComPort(const TComPort &) = delete;
    TComPort &operator=(const TComPort &) = delete;

    const QByteArray &PortName() const { return FPortName; }
    // An open port is closed and reopened under the new name.
    void SetPortName(const QByteArray &name);

    // "/dev/x" stays as it is, COMn (n >= 1) is /dev/ttyS(n-1), anything else /dev/<name>.
    static QByteArray DevicePath(const QByteArray &portName);
    // The serial ports with hardware behind them, by the names DevicePath maps back, sorted.
    static QList<QByteArray>
    ListPorts(const QString &sysClassTty = QStringLiteral("/sys/class/tty"),
              const QString &devDir = QStringLiteral("/dev"));

    // Opening an open port does nothing; a failed open leaves the port closed.
    void Open();
    // Releases the device; what the modem sent and what is still queued for it is kept.
    void Close();
    bool IsOpen() const { return FFd >= 0; }

    int BytesWaiting() const;
    // Reads what is there, up to count bytes, without waiting; 0 when nothing is.
    int Read(char *buffer, int count);
    // Waits up to timeoutMs for a received byte, a line error or the stop signal (which it
    // consumes when it ends the wait). Returns a combination of TEvent.
    unsigned WaitForChar(int timeoutMs, TWaitSignal *stop);
    // Writes all bytes unless the write time-out passes first; returns the bytes written.
    int Write(const char *data, int size);

    int Handle() const { return FFd; }

private:
    QByteArray FPortName;
    int FFd = -1;
};
