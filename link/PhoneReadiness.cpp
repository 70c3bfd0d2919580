#include "link/PhoneReadiness.h"

#include "link/GsmSerial.h"
#include "link/PhoneStatus.h"

#include <QSet>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Result = ModemSetup::Result;

std::mutex refusedPinsLock;
QSet<QByteArray> &refusedPins() {
    static QSet<QByteArray> pins;
    return pins;
}

// What the steps share and the front end's callbacks.
struct Checks {
    ReadinessOptions options;
    QByteArray maker;

    bool pause(GsmSerial &link, int ms) const {
        if (options.pause)
            return options.pause(ms) && !link.abortDue();
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (!link.abortDue() && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return !link.abortDue();
    }

    void showStatus(const QString &status) const {
        if (options.showStatus)
            options.showStatus(status);
    }

    Result readMaker(ModemSetup &setup);
    Result checkSim(ModemSetup &setup);
    Result enterPin(ModemSetup &setup, const SimStatus &status);
    Result checkNetwork(ModemSetup &setup);
    Result checkServiceCentre(ModemSetup &setup);
};

QByteArray triesText(const std::optional<int> &tries) {
    if (!tries)
        return {};
    return " (" + QByteArray::number(*tries) + (*tries == 1 ? " try" : " tries") + " left)";
}

Result Checks::readMaker(ModemSetup &setup) {
    GsmSerial &link = setup.link();
    if (link.executeCommand("AT+CGMI") || (!link.abortDue() && link.executeCommand("AT+GMI")))
        maker = link.infoLine().trimmed();
    if (link.abortDue())
        return Result::Stopped;
    // Huawei sticks report signal and mode changes unasked; fewer lines, fewer surprises. A
    // refusal changes nothing.
    if (isHuawei(maker))
        return setup.optional("AT^CURC=0");
    return Result::Ready;
}

Result Checks::checkSim(ModemSetup &setup) {
    GsmSerial &link = setup.link();
    const SimStatus status = readSimStatus(link);
    if (link.abortDue())
        return Result::Stopped;
    switch (status.state) {
    case SimState::Ready:
    case SimState::Unknown:
        return Result::Ready;
    case SimState::PinNeeded:
        return enterPin(setup, status);
    case SimState::PukNeeded: {
        const std::optional<int> tries = readPinTries(link, "SIM PUK", maker);
        return setup.fail("The SIM card is locked and needs its PUK" + triesText(tries) +
                          ": put it into a mobile phone and unlock it there with the PUK from "
                          "the card's papers (or ask its provider), then start again.");
    }
    case SimState::Missing:
        return setup.fail("There is no SIM card in the phone: switch the phone or modem off, "
                          "insert a SIM card and start again.");
    case SimState::Failed:
        return setup.fail("The phone cannot read its SIM card (" + status.code +
                          "): check that the card sits right, or try it in another phone.");
    case SimState::OtherLock:
        return setup.fail("The phone asks for its \"" + status.code +
                          "\" before it can send: unlock it in a mobile phone or with the "
                          "modem's own program, then start again.");
    }
    return Result::Ready;
}

Result Checks::enterPin(ModemSetup &setup, const SimStatus &status) {
    GsmSerial &link = setup.link();
    QString problem;
    for (;;) {
        const std::optional<int> tries = readPinTries(link, "SIM PIN", maker);
        if (link.abortDue())
            return Result::Stopped;
        const QByteArray needs = "The SIM card needs its PIN" + triesText(tries);
        if (!options.askPin)
            return setup.fail(needs + ": " + options.pinAdvice + '.');
        const std::optional<QByteArray> pin = options.askPin({status.code, tries, problem});
        if (link.abortDue())
            return Result::Stopped;
        if (!pin) {
            const QByteArray why = problem.isEmpty() ? needs : problem.toUtf8().chopped(1);
            return setup.fail(why + ": " + options.pinAdvice + '.');
        }
        if (!PhoneReadiness::isWellFormedPin(*pin)) {
            problem = QStringLiteral("A PIN is 4 to 8 digits.");
            continue;
        }
        if (PhoneReadiness::pinRefusedBefore(*pin)) {
            problem = QStringLiteral("The SIM card refused this PIN before; it is not sent "
                                     "again, so that the card does not lock.");
            continue;
        }
        if (link.executeCommand("AT+CPIN=\"" + *pin + '"')) {
            // The card takes a moment before it says READY and lets the phone register.
            const auto until =
                Clock::now() + std::chrono::milliseconds(PhoneReadiness::PinSettleMs);
            for (;;) {
                const SimStatus after = readSimStatus(link);
                if (link.abortDue())
                    return Result::Stopped;
                if (after.state != SimState::PinNeeded || Clock::now() >= until)
                    return after.state == SimState::PukNeeded ? checkSim(setup) : Result::Ready;
                if (!pause(link, 200))
                    return Result::Stopped;
            }
        }
        if (link.abortDue())
            return Result::Stopped;
        PhoneReadiness::rememberRefusedPin(*pin);
        const SimStatus after = readSimStatus(link);
        if (link.abortDue())
            return Result::Stopped;
        if (after.state != SimState::PinNeeded)
            return checkSim(setup);
        problem = QStringLiteral("The SIM card refused the PIN.");
    }
}

QByteArray stateText(Registration state) {
    switch (state) {
    case Registration::Searching:
        return "still searching";
    case Registration::EmergencyOnly:
        return "emergency calls only";
    case Registration::Unknown:
        return "state unknown";
    default:
        return "not searching";
    }
}

Result Checks::checkNetwork(ModemSetup &setup) {
    GsmSerial &link = setup.link();
    const auto until = Clock::now() + std::chrono::milliseconds(options.networkWaitMs);
    bool waiting = false;
    struct StatusEnd {
        const Checks &checks;
        bool &waiting;
        ~StatusEnd() {
            if (waiting)
                checks.showStatus(QString());
        }
    } statusEnd{*this, waiting};
    for (;;) {
        const NetworkStatus network = readNetworkStatus(link);
        if (link.abortDue())
            return Result::Stopped;
        if (!network.answered())
            return Result::Ready;
        if (isRegistered(network.state)) {
            QByteArray technology = network.technology;
            const QByteArray operatorName = readOperator(link, &technology);
            if (link.abortDue())
                return Result::Stopped;
            if (options.showNetwork && !operatorName.isEmpty())
                options.showNetwork(QString::fromLocal8Bit(operatorName) +
                                    (technology.isEmpty()
                                         ? QString()
                                         : QStringLiteral(" (%1)").arg(QLatin1String(technology))));
            return Result::Ready;
        }
        if (network.state == Registration::Denied)
            return setup.fail("The network refused this SIM card (registration denied): check "
                              "with its provider that the card is active and may use this "
                              "network, or try another SIM card.");
        if (Clock::now() >= until)
            return setup.fail("The phone found no network in " +
                              QByteArray::number((options.networkWaitMs + 999) / 1000) + " s (" +
                              stateText(network.state) +
                              "): check the antenna and the coverage where the phone is, and "
                              "that the SIM card is active; " +
                              options.networkWaitAdvice + '.');
        if (!waiting) {
            waiting = true;
            showStatus(QStringLiteral("Waiting for the network…"));
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (!pause(link, int(std::clamp<qint64>(left.count(), 1, PhoneReadiness::NetworkPollMs))))
            return Result::Stopped;
    }
}

Result Checks::checkServiceCentre(ModemSetup &setup) {
    if (options.serviceCentreGiven)
        return Result::Ready;
    GsmSerial &link = setup.link();
    const std::optional<QByteArray> centre = readServiceCentre(link);
    if (link.abortDue())
        return Result::Stopped;
    if (centre && centre->isEmpty())
        return setup.fail("The phone has no service centre number, so it cannot send: " +
                          options.serviceCentreAdvice + '.');
    return Result::Ready;
}

} // namespace

QList<ModemSetup::Step> PhoneReadiness::steps(const ReadinessOptions &options) {
    auto checks = std::make_shared<Checks>();
    checks->options = options;
    return {
        {"maker", [checks](ModemSetup &s) { return checks->readMaker(s); }},
        {"SIM card", [checks](ModemSetup &s) { return checks->checkSim(s); }},
        {"network", [checks](ModemSetup &s) { return checks->checkNetwork(s); }},
        {"service centre", [checks](ModemSetup &s) { return checks->checkServiceCentre(s); }},
    };
}

bool PhoneReadiness::pinRefusedBefore(const QByteArray &pin) {
    std::lock_guard lock(refusedPinsLock);
    return refusedPins().contains(pin);
}

void PhoneReadiness::rememberRefusedPin(const QByteArray &pin) {
    std::lock_guard lock(refusedPinsLock);
    refusedPins().insert(pin);
}

bool PhoneReadiness::isWellFormedPin(const QByteArray &pin) {
    if (pin.size() < 4 || pin.size() > 8)
        return false;
    return std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
}
