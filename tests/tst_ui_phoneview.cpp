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
#include "ui/PasswordStore.h"
#include "ui/PhoneView.h"
#include "ui/SmppForm.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <unistd.h>

#include <cerrno>
#include <memory>

namespace {

bool waitIdle(Phone &phone, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (phone.isBusy() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return !phone.isBusy();
}

const QString BrowseText = QStringLiteral("Browse\u2026");

// The ports of the list; "Browse…", always last, is no port.
QStringList items(const QComboBox *box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    if (!items.isEmpty() && items.last() == BrowseText)
        items.removeLast();
    return items;
}

QLabel *probeStatus(const PhoneView &view) {
    return view.findChild<QLabel *>(QStringLiteral("probeStatusLabel"));
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
        // The machine's own modems stay out of the list.
        PhoneView::byIdFolder() = dir.filePath(QStringLiteral("by-id"));
        view = std::make_unique<PhoneView>(*data, host);
        host.phone = view.get();
    }
    ~ViewFixture() {
        view.reset();
        data.reset();
        PhoneView::portEnumerator() = [] { return SerialPort::listPorts(); };
        PhoneView::byIdFolder() = QStringLiteral("/dev/serial/by-id");
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
    void severalPhonesListed();
    void serviceCentreIsStoredAndUsedByTheProbe();

    void typedPortIsUsed_data();
    void typedPortIsUsed();
    void browseChoosesPort_data();
    void browseChoosesPort();
    void byIdLinksListedByName();
    void checkingShownWhileProbing();
    void failedProbeSaysWhy_data();
    void failedProbeSaysWhy();
    void updateButtonProbes();
    void smsCentreForm();
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

// Phones are added, ticked off, chosen and removed in the list; each keeps its own probe, and
// the settings keep the list.
void TestUiPhoneView::severalPhonesListed() {
    ModemSim first;
    ModemSimOptions otherModel;
    otherModel.model = "Second Modem";
    ModemSim second(otherModel);
    QVERIFY(first.start());
    QVERIFY(second.start());
    const QByteArray port1 = first.portPath().toLocal8Bit();
    const QByteArray port2 = second.portPath().toLocal8Bit();
    ViewFixture f(port1, {port1, port2});
    DialogScript dialogs;
    QVERIFY(f.showAndProbe());
    QTreeWidget *list = f.view->phoneList;
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("Demo GSM Phone"));
    QVERIFY(!f.view->removePhoneAction->isEnabled());

    // The port question offers the ports not in the list yet; a port listed twice is refused.
    dialogs.ports = {QString::fromLocal8Bit(port1), QString::fromLocal8Bit(port2)};
    f.view->addPhoneAction->trigger();
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(list->topLevelItemCount(), 1);
    f.view->addPhoneAction->trigger();
    QVERIFY(waitIdle(*f.data->phone));
    QCOMPARE(dialogs.portChoices.last(), QStringList{QString::fromLocal8Bit(port2)});
    QCOMPARE(f.data->settings->phones(), (QList<PhoneChoice>{{port1, true}, {port2, true}}));
    QCOMPARE(f.view->currentPhone(), 1);
    QCOMPARE(f.view->portCombo->currentText(), QString::fromLocal8Bit(port2));
    QCOMPARE(f.view->phoneModel(), QStringLiteral("Second Modem"));
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("Second Modem"));
    QVERIFY(f.view->removePhoneAction->isEnabled());

    // Back to the first: its rows come from its last probe, without asking it again.
    f.view->selectPhone(0);
    QCOMPARE(f.view->phoneModel(), QStringLiteral("Demo GSM Phone"));
    QVERIFY(!f.data->phone->isBusy());
    QCOMPARE(countOf(first.commands(), "AT+CBC"), 1);

    list->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    QCOMPARE(f.data->settings->sendingPorts(), QList<QByteArray>{port2});
    f.view->showRunStates({{port2, QStringLiteral("paused \u2014 SIM blocked")}});
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("paused \u2014 SIM blocked"));
    f.view->showRunStates({});
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("Second Modem"));

    f.view->removePhoneAction->trigger();
    QCOMPARE(f.data->settings->phones(), (QList<PhoneChoice>{{port2, true}}));
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(f.view->portCombo->currentText(), QString::fromLocal8Bit(port2));
    QCOMPARE(f.view->phoneModel(), QStringLiteral("Second Modem"));
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

void TestUiPhoneView::typedPortIsUsed_data() {
    QTest::addColumn<bool>("fullPath");
    QTest::addColumn<bool>("byUpdate");
    QTest::newRow("full path, Enter") << true << false;
    QTest::newRow("name under /dev, Enter") << false << false;
    QTest::newRow("full path, then the Update button") << true << true;
}

void TestUiPhoneView::typedPortIsUsed() {
    QFETCH(bool, fullPath);
    QFETCH(bool, byUpdate);
    ModemSimOptions options;
    options.model = "Typed Phone";
    ModemSim sim(options);
    QVERIFY(sim.start());
    const QByteArray path = sim.portPath().toLocal8Bit();
    QVERIFY(path.startsWith("/dev/"));
    const QByteArray typed = fullPath ? path : path.mid(5);
    QTemporaryDir scratch;
    {
        ViewFixture f(QFile::encodeName(scratch.filePath("missing")), {"ttyUSB0"});
        QVERIFY(f.showAndProbe());
        auto *combo = f.view->findChild<QComboBox *>(QStringLiteral("portCombo"));
        QVERIFY(combo && combo->isEditable());
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), QString::fromLocal8Bit(typed));
        if (byUpdate)
            QTest::mouseClick(f.view->findChild<QToolButton *>(QStringLiteral("updateButton")),
                              Qt::LeftButton);
        else
            QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QCOMPARE(f.data->settings->storedComPortName(), typed);
        QVERIFY(waitIdle(*f.data->phone));
        QCOMPARE(f.view->phoneModel(), QStringLiteral("Typed Phone"));
        QCOMPARE(combo->currentText(), QString::fromLocal8Bit(typed));
        // A typed port is used, not added to the system's list.
        QCOMPARE(items(combo), QStringList{"ttyUSB0"});
        // Leaving the field as it is chooses nothing anew.
        Q_EMIT combo->lineEdit()->editingFinished();
        QVERIFY(!f.data->phone->isBusy());
        QCOMPARE(countOf(sim.commands(), "AT+CBC"), 1);
        f.view.reset();
        f.data.reset();
        QVERIFY(readAll(f.settingsFile).contains("COM Port=" + typed));
    }
}

void TestUiPhoneView::browseChoosesPort_data() {
    QTest::addColumn<bool>("chosen");
    QTest::newRow("a port chosen") << true;
    QTest::newRow("dialog cancelled") << false;
}

void TestUiPhoneView::browseChoosesPort() {
    QFETCH(bool, chosen);
    ModemSim sim;
    QVERIFY(sim.start());
    const QByteArray path = sim.portPath().toLocal8Bit();
    DialogScript dialogs;
    if (chosen)
        dialogs.fileNames << sim.portPath();
    ViewFixture f("ttyNone", {});
    QCOMPARE(items(f.view->portCombo), QStringList());
    QCOMPARE(f.view->portCombo->count(), 1);
    QVERIFY(f.view->isBrowseItem(0));
    QCOMPARE(f.view->portCombo->itemText(0), BrowseText);
    QCOMPARE(f.view->portCombo->currentText(), QStringLiteral("ttyNone"));

    f.view->portCombo->setFocus();
    QTest::keyClick(f.view->portCombo, Qt::Key_Down);
    QCOMPARE(dialogs.fileDialogs.size(), 1);
    QCOMPARE(dialogs.fileDialogs[0].directory, QStringLiteral("/dev"));
    QVERIFY(dialogs.fileDialogs[0].showDevices);
    QVERIFY(waitIdle(*f.data->phone));
    if (chosen) {
        QCOMPARE(f.data->settings->storedComPortName(), path);
        QCOMPARE(f.view->portCombo->currentText(), sim.portPath());
        QCOMPARE(f.view->phoneModel(), QStringLiteral("Demo GSM Phone"));
    } else {
        QCOMPARE(f.data->settings->storedComPortName(), QByteArray("ttyNone"));
        QCOMPARE(f.view->portCombo->currentText(), QStringLiteral("ttyNone"));
        QVERIFY(sim.commands().isEmpty());
    }
}

void TestUiPhoneView::byIdLinksListedByName() {
    ModemSimOptions options;
    options.model = "Linked Phone";
    ModemSim sim(options);
    QVERIFY(sim.start());
    QTemporaryDir dir;
    const QString byId = dir.filePath(QStringLiteral("serial/by-id"));
    QVERIFY(QDir().mkpath(byId + QStringLiteral("/not-a-port")));
    const QString modem = byId + QStringLiteral("/usb-Acme_GSM_Modem_1234-if00-port0");
    QVERIFY(QFile::link(sim.portPath(), modem));
    writeAll(dir.filePath(QStringLiteral("ttyUSB9")), QByteArray());
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("ttyUSB9")),
                        byId + QStringLiteral("/usb-Other_Stick-if02-port0")));

    ViewFixture f(QFile::encodeName(dir.filePath("missing")), {"ttyUSB9"});
    PhoneView::byIdFolder() = byId;
    {
        f.view->portCombo->showPopup();
        f.view->portCombo->hidePopup();
        QCOMPARE(items(f.view->portCombo),
                 (QStringList{"ttyUSB9", "usb-Acme_GSM_Modem_1234-if00-port0",
                              "usb-Other_Stick-if02-port0"}));
        QCOMPARE(f.view->portOfItem(1), QFile::encodeName(modem));
        QVERIFY(
            f.view->portCombo->itemData(1, Qt::ToolTipRole).toString().endsWith(sim.portPath()));

        f.view->portCombo->setCurrentIndex(1);
        Q_EMIT f.view->portCombo->activated(1);
        // The lasting name is stored, not the node it points to today.
        QCOMPARE(f.data->settings->storedComPortName(), QFile::encodeName(modem));
        QVERIFY(waitIdle(*f.data->phone));
        QCOMPARE(f.view->phoneModel(), QStringLiteral("Linked Phone"));
        // The name shown stands for the path: leaving the field changes nothing.
        Q_EMIT f.view->portCombo->lineEdit()->editingFinished();
        QCOMPARE(f.data->settings->storedComPortName(), QFile::encodeName(modem));
        QVERIFY(!f.data->phone->isBusy());
        f.view.reset();
        f.data.reset();
    }
    // At the next start the stored path selects its entry by name.
    AppData again(f.settingsFile);
    QCOMPARE(again.settings->storedComPortName(), QFile::encodeName(modem));
    TestViewHost host;
    PhoneView view(again, host);
    QCOMPARE(view.portCombo->currentText(), QStringLiteral("usb-Acme_GSM_Modem_1234-if00-port0"));
    QCOMPARE(view.portOfItem(view.portCombo->currentIndex()), QFile::encodeName(modem));
}

void TestUiPhoneView::checkingShownWhileProbing() {
    ModemSimOptions options;
    options.delayMs = 150;
    ModemSim sim(options);
    QVERIFY(sim.start());
    const QByteArray port = sim.portPath().toLocal8Bit();
    ViewFixture f(port, {port});
    QLabel *status = probeStatus(*f.view);
    QVERIFY(status);
    QVERIFY(status->isHidden());
    f.view->show();
    QVERIFY(f.data->phone->isBusy());
    QCOMPARE(status->text(), QStringLiteral("Checking the phone\u2026"));
    QVERIFY(status->isVisible());
    QVERIFY(waitIdle(*f.data->phone));
    QCOMPARE(f.view->phoneModel(), QStringLiteral("Demo GSM Phone"));
    QVERIFY(status->isHidden());
    QCOMPARE(status->text(), QString());
}

void TestUiPhoneView::failedProbeSaysWhy_data() {
    QTest::addColumn<bool>("busy");
    QTest::newRow("no such port") << false;
    QTest::newRow("port held by this program") << true;
}

void TestUiPhoneView::failedProbeSaysWhy() {
    QFETCH(bool, busy);
    ModemSim sim;
    QVERIFY(sim.start());
    QTemporaryDir dir;
    const QByteArray port =
        busy ? sim.portPath().toLocal8Bit() : QFile::encodeName(dir.filePath("ttyGone"));
    SerialPort holder(sim.portPath().toLocal8Bit());
    if (busy)
        holder.open();
    ViewFixture f(port, {});
    QVERIFY(f.showAndProbe());
    QLabel *status = probeStatus(*f.view);
    QVERIFY(!status->isHidden());
    const QStringList lines = status->text().split(u'\n');
    QCOMPARE(lines[0],
             QStringLiteral("Checking the phone on %1 failed:").arg(QString::fromLocal8Bit(port)));
    if (!busy) {
        QCOMPARE(lines.mid(1), QStringList{"Unable to open com port (win error code: 2)"});
    } else {
        QVERIFY2(lines.size() == 4, qPrintable(status->text()));
        QVERIFY(
            lines[1] == QStringLiteral("Unable to open com port (win error code: %1)").arg(EBUSY) ||
            lines[1] ==
                QStringLiteral("Unable to open com port (win error code: %1)").arg(EWOULDBLOCK));
        // The kernel cuts this program's name at 15 characters; the full one is shown.
        QCOMPARE(lines[2], QStringLiteral("%1 is in use by tst_ui_phoneview (pid %2)")
                               .arg(sim.portPath().mid(5))
                               .arg(::getpid()));
    }
    QCOMPARE(f.values(), (QByteArrayList{"", "", "", ""}));

    // Once the phone answers, the reason goes.
    holder.close();
    f.data->settings->setComPortName(sim.portPath().toLocal8Bit());
    f.view->startProbe();
    QVERIFY(waitIdle(*f.data->phone));
    QCOMPARE(f.view->phoneModel(), QStringLiteral("Demo GSM Phone"));
    QVERIFY(status->isHidden());
}

void TestUiPhoneView::updateButtonProbes() {
    ModemSim sim;
    QVERIFY(sim.start());
    const QByteArray port = sim.portPath().toLocal8Bit();
    ViewFixture f(port, {port});
    QVERIFY(f.showAndProbe());
    auto *button = f.view->findChild<QToolButton *>(QStringLiteral("updateButton"));
    QVERIFY(button && button->isVisible());
    QCOMPARE(button->text(), QStringLiteral("Update"));
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(f.data->phone->isBusy());
    QVERIFY(waitIdle(*f.data->phone));
    QCOMPARE(countOf(sim.commands(), "AT+CBC"), 2);
}

QTEST_MAIN(TestUiPhoneView)
// Sending through an SMS centre: the phones' widgets give way to the account's form, whose
// fields go to the settings and whose password goes to the password store (or, on a desktop
// without one, is kept until the program ends); Connect says why it could not log in.
void TestUiPhoneView::smsCentreForm() {
    // A port that is not there: the probe fails at once.
    ViewFixture f("/nonexistent/ttyUSB9", {});
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    f.view->show();
    QVERIFY(waitIdle(*f.data->phone));
    SmppForm *form = f.view->smppForm;
    QVERIFY(!form->isVisible());
    f.view->connectionCombo->setCurrentIndex(1);
    Q_EMIT f.view->connectionCombo->activated(1);
    QCOMPARE(f.data->settings->connectionKind(), ConnectionKind::SmsCentre);
    QVERIFY(form->isVisible());
    QVERIFY(!f.view->phoneList->isVisible());
    QVERIFY(!form->connectButton->isEnabled());

    form->hostEdit->setText(QStringLiteral("127.0.0.1"));
    Q_EMIT form->hostEdit->editingFinished();
    form->portSpin->setValue(port);
    Q_EMIT form->portSpin->editingFinished();
    form->systemIdEdit->setText(QStringLiteral("club"));
    Q_EMIT form->systemIdEdit->editingFinished();
    form->bindCombo->setCurrentIndex(1);
    Q_EMIT form->bindCombo->activated(1);
    form->receiptsCheck->setChecked(false);
    const SmppSettings stored = f.data->settings->smppSettings();
    QCOMPARE(stored.host, QStringLiteral("127.0.0.1"));
    QCOMPARE(stored.port, int(port));
    QCOMPARE(stored.systemId, QStringLiteral("club"));
    QCOMPARE(stored.bindMode, SmppBindMode::Transmitter);
    QVERIFY(!stored.receipts);

    form->passwordEdit->setText(QStringLiteral("s3cret"));
    Q_EMIT form->passwordEdit->editingFinished();
    QVERIFY(form->passwordEdit->text().isEmpty());
    QCOMPARE(PasswordStore::read(PasswordStore::keyFor(QStringLiteral("127.0.0.1"), port, "club"))
                 .password,
             std::optional<QByteArray>("s3cret"));
    QVERIFY(!readAll(f.settingsFile).contains("s3cret"));

    // A certificate to trust goes with TLS; one that cannot be read stops the connection.
    QVERIFY(!form->certificateEdit->isEnabled());
    form->tlsCheck->setChecked(true);
    QVERIFY(form->certificateEdit->isEnabled());
    form->certificateEdit->setText(QStringLiteral("/nonexistent/centre.pem"));
    Q_EMIT form->certificateEdit->editingFinished();
    QCOMPARE(f.data->settings->smppSettings().certificate,
             QStringLiteral("/nonexistent/centre.pem"));
    form->connectButton->click();
    QVERIFY2(form->statusLabel->text().startsWith(
                 QStringLiteral("Could not connect: No certificate can be read from "
                                "/nonexistent/centre.pem")),
             qPrintable(form->statusLabel->text()));
    form->tlsCheck->setChecked(false);

    QVERIFY(form->connectButton->isEnabled());
    form->connectButton->click();
    QVERIFY(QTest::qWaitFor(
        [&] { return form->statusLabel->text().startsWith(QStringLiteral("Could not")); }, 20000));
    QVERIFY2(form->statusLabel->text().contains(QStringLiteral("Connection refused")),
             qPrintable(form->statusLabel->text()));

    // Back to the phones: the form goes, the probe comes.
    f.view->connectionCombo->setCurrentIndex(0);
    Q_EMIT f.view->connectionCombo->activated(0);
    QCOMPARE(f.data->settings->connectionKind(), ConnectionKind::Phone);
    QVERIFY(f.view->phoneList->isVisible());
    QVERIFY(waitIdle(*f.data->phone));
}

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
