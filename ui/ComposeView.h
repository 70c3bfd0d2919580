#pragma once

#include <QByteArray>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QString>
#include <QWidget>

#include <functional>

class QAction;
class QLabel;
class QLineEdit;
class QMimeData;
class QToolBar;
class QToolButton;
class AppData;
class ViewHost;

// The To and Cc boxes: editable, nothing typed is added to the list, and the list is filled
// just before it opens.
class RecipientBox : public QComboBox {
    Q_OBJECT
public:
    explicit RecipientBox(QWidget *parent = nullptr);
    std::function<void()> onAboutToShowPopup;
    void showPopup() override;
};

// The body: text pasted or dropped into it goes through onInsertText, which inserts only
// what the message can hold.
class BodyEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit BodyEdit(QWidget *parent = nullptr);
    std::function<void(const QString &text)> onInsertText;

protected:
    void insertFromMimeData(const QMimeData *source) override;
};

// The compose view: one message, its recipients, the coding, the character counter and the
// number of SMS the message costs.
class ComposeView : public QWidget {
    Q_OBJECT
public:
    ComposeView(AppData &data, ViewHost &host, QWidget *parent = nullptr);
    ~ComposeView() override;

    // The main window's composeTo: replaces the To text.
    void setRecipients(const QByteArray &to);
    // Forward of the messages view: replaces the body (cut when too long).
    void setBody(const QString &body);

    // The project file's compose section lives in AppData::compose: the window copies
    // the controls there before a save and back after a load.
    void storeFields();
    void loadFields();

    // The body as the counter sees it: every line break one LF, every other character as
    // typed.
    QString bodyText() const;
    // Subject, ":" and body, or the body alone.
    QString composeText() const;

    // Re-runs the coding choice and the counter and cuts the body until it fits; runs after
    // every change of subject or body. The cut raises no further change notification.
    void updateCounter();
    // Which list entry of a To or Cc box is chosen: 0 all contacts, 1 checked contacts, -1
    // typed text.
    static int selectedEntry(const QComboBox *box);

    QLabel *titleLabel = nullptr; // title
    QToolBar *toolBar = nullptr;
    QToolButton *sendToOutboxButton = nullptr; // Send to Outbox
    QToolButton *flashButton = nullptr;
    QToolButton *longButton = nullptr;
    QToolButton *clearButton = nullptr;
    RecipientBox *toCombo = nullptr;  // To
    RecipientBox *ccCombo = nullptr;  // Cc
    QLineEdit *subjectEdit = nullptr; // subject
    BodyEdit *bodyEdit = nullptr;
    QLineEdit *codingField = nullptr;
    QLineEdit *charsLeftField = nullptr;
    QLabel *smsCountLabel = nullptr;   // "3 SMS"
    QLabel *ucs2ReasonLabel = nullptr; // the characters that make the text UCS-2
    QAction *replaceLookalikesAction = nullptr;
    QToolButton *replaceLookalikesButton = nullptr;

private:
    void fillRecipientList(QComboBox *box);
    void onClearClicked();
    // Replaces the look-alikes of GSM characters in subject and body, one undo step in each.
    void onReplaceLookalikesTriggered();
    void onSendToOutboxClicked();
    void insertIntoBody(const QString &text);

    AppData &m_data;
    ViewHost &m_host;
    bool m_updating = false;
};
