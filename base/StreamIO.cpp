#include "data/StreamIO.h"

#include "app/Errors.h"

#include <QtEndian>

#include <cstring>
#include <limits>

namespace {

constexpr qsizetype BufferSize = 64 * 1024;

[[noreturn]] void WriteFailed() {
    throw EPelorvane(QStringLiteral("Stream write error"));
}

qint32 CheckedLength(qsizetype size) {
    if (size > std::numeric_limits<qint32>::max())
        WriteFailed();
    return static_cast<qint32>(size);
}

} // namespace

TStreamWriter::TStreamWriter(QIODevice &device) : FDevice(device) {
    FBuffer.reserve(BufferSize);
}

void TStreamWriter::Reserve(qsizetype size) {
    if (FBuffer.size() + size > BufferSize)
        Flush();
}

void TStreamWriter::WriteByte(quint8 value) {
    Reserve(1);
    FBuffer.append(static_cast<char>(value));
}

void TStreamWriter::WriteInt32(qint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    WriteRaw(bytes, 4);
}

void TStreamWriter::WriteDouble(double value) {
    // The in-memory bytes of the double, little-endian, so NaN payloads survive.
    quint64 bits;
    std::memcpy(&bits, &value, 8);
    char bytes[8];
    qToLittleEndian(bits, bytes);
    WriteRaw(bytes, 8);
}

void TStreamWriter::WriteAnsi(const QByteArray &text) {
    WriteInt32(CheckedLength(text.size()));
    WriteRaw(text.constData(), text.size());
}

void TStreamWriter::WriteWide(const QString &text) {
    qint32 length = CheckedLength(text.size());
    WriteInt32(length);
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        WriteRaw(reinterpret_cast<const char *>(text.utf16()), qsizetype(length) * 2);
    } else {
        for (QChar c : text) {
            char bytes[2];
            qToLittleEndian(c.unicode(), bytes);
            WriteRaw(bytes, 2);
        }
    }
}

void TStreamWriter::WriteRaw(const char *data, qsizetype size) {
    if (size >= BufferSize) {
        Flush();
        if (FDevice.write(data, size) != size)
            WriteFailed();
        return;
    }
    Reserve(size);
    FBuffer.append(data, size);
}

void TStreamWriter::Flush() {
    if (FBuffer.isEmpty())
        return;
    qsizetype size = FBuffer.size();
    qint64 written = FDevice.write(FBuffer.constData(), size);
    FBuffer.resize(0);
    if (written != size)
        WriteFailed();
}

TStreamReader::TStreamReader(QIODevice &device)
    : FDevice(device), FSize(device.size()), FDevicePos(device.pos()) {
    if (FSize < FDevicePos)
        FSize = FDevicePos;
}

TStreamReader::~TStreamReader() {
    if (Buffered() > 0)
        FDevice.seek(Pos());
}

void TStreamReader::Fail() {
    throw EPelorvane(QStringLiteral("Stream read error"));
}

void TStreamReader::Fill(qint64 size) {
    // Keeps the unread tail and tops the buffer up with at least size bytes in all.
    qint64 keep = Buffered();
    qint64 want = qMax<qint64>(BufferSize, size);
    want = qMin(want, keep + (FSize - FDevicePos));
    if (want < size)
        Fail();
    if (FBuffer.size() < want)
        FBuffer.resize(want);
    if (keep > 0 && FPos > 0)
        std::memmove(FBuffer.data(), FBuffer.constData() + FPos, keep);
    FPos = 0;
    FEnd = keep;
    while (FEnd < want) {
        qint64 got = FDevice.read(FBuffer.data() + FEnd, want - FEnd);
        if (got <= 0)
            break;
        FEnd += got;
        FDevicePos += got;
    }
    if (FEnd < size)
        Fail();
}

void TStreamReader::Need(qint64 size) {
    if (Buffered() < size)
        Fill(size);
}

quint8 TStreamReader::ReadByte() {
    Need(1);
    return static_cast<quint8>(FBuffer.at(FPos++));
}

qint32 TStreamReader::ReadInt32() {
    Need(4);
    qint32 value = qFromLittleEndian<qint32>(FBuffer.constData() + FPos);
    FPos += 4;
    return value;
}

double TStreamReader::ReadDouble() {
    Need(8);
    quint64 bits = qFromLittleEndian<quint64>(FBuffer.constData() + FPos);
    FPos += 8;
    double value;
    std::memcpy(&value, &bits, 8);
    return value;
}

void TStreamReader::ReadRaw(char *data, qint64 size) {
    if (size < 0 || size > BytesLeft())
        Fail();
    qint64 fromBuffer = qMin(size, Buffered());
    std::memcpy(data, FBuffer.constData() + FPos, fromBuffer);
    FPos += fromBuffer;
    data += fromBuffer;
    size -= fromBuffer;
    if (size == 0)
        return;
    if (size < BufferSize) {
        Fill(size);
        std::memcpy(data, FBuffer.constData(), size);
        FPos = size;
        return;
    }
    // Large strings go straight to their destination.
    while (size > 0) {
        qint64 got = FDevice.read(data, size);
        if (got <= 0)
            Fail();
        data += got;
        size -= got;
        FDevicePos += got;
    }
}

qint32 TStreamReader::ReadLength(int unitSize) {
    qint32 length = ReadInt32();
    if (length < 0 || qint64(length) * unitSize > BytesLeft())
        Fail();
    return length;
}

QByteArray TStreamReader::ReadAnsi() {
    qint32 length = ReadLength(1);
    QByteArray text(length, Qt::Uninitialized);
    ReadRaw(text.data(), length);
    return text;
}

QString TStreamReader::ReadWide(const QString *same) {
    qint32 length = ReadLength(2);
    qint64 bytes = qint64(length) * 2;
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        if (same && same->size() == length && bytes <= BufferSize) {
            Need(bytes);
            if (std::memcmp(FBuffer.constData() + FPos, same->utf16(), bytes) == 0) {
                FPos += bytes;
                return *same;
            }
        }
    }
    QString text(length, Qt::Uninitialized);
    ReadRaw(reinterpret_cast<char *>(text.data()), bytes);
    if constexpr (QSysInfo::ByteOrder != QSysInfo::LittleEndian) {
        for (QChar &c : text)
            c = QChar(qFromLittleEndian(c.unicode()));
    }
    return text;
}
