#pragma once

#include "sending/RunPacer.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// The pace options of send: --interval SECONDS, --jitter PERCENT, --per-hour N, --per-day N,
// --quiet HH:MM-HH:MM and --start-at HH:MM. Each overrides the stored setting for this run.
struct PaceChoice {
    std::optional<int> intervalMs;
    std::optional<int> jitterPercent;
    std::optional<int> perHour;
    std::optional<int> perDay;
    // Set when --quiet was given; invalid times: none for this run ("--quiet none").
    bool quietGiven = false;
    QTime quietFrom;
    QTime quietUntil;
    QTime startAt;

    // Takes args[i] (and its value) when it is one of the options; false when it is not. A
    // missing or bad value sets error.
    bool take(const QStringList &args, int &i, QString &error);
    bool given() const;
    // The stored plan with the options applied; a start time already past today is tomorrow's.
    PacePlan applyTo(PacePlan plan, const QDateTime &now) const;
};
