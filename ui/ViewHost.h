#pragma once

#include <QByteArray>
#include <QString>

class QWidget;
class TfrmCompose;
class TfrmContact;
class TfrmMessage;
class TfrmSetting;

// What the views need of the main window: showing one another, refreshing the whole window
// and the status text. TfrmPelorvane implements it; view tests may use a small host of their
// own.
class TViewHost {
public:
    virtual ~TViewHost() = default;

    virtual void ShowView(QWidget *view) = 0;
    virtual void RefreshAll() = 0;
    virtual void ComposeTo(const QByteArray &recipients) = 0;
    virtual void SetStatusText(const QString &text) = 0;

    // Each view exists once and is created on first request.
    virtual TfrmCompose *ComposeView() = 0;
    virtual TfrmContact *ContactsView() = 0;
    virtual TfrmMessage *OutboxView() = 0;
    virtual TfrmMessage *SentView() = 0;
    virtual TfrmSetting *PhoneView() = 0;
};
