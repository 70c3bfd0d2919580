#include "link/Phone.h"

#include "link/WorkerThread.h"

#include "base/TsanAnnotate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>

#include <memory>

namespace {

class WorkerEndedEvent : public QEvent {
public:
    explicit WorkerEndedEvent(WorkerThread *worker) : QEvent(eventType()), worker(worker) {}
    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    WorkerThread *worker;
};

} // namespace

Phone::Phone(GsmSerial *link, WorkerThread::PortNameSource portName)
    : m_link(link), m_portName(std::move(portName)) {}

Phone::~Phone() {
    stopAndWait();
}

void Phone::start(WorkerThread *worker) {
    reports.clear();
    m_worker = worker;
    worker->setLink(m_link);
    // A worker that was given its own port (one phone of several) keeps it.
    if (!worker->portName)
        worker->portName = m_portName;
    // finished is emitted on the worker's thread as its last act; the end handler is posted
    // from there to the phone on the UI thread.
    connect(
        worker, &QThread::finished, worker,
        [this, worker] {
            // Everything read from the slot comes before the releases: the UI thread frees
            // the slot with the worker.
            Phone *phone = this;
            auto *ended = new WorkerEndedEvent(worker);
            tsanRelease(worker);
            tsanRelease(ended);
            QCoreApplication::postEvent(phone, ended);
        },
        Qt::DirectConnection);
    worker->reports = &reports;
    worker->start();
}

void Phone::stopWorker() {
    if (m_worker)
        m_worker->stop();
}

void Phone::stopAndWait() {
    if (!m_worker)
        return;
    stopWorker();
    QEventLoop loop;
    while (m_worker)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
}

bool Phone::event(QEvent *e) {
    tsanAcquire(e);
    if (e->type() != WorkerEndedEvent::eventType())
        return QObject::event(e);
    workerFinished(static_cast<WorkerEndedEvent *>(e)->worker);
    return true;
}

void Phone::workerFinished(WorkerThread *worker) {
    // finished is emitted just before the thread really ends; let it end before freeing it.
    worker->wait();
    tsanAcquire(worker);
    std::unique_ptr<WorkerThread> owned(worker);
    if (m_worker == worker)
        m_worker = nullptr;
    if (onWorkerDone) {
        struct EndedScope {
            WorkerThread *&ended;
            ~EndedScope() { ended = nullptr; }
        } scope{m_ended = worker};
        onWorkerDone(*this);
    }
}
