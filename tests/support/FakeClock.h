#pragma once

#include "sending/RunPacer.h"

#include <QDateTime>
#include <QMutex>
#include <QMutexLocker>

// A clock on which a wait lets its time pass at once: hours of a paced run go by in
// milliseconds. A wait still ends, as the real one does, when the run was stopped.
class FakeClock final : public PaceClock {
public:
    explicit FakeClock(QDateTime start) : m_now(std::move(start)) {}

    QDateTime now() override {
        QMutexLocker locker(&m_lock);
        return m_now;
    }
    bool sleep(qint64 ms, const std::function<bool(int ms)> &pause) override {
        if (!pause(0))
            return false;
        QMutexLocker locker(&m_lock);
        m_now = m_now.addMSecs(std::max<qint64>(ms, 0));
        return true;
    }
    void set(const QDateTime &now) {
        QMutexLocker locker(&m_lock);
        m_now = now;
    }

private:
    QMutex m_lock;
    QDateTime m_now;
};
