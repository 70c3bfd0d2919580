#include "link/ReplyScanner.h"

#include "link/GsmLink.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

QByteArrayView trimmed(QByteArrayView text) {
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return first < last ? QByteArrayView(first, last - first) : QByteArrayView();
}

const char *lineEnd(const char *from, const char *to) {
    while (from < to && *from != '\r' && *from != '\n')
        ++from;
    return from;
}

} // namespace

ReplyLine classifyReplyLine(const QByteArray &line, const QByteArray &expected, bool complete) {
    const QByteArrayView text = trimmed(line);
    // An error first: whatever was expected, the command failed.
    if (complete &&
        (text == "ERROR" || text.startsWith("+CMS ERROR:") || text.startsWith("+CME ERROR:")))
        return ReplyLine::Error;
    if (!expected.isEmpty()) {
        if (line.startsWith(expected) || (complete && !text.isEmpty() && text == trimmed(expected)))
            return ReplyLine::Expected;
    } else if (text == "OK") {
        return ReplyLine::Ok;
    }
    return ReplyLine::Other;
}

ReplyScanner::ReplyScanner(GsmLink &link, const QByteArray &expected, bool completeLinesOnly)
    : m_link(link), m_expected{expected}, m_completeLinesOnly(completeLinesOnly) {}

// Appends [from, to) without its NUL bytes, keeping at most MaxLineLength bytes.
void ReplyScanner::appendToPartial(const char *from, const char *to) {
    while (from < to && m_partial.size() < MaxLineLength) {
        const char *nul = static_cast<const char *>(std::memchr(from, 0, size_t(to - from)));
        const char *stop = nul ? nul : to;
        const qsizetype room = MaxLineLength - m_partial.size();
        m_partial.append(from, std::min<qsizetype>(stop - from, room));
        from = nul ? nul + 1 : to;
    }
}

bool ReplyScanner::takeLine(const QByteArray &line, bool complete) {
    const bool final = m_link.isFinalResponse(m_expected, line, complete);
    if (!complete && !final)
        return false;
    if (final || (m_recordedBytes < MaxResponseBytes && m_recordedLines < MaxResponseLines)) {
        m_recordedBytes += line.size();
        ++m_recordedLines;
        m_link.addResponseLine(line);
    }
    return final;
}

bool ReplyScanner::feed(const char *data, qsizetype size) {
    const char *at = data;
    const char *const end = data + size;
    while (at < end) {
        const char *segmentEnd = lineEnd(at, end);
        if (segmentEnd < end) {
            // A line end: whatever is pending plus this segment is one line.
            appendToPartial(at, segmentEnd);
            if (!m_partial.isEmpty() && takeLine(std::exchange(m_partial, QByteArray()), true))
                return true;
        } else {
            const qsizetype before = m_partial.size();
            appendToPartial(at, segmentEnd);
            // Only the start of a line decides whether it is the prompt.
            if (!m_completeLinesOnly && m_partial.size() > before &&
                before < m_expected.first().size() && takeLine(m_partial, false))
                return true;
        }
        at = segmentEnd;
        if (at < end && *at == '\r')
            ++at;
        if (at < end && *at == '\n')
            ++at;
    }
    return false;
}
