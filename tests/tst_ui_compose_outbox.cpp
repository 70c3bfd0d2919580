// Send to Outbox of the compose view on real widgets: personal texts, numbers in the form that
// is sent, and what the user is told about numbers and placeholders that cannot be queued.

#include "app/AppData.h"
#include "support/DialogScript.h"
#include "support/ViewTestHost.h"
#include "ui/ComposeView.h"
#include "ui/MessageModel.h"
#include "ui/MessagesView.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

struct Fixture {
    Fixture() {
        data = std::make_unique<AppData>(dir.filePath(QStringLiteral("pelorvane.ini")));
        data->settings->setCountry(QStringLiteral("DE"));
        host = std::make_unique<ViewTestHost>(*data);
        compose = host->composeView();
        host->pane->show();
    }

    void addContact(const QString &name, const QByteArray &number, bool checked = true) {
        Contact contact;
        contact.name = name;
        contact.number = number;
        contact.checked = checked ? 1 : 0;
        data->contactList->add(contact);
    }
    void send(const QString &to, const QString &body) {
        compose->toCombo->setEditText(to);
        compose->setBody(body);
        compose->sendToOutboxButton->click();
    }
    QList<QPair<QByteArray, QString>> outbox() const {
        QList<QPair<QByteArray, QString>> messages;
        for (int i = 0; i < data->outboxList->count(); ++i)
            messages.append({data->outboxList->get(i).number, data->outboxList->get(i).text});
        return messages;
    }

    DialogScript dialogs;
    QTemporaryDir dir;
    std::unique_ptr<AppData> data;
    std::unique_ptr<ViewTestHost> host;
    ComposeView *compose = nullptr;
};

using Messages = QList<QPair<QByteArray, QString>>;

} // namespace

class TestUiComposeOutbox : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void personalTextsToCheckedContacts();
    void typedNumbersTakeTheirContactsName();
    void refusedNumbersAreNamed();
    void nothingQueuableStaysOnCompose();
    void unknownPlaceholderQueuesNothing();
    void unverifiedNumbersAsked_data();
    void unverifiedNumbersAsked();
};

void TestUiComposeOutbox::personalTextsToCheckedContacts() {
    Fixture f;
    f.addContact(QStringLiteral("Anna Becker"), "0151 2345 6789");
    f.addContact(QStringLiteral("Jonas"), "0160 1234567", false);
    f.addContact(QString(), "+49 170 7654321");
    f.compose->toCombo->showPopup();
    f.compose->toCombo->hidePopup();
    f.compose->toCombo->setCurrentIndex(1);
    f.compose->subjectEdit->setText(QStringLiteral("Club"));
    f.compose->setBody(QStringLiteral("Hi {FirstName|there}"));
    f.compose->sendToOutboxButton->click();
    QCOMPARE(f.outbox(),
             (Messages{{"+4915123456789", "Club:Hi Anna"}, {"+491707654321", "Club:Hi there"}}));
    QVERIFY(f.dialogs.messages.isEmpty());
    QCOMPARE(f.host->lastShown(), static_cast<QWidget *>(f.host->outboxView()));
    QCOMPARE(f.host->outboxView()->model()->rowCount(), 2);
    // The stored contact keeps what was typed.
    QCOMPARE(f.data->contactList->get(0).number, QByteArray("0151 2345 6789"));
}

void TestUiComposeOutbox::typedNumbersTakeTheirContactsName() {
    Fixture f;
    f.addContact(QStringLiteral("Anna Becker"), "+49 151 23456789");
    f.send(QStringLiteral("0151-2345 6789; 22333"), QStringLiteral("Dear {Name|customer}"));
    QCOMPARE(f.outbox(),
             (Messages{{"+4915123456789", "Dear Anna Becker"}, {"22333", "Dear customer"}}));
}

void TestUiComposeOutbox::refusedNumbersAreNamed() {
    Fixture f;
    f.send(QStringLiteral("0151 23456789;112;abc"), QStringLiteral("hello"));
    QCOMPARE(f.outbox(), (Messages{{"+4915123456789", "hello"}}));
    QCOMPARE(f.dialogs.messages.size(), 1);
    QCOMPARE(f.dialogs.messages[0].kind, MessageKind::Error);
    QCOMPARE(f.dialogs.messages[0].text,
             QStringLiteral("2 numbers were not queued:\n112: emergency number\nabc: not a phone "
                            "number"));
    QCOMPARE(f.host->lastShown(), static_cast<QWidget *>(f.host->outboxView()));
}

void TestUiComposeOutbox::nothingQueuableStaysOnCompose() {
    Fixture f;
    f.send(QStringLiteral("110"), QStringLiteral("hello"));
    QCOMPARE(f.data->outboxList->count(), 0);
    QCOMPARE(f.dialogs.messages.size(), 1);
    QCOMPARE(f.dialogs.messages[0].text,
             QStringLiteral("1 number was not queued:\n110: emergency number"));
    QVERIFY(f.host->shown.isEmpty());
    QVERIFY(!f.data->modified);
}

void TestUiComposeOutbox::unknownPlaceholderQueuesNothing() {
    Fixture f;
    f.send(QStringLiteral("0151 23456789;abc"), QStringLiteral("Hallo {Vorname}"));
    QCOMPARE(f.data->outboxList->count(), 0);
    QCOMPARE(f.dialogs.messages.size(), 1);
    QCOMPARE(f.dialogs.messages[0].kind, MessageKind::Error);
    QCOMPARE(f.dialogs.messages[0].text,
             QStringLiteral("Unknown placeholder {Vorname}: nothing was queued. The known ones "
                            "are {Name}, {FirstName} and {Number}."));
    QVERIFY(f.host->shown.isEmpty());
    // The fields stay for the correction.
    QCOMPARE(f.compose->bodyText(), QStringLiteral("Hallo {Vorname}"));
}

void TestUiComposeOutbox::unverifiedNumbersAsked_data() {
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<Messages>("queued");
    QTest::newRow("yes queues them")
        << QMessageBox::Yes << Messages{{"+447700900456", "hi"}, {"+4915123456789", "hi"}};
    QTest::newRow("no leaves them out") << QMessageBox::No << Messages{{"+4915123456789", "hi"}};
}

void TestUiComposeOutbox::unverifiedNumbersAsked() {
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(Messages, queued);
    Fixture f;
    f.dialogs.answers = {answer};
    f.send(QStringLiteral("+44 7700 900456;0151 23456789"), QStringLiteral("hi"));
    QCOMPARE(f.outbox(), queued);
    QVERIFY(f.dialogs.messages.size() >= 1);
    QCOMPARE(f.dialogs.messages[0].kind, MessageKind::Confirm);
    QCOMPARE(f.dialogs.messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(f.dialogs.messages[0].text,
             QStringLiteral("1 number is not a valid number for its country:\n+44 7700 900456\n"
                            "Queue it anyway?"));
    if (answer == QMessageBox::No) {
        QCOMPARE(f.dialogs.messages.size(), 2);
        QCOMPARE(f.dialogs.messages[1].text,
                 QStringLiteral("1 number was not queued:\n+44 7700 900456: not a valid number "
                                "for its country"));
    } else {
        QCOMPARE(f.dialogs.messages.size(), 1);
    }
}

QTEST_MAIN(TestUiComposeOutbox)
#include "tst_ui_compose_outbox.moc"
