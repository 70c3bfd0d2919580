// The phone view on real widgets, probing the simulated phone on a real pseudo-terminal.

#include "app/AppData.h"
#include "app/Settings.h"
#include "base/OleDate.h"
#include "link/GsmSerial.h"
#include "link/Phone.h"
#include "link/SerialPort.h"
#include "modemsim/ModemSim.h"
#include "sending/SenderThread.h"
#include "support/DialogScript.h"
#include "support/TestFiles.h"
#include "support/TestViewHost.h"
#include "ui/PhoneView.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

namespace {

bool waitIdle(Phone &phone, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (phone.isBusy() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return !phone.isBusy();
}

QStringList items(const QComboBox *box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

int countOf(const QList<QByteArray> &commands, const QByteArray &command) {
    return int(std::count(commands.begin(), commands.end(), command));
}

// A data module on its own settings file with the stored port given, and the phone view on
// it, listing the ports that ports gives.
struct ViewFixture {
    ViewFixture(const QByteArray &storedPort, QList<QByteArray> ports) {
        settingsFile = dir.filePath(QStringLiteral("pelorvane.ini"));
        data = std::make_unique<AppData>(settingsFile);
        data->settings->setComPortName(storedPort);
        PhoneView::portEnumerator() = [ports] { return ports; };
        view = std::make_unique<PhoneView>(*data, host);
        host.phone = view.get();
    }
    ~ViewFixture() {
        view.reset();
        data.reset();
        PhoneView::portEnumerator() = [] { return SerialPort::listPorts(); };
    }

    // The four rows that come first, as they always did.
    QByteArrayList values() const {
        QByteArrayList values;
        for (int row = 0; row <= ProbeThread::SignalStrengthRow; ++row)
            values << view->value(row);
        return values;
    }
    // The rows of the checks after them.
    QByteArrayList checks() const {
        QByteArrayList values;
        for (int row = ProbeThread::SimRow; row < ProbeThread::RowCount; ++row)
            values << view->value(row);
        return values;
    }
    bool showAndProbe() {
        view->show();
        return waitIdle(*data->phone);
    }

    QTemporaryDir dir;
    QString settingsFile;
    std::unique_ptr<AppData> data;
    TestViewHost host;
    std::unique_ptr<PhoneView> view;
};

} // namespace

class TestUiPhoneView : public QObject {
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
    void countryChoiceIsStored();
    void serviceCentreIsStoredAndUsedByTheProbe();
};

void TestUiPhoneView::portNumber_data() {
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

void TestUiPhoneView::portNumber() {
    QFETCH(QByteArray, name);
    QFETCH(int, number);
    QCOMPARE(::portNumber(name), number);
}

void TestUiPhoneView::comPortsReorderedWhenOpened() {
    // The system's list as the serial transport gives it, from a sysfs tree of our own.
    QTemporaryDir root;
    QDir(root.path()).mkpath(QStringLiteral("dev"));
    for (const char *tty : {"ttyS0", "ttyS9", "ttyS1", "ttyS2"}) {
        QDir(root.path()).mkpath(QStringLiteral("sys/%1/device").arg(QLatin1StringView(tty)));
        QFile device(root.filePath(QStringLiteral("dev/%1").arg(QLatin1StringView(tty))));
        QVERIFY(device.open(QIODevice::WriteOnly));
    }
    const QList<QByteArray> ports = SerialPort::listPorts(root.filePath(QStringLiteral("sys")),
                                                          root.filePath(QStringLiteral("dev")));
    ViewFixture f("COM2", ports);
    QCOMPARE(items(f.view->portCombo), (QStringList{"COM1", "COM10", "COM2", "COM3"}));
    QCOMPARE(f.view->portCombo->currentText(), QStringLiteral("COM2"));

    f.view->portCombo->showPopup();
    QCOMPARE(items(f.view->portCombo), (QStringList{"COM1", "COM2", "COM3", "COM10"}));
    QCOMPARE(f.view->portCombo->currentText(), QStringLiteral("COM2"));
    f.view->portCombo->hidePopup();
    // Opening the list is no choice: the setting stays.
    QCOMPARE(f.data->settings->storedComPortName(), QByteArray("COM2"));
    QVERIFY(!f.data->phone->isBusy());
}

void TestUiPhoneView::linuxPortsReorderedWhenOpened() {
    ViewFixture f("ttyUSB10", {"rfcomm0", "ttyACM1", "ttyGS", "ttyUSB10", "ttyUSB2"});
    f.view->portCombo->showPopup();
    f.view->portCombo->hidePopup();
    QCOMPARE(items(f.view->portCombo),
             (QStringList{"rfcomm0", "ttyACM1", "ttyUSB2", "ttyUSB10", "ttyGS"}));
    QCOMPARE(f.view->portCombo->currentText(), QStringLiteral("ttyUSB10"));
}

void TestUiPhoneView::storedPortMissingLeavesNoSelection() {
    ViewFixture f("COM7", {"COM1", "com7", "COM2"});
    QCOMPARE(f.view->portCombo->currentIndex(), -1);
    f.view->portCombo->showPopup();
    f.view->portCombo->hidePopup();
    QCOMPARE(f.view->portCombo->currentIndex(), -1);
}

void TestUiPhoneView::rowsAndShowProbes() {
    ModemSim sim;
    QVERIFY(sim.start());
    const QByteArray port = sim.portPath().toLocal8Bit();
    ViewFixture f(port, {"COM1", port});
    QCOMPARE(f.view->caption(0), QByteArray("Battery Level"));
    QCOMPARE(f.view->caption(1), QByteArray("Manufacturer"));
    QCOMPARE(f.view->caption(2), QByteArray("Model"));
    QCOMPARE(f.view->caption(3), QByteArray("Signal Strength"));
    QCOMPARE(f.view->caption(4), QByteArray("SIM"));
    QCOMPARE(f.view->caption(7), QByteArray("Service centre"));
    QCOMPARE(f.view->caption(9), QByteArray("IMEI"));
    QCOMPARE(f.view->caption(10), QByteArray());
    QCOMPARE(f.values(), (QByteArrayList{"", "", "", ""}));
    QCOMPARE(f.view->phoneModel(), QString());
    QCOMPARE(f.view->portCombo->currentText(), QString::fromLocal8Bit(port));

    QVERIFY(f.showAndProbe());
    QCOMPARE(f.values(), (QByteArrayList{"85%", "Pelorvane", "Demo GSM Phone", "High (20)"}));
    QCOMPARE(f.checks(), (QByteArrayList{"Ready", "home (GSM)", "Pelorvane Net", "+491710760000",
                                         "-73 dBm", "356938035643809"}));
    QCOMPARE(f.view->phoneModel(), QStringLiteral("Demo GSM Phone"));
    QCOMPARE(f.host.refreshAllCount, 1);
    // Shown again: probed again.
    f.view->hide();
    f.view->show();
    QVERIFY(waitIdle(*f.data->phone));
    QCOMPARE(countOf(sim.commands(), "AT+CBC"), 2);
}

void TestUiPhoneView::gmmRefusedShowsFirstTwo() {
    ModemSimOptions options;
    options.refuseGmm = true;
    ModemSim sim(options);
    QVERIFY(sim.start());
    const QByteArray port = sim.portPath().toLocal8Bit();
    ViewFixture f(port, {port});
    QVERIFY(f.showAndProbe());
    QCOMPARE(f.values(), (QByteArrayList{"85%", "Pelorvane", "", ""}));
    QCOMPARE(f.view->phoneModel(), QString());
    QCOMPARE(f.host.refreshAllCount, 1);
}

void TestUiPhoneView::pickingPortStoresAndProbes() {
    ModemSimOptions options;
    options.model = "Picked Phone";
    ModemSim sim(options);
    QVERIFY(sim.start());
    const QByteArray port = sim.portPath().toLocal8Bit();
    QTemporaryDir dir;
    const QString settingsFile = dir.filePath(QStringLiteral("pelorvane.ini"));
    {
        AppData data(settingsFile);
        data.settings->setComPortName(dir.filePath(QStringLiteral("missing-port")).toLocal8Bit());
        PhoneView::portEnumerator() = [port] { return QList<QByteArray>{port, "COM1"}; };
        TestViewHost host;
        PhoneView view(data, host);
        PhoneView::portEnumerator() = [] { return SerialPort::listPorts(); };
        view.show();
        QVERIFY(waitIdle(*data.phone)); // the stored port is not there: nothing to show
        QCOMPARE(view.phoneModel(), QString());
        QVERIFY(sim.commands().isEmpty());

        view.activateWindow();
        view.portCombo->setFocus();
        QTest::keyClick(view.portCombo, Qt::Key_Down);
        QCOMPARE(view.portCombo->currentText(), QString::fromLocal8Bit(port));
        QCOMPARE(data.settings->storedComPortName(), port);
        QVERIFY(data.phone->isBusy());
        QVERIFY(waitIdle(*data.phone));
        QCOMPARE(view.phoneModel(), QStringLiteral("Picked Phone"));
        QCOMPARE(sim.commands().first(), QByteArray("AT+CBC"));
        // Written when the program ends, not before.
        QVERIFY(!QFile::exists(settingsFile));
    }
    QFile ini(settingsFile);
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QByteArray text = ini.readAll();
    QVERIFY2(text.contains("COM Port=" + port), text.constData());
}

void TestUiPhoneView::probeSkippedDuringRun() {
    ModemSimOptions options;
    options.delayMs = 60;
    ModemSim sim(options);
    QVERIFY(sim.start());
    const QByteArray port = sim.portPath().toLocal8Bit();
    ViewFixture f(port, {port});
    QVERIFY(f.showAndProbe());
    const QByteArrayList before = f.values();
    QCOMPARE(before[2], QByteArray("Demo GSM Phone"));

    for (int i = 0; i < 4; ++i) {
        Message message;
        message.number = "+4412345678" + QByteArray::number(i);
        message.text = QStringLiteral("hello");
        message.created = oleNow();
        f.data->outboxList->add(message);
    }
    withPhoneLock(*f.data->phone, [&] {
        QVERIFY(!f.data->phone->isBusy());
        f.data->phone->start(f.data->newSender());
    });
    QVERIFY(f.data->phone->isBusy());
    // Opening the Phone folder and Update during the run start nothing.
    f.view->hide();
    f.view->show();
    f.view->updateAction->trigger();
    f.view->startProbe();
    QVERIFY(waitIdle(*f.data->phone));
    QCOMPARE(sim.bodiesSeen(), 4);
    QCOMPARE(countOf(sim.commands(), "AT+CBC"), 1);
    QCOMPARE(f.values(), before);
}

void TestUiPhoneView::failedProbeClearsRows() {
    ModemSim sim;
    QVERIFY(sim.start());
    const QByteArray port = sim.portPath().toLocal8Bit();
    ViewFixture f(port, {port});
    QVERIFY(f.showAndProbe());
    QCOMPARE(f.view->phoneModel(), QStringLiteral("Demo GSM Phone"));
    // The phone goes away: the old values must not stay as if they were current.
    f.data->settings->setComPortName(f.dir.filePath("gone").toLocal8Bit());
    f.view->startProbe();
    QVERIFY(waitIdle(*f.data->phone));
    QCOMPARE(f.values(), (QByteArrayList{"", "", "", ""}));
    QCOMPARE(f.view->phoneModel(), QString());
    QVERIFY(f.data->phone->reports.isEmpty());
}

void TestUiPhoneView::updateInPopupMenu() {
    ViewFixture f("COM1", {});
    const QList<QAction *> actions = f.view->contextMenu->actions();
    QCOMPARE(actions.size(), 1);
    QCOMPARE(actions[0], f.view->updateAction);
    QCOMPARE(actions[0]->text(), QStringLiteral("Update"));
}

void TestUiPhoneView::sessionPortShownAsPlaceholder() {
    ModemSim sim;
    QVERIFY(sim.start());
    QTemporaryDir dir;
    AppData data(dir.filePath(QStringLiteral("pelorvane.ini")));
    data.settings->setComPortName("COM1");
    data.settings->setSessionPort(sim.portPath().toLocal8Bit());
    PhoneView::portEnumerator() = [] { return QList<QByteArray>{"COM1", "COM2"}; };
    TestViewHost host;
    PhoneView view(data, host);
    PhoneView::portEnumerator() = [] { return SerialPort::listPorts(); };
    QCOMPARE(view.portCombo->currentIndex(), -1);
    QCOMPARE(view.portCombo->placeholderText(),
             sim.portPath() + QStringLiteral(" (this run only)"));
    view.show();
    QVERIFY(waitIdle(*data.phone));
    QCOMPARE(view.phoneModel(), QStringLiteral("Demo GSM Phone"));
}

void TestUiPhoneView::countryChoiceIsStored() {
    QString settingsFile;
    QTemporaryDir dir;
    settingsFile = dir.filePath(QStringLiteral("pelorvane.ini"));
    {
        auto data = std::make_unique<AppData>(settingsFile);
        data->settings->setCountry(QString());
        TestViewHost host;
        PhoneView view(*data, host);
        QComboBox *combo = view.countryCombo;
        QVERIFY(combo->count() > 200);
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(combo->itemData(0).toString(), QString());
        const int germany = combo->findData(QStringLiteral("DE"));
        QVERIFY(germany > 0);
        QCOMPARE(combo->itemText(germany), QStringLiteral("Germany (DE)"));
        // Sorted by name for the eye.
        QVERIFY(combo->itemText(1).compare(combo->itemText(2), Qt::CaseInsensitive) < 0);
        combo->setCurrentIndex(germany);
        Q_EMIT combo->activated(germany);
        QCOMPARE(data->settings->country(), QStringLiteral("DE"));
    }
    // Written when the program ends, read at the next start.
    QVERIFY(readAll(settingsFile).contains("Country=DE"));
    AppData again(settingsFile);
    QCOMPARE(again.settings->country(), QStringLiteral("DE"));
    TestViewHost host;
    PhoneView view(again, host);
    QCOMPARE(view.countryCombo->currentData().toString(), QStringLiteral("DE"));
}

QTEST_MAIN(TestUiPhoneView)
#include "tst_ui_phoneview.moc"

void TestUiPhoneView::serviceCentreIsStoredAndUsedByTheProbe() {
    ModemSimOptions options;
    options.noSmsc = true;
    ModemSim sim(options);
    QVERIFY(sim.start());
    const QByteArray port = sim.portPath().toLocal8Bit();
    DialogScript dialogs;
    {
        ViewFixture f(port, {port});
        QVERIFY(f.showAndProbe());
        QVERIFY2(f.view->value(ProbeThread::ServiceCentreRow).startsWith("not set: "),
                 f.view->value(ProbeThread::ServiceCentreRow).constData());

        // What is no number is refused, and the field shows the stored one again.
        f.view->serviceCentreEdit->setText(QStringLiteral("call me"));
        Q_EMIT f.view->serviceCentreEdit->editingFinished();
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.messages[0].text.contains(QStringLiteral("call me")));
        QCOMPARE(f.view->serviceCentreEdit->text(), QString());
        QCOMPARE(f.data->settings->serviceCentre(), QByteArray());

        f.view->serviceCentreEdit->setText(QStringLiteral(" +491710760000 "));
        Q_EMIT f.view->serviceCentreEdit->editingFinished();
        QCOMPARE(f.data->settings->serviceCentre(), QByteArray("+491710760000"));
        f.view->startProbe();
        QVERIFY(waitIdle(*f.data->phone));
        QCOMPARE(f.view->value(ProbeThread::ServiceCentreRow),
                 QByteArray("not set on the phone; yours is used: +491710760000"));
        // Kept for the next start.
        f.view.reset();
        f.data.reset();
        QVERIFY(readAll(f.settingsFile).contains("Service Centre=+491710760000"));
    }
}
