#pragma once

#include "app/Settings.h"
#include "sending/ProbeThread.h"

#include <QByteArray>
#include <QComboBox>
#include <QHash>
#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class AppData;
class PaceBox;
class SmppForm;
class ViewHost;

// The port list's number for ordering: for COMn names the number after "COM", for others
// the number that ends the name (ttyUSB10 is 10); 2147483647 when there is none.
int portNumber(const QByteArray &name);
// The names ordered by portNumber; equal numbers keep their order.
QList<QByteArray> sortPortsByNumber(QList<QByteArray> names);

// A drop-down list that says when it is about to open.
class PortComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;

Q_SIGNALS:
    void aboutToShowPopup();
};

// The phone view: the phones runs send through (each ticked one is used; the selected one is
// the one the port field, the probe's rows and Update are about), the country and the service
// centre. The port list holds the system's ports, the links of /dev/serial/by-id under their
// readable names, and "Browse…"; a path or name typed into it is a port as well.
class PhoneView : public QWidget {
    Q_OBJECT
public:
    PhoneView(AppData &data, ViewHost &host, QWidget *parent = nullptr);
    ~PhoneView() override;

    // The probe's "Model" row; empty while unknown. Shown beside the Phone folder.
    QString phoneModel() const;

    // Starts a probe unless the phone is locked or already has a worker (a sending run or a
    // probe still running): then nothing happens and the rows keep their values.
    void startProbe();

    QByteArray caption(int row) const;
    QByteArray value(int row) const;

    // Where the port list comes from (SerialPort::listPorts unless replaced).
    using PortEnumerator = std::function<QList<QByteArray>()>;
    static PortEnumerator &portEnumerator();
    // The folder of the ports' lasting names (/dev/serial/by-id unless replaced).
    static QString &byIdFolder();

    // The port an entry of the list stands for (its path for a by-id name); empty for
    // "Browse…".
    QByteArray portOfItem(int index) const;
    bool isBrowseItem(int index) const;

    // The selected phone's index in the settings' list.
    int currentPhone() const { return m_current; }
    void selectPhone(int index);
    // What each phone of a run is doing ("120 sent", "paused — SIM blocked"), by port as the
    // user gave it, in the list's second column; empty once the run ended (the probes' words
    // come back).
    void showRunStates(const QHash<QByteArray, QString> &states);

    // What runs go through: the phones of the list, or an SMS centre (the form below).
    QComboBox *connectionCombo = nullptr;
    SmppForm *smppForm = nullptr;
    // One row per phone: the port, ticked when runs use it, and its state.
    QTreeWidget *phoneList = nullptr;
    QToolButton *addPhoneButton = nullptr;
    QToolButton *removePhoneButton = nullptr;
    QAction *addPhoneAction = nullptr;
    QAction *removePhoneAction = nullptr;
    PortComboBox *portCombo = nullptr;
    QToolButton *updateButton = nullptr;
    // What the probe is doing: "Checking the phone…", why it failed, or nothing.
    QLabel *probeStatusLabel = nullptr;
    // The country of national numbers: "(none)" first, then the countries by name; each
    // item's data is its two-letter code.
    QComboBox *countryCombo = nullptr;
    // The user's service centre number ("Service Centre" in the settings), empty for the SIM's.
    QLineEdit *serviceCentreEdit = nullptr;
    QTreeWidget *infoView = nullptr;
    QMenu *contextMenu = nullptr;
    QAction *updateAction = nullptr;
    PaceBox *paceBox = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void createLayout();
    void updateActions();
    void onConnectionChanged(int index);
    // Shows the phones' widgets or the SMS centre's form.
    void showConnection();
    bool throughSmsCentre() const;
    void fillPhoneList();
    void onPhoneSelected();
    void onPhoneItemChanged(QTreeWidgetItem *item, int column);
    void onAddPhoneTriggered();
    void onRemovePhoneTriggered();
    // Stores the list; false, after saying why, when the settings refuse it.
    bool storePhones(const QList<PhoneChoice> &phones);
    // The selected phone's port: the program run's own (the simulated phone) for the first.
    QByteArray currentPort() const;
    QString stateText(const ProbeThread::Result &result) const;
    void showRows(const ProbeThread::Result *result);
    void addPortItems(const QList<QByteArray> &ports);
    void fillPortList();
    void showCurrentPort();
    void onPortChanged(int index);
    void onPortTyped();
    void onUpdateTriggered();
    void browsePort();
    void usePort(const QByteArray &port);
    int findPortItem(const QByteArray &port) const;
    void setProbeStatus(const QString &text);
    QString probeStatusText(const QByteArray &port, const ProbeThread::Result &result) const;
    void fillCountryList();
    void onCountryChanged(int index);
    void onServiceCentreEdited();
    void showPortPlaceholder();
    void showInfo(const QByteArray &port, const ProbeThread::Result &result);

    AppData &m_data;
    ViewHost &m_host;
    // The port field holds text the user typed and has not yet had used.
    bool m_portTyped = false;
    int m_current = 0;
    // Shown only while runs go through phones.
    QList<QWidget *> m_phoneWidgets;
    // Each port's last probe, shown again when its phone is selected.
    QHash<QByteArray, ProbeThread::Result> m_probes;
    QHash<QByteArray, QString> m_runStates;
};
