#pragma once

#include "ui/ContactsView.h"
#include "ui/ViewHost.h"

#include <QByteArray>
#include <QList>
#include <QString>

class PhoneView;

// A stand-in for the main window in view tests: records what the views ask of it and, like
// the main window, refreshes the contacts view on refreshAll. Header-only: only the window
// tests include it, and they link the window library.
class TestViewHost : public ViewHost {
public:
    void showView(QWidget *view) override { shown.append(view); }
    void refreshAll() override {
        ++refreshAllCount;
        if (contacts)
            contacts->refreshList();
    }
    void composeTo(const QByteArray &recipients) override { composedTo.append(recipients); }
    void setStatusText(const QString &text) override { statusText = text; }

    ComposeView *composeView() override { return nullptr; }
    ContactsView *contactsView() override { return contacts; }
    MessagesView *outboxView() override { return nullptr; }
    MessagesView *sentView() override { return nullptr; }
    PhoneView *phoneView() override { return phone; }

    ContactsView *contacts = nullptr;
    PhoneView *phone = nullptr;

    QList<QWidget *> shown;
    int refreshAllCount = 0;
    QList<QByteArray> composedTo;
    QString statusText;
};
