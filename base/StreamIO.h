#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

// Buffered little-endian readers and writers for the project file and the list formats.
// Strings are length-prefixed: an ansi field is an int32 byte count and the bytes, a wide
// field an int32 count of UTF-16 code units and the units in little-endian order.

// Writes through a 64 KiB buffer. Every failure of the device raises "Stream write error".
// Call Flush() when done; the destructor drops what was not flushed (it runs on the error
// path, where the output is abandoned anyway).
class TStreamWriter {
public:
    explicit TStreamWriter(QIODevice &device);
    TStreamWriter(const TStreamWriter &) = delete;
    TStreamWriter &operator=(const TStreamWriter &) = delete;

    void WriteByte(quint8 value);
    void WriteInt32(qint32 value);
    void WriteDouble(double value);
    void WriteAnsi(const QByteArray &text);
    void WriteWide(const QString &text);
    void WriteRaw(const char *data, qsizetype size);
    void Flush();

private:
    void Reserve(qsizetype size);

    QIODevice &FDevice;
    QByteArray FBuffer;
};

// Reads a random-access device (a file or a buffer) from its current position through a
// 64 KiB buffer, knowing how many bytes are left so that counts and lengths can be checked
// before anything is allocated. Running out of bytes, a negative length or a failing device
// raises "Stream read error". The destructor moves the device to the first byte not
// consumed, so that another reader can go on from there.
class TStreamReader {
public:
    explicit TStreamReader(QIODevice &device);
    ~TStreamReader();
    TStreamReader(const TStreamReader &) = delete;
    TStreamReader &operator=(const TStreamReader &) = delete;

    qint64 Pos() const { return FDevicePos - Buffered(); }
    qint64 Size() const { return FSize; }
    qint64 BytesLeft() const { return FSize - Pos(); }

    quint8 ReadByte();
    qint32 ReadInt32();
    double ReadDouble();
    QByteArray ReadAnsi();
    // When the text read equals *same, *same is returned (an implicitly shared copy), so that
    // a list of messages with one text holds that text once.
    QString ReadWide(const QString *same = nullptr);
    void ReadRaw(char *data, qint64 size);

    [[noreturn]] static void Fail();

private:
    qint64 Buffered() const { return FEnd - FPos; }
    void Need(qint64 size);
    void Fill(qint64 size);
    qint32 ReadLength(int unitSize);

    QIODevice &FDevice;
    qint64 FSize;
    qint64 FDevicePos;
    QByteArray FBuffer;
    qint64 FPos = 0;
    qint64 FEnd = 0;
};
