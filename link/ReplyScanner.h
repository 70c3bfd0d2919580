#pragma once

#include <QByteArray>
#include <QList>

class GsmLink;

// Cuts the bytes of one response into lines as they arrive in chunks of any size, records
// each non-empty line on the link and stops at the first final one. CR, LF and CR LF each
// end a line; a line cut by a chunk boundary waits for the next chunk. With
// completeLinesOnly false an unterminated tail is accepted as soon as it is final (the
// "> " prompt has no line end). NUL bytes are dropped: they are line noise, and what follows
// them is still the modem's answer.
class ReplyScanner {
public:
    ReplyScanner(GsmLink &link, const QByteArray &expected, bool completeLinesOnly);

    // True when a final line was found; the rest of the chunk is not looked at.
    bool feed(const char *data, qsizetype size);
    bool feed(const QByteArray &chunk) { return feed(chunk.constData(), chunk.size()); }

    // The line begun but not yet ended.
    const QByteArray &partial() const { return m_partial; }

private:
    bool isFinal(const QByteArray &line);
    bool partialIsFinal();

    GsmLink &m_link;
    QList<QByteArray> m_expected;
    bool m_completeLinesOnly;
    QByteArray m_partial;
    // Bytes at the start of m_partial already found to hold no final text, and how far a
    // final text can reach back into them; this keeps a long unterminated line linear.
    qsizetype m_tested = 0;
    qsizetype m_reachBack = 0;
};
