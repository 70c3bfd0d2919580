#include "ui/ComposeView.h"

#include "app/ComposeOutbox.h"

#include "app/AppData.h"
#include "base/OleDate.h"
#include "data/PhoneNumberParser.h"
#include "sms/GsmLookalikes.h"
#include "ui/ComposeCounter.h"
#include "ui/Dialogs.h"
#include "ui/Guarded.h"
#include "ui/Images.h"
#include "ui/MessagesView.h"
#include "ui/TitleStrip.h"
#include "ui/ViewHost.h"

#include <QAbstractListModel>
#include <QAction>
#include <QColor>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPalette>
#include <QSignalBlocker>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Line breaks as a text edit stores them: CR LF, CR and LF each become one break.
QString normalizeBreaks(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch == QLatin1Char('\r')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            out += QLatin1Char('\n');
        } else if (ch.unicode() == 0x2028 || ch.unicode() == 0x2029) {
            out += QLatin1Char('\n');
        } else {
            out += ch;
        }
    }
    return out;
}

// A character as the view names it: one that would not show (a space, a control) by its code.
QString shownCharacter(char32_t ch) {
    const auto category = QChar::category(ch);
    const bool invisible = QChar::isSpace(ch) || category == QChar::Other_Control ||
                           category == QChar::Other_Format || category == QChar::Other_Surrogate;
    return invisible ? QStringLiteral("U+%1").arg(uint(ch), 4, 16, QLatin1Char('0')).toUpper()
                     : QString::fromUcs4(&ch, 1);
}

// "UCS-2 because of: “ ” …".
QString ucs2ReasonText(const Ucs2Reasons &reasons) {
    QStringList shown;
    for (char32_t ch : reasons.characters)
        shown << shownCharacter(ch);
    QString result = QStringLiteral("UCS-2 because of: ") + shown.join(QLatin1Char(' '));
    if (reasons.more)
        result += QStringLiteral(" and more");
    return result;
}

// The name a recipient is known by in the view: the contact's name, else the number sent.
QString recipientName(const Recipient &recipient) {
    const QString name = recipient.name.trimmed();
    return name.isEmpty() ? QString::fromLatin1(recipient.parsed.number) : name;
}

QString recipientCaption(const Recipient &recipient) {
    const QString name = recipient.name.trimmed();
    const QString number = QString::fromLatin1(recipient.parsed.number);
    return name.isEmpty() ? number : name + QStringLiteral(" (") + number + QLatin1Char(')');
}

// "1 recipient", "3 recipients", or every one of them.
QString recipientsPhrase(qsizetype count, int of) {
    if (count == of && count > 1)
        return QStringLiteral("every recipient");
    return count == 1 ? QStringLiteral("1 recipient") : QStringLiteral("%1 recipients").arg(count);
}

// "3 SMS" or "3 to 5 SMS": the range of parts that the listed recipients need.
QString partsRange(const QList<int> &recipients, const QList<int> &parts) {
    int fewest = 0;
    int most = 0;
    for (int index : recipients) {
        const int count = parts[index];
        fewest = fewest == 0 ? count : std::min(fewest, count);
        most = std::max(most, count);
    }
    return fewest == most ? QStringLiteral("%1 SMS").arg(most)
                          : QStringLiteral("%1 to %2 SMS").arg(fewest).arg(most);
}

// "3 names need UCS-2: Zoë, Łukasz, Şule", a few names and then how many more.
QString ucs2NamesText(const QList<int> &recipients, const QList<Recipient> &all) {
    constexpr int MaxNames = 5;
    QStringList names;
    for (int index : recipients) {
        if (names.size() == MaxNames)
            break;
        names << recipientName(all[index]);
    }
    const qsizetype count = recipients.size();
    QString text = count == 1 ? QStringLiteral("1 name needs UCS-2: ")
                              : QStringLiteral("%1 names need UCS-2: ").arg(count);
    text += names.join(QStringLiteral(", "));
    if (count > names.size())
        text += QStringLiteral(" and %1 more").arg(count - names.size());
    return text;
}

// Errors in red, warnings in dark orange, everything else in the text colour of the style.
enum class Tone { Normal, Warning, Error };

// role: WindowText for labels, Text for edit fields.
void setTone(QWidget *widget, Tone tone, QPalette::ColorRole role = QPalette::WindowText) {
    // A fresh palette overrides nothing but the colour set here: the rest follows the parent.
    QPalette palette;
    if (tone == Tone::Error)
        palette.setColor(role, QColor(0xB0, 0x00, 0x00));
    else if (tone == Tone::Warning)
        palette.setColor(role, QColor(0xA0, 0x50, 0x00));
    widget->setPalette(palette);
}

// Why nothing more fits: "One SMS holds 160 GSM characters; turn on Long for more".
QString limitReason(const ComposeCount &count, bool isLong) {
    if (isLong)
        return QStringLiteral("A long message holds at most %1 characters").arg(count.limit);
    return count.coding == Coding::Ucs2
               ? QStringLiteral("One SMS holds %1 characters in UCS-2; turn on Long for more")
                     .arg(count.limit)
               : QStringLiteral("One SMS holds %1 GSM characters; turn on Long for more")
                     .arg(count.limit);
}

// A text over its limit, which only a longer subject, Long turned off or a loaded project
// makes: it is kept as it is and cannot be sent until it fits.
QString overLimitText(const ComposeCount &count, bool isLong, bool hasSubject) {
    const QString what =
        hasSubject ? QStringLiteral("the subject or the text") : QStringLiteral("the text");
    if (isLong)
        return QStringLiteral("The text is longer than a long message holds (%1/%2): shorten %3")
            .arg(count.count)
            .arg(count.limit)
            .arg(what);
    return QStringLiteral("The text does not fit one SMS (%1/%2): shorten %3 or turn on Long")
        .arg(count.count)
        .arg(count.limit)
        .arg(what);
}

// "The pasted text was cut to what one SMS holds; Ctrl+Z brings it back".
QString cutNotice(const QString &what, bool isLong) {
    return QStringLiteral("The %1 text was cut to what %2 holds; Ctrl+Z brings it back")
        .arg(what, isLong ? QStringLiteral("a long message") : QStringLiteral("one SMS"));
}

QLabel *makeInfoLabel(QWidget *parent, const char *name) {
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1StringView(name));
    // Names come from the address book: never read as rich text.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QToolButton *makeToolButton(QToolBar *bar, const char *name, const QString &text, ImageRole role) {
    auto *button = new QToolButton(bar);
    button->setObjectName(QLatin1StringView(name));
    button->setText(text);
    button->setIcon(roleIcon(role));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    return button;
}

} // namespace

// The recipients of the preview's drop-down, read row by row when shown: a list of 10,000
// contacts costs nothing until it is opened.
class RecipientPreviewModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void setRecipients(const QList<Recipient> &recipients) {
        beginResetModel();
        m_recipients = recipients;
        endResetModel();
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_recipients.size());
    }

    QVariant data(const QModelIndex &index, int role) const override {
        if (!index.isValid() || index.row() >= m_recipients.size() || role != Qt::DisplayRole)
            return {};
        return recipientCaption(m_recipients[index.row()]);
    }

private:
    QList<Recipient> m_recipients;
};

RecipientBox::RecipientBox(QWidget *parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QComboBox::activated, this, &RecipientBox::onIndexChosen);
    connect(this, &QComboBox::currentIndexChanged, this, &RecipientBox::onIndexChosen);
    connect(this, &QComboBox::editTextChanged, this, &RecipientBox::onEditTextChanged);
}

void RecipientBox::setChoice(RecipientChoice choice) {
    m_choice = choice;
    refreshEntries();
    if (choice == RecipientChoice::Typed)
        setTypedText(QString());
}

void RecipientBox::setTypedText(const QString &text) {
    m_updating = true;
    setCurrentIndex(-1);
    setEditText(text);
    m_updating = false;
    m_choice = RecipientChoice::Typed;
}

void RecipientBox::refreshEntries() {
    const QString typed = currentText();
    const int cursor = lineEdit()->cursorPosition();
    m_updating = true;
    if (count() != 2) {
        clear();
        addItem(QString());
        addItem(QString());
    }
    // Typed text is left as it is (caret included) while the user may be typing: only an
    // entry that is still current, having been typed over, is let go first, since changing
    // the current entry's text changes the edit text.
    if (m_choice == RecipientChoice::Typed && currentIndex() != -1)
        setCurrentIndex(-1);
    if (m_choice == RecipientChoice::Typed && currentText() != typed) {
        setEditText(typed);
        lineEdit()->setCursorPosition(cursor);
    }
    for (const RecipientChoice entry :
         {RecipientChoice::AllContacts, RecipientChoice::CheckedContacts}) {
        const int index = int(entry) - 1;
        const QString text = recipientEntryText(entry, entryCount ? entryCount(entry) : 0);
        if (itemText(index) != text)
            setItemText(index, text);
    }
    if (m_choice != RecipientChoice::Typed) {
        const int index = int(m_choice) - 1;
        if (currentIndex() != index)
            setCurrentIndex(index);
        if (currentText() != itemText(index))
            setEditText(itemText(index));
    }
    m_updating = false;
}

void RecipientBox::showPopup() {
    refreshEntries();
    QComboBox::showPopup();
}

void RecipientBox::onIndexChosen(int index) {
    if (m_updating || count() != 2 || index < 0 || index > 1)
        return;
    m_choice = RecipientChoice(index + 1);
}

void RecipientBox::onEditTextChanged(const QString &text) {
    // Typing over a chosen entry, or editing it, makes the text typed numbers.
    if (m_updating || m_choice == RecipientChoice::Typed)
        return;
    const int index = int(m_choice) - 1;
    if (index >= count() || text != itemText(index))
        m_choice = RecipientChoice::Typed;
}

BodyEdit::BodyEdit(QWidget *parent) : QPlainTextEdit(parent) {
    // A tab would also make the text UCS-2: Tab moves on, as in every other field.
    setTabChangesFocus(true);
}

void BodyEdit::keyPressEvent(QKeyEvent *event) {
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    if (event->key() == Qt::Key_Tab && modifiers == Qt::ControlModifier) {
        if (!isReadOnly() && (!onTyping || onTyping(QStringLiteral("\t"))))
            insertPlainText(QStringLiteral("\t"));
        event->accept();
        return;
    }
    QString typed;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (!(modifiers & Qt::ControlModifier))
            typed = QStringLiteral("\n");
    } else if (!(modifiers & Qt::ControlModifier) && !event->text().isEmpty()) {
        const QChar first = event->text().front();
        if (first.isPrint() || first.isSurrogate() || first == QLatin1Char('\t'))
            typed = event->text();
    }
    if (!typed.isEmpty() && !isReadOnly() && onTyping && !onTyping(typed)) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void BodyEdit::inputMethodEvent(QInputMethodEvent *event) {
    if (!event->commitString().isEmpty() && onTyping && !onTyping(event->commitString())) {
        // What is being composed stays on show; only the commit is refused.
        QInputMethodEvent withoutCommit(event->preeditString(), event->attributes());
        QPlainTextEdit::inputMethodEvent(&withoutCommit);
        event->accept();
        return;
    }
    QPlainTextEdit::inputMethodEvent(event);
}

void BodyEdit::insertFromMimeData(const QMimeData *source) {
    if (!onInsertText || !source || !source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    onInsertText(source->text());
}

ComposeView::ComposeView(AppData &data, ViewHost &host, QWidget *parent)
    : QWidget(parent), m_data(data), m_host(host) {
    setObjectName(QStringLiteral("composeView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *strip = new TitleStrip(QStringLiteral("Compose SMS Message"), this);
    titleLabel = strip->title();
    layout->addWidget(strip);

    toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setIconSize(QSize(MediumImageSize, MediumImageSize));
    sendToOutboxButton = makeToolButton(toolBar, "ToolButton1", QStringLiteral("&Send to Outbox"),
                                        ImageRole::SendToOutbox);
    flashButton = makeToolButton(toolBar, "btnFlash", QStringLiteral("Flash ?"), ImageRole::Flash);
    flashButton->setCheckable(true);
    longButton =
        makeToolButton(toolBar, "btnLong", QStringLiteral("Long ?"), ImageRole::LongMessage);
    longButton->setCheckable(true);
    clearButton = makeToolButton(toolBar, "btnClear", QStringLiteral("&Clear"), ImageRole::Clear);
    toolBar->addWidget(sendToOutboxButton);
    toolBar->addSeparator();
    toolBar->addWidget(flashButton);
    longButton->setToolTip(
        QStringLiteral("Send a text longer than one SMS in parts that the phone joins again"));
    toolBar->addWidget(longButton);
    toolBar->addSeparator();
    toolBar->addWidget(clearButton);
    layout->addWidget(toolBar);

    auto *header = new QWidget(this);
    header->setObjectName(QStringLiteral("headerPanel"));
    auto *grid = new QGridLayout(header);
    grid->setContentsMargins(6, 4, 6, 4);
    toCombo = new RecipientBox(header);
    toCombo->setObjectName(QStringLiteral("toCombo"));
    ccCombo = new RecipientBox(header);
    ccCombo->setObjectName(QStringLiteral("ccCombo"));
    subjectEdit = new QLineEdit(header);
    subjectEdit->setObjectName(QStringLiteral("subjectEdit"));
    const std::pair<const char *, QWidget *> rows[] = {
        {"&To:", toCombo}, {"&Cc:", ccCombo}, {"S&ubject:", subjectEdit}};
    int row = 0;
    for (const auto &[caption, field] : rows) {
        auto *label = new QLabel(QString::fromLatin1(caption), header);
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    }
    grid->setColumnStretch(1, 1);
    layout->addWidget(header);

    auto *counters = new QWidget(this);
    counters->setObjectName(QStringLiteral("counterPanel"));
    auto *counterRow = new QHBoxLayout(counters);
    counterRow->setContentsMargins(6, 2, 6, 4);
    codingField = new QLineEdit(counters);
    codingField->setObjectName(QStringLiteral("codingField"));
    charsLeftField = new QLineEdit(counters);
    charsLeftField->setObjectName(QStringLiteral("charsLeftField"));
    for (QLineEdit *field : {codingField, charsLeftField}) {
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::NoFocus);
    }
    codingField->setMaximumWidth(120);
    charsLeftField->setMaximumWidth(100);
    smsCountLabel = new QLabel(counters);
    smsCountLabel->setObjectName(QStringLiteral("smsCountLabel"));
    ucs2ReasonLabel = new QLabel(counters);
    ucs2ReasonLabel->setObjectName(QStringLiteral("ucs2ReasonLabel"));
    ucs2ReasonLabel->setTextFormat(Qt::PlainText);
    replaceLookalikesAction = new QAction(QStringLiteral("Use GSM characters"), this);
    replaceLookalikesAction->setObjectName(QStringLiteral("replaceLookalikesAction"));
    replaceLookalikesAction->setToolTip(
        QStringLiteral("Replace curly quotes, dashes, the ellipsis, special spaces and bullets "
                       "with GSM characters, so that the message needs fewer SMS"));
    replaceLookalikesButton = new QToolButton(counters);
    replaceLookalikesButton->setObjectName(QStringLiteral("replaceLookalikesButton"));
    replaceLookalikesButton->setDefaultAction(replaceLookalikesAction);
    counterRow->addWidget(new QLabel(QStringLiteral("Encoding :"), counters));
    counterRow->addWidget(codingField);
    counterRow->addSpacing(12);
    counterRow->addWidget(new QLabel(QStringLiteral("Characters :"), counters));
    counterRow->addWidget(charsLeftField);
    counterRow->addWidget(smsCountLabel);
    counterRow->addSpacing(12);
    counterRow->addWidget(ucs2ReasonLabel);
    counterRow->addWidget(replaceLookalikesButton);
    counterRow->addStretch(1);
    layout->addWidget(counters);

    limitLabel = makeInfoLabel(this, "limitLabel");
    limitLabel->setContentsMargins(6, 0, 6, 4);
    setTone(limitLabel, Tone::Error);
    limitLabel->hide();
    layout->addWidget(limitLabel);

    bodyEdit = new BodyEdit(this);
    bodyEdit->setObjectName(QStringLiteral("bodyEdit"));
    bodyEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bodyEdit->onInsertText = [this](const QString &text) { insertIntoBody(text); };
    bodyEdit->onTyping = [this](const QString &text) { return acceptTyping(text); };
    layout->addWidget(bodyEdit, 1);
    buildPersonalPanel(layout);

    connect(subjectEdit, &QLineEdit::textChanged, this, &ComposeView::onComposeChanged);
    connect(bodyEdit, &QPlainTextEdit::textChanged, this, &ComposeView::onComposeChanged);
    connect(longButton, &QToolButton::toggled, this, &ComposeView::onLongToggled);
    connect(toCombo, &QComboBox::editTextChanged, this, &ComposeView::onRecipientsChanged);
    connect(toCombo, &QComboBox::currentIndexChanged, this, &ComposeView::onRecipientsChanged);
    connect(analysisTimer, &QTimer::timeout, this, &ComposeView::runAnalysis);
    connect(previewCombo, &QComboBox::currentIndexChanged, this, &ComposeView::updatePreview);
    connect(previewLongestButton, &QToolButton::clicked, this,
            &ComposeView::onPreviewLongestClicked);
    const auto entryCount = [this](RecipientChoice choice) {
        return choice == RecipientChoice::CheckedContacts ? m_data.contactList->checkedCount()
                                                          : m_data.contactList->count();
    };
    toCombo->entryCount = entryCount;
    ccCombo->entryCount = entryCount;
    connect(clearButton, &QToolButton::clicked, this,
            [this] { runGuarded([this] { onClearClicked(); }); });
    connect(sendToOutboxButton, &QToolButton::clicked, this,
            [this] { runGuarded([this] { onSendToOutboxClicked(); }); });
    connect(replaceLookalikesAction, &QAction::triggered, this,
            [this] { runGuarded([this] { onReplaceLookalikesTriggered(); }); });

    onComposeChanged();
}

ComposeView::~ComposeView() = default;

QString ComposeView::bodyText() const {
    // The document's raw text keeps every character as typed (no-break spaces included) at
    // the positions a text cursor uses; only the break characters are made LF.
    QString text = bodyEdit->document()->toRawText();
    for (QChar &ch : text) {
        if (ch.unicode() == 0x2029 || ch.unicode() == 0x2028)
            ch = QLatin1Char('\n');
    }
    return text;
}

QString ComposeView::composeText() const {
    return ::composeText(subjectEdit->text(), bodyText());
}

void ComposeView::updateCounter() {
    if (m_updating)
        return;
    m_updating = true;
    const QString subject = subjectEdit->text();
    const ComposeCount count = measureCompose(subject, bodyText(), longButton->isChecked());
    codingField->setText(QLatin1StringView(codingName(count.coding)));
    charsLeftField->setText(QStringLiteral("(%1/%2)").arg(count.count).arg(count.limit));
    smsCountLabel->setText(QStringLiteral("%1 SMS").arg(count.parts));
    const bool hasReasons = !count.reasons.characters.isEmpty();
    ucs2ReasonLabel->setText(hasReasons ? ucs2ReasonText(count.reasons) : QString());
    ucs2ReasonLabel->setVisible(hasReasons);
    replaceLookalikesAction->setEnabled(count.reasons.lookalikes);
    replaceLookalikesButton->setVisible(count.reasons.lookalikes);
    const bool full = composeOverflow(count) >= 0;
    setTone(charsLeftField, full ? Tone::Error : Tone::Normal, QPalette::Text);
    // The body never grows past the limit: a text over it has a subject that is too long.
    setTone(subjectEdit, !count.fits && !subject.isEmpty() ? Tone::Error : Tone::Normal,
            QPalette::Text);
    showLimit(count);
    m_updating = false;
}

void ComposeView::showLimit(const ComposeCount &count) {
    const bool isLong = longButton->isChecked();
    QString text = m_notice;
    if (text.isEmpty() && !count.fits)
        text = overLimitText(count, isLong, !subjectEdit->text().isEmpty());
    else if (text.isEmpty() && composeOverflow(count) >= 0)
        text = limitReason(count, isLong);
    if (limitLabel->text() != text)
        limitLabel->setText(text);
    limitLabel->setVisible(!text.isEmpty());
}

bool ComposeView::acceptTyping(const QString &typed) {
    const QString text = normalizeBreaks(typed);
    const QTextCursor cursor = bodyEdit->textCursor();
    const QString subject = subjectEdit->text();
    const bool isLong = longButton->isChecked();
    const QString body = bodyText();
    const QString result =
        body.left(cursor.selectionStart()) + text + body.mid(cursor.selectionEnd());
    const ComposeCount after = measureCompose(subject, result, isLong);
    if (after.fits)
        return true;
    const ComposeCount before = measureCompose(subject, body, isLong);
    if (!before.fits && composeOverflow(after) <= composeOverflow(before))
        return true;
    if (!isLong && after.coding == Coding::Ucs2 && before.coding != Coding::Ucs2) {
        QStringList shown;
        for (char32_t ch : text.toUcs4()) {
            if (detectCoding(QString::fromUcs4(&ch, 1)) != Coding::Gsm7Bit)
                shown << shownCharacter(ch);
        }
        m_notice = QStringLiteral("%1 would make the text UCS-2, where one SMS holds %2 "
                                  "characters; turn on Long for more")
                       .arg(shown.join(QLatin1Char(' ')))
                       .arg(codingLimit(Coding::Ucs2));
    } else {
        m_notice = before.fits ? limitReason(after, isLong)
                               : overLimitText(before, isLong, !subject.isEmpty());
    }
    showLimit(before);
    return false;
}

void ComposeView::buildPersonalPanel(QVBoxLayout *layout) {
    personalPanel = new QWidget(this);
    personalPanel->setObjectName(QStringLiteral("personalPanel"));
    auto *personalColumn = new QVBoxLayout(personalPanel);
    personalColumn->setContentsMargins(6, 4, 6, 4);
    placeholderErrorLabel = makeInfoLabel(personalPanel, "placeholderErrorLabel");
    setTone(placeholderErrorLabel, Tone::Error);
    personalColumn->addWidget(placeholderErrorLabel);

    worstCasePanel = new QWidget(personalPanel);
    worstCasePanel->setObjectName(QStringLiteral("worstCasePanel"));
    auto *worstColumn = new QVBoxLayout(worstCasePanel);
    worstColumn->setContentsMargins(0, 0, 0, 0);
    auto *longestRow = new QHBoxLayout;
    worstCaseLabel = makeInfoLabel(worstCasePanel, "worstCaseLabel");
    previewLongestButton = new QToolButton(worstCasePanel);
    previewLongestButton->setObjectName(QStringLiteral("previewLongestButton"));
    previewLongestButton->setText(QStringLiteral("Preview it"));
    previewLongestButton->setToolTip(QStringLiteral("Show the longest text in the preview"));
    longestRow->addWidget(worstCaseLabel, 1);
    longestRow->addWidget(previewLongestButton);
    worstColumn->addLayout(longestRow);
    partsLabel = makeInfoLabel(worstCasePanel, "partsLabel");
    ucs2NamesLabel = makeInfoLabel(worstCasePanel, "ucs2NamesLabel");
    worstColumn->addWidget(partsLabel);
    worstColumn->addWidget(ucs2NamesLabel);

    previewPanel = new QWidget(worstCasePanel);
    previewPanel->setObjectName(QStringLiteral("previewPanel"));
    auto *previewGrid = new QGridLayout(previewPanel);
    previewGrid->setContentsMargins(0, 2, 0, 0);
    previewCombo = new QComboBox(previewPanel);
    previewCombo->setObjectName(QStringLiteral("previewCombo"));
    m_previewModel = new RecipientPreviewModel(previewCombo);
    previewCombo->setModel(m_previewModel);
    // The combo box must not measure every row to find its width.
    previewCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    previewCombo->setMinimumContentsLength(24);
    if (auto *list = qobject_cast<QListView *>(previewCombo->view()))
        list->setUniformItemSizes(true);
    previewCountLabel = makeInfoLabel(previewPanel, "previewCountLabel");
    previewCountLabel->setWordWrap(false);
    previewSubjectLabel = new QLabel(QStringLiteral("Subject:"), previewPanel);
    previewSubjectLabel->setObjectName(QStringLiteral("previewSubjectLabel"));
    previewSubjectField = new QLineEdit(previewPanel);
    previewSubjectField->setObjectName(QStringLiteral("previewSubjectField"));
    previewSubjectField->setReadOnly(true);
    previewBodyEdit = new QPlainTextEdit(previewPanel);
    previewBodyEdit->setObjectName(QStringLiteral("previewBodyEdit"));
    previewBodyEdit->setReadOnly(true);
    previewBodyEdit->setMaximumHeight(previewBodyEdit->fontMetrics().lineSpacing() * 5 + 12);
    auto *previewForLabel = new QLabel(QStringLiteral("Preview for:"), previewPanel);
    previewForLabel->setBuddy(previewCombo);
    previewGrid->addWidget(previewForLabel, 0, 0);
    auto *chooserRow = new QHBoxLayout;
    chooserRow->addWidget(previewCombo, 1);
    chooserRow->addWidget(previewCountLabel);
    previewGrid->addLayout(chooserRow, 0, 1);
    previewGrid->addWidget(previewSubjectLabel, 1, 0);
    previewGrid->addWidget(previewSubjectField, 1, 1);
    previewGrid->addWidget(previewBodyEdit, 2, 1);
    previewGrid->setColumnStretch(1, 1);
    worstColumn->addWidget(previewPanel);
    personalColumn->addWidget(worstCasePanel);
    layout->addWidget(personalPanel);
    personalPanel->hide();

    analysisTimer = new QTimer(this);
    analysisTimer->setObjectName(QStringLiteral("analysisTimer"));
    analysisTimer->setSingleShot(true);
    analysisTimer->setInterval(AnalysisDelayMs);
}

void ComposeView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    refreshRecipientEntries();
    // The contacts or the country may have changed while the view was hidden.
    onRecipientsChanged();
}

void ComposeView::onRecipientsChanged() {
    m_recipientsStale = true;
    scheduleAnalysis();
}

void ComposeView::onComposeChanged() {
    // A refusal is told until the text changes; a cut paste is told by the change it makes.
    m_notice = m_pendingNotice;
    m_pendingNotice.clear();
    updateCounter();
    updatePersonal();
}

void ComposeView::onLongToggled() {
    m_notice.clear();
    updateCounter();
    // The texts are the same: only what is said about their parts and cuts changes.
    if (m_hasPlaceholders && m_analysis.recipientCount > 0)
        showAnalysis();
    updatePreview();
}

void ComposeView::updatePersonal() {
    const MessageTemplate text = composeTemplate(subjectEdit->text(), bodyText());
    const QStringList &unknown = text.unknownPlaceholders();
    if (!unknown.isEmpty()) {
        placeholderErrorLabel->setText(
            (unknown.size() == 1 ? QStringLiteral("Unknown placeholder: ")
                                 : QStringLiteral("Unknown placeholders: ")) +
            unknown.join(QStringLiteral(", ")) +
            QStringLiteral(". The known ones are {Name}, {FirstName} and {Number}."));
    }
    placeholderErrorLabel->setVisible(!unknown.isEmpty());

    const bool hadPlaceholders = m_hasPlaceholders;
    m_hasPlaceholders = text.hasPlaceholders();
    personalPanel->setVisible(m_hasPlaceholders || !unknown.isEmpty());
    worstCasePanel->setVisible(m_hasPlaceholders);
    if (!m_hasPlaceholders) {
        analysisTimer->stop();
        return;
    }
    if (!hadPlaceholders) {
        // Until the recipients have been looked at, nothing about them is known.
        m_analysis = ComposeAnalysis();
        worstCaseLabel->setText(QStringLiteral("Looking at the recipients..."));
        previewLongestButton->hide();
        partsLabel->hide();
        ucs2NamesLabel->hide();
        previewPanel->setVisible(!m_recipients.isEmpty());
    }
    updatePreview();
    scheduleAnalysis();
}

void ComposeView::scheduleAnalysis() {
    // Restarted by every change: the recipients are looked at once the user pauses.
    if (m_hasPlaceholders)
        analysisTimer->start();
}

QList<Recipient> ComposeView::currentRecipients() const {
    PhoneNumberParser parser(m_data.settings->country());
    const RecipientChoice choice = toCombo->choice();
    return choice != RecipientChoice::Typed
               ? contactRecipients(*m_data.contactList, choice == RecipientChoice::CheckedContacts,
                                   parser)
               : typedRecipients(*m_data.contactList, toCombo->currentText().toLocal8Bit(), parser);
}

void ComposeView::runAnalysis() {
    // A hidden view is looked at again when it is shown.
    if (!m_hasPlaceholders || !isVisible())
        return;
    // While only the text changes the recipients stay: parsing every number again would cost
    // more than the analysis itself. Contacts change in other views, which hide this one, or
    // by an import, which changes their count.
    const int contactCount = m_data.contactList->count();
    if (m_recipientsStale || contactCount != m_recipientsContactCount) {
        m_recipientsStale = false;
        m_recipientsContactCount = contactCount;
        QList<Recipient> recipients = currentRecipients();
        recipients.removeIf(
            [](const Recipient &recipient) { return !recipient.parsed.isUsable(); });
        setPreviewRecipients(recipients);
    }
    m_analysis = analyseCompose(subjectEdit->text(), bodyText(), m_recipients);
    showAnalysis();
    updatePreview();
    Q_EMIT analysisUpdated();
}

void ComposeView::setPreviewRecipients(const QList<Recipient> &recipients) {
    // The preview stays with the recipient it showed, when that one is still there.
    const int shown = previewCombo->currentIndex();
    qsizetype keep = 0;
    if (shown >= 0 && shown < m_recipients.size()) {
        const Recipient &before = m_recipients[shown];
        keep = shown < recipients.size() ? shown : 0;
        for (qsizetype i = 0; i < recipients.size(); ++i) {
            if (recipients[i].typed == before.typed && recipients[i].name == before.name) {
                keep = i;
                break;
            }
        }
    }
    m_recipients = recipients;
    const QSignalBlocker block(previewCombo);
    m_previewModel->setRecipients(m_recipients);
    previewCombo->setCurrentIndex(m_recipients.isEmpty() ? -1 : static_cast<int>(keep));
}

void ComposeView::showAnalysis() {
    const ComposeAnalysis &analysis = m_analysis;
    const bool hasRecipients = analysis.recipientCount > 0;
    previewPanel->setVisible(hasRecipients);
    previewLongestButton->setVisible(hasRecipients);
    if (!hasRecipients) {
        worstCaseLabel->setText(
            QStringLiteral("No recipients: the placeholders are filled for each recipient of To."));
        partsLabel->hide();
        ucs2NamesLabel->hide();
        return;
    }

    const TextSize &longest = analysis.longestSize;
    worstCaseLabel->setText(
        QStringLiteral("%1. Longest text: %2 characters in %3, %4 SMS, for %5.")
            .arg(analysis.recipientCount == 1
                     ? QStringLiteral("1 recipient")
                     : QStringLiteral("%1 recipients").arg(analysis.recipientCount),
                 QString::number(longest.units),
                 QLatin1StringView(codingName(longest.ucs2 ? Coding::Ucs2 : Coding::Gsm7Bit)),
                 QString::number(longest.parts), recipientName(m_recipients[analysis.longest])));

    // What the Long toggle means for these texts: without it every text is one SMS and a
    // longer one loses its end; with it some recipients may pay for more parts than others.
    QStringList lines;
    bool warning = false;
    const bool isLong = longButton->isChecked();
    if (!isLong && !analysis.overOneSms.isEmpty()) {
        warning = true;
        lines << QStringLiteral("For %1 the text needs %2: without Long ? it is cut to one SMS.")
                     .arg(recipientsPhrase(analysis.overOneSms.size(), analysis.recipientCount),
                          partsRange(analysis.overOneSms, analysis.parts));
    }
    if (isLong && !analysis.overLongLimit.isEmpty()) {
        warning = true;
        lines << QStringLiteral("For %1 the text is longer than a long message can be: its end "
                                "is cut off.")
                     .arg(recipientsPhrase(analysis.overLongLimit.size(), analysis.recipientCount));
    }
    if (isLong && !analysis.moreParts.isEmpty()) {
        lines << QStringLiteral("For %1 the text needs %2, for the rest %3 SMS.")
                     .arg(recipientsPhrase(analysis.moreParts.size(), analysis.recipientCount),
                          partsRange(analysis.moreParts, analysis.parts),
                          QString::number(analysis.fewestParts));
    }
    partsLabel->setText(lines.join(QLatin1Char('\n')));
    setTone(partsLabel, warning ? Tone::Warning : Tone::Normal);
    partsLabel->setVisible(!lines.isEmpty());

    if (analysis.textNeedsUcs2)
        ucs2NamesLabel->setText(QStringLiteral("The text itself needs UCS-2."));
    else if (!analysis.ucs2Recipients.isEmpty())
        ucs2NamesLabel->setText(ucs2NamesText(analysis.ucs2Recipients, m_recipients));
    ucs2NamesLabel->setVisible(analysis.textNeedsUcs2 || !analysis.ucs2Recipients.isEmpty());
}

void ComposeView::updatePreview() {
    const int row = previewCombo->currentIndex();
    if (!m_hasPlaceholders || row < 0 || row >= m_recipients.size()) {
        previewSubjectField->clear();
        previewBodyEdit->clear();
        previewCountLabel->clear();
        return;
    }
    const Recipient &recipient = m_recipients[row];
    const QString subject =
        MessageTemplate(subjectEdit->text()).fill(recipient.name, recipient.parsed.number);
    const QString body = MessageTemplate(bodyText()).fill(recipient.name, recipient.parsed.number);
    previewSubjectField->setText(subject);
    previewSubjectLabel->setVisible(!subjectEdit->text().isEmpty());
    previewSubjectField->setVisible(!subjectEdit->text().isEmpty());
    if (previewBodyEdit->toPlainText() != body)
        previewBodyEdit->setPlainText(body);

    const TextSize size = measureText(::composeText(subject, body));
    const Coding coding = size.ucs2 ? Coding::Ucs2 : Coding::Gsm7Bit;
    const bool isLong = longButton->isChecked();
    const int limit = isLong ? LongMessageLimit : codingLimit(coding);
    previewCountLabel->setText(QStringLiteral("%1 (%2/%3) %4 SMS")
                                   .arg(QLatin1StringView(codingName(coding)))
                                   .arg(size.units)
                                   .arg(limit)
                                   .arg(size.parts));
    const bool cut = isLong ? size.overLongLimit : size.parts > 1;
    setTone(previewCountLabel, cut ? Tone::Warning : Tone::Normal);
}

void ComposeView::onPreviewLongestClicked() {
    if (m_analysis.longest >= 0 && m_analysis.longest < m_recipients.size())
        previewCombo->setCurrentIndex(m_analysis.longest);
}

void ComposeView::onReplaceLookalikesTriggered() {
    int replaced = 0;
    const QString subject = replaceGsmLookalikes(subjectEdit->text(), &replaced);
    if (replaced > 0) {
        const QSignalBlocker block(subjectEdit);
        // Through insert, unlike setText, the change can be undone.
        subjectEdit->selectAll();
        subjectEdit->insert(subject);
    }
    const QString body = bodyText();
    {
        const QSignalBlocker block(bodyEdit);
        QTextCursor cursor(bodyEdit->document());
        cursor.beginEditBlock();
        // From the end, so that a longer replacement leaves the positions before it alone.
        for (qsizetype i = body.size() - 1; i >= 0; --i) {
            const QStringView replacement = gsmLookalike(body[i].unicode());
            if (replacement.isEmpty())
                continue;
            cursor.setPosition(static_cast<int>(i));
            cursor.setPosition(static_cast<int>(i + 1), QTextCursor::KeepAnchor);
            cursor.insertText(replacement.toString());
        }
        cursor.endEditBlock();
    }
    onComposeChanged();
}

void ComposeView::insertIntoBody(const QString &pasted) {
    const QString text = normalizeBreaks(pasted);
    QTextCursor cursor = bodyEdit->textCursor();
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    const QString body = bodyText();
    const QString result = body.left(start) + text + body.mid(end);
    const ComposeCount count = countCompose(subjectEdit->text(), result, longButton->isChecked());
    if (count.bodyLength >= result.size()) {
        cursor.insertText(text);
        bodyEdit->setTextCursor(cursor);
        return;
    }
    // Only what stays is inserted, as one edit that Ctrl+Z takes back whole: the counter then
    // finds nothing over the limit, and a huge paste is never laid out. Positions are the
    // document's as it is now, before the paste.
    const QString notice = cutNotice(QStringLiteral("pasted"), longButton->isChecked());
    m_pendingNotice = notice;
    cursor.beginEditBlock();
    if (count.bodyLength <= start) {
        cursor.setPosition(static_cast<int>(count.bodyLength));
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    } else {
        cursor.setPosition(start);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.insertText(result.mid(start, count.bodyLength - start));
    }
    cursor.endEditBlock();
    bodyEdit->moveCursor(QTextCursor::End);
    if (!m_pendingNotice.isEmpty()) {
        // Nothing changed (nothing of the paste fitted): told all the same.
        m_pendingNotice.clear();
        m_notice = notice;
        updateCounter();
    }
}

void ComposeView::setRecipients(const QByteArray &to) {
    toCombo->setTypedText(QString::fromLocal8Bit(to));
}

void ComposeView::setBody(const QString &body) {
    const QString text = normalizeBreaks(body);
    const ComposeCount count = countCompose(subjectEdit->text(), text, longButton->isChecked());
    const bool cut = count.bodyLength < text.size();
    {
        const QSignalBlocker block(bodyEdit);
        // One edit that Ctrl+Z takes back whole, the body before it included.
        QTextCursor cursor(bodyEdit->document());
        cursor.beginEditBlock();
        cursor.select(QTextCursor::Document);
        cursor.insertText(text.left(count.bodyLength));
        cursor.endEditBlock();
    }
    if (cut)
        bodyEdit->moveCursor(QTextCursor::End);
    m_pendingNotice =
        cut ? cutNotice(QStringLiteral("forwarded"), longButton->isChecked()) : QString();
    onComposeChanged();
}

void ComposeView::storeFields() {
    // A chosen entry is stored as its text with the count of now, which older programs read.
    refreshRecipientEntries();
    m_data.compose.to = toCombo->currentText().toLocal8Bit();
    m_data.compose.toChoice = toCombo->choice();
    m_data.compose.cc = ccCombo->currentText().toLocal8Bit();
    m_data.compose.ccChoice = ccCombo->choice();
    m_data.compose.subject = subjectEdit->text();
    m_data.compose.body = bodyText();
}

void ComposeView::loadFields() {
    // A project was opened: its contacts are others.
    m_recipientsStale = true;
    const auto load = [](RecipientBox *box, const QByteArray &text, RecipientChoice choice) {
        if (choice == RecipientChoice::Typed)
            box->setTypedText(QString::fromLocal8Bit(text));
        else
            box->setChoice(choice);
    };
    load(toCombo, m_data.compose.to, m_data.compose.toChoice);
    load(ccCombo, m_data.compose.cc, m_data.compose.ccChoice);
    {
        const QSignalBlocker block(subjectEdit);
        subjectEdit->setText(m_data.compose.subject);
    }
    {
        // Kept whole, also when it is longer than the limit of now: shown in red, never cut.
        const QSignalBlocker block(bodyEdit);
        bodyEdit->setPlainText(normalizeBreaks(m_data.compose.body));
    }
    onComposeChanged();
}

void ComposeView::refreshRecipientEntries() {
    toCombo->refreshEntries();
    ccCombo->refreshEntries();
}

void ComposeView::onClearClicked() {
    toCombo->setTypedText(QString());
    ccCombo->setTypedText(QString());
    {
        const QSignalBlocker block(subjectEdit);
        subjectEdit->clear();
    }
    {
        const QSignalBlocker block(bodyEdit);
        bodyEdit->clear();
    }
    onComposeChanged();
}

void ComposeView::onSendToOutboxClicked() {
    if (composeText().isEmpty())
        return;
    // The encoder would cut a text over the limit: nothing goes without the user's word.
    const bool isLong = longButton->isChecked();
    const ComposeCount count = measureCompose(subjectEdit->text(), bodyText(), isLong);
    if (!count.fits) {
        messageDlg(overLimitText(count, isLong, !subjectEdit->text().isEmpty()) + QLatin1Char('.'),
                   MessageKind::Error, QMessageBox::Ok);
        return;
    }
    // The core fills the placeholders per recipient and turns each number into the one sent.
    const OutboxPlan plan = planOutbox(currentRecipients(), subjectEdit->text(), bodyText());
    if (!plan.unknownPlaceholders.isEmpty()) {
        messageDlg(plan.errorText(false), MessageKind::Error, QMessageBox::Ok);
        return;
    }
    const bool withUnverified = plan.unverifiedCount() > 0 &&
                                messageDlg(plan.unverifiedQuestion(), MessageKind::Confirm,
                                           QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    const QList<Message> messages =
        plan.messages(flashButton->isChecked(), longButton->isChecked(), withUnverified);
    MessagesView *outbox = messages.isEmpty() ? nullptr : m_host.outboxView();
    for (const Message &message : messages)
        outbox->addMessage(message);
    if (const QString error = plan.errorText(withUnverified); !error.isEmpty())
        messageDlg(error, MessageKind::Error, QMessageBox::Ok);
    if (outbox)
        m_host.showView(outbox);
}
