#include "support/FailingDevice.h"

TFailingDevice::TFailingDevice(qint64 capacity) : FCapacity(capacity) {
    open(QIODevice::WriteOnly);
}

qint64 TFailingDevice::readData(char *, qint64) {
    return -1;
}

qint64 TFailingDevice::writeData(const char *data, qint64 size) {
    if (Written.size() + size > FCapacity)
        return -1;
    Written.append(data, size);
    return size;
}
