#include "link/PhoneUnit.h"

#include "link/BaseThread.h"

#include "app/TsanAnnotate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>

#include <memory>

namespace {

class TWorkerEndedEvent : public QEvent {
public:
    explicit TWorkerEndedEvent(TBaseThread *worker) : QEvent(EventType()), Worker(worker) {}
    static QEvent::Type EventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    TBaseThread *Worker;
};

} // namespace

TPhone::TPhone(TGsmSerial *link, TSettings *settings) : FLink(link), FSettings(settings) {}

TPhone::~TPhone() {
    StopAndWait();
}

void TPhone::Start(TBaseThread *worker) {
    Reports.clear();
    FWorker = worker;
    worker->SetLink(FLink);
    worker->Settings = FSettings;
    // finished is emitted on the worker's thread as its last act; the end handler is posted
    // from there to the phone on the UI thread.
    connect(
        worker, &QThread::finished, worker,
        [this, worker] {
            // Everything read from the slot comes before the releases: the UI thread frees
            // the slot with the worker.
            TPhone *phone = this;
            auto *ended = new TWorkerEndedEvent(worker);
            TsanRelease(worker);
            TsanRelease(ended);
            QCoreApplication::postEvent(phone, ended);
        },
        Qt::DirectConnection);
    worker->Reports = &Reports;
    worker->start();
}

void TPhone::StopWorker() {
    if (FWorker)
        FWorker->Stop();
}

void TPhone::StopAndWait() {
    if (!FWorker)
        return;
    StopWorker();
    QEventLoop loop;
    while (FWorker)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
}

bool TPhone::event(QEvent *e) {
    TsanAcquire(e);
    if (e->type() != TWorkerEndedEvent::EventType())
        return QObject::event(e);
    WorkerFinished(static_cast<TWorkerEndedEvent *>(e)->Worker);
    return true;
}

void TPhone::WorkerFinished(TBaseThread *worker) {
    // finished is emitted just before the thread really ends; let it end before freeing it.
    worker->wait();
    TsanAcquire(worker);
    std::unique_ptr<TBaseThread> owned(worker);
    if (FWorker == worker)
        FWorker = nullptr;
    if (OnWorkerDone)
        OnWorkerDone(*this);
}
