#pragma once

#include "link/PhoneRefusal.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What a sending run does when the phone refuses a message, over the run: the class of the
// refusal (link/PhoneRefusal.h), then two rules that catch a phone-level problem the codes do
// not name. The same refusal for three different recipients in a row is the phone's, not the
// recipients'; a plain ERROR, which names nothing, is worth one more try, but a second one in
// a row stops the run. An accepted message ends both.
class RefusalPolicy {
public:
    static constexpr int SameRefusalLimit = 3;

    enum class Action {
        Fail,    // the message fails for good; the run goes on
        Retry,   // try the message again later
        StopRun, // the message goes back to pending and the run ends with report
    };

    struct Decision {
        Action action = Action::Retry;
        PhoneRefusal refusal;
        // For StopRun: the line for the user, with the advice.
        QByteArray report;
        // For StopRun by the same-refusal rule: how many of the messages before this one
        // failed with it and are not the recipients' fault after all (the last ones failed).
        int failedInStreak = 0;
    };

    explicit RefusalPolicy(bool stopAtFirstRefusal = false)
        : m_stopAtFirstRefusal(stopAtFirstRefusal) {}

    // The phone answered line to a message to number.
    Decision refused(const QByteArray &line, const QByteArray &number);
    // The phone accepted a message.
    void accepted();

private:
    bool m_stopAtFirstRefusal;
    QByteArray m_streakLine;
    QList<QByteArray> m_streakNumbers;
    int m_streakFailed = 0;
    int m_plainErrors = 0;
};
