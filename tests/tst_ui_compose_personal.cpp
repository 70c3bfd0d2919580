// Personal texts in the compose view on real widgets: the worst case over the recipients, the
// preview of any one recipient's text, unknown placeholders while typing, what the Long toggle
// means for texts that grow with the names, and the pause before the recipients are looked at.

#include "app/AppData.h"
#include "support/DialogScript.h"
#include "support/ViewTestHost.h"
#include "ui/ComposeView.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

namespace {

void typeText(QWidget *widget, const QString &text) {
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &release);
    }
}

QColor textColour(const QWidget *widget) {
    return widget->palette().color(QPalette::WindowText);
}

struct Fixture {
    Fixture() {
        data = std::make_unique<AppData>(dir.filePath(QStringLiteral("pelorvane.ini")));
        data->settings->setCountry(QStringLiteral("DE"));
        host = std::make_unique<ViewTestHost>(*data);
        compose = host->composeView();
        host->pane->show();
        compose->show();
    }

    // Contacts with the numbers +49151234567{10 + index}, all checked, chosen as "Checked
    // contacts".
    void toCheckedContacts(const QStringList &names) {
        for (int i = 0; i < names.size(); ++i) {
            Contact contact;
            contact.name = names[i];
            contact.number = "0151 234567" + QByteArray::number(10 + i);
            data->contactList->add(contact);
        }
        compose->toCombo->showPopup();
        compose->toCombo->hidePopup();
        compose->toCombo->setCurrentIndex(1);
    }

    // Waits for the analysis that the last change started.
    bool analysed() {
        QSignalSpy spy(compose, &ComposeView::analysisUpdated);
        return compose->analysisTimer->isActive() && spy.wait(5000);
    }

    QString shownText(const QLabel *label) const {
        return label->isVisibleTo(compose) ? label->text() : QString();
    }

    DialogScript dialogs;
    QTemporaryDir dir;
    std::unique_ptr<AppData> data;
    std::unique_ptr<ViewTestHost> host;
    ComposeView *compose = nullptr;
};

} // namespace

class TestUiComposePersonal : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void namesThatNeedUcs2_data();
    void namesThatNeedUcs2();
    void longestTextAndCounterOfTheTemplate();
    void textWithoutPlaceholdersStaysAsItWas();
    void previewFollowsTheChosenRecipient();
    void previewKeepsItsRecipientWhenToChanges();
    void unknownPlaceholderShownWhileTyping();
    void partsAndCutsFollowTheLongToggle_data();
    void partsAndCutsFollowTheLongToggle();
    void textOverWhatALongMessageHolds();
    void analysisRunsOnceAfterABurstOfKeys();
    void recipientsLookedAtAgainWhenShown();
};

void TestUiComposePersonal::initTestCase() {
    Q_INIT_RESOURCE(resources);
}

void TestUiComposePersonal::namesThatNeedUcs2_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("shown");

    QTest::newRow("GSM text, one UCS-2 name")
        << QStringList{"Anna", "Zoë Adams", "Jonas"} << "Hello {FirstName}, see you"
        << "1 name needs UCS-2: Zoë Adams";
    QTest::newRow("three names") << QStringList{"Zoë", "Anna", "Łukasz", "Şule", "Émile"}
                                 << "Hello {Name}"
                                 << "3 names need UCS-2: Zoë, Łukasz, Şule";
    QTest::newRow("a few names, then how many more")
        << QStringList{"Zoë", "Łukasz", "Şule", "Ívar", "Ōta", "Ülkü", "Ąda", "Bo", "Čeněk"}
        << "Hi {Name}"
        << "7 names need UCS-2: Zoë, Łukasz, Şule, Ívar, Ōta and 2 more";
    QTest::newRow("the text itself") << QStringList{"Zoë", "Anna"} << "Привет {Name}"
                                     << "The text itself needs UCS-2.";
    QTest::newRow("names only in a placeholder that is not used")
        << QStringList{"Zoë", "Anna"} << "Your number: {Number}" << QString();
    QTest::newRow("GSM names") << QStringList{"Émile", "Anna"} << "Hi {Name}" << QString();
}

void TestUiComposePersonal::namesThatNeedUcs2() {
    QFETCH(QStringList, names);
    QFETCH(QString, body);
    QFETCH(QString, shown);
    Fixture f;
    f.toCheckedContacts(names);
    f.compose->setBody(body);
    QVERIFY(f.analysed());
    QVERIFY(f.compose->worstCasePanel->isVisibleTo(f.compose));
    QCOMPARE(f.shownText(f.compose->ucs2NamesLabel), shown);
}

void TestUiComposePersonal::longestTextAndCounterOfTheTemplate() {
    Fixture f;
    f.toCheckedContacts({QStringLiteral("Anna"), QStringLiteral("Zoë Adams"),
                         QStringLiteral("Jonas"), QStringLiteral("Łukasz")});
    f.compose->subjectEdit->setText(QStringLiteral("Club"));
    f.compose->setBody(QStringLiteral("Hello {FirstName}, see you"));
    QVERIFY(f.analysed());
    // The longest text is a UCS-2 one: Łukasz's has one letter more than Zoë's.
    QCOMPARE(f.shownText(f.compose->worstCaseLabel),
             QStringLiteral("4 recipients. Longest text: 26 characters in UCS2 (16bit), 1 SMS, "
                            "for Łukasz."));
    // The counter stays that of the template as typed: GSM, the braces counting two each.
    QCOMPARE(f.compose->codingField->text(), QStringLiteral("GSM 7 bit"));
    QCOMPARE(f.compose->charsLeftField->text(), QStringLiteral("(33/160)"));
    QCOMPARE(f.compose->smsCountLabel->text(), QStringLiteral("1 SMS"));
    QCOMPARE(f.shownText(f.compose->partsLabel), QString());
}

void TestUiComposePersonal::textWithoutPlaceholdersStaysAsItWas() {
    Fixture f;
    f.toCheckedContacts({QStringLiteral("Zoë")});
    QSignalSpy spy(f.compose, &ComposeView::analysisUpdated);
    typeText(f.compose->bodyEdit, QStringLiteral("Hello all"));
    QVERIFY(!f.compose->personalPanel->isVisibleTo(f.compose));
    QVERIFY(!f.compose->analysisTimer->isActive());
    QTest::qWait(2 * ComposeView::AnalysisDelayMs);
    QCOMPARE(spy.count(), 0);

    // A placeholder brings the panel; taking it out again hides it and stops the analysis.
    typeText(f.compose->bodyEdit, QStringLiteral(" {Name}"));
    QVERIFY(f.compose->personalPanel->isVisibleTo(f.compose));
    QVERIFY(f.compose->analysisTimer->isActive());
    f.compose->setBody(QStringLiteral("Hello all"));
    QVERIFY(!f.compose->personalPanel->isVisibleTo(f.compose));
    QVERIFY(!f.compose->analysisTimer->isActive());
}

void TestUiComposePersonal::previewFollowsTheChosenRecipient() {
    Fixture f;
    f.toCheckedContacts({QStringLiteral("Anna Becker"), QStringLiteral("Zoë Adams"), QString()});
    f.compose->subjectEdit->setText(QStringLiteral("{FirstName|Friend}"));
    f.compose->setBody(QStringLiteral("Hi {Name|there}, your number is {Number}"));
    QVERIFY(f.analysed());
    QComboBox *chooser = f.compose->previewCombo;
    QCOMPARE(chooser->count(), 3);
    QCOMPARE(chooser->itemText(0), QStringLiteral("Anna Becker (+4915123456710)"));
    QCOMPARE(chooser->itemText(2), QStringLiteral("+4915123456712"));
    QCOMPARE(chooser->currentIndex(), 0);
    QCOMPARE(f.compose->previewSubjectField->text(), QStringLiteral("Anna"));
    QCOMPARE(f.compose->previewBodyEdit->toPlainText(),
             QStringLiteral("Hi Anna Becker, your number is +4915123456710"));
    // "Anna:" and the body.
    QCOMPARE(f.compose->previewCountLabel->text(), QStringLiteral("GSM 7 bit (50/160) 1 SMS"));

    chooser->setCurrentIndex(1);
    QCOMPARE(f.compose->previewSubjectField->text(), QStringLiteral(u"Zoë"));
    QCOMPARE(f.compose->previewBodyEdit->toPlainText(),
             QStringLiteral(u"Hi Zoë Adams, your number is +4915123456711"));
    QCOMPARE(f.compose->previewCountLabel->text(), QStringLiteral("UCS2 (16bit) (47/70) 1 SMS"));

    chooser->setCurrentIndex(2);
    QCOMPARE(f.compose->previewSubjectField->text(), QStringLiteral("Friend"));
    QCOMPARE(f.compose->previewBodyEdit->toPlainText(),
             QStringLiteral("Hi there, your number is +4915123456712"));

    // Typing changes the preview at once, for the recipient chosen.
    f.compose->bodyEdit->moveCursor(QTextCursor::End);
    typeText(f.compose->bodyEdit, QStringLiteral(". Bye"));
    QCOMPARE(f.compose->previewBodyEdit->toPlainText(),
             QStringLiteral("Hi there, your number is +4915123456712. Bye"));
    QVERIFY(f.analysed());
    QCOMPARE(chooser->currentIndex(), 2);

    // "Preview it" shows the longest text: Anna's 55 septets before Zoë's 52 UCS-2 characters.
    f.compose->previewLongestButton->click();
    QCOMPARE(chooser->currentIndex(), 0);
    QCOMPARE(f.compose->previewBodyEdit->toPlainText(),
             QStringLiteral("Hi Anna Becker, your number is +4915123456710. Bye"));
}

void TestUiComposePersonal::previewKeepsItsRecipientWhenToChanges() {
    Fixture f;
    Contact contact;
    contact.name = QStringLiteral("Jonas Weber");
    contact.number = "+49 160 1234567";
    f.data->contactList->add(contact);
    f.compose->toCombo->setEditText(QStringLiteral("0151 2345 6789; 0160 1234567; 112"));
    f.compose->setBody(QStringLiteral("Dear {Name|customer}"));
    QVERIFY(f.analysed());
    // The emergency number is no recipient of the preview.
    QCOMPARE(f.compose->previewCombo->count(), 2);
    f.compose->previewCombo->setCurrentIndex(1);
    QCOMPARE(f.compose->previewBodyEdit->toPlainText(), QStringLiteral("Dear Jonas Weber"));

    f.compose->toCombo->setEditText(QStringLiteral("0170 7654321; 0151 2345 6789; 0160 1234567"));
    QVERIFY(f.analysed());
    QCOMPARE(f.compose->previewCombo->count(), 3);
    QCOMPARE(f.compose->previewCombo->currentIndex(), 2);
    QCOMPARE(f.compose->previewBodyEdit->toPlainText(), QStringLiteral("Dear Jonas Weber"));

    // No recipient left: nothing to preview, and the view says so.
    f.compose->toCombo->setEditText(QStringLiteral("110"));
    QVERIFY(f.analysed());
    QVERIFY(!f.compose->previewPanel->isVisibleTo(f.compose));
    QCOMPARE(
        f.shownText(f.compose->worstCaseLabel),
        QStringLiteral("No recipients: the placeholders are filled for each recipient of To."));
}

void TestUiComposePersonal::unknownPlaceholderShownWhileTyping() {
    Fixture f;
    f.toCheckedContacts({QStringLiteral("Anna")});
    typeText(f.compose->bodyEdit, QStringLiteral("Hi {Nmae}"));
    // At once, without waiting for the analysis.
    QLabel *error = f.compose->placeholderErrorLabel;
    QCOMPARE(f.shownText(error), QStringLiteral("Unknown placeholder: {Nmae}. The known ones are "
                                                "{Name}, {FirstName} and {Number}."));
    QCOMPARE(textColour(error), QColor(0xB0, 0x00, 0x00));
    QVERIFY(!f.compose->worstCasePanel->isVisibleTo(f.compose));

    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.data->outboxList->count(), 0);
    QCOMPARE(f.dialogs.messages.size(), 1);
    QCOMPARE(f.dialogs.messages[0].kind, MessageKind::Error);
    QVERIFY(f.host->shown.isEmpty());

    // With a known placeholder beside it, both are shown; each unknown one is named once.
    f.compose->subjectEdit->setText(QStringLiteral("{Titel}"));
    typeText(f.compose->bodyEdit, QStringLiteral(" {Name} {Nmae}"));
    QCOMPARE(f.shownText(error),
             QStringLiteral("Unknown placeholders: {Titel}, {Nmae}. The known ones are {Name}, "
                            "{FirstName} and {Number}."));
    QVERIFY(f.compose->worstCasePanel->isVisibleTo(f.compose));
    QVERIFY(f.analysed());
    QCOMPARE(f.compose->previewBodyEdit->toPlainText(), QStringLiteral("Hi {Nmae} Anna {Nmae}"));

    // Corrected, the error goes and Send to Outbox queues.
    f.compose->subjectEdit->clear();
    f.compose->setBody(QStringLiteral("Hi {Name}"));
    QCOMPARE(f.shownText(error), QString());
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.data->outboxList->count(), 1);
    QCOMPARE(f.data->outboxList->get(0).text, QStringLiteral("Hi Anna"));
}

void TestUiComposePersonal::partsAndCutsFollowTheLongToggle_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("withoutLong");
    QTest::addColumn<QString>("withLong");

    // 150 + 1 + 8 septets: the template itself fits one SMS, the braces counting two each.
    const QString fill150 = QString(150, QLatin1Char('x')) + QStringLiteral(" {Name}");
    QTest::newRow("one long name")
        << QStringList{"Al", "Maximilian", "Bo"} << fill150
        << "For 1 recipient the text needs 2 SMS: without Long ? it is cut to one SMS."
        << "For 1 recipient the text needs 2 SMS, for the rest 1 SMS.";
    QTest::newRow("a UCS-2 name makes three parts")
        << QStringList{"Al", "Maximilian", "Zoë"} << fill150
        << "For 2 recipients the text needs 2 to 3 SMS: without Long ? it is cut to one SMS."
        << "For 2 recipients the text needs 2 to 3 SMS, for the rest 1 SMS.";
    QTest::newRow("every recipient")
        << QStringList{"Maximilian", "Konstantin"} << fill150
        << "For every recipient the text needs 2 SMS: without Long ? it is cut to one SMS."
        << QString();
    QTest::newRow("everybody fits")
        << QStringList{"Al", "Bo"} << QStringLiteral("Hi {Name}") << QString() << QString();
}

void TestUiComposePersonal::partsAndCutsFollowTheLongToggle() {
    QFETCH(QStringList, names);
    QFETCH(QString, body);
    QFETCH(QString, withoutLong);
    QFETCH(QString, withLong);
    Fixture f;
    f.toCheckedContacts(names);
    f.compose->setBody(body);
    QCOMPARE(f.compose->bodyText(), body);
    QVERIFY(f.analysed());
    QLabel *parts = f.compose->partsLabel;
    const QColor normal = f.compose->palette().color(QPalette::WindowText);
    QCOMPARE(f.shownText(parts), withoutLong);
    if (!withoutLong.isEmpty())
        QVERIFY(textColour(parts) != normal);

    // The toggle changes what is said at once, without looking at the recipients again.
    f.compose->longButton->setChecked(true);
    QVERIFY(!f.compose->analysisTimer->isActive());
    QCOMPARE(f.shownText(parts), withLong);
    if (!withLong.isEmpty())
        QCOMPARE(textColour(parts), normal);
    f.compose->longButton->setChecked(false);
    QCOMPARE(f.shownText(parts), withoutLong);
}

void TestUiComposePersonal::textOverWhatALongMessageHolds() {
    Fixture f;
    f.toCheckedContacts({QStringLiteral("Al"), QStringLiteral("Maximilian Mustermann")});
    f.compose->longButton->setChecked(true);
    // 998 septets as typed; filled, 992 and 1011.
    const QString body = QString(990, QLatin1Char('x')) + QStringLiteral("{Name}");
    f.compose->setBody(body);
    QCOMPARE(f.compose->bodyText(), body);
    QCOMPARE(f.compose->charsLeftField->text(), QStringLiteral("(998/1000)"));
    QVERIFY(f.analysed());
    QCOMPARE(f.shownText(f.compose->partsLabel),
             QStringLiteral("For 1 recipient the text is longer than a long message can be: its "
                            "end is cut off."));
    QVERIFY(textColour(f.compose->partsLabel) != f.compose->palette().color(QPalette::WindowText));
    f.compose->previewLongestButton->click();
    QCOMPARE(f.compose->previewCountLabel->text(), QStringLiteral("GSM 7 bit (1011/1000) 7 SMS"));

    // Turning Long off keeps the template whole: it is over one SMS, and says so.
    f.compose->longButton->setChecked(false);
    QCOMPARE(f.compose->bodyText(), body);
    QCOMPARE(f.compose->charsLeftField->text(), QStringLiteral("(998/160)"));
    QVERIFY(f.compose->limitLabel->isVisibleTo(f.compose));
    QVERIFY(f.compose->personalPanel->isVisibleTo(f.compose));
}

void TestUiComposePersonal::analysisRunsOnceAfterABurstOfKeys() {
    Fixture f;
    f.toCheckedContacts({QStringLiteral("Anna"), QStringLiteral("Zoë"), QStringLiteral("Jonas")});
    QSignalSpy spy(f.compose, &ComposeView::analysisUpdated);
    typeText(f.compose->bodyEdit, QStringLiteral("Hello {Name}, see you on Friday at eight"));
    // Forty keystrokes and no analysis yet: only the timer was restarted.
    QCOMPARE(spy.count(), 0);
    QVERIFY(f.compose->analysisTimer->isActive());
    QCOMPARE(f.compose->analysisTimer->interval(), ComposeView::AnalysisDelayMs);
    QTRY_COMPARE(spy.count(), 1);
    QTest::qWait(3 * ComposeView::AnalysisDelayMs);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(f.shownText(f.compose->ucs2NamesLabel), QStringLiteral(u"1 name needs UCS-2: Zoë"));

    // Another recipient in To starts one more run.
    f.compose->toCombo->setEditText(QStringLiteral("0151 2345 6789"));
    f.compose->toCombo->setEditText(QStringLiteral("0151 2345 6789; 0160 1234567"));
    QTRY_COMPARE(spy.count(), 2);
    QCOMPARE(f.compose->previewCombo->count(), 2);
    QTest::qWait(3 * ComposeView::AnalysisDelayMs);
    QCOMPARE(spy.count(), 2);
}

void TestUiComposePersonal::recipientsLookedAtAgainWhenShown() {
    Fixture f;
    f.toCheckedContacts({QStringLiteral("Anna")});
    f.compose->setBody(QStringLiteral("Hi {Name}"));
    QVERIFY(f.analysed());
    QCOMPARE(f.compose->previewCombo->count(), 1);

    // While the view is hidden a contact is renamed: the count of contacts stays.
    f.compose->hide();
    Contact renamed = f.data->contactList->get(0);
    renamed.name = QStringLiteral("Zoë");
    f.data->contactList->put(0, renamed);
    f.compose->show();
    QVERIFY(f.analysed());
    QCOMPARE(f.compose->previewBodyEdit->toPlainText(), QStringLiteral(u"Hi Zoë"));
    QCOMPARE(f.shownText(f.compose->ucs2NamesLabel), QStringLiteral(u"1 name needs UCS-2: Zoë"));

    // An import while the view is shown adds contacts: they are looked at with the next change.
    Contact added;
    added.name = QStringLiteral("Jonas");
    added.number = "0160 1234567";
    f.data->contactList->add(added);
    typeText(f.compose->bodyEdit, QStringLiteral("!"));
    QVERIFY(f.analysed());
    QCOMPARE(f.compose->previewCombo->count(), 2);
}

QTEST_MAIN(TestUiComposePersonal)
#include "tst_ui_compose_personal.moc"
