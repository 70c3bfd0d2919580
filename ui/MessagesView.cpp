#include "ui/MessagesView.h"

#include "app/AppData.h"
#include "base/OleDate.h"
#include "data/MessageList.h"
#include "link/Phone.h"
#include "ui/CellTipDelegate.h"
#include "ui/ColumnWidths.h"
#include "ui/ComposeView.h"
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
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QAction *makeAction(QWidget *owner, const char *name, const QString &text) {
    auto *action = new QAction(text, owner);
    action->setObjectName(QLatin1StringView(name));
    return action;
}

} // namespace

MessagesView::MessagesView(AppData &data, ViewHost &host, MessageList &list, const QString &title,
                           QWidget *parent)
    : QWidget(parent), m_data(data), m_host(host), m_list(list),
      m_isOutbox(&list == data.outboxList.get()) {
    setObjectName(QStringLiteral("messagesView"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *strip = new TitleStrip(title, this);
    titleLabel = strip->title();
    titleLabel->setObjectName(QStringLiteral("titleLabel"));
    layout->addWidget(strip);

    toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setIconSize(QSize(MediumImageSize, MediumImageSize));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    layout->addWidget(toolBar);

    splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("splitter"));
    splitter->setHandleWidth(3);
    splitter->setChildrenCollapsible(false);
    layout->addWidget(splitter, 1);

    m_model = new MessageModel(list, this);
    // A table, not a tree: a tree view lays out every row again when one is added, a table
    // with rows of one fixed height does not.
    m_listView = new QTableView(splitter);
    m_listView->setObjectName(QStringLiteral("listView"));
    m_listView->setModel(m_model);
    m_listView->setShowGrid(false);
    m_listView->setWordWrap(false);
    m_listView->setCornerButtonEnabled(false);
    m_listView->setSortingEnabled(false);
    m_listView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_listView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listView->setTabKeyNavigation(false);
    m_listView->setIconSize(QSize(SmallImageSize, SmallImageSize));
    m_listView->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView *rows = m_listView->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(qMax(m_listView->fontMetrics().height(), int(SmallImageSize)) + 4);
    QHeaderView *header = m_listView->horizontalHeader();
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionsMovable(true);
    header->setFirstSectionMovable(false);
    header->setSectionsClickable(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(SmallImageSize);
    const int widths[MessageModel::ColumnCount] = {24, 90, 350, 145, 145, 90, 110};
    for (int column = 0; column < MessageModel::ColumnCount; ++column)
        header->resizeSection(column, widths[column]);
    header->setSectionResizeMode(MessageModel::StatusColumn, QHeaderView::Fixed);
    // The text takes what the other columns leave.
    header->setSectionResizeMode(MessageModel::MessageColumn, QHeaderView::Stretch);
    m_cellDelegate = new CellTipDelegate(m_listView);
    m_listView->setItemDelegate(m_cellDelegate);
    m_columnWidths = new ColumnWidths(m_listView, header, title);
    // An international number in full: a plus and fifteen digits.
    m_columnWidths->fit(MessageModel::ToColumn, QStringLiteral("+000000000000000"), MaxToWidth);
    m_listView->installEventFilter(this);
    showDetailColumns();

    previewEdit = new QPlainTextEdit(splitter);
    previewEdit->setObjectName(QStringLiteral("previewEdit"));
    previewEdit->setReadOnly(true);
    splitter->addWidget(m_listView);
    splitter->addWidget(previewEdit);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setSizes({400, 97});

    forwardAction = makeAction(this, "actForward", QStringLiteral("Forward"));
    forwardAction->setIcon(roleIcon(ImageRole::Forward));
    resendAction = makeAction(this, "actResend", QStringLiteral("Resend"));
    resendAction->setIcon(roleIcon(ImageRole::Resend));
    deleteAction = makeAction(this, "actDelete", QStringLiteral("Delete"));
    deleteAction->setIcon(roleIcon(ImageRole::Delete));
    selectAllAction = makeAction(this, "actSelectAll", QStringLiteral("Select All"));
    onTriggered(forwardAction, this, &MessagesView::onForwardTriggered);
    onTriggered(resendAction, this, &MessagesView::onResendTriggered);
    onTriggered(deleteAction, this, &MessagesView::onDeleteTriggered);
    onTriggered(selectAllAction, this, &MessagesView::onSelectAllTriggered);
    if (m_isOutbox) {
        retryFailedAction = makeAction(this, "actRetryFailed", QStringLiteral("Retry failed"));
        retryFailedAction->setIcon(roleIcon(ImageRole::MessageFailed));
        retryUnknownAction = makeAction(this, "actRetryUnknown", QStringLiteral("Retry unknown"));
        retryUnknownAction->setIcon(roleIcon(ImageRole::MessageUnknown));
        onTriggered(retryFailedAction, this, &MessagesView::onRetryFailedTriggered);
        onTriggered(retryUnknownAction, this, &MessagesView::onRetryUnknownTriggered);
    }

    toolBar->addAction(resendAction);
    toolBar->addAction(forwardAction);
    toolBar->addSeparator();
    toolBar->addAction(deleteAction);

    contextMenu = new QMenu(this);
    contextMenu->setObjectName(QStringLiteral("contextMenu"));
    contextMenu->addAction(forwardAction);
    contextMenu->addAction(resendAction);
    contextMenu->addSeparator();
    contextMenu->addAction(deleteAction);
    contextMenu->addAction(selectAllAction);
    if (m_isOutbox) {
        contextMenu->addSeparator();
        contextMenu->addAction(retryFailedAction);
        contextMenu->addAction(retryUnknownAction);
    }
    connect(m_listView, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        updateActions();
        contextMenu->popup(m_listView->viewport()->mapToGlobal(pos));
    });

    connect(m_listView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MessagesView::onSelectionChanged);
    connect(&IdleHook::instance(), &IdleHook::idle, this, &MessagesView::updateActions);
    updateActions();
}

MessagesView::~MessagesView() = default;

MessageList &MessagesView::list() const {
    return m_list;
}

int MessagesView::addMessage(const Message &message) {
    const int index = m_list.add(message);
    m_model->syncRowCount();
    return index;
}

int MessagesView::moveSentTo(MessagesView &sentView) {
    const int moved = m_model->moveSentTo(sentView.list());
    sentView.m_model->syncRowCount();
    return moved;
}

void MessagesView::refreshList() {
    // A run's outcomes arrive through here without the list's own notice.
    m_retryScan.reset();
    m_model->syncRowCount();
    showDetailColumns();
    m_listView->viewport()->update();
}

void MessagesView::showDetailColumns() {
    bool phone = false;
    bool delivery = false;
    if (!m_isOutbox) {
        const quint64 changes = m_list.changeCount();
        if (!m_detailScan || m_detailScan->changeCount != changes) {
            DetailScan scan{changes};
            MessageList::Locker items(m_list);
            for (const auto &item : *items) {
                scan.phone = scan.phone || !item->phone().isEmpty();
                scan.delivery = scan.delivery || !item->messageId().isEmpty() ||
                                item->delivery() != DeliveryState::None;
                if (scan.phone && scan.delivery)
                    break;
            }
            m_detailScan = scan;
        }
        phone = m_detailScan->phone;
        delivery = m_detailScan->delivery;
    }
    m_listView->setColumnHidden(MessageModel::PhoneColumn, !phone);
    m_listView->setColumnHidden(MessageModel::DeliveryColumn, !delivery);
}

void MessagesView::updateActions() {
    const bool hasSelection = m_listView->selectionModel()->hasSelection();
    forwardAction->setEnabled(hasSelection);
    resendAction->setEnabled(hasSelection);
    deleteAction->setEnabled(hasSelection);
    selectAllAction->setEnabled(true);
    if (!m_isOutbox)
        return;
    // While a run goes, its summary already counts these messages as failed or unknown, and the
    // run would not come back for them: Stop first, then retry. Hidden, the view's actions cannot
    // be reached, so a long outbox is not read at every idle time.
    bool failed = false;
    bool unknown = false;
    if (m_data.phone && m_data.phone->isBusy()) {
        m_retryScan.reset();
    } else if (isVisible()) {
        const quint64 changes = m_list.changeCount();
        if (!m_retryScan || m_retryScan->changeCount != changes) {
            RetryScan scan{changes};
            MessageList::Locker items(m_list);
            for (const auto &item : *items) {
                scan.failed = scan.failed || item->status == MessageStatus::Failed;
                scan.unknown = scan.unknown || item->status == MessageStatus::Unknown;
                if (scan.failed && scan.unknown)
                    break;
            }
            m_retryScan = scan;
        }
        failed = m_retryScan->failed;
        unknown = m_retryScan->unknown;
    }
    retryFailedAction->setEnabled(failed);
    retryUnknownAction->setEnabled(unknown);
}

QList<int> MessagesView::selectedRows() const {
    QList<int> rows;
    const QItemSelection selection = m_listView->selectionModel()->selection();
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

void MessagesView::onSelectionChanged(const QItemSelection &selected, const QItemSelection &) {
    updateActions();
    // A change names a row when it leaves one row selected (a click) or adds exactly one
    // (Ctrl+click); a range or Select All names none and keeps the preview.
    int row = -1;
    const QItemSelection now = m_listView->selectionModel()->selection();
    if (now.size() == 1 && now.first().height() == 1)
        row = now.first().top();
    else if (selected.size() == 1 && selected.first().height() == 1)
        row = selected.first().top();
    if (row < 0)
        return;
    // The model's record, not the list's row: during a move the two differ.
    MessageList::Locker lock(m_list);
    if (const auto message = m_model->record(row))
        previewEdit->setPlainText(message->text());
}

void MessagesView::onForwardTriggered() {
    const QList<int> rows = selectedRows();
    if (rows.isEmpty() || rows.first() >= m_list.count())
        return;
    const QString text = m_list.get(rows.first()).text;
    ComposeView *compose = m_host.composeView();
    compose->setBody(text);
    m_host.showView(compose);
}

void MessagesView::onResendTriggered() {
    const QList<int> rows = selectedRows();
    // Copies first: resending in the outbox appends to the list being read.
    QList<Message> copies;
    copies.reserve(rows.size());
    {
        MessageList::Locker lock(m_list);
        for (int row : rows) {
            if (std::size_t(row) < lock->size())
                copies.append((*lock)[row]->toMessage());
        }
    }
    if (copies.isEmpty())
        return;
    MessagesView *outbox = m_host.outboxView();
    for (Message &message : copies) {
        message.created = oleNow();
        message.sent = 0;
        message.status = MessageStatus::Pending;
        message.clearPartProgress();
        outbox->addMessage(message);
    }
    m_host.showView(outbox);
}

void MessagesView::onDeleteTriggered() {
    QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return;
    if (messageDlg(QStringLiteral("Are you sure you want to delete the selected message(s) ?"),
                   MessageKind::Confirm, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    const int first = rows.first();
    {
        // A run may be sending from the outbox: a message it holds, and one the phone has
        // accepted (it waits in the outbox as sent until the run ends), stay where they are.
        MessagesView *outboxView = m_host.outboxView();
        const bool outbox = outboxView && &outboxView->list() == &m_list;
        // One lock over the choice and the removal: the run cannot claim a row in between.
        MessageList::Locker items(m_list);
        const int count = static_cast<int>(items->size());
        rows.erase(std::remove_if(rows.begin(), rows.end(),
                                  [&](int row) {
                                      if (row >= count)
                                          return true;
                                      const MessageStatus status = (*items)[row]->status;
                                      return status == MessageStatus::Sending ||
                                             (outbox && status == MessageStatus::Sent);
                                  }),
                   rows.end());
        m_listView->setUpdatesEnabled(false);
        m_list.removeMany(rows);
    }
    struct Resume {
        QTableView *view;
        ~Resume() { view->setUpdatesEnabled(true); }
    } resume{m_listView};
    m_model->reset();
    const int remaining = m_model->rowCount();
    if (remaining > 0) {
        const QModelIndex next = m_model->index(std::min(first, remaining - 1), 0);
        m_listView->selectionModel()->setCurrentIndex(next, QItemSelectionModel::ClearAndSelect |
                                                                QItemSelectionModel::Rows);
        m_listView->scrollTo(next);
        m_listView->setFocus();
    }
    previewEdit->clear();
    updateActions();
    m_host.refreshAll();
}

void MessagesView::onRetryFailedTriggered() {
    retry(MessageStatus::Failed);
}

void MessagesView::onRetryUnknownTriggered() {
    retry(MessageStatus::Unknown);
}

void MessagesView::retry(MessageStatus status) {
    if (m_data.phone && m_data.phone->isBusy())
        return;
    // The list's change marks the project modified.
    if (m_list.retry(status == MessageStatus::Failed, status == MessageStatus::Unknown) > 0) {
        m_listView->viewport()->update();
        m_host.refreshAll();
    }
    updateActions();
}

void MessagesView::onSelectAllTriggered() {
    m_listView->selectAll();
}

void MessagesView::copySelection() {
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return;
    QStringList lines;
    lines.reserve(rows.size());
    for (int row : rows) {
        QStringList cells;
        for (int column = MessageModel::ToColumn; column < MessageModel::ColumnCount; ++column)
            if (!m_listView->isColumnHidden(column))
                cells << m_model->index(row, column).data().toString();
        lines << cells.join(QLatin1Char('\t'));
    }
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void MessagesView::readLayout(const IniFile &ini, const QString &section) {
    m_columnWidths->read(ini, section);
}

void MessagesView::writeLayout(IniFile &ini, const QString &section) const {
    m_columnWidths->write(ini, section);
}

void MessagesView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    m_columnWidths->fitOnce();
}

bool MessagesView::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_listView && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Cut)) {
            copySelection();
            return true;
        }
        if (key->key() == Qt::Key_Delete && !(key->modifiers() & Qt::ControlModifier)) {
            if (m_listView->currentIndex().isValid())
                deleteAction->trigger();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
