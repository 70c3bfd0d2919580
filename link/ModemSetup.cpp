#include "link/ModemSetup.h"

#include "link/GsmSerial.h"

#include <utility>

namespace {

// Puts the link's empty-wait budget back however the try ends.
class BudgetScope {
public:
    BudgetScope(GsmSerial &link, int budget)
        : m_link(link), m_saved(std::exchange(link.emptyWaitBudget, budget)) {}
    ~BudgetScope() { m_link.emptyWaitBudget = m_saved; }
    BudgetScope(const BudgetScope &) = delete;
    BudgetScope &operator=(const BudgetScope &) = delete;

private:
    GsmSerial &m_link;
    int m_saved;
};

} // namespace

ModemSetup::Result ModemSetup::run(const QList<Step> &steps) {
    m_failure.clear();
    m_failedStep.clear();
    for (const Step &step : steps) {
        if (m_link.abortDue())
            return Result::Stopped;
        const Result result = step.run(*this);
        if (result == Result::Failed)
            m_failedStep = step.name;
        if (result != Result::Ready)
            return result;
    }
    return m_link.abortDue() ? Result::Stopped : Result::Ready;
}

QList<ModemSetup::Step> ModemSetup::sendingSteps() {
    return {
        {"cancel input", [](ModemSetup &s) { return s.cancelInput(); }},
        {"wake up", [](ModemSetup &s) { return s.wakeUp(); }},
        {"numbered errors", [](ModemSetup &s) { return s.optional("AT+CMEE=1"); }},
        {"message formats",
         [](ModemSetup &s) {
             return s.require("AT+CMGF=?", "The phone does not offer text messages through AT "
                                           "commands: try another phone or modem.");
         }},
        {"echo off", [](ModemSetup &s) { return s.require("ATE0", QByteArray()); }},
        {"PDU mode",
         [](ModemSetup &s) {
             return s.require("AT+CMGF=0", "The phone cannot send messages in PDU mode: try "
                                           "another phone or modem.");
         }},
    };
}

ModemSetup::Result ModemSetup::cancelInput() {
    m_link.writeEscape();
    // A phone that was waiting for a body may answer the ESC; that answer must not be taken
    // for the answer to the next command.
    m_link.discardInput(DiscardWaits);
    return m_link.abortDue() ? Result::Stopped : Result::Ready;
}

ModemSetup::Result ModemSetup::wakeUp() {
    for (int attempt = 0; attempt < WakeUpTries; ++attempt) {
        BudgetScope budget(m_link, WakeUpEmptyWaits);
        try {
            if (!m_link.executeCommand("AT")) {
                if (m_link.abortDue())
                    return Result::Stopped;
                // An answer, but not OK (a stray ERROR, noise): ask again.
                continue;
            }
            return Result::Ready;
        } catch (const ReadTimeout &) {
            if (m_link.abortDue())
                return Result::Stopped;
        }
    }
    return fail("The phone does not answer on " + m_link.port().portName() +
                ": check that it is switched on, connected to this port and not used by "
                "another program.");
}

ModemSetup::Result ModemSetup::optional(const QByteArray &command) {
    if (!m_link.executeCommand(command) && m_link.abortDue())
        return Result::Stopped;
    return Result::Ready;
}

ModemSetup::Result ModemSetup::require(const QByteArray &command, const QByteArray &advice) {
    if (m_link.executeCommand(command))
        return Result::Ready;
    if (m_link.abortDue())
        return Result::Stopped;
    QByteArray line = "The phone refused " + command + " (" + m_link.finalLine.trimmed() + ")";
    line += advice.isEmpty() ? QByteArray(".") : ": " + advice;
    return fail(line);
}

ModemSetup::Result ModemSetup::fail(const QByteArray &line) {
    m_failure = line;
    return Result::Failed;
}
