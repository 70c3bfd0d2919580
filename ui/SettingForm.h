#pragma once

#include <QString>
#include <QWidget>

class TDataModule1;
class TViewHost;

// The phone view: port choice and the device probe's four rows.
class TfrmSetting : public QWidget {
    Q_OBJECT
public:
    TfrmSetting(TDataModule1 &data, TViewHost &host, QWidget *parent = nullptr);
    ~TfrmSetting() override;

    // The probe's "Model" row; empty while unknown. Shown beside the Phone folder.
    QString Model() const;
};
