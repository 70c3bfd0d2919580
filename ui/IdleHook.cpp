#include "ui/IdleHook.h"

#include "app/TsanAnnotate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

TIdleHook::TIdleHook(QObject *parent) : QObject(parent) {
    FTimer.setSingleShot(true);
    FTimer.setInterval(0);
    connect(&FTimer, &QTimer::timeout, this, &TIdleHook::Idle);
    if (parent)
        parent->installEventFilter(this);
}

TIdleHook &TIdleHook::Instance() {
    static QPointer<TIdleHook> hook;
    if (!hook)
        hook = new TIdleHook(QCoreApplication::instance());
    return *hook;
}

void TIdleHook::Request() {
    if (!FTimer.isActive())
        FTimer.start();
}

bool TIdleHook::eventFilter(QObject *watched, QEvent *event) {
    // Every event passes here, also those a worker thread posted; the poster released the
    // event's address before Qt's queue (whose ordering the race checker cannot see) took it.
    TsanAcquire(event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::FocusIn:
    case QEvent::WindowActivate:
    case QEvent::Show:
    case QEvent::Hide:
        Request();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
