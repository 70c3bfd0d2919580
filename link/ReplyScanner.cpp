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

// Lines a phone sends on its own. A "+NAME:" or "^NAME:" line still answers a command that
// asks for NAME (AT+CPIN? is answered by "+CPIN: READY", which some phones also send when the
// SIM comes up).
struct UnsolicitedKind {
    const char *start;
    bool wholeLine;    // the line is exactly this text, not a prefix
    bool registration; // +CREG and its kin: one field is always a change of state
};

constexpr UnsolicitedKind UnsolicitedLines[] = {
    {"RING", true, false},      {"NO CARRIER", true, false}, {"^SYSSTART", true, false},
    {"+CRING:", false, false},  {"+CLIP:", false, false},    {"+CCWA:", false, false},
    {"+CMTI:", false, false},   {"+CDSI:", false, false},    {"+CMT:", false, false},
    {"+CDS:", false, false},    {"+CBM:", false, false},     {"+CBMI:", false, false},
    {"+CUSD:", false, false},   {"+CREG:", false, true},     {"+CGREG:", false, true},
    {"+CEREG:", false, true},   {"+C5GREG:", false, true},   {"+CPIN:", false, false},
    {"+CGEV:", false, false},   {"+CIEV:", false, false},    {"+CTZV:", false, false},
    {"+CTZE:", false, false},   {"+PACSP", false, false},    {"+QIND:", false, false},
    {"+QUSIM:", false, false},  {"+STIN:", false, false},    {"^RSSI:", false, false},
    {"^HCSQ:", false, false},   {"^BOOT:", false, false},    {"^MODE:", false, false},
    {"^SRVST:", false, false},  {"^SIMST:", false, false},   {"^DSFLOWRPT:", false, false},
    {"^CEND:", false, false},   {"^ORIG:", false, false},    {"^CONF:", false, false},
    {"^CONN:", false, false},   {"^STIN:", false, false},    {"^NDISSTAT:", false, false},
    {"^NWTIME:", false, false}, {"^ECCLIST:", false, false}, {"^SMMEMFULL", false, false},
    {"^CSNR:", false, false},   {"^LTERSRP:", false, false}, {"^ACTIVEBAND:", false, false},
};

// The fields after the colon, commas inside quotes not counting.
QList<QByteArrayView> fieldsOf(QByteArrayView line) {
    QList<QByteArrayView> fields;
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return fields;
    const QByteArrayView rest = trimmed(line.sliced(colon + 1));
    bool quoted = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || (rest[i] == ',' && !quoted)) {
            fields.append(trimmed(rest.sliced(start, i - start)));
            start = i + 1;
        } else if (rest[i] == '"') {
            quoted = !quoted;
        }
    }
    return fields;
}

// Whether command asks for what lines starting with start ("+CREG:") tell: AT+CREG?,
// AT+CREG=?, AT+CREG=1 but not AT+CREGX.
bool asksFor(QByteArrayView command, QByteArrayView start) {
    const QByteArrayView name = start.endsWith(':') ? start.chopped(1) : start;
    const QByteArrayView text = trimmed(command);
    if (text.size() < 2 + name.size() || text.first(2).compare("AT", Qt::CaseInsensitive) != 0)
        return false;
    if (text.sliced(2, name.size()).compare(name, Qt::CaseInsensitive) != 0)
        return false;
    const qsizetype after = 2 + name.size();
    return after == text.size() || text[after] == '?' || text[after] == '=';
}

} // namespace

bool isUnsolicitedLine(QByteArrayView line, QByteArrayView command) {
    const QByteArrayView text = trimmed(line);
    for (const UnsolicitedKind &kind : UnsolicitedLines) {
        const QByteArrayView start(kind.start);
        if (kind.wholeLine ? text != start : !text.startsWith(start))
            continue;
        if (kind.wholeLine || !asksFor(command, start))
            return true;
        if (!kind.registration)
            return false;
        // A query's answer starts with the mode and a plain state; a change of state starts
        // with the state, and its second field, when there is one, is a quoted area code.
        const QList<QByteArrayView> fields = fieldsOf(text);
        return fields.size() < 2 || fields[1].startsWith('"');
    }
    return false;
}

bool unsolicitedLineHasBody(QByteArrayView line) {
    const QByteArrayView text = trimmed(line);
    if (text.startsWith("+CMT:") || text.startsWith("+CBM:"))
        return true;
    // In text mode a status report is all on one line; in PDU mode it is its length.
    return text.startsWith("+CDS:") && fieldsOf(text).size() == 1;
}

ReplyLine classifyReplyLine(const QByteArray &line, const QByteArray &expected, bool complete) {
    const QByteArrayView text = trimmed(line);
    // An error first: whatever was expected, the command failed.
    if (complete &&
        (text == "ERROR" || text.startsWith("+CMS ERROR:") || text.startsWith("+CME ERROR:")))
        return ReplyLine::Error;
    if (!expected.isEmpty()) {
        if (line.startsWith(expected) || (!text.isEmpty() && text == trimmed(expected)))
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

bool ReplyScanner::skipUnsolicited(const QByteArray &line) {
    if (m_bodyMayFollow) {
        m_bodyMayFollow = false;
        const QByteArrayView text = trimmed(line);
        const bool hex = std::all_of(text.begin(), text.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        });
        if (hex) {
            if (m_link.onUnsolicitedLine)
                m_link.onUnsolicitedLine(m_link, line);
            return true;
        }
    }
    if (!isUnsolicitedLine(line, m_link.awaitedCommand))
        return false;
    m_bodyMayFollow = unsolicitedLineHasBody(line);
    if (m_link.onUnsolicitedLine)
        m_link.onUnsolicitedLine(m_link, line);
    return true;
}

bool ReplyScanner::takeLine(const QByteArray &line, bool complete) {
    // A line of blanks says nothing (the space of a prompt read after the ">", for one).
    if (complete && trimmed(line).isEmpty())
        return false;
    if (complete && skipUnsolicited(line))
        return false;
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
