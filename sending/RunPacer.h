#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>

#include <functional>

// How fast a run may go. Operators block SIMs that send as fast as the phone answers, so a run
// can pause between messages, stay under hourly and daily caps, keep quiet at night and start
// at a given time. Zero caps and an invalid time mean "no limit".
struct PacePlan {
    // The pause between messages, and how far each pause may vary at random either way.
    int intervalMs = 0;
    int jitterPercent = 0;
    int perHour = 0;
    int perDay = 0;
    // No message goes from quietFrom until quietUntil (over midnight when quietUntil comes
    // first); both invalid when there are no quiet hours.
    QTime quietFrom;
    QTime quietUntil;
    // No message goes before this moment; invalid: at once.
    QDateTime startAt;

    bool hasQuietHours() const { return quietFrom.isValid() && quietUntil.isValid(); }
    bool inQuietHours(const QTime &time) const;

    // "HH:MM" (or "H:MM"); false for anything else.
    static bool parseTime(const QString &text, QTime *time);
    // "HH:MM-HH:MM"; an empty text is no quiet hours. False for anything else.
    static bool parseQuietHours(const QString &text, QTime *from, QTime *until);
    static QString quietHoursText(const QTime &from, const QTime &until);
    // The next moment the clock shows time: today when still ahead, else tomorrow.
    static QDateTime nextAt(const QTime &time, const QDateTime &now);
};

// What one SIM sent in its current clock hour and calendar day (local time).
struct SentTally {
    QDateTime hour; // the start of the counted hour
    int inHour = 0;
    QDate day;
    int inDay = 0;

    // The tally as it stands at now: a window that has passed counts nothing.
    SentTally at(const QDateTime &now) const;
    // With one more message sent at when.
    SentTally plusOne(const QDateTime &when) const;

    // "2026-12-10T14:00,12,2026-12-10,57"; an unreadable text gives an empty tally.
    QString toText() const;
    static SentTally fromText(const QString &text);
};

// Keeps the tallies of the SIMs across runs and program restarts. Used on the worker thread.
class SentLedger {
public:
    virtual ~SentLedger() = default;
    virtual SentTally tally(const QString &sim) = 0;
    virtual void setTally(const QString &sim, const SentTally &tally) = 0;
};

// The time a run goes by; tests put a fake one in its place so that hours pass in no time.
class PaceClock {
public:
    virtual ~PaceClock() = default;
    virtual QDateTime now() = 0;
    // Lets ms pass. pause is the run's own wait, which a stop ends at once (false then).
    virtual bool sleep(qint64 ms, const std::function<bool(int ms)> &pause) = 0;
};

class SystemClock final : public PaceClock {
public:
    QDateTime now() override { return QDateTime::currentDateTime(); }
    bool sleep(qint64 ms, const std::function<bool(int ms)> &pause) override;
};

// Decides, before each message of a run, whether it may go now, and waits when not.
class RunPacer {
public:
    enum class Reason { None, StartTime, QuietHours, HourCap, DayCap, Interval };
    struct Wait {
        Reason reason = Reason::None;
        QDateTime until;
    };

    // ledger may be null (nothing counted across runs).
    RunPacer(PacePlan plan, PaceClock &clock, SentLedger *ledger);

    const PacePlan &plan() const { return m_plan; }
    // The SIM whose tally the caps count (its IMSI, or the port when the phone hides it).
    void setSim(const QString &sim) { m_sim = sim; }
    // Uniform in [0, 1); QRandomGenerator's unless replaced.
    std::function<double()> random;

    // What keeps the next message back at now, the first obstacle found; reason None when it
    // may go.
    Wait nextWait(const QDateTime &now);
    // Waits until the next message may go. announce is told each wait as it begins (and the
    // interval's), then once with reason None. False, at once, when the run was stopped.
    bool waitForTurn(const std::function<bool(int ms)> &pause,
                     const std::function<void(const Wait &)> &announce);
    // After a message that reached the phone: the pause before the next starts now.
    void messageDone();
    // What is left of the pause after the last message, in ms of the clock.
    qint64 pauseLeftMs();
    // After a message the phone accepted: counted against the caps of this SIM (only when
    // the plan has caps).
    void messageSent();

    // "Waiting until 15:00: 60 messages this hour", ...; empty for None and Interval.
    QString waitText(const Wait &wait, const QDateTime &now) const;

    PaceClock &clock() { return m_clock; }

private:
    SentTally currentTally(const QDateTime &now);

    PacePlan m_plan;
    PaceClock &m_clock;
    SentLedger *m_ledger;
    QString m_sim;
    // The tally when no ledger keeps it.
    SentTally m_ownTally;
    // When the pause after the last message ends; invalid before the first.
    QDateTime m_notBefore;
};
