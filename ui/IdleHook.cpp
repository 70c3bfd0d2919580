#include "ui/IdleHook.h"

#include "base/TsanAnnotate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

IdleHook::IdleHook(QObject *parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &IdleHook::idle);
    if (parent)
        parent->installEventFilter(this);
}

IdleHook &IdleHook::instance() {
    static QPointer<IdleHook> hook;
    if (!hook)
        hook = new IdleHook(QCoreApplication::instance());
    return *hook;
}

void IdleHook::request() {
    if (!m_timer.isActive())
        m_timer.start();
}

bool IdleHook::eventFilter(QObject *watched, QEvent *event) {
    // Every event passes here, also those a worker thread posted; the poster released the
    // event's address before Qt's queue (whose ordering the race checker cannot see) took it.
    tsanAcquire(event);
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
        request();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
