#include "sending/ProbeThread.h"

#include "base/Error.h"
#include "link/GsmSerial.h"
#include "link/PhoneStatus.h"

#include <limits>

namespace {

// The device's integers may carry blanks around them; anything else is an error, as is a
// value outside 32 bits.
int toInteger(const QByteArray &field) {
    bool ok = false;
    const qlonglong value = field.trimmed().toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        throw Error(
            QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLocal8Bit(field)));
    return int(value);
}

struct LinkCloser {
    GsmLink &link;
    ~LinkCloser() { link.close(); }
};

} // namespace

const std::array<QByteArray, ProbeThread::RowCount> ProbeThread::RowCaptions = {
    QByteArrayLiteral("Battery Level"), QByteArrayLiteral("Manufacturer"),
    QByteArrayLiteral("Model"),         QByteArrayLiteral("Signal Strength"),
    QByteArrayLiteral("SIM"),           QByteArrayLiteral("Network"),
    QByteArrayLiteral("Operator"),      QByteArrayLiteral("Service centre"),
    QByteArrayLiteral("Signal"),        QByteArrayLiteral("IMEI")};

namespace {

const QByteArray NotReported = "not reported by the phone";

QByteArray withTries(const QByteArray &text, const std::optional<int> &tries) {
    if (!tries)
        return text;
    return text + " (" + QByteArray::number(*tries) + (*tries == 1 ? " try" : " tries") + " left)";
}

} // namespace

ProbeThread::ProbeThread(DoneEvent onDone, QByteArray serviceCentre)
    : m_onDone(std::move(onDone)), m_serviceCentre(std::move(serviceCentre)) {}

QByteArray ProbeThread::signalText(int value) {
    const unsigned v = static_cast<unsigned>(value);
    if (v <= 7)
        return "Low (" + QByteArray::number(value) + ')';
    if (v <= 15)
        return "Mid (" + QByteArray::number(value) + ')';
    if (v <= 31)
        return "High (" + QByteArray::number(value) + ')';
    return "Unknown";
}

ProbeThread::Result ProbeThread::probe(GsmLink &link, const QByteArray &serviceCentre) {
    Result result;
    int rssi = 99;
    // A phone without one of the first four (many modems have no battery) still gets its
    // checks: they say whether it can send.
    auto refused = [&](const QByteArray &command) {
        result.outcome = Refused;
        result.refusedCommand = command;
        checkPhone(link, serviceCentre, rssi, result);
        return result;
    };
    if (!link.executeCommand("AT+CBC"))
        return refused("AT+CBC");
    result.values[0] = link.infoFieldCount() < 2 ? QByteArray("Unknown") : link.infoField(2) + '%';
    if (!link.executeCommand("AT+GMI"))
        return refused("AT+GMI");
    result.values[1] = link.infoLine();
    if (!link.executeCommand("AT+GMM"))
        return refused("AT+GMM");
    result.values[2] = link.infoLine();
    if (!link.executeCommand("AT+CSQ"))
        return refused("AT+CSQ");
    result.values[3] = "Unknown";
    if (link.infoFieldCount() >= 1) {
        rssi = toInteger(link.infoField(1));
        result.values[3] = signalText(rssi);
    }
    checkPhone(link, serviceCentre, rssi, result);
    return result;
}

void ProbeThread::checkPhone(GsmLink &link, const QByteArray &serviceCentre, int rssi,
                             Result &result) {
    auto &values = result.values;
    const QByteArray maker = values[ManufacturerRow];

    const SimStatus sim = readSimStatus(link);
    switch (sim.state) {
    case SimState::Ready:
        values[SimRow] = "Ready";
        break;
    case SimState::PinNeeded:
        values[SimRow] = withTries("PIN needed", readPinTries(link, "SIM PIN", maker)) +
                         ": a sending run asks for it";
        break;
    case SimState::PukNeeded:
        values[SimRow] = withTries("PUK needed", readPinTries(link, "SIM PUK", maker)) +
                         ": unlock the SIM card with its PUK in a mobile phone";
        result.canSend = false;
        break;
    case SimState::Missing:
        values[SimRow] = "missing: switch the phone off and insert a SIM card";
        result.canSend = false;
        break;
    case SimState::Failed:
        values[SimRow] = "not readable (" + sim.code +
                         "): check that the SIM card sits right, or try it in another phone";
        result.canSend = false;
        break;
    case SimState::OtherLock:
        values[SimRow] = "locked (" + sim.code + "): unlock it in a mobile phone";
        result.canSend = false;
        break;
    case SimState::Unknown:
        values[SimRow] = NotReported;
        break;
    }
    // A SIM card that waits for its PIN keeps the phone off the network until a run gives it.
    const bool pinPending = sim.state == SimState::PinNeeded;

    const NetworkStatus network = readNetworkStatus(link);
    QByteArray technology = network.technology;
    const QByteArray operatorName = readOperator(link, &technology);
    const QByteArray act = technology.isEmpty() ? QByteArray() : " (" + technology + ')';
    switch (network.state) {
    case Registration::Home:
    case Registration::HomeSmsOnly:
    case Registration::HomeNoCsfb:
        values[NetworkRow] = "home" + act;
        break;
    case Registration::Roaming:
    case Registration::RoamingSmsOnly:
    case Registration::RoamingNoCsfb:
        values[NetworkRow] = "roaming" + act;
        break;
    case Registration::Searching:
        values[NetworkRow] = "searching: wait a minute, or check the antenna and the coverage";
        break;
    case Registration::Denied:
        values[NetworkRow] = "denied: ask the SIM card's provider whether the card is active";
        result.canSend = false;
        break;
    case Registration::NoAnswer:
        values[NetworkRow] = NotReported;
        break;
    default:
        values[NetworkRow] = pinPending ? QByteArray("not registered: the SIM card waits for "
                                                     "its PIN")
                                        : QByteArray("not registered: check the SIM card, the "
                                                     "antenna and the coverage");
        if (!pinPending)
            result.canSend = false;
        break;
    }
    if (network.state == Registration::Searching)
        result.canSend = false;
    values[OperatorRow] = !operatorName.isEmpty() ? operatorName
                          : isRegistered(network.state) || !network.answered()
                              ? QByteArray("none")
                              : QByteArray("none: the phone is not on a network");

    const std::optional<QByteArray> centre = readServiceCentre(link);
    if (!centre) {
        values[ServiceCentreRow] =
            pinPending ? QByteArray("not readable until the PIN is given") : NotReported;
    } else if (!centre->isEmpty()) {
        values[ServiceCentreRow] = *centre;
    } else if (!serviceCentre.isEmpty()) {
        values[ServiceCentreRow] = "not set on the phone; yours is used: " + serviceCentre;
    } else {
        values[ServiceCentreRow] = "not set: type your provider's number in the Phone view's "
                                   "\"Service centre\" field (pelorvane-cli: --smsc NUMBER)";
        result.canSend = false;
    }

    values[SignalRow] = signalDbmText(rssi);
    if (rssi == 0)
        values[SignalRow] += ": too weak; move the phone or its antenna";

    if (link.executeCommand("AT+CGSN")) {
        QByteArray imei = link.infoLine().trimmed();
        if (imei.startsWith("+CGSN:"))
            imei = imei.sliced(6).trimmed();
        values[ImeiRow] = imei.replace('"', QByteArray());
    } else {
        values[ImeiRow] = NotReported;
    }
}

void ProbeThread::execute() {
    WorkerThread::execute();
    GsmSerial &link = *this->link();
    Result result;
    if (link.connected()) {
        result.outcome = Busy;
    } else {
        try {
            LinkCloser closer{link};
            link.port().setPortName(portName ? portName() : QByteArray());
            link.open();
            result = probe(link, m_serviceCentre);
        } catch (const Error &e) {
            result = Result{Failed, {}, {}, e.message(), false};
        } catch (const std::exception &e) {
            result = Result{Failed, {}, {}, QString::fromLocal8Bit(e.what()), false};
        }
    }
    // A stopped probe (the program is closing) has nothing to show.
    if (terminated() || !m_onDone)
        return;
    synchronize([this, &result] { m_onDone(result); });
}
