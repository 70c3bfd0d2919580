#pragma once

#include "data/ContactList.h"

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
class ContactModel;
class ColumnWidths;
class IniFile;
class AppData;
class ViewHost;

// The contacts view: the address book with check boxes, editing, import and export.
class ContactsView : public QWidget {
    Q_OBJECT
public:
    ContactsView(AppData &data, ViewHost &host, QWidget *parent = nullptr);
    ~ContactsView() override;

    // Row count from the list's Count, repaint, the checked and total counts.
    void refreshList();
    // Sets Checked of every selected contact in place, without a change notification (the
    // project does not become modified), then refreshes the main window.
    void setChecked(bool checked);
    // Availability of the actions from the current selection and editing state.
    void updateActions();

    // The selected rows in list order, and how many there are (without listing them).
    QList<int> selectedRows() const;
    int selectedCount() const;
    // The contact shown in the edit panel: its list index and the copy taken when chosen.
    int editIndex() const { return m_editIndex; }
    const Contact &currentContact() const { return m_current; }
    bool isEditing() const { return m_editing; }

    // The column widths the user has set, kept with the main window's layout.
    void readLayout(const IniFile &ini, const QString &section);
    void writeLayout(IniFile &ini, const QString &section) const;
    ColumnWidths *columnWidths() const { return m_columnWidths; }
    // The widest the Name and Number columns get when they fit their content.
    static constexpr int MaxNameWidth = 240;
    static constexpr int MaxNumberWidth = 200;

    // Run by the main window's File menu as well, whether or not the view is shown.
    QAction *importAction = nullptr;
    QAction *exportAction = nullptr;

    QAction *composeAction = nullptr;
    QAction *newAction = nullptr;
    QAction *deleteAction = nullptr;
    QAction *selectAllAction = nullptr;
    QAction *checkAction = nullptr;
    QAction *uncheckAction = nullptr;
    QAction *editAction = nullptr;
    QAction *editOkAction = nullptr;
    QAction *editCancelAction = nullptr;
    // Checkable: shows only the contacts that share their number with another one (numbers
    // compared once parsed with the Country setting), each number's contacts together.
    QAction *duplicatesAction = nullptr;

    QToolBar *toolBar = nullptr;
    QTreeView *listView = nullptr;
    QMenu *contextMenu = nullptr;
    QLineEdit *nameEdit = nullptr;
    QLineEdit *numberEdit = nullptr;
    QPushButton *editButton = nullptr;
    QPushButton *cancelButton = nullptr;
    QLabel *checkedLabel = nullptr;
    QLabel *totalLabel = nullptr;
    ContactModel *model = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void createActions();
    void createLayout();

    void onComposeTriggered();
    void onNewTriggered();
    void onDeleteTriggered();
    void onSelectAllTriggered();
    void onEditTriggered();
    void onEditOkTriggered();
    void onEditCancelTriggered();
    void onImportTriggered();
    void onExportTriggered();
    void onDuplicatesToggled();
    // Shows the duplicates afresh, or every contact when the action is unchecked.
    void applyFilter();
    // The selected rows of the model (not list indices), in row order.
    QList<int> selectedModelRows() const;
    void onEditClicked();

    void onCurrentRowChanged(const QModelIndex &current);
    void onCheckToggled(int row);
    bool handleListKey(QKeyEvent *event);
    bool handleFieldKey(QKeyEvent *event);
    void copySelection();
    void chooseRow(int row);
    void selectRow(int row);
    void showChecked();
    // The current contact in the fields, read-only.
    void showCurrent();
    void setEditing(bool editing);

    AppData &m_data;
    ViewHost &m_host;
    ContactList &m_list;
    int m_editIndex = 0;
    Contact m_current;
    bool m_editing = false;
    // The list's count when the filter was worked out: a different count works it out again.
    int m_filteredCount = -1;
    ColumnWidths *m_columnWidths = nullptr;
};
