#pragma once

#include "link/ModemSetup.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// What the user is asked when the SIM card wants its PIN.
struct PinRequest {
    QByteArray code;              // what the phone asks for: "SIM PIN"
    std::optional<int> triesLeft; // when the phone says
    QString problem;              // why it is asked again ("The SIM card refused the PIN.")
};

// How the run start talks to the user; every callback runs on the worker thread.
struct ReadinessOptions {
    // The PIN, or nullopt when the user gives none (a cancelled dialog). Empty: the run stops
    // when the SIM card needs one.
    std::function<std::optional<QByteArray>(const PinRequest &request)> askPin;
    // A line for the status bar while the run start waits ("Waiting for the network…"); an
    // empty one when the wait is over.
    std::function<void(const QString &status)> showStatus;
    // The operator the phone is registered with, and the technology when it says
    // ("Vodafone.de (LTE)").
    std::function<void(const QString &network)> showNetwork;
    // Waits ms milliseconds; false, at once, when the run is stopped.
    std::function<bool(int ms)> pause;
    // How long a phone that searches for its network is waited for.
    int networkWaitMs = 60000;
    // The user gave a service centre for this run: the phone's own is not needed.
    bool serviceCentreGiven = false;
    // Where the user gives what the checks may ask for, ending the lines that stop a run.
    QByteArray pinAdvice = "start again and type the PIN when asked";
    QByteArray serviceCentreAdvice =
        "type the number your provider gives in the Phone view's \"Service centre\" field";
    QByteArray networkWaitAdvice = "the \"Network Wait\" setting gives it longer";
};

// The checks of a run start after the phone is readied: the maker (Huawei modems are asked
// to stop sending signal reports unasked), the SIM card (its PIN entered when it asks),
// the network (waited for while the phone searches; then its operator is shown) and the
// service centre. A check the phone
// answers with ERROR is passed. A PIN the SIM card refused is never sent again while this
// program runs, whatever asks for it: each refusal brings the card closer to its PUK lock.
class PhoneReadiness {
public:
    // Between two looks at the registration while waiting for the network.
    static constexpr int NetworkPollMs = 500;
    // How long a SIM card that has taken its PIN is given to say READY.
    static constexpr int PinSettleMs = 5000;

    // The steps, in order; they share what the first learns (the maker).
    static QList<ModemSetup::Step> steps(const ReadinessOptions &options);

    // The per-process memory of refused PINs.
    static bool pinRefusedBefore(const QByteArray &pin);
    static void rememberRefusedPin(const QByteArray &pin);

    // A PIN as the SIM card takes it: 4 to 8 digits.
    static bool isWellFormedPin(const QByteArray &pin);
};
