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

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalBlocker>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
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

// "UCS-2 because of: “ ” …": characters that would not show (spaces, controls) by their code.
QString ucs2ReasonText(const Ucs2Reasons &reasons) {
    QStringList shown;
    for (char32_t ch : reasons.characters) {
        const QString text = QString::fromUcs4(&ch, 1);
        const auto category = QChar::category(ch);
        const bool invisible = QChar::isSpace(ch) || category == QChar::Other_Control ||
                               category == QChar::Other_Format ||
                               category == QChar::Other_Surrogate;
        shown << (invisible
                      ? QStringLiteral("U+%1").arg(uint(ch), 4, 16, QLatin1Char('0')).toUpper()
                      : text);
    }
    QString result = QStringLiteral("UCS-2 because of: ") + shown.join(QLatin1Char(' '));
    if (reasons.more)
        result += QStringLiteral(" and more");
    return result;
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

RecipientBox::RecipientBox(QWidget *parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RecipientBox::showPopup() {
    if (onAboutToShowPopup)
        onAboutToShowPopup();
    QComboBox::showPopup();
}

BodyEdit::BodyEdit(QWidget *parent) : QPlainTextEdit(parent) {}

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

    bodyEdit = new BodyEdit(this);
    bodyEdit->setObjectName(QStringLiteral("bodyEdit"));
    bodyEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bodyEdit->onInsertText = [this](const QString &text) { insertIntoBody(text); };
    layout->addWidget(bodyEdit, 1);

    connect(subjectEdit, &QLineEdit::textChanged, this, &ComposeView::updateCounter);
    connect(bodyEdit, &QPlainTextEdit::textChanged, this, &ComposeView::updateCounter);
    connect(longButton, &QToolButton::toggled, this, &ComposeView::updateCounter);
    toCombo->onAboutToShowPopup = [this] { fillRecipientList(toCombo); };
    ccCombo->onAboutToShowPopup = [this] { fillRecipientList(ccCombo); };
    connect(clearButton, &QToolButton::clicked, this,
            [this] { runGuarded([this] { onClearClicked(); }); });
    connect(sendToOutboxButton, &QToolButton::clicked, this,
            [this] { runGuarded([this] { onSendToOutboxClicked(); }); });
    connect(replaceLookalikesAction, &QAction::triggered, this,
            [this] { runGuarded([this] { onReplaceLookalikesTriggered(); }); });

    updateCounter();
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
    const QString body = bodyText();
    const ComposeCount count = countCompose(subjectEdit->text(), body, longButton->isChecked());
    if (count.bodyLength < body.size()) {
        const QSignalBlocker block(bodyEdit);
        QTextCursor cursor(bodyEdit->document());
        cursor.setPosition(static_cast<int>(count.bodyLength));
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        bodyEdit->moveCursor(QTextCursor::End);
    }
    codingField->setText(QLatin1StringView(codingName(count.coding)));
    charsLeftField->setText(QStringLiteral("(%1/%2)").arg(count.count).arg(count.limit));
    smsCountLabel->setText(QStringLiteral("%1 SMS").arg(count.parts));
    const bool hasReasons = !count.reasons.characters.isEmpty();
    ucs2ReasonLabel->setText(hasReasons ? ucs2ReasonText(count.reasons) : QString());
    ucs2ReasonLabel->setVisible(hasReasons);
    replaceLookalikesAction->setEnabled(count.reasons.lookalikes);
    replaceLookalikesButton->setVisible(count.reasons.lookalikes);
    m_updating = false;
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
    updateCounter();
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
    // Only what stays is inserted, as one edit: the counter then finds nothing to cut, and a
    // huge paste is never laid out.
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
}

void ComposeView::setRecipients(const QByteArray &to) {
    toCombo->setCurrentIndex(-1);
    toCombo->setEditText(QString::fromLocal8Bit(to));
}

void ComposeView::setBody(const QString &body) {
    const QString text = normalizeBreaks(body);
    const ComposeCount count = countCompose(subjectEdit->text(), text, longButton->isChecked());
    {
        const QSignalBlocker block(bodyEdit);
        bodyEdit->setPlainText(text.left(count.bodyLength));
    }
    if (count.bodyLength < text.size())
        bodyEdit->moveCursor(QTextCursor::End);
    updateCounter();
}

void ComposeView::storeFields() {
    m_data.compose.to = toCombo->currentText().toLocal8Bit();
    m_data.compose.cc = ccCombo->currentText().toLocal8Bit();
    m_data.compose.subject = subjectEdit->text();
    m_data.compose.body = bodyText();
}

void ComposeView::loadFields() {
    toCombo->setCurrentIndex(-1);
    toCombo->setEditText(QString::fromLocal8Bit(m_data.compose.to));
    ccCombo->setCurrentIndex(-1);
    ccCombo->setEditText(QString::fromLocal8Bit(m_data.compose.cc));
    {
        const QSignalBlocker block(subjectEdit);
        subjectEdit->setText(m_data.compose.subject);
    }
    setBody(m_data.compose.body);
}

int ComposeView::selectedEntry(const QComboBox *box) {
    const int index = box->currentIndex();
    if (box->count() != 2 || index < 0 || index > 1)
        return -1;
    // Typing into the box keeps the index of the entry chosen before: only the entry's own
    // text counts as choosing it.
    return box->currentText() == box->itemText(index) ? index : -1;
}

void ComposeView::fillRecipientList(QComboBox *box) {
    const int chosen = selectedEntry(box);
    const QString typed = box->currentText();
    const QSignalBlocker block(box);
    if (box->count() != 2) {
        box->clear();
        box->addItem(QString());
        box->addItem(QString());
    }
    box->setItemText(0, QStringLiteral("All contacts (%1)").arg(m_data.contactList->count()));
    box->setItemText(
        1, QStringLiteral("Checked contacts (%1)").arg(m_data.contactList->checkedCount()));
    if (chosen >= 0) {
        box->setCurrentIndex(chosen);
        box->setEditText(box->itemText(chosen));
    } else {
        box->setCurrentIndex(-1);
        box->setEditText(typed);
    }
}

void ComposeView::onClearClicked() {
    toCombo->setCurrentIndex(-1);
    toCombo->clearEditText();
    ccCombo->setCurrentIndex(-1);
    ccCombo->clearEditText();
    {
        const QSignalBlocker block(subjectEdit);
        subjectEdit->clear();
    }
    {
        const QSignalBlocker block(bodyEdit);
        bodyEdit->clear();
    }
    updateCounter();
}

void ComposeView::onSendToOutboxClicked() {
    if (composeText().isEmpty())
        return;
    // The core fills the placeholders per recipient and turns each number into the one sent.
    PhoneNumberParser parser(m_data.settings->country());
    const int entry = selectedEntry(toCombo);
    const QList<Recipient> recipients =
        entry >= 0
            ? contactRecipients(*m_data.contactList, entry == 1, parser)
            : typedRecipients(*m_data.contactList, toCombo->currentText().toLocal8Bit(), parser);
    const OutboxPlan plan = planOutbox(recipients, subjectEdit->text(), bodyText());
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
