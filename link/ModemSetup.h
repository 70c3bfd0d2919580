#pragma once

#include <QByteArray>
#include <QList>

#include <functional>

class GsmSerial;

// Readies the phone at the start of a run: a list of steps run in order, each an exchange
// with the phone that either lets the run go on or ends it with a line for the user. A run
// that needs more checks (the SIM card, the network) adds steps to the list.
class ModemSetup {
public:
    enum class Result { Ready, Stopped, Failed };

    struct Step {
        QByteArray name;
        std::function<Result(ModemSetup &setup)> run;
    };

    // Tries of AT while waking the phone, and the empty read waits each try may take.
    static constexpr int WakeUpTries = 3;
    static constexpr int WakeUpEmptyWaits = 4;
    // Read waits spent at most dropping what the phone sends after ESC.
    static constexpr int DiscardWaits = 8;

    explicit ModemSetup(GsmSerial &link) : m_link(link) {}

    // Runs the steps in order until one does not give Ready. Errors of the transport (a
    // line error, a time-out of a required command) are raised.
    Result run(const QList<Step> &steps);
    // Why the last run failed, for the user; empty unless it gave Failed.
    const QByteArray &failure() const { return m_failure; }
    // The name of the step that gave Failed, so that a caller can say briefly what stopped
    // the phone; empty unless the last run failed.
    const QByteArray &failedStep() const { return m_failedStep; }

    // The steps of a sending run: "cancel input" (ESC: a message body the phone may still be
    // waiting for from an earlier run is dropped), "wake up" (AT until OK), "numbered errors"
    // (AT+CMEE=1; a phone that refuses it goes on without), then AT+CMGF=?, ATE0 and
    // AT+CMGF=0 (PDU mode), each required.
    static QList<Step> sendingSteps();

    // Building blocks of steps.
    Result cancelInput();
    Result wakeUp();
    // A command whose refusal does not matter.
    Result optional(const QByteArray &command);
    // A command the run cannot do without; advice (may be empty) is added to the failure.
    Result require(const QByteArray &command, const QByteArray &advice);
    Result fail(const QByteArray &line);

    GsmSerial &link() const { return m_link; }

private:
    GsmSerial &m_link;
    QByteArray m_failure;
    QByteArray m_failedStep;
};
