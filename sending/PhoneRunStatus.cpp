#include "sending/PhoneRunStatus.h"

#include <QLocale>
#include <QStringList>

QString PhoneRunStatus::text(bool withWord) const {
    const QString name = QString::fromLocal8Bit(port) + QStringLiteral(": ");
    const QString count =
        QLocale().toString(sent) + (withWord ? QStringLiteral(" sent") : QString());
    switch (state) {
    case State::Starting:
        return name + QStringLiteral("starting");
    case State::Sending:
        return name + count;
    case State::Waiting:
        return name + count + QStringLiteral(", ") +
               (detail.isEmpty() ? QStringLiteral("waiting") : detail);
    case State::Paused:
        return name + QStringLiteral("paused — ") + detail;
    case State::Done:
        return name + count + QStringLiteral(", done");
    }
    return name;
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
