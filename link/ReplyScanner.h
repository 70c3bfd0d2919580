#pragma once

#include <QByteArray>
#include <QList>

class GsmLink;

// What one response line is to a wait for a final result. Only whole lines count: a model
// named "OK-1" or an information line holding "ERROR" is an ordinary line.
enum class ReplyLine {
    Other,    // information, echo or unsolicited line
    Ok,       // "OK"
    Error,    // "ERROR", "+CMS ERROR: ..." or "+CME ERROR: ..."
    Expected, // the text the caller waits for (the "> " prompt)
};

// Classifies a line (blanks around it do not count). A line that begins with expected is
// Expected; so is a line that is expected apart from blanks, complete or not (a prompt sent
// as ">" without the space, with or without a line end). While an expected text is given a bare OK
// is Other: no command that is answered by a prompt ends with OK, so such an OK is a late answer to
// an earlier command.
ReplyLine classifyReplyLine(const QByteArray &line, const QByteArray &expected,
                            bool complete = true);

// Whether a complete line is one a phone may send at any time on its own (RING, +CMTI, ^RSSI,
// a registration change, ...) rather than part of the answer to command, the command line
// waiting for its answer (empty when none). A line of the kind the command asks for is its
// answer: "+CREG: 0,1" answers AT+CREG?, but "+CREG: 1" (one field, a change of state) never
// answers anything.
bool isUnsolicitedLine(QByteArrayView line, QByteArrayView command);

// Whether the line after an unsolicited line is part of it: the PDU (hexadecimal digits only)
// that follows +CMT, +CDS and +CBM.
bool unsolicitedLineHasBody(QByteArrayView line);

// Cuts the bytes of one response into lines as they arrive in chunks of any size, records
// each non-empty line on the link and stops at the first final one. CR, LF and CR LF each
// end a line; a line cut by a chunk boundary waits for the next chunk. With
// completeLinesOnly false an unterminated tail is accepted as soon as it is the expected text
// (the "> " prompt has no line end). NUL bytes are dropped: they are line noise, and what
// follows them is still the modem's answer. A modem that talks without end costs bounded
// memory: a line keeps its first MaxLineLength bytes, and once MaxResponseBytes or
// MaxResponseLines have been recorded only the final line is. Unsolicited lines (see
// isUnsolicitedLine, the command being the link's awaitedCommand) are never recorded nor
// final: they go to the link's onUnsolicitedLine instead.
class ReplyScanner {
public:
    static constexpr qsizetype MaxLineLength = 64 * 1024;
    static constexpr qsizetype MaxResponseBytes = 1024 * 1024;
    static constexpr qsizetype MaxResponseLines = 10000;

    ReplyScanner(GsmLink &link, const QByteArray &expected, bool completeLinesOnly);

    // True when a final line was found; the rest of the chunk is not looked at.
    bool feed(const char *data, qsizetype size);
    bool feed(const QByteArray &chunk) { return feed(chunk.constData(), chunk.size()); }

    // The line begun but not yet ended.
    const QByteArray &partial() const { return m_partial; }

private:
    void appendToPartial(const char *from, const char *to);
    // Records the line unless the response has grown too big, then tests it.
    bool takeLine(const QByteArray &line, bool complete);
    // Passes an unsolicited line (and the PDU line that may follow it) by; true when it did.
    bool skipUnsolicited(const QByteArray &line);

    GsmLink &m_link;
    QList<QByteArray> m_expected;
    bool m_completeLinesOnly;
    QByteArray m_partial;
    qsizetype m_recordedBytes = 0;
    qsizetype m_recordedLines = 0;
    // The line before was an unsolicited one that a PDU line may follow.
    bool m_bodyMayFollow = false;
};
