#pragma once

#include <QByteArray>
#include <QString>

// Builds the bytes of a project file or list by hand, little-endian, so that tests state the
// expected layout independently of the code that writes it.
class TByteWriter {
public:
    TByteWriter &Byte(quint8 value);
    TByteWriter &Int32(qint32 value);
    TByteWriter &Double(double value);
    TByteWriter &Ansi(const QByteArray &text);
    TByteWriter &Wide(const QString &text);
    TByteWriter &Raw(const QByteArray &bytes);

    QByteArray Bytes;
};
