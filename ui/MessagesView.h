#pragma once

#include <QList>
#include <QString>
#include <QWidget>

struct TMessage;
class QAction;
class QItemSelection;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QTreeView;
class TDataModule1;
class TMessageList;
class TMessageListModel;
class TViewHost;

// A messages view: the outbox or the sent folder, one instance each. The list shows the
// messages in list order, each row read from the list when it is drawn; the preview below
// shows the whole text of the row chosen last.
class TfrmMessage : public QWidget {
    Q_OBJECT
public:
    TfrmMessage(TDataModule1 &data, TViewHost &host, TMessageList &list, const QString &title,
                QWidget *parent = nullptr);
    ~TfrmMessage() override;

    TMessageList &List() const;
    // Appends a message to this view's list (the compose view's Send to Outbox, Resend) and
    // adds its row; returns its index.
    int AddMessage(const TMessage &message);
    // Re-reads the row count and repaints.
    void RefreshList();

    // Enables Forward, Resend and Delete exactly when a row is selected. Runs on every
    // selection change and at idle time.
    void UpdateActions();

    // The selected rows in list order.
    QList<int> SelectedRows() const;

    QTreeView *Treeview() const { return FTreeview; }
    TMessageListModel *Model() const { return FModel; }

    QLabel *Label1 = nullptr;
    QSplitter *Splitter1 = nullptr;
    QPlainTextEdit *memContent = nullptr;
    QMenu *PopupMenu = nullptr;

    QAction *actForward = nullptr;
    QAction *actResend = nullptr;
    QAction *actDelete = nullptr;
    QAction *actSelectAll = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void TreeviewChange(const QItemSelection &selected, const QItemSelection &deselected);
    void actForwardExecute();
    void actResendExecute();
    void actDeleteExecute();
    void actSelectAllExecute();
    // The selected rows as the list control's own clipboard text: one line per row, the
    // columns separated by tabs.
    void CopySelection();

    TDataModule1 &FData;
    TViewHost &FHost;
    TMessageList &FList;
    TMessageListModel *FModel = nullptr;
    QTreeView *FTreeview = nullptr;
};
