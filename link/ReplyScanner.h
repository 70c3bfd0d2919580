#pragma once

#include <QByteArray>
#include <QList>

class TGsmLink;

// Cuts the bytes of one response into lines as they arrive in chunks of any size, records
// each non-empty line on the link and stops at the first final one. CR, LF and CR LF each
// end a line; a line cut by a chunk boundary waits for the next chunk. With
// completeLinesOnly false an unterminated tail is accepted as soon as it is final (the
// "> " prompt has no line end). NUL bytes are dropped: they are line noise, and what follows
// them is still the modem's answer.
class TReplyScanner {
public:
    TReplyScanner(TGsmLink &link, const QByteArray &expected, bool completeLinesOnly);

    // True when a final line was found; the rest of the chunk is not looked at.
    bool Feed(const char *data, qsizetype size);
    bool Feed(const QByteArray &chunk) { return Feed(chunk.constData(), chunk.size()); }

    // The line begun but not yet ended.
    const QByteArray &Partial() const { return FPartial; }

private:
    bool IsFinal(const QByteArray &line);
    bool PartialIsFinal();

    TGsmLink &FLink;
    QList<QByteArray> FExpected;
    bool FCompleteLinesOnly;
    QByteArray FPartial;
    // Bytes at the start of FPartial already found to hold no final text, and how far a
    // final text can reach back into them; this keeps a long unterminated line linear.
    qsizetype FTested = 0;
    qsizetype FReachBack = 0;
};
