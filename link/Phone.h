#pragma once

#include "link/WorkerThread.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QRecursiveMutex>

#include <functional>

class GsmSerial;

// Admits at most one worker thread at a time to the link, gives it the link and the report
// list, forwards stop requests and runs the end handler on the UI thread.
class Phone : public QObject {
    Q_OBJECT
public:
    using WorkerDoneEvent = std::function<void(Phone &phone)>;

    Phone(GsmSerial *link, WorkerThread::PortNameSource portName);
    // Stops a running worker and waits for its end before the link may go away.
    ~Phone() override;

    // Taken only by UI actions, only without waiting.
    bool tryLock() { return m_lock.try_lock(); }
    void unlock() { m_lock.unlock(); }

    bool isBusy() const { return m_worker != nullptr; }
    // Takes ownership of a worker created suspended and starts it.
    void start(WorkerThread *worker);
    void stopWorker();
    // Stops the worker, if any, and serves the event queue until its end handler has run:
    // a worker may be waiting in a synchronous call to the UI thread.
    void stopAndWait();

    WorkerThread *worker() const { return m_worker; }
    // The worker whose end handler runs now (what it did can be read there); null elsewhere.
    WorkerThread *endedWorker() const { return m_ended; }
    GsmSerial *link() const { return m_link; }

    // Lines of the current or last worker for the user; cleared by Start.
    QList<QByteArray> reports;
    WorkerDoneEvent onWorkerDone;

protected:
    bool event(QEvent *e) override;

private:
    void workerFinished(WorkerThread *worker);

    QRecursiveMutex m_lock;
    GsmSerial *m_link;
    WorkerThread::PortNameSource m_portName;
    WorkerThread *m_worker = nullptr;
    WorkerThread *m_ended = nullptr;
};

// The UI action pattern: runs action only when the phone's lock is free, always unlocking.
template <typename F>
void withPhoneLock(Phone &phone, F &&action) {
    if (!phone.tryLock())
        return;
    struct Unlock {
        Phone &phone;
        ~Unlock() { phone.unlock(); }
    } unlock{phone};
    action();
}
