#pragma once

#include <QByteArray>
#include <QString>

class GsmLink;

// Which SIM a run sends through, for the caps it counts against: "IMSI " and the number the
// phone gives for AT+CIMI, or "Port " and the port when the phone refuses it or gives no
// number (an identity that follows the port is better than none). Sends one command.
QString simIdentity(GsmLink &link, const QByteArray &portName);
