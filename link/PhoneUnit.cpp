#include "link/PhoneUnit.h"

#include "link/BaseThread.h"

#include <QEventLoop>

#include <memory>

TPhone::TPhone(TGsmSerial *link, TSettings *settings) : FLink(link), FSettings(settings) {}

TPhone::~TPhone() {
    StopAndWait();
}

void TPhone::Start(TBaseThread *worker) {
    Reports.clear();
    FWorker = worker;
    worker->SetLink(FLink);
    worker->Settings = FSettings;
    // finished is emitted on the worker's thread; the phone lives on the UI thread, so the
    // handler is queued there.
    connect(worker, &QThread::finished, this, [this, worker] { WorkerFinished(worker); });
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

void TPhone::WorkerFinished(TBaseThread *worker) {
    // finished is emitted just before the thread really ends; let it end before freeing it.
    worker->wait();
    std::unique_ptr<TBaseThread> owned(worker);
    if (FWorker == worker)
        FWorker = nullptr;
    if (OnWorkerDone)
        OnWorkerDone(*this);
}
