#include "link/ReplyScanner.h"

#include "link/GsmLink.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Appends [from, to) without its NUL bytes.
void appendText(QByteArray &target, const char *from, const char *to) {
    while (from < to) {
        const char *nul = static_cast<const char *>(std::memchr(from, 0, size_t(to - from)));
        const char *stop = nul ? nul : to;
        target.append(from, stop - from);
        from = nul ? nul + 1 : to;
    }
}

const char *lineEnd(const char *from, const char *to) {
    while (from < to && *from != '\r' && *from != '\n')
        ++from;
    return from;
}

} // namespace

ReplyScanner::ReplyScanner(GsmLink &link, const QByteArray &expected, bool completeLinesOnly)
    : m_link(link), m_expected{expected}, m_completeLinesOnly(completeLinesOnly) {
    // isFinalResponse looks for "OK", "ERROR" and the expected text as substrings.
    m_reachBack = std::max<qsizetype>(5, expected.size()) - 1;
}

bool ReplyScanner::isFinal(const QByteArray &line) {
    return m_link.isFinalResponse(m_expected, line);
}

bool ReplyScanner::partialIsFinal() {
    // A final text found now must overlap the bytes added since the last test.
    const qsizetype from = m_tested == 0 ? 0 : std::max<qsizetype>(0, m_tested - m_reachBack);
    const bool found = isFinal(from == 0 ? m_partial : m_partial.sliced(from));
    m_tested = m_partial.size();
    return found;
}

bool ReplyScanner::feed(const char *data, qsizetype size) {
    const char *at = data;
    const char *const end = data + size;
    while (at < end) {
        const char *segmentEnd = lineEnd(at, end);
        if (segmentEnd < end) {
            // A line end: whatever is pending plus this segment is one line.
            appendText(m_partial, at, segmentEnd);
            if (!m_partial.isEmpty()) {
                const QByteArray line = std::exchange(m_partial, QByteArray());
                m_tested = 0;
                m_link.addResponseLine(line);
                if (isFinal(line))
                    return true;
            }
        } else {
            const qsizetype before = m_partial.size();
            appendText(m_partial, at, segmentEnd);
            if (!m_completeLinesOnly && m_partial.size() > before && partialIsFinal()) {
                m_link.addResponseLine(m_partial);
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
