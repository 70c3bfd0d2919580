// A paced run from the main window against the simulated phone, on a fast fake clock: the
// status bar's progress line and bar, the explorer counts following each message, Esc and
// Shift+F5 ending a wait at once, and the phone view's Pace group kept in the settings file.

#include "base/OleDate.h"
#include "link/Phone.h"
#include "modemsim/ModemSim.h"
#include "support/FakeClock.h"
#include "support/MainWindowFixture.h"
#include "support/TestMessages.h"
#include "ui/ExplorerModel.h"
#include "ui/MessagesView.h"
#include "ui/PaceBox.h"
#include "ui/PhoneView.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTreeView>

namespace {

struct ProgressFixture : MainWindowFixture {
    ProgressFixture() {
        QString error;
        started = sim.start(&error);
        if (!started)
            qWarning("simulated phone: %s", qPrintable(error));
        data->settings->setSessionPort(sim.portPath().toLocal8Bit());
        data->settings->setRetryDelaysMs({});
        data->clock = clock;
        createWindow();
    }
    ~ProgressFixture() {
        window.reset();
        data.reset();
    }

    void addMessages(int count) {
        addNumberedMessages(*data->outboxList, count);
        window->refreshAll();
    }

    QString count(ExplorerModel::Node node) const {
        return window->explorerModel->index(node, 0).data(ExplorerModel::ExtraTextRole).toString();
    }

    bool waitIdle() {
        return waitFor([this] { return !window->sending() && !data->phone->isBusy(); });
    }

    ModemSim sim;
    bool started = false;
    std::shared_ptr<FakeClock> clock =
        std::make_shared<FakeClock>(QDateTime(QDate(2026, 12, 10), QTime(12, 0)));
};

} // namespace

class TestUiProgress : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void progressAndCountsFollowEachMessage();
    void stopKeysEndAWait_data();
    void stopKeysEndAWait();
    void paceGroupKeptInSettings();
};

void TestUiProgress::initTestCase() {
    Q_INIT_RESOURCE(resources);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestUiProgress::progressAndCountsFollowEachMessage() {
    ProgressFixture f;
    QVERIFY(f.started);
    PacePlan plan;
    plan.intervalMs = 30000;
    f.data->settings->setSessionPacePlan(plan);
    f.addMessages(4);
    MainWindow *w = f.window.get();
    QStringList texts;
    QStringList outboxCounts;
    QStringList sentCounts;
    QList<int> barValues;
    QObject::connect(w, &MainWindow::statusTextChanged, w, [&](const QString &text) {
        texts << text;
        outboxCounts << f.count(ExplorerModel::OutboxNode);
        sentCounts << f.count(ExplorerModel::SentNode);
        barValues << w->runProgressBar->value();
    });
    w->startAction->trigger();
    QVERIFY(w->runProgressBar->isVisible());
    QVERIFY(f.waitIdle());
    QVERIFY(!w->runProgressBar->isVisible());
    QCOMPARE(w->statusText(), QStringLiteral("Ready."));
    // Every message is counted as it goes, with the time left at the recent pace (30 s each).
    const QStringList expected = {QStringLiteral("Busy..."), QStringLiteral("Sending 1 of 4"),
                                  QStringLiteral("Sending 2 of 4 — about 2 min left"),
                                  QStringLiteral("Sending 3 of 4 — about 1 min left"),
                                  QStringLiteral("Sending 4 of 4 — about 30 s left")};
    for (const QString &text : expected)
        QVERIFY2(texts.contains(text), qPrintable(texts.join(QLatin1Char('|'))));
    const int third = texts.indexOf(QStringLiteral("Sending 3 of 4 — about 1 min left"));
    QCOMPARE(outboxCounts[third], QStringLiteral("(2)"));
    QCOMPARE(sentCounts[third], QStringLiteral("(2)"));
    QCOMPARE(barValues[third], 2);
    QCOMPARE(f.count(ExplorerModel::OutboxNode), QString());
    QCOMPARE(f.count(ExplorerModel::SentNode), QStringLiteral("(4)"));
}

void TestUiProgress::stopKeysEndAWait_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Esc") << int(Qt::Key_Escape) << int(Qt::NoModifier);
    QTest::newRow("Shift+F5") << int(Qt::Key_F5) << int(Qt::ShiftModifier);
}

void TestUiProgress::stopKeysEndAWait() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    ProgressFixture f;
    QVERIFY(f.started);
    // The real clock: a wait for tomorrow that only a stop ends.
    f.data->clock.reset();
    f.data->startAt = QTime::currentTime().addSecs(-60);
    f.addMessages(1);
    MainWindow *w = f.window.get();
    w->startAction->trigger();
    QVERIFY(f.waitFor([w] { return w->statusText().contains(QStringLiteral("to start")); }));
    QVERIFY2(w->statusText().startsWith(QStringLiteral("Waiting until tomorrow ")),
             qPrintable(w->statusText()));
    QCOMPARE(f.data->outboxList->get(0).status, MessageStatus::Pending);
    QElapsedTimer timer;
    timer.start();
    QTest::keyClick(static_cast<QWidget *>(w->explorer), Qt::Key(key),
                    Qt::KeyboardModifiers(modifiers));
    QVERIFY(f.waitIdle());
    QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(f.data->outboxList->get(0).status, MessageStatus::Pending);
    QVERIFY(f.questions.isEmpty());
}

void TestUiProgress::paceGroupKeptInSettings() {
    {
        ProgressFixture f;
        PaceBox *box = f.window->phoneView()->findChild<PaceBox *>(QStringLiteral("paceGroup"));
        QVERIFY(box);
        QVERIFY(!box->findChild<QSpinBox *>(QStringLiteral("jitterSpin"))->isEnabled());
        box->findChild<QDoubleSpinBox *>(QStringLiteral("intervalSpin"))->setValue(7.5);
        QVERIFY(box->findChild<QSpinBox *>(QStringLiteral("jitterSpin"))->isEnabled());
        box->findChild<QSpinBox *>(QStringLiteral("perHourSpin"))->setValue(40);
        box->findChild<QSpinBox *>(QStringLiteral("perDaySpin"))->setValue(300);
        box->findChild<QCheckBox *>(QStringLiteral("quietCheck"))->setChecked(true);
        box->findChild<QTimeEdit *>(QStringLiteral("quietFromEdit"))->setTime(QTime(22, 30));
        box->findChild<QCheckBox *>(QStringLiteral("startAtCheck"))->setChecked(true);
        QVERIFY(f.data->startAt.isValid());
        f.endProgram();
        // The next program reads the pace; the start time was for that program only.
        f.createData();
        const PacePlan plan = f.data->settings->pacePlan();
        QCOMPARE(plan.intervalMs, 7500);
        QCOMPARE(plan.perHour, 40);
        QCOMPARE(plan.perDay, 300);
        QCOMPARE(PacePlan::quietHoursText(plan.quietFrom, plan.quietUntil),
                 QStringLiteral("22:30-08:00"));
        f.createWindow(false);
        PaceBox *again = f.window->phoneView()->findChild<PaceBox *>(QStringLiteral("paceGroup"));
        QCOMPARE(again->findChild<QSpinBox *>(QStringLiteral("perHourSpin"))->value(), 40);
        QVERIFY(!again->findChild<QCheckBox *>(QStringLiteral("startAtCheck"))->isChecked());
    }
}

QTEST_MAIN(TestUiProgress)
#include "tst_ui_progress.moc"
