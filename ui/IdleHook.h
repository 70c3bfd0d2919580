#pragma once

#include <QObject>
#include <QTimer>

// Idle time for action updates: after user input, a change of focus or window, or an
// explicit Request, Idle is emitted once the event queue has been served (a zero timer).
// Many requests before that give one Idle.
class IdleHook : public QObject {
    Q_OBJECT
public:
    // The application's hook, created on first use as a child of the application object.
    static IdleHook &instance();

    void request();

Q_SIGNALS:
    void idle();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit IdleHook(QObject *parent);

    QTimer m_timer;
};
