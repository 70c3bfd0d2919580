#pragma once

#include "app/ComposeAnalysis.h"
#include "app/ComposeFields.h"

#include <QByteArray>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QString>
#include <QWidget>

#include <functional>

class QAction;
class QLabel;
class QTimer;
class QVBoxLayout;
class QLineEdit;
class QMimeData;
class QInputMethodEvent;
class QKeyEvent;
struct ComposeCount;
class QToolBar;
class QToolButton;
class AppData;
class RecipientPreviewModel;
class ViewHost;

// The To and Cc boxes: editable, nothing typed is added to the list. The box knows whether it
// names typed numbers or one of its two entries, "All contacts (N)" and "Checked contacts (N)",
// whose counts are asked for whenever the list opens or refreshEntries runs: a chosen entry is
// never read as typed text.
class RecipientBox : public QComboBox {
    Q_OBJECT
public:
    explicit RecipientBox(QWidget *parent = nullptr);
    // How many contacts an entry names now.
    std::function<int(RecipientChoice choice)> entryCount;

    RecipientChoice choice() const { return m_choice; }
    // Shows the entry with its count now.
    void setChoice(RecipientChoice choice);
    // Typed numbers; no entry is chosen.
    void setTypedText(const QString &text);
    // Brings the two entries' counts, and the text of a chosen one, up to date.
    void refreshEntries();
    void showPopup() override;

private:
    void onIndexChosen(int index);
    void onEditTextChanged(const QString &text);

    RecipientChoice m_choice = RecipientChoice::Typed;
    bool m_updating = false;
    // What the next change of the text is told (a paste that was cut), and what the notice
    // says until the text changes (a refusal).
    QString m_pendingNotice;
    QString m_notice;
};

// The body: text pasted or dropped into it goes through onInsertText, which inserts only
// what the message can hold.
// Typed text goes through onTyping first, which refuses what the message cannot hold. Tab and
// Shift+Tab move the focus; Ctrl+Tab types a tab.
class BodyEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit BodyEdit(QWidget *parent = nullptr);
    std::function<void(const QString &text)> onInsertText;
    // False refuses the text about to be typed over the selection.
    std::function<bool(const QString &text)> onTyping;

protected:
    void insertFromMimeData(const QMimeData *source) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
};

// The compose view: one message, its recipients, the coding, the character counter and the
// number of SMS the message costs. A text with placeholders also shows, a moment after the
// last change, the worst case over its recipients and the text of any one of them.
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

    // Re-runs the coding choice and the counter after every change of subject or body. Nothing
    // is cut here: a text over the limit (a longer subject, Long turned off, a loaded project)
    // is shown in red with the reason, and Send to Outbox refuses it.
    void updateCounter();
    // The counts of the To and Cc entries follow the contact list (the main window's refresh).
    void refreshRecipientEntries();

    // How long the view waits after the last change of the text or the recipients before it
    // works out the texts of all recipients again.
    static constexpr int AnalysisDelayMs = 150;

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
    QLabel *smsCountLabel = nullptr; // "3 SMS"
    // Why the text can take no more, or what was refused or cut; hidden when there is nothing.
    QLabel *limitLabel = nullptr;
    QLabel *ucs2ReasonLabel = nullptr; // the characters that make the text UCS-2
    QAction *replaceLookalikesAction = nullptr;
    QToolButton *replaceLookalikesButton = nullptr;

    // Shown while the text has placeholders, known or not.
    QWidget *personalPanel = nullptr;
    QLabel *placeholderErrorLabel = nullptr; // "Unknown placeholder: {Nmae}"
    // Shown while the text has known placeholders.
    QWidget *worstCasePanel = nullptr;
    QLabel *worstCaseLabel = nullptr; // the recipients and the longest text
    QLabel *partsLabel = nullptr;     // who needs more SMS, whose text is cut
    QLabel *ucs2NamesLabel = nullptr; // "3 names need UCS-2: Zoë, Łukasz, Şule"
    QToolButton *previewLongestButton = nullptr;
    QWidget *previewPanel = nullptr;
    QComboBox *previewCombo = nullptr;   // the recipient whose text is shown
    QLabel *previewCountLabel = nullptr; // that text's coding, count and SMS
    QLabel *previewSubjectLabel = nullptr;
    QLineEdit *previewSubjectField = nullptr;
    QPlainTextEdit *previewBodyEdit = nullptr;
    QTimer *analysisTimer = nullptr; // single shot, restarted by every change

Q_SIGNALS:
    // The worst case over the recipients has been worked out again.
    void analysisUpdated();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildPersonalPanel(QVBoxLayout *layout);
    // A change of subject or body: the counter, then what depends on the placeholders.
    void onComposeChanged();
    // The toggle changes the limit: the body may be cut, and what the view says about cuts.
    void onLongToggled();
    // What is cheap enough for every keystroke: the unknown placeholders, the preview of the
    // chosen recipient, and restarting the analysis timer.
    void updatePersonal();
    void scheduleAnalysis();
    // To, the contacts or the country may name other recipients now.
    void onRecipientsChanged();
    // The recipients To names now, with their texts' worst case.
    void runAnalysis();
    void setPreviewRecipients(const QList<Recipient> &recipients);
    void showAnalysis();
    void updatePreview();
    void onPreviewLongestClicked();
    // The recipients of Send to Outbox as To names them now.
    QList<Recipient> currentRecipients() const;

    void onClearClicked();
    // Replaces the look-alikes of GSM characters in subject and body, one undo step in each.
    void onReplaceLookalikesTriggered();
    void onSendToOutboxClicked();
    void insertIntoBody(const QString &text);
    // Whether text typed over the body's selection still fits; refuses it with the reason
    // otherwise. A text already over the limit may change as long as it gets no longer.
    bool acceptTyping(const QString &text);
    // The notice under the counter: what was refused or cut, else why the text is full.
    void showLimit(const ComposeCount &count);

    AppData &m_data;
    ViewHost &m_host;
    bool m_updating = false;
    // What the next change of the text is told (a paste that was cut), and what the notice
    // says until the text changes (a refusal).
    QString m_pendingNotice;
    QString m_notice;
    bool m_hasPlaceholders = false;
    // The recipients whose numbers can be sent, as of the last analysis, and its result.
    QList<Recipient> m_recipients;
    bool m_recipientsStale = true;
    int m_recipientsContactCount = -1;
    ComposeAnalysis m_analysis;
    RecipientPreviewModel *m_previewModel = nullptr;
};
