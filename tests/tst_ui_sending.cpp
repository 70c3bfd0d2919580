// Sending runs from the main window against the simulated phone on a real pseudo-terminal:
// Start and F5, Stop, the transfer to the sent folder, the report box, and closing the window
// while a run is active.

#include "base/OleDate.h"
#include "link/Phone.h"
#include "link/SerialPort.h"
#include "modemsim/ModemSim.h"
#include "support/MainWindowFixture.h"
#include "support/TestMessages.h"
#include "ui/ExplorerModel.h"
#include "ui/MessageModel.h"
#include "ui/MessagesView.h"
#include "ui/PhoneView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QMovie>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <unistd.h>

#include <cerrno>
#include <future>
#include <memory>
#include <thread>

namespace {

struct RunFixture : MainWindowFixture {
    explicit RunFixture(ModemSimOptions options = {}) : sim(options) {
        QString error;
        started = sim.start(&error);
        if (!started)
            qWarning("simulated phone: %s", qPrintable(error));
        data->settings->setSessionPort(sim.portPath().toLocal8Bit());
        // A message refused for a while waits for the next run rather than for minutes.
        data->settings->setRetryDelaysMs({});
        createWindow();
    }
    ~RunFixture() {
        // The window ends a run that is still going before the phone goes away.
        window.reset();
        data.reset();
    }

    void addMessages(int count) {
        addNumberedMessages(*data->outboxList, count);
        window->refreshAll();
    }

    QStringList texts(const MessageList &list) const {
        QStringList texts;
        for (int i = 0; i < list.count(); ++i)
            texts << list.get(i).text;
        return texts;
    }

    bool waitIdle(int timeoutMs = 20000) {
        return waitFor([this] { return !window->sending() && !data->phone->isBusy(); }, timeoutMs);
    }

    ModemSim sim;
    bool started = false;
};

} // namespace

class TestUiSending : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void startOnEmptyOutbox();
    void runSendsThreeOfFive();
    void wholeOutboxSentAndStatusesShown();
    void f5DuringRunDoesNothing();
    void stopShowsStoppingThenReady();
    void startWhilePhoneIsLockedDoesNothing();
    void closeDuringRunStopsWaitsAndMoves();
    void closeDuringRunCancelKeepsWindow();
    void closeDuringRunNotConfirmedKeepsRunning();
    void newAndOpenDuringRunStopAndWait();
    void deleteDuringRunKeepsAcceptedMessages();
    void destroyingWindowDuringRunKeepsSentMessages();
    void retryAndCutDuringRun();
    void phoneModelBesideFolder();
    void busyPortNamedInRunBox();
    void pinAskedAndNetworkWaitShown();
    void runOverTwoPhones();
};

void TestUiSending::initTestCase() {
    Q_INIT_RESOURCE(resources);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestUiSending::startOnEmptyOutbox() {
    RunFixture f;
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    QVERIFY(!f.data->modified);
    w->startAction->trigger();
    QVERIFY(w->sending());
    QCOMPARE(w->statusText(), QStringLiteral("Busy..."));
    QCOMPARE(w->startButton->defaultAction(), w->stopAction);
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->outboxView()));
    QVERIFY(f.waitIdle());
    QCOMPARE(w->statusText(), QStringLiteral("Ready."));
    QCOMPARE(w->startButton->defaultAction(), w->startAction);
    // Having shown Stop, the button offers no drop-down with it.
    QCOMPARE(w->startButton->actions(), QList<QAction *>{w->startAction});
    QVERIFY(w->activityClip->state() != QMovie::Running);
    QVERIFY(f.questions.isEmpty());
    QVERIFY(!f.data->modified);
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    QCOMPARE(f.data->sentList->count(), 0);
    QVERIFY(f.sim.commands().contains("AT+CMGF=0"));
}

void TestUiSending::runSendsThreeOfFive() {
    ModemSimOptions options;
    options.failAt = 4;
    RunFixture f(options);
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    Message old;
    old.number = "1";
    old.text = QStringLiteral("sent long ago");
    old.status = MessageStatus::Sent;
    old.sent = oleNow() - 10;
    f.data->sentList->add(old);
    f.addMessages(5);
    f.data->modified = false;
    w->refreshAll();
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));

    QTest::keyClick(w, Qt::Key_F5);
    QVERIFY(w->sending());
    QVERIFY(f.waitIdle());

    // Message 4 is refused for a while: it waits for the next run, and message 5 still goes.
    QCOMPARE(f.texts(*f.data->sentList),
             (QStringList{"sent long ago", "message 1", "message 2", "message 3", "message 5"}));
    QCOMPARE(f.texts(*f.data->outboxList), (QStringList{"message 4"}));
    for (int i = 0; i < f.data->outboxList->count(); ++i)
        QCOMPARE(f.data->outboxList->get(i).status, MessageStatus::Pending);
    for (int i = 1; i < f.data->sentList->count(); ++i) {
        QCOMPARE(f.data->sentList->get(i).status, MessageStatus::Sent);
        QVERIFY(oleIsSet(f.data->sentList->get(i).sent));
    }
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled* - Pelorvane"));
    const auto extra = [w](int node) {
        return w->explorerModel->index(node, 0).data(ExplorerModel::ExtraTextRole).toString();
    };
    QCOMPARE(extra(ExplorerModel::OutboxNode), QStringLiteral("(1)"));
    QCOMPARE(extra(ExplorerModel::SentNode), QStringLiteral("(5)"));
    QCOMPARE(w->outboxView()->model()->rowCount(), 1);
    QCOMPARE(w->sentView()->model()->rowCount(), 5);
    QCOMPARE(w->outboxView()->model()->index(0, MessageModel::SentColumn).data().toString(),
             QStringLiteral("-"));
    QCOMPARE(w->statusText(), QStringLiteral("Ready."));

    // One box for the run, not one per message, each line ended by CR LF.
    QCOMPARE(f.questions.size(), 1);
    QCOMPARE(f.questions[0].kind, MessageKind::Warning);
    QCOMPARE(f.questions[0].buttons, QMessageBox::Ok);
    QCOMPARE(f.questions[0].text, QStringLiteral("Sent 4 of 5: 1 not sent\r\n"));
    QCOMPARE(f.sim.received().size(), 4);
}

void TestUiSending::wholeOutboxSentAndStatusesShown() {
    ModemSimOptions options;
    options.delayMs = 40;
    RunFixture f(options);
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    f.addMessages(3);
    // The outbox view is refreshed while the run goes: a row turns to sending, then sent.
    QList<MessageStatus> statusesSeen;
    f.data->onRefreshAll = [&] {
        w->refreshAll();
        if (f.data->outboxList->count() > 0)
            statusesSeen << f.data->outboxList->get(0).status;
    };
    w->startAction->trigger();
    QVERIFY(w->activityClip->state() == QMovie::Running);
    QVERIFY(f.waitIdle());
    QVERIFY(statusesSeen.contains(MessageStatus::Sending));
    QVERIFY(statusesSeen.contains(MessageStatus::Sent));
    QCOMPARE(f.data->outboxList->count(), 0);
    QCOMPARE(f.data->sentList->count(), 3);
    QVERIFY(f.questions.isEmpty());
    QCOMPARE(f.data->contactList->count(), 0);
}

void TestUiSending::f5DuringRunDoesNothing() {
    ModemSimOptions options;
    options.delayMs = 60;
    RunFixture f(options);
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    f.addMessages(4);
    w->startAction->trigger();
    QVERIFY(w->sending());
    auto *worker = f.data->phone->worker();
    QVERIFY(worker);
    QTest::keyClick(w, Qt::Key_F5);
    w->startAction->trigger();
    QCOMPARE(f.data->phone->worker(), worker);
    QCOMPARE(w->startButton->defaultAction(), w->stopAction);
    QVERIFY(w->stopAction->isEnabled());
    // Busy, or already the run's progress.
    QVERIFY2(w->statusText() == QStringLiteral("Busy...") ||
                 w->statusText().startsWith(QStringLiteral("Sending ")),
             qPrintable(w->statusText()));
    QVERIFY(f.waitIdle());
    QCOMPARE(f.data->sentList->count(), 4);
    // One run: the set-up commands went to the phone once.
    QCOMPARE(f.sim.commands().count("AT+CMGF=0"), 1);
}

void TestUiSending::stopShowsStoppingThenReady() {
    ModemSimOptions options;
    options.delayMs = 150;
    RunFixture f(options);
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    f.addMessages(20);
    QStringList statusTexts;
    QStringList statuses;
    // The progress lines between Busy and Stopping are another test's.
    QObject::connect(w, &MainWindow::statusTextChanged, [&](const QString &text) {
        if (!text.startsWith(QStringLiteral("Sending ")))
            statuses << text;
    });
    w->startAction->trigger();
    QVERIFY(f.waitFor([&] { return f.data->outboxList->get(0).status != MessageStatus::Pending; }));
    w->stopAction->trigger();
    statusTexts << w->statusText();
    QVERIFY(!w->stopAction->isEnabled());
    QCOMPARE(w->startButton->defaultAction(), w->stopAction);
    // Stop only asks: the run is still active until the worker has ended.
    QVERIFY(w->sending());
    // Idle time keeps Stop disabled while stopping.
    QTest::qWait(20);
    QVERIFY(!w->stopAction->isEnabled());
    QVERIFY(f.waitIdle());
    statusTexts << w->statusText();
    QCOMPARE(statusTexts, (QStringList{"Stopping...", "Ready."}));
    QCOMPARE(statuses, (QStringList{"Busy...", "Stopping...", "Ready."}));
    QVERIFY(f.data->sentList->count() < 20);
    QCOMPARE(f.data->sentList->count() + f.data->outboxList->count(), 20);
    // What the phone accepted is in the sent folder, nothing more.
    QCOMPARE(f.data->sentList->count(), f.sim.received().size());
    QCOMPARE(w->startButton->defaultAction(), w->startAction);
    QVERIFY(w->startAction->isEnabled());
    QVERIFY(!w->stopAction->isEnabled());
}

void TestUiSending::startWhilePhoneIsLockedDoesNothing() {
    RunFixture f;
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    f.addMessages(1);
    // Another holder of the phone's lock (the lock is re-entrant, so it must be another
    // thread).
    std::promise<void> locked;
    std::promise<void> release;
    std::thread holder([&] {
        f.data->phone->tryLock();
        locked.set_value();
        release.get_future().wait();
        f.data->phone->unlock();
    });
    locked.get_future().wait();
    w->startAction->trigger();
    release.set_value();
    holder.join();
    QVERIFY(!w->sending());
    QVERIFY(!f.data->phone->isBusy());
    QCOMPARE(w->statusText(), QString());
    QCOMPARE(w->startButton->defaultAction(), w->startAction);
    QVERIFY(f.questions.isEmpty());
    // Stop without a run does nothing either.
    w->stopAction->setEnabled(true);
    w->stopAction->trigger();
    QCOMPARE(w->statusText(), QString());
}

void TestUiSending::closeDuringRunStopsWaitsAndMoves() {
    ModemSimOptions options;
    options.delayMs = 120;
    RunFixture f(options);
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    f.addMessages(20);
    w->startAction->trigger();
    QVERIFY(f.waitFor([&] { return f.data->outboxList->get(0).status == MessageStatus::Sent; }));

    // At the close question the run has ended and what it sent has moved.
    QString statusAtQuestion;
    int sentAtQuestion = -1;
    bool busyAtQuestion = true;
    f.onQuestion = [&] {
        statusAtQuestion = w->statusText();
        sentAtQuestion = f.data->sentList->count();
        busyAtQuestion = f.data->phone->isBusy() || w->sending();
    };
    QStringList statuses;
    int secondClose = -1;
    QObject::connect(w, &MainWindow::statusTextChanged, [&](const QString &text) {
        statuses << text;
        // Another close while waiting for the run is ignored.
        if (text == QStringLiteral("Stopping...")) {
            w->close();
            secondClose = w->isVisible() ? 0 : 1;
        }
    });
    f.answers << QMessageBox::Yes << QMessageBox::No;
    QVERIFY(w->close());

    QCOMPARE(f.questions.size(), 2);
    QCOMPARE(f.questions[0].text, QStringLiteral("A run is in progress. Stop it and exit?"));
    QCOMPARE(f.questions[1].text, QStringLiteral("Save \"Untitled\" before exit ?"));
    QVERIFY(!busyAtQuestion);
    QCOMPARE(statusAtQuestion, QStringLiteral("Ready."));
    QCOMPARE(statuses, (QStringList{"Stopping...", "Ready."}));
    QCOMPARE(secondClose, 0);
    QVERIFY(sentAtQuestion >= 1);
    QCOMPARE(sentAtQuestion, f.sim.received().size());
    QCOMPARE(f.data->sentList->count() + f.data->outboxList->count(), 20);
    QVERIFY(!w->isVisible());
}

void TestUiSending::closeDuringRunCancelKeepsWindow() {
    ModemSimOptions options;
    options.delayMs = 80;
    RunFixture f(options);
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    f.addMessages(10);
    w->startAction->trigger();
    QVERIFY(f.waitFor([&] { return f.data->outboxList->get(0).status == MessageStatus::Sent; }));
    f.answers << QMessageBox::Yes << QMessageBox::Cancel;
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
    QVERIFY(!w->sending());
    QCOMPARE(w->statusText(), QStringLiteral("Ready."));
    // The project now holds the run's result: a save would keep it.
    QCOMPARE(f.data->sentList->count(), f.sim.received().size());
    // A new run can start.
    w->startAction->trigger();
    QVERIFY(w->sending());
    QVERIFY(f.waitIdle());
    QCOMPARE(f.data->sentList->count(), 10);
}

void TestUiSending::closeDuringRunNotConfirmedKeepsRunning() {
    ModemSimOptions options;
    options.delayMs = 40;
    RunFixture f(options);
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    f.addMessages(5);
    w->startAction->trigger();
    f.answers << QMessageBox::No;
    QVERIFY(!w->close());
    QCOMPARE(f.questions.size(), 1);
    QVERIFY(w->isVisible());
    QVERIFY(f.waitIdle());
    QCOMPARE(f.data->sentList->count(), 5);
}

// New and Open during a run: the run ends and its sent messages move before the save
// question, so the saved project holds them and no message of another project goes out.
void TestUiSending::newAndOpenDuringRunStopAndWait() {
    for (const bool open : {false, true}) {
        ModemSimOptions options;
        options.delayMs = 100;
        RunFixture f(options);
        QVERIFY(f.started);
        MainWindow *w = f.window.get();
        f.addMessages(20);
        w->startAction->trigger();
        QVERIFY(
            f.waitFor([&] { return f.data->outboxList->get(0).status == MessageStatus::Sent; }));
        int sentAtQuestion = -1;
        bool busyAtQuestion = true;
        f.onQuestion = [&] {
            sentAtQuestion = f.data->sentList->count();
            busyAtQuestion = f.data->phone->isBusy() || w->sending();
        };
        // Cancel at the save question: the document stays, with the run's result in it.
        f.answers << QMessageBox::Cancel;
        if (open) {
            f.fileNames << f.dir.filePath(QStringLiteral("other.sms"));
            w->openAction->trigger();
        } else {
            w->newAction->trigger();
        }
        QVERIFY(!busyAtQuestion);
        QCOMPARE(sentAtQuestion, f.sim.received().size());
        QVERIFY(sentAtQuestion >= 1);
        QCOMPARE(f.data->sentList->count() + f.data->outboxList->count(), 20);
        for (int i = 0; i < f.data->outboxList->count(); ++i)
            QCOMPARE(f.data->outboxList->get(i).status, MessageStatus::Pending);
    }
}

// Delete while the phone takes a message: the message being sent and those it accepted stay
// in the outbox and move to Sent when the run ends; the others go.
void TestUiSending::deleteDuringRunKeepsAcceptedMessages() {
    ModemSimOptions options;
    options.delayMs = 150;
    RunFixture f(options);
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    f.addMessages(6);
    w->startAction->trigger();
    QVERIFY(f.waitFor([&] {
        return f.data->outboxList->get(0).status == MessageStatus::Sent &&
               f.data->outboxList->get(1).status == MessageStatus::Sending;
    }));
    w->showView(w->outboxView());
    w->outboxView()->refreshList();
    w->outboxView()->listView()->selectAll();
    f.answers << QMessageBox::Yes;
    w->outboxView()->deleteAction->trigger();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.texts(*f.data->sentList), (QStringList{"message 1", "message 2"}));
    QCOMPARE(f.data->outboxList->count(), 0);
    QCOMPARE(f.sim.received().size(), 2);
}

void TestUiSending::destroyingWindowDuringRunKeepsSentMessages() {
    ModemSimOptions options;
    options.delayMs = 80;
    RunFixture f(options);
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    f.addMessages(10);
    w->startAction->trigger();
    QVERIFY(f.waitFor([&] { return f.data->outboxList->get(0).status == MessageStatus::Sent; }));
    f.window.reset();
    QVERIFY(!f.data->phone->isBusy());
    QVERIFY(!f.data->onRefreshAll);
    QVERIFY(!f.data->phone->onWorkerDone);
    QCOMPARE(f.data->sentList->count(), f.sim.received().size());
    for (int i = 0; i < f.data->outboxList->count(); ++i)
        QVERIFY(f.data->outboxList->get(i).status != MessageStatus::Sent);
}

// During a run the retry actions stay off (the run's summary counts those messages already),
// and Cut only copies: the message being sent and those the phone accepted stay in the outbox
// and move to Sent at the end. After the run Retry failed puts the refused one back.
void TestUiSending::retryAndCutDuringRun() {
    ModemSimOptions options;
    options.delayMs = 150;
    options.refuseAt.insert(1, "+CMS ERROR: 1");
    RunFixture f(options);
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    f.addMessages(6);
    w->startAction->trigger();
    QVERIFY(f.waitFor([&] {
        return f.data->outboxList->get(1).status == MessageStatus::Sent &&
               f.data->outboxList->get(2).status == MessageStatus::Sending;
    }));
    QCOMPARE(f.data->outboxList->get(0).status, MessageStatus::Failed);
    MessagesView *outbox = w->outboxView();
    w->showView(outbox);
    auto *retryFailed = outbox->findChild<QAction *>(QStringLiteral("actRetryFailed"));
    QVERIFY(retryFailed);
    outbox->updateActions();
    QVERIFY(!retryFailed->isEnabled());
    retryFailed->trigger();
    QCOMPARE(f.data->outboxList->get(0).status, MessageStatus::Failed);

    outbox->refreshList();
    outbox->listView()->setFocus();
    outbox->listView()->selectAll();
    QApplication::clipboard()->clear();
    // Were Cut a Delete, this answer would let it remove what it may.
    f.answers << QMessageBox::Yes;
    QTest::keySequence(outbox->listView(), QKeySequence::Cut);
    QCOMPARE(f.answers.size(), 1);
    f.answers.clear();
    QCOMPARE(f.data->outboxList->count(), 6);
    QCOMPARE(QApplication::clipboard()->text().count(QLatin1Char('\n')), 5);
    QCOMPARE(f.data->outboxList->get(1).status, MessageStatus::Sent);

    QVERIFY(f.waitIdle());
    QCOMPARE(f.texts(*f.data->sentList),
             (QStringList{"message 2", "message 3", "message 4", "message 5", "message 6"}));
    QCOMPARE(f.texts(*f.data->outboxList), QStringList{"message 1"});
    QCOMPARE(f.sim.received().size(), 5);
    outbox->updateActions();
    QVERIFY(retryFailed->isEnabled());
    retryFailed->trigger();
    QCOMPARE(f.data->outboxList->get(0).status, MessageStatus::Pending);
    QVERIFY(f.data->modified);
}

void TestUiSending::phoneModelBesideFolder() {
    RunFixture f;
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    const auto phoneText = [w] {
        return w->explorerModel->index(ExplorerModel::PhoneNode, 0)
            .data(ExplorerModel::ExtraTextRole)
            .toString();
    };
    QCOMPARE(phoneText(), QString());
    // After a run the phone's end handler stays the window's: a probe's end says "Ready."
    // again and moves nothing.
    f.addMessages(1);
    w->startAction->trigger();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.data->sentList->count(), 1);
    w->setStatusText(QStringLiteral("something else"));
    // Showing the phone view probes the phone, which names its model.
    w->showView(w->phoneView());
    QVERIFY(f.waitFor([&] { return !phoneText().isEmpty() && !f.data->phone->isBusy(); }));
    QCOMPARE(phoneText(), QStringLiteral("(Demo GSM Phone)"));
    QTRY_COMPARE(w->statusText(), QStringLiteral("Ready."));
    QCOMPARE(f.data->sentList->count(), 1);
    QVERIFY(f.questions.isEmpty());
}

void TestUiSending::busyPortNamedInRunBox() {
    RunFixture f;
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    f.addMessages(1);
    // Another program (here: this one) holds the phone's port.
    SerialPort holder(f.sim.portPath().toLocal8Bit());
    holder.open();
    QTest::keyClick(w, Qt::Key_F5);
    QVERIFY(f.waitIdle());
    QCOMPARE(f.data->outboxList->count(), 1);
    QCOMPARE(f.questions.size(), 1);
    QCOMPARE(f.questions[0].kind, MessageKind::Error);
    const QString heldBy = QStringLiteral("\n%1 is in use by tst_ui_sending (pid %2)\nClose the "
                                          "port in that program, or choose another port.\r\n")
                               .arg(f.sim.portPath().mid(5))
                               .arg(::getpid());
    // The error and its code as ever; the explanation on the lines after it.
    QVERIFY2(
        f.questions[0].text ==
                QStringLiteral("Unable to open com port (win error code: %1)").arg(EBUSY) +
                    heldBy ||
            f.questions[0].text ==
                QStringLiteral("Unable to open com port (win error code: %1)").arg(EWOULDBLOCK) +
                    heldBy,
        qPrintable(f.questions[0].text));
}

QTEST_MAIN(TestUiSending)
// Two phones share the outbox: the status bar tells where each stands and the Sent view says
// which phone sent each message.
void TestUiSending::runOverTwoPhones() {
    ModemSimOptions paced;
    paced.delayMs = 15;
    RunFixture f(paced);
    paced.delayMs = 25;
    ModemSim second(paced);
    QVERIFY(f.started);
    QVERIFY(second.start());
    const QByteArray port1 = f.sim.portPath().toLocal8Bit();
    const QByteArray port2 = second.portPath().toLocal8Bit();
    QVERIFY(f.data->settings->setSessionPorts({port1, port2}));
    MainWindow *w = f.window.get();
    QStringList statuses;
    QObject::connect(w, &MainWindow::statusTextChanged,
                     [&](const QString &text) { statuses << text; });
    f.addMessages(8);
    w->startAction->trigger();
    QVERIFY(f.waitIdle());
    QVERIFY2(f.questions.isEmpty(), qPrintable(f.questions.value(0).text));
    QCOMPARE(f.data->sentList->count(), 8);
    QSet<QString> phones;
    for (int i = 0; i < 8; ++i)
        phones << f.data->sentList->get(i).phone;
    QCOMPARE(phones, (QSet<QString>{QString::fromLocal8Bit(port1), QString::fromLocal8Bit(port2)}));
    const auto both = [&](const QString &text) {
        return text.contains(QString::fromLocal8Bit(port1) + QStringLiteral(": ")) &&
               text.contains(QString::fromLocal8Bit(port2) + QStringLiteral(": "));
    };
    QVERIFY2(std::any_of(statuses.cbegin(), statuses.cend(), both),
             qPrintable(statuses.join(QLatin1Char('\n'))));
    QCOMPARE(w->statusText(), QStringLiteral("Ready."));
    QVERIFY(!w->sentView()->listView()->isColumnHidden(MessageModel::PhoneColumn));
}

#include "tst_ui_sending.moc"

void TestUiSending::pinAskedAndNetworkWaitShown() {
    ModemSimOptions options;
    options.pin = "3579";
    options.registerAfterMs = 1500;
    RunFixture f(options);
    QVERIFY(f.started);
    MainWindow *w = f.window.get();
    f.addMessages(2);
    QStringList prompts;
    bool onUiThread = false;
    dialogHooks().pin = [&](const QString &text) -> std::optional<QString> {
        prompts << text;
        onUiThread = QThread::currentThread() == qApp->thread();
        return QStringLiteral("3579");
    };
    w->startAction->trigger();
    QVERIFY(
        f.waitFor([&] { return w->statusText() == QStringLiteral("Waiting for the network…"); }));
    QVERIFY(f.waitIdle());
    QCOMPARE(prompts.size(), 1);
    QVERIFY2(prompts[0].contains(QStringLiteral("The SIM card asks for its PIN (3 tries left)")),
             qPrintable(prompts[0]));
    QVERIFY(onUiThread);
    QCOMPARE(f.data->sentList->count(), 2);
    QCOMPARE(w->statusText(), QStringLiteral("Ready."));
    QCOMPARE(w->phoneStatusLabel->text(), QStringLiteral("Pelorvane Net (GSM)"));
    QVERIFY(f.questions.isEmpty());
    // Nothing of the PIN is kept in the settings.
    f.window.reset();
    QFile ini(f.iniPath());
    if (ini.open(QIODevice::ReadOnly))
        QVERIFY(!ini.readAll().contains("3579"));
}
