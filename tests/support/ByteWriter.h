#pragma once

#include <QByteArray>
#include <QString>

// Builds the bytes of a project file or list by hand, little-endian, so that tests state the
// expected layout independently of the code that writes it.
class ByteWriter {
public:
    ByteWriter &byte(quint8 value);
    ByteWriter &int32(qint32 value);
    ByteWriter &float64(double value);
    ByteWriter &ansi(const QByteArray &text);
    ByteWriter &wide(const QString &text);
    ByteWriter &raw(const QByteArray &data);

    QByteArray bytes;
};
