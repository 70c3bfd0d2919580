#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

class TDataModule1;
class TViewHost;

// The compose view: one message, its recipients, the coding and the character counter.
class TfrmCompose : public QWidget {
    Q_OBJECT
public:
    TfrmCompose(TDataModule1 &data, TViewHost &host, QWidget *parent = nullptr);
    ~TfrmCompose() override;

    // The main window's ComposeTo: replaces the To text.
    void SetRecipients(const QByteArray &to);
    // Forward of the messages view: replaces the body (cut when too long).
    void SetBody(const QString &body);

    // The project file's compose section lives in TDataModule1::Compose: the window copies
    // the controls there before a save and back after a load.
    void StoreFields();
    void LoadFields();
};
