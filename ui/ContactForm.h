#pragma once

#include <QWidget>

class QAction;
class TDataModule1;
class TViewHost;

// The contacts view: the address book with check boxes, editing, import and export.
class TfrmContact : public QWidget {
    Q_OBJECT
public:
    TfrmContact(TDataModule1 &data, TViewHost &host, QWidget *parent = nullptr);
    ~TfrmContact() override;

    void RefreshList();

    // Run by the main window's File menu as well, whether or not the view is shown.
    QAction *actImport = nullptr;
    QAction *actExport = nullptr;
};
