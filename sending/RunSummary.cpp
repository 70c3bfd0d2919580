#include "sending/RunSummary.h"

#include <QLocale>
#include <QStringList>

void RunSummary::addFailed(const QString &reason) {
    ++failed;
    for (auto &entry : failedReasons) {
        if (entry.first == reason) {
            ++entry.second;
            return;
        }
    }
    failedReasons.append({reason, 1});
}

void RunSummary::removeFailed(const QString &reason) {
    for (qsizetype i = 0; i < failedReasons.size(); ++i) {
        if (failedReasons[i].first != reason)
            continue;
        --failed;
        if (--failedReasons[i].second == 0)
            failedReasons.removeAt(i);
        return;
    }
}

QString RunSummary::text() const {
    const QLocale locale;
    QString line =
        QStringLiteral("Sent %1 of %2").arg(locale.toString(sent), locale.toString(total()));
    QStringList details;
    if (failed > 0) {
        QStringList reasons;
        for (const auto &[reason, count] : failedReasons)
            reasons << (failedReasons.size() == 1
                            ? reason
                            : locale.toString(count) + QLatin1Char(' ') + reason);
        details << QStringLiteral("%1 failed (%2)")
                       .arg(locale.toString(failed), reasons.join(QStringLiteral(", ")));
    }
    if (unknown > 0)
        details << QStringLiteral("%1 unknown").arg(locale.toString(unknown));
    if (notSent > 0)
        details << QStringLiteral("%1 not sent").arg(locale.toString(notSent));
    if (!details.isEmpty())
        line += QStringLiteral(": ") + details.join(QStringLiteral(", "));
    return line;
}
