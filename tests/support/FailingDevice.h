#pragma once

#include <QIODevice>

// A write-only device that accepts the first Capacity bytes and then fails every write, as
// a full disk does.
class FailingDevice : public QIODevice {
public:
    explicit FailingDevice(qint64 capacity);

    QByteArray written;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    qint64 m_capacity;
};
