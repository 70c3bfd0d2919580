// The compose view on real widgets: the coding and counter while typing, pasting and
// forwarding, the recipients of Send to Outbox, Clear, and the project fields.

#include "app/AppData.h"
#include "app/ComposeFields.h"
#include "base/StreamIO.h"
#include "data/MessageList.h"
#include "sms/SmsSubmit.h"
#include "support/DialogScript.h"
#include "support/ViewTestHost.h"
#include "ui/ComposeCounter.h"
#include "ui/ComposeView.h"
#include "ui/MessageModel.h"
#include "ui/MessagesView.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

// The counter as a person would do it by hand: cut the last character of the body and count
// again, the coding chosen anew each time, until the text fits or the body is empty.
struct Reference {
    QString body;
    Coding coding;
    int count;
    int limit;
};

Reference referenceCut(const QString &subject, QString body, bool longMessage = false) {
    for (;;) {
        const QString text = subject.isEmpty() ? body : subject + QLatin1Char(':') + body;
        const Coding coding = detectCoding(text);
        const int limit = longMessage ? 1000 : codingLimit(coding);
        const int count = countUnits(text, coding);
        if (count <= limit || body.isEmpty())
            return {body, coding, count, limit};
        body.chop(1);
    }
}

void typeText(QWidget *widget, const QString &text) {
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &release);
    }
}

QString repeat(QChar ch, int count) {
    return QString(count, ch);
}

struct Fixture {
    Fixture() {
        data = std::make_unique<AppData>(dir.filePath(QStringLiteral("pelorvane.ini")));
        // National numbers and emergency numbers as in the United States, whatever the locale.
        data->settings->setCountry(QStringLiteral("US"));
        host = std::make_unique<ViewTestHost>(*data);
        compose = host->composeView();
        host->pane->show();
        compose->show();
    }

    QString counter() const { return compose->charsLeftField->text(); }
    QString smsCount() const { return compose->smsCountLabel->text(); }
    // The reason line when shown, else empty.
    QString reasons() const {
        return compose->ucs2ReasonLabel->isVisible() ? compose->ucs2ReasonLabel->text() : QString();
    }
    QString encoding() const { return compose->codingField->text(); }
    // What the view says under the counter, when it is shown.
    QString limitNotice() const {
        return compose->limitLabel->isVisible() ? compose->limitLabel->text() : QString();
    }
    // Whether a field's text or a label is drawn in the view's red.
    static bool isRed(QWidget *widget) {
        const QPalette::ColorRole role =
            qobject_cast<QLineEdit *>(widget) ? QPalette::Text : QPalette::WindowText;
        return widget->palette().color(role) == QColor(0xB0, 0x00, 0x00);
    }
    QString body() const { return compose->bodyText(); }

    void addContact(const QByteArray &number, bool checked) {
        Contact contact;
        contact.name = QString::fromLatin1("Name " + number);
        contact.number = number;
        contact.checked = checked ? 1 : 0;
        data->contactList->add(contact);
    }

    QList<QByteArray> outboxNumbers() const {
        QList<QByteArray> numbers;
        for (int i = 0; i < data->outboxList->count(); ++i)
            numbers << data->outboxList->get(i).number;
        return numbers;
    }

    void chooseEntry(QComboBox *box, int entry) {
        box->showPopup();
        box->hidePopup();
        box->setCurrentIndex(entry);
    }

    // Answers any box Send to Outbox shows, so that a test never waits for a person.
    DialogScript dialogs;
    QTemporaryDir dir;
    std::unique_ptr<AppData> data;
    std::unique_ptr<ViewTestHost> host;
    ComposeView *compose = nullptr;
};

} // namespace

class TestUiCompose : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void startsEmptyAsGsm();
    void typing161stGsmCharacterIsRemoved();
    void typingCjkAtEndOfHundredGsm();
    void typingCjkAtStartIsRefused();
    void subjectAndBodyAreJoinedWithColon();
    void euroCountsTwo();
    void latinLetterGoesAsUcs2();
    void subjectAloneOverTheLimit();
    void subjectChangeKeepsBody();
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
    void longToggleKeepsLongTexts();
    void smsCountOnEveryKeystroke();
    void lookalikesReplacedInOneUndoableStep();
    void reasonsWithoutLookalikes();
    void pasteOfOneMegabyteLong();
    void typingPastTheLimitIsRefused_data();
    void typingPastTheLimitIsRefused();
    void cutPasteIsOneUndoStep();
    void forwardCutIsUndoable();
    void tabMovesFocusCtrlTabTypesTab();

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
    void chosenEntryIsStoredAsChoice();
    void entryTextOfOldFileIsTheChoice_data();
    void entryTextOfOldFileIsTheChoice();
    void entryCountsFollowContacts();
};

void TestUiCompose::initTestCase() {
    Q_INIT_RESOURCE(resources);
}

void TestUiCompose::startsEmptyAsGsm() {
    Fixture f;
    QCOMPARE(f.encoding(), QStringLiteral("GSM 7 bit"));
    QCOMPARE(f.counter(), QStringLiteral("(0/160)"));
    QCOMPARE(f.smsCount(), QStringLiteral("0 SMS"));
    QVERIFY(f.compose->longButton->isVisible());
    QCOMPARE(f.compose->longButton->text(), QStringLiteral("Long ?"));
    QVERIFY(!f.compose->longButton->isChecked());
    QVERIFY(!f.compose->ucs2ReasonLabel->isVisible());
    QVERIFY(!f.compose->replaceLookalikesButton->isVisible());
    // Every widget a test or a style sheet finds goes by its member's name.
    QCOMPARE(f.compose->smsCountLabel->objectName(), QStringLiteral("smsCountLabel"));
    QCOMPARE(f.compose->ucs2ReasonLabel->objectName(), QStringLiteral("ucs2ReasonLabel"));
    QCOMPARE(f.compose->replaceLookalikesButton->objectName(),
             QStringLiteral("replaceLookalikesButton"));
    QCOMPARE(f.compose->replaceLookalikesAction->objectName(),
             QStringLiteral("replaceLookalikesAction"));
}

void TestUiCompose::typing161stGsmCharacterIsRemoved() {
    Fixture f;
    f.compose->bodyEdit->setFocus();
    typeText(f.compose->bodyEdit, repeat(QLatin1Char('a'), 160));
    QCOMPARE(f.counter(), QStringLiteral("(160/160)"));
    typeText(f.compose->bodyEdit, QStringLiteral("b"));
    QCOMPARE(f.body(), repeat(QLatin1Char('a'), 160));
    QCOMPARE(f.counter(), QStringLiteral("(160/160)"));
    QCOMPARE(f.compose->bodyEdit->textCursor().position(), 160);
}

void TestUiCompose::typingCjkAtEndOfHundredGsm() {
    Fixture f;
    typeText(f.compose->bodyEdit, repeat(QLatin1Char('x'), 100));
    typeText(f.compose->bodyEdit, QString(QChar(0x4E2D)));
    QCOMPARE(f.body(), repeat(QLatin1Char('x'), 100));
    QCOMPARE(f.encoding(), QStringLiteral("GSM 7 bit"));
    QCOMPARE(f.counter(), QStringLiteral("(100/160)"));
}

void TestUiCompose::typingCjkAtStartIsRefused() {
    Fixture f;
    typeText(f.compose->bodyEdit, repeat(QLatin1Char('x'), 100));
    f.compose->bodyEdit->moveCursor(QTextCursor::Start);
    typeText(f.compose->bodyEdit, QString(QChar(0x4E2D)));
    // UCS-2 would hold 70 of the 101 characters: nothing is cut, the character is refused.
    QCOMPARE(f.body(), repeat(QLatin1Char('x'), 100));
    QCOMPARE(f.encoding(), QStringLiteral("GSM 7 bit"));
    QCOMPARE(f.counter(), QStringLiteral("(100/160)"));
    QCOMPARE(f.compose->bodyEdit->textCursor().position(), 0);
    QCOMPARE(f.limitNotice(), QStringLiteral(u"\u4E2D would make the text UCS-2, where one SMS "
                                             u"holds 70 characters; turn on Long for more"));
}

void TestUiCompose::subjectAndBodyAreJoinedWithColon() {
    Fixture f;
    f.compose->subjectEdit->setText(QStringLiteral("Hi"));
    f.compose->setBody(QStringLiteral("there"));
    QCOMPARE(f.compose->composeText(), QStringLiteral("Hi:there"));
    QCOMPARE(f.counter(), QStringLiteral("(8/160)"));
    f.compose->setRecipients("123");
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.data->outboxList->count(), 1);
    QCOMPARE(f.data->outboxList->get(0).text, QStringLiteral("Hi:there"));
}

void TestUiCompose::euroCountsTwo() {
    Fixture f;
    typeText(f.compose->bodyEdit, QString(QChar(0x20AC)));
    QCOMPARE(f.encoding(), QStringLiteral("GSM 7 bit"));
    QCOMPARE(f.counter(), QStringLiteral("(2/160)"));
    // 79 euros use 158 septets; the 80th fits exactly, the 81st is cut.
    f.compose->setBody(repeat(QChar(0x20AC), 81));
    QCOMPARE(f.body(), repeat(QChar(0x20AC), 80));
    QCOMPARE(f.counter(), QStringLiteral("(160/160)"));
}

void TestUiCompose::latinLetterGoesAsUcs2() {
    Fixture f;
    // U+00A9 is not in the GSM alphabet: UCS-2, which every phone shows (never 8-bit data).
    f.compose->setBody(QString(QChar(0xA9)) + repeat(QLatin1Char('k'), 200));
    QCOMPARE(f.encoding(), QStringLiteral("UCS2 (16bit)"));
    QCOMPARE(f.counter(), QStringLiteral("(70/70)"));
    QCOMPARE(f.body().size(), 70);
    QCOMPARE(f.reasons(), QStringLiteral(u"UCS-2 because of: \u00A9"));
}

void TestUiCompose::subjectAloneOverTheLimit() {
    Fixture f;
    f.compose->setBody(QStringLiteral("body text"));
    f.compose->subjectEdit->setText(repeat(QLatin1Char('s'), 171));
    // The body stays; the subject and the counter turn red and the view says why.
    QCOMPARE(f.body(), QStringLiteral("body text"));
    QCOMPARE(f.counter(), QStringLiteral("(181/160)"));
    QCOMPARE(f.encoding(), QStringLiteral("GSM 7 bit"));
    QVERIFY(f.isRed(f.compose->subjectEdit));
    QVERIFY(f.isRed(f.compose->charsLeftField));
    QCOMPARE(f.limitNotice(), QStringLiteral("The text does not fit one SMS (181/160): shorten the "
                                             "subject or the text or turn on Long"));
    // Typing into the body makes it no longer: refused. Deleting is not.
    f.compose->bodyEdit->moveCursor(QTextCursor::End);
    typeText(f.compose->bodyEdit, QStringLiteral("abc"));
    QCOMPARE(f.body(), QStringLiteral("body text"));
    QTest::keyClick(f.compose->bodyEdit, Qt::Key_Backspace);
    QCOMPARE(f.body(), QStringLiteral("body tex"));
    QCOMPARE(f.counter(), QStringLiteral("(180/160)"));
    // A shorter subject makes it fit again: nothing red, nothing said.
    f.compose->subjectEdit->setText(QStringLiteral("Hi"));
    QCOMPARE(f.counter(), QStringLiteral("(11/160)"));
    QVERIFY(!f.isRed(f.compose->subjectEdit));
    QVERIFY(!f.isRed(f.compose->charsLeftField));
    QCOMPARE(f.limitNotice(), QString());
}

void TestUiCompose::subjectChangeKeepsBody() {
    Fixture f;
    f.compose->setBody(repeat(QLatin1Char('b'), 160));
    QVERIFY(f.isRed(f.compose->charsLeftField));
    QCOMPARE(f.limitNotice(),
             QStringLiteral("One SMS holds 160 GSM characters; turn on Long for more"));
    QVERIFY(!f.isRed(f.compose->subjectEdit));
    f.compose->subjectEdit->setText(QStringLiteral("Subject"));
    // "Subject:" takes 8 septets: the text is over, the body whole.
    QCOMPARE(f.body(), repeat(QLatin1Char('b'), 160));
    QCOMPARE(f.counter(), QStringLiteral("(168/160)"));
    QVERIFY(f.isRed(f.compose->subjectEdit));
    // A UCS-2 subject: still nothing cut.
    f.compose->subjectEdit->setText(QString(QChar(0x4E2D)));
    QCOMPARE(f.body(), repeat(QLatin1Char('b'), 160));
    QCOMPARE(f.counter(), QStringLiteral("(162/70)"));
    QCOMPARE(f.encoding(), QStringLiteral("UCS2 (16bit)"));
    // Such a text does not go to the outbox cut: the view says why and queues nothing.
    f.compose->setRecipients("424");
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.data->outboxList->count(), 0);
    QCOMPARE(f.dialogs.messages.size(), 1);
    QCOMPARE(f.dialogs.messages.first().kind, MessageKind::Error);
    QCOMPARE(f.dialogs.messages.first().text,
             QStringLiteral("The text does not fit one SMS (162/70): shorten the subject or the "
                            "text or turn on Long."));
    // Long takes it whole.
    f.compose->longButton->click();
    QVERIFY(!f.isRed(f.compose->subjectEdit));
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.data->outboxList->count(), 1);
    QCOMPARE(f.data->outboxList->get(0).text,
             QString(QChar(0x4E2D)) + QLatin1Char(':') + repeat(QLatin1Char('b'), 160));
}

void TestUiCompose::cutRaisesNoNestedNotification() {
    Fixture f;
    f.compose->setBody(repeat(QLatin1Char('a'), 160));
    QSignalSpy changes(f.compose->bodyEdit, &QPlainTextEdit::textChanged);
    typeText(f.compose->bodyEdit, QStringLiteral("z"));
    // The refused character never reaches the body: nothing changes, nothing notifies.
    QCOMPARE(changes.count(), 0);
    QCOMPARE(f.body().size(), 160);
}

void TestUiCompose::forwardOf200Characters() {
    Fixture f;
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QChar(u'A' + i % 26);
    f.compose->setBody(text);
    QCOMPARE(f.body(), text.left(160));
    QCOMPARE(f.counter(), QStringLiteral("(160/160)"));
}

void TestUiCompose::setBodyMatchesReferenceLoop_data() {
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("longMessage");
    const QString gsm200 = repeat(QLatin1Char('g'), 200);
    QTest::newRow("short GSM") << QString() << QStringLiteral("hello") << false;
    QTest::newRow("GSM over limit") << QString() << gsm200 << false;
    QTest::newRow("extension chars over limit")
        << QString() << repeat(QLatin1Char('{'), 90) << false;
    QTest::newRow("UCS-2 char at the end of GSM")
        << QString() << repeat(QLatin1Char('x'), 150) + QChar(0x4E2D) << false;
    QTest::newRow("latin-1 char deep inside")
        << QString() << repeat(QLatin1Char('{'), 100) + QChar(0xA9) + gsm200 << false;
    QTest::newRow("subject with UCS-2") << QString(QChar(0x4E2D)) << gsm200 << false;
    QTest::newRow("subject latin-1")
        << QString(QChar(0xE7)) + QStringLiteral("x") << gsm200 << false;
    QTest::newRow("long toggle") << QString() << repeat(QLatin1Char('q'), 1200) << true;
    QTest::newRow("long toggle UCS-2") << QString() << repeat(QChar(0x4E2D), 1200) << true;

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
    Fixture f;
    f.compose->longButton->setChecked(longMessage);
    f.compose->subjectEdit->setText(subject);
    f.compose->setBody(body);
    const Reference expected = referenceCut(subject, body, longMessage);
    QCOMPARE(f.body(), expected.body);
    QCOMPARE(f.encoding(), QLatin1StringView(codingName(expected.coding)));
    QCOMPARE(f.counter(), QStringLiteral("(%1/%2)").arg(expected.count).arg(expected.limit));
}

void TestUiCompose::pasteMatchesReferenceLoop_data() {
    setBodyMatchesReferenceLoop_data();
}

void TestUiCompose::pasteMatchesReferenceLoop() {
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(bool, longMessage);
    Fixture f;
    f.compose->longButton->setChecked(longMessage);
    f.compose->subjectEdit->setText(subject);
    f.compose->setBody(QStringLiteral("ab"));
    f.compose->bodyEdit->moveCursor(QTextCursor::End);
    QApplication::clipboard()->setText(body);
    f.compose->bodyEdit->paste();
    const Reference expected = referenceCut(subject, QStringLiteral("ab") + body, longMessage);
    QCOMPARE(f.body(), expected.body);
    QCOMPARE(f.counter(), QStringLiteral("(%1/%2)").arg(expected.count).arg(expected.limit));
}

void TestUiCompose::pasteKeepsRestWhenItFits() {
    Fixture f;
    f.compose->setBody(QStringLiteral("HEADTAIL"));
    QTextCursor cursor = f.compose->bodyEdit->textCursor();
    cursor.setPosition(4);
    f.compose->bodyEdit->setTextCursor(cursor);
    QApplication::clipboard()->setText(QStringLiteral("--"));
    f.compose->bodyEdit->paste();
    QCOMPARE(f.body(), QStringLiteral("HEAD--TAIL"));
    QCOMPARE(f.compose->bodyEdit->textCursor().position(), 6);
    QCOMPARE(f.counter(), QStringLiteral("(10/160)"));
}

void TestUiCompose::pasteOverSelectionAndInMiddle() {
    Fixture f;
    const QString start = repeat(QLatin1Char('a'), 50) + repeat(QLatin1Char('b'), 50);
    f.compose->setBody(start);
    QTextCursor cursor = f.compose->bodyEdit->textCursor();
    cursor.setPosition(40);
    cursor.setPosition(60, QTextCursor::KeepAnchor);
    f.compose->bodyEdit->setTextCursor(cursor);
    // Replacing 20 characters with 100 gives 180: the end of the old text and of the paste go.
    const QString pasted = repeat(QLatin1Char('P'), 100);
    QApplication::clipboard()->setText(pasted);
    f.compose->bodyEdit->paste();
    const QString whole = start.left(40) + pasted + start.mid(60);
    QCOMPARE(f.body(), whole.left(160));
    // A UCS-2 paste in the middle of a GSM text.
    f.compose->setBody(start);
    cursor = f.compose->bodyEdit->textCursor();
    cursor.setPosition(10);
    f.compose->bodyEdit->setTextCursor(cursor);
    QApplication::clipboard()->setText(QString(QChar(0x4E2D)));
    f.compose->bodyEdit->paste();
    const Reference expected =
        referenceCut(QString(), start.left(10) + QChar(0x4E2D) + start.mid(10));
    QCOMPARE(f.body(), expected.body);
    QCOMPARE(f.body().size(), 70);
}

void TestUiCompose::pasteOfOneMegabyte() {
    Fixture f;
    QString big;
    big.reserve(1 << 20);
    for (int i = 0; i < (1 << 20); ++i)
        big += QChar(u'a' + i % 26);
    QApplication::clipboard()->setText(big);
    QSignalSpy changes(f.compose->bodyEdit, &QPlainTextEdit::textChanged);
    QElapsedTimer timer;
    timer.start();
    f.compose->bodyEdit->paste();
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(f.body(), big.left(160));
    QCOMPARE(f.counter(), QStringLiteral("(160/160)"));
    QCOMPARE(changes.count(), 1);
    // The limit is for optimised builds; sanitizer builds get ample room.
    QVERIFY2(elapsed < 500, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
}

void TestUiCompose::surrogatePairIsNotSplit() {
    Fixture f;
    const QString pair = QString::fromUcs4(U"\U0001F600");
    // 69 CJK characters and a pair: 71 code units; the whole pair goes.
    f.compose->setBody(repeat(QChar(0x4E2D), 69) + pair);
    QCOMPARE(f.body(), repeat(QChar(0x4E2D), 69));
    QCOMPARE(f.counter(), QStringLiteral("(69/70)"));
    f.compose->setBody(repeat(QChar(0x4E2D), 68) + pair);
    QCOMPARE(f.body(), repeat(QChar(0x4E2D), 68) + pair);
    QCOMPARE(f.counter(), QStringLiteral("(70/70)"));
}

void TestUiCompose::lineBreaksAndNoBreakSpace() {
    Fixture f;
    f.compose->setBody(QStringLiteral("one\r\ntwo\rthree\nfour") + QChar(0xA0));
    QCOMPARE(f.body(), QStringLiteral("one\ntwo\nthree\nfour") + QChar(0xA0));
    // A no-break space is not GSM: UCS-2, named by its code, and a look-alike of a space.
    QCOMPARE(f.encoding(), QStringLiteral("UCS2 (16bit)"));
    QCOMPARE(f.counter(), QStringLiteral("(19/70)"));
    QCOMPARE(f.reasons(), QStringLiteral("UCS-2 because of: U+00A0"));
    QVERIFY(f.compose->replaceLookalikesButton->isVisible());
}

void TestUiCompose::longToggleKeepsLongTexts() {
    Fixture f;
    f.compose->longButton->click();
    QVERIFY(f.compose->longButton->isChecked());
    QCOMPARE(f.counter(), QStringLiteral("(0/1000)"));
    const struct {
        int length;
        const char *sms;
    } steps[] = {{160, "1 SMS"}, {161, "2 SMS"}, {306, "2 SMS"}, {307, "3 SMS"}, {1000, "7 SMS"}};
    for (const auto &step : steps) {
        f.compose->setBody(repeat(QLatin1Char('a'), step.length));
        QCOMPARE(f.body().size(), step.length);
        QCOMPARE(f.counter(), QStringLiteral("(%1/1000)").arg(step.length));
        QCOMPARE(f.smsCount(), QLatin1StringView(step.sms));
    }
    f.compose->setBody(repeat(QLatin1Char('a'), 1200));
    QCOMPARE(f.body().size(), 1000);
    QCOMPARE(f.smsCount(), QStringLiteral("7 SMS"));
    // A UCS-2 text of pairs runs out of parts (15 of 33 pairs) before it reaches 1000.
    f.compose->setBody(QString::fromUcs4(U"\U0001F600").repeated(600));
    QCOMPARE(f.body().size(), 990);
    QCOMPARE(f.counter(), QStringLiteral("(990/1000)"));
    QCOMPARE(f.smsCount(), QStringLiteral("15 SMS"));

    f.compose->setBody(repeat(QLatin1Char('b'), 400));
    f.compose->setRecipients("424");
    f.compose->sendToOutboxButton->click();
    const Message message = f.data->outboxList->get(0);
    QCOMPARE(message.isLong, quint8(1));
    QCOMPARE(message.text, repeat(QLatin1Char('b'), 400));
    // Off again: the body stays whole, shown over the limit of one SMS.
    f.compose->longButton->click();
    QCOMPARE(f.body().size(), 400);
    QCOMPARE(f.counter(), QStringLiteral("(400/160)"));
    QVERIFY(f.isRed(f.compose->charsLeftField));
    QCOMPARE(f.limitNotice(),
             QStringLiteral("The text does not fit one SMS (400/160): shorten the text or turn on "
                            "Long"));
}

void TestUiCompose::smsCountOnEveryKeystroke() {
    Fixture f;
    f.compose->longButton->setChecked(true);
    f.compose->setBody(repeat(QLatin1Char('a'), 159));
    f.compose->bodyEdit->moveCursor(QTextCursor::End);
    QStringList seen;
    for (QChar ch : QStringLiteral(u"bc\u20AC")) {
        typeText(f.compose->bodyEdit, QString(ch));
        seen << f.counter() + QLatin1Char(' ') + f.smsCount();
    }
    QCOMPARE(seen, (QStringList{"(160/1000) 1 SMS", "(161/1000) 2 SMS", "(163/1000) 2 SMS"}));
    // One UCS-2 character makes the same text three SMS of 67.
    f.compose->bodyEdit->moveCursor(QTextCursor::Start);
    typeText(f.compose->bodyEdit, QString(QChar(0x4E2D)));
    QCOMPARE(f.encoding(), QStringLiteral("UCS2 (16bit)"));
    QCOMPARE(f.counter(), QStringLiteral("(163/1000)"));
    QCOMPARE(f.smsCount(), QStringLiteral("3 SMS"));
    QCOMPARE(f.reasons(), QStringLiteral(u"UCS-2 because of: \u4E2D"));
    QVERIFY(!f.compose->replaceLookalikesButton->isVisible());
}

void TestUiCompose::lookalikesReplacedInOneUndoableStep() {
    Fixture f;
    f.compose->longButton->setChecked(true);
    const QString subject = QStringLiteral(u"Caf\u00E9 \u201CNord\u201D");
    const QString body =
        QStringLiteral(u"It\u2019s on \u2013 see you\u2026 ") + repeat(QLatin1Char('x'), 260);
    f.compose->subjectEdit->setText(subject);
    f.compose->setBody(body);
    QCOMPARE(f.encoding(), QStringLiteral("UCS2 (16bit)"));
    QCOMPARE(f.counter(), QStringLiteral("(%1/1000)").arg(subject.size() + 1 + body.size()));
    QCOMPARE(f.smsCount(), QStringLiteral("5 SMS"));
    QCOMPARE(f.reasons(), QStringLiteral(u"UCS-2 because of: \u201C \u201D \u2019 \u2013 \u2026"));
    QVERIFY(f.compose->replaceLookalikesButton->isVisible());
    QVERIFY(f.compose->replaceLookalikesAction->isEnabled());

    f.compose->replaceLookalikesButton->click();
    const QString gsmSubject = QStringLiteral(u"Caf\u00E9 \"Nord\"");
    const QString gsmBody = QStringLiteral("It's on - see you... ") + repeat(QLatin1Char('x'), 260);
    QCOMPARE(f.compose->subjectEdit->text(), gsmSubject);
    QCOMPARE(f.body(), gsmBody);
    QCOMPARE(f.encoding(), QStringLiteral("GSM 7 bit"));
    QCOMPARE(f.counter(), QStringLiteral("(%1/1000)").arg(gsmSubject.size() + 1 + gsmBody.size()));
    QCOMPARE(f.smsCount(), QStringLiteral("2 SMS"));
    QCOMPARE(f.reasons(), QString());
    QVERIFY(!f.compose->replaceLookalikesButton->isVisible());

    // Each field takes the replacement back in one step.
    f.compose->bodyEdit->undo();
    QCOMPARE(f.body(), body);
    f.compose->subjectEdit->undo();
    QCOMPARE(f.compose->subjectEdit->text(), subject);
    QCOMPARE(f.smsCount(), QStringLiteral("5 SMS"));
}

void TestUiCompose::reasonsWithoutLookalikes() {
    Fixture f;
    f.compose->setBody(QStringLiteral(u"\u041F\u0440\u0438\u0432\u0435\u0442, \u043C\u0438\u0440"));
    QCOMPARE(f.reasons(),
             QStringLiteral(u"UCS-2 because of: \u041F \u0440 \u0438 \u0432 \u0435 \u0442 "
                            u"\u043C"));
    QVERIFY(!f.compose->replaceLookalikesButton->isVisible());
    // Nine different letters: eight named, then the rest in short.
    f.compose->setBody(QStringLiteral(u"\u0430\u0431\u0432\u0433\u0434\u0435\u0436\u0437\u0438"));
    QVERIFY(f.reasons().endsWith(QStringLiteral(u"\u0437 and more")));
    // A tab and a pair: the tab by its code, the pair as one character.
    f.compose->setBody(QStringLiteral(u"a\tb \U0001F600"));
    QCOMPARE(f.reasons(), QStringLiteral(u"UCS-2 because of: U+0009 \U0001F600"));
    QVERIFY(f.compose->replaceLookalikesButton->isVisible());
}

void TestUiCompose::pasteOfOneMegabyteLong() {
    Fixture f;
    f.compose->longButton->setChecked(true);
    QString big;
    big.reserve(1 << 20);
    for (int i = 0; i < (1 << 20); ++i)
        big += QChar(u'a' + i % 26);
    QApplication::clipboard()->setText(big);
    QSignalSpy changes(f.compose->bodyEdit, &QPlainTextEdit::textChanged);
    f.compose->bodyEdit->paste();
    QCOMPARE(f.body(), big.left(1000));
    QCOMPARE(f.counter(), QStringLiteral("(1000/1000)"));
    QCOMPARE(f.smsCount(), QStringLiteral("7 SMS"));
    QCOMPARE(changes.count(), 1);
}

void TestUiCompose::toTextRecipients_data() {
    QTest::addColumn<QString>("to");
    QTest::addColumn<QList<QByteArray>>("numbers");
    QTest::newRow("blank entry skipped")
        << QStringLiteral("111;222; ;333") << QList<QByteArray>{"111", "222", "333"};
    QTest::newRow("leading blank is formatting")
        << QStringLiteral("111; 222") << QList<QByteArray>{"111", "222"};
    QTest::newRow("trailing separator") << QStringLiteral("+49 151 23456789;0171-5;")
                                        << QList<QByteArray>{"+4915123456789", "01715"};
    QTest::newRow("only separators") << QStringLiteral(";;; ;") << QList<QByteArray>{};
    QTest::newRow("single") << QStringLiteral("5550100") << QList<QByteArray>{"5550100"};
    QTest::newRow("tab and trailing blank")
        << QStringLiteral("\t;123 ") << QList<QByteArray>{"123"};
}

void TestUiCompose::toTextRecipients() {
    QFETCH(QString, to);
    QFETCH(QList<QByteArray>, numbers);
    Fixture f;
    f.compose->setBody(QStringLiteral("text"));
    f.compose->toCombo->setEditText(to);
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.outboxNumbers(), numbers);
    if (numbers.isEmpty()) {
        QVERIFY(f.host->shown.isEmpty());
    } else {
        QCOMPARE(f.host->lastShown(), static_cast<QWidget *>(f.host->outboxView()));
        const Message first = f.data->outboxList->get(0);
        QCOMPARE(first.status, MessageStatus::Pending);
        QCOMPARE(first.sent, 0.0);
        QVERIFY(first.created > 0);
        QCOMPARE(first.text, QStringLiteral("text"));
        QCOMPARE(f.host->outboxView()->model()->rowCount(), numbers.size());
    }
    // The compose fields keep their contents.
    QCOMPARE(f.compose->toCombo->currentText(), to);
    QCOMPARE(f.body(), QStringLiteral("text"));
}

void TestUiCompose::allAndCheckedContacts() {
    Fixture f;
    f.addContact("100", true);
    f.addContact("200", false);
    f.addContact("300", true);
    f.compose->setBody(QStringLiteral("hello"));
    f.compose->toCombo->showPopup();
    f.compose->toCombo->hidePopup();
    QCOMPARE(f.compose->toCombo->count(), 2);
    QCOMPARE(f.compose->toCombo->itemText(0), QStringLiteral("All contacts (3)"));
    QCOMPARE(f.compose->toCombo->itemText(1), QStringLiteral("Checked contacts (2)"));

    f.compose->toCombo->setCurrentIndex(0);
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.outboxNumbers(), (QList<QByteArray>{"100", "200", "300"}));

    f.data->outboxList->clear();
    f.compose->toCombo->setCurrentIndex(1);
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.outboxNumbers(), (QList<QByteArray>{"100", "300"}));
}

void TestUiCompose::checkedContactsZeroAddsNothing() {
    Fixture f;
    f.addContact("100", false);
    f.compose->setBody(QStringLiteral("hello"));
    f.chooseEntry(f.compose->toCombo, 1);
    QCOMPARE(f.compose->toCombo->currentText(), QStringLiteral("Checked contacts (0)"));
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.data->outboxList->count(), 0);
    QVERIFY(f.host->shown.isEmpty());
}

void TestUiCompose::typedTextAfterChoosingEntryIsTyped() {
    Fixture f;
    f.addContact("100", true);
    f.compose->setBody(QStringLiteral("hello"));
    f.chooseEntry(f.compose->toCombo, 0);
    // Typing over the chosen entry makes the text a typed recipient list.
    f.compose->toCombo->setEditText(QStringLiteral("777"));
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.outboxNumbers(), QList<QByteArray>{"777"});
}

void TestUiCompose::dropDownKeepsTwoEntries() {
    Fixture f;
    f.compose->ccCombo->addItem(QStringLiteral("stray"));
    f.compose->ccCombo->setEditText(QStringLiteral("typed cc"));
    f.compose->ccCombo->showPopup();
    f.compose->ccCombo->hidePopup();
    QCOMPARE(f.compose->ccCombo->count(), 2);
    QCOMPARE(f.compose->ccCombo->currentText(), QStringLiteral("typed cc"));
    f.addContact("1", true);
    f.chooseEntry(f.compose->ccCombo, 0);
    f.addContact("2", true);
    f.compose->ccCombo->showPopup();
    f.compose->ccCombo->hidePopup();
    // The chosen entry follows the new count.
    QCOMPARE(f.compose->ccCombo->currentText(), QStringLiteral("All contacts (2)"));
}

void TestUiCompose::emptyComposeTextAddsNothing() {
    Fixture f;
    f.compose->toCombo->setEditText(QStringLiteral("111"));
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.data->outboxList->count(), 0);
    QVERIFY(f.host->shown.isEmpty());
    QVERIFY(!f.data->modified);
}

void TestUiCompose::flashToggleAndMessageFields() {
    Fixture f;
    f.compose->setBody(QStringLiteral("flash me"));
    f.compose->setRecipients("424");
    f.compose->flashButton->click();
    QVERIFY(f.compose->flashButton->isChecked());
    f.compose->sendToOutboxButton->click();
    const Message message = f.data->outboxList->get(0);
    QCOMPARE(message.flash, quint8(1));
    QCOMPARE(message.isLong, quint8(0));
    QVERIFY(f.data->modified);
}

void TestUiCompose::sendWithOverlongSubject() {
    Fixture f;
    const QString subject = repeat(QLatin1Char('s'), 171);
    f.compose->subjectEdit->setText(subject);
    f.compose->setRecipients("424");
    f.compose->sendToOutboxButton->click();
    // Sent, it would lose its end: refused with the reason.
    QCOMPARE(f.data->outboxList->count(), 0);
    QCOMPARE(f.dialogs.messages.size(), 1);
    QVERIFY(f.dialogs.messages.first().text.startsWith(
        QStringLiteral("The text does not fit one SMS (172/160)")));
    QVERIFY(f.host->shown.isEmpty());
    // With Long the whole subject goes.
    f.compose->longButton->setChecked(true);
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.data->outboxList->count(), 1);
    QCOMPARE(f.data->outboxList->get(0).text, subject + QLatin1Char(':'));
}

void TestUiCompose::clearEmptiesFieldsKeepsToggles() {
    Fixture f;
    f.compose->setRecipients("1;2");
    f.compose->ccCombo->setEditText(QStringLiteral("cc"));
    f.compose->subjectEdit->setText(QString(QChar(0x4E2D)));
    f.compose->setBody(QStringLiteral("body"));
    f.compose->flashButton->setChecked(true);
    QCOMPARE(f.encoding(), QStringLiteral("UCS2 (16bit)"));
    f.compose->clearButton->click();
    QCOMPARE(f.compose->toCombo->currentText(), QString());
    QCOMPARE(f.compose->ccCombo->currentText(), QString());
    QCOMPARE(f.compose->subjectEdit->text(), QString());
    QCOMPARE(f.body(), QString());
    QCOMPARE(f.encoding(), QStringLiteral("GSM 7 bit"));
    QCOMPARE(f.counter(), QStringLiteral("(0/160)"));
    QVERIFY(f.compose->flashButton->isChecked());
}

void TestUiCompose::fieldsRoundTripThroughDataModule() {
    Fixture f;
    f.compose->setRecipients("111;222");
    f.compose->ccCombo->setEditText(QStringLiteral("333"));
    f.compose->subjectEdit->setText(QStringLiteral("Subj"));
    f.compose->setBody(QStringLiteral("line one\nline two"));
    f.compose->storeFields();
    QCOMPARE(f.data->compose.to, QByteArray("111;222"));
    QCOMPARE(f.data->compose.cc, QByteArray("333"));
    QCOMPARE(f.data->compose.subject, QStringLiteral("Subj"));
    QCOMPARE(f.data->compose.body, QStringLiteral("line one\nline two"));
    QVERIFY(!f.data->modified);

    f.data->compose.to = "9";
    f.data->compose.cc = QByteArray();
    f.data->compose.subject = QString();
    f.data->compose.body = repeat(QLatin1Char('L'), 300);
    f.compose->loadFields();
    QCOMPARE(f.compose->toCombo->currentText(), QStringLiteral("9"));
    QCOMPARE(f.compose->ccCombo->currentText(), QString());
    QCOMPARE(f.compose->subjectEdit->text(), QString());
    // A project's body is never cut when it is opened: it shows over the limit.
    QCOMPARE(f.body(), repeat(QLatin1Char('L'), 300));
    QCOMPARE(f.counter(), QStringLiteral("(300/160)"));
    QVERIFY(f.isRed(f.compose->charsLeftField));
}

void TestUiCompose::typingPastTheLimitIsRefused_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("longMessage");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("notice");
    const QString gsmFull =
        QStringLiteral("One SMS holds 160 GSM characters; turn on Long for more");
    QTest::newRow("161st GSM character")
        << repeat(QLatin1Char('a'), 160) << false << 0 << QStringLiteral("b") << gsmFull;
    QTest::newRow("line break at the limit")
        << repeat(QLatin1Char('a'), 160) << false << int(Qt::Key_Return) << QString() << gsmFull;
    QTest::newRow("euro needs two septets, one is left")
        << repeat(QLatin1Char('a'), 159) << false << 0 << QString(QChar(0x20AC)) << gsmFull;
    QTest::newRow("typographic apostrophe would make 160 GSM characters UCS-2")
        << repeat(QLatin1Char('a'), 160) << false << 0 << QString(QChar(0x2019))
        << QStringLiteral(u"\u2019 would make the text UCS-2, where one SMS holds 70 characters; "
                          u"turn on Long for more");
    QTest::newRow("71st UCS-2 character")
        << repeat(QChar(0x4E2D), 70) << false << 0 << QStringLiteral("a")
        << QStringLiteral("One SMS holds 70 characters in UCS-2; turn on Long for more");
    QTest::newRow("long message at 1000")
        << repeat(QLatin1Char('a'), 1000) << true << 0 << QStringLiteral("a")
        << QStringLiteral("A long message holds at most 1000 characters");
}

void TestUiCompose::typingPastTheLimitIsRefused() {
    QFETCH(QString, body);
    QFETCH(bool, longMessage);
    QFETCH(int, key);
    QFETCH(QString, typed);
    QFETCH(QString, notice);
    // A cut once printed a text cursor warning; the view prints nothing.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    Fixture f;
    f.compose->longButton->setChecked(longMessage);
    f.compose->setBody(body);
    f.compose->bodyEdit->moveCursor(QTextCursor::End);
    const QString counter = f.counter();
    QSignalSpy changes(f.compose->bodyEdit, &QPlainTextEdit::textChanged);
    if (key != 0)
        QTest::keyClick(f.compose->bodyEdit, Qt::Key(key));
    else
        typeText(f.compose->bodyEdit, typed);
    QCOMPARE(changes.count(), 0);
    QCOMPARE(f.body(), body);
    QCOMPARE(f.counter(), counter);
    QCOMPARE(f.compose->bodyEdit->textCursor().position(), body.size());
    QCOMPARE(f.limitNotice(), notice);
    // Room again: the counter is no longer red and nothing is said.
    QTest::keyClick(f.compose->bodyEdit, Qt::Key_Backspace);
    QCOMPARE(f.body().size(), body.size() - 1);
    QVERIFY(!f.isRed(f.compose->charsLeftField));
    QCOMPARE(f.limitNotice(), QString());
}

void TestUiCompose::cutPasteIsOneUndoStep() {
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    Fixture f;
    f.compose->bodyEdit->setFocus();
    typeText(f.compose->bodyEdit, repeat(QLatin1Char('x'), 100));
    QApplication::clipboard()->setText(repeat(QLatin1Char('p'), 200));
    QTest::keyClick(f.compose->bodyEdit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(f.body(), repeat(QLatin1Char('x'), 100) + repeat(QLatin1Char('p'), 60));
    QCOMPARE(
        f.limitNotice(),
        QStringLiteral("The pasted text was cut to what one SMS holds; Ctrl+Z brings it back"));
    QTest::keyClick(f.compose->bodyEdit, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(f.body(), repeat(QLatin1Char('x'), 100));
    QCOMPARE(f.counter(), QStringLiteral("(100/160)"));
    QCOMPARE(f.limitNotice(), QString());

    // A typographic apostrophe pasted in front of 160 GSM characters cuts them to 70 UCS-2;
    // Ctrl+Z brings the 160 back.
    f.compose->setBody(repeat(QLatin1Char('a'), 160));
    f.compose->bodyEdit->moveCursor(QTextCursor::Start);
    QApplication::clipboard()->setText(QString(QChar(0x2019)));
    QTest::keyClick(f.compose->bodyEdit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(f.body(), QString(QChar(0x2019)) + repeat(QLatin1Char('a'), 69));
    QCOMPARE(f.counter(), QStringLiteral("(70/70)"));
    QTest::keyClick(f.compose->bodyEdit, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(f.body(), repeat(QLatin1Char('a'), 160));
    QCOMPARE(f.encoding(), QStringLiteral("GSM 7 bit"));
}

void TestUiCompose::forwardCutIsUndoable() {
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    Fixture f;
    f.compose->setBody(QStringLiteral("draft"));
    f.compose->setBody(repeat(QLatin1Char('f'), 200));
    QCOMPARE(f.body(), repeat(QLatin1Char('f'), 160));
    QCOMPARE(
        f.limitNotice(),
        QStringLiteral("The forwarded text was cut to what one SMS holds; Ctrl+Z brings it back"));
    f.compose->bodyEdit->undo();
    QCOMPARE(f.body(), QStringLiteral("draft"));
    QCOMPARE(f.limitNotice(), QString());
}

void TestUiCompose::tabMovesFocusCtrlTabTypesTab() {
    Fixture f;
    f.host->pane->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.host->pane.get()));
    f.compose->setBody(QStringLiteral("ab"));
    f.compose->bodyEdit->setFocus();
    QVERIFY(f.compose->bodyEdit->hasFocus());
    QTest::keyClick(f.compose->bodyEdit, Qt::Key_Tab);
    QCOMPARE(f.body(), QStringLiteral("ab"));
    QVERIFY(!f.compose->bodyEdit->hasFocus());
    f.compose->bodyEdit->setFocus();
    QTest::keyClick(f.compose->bodyEdit, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(f.body(), QStringLiteral("ab"));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(f.compose->subjectEdit));
    // Ctrl+Tab types a tab, which makes the text UCS-2.
    f.compose->bodyEdit->setFocus();
    f.compose->bodyEdit->moveCursor(QTextCursor::End);
    QTest::keyClick(f.compose->bodyEdit, Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(f.body(), QStringLiteral("ab\t"));
    QCOMPARE(f.encoding(), QStringLiteral("UCS2 (16bit)"));
    QVERIFY(f.compose->bodyEdit->hasFocus());
}

void TestUiCompose::chosenEntryIsStoredAsChoice() {
    Fixture f;
    f.addContact("100", true);
    f.addContact("200", false);
    f.chooseEntry(f.compose->toCombo, 1);
    f.chooseEntry(f.compose->ccCombo, 0);
    f.compose->storeFields();
    QCOMPARE(f.data->compose.toChoice, RecipientChoice::CheckedContacts);
    QCOMPARE(f.data->compose.to, QByteArray("Checked contacts (1)"));
    QCOMPARE(f.data->compose.ccChoice, RecipientChoice::AllContacts);
    // Typed numbers are typed, also after an entry was chosen.
    f.compose->ccCombo->setEditText(QStringLiteral("555"));
    f.compose->storeFields();
    QCOMPARE(f.data->compose.ccChoice, RecipientChoice::Typed);
    QCOMPARE(f.data->compose.cc, QByteArray("555"));

    // Back from the document: the entry, with the count of now, and the checked contacts go.
    f.compose->clearButton->click();
    f.addContact("300", true);
    f.compose->loadFields();
    QCOMPARE(f.compose->toCombo->choice(), RecipientChoice::CheckedContacts);
    QCOMPARE(f.compose->toCombo->currentText(), QStringLiteral("Checked contacts (2)"));
    f.compose->setBody(QStringLiteral("hello"));
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.outboxNumbers(), (QList<QByteArray>{"100", "300"}));
}

void TestUiCompose::entryTextOfOldFileIsTheChoice_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("choice");
    QTest::addColumn<QList<QByteArray>>("numbers");
    QTest::newRow("all contacts with a stale count")
        << QByteArray("All contacts (7)") << int(RecipientChoice::AllContacts)
        << QList<QByteArray>{"100", "200"};
    QTest::newRow("checked contacts")
        << QByteArray("Checked contacts (0)") << int(RecipientChoice::CheckedContacts)
        << QList<QByteArray>{"100"};
    QTest::newRow("typed numbers")
        << QByteArray("300;400") << int(RecipientChoice::Typed) << QList<QByteArray>{"300", "400"};
    QTest::newRow("entry text with more is typed")
        << QByteArray("All contacts (7);300") << int(RecipientChoice::Typed)
        << QList<QByteArray>{"300"};
}

void TestUiCompose::entryTextOfOldFileIsTheChoice() {
    QFETCH(QByteArray, stored);
    QFETCH(int, choice);
    QFETCH(QList<QByteArray>, numbers);
    Fixture f;
    f.addContact("100", true);
    f.addContact("200", false);
    // A project file of an older program: the To text alone.
    QBuffer file;
    file.open(QIODevice::ReadWrite);
    {
        StreamWriter writer(file);
        ComposeFields fields;
        fields.to = stored;
        fields.body = QStringLiteral("hello");
        fields.saveToStream(writer);
        writer.flush();
    }
    file.seek(0);
    StreamReader reader(file);
    f.data->compose.loadFromStream(reader, 10);
    QCOMPARE(int(f.data->compose.toChoice), choice);
    f.compose->loadFields();
    QCOMPARE(int(f.compose->toCombo->choice()), choice);
    f.compose->sendToOutboxButton->click();
    // "All contacts (7)" is never taken for a number.
    QCOMPARE(f.outboxNumbers(), numbers);
}

void TestUiCompose::entryCountsFollowContacts() {
    Fixture f;
    f.addContact("100", true);
    f.chooseEntry(f.compose->toCombo, 0);
    QCOMPARE(f.compose->toCombo->currentText(), QStringLiteral("All contacts (1)"));
    f.addContact("200", false);
    // The main window refreshes the view after every change of the list.
    f.compose->refreshRecipientEntries();
    QCOMPARE(f.compose->toCombo->currentText(), QStringLiteral("All contacts (2)"));
    QCOMPARE(f.compose->toCombo->itemText(1), QStringLiteral("Checked contacts (1)"));
    QCOMPARE(f.compose->toCombo->choice(), RecipientChoice::AllContacts);
    // A hidden view counts again when it is shown.
    f.compose->hide();
    f.addContact("300", true);
    f.compose->show();
    QCOMPARE(f.compose->toCombo->currentText(), QStringLiteral("All contacts (3)"));
    // Typed text is left alone, caret and all: the refresh may come while the user types.
    f.compose->setRecipients("777");
    f.compose->toCombo->lineEdit()->setCursorPosition(1);
    f.addContact("400", true);
    f.compose->refreshRecipientEntries();
    QCOMPARE(f.compose->toCombo->currentText(), QStringLiteral("777"));
    QCOMPARE(f.compose->toCombo->lineEdit()->cursorPosition(), 1);
    QCOMPARE(f.compose->toCombo->choice(), RecipientChoice::Typed);
    // Typed over a chosen entry: the entry's new count does not replace the typed text.
    f.chooseEntry(f.compose->toCombo, 0);
    f.compose->toCombo->setEditText(QStringLiteral("12"));
    f.addContact("500", true);
    f.compose->refreshRecipientEntries();
    QCOMPARE(f.compose->toCombo->currentText(), QStringLiteral("12"));
    QCOMPARE(f.compose->toCombo->itemText(0), QStringLiteral("All contacts (5)"));
}

QTEST_MAIN(TestUiCompose)
#include "tst_ui_compose.moc"
