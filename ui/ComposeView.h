#pragma once

#include <QByteArray>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QMimeData;
class QToolBar;
class QToolButton;
class TDataModule1;
class TViewHost;

// The To and Cc boxes: editable, nothing typed is added to the list, and the list is filled
// just before it opens.
class TRecipientBox : public QComboBox {
    Q_OBJECT
public:
    explicit TRecipientBox(QWidget *parent = nullptr);
    std::function<void()> OnDropDown;
    void showPopup() override;
};

// The body: text pasted or dropped into it goes through OnInsertText, which inserts only
// what the message can hold.
class TBodyEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TBodyEdit(QWidget *parent = nullptr);
    std::function<void(const QString &text)> OnInsertText;

protected:
    void insertFromMimeData(const QMimeData *source) override;
};

// The compose view: one message, its recipients, the coding and the character counter.
class TfrmCompose : public QWidget {
    Q_OBJECT
public:
    TfrmCompose(TDataModule1 &data, TViewHost &host, QWidget *parent = nullptr);
    ~TfrmCompose() override;

    // The main window's ComposeTo: replaces the To text.
    void SetRecipients(const QByteArray &to);
    // Forward of the messages view: replaces the body (cut when too long).
    void SetBody(const QString &body);

    // The project file's compose section lives in TDataModule1::Compose: the window copies
    // the controls there before a save and back after a load.
    void StoreFields();
    void LoadFields();

    // The body as the counter sees it: every line break one LF, every other character as
    // typed.
    QString BodyText() const;
    // Subject, ":" and body, or the body alone.
    QString ComposeText() const;

    // Re-runs the coding choice and the counter and cuts the body until it fits; runs after
    // every change of subject or body. The cut raises no further change notification.
    void UpdateCounter();
    // Which list entry of a To or Cc box is chosen: 0 all contacts, 1 checked contacts, -1
    // typed text.
    static int SelectedEntry(const QComboBox *box);

    QLabel *Label1 = nullptr; // title
    QToolBar *ToolBar1 = nullptr;
    QToolButton *ToolButton1 = nullptr; // Send to Outbox
    QToolButton *btnFlash = nullptr;
    QToolButton *btnLong = nullptr;
    QToolButton *btnClear = nullptr;
    TRecipientBox *ComboBox1 = nullptr; // To
    TRecipientBox *ComboBox2 = nullptr; // Cc
    QLineEdit *Edit1 = nullptr;         // subject
    TBodyEdit *Memo1 = nullptr;
    QLineEdit *LblEncode = nullptr;
    QLineEdit *LblCharLeft = nullptr;

private:
    void ComboBoxDropDown(QComboBox *box);
    void btnClearClick();
    void ToolButton1Click();
    void InsertIntoBody(const QString &text);
    // The recipients of Send to Outbox, in order, as entered.
    QList<QByteArray> Recipients() const;

    TDataModule1 &FData;
    TViewHost &FHost;
    QAction *FLongAction = nullptr;
    bool FUpdating = false;
};
