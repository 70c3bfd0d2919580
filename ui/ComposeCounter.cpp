#include "ui/ComposeCounter.h"

namespace {

qsizetype subjectPrefix(const QString &subject) {
    return subject.isEmpty() ? 0 : subject.size() + 1;
}

ComposeCount fromFit(const TextFit &fit, qsizetype prefix, qsizetype bodySize) {
    ComposeCount result;
    result.coding = fit.coding;
    result.count = fit.units;
    result.limit = fit.limit;
    result.parts = fit.length > 0 ? fit.parts : 0;
    result.bodyLength = qBound<qsizetype>(0, fit.length - prefix, bodySize);
    result.reasons = fit.reasons;
    return result;
}

int clampedInt(qsizetype value) {
    return static_cast<int>(qMin<qsizetype>(value, INT_MAX));
}

} // namespace

ComposeCount countCompose(const QString &subject, const QString &body, bool longMessage) {
    const qsizetype prefix = subjectPrefix(subject);
    const QString text = composeText(subject, body);
    // fitText counts in int; a text beyond that is cut to what fits anyway.
    const TextFit fit = fitText(text, clampedInt(prefix), longMessage);
    ComposeCount result = fromFit(fit, prefix, body.size());
    // A subject too long on its own keeps its length although nothing fits.
    const bool withinLimit =
        fit.units <= fit.limit && (!longMessage || fit.parts <= maxParts(fit.coding));
    result.fits = withinLimit && result.bodyLength == body.size() && fit.length == text.size();
    return result;
}

ComposeCount measureCompose(const QString &subject, const QString &body, bool longMessage) {
    ComposeCount cut = countCompose(subject, body, longMessage);
    if (cut.fits)
        return cut;
    const qsizetype prefix = subjectPrefix(subject);
    const QString text = composeText(subject, body);
    // Kept whole: the count and coding of the text as it stands.
    ComposeCount whole =
        fromFit(fitText(text, clampedInt(text.size()), longMessage), prefix, body.size());
    whole.bodyLength = cut.bodyLength;
    whole.fits = false;
    return whole;
}

int composeOverflow(const ComposeCount &count) {
    const int over = count.count - count.limit;
    if (over <= 0 && !count.fits)
        return 1;
    return over;
}
