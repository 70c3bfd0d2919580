#include "ui/PhoneView.h"
#include "ui/PaceBox.h"
#include "ui/SmppForm.h"

#include "app/AppData.h"
#include "app/Settings.h"
#include "base/Error.h"
#include "data/PhoneNumberParser.h"
#include "link/Phone.h"
#include "link/SerialPort.h"
#include "resources/ImageRoles.h"
#include "sms/SmsSubmit.h"
#include "ui/Dialogs.h"
#include "ui/TitleStrip.h"
#include "ui/ViewHost.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>
#include <QShowEvent>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

namespace {

constexpr int NoPortNumber = std::numeric_limits<int>::max();

// An entry's port name (a path for the by-id links) and the mark of the "Browse…" entry.
constexpr int PortRole = Qt::UserRole;
constexpr int BrowseRole = Qt::UserRole + 1;

const QString BrowseText = QStringLiteral("Browse\u2026");
const QString CheckingText = QStringLiteral("Checking the phone\u2026");

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int decimalOrNone(const QByteArray &digits) {
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), isDigit))
        return NoPortNumber;
    bool ok = false;
    const int value = digits.toInt(&ok);
    return ok ? value : NoPortNumber;
}

} // namespace

int portNumber(const QByteArray &name) {
    if (name.size() > 3 && name.first(3).compare("COM", Qt::CaseInsensitive) == 0)
        return decimalOrNone(name.sliced(3));
    qsizetype start = name.size();
    while (start > 0 && isDigit(name[start - 1]))
        --start;
    return decimalOrNone(name.sliced(start));
}

QList<QByteArray> sortPortsByNumber(QList<QByteArray> names) {
    std::stable_sort(names.begin(), names.end(), [](const QByteArray &a, const QByteArray &b) {
        return portNumber(a) < portNumber(b);
    });
    return names;
}

void PortComboBox::showPopup() {
    Q_EMIT aboutToShowPopup();
    QComboBox::showPopup();
}

PhoneView::PortEnumerator &PhoneView::portEnumerator() {
    static PortEnumerator enumerator = [] { return SerialPort::listPorts(); };
    return enumerator;
}

QString &PhoneView::byIdFolder() {
    static QString folder = QStringLiteral("/dev/serial/by-id");
    return folder;
}

PhoneView::PhoneView(AppData &data, ViewHost &host, QWidget *parent)
    : QWidget(parent), m_data(data), m_host(host) {
    setObjectName(QStringLiteral("phoneView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new TitleStrip(QStringLiteral("Phone"), this));

    auto *connectionBand = new QWidget(this);
    auto *connectionLayout = new QHBoxLayout(connectionBand);
    connectionLayout->setContentsMargins(8, 6, 8, 0);
    auto *connectionLabel = new QLabel(QStringLiteral("Send &through:"), connectionBand);
    connectionCombo = new QComboBox(connectionBand);
    connectionCombo->setObjectName(QStringLiteral("connectionCombo"));
    connectionCombo->addItem(QStringLiteral("Phones on serial ports"));
    connectionCombo->addItem(QStringLiteral("SMS centre (SMPP)"));
    connectionLabel->setBuddy(connectionCombo);
    connectionLayout->addWidget(connectionLabel);
    connectionLayout->addWidget(connectionCombo);
    connectionLayout->addStretch(1);
    layout->addWidget(connectionBand);
    smppForm = new SmppForm(m_data, this);
    layout->addWidget(smppForm);

    auto *phonesBand = new QWidget(this);
    auto *phonesLayout = new QHBoxLayout(phonesBand);
    phonesLayout->setContentsMargins(8, 6, 8, 0);
    phoneList = new QTreeWidget(phonesBand);
    phoneList->setObjectName(QStringLiteral("phoneList"));
    phoneList->setColumnCount(2);
    phoneList->setHeaderLabels({QStringLiteral("Phones"), QStringLiteral("State")});
    phoneList->setRootIsDecorated(false);
    phoneList->setItemsExpandable(false);
    phoneList->setUniformRowHeights(true);
    phoneList->setAllColumnsShowFocus(true);
    phoneList->header()->setSectionsClickable(false);
    phoneList->header()->resizeSection(0, 260);
    phoneList->header()->setStretchLastSection(true);
    phoneList->setToolTip(QStringLiteral("Runs share the outbox among the ticked phones; the "
                                         "selected one is the one below"));
    // Room for four phones; more scroll.
    phoneList->setFixedHeight(phoneList->header()->sizeHint().height() +
                              4 * (phoneList->fontMetrics().height() + 6) + 4);
    auto *phoneButtons = new QVBoxLayout;
    addPhoneButton = new QToolButton(phonesBand);
    addPhoneButton->setObjectName(QStringLiteral("addPhoneButton"));
    removePhoneButton = new QToolButton(phonesBand);
    removePhoneButton->setObjectName(QStringLiteral("removePhoneButton"));
    for (QToolButton *button : {addPhoneButton, removePhoneButton}) {
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        phoneButtons->addWidget(button);
    }
    phoneButtons->addStretch(1);
    phonesLayout->addWidget(phoneList, 1);
    phonesLayout->addLayout(phoneButtons);
    layout->addWidget(phonesBand);
    m_phoneWidgets << phonesBand;

    auto *portBand = new QWidget(this);
    auto *portLayout = new QHBoxLayout(portBand);
    portLayout->setContentsMargins(8, 6, 8, 6);
    auto *portLabel = new QLabel(QStringLiteral("COM Port:"), portBand);
    portCombo = new PortComboBox(portBand);
    portCombo->setObjectName(QStringLiteral("portCombo"));
    // Any path or name may be typed: a pseudo-terminal or a link the list does not show.
    portCombo->setEditable(true);
    portCombo->setInsertPolicy(QComboBox::NoInsert);
    // Completing "ttyUSB1" to "ttyUSB10" as it is typed would choose a port not asked for.
    portCombo->setCompleter(nullptr);
    portCombo->setMinimumWidth(145);
    portCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    portCombo->setMinimumContentsLength(24);
    portCombo->setToolTip(QStringLiteral("A port of the list, or the name or path of one "
                                         "typed here (ttyUSB0, /dev/serial/by-id/...)"));
    portLabel->setBuddy(portCombo);
    updateButton = new QToolButton(portBand);
    updateButton->setObjectName(QStringLiteral("updateButton"));
    updateButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    portLayout->addWidget(portLabel);
    portLayout->addWidget(portCombo);
    portLayout->addWidget(updateButton);
    m_phoneWidgets << portLabel << portCombo << updateButton;
    portLayout->addSpacing(16);
    auto *countryLabel = new QLabel(QStringLiteral("Countr&y:"), portBand);
    countryCombo = new QComboBox(portBand);
    countryCombo->setObjectName(QStringLiteral("countryCombo"));
    countryCombo->setEditable(false);
    countryCombo->setToolTip(
        QStringLiteral("The country of numbers typed without \"+\" or \"00\": they are sent "
                       "in international form"));
    countryLabel->setBuddy(countryCombo);
    portLayout->addWidget(countryLabel);
    portLayout->addWidget(countryCombo);
    portLayout->addSpacing(16);
    auto *serviceCentreLabel = new QLabel(QStringLiteral("Service c&entre:"), portBand);
    serviceCentreEdit =
        new QLineEdit(QString::fromLocal8Bit(m_data.settings->serviceCentre()), portBand);
    serviceCentreEdit->setObjectName(QStringLiteral("serviceCentreEdit"));
    serviceCentreEdit->setPlaceholderText(QStringLiteral("the SIM card's"));
    serviceCentreEdit->setToolTip(
        QStringLiteral("Your provider's service centre number, for a phone that has none: it "
                       "goes into every message. Empty: the number stored on the SIM card."));
    serviceCentreLabel->setBuddy(serviceCentreEdit);
    portLayout->addWidget(serviceCentreLabel);
    portLayout->addWidget(serviceCentreEdit);
    m_phoneWidgets << serviceCentreLabel << serviceCentreEdit;
    portLayout->addStretch(1);
    layout->addWidget(portBand);

    probeStatusLabel = new QLabel(this);
    probeStatusLabel->setObjectName(QStringLiteral("probeStatusLabel"));
    probeStatusLabel->setTextFormat(Qt::PlainText);
    probeStatusLabel->setWordWrap(true);
    // The advice may hold a command to copy.
    probeStatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    probeStatusLabel->setContentsMargins(8, 0, 8, 6);
    probeStatusLabel->hide();
    layout->addWidget(probeStatusLabel);

    infoView = new QTreeWidget(this);
    infoView->setObjectName(QStringLiteral("infoView"));
    infoView->setColumnCount(2);
    infoView->setHeaderLabels({QStringLiteral("Property"), QStringLiteral("Value")});
    infoView->setRootIsDecorated(false);
    infoView->setItemsExpandable(false);
    infoView->setUniformRowHeights(true);
    infoView->setSelectionBehavior(QAbstractItemView::SelectRows);
    infoView->setAllColumnsShowFocus(true);
    infoView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    infoView->header()->setSectionsClickable(false);
    infoView->header()->resizeSection(0, 180);
    infoView->header()->setStretchLastSection(true);
    infoView->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(infoView, 1);

    paceBox = new PaceBox(m_data, this);
    layout->addWidget(paceBox);
    m_phoneWidgets << infoView << paceBox;
    // The form takes the room the probe's rows leave.
    layout->addStretch(0);

    updateAction = new QAction(QStringLiteral("Update"), this);
    updateAction->setObjectName(QStringLiteral("updateAction"));
    updateAction->setProperty("category", QStringLiteral("Phone"));
    updateAction->setIcon(QIcon(imageRolePath(ImageRole::Update)));
    addAction(updateAction);
    updateButton->setDefaultAction(updateAction);
    contextMenu = new QMenu(this);
    contextMenu->addAction(updateAction);
    addPhoneAction = new QAction(QStringLiteral("Add phone\u2026"), this);
    addPhoneAction->setObjectName(QStringLiteral("addPhoneAction"));
    removePhoneAction = new QAction(QStringLiteral("Remove phone"), this);
    removePhoneAction->setObjectName(QStringLiteral("removePhoneAction"));
    addPhoneButton->setDefaultAction(addPhoneAction);
    removePhoneButton->setDefaultAction(removePhoneAction);
    connect(addPhoneAction, &QAction::triggered, this, &PhoneView::onAddPhoneTriggered);
    connect(removePhoneAction, &QAction::triggered, this, &PhoneView::onRemovePhoneTriggered);
    connect(phoneList, &QTreeWidget::itemSelectionChanged, this, &PhoneView::onPhoneSelected);
    connect(phoneList, &QTreeWidget::itemChanged, this, &PhoneView::onPhoneItemChanged);
    connect(connectionCombo, &QComboBox::activated, this, &PhoneView::onConnectionChanged);

    connect(updateAction, &QAction::triggered, this, &PhoneView::onUpdateTriggered);
    connect(infoView, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        contextMenu->popup(infoView->viewport()->mapToGlobal(pos));
    });
    connect(portCombo, &PortComboBox::aboutToShowPopup, this, &PhoneView::fillPortList);
    connect(portCombo, &QComboBox::activated, this, &PhoneView::onPortChanged);
    connect(portCombo->lineEdit(), &QLineEdit::textEdited, this, [this] { m_portTyped = true; });
    connect(portCombo->lineEdit(), &QLineEdit::editingFinished, this, &PhoneView::onPortTyped);
    connect(countryCombo, &QComboBox::activated, this, &PhoneView::onCountryChanged);
    connect(serviceCentreEdit, &QLineEdit::editingFinished, this,
            &PhoneView::onServiceCentreEdited);

    createLayout();
}

PhoneView::~PhoneView() {
    // Losing the focus while the children go must not choose a port.
    disconnect(portCombo->lineEdit(), nullptr, this, nullptr);
}

void PhoneView::createLayout() {
    QList<QByteArray> ports;
    try {
        ports = portEnumerator()();
    } catch (const Error &) {
        // No list of ports is no reason to have no view; the list stays empty.
    }
    addPortItems(ports);
    fillPhoneList();
    showCurrentPort();
    fillCountryList();
    showConnection();
    for (const QByteArray &caption : ProbeThread::RowCaptions)
        new QTreeWidgetItem(infoView, {QString::fromLocal8Bit(caption), QString()});
}

void PhoneView::addPortItems(const QList<QByteArray> &ports) {
    portCombo->clear();
    for (const QByteArray &port : ports)
        portCombo->addItem(QString::fromLocal8Bit(port), QString::fromLocal8Bit(port));
    // The lasting names of USB devices, which stay when the device moves to another socket;
    // shown by name, used by path.
    const QFileInfoList links =
        QDir(byIdFolder())
            .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &link : links) {
        if (link.isDir())
            continue;
        const QString path = link.absoluteFilePath();
        portCombo->addItem(link.fileName(), path);
        const QString target = link.symLinkTarget();
        portCombo->setItemData(portCombo->count() - 1,
                               target.isEmpty() ? path : path + QStringLiteral(" \u2192 ") + target,
                               Qt::ToolTipRole);
    }
    portCombo->addItem(BrowseText);
    portCombo->setItemData(portCombo->count() - 1, true, BrowseRole);
    // The by-id names are long: the open list is as wide as they are, the field stays narrow.
    int widest = 0;
    for (int index = 0; index < portCombo->count(); ++index)
        widest = std::max(widest,
                          portCombo->fontMetrics().horizontalAdvance(portCombo->itemText(index)));
    portCombo->view()->setMinimumWidth(widest + 2 * portCombo->fontMetrics().averageCharWidth() +
                                       portCombo->view()->verticalScrollBar()->sizeHint().width());
}

bool PhoneView::isBrowseItem(int index) const {
    return portCombo->itemData(index, BrowseRole).toBool();
}

QByteArray PhoneView::portOfItem(int index) const {
    if (index < 0 || index >= portCombo->count() || isBrowseItem(index))
        return {};
    return portCombo->itemData(index, PortRole).toString().toLocal8Bit();
}

int PhoneView::findPortItem(const QByteArray &port) const {
    for (int index = 0; index < portCombo->count(); ++index) {
        if (!isBrowseItem(index) && portOfItem(index) == port)
            return index;
    }
    return -1;
}

QByteArray PhoneView::currentPort() const {
    const QList<PhoneChoice> phones = m_data.settings->phones();
    if (m_current == 0 || m_current >= phones.size())
        return m_data.settings->comPortName();
    return phones[m_current].port;
}

void PhoneView::showCurrentPort() {
    const QByteArray port = currentPort();
    // The simulated phone of --simulate is no port to show as chosen: the placeholder says
    // where the probe goes.
    const bool thisRunOnly = m_current == 0 && port != m_data.settings->storedComPortName();
    m_portTyped = false;
    const QSignalBlocker quiet(portCombo);
    const int index = thisRunOnly ? -1 : findPortItem(port);
    portCombo->setCurrentIndex(index);
    if (index < 0)
        portCombo->setEditText(thisRunOnly ? QString() : QString::fromLocal8Bit(port));
    showPortPlaceholder();
}

void PhoneView::showPortPlaceholder() {
    const QByteArray port = currentPort();
    const QString placeholder =
        m_current == 0 && port != m_data.settings->storedComPortName()
            ? QString::fromLocal8Bit(port) + QStringLiteral(" (this run only)")
            : QString();
    portCombo->setPlaceholderText(placeholder);
    portCombo->lineEdit()->setPlaceholderText(placeholder);
}

void PhoneView::fillPortList() {
    const QString shown = portCombo->currentText();
    QList<QByteArray> ports;
    try {
        ports = sortPortsByNumber(portEnumerator()());
    } catch (const Error &) {
        return;
    }
    const QSignalBlocker quiet(portCombo);
    addPortItems(ports);
    int index = shown.isEmpty()
                    ? -1
                    : portCombo->findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0 && isBrowseItem(index))
        index = -1;
    portCombo->setCurrentIndex(index);
    if (index < 0)
        portCombo->setEditText(shown);
}

void PhoneView::onPortChanged(int index) {
    if (index < 0)
        return;
    if (isBrowseItem(index)) {
        browsePort();
        return;
    }
    usePort(portOfItem(index));
}

void PhoneView::onPortTyped() {
    // Only what the user typed is a choice: the field also loses the focus holding the name
    // of an entry or of the port in use.
    if (!std::exchange(m_portTyped, false))
        return;
    const QString text = portCombo->currentText().trimmed();
    const int index = portCombo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (text.isEmpty() || (index >= 0 && isBrowseItem(index))) {
        showCurrentPort();
        return;
    }
    // An entry's name stands for its port (a by-id name for its path).
    const QByteArray port = index >= 0 ? portOfItem(index) : text.toLocal8Bit();
    // Leaving the field unchanged is no new choice.
    if (port == currentPort())
        return;
    usePort(port);
}

void PhoneView::onUpdateTriggered() {
    // A port typed but not yet confirmed is the one to read (the button takes no focus from
    // the field); when it starts a probe, the second start finds the phone busy.
    onPortTyped();
    startProbe();
}

void PhoneView::browsePort() {
    // "Browse…" is no port: the field goes back to the port in use while the dialog is open.
    showCurrentPort();
    FileDialogOptions options;
    options.title = QStringLiteral("Choose the phone's port");
    options.filter = QStringLiteral("Serial ports (ttyUSB* ttyACM* ttyS* rfcomm*)|"
                                    "ttyUSB*;ttyACM*;ttyS*;rfcomm*|All Files (*)|*");
    options.directory = QStringLiteral("/dev");
    options.showDevices = true;
    const QString chosen = openFileDialog(this, options);
    if (!chosen.isEmpty())
        usePort(QFile::encodeName(chosen));
}

void PhoneView::usePort(const QByteArray &port) {
    if (port.isEmpty())
        return;
    QList<PhoneChoice> phones = m_data.settings->phones();
    if (m_current < phones.size()) {
        phones[m_current].port = port;
        if (!storePhones(phones)) {
            showCurrentPort();
            return;
        }
    }
    fillPhoneList();
    showCurrentPort();
    startProbe();
}

bool PhoneView::storePhones(const QList<PhoneChoice> &phones) {
    QString error;
    if (m_data.settings->setPhones(phones, &error))
        return true;
    showErrorMessage(error);
    return false;
}

void PhoneView::fillPhoneList() {
    const QList<PhoneChoice> phones = m_data.settings->phones();
    m_current = std::clamp(m_current, 0, int(phones.size()) - 1);
    const QSignalBlocker quiet(phoneList);
    phoneList->clear();
    for (const PhoneChoice &phone : phones) {
        auto *item = new QTreeWidgetItem(phoneList, {QString::fromLocal8Bit(phone.port)});
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                       Qt::ItemNeverHasChildren);
        item->setCheckState(0, phone.enabled ? Qt::Checked : Qt::Unchecked);
        if (const QString state = m_runStates.value(phone.port); !state.isEmpty())
            item->setText(1, state);
        else if (const auto probe = m_probes.constFind(phone.port); probe != m_probes.cend())
            item->setText(1, stateText(*probe));
    }
    if (QTreeWidgetItem *current = phoneList->topLevelItem(m_current))
        current->setSelected(true);
    phoneList->setCurrentItem(phoneList->topLevelItem(m_current));
    updateActions();
}

bool PhoneView::throughSmsCentre() const {
    return m_data.settings->connectionKind() == ConnectionKind::SmsCentre;
}

void PhoneView::onConnectionChanged(int index) {
    m_data.settings->setConnectionKind(index == 1 ? ConnectionKind::SmsCentre
                                                  : ConnectionKind::Phone);
    showConnection();
    if (!throughSmsCentre())
        startProbe();
}

void PhoneView::showConnection() {
    const bool centre = throughSmsCentre();
    const QSignalBlocker quiet(connectionCombo);
    connectionCombo->setCurrentIndex(centre ? 1 : 0);
    smppForm->setVisible(centre);
    for (QWidget *widget : std::as_const(m_phoneWidgets))
        widget->setVisible(!centre);
    if (centre)
        setProbeStatus(QString());
}

void PhoneView::updateActions() {
    const int count = phoneList->topLevelItemCount();
    addPhoneAction->setEnabled(count < Settings::MaxPhones);
    removePhoneAction->setEnabled(count > 1);
}

void PhoneView::selectPhone(int index) {
    if (QTreeWidgetItem *item = phoneList->topLevelItem(index))
        phoneList->setCurrentItem(item);
}

void PhoneView::onPhoneSelected() {
    const QList<QTreeWidgetItem *> selected = phoneList->selectedItems();
    if (selected.isEmpty())
        return;
    const int index = phoneList->indexOfTopLevelItem(selected.first());
    if (index == m_current)
        return;
    m_current = index;
    showCurrentPort();
    const auto probe = m_probes.constFind(currentPort());
    if (probe != m_probes.cend()) {
        showRows(&*probe);
        setProbeStatus(probeStatusText(currentPort(), *probe));
    } else {
        showRows(nullptr);
        startProbe();
    }
}

void PhoneView::onPhoneItemChanged(QTreeWidgetItem *item, int column) {
    if (column != 0)
        return;
    QList<PhoneChoice> phones = m_data.settings->phones();
    const int index = phoneList->indexOfTopLevelItem(item);
    if (index < 0 || index >= phones.size())
        return;
    phones[index].enabled = item->checkState(0) == Qt::Checked;
    if (!storePhones(phones))
        fillPhoneList();
}

void PhoneView::onAddPhoneTriggered() {
    QList<PhoneChoice> phones = m_data.settings->phones();
    QStringList free;
    try {
        for (const QByteArray &port : sortPortsByNumber(portEnumerator()())) {
            const bool used = std::any_of(phones.cbegin(), phones.cend(), [&](const auto &p) {
                return Settings::samePort(p.port, port);
            });
            if (!used)
                free << QString::fromLocal8Bit(port);
        }
    } catch (const Error &) {
        // No list of ports: the port is typed.
    }
    const std::optional<QString> port =
        portDialog(this, QStringLiteral("Add a phone"),
                   QStringLiteral("The new phone's port (a name or a path):"), free);
    if (!port || port->trimmed().isEmpty())
        return;
    phones.append({port->trimmed().toLocal8Bit(), true});
    if (!storePhones(phones))
        return;
    m_current = int(phones.size()) - 1;
    fillPhoneList();
    showCurrentPort();
    showRows(nullptr);
    startProbe();
}

void PhoneView::onRemovePhoneTriggered() {
    QList<PhoneChoice> phones = m_data.settings->phones();
    if (phones.size() < 2 || m_current >= phones.size())
        return;
    phones.removeAt(m_current);
    if (!storePhones(phones))
        return;
    m_current = std::min(m_current, int(phones.size()) - 1);
    fillPhoneList();
    showCurrentPort();
    const auto probe = m_probes.constFind(currentPort());
    showRows(probe != m_probes.cend() ? &*probe : nullptr);
    setProbeStatus(probe != m_probes.cend() ? probeStatusText(currentPort(), *probe) : QString());
}

void PhoneView::showRunStates(const QHash<QByteArray, QString> &states) {
    if (states == m_runStates)
        return;
    m_runStates = states;
    fillPhoneList();
}

QString PhoneView::stateText(const ProbeThread::Result &result) const {
    switch (result.outcome) {
    case ProbeThread::Busy:
        return QString();
    case ProbeThread::Refused:
        return QStringLiteral("refused %1").arg(QString::fromLatin1(result.refusedCommand));
    case ProbeThread::Failed:
        return QStringLiteral("not reachable");
    case ProbeThread::Done:
        break;
    }
    const QString model = QString::fromLocal8Bit(result.values[ProbeThread::ModelRow]);
    const QString shown = model.isEmpty() ? QStringLiteral("answers") : model;
    return result.canSend ? shown : shown + QStringLiteral(" \u2014 cannot send now");
}

void PhoneView::fillCountryList() {
    struct Country {
        QString caption;
        QString code;
    };
    QList<Country> countries;
    for (const QString &code : PhoneNumberParser::countries()) {
        const QLocale::Territory territory = QLocale::codeToTerritory(code);
        const QString name =
            territory == QLocale::AnyTerritory ? code : QLocale::territoryToString(territory);
        countries.append({QStringLiteral("%1 (%2)").arg(name, code), code});
    }
    std::sort(countries.begin(), countries.end(), [](const Country &a, const Country &b) {
        return a.caption.compare(b.caption, Qt::CaseInsensitive) < 0;
    });
    const QSignalBlocker quiet(countryCombo);
    countryCombo->clear();
    countryCombo->addItem(QStringLiteral("(none: international numbers only)"), QString());
    for (const Country &country : countries)
        countryCombo->addItem(country.caption, country.code);
    countryCombo->setCurrentIndex(std::max(0, countryCombo->findData(m_data.settings->country())));
}

void PhoneView::onCountryChanged(int index) {
    if (index >= 0)
        m_data.settings->setCountry(countryCombo->itemData(index).toString());
}

void PhoneView::onServiceCentreEdited() {
    const QByteArray number = serviceCentreEdit->text().trimmed().toLatin1();
    if (serviceCentreField(number).isEmpty()) {
        showErrorMessage(QStringLiteral("The service centre number is digits, with + in front "
                                        "when international: ") +
                         serviceCentreEdit->text());
        serviceCentreEdit->setText(QString::fromLocal8Bit(m_data.settings->serviceCentre()));
        return;
    }
    m_data.settings->setServiceCentre(number);
}

void PhoneView::startProbe() {
    Phone &phone = *m_data.phone;
    bool started = false;
    try {
        withPhoneLock(phone, [&] {
            if (phone.isBusy())
                return;
            // The view may be gone when a probe started before the program closed ends.
            QPointer<PhoneView> self(this);
            const QByteArray port = currentPort();
            auto probe = std::make_unique<ProbeThread>(
                [self, port](const ProbeThread::Result &result) {
                    if (self)
                        self->showInfo(port, result);
                },
                m_data.settings->serviceCentre());
            probe->portName = [port] { return port; };
            phone.start(probe.release());
            started = true;
        });
    } catch (const Error &e) {
        showErrorMessage(e.message());
    }
    if (started)
        setProbeStatus(CheckingText);
}

void PhoneView::setProbeStatus(const QString &text) {
    probeStatusLabel->setText(text);
    probeStatusLabel->setVisible(!text.isEmpty());
}

QString PhoneView::probeStatusText(const QByteArray &port,
                                   const ProbeThread::Result &result) const {
    switch (result.outcome) {
    case ProbeThread::Busy:
    case ProbeThread::Done:
        break;
    case ProbeThread::Refused:
        return QStringLiteral("The phone refused %1; the rows after it are empty.")
            .arg(QString::fromLatin1(result.refusedCommand));
    case ProbeThread::Failed:
        return QStringLiteral("Checking the phone on %1 failed:\n%2")
            .arg(QString::fromLocal8Bit(port), result.error);
    }
    return {};
}

void PhoneView::showInfo(const QByteArray &port, const ProbeThread::Result &result) {
    if (result.outcome == ProbeThread::Busy) {
        if (port == currentPort())
            setProbeStatus(probeStatusText(port, result));
        return;
    }
    m_probes.insert(port, result);
    fillPhoneList();
    // The user may have chosen another phone meanwhile: its rows stay.
    if (port == currentPort()) {
        setProbeStatus(probeStatusText(port, result));
        showRows(&result);
    }
    m_host.refreshAll();
}

void PhoneView::showRows(const ProbeThread::Result *result) {
    // A failed probe clears the rows as well: the values of another phone must not stay on
    // show as if they were this one's.
    for (int row = 0; row < ProbeThread::RowCount; ++row)
        infoView->topLevelItem(row)->setText(1, result ? QString::fromLocal8Bit(result->values[row])
                                                       : QString());
}

QByteArray PhoneView::caption(int row) const {
    const QTreeWidgetItem *item = infoView->topLevelItem(row);
    return item ? item->text(0).toLocal8Bit() : QByteArray();
}

QByteArray PhoneView::value(int row) const {
    const QTreeWidgetItem *item = infoView->topLevelItem(row);
    return item ? item->text(1).toLocal8Bit() : QByteArray();
}

QString PhoneView::phoneModel() const {
    for (int row = 0; row < infoView->topLevelItemCount(); ++row) {
        if (infoView->topLevelItem(row)->text(0) == QLatin1String("Model"))
            return infoView->topLevelItem(row)->text(1);
    }
    return {};
}

void PhoneView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!event->spontaneous() && !throughSmsCentre())
        startProbe();
}
