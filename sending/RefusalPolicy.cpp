#include "sending/RefusalPolicy.h"

namespace {

QByteArray withLine(const QString &reason, const QByteArray &line) {
    return reason.toLocal8Bit() + " (" + line.trimmed() + ")";
}

} // namespace

RefusalPolicy::Decision RefusalPolicy::refused(const QByteArray &line, const QByteArray &number) {
    Decision decision;
    decision.refusal = readRefusal(line);
    const PhoneRefusal &refusal = decision.refusal;

    if (m_stopAtFirstRefusal) {
        decision.action = Action::StopRun;
        decision.report = "The phone refused the message to " + number + ": " +
                          withLine(refusal.reason, line) + '.';
        return decision;
    }

    if (line.trimmed() != m_streakLine) {
        m_streakLine = line.trimmed();
        m_streakNumbers.clear();
        m_streakFailed = 0;
    }
    if (!m_streakNumbers.contains(number))
        m_streakNumbers.append(number);

    if (refusal.kind == PhoneRefusal::Kind::Plain && ++m_plainErrors >= 2) {
        decision.action = Action::StopRun;
        decision.report = "The phone refused twice in a row without a reason (" + line.trimmed() +
                          "). " + sameRefusalAdvice().toLocal8Bit();
    } else if (refusal.refusalClass == RefusalClass::PhoneLevel) {
        decision.action = Action::StopRun;
        decision.report = "The phone cannot send: " + withLine(refusal.reason, line) + ". " +
                          refusal.advice.toLocal8Bit();
    } else if (m_streakNumbers.size() >= SameRefusalLimit) {
        decision.action = Action::StopRun;
        decision.failedInStreak = m_streakFailed;
        decision.report = "The phone refused " + QByteArray::number(SameRefusalLimit) +
                          " messages in a row the same way: " + withLine(refusal.reason, line) +
                          ". " + sameRefusalAdvice().toLocal8Bit();
    } else if (refusal.refusalClass == RefusalClass::Permanent) {
        decision.action = Action::Fail;
        ++m_streakFailed;
    } else {
        decision.action = Action::Retry;
    }
    if (decision.action == Action::StopRun) {
        m_streakLine.clear();
        m_streakNumbers.clear();
        m_streakFailed = 0;
    }
    return decision;
}

void RefusalPolicy::accepted() {
    m_streakLine.clear();
    m_streakNumbers.clear();
    m_streakFailed = 0;
    m_plainErrors = 0;
}
