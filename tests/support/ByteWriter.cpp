#include "support/ByteWriter.h"

#include <cstring>

ByteWriter &ByteWriter::byte(quint8 value) {
    bytes.append(char(value));
    return *this;
}

ByteWriter &ByteWriter::int32(qint32 value) {
    quint32 v = quint32(value);
    for (int i = 0; i < 4; ++i)
        bytes.append(char((v >> (8 * i)) & 0xFF));
    return *this;
}

ByteWriter &ByteWriter::float64(double value) {
    quint64 bits;
    std::memcpy(&bits, &value, 8);
    for (int i = 0; i < 8; ++i)
        bytes.append(char((bits >> (8 * i)) & 0xFF));
    return *this;
}

ByteWriter &ByteWriter::ansi(const QByteArray &text) {
    int32(qint32(text.size()));
    bytes.append(text);
    return *this;
}

ByteWriter &ByteWriter::wide(const QString &text) {
    int32(qint32(text.size()));
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return *this;
}

ByteWriter &ByteWriter::raw(const QByteArray &data) {
    bytes.append(data);
    return *this;
}
