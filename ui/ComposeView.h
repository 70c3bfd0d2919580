#pragma once

#include "app/ComposeAnalysis.h"

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
class QToolBar;
class QToolButton;
class AppData;
class RecipientPreviewModel;
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

    // Re-runs the coding choice and the counter and cuts the body until it fits; runs after
    // every change of subject or body. The cut raises no further change notification.
    void updateCounter();
    // Which list entry of a To or Cc box is chosen: 0 all contacts, 1 checked contacts, -1
    // typed text.
    static int selectedEntry(const QComboBox *box);

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
    QLabel *smsCountLabel = nullptr;   // "3 SMS"
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

    void fillRecipientList(QComboBox *box);
    void onClearClicked();
    // Replaces the look-alikes of GSM characters in subject and body, one undo step in each.
    void onReplaceLookalikesTriggered();
    void onSendToOutboxClicked();
    void insertIntoBody(const QString &text);

    AppData &m_data;
    ViewHost &m_host;
    bool m_updating = false;
    bool m_hasPlaceholders = false;
    // The recipients whose numbers can be sent, as of the last analysis, and its result.
    QList<Recipient> m_recipients;
    bool m_recipientsStale = true;
    int m_recipientsContactCount = -1;
    ComposeAnalysis m_analysis;
    RecipientPreviewModel *m_previewModel = nullptr;
};
