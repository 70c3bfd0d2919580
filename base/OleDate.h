#pragma once

#include <QDateTime>

// Date-times are stored as OLE Automation dates: days since 1899-12-30 00:00 local time, the
// time of day as the fraction (for dates before the epoch the fraction still counts forward
// from midnight: -1.25 is 1899-12-29 06:00). 0 means "not set". These are the only
// conversions between that form and QDateTime; everything that shows, stamps or parses a
// date goes through them.

// Smallest and largest day numbers accepted (0100-01-01 and 9999-12-31).
constexpr double OleDateMin = -657434.0;
constexpr double OleDateMax = 2958465.99999999;

// The local date and time of day an OLE date stands for, to the millisecond: what the date
// says on its own, without the system's time zone. Invalid (a null date) for 0 (not set), NaN,
// infinities and values outside [OleDateMin, OleDateMax].
struct OleWallTime {
    QDate date;
    QTime time;

    bool isValid() const { return date.isValid(); }
};
OleWallTime oleToWallTime(double ole);

// Local date-time of an OLE date, to the millisecond. Invalid where oleToWallTime is.
QDateTime oleToDateTime(double ole);

// OLE date of a date-time (converted to local time first). 0 for an invalid date-time.
double dateTimeToOle(const QDateTime &dateTime);

// The current local time as an OLE date. The local time zone is read once per process (a
// conversion through the C library reads it again at every call).
double oleNow();

// True when the value means a date (not 0).
inline bool oleIsSet(double ole) {
    return ole != 0.0;
}
