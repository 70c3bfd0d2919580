#include "support/FailingDevice.h"

FailingDevice::FailingDevice(qint64 capacity) : m_capacity(capacity) {
    open(QIODevice::WriteOnly);
}

qint64 FailingDevice::readData(char *, qint64) {
    return -1;
}

qint64 FailingDevice::writeData(const char *data, qint64 size) {
    if (written.size() + size > m_capacity)
        return -1;
    written.append(data, size);
    return size;
}
