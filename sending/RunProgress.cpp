#include "sending/RunProgress.h"

#include <QMutexLocker>

#include <algorithm>
#include <numeric>

void RunProgress::begin(int messages) {
    QMutexLocker locker(&m_lock);
    m_begun = true;
    m_total = messages;
    m_done = 0;
    m_sent = 0;
    m_row = -1;
    m_durations.clear();
}

void RunProgress::started(int row) {
    QMutexLocker locker(&m_lock);
    m_row = row;
    // Messages queued while the run goes are sent by it too.
    m_total = std::max(m_total, m_done + 1);
}

void RunProgress::finished(bool sent, qint64 durationMs) {
    QMutexLocker locker(&m_lock);
    ++m_done;
    m_sent += sent ? 1 : 0;
    m_row = -1;
    m_durations.append(std::max<qint64>(durationMs, 0));
    if (m_durations.size() > PaceWindow)
        m_durations.removeFirst();
}

void RunProgress::setWaiting(const QString &text) {
    QMutexLocker locker(&m_lock);
    m_waiting = text;
}

void RunProgress::setParallel(int phones) {
    QMutexLocker locker(&m_lock);
    m_parallel = std::max(phones, 1);
}

int RunProgress::total() const {
    QMutexLocker locker(&m_lock);
    return m_total;
}

int RunProgress::done() const {
    QMutexLocker locker(&m_lock);
    return m_done;
}

int RunProgress::sent() const {
    QMutexLocker locker(&m_lock);
    return m_sent;
}

int RunProgress::currentRow() const {
    QMutexLocker locker(&m_lock);
    return m_row;
}

QString RunProgress::waitingText() const {
    QMutexLocker locker(&m_lock);
    return m_waiting;
}

QString RunProgress::text() const {
    QMutexLocker locker(&m_lock);
    if (!m_begun || m_total == 0)
        return QString();
    if (!m_waiting.isEmpty())
        return QStringLiteral("%1 — %2 of %3 sent").arg(m_waiting).arg(m_sent).arg(m_total);
    const int number = std::min(m_done + 1, m_total);
    QString line = QStringLiteral("Sending %1 of %2").arg(number).arg(m_total);
    if (!m_durations.isEmpty() && m_done < m_total) {
        const qint64 sum = std::accumulate(m_durations.cbegin(), m_durations.cend(), qint64(0));
        const qint64 left = sum * (m_total - m_done) / (m_durations.size() * m_parallel);
        line += QStringLiteral(" — ") + timeLeftText(left);
    }
    return line;
}

QString RunProgress::timeLeftText(qint64 ms) {
    const qint64 seconds = (ms + 999) / 1000;
    if (seconds < 60)
        return QStringLiteral("about %1 s left").arg(std::max<qint64>(seconds, 1));
    const qint64 minutes = (seconds + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("about %1 min left").arg(minutes);
    const qint64 hours = minutes / 60;
    if (hours < 48) {
        const qint64 rest = minutes % 60;
        return rest == 0 ? QStringLiteral("about %1 h left").arg(hours)
                         : QStringLiteral("about %1 h %2 min left").arg(hours).arg(rest);
    }
    return QStringLiteral("about %1 days left").arg((hours + 12) / 24);
}
