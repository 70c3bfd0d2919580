#pragma once

// A stand-in for the main window in tests of single views: it creates the compose, outbox
// and sent views on request and records what the views ask of it. For GUI tests only (needs
// the window library).

#include "app/Database.h"
#include "ui/ComposeForm.h"
#include "ui/MessageForm.h"
#include "ui/ViewHost.h"

#include <QList>
#include <QWidget>

#include <memory>

class TViewTestHost : public TViewHost {
public:
    explicit TViewTestHost(TDataModule1 &data) : Data(data) {
        Pane = std::make_unique<QWidget>();
        Pane->resize(800, 600);
    }

    void ShowView(QWidget *view) override {
        Shown << view;
        RefreshAll();
    }
    void RefreshAll() override {
        ++Refreshes;
        if (FOutbox)
            FOutbox->RefreshList();
        if (FSent)
            FSent->RefreshList();
    }
    void ComposeTo(const QByteArray &recipients) override {
        ComposeView()->SetRecipients(recipients);
        ShowView(ComposeView());
    }
    void SetStatusText(const QString &text) override { Status = text; }

    TfrmCompose *ComposeView() override {
        if (!FCompose)
            FCompose = Docked(new TfrmCompose(Data, *this, Pane.get()));
        return FCompose;
    }
    TfrmContact *ContactsView() override { return nullptr; }
    TfrmMessage *OutboxView() override {
        if (!FOutbox)
            FOutbox = Docked(new TfrmMessage(Data, *this, *Data.OutboxList,
                                             QStringLiteral("Outbox"), Pane.get()));
        return FOutbox;
    }
    TfrmMessage *SentView() override {
        if (!FSent)
            FSent = Docked(
                new TfrmMessage(Data, *this, *Data.SentList, QStringLiteral("Sent"), Pane.get()));
        return FSent;
    }
    TfrmSetting *PhoneView() override { return nullptr; }

    QWidget *LastShown() const { return Shown.isEmpty() ? nullptr : Shown.last(); }

    TDataModule1 &Data;
    std::unique_ptr<QWidget> Pane;
    QList<QWidget *> Shown;
    int Refreshes = 0;
    QString Status;

private:
    // Each view fills the pane, as in the main window.
    template <typename TView>
    TView *Docked(TView *view) {
        view->setGeometry(Pane->rect());
        return view;
    }

    TfrmCompose *FCompose = nullptr;
    TfrmMessage *FOutbox = nullptr;
    TfrmMessage *FSent = nullptr;
};
