#pragma once

#include "ui/ViewHost.h"

#include <QMainWindow>

#include <optional>

struct PinRequest;
struct RunSummary;

class QAction;
class QLabel;
class QMenu;
class QMovie;
class QProgressBar;
class QSplitter;
class QGridLayout;
class QScrollArea;
class QStatusBar;
class QToolBar;
class QToolButton;
class QTreeView;
class AppData;
class ExplorerModel;
class AboutDialog;

// The application name shown in the caption and the about box.
inline constexpr char PelorvaneAppName[] = "Pelorvane";

// The main window: project commands, the sending run, the folder explorer and the right-hand
// pane in which the view of the chosen folder is shown.
class MainWindow : public QMainWindow, public ViewHost {
    Q_OBJECT
public:
    // The section of the settings file that keeps the window's placement and explorer layout.
    static constexpr char LayoutSection[] = "frmPelorvane";

    explicit MainWindow(AppData &data, QWidget *parent = nullptr);
    // Ends a running worker (its sent messages still move) before the views go away.
    ~MainWindow() override;

    // ViewHost
    void showView(QWidget *view) override;
    void refreshAll() override;
    void composeTo(const QByteArray &recipients) override;
    void setStatusText(const QString &text) override;
    ComposeView *composeView() override;
    ContactsView *contactsView() override;
    MessagesView *outboxView() override;
    MessagesView *sentView() override;
    PhoneView *phoneView() override;

    void updateCaption();
    QString statusText() const;

    // The project named on the command line: loaded before the window is first shown; an
    // error is shown and the window opens all the same.
    void openProjectFile(const QString &fileName);

    // A second copy of the program asks for this: restore when minimised, then to the front.
    void bringToFront();

    // At start-up: an untitled project that a program ended without saving (while it was
    // sending) is offered back, the newest one; Yes opens it untitled and modified, No forgets
    // it. Returns true when one was opened.
    bool offerUnsavedProject();

    // Computes the availability and check marks of the window's actions from its state; runs
    // at idle time and after every change of state.
    void updateActions();

    bool sending() const { return m_sending; }
    // The view shown in the right-hand pane, if any.
    QWidget *currentView() const { return m_currentView; }

    // Actions of the menus and the tool bar.
    QAction *newAction = nullptr;
    QAction *openAction = nullptr;
    QAction *saveAction = nullptr;
    QAction *saveAsAction = nullptr;
    QAction *importContactsAction = nullptr;
    QAction *exportContactsAction = nullptr;
    QAction *exitAction = nullptr;
    QAction *viewExplorerAction = nullptr;
    QAction *viewComposeAction = nullptr;
    QAction *viewContactsAction = nullptr;
    QAction *viewOutboxAction = nullptr;
    QAction *viewPhoneAction = nullptr;
    QAction *viewSentAction = nullptr;
    QAction *aboutAction = nullptr;
    QAction *startAction = nullptr;
    QAction *stopAction = nullptr;

    QToolBar *mainToolBar = nullptr;
    QToolButton *startButton = nullptr;
    QLabel *activityLabel = nullptr;
    QMovie *activityClip = nullptr;
    QWidget *explorerPanel = nullptr;
    QToolButton *hideExplorerButton = nullptr;
    QTreeView *explorer = nullptr;
    ExplorerModel *explorerModel = nullptr;
    QSplitter *splitter = nullptr;
    QScrollArea *rightScrollArea = nullptr; // holds rightPanel
    QWidget *rightPanel = nullptr;
    QStatusBar *mainStatusBar = nullptr;
    QLabel *statusLabel = nullptr;
    QLabel *phoneStatusLabel = nullptr;
    // How far a run has got; shown while one goes.
    QProgressBar *runProgressBar = nullptr;

public:
    void setVisible(bool visible) override;

Q_SIGNALS:
    // Every text given to the first status panel, in order.
    void statusTextChanged(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    // Esc that nobody else took (an edit in progress cancels itself) stops a run.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void createBody();
    void createStatusBar();

    QWidget *initNode(int index);
    QString explorerText(int index) const;
    void onExplorerChanged();
    void switchToView(QWidget *view);
    void onViewActionTriggered(QAction *action);
    void onViewExplorerTriggered();
    void dockView(QWidget *view);

    void onNewTriggered();
    void onOpenTriggered();
    void onSaveTriggered();
    void onSaveAsTriggered();
    void onImportContactsTriggered();
    void onExportContactsTriggered();
    void onAboutTriggered();
    void onStartTriggered();
    void onStopTriggered();
    // The PIN dialog of a run start (on the UI thread, the run waiting).
    std::optional<QByteArray> askPin(const PinRequest &request);
    // The SMS centre's password: the password store's, else asked for (and then kept).
    std::optional<QByteArray> smppPassword();
    void onSendingFinished(const RunSummary &summary);
    // The status bar's progress of the run and the outbox row being sent kept in sight.
    void showRunProgress();
    // Sent by the run and not yet moved to the sent folder; 0 when no run goes.
    int sentByRun() const;

    // Asks "Save current project ?" when the project is modified; false when cancelled.
    bool askSaveCurrent();
    // The close question; false keeps the window open.
    bool canClose();
    // Stops a running run and serves the event queue until it has ended and its sent
    // messages have moved.
    void stopRunAndWait();
    void saveProject(bool saveAs);
    void loadProject(const QString &fileName);

    void readLayout();
    void writeLayout();

    AppData &m_data;
    ComposeView *m_composeView = nullptr;
    ContactsView *m_contactsView = nullptr;
    MessagesView *m_outboxView = nullptr;
    MessagesView *m_sentView = nullptr;
    PhoneView *m_phoneView = nullptr;
    AboutDialog *m_about = nullptr;
    QGridLayout *m_rightLayout = nullptr;
    QWidget *m_currentView = nullptr;

    bool m_sending = false;
    // The outbox row last kept in sight; -1 at the start of a run.
    int m_followedRow = -1;
    bool m_stopRequested = false;
    bool m_waitingForRun = false;
    bool m_shown = false;
    bool m_layoutRead = false;
    bool m_layoutWritten = false;
    // Explorer width to apply at the first show, when the layout gave one.
    int m_explorerWidth = -1;
};
