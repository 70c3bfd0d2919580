#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QRecursiveMutex>

#include <functional>

class TBaseThread;
class TGsmSerial;
class TSettings;

// Admits at most one worker thread at a time to the link, gives it the link and the report
// list, forwards stop requests and runs the end handler on the UI thread.
class TPhone : public QObject {
    Q_OBJECT
public:
    using TWorkerDoneEvent = std::function<void(TPhone &phone)>;

    TPhone(TGsmSerial *link, TSettings *settings);
    // Stops a running worker and waits for its end before the link may go away.
    ~TPhone() override;

    // Taken only by UI actions, only without waiting.
    bool TryLock() { return FLock.try_lock(); }
    void Unlock() { FLock.unlock(); }

    bool IsBusy() const { return FWorker != nullptr; }
    // Takes ownership of a worker created suspended and starts it.
    void Start(TBaseThread *worker);
    void StopWorker();
    // Stops the worker, if any, and serves the event queue until its end handler has run:
    // a worker may be waiting in a synchronous call to the UI thread.
    void StopAndWait();

    TBaseThread *Worker() const { return FWorker; }
    TGsmSerial *Link() const { return FLink; }

    // Lines of the current or last worker for the user; cleared by Start.
    QList<QByteArray> Reports;
    TWorkerDoneEvent OnWorkerDone;

protected:
    bool event(QEvent *e) override;

private:
    void WorkerFinished(TBaseThread *worker);

    QRecursiveMutex FLock;
    TGsmSerial *FLink;
    TSettings *FSettings;
    TBaseThread *FWorker = nullptr;
};

// The UI action pattern: runs action only when the phone's lock is free, always unlocking.
template <typename F>
void WithPhoneLock(TPhone &phone, F &&action) {
    if (!phone.TryLock())
        return;
    struct TUnlock {
        TPhone &Phone;
        ~TUnlock() { Phone.Unlock(); }
    } unlock{phone};
    action();
}
