#pragma once

#include <QByteArray>
#include <QString>

class QWidget;
class ComposeView;
class ContactsView;
class MessagesView;
class PhoneView;

// What the views need of the main window: showing one another, refreshing the whole window
// and the status text. MainWindow implements it; view tests may use a small host of their
// own.
class ViewHost {
public:
    virtual ~ViewHost() = default;

    virtual void showView(QWidget *view) = 0;
    virtual void refreshAll() = 0;
    virtual void composeTo(const QByteArray &recipients) = 0;
    virtual void setStatusText(const QString &text) = 0;

    // Each view exists once and is created on first request.
    virtual ComposeView *composeView() = 0;
    virtual ContactsView *contactsView() = 0;
    virtual MessagesView *outboxView() = 0;
    virtual MessagesView *sentView() = 0;
    virtual PhoneView *phoneView() = 0;
};
