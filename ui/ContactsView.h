#pragma once

#include "data/ContactUnit.h"

#include <QList>
#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QModelIndex;
class QPushButton;
class QToolBar;
class QTreeView;
class TContactModel;
class TDataModule1;
class TViewHost;

// The contacts view: the address book with check boxes, editing, import and export.
class TfrmContact : public QWidget {
    Q_OBJECT
public:
    TfrmContact(TDataModule1 &data, TViewHost &host, QWidget *parent = nullptr);
    ~TfrmContact() override;

    // Row count from the list's Count, repaint, the checked and total counts.
    void RefreshList();
    // Sets Checked of every selected contact in place, without a change notification (the
    // project does not become modified), then refreshes the main window.
    void SetChecked(bool checked);
    // Availability of the actions from the current selection and editing state.
    void UpdateActions();

    // The selected rows in list order, and how many there are (without listing them).
    QList<int> SelectedRows() const;
    int SelectedCount() const;
    // The contact shown in the edit panel: its list index and the copy taken when chosen.
    int EditIndex() const { return FEditIndex; }
    const TContact &CurrentContact() const { return FCurrent; }
    bool IsEditing() const { return FEditing; }

    // Run by the main window's File menu as well, whether or not the view is shown.
    QAction *actImport = nullptr;
    QAction *actExport = nullptr;

    QAction *actCompose = nullptr;
    QAction *actNew = nullptr;
    QAction *actDelete = nullptr;
    QAction *actSelectAll = nullptr;
    QAction *actCheck = nullptr;
    QAction *actUncheck = nullptr;
    QAction *actEdit = nullptr;
    QAction *actEditOK = nullptr;
    QAction *actEditCancel = nullptr;

    QToolBar *ToolBar = nullptr;
    QTreeView *Treeview = nullptr;
    QMenu *PopupMenu = nullptr;
    QLineEdit *edtName = nullptr;
    QLineEdit *edtNumber = nullptr;
    QPushButton *btnEdit = nullptr;
    QPushButton *btnCancel = nullptr;
    QLabel *lblChecked = nullptr;
    QLabel *lblTotal = nullptr;
    TContactModel *Model = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void CreateActions();
    void CreateLayout();

    void actComposeExecute();
    void actNewExecute();
    void actDeleteExecute();
    void actSelectAllExecute();
    void actEditExecute();
    void actEditOKExecute();
    void actEditCancelExecute();
    void actImportExecute();
    void actExportExecute();
    void btnEditClick();

    void TreeviewChange(const QModelIndex &current);
    void TreeviewChecked(int row);
    bool TreeviewKeyDown(QKeyEvent *event);
    bool FieldKeyDown(QKeyEvent *event);
    void CopySelection();
    void ChooseRow(int row);
    void SelectRow(int row);
    void ShowChecked();
    // The current contact in the fields, read-only.
    void ShowCurrent();
    void SetEditing(bool editing);

    TDataModule1 &FData;
    TViewHost &FHost;
    TContactList &FList;
    int FEditIndex = 0;
    TContact FCurrent;
    bool FEditing = false;
};
