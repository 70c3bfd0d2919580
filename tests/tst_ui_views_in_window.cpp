// The contacts and phone views inside the real main window: its File menu entries run the
// contacts view's Import and Export, its caption and close question follow the views' rules,
// and the Phone folder shows the model that the probe read.

#include "app/AppData.h"
#include "app/Settings.h"
#include "base/OleDate.h"
#include "link/Phone.h"
#include "modemsim/ModemSim.h"
#include "support/DialogScript.h"
#include "ui/ContactModel.h"
#include "ui/ContactsView.h"
#include "ui/ExplorerModel.h"
#include "ui/MainWindow.h"
#include "ui/PhoneView.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

namespace {

bool waitIdle(Phone &phone, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (phone.isBusy() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return !phone.isBusy();
}

// The main window on a data module with its own settings file; the phone, when given, is the
// port of this run.
struct WindowFixture {
    explicit WindowFixture(const QString &port = QString()) {
        data = std::make_unique<AppData>(dir.filePath(QStringLiteral("pelorvane.ini")));
        if (!port.isEmpty())
            data->settings->setSessionPort(port.toLocal8Bit());
        window = std::make_unique<MainWindow>(*data);
        window->show();
    }
    ~WindowFixture() {
        data->modified = false;
        window.reset();
        data.reset();
    }

    void addContacts(int count) {
        for (int i = 0; i < count; ++i)
            data->contactList->add(Contact{QStringLiteral("Name %1").arg(i),
                                           "+4915100000" + QByteArray::number(i), 0, 0});
        window->refreshAll();
        data->modified = false;
        window->updateCaption();
    }
    QString phoneFolderText() const {
        return window->explorerModel->index(ExplorerModel::PhoneNode)
            .data(ExplorerModel::ExtraTextRole)
            .toString();
    }

    QTemporaryDir dir;
    std::unique_ptr<AppData> data;
    std::unique_ptr<MainWindow> window;
};

} // namespace

class TestUiViewsInWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void fileMenuImportAndExport();
    void checkBoxCaptionAtNextRefresh();
    void checkActionAsksNoSaveQuestion();
    void phoneFolderShowsModel_data();
    void phoneFolderShowsModel();
    void phoneFolderDuringRun();
};

void TestUiViewsInWindow::fileMenuImportAndExport() {
    WindowFixture f;
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.csv"));
    QFile file(in);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("A,1\nB,2\nA again,1\n");
    file.close();
    DialogScript dialogs;
    dialogs.fileNames = {in, dir.filePath(QStringLiteral("out.txt"))};
    // The contacts view has not been shown: the entries work all the same.
    f.window->importContactsAction->trigger();
    QCOMPARE(f.data->contactList->count(), 2);
    QCOMPARE(dialogs.messages.size(), 1);
    QVERIFY(dialogs.messages[0].text.startsWith(
        QStringLiteral("Imported 2 contacts, ignored 1 duplicates from\r\n")));
    QCOMPARE(f.window->contactsView()->totalLabel->text(), QStringLiteral("2"));

    f.window->exportContactsAction->trigger();
    QFile out(dir.filePath(QStringLiteral("out.txt")));
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), QByteArray("\"A\",\"1\",0\r\n\"B\",\"2\",0\r\n"));
}

void TestUiViewsInWindow::checkBoxCaptionAtNextRefresh() {
    WindowFixture f;
    f.addContacts(3);
    ContactsView *view = f.window->contactsView();
    f.window->showView(view);
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    QTest::mouseClick(
        view->listView->viewport(), Qt::LeftButton, {},
        view->listView->visualRect(view->model->index(1, ContactModel::CheckColumn)).center());
    QCOMPARE(view->checkedLabel->text(), QStringLiteral("1"));
    QVERIFY(f.data->modified);
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    f.window->refreshAll();
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Untitled* - Pelorvane"));
}

void TestUiViewsInWindow::checkActionAsksNoSaveQuestion() {
    WindowFixture f;
    f.addContacts(6);
    ContactsView *view = f.window->contactsView();
    f.window->showView(view);
    QItemSelection rows;
    for (int row : {0, 2, 3, 5})
        rows.select(view->model->index(row, 0),
                    view->model->index(row, ContactModel::ColumnCount - 1));
    view->listView->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
    view->checkAction->trigger();
    QCOMPARE(view->checkedLabel->text(), QStringLiteral("4"));
    QCOMPARE(f.data->contactList->checkedCount(), 4);
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Untitled - Pelorvane"));

    DialogScript dialogs;
    QVERIFY(f.window->close());
    QVERIFY(dialogs.messages.isEmpty());
}

void TestUiViewsInWindow::phoneFolderShowsModel_data() {
    QTest::addColumn<bool>("refuseGmm");
    QTest::addColumn<QString>("shown");
    QTest::newRow("model known") << false << QStringLiteral("(Demo GSM Phone)");
    QTest::newRow("model refused") << true << QString();
}

void TestUiViewsInWindow::phoneFolderShowsModel() {
    QFETCH(bool, refuseGmm);
    QFETCH(QString, shown);
    ModemSimOptions options;
    options.refuseGmm = refuseGmm;
    ModemSim sim(options);
    QVERIFY(sim.start());
    WindowFixture f(sim.portPath());
    QCOMPARE(f.phoneFolderText(), QString());
    f.window->viewPhoneAction->trigger();
    QVERIFY(waitIdle(*f.data->phone));
    QCOMPARE(f.phoneFolderText(), shown);
    QCOMPARE(sim.commands().first(), QByteArray("AT+CBC"));
}

void TestUiViewsInWindow::phoneFolderDuringRun() {
    ModemSimOptions options;
    options.delayMs = 50;
    ModemSim sim(options);
    QVERIFY(sim.start());
    WindowFixture f(sim.portPath());
    for (int i = 0; i < 3; ++i) {
        Message message;
        message.number = "+4915100000" + QByteArray::number(i);
        message.text = QStringLiteral("hello");
        message.created = oleNow();
        f.data->outboxList->add(message);
    }
    f.window->startAction->trigger();
    QVERIFY(f.window->sending());
    f.window->viewPhoneAction->trigger();
    f.window->phoneView()->updateAction->trigger();
    QVERIFY(waitIdle(*f.data->phone));
    QCOMPARE(sim.bodiesSeen(), 3);
    QVERIFY(!sim.commands().contains("AT+CBC"));
    QCOMPARE(f.phoneFolderText(), QString());
    QCOMPARE(f.data->sentList->count(), 3);
}

QTEST_MAIN(TestUiViewsInWindow)
#include "tst_ui_views_in_window.moc"
