// The contacts and phone views inside the real main window: its File menu entries run the
// contacts view's Import and Export, its caption and close question follow the views' rules,
// and the Phone folder shows the model that the probe read.

#include "app/Database.h"
#include "app/Setting.h"
#include "data/OleDate.h"
#include "link/PhoneUnit.h"
#include "support/DialogScript.h"
#include "tools/modemsim/ModemSim.h"
#include "ui/ContactForm.h"
#include "ui/ContactModel.h"
#include "ui/ExplorerModel.h"
#include "ui/MainForm.h"
#include "ui/SettingForm.h"

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

bool WaitIdle(TPhone &phone, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (phone.IsBusy() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return !phone.IsBusy();
}

// The main window on a data module with its own settings file; the phone, when given, is the
// port of this run.
struct TWindowFixture {
    explicit TWindowFixture(const QString &port = QString()) {
        Data = std::make_unique<TDataModule1>(Dir.filePath(QStringLiteral("pelorvane.ini")));
        if (!port.isEmpty())
            Data->Settings->SetSessionPort(port.toLocal8Bit());
        Window = std::make_unique<TfrmPelorvane>(*Data);
        Window->show();
    }
    ~TWindowFixture() {
        Data->Modified = false;
        Window.reset();
        Data.reset();
    }

    void AddContacts(int count) {
        for (int i = 0; i < count; ++i)
            Data->ContactList->Add(TContact{QStringLiteral("Name %1").arg(i),
                                            "+4915100000" + QByteArray::number(i), 0, 0});
        Window->RefreshAll();
        Data->Modified = false;
        Window->UpdateCaption();
    }
    QString PhoneFolderText() const {
        return Window->ExplorerModel->index(TExplorerModel::ndPhone)
            .data(TExplorerModel::ExtraTextRole)
            .toString();
    }

    QTemporaryDir Dir;
    std::unique_ptr<TDataModule1> Data;
    std::unique_ptr<TfrmPelorvane> Window;
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
    TWindowFixture f;
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.csv"));
    QFile file(in);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("A,1\nB,2\nA again,1\n");
    file.close();
    TDialogScript dialogs;
    dialogs.FileNames = {in, dir.filePath(QStringLiteral("out.txt"))};
    // The contacts view has not been shown: the entries work all the same.
    f.Window->actImportContact->trigger();
    QCOMPARE(f.Data->ContactList->Count(), 2);
    QCOMPARE(dialogs.Messages.size(), 1);
    QVERIFY(dialogs.Messages[0].Text.startsWith(
        QStringLiteral("Imported 2 contacts, ignored 1 duplicates from\r\n")));
    QCOMPARE(f.Window->ContactsView()->lblTotal->text(), QStringLiteral("2"));

    f.Window->actExportContact->trigger();
    QFile out(dir.filePath(QStringLiteral("out.txt")));
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), QByteArray("\"A\",\"1\",0\r\n\"B\",\"2\",0\r\n"));
}

void TestUiViewsInWindow::checkBoxCaptionAtNextRefresh() {
    TWindowFixture f;
    f.AddContacts(3);
    TfrmContact *view = f.Window->ContactsView();
    f.Window->ShowView(view);
    QVERIFY(QTest::qWaitForWindowExposed(f.Window.get()));
    QCOMPARE(f.Window->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    QTest::mouseClick(
        view->Treeview->viewport(), Qt::LeftButton, {},
        view->Treeview->visualRect(view->Model->index(1, TContactModel::colCheck)).center());
    QCOMPARE(view->lblChecked->text(), QStringLiteral("1"));
    QVERIFY(f.Data->Modified);
    QCOMPARE(f.Window->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    f.Window->RefreshAll();
    QCOMPARE(f.Window->windowTitle(), QStringLiteral("Untitled* - Pelorvane"));
}

void TestUiViewsInWindow::checkActionAsksNoSaveQuestion() {
    TWindowFixture f;
    f.AddContacts(6);
    TfrmContact *view = f.Window->ContactsView();
    f.Window->ShowView(view);
    QItemSelection rows;
    for (int row : {0, 2, 3, 5})
        rows.select(view->Model->index(row, 0),
                    view->Model->index(row, TContactModel::ColumnCount - 1));
    view->Treeview->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
    view->actCheck->trigger();
    QCOMPARE(view->lblChecked->text(), QStringLiteral("4"));
    QCOMPARE(f.Data->ContactList->CheckedCount(), 4);
    QCOMPARE(f.Window->windowTitle(), QStringLiteral("Untitled - Pelorvane"));

    TDialogScript dialogs;
    QVERIFY(f.Window->close());
    QVERIFY(dialogs.Messages.isEmpty());
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
    TModemSimOptions options;
    options.RefuseGmm = refuseGmm;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    TWindowFixture f(sim.PortPath());
    QCOMPARE(f.PhoneFolderText(), QString());
    f.Window->actViewPhone->trigger();
    QVERIFY(WaitIdle(*f.Data->Phone));
    QCOMPARE(f.PhoneFolderText(), shown);
    QCOMPARE(sim.Commands().first(), QByteArray("AT+CBC"));
}

void TestUiViewsInWindow::phoneFolderDuringRun() {
    TModemSimOptions options;
    options.DelayMs = 50;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    TWindowFixture f(sim.PortPath());
    for (int i = 0; i < 3; ++i) {
        TMessage message;
        message.Number = "+4915100000" + QByteArray::number(i);
        message.Text = QStringLiteral("hello");
        message.Created = OleNow();
        f.Data->OutboxList->Add(message);
    }
    f.Window->actStart->trigger();
    QVERIFY(f.Window->Sending());
    f.Window->actViewPhone->trigger();
    f.Window->PhoneView()->actUpdate->trigger();
    QVERIFY(WaitIdle(*f.Data->Phone));
    QCOMPARE(sim.BodiesSeen(), 3);
    QVERIFY(!sim.Commands().contains("AT+CBC"));
    QCOMPARE(f.PhoneFolderText(), QString());
    QCOMPARE(f.Data->SentList->Count(), 3);
}

QTEST_MAIN(TestUiViewsInWindow)
#include "tst_ui_views_in_window.moc"
