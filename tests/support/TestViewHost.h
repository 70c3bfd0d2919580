#pragma once

#include "ui/ContactForm.h"
#include "ui/ViewHost.h"

#include <QByteArray>
#include <QList>
#include <QString>

class TfrmSetting;

// A stand-in for the main window in view tests: records what the views ask of it and, like
// the main window, refreshes the contacts view on RefreshAll. Header-only: only the window
// tests include it, and they link the window library.
class TTestViewHost : public TViewHost {
public:
    void ShowView(QWidget *view) override { Shown.append(view); }
    void RefreshAll() override {
        ++RefreshAllCount;
        if (Contacts)
            Contacts->RefreshList();
    }
    void ComposeTo(const QByteArray &recipients) override { ComposedTo.append(recipients); }
    void SetStatusText(const QString &text) override { StatusText = text; }

    TfrmCompose *ComposeView() override { return nullptr; }
    TfrmContact *ContactsView() override { return Contacts; }
    TfrmMessage *OutboxView() override { return nullptr; }
    TfrmMessage *SentView() override { return nullptr; }
    TfrmSetting *PhoneView() override { return Phone; }

    TfrmContact *Contacts = nullptr;
    TfrmSetting *Phone = nullptr;

    QList<QWidget *> Shown;
    int RefreshAllCount = 0;
    QList<QByteArray> ComposedTo;
    QString StatusText;
};
