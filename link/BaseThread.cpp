#include "link/BaseThread.h"

#include "app/Errors.h"
#include "link/GsmSerial.h"

#include <QCoreApplication>

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

void TBaseThread::Synchronize(const std::function<void()> &fn) {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, fn, Qt::BlockingQueuedConnection);
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
