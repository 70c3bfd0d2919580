// The compose view on real widgets: the coding and counter while typing, pasting and
// forwarding, the recipients of Send to Outbox, Clear, and the project fields.

#include "app/Database.h"
#include "data/MessageUnit.h"
#include "sms/GsmSmsUnit.h"
#include "support/ViewTestHost.h"
#include "ui/ComposeCounter.h"
#include "ui/ComposeForm.h"
#include "ui/MessageForm.h"
#include "ui/MessageModel.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

// The counter as a person would do it by hand: cut the last character of the body and count
// again, the coding chosen anew each time, until the text fits or the body is empty.
struct TReference {
    QString Body;
    TCoding Coding;
    int Count;
    int Limit;
};

TReference ReferenceCut(const QString &subject, QString body, bool longMessage = false) {
    for (;;) {
        const QString text = subject.isEmpty() ? body : subject + QLatin1Char(':') + body;
        const TCoding coding = DetectCoding(text);
        const int limit = longMessage ? 1000 : CodingLimit[coding];
        const int count = CountUnits(text, coding);
        if (count <= limit || body.isEmpty())
            return {body, coding, count, limit};
        body.chop(1);
    }
}

void TypeText(QWidget *widget, const QString &text) {
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &release);
    }
}

QString Repeat(QChar ch, int count) {
    return QString(count, ch);
}

struct TFixture {
    TFixture() {
        Data = std::make_unique<TDataModule1>(Dir.filePath(QStringLiteral("pelorvane.ini")));
        Host = std::make_unique<TViewTestHost>(*Data);
        Compose = Host->ComposeView();
        Host->Pane->show();
        Compose->show();
    }

    QString Counter() const { return Compose->LblCharLeft->text(); }
    QString Encoding() const { return Compose->LblEncode->text(); }
    QString Body() const { return Compose->BodyText(); }

    void AddContact(const QByteArray &number, bool checked) {
        TContact contact;
        contact.Name = QString::fromLatin1("Name " + number);
        contact.Number = number;
        contact.Checked = checked ? 1 : 0;
        Data->ContactList->Add(contact);
    }

    QList<QByteArray> OutboxNumbers() const {
        QList<QByteArray> numbers;
        for (int i = 0; i < Data->OutboxList->Count(); ++i)
            numbers << Data->OutboxList->Get(i).Number;
        return numbers;
    }

    void ChooseEntry(QComboBox *box, int entry) {
        box->showPopup();
        box->hidePopup();
        box->setCurrentIndex(entry);
    }

    QTemporaryDir Dir;
    std::unique_ptr<TDataModule1> Data;
    std::unique_ptr<TViewTestHost> Host;
    TfrmCompose *Compose = nullptr;
};

} // namespace

class TestUiCompose : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void startsEmptyAsGsm();
    void typing161stGsmCharacterIsRemoved();
    void typingCjkAtEndOfHundredGsm();
    void typingCjkAtStartCutsToSeventy();
    void subjectAndBodyAreJoinedWithColon();
    void euroCountsTwo();
    void eightBitText();
    void subjectAloneOverTheLimit();
    void subjectChangeCutsBody();
    void cutRaisesNoNestedNotification();
    void forwardOf200Characters();
    void setBodyMatchesReferenceLoop_data();
    void setBodyMatchesReferenceLoop();
    void pasteMatchesReferenceLoop_data();
    void pasteMatchesReferenceLoop();
    void pasteKeepsRestWhenItFits();
    void pasteOverSelectionAndInMiddle();
    void pasteOfOneMegabyte();
    void surrogatePairIsNotSplit();
    void lineBreaksAndNoBreakSpace();

    void toTextRecipients_data();
    void toTextRecipients();
    void allAndCheckedContacts();
    void checkedContactsZeroAddsNothing();
    void typedTextAfterChoosingEntryIsTyped();
    void dropDownKeepsTwoEntries();
    void emptyComposeTextAddsNothing();
    void flashToggleAndMessageFields();
    void sendWithOverlongSubject();
    void clearEmptiesFieldsKeepsToggles();
    void fieldsRoundTripThroughDataModule();
};

void TestUiCompose::initTestCase() {
    Q_INIT_RESOURCE(resources);
}

void TestUiCompose::startsEmptyAsGsm() {
    TFixture f;
    QCOMPARE(f.Encoding(), QStringLiteral("GSM 7 bit"));
    QCOMPARE(f.Counter(), QStringLiteral("(0/160)"));
    QVERIFY(f.Compose->btnLong->isHidden() || !f.Compose->btnLong->isVisible());
    QVERIFY(!f.Compose->btnLong->isChecked());
}

void TestUiCompose::typing161stGsmCharacterIsRemoved() {
    TFixture f;
    f.Compose->Memo1->setFocus();
    TypeText(f.Compose->Memo1, Repeat(QLatin1Char('a'), 160));
    QCOMPARE(f.Counter(), QStringLiteral("(160/160)"));
    TypeText(f.Compose->Memo1, QStringLiteral("b"));
    QCOMPARE(f.Body(), Repeat(QLatin1Char('a'), 160));
    QCOMPARE(f.Counter(), QStringLiteral("(160/160)"));
    QCOMPARE(f.Compose->Memo1->textCursor().position(), 160);
}

void TestUiCompose::typingCjkAtEndOfHundredGsm() {
    TFixture f;
    TypeText(f.Compose->Memo1, Repeat(QLatin1Char('x'), 100));
    TypeText(f.Compose->Memo1, QString(QChar(0x4E2D)));
    QCOMPARE(f.Body(), Repeat(QLatin1Char('x'), 100));
    QCOMPARE(f.Encoding(), QStringLiteral("GSM 7 bit"));
    QCOMPARE(f.Counter(), QStringLiteral("(100/160)"));
}

void TestUiCompose::typingCjkAtStartCutsToSeventy() {
    TFixture f;
    TypeText(f.Compose->Memo1, Repeat(QLatin1Char('x'), 100));
    f.Compose->Memo1->moveCursor(QTextCursor::Start);
    TypeText(f.Compose->Memo1, QString(QChar(0x4E2D)));
    QCOMPARE(f.Body(), QString(QChar(0x4E2D)) + Repeat(QLatin1Char('x'), 69));
    QCOMPARE(f.Encoding(), QStringLiteral("UCS2 (16bit)"));
    QCOMPARE(f.Counter(), QStringLiteral("(70/70)"));
    // The body was cut: the caret goes to its end.
    QCOMPARE(f.Compose->Memo1->textCursor().position(), 70);
}

void TestUiCompose::subjectAndBodyAreJoinedWithColon() {
    TFixture f;
    f.Compose->Edit1->setText(QStringLiteral("Hi"));
    f.Compose->SetBody(QStringLiteral("there"));
    QCOMPARE(f.Compose->ComposeText(), QStringLiteral("Hi:there"));
    QCOMPARE(f.Counter(), QStringLiteral("(8/160)"));
    f.Compose->SetRecipients("123");
    f.Compose->ToolButton1->click();
    QCOMPARE(f.Data->OutboxList->Count(), 1);
    QCOMPARE(f.Data->OutboxList->Get(0).Text, QStringLiteral("Hi:there"));
}

void TestUiCompose::euroCountsTwo() {
    TFixture f;
    TypeText(f.Compose->Memo1, QString(QChar(0x20AC)));
    QCOMPARE(f.Encoding(), QStringLiteral("GSM 7 bit"));
    QCOMPARE(f.Counter(), QStringLiteral("(2/160)"));
    // 79 euros use 158 septets; the 80th fits exactly, the 81st is cut.
    f.Compose->SetBody(Repeat(QChar(0x20AC), 81));
    QCOMPARE(f.Body(), Repeat(QChar(0x20AC), 80));
    QCOMPARE(f.Counter(), QStringLiteral("(160/160)"));
}

void TestUiCompose::eightBitText() {
    TFixture f;
    // U+00A9 is not in the GSM alphabet but fits one octet.
    f.Compose->SetBody(QString(QChar(0xA9)) + Repeat(QLatin1Char('k'), 200));
    QCOMPARE(f.Encoding(), QStringLiteral("8-bit"));
    QCOMPARE(f.Counter(), QStringLiteral("(140/140)"));
    QCOMPARE(f.Body().size(), 140);
}

void TestUiCompose::subjectAloneOverTheLimit() {
    TFixture f;
    f.Compose->SetBody(QStringLiteral("body text"));
    f.Compose->Edit1->setText(Repeat(QLatin1Char('s'), 171));
    QCOMPARE(f.Body(), QString());
    QCOMPARE(f.Counter(), QStringLiteral("(172/160)"));
    QCOMPARE(f.Encoding(), QStringLiteral("GSM 7 bit"));
    // Typing into the body then removes every character at once.
    TypeText(f.Compose->Memo1, QStringLiteral("abc"));
    QCOMPARE(f.Body(), QString());
    QCOMPARE(f.Counter(), QStringLiteral("(172/160)"));
}

void TestUiCompose::subjectChangeCutsBody() {
    TFixture f;
    f.Compose->SetBody(Repeat(QLatin1Char('b'), 160));
    f.Compose->Edit1->setText(QStringLiteral("Subject"));
    // "Subject:" takes 8 septets.
    QCOMPARE(f.Body(), Repeat(QLatin1Char('b'), 152));
    QCOMPARE(f.Counter(), QStringLiteral("(160/160)"));
    // A UCS-2 subject takes the body down to what fits 70 characters.
    f.Compose->Edit1->setText(QString(QChar(0x4E2D)));
    QCOMPARE(f.Body(), Repeat(QLatin1Char('b'), 68));
    QCOMPARE(f.Counter(), QStringLiteral("(70/70)"));
}

void TestUiCompose::cutRaisesNoNestedNotification() {
    TFixture f;
    f.Compose->SetBody(Repeat(QLatin1Char('a'), 160));
    QSignalSpy changes(f.Compose->Memo1, &QPlainTextEdit::textChanged);
    TypeText(f.Compose->Memo1, QStringLiteral("z"));
    // The typed character notifies once; removing it again does not notify.
    QCOMPARE(changes.count(), 1);
    QCOMPARE(f.Body().size(), 160);
}

void TestUiCompose::forwardOf200Characters() {
    TFixture f;
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QChar(u'A' + i % 26);
    f.Compose->SetBody(text);
    QCOMPARE(f.Body(), text.left(160));
    QCOMPARE(f.Counter(), QStringLiteral("(160/160)"));
}

void TestUiCompose::setBodyMatchesReferenceLoop_data() {
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("longMessage");
    const QString gsm200 = Repeat(QLatin1Char('g'), 200);
    QTest::newRow("short GSM") << QString() << QStringLiteral("hello") << false;
    QTest::newRow("GSM over limit") << QString() << gsm200 << false;
    QTest::newRow("extension chars over limit")
        << QString() << Repeat(QLatin1Char('{'), 90) << false;
    QTest::newRow("UCS-2 char at the end of GSM")
        << QString() << Repeat(QLatin1Char('x'), 150) + QChar(0x4E2D) << false;
    QTest::newRow("8-bit char deep inside")
        << QString() << Repeat(QLatin1Char('{'), 100) + QChar(0xA9) + gsm200 << false;
    QTest::newRow("subject with UCS-2") << QString(QChar(0x4E2D)) << gsm200 << false;
    QTest::newRow("subject 8-bit") << QString(QChar(0xE7)) + QStringLiteral("x") << gsm200 << false;
    QTest::newRow("long toggle") << QString() << Repeat(QLatin1Char('q'), 1200) << true;
    QTest::newRow("long toggle UCS-2") << QString() << Repeat(QChar(0x4E2D), 1200) << true;

    // Random texts over the three alphabets and the extension table.
    const QChar pool[] = {u'a',      u'Z',      u'0',      u' ',      u'{',  u'\u20AC',
                          u'\u00A9', u'\u00E7', u'\u4E2D', u'\u0394', u'\n', u'^'};
    QRandomGenerator random(4711);
    for (int i = 0; i < 40; ++i) {
        QString body;
        const int length = random.bounded(0, 400);
        for (int j = 0; j < length; ++j)
            body += pool[random.bounded(int(std::size(pool)))];
        QString subject;
        const int subjectLength = random.bounded(0, 4) == 0 ? random.bounded(0, 30) : 0;
        for (int j = 0; j < subjectLength; ++j)
            subject += pool[random.bounded(int(std::size(pool)) - 1)];
        QTest::addRow("random %d", i) << subject << body << (random.bounded(0, 8) == 0);
    }
}

void TestUiCompose::setBodyMatchesReferenceLoop() {
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(bool, longMessage);
    TFixture f;
    f.Compose->btnLong->setChecked(longMessage);
    f.Compose->Edit1->setText(subject);
    f.Compose->SetBody(body);
    const TReference expected = ReferenceCut(subject, body, longMessage);
    QCOMPARE(f.Body(), expected.Body);
    QCOMPARE(f.Encoding(), QLatin1StringView(CodingName[expected.Coding]));
    QCOMPARE(f.Counter(), QStringLiteral("(%1/%2)").arg(expected.Count).arg(expected.Limit));
}

void TestUiCompose::pasteMatchesReferenceLoop_data() {
    setBodyMatchesReferenceLoop_data();
}

void TestUiCompose::pasteMatchesReferenceLoop() {
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(bool, longMessage);
    TFixture f;
    f.Compose->btnLong->setChecked(longMessage);
    f.Compose->Edit1->setText(subject);
    f.Compose->SetBody(QStringLiteral("ab"));
    f.Compose->Memo1->moveCursor(QTextCursor::End);
    QApplication::clipboard()->setText(body);
    f.Compose->Memo1->paste();
    const TReference expected = ReferenceCut(subject, QStringLiteral("ab") + body, longMessage);
    QCOMPARE(f.Body(), expected.Body);
    QCOMPARE(f.Counter(), QStringLiteral("(%1/%2)").arg(expected.Count).arg(expected.Limit));
}

void TestUiCompose::pasteKeepsRestWhenItFits() {
    TFixture f;
    f.Compose->SetBody(QStringLiteral("HEADTAIL"));
    QTextCursor cursor = f.Compose->Memo1->textCursor();
    cursor.setPosition(4);
    f.Compose->Memo1->setTextCursor(cursor);
    QApplication::clipboard()->setText(QStringLiteral("--"));
    f.Compose->Memo1->paste();
    QCOMPARE(f.Body(), QStringLiteral("HEAD--TAIL"));
    QCOMPARE(f.Compose->Memo1->textCursor().position(), 6);
    QCOMPARE(f.Counter(), QStringLiteral("(10/160)"));
}

void TestUiCompose::pasteOverSelectionAndInMiddle() {
    TFixture f;
    const QString start = Repeat(QLatin1Char('a'), 50) + Repeat(QLatin1Char('b'), 50);
    f.Compose->SetBody(start);
    QTextCursor cursor = f.Compose->Memo1->textCursor();
    cursor.setPosition(40);
    cursor.setPosition(60, QTextCursor::KeepAnchor);
    f.Compose->Memo1->setTextCursor(cursor);
    // Replacing 20 characters with 100 gives 180: the end of the old text and of the paste go.
    const QString pasted = Repeat(QLatin1Char('P'), 100);
    QApplication::clipboard()->setText(pasted);
    f.Compose->Memo1->paste();
    const QString whole = start.left(40) + pasted + start.mid(60);
    QCOMPARE(f.Body(), whole.left(160));
    // A UCS-2 paste in the middle of a GSM text.
    f.Compose->SetBody(start);
    cursor = f.Compose->Memo1->textCursor();
    cursor.setPosition(10);
    f.Compose->Memo1->setTextCursor(cursor);
    QApplication::clipboard()->setText(QString(QChar(0x4E2D)));
    f.Compose->Memo1->paste();
    const TReference expected =
        ReferenceCut(QString(), start.left(10) + QChar(0x4E2D) + start.mid(10));
    QCOMPARE(f.Body(), expected.Body);
    QCOMPARE(f.Body().size(), 70);
}

void TestUiCompose::pasteOfOneMegabyte() {
    TFixture f;
    QString big;
    big.reserve(1 << 20);
    for (int i = 0; i < (1 << 20); ++i)
        big += QChar(u'a' + i % 26);
    QApplication::clipboard()->setText(big);
    QSignalSpy changes(f.Compose->Memo1, &QPlainTextEdit::textChanged);
    QElapsedTimer timer;
    timer.start();
    f.Compose->Memo1->paste();
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(f.Body(), big.left(160));
    QCOMPARE(f.Counter(), QStringLiteral("(160/160)"));
    QCOMPARE(changes.count(), 1);
    // The limit is for optimised builds; sanitizer builds get ample room.
    QVERIFY2(elapsed < 500, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
}

void TestUiCompose::surrogatePairIsNotSplit() {
    TFixture f;
    const QString pair = QString::fromUcs4(U"\U0001F600");
    // 69 CJK characters and a pair: 71 code units; the whole pair goes.
    f.Compose->SetBody(Repeat(QChar(0x4E2D), 69) + pair);
    QCOMPARE(f.Body(), Repeat(QChar(0x4E2D), 69));
    QCOMPARE(f.Counter(), QStringLiteral("(69/70)"));
    f.Compose->SetBody(Repeat(QChar(0x4E2D), 68) + pair);
    QCOMPARE(f.Body(), Repeat(QChar(0x4E2D), 68) + pair);
    QCOMPARE(f.Counter(), QStringLiteral("(70/70)"));
}

void TestUiCompose::lineBreaksAndNoBreakSpace() {
    TFixture f;
    f.Compose->SetBody(QStringLiteral("one\r\ntwo\rthree\nfour") + QChar(0xA0));
    QCOMPARE(f.Body(), QStringLiteral("one\ntwo\nthree\nfour") + QChar(0xA0));
    // A no-break space is not GSM: 8-bit, one octet each.
    QCOMPARE(f.Encoding(), QStringLiteral("8-bit"));
    QCOMPARE(f.Counter(), QStringLiteral("(19/140)"));
}

void TestUiCompose::toTextRecipients_data() {
    QTest::addColumn<QString>("to");
    QTest::addColumn<QList<QByteArray>>("numbers");
    QTest::newRow("blank entry skipped")
        << QStringLiteral("111;222; ;333") << QList<QByteArray>{"111", "222", "333"};
    QTest::newRow("leading blank kept")
        << QStringLiteral("111; 222") << QList<QByteArray>{"111", " 222"};
    QTest::newRow("trailing separator")
        << QStringLiteral("+4912;0171-5;") << QList<QByteArray>{"+4912", "0171-5"};
    QTest::newRow("only separators") << QStringLiteral(";;; ;") << QList<QByteArray>{};
    QTest::newRow("single") << QStringLiteral("5550100") << QList<QByteArray>{"5550100"};
    QTest::newRow("tab and trailing blank") << QStringLiteral("\t;12 ") << QList<QByteArray>{"12 "};
}

void TestUiCompose::toTextRecipients() {
    QFETCH(QString, to);
    QFETCH(QList<QByteArray>, numbers);
    TFixture f;
    f.Compose->SetBody(QStringLiteral("text"));
    f.Compose->ComboBox1->setEditText(to);
    f.Compose->ToolButton1->click();
    QCOMPARE(f.OutboxNumbers(), numbers);
    if (numbers.isEmpty()) {
        QVERIFY(f.Host->Shown.isEmpty());
    } else {
        QCOMPARE(f.Host->LastShown(), static_cast<QWidget *>(f.Host->OutboxView()));
        const TMessage first = f.Data->OutboxList->Get(0);
        QCOMPARE(first.Status, msPending);
        QCOMPARE(first.Sent, 0.0);
        QVERIFY(first.Created > 0);
        QCOMPARE(first.Text, QStringLiteral("text"));
        QCOMPARE(f.Host->OutboxView()->Model()->rowCount(), numbers.size());
    }
    // The compose fields keep their contents.
    QCOMPARE(f.Compose->ComboBox1->currentText(), to);
    QCOMPARE(f.Body(), QStringLiteral("text"));
}

void TestUiCompose::allAndCheckedContacts() {
    TFixture f;
    f.AddContact("100", true);
    f.AddContact("200", false);
    f.AddContact("300", true);
    f.Compose->SetBody(QStringLiteral("hello"));
    f.Compose->ComboBox1->showPopup();
    f.Compose->ComboBox1->hidePopup();
    QCOMPARE(f.Compose->ComboBox1->count(), 2);
    QCOMPARE(f.Compose->ComboBox1->itemText(0), QStringLiteral("All contacts (3)"));
    QCOMPARE(f.Compose->ComboBox1->itemText(1), QStringLiteral("Checked contacts (2)"));

    f.Compose->ComboBox1->setCurrentIndex(0);
    f.Compose->ToolButton1->click();
    QCOMPARE(f.OutboxNumbers(), (QList<QByteArray>{"100", "200", "300"}));

    f.Data->OutboxList->Clear();
    f.Compose->ComboBox1->setCurrentIndex(1);
    f.Compose->ToolButton1->click();
    QCOMPARE(f.OutboxNumbers(), (QList<QByteArray>{"100", "300"}));
}

void TestUiCompose::checkedContactsZeroAddsNothing() {
    TFixture f;
    f.AddContact("100", false);
    f.Compose->SetBody(QStringLiteral("hello"));
    f.ChooseEntry(f.Compose->ComboBox1, 1);
    QCOMPARE(f.Compose->ComboBox1->currentText(), QStringLiteral("Checked contacts (0)"));
    f.Compose->ToolButton1->click();
    QCOMPARE(f.Data->OutboxList->Count(), 0);
    QVERIFY(f.Host->Shown.isEmpty());
}

void TestUiCompose::typedTextAfterChoosingEntryIsTyped() {
    TFixture f;
    f.AddContact("100", true);
    f.Compose->SetBody(QStringLiteral("hello"));
    f.ChooseEntry(f.Compose->ComboBox1, 0);
    // Typing over the chosen entry makes the text a typed recipient list.
    f.Compose->ComboBox1->setEditText(QStringLiteral("777"));
    f.Compose->ToolButton1->click();
    QCOMPARE(f.OutboxNumbers(), QList<QByteArray>{"777"});
}

void TestUiCompose::dropDownKeepsTwoEntries() {
    TFixture f;
    f.Compose->ComboBox2->addItem(QStringLiteral("stray"));
    f.Compose->ComboBox2->setEditText(QStringLiteral("typed cc"));
    f.Compose->ComboBox2->showPopup();
    f.Compose->ComboBox2->hidePopup();
    QCOMPARE(f.Compose->ComboBox2->count(), 2);
    QCOMPARE(f.Compose->ComboBox2->currentText(), QStringLiteral("typed cc"));
    f.AddContact("1", true);
    f.ChooseEntry(f.Compose->ComboBox2, 0);
    f.AddContact("2", true);
    f.Compose->ComboBox2->showPopup();
    f.Compose->ComboBox2->hidePopup();
    // The chosen entry follows the new count.
    QCOMPARE(f.Compose->ComboBox2->currentText(), QStringLiteral("All contacts (2)"));
}

void TestUiCompose::emptyComposeTextAddsNothing() {
    TFixture f;
    f.Compose->ComboBox1->setEditText(QStringLiteral("111"));
    f.Compose->ToolButton1->click();
    QCOMPARE(f.Data->OutboxList->Count(), 0);
    QVERIFY(f.Host->Shown.isEmpty());
    QVERIFY(!f.Data->Modified);
}

void TestUiCompose::flashToggleAndMessageFields() {
    TFixture f;
    f.Compose->SetBody(QStringLiteral("flash me"));
    f.Compose->SetRecipients("42");
    f.Compose->btnFlash->click();
    QVERIFY(f.Compose->btnFlash->isChecked());
    f.Compose->ToolButton1->click();
    const TMessage message = f.Data->OutboxList->Get(0);
    QCOMPARE(message.Flash, quint8(1));
    QCOMPARE(message.Long, quint8(0));
    QVERIFY(f.Data->Modified);
}

void TestUiCompose::sendWithOverlongSubject() {
    TFixture f;
    const QString subject = Repeat(QLatin1Char('s'), 171);
    f.Compose->Edit1->setText(subject);
    f.Compose->SetRecipients("42");
    f.Compose->ToolButton1->click();
    QCOMPARE(f.Data->OutboxList->Count(), 1);
    QCOMPARE(f.Data->OutboxList->Get(0).Text, subject + QLatin1Char(':'));
}

void TestUiCompose::clearEmptiesFieldsKeepsToggles() {
    TFixture f;
    f.Compose->SetRecipients("1;2");
    f.Compose->ComboBox2->setEditText(QStringLiteral("cc"));
    f.Compose->Edit1->setText(QString(QChar(0x4E2D)));
    f.Compose->SetBody(QStringLiteral("body"));
    f.Compose->btnFlash->setChecked(true);
    QCOMPARE(f.Encoding(), QStringLiteral("UCS2 (16bit)"));
    f.Compose->btnClear->click();
    QCOMPARE(f.Compose->ComboBox1->currentText(), QString());
    QCOMPARE(f.Compose->ComboBox2->currentText(), QString());
    QCOMPARE(f.Compose->Edit1->text(), QString());
    QCOMPARE(f.Body(), QString());
    QCOMPARE(f.Encoding(), QStringLiteral("GSM 7 bit"));
    QCOMPARE(f.Counter(), QStringLiteral("(0/160)"));
    QVERIFY(f.Compose->btnFlash->isChecked());
}

void TestUiCompose::fieldsRoundTripThroughDataModule() {
    TFixture f;
    f.Compose->SetRecipients("111;222");
    f.Compose->ComboBox2->setEditText(QStringLiteral("333"));
    f.Compose->Edit1->setText(QStringLiteral("Subj"));
    f.Compose->SetBody(QStringLiteral("line one\nline two"));
    f.Compose->StoreFields();
    QCOMPARE(f.Data->Compose.To, QByteArray("111;222"));
    QCOMPARE(f.Data->Compose.Cc, QByteArray("333"));
    QCOMPARE(f.Data->Compose.Subject, QStringLiteral("Subj"));
    QCOMPARE(f.Data->Compose.Body, QStringLiteral("line one\nline two"));
    QVERIFY(!f.Data->Modified);

    f.Data->Compose.To = "9";
    f.Data->Compose.Cc = QByteArray();
    f.Data->Compose.Subject = QString();
    f.Data->Compose.Body = Repeat(QLatin1Char('L'), 300);
    f.Compose->LoadFields();
    QCOMPARE(f.Compose->ComboBox1->currentText(), QStringLiteral("9"));
    QCOMPARE(f.Compose->ComboBox2->currentText(), QString());
    QCOMPARE(f.Compose->Edit1->text(), QString());
    QCOMPARE(f.Body(), Repeat(QLatin1Char('L'), 160));
    QCOMPARE(f.Counter(), QStringLiteral("(160/160)"));
}

QTEST_MAIN(TestUiCompose)
#include "tst_ui_compose.moc"
