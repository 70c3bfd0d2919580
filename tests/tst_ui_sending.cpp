// Sending runs from the main window against the simulated phone on a real pseudo-terminal:
// Start and F5, Stop, the transfer to the sent folder, the report box, and closing the window
// while a run is active.

#include "data/OleDate.h"
#include "link/PhoneUnit.h"
#include "support/MainWindowFixture.h"
#include "tools/modemsim/ModemSim.h"
#include "ui/ExplorerModel.h"
#include "ui/MessageForm.h"
#include "ui/MessageModel.h"
#include "ui/SettingForm.h"

#include <QAction>
#include <QLabel>
#include <QMovie>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <future>
#include <memory>
#include <thread>

namespace {

struct TRunFixture : TMainWindowFixture {
    explicit TRunFixture(TModemSimOptions options = {}) : Sim(options) {
        QString error;
        Started = Sim.Start(&error);
        if (!Started)
            qWarning("simulated phone: %s", qPrintable(error));
        Data->Settings->SetSessionPort(Sim.PortPath().toLocal8Bit());
        CreateWindow();
    }
    ~TRunFixture() {
        // The window ends a run that is still going before the phone goes away.
        Window.reset();
        Data.reset();
    }

    void AddMessages(int count) {
        for (int i = 1; i <= count; ++i) {
            TMessage message;
            message.Number = QByteArray::number(5550100 + i);
            message.Text = QStringLiteral("message %1").arg(i);
            message.Created = OleNow();
            Data->OutboxList->Add(message);
        }
        Window->RefreshAll();
    }

    QStringList Texts(const TMessageList &list) const {
        QStringList texts;
        for (int i = 0; i < list.Count(); ++i)
            texts << list.Get(i).Text;
        return texts;
    }

    bool WaitIdle(int timeoutMs = 20000) {
        return WaitFor([this] { return !Window->Sending() && !Data->Phone->IsBusy(); }, timeoutMs);
    }

    TModemSim Sim;
    bool Started = false;
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
    void destroyingWindowDuringRunKeepsSentMessages();
    void phoneModelBesideFolder();
};

void TestUiSending::initTestCase() {
    Q_INIT_RESOURCE(resources);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestUiSending::startOnEmptyOutbox() {
    TRunFixture f;
    QVERIFY(f.Started);
    TfrmPelorvane *w = f.Window.get();
    QVERIFY(!f.Data->Modified);
    w->actStart->trigger();
    QVERIFY(w->Sending());
    QCOMPARE(w->StatusText(), QStringLiteral("Busy..."));
    QCOMPARE(w->btnStart->defaultAction(), w->actStop);
    QCOMPARE(w->CurrentView(), static_cast<QWidget *>(w->OutboxView()));
    QVERIFY(f.WaitIdle());
    QCOMPARE(w->StatusText(), QStringLiteral("Ready."));
    QCOMPARE(w->btnStart->defaultAction(), w->actStart);
    QVERIFY(w->AnimateClip->state() != QMovie::Running);
    QVERIFY(f.Questions.isEmpty());
    QVERIFY(!f.Data->Modified);
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    QCOMPARE(f.Data->SentList->Count(), 0);
    QVERIFY(f.Sim.Commands().contains("AT+CMGF=0"));
}

void TestUiSending::runSendsThreeOfFive() {
    TModemSimOptions options;
    options.FailAt = 4;
    TRunFixture f(options);
    QVERIFY(f.Started);
    TfrmPelorvane *w = f.Window.get();
    TMessage old;
    old.Number = "1";
    old.Text = QStringLiteral("sent long ago");
    old.Status = msSent;
    old.Sent = OleNow() - 10;
    f.Data->SentList->Add(old);
    f.AddMessages(5);
    f.Data->Modified = false;
    w->RefreshAll();
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));

    QTest::keyClick(w, Qt::Key_F5);
    QVERIFY(w->Sending());
    QVERIFY(f.WaitIdle());

    QCOMPARE(f.Texts(*f.Data->SentList),
             (QStringList{"sent long ago", "message 1", "message 2", "message 3"}));
    QCOMPARE(f.Texts(*f.Data->OutboxList), (QStringList{"message 4", "message 5"}));
    for (int i = 0; i < f.Data->OutboxList->Count(); ++i)
        QCOMPARE(f.Data->OutboxList->Get(i).Status, msPending);
    for (int i = 1; i < f.Data->SentList->Count(); ++i) {
        QCOMPARE(f.Data->SentList->Get(i).Status, msSent);
        QVERIFY(OleIsSet(f.Data->SentList->Get(i).Sent));
    }
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled* - Pelorvane"));
    const auto extra = [w](int node) {
        return w->ExplorerModel->index(node, 0).data(TExplorerModel::ExtraTextRole).toString();
    };
    QCOMPARE(extra(TExplorerModel::ndOutbox), QStringLiteral("(2)"));
    QCOMPARE(extra(TExplorerModel::ndSent), QStringLiteral("(4)"));
    QCOMPARE(w->OutboxView()->Model()->rowCount(), 2);
    QCOMPARE(w->SentView()->Model()->rowCount(), 4);
    QCOMPARE(w->OutboxView()->Model()->index(0, TMessageListModel::colSent).data().toString(),
             QStringLiteral("-"));
    QCOMPARE(w->StatusText(), QStringLiteral("Ready."));

    // The refusal is shown once, in one error box, each line ended by CR LF.
    QCOMPARE(f.Questions.size(), 1);
    QCOMPARE(f.Questions[0].Kind, TMsgKind::Error);
    QCOMPARE(f.Questions[0].Buttons, QMessageBox::Ok);
    QVERIFY(f.Questions[0].Text.contains(QStringLiteral("+CMS ERROR: 500")));
    QVERIFY(f.Questions[0].Text.endsWith(QStringLiteral("\r\n")));
    QCOMPARE(f.Sim.Received().size(), 3);
}

void TestUiSending::wholeOutboxSentAndStatusesShown() {
    TModemSimOptions options;
    options.DelayMs = 40;
    TRunFixture f(options);
    QVERIFY(f.Started);
    TfrmPelorvane *w = f.Window.get();
    f.AddMessages(3);
    // The outbox view is refreshed while the run goes: a row turns to sending, then sent.
    QList<int> statusesSeen;
    f.Data->OnRefreshAll = [&] {
        w->RefreshAll();
        if (f.Data->OutboxList->Count() > 0)
            statusesSeen << f.Data->OutboxList->Get(0).Status;
    };
    w->actStart->trigger();
    QVERIFY(w->AnimateClip->state() == QMovie::Running);
    QVERIFY(f.WaitIdle());
    QVERIFY(statusesSeen.contains(msSending));
    QVERIFY(statusesSeen.contains(msSent));
    QCOMPARE(f.Data->OutboxList->Count(), 0);
    QCOMPARE(f.Data->SentList->Count(), 3);
    QVERIFY(f.Questions.isEmpty());
    QCOMPARE(f.Data->ContactList->Count(), 0);
}

void TestUiSending::f5DuringRunDoesNothing() {
    TModemSimOptions options;
    options.DelayMs = 60;
    TRunFixture f(options);
    QVERIFY(f.Started);
    TfrmPelorvane *w = f.Window.get();
    f.AddMessages(4);
    w->actStart->trigger();
    QVERIFY(w->Sending());
    auto *worker = f.Data->Phone->Worker();
    QVERIFY(worker);
    QTest::keyClick(w, Qt::Key_F5);
    w->actStart->trigger();
    QCOMPARE(f.Data->Phone->Worker(), worker);
    QCOMPARE(w->btnStart->defaultAction(), w->actStop);
    QVERIFY(w->actStop->isEnabled());
    QCOMPARE(w->StatusText(), QStringLiteral("Busy..."));
    QVERIFY(f.WaitIdle());
    QCOMPARE(f.Data->SentList->Count(), 4);
    // One run: the set-up commands went to the phone once.
    QCOMPARE(f.Sim.Commands().count("AT+CMGF=0"), 1);
}

void TestUiSending::stopShowsStoppingThenReady() {
    TModemSimOptions options;
    options.DelayMs = 150;
    TRunFixture f(options);
    QVERIFY(f.Started);
    TfrmPelorvane *w = f.Window.get();
    f.AddMessages(20);
    QStringList statusTexts;
    QStringList statuses;
    QObject::connect(w, &TfrmPelorvane::StatusTextChanged,
                     [&](const QString &text) { statuses << text; });
    w->actStart->trigger();
    QVERIFY(f.WaitFor([&] { return f.Data->OutboxList->Get(0).Status != msPending; }));
    w->actStop->trigger();
    statusTexts << w->StatusText();
    QVERIFY(!w->actStop->isEnabled());
    QCOMPARE(w->btnStart->defaultAction(), w->actStop);
    // Stop only asks: the run is still active until the worker has ended.
    QVERIFY(w->Sending());
    // Idle time keeps Stop disabled while stopping.
    QTest::qWait(20);
    QVERIFY(!w->actStop->isEnabled());
    QVERIFY(f.WaitIdle());
    statusTexts << w->StatusText();
    QCOMPARE(statusTexts, (QStringList{"Stopping...", "Ready."}));
    QCOMPARE(statuses, (QStringList{"Busy...", "Stopping...", "Ready."}));
    QVERIFY(f.Data->SentList->Count() < 20);
    QCOMPARE(f.Data->SentList->Count() + f.Data->OutboxList->Count(), 20);
    // What the phone accepted is in the sent folder, nothing more.
    QCOMPARE(f.Data->SentList->Count(), f.Sim.Received().size());
    QCOMPARE(w->btnStart->defaultAction(), w->actStart);
    QVERIFY(w->actStart->isEnabled());
    QVERIFY(!w->actStop->isEnabled());
}

void TestUiSending::startWhilePhoneIsLockedDoesNothing() {
    TRunFixture f;
    QVERIFY(f.Started);
    TfrmPelorvane *w = f.Window.get();
    f.AddMessages(1);
    // Another holder of the phone's lock (the lock is re-entrant, so it must be another
    // thread).
    std::promise<void> locked;
    std::promise<void> release;
    std::thread holder([&] {
        f.Data->Phone->TryLock();
        locked.set_value();
        release.get_future().wait();
        f.Data->Phone->Unlock();
    });
    locked.get_future().wait();
    w->actStart->trigger();
    release.set_value();
    holder.join();
    QVERIFY(!w->Sending());
    QVERIFY(!f.Data->Phone->IsBusy());
    QCOMPARE(w->StatusText(), QString());
    QCOMPARE(w->btnStart->defaultAction(), w->actStart);
    QVERIFY(f.Questions.isEmpty());
    // Stop without a run does nothing either.
    w->actStop->setEnabled(true);
    w->actStop->trigger();
    QCOMPARE(w->StatusText(), QString());
}

void TestUiSending::closeDuringRunStopsWaitsAndMoves() {
    TModemSimOptions options;
    options.DelayMs = 120;
    TRunFixture f(options);
    QVERIFY(f.Started);
    TfrmPelorvane *w = f.Window.get();
    f.AddMessages(20);
    w->actStart->trigger();
    QVERIFY(f.WaitFor([&] { return f.Data->OutboxList->Get(0).Status == msSent; }));

    // At the close question the run has ended and what it sent has moved.
    QString statusAtQuestion;
    int sentAtQuestion = -1;
    bool busyAtQuestion = true;
    f.OnQuestion = [&] {
        statusAtQuestion = w->StatusText();
        sentAtQuestion = f.Data->SentList->Count();
        busyAtQuestion = f.Data->Phone->IsBusy() || w->Sending();
    };
    QStringList statuses;
    int secondClose = -1;
    QObject::connect(w, &TfrmPelorvane::StatusTextChanged, [&](const QString &text) {
        statuses << text;
        // Another close while waiting for the run is ignored.
        if (text == QStringLiteral("Stopping...")) {
            w->close();
            secondClose = w->isVisible() ? 0 : 1;
        }
    });
    f.Answers << QMessageBox::No;
    QVERIFY(w->close());

    QCOMPARE(f.Questions.size(), 1);
    QCOMPARE(f.Questions[0].Text, QStringLiteral("Save \"Untitled\" before exit ?"));
    QVERIFY(!busyAtQuestion);
    QCOMPARE(statusAtQuestion, QStringLiteral("Ready."));
    QCOMPARE(statuses, (QStringList{"Stopping...", "Ready."}));
    QCOMPARE(secondClose, 0);
    QVERIFY(sentAtQuestion >= 1);
    QCOMPARE(sentAtQuestion, f.Sim.Received().size());
    QCOMPARE(f.Data->SentList->Count() + f.Data->OutboxList->Count(), 20);
    QVERIFY(!w->isVisible());
}

void TestUiSending::closeDuringRunCancelKeepsWindow() {
    TModemSimOptions options;
    options.DelayMs = 80;
    TRunFixture f(options);
    QVERIFY(f.Started);
    TfrmPelorvane *w = f.Window.get();
    f.AddMessages(10);
    w->actStart->trigger();
    QVERIFY(f.WaitFor([&] { return f.Data->OutboxList->Get(0).Status == msSent; }));
    f.Answers << QMessageBox::Cancel;
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
    QVERIFY(!w->Sending());
    QCOMPARE(w->StatusText(), QStringLiteral("Ready."));
    // The project now holds the run's result: a save would keep it.
    QCOMPARE(f.Data->SentList->Count(), f.Sim.Received().size());
    // A new run can start.
    w->actStart->trigger();
    QVERIFY(w->Sending());
    QVERIFY(f.WaitIdle());
    QCOMPARE(f.Data->SentList->Count(), 10);
}

void TestUiSending::destroyingWindowDuringRunKeepsSentMessages() {
    TModemSimOptions options;
    options.DelayMs = 80;
    TRunFixture f(options);
    QVERIFY(f.Started);
    TfrmPelorvane *w = f.Window.get();
    f.AddMessages(10);
    w->actStart->trigger();
    QVERIFY(f.WaitFor([&] { return f.Data->OutboxList->Get(0).Status == msSent; }));
    f.Window.reset();
    QVERIFY(!f.Data->Phone->IsBusy());
    QVERIFY(!f.Data->OnRefreshAll);
    QVERIFY(!f.Data->Phone->OnWorkerDone);
    QCOMPARE(f.Data->SentList->Count(), f.Sim.Received().size());
    for (int i = 0; i < f.Data->OutboxList->Count(); ++i)
        QVERIFY(f.Data->OutboxList->Get(i).Status != msSent);
}

void TestUiSending::phoneModelBesideFolder() {
    TRunFixture f;
    QVERIFY(f.Started);
    TfrmPelorvane *w = f.Window.get();
    const auto phoneText = [w] {
        return w->ExplorerModel->index(TExplorerModel::ndPhone, 0)
            .data(TExplorerModel::ExtraTextRole)
            .toString();
    };
    QCOMPARE(phoneText(), QString());
    // After a run the phone's end handler stays the window's: a probe's end says "Ready."
    // again and moves nothing.
    f.AddMessages(1);
    w->actStart->trigger();
    QVERIFY(f.WaitIdle());
    QCOMPARE(f.Data->SentList->Count(), 1);
    w->SetStatusText(QStringLiteral("something else"));
    // Showing the phone view probes the phone, which names its model.
    w->ShowView(w->PhoneView());
    QVERIFY(f.WaitFor([&] { return !phoneText().isEmpty() && !f.Data->Phone->IsBusy(); }));
    QCOMPARE(phoneText(), QStringLiteral("(Demo GSM Phone)"));
    QTRY_COMPARE(w->StatusText(), QStringLiteral("Ready."));
    QCOMPARE(f.Data->SentList->Count(), 1);
    QVERIFY(f.Questions.isEmpty());
}

QTEST_MAIN(TestUiSending)
#include "tst_ui_sending.moc"
