#include "link/ReplyScanner.h"

#include "link/GsmLink.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Appends [from, to) without its NUL bytes.
void AppendText(QByteArray &target, const char *from, const char *to) {
    while (from < to) {
        const char *nul = static_cast<const char *>(std::memchr(from, 0, size_t(to - from)));
        const char *stop = nul ? nul : to;
        target.append(from, stop - from);
        from = nul ? nul + 1 : to;
    }
}

const char *LineEnd(const char *from, const char *to) {
    while (from < to && *from != '\r' && *from != '\n')
        ++from;
    return from;
}

} // namespace

TReplyScanner::TReplyScanner(TGsmLink &link, const QByteArray &expected, bool completeLinesOnly)
    : FLink(link), FExpected{expected}, FCompleteLinesOnly(completeLinesOnly) {
    // IsFinalResponse looks for "OK", "ERROR" and the expected text as substrings.
    FReachBack = std::max<qsizetype>(5, expected.size()) - 1;
}

bool TReplyScanner::IsFinal(const QByteArray &line) {
    return FLink.IsFinalResponse(FExpected, line);
}

bool TReplyScanner::PartialIsFinal() {
    // A final text found now must overlap the bytes added since the last test.
    const qsizetype from = FTested == 0 ? 0 : std::max<qsizetype>(0, FTested - FReachBack);
    const bool found = IsFinal(from == 0 ? FPartial : FPartial.sliced(from));
    FTested = FPartial.size();
    return found;
}

bool TReplyScanner::Feed(const char *data, qsizetype size) {
    const char *at = data;
    const char *const end = data + size;
    while (at < end) {
        const char *segmentEnd = LineEnd(at, end);
        if (segmentEnd < end) {
            // A line end: whatever is pending plus this segment is one line.
            AppendText(FPartial, at, segmentEnd);
            if (!FPartial.isEmpty()) {
                const QByteArray line = std::exchange(FPartial, QByteArray());
                FTested = 0;
                FLink.AddResponseLine(line);
                if (IsFinal(line))
                    return true;
            }
        } else {
            const qsizetype before = FPartial.size();
            AppendText(FPartial, at, segmentEnd);
            if (!FCompleteLinesOnly && FPartial.size() > before && PartialIsFinal()) {
                FLink.AddResponseLine(FPartial);
                return true;
            }
        }
        at = segmentEnd;
        if (at < end && *at == '\r')
            ++at;
        if (at < end && *at == '\n')
            ++at;
    }
    return false;
}
