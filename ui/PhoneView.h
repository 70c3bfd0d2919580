#pragma once

#include "sending/GetInfoThread.h"

#include <QByteArray>
#include <QComboBox>
#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

class QAction;
class QMenu;
class QTreeWidget;
class TDataModule1;
class TViewHost;

// The port list's number for ordering: for COMn names the number after "COM", for others
// the number that ends the name (ttyUSB10 is 10); 2147483647 when there is none.
int PortNumber(const QByteArray &name);
// The names ordered by PortNumber; equal numbers keep their order.
QList<QByteArray> SortPortsByNumber(QList<QByteArray> names);

// A drop-down list that says when it is about to open.
class TPortComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;

Q_SIGNALS:
    void DropDown();
};

// The phone view: port choice and the device probe's four rows.
class TfrmSetting : public QWidget {
    Q_OBJECT
public:
    TfrmSetting(TDataModule1 &data, TViewHost &host, QWidget *parent = nullptr);
    ~TfrmSetting() override;

    // The probe's "Model" row; empty while unknown. Shown beside the Phone folder.
    QString Model() const;

    // Starts a probe unless the phone is locked or already has a worker (a sending run or a
    // probe still running): then nothing happens and the rows keep their values.
    void Update();

    QByteArray Caption(int row) const;
    QByteArray Value(int row) const;

    // Where the port list comes from (TComPort::ListPorts unless replaced).
    using TPortEnumerator = std::function<QList<QByteArray>()>;
    static TPortEnumerator &PortEnumerator();

    TPortComboBox *ComboBox1 = nullptr;
    QTreeWidget *Treeview = nullptr;
    QMenu *PopupMenu = nullptr;
    QAction *actUpdate = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    void ComboBox1DropDown();
    void ComboBox1Change(int index);
    void ShowPortPlaceholder();
    void ShowInfo(const TGetInfoThread::TResult &result);

    TDataModule1 &FData;
    TViewHost &FHost;
};
