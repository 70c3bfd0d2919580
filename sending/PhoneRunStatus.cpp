#include "sending/PhoneRunStatus.h"

#include <QLocale>
#include <QStringList>

QString PhoneRunStatus::text(bool withWord) const {
    return QString::fromLocal8Bit(port) + QStringLiteral(": ") + stateText(withWord);
}

QString PhoneRunStatus::stateText(bool withWord) const {
    const QString count =
        QLocale().toString(sent) + (withWord ? QStringLiteral(" sent") : QString());
    switch (state) {
    case State::Starting:
        return QStringLiteral("starting");
    case State::Sending:
        return count;
    case State::Waiting:
        return count + QStringLiteral(", ") +
               (detail.isEmpty() ? QStringLiteral("waiting") : detail);
    case State::Paused:
        return QStringLiteral("paused — ") + detail;
    case State::Done:
        return count + QStringLiteral(", done");
    }
    return QString();
}

QString PhoneRunStatus::line(const QList<PhoneRunStatus> &phones) {
    QStringList parts;
    // The word once is enough for a reader; the line stays short with many phones.
    bool worded = false;
    for (const PhoneRunStatus &phone : phones) {
        const bool counts = phone.state != State::Starting && phone.state != State::Paused;
        parts << phone.text(counts && !worded);
        worded = worded || counts;
    }
    return parts.join(QStringLiteral(", "));
}
