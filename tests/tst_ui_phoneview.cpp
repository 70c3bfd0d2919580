// The phone view on real widgets, probing the simulated phone on a real pseudo-terminal.

#include "app/Database.h"
#include "app/Setting.h"
#include "data/OleDate.h"
#include "link/ComPort.h"
#include "link/GsmSerial.h"
#include "link/PhoneUnit.h"
#include "sending/SenderThread.h"
#include "support/TestViewHost.h"
#include "tools/modemsim/ModemSim.h"
#include "ui/SettingForm.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

namespace {

bool WaitIdle(TPhone &phone, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (phone.IsBusy() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return !phone.IsBusy();
}

QStringList Items(const QComboBox *box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

int CountOf(const QList<QByteArray> &commands, const QByteArray &command) {
    return int(std::count(commands.begin(), commands.end(), command));
}

// A data module on its own settings file with the stored port given, and the phone view on
// it, listing the ports that ports gives.
struct TViewFixture {
    TViewFixture(const QByteArray &storedPort, QList<QByteArray> ports) {
        SettingsFile = Dir.filePath(QStringLiteral("pelorvane.ini"));
        Data = std::make_unique<TDataModule1>(SettingsFile);
        Data->Settings->SetComPortName(storedPort);
        TfrmSetting::PortEnumerator() = [ports] { return ports; };
        View = std::make_unique<TfrmSetting>(*Data, Host);
        Host.Phone = View.get();
    }
    ~TViewFixture() {
        View.reset();
        Data.reset();
        TfrmSetting::PortEnumerator() = [] { return TComPort::ListPorts(); };
    }

    QByteArrayList Values() const {
        QByteArrayList values;
        for (int row = 0; row < TGetInfoThread::RowCount; ++row)
            values << View->Value(row);
        return values;
    }
    bool ShowAndProbe() {
        View->show();
        return WaitIdle(*Data->Phone);
    }

    QTemporaryDir Dir;
    QString SettingsFile;
    std::unique_ptr<TDataModule1> Data;
    TTestViewHost Host;
    std::unique_ptr<TfrmSetting> View;
};

} // namespace

class TestUiSetting : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void portNumber_data();
    void portNumber();
    void comPortsReorderedWhenOpened();
    void linuxPortsReorderedWhenOpened();
    void storedPortMissingLeavesNoSelection();
    void rowsAndShowProbes();
    void gmmRefusedShowsFirstTwo();
    void pickingPortStoresAndProbes();
    void probeSkippedDuringRun();
    void failedProbeClearsRows();
    void updateInPopupMenu();
    void sessionPortShownAsPlaceholder();
};

void TestUiSetting::portNumber_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("number");
    const int none = std::numeric_limits<int>::max();
    QTest::newRow("COM1") << QByteArray("COM1") << 1;
    QTest::newRow("COM10") << QByteArray("COM10") << 10;
    QTest::newRow("COMx: not a number") << QByteArray("COMx") << none;
    QTest::newRow("COM1a: rule of the COM names") << QByteArray("COM1a") << none;
    QTest::newRow("ttyUSB10") << QByteArray("ttyUSB10") << 10;
    QTest::newRow("ttyACM0") << QByteArray("ttyACM0") << 0;
    QTest::newRow("no number") << QByteArray("ttyGS") << none;
    QTest::newRow("too large") << QByteArray("ttyUSB99999999999") << none;
    QTest::newRow("empty") << QByteArray() << none;
}

void TestUiSetting::portNumber() {
    QFETCH(QByteArray, name);
    QFETCH(int, number);
    QCOMPARE(PortNumber(name), number);
}

void TestUiSetting::comPortsReorderedWhenOpened() {
    // The system's list as the serial transport gives it, from a sysfs tree of our own.
    QTemporaryDir root;
    QDir(root.path()).mkpath(QStringLiteral("dev"));
    for (const char *tty : {"ttyS0", "ttyS9", "ttyS1", "ttyS2"}) {
        QDir(root.path()).mkpath(QStringLiteral("sys/%1/device").arg(QLatin1StringView(tty)));
        QFile device(root.filePath(QStringLiteral("dev/%1").arg(QLatin1StringView(tty))));
        QVERIFY(device.open(QIODevice::WriteOnly));
    }
    const QList<QByteArray> ports = TComPort::ListPorts(root.filePath(QStringLiteral("sys")),
                                                        root.filePath(QStringLiteral("dev")));
    TViewFixture f("COM2", ports);
    QCOMPARE(Items(f.View->ComboBox1), (QStringList{"COM1", "COM10", "COM2", "COM3"}));
    QCOMPARE(f.View->ComboBox1->currentText(), QStringLiteral("COM2"));

    f.View->ComboBox1->showPopup();
    QCOMPARE(Items(f.View->ComboBox1), (QStringList{"COM1", "COM2", "COM3", "COM10"}));
    QCOMPARE(f.View->ComboBox1->currentText(), QStringLiteral("COM2"));
    f.View->ComboBox1->hidePopup();
    // Opening the list is no choice: the setting stays.
    QCOMPARE(f.Data->Settings->StoredComPortName(), QByteArray("COM2"));
    QVERIFY(!f.Data->Phone->IsBusy());
}

void TestUiSetting::linuxPortsReorderedWhenOpened() {
    TViewFixture f("ttyUSB10", {"rfcomm0", "ttyACM1", "ttyGS", "ttyUSB10", "ttyUSB2"});
    f.View->ComboBox1->showPopup();
    f.View->ComboBox1->hidePopup();
    QCOMPARE(Items(f.View->ComboBox1),
             (QStringList{"rfcomm0", "ttyACM1", "ttyUSB2", "ttyUSB10", "ttyGS"}));
    QCOMPARE(f.View->ComboBox1->currentText(), QStringLiteral("ttyUSB10"));
}

void TestUiSetting::storedPortMissingLeavesNoSelection() {
    TViewFixture f("COM7", {"COM1", "com7", "COM2"});
    QCOMPARE(f.View->ComboBox1->currentIndex(), -1);
    f.View->ComboBox1->showPopup();
    f.View->ComboBox1->hidePopup();
    QCOMPARE(f.View->ComboBox1->currentIndex(), -1);
}

void TestUiSetting::rowsAndShowProbes() {
    TModemSim sim;
    QVERIFY(sim.Start());
    const QByteArray port = sim.PortPath().toLocal8Bit();
    TViewFixture f(port, {"COM1", port});
    QCOMPARE(f.View->Caption(0), QByteArray("Battery Level"));
    QCOMPARE(f.View->Caption(1), QByteArray("Manufacturer"));
    QCOMPARE(f.View->Caption(2), QByteArray("Model"));
    QCOMPARE(f.View->Caption(3), QByteArray("Signal Strength"));
    QCOMPARE(f.Values(), (QByteArrayList{"", "", "", ""}));
    QCOMPARE(f.View->Model(), QString());
    QCOMPARE(f.View->ComboBox1->currentText(), QString::fromLocal8Bit(port));

    QVERIFY(f.ShowAndProbe());
    QCOMPARE(f.Values(), (QByteArrayList{"85%", "Pelorvane", "Demo GSM Phone", "High (20)"}));
    QCOMPARE(f.View->Model(), QStringLiteral("Demo GSM Phone"));
    QCOMPARE(f.Host.RefreshAllCount, 1);
    // Shown again: probed again.
    f.View->hide();
    f.View->show();
    QVERIFY(WaitIdle(*f.Data->Phone));
    QCOMPARE(CountOf(sim.Commands(), "AT+CBC"), 2);
}

void TestUiSetting::gmmRefusedShowsFirstTwo() {
    TModemSimOptions options;
    options.RefuseGmm = true;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    const QByteArray port = sim.PortPath().toLocal8Bit();
    TViewFixture f(port, {port});
    QVERIFY(f.ShowAndProbe());
    QCOMPARE(f.Values(), (QByteArrayList{"85%", "Pelorvane", "", ""}));
    QCOMPARE(f.View->Model(), QString());
    QCOMPARE(f.Host.RefreshAllCount, 1);
}

void TestUiSetting::pickingPortStoresAndProbes() {
    TModemSimOptions options;
    options.Model = "Picked Phone";
    TModemSim sim(options);
    QVERIFY(sim.Start());
    const QByteArray port = sim.PortPath().toLocal8Bit();
    QTemporaryDir dir;
    const QString settingsFile = dir.filePath(QStringLiteral("pelorvane.ini"));
    {
        TDataModule1 data(settingsFile);
        data.Settings->SetComPortName(dir.filePath(QStringLiteral("missing-port")).toLocal8Bit());
        TfrmSetting::PortEnumerator() = [port] { return QList<QByteArray>{port, "COM1"}; };
        TTestViewHost host;
        TfrmSetting view(data, host);
        TfrmSetting::PortEnumerator() = [] { return TComPort::ListPorts(); };
        view.show();
        QVERIFY(WaitIdle(*data.Phone)); // the stored port is not there: nothing to show
        QCOMPARE(view.Model(), QString());
        QVERIFY(sim.Commands().isEmpty());

        view.activateWindow();
        view.ComboBox1->setFocus();
        QTest::keyClick(view.ComboBox1, Qt::Key_Down);
        QCOMPARE(view.ComboBox1->currentText(), QString::fromLocal8Bit(port));
        QCOMPARE(data.Settings->StoredComPortName(), port);
        QVERIFY(data.Phone->IsBusy());
        QVERIFY(WaitIdle(*data.Phone));
        QCOMPARE(view.Model(), QStringLiteral("Picked Phone"));
        QCOMPARE(sim.Commands().first(), QByteArray("AT+CBC"));
        // Written when the program ends, not before.
        QVERIFY(!QFile::exists(settingsFile));
    }
    QFile ini(settingsFile);
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QByteArray text = ini.readAll();
    QVERIFY2(text.contains("COM Port=" + port), text.constData());
}

void TestUiSetting::probeSkippedDuringRun() {
    TModemSimOptions options;
    options.DelayMs = 60;
    TModemSim sim(options);
    QVERIFY(sim.Start());
    const QByteArray port = sim.PortPath().toLocal8Bit();
    TViewFixture f(port, {port});
    QVERIFY(f.ShowAndProbe());
    const QByteArrayList before = f.Values();
    QCOMPARE(before[2], QByteArray("Demo GSM Phone"));

    for (int i = 0; i < 4; ++i) {
        TMessage message;
        message.Number = "+4412345678" + QByteArray::number(i);
        message.Text = QStringLiteral("hello");
        message.Created = OleNow();
        f.Data->OutboxList->Add(message);
    }
    WithPhoneLock(*f.Data->Phone, [&] {
        QVERIFY(!f.Data->Phone->IsBusy());
        f.Data->Phone->Start(new TSenderThread(*f.Data));
    });
    QVERIFY(f.Data->Phone->IsBusy());
    // Opening the Phone folder and Update during the run start nothing.
    f.View->hide();
    f.View->show();
    f.View->actUpdate->trigger();
    f.View->Update();
    QVERIFY(WaitIdle(*f.Data->Phone));
    QCOMPARE(sim.BodiesSeen(), 4);
    QCOMPARE(CountOf(sim.Commands(), "AT+CBC"), 1);
    QCOMPARE(f.Values(), before);
}

void TestUiSetting::failedProbeClearsRows() {
    TModemSim sim;
    QVERIFY(sim.Start());
    const QByteArray port = sim.PortPath().toLocal8Bit();
    TViewFixture f(port, {port});
    QVERIFY(f.ShowAndProbe());
    QCOMPARE(f.View->Model(), QStringLiteral("Demo GSM Phone"));
    // The phone goes away: the old values must not stay as if they were current.
    f.Data->Settings->SetComPortName(f.Dir.filePath("gone").toLocal8Bit());
    f.View->Update();
    QVERIFY(WaitIdle(*f.Data->Phone));
    QCOMPARE(f.Values(), (QByteArrayList{"", "", "", ""}));
    QCOMPARE(f.View->Model(), QString());
    QVERIFY(f.Data->Phone->Reports.isEmpty());
}

void TestUiSetting::updateInPopupMenu() {
    TViewFixture f("COM1", {});
    const QList<QAction *> actions = f.View->PopupMenu->actions();
    QCOMPARE(actions.size(), 1);
    QCOMPARE(actions[0], f.View->actUpdate);
    QCOMPARE(actions[0]->text(), QStringLiteral("Update"));
}

void TestUiSetting::sessionPortShownAsPlaceholder() {
    TModemSim sim;
    QVERIFY(sim.Start());
    QTemporaryDir dir;
    TDataModule1 data(dir.filePath(QStringLiteral("pelorvane.ini")));
    data.Settings->SetComPortName("COM1");
    data.Settings->SetSessionPort(sim.PortPath().toLocal8Bit());
    TfrmSetting::PortEnumerator() = [] { return QList<QByteArray>{"COM1", "COM2"}; };
    TTestViewHost host;
    TfrmSetting view(data, host);
    TfrmSetting::PortEnumerator() = [] { return TComPort::ListPorts(); };
    QCOMPARE(view.ComboBox1->currentIndex(), -1);
    QCOMPARE(view.ComboBox1->placeholderText(),
             sim.PortPath() + QStringLiteral(" (this run only)"));
    view.show();
    QVERIFY(WaitIdle(*data.Phone));
    QCOMPARE(view.Model(), QStringLiteral("Demo GSM Phone"));
}

QTEST_MAIN(TestUiSetting)
#include "tst_ui_setting.moc"
