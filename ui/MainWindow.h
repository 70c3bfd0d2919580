#pragma once

#include "ui/ViewHost.h"

#include <QMainWindow>

class QAction;
class QGridLayout;
class QLabel;
class QMenu;
class QMovie;
class QSplitter;
class QStatusBar;
class QToolBar;
class QToolButton;
class QTreeView;
class TDataModule1;
class TExplorerModel;
class TfrmAbout;

// The application name shown in the caption and the about box.
inline constexpr char PelorvaneAppName[] = "Pelorvane";

// The main window: project commands, the sending run, the folder explorer and the right-hand
// pane in which the view of the chosen folder is shown.
class TfrmPelorvane : public QMainWindow, public TViewHost {
    Q_OBJECT
public:
    // The section of the settings file that keeps the window's placement and explorer layout.
    static constexpr char LayoutSection[] = "frmPelorvane";

    explicit TfrmPelorvane(TDataModule1 &data, QWidget *parent = nullptr);
    // Ends a running worker (its sent messages still move) before the views go away.
    ~TfrmPelorvane() override;

    // TViewHost
    void ShowView(QWidget *view) override;
    void RefreshAll() override;
    void ComposeTo(const QByteArray &recipients) override;
    void SetStatusText(const QString &text) override;
    TfrmCompose *ComposeView() override;
    TfrmContact *ContactsView() override;
    TfrmMessage *OutboxView() override;
    TfrmMessage *SentView() override;
    TfrmSetting *PhoneView() override;

    void UpdateCaption();
    QString StatusText() const;

    // The project named on the command line: loaded before the window is first shown; an
    // error is shown and the window opens all the same.
    void OpenProjectFile(const QString &fileName);

    // A second copy of the program asks for this: restore when minimised, then to the front.
    void BringToFront();

    // Computes the availability and check marks of the window's actions from its state; runs
    // at idle time and after every change of state.
    void UpdateActions();

    bool Sending() const { return FSending; }
    // The view shown in the right-hand pane, if any.
    QWidget *CurrentView() const { return FCurrentView; }

    // Actions of the menus and the tool bar.
    QAction *actFileNew = nullptr;
    QAction *actOpen = nullptr;
    QAction *actSave = nullptr;
    QAction *actSaveAs = nullptr;
    QAction *actImportContact = nullptr;
    QAction *actExportContact = nullptr;
    QAction *actExit = nullptr;
    QAction *actViewExplorer = nullptr;
    QAction *actViewCompose = nullptr;
    QAction *actViewContacts = nullptr;
    QAction *actViewOutbox = nullptr;
    QAction *actViewPhone = nullptr;
    QAction *actViewSent = nullptr;
    QAction *ActAbout = nullptr;
    QAction *actStart = nullptr;
    QAction *actStop = nullptr;

    QToolBar *ToolBar1 = nullptr;
    QToolButton *btnStart = nullptr;
    QLabel *Animate1 = nullptr;
    QMovie *AnimateClip = nullptr;
    QWidget *PnlExplorer = nullptr;
    QToolButton *btnHideExplorer = nullptr;
    QTreeView *Explorer = nullptr;
    TExplorerModel *ExplorerModel = nullptr;
    QSplitter *Splitter1 = nullptr;
    QWidget *PnlRight = nullptr;
    QStatusBar *StatusBar = nullptr;
    QLabel *StatusPanel1 = nullptr;
    QLabel *StatusPanel2 = nullptr;

public:
    void setVisible(bool visible) override;

Q_SIGNALS:
    // Every text given to the first status panel, in order.
    void StatusTextChanged(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateBody();
    void CreateStatusBar();

    QWidget *InitNode(int index);
    QString ExplorerGetText(int index) const;
    void ExplorerChange();
    void SwitchToView(QWidget *view);
    void ViewChange(QAction *action);
    void actViewExplorerExecute();
    void DockView(QWidget *view);

    void actFileNewExecute();
    void actOpenExecute();
    void actSaveExecute();
    void actSaveAsExecute();
    void actImportContactExecute();
    void actExportContactExecute();
    void ActAboutExecute();
    void actStartExecute();
    void actStopExecute();
    void SendingFinished();

    // Asks "Save current project ?" when the project is modified; false when cancelled.
    bool AskSaveCurrent();
    // The close question; false keeps the window open.
    bool FormCloseQuery();
    // Stops a running run and serves the event queue until it has ended and its sent
    // messages have moved.
    void StopRunAndWait();
    void SaveProject(bool saveAs);
    void LoadProject(const QString &fileName);

    void ReadLayout();
    void WriteLayout();

    TDataModule1 &FData;
    TfrmCompose *FComposeView = nullptr;
    TfrmContact *FContactsView = nullptr;
    TfrmMessage *FOutboxView = nullptr;
    TfrmMessage *FSentView = nullptr;
    TfrmSetting *FPhoneView = nullptr;
    TfrmAbout *FAbout = nullptr;
    QGridLayout *FRightLayout = nullptr;
    QWidget *FCurrentView = nullptr;

    bool FSending = false;
    bool FStopRequested = false;
    bool FWaitingForRun = false;
    bool FShown = false;
    bool FLayoutRead = false;
    bool FLayoutWritten = false;
    // Explorer width to apply at the first show, when the layout gave one.
    int FExplorerWidth = -1;
};
