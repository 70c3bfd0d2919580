#include "ui/PhoneView.h"

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

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPointer>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

constexpr int NoPortNumber = std::numeric_limits<int>::max();

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

PhoneView::PhoneView(AppData &data, ViewHost &host, QWidget *parent)
    : QWidget(parent), m_data(data), m_host(host) {
    setObjectName(QStringLiteral("phoneView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new TitleStrip(QStringLiteral("Phone"), this));

    auto *portBand = new QWidget(this);
    auto *portLayout = new QHBoxLayout(portBand);
    portLayout->setContentsMargins(8, 6, 8, 6);
    auto *portLabel = new QLabel(QStringLiteral("COM Port:"), portBand);
    portCombo = new PortComboBox(portBand);
    portCombo->setObjectName(QStringLiteral("portCombo"));
    portCombo->setEditable(false);
    portCombo->setMinimumWidth(145);
    portLabel->setBuddy(portCombo);
    portLayout->addWidget(portLabel);
    portLayout->addWidget(portCombo);
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
    portLayout->addStretch(1);
    layout->addWidget(portBand);

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

    updateAction = new QAction(QStringLiteral("Update"), this);
    updateAction->setObjectName(QStringLiteral("updateAction"));
    updateAction->setProperty("category", QStringLiteral("Phone"));
    updateAction->setIcon(QIcon(imageRolePath(ImageRole::Update)));
    addAction(updateAction);
    contextMenu = new QMenu(this);
    contextMenu->addAction(updateAction);

    connect(updateAction, &QAction::triggered, this, &PhoneView::startProbe);
    connect(infoView, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        contextMenu->popup(infoView->viewport()->mapToGlobal(pos));
    });
    connect(portCombo, &PortComboBox::aboutToShowPopup, this, &PhoneView::fillPortList);
    connect(portCombo, &QComboBox::activated, this, &PhoneView::onPortChanged);
    connect(countryCombo, &QComboBox::activated, this, &PhoneView::onCountryChanged);
    connect(serviceCentreEdit, &QLineEdit::editingFinished, this,
            &PhoneView::onServiceCentreEdited);

    createLayout();
}

PhoneView::~PhoneView() = default;

void PhoneView::createLayout() {
    QList<QByteArray> ports;
    try {
        ports = portEnumerator()();
    } catch (const Error &) {
        // No list of ports is no reason to have no view; the list stays empty.
    }
    for (const QByteArray &port : ports)
        portCombo->addItem(QString::fromLocal8Bit(port));
    portCombo->setCurrentIndex(
        portCombo->findText(QString::fromLocal8Bit(m_data.settings->comPortName()),
                            Qt::MatchExactly | Qt::MatchCaseSensitive));
    showPortPlaceholder();
    fillCountryList();
    for (const QByteArray &caption : ProbeThread::RowCaptions)
        new QTreeWidgetItem(infoView, {QString::fromLocal8Bit(caption), QString()});
}

void PhoneView::showPortPlaceholder() {
    // The simulated phone of --simulate is no system port; say where the probe goes.
    const QByteArray port = m_data.settings->comPortName();
    portCombo->setPlaceholderText(port != m_data.settings->storedComPortName()
                                      ? QString::fromLocal8Bit(port) +
                                            QStringLiteral(" (this run only)")
                                      : QString());
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
    portCombo->clear();
    for (const QByteArray &port : ports)
        portCombo->addItem(QString::fromLocal8Bit(port));
    portCombo->setCurrentIndex(
        shown.isEmpty() ? -1
                        : portCombo->findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void PhoneView::onPortChanged(int index) {
    if (index < 0)
        return;
    m_data.settings->setComPortName(portCombo->itemText(index).toLocal8Bit());
    showPortPlaceholder();
    startProbe();
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
    try {
        withPhoneLock(phone, [&] {
            if (phone.isBusy())
                return;
            // The view may be gone when a probe started before the program closed ends.
            QPointer<PhoneView> self(this);
            auto probe = std::make_unique<ProbeThread>(
                [self](const ProbeThread::Result &result) {
                    if (self)
                        self->showInfo(result);
                },
                m_data.settings->serviceCentre());
            phone.start(probe.release());
        });
    } catch (const Error &e) {
        showErrorMessage(e.message());
    }
}

void PhoneView::showInfo(const ProbeThread::Result &result) {
    switch (result.outcome) {
    case ProbeThread::Busy:
        return;
    case ProbeThread::Done:
    case ProbeThread::Refused:
    case ProbeThread::Failed:
        // A failed probe clears the rows: the values of an earlier phone (perhaps on another
        // port) must not stay on show as if they were this one's.
        for (int row = 0; row < ProbeThread::RowCount; ++row)
            infoView->topLevelItem(row)->setText(1, QString::fromLocal8Bit(result.values[row]));
        break;
    }
    m_host.refreshAll();
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
    if (!event->spontaneous())
        startProbe();
}
