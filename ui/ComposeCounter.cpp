#include "ui/ComposeCounter.h"

ComposeCount countCompose(const QString &subject, const QString &body, bool longMessage) {
    const qsizetype prefix = subject.isEmpty() ? 0 : subject.size() + 1;
    const QString text = composeText(subject, body);
    // fitText counts in int; a text beyond that is cut to what fits anyway.
    const TextFit fit =
        fitText(text, static_cast<int>(qMin<qsizetype>(prefix, INT_MAX)), longMessage);
    ComposeCount result;
    result.coding = fit.coding;
    result.count = fit.units;
    result.limit = fit.limit;
    result.parts = fit.length > 0 ? fit.parts : 0;
    result.bodyLength = qBound<qsizetype>(0, fit.length - prefix, body.size());
    result.reasons = fit.reasons;
    return result;
}
