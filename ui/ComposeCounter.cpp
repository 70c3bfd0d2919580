#include "ui/ComposeCounter.h"

TComposeCount CountCompose(const QString &subject, const QString &body, bool longMessage) {
    const qsizetype prefix = subject.isEmpty() ? 0 : subject.size() + 1;
    const int fixedLimit = longMessage ? LongLimit : 0;
    TComposeCount result;
    result.BodyLength = body.size();
    const QString text = ComposeText(subject, body);
    // FitLengthRedetect counts in int; a text beyond that is cut to what fits anyway.
    const int fit =
        FitLengthRedetect(text, static_cast<int>(qMin<qsizetype>(prefix, INT_MAX)), fixedLimit);
    if (fit < text.size()) {
        result.BodyLength = qMax<qsizetype>(0, fit - prefix);
        if (result.BodyLength > 0 && body[result.BodyLength - 1].isHighSurrogate())
            --result.BodyLength;
    }
    const QString kept = result.BodyLength == body.size()
                             ? text
                             : ComposeText(subject, body.left(result.BodyLength));
    result.Coding = DetectCoding(kept);
    result.Count = CountUnits(kept, result.Coding);
    result.Limit = fixedLimit > 0 ? fixedLimit : CodingLimit[result.Coding];
    return result;
}
