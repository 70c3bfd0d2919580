#include "ui/ContactsView.h"

#include "app/AppData.h"
#include "app/IniFile.h"
#include "base/Error.h"
#include "resources/ImageRoles.h"
#include "ui/CellTipDelegate.h"
#include "ui/ColumnWidths.h"
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

const QString DeleteQuestion =
    QStringLiteral("Are you sure you want to delete the selected contact(s) ?");
const QString ImportTitle = QStringLiteral("Import contacts from text file");
const QString ImportFilter =
    QStringLiteral("Contacts (*.csv *.txt *.vcf)|*.csv;*.txt;*.vcf|Text files (*.txt)|*.txt|"
                   "Comma separated file (*.csv)|*.csv|vCard files (*.vcf)|*.vcf|"
                   "All files (*.*)|*.*");
// Malformed lines named in the summary box; the rest are counted.
constexpr int MaxSkippedLinesShown = 10;
const QString ExportTitle = QStringLiteral("Export contacts to text file");
const QString ExportFilter = QStringLiteral("Text files (*.txt)|*.txt|All files (*.*)|*.*");
const QString TextExt = QStringLiteral("txt");

bool noShiftCtrlAlt(const QKeyEvent *event) {
    return (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) ==
           Qt::NoModifier;
}

} // namespace

ContactsView::ContactsView(AppData &data, ViewHost &host, QWidget *parent)
    : QWidget(parent), m_data(data), m_host(host), m_list(*data.contactList) {
    setObjectName(QStringLiteral("contactsView"));
    model = new ContactModel(m_list, this);
    createActions();
    createLayout();

    connect(listView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { onCurrentRowChanged(current); });
    connect(listView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ContactsView::updateActions);
    connect(model, &QAbstractItemModel::modelReset, this, &ContactsView::updateActions);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &ContactsView::updateActions);
    connect(model, &ContactModel::checkClicked, this, &ContactsView::onCheckToggled);
    connect(listView, &QAbstractItemView::doubleClicked, composeAction, &QAction::trigger);
    connect(listView, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        updateActions();
        contextMenu->popup(listView->viewport()->mapToGlobal(pos));
    });

    listView->installEventFilter(this);
    nameEdit->installEventFilter(this);
    numberEdit->installEventFilter(this);

    setEditing(false);
    refreshList();
}

ContactsView::~ContactsView() {
    numberEdit->removeEventFilter(this);
    nameEdit->removeEventFilter(this);
    listView->removeEventFilter(this);
}

void ContactsView::createActions() {
    auto make = [this](const char *name, const QString &caption, std::optional<ImageRole> role,
                       std::function<void()> handler) {
        auto *action = new QAction(caption, this);
        action->setObjectName(QLatin1StringView(name));
        action->setProperty("category", QStringLiteral("Contacts"));
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        if (role)
            action->setIcon(QIcon(imageRolePath(*role)));
        connect(action, &QAction::triggered, this,
                [handler = std::move(handler)] { runGuarded(handler); });
        addAction(action);
        return action;
    };
    composeAction = make("actCompose", QStringLiteral("Compose"), ImageRole::Compose,
                         [this] { onComposeTriggered(); });
    newAction =
        make("actNew", QStringLiteral("New"), ImageRole::NewContact, [this] { onNewTriggered(); });
    newAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    deleteAction = make("actDelete", QStringLiteral("Delete"), ImageRole::Delete,
                        [this] { onDeleteTriggered(); });
    selectAllAction = make("actSelectAll", QStringLiteral("Select All"), std::nullopt,
                           [this] { onSelectAllTriggered(); });
    checkAction =
        make("actCheck", QStringLiteral("Check"), ImageRole::Check, [this] { setChecked(true); });
    uncheckAction = make("actUncheck", QStringLiteral("Uncheck"), ImageRole::Uncheck,
                         [this] { setChecked(false); });
    editAction =
        make("actEdit", QStringLiteral("&Edit"), ImageRole::Edit, [this] { onEditTriggered(); });
    editOkAction =
        make("actEditOK", QStringLiteral("&OK"), ImageRole::Ok, [this] { onEditOkTriggered(); });
    editCancelAction = make("actEditCancel", QStringLiteral("Cancel"), ImageRole::Cancel,
                            [this] { onEditCancelTriggered(); });
    importAction = make("actImport", QStringLiteral("Import"), ImageRole::ImportContacts,
                        [this] { onImportTriggered(); });
    exportAction = make("actExport", QStringLiteral("Export"), ImageRole::ExportContacts,
                        [this] { onExportTriggered(); });
    duplicatesAction = make("actDuplicates", QStringLiteral("Duplicates"), std::nullopt,
                            [this] { onDuplicatesToggled(); });
    duplicatesAction->setCheckable(true);
    duplicatesAction->setToolTip(
        QStringLiteral("Show only the contacts whose number another contact has too"));
}

void ContactsView::createLayout() {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *title = new TitleStrip(QStringLiteral("Contacts"), this);
    title->addRightLabel(QStringLiteral("Checked :"));
    checkedLabel = title->addRightLabel(QStringLiteral("0"), QStringLiteral("lblChecked"));
    title->addRightLabel(QStringLiteral("   Total :"));
    totalLabel = title->addRightLabel(QStringLiteral("0"), QStringLiteral("lblTotal"));
    layout->addWidget(title);

    toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setFixedHeight(33);
    toolBar->setIconSize(QSize(24, 24));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolBar->addAction(composeAction);
    toolBar->addSeparator();
    toolBar->addAction(newAction);
    toolBar->addAction(deleteAction);
    toolBar->addSeparator();
    toolBar->addAction(duplicatesAction);
    layout->addWidget(toolBar);

    listView = new QTreeView(this);
    listView->setObjectName(QStringLiteral("listView"));
    listView->setModel(model);
    listView->setRootIsDecorated(false);
    listView->setItemsExpandable(false);
    listView->setUniformRowHeights(true);
    listView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    listView->setSelectionBehavior(QAbstractItemView::SelectRows);
    listView->setAllColumnsShowFocus(true);
    listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView->setSortingEnabled(false);
    listView->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView *header = listView->header();
    header->setFixedHeight(19);
    header->setSectionsClickable(false);
    header->setSectionsMovable(true);
    header->setFirstSectionMovable(false);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(ContactModel::CheckColumn, QHeaderView::Fixed);
    header->resizeSection(ContactModel::CheckColumn, 24);
    header->resizeSection(ContactModel::NameColumn, 115);
    header->resizeSection(ContactModel::NumberColumn, 350);
    header->resizeSection(ContactModel::SentCountColumn, 75);
    listView->setItemDelegate(new CellTipDelegate(listView));
    m_columnWidths = new ColumnWidths(listView, header, QStringLiteral("Contacts"));
    // Names and numbers fit, so that Sent Count shows at the window's first width.
    m_columnWidths->fit(ContactModel::NameColumn, QStringLiteral("Firstname Lastname"),
                        MaxNameWidth);
    m_columnWidths->fit(ContactModel::NumberColumn, QStringLiteral("+000000000000000"),
                        MaxNumberWidth);
    layout->addWidget(listView, 1);

    contextMenu = new QMenu(this);
    contextMenu->setObjectName(QStringLiteral("contextMenu"));
    contextMenu->addAction(composeAction);
    contextMenu->addSeparator();
    contextMenu->addAction(checkAction);
    contextMenu->addAction(uncheckAction);
    contextMenu->addAction(selectAllAction);
    contextMenu->addSeparator();
    contextMenu->addAction(newAction);
    contextMenu->addAction(editAction);
    contextMenu->addAction(deleteAction);

    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("editPanel"));
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
    nameEdit = new QLineEdit(panel);
    nameEdit->setObjectName(QStringLiteral("nameEdit"));
    nameEdit->setMinimumWidth(225);
    numberEdit = new QLineEdit(panel);
    numberEdit->setObjectName(QStringLiteral("numberEdit"));
    numberEdit->setMinimumWidth(225);
    auto *nameLabel = new QLabel(QStringLiteral("N&ame :"), panel);
    nameLabel->setBuddy(nameEdit);
    auto *numberLabel = new QLabel(QStringLiteral("N&umber :"), panel);
    numberLabel->setBuddy(numberEdit);
    editButton = new QPushButton(panel);
    editButton->setObjectName(QStringLiteral("editButton"));
    cancelButton = new QPushButton(panel);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setText(editCancelAction->text());
    cancelButton->setIcon(editCancelAction->icon());
    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(nameEdit, 0, 1);
    grid->addWidget(numberLabel, 1, 0);
    grid->addWidget(numberEdit, 1, 1);
    grid->addWidget(editButton, 0, 2);
    grid->addWidget(cancelButton, 1, 2);
    grid->setColumnStretch(1, 1);
    layout->addWidget(panel);

    connect(editButton, &QPushButton::clicked, this, &ContactsView::onEditClicked);
    connect(cancelButton, &QPushButton::clicked, editCancelAction, &QAction::trigger);
}

void ContactsView::refreshList() {
    const int count = m_list.count();
    if (!model->isFiltered())
        model->setRowCount(count);
    else if (count != m_filteredCount)
        applyFilter();
    listView->viewport()->update();
    if (m_editIndex >= count &&
        (m_editIndex > 0 || !m_current.name.isEmpty() || !m_current.number.isEmpty())) {
        // The contact on show has gone with the list (a new project, a shorter one loaded).
        // Refreshes come from anywhere: the focus stays where it is.
        m_current = Contact{};
        m_editIndex = 0;
        showCurrent();
    }
    showChecked();
    updateActions();
}

void ContactsView::showChecked() {
    checkedLabel->setText(QString::number(m_list.checkedCount()));
    totalLabel->setText(QString::number(m_list.count()));
}

int ContactsView::selectedCount() const {
    int count = 0;
    // Whole rows are selected, so each range starting at the first column is rows not
    // counted elsewhere (the selection model keeps its ranges apart).
    for (const QItemSelectionRange &range : listView->selectionModel()->selection()) {
        if (range.left() == 0)
            count += range.height();
    }
    return count;
}

QList<int> ContactsView::selectedModelRows() const {
    QList<int> rows;
    const QItemSelection selection = listView->selectionModel()->selection();
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

QList<int> ContactsView::selectedRows() const {
    QList<int> rows = selectedModelRows();
    if (!model->isFiltered())
        return rows;
    QList<int> indices;
    indices.reserve(rows.size());
    for (int row : rows) {
        if (const int index = model->listIndex(row); index >= 0)
            indices.append(index);
    }
    std::sort(indices.begin(), indices.end());
    return indices;
}

void ContactsView::updateActions() {
    const int selected = selectedCount();
    composeAction->setEnabled(selected > 0);
    deleteAction->setEnabled(selected > 0);
    checkAction->setEnabled(selected > 0);
    uncheckAction->setEnabled(selected > 0);
    editAction->setEnabled(selected == 1);
    editCancelAction->setEnabled(m_editing);
    QAction *shown = m_editing ? editOkAction : editAction;
    editButton->setText(shown->text());
    editButton->setIcon(shown->icon());
    editButton->setEnabled(shown->isEnabled());
    cancelButton->setEnabled(editCancelAction->isEnabled());
}

void ContactsView::setEditing(bool editing) {
    m_editing = editing;
    nameEdit->setReadOnly(!editing);
    numberEdit->setReadOnly(!editing);
    updateActions();
}

void ContactsView::setChecked(bool checked) {
    const quint8 flag = checked ? 1 : 0;
    {
        const QItemSelection selection = listView->selectionModel()->selection();
        ContactList::Locker lock(m_list);
        const int count = int(lock->size());
        for (const QItemSelectionRange &range : selection) {
            if (range.left() != 0)
                continue;
            for (int row = range.top(); row <= range.bottom(); ++row) {
                const int index = model->listIndex(row);
                if (index >= 0 && index < count)
                    (*lock)[index]->checked = flag;
            }
        }
    }
    listView->viewport()->update();
    showChecked();
    m_host.refreshAll();
}

void ContactsView::onCheckToggled(int) {
    checkedLabel->setText(QString::number(m_list.checkedCount()));
}

void ContactsView::onCurrentRowChanged(const QModelIndex &current) {
    if (current.isValid())
        chooseRow(model->listIndex(current.row()));
}

void ContactsView::chooseRow(int row) {
    {
        ContactList::Locker lock(m_list);
        if (row < 0 || std::size_t(row) >= lock->size())
            return;
        m_current = *(*lock)[row];
    }
    m_editIndex = row;
    onEditCancelTriggered();
}

void ContactsView::selectRow(int row) {
    const QModelIndex index = model->index(row, ContactModel::CheckColumn);
    const bool alreadyCurrent = listView->currentIndex().row() == row;
    listView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                           QItemSelectionModel::Rows);
    listView->scrollTo(index);
    if (alreadyCurrent)
        chooseRow(model->listIndex(row));
    listView->setFocus();
}

void ContactsView::onComposeTriggered() {
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return;
    QByteArray recipients;
    {
        ContactList::Locker lock(m_list);
        for (int row : rows) {
            if (std::size_t(row) < lock->size())
                recipients += (*lock)[row]->number;
            recipients += ';';
        }
    }
    m_host.composeTo(recipients);
}

void ContactsView::onNewTriggered() {
    // The new contact has no number yet: show the whole list, where it is.
    if (duplicatesAction->isChecked()) {
        duplicatesAction->setChecked(false);
        applyFilter();
    }
    const int index = m_list.add(Contact{});
    model->setRowCount(m_list.count());
    listView->clearSelection();
    selectRow(index);
    showChecked();
    m_host.refreshAll();
}

void ContactsView::onDeleteTriggered() {
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return;
    if (messageDlg(DeleteQuestion, MessageKind::Confirm, QMessageBox::Yes | QMessageBox::No) !=
        QMessageBox::Yes)
        return;
    const int first = model->isFiltered() ? selectedModelRows().first() : rows.first();
    // One pass over the list; the same result as deleting one by one from the highest index.
    try {
        m_list.removeMany(rows);
    } catch (...) {
        // The rows may have outlived their contacts (the list changed without a refresh).
        applyFilter();
        throw;
    }
    if (model->isFiltered())
        applyFilter();
    else
        model->reset(m_list.count());
    const int count = model->rowCount();
    if (count > 0) {
        selectRow(std::min(first, count - 1));
    } else {
        // The contact on show is gone and no other can take its place.
        m_current = Contact{};
        m_editIndex = 0;
        onEditCancelTriggered();
    }
    showChecked();
    m_host.refreshAll();
}

void ContactsView::onSelectAllTriggered() {
    const int rows = model->rowCount();
    if (rows == 0)
        return;
    // One range: the tree's own selectAll walks every row to build it.
    listView->selectionModel()->select(
        QItemSelection(model->index(0, 0), model->index(rows - 1, ContactModel::ColumnCount - 1)),
        QItemSelectionModel::ClearAndSelect);
}

void ContactsView::onEditTriggered() {
    const QList<int> rows = selectedRows();
    if (rows.size() != 1)
        return;
    // The panel edits the selected contact even when another one was chosen last.
    if (rows.first() != m_editIndex)
        chooseRow(rows.first());
    setEditing(true);
    nameEdit->setFocus();
    nameEdit->selectAll();
}

void ContactsView::onEditOkTriggered() {
    setEditing(false);
    // Changed in place under the lock: a sent count raised meanwhile by the sender stays.
    if (const auto stored =
            m_list.edit(m_editIndex, nameEdit->text(), numberEdit->text().toLocal8Bit()))
        m_current = *stored;
    listView->viewport()->update();
    listView->setFocus();
    m_host.refreshAll();
}

void ContactsView::showCurrent() {
    nameEdit->setText(m_current.name);
    numberEdit->setText(QString::fromLocal8Bit(m_current.number));
    setEditing(false);
}

void ContactsView::onEditCancelTriggered() {
    showCurrent();
    listView->setFocus();
}

void ContactsView::onEditClicked() {
    (m_editing ? editOkAction : editAction)->trigger();
}

void ContactsView::onImportTriggered() {
    FileDialogOptions options;
    options.title = ImportTitle;
    options.filter = ImportFilter;
    options.defaultExt = TextExt;
    const QString fileName = openFileDialog(this, options);
    if (fileName.isEmpty())
        return;
    ImportResult result;
    try {
        result = m_list.importFromFile(fileName, m_data.settings->country());
    } catch (const Error &e) {
        messageDlg(e.message(), MessageKind::Error, QMessageBox::Ok);
        return;
    }
    // The explorer's count and the caption's modified mark follow the import at once.
    refreshList();
    m_host.refreshAll();
    QString summary = QStringLiteral("Imported %1 contacts, ignored %2 duplicates from\r\n%3")
                          .arg(result.imported)
                          .arg(result.duplicates)
                          .arg(QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath()));
    for (const QString &line : importDetails(result))
        summary += QStringLiteral("\r\n") + line;
    const qsizetype shown = std::min<qsizetype>(result.skippedLines.size(), MaxSkippedLinesShown);
    for (qsizetype i = 0; i < shown; ++i)
        summary += QStringLiteral("\r\n") + result.skippedLines[i];
    if (result.skippedLines.size() > shown)
        summary += QStringLiteral("\r\n...");
    messageDlg(summary,
               result.skippedLines.isEmpty() ? MessageKind::Information : MessageKind::Warning,
               QMessageBox::Ok);
}

void ContactsView::onExportTriggered() {
    FileDialogOptions options;
    options.title = ExportTitle;
    options.filter = ExportFilter;
    options.defaultExt = TextExt;
    options.confirmOverwrite = true;
    options.confirmCreate = true;
    const QString fileName = saveFileDialog(this, options);
    if (!fileName.isEmpty())
        m_list.exportToFile(fileName);
}

void ContactsView::onDuplicatesToggled() {
    applyFilter();
    updateActions();
}

void ContactsView::applyFilter() {
    m_filteredCount = m_list.count();
    if (duplicatesAction->isChecked())
        model->setFilter(m_list.duplicateIndices(m_data.settings->country()));
    else
        model->reset(m_filteredCount);
    listView->viewport()->update();
}

void ContactsView::copySelection() {
    const QList<int> rows = selectedModelRows();
    if (rows.isEmpty())
        return;
    QString text;
    for (int row : rows) {
        for (int column = ContactModel::NameColumn; column < ContactModel::ColumnCount; ++column) {
            if (column > ContactModel::NameColumn)
                text += QLatin1Char('\t');
            text += model->index(row, column).data().toString();
        }
        text += QLatin1Char('\n');
    }
    QApplication::clipboard()->setText(text);
}

bool ContactsView::handleListKey(QKeyEvent *event) {
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::Cut)) {
        copySelection();
        return true;
    }
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool focusedRow = listView->currentIndex().isValid();
    if (event->key() == Qt::Key_Insert && !ctrl && focusedRow) {
        newAction->trigger();
        return true;
    }
    if (event->key() == Qt::Key_Delete && !ctrl && focusedRow) {
        deleteAction->trigger();
        return true;
    }
    // Space works the focused row's check box, whichever cell has the focus.
    if (event->key() == Qt::Key_Space && noShiftCtrlAlt(event) && focusedRow) {
        const QModelIndex box =
            model->index(listView->currentIndex().row(), ContactModel::CheckColumn);
        const bool checked = box.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        model->setData(box, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        return true;
    }
    return false;
}

bool ContactsView::handleFieldKey(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (!noShiftCtrlAlt(event))
            return false;
        // Moving the list's current row chooses another contact and drops the edit.
        QCoreApplication::sendEvent(listView, event);
        return true;
    default:
        return false;
    }
}

bool ContactsView::eventFilter(QObject *watched, QEvent *event) {
    if (watched == listView && event->type() == QEvent::KeyPress)
        return handleListKey(static_cast<QKeyEvent *>(event));
    if (watched == nameEdit || watched == numberEdit) {
        if (event->type() == QEvent::KeyPress)
            return handleFieldKey(static_cast<QKeyEvent *>(event));
        if (event->type() == QEvent::Wheel) {
            QCoreApplication::sendEvent(listView->viewport(), event);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ContactsView::readLayout(const IniFile &ini, const QString &section) {
    m_columnWidths->read(ini, section);
}

void ContactsView::writeLayout(IniFile &ini, const QString &section) const {
    m_columnWidths->write(ini, section);
}

void ContactsView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    m_columnWidths->fitOnce();
}

void ContactsView::keyPressEvent(QKeyEvent *event) {
    // editButton is the view's default button and cancelButton its cancel button.
    if (noShiftCtrlAlt(event)) {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (editButton->isEnabled()) {
                editButton->click();
                return;
            }
            break;
        case Qt::Key_Escape:
            if (cancelButton->isEnabled()) {
                cancelButton->click();
                return;
            }
            break;
        default:
            break;
        }
    }
    QWidget::keyPressEvent(event);
}
