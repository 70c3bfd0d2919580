#include "data/OleDate.h"

#include <cmath>

namespace {

constexpr qint64 MsPerDay = 86400000;

QDate OleEpoch() {
    return QDate(1899, 12, 30);
}

} // namespace

QDateTime OleToDateTime(double ole) {
    if (ole == 0.0 || !std::isfinite(ole) || ole < OleDateMin || ole > OleDateMax)
        return {};
    double whole = std::trunc(ole);
    qint64 days = static_cast<qint64>(whole);
    qint64 ms = std::llround(std::fabs(ole - whole) * MsPerDay);
    if (ms >= MsPerDay) {
        // Rounded up to the next midnight: away from the epoch for negative day numbers is
        // towards the previous day's midnight in the odd OLE encoding, so step the day only
        // for positive values and clamp otherwise.
        if (ole >= 0) {
            ++days;
            ms = 0;
        } else {
            ms = MsPerDay - 1;
        }
    }
    QDate date = OleEpoch().addDays(days);
    QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms));
    return QDateTime(date, time, Qt::LocalTime);
}

double DateTimeToOle(const QDateTime &dateTime) {
    if (!dateTime.isValid())
        return 0.0;
    QDateTime local = dateTime.toLocalTime();
    qint64 days = OleEpoch().daysTo(local.date());
    double fraction = static_cast<double>(local.time().msecsSinceStartOfDay()) / MsPerDay;
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

double OleNow() {
    return DateTimeToOle(QDateTime::currentDateTime());
}
