#pragma once

#include <QAction>
#include <QObject>

#include <functional>

// Runs a user action; an error that escapes it ends the action and is shown by the general
// error handler, and the program goes on.
void RunGuarded(const std::function<void()> &action);

// Connects an action's trigger to a handler run through RunGuarded.
template <typename TReceiver, typename THandler>
void OnTriggered(QAction *action, TReceiver *receiver, THandler handler) {
    QObject::connect(action, &QAction::triggered, receiver,
                     [receiver, handler] { RunGuarded([&] { (receiver->*handler)(); }); });
}
