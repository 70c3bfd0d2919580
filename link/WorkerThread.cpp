#include "link/BaseThread.h"

#include "app/Errors.h"
#include "link/GsmSerial.h"

#include "app/TsanAnnotate.h"

#include <QCoreApplication>
#include <QEvent>

#include <condition_variable>
#include <exception>
#include <mutex>

TBaseThread::TBaseThread() = default;

TBaseThread::~TBaseThread() = default;

void TBaseThread::Stop() {
    requestInterruption();
    if (AbortLinkOnStop && FLink)
        FLink->Aborted = true;
}

void TBaseThread::AddReport(const QByteArray &line) {
    if (Reports)
        Reports->append(line);
}

namespace {

// One call waiting to run on the UI thread; it lives on the worker's stack until done.
struct TSyncCall {
    const std::function<void()> *Fn = nullptr;
    std::mutex Lock;
    std::condition_variable Finished;
    bool Done = false;
    std::exception_ptr Error;
};

class TSyncEvent : public QEvent {
public:
    explicit TSyncEvent(TSyncCall *call) : QEvent(EventType()), Call(call) {}
    static QEvent::Type EventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    TSyncCall *Call;
};

// Runs the calls of the workers on the thread it lives on: the UI thread.
class TSyncReceiver : public QObject {
public:
    bool event(QEvent *e) override {
        TsanAcquire(e);
        if (e->type() != TSyncEvent::EventType())
            return QObject::event(e);
        TSyncCall *call = static_cast<TSyncEvent *>(e)->Call;
        try {
            (*call->Fn)();
        } catch (...) {
            call->Error = std::current_exception();
        }
        // The worker may return, and free the call, as soon as Done is seen.
        std::lock_guard lock(call->Lock);
        call->Done = true;
        call->Finished.notify_one();
        return true;
    }
};

TSyncReceiver *SyncReceiver(QCoreApplication *app) {
    static TSyncReceiver *receiver = [app] {
        auto *r = new TSyncReceiver;
        r->moveToThread(app->thread());
        r->setParent(app);
        return r;
    }();
    return receiver;
}

} // namespace

void TBaseThread::Synchronize(const std::function<void()> &fn) {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    // A plain mutex and condition variable rather than a blocking queued call, so that the
    // hand-off is an ordering every tool (ThreadSanitizer included) can see.
    TSyncCall call;
    call.Fn = &fn;
    auto *event = new TSyncEvent(&call);
    TsanRelease(event);
    QCoreApplication::postEvent(SyncReceiver(app), event);
    std::unique_lock lock(call.Lock);
    call.Finished.wait(lock, [&call] { return call.Done; });
    if (call.Error)
        std::rethrow_exception(call.Error);
}

void TBaseThread::run() {
    // An error that escapes the body still ends the thread normally, so the phone's end
    // handler runs and the phone becomes idle.
    try {
        Execute();
    } catch (const EPelorvane &e) {
        AddReport(e.Message().toLocal8Bit());
    } catch (const std::exception &e) {
        AddReport(QByteArray(e.what()));
    }
}
