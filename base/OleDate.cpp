#include "base/OleDate.h"

#include <cmath>

namespace {

constexpr qint64 MsPerDay = 86400000;

QDate oleEpoch() {
    return QDate(1899, 12, 30);
}

} // namespace

QDateTime oleToDateTime(double ole) {
    if (ole == 0.0 || !std::isfinite(ole) || ole < OleDateMin || ole > OleDateMax)
        return {};
    double whole = std::trunc(ole);
    qint64 days = static_cast<qint64>(whole);
    qint64 ms = std::llround(std::fabs(ole - whole) * MsPerDay);
    if (ms >= MsPerDay) { // rounded up to the following midnight
        ++days;
        ms = 0;
    }
    QDate date = oleEpoch().addDays(days);
    QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms));
    return QDateTime(date, time, Qt::LocalTime);
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
    return dateTimeToOle(QDateTime::currentDateTime());
}
