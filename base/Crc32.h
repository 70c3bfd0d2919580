#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// CRC-32 (the polynomial of zip and PNG): recognises a record torn by a power loss.
quint32 crc32(QByteArrayView data);
