#include "ui/MainForm.h"

#include "app/Database.h"
#include "app/IniFile.h"
#include "link/PhoneUnit.h"
#include "sending/SenderThread.h"
#include "ui/AboutForm.h"
#include "ui/ComposeForm.h"
#include "ui/ContactForm.h"
#include "ui/Dialogs.h"
#include "ui/DisplayText.h"
#include "ui/ExplorerModel.h"
#include "ui/Guarded.h"
#include "ui/IdleHook.h"
#include "ui/Images.h"
#include "ui/MessageForm.h"
#include "ui/SettingForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMovie>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

const QString ProjectFilter = QStringLiteral("Pelorvane Project (*.sms)|*.sms|All Files (*.*)|*.*");
const QString SaveFilter = QStringLiteral("Pelorvane Projects (*.sms)|*.sms|All Files (*.*)|*.*");
const QString ProjectExt = QStringLiteral("sms");

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

QAction *MakeAction(QObject *owner, const char *name, const QString &text) {
    auto *action = new QAction(text, owner);
    action->setObjectName(QLatin1StringView(name));
    return action;
}

// "%d,%d,%d,%d"; false unless there are exactly four whole numbers.
bool ReadFour(const QString &text, int values[4]) {
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

QString Four(int a, int b, int c, int d) {
    return QStringLiteral("%1,%2,%3,%4").arg(a).arg(b).arg(c).arg(d);
}

bool OnSomeScreen(const QRect &rect) {
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        if (screen->availableGeometry().intersects(rect))
            return true;
    }
    return false;
}

} // namespace

TfrmPelorvane::TfrmPelorvane(TDataModule1 &data, QWidget *parent)
    : QMainWindow(parent), FData(data) {
    setObjectName(QLatin1StringView(LayoutSection));
    setWindowIcon(QIcon(ProgramIconPath()));
    resize(DefaultWidth, DefaultHeight);

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateBody();
    CreateStatusBar();

    FData.OnAskFileName = [this] { return SaveFileDialog(this, SaveFilter, ProjectExt); };
    FData.OnRefreshAll = [this] { RefreshAll(); };

    // Every node is initialised now, which creates and docks its view.
    for (int index = 0; index < TExplorerModel::NodeCount; ++index)
        ExplorerModel->Node(index);

    connect(&TIdleHook::Instance(), &TIdleHook::Idle, this, &TfrmPelorvane::UpdateActions);
    UpdateCaption();
    UpdateActions();
}

TfrmPelorvane::~TfrmPelorvane() {
    // Destroyed without the close question (or during a run): the worker ends while the views
    // it refreshes still exist, and what it sent still moves to the sent folder.
    if (FData.Phone) {
        FData.Phone->OnWorkerDone = nullptr;
        if (FData.Phone->IsBusy()) {
            FData.StopWorkerAndWait();
            FData.MoveSentMessages();
        }
    }
    FData.OnRefreshAll = nullptr;
    FData.OnAskFileName = nullptr;
    if (FShown && !FLayoutWritten)
        WriteLayout();
}

void TfrmPelorvane::CreateActions() {
    actFileNew = MakeAction(this, "actFileNew", QStringLiteral("&New"));
    actFileNew->setIcon(RoleIcon(TImageRole::NewProject));
    actOpen = MakeAction(this, "actOpen", QStringLiteral("&Open..."));
    actOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    actOpen->setIcon(RoleIcon(TImageRole::Open));
    actSave = MakeAction(this, "actSave", QStringLiteral("&Save"));
    actSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    actSave->setIcon(RoleIcon(TImageRole::Save));
    actSaveAs = MakeAction(this, "actSaveAs", QStringLiteral("S&ave As..."));
    actSaveAs->setIcon(RoleIcon(TImageRole::SaveAs));
    actImportContact = MakeAction(this, "actImportContact", QStringLiteral("Import Contacts..."));
    actImportContact->setIcon(RoleIcon(TImageRole::ImportContacts));
    actExportContact = MakeAction(this, "actExportContact", QStringLiteral("Export Contacts..."));
    actExportContact->setIcon(RoleIcon(TImageRole::ExportContacts));
    actExit = MakeAction(this, "actExit", QStringLiteral("E&xit"));
    actExit->setIcon(RoleIcon(TImageRole::Exit));

    actViewExplorer = MakeAction(this, "actViewExplorer", QStringLiteral("&Folder Explorer"));
    actViewExplorer->setCheckable(true);
    actViewExplorer->setChecked(true);
    actViewExplorer->setIcon(RoleIcon(TImageRole::FolderExplorer));
    actViewCompose = MakeAction(this, "actViewCompose", QStringLiteral("Co&mpose"));
    actViewCompose->setIcon(RoleIcon(TImageRole::Compose));
    actViewContacts = MakeAction(this, "actViewContacts", QStringLiteral("Co&ntacts"));
    actViewContacts->setIcon(RoleIcon(TImageRole::Contacts));
    actViewOutbox = MakeAction(this, "actViewOutbox", QStringLiteral("Ou&tbox"));
    actViewOutbox->setIcon(RoleIcon(TImageRole::Outbox));
    actViewPhone = MakeAction(this, "actViewPhone", QStringLiteral("P&hone"));
    actViewPhone->setIcon(RoleIcon(TImageRole::Phone));
    actViewSent = MakeAction(this, "actViewSent", QStringLiteral("&Sent"));
    actViewSent->setIcon(RoleIcon(TImageRole::Sent));
    ActAbout = MakeAction(this, "ActAbout", QStringLiteral("&About"));
    ActAbout->setIcon(RoleIcon(TImageRole::About));

    actStart = MakeAction(this, "actStart", QStringLiteral("Start"));
    actStart->setShortcut(QKeySequence(Qt::Key_F5));
    actStart->setIcon(RoleIcon(TImageRole::Start));
    actStop = MakeAction(this, "actStop", QStringLiteral("Stop"));
    actStop->setIcon(RoleIcon(TImageRole::Stop));
    actStop->setEnabled(false);
    // F5 reaches Start also while the tool button shows Stop.
    addAction(actStart);
    addAction(actStop);

    OnTriggered(actFileNew, this, &TfrmPelorvane::actFileNewExecute);
    OnTriggered(actOpen, this, &TfrmPelorvane::actOpenExecute);
    OnTriggered(actSave, this, &TfrmPelorvane::actSaveExecute);
    OnTriggered(actSaveAs, this, &TfrmPelorvane::actSaveAsExecute);
    OnTriggered(actImportContact, this, &TfrmPelorvane::actImportContactExecute);
    OnTriggered(actExportContact, this, &TfrmPelorvane::actExportContactExecute);
    connect(actExit, &QAction::triggered, this, &QWidget::close);
    OnTriggered(actViewExplorer, this, &TfrmPelorvane::actViewExplorerExecute);
    for (QAction *view :
         {actViewCompose, actViewContacts, actViewOutbox, actViewPhone, actViewSent}) {
        connect(view, &QAction::triggered, this,
                [this, view] { RunGuarded([&] { ViewChange(view); }); });
    }
    OnTriggered(ActAbout, this, &TfrmPelorvane::ActAboutExecute);
    OnTriggered(actStart, this, &TfrmPelorvane::actStartExecute);
    OnTriggered(actStop, this, &TfrmPelorvane::actStopExecute);
}

void TfrmPelorvane::CreateMenus() {
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    QMenu *file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    file->addAction(actFileNew);
    file->addAction(actOpen);
    file->addAction(actSave);
    file->addAction(actSaveAs);
    file->addSeparator();
    file->addAction(actImportContact);
    file->addAction(actExportContact);
    file->addSeparator();
    file->addAction(actExit);
    QMenu *view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("mnuView"));
    view->addAction(actViewExplorer);
    view->addSeparator();
    view->addAction(actViewCompose);
    view->addAction(actViewContacts);
    view->addAction(actViewOutbox);
    view->addAction(actViewPhone);
    view->addAction(actViewSent);
    QMenu *help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    help->addAction(ActAbout);
}

void TfrmPelorvane::CreateToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(ToolStripHeight);
    ToolBar1->setIconSize(QSize(LargeImageSize, LargeImageSize));
    ToolBar1->toggleViewAction()->setVisible(false);
    setContextMenuPolicy(Qt::NoContextMenu);

    btnStart = new QToolButton(ToolBar1);
    btnStart->setObjectName(QStringLiteral("btnStart"));
    btnStart->setFixedSize(107, 54);
    btnStart->setIconSize(QSize(LargeImageSize, LargeImageSize));
    btnStart->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btnStart->setDefaultAction(actStart);
    ToolBar1->addWidget(btnStart);

    auto *spacer = new QWidget(ToolBar1);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    ToolBar1->addWidget(spacer);

    auto *box = new QFrame(ToolBar1);
    box->setObjectName(QStringLiteral("PnlAnimate"));
    box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box->setFixedSize(ToolStripHeight, ToolStripHeight);
    auto *boxLayout = new QHBoxLayout(box);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    Animate1 = new QLabel(box);
    Animate1->setObjectName(QStringLiteral("Animate1"));
    Animate1->setAlignment(Qt::AlignCenter);
    AnimateClip = new QMovie(ActivityClipPath(), QByteArray(), this);
    AnimateClip->setObjectName(QStringLiteral("mainavi"));
    Animate1->setMovie(AnimateClip);
    // Still until a run starts: the first picture stands.
    AnimateClip->jumpToFrame(0);
    boxLayout->addWidget(Animate1);
    ToolBar1->addWidget(box);
    addToolBar(Qt::TopToolBarArea, ToolBar1);
}

void TfrmPelorvane::CreateBody() {
    auto *body = new QWidget(this);
    body->setObjectName(QStringLiteral("PnlBody"));
    auto *bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(0, 3, 0, 0);
    bodyLayout->setSpacing(0);

    Splitter1 = new QSplitter(Qt::Horizontal, body);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(SplitterWidth);
    Splitter1->setChildrenCollapsible(false);
    bodyLayout->addWidget(Splitter1);

    PnlExplorer = new QWidget(Splitter1);
    PnlExplorer->setObjectName(QStringLiteral("PnlExplorer"));
    auto *explorerLayout = new QVBoxLayout(PnlExplorer);
    explorerLayout->setContentsMargins(0, 0, 0, 0);
    explorerLayout->setSpacing(0);
    auto *header = new QFrame(PnlExplorer);
    header->setObjectName(QStringLiteral("PnlExplorerHeader"));
    header->setFixedHeight(ExplorerHeaderHeight);
    header->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(4, 0, 1, 0);
    headerLayout->setSpacing(0);
    auto *caption = new QLabel(QStringLiteral("Explorer:"), header);
    caption->setObjectName(QStringLiteral("lblExplorer"));
    headerLayout->addWidget(caption, 1);
    btnHideExplorer = new QToolButton(header);
    btnHideExplorer->setObjectName(QStringLiteral("btnHideExplorer"));
    btnHideExplorer->setAutoRaise(true);
    btnHideExplorer->setIcon(RoleIcon(TImageRole::HidePane));
    btnHideExplorer->setIconSize(QSize(12, 12));
    btnHideExplorer->setFixedSize(ExplorerHeaderHeight - 4, ExplorerHeaderHeight - 4);
    btnHideExplorer->setToolTip(QStringLiteral("Hide the explorer"));
    connect(btnHideExplorer, &QToolButton::clicked, actViewExplorer, &QAction::trigger);
    headerLayout->addWidget(btnHideExplorer);
    explorerLayout->addWidget(header);

    ExplorerModel = new TExplorerModel(this);
    ExplorerModel->InitNode = [this](int index) { return InitNode(index); };
    ExplorerModel->ExtraText = [this](int index) { return ExplorerGetText(index); };
    Explorer = new QTreeView(PnlExplorer);
    Explorer->setObjectName(QStringLiteral("Explorer"));
    Explorer->setHeaderHidden(true);
    Explorer->setIndentation(0);
    Explorer->setRootIsDecorated(false);
    Explorer->setItemsExpandable(false);
    Explorer->setUniformRowHeights(true);
    Explorer->setIconSize(QSize(SmallImageSize, SmallImageSize));
    Explorer->setSelectionMode(QAbstractItemView::SingleSelection);
    Explorer->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Explorer->setItemDelegate(new TExplorerDelegate(Explorer));
    Explorer->setModel(ExplorerModel);
    explorerLayout->addWidget(Explorer, 1);
    connect(Explorer->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        RunGuarded([this] { ExplorerChange(); });
        UpdateActions();
    });

    PnlRight = new QWidget(Splitter1);
    PnlRight->setObjectName(QStringLiteral("PnlRight"));
    FRightLayout = new QGridLayout(PnlRight);
    FRightLayout->setContentsMargins(0, 0, 0, 0);

    Splitter1->addWidget(PnlExplorer);
    Splitter1->addWidget(PnlRight);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({ExplorerWidth, DefaultWidth - ExplorerWidth - SplitterWidth});
    setCentralWidget(body);
}

void TfrmPelorvane::CreateStatusBar() {
    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(true);
    StatusPanel1 = new QLabel(StatusBar);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusPanel2 = new QLabel(StatusBar);
    StatusPanel2->setObjectName(QStringLiteral("StatusPanel2"));
    StatusPanel2->setFixedWidth(SecondPanelWidth);
    // The first panel takes what the second leaves, whatever the bar's width.
    StatusBar->addWidget(StatusPanel1, 1);
    StatusBar->addPermanentWidget(StatusPanel2);
    setStatusBar(StatusBar);
}

QWidget *TfrmPelorvane::InitNode(int index) {
    switch (index) {
    case TExplorerModel::ndCompose:
        return ComposeView();
    case TExplorerModel::ndContacts:
        return ContactsView();
    case TExplorerModel::ndOutbox:
        return OutboxView();
    case TExplorerModel::ndPhone:
        return PhoneView();
    case TExplorerModel::ndSent:
        return SentView();
    default:
        return nullptr;
    }
}

void TfrmPelorvane::DockView(QWidget *view) {
    view->hide();
    view->setWindowFlags(Qt::Widget);
    FRightLayout->addWidget(view, 0, 0);
}

TfrmCompose *TfrmPelorvane::ComposeView() {
    if (!FComposeView) {
        FComposeView = new TfrmCompose(FData, *this, PnlRight);
        DockView(FComposeView);
    }
    return FComposeView;
}

TfrmContact *TfrmPelorvane::ContactsView() {
    if (!FContactsView) {
        FContactsView = new TfrmContact(FData, *this, PnlRight);
        DockView(FContactsView);
    }
    return FContactsView;
}

TfrmMessage *TfrmPelorvane::OutboxView() {
    if (!FOutboxView) {
        FOutboxView =
            new TfrmMessage(FData, *this, *FData.OutboxList, QStringLiteral("Outbox"), PnlRight);
        FOutboxView->setObjectName(QStringLiteral("frmOutbox"));
        DockView(FOutboxView);
    }
    return FOutboxView;
}

TfrmMessage *TfrmPelorvane::SentView() {
    if (!FSentView) {
        FSentView =
            new TfrmMessage(FData, *this, *FData.SentList, QStringLiteral("Sent"), PnlRight);
        FSentView->setObjectName(QStringLiteral("frmSent"));
        DockView(FSentView);
    }
    return FSentView;
}

TfrmSetting *TfrmPelorvane::PhoneView() {
    if (!FPhoneView) {
        FPhoneView = new TfrmSetting(FData, *this, PnlRight);
        DockView(FPhoneView);
    }
    return FPhoneView;
}

QString TfrmPelorvane::ExplorerGetText(int index) const {
    switch (index) {
    case TExplorerModel::ndContacts:
        return CountText(FData.ContactList->Count());
    case TExplorerModel::ndOutbox:
        return CountText(FData.OutboxList->Count());
    case TExplorerModel::ndSent:
        return CountText(FData.SentList->Count());
    case TExplorerModel::ndPhone: {
        const QString model = FPhoneView ? FPhoneView->Model() : QString();
        return model.isEmpty() ? QString() : QLatin1Char('(') + model + QLatin1Char(')');
    }
    default:
        return {};
    }
}

void TfrmPelorvane::ExplorerChange() {
    const QModelIndexList selected = Explorer->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    SwitchToView(ExplorerModel->Node(selected.first().row()).View);
}

void TfrmPelorvane::SwitchToView(QWidget *view) {
    if (!view)
        return;
    if (FCurrentView && FCurrentView != view)
        FCurrentView->hide();
    FCurrentView = view;
    view->show();
    view->raise();
}

void TfrmPelorvane::ShowView(QWidget *view) {
    for (int index = 0; index < TExplorerModel::NodeCount; ++index) {
        if (ExplorerModel->Node(index).View != view)
            continue;
        const QModelIndex node = ExplorerModel->index(index, 0);
        Explorer->selectionModel()->clearSelection();
        Explorer->selectionModel()->setCurrentIndex(node, QItemSelectionModel::ClearAndSelect);
        Explorer->setFocus();
        SwitchToView(view);
        break;
    }
    RefreshAll();
}

void TfrmPelorvane::ViewChange(QAction *action) {
    const QString caption = StripAccel(action->text());
    for (int index = 0; index < TExplorerModel::NodeCount; ++index) {
        const TNodeData &node = ExplorerModel->Node(index);
        if (node.Caption == caption) {
            SwitchToView(node.View);
            break;
        }
    }
}

void TfrmPelorvane::actViewExplorerExecute() {
    // The action has already inverted its check mark.
    const bool visible = actViewExplorer->isChecked();
    if (visible == !PnlExplorer->isHidden())
        return;
    if (!visible) {
        FExplorerWidth = PnlExplorer->width();
        PnlExplorer->hide();
    } else {
        PnlExplorer->show();
        // Back at its last width, with the splitter right after it.
        if (FExplorerWidth >= 0) {
            const int total = Splitter1->width() - Splitter1->handleWidth();
            const int width = qBound(0, FExplorerWidth, qMax(0, total));
            Splitter1->setSizes({width, qMax(0, total - width)});
        }
    }
    UpdateActions();
}

void TfrmPelorvane::RefreshAll() {
    UpdateCaption();
    Explorer->viewport()->update();
    if (FContactsView)
        FContactsView->RefreshList();
    if (FOutboxView)
        FOutboxView->RefreshList();
    if (FSentView)
        FSentView->RefreshList();
    TIdleHook::Instance().Request();
}

void TfrmPelorvane::ComposeTo(const QByteArray &recipients) {
    TfrmCompose *compose = ComposeView();
    ShowView(compose);
    compose->SetRecipients(recipients);
    RefreshAll();
}

void TfrmPelorvane::SetStatusText(const QString &text) {
    StatusPanel1->setText(text);
    Q_EMIT StatusTextChanged(text);
}

QString TfrmPelorvane::StatusText() const {
    return StatusPanel1->text();
}

void TfrmPelorvane::UpdateCaption() {
    QString caption = FData.Title();
    if (FData.Modified)
        caption += QLatin1Char('*');
    caption += QStringLiteral(" - ") + QLatin1StringView(PelorvaneAppName);
    // The desktop's title and the caption of the general error box are the same text.
    QGuiApplication::setApplicationDisplayName(caption);
    setWindowTitle(caption);
}

void TfrmPelorvane::UpdateActions() {
    const bool sending = FSending;
    const bool stopAllowed = FSending && !FStopRequested;
    const bool explorerShown = !PnlExplorer->isHidden();

    actStart->setEnabled(true);
    actStop->setEnabled(stopAllowed);
    actViewExplorer->setChecked(explorerShown);
    QAction *runAction = sending ? actStop : actStart;
    if (btnStart->defaultAction() != runAction)
        btnStart->setDefaultAction(runAction);
}

void TfrmPelorvane::actStartExecute() {
    if (FSending)
        return;
    WithPhoneLock(*FData.Phone, [this] {
        if (FData.Phone->IsBusy())
            return;
        FData.Phone->OnWorkerDone = [this](TPhone &) { RunGuarded([this] { SendingFinished(); }); };
        FData.Phone->Start(new TSenderThread(FData));
        FSending = true;
        FStopRequested = false;
    });
    if (!FSending)
        return;
    UpdateActions();
    AnimateClip->start();
    ShowView(OutboxView());
    SetStatusText(QStringLiteral("Busy..."));
}

void TfrmPelorvane::actStopExecute() {
    if (!FSending)
        return;
    WithPhoneLock(*FData.Phone, [this] {
        FData.Phone->StopWorker();
        FStopRequested = true;
    });
    UpdateActions();
    if (FStopRequested)
        SetStatusText(QStringLiteral("Stopping..."));
}

void TfrmPelorvane::SendingFinished() {
    FSending = false;
    FStopRequested = false;
    UpdateActions();
    AnimateClip->stop();
    AnimateClip->jumpToFrame(0);
    SetStatusText(QStringLiteral("Ready."));

    if (FData.MoveSentMessages() > 0) {
        OutboxView()->RefreshList();
        SentView()->RefreshList();
        RefreshAll();
    }

    QByteArray report;
    for (const QByteArray &line : std::as_const(FData.Phone->Reports)) {
        if (!line.isEmpty())
            report += line + "\r\n";
    }
    if (!report.isEmpty())
        MessageDlg(QString::fromLocal8Bit(report), TMsgKind::Error, QMessageBox::Ok);
}

bool TfrmPelorvane::AskSaveCurrent() {
    if (!FData.Modified)
        return true;
    const auto answer = MessageDlg(QStringLiteral("Save current project ?"), TMsgKind::Confirm,
                                   QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes) {
        SaveProject(false);
        return true;
    }
    return answer == QMessageBox::No;
}

void TfrmPelorvane::SaveProject(bool saveAs) {
    ComposeView()->StoreFields();
    struct TCaption {
        TfrmPelorvane *Window;
        ~TCaption() { Window->UpdateCaption(); }
    } caption{this};
    FData.Save(saveAs);
}

void TfrmPelorvane::LoadProject(const QString &fileName) {
    TfrmCompose *compose = ComposeView();
    // The document's compose fields must hold what is typed now: a file without that section
    // leaves them, and they go back into the view afterwards.
    compose->StoreFields();
    try {
        FData.Load(fileName);
    } catch (...) {
        // Sections read before the failure stay in the document; show what it holds.
        compose->LoadFields();
        RefreshAll();
        throw;
    }
    compose->LoadFields();
    RefreshAll();
}

void TfrmPelorvane::actFileNewExecute() {
    if (!AskSaveCurrent())
        return;
    FData.New();
    RefreshAll();
}

void TfrmPelorvane::actOpenExecute() {
    const QString fileName = OpenFileDialog(this, ProjectFilter, ProjectExt);
    if (fileName.isEmpty())
        return;
    if (!AskSaveCurrent())
        return;
    LoadProject(fileName);
}

void TfrmPelorvane::actSaveExecute() {
    SaveProject(false);
}

void TfrmPelorvane::actSaveAsExecute() {
    SaveProject(true);
}

void TfrmPelorvane::actImportContactExecute() {
    if (QAction *import = ContactsView()->actImport)
        import->trigger();
}

void TfrmPelorvane::actExportContactExecute() {
    if (QAction *exportAction = ContactsView()->actExport)
        exportAction->trigger();
}

void TfrmPelorvane::ActAboutExecute() {
    if (!FAbout)
        FAbout = new TfrmAbout(this);
    FAbout->exec();
}

void TfrmPelorvane::OpenProjectFile(const QString &fileName) {
    RunGuarded([&] { LoadProject(fileName); });
}

void TfrmPelorvane::BringToFront() {
    if (isMinimized())
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void TfrmPelorvane::setVisible(bool visible) {
    // The stored placement is applied before the window first appears.
    if (visible && !FLayoutRead) {
        FLayoutRead = true;
        ReadLayout();
    }
    QMainWindow::setVisible(visible);
}

void TfrmPelorvane::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    if (FShown)
        return;
    FShown = true;
    if (FExplorerWidth >= 0) {
        const int total = Splitter1->width() - Splitter1->handleWidth();
        const int width = qBound(0, FExplorerWidth, qMax(0, total));
        Splitter1->setSizes({width, qMax(0, total - width)});
    }
    UpdateCaption();
    const QModelIndex first = ExplorerModel->index(TExplorerModel::ndCompose, 0);
    Explorer->selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect);
    SwitchToView(ExplorerModel->Node(TExplorerModel::ndCompose).View);
    UpdateActions();
}

void TfrmPelorvane::StopRunAndWait() {
    FWaitingForRun = true;
    struct TDone {
        bool &Flag;
        ~TDone() { Flag = false; }
    } done{FWaitingForRun};
    actStopExecute();
    // The window stays usable while the worker finishes its exchange; SendingFinished runs
    // from the phone's end notification in this loop.
    QEventLoop loop;
    while (FSending) {
        if (!FStopRequested)
            actStopExecute();
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
}

bool TfrmPelorvane::FormCloseQuery() {
    if (!FData.Modified)
        return true;
    const auto answer =
        MessageDlg(QStringLiteral("Save \"%1\" before exit ?").arg(FData.Title()),
                   TMsgKind::Confirm, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes) {
        bool saved = false;
        RunGuarded([&] {
            SaveProject(false);
            saved = true;
        });
        // A failed save keeps the window open; a cancelled save dialog closes it unsaved.
        return saved;
    }
    return answer == QMessageBox::No;
}

void TfrmPelorvane::closeEvent(QCloseEvent *event) {
    if (FWaitingForRun) {
        event->ignore();
        return;
    }
    // Messages the phone accepts after the question would be missing from a saved project
    // and sent again next time: the run ends first and its sent messages move.
    if (FSending)
        StopRunAndWait();
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    WriteLayout();
    event->accept();
}

void TfrmPelorvane::ReadLayout() {
    const TIniFile ini(FData.Settings->FileName());
    const QString section = QLatin1StringView(LayoutSection);
    if (!ini.SectionExists(section))
        return;
    if (ini.ReadInteger(section, QStringLiteral("FormVersion"), 0) < 0)
        return;

    int bounds[4];
    if (ReadFour(ini.ReadString(section, QStringLiteral("NormPos"), QString()), bounds)) {
        const QRect rect(QPoint(bounds[0], bounds[1]), QPoint(bounds[2] - 1, bounds[3] - 1));
        if (rect.width() > 0 && rect.height() > 0) {
            // A position left from a screen that is gone would put the window out of reach.
            if (OnSomeScreen(rect))
                setGeometry(rect);
            else
                resize(rect.size());
        }
    }
    if (ini.ReadInteger(section, QStringLiteral("ShowCmd"), ShowNormal) == ShowMaximized)
        setWindowState(windowState() | Qt::WindowMaximized);

    const int width = ini.ReadInteger(section, QStringLiteral("PnlExplorer_Width"), -1);
    if (width >= 0)
        FExplorerWidth = width;
    const bool visible =
        ini.ReadBool(section, QStringLiteral("PnlExplorer_Visible"), !PnlExplorer->isHidden());
    PnlExplorer->setVisible(visible);
    UpdateActions();
}

void TfrmPelorvane::WriteLayout() {
    FLayoutWritten = true;
    TIniFile ini(FData.Settings->FileName());
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
    const int explorerWidth = PnlExplorer->isHidden()
                                  ? (FExplorerWidth >= 0 ? FExplorerWidth : PnlExplorer->width())
                                  : PnlExplorer->width();
    try {
        ini.WriteInteger(section, QStringLiteral("FormVersion"), 0);
        ini.WriteInteger(section, QStringLiteral("ShowCmd"), showCmd);
        ini.WriteInteger(section, QStringLiteral("Flags"), flags);
        ini.WriteInteger(section, QStringLiteral("PixelsPerInch"), dpi);
        ini.WriteString(section, QStringLiteral("MinMaxPos"), Four(-1, -1, maxPos.x(), maxPos.y()));
        ini.WriteString(section, QStringLiteral("NormPos"),
                        Four(normal.left(), normal.top(), normal.left() + normal.width(),
                             normal.top() + normal.height()));
        ini.WriteInteger(section, QStringLiteral("PnlExplorer_Width"), explorerWidth);
        ini.WriteBool(section, QStringLiteral("PnlExplorer_Visible"), !PnlExplorer->isHidden());
        ini.WriteBool(section, QStringLiteral("Splitter1_Visible"), !PnlExplorer->isHidden());
        // A settings file that cannot be written loses the layout, nothing more.
        ini.UpdateFile();
    } catch (...) {
    }
}
