#include "base/OleDate.h"

#include <QTimeZone>

#include <cmath>

namespace {

constexpr qint64 MsPerDay = 86400000;

QDate oleEpoch() {
    return QDate(1899, 12, 30);
}

// Days from the OLE epoch to 1970-01-01.
constexpr qint64 UnixEpochDay = 25569;

const QTimeZone &localZone() {
    static const QTimeZone zone = QTimeZone::systemTimeZone();
    return zone;
}

} // namespace

OleWallTime oleToWallTime(double ole) {
    if (ole == 0.0 || !std::isfinite(ole) || ole < OleDateMin || ole > OleDateMax)
        return {};
    double whole = std::trunc(ole);
    qint64 days = static_cast<qint64>(whole);
    qint64 ms = std::llround(std::fabs(ole - whole) * MsPerDay);
    if (ms >= MsPerDay) { // rounded up to the following midnight
        ++days;
        ms = 0;
    }
    return {oleEpoch().addDays(days), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms))};
}

QDateTime oleToDateTime(double ole) {
    const OleWallTime wall = oleToWallTime(ole);
    if (!wall.isValid())
        return {};
    return QDateTime(wall.date, wall.time, Qt::LocalTime);
}

double dateTimeToOle(const QDateTime &dateTime) {
    if (!dateTime.isValid())
        return 0.0;
    QDateTime local = dateTime.toLocalTime();
    qint64 days = oleEpoch().daysTo(local.date());
    double fraction = static_cast<double>(local.time().msecsSinceStartOfDay()) / MsPerDay;
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

double oleNow() {
    const QTimeZone &zone = localZone();
    if (!zone.isValid())
        return dateTimeToOle(QDateTime::currentDateTime());
    const QDateTime utc = QDateTime::currentDateTimeUtc();
    const qint64 local = utc.toMSecsSinceEpoch() + qint64(zone.offsetFromUtc(utc)) * 1000;
    // Floored: a time before 1970 still counts its fraction forward from midnight.
    const qint64 days = local >= 0 ? local / MsPerDay : -((-local + MsPerDay - 1) / MsPerDay);
    const double fraction = static_cast<double>(local - days * MsPerDay) / MsPerDay;
    const qint64 oleDays = days + UnixEpochDay;
    return oleDays >= 0 ? static_cast<double>(oleDays) + fraction
                        : static_cast<double>(oleDays) - fraction;
}
