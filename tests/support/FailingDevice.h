#pragma once

#include <QIODevice>

// A write-only device that accepts the first Capacity bytes and then fails every write, as
// a full disk does.
class TFailingDevice : public QIODevice {
public:
    explicit TFailingDevice(qint64 capacity);

    QByteArray Written;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    qint64 FCapacity;
};
