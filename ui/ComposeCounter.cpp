#include "ui/ComposeCounter.h"

ComposeCount countCompose(const QString &subject, const QString &body, bool longMessage) {
    const qsizetype prefix = subject.isEmpty() ? 0 : subject.size() + 1;
    const int fixedLimit = longMessage ? LongLimit : 0;
    ComposeCount result;
    result.bodyLength = body.size();
    const QString text = composeText(subject, body);
    // fitLengthRedetect counts in int; a text beyond that is cut to what fits anyway.
    const int fit =
        fitLengthRedetect(text, static_cast<int>(qMin<qsizetype>(prefix, INT_MAX)), fixedLimit);
    if (fit < text.size()) {
        result.bodyLength = qMax<qsizetype>(0, fit - prefix);
        if (result.bodyLength > 0 && body[result.bodyLength - 1].isHighSurrogate())
            --result.bodyLength;
    }
    const QString kept = result.bodyLength == body.size()
                             ? text
                             : composeText(subject, body.left(result.bodyLength));
    result.coding = detectCoding(kept);
    result.count = countUnits(kept, result.coding);
    result.limit = fixedLimit > 0 ? fixedLimit : codingLimit(result.coding);
    return result;
}
