#include "link/WorkerThread.h"

#include "base/Error.h"
#include "link/GsmSerial.h"

#include "base/TsanAnnotate.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread() = default;

void WorkerThread::stop() {
    {
        std::lock_guard lock(m_pauseLock);
        m_stopRequested = true;
    }
    m_pauseEnd.notify_all();
    requestInterruption();
    if (!m_link)
        return;
    if (abortLinkOnStop)
        m_link->abort();
    else
        m_link->abortAfter(StopGraceMs);
}

bool WorkerThread::pause(int ms) {
    std::unique_lock lock(m_pauseLock);
    return !m_pauseEnd.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)),
                                [this] { return m_stopRequested.load(); });
}

void WorkerThread::addReport(const QByteArray &line) {
    if (reports)
        reports->append(line);
}

namespace {

// One call waiting to run on the UI thread; it lives on the worker's stack until done.
struct SyncCall {
    const std::function<void()> *fn = nullptr;
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::exception_ptr error;
};

class SyncEvent : public QEvent {
public:
    explicit SyncEvent(SyncCall *call) : QEvent(eventType()), call(call) {}
    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    SyncCall *call;
};

// Runs the calls of the workers on the thread it lives on: the UI thread.
class SyncReceiver : public QObject {
public:
    bool event(QEvent *e) override {
        tsanAcquire(e);
        if (e->type() != SyncEvent::eventType())
            return QObject::event(e);
        SyncCall *call = static_cast<SyncEvent *>(e)->call;
        try {
            (*call->fn)();
        } catch (...) {
            call->error = std::current_exception();
        }
        // The worker may return, and free the call, as soon as Done is seen.
        std::lock_guard lock(call->lock);
        call->done = true;
        call->finished.notify_one();
        return true;
    }
};

SyncReceiver *syncReceiver(QCoreApplication *app) {
    static SyncReceiver *receiver = [app] {
        auto *r = new SyncReceiver;
        r->moveToThread(app->thread());
        r->setParent(app);
        return r;
    }();
    return receiver;
}

} // namespace

void WorkerThread::synchronize(const std::function<void()> &fn) {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    // A plain mutex and condition variable rather than a blocking queued call, so that the
    // hand-off is an ordering every tool (ThreadSanitizer included) can see.
    SyncCall call;
    call.fn = &fn;
    auto *event = new SyncEvent(&call);
    tsanRelease(event);
    QCoreApplication::postEvent(syncReceiver(app), event);
    std::unique_lock lock(call.lock);
    call.finished.wait(lock, [&call] { return call.done; });
    if (call.error)
        std::rethrow_exception(call.error);
}

void WorkerThread::run() {
    // An error that escapes the body still ends the thread normally, so the phone's end
    // handler runs and the phone becomes idle.
    try {
        execute();
    } catch (const Error &e) {
        addReport(e.message().toLocal8Bit());
    } catch (const std::exception &e) {
        addReport(QByteArray(e.what()));
    }
}
