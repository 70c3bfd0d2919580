#include "base/StreamIO.h"

#include "base/Error.h"

#include <QtEndian>

#include <cstring>
#include <limits>

namespace {

constexpr qsizetype BufferSize = 64 * 1024;

[[noreturn]] void writeFailed() {
    throw Error(QStringLiteral("Stream write error"));
}

qint32 checkedLength(qsizetype size) {
    if (size > std::numeric_limits<qint32>::max())
        writeFailed();
    return static_cast<qint32>(size);
}

} // namespace

StreamWriter::StreamWriter(QIODevice &device) : m_device(device) {
    m_buffer.reserve(BufferSize);
}

void StreamWriter::reserve(qsizetype size) {
    if (m_buffer.size() + size > BufferSize)
        flush();
}

void StreamWriter::writeByte(quint8 value) {
    reserve(1);
    m_buffer.append(static_cast<char>(value));
}

void StreamWriter::writeInt32(qint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    writeRaw(bytes, 4);
}

void StreamWriter::writeDouble(double value) {
    // The in-memory bytes of the double, little-endian, so NaN payloads survive.
    quint64 bits;
    std::memcpy(&bits, &value, 8);
    char bytes[8];
    qToLittleEndian(bits, bytes);
    writeRaw(bytes, 8);
}

void StreamWriter::writeAnsi(const QByteArray &text) {
    writeInt32(checkedLength(text.size()));
    writeRaw(text.constData(), text.size());
}

void StreamWriter::writeWide(QStringView text) {
    qint32 length = checkedLength(text.size());
    writeInt32(length);
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        writeRaw(reinterpret_cast<const char *>(text.utf16()), qsizetype(length) * 2);
    } else {
        for (QChar c : text) {
            char bytes[2];
            qToLittleEndian(c.unicode(), bytes);
            writeRaw(bytes, 2);
        }
    }
}

void StreamWriter::writeRaw(const char *data, qsizetype size) {
    if (size >= BufferSize) {
        flush();
        if (m_device.write(data, size) != size)
            writeFailed();
        return;
    }
    reserve(size);
    m_buffer.append(data, size);
}

void StreamWriter::flush() {
    if (m_buffer.isEmpty())
        return;
    qsizetype size = m_buffer.size();
    qint64 written = m_device.write(m_buffer.constData(), size);
    m_buffer.resize(0);
    if (written != size)
        writeFailed();
}

StreamReader::StreamReader(QIODevice &device)
    : m_device(device), m_size(device.size()), m_devicePos(device.pos()) {
    if (m_size < m_devicePos)
        m_size = m_devicePos;
}

StreamReader::~StreamReader() {
    if (buffered() > 0)
        m_device.seek(pos());
}

void StreamReader::fail() {
    throw Error(QStringLiteral("Stream read error"));
}

void StreamReader::fill(qint64 size) {
    // Keeps the unread tail and tops the buffer up with at least size bytes in all.
    qint64 keep = buffered();
    qint64 want = qMax<qint64>(BufferSize, size);
    want = qMin(want, keep + (m_size - m_devicePos));
    if (want < size)
        fail();
    if (m_buffer.size() < want)
        m_buffer.resize(want);
    if (keep > 0 && m_pos > 0)
        std::memmove(m_buffer.data(), m_buffer.constData() + m_pos, keep);
    m_pos = 0;
    m_end = keep;
    while (m_end < want) {
        qint64 got = m_device.read(m_buffer.data() + m_end, want - m_end);
        if (got <= 0)
            break;
        m_end += got;
        m_devicePos += got;
    }
    if (m_end < size)
        fail();
}

void StreamReader::need(qint64 size) {
    if (buffered() < size)
        fill(size);
}

quint8 StreamReader::readByte() {
    need(1);
    return static_cast<quint8>(m_buffer.at(m_pos++));
}

qint32 StreamReader::readInt32() {
    need(4);
    qint32 value = qFromLittleEndian<qint32>(m_buffer.constData() + m_pos);
    m_pos += 4;
    return value;
}

double StreamReader::readDouble() {
    need(8);
    quint64 bits = qFromLittleEndian<quint64>(m_buffer.constData() + m_pos);
    m_pos += 8;
    double value;
    std::memcpy(&value, &bits, 8);
    return value;
}

void StreamReader::readRaw(char *data, qint64 size) {
    if (size < 0 || size > bytesLeft())
        fail();
    qint64 fromBuffer = qMin(size, buffered());
    std::memcpy(data, m_buffer.constData() + m_pos, fromBuffer);
    m_pos += fromBuffer;
    data += fromBuffer;
    size -= fromBuffer;
    if (size == 0)
        return;
    if (size < BufferSize) {
        fill(size);
        std::memcpy(data, m_buffer.constData(), size);
        m_pos = size;
        return;
    }
    // Large strings go straight to their destination.
    while (size > 0) {
        qint64 got = m_device.read(data, size);
        if (got <= 0)
            fail();
        data += got;
        size -= got;
        m_devicePos += got;
    }
}

qint32 StreamReader::readLength(int unitSize) {
    qint32 length = readInt32();
    if (length < 0 || qint64(length) * unitSize > bytesLeft())
        fail();
    return length;
}

QByteArray StreamReader::readAnsi() {
    qint32 length = readLength(1);
    QByteArray text(length, Qt::Uninitialized);
    readRaw(text.data(), length);
    return text;
}

QString StreamReader::readWide(const QString *same) {
    qint32 length = readLength(2);
    qint64 bytes = qint64(length) * 2;
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        if (same && same->size() == length && bytes <= BufferSize) {
            need(bytes);
            if (std::memcmp(m_buffer.constData() + m_pos, same->utf16(), bytes) == 0) {
                m_pos += bytes;
                return *same;
            }
        }
    }
    QString text(length, Qt::Uninitialized);
    readRaw(reinterpret_cast<char *>(text.data()), bytes);
    if constexpr (QSysInfo::ByteOrder != QSysInfo::LittleEndian) {
        for (QChar &c : text)
            c = QChar(qFromLittleEndian(c.unicode()));
    }
    return text;
}
