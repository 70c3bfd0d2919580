#include "ui/MainWindow.h"

#include "app/AppData.h"
#include "app/IniFile.h"
#include "link/Phone.h"
#include "sending/SendingWorker.h"
#include "ui/AboutDialog.h"
#include "ui/ComposeView.h"
#include "ui/ContactsView.h"
#include "ui/Dialogs.h"
#include "ui/DisplayText.h"
#include "ui/ExplorerModel.h"
#include "ui/Guarded.h"
#include "ui/IdleHook.h"
#include "ui/Images.h"
#include "ui/MessagesView.h"
#include "ui/PasswordStore.h"
#include "ui/PhoneView.h"

#include <QAction>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMovie>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

const QString ProjectFilter = QStringLiteral("Pelorvane Project (*.sms)|*.sms|All Files (*.*)|*.*");
const QString SaveFilter = QStringLiteral("Pelorvane Projects (*.sms)|*.sms|All Files (*.*)|*.*");
const QString ProjectExt = QStringLiteral("sms");
// The compose view's Long toggle, kept with the window's layout.
const QString LongButtonKey = QStringLiteral("btnLong_Down");

constexpr int DefaultWidth = 610;
constexpr int DefaultHeight = 593;
constexpr int ToolStripHeight = 62;
constexpr int ExplorerWidth = 137;
constexpr int ExplorerHeaderHeight = 21;
constexpr int SplitterWidth = 4;
constexpr int SecondPanelWidth = 80;

// Show states and placement flags as the desktop reports them.
constexpr int ShowNormal = 1;
constexpr int ShowMinimized = 2;
constexpr int ShowMaximized = 3;
constexpr int RestoreToMaximized = 2;

QAction *makeAction(QObject *owner, const char *name, const QString &text) {
    auto *action = new QAction(text, owner);
    action->setObjectName(QLatin1StringView(name));
    return action;
}

// "%d,%d,%d,%d"; false unless there are exactly four whole numbers.
bool readFour(const QString &text, int values[4]) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return false;
    }
    return true;
}

QString four(int a, int b, int c, int d) {
    return QStringLiteral("%1,%2,%3,%4").arg(a).arg(b).arg(c).arg(d);
}

bool onSomeScreen(const QRect &rect) {
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        if (screen->availableGeometry().intersects(rect))
            return true;
    }
    return false;
}

} // namespace

MainWindow::MainWindow(AppData &data, QWidget *parent) : QMainWindow(parent), m_data(data) {
    setObjectName(QLatin1StringView(LayoutSection));
    setWindowIcon(QIcon(programIconPath()));
    resize(DefaultWidth, DefaultHeight);

    createActions();
    createMenus();
    createToolBar();
    createBody();
    createStatusBar();

    m_data.onAskFileName = [this] { return saveFileDialog(this, SaveFilter, ProjectExt); };
    m_data.onRefreshAll = [this] { refreshAll(); };
    m_data.readiness.askPin = [this](const PinRequest &request) { return askPin(request); };
    m_data.smppPassword = [this] { return smppPassword(); };
    m_data.readiness.showStatus = [this](const QString &status) {
        // The wait is over: back to the run's own word.
        setStatusText(status.isEmpty() ? (m_stopRequested ? QStringLiteral("Stopping...")
                                                          : QStringLiteral("Busy..."))
                                       : status);
    };

    m_data.readiness.showNetwork = [this](const QString &network) {
        phoneStatusLabel->setText(network);
    };

    // Every node is initialised now, which creates and docks its view.
    for (int index = 0; index < ExplorerModel::NodeCount; ++index)
        explorerModel->nodeAt(index);
    // Now, not with the rest of the layout when the window first shows: a project opened before
    // that must not have a long body cut to one SMS.
    composeView()->longButton->setChecked(
        IniFile(m_data.settings->fileName())
            .readBool(QLatin1StringView(LayoutSection), LongButtonKey, false));

    connect(&IdleHook::instance(), &IdleHook::idle, this, &MainWindow::updateActions);
    updateCaption();
    updateActions();
}

MainWindow::~MainWindow() {
    // Destroyed without the close question (or during a run): the worker ends while the views
    // it refreshes still exist, and what it sent still moves to the sent folder.
    if (m_data.phone) {
        m_data.phone->onWorkerDone = nullptr;
        if (m_data.phone->isBusy()) {
            m_data.stopWorkerAndWait();
            m_data.moveSentMessages();
        }
    }
    m_data.onRefreshAll = nullptr;
    m_data.onAskFileName = nullptr;
    m_data.readiness = ReadinessOptions();
    if (m_shown && !m_layoutWritten)
        writeLayout();
}

void MainWindow::createActions() {
    newAction = makeAction(this, "actFileNew", QStringLiteral("&New"));
    newAction->setIcon(roleIcon(ImageRole::NewProject));
    openAction = makeAction(this, "actOpen", QStringLiteral("&Open..."));
    openAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    openAction->setIcon(roleIcon(ImageRole::Open));
    saveAction = makeAction(this, "actSave", QStringLiteral("&Save"));
    saveAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    saveAction->setIcon(roleIcon(ImageRole::Save));
    saveAsAction = makeAction(this, "actSaveAs", QStringLiteral("S&ave As..."));
    saveAsAction->setIcon(roleIcon(ImageRole::SaveAs));
    importContactsAction =
        makeAction(this, "actImportContact", QStringLiteral("Import Contacts..."));
    importContactsAction->setIcon(roleIcon(ImageRole::ImportContacts));
    exportContactsAction =
        makeAction(this, "actExportContact", QStringLiteral("Export Contacts..."));
    exportContactsAction->setIcon(roleIcon(ImageRole::ExportContacts));
    exitAction = makeAction(this, "actExit", QStringLiteral("E&xit"));
    exitAction->setIcon(roleIcon(ImageRole::Exit));

    viewExplorerAction = makeAction(this, "actViewExplorer", QStringLiteral("&Folder Explorer"));
    viewExplorerAction->setCheckable(true);
    viewExplorerAction->setChecked(true);
    viewExplorerAction->setIcon(roleIcon(ImageRole::FolderExplorer));
    viewComposeAction = makeAction(this, "actViewCompose", QStringLiteral("Co&mpose"));
    viewComposeAction->setIcon(roleIcon(ImageRole::Compose));
    viewContactsAction = makeAction(this, "actViewContacts", QStringLiteral("Co&ntacts"));
    viewContactsAction->setIcon(roleIcon(ImageRole::Contacts));
    viewOutboxAction = makeAction(this, "actViewOutbox", QStringLiteral("Ou&tbox"));
    viewOutboxAction->setIcon(roleIcon(ImageRole::Outbox));
    viewPhoneAction = makeAction(this, "actViewPhone", QStringLiteral("P&hone"));
    viewPhoneAction->setIcon(roleIcon(ImageRole::Phone));
    viewSentAction = makeAction(this, "actViewSent", QStringLiteral("&Sent"));
    viewSentAction->setIcon(roleIcon(ImageRole::Sent));
    aboutAction = makeAction(this, "ActAbout", QStringLiteral("&About"));
    aboutAction->setIcon(roleIcon(ImageRole::About));

    startAction = makeAction(this, "actStart", QStringLiteral("Start"));
    startAction->setShortcut(QKeySequence(Qt::Key_F5));
    startAction->setIcon(roleIcon(ImageRole::Start));
    stopAction = makeAction(this, "actStop", QStringLiteral("Stop"));
    stopAction->setIcon(roleIcon(ImageRole::Stop));
    stopAction->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
    stopAction->setEnabled(false);
    // F5 reaches Start also while the tool button shows Stop.
    addAction(startAction);
    addAction(stopAction);

    onTriggered(newAction, this, &MainWindow::onNewTriggered);
    onTriggered(openAction, this, &MainWindow::onOpenTriggered);
    onTriggered(saveAction, this, &MainWindow::onSaveTriggered);
    onTriggered(saveAsAction, this, &MainWindow::onSaveAsTriggered);
    onTriggered(importContactsAction, this, &MainWindow::onImportContactsTriggered);
    onTriggered(exportContactsAction, this, &MainWindow::onExportContactsTriggered);
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
    onTriggered(viewExplorerAction, this, &MainWindow::onViewExplorerTriggered);
    for (QAction *view : {viewComposeAction, viewContactsAction, viewOutboxAction, viewPhoneAction,
                          viewSentAction}) {
        connect(view, &QAction::triggered, this,
                [this, view] { runGuarded([&] { onViewActionTriggered(view); }); });
    }
    onTriggered(aboutAction, this, &MainWindow::onAboutTriggered);
    onTriggered(startAction, this, &MainWindow::onStartTriggered);
    onTriggered(stopAction, this, &MainWindow::onStopTriggered);
}

void MainWindow::createMenus() {
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("mainMenu"));
    QMenu *file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("fileMenu"));
    file->addAction(newAction);
    file->addAction(openAction);
    file->addAction(saveAction);
    file->addAction(saveAsAction);
    file->addSeparator();
    file->addAction(importContactsAction);
    file->addAction(exportContactsAction);
    file->addSeparator();
    file->addAction(exitAction);
    QMenu *view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("viewMenu"));
    view->addAction(viewExplorerAction);
    view->addSeparator();
    view->addAction(viewComposeAction);
    view->addAction(viewContactsAction);
    view->addAction(viewOutboxAction);
    view->addAction(viewPhoneAction);
    view->addAction(viewSentAction);
    QMenu *help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("helpMenu"));
    help->addAction(aboutAction);
}

void MainWindow::createToolBar() {
    mainToolBar = new QToolBar(this);
    mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
    mainToolBar->setMovable(false);
    mainToolBar->setFloatable(false);
    mainToolBar->setFixedHeight(ToolStripHeight);
    mainToolBar->setIconSize(QSize(LargeImageSize, LargeImageSize));
    mainToolBar->toggleViewAction()->setVisible(false);
    setContextMenuPolicy(Qt::NoContextMenu);

    startButton = new QToolButton(mainToolBar);
    startButton->setObjectName(QStringLiteral("startButton"));
    startButton->setFixedSize(107, 54);
    startButton->setIconSize(QSize(LargeImageSize, LargeImageSize));
    startButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    startButton->setDefaultAction(startAction);
    mainToolBar->addWidget(startButton);

    auto *spacer = new QWidget(mainToolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    mainToolBar->addWidget(spacer);

    auto *box = new QFrame(mainToolBar);
    box->setObjectName(QStringLiteral("activityPanel"));
    box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box->setFixedSize(ToolStripHeight, ToolStripHeight);
    auto *boxLayout = new QHBoxLayout(box);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    activityLabel = new QLabel(box);
    activityLabel->setObjectName(QStringLiteral("activityLabel"));
    activityLabel->setAlignment(Qt::AlignCenter);
    activityClip = new QMovie(activityClipPath(), QByteArray(), this);
    activityClip->setObjectName(QStringLiteral("activityClip"));
    activityLabel->setMovie(activityClip);
    // Still until a run starts: the first picture stands.
    activityClip->jumpToFrame(0);
    boxLayout->addWidget(activityLabel);
    mainToolBar->addWidget(box);
    addToolBar(Qt::TopToolBarArea, mainToolBar);
}

void MainWindow::createBody() {
    auto *body = new QWidget(this);
    body->setObjectName(QStringLiteral("bodyPanel"));
    auto *bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(0, 3, 0, 0);
    bodyLayout->setSpacing(0);

    splitter = new QSplitter(Qt::Horizontal, body);
    splitter->setObjectName(QStringLiteral("splitter"));
    splitter->setHandleWidth(SplitterWidth);
    splitter->setChildrenCollapsible(false);
    bodyLayout->addWidget(splitter);

    explorerPanel = new QWidget(splitter);
    explorerPanel->setObjectName(QStringLiteral("explorerPanel"));
    auto *explorerLayout = new QVBoxLayout(explorerPanel);
    explorerLayout->setContentsMargins(0, 0, 0, 0);
    explorerLayout->setSpacing(0);
    auto *header = new QFrame(explorerPanel);
    header->setObjectName(QStringLiteral("explorerHeader"));
    header->setFixedHeight(ExplorerHeaderHeight);
    header->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(4, 0, 1, 0);
    headerLayout->setSpacing(0);
    auto *caption = new QLabel(QStringLiteral("Explorer:"), header);
    caption->setObjectName(QStringLiteral("explorerLabel"));
    headerLayout->addWidget(caption, 1);
    hideExplorerButton = new QToolButton(header);
    hideExplorerButton->setObjectName(QStringLiteral("hideExplorerButton"));
    hideExplorerButton->setAutoRaise(true);
    hideExplorerButton->setIcon(roleIcon(ImageRole::HidePane));
    hideExplorerButton->setIconSize(QSize(12, 12));
    hideExplorerButton->setFixedSize(ExplorerHeaderHeight - 4, ExplorerHeaderHeight - 4);
    hideExplorerButton->setToolTip(QStringLiteral("Hide the explorer"));
    connect(hideExplorerButton, &QToolButton::clicked, viewExplorerAction, &QAction::trigger);
    headerLayout->addWidget(hideExplorerButton);
    explorerLayout->addWidget(header);

    explorerModel = new ExplorerModel(this);
    explorerModel->initNode = [this](int index) { return initNode(index); };
    explorerModel->extraText = [this](int index) { return explorerText(index); };
    explorer = new QTreeView(explorerPanel);
    explorer->setObjectName(QStringLiteral("explorer"));
    explorer->setHeaderHidden(true);
    explorer->setIndentation(0);
    explorer->setRootIsDecorated(false);
    explorer->setItemsExpandable(false);
    explorer->setUniformRowHeights(true);
    explorer->setIconSize(QSize(SmallImageSize, SmallImageSize));
    explorer->setSelectionMode(QAbstractItemView::SingleSelection);
    explorer->setEditTriggers(QAbstractItemView::NoEditTriggers);
    explorer->setItemDelegate(new ExplorerDelegate(explorer));
    explorer->setModel(explorerModel);
    explorerLayout->addWidget(explorer, 1);
    connect(explorer->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        runGuarded([this] { onExplorerChanged(); });
        updateActions();
    });

    // The pane scrolls a view that needs more room than the window gives it: choosing a view
    // never makes the window grow.
    rightScrollArea = new QScrollArea(splitter);
    rightScrollArea->setObjectName(QStringLiteral("rightScrollArea"));
    rightScrollArea->setFrameShape(QFrame::NoFrame);
    rightScrollArea->setWidgetResizable(true);
    rightPanel = new QWidget(rightScrollArea);
    rightPanel->setObjectName(QStringLiteral("rightPanel"));
    // Only the view shown counts for the pane's minimum size.
    m_rightLayout = new QGridLayout(rightPanel);
    m_rightLayout->setContentsMargins(0, 0, 0, 0);

    splitter->addWidget(explorerPanel);
    rightScrollArea->setWidget(rightPanel);
    splitter->addWidget(rightScrollArea);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({ExplorerWidth, DefaultWidth - ExplorerWidth - SplitterWidth});
    setCentralWidget(body);
}

void MainWindow::createStatusBar() {
    mainStatusBar = new QStatusBar(this);
    mainStatusBar->setObjectName(QStringLiteral("statusBar"));
    mainStatusBar->setSizeGripEnabled(true);
    statusLabel = new QLabel(mainStatusBar);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    phoneStatusLabel = new QLabel(mainStatusBar);
    phoneStatusLabel->setObjectName(QStringLiteral("phoneStatusLabel"));
    phoneStatusLabel->setFixedWidth(SecondPanelWidth);
    // The first panel takes what the second leaves, whatever the bar's width.
    mainStatusBar->addWidget(statusLabel, 1);
    runProgressBar = new QProgressBar(mainStatusBar);
    runProgressBar->setObjectName(QStringLiteral("runProgressBar"));
    runProgressBar->setFixedWidth(120);
    runProgressBar->setTextVisible(false);
    runProgressBar->hide();
    mainStatusBar->addPermanentWidget(runProgressBar);
    mainStatusBar->addPermanentWidget(phoneStatusLabel);
    setStatusBar(mainStatusBar);
}

QWidget *MainWindow::initNode(int index) {
    switch (index) {
    case ExplorerModel::ComposeNode:
        return composeView();
    case ExplorerModel::ContactsNode:
        return contactsView();
    case ExplorerModel::OutboxNode:
        return outboxView();
    case ExplorerModel::PhoneNode:
        return phoneView();
    case ExplorerModel::SentNode:
        return sentView();
    default:
        return nullptr;
    }
}

void MainWindow::dockView(QWidget *view) {
    view->hide();
    view->setWindowFlags(Qt::Widget);
    m_rightLayout->addWidget(view, 0, 0);
}

ComposeView *MainWindow::composeView() {
    if (!m_composeView) {
        m_composeView = new ComposeView(m_data, *this, rightPanel);
        dockView(m_composeView);
    }
    return m_composeView;
}

ContactsView *MainWindow::contactsView() {
    if (!m_contactsView) {
        m_contactsView = new ContactsView(m_data, *this, rightPanel);
        dockView(m_contactsView);
    }
    return m_contactsView;
}

MessagesView *MainWindow::outboxView() {
    if (!m_outboxView) {
        m_outboxView = new MessagesView(m_data, *this, *m_data.outboxList, QStringLiteral("Outbox"),
                                        rightPanel);
        m_outboxView->setObjectName(QStringLiteral("outboxView"));
        dockView(m_outboxView);
    }
    return m_outboxView;
}

MessagesView *MainWindow::sentView() {
    if (!m_sentView) {
        m_sentView =
            new MessagesView(m_data, *this, *m_data.sentList, QStringLiteral("Sent"), rightPanel);
        m_sentView->setObjectName(QStringLiteral("sentView"));
        dockView(m_sentView);
    }
    return m_sentView;
}

PhoneView *MainWindow::phoneView() {
    if (!m_phoneView) {
        m_phoneView = new PhoneView(m_data, *this, rightPanel);
        dockView(m_phoneView);
    }
    return m_phoneView;
}

QString MainWindow::explorerText(int index) const {
    switch (index) {
    case ExplorerModel::ContactsNode:
        return countText(m_data.contactList->count());
    // What a run has sent moves to the sent folder when it ends; the counts follow it now.
    case ExplorerModel::OutboxNode:
        return countText(std::max(0, m_data.outboxList->count() - sentByRun()));
    case ExplorerModel::SentNode:
        return countText(m_data.sentList->count() + sentByRun());
    case ExplorerModel::PhoneNode: {
        const QString model = m_phoneView ? m_phoneView->phoneModel() : QString();
        return model.isEmpty() ? QString() : QLatin1Char('(') + model + QLatin1Char(')');
    }
    default:
        return {};
    }
}

void MainWindow::onExplorerChanged() {
    const QModelIndexList selected = explorer->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    switchToView(explorerModel->nodeAt(selected.first().row()).view);
}

void MainWindow::switchToView(QWidget *view) {
    if (!view)
        return;
    if (m_currentView && m_currentView != view)
        m_currentView->hide();
    m_currentView = view;
    view->show();
    view->raise();
    // The highlight follows the view on screen whichever way it was chosen, so that clicking
    // the folder highlighted before always changes the selection.
    for (int index = 0; index < ExplorerModel::NodeCount; ++index) {
        if (explorerModel->nodeAt(index).view != view)
            continue;
        const QModelIndex node = explorerModel->index(index, 0);
        QItemSelectionModel *selection = explorer->selectionModel();
        if (selection->currentIndex() != node || !selection->isSelected(node))
            selection->setCurrentIndex(node, QItemSelectionModel::ClearAndSelect);
        break;
    }
}

void MainWindow::showView(QWidget *view) {
    for (int index = 0; index < ExplorerModel::NodeCount; ++index) {
        if (explorerModel->nodeAt(index).view != view)
            continue;
        explorer->setFocus();
        switchToView(view);
        break;
    }
    refreshAll();
}

void MainWindow::onViewActionTriggered(QAction *action) {
    const QString caption = stripAccel(action->text());
    for (int index = 0; index < ExplorerModel::NodeCount; ++index) {
        const NodeData &node = explorerModel->nodeAt(index);
        if (node.caption == caption) {
            switchToView(node.view);
            break;
        }
    }
}

void MainWindow::onViewExplorerTriggered() {
    // The action has already inverted its check mark.
    const bool visible = viewExplorerAction->isChecked();
    if (visible == !explorerPanel->isHidden())
        return;
    if (!visible) {
        m_explorerWidth = explorerPanel->width();
        explorerPanel->hide();
    } else {
        explorerPanel->show();
        // Back at its last width, with the splitter right after it.
        if (m_explorerWidth >= 0) {
            const int total = splitter->width() - splitter->handleWidth();
            const int width = qBound(0, m_explorerWidth, qMax(0, total));
            splitter->setSizes({width, qMax(0, total - width)});
        }
    }
    updateActions();
}

void MainWindow::refreshAll() {
    updateCaption();
    explorer->viewport()->update();
    if (m_contactsView)
        m_contactsView->refreshList();
    if (m_outboxView)
        m_outboxView->refreshList();
    if (m_sentView)
        m_sentView->refreshList();
    // A hidden compose view counts its entries when it is shown.
    if (m_composeView && m_composeView->isVisible())
        m_composeView->refreshRecipientEntries();
    if (m_sending)
        showRunProgress();
    IdleHook::instance().request();
}

int MainWindow::sentByRun() const {
    if (!m_sending)
        return 0;
    const auto *sender = qobject_cast<const SendingWorker *>(m_data.phone->worker());
    return sender ? sender->progress().sent() : 0;
}

void MainWindow::showRunProgress() {
    const auto *sender = qobject_cast<const SendingWorker *>(m_data.phone->worker());
    if (!sender)
        return;
    const RunProgress &progress = sender->progress();
    if (progress.total() > 0) {
        runProgressBar->setRange(0, progress.total());
        runProgressBar->setValue(progress.done());
    }
    QString text = progress.text();
    // A run over several phones: where each stands, after the total.
    const QList<PhoneRunStatus> phones = sender->phoneStatuses();
    if (!phones.isEmpty() && !text.isEmpty())
        text += QStringLiteral(" \u2014 ") + PhoneRunStatus::line(phones);
    if (!text.isEmpty() && !m_stopRequested && text != statusText())
        setStatusText(text);
    if (m_phoneView) {
        QHash<QByteArray, QString> states;
        for (const PhoneRunStatus &phone : phones)
            states.insert(phone.port, phone.stateText());
        m_phoneView->showRunStates(states);
    }

    const int row = progress.currentRow();
    QTableView *list = outboxView()->listView();
    if (row < 0 || row == m_followedRow || row >= list->model()->rowCount())
        return;
    // A user who scrolled away from the row last followed keeps the place he chose.
    bool following = true;
    if (m_followedRow >= 0 && m_followedRow < list->model()->rowCount() && list->isVisible()) {
        const QRect shown = list->visualRect(list->model()->index(m_followedRow, 0));
        following = shown.isValid() && list->viewport()->rect().intersects(shown);
    }
    m_followedRow = row;
    if (following)
        list->scrollTo(list->model()->index(row, 0));
}

void MainWindow::composeTo(const QByteArray &recipients) {
    ComposeView *compose = composeView();
    showView(compose);
    compose->setRecipients(recipients);
    refreshAll();
}

void MainWindow::setStatusText(const QString &text) {
    statusLabel->setText(text);
    Q_EMIT statusTextChanged(text);
}

QString MainWindow::statusText() const {
    return statusLabel->text();
}

void MainWindow::updateCaption() {
    QString caption = m_data.title();
    if (m_data.modified)
        caption += QLatin1Char('*');
    caption += QStringLiteral(" - ") + QLatin1StringView(PelorvaneAppName);
    // The desktop's title and the caption of the general error box are the same text.
    setApplicationTitle(caption);
    setWindowTitle(caption);
}

void MainWindow::updateActions() {
    const bool sending = m_sending;
    const bool stopAllowed = m_sending && !m_stopRequested;
    const bool explorerShown = !explorerPanel->isHidden();

    startAction->setEnabled(true);
    stopAction->setEnabled(stopAllowed);
    viewExplorerAction->setChecked(explorerShown);
    QAction *runAction = sending ? stopAction : startAction;
    if (QAction *shown = startButton->defaultAction(); shown != runAction) {
        // A tool button keeps every action it was given and offers the others in a drop-down.
        if (shown)
            startButton->removeAction(shown);
        startButton->setDefaultAction(runAction);
    }
}

void MainWindow::onStartTriggered() {
    if (m_sending)
        return;
    withPhoneLock(*m_data.phone, [this] {
        if (m_data.phone->isBusy())
            return;
        m_data.phone->onWorkerDone = [this](Phone &phone) {
            auto *sender = qobject_cast<SendingWorker *>(phone.endedWorker());
            const RunSummary summary = sender ? sender->summary() : RunSummary();
            runGuarded([this, &summary] { onSendingFinished(summary); });
        };
        m_data.phone->start(m_data.newSender());
        m_sending = true;
        m_stopRequested = false;
        m_followedRow = -1;
    });
    if (!m_sending)
        return;
    updateActions();
    activityClip->start();
    // Busy until the run has counted its messages.
    runProgressBar->setRange(0, 0);
    runProgressBar->show();
    showView(outboxView());
    setStatusText(QStringLiteral("Busy..."));
}

std::optional<QByteArray> MainWindow::askPin(const PinRequest &request) {
    QString text;
    if (!request.problem.isEmpty())
        text = request.problem + QLatin1Char('\n');
    text += QStringLiteral("The SIM card asks for its PIN");
    if (request.triesLeft)
        text += QStringLiteral(" (%1 %2 left)")
                    .arg(*request.triesLeft)
                    .arg(*request.triesLeft == 1 ? QStringLiteral("try") : QStringLiteral("tries"));
    text += QStringLiteral(". It is not stored anywhere.\nPIN:");
    const std::optional<QString> pin = pinDialog(this, text);
    if (!pin)
        return std::nullopt;
    return pin->trimmed().toLatin1();
}

std::optional<QByteArray> MainWindow::smppPassword() {
    const SmppSettings smpp = m_data.settings->smppSettings();
    const QString key =
        PasswordStore::keyFor(smpp.host, quint16(smpp.port), smpp.systemId.toUtf8());
    const PasswordStore::ReadResult kept = PasswordStore::read(key);
    if (kept.password)
        return kept.password;
    QString text = QStringLiteral("The password of %1 at %2:").arg(smpp.systemId, smpp.host);
    if (!kept.error.isEmpty())
        text = kept.error + QStringLiteral(".\n") + text;
    const std::optional<QString> password = passwordDialog(this, text);
    if (!password)
        return std::nullopt;
    // Kept for the next runs; a desktop without a store keeps it until the program ends.
    PasswordStore::write(key, password->toUtf8());
    return password->toUtf8();
}

void MainWindow::onStopTriggered() {
    if (!m_sending)
        return;
    withPhoneLock(*m_data.phone, [this] {
        m_data.phone->stopWorker();
        m_stopRequested = true;
    });
    updateActions();
    if (m_stopRequested)
        setStatusText(QStringLiteral("Stopping..."));
}

void MainWindow::onSendingFinished(const RunSummary &summary) {
    // A run the user stopped needs no word on what it left unsent.
    const bool stoppedByUser = m_stopRequested;
    m_sending = false;
    m_stopRequested = false;
    updateActions();
    activityClip->stop();
    activityClip->jumpToFrame(0);
    runProgressBar->hide();
    setStatusText(QStringLiteral("Ready."));
    if (m_phoneView)
        m_phoneView->showRunStates({});

    if (outboxView()->moveSentTo(*sentView()) > 0)
        refreshAll();

    // One box for the whole run: what went wrong, then what the run did.
    QByteArray report;
    for (const QByteArray &line : std::as_const(m_data.phone->reports)) {
        if (!line.isEmpty())
            report += line + "\r\n";
    }
    QString text = QString::fromLocal8Bit(report);
    if (summary.started && !summary.allSent() && !stoppedByUser)
        text += summary.text() + QStringLiteral("\r\n");
    if (!text.isEmpty())
        messageDlg(text, report.isEmpty() ? MessageKind::Warning : MessageKind::Error,
                   QMessageBox::Ok);
}

bool MainWindow::askSaveCurrent() {
    if (!m_data.modified)
        return true;
    const auto answer = messageDlg(QStringLiteral("Save current project ?"), MessageKind::Confirm,
                                   QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes) {
        saveProject(false);
        return true;
    }
    return answer == QMessageBox::No;
}

void MainWindow::saveProject(bool saveAs) {
    composeView()->storeFields();
    struct Caption {
        MainWindow *window;
        ~Caption() { window->updateCaption(); }
    } caption{this};
    m_data.save(saveAs);
}

void MainWindow::loadProject(const QString &fileName) {
    ComposeView *compose = composeView();
    // The document's compose fields must hold what is typed now: a file without that section
    // leaves them, and they go back into the view afterwards.
    compose->storeFields();
    try {
        m_data.load(fileName);
    } catch (...) {
        // Sections read before the failure stay in the document; show what it holds.
        compose->loadFields();
        refreshAll();
        throw;
    }
    compose->loadFields();
    refreshAll();
}

void MainWindow::onNewTriggered() {
    // The run works on this document's outbox: it ends, and its sent messages move, before
    // the document may be saved or replaced.
    if (m_waitingForRun)
        return;
    if (m_sending)
        stopRunAndWait();
    if (!askSaveCurrent())
        return;
    m_data.newProject();
    refreshAll();
}

void MainWindow::onOpenTriggered() {
    const QString fileName = openFileDialog(this, ProjectFilter, ProjectExt);
    if (fileName.isEmpty() || m_waitingForRun)
        return;
    if (m_sending)
        stopRunAndWait();
    if (!askSaveCurrent())
        return;
    loadProject(fileName);
}

void MainWindow::onSaveTriggered() {
    saveProject(false);
}

void MainWindow::onSaveAsTriggered() {
    saveProject(true);
}

void MainWindow::onImportContactsTriggered() {
    if (QAction *import = contactsView()->importAction)
        import->trigger();
}

void MainWindow::onExportContactsTriggered() {
    if (QAction *exportAction = contactsView()->exportAction)
        exportAction->trigger();
}

void MainWindow::onAboutTriggered() {
    if (!m_about)
        m_about = new AboutDialog(this);
    m_about->exec();
}

void MainWindow::openProjectFile(const QString &fileName) {
    runGuarded([&] { loadProject(fileName); });
}

bool MainWindow::offerUnsavedProject() {
    const QStringList unsaved = AppData::unsavedUntitledProjects();
    if (unsaved.isEmpty())
        return false;
    const QString journal = unsaved.first();
    const QString when =
        QLocale().toString(QFileInfo(journal).lastModified(), QLocale::ShortFormat);
    const auto answer = messageDlg(
        QStringLiteral("Pelorvane ended on %1 without saving the untitled project it was sending. "
                       "Open it again?")
            .arg(when),
        MessageKind::Confirm, QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        AppData::discardUntitled(journal);
        return false;
    }
    bool opened = false;
    runGuarded([&] {
        m_data.recoverUntitled(journal);
        composeView()->loadFields();
        refreshAll();
        opened = true;
    });
    return opened;
}

void MainWindow::bringToFront() {
    if (isMinimized())
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void MainWindow::setVisible(bool visible) {
    // The stored placement is applied before the window first appears.
    if (visible && !m_layoutRead) {
        m_layoutRead = true;
        readLayout();
    }
    QMainWindow::setVisible(visible);
}

void MainWindow::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    if (m_explorerWidth >= 0) {
        const int total = splitter->width() - splitter->handleWidth();
        const int width = qBound(0, m_explorerWidth, qMax(0, total));
        splitter->setSizes({width, qMax(0, total - width)});
    }
    updateCaption();
    switchToView(explorerModel->nodeAt(ExplorerModel::ComposeNode).view);
    updateActions();
}

void MainWindow::stopRunAndWait() {
    m_waitingForRun = true;
    struct Done {
        bool &flag;
        ~Done() { flag = false; }
    } done{m_waitingForRun};
    onStopTriggered();
    // The window stays usable while the worker finishes its exchange; onSendingFinished runs
    // from the phone's end notification in this loop.
    QEventLoop loop;
    while (m_sending) {
        if (!m_stopRequested)
            onStopTriggered();
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
}

bool MainWindow::canClose() {
    if (!m_data.modified)
        return true;
    const auto answer =
        messageDlg(QStringLiteral("Save \"%1\" before exit ?").arg(m_data.title()),
                   MessageKind::Confirm, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes) {
        bool saved = false;
        runGuarded([&] {
            saveProject(false);
            saved = true;
        });
        // A failed save keeps the window open; a cancelled save dialog closes it unsaved.
        return saved;
    }
    return answer == QMessageBox::No;
}

void MainWindow::closeEvent(QCloseEvent *event) {
    if (m_waitingForRun) {
        event->ignore();
        return;
    }
    // Messages the phone accepts after the question would be missing from a saved project
    // and sent again next time: the run ends first and its sent messages move.
    if (m_sending) {
        if (messageDlg(QStringLiteral("A run is in progress. Stop it and exit?"),
                       MessageKind::Confirm,
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
            event->ignore();
            return;
        }
        stopRunAndWait();
    }
    if (!canClose()) {
        event->ignore();
        return;
    }
    writeLayout();
    event->accept();
}

void MainWindow::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && m_sending) {
        onStopTriggered();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::readLayout() {
    const IniFile ini(m_data.settings->fileName());
    const QString section = QLatin1StringView(LayoutSection);
    if (!ini.sectionExists(section))
        return;
    if (ini.readInteger(section, QStringLiteral("FormVersion"), 0) < 0)
        return;

    int bounds[4];
    if (readFour(ini.readString(section, QStringLiteral("NormPos"), QString()), bounds)) {
        const QRect rect(QPoint(bounds[0], bounds[1]), QPoint(bounds[2] - 1, bounds[3] - 1));
        if (rect.width() > 0 && rect.height() > 0) {
            // A position left from a screen that is gone would put the window out of reach.
            if (onSomeScreen(rect))
                setGeometry(rect);
            else
                resize(rect.size());
        }
    }
    if (ini.readInteger(section, QStringLiteral("ShowCmd"), ShowNormal) == ShowMaximized)
        setWindowState(windowState() | Qt::WindowMaximized);

    const int width = ini.readInteger(section, QStringLiteral("PnlExplorer_Width"), -1);
    if (width >= 0)
        m_explorerWidth = width;
    const bool visible =
        ini.readBool(section, QStringLiteral("PnlExplorer_Visible"), !explorerPanel->isHidden());
    explorerPanel->setVisible(visible);
    contactsView()->readLayout(ini, section);
    outboxView()->readLayout(ini, section);
    sentView()->readLayout(ini, section);
    updateActions();
}

void MainWindow::writeLayout() {
    m_layoutWritten = true;
    IniFile ini(m_data.settings->fileName());
    const QString section = QLatin1StringView(LayoutSection);
    const Qt::WindowStates state = windowState();
    int showCmd = ShowNormal;
    if (state & Qt::WindowMinimized)
        showCmd = ShowMinimized;
    else if (state & Qt::WindowMaximized)
        showCmd = ShowMaximized;
    const int flags =
        (state & Qt::WindowMinimized) && (state & Qt::WindowMaximized) ? RestoreToMaximized : 0;
    QRect normal = normalGeometry();
    if (!normal.isValid() || normal.isEmpty())
        normal = geometry();
    const QScreen *shownOn = screen();
    const int dpi = shownOn ? qRound(shownOn->logicalDotsPerInch()) : 96;
    const QPoint maxPos = (state & Qt::WindowMaximized) ? pos() : QPoint(-1, -1);
    const int explorerWidth =
        explorerPanel->isHidden()
            ? (m_explorerWidth >= 0 ? m_explorerWidth : explorerPanel->width())
            : explorerPanel->width();
    try {
        ini.writeInteger(section, QStringLiteral("FormVersion"), 0);
        ini.writeInteger(section, QStringLiteral("ShowCmd"), showCmd);
        ini.writeInteger(section, QStringLiteral("Flags"), flags);
        ini.writeInteger(section, QStringLiteral("PixelsPerInch"), dpi);
        ini.writeString(section, QStringLiteral("MinMaxPos"), four(-1, -1, maxPos.x(), maxPos.y()));
        ini.writeString(section, QStringLiteral("NormPos"),
                        four(normal.left(), normal.top(), normal.left() + normal.width(),
                             normal.top() + normal.height()));
        ini.writeInteger(section, QStringLiteral("PnlExplorer_Width"), explorerWidth);
        ini.writeBool(section, QStringLiteral("PnlExplorer_Visible"), !explorerPanel->isHidden());
        ini.writeBool(section, QStringLiteral("Splitter1_Visible"), !explorerPanel->isHidden());
        ini.writeBool(section, LongButtonKey, composeView()->longButton->isChecked());
        contactsView()->writeLayout(ini, section);
        outboxView()->writeLayout(ini, section);
        sentView()->writeLayout(ini, section);
        // A settings file that cannot be written loses the layout, nothing more.
        ini.updateFile();
    } catch (...) {
    }
}
