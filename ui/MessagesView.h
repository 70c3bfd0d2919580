#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <optional>

struct Message;
enum class MessageStatus : quint8;
class QAction;
class QItemSelection;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QTableView;
class QToolBar;
class AppData;
class CellTipDelegate;
class ColumnWidths;
class IniFile;
class MessageList;
class MessageModel;
class ViewHost;

// A messages view: the outbox or the sent folder, one instance each. The list shows the
// messages in list order, each row read from the list when it is drawn; the preview below
// shows the whole text of the row chosen last.
class MessagesView : public QWidget {
    Q_OBJECT
public:
    MessagesView(AppData &data, ViewHost &host, MessageList &list, const QString &title,
                 QWidget *parent = nullptr);
    ~MessagesView() override;

    MessageList &list() const;
    // Appends a message to this view's list (the compose view's Send to Outbox, Resend) and
    // adds its row; returns its index.
    int addMessage(const Message &message);
    // Moves this list's sent messages to sentView's list, telling both views which rows moved;
    // returns how many did.
    int moveSentTo(MessagesView &sentView);
    // Re-reads the row count and repaints.
    void refreshList();

    // Enables Forward, Resend and Delete exactly when a row is selected, and in the outbox
    // Retry failed and Retry unknown when it holds such a message and no run is going. Runs on
    // every selection change and at idle time.
    void updateActions();

    // The selected rows in list order.
    QList<int> selectedRows() const;

    // The column widths the user has set, kept with the main window's layout.
    void readLayout(const IniFile &ini, const QString &section);
    void writeLayout(IniFile &ini, const QString &section) const;
    ColumnWidths *columnWidths() const { return m_columnWidths; }
    CellTipDelegate *cellDelegate() const { return m_cellDelegate; }

    // The widest the To column gets when it fits its numbers.
    static constexpr int MaxToWidth = 220;

    QTableView *listView() const { return m_listView; }
    MessageModel *model() const { return m_model; }

    QLabel *titleLabel = nullptr;
    QToolBar *toolBar = nullptr; // Forward, Resend, Delete
    QSplitter *splitter = nullptr;
    QPlainTextEdit *previewEdit = nullptr;
    QMenu *contextMenu = nullptr;

    QAction *forwardAction = nullptr;
    QAction *resendAction = nullptr;
    QAction *deleteAction = nullptr;
    QAction *selectAllAction = nullptr;
    // Outbox only (the sent folder holds neither kind).
    QAction *retryFailedAction = nullptr;
    QAction *retryUnknownAction = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void onSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    void onForwardTriggered();
    void onResendTriggered();
    void onDeleteTriggered();
    void onSelectAllTriggered();
    void onRetryFailedTriggered();
    void onRetryUnknownTriggered();
    // Puts the outbox's messages of that status back to pending.
    void retry(MessageStatus status);
    // The selected rows as the list control's own clipboard text: one line per row, the
    // columns separated by tabs.
    void copySelection();
    // Shows the Sent view's Phone and Delivery columns when a message has something for them.
    void showDetailColumns();

    AppData &m_data;
    ViewHost &m_host;
    MessageList &m_list;
    const bool m_isOutbox;
    // What the last look through the outbox for failed and unknown messages found, and the
    // list's change count then: idle updates read a long outbox only after it changed.
    struct RetryScan {
        quint64 changeCount = 0;
        bool failed = false;
        bool unknown = false;
    };
    std::optional<RetryScan> m_retryScan;
    // Whether any sent message names its phone or has a message id (a receipt may come):
    // the Sent view's Phone and Delivery columns show only then.
    struct DetailScan {
        quint64 changeCount = 0;
        bool phone = false;
        bool delivery = false;
    };
    std::optional<DetailScan> m_detailScan;
    MessageModel *m_model = nullptr;
    QTableView *m_listView = nullptr;
    CellTipDelegate *m_cellDelegate = nullptr;
    ColumnWidths *m_columnWidths = nullptr;
};
