#include "tools/cli/CliPace.h"

namespace {

// A day between two messages is a typing mistake rather than a wish.
constexpr double MaxIntervalSeconds = 86400;
constexpr int DefaultJitter = 25;

bool wholeNumber(const QString &text, int *value) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < 0)
        return false;
    *value = n;
    return true;
}

} // namespace

bool PaceChoice::take(const QStringList &args, int &i, QString &error) {
    const QString &arg = args[i];
    static const QStringList names = {QStringLiteral("--interval"), QStringLiteral("--jitter"),
                                      QStringLiteral("--per-hour"), QStringLiteral("--per-day"),
                                      QStringLiteral("--quiet"),    QStringLiteral("--start-at")};
    if (!names.contains(arg))
        return false;
    if (i + 1 >= args.size()) {
        error = arg + QStringLiteral(" needs a value");
        return true;
    }
    const QString value = args[++i];
    if (arg == QLatin1String("--interval")) {
        bool ok = false;
        const double seconds = value.trimmed().toDouble(&ok);
        if (!ok || !(seconds >= 0 && seconds <= MaxIntervalSeconds))
            error = QStringLiteral("--interval needs seconds from 0 to 86400, as 5 or 2.5");
        else
            intervalMs = qRound(seconds * 1000);
    } else if (arg == QLatin1String("--jitter")) {
        int percent = 0;
        if (!wholeNumber(value, &percent) || percent > 100)
            error = QStringLiteral("--jitter needs a percentage from 0 to 100");
        else
            jitterPercent = percent;
    } else if (arg == QLatin1String("--per-hour") || arg == QLatin1String("--per-day")) {
        int cap = 0;
        if (!wholeNumber(value, &cap))
            error = arg + QStringLiteral(" needs a number of messages (0: no limit)");
        else
            (arg == QLatin1String("--per-hour") ? perHour : perDay) = cap;
    } else if (arg == QLatin1String("--quiet")) {
        quietGiven = true;
        if (value.trimmed() == QLatin1String("none")) {
            quietFrom = quietUntil = QTime();
        } else if (value.trimmed().isEmpty() ||
                   !PacePlan::parseQuietHours(value, &quietFrom, &quietUntil)) {
            error = QStringLiteral("--quiet needs the hours as HH:MM-HH:MM, as 21:00-08:00");
        }
    } else if (!PacePlan::parseTime(value, &startAt)) {
        error = QStringLiteral("--start-at needs a time of day as HH:MM");
    }
    return true;
}

bool PaceChoice::given() const {
    return intervalMs || jitterPercent || perHour || perDay || quietGiven || startAt.isValid();
}

PacePlan PaceChoice::applyTo(PacePlan plan, const QDateTime &now) const {
    if (intervalMs) {
        plan.intervalMs = *intervalMs;
        plan.jitterPercent = DefaultJitter;
    }
    if (jitterPercent)
        plan.jitterPercent = *jitterPercent;
    if (perHour)
        plan.perHour = *perHour;
    if (perDay)
        plan.perDay = *perDay;
    if (quietGiven) {
        plan.quietFrom = quietFrom;
        plan.quietUntil = quietUntil;
    }
    if (startAt.isValid())
        plan.startAt = PacePlan::nextAt(startAt, now);
    return plan;
}
