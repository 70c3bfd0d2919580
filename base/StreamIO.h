#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

// Buffered little-endian readers and writers for the project file and the list formats.
// Strings are length-prefixed: an ansi field is an int32 byte count and the bytes, a wide
// field an int32 count of UTF-16 code units and the units in little-endian order.

// Writes through a 64 KiB buffer. Every failure of the device raises "Stream write error".
// Call flush() when done; the destructor drops what was not flushed (it runs on the error
// path, where the output is abandoned anyway).
class StreamWriter {
public:
    explicit StreamWriter(QIODevice &device);
    StreamWriter(const StreamWriter &) = delete;
    StreamWriter &operator=(const StreamWriter &) = delete;

    void writeByte(quint8 value);
    void writeInt32(qint32 value);
    void writeDouble(double value);
    void writeAnsi(const QByteArray &text);
    void writeWide(QStringView text);
    void writeRaw(const char *data, qsizetype size);
    void flush();

private:
    void reserve(qsizetype size);

    QIODevice &m_device;
    QByteArray m_buffer;
};

// Reads a random-access device (a file or a buffer) from its current position through a
// 64 KiB buffer, knowing how many bytes are left so that counts and lengths can be checked
// before anything is allocated. Running out of bytes, a negative length or a failing device
// raises "Stream read error". The destructor moves the device to the first byte not
// consumed, so that another reader can go on from there.
class StreamReader {
public:
    explicit StreamReader(QIODevice &device);
    ~StreamReader();
    StreamReader(const StreamReader &) = delete;
    StreamReader &operator=(const StreamReader &) = delete;

    qint64 pos() const { return m_devicePos - buffered(); }
    qint64 size() const { return m_size; }
    qint64 bytesLeft() const { return m_size - pos(); }

    quint8 readByte();
    qint32 readInt32();
    double readDouble();
    QByteArray readAnsi();
    // When the text read equals *same, *same is returned (an implicitly shared copy), so that
    // a list of messages with one text holds that text once.
    QString readWide(const QString *same = nullptr);
    void readRaw(char *data, qint64 size);

    [[noreturn]] static void fail();

private:
    qint64 buffered() const { return m_end - m_pos; }
    void need(qint64 size);
    void fill(qint64 size);
    qint32 readLength(int unitSize);

    QIODevice &m_device;
    qint64 m_size;
    qint64 m_devicePos;
    QByteArray m_buffer;
    qint64 m_pos = 0;
    qint64 m_end = 0;
};
