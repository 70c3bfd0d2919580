#include "ui/MessageForm.h"

#include "data/MessageUnit.h"
#include "data/OleDate.h"
#include "ui/ComposeForm.h"
#include "ui/Dialogs.h"
#include "ui/Guarded.h"
#include "ui/IdleHook.h"
#include "ui/Images.h"
#include "ui/MessageModel.h"
#include "ui/TitleStrip.h"
#include "ui/ViewHost.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QAction *MakeAction(QWidget *owner, const char *name, const QString &text) {
    auto *action = new QAction(text, owner);
    action->setObjectName(QLatin1StringView(name));
    return action;
}

} // namespace

TfrmMessage::TfrmMessage(TDataModule1 &data, TViewHost &host, TMessageList &list,
                         const QString &title, QWidget *parent)
    : QWidget(parent), FData(data), FHost(host), FList(list) {
    setObjectName(QStringLiteral("frmMessage"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *strip = new TTitleStrip(title, this);
    Label1 = strip->Title();
    Label1->setObjectName(QStringLiteral("Label1"));
    layout->addWidget(strip);

    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    layout->addWidget(Splitter1, 1);

    FModel = new TMessageListModel(list, this);
    FTreeview = new QTreeView(Splitter1);
    FTreeview->setObjectName(QStringLiteral("Treeview"));
    FTreeview->setModel(FModel);
    FTreeview->setRootIsDecorated(false);
    FTreeview->setItemsExpandable(false);
    FTreeview->setUniformRowHeights(true);
    FTreeview->setAllColumnsShowFocus(true);
    FTreeview->setSortingEnabled(false);
    FTreeview->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FTreeview->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTreeview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTreeview->setIconSize(QSize(SmallImageSize, SmallImageSize));
    FTreeview->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView *header = FTreeview->header();
    header->setSectionsMovable(true);
    header->setFirstSectionMovable(false);
    header->setSectionsClickable(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(SmallImageSize);
    const int widths[TMessageListModel::ColumnCount] = {24, 90, 350, 145, 145};
    for (int column = 0; column < TMessageListModel::ColumnCount; ++column)
        header->resizeSection(column, widths[column]);
    header->setSectionResizeMode(TMessageListModel::colStatus, QHeaderView::Fixed);
    FTreeview->installEventFilter(this);

    memContent = new QPlainTextEdit(Splitter1);
    memContent->setObjectName(QStringLiteral("memContent"));
    memContent->setReadOnly(true);
    Splitter1->addWidget(FTreeview);
    Splitter1->addWidget(memContent);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setSizes({400, 97});

    actForward = MakeAction(this, "actForward", QStringLiteral("Forward"));
    actForward->setIcon(RoleIcon(TImageRole::Forward));
    actResend = MakeAction(this, "actResend", QStringLiteral("Resend"));
    actResend->setIcon(RoleIcon(TImageRole::Resend));
    actDelete = MakeAction(this, "actDelete", QStringLiteral("Delete"));
    actDelete->setIcon(RoleIcon(TImageRole::Delete));
    actSelectAll = MakeAction(this, "actSelectAll", QStringLiteral("Select All"));
    OnTriggered(actForward, this, &TfrmMessage::actForwardExecute);
    OnTriggered(actResend, this, &TfrmMessage::actResendExecute);
    OnTriggered(actDelete, this, &TfrmMessage::actDeleteExecute);
    OnTriggered(actSelectAll, this, &TfrmMessage::actSelectAllExecute);

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    PopupMenu->addAction(actForward);
    PopupMenu->addAction(actResend);
    PopupMenu->addSeparator();
    PopupMenu->addAction(actDelete);
    PopupMenu->addAction(actSelectAll);
    connect(FTreeview, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        UpdateActions();
        PopupMenu->popup(FTreeview->viewport()->mapToGlobal(pos));
    });

    connect(FTreeview->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmMessage::TreeviewChange);
    connect(&TIdleHook::Instance(), &TIdleHook::Idle, this, &TfrmMessage::UpdateActions);
    UpdateActions();
}

TfrmMessage::~TfrmMessage() = default;

TMessageList &TfrmMessage::List() const {
    return FList;
}

int TfrmMessage::AddMessage(const TMessage &message) {
    const int index = FList.Add(message);
    FModel->SyncRowCount();
    return index;
}

void TfrmMessage::RefreshList() {
    FModel->SyncRowCount();
    FTreeview->viewport()->update();
}

void TfrmMessage::UpdateActions() {
    const bool hasSelection = FTreeview->selectionModel()->hasSelection();
    actForward->setEnabled(hasSelection);
    actResend->setEnabled(hasSelection);
    actDelete->setEnabled(hasSelection);
    actSelectAll->setEnabled(true);
}

QList<int> TfrmMessage::SelectedRows() const {
    QList<int> rows;
    const QItemSelection selection = FTreeview->selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        if (range.parent().isValid())
            continue;
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void TfrmMessage::TreeviewChange(const QItemSelection &selected, const QItemSelection &) {
    UpdateActions();
    // A change names a row when it leaves one row selected (a click) or adds exactly one
    // (Ctrl+click); a range or Select All names none and keeps the preview.
    int row = -1;
    const QItemSelection now = FTreeview->selectionModel()->selection();
    if (now.size() == 1 && now.first().height() == 1)
        row = now.first().top();
    else if (selected.size() == 1 && selected.first().height() == 1)
        row = selected.first().top();
    if (row < 0)
        return;
    TMessageList::TLocker lock(FList);
    if (std::size_t(row) < lock->size())
        memContent->setPlainText((*lock)[row]->Text);
}

void TfrmMessage::actForwardExecute() {
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty() || rows.first() >= FList.Count())
        return;
    const QString text = FList.Get(rows.first()).Text;
    TfrmCompose *compose = FHost.ComposeView();
    compose->SetBody(text);
    FHost.ShowView(compose);
}

void TfrmMessage::actResendExecute() {
    const QList<int> rows = SelectedRows();
    // Copies first: resending in the outbox appends to the list being read.
    QList<TMessage> copies;
    copies.reserve(rows.size());
    {
        TMessageList::TLocker lock(FList);
        for (int row : rows) {
            if (std::size_t(row) < lock->size())
                copies.append(*(*lock)[row]);
        }
    }
    if (copies.isEmpty())
        return;
    TfrmMessage *outbox = FHost.OutboxView();
    for (TMessage &message : copies) {
        message.Created = OleNow();
        message.Sent = 0;
        message.Status = msPending;
        outbox->AddMessage(message);
    }
    FHost.ShowView(outbox);
}

void TfrmMessage::actDeleteExecute() {
    QList<int> rows = SelectedRows();
    if (rows.isEmpty())
        return;
    if (MessageDlg(QStringLiteral("Are you sure do delete the selected message(s) ?"),
                   TMsgKind::Confirm, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    const int first = rows.first();
    const int count = FList.Count();
    rows.erase(std::remove_if(rows.begin(), rows.end(), [count](int row) { return row >= count; }),
               rows.end());
    FTreeview->setUpdatesEnabled(false);
    struct TResume {
        QTreeView *View;
        ~TResume() { View->setUpdatesEnabled(true); }
    } resume{FTreeview};
    FList.DeleteMany(rows);
    FModel->Reset();
    const int remaining = FModel->rowCount();
    if (remaining > 0) {
        const QModelIndex next = FModel->index(std::min(first, remaining - 1), 0);
        FTreeview->selectionModel()->setCurrentIndex(next, QItemSelectionModel::ClearAndSelect |
                                                               QItemSelectionModel::Rows);
        FTreeview->scrollTo(next);
        FTreeview->setFocus();
    }
    memContent->clear();
    UpdateActions();
    FHost.RefreshAll();
}

void TfrmMessage::actSelectAllExecute() {
    FTreeview->selectAll();
}

void TfrmMessage::CopySelection() {
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty())
        return;
    QStringList lines;
    lines.reserve(rows.size());
    for (int row : rows) {
        QStringList cells;
        for (int column = TMessageListModel::colTo; column < TMessageListModel::ColumnCount;
             ++column)
            cells << FModel->index(row, column).data().toString();
        lines << cells.join(QLatin1Char('\t'));
    }
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

bool TfrmMessage::eventFilter(QObject *watched, QEvent *event) {
    if (watched == FTreeview && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Cut)) {
            CopySelection();
            return true;
        }
        if (key->key() == Qt::Key_Delete && !(key->modifiers() & Qt::ControlModifier)) {
            if (FTreeview->currentIndex().isValid())
                actDelete->trigger();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
