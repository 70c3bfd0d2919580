#include "sending/SimIdentity.h"

#include "link/GsmLink.h"

namespace {

// An IMSI has at most 15 digits; fewer than 6 is no IMSI at all.
bool looksLikeImsi(const QByteArray &text) {
    if (text.size() < 6 || text.size() > 15)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

QString simIdentity(GsmLink &link, const QByteArray &portName) {
    if (link.executeCommand("AT+CIMI")) {
        QByteArray imsi = link.infoLine().trimmed();
        // Some phones answer "+CIMI: 262..." rather than the bare number.
        if (imsi.startsWith("+CIMI:"))
            imsi = imsi.mid(6).trimmed();
        if (looksLikeImsi(imsi))
            return QStringLiteral("IMSI ") + QString::fromLatin1(imsi);
    }
    return QStringLiteral("Port ") + QString::fromLocal8Bit(portName);
}
