#pragma once

#include "app/AppData.h"
#include "link/Phone.h"

#include <QCoreApplication>
#include <QElapsedTimer>

// Starts a sending run as the window's Start does: only while the phone's lock is free and it
// has no worker. False when nothing started.
inline bool startRun(AppData &data) {
    bool started = false;
    withPhoneLock(*data.phone, [&] {
        if (!data.phone->isBusy()) {
            data.phone->start(data.newSender());
            started = true;
        }
    });
    return started;
}

// Serves events until the phone has no worker (its end handler has run); false after timeoutMs.
inline bool waitPhoneIdle(Phone &phone, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (phone.isBusy() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return !phone.isBusy();
}
