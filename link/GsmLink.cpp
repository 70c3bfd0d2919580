#include "link/GsmLink.h"

#include "link/ReplyScanner.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace {

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// Trims spaces and control characters (codes 0 to 32) from both ends.
QByteArray trimBlanks(const QByteArray &text) {
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return first < last ? QByteArray(first, last - first) : QByteArray();
}

} // namespace

GsmLink::GsmLink() = default;

GsmLink::~GsmLink() = default;

void GsmLink::abort() {
    aborted = true;
    waitStopSignal.set();
}

namespace {

qint64 nowMs() {
    // Never 0, which means "none set".
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + 1;
}

} // namespace

void GsmLink::abortAfter(int ms) {
    const qint64 at = nowMs() + std::max(ms, 0);
    qint64 current = m_abortAt;
    while ((current == 0 || at < current) && !m_abortAt.compare_exchange_weak(current, at)) {
    }
    // A read wait in progress shortens itself to the new time.
    waitStopSignal.set();
}

bool GsmLink::abortDue() const {
    if (aborted)
        return true;
    const qint64 at = m_abortAt;
    return at != 0 && nowMs() >= at;
}

int GsmLink::msUntilAbort() const {
    const qint64 at = m_abortAt;
    if (at == 0)
        return -1;
    return int(std::clamp<qint64>(at - nowMs(), 0, std::numeric_limits<int>::max()));
}

void GsmLink::clearAbort() {
    aborted = false;
    m_abortAt = 0;
}

bool GsmLink::executeCommand(const QByteArray &command) {
    lastCommand = command;
    const bool finalLine = sendAndWait(command, QByteArray(), true);
    return finalLine && resultOk;
}

bool GsmLink::sendAndWait(const QByteArray &command, const QByteArray &expected,
                          bool completeLinesOnly) {
    awaitedCommand = command;
    writeCommand(command);
    return waitResponse(expected, completeLinesOnly);
}

QByteArray GsmLink::infoLine() const {
    if (lastCommand.isEmpty())
        return {};
    // With echo on the first lines repeat the command.
    for (const QByteArray &line : responses) {
        if (!line.contains(lastCommand))
            return line;
    }
    return {};
}

int GsmLink::infoFieldCount() const {
    const QByteArray line = infoLine();
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return 0;
    return 1 + int(trimBlanks(line.sliced(colon + 1)).count(','));
}

QByteArray GsmLink::infoField(int n) const {
    if (n < 1)
        return {};
    QByteArray fields = infoLine() + ',';
    const qsizetype colon = fields.indexOf(':');
    if (colon >= 0)
        fields = trimBlanks(fields.sliced(colon + 1));
    qsizetype start = 0;
    for (int i = 1;; ++i) {
        const qsizetype comma = fields.indexOf(',', start);
        if (comma < 0)
            return {};
        if (i == n)
            return fields.sliced(start, comma - start);
        start = comma + 1;
    }
}

void GsmLink::addResponseLine(const QByteArray &line) {
    if (onResponseLine)
        onResponseLine(*this, line);
    responses.append(line);
}

bool GsmLink::isFinalResponse(const QList<QByteArray> &expected, const QByteArray &line,
                              bool complete) {
    ReplyLine kind = ReplyLine::Other;
    for (const QByteArray &text : expected) {
        kind = classifyReplyLine(line, text, complete);
        if (kind != ReplyLine::Other)
            break;
    }
    if (expected.isEmpty())
        kind = classifyReplyLine(line, QByteArray(), complete);
    if (kind == ReplyLine::Other || (!complete && kind != ReplyLine::Expected))
        return false;
    resultOk = kind != ReplyLine::Error;
    finalLine = line;
    return true;
}
