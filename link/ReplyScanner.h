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
// Expected; a complete line that is expected apart from blanks is too (a prompt sent as ">"
// with a line end). While an expected text is given a bare OK is Other: no command that is
// answered by a prompt ends with OK, so such an OK is a late answer to an earlier command.
ReplyLine classifyReplyLine(const QByteArray &line, const QByteArray &expected,
                            bool complete = true);

// Cuts the bytes of one response into lines as they arrive in chunks of any size, records
// each non-empty line on the link and stops at the first final one. CR, LF and CR LF each
// end a line; a line cut by a chunk boundary waits for the next chunk. With
// completeLinesOnly false an unterminated tail is accepted as soon as it is the expected text
// (the "> " prompt has no line end). NUL bytes are dropped: they are line noise, and what
// follows them is still the modem's answer. A modem that talks without end costs bounded
// memory: a line keeps its first MaxLineLength bytes, and once MaxResponseBytes or
// MaxResponseLines have been recorded only the final line is.
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

    GsmLink &m_link;
    QList<QByteArray> m_expected;
    bool m_completeLinesOnly;
    QByteArray m_partial;
    qsizetype m_recordedBytes = 0;
    qsizetype m_recordedLines = 0;
};
