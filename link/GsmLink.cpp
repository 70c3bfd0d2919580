#include "link/GsmLink.h"

#include <algorithm>

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// Trims spaces and control characters (codes 0 to 32) from both ends.
QByteArray TrimBlanks(const QByteArray &text) {
    const auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), IsBlank).base();
    return first < last ? QByteArray(first, last - first) : QByteArray();
}

} // namespace

TGsmLink::TGsmLink() = default;

TGsmLink::~TGsmLink() = default;

void TGsmLink::Abort() {
    Aborted = true;
    WaitStopSignal.Set();
}

bool TGsmLink::ExecuteCommand(const QByteArray &command) {
    LastCommand = command;
    const bool finalLine = SendAndWait(command, QByteArray(), true);
    return finalLine && ResultOk;
}

bool TGsmLink::SendAndWait(const QByteArray &command, const QByteArray &expected,
                           bool completeLinesOnly) {
    WriteCommand(command);
    return WaitResponse(expected, completeLinesOnly);
}

QByteArray TGsmLink::InfoLine() const {
    if (LastCommand.isEmpty())
        return {};
    // With echo on the first lines repeat the command.
    for (const QByteArray &line : Responses) {
        if (!line.contains(LastCommand))
            return line;
    }
    return {};
}

int TGsmLink::InfoFieldCount() const {
    const QByteArray line = InfoLine();
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return 0;
    return 1 + int(TrimBlanks(line.sliced(colon + 1)).count(','));
}

QByteArray TGsmLink::InfoField(int n) const {
    if (n < 1)
        return {};
    QByteArray fields = InfoLine() + ',';
    const qsizetype colon = fields.indexOf(':');
    if (colon >= 0)
        fields = TrimBlanks(fields.sliced(colon + 1));
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

void TGsmLink::AddResponseLine(const QByteArray &line) {
    if (OnResponseLine)
        OnResponseLine(*this, line);
    Responses.append(line);
}

bool TGsmLink::IsFinalResponse(const QList<QByteArray> &expected, const QByteArray &line) {
    // Checked before ERROR, so a line holding both is a success.
    if (line.contains("OK")) {
        ResultOk = true;
        return true;
    }
    if (line.contains("ERROR")) {
        ResultOk = false;
        return true;
    }
    for (const QByteArray &text : expected) {
        if (!text.isEmpty() && line.contains(text)) {
            ResultOk = true;
            return true;
        }
    }
    return false;
}
