#pragma once

#include <QAction>
#include <QObject>

#include <functional>

// Runs a user action; an error that escapes it ends the action and is shown by the general
// error handler, and the program goes on.
void runGuarded(const std::function<void()> &action);

// Connects an action's trigger to a handler run through runGuarded.
template <typename Receiver, typename Handler>
void onTriggered(QAction *action, Receiver *receiver, Handler handler) {
    QObject::connect(action, &QAction::triggered, receiver,
                     [receiver, handler] { runGuarded([&] { (receiver->*handler)(); }); });
}
