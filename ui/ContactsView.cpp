#include "ui/ContactForm.h"

#include "app/Database.h"
#include "app/Errors.h"
#include "resources/ImageRoles.h"
#include "ui/ContactModel.h"
#include "ui/Dialogs.h"
#include "ui/Guarded.h"
#include "ui/TitleStrip.h"
#include "ui/ViewHost.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <optional>

namespace {

const QString DeleteQuestion = QStringLiteral("Are you sure do delete the selected contact(s) ?");
const QString ImportTitle = QStringLiteral("Import contacts from text file");
const QString ImportFilter = QStringLiteral("Text files (*.txt)|*.txt|Comma separated file "
                                            "(*.csv)|*.csv|All files (*.*)|*.*");
const QString ExportTitle = QStringLiteral("Export contacts to text file");
const QString ExportFilter = QStringLiteral("Text files (*.txt)|*.txt|All files (*.*)|*.*");
const QString TextExt = QStringLiteral("txt");

bool NoShiftCtrlAlt(const QKeyEvent *event) {
    return (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) ==
           Qt::NoModifier;
}

} // namespace

TfrmContact::TfrmContact(TDataModule1 &data, TViewHost &host, QWidget *parent)
    : QWidget(parent), FData(data), FHost(host), FList(*data.ContactList) {
    setObjectName(QStringLiteral("frmContact"));
    Model = new TContactModel(FList, this);
    CreateActions();
    CreateLayout();

    connect(Treeview->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { TreeviewChange(current); });
    connect(Treeview->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmContact::UpdateActions);
    connect(Model, &QAbstractItemModel::modelReset, this, &TfrmContact::UpdateActions);
    connect(Model, &QAbstractItemModel::rowsRemoved, this, &TfrmContact::UpdateActions);
    connect(Model, &TContactModel::CheckClicked, this, &TfrmContact::TreeviewChecked);
    connect(Treeview, &QAbstractItemView::doubleClicked, actCompose, &QAction::trigger);
    connect(Treeview, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        UpdateActions();
        PopupMenu->popup(Treeview->viewport()->mapToGlobal(pos));
    });

    Treeview->installEventFilter(this);
    edtName->installEventFilter(this);
    edtNumber->installEventFilter(this);

    SetEditing(false);
    RefreshList();
}

TfrmContact::~TfrmContact() {
    edtNumber->removeEventFilter(this);
    edtName->removeEventFilter(this);
    Treeview->removeEventFilter(this);
}

void TfrmContact::CreateActions() {
    auto make = [this](const char *name, const QString &caption, std::optional<TImageRole> role,
                       std::function<void()> handler) {
        auto *action = new QAction(caption, this);
        action->setObjectName(QLatin1StringView(name));
        action->setProperty("category", QStringLiteral("Contacts"));
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        if (role)
            action->setIcon(QIcon(ImageRolePath(*role)));
        connect(action, &QAction::triggered, this,
                [handler = std::move(handler)] { RunGuarded(handler); });
        addAction(action);
        return action;
    };
    actCompose = make("actCompose", QStringLiteral("Compose"), TImageRole::Compose,
                      [this] { actComposeExecute(); });
    actNew =
        make("actNew", QStringLiteral("New"), TImageRole::NewContact, [this] { actNewExecute(); });
    actNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    actDelete = make("actDelete", QStringLiteral("Delete"), TImageRole::Delete,
                     [this] { actDeleteExecute(); });
    actSelectAll = make("actSelectAll", QStringLiteral("Select All"), std::nullopt,
                        [this] { actSelectAllExecute(); });
    actCheck =
        make("actCheck", QStringLiteral("Check"), TImageRole::Check, [this] { SetChecked(true); });
    actUncheck = make("actUncheck", QStringLiteral("Uncheck"), TImageRole::Uncheck,
                      [this] { SetChecked(false); });
    actEdit =
        make("actEdit", QStringLiteral("&Edit"), TImageRole::Edit, [this] { actEditExecute(); });
    actEditOK =
        make("actEditOK", QStringLiteral("&OK"), TImageRole::Ok, [this] { actEditOKExecute(); });
    actEditCancel = make("actEditCancel", QStringLiteral("Cancel"), TImageRole::Cancel,
                         [this] { actEditCancelExecute(); });
    actImport = make("actImport", QStringLiteral("Import"), TImageRole::ImportContacts,
                     [this] { actImportExecute(); });
    actExport = make("actExport", QStringLiteral("Export"), TImageRole::ExportContacts,
                     [this] { actExportExecute(); });
}

void TfrmContact::CreateLayout() {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *title = new TTitleStrip(QStringLiteral("Contacts"), this);
    title->AddRightLabel(QStringLiteral("Checked :"));
    lblChecked = title->AddRightLabel(QStringLiteral("0"), QStringLiteral("lblChecked"));
    title->AddRightLabel(QStringLiteral("   Total :"));
    lblTotal = title->AddRightLabel(QStringLiteral("0"), QStringLiteral("lblTotal"));
    layout->addWidget(title);

    ToolBar = new QToolBar(this);
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setFixedHeight(33);
    ToolBar->setIconSize(QSize(24, 24));
    ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ToolBar->addAction(actCompose);
    ToolBar->addSeparator();
    ToolBar->addAction(actNew);
    ToolBar->addAction(actDelete);
    layout->addWidget(ToolBar);

    Treeview = new QTreeView(this);
    Treeview->setObjectName(QStringLiteral("Treeview"));
    Treeview->setModel(Model);
    Treeview->setRootIsDecorated(false);
    Treeview->setItemsExpandable(false);
    Treeview->setUniformRowHeights(true);
    Treeview->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Treeview->setSelectionBehavior(QAbstractItemView::SelectRows);
    Treeview->setAllColumnsShowFocus(true);
    Treeview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Treeview->setSortingEnabled(false);
    Treeview->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView *header = Treeview->header();
    header->setFixedHeight(19);
    header->setSectionsClickable(false);
    header->setSectionsMovable(true);
    header->setFirstSectionMovable(false);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(TContactModel::colCheck, QHeaderView::Fixed);
    header->resizeSection(TContactModel::colCheck, 24);
    header->resizeSection(TContactModel::colName, 115);
    header->resizeSection(TContactModel::colNumber, 350);
    header->resizeSection(TContactModel::colSentCount, 75);
    layout->addWidget(Treeview, 1);

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    PopupMenu->addAction(actCompose);
    PopupMenu->addSeparator();
    PopupMenu->addAction(actCheck);
    PopupMenu->addAction(actUncheck);
    PopupMenu->addAction(actSelectAll);
    PopupMenu->addSeparator();
    PopupMenu->addAction(actNew);
    PopupMenu->addAction(actEdit);
    PopupMenu->addAction(actDelete);

    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("PnlEdit"));
    panel->setFixedHeight(64);
    panel->setAutoFillBackground(true);
    QPalette colours = panel->palette();
    QLinearGradient gradient(0, 0, 1, 0);
    gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
    gradient.setColorAt(0, colours.color(QPalette::Inactive, QPalette::Highlight).lighter(160));
    gradient.setColorAt(1, colours.color(QPalette::Window));
    colours.setBrush(QPalette::Window, QBrush(gradient));
    panel->setPalette(colours);
    auto *grid = new QGridLayout(panel);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setVerticalSpacing(4);
    edtName = new QLineEdit(panel);
    edtName->setObjectName(QStringLiteral("edtName"));
    edtName->setMinimumWidth(225);
    edtNumber = new QLineEdit(panel);
    edtNumber->setObjectName(QStringLiteral("edtNumber"));
    edtNumber->setMinimumWidth(225);
    auto *nameLabel = new QLabel(QStringLiteral("N&ame :"), panel);
    nameLabel->setBuddy(edtName);
    auto *numberLabel = new QLabel(QStringLiteral("N&umber :"), panel);
    numberLabel->setBuddy(edtNumber);
    btnEdit = new QPushButton(panel);
    btnEdit->setObjectName(QStringLiteral("btnEdit"));
    btnCancel = new QPushButton(panel);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setText(actEditCancel->text());
    btnCancel->setIcon(actEditCancel->icon());
    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(edtName, 0, 1);
    grid->addWidget(numberLabel, 1, 0);
    grid->addWidget(edtNumber, 1, 1);
    grid->addWidget(btnEdit, 0, 2);
    grid->addWidget(btnCancel, 1, 2);
    grid->setColumnStretch(1, 1);
    layout->addWidget(panel);

    connect(btnEdit, &QPushButton::clicked, this, &TfrmContact::btnEditClick);
    connect(btnCancel, &QPushButton::clicked, actEditCancel, &QAction::trigger);
}

void TfrmContact::RefreshList() {
    const int count = FList.Count();
    Model->SetRowCount(count);
    Treeview->viewport()->update();
    if (FEditIndex >= count &&
        (FEditIndex > 0 || !FCurrent.Name.isEmpty() || !FCurrent.Number.isEmpty())) {
        // The contact on show has gone with the list (a new project, a shorter one loaded).
        // Refreshes come from anywhere: the focus stays where it is.
        FCurrent = TContact{};
        FEditIndex = 0;
        ShowCurrent();
    }
    ShowChecked();
    UpdateActions();
}

void TfrmContact::ShowChecked() {
    lblChecked->setText(QString::number(FList.CheckedCount()));
    lblTotal->setText(QString::number(FList.Count()));
}

int TfrmContact::SelectedCount() const {
    int count = 0;
    // Whole rows are selected, so each range starting at the first column is rows not
    // counted elsewhere (the selection model keeps its ranges apart).
    for (const QItemSelectionRange &range : Treeview->selectionModel()->selection()) {
        if (range.left() == 0)
            count += range.height();
    }
    return count;
}

QList<int> TfrmContact::SelectedRows() const {
    QList<int> rows;
    const QItemSelection selection = Treeview->selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        if (range.left() != 0)
            continue;
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void TfrmContact::UpdateActions() {
    const int selected = SelectedCount();
    actCompose->setEnabled(selected > 0);
    actDelete->setEnabled(selected > 0);
    actCheck->setEnabled(selected > 0);
    actUncheck->setEnabled(selected > 0);
    actEdit->setEnabled(selected == 1);
    actEditCancel->setEnabled(FEditing);
    QAction *shown = FEditing ? actEditOK : actEdit;
    btnEdit->setText(shown->text());
    btnEdit->setIcon(shown->icon());
    btnEdit->setEnabled(shown->isEnabled());
    btnCancel->setEnabled(actEditCancel->isEnabled());
}

void TfrmContact::SetEditing(bool editing) {
    FEditing = editing;
    edtName->setReadOnly(!editing);
    edtNumber->setReadOnly(!editing);
    UpdateActions();
}

void TfrmContact::SetChecked(bool checked) {
    const quint8 flag = checked ? 1 : 0;
    {
        const QItemSelection selection = Treeview->selectionModel()->selection();
        TContactList::TLocker lock(FList);
        const int count = int(lock->size());
        for (const QItemSelectionRange &range : selection) {
            if (range.left() != 0)
                continue;
            for (int row = range.top(); row <= std::min(range.bottom(), count - 1); ++row)
                (*lock)[row]->Checked = flag;
        }
    }
    Treeview->viewport()->update();
    ShowChecked();
    FHost.RefreshAll();
}

void TfrmContact::TreeviewChecked(int) {
    lblChecked->setText(QString::number(FList.CheckedCount()));
}

void TfrmContact::TreeviewChange(const QModelIndex &current) {
    if (current.isValid())
        ChooseRow(current.row());
}

void TfrmContact::ChooseRow(int row) {
    {
        TContactList::TLocker lock(FList);
        if (row < 0 || std::size_t(row) >= lock->size())
            return;
        FCurrent = *(*lock)[row];
    }
    FEditIndex = row;
    actEditCancelExecute();
}

void TfrmContact::SelectRow(int row) {
    const QModelIndex index = Model->index(row, TContactModel::colCheck);
    const bool alreadyCurrent = Treeview->currentIndex().row() == row;
    Treeview->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                           QItemSelectionModel::Rows);
    Treeview->scrollTo(index);
    if (alreadyCurrent)
        ChooseRow(row);
    Treeview->setFocus();
}

void TfrmContact::actComposeExecute() {
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty())
        return;
    QByteArray recipients;
    {
        TContactList::TLocker lock(FList);
        for (int row : rows) {
            if (std::size_t(row) < lock->size())
                recipients += (*lock)[row]->Number;
            recipients += ';';
        }
    }
    FHost.ComposeTo(recipients);
}

void TfrmContact::actNewExecute() {
    const int index = FList.Add(TContact{});
    Model->SetRowCount(FList.Count());
    Treeview->clearSelection();
    SelectRow(index);
    ShowChecked();
    FHost.RefreshAll();
}

void TfrmContact::actDeleteExecute() {
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty())
        return;
    if (MessageDlg(DeleteQuestion, TMsgKind::Confirm, QMessageBox::Yes | QMessageBox::No) !=
        QMessageBox::Yes)
        return;
    const int first = rows.first();
    // One pass over the list; the same result as deleting one by one from the highest index.
    try {
        FList.DeleteMany(rows);
    } catch (...) {
        // The rows may have outlived their contacts (the list changed without a refresh).
        Model->Reset(FList.Count());
        throw;
    }
    const int count = FList.Count();
    Model->Reset(count);
    if (count > 0) {
        SelectRow(std::min(first, count - 1));
    } else {
        // The contact on show is gone and no other can take its place.
        FCurrent = TContact{};
        FEditIndex = 0;
        actEditCancelExecute();
    }
    ShowChecked();
    FHost.RefreshAll();
}

void TfrmContact::actSelectAllExecute() {
    const int rows = Model->rowCount();
    if (rows == 0)
        return;
    // One range: the tree's own selectAll walks every row to build it.
    Treeview->selectionModel()->select(
        QItemSelection(Model->index(0, 0), Model->index(rows - 1, TContactModel::ColumnCount - 1)),
        QItemSelectionModel::ClearAndSelect);
}

void TfrmContact::actEditExecute() {
    const QList<int> rows = SelectedRows();
    if (rows.size() != 1)
        return;
    // The panel edits the selected contact even when another one was chosen last.
    if (rows.first() != FEditIndex)
        ChooseRow(rows.first());
    SetEditing(true);
    edtName->setFocus();
    edtName->selectAll();
}

void TfrmContact::actEditOKExecute() {
    SetEditing(false);
    bool stored = false;
    {
        // Changed in place under the lock: a sent count raised meanwhile by the sender stays.
        TContactList::TLocker lock(FList);
        if (FEditIndex >= 0 && std::size_t(FEditIndex) < lock->size()) {
            TContact &contact = *(*lock)[FEditIndex];
            contact.Name = edtName->text();
            contact.Number = edtNumber->text().toLocal8Bit();
            FCurrent = contact;
            stored = true;
        }
    }
    if (stored)
        FList.Changed();
    Treeview->viewport()->update();
    Treeview->setFocus();
    FHost.RefreshAll();
}

void TfrmContact::ShowCurrent() {
    edtName->setText(FCurrent.Name);
    edtNumber->setText(QString::fromLocal8Bit(FCurrent.Number));
    SetEditing(false);
}

void TfrmContact::actEditCancelExecute() {
    ShowCurrent();
    Treeview->setFocus();
}

void TfrmContact::btnEditClick() {
    (FEditing ? actEditOK : actEdit)->trigger();
}

void TfrmContact::actImportExecute() {
    TFileDialogOptions options;
    options.Title = ImportTitle;
    options.Filter = ImportFilter;
    options.DefaultExt = TextExt;
    const QString fileName = OpenFileDialog(this, options);
    if (fileName.isEmpty())
        return;
    TImportResult result;
    try {
        result = FList.ImportFromFile(fileName);
    } catch (const EPelorvane &e) {
        // Contacts taken from the lines before a bad one stay in the list: show them.
        RefreshList();
        MessageDlg(e.Message(), TMsgKind::Error, QMessageBox::Ok);
        return;
    }
    RefreshList();
    MessageDlg(QStringLiteral("Imported %1 contacts, ignored %2 duplicates from\r\n%3")
                   .arg(result.Imported)
                   .arg(result.Duplicates)
                   .arg(QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath())),
               TMsgKind::Information, QMessageBox::Ok);
}

void TfrmContact::actExportExecute() {
    TFileDialogOptions options;
    options.Title = ExportTitle;
    options.Filter = ExportFilter;
    options.DefaultExt = TextExt;
    options.ConfirmOverwrite = true;
    options.ConfirmCreate = true;
    const QString fileName = SaveFileDialog(this, options);
    if (!fileName.isEmpty())
        FList.ExportToFile(fileName);
}

void TfrmContact::CopySelection() {
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty())
        return;
    QString text;
    for (int row : rows) {
        for (int column = TContactModel::colName; column < TContactModel::ColumnCount; ++column) {
            if (column > TContactModel::colName)
                text += QLatin1Char('\t');
            text += Model->index(row, column).data().toString();
        }
        text += QLatin1Char('\n');
    }
    QApplication::clipboard()->setText(text);
}

bool TfrmContact::TreeviewKeyDown(QKeyEvent *event) {
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::Cut)) {
        CopySelection();
        return true;
    }
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool focusedRow = Treeview->currentIndex().isValid();
    if (event->key() == Qt::Key_Insert && !ctrl && focusedRow) {
        actNew->trigger();
        return true;
    }
    if (event->key() == Qt::Key_Delete && !ctrl && focusedRow) {
        actDelete->trigger();
        return true;
    }
    // Space works the focused row's check box, whichever cell has the focus.
    if (event->key() == Qt::Key_Space && NoShiftCtrlAlt(event) && focusedRow) {
        const QModelIndex box =
            Model->index(Treeview->currentIndex().row(), TContactModel::colCheck);
        const bool checked = box.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        Model->setData(box, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        return true;
    }
    return false;
}

bool TfrmContact::FieldKeyDown(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (!NoShiftCtrlAlt(event))
            return false;
        // Moving the list's current row chooses another contact and drops the edit.
        QCoreApplication::sendEvent(Treeview, event);
        return true;
    default:
        return false;
    }
}

bool TfrmContact::eventFilter(QObject *watched, QEvent *event) {
    if (watched == Treeview && event->type() == QEvent::KeyPress)
        return TreeviewKeyDown(static_cast<QKeyEvent *>(event));
    if (watched == edtName || watched == edtNumber) {
        if (event->type() == QEvent::KeyPress)
            return FieldKeyDown(static_cast<QKeyEvent *>(event));
        if (event->type() == QEvent::Wheel) {
            QCoreApplication::sendEvent(Treeview->viewport(), event);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmContact::keyPressEvent(QKeyEvent *event) {
    // btnEdit is the view's default button and btnCancel its cancel button.
    if (NoShiftCtrlAlt(event)) {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (btnEdit->isEnabled()) {
                btnEdit->click();
                return;
            }
            break;
        case Qt::Key_Escape:
            if (btnCancel->isEnabled()) {
                btnCancel->click();
                return;
            }
            break;
        default:
            break;
        }
    }
    QWidget::keyPressEvent(event);
}
