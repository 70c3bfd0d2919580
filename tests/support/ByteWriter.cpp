#include "support/ByteWriter.h"

#include <cstring>

TByteWriter &TByteWriter::Byte(quint8 value) {
    Bytes.append(char(value));
    return *this;
}

TByteWriter &TByteWriter::Int32(qint32 value) {
    quint32 v = quint32(value);
    for (int i = 0; i < 4; ++i)
        Bytes.append(char((v >> (8 * i)) & 0xFF));
    return *this;
}

TByteWriter &TByteWriter::Double(double value) {
    quint64 bits;
    std::memcpy(&bits, &value, 8);
    for (int i = 0; i < 8; ++i)
        Bytes.append(char((bits >> (8 * i)) & 0xFF));
    return *this;
}

TByteWriter &TByteWriter::Ansi(const QByteArray &text) {
    Int32(qint32(text.size()));
    Bytes.append(text);
    return *this;
}

TByteWriter &TByteWriter::Wide(const QString &text) {
    Int32(qint32(text.size()));
    for (QChar c : text) {
        Bytes.append(char(c.unicode() & 0xFF));
        Bytes.append(char(c.unicode() >> 8));
    }
    return *this;
}

TByteWriter &TByteWriter::Raw(const QByteArray &bytes) {
    Bytes.append(bytes);
    return *this;
}
