#include "ui/DisplayText.h"

#include "data/OleDate.h"

#include <QLocale>

namespace {

// The long time format without its time-zone field ("t", "tt", ...) and the blanks around it;
// quoted literals are kept as they are.
QString TimeFormatWithoutZone(const QString &format) {
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

struct TDateFormats {
    QLocale Locale;
    QString Date;
    QString Time;
};

// The formats are looked up once per locale: a list repaint asks for many dates.
const TDateFormats &DateFormats() {
    static TDateFormats formats;
    const QLocale current;
    if (formats.Date.isEmpty() || !(formats.Locale == current)) {
        formats.Locale = current;
        formats.Date = current.dateFormat(QLocale::ShortFormat);
        formats.Time = TimeFormatWithoutZone(current.timeFormat(QLocale::LongFormat));
    }
    return formats;
}

} // namespace

QString CountText(qint64 count) {
    if (count <= 0)
        return {};
    return QLatin1Char('(') + QLocale().toString(count) + QLatin1Char(')');
}

QString OleDateText(double ole) {
    if (!OleIsSet(ole))
        return QStringLiteral("-");
    const QDateTime when = OleToDateTime(ole);
    if (!when.isValid())
        return QStringLiteral("-");
    const TDateFormats &formats = DateFormats();
    QString text = formats.Locale.toString(when.date(), formats.Date);
    if (when.time() != QTime(0, 0))
        text += QLatin1Char(' ') + formats.Locale.toString(when.time(), formats.Time);
    return text;
}

QString OneLineText(const QString &text) {
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

QString StripAccel(const QString &caption) {
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
