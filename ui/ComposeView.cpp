#include "ui/ComposeForm.h"

#include "app/ComposeOutbox.h"

#include "app/Database.h"
#include "data/OleDate.h"
#include "ui/ComposeCounter.h"
#include "ui/Guarded.h"
#include "ui/Images.h"
#include "ui/MessageForm.h"
#include "ui/TitleStrip.h"
#include "ui/ViewHost.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Line breaks as a text edit stores them: CR LF, CR and LF each become one break.
QString NormalizeBreaks(const QString &text) {
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

// Trim removes every character up to and including the blank: spaces and control characters.

QToolButton *MakeToolButton(QToolBar *bar, const char *name, const QString &text, TImageRole role) {
    auto *button = new QToolButton(bar);
    button->setObjectName(QLatin1StringView(name));
    button->setText(text);
    button->setIcon(RoleIcon(role));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    return button;
}

} // namespace

TRecipientBox::TRecipientBox(QWidget *parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TRecipientBox::showPopup() {
    if (OnDropDown)
        OnDropDown();
    QComboBox::showPopup();
}

TBodyEdit::TBodyEdit(QWidget *parent) : QPlainTextEdit(parent) {}

void TBodyEdit::insertFromMimeData(const QMimeData *source) {
    if (!OnInsertText || !source || !source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    OnInsertText(source->text());
}

TfrmCompose::TfrmCompose(TDataModule1 &data, TViewHost &host, QWidget *parent)
    : QWidget(parent), FData(data), FHost(host) {
    setObjectName(QStringLiteral("frmCompose"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *strip = new TTitleStrip(QStringLiteral("Compose SMS Message"), this);
    Label1 = strip->Title();
    layout->addWidget(strip);

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setIconSize(QSize(MediumImageSize, MediumImageSize));
    ToolButton1 = MakeToolButton(ToolBar1, "ToolButton1", QStringLiteral("&Send to Outbox"),
                                 TImageRole::SendToOutbox);
    btnFlash = MakeToolButton(ToolBar1, "btnFlash", QStringLiteral("Flash ?"), TImageRole::Flash);
    btnFlash->setCheckable(true);
    btnLong =
        MakeToolButton(ToolBar1, "btnLong", QStringLiteral("Long ?"), TImageRole::LongMessage);
    btnLong->setCheckable(true);
    btnClear = MakeToolButton(ToolBar1, "btnClear", QStringLiteral("&Clear"), TImageRole::Clear);
    ToolBar1->addWidget(ToolButton1);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(btnFlash);
    // Nothing shows the Long toggle: messages are never long.
    FLongAction = ToolBar1->addWidget(btnLong);
    FLongAction->setVisible(false);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(btnClear);
    layout->addWidget(ToolBar1);

    auto *header = new QWidget(this);
    header->setObjectName(QStringLiteral("PnlHeader"));
    auto *grid = new QGridLayout(header);
    grid->setContentsMargins(6, 4, 6, 4);
    ComboBox1 = new TRecipientBox(header);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox2 = new TRecipientBox(header);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    Edit1 = new QLineEdit(header);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    const std::pair<const char *, QWidget *> rows[] = {
        {"&To:", ComboBox1}, {"&Cc:", ComboBox2}, {"S&ubject:", Edit1}};
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
    counters->setObjectName(QStringLiteral("PnlCounter"));
    auto *counterRow = new QHBoxLayout(counters);
    counterRow->setContentsMargins(6, 2, 6, 4);
    LblEncode = new QLineEdit(counters);
    LblEncode->setObjectName(QStringLiteral("LblEncode"));
    LblCharLeft = new QLineEdit(counters);
    LblCharLeft->setObjectName(QStringLiteral("LblCharLeft"));
    for (QLineEdit *field : {LblEncode, LblCharLeft}) {
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::NoFocus);
    }
    LblEncode->setMaximumWidth(120);
    LblCharLeft->setMaximumWidth(100);
    counterRow->addWidget(new QLabel(QStringLiteral("Encoding :"), counters));
    counterRow->addWidget(LblEncode);
    counterRow->addSpacing(12);
    counterRow->addWidget(new QLabel(QStringLiteral("Characters :"), counters));
    counterRow->addWidget(LblCharLeft);
    counterRow->addStretch(1);
    layout->addWidget(counters);

    Memo1 = new TBodyEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->OnInsertText = [this](const QString &text) { InsertIntoBody(text); };
    layout->addWidget(Memo1, 1);

    connect(Edit1, &QLineEdit::textChanged, this, &TfrmCompose::UpdateCounter);
    connect(Memo1, &QPlainTextEdit::textChanged, this, &TfrmCompose::UpdateCounter);
    connect(btnLong, &QToolButton::toggled, this, &TfrmCompose::UpdateCounter);
    ComboBox1->OnDropDown = [this] { ComboBoxDropDown(ComboBox1); };
    ComboBox2->OnDropDown = [this] { ComboBoxDropDown(ComboBox2); };
    connect(btnClear, &QToolButton::clicked, this,
            [this] { RunGuarded([this] { btnClearClick(); }); });
    connect(ToolButton1, &QToolButton::clicked, this,
            [this] { RunGuarded([this] { ToolButton1Click(); }); });

    UpdateCounter();
}

TfrmCompose::~TfrmCompose() = default;

QString TfrmCompose::BodyText() const {
    // The document's raw text keeps every character as typed (no-break spaces included) at
    // the positions a text cursor uses; only the break characters are made LF.
    QString text = Memo1->document()->toRawText();
    for (QChar &ch : text) {
        if (ch.unicode() == 0x2029 || ch.unicode() == 0x2028)
            ch = QLatin1Char('\n');
    }
    return text;
}

QString TfrmCompose::ComposeText() const {
    return ::ComposeText(Edit1->text(), BodyText());
}

void TfrmCompose::UpdateCounter() {
    if (FUpdating)
        return;
    FUpdating = true;
    const QString body = BodyText();
    const TComposeCount count = CountCompose(Edit1->text(), body, btnLong->isChecked());
    if (count.BodyLength < body.size()) {
        const QSignalBlocker block(Memo1);
        QTextCursor cursor(Memo1->document());
        cursor.setPosition(static_cast<int>(count.BodyLength));
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        Memo1->moveCursor(QTextCursor::End);
    }
    LblEncode->setText(QLatin1StringView(CodingName[count.Coding]));
    LblCharLeft->setText(QStringLiteral("(%1/%2)").arg(count.Count).arg(count.Limit));
    FUpdating = false;
}

void TfrmCompose::InsertIntoBody(const QString &pasted) {
    const QString text = NormalizeBreaks(pasted);
    QTextCursor cursor = Memo1->textCursor();
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    const QString body = BodyText();
    const QString result = body.left(start) + text + body.mid(end);
    const TComposeCount count = CountCompose(Edit1->text(), result, btnLong->isChecked());
    if (count.BodyLength >= result.size()) {
        cursor.insertText(text);
        Memo1->setTextCursor(cursor);
        return;
    }
    // Only what stays is inserted, as one edit: the counter then finds nothing to cut, and a
    // huge paste is never laid out.
    cursor.beginEditBlock();
    if (count.BodyLength <= start) {
        cursor.setPosition(static_cast<int>(count.BodyLength));
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    } else {
        cursor.setPosition(start);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.insertText(result.mid(start, count.BodyLength - start));
    }
    cursor.endEditBlock();
    Memo1->moveCursor(QTextCursor::End);
}

void TfrmCompose::SetRecipients(const QByteArray &to) {
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString::fromLocal8Bit(to));
}

void TfrmCompose::SetBody(const QString &body) {
    const QString text = NormalizeBreaks(body);
    const TComposeCount count = CountCompose(Edit1->text(), text, btnLong->isChecked());
    {
        const QSignalBlocker block(Memo1);
        Memo1->setPlainText(text.left(count.BodyLength));
    }
    if (count.BodyLength < text.size())
        Memo1->moveCursor(QTextCursor::End);
    UpdateCounter();
}

void TfrmCompose::StoreFields() {
    FData.Compose.To = ComboBox1->currentText().toLocal8Bit();
    FData.Compose.Cc = ComboBox2->currentText().toLocal8Bit();
    FData.Compose.Subject = Edit1->text();
    FData.Compose.Body = BodyText();
}

void TfrmCompose::LoadFields() {
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString::fromLocal8Bit(FData.Compose.To));
    ComboBox2->setCurrentIndex(-1);
    ComboBox2->setEditText(QString::fromLocal8Bit(FData.Compose.Cc));
    {
        const QSignalBlocker block(Edit1);
        Edit1->setText(FData.Compose.Subject);
    }
    SetBody(FData.Compose.Body);
}

int TfrmCompose::SelectedEntry(const QComboBox *box) {
    const int index = box->currentIndex();
    if (box->count() != 2 || index < 0 || index > 1)
        return -1;
    // Typing into the box keeps the index of the entry chosen before: only the entry's own
    // text counts as choosing it.
    return box->currentText() == box->itemText(index) ? index : -1;
}

void TfrmCompose::ComboBoxDropDown(QComboBox *box) {
    const int chosen = SelectedEntry(box);
    const QString typed = box->currentText();
    const QSignalBlocker block(box);
    if (box->count() != 2) {
        box->clear();
        box->addItem(QString());
        box->addItem(QString());
    }
    box->setItemText(0, QStringLiteral("All contacts (%1)").arg(FData.ContactList->Count()));
    box->setItemText(
        1, QStringLiteral("Checked contacts (%1)").arg(FData.ContactList->CheckedCount()));
    if (chosen >= 0) {
        box->setCurrentIndex(chosen);
        box->setEditText(box->itemText(chosen));
    } else {
        box->setCurrentIndex(-1);
        box->setEditText(typed);
    }
}

void TfrmCompose::btnClearClick() {
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->clearEditText();
    ComboBox2->setCurrentIndex(-1);
    ComboBox2->clearEditText();
    {
        const QSignalBlocker block(Edit1);
        Edit1->clear();
    }
    {
        const QSignalBlocker block(Memo1);
        Memo1->clear();
    }
    UpdateCounter();
}

QList<QByteArray> TfrmCompose::Recipients() const {
    const int entry = SelectedEntry(ComboBox1);
    if (entry >= 0)
        return ContactNumbers(*FData.ContactList, entry == 1);
    return SplitRecipients(ComboBox1->currentText().toLocal8Bit());
}

void TfrmCompose::ToolButton1Click() {
    const QString text = ComposeText();
    if (text.isEmpty())
        return;
    const QList<QByteArray> recipients = Recipients();
    TfrmMessage *outbox = nullptr;
    int added = 0;
    for (const QByteArray &number : recipients) {
        if (IsBlankRecipient(number))
            continue;
        TMessage message;
        message.Number = number;
        message.Text = text;
        message.Flash = btnFlash->isChecked() ? 1 : 0;
        message.Long = btnLong->isChecked() ? 1 : 0;
        message.Created = OleNow();
        message.Sent = 0;
        message.Status = msPending;
        if (!outbox)
            outbox = FHost.OutboxView();
        outbox->AddMessage(message);
        ++added;
    }
    if (added > 0)
        FHost.ShowView(outbox);
}
