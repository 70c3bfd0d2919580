#include "sending/RunPacer.h"

#include <QRandomGenerator>
#include <QStringList>

#include <algorithm>

namespace {

// A long wait is slept in steps: the wall clock may jump (a suspended laptop, a clock set
// right), and the wait then ends when the clock says so, not an hour late.
constexpr qint64 SleepStepMs = 60 * 1000;

const QString TimeFormat = QStringLiteral("HH:mm");
const QString HourFormat = QStringLiteral("yyyy-MM-ddTHH:mm");
const QString DayFormat = QStringLiteral("yyyy-MM-dd");

QString untilText(const QDateTime &until, const QDateTime &now) {
    if (until.date() == now.date())
        return until.toString(TimeFormat);
    if (until.date() == now.date().addDays(1))
        return QStringLiteral("tomorrow %1").arg(until.toString(TimeFormat));
    return until.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

} // namespace

bool PacePlan::inQuietHours(const QTime &time) const {
    if (!hasQuietHours() || quietFrom == quietUntil)
        return false;
    if (quietFrom < quietUntil)
        return time >= quietFrom && time < quietUntil;
    return time >= quietFrom || time < quietUntil;
}

bool PacePlan::parseTime(const QString &text, QTime *time) {
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    if (parts.size() != 2 || parts[0].isEmpty() || parts[0].size() > 2 || parts[1].size() != 2)
        return false;
    bool okHour = false;
    bool okMinute = false;
    const int hour = parts[0].toInt(&okHour);
    const int minute = parts[1].toInt(&okMinute);
    if (!okHour || !okMinute || hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return false;
    *time = QTime(hour, minute);
    return true;
}

bool PacePlan::parseQuietHours(const QString &text, QTime *from, QTime *until) {
    if (text.trimmed().isEmpty()) {
        *from = QTime();
        *until = QTime();
        return true;
    }
    const QStringList parts = text.split(QLatin1Char('-'));
    QTime start;
    QTime end;
    if (parts.size() != 2 || !parseTime(parts[0], &start) || !parseTime(parts[1], &end) ||
        start == end)
        return false;
    *from = start;
    *until = end;
    return true;
}

QString PacePlan::quietHoursText(const QTime &from, const QTime &until) {
    if (!from.isValid() || !until.isValid())
        return QString();
    return from.toString(TimeFormat) + QLatin1Char('-') + until.toString(TimeFormat);
}

QDateTime PacePlan::nextAt(const QTime &time, const QDateTime &now) {
    QDateTime at(now.date(), time);
    if (at <= now)
        at = QDateTime(now.date().addDays(1), time);
    return at;
}

SentTally SentTally::at(const QDateTime &now) const {
    SentTally current;
    current.hour = QDateTime(now.date(), QTime(now.time().hour(), 0));
    current.day = now.date();
    current.inHour = hour == current.hour ? inHour : 0;
    current.inDay = day == current.day ? inDay : 0;
    return current;
}

SentTally SentTally::plusOne(const QDateTime &when) const {
    SentTally next = at(when);
    ++next.inHour;
    ++next.inDay;
    return next;
}

QString SentTally::toText() const {
    return QStringLiteral("%1,%2,%3,%4")
        .arg(hour.toString(HourFormat))
        .arg(inHour)
        .arg(day.toString(DayFormat))
        .arg(inDay);
}

SentTally SentTally::fromText(const QString &text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return {};
    SentTally tally;
    bool okHour = false;
    bool okDay = false;
    tally.hour = QDateTime::fromString(parts[0].trimmed(), HourFormat);
    tally.inHour = parts[1].trimmed().toInt(&okHour);
    tally.day = QDate::fromString(parts[2].trimmed(), DayFormat);
    tally.inDay = parts[3].trimmed().toInt(&okDay);
    if (!tally.hour.isValid() || !tally.day.isValid() || !okHour || !okDay || tally.inHour < 0 ||
        tally.inDay < 0)
        return {};
    return tally;
}

bool SystemClock::sleep(qint64 ms, const std::function<bool(int ms)> &pause) {
    if (ms <= 0)
        return pause(0);
    while (ms > 0) {
        const qint64 step = std::min(ms, SleepStepMs);
        if (!pause(static_cast<int>(step)))
            return false;
        ms -= step;
    }
    return true;
}

RunPacer::RunPacer(PacePlan plan, PaceClock &clock, SentLedger *ledger)
    : m_plan(std::move(plan)), m_clock(clock), m_ledger(ledger) {
    random = [] { return QRandomGenerator::global()->generateDouble(); };
}

SentTally RunPacer::currentTally(const QDateTime &now) {
    return (m_ledger ? m_ledger->tally(m_sim) : m_ownTally).at(now);
}

RunPacer::Wait RunPacer::nextWait(const QDateTime &now) {
    if (m_plan.startAt.isValid() && now < m_plan.startAt)
        return {Reason::StartTime, m_plan.startAt};
    if (m_plan.inQuietHours(now.time()))
        return {Reason::QuietHours, PacePlan::nextAt(m_plan.quietUntil, now)};
    if (m_plan.perDay > 0 || m_plan.perHour > 0) {
        const SentTally tally = currentTally(now);
        if (m_plan.perDay > 0 && tally.inDay >= m_plan.perDay)
            return {Reason::DayCap, QDateTime(tally.day.addDays(1), QTime(0, 0))};
        if (m_plan.perHour > 0 && tally.inHour >= m_plan.perHour)
            return {Reason::HourCap, tally.hour.addSecs(3600)};
    }
    if (m_notBefore.isValid() && now < m_notBefore)
        return {Reason::Interval, m_notBefore};
    return {};
}

bool RunPacer::waitForTurn(const std::function<bool(int ms)> &pause,
                           const std::function<void(const Wait &)> &announce) {
    Wait announced;
    for (;;) {
        const QDateTime now = m_clock.now();
        const Wait wait = nextWait(now);
        if (wait.reason == Reason::None) {
            if (announced.reason != Reason::None && announce)
                announce(wait);
            return true;
        }
        // Said once per wait, not at every step of it.
        if ((wait.reason != announced.reason || wait.until != announced.until) && announce)
            announce(wait);
        announced = wait;
        if (!m_clock.sleep(std::min(now.msecsTo(wait.until), SleepStepMs), pause))
            return false;
    }
}

void RunPacer::messageDone() {
    if (m_plan.intervalMs <= 0)
        return;
    const double jitter = std::clamp(m_plan.jitterPercent, 0, 100) / 100.0;
    const double factor = 1.0 + jitter * (2.0 * random() - 1.0);
    m_notBefore = m_clock.now().addMSecs(qRound64(m_plan.intervalMs * factor));
}

qint64 RunPacer::pauseLeftMs() {
    return m_notBefore.isValid() ? std::max<qint64>(m_clock.now().msecsTo(m_notBefore), 0) : 0;
}

void RunPacer::messageSent() {
    // Without caps the SIM is not asked for, and nothing is written for every message.
    if (m_plan.perHour <= 0 && m_plan.perDay <= 0)
        return;
    const QDateTime now = m_clock.now();
    const SentTally next = currentTally(now).plusOne(now);
    if (m_ledger)
        m_ledger->setTally(m_sim, next);
    else
        m_ownTally = next;
}

QString RunPacer::waitText(const Wait &wait, const QDateTime &now) const {
    const QString until = untilText(wait.until, now);
    switch (wait.reason) {
    case Reason::StartTime:
        return QStringLiteral("Waiting until %1 to start").arg(until);
    case Reason::QuietHours:
        return QStringLiteral("Quiet hours: waiting until %1").arg(until);
    case Reason::HourCap:
        return QStringLiteral("Hourly limit of %1 reached: waiting until %2")
            .arg(m_plan.perHour)
            .arg(until);
    case Reason::DayCap:
        return QStringLiteral("Daily limit of %1 reached: waiting until %2")
            .arg(m_plan.perDay)
            .arg(until);
    case Reason::None:
    case Reason::Interval:
        break;
    }
    return QString();
}
