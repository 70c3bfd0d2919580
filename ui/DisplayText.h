#pragma once

#include <QString>

// Texts the windows show for numbers, dates and message bodies, in the user's locale
// (QLocale(), which tests may set with QLocale::setDefault).

// "(1,234)" with the locale's thousands separator; empty for 0 and below.
QString countText(qint64 count);

// "-" for a date that is not set, otherwise the short date, a blank and the long time
// without its time-zone part; the time is left out when it is exactly midnight.
QString oleDateText(double ole);

// The text on one line: every line break (CR LF, LF, CR, U+2028, U+2029) becomes one blank.
QString oneLineText(const QString &text);

// A caption without its access-key marks: "Co&mpose" -> "Compose", "&&" -> "&".
QString stripAccel(const QString &caption);
