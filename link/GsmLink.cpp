#include "link/GsmLink.h"

#include <algorithm>

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

bool GsmLink::executeCommand(const QByteArray &command) {
    lastCommand = command;
    const bool finalLine = sendAndWait(command, QByteArray(), true);
    return finalLine && resultOk;
}

bool GsmLink::sendAndWait(const QByteArray &command, const QByteArray &expected,
                          bool completeLinesOnly) {
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

bool GsmLink::isFinalResponse(const QList<QByteArray> &expected, const QByteArray &line) {
    // Checked before ERROR, so a line holding both is a success.
    if (line.contains("OK")) {
        resultOk = true;
        return true;
    }
    if (line.contains("ERROR")) {
        resultOk = false;
        return true;
    }
    for (const QByteArray &text : expected) {
        if (!text.isEmpty() && line.contains(text)) {
            resultOk = true;
            return true;
        }
    }
    return false;
}
