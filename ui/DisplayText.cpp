#include "ui/DisplayText.h"

#include "base/OleDate.h"

#include <QLocale>

namespace {

// The long time format without its time-zone field ("t", "tt", ...) and the blanks around it;
// quoted literals are kept as they are.
QString timeFormatWithoutZone(const QString &format) {
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar ch = format[i];
        if (ch == QLatin1Char('\'')) {
            quoted = !quoted;
            out += ch;
        } else if (!quoted && ch == QLatin1Char('t')) {
            while (!out.isEmpty() && out.back().isSpace())
                out.chop(1);
        } else {
            out += ch;
        }
    }
    return out.trimmed();
}

struct DateFormats {
    QLocale locale;
    QString date;
    QString time;
};

// The formats are looked up once per locale: a list repaint asks for many dates.
const DateFormats &dateFormats() {
    static DateFormats formats;
    const QLocale current;
    if (formats.date.isEmpty() || !(formats.locale == current)) {
        formats.locale = current;
        formats.date = current.dateFormat(QLocale::ShortFormat);
        formats.time = timeFormatWithoutZone(current.timeFormat(QLocale::LongFormat));
    }
    return formats;
}

} // namespace

QString countText(qint64 count) {
    if (count <= 0)
        return {};
    return QLatin1Char('(') + QLocale().toString(count) + QLatin1Char(')');
}

QString oleDateText(double ole) {
    if (!oleIsSet(ole))
        return QStringLiteral("-");
    const OleWallTime when = oleToWallTime(ole);
    if (!when.isValid())
        return QStringLiteral("-");
    const DateFormats &formats = dateFormats();
    QString text = formats.locale.toString(when.date, formats.date);
    if (when.time != QTime(0, 0))
        text += QLatin1Char(' ') + formats.locale.toString(when.time, formats.time);
    return text;
}

QString oneLineText(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t ch = text[i].unicode();
        if (ch == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            out += QLatin1Char(' ');
        } else if (ch == u'\n' || ch == 0x2028 || ch == 0x2029) {
            out += QLatin1Char(' ');
        } else {
            out += QChar(ch);
        }
    }
    return out;
}

QString stripAccel(const QString &caption) {
    QString out;
    out.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&')) {
            if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&'))
                out += caption[++i];
            continue;
        }
        out += caption[i];
    }
    return out;
}
