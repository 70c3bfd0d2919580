#include "link/PhoneRefusal.h"

#include <limits>

namespace {

using Kind = PhoneRefusal::Kind;
constexpr RefusalClass Permanent = RefusalClass::Permanent;
constexpr RefusalClass Transient = RefusalClass::Transient;
constexpr RefusalClass PhoneLevel = RefusalClass::PhoneLevel;
constexpr int NoEnd = std::numeric_limits<int>::max();

// What the user can do about a refusal of the whole phone.
const char AdvicePhone[] =
    "Switch the phone off and on again and check its cable, then start again.";
const char AdviceSim[] = "Check that a working SIM card is in the phone, then start again.";
const char AdvicePin[] = "Enter the SIM card's PIN on the phone, then start again.";
const char AdvicePuk[] =
    "The SIM card is blocked: unblock it with its PUK on the phone, then start again.";
const char AdvicePhoneLock[] =
    "Unlock the phone for this SIM card with its unlock code, then start again.";
const char AdviceServiceCentre[] = "Store the service centre number on the phone or SIM card "
                                   "(AT+CSCA), then start again.";
const char AdviceMemory[] = "Delete messages stored on the phone or SIM card, then start again.";
const char AdviceSubscription[] = "Ask the network operator whether this SIM card may send text "
                                  "messages (credit, subscription).";
const char AdviceNetwork[] = "The network does not accept this phone or SIM card here: check the "
                             "SIM card with the network operator.";
const char AdviceUnsupported[] =
    "This phone cannot send text messages this way: try another phone or modem.";
const char AdviceSameRefusal[] = "Check the phone, its SIM card and its credit, then start again.";

} // namespace

const QList<RefusalRow> &refusalTable() {
    static const QList<RefusalRow> rows = {
        // +CMS ERROR 0...127: the network's causes for a refused message (3GPP TS 24.011
        // annex E-2).
        {Kind::Cms, 1, 1, Permanent, "number not in use", "", "Unassigned (unallocated) number"},
        {Kind::Cms, 8, 8, Permanent, "barred by the operator", "", "Operator determined barring"},
        {Kind::Cms, 10, 10, Permanent, "sending to this number is barred", "", "Call barred"},
        {Kind::Cms, 21, 21, Permanent, "refused by the network", "",
         "Short message transfer rejected"},
        {Kind::Cms, 22, 22, Transient, "recipient's memory full", "", "Memory capacity exceeded"},
        {Kind::Cms, 27, 27, Transient, "recipient's network out of service", "",
         "Destination out of service"},
        {Kind::Cms, 28, 28, Permanent, "recipient not known to the network", "",
         "Unidentified subscriber"},
        {Kind::Cms, 29, 29, Permanent, "refused by the network", "", "Facility rejected"},
        {Kind::Cms, 30, 30, Permanent, "recipient unknown", "", "Unknown subscriber"},
        {Kind::Cms, 38, 38, Transient, "network out of order", "", "Network out of order"},
        {Kind::Cms, 41, 41, Transient, "temporary network failure", "", "Temporary failure"},
        {Kind::Cms, 42, 42, Transient, "network busy", "", "Congestion"},
        {Kind::Cms, 47, 47, Transient, "network resources unavailable", "",
         "Resources unavailable, unspecified"},
        {Kind::Cms, 50, 50, PhoneLevel, "this SIM card may not send messages", AdviceSubscription,
         "Requested facility not subscribed"},
        {Kind::Cms, 69, 69, Permanent, "not supported by the network", "",
         "Requested facility not implemented"},
        {Kind::Cms, 81, 81, Transient, "network protocol error", "",
         "Invalid short message transfer reference value"},
        {Kind::Cms, 95, 96, Permanent, "invalid message", "", "Invalid message, unspecified"},
        {Kind::Cms, 97, 97, Permanent, "message type not supported", "",
         "Message type non-existent or not implemented"},
        {Kind::Cms, 98, 98, Transient, "network protocol error", "",
         "Message not compatible with short message protocol state"},
        {Kind::Cms, 99, 99, Permanent, "not supported by the network", "",
         "Information element non-existent or not implemented"},
        {Kind::Cms, 111, 111, Transient, "network protocol error", "",
         "Protocol error, unspecified"},
        {Kind::Cms, 127, 127, Transient, "network error", "", "Interworking, unspecified"},
        {Kind::Cms, 0, 127, Transient, "refused by the network", "", ""},
        // 128...255: the service centre's causes (TP-Failure-Cause, 3GPP TS 23.040 9.2.3.22).
        {Kind::Cms, 128, 130, Permanent, "not supported by the service centre", "", ""},
        {Kind::Cms, 143, 143, Permanent, "refused by the service centre", "", ""},
        {Kind::Cms, 144, 144, Permanent, "character set not supported", "", ""},
        {Kind::Cms, 145, 145, Permanent, "message class not supported", "", ""},
        {Kind::Cms, 159, 159, Permanent, "coding refused by the service centre", "", ""},
        {Kind::Cms, 160, 175, Permanent, "refused by the service centre", "", ""},
        {Kind::Cms, 176, 176, Permanent, "message format not supported", "", ""},
        {Kind::Cms, 192, 192, Transient, "service centre busy", "", ""},
        {Kind::Cms, 193, 193, PhoneLevel, "no subscription with the service centre",
         AdviceSubscription, ""},
        {Kind::Cms, 194, 194, Transient, "service centre failure", "", ""},
        {Kind::Cms, 195, 195, Permanent, "invalid number", "", ""},
        {Kind::Cms, 196, 196, Permanent, "recipient barred", "", ""},
        {Kind::Cms, 197, 197, Permanent, "duplicate of a message already sent", "", ""},
        {Kind::Cms, 198, 199, Permanent, "validity period not supported", "", ""},
        {Kind::Cms, 208, 208, PhoneLevel, "SIM card's message memory full", AdviceMemory, ""},
        {Kind::Cms, 209, 209, PhoneLevel, "SIM card cannot store messages", AdviceSim, ""},
        {Kind::Cms, 210, 210, PhoneLevel, "phone error", AdvicePhone, ""},
        {Kind::Cms, 211, 211, PhoneLevel, "phone memory full", AdviceMemory, ""},
        {Kind::Cms, 212, 213, Transient, "SIM card busy", "", ""},
        {Kind::Cms, 255, 255, Transient, "unspecified error", "", ""},
        {Kind::Cms, 128, 255, Transient, "refused by the service centre", "", ""},
        // 300...: the phone's own (3GPP TS 27.005 3.2.5).
        {Kind::Cms, 300, 300, PhoneLevel, "phone failure", AdvicePhone, "ME failure"},
        {Kind::Cms, 301, 301, Transient, "phone's message service busy", "",
         "SMS service of ME reserved"},
        {Kind::Cms, 302, 302, PhoneLevel, "not allowed by the phone", AdvicePhone,
         "operation not allowed"},
        {Kind::Cms, 303, 303, PhoneLevel, "not supported by the phone", AdviceUnsupported,
         "operation not supported"},
        {Kind::Cms, 304, 304, Permanent, "message refused as malformed", "",
         "invalid PDU mode parameter"},
        {Kind::Cms, 305, 305, PhoneLevel, "phone in text mode", AdvicePhone,
         "invalid text mode parameter"},
        {Kind::Cms, 310, 310, PhoneLevel, "no SIM card", AdviceSim, "SIM not inserted"},
        {Kind::Cms, 311, 311, PhoneLevel, "SIM card locked (PIN)", AdvicePin, "SIM PIN required"},
        {Kind::Cms, 312, 312, PhoneLevel, "phone locked to another SIM card", AdvicePhoneLock,
         "PH-SIM PIN required"},
        {Kind::Cms, 313, 313, PhoneLevel, "SIM card failure", AdviceSim, "SIM failure"},
        // Busy only while it starts up: worth a second try, unlike the rest of 310...318.
        {Kind::Cms, 314, 314, Transient, "SIM card busy", "", "SIM busy"},
        {Kind::Cms, 315, 315, PhoneLevel, "wrong SIM card", AdviceSim, "SIM wrong"},
        {Kind::Cms, 316, 316, PhoneLevel, "SIM card blocked (PUK)", AdvicePuk, "SIM PUK required"},
        {Kind::Cms, 317, 317, PhoneLevel, "SIM card locked (PIN2)", AdvicePin, "SIM PIN2 required"},
        {Kind::Cms, 318, 318, PhoneLevel, "SIM card blocked (PUK2)", AdvicePuk,
         "SIM PUK2 required"},
        {Kind::Cms, 320, 320, PhoneLevel, "phone memory failure", AdvicePhone, "memory failure"},
        {Kind::Cms, 321, 321, PhoneLevel, "invalid memory index", AdvicePhone,
         "invalid memory index"},
        {Kind::Cms, 322, 322, PhoneLevel, "phone memory full", AdviceMemory, "memory full"},
        {Kind::Cms, 330, 330, PhoneLevel, "no service centre number", AdviceServiceCentre,
         "SMSC address unknown"},
        {Kind::Cms, 331, 331, Transient, "no network", "", "no network service"},
        {Kind::Cms, 332, 332, Transient, "network timeout", "", "network timeout"},
        {Kind::Cms, 340, 340, Transient, "unexpected acknowledgement", "",
         "no +CNMA acknowledgement expected"},
        {Kind::Cms, 500, 500, Transient, "unknown error", "", "unknown error"},
        {Kind::Cms, 256, 511, Transient, "phone error", "", ""},
        {Kind::Cms, 512, NoEnd, Transient, "phone-specific error", "", ""},

        // +CME ERROR (3GPP TS 27.007 9.2.1 and 9.2.2).
        {Kind::Cme, 0, 0, PhoneLevel, "phone failure", AdvicePhone, "phone failure"},
        {Kind::Cme, 1, 1, PhoneLevel, "no connection to the phone", AdvicePhone,
         "no connection to phone"},
        {Kind::Cme, 2, 2, Transient, "phone link busy", "", "phone-adaptor link reserved"},
        {Kind::Cme, 3, 3, PhoneLevel, "not allowed by the phone", AdvicePhone,
         "operation not allowed"},
        {Kind::Cme, 4, 4, PhoneLevel, "not supported by the phone", AdviceUnsupported,
         "operation not supported"},
        {Kind::Cme, 5, 5, PhoneLevel, "phone locked to another SIM card", AdvicePhoneLock,
         "PH-SIM PIN required"},
        {Kind::Cme, 6, 6, PhoneLevel, "phone locked (PH-FSIM PIN)", AdvicePhoneLock,
         "PH-FSIM PIN required"},
        {Kind::Cme, 7, 7, PhoneLevel, "phone locked (PH-FSIM PUK)", AdvicePhoneLock,
         "PH-FSIM PUK required"},
        {Kind::Cme, 10, 10, PhoneLevel, "no SIM card", AdviceSim, "SIM not inserted"},
        {Kind::Cme, 11, 11, PhoneLevel, "SIM card locked (PIN)", AdvicePin, "SIM PIN required"},
        {Kind::Cme, 12, 12, PhoneLevel, "SIM card blocked (PUK)", AdvicePuk, "SIM PUK required"},
        {Kind::Cme, 13, 13, PhoneLevel, "SIM card failure", AdviceSim, "SIM failure"},
        {Kind::Cme, 14, 14, Transient, "SIM card busy", "", "SIM busy"},
        {Kind::Cme, 15, 15, PhoneLevel, "wrong SIM card", AdviceSim, "SIM wrong"},
        {Kind::Cme, 16, 16, PhoneLevel, "wrong password", AdvicePin, "incorrect password"},
        {Kind::Cme, 17, 17, PhoneLevel, "SIM card locked (PIN2)", AdvicePin, "SIM PIN2 required"},
        {Kind::Cme, 18, 18, PhoneLevel, "SIM card blocked (PUK2)", AdvicePuk, "SIM PUK2 required"},
        {Kind::Cme, 20, 20, PhoneLevel, "phone memory full", AdviceMemory, "memory full"},
        {Kind::Cme, 21, 21, PhoneLevel, "invalid memory index", AdvicePhone, "invalid index"},
        {Kind::Cme, 22, 22, PhoneLevel, "not found", AdvicePhone, "not found"},
        {Kind::Cme, 23, 23, PhoneLevel, "phone memory failure", AdvicePhone, "memory failure"},
        {Kind::Cme, 24, 24, Permanent, "text too long", "", "text string too long"},
        {Kind::Cme, 25, 25, Permanent, "invalid characters in the text", "",
         "invalid characters in text string"},
        {Kind::Cme, 26, 26, Permanent, "number too long", "", "dial string too long"},
        {Kind::Cme, 27, 27, Permanent, "invalid characters in the number", "",
         "invalid characters in dial string"},
        {Kind::Cme, 30, 30, Transient, "no network", "", "no network service"},
        {Kind::Cme, 31, 31, Transient, "network timeout", "", "network timeout"},
        {Kind::Cme, 32, 32, PhoneLevel, "emergency calls only", AdviceNetwork,
         "network not allowed - emergency calls only"},
        {Kind::Cme, 40, 40, PhoneLevel, "phone locked to a network", AdvicePhoneLock,
         "network personalization PIN required"},
        {Kind::Cme, 41, 41, PhoneLevel, "phone locked to a network", AdvicePhoneLock,
         "network personalization PUK required"},
        {Kind::Cme, 42, 42, PhoneLevel, "phone locked to a network", AdvicePhoneLock,
         "network subset personalization PIN required"},
        {Kind::Cme, 43, 43, PhoneLevel, "phone locked to a network", AdvicePhoneLock,
         "network subset personalization PUK required"},
        {Kind::Cme, 44, 44, PhoneLevel, "phone locked to a provider", AdvicePhoneLock,
         "service provider personalization PIN required"},
        {Kind::Cme, 45, 45, PhoneLevel, "phone locked to a provider", AdvicePhoneLock,
         "service provider personalization PUK required"},
        {Kind::Cme, 46, 46, PhoneLevel, "phone locked to a company", AdvicePhoneLock,
         "corporate personalization PIN required"},
        {Kind::Cme, 47, 47, PhoneLevel, "phone locked to a company", AdvicePhoneLock,
         "corporate personalization PUK required"},
        {Kind::Cme, 48, 48, PhoneLevel, "phone locked (hidden key)", AdvicePhoneLock,
         "hidden key required"},
        {Kind::Cme, 49, 49, PhoneLevel, "not supported by the phone", AdviceUnsupported,
         "EAP method not supported"},
        {Kind::Cme, 50, 50, Permanent, "invalid parameters", "", "Incorrect parameters"},
        {Kind::Cme, 100, 100, Transient, "unknown error", "", "unknown"},
        {Kind::Cme, 103, 103, PhoneLevel, "SIM card refused by the network", AdviceNetwork,
         "Illegal MS"},
        {Kind::Cme, 106, 106, PhoneLevel, "phone refused by the network", AdviceNetwork,
         "Illegal ME"},
        {Kind::Cme, 107, 107, PhoneLevel, "service not allowed", AdviceSubscription,
         "GPRS services not allowed"},
        {Kind::Cme, 111, 111, PhoneLevel, "network not allowed", AdviceNetwork, "PLMN not allowed"},
        {Kind::Cme, 112, 112, PhoneLevel, "not allowed in this area", AdviceNetwork,
         "Location area not allowed"},
        {Kind::Cme, 113, 113, PhoneLevel, "roaming not allowed here", AdviceNetwork,
         "Roaming not allowed in this location area"},
        {Kind::Cme, 132, 132, PhoneLevel, "service not supported", AdviceSubscription,
         "service option not supported"},
        {Kind::Cme, 133, 133, PhoneLevel, "service not subscribed", AdviceSubscription,
         "requested service option not subscribed"},
        {Kind::Cme, 134, 134, Transient, "service temporarily out of order", "",
         "service option temporarily out of order"},
        {Kind::Cme, 148, 148, Transient, "unspecified network error", "", "unspecified GPRS error"},
        {Kind::Cme, 149, 149, PhoneLevel, "authentication failed", AdviceNetwork,
         "PDP authentication failure"},
        {Kind::Cme, 150, 150, PhoneLevel, "invalid mobile class", AdviceNetwork,
         "invalid mobile class"},
        {Kind::Cme, 0, 511, Transient, "phone error", "", ""},
        {Kind::Cme, 512, NoEnd, Transient, "phone-specific error", "", ""},
    };
    return rows;
}

namespace {

PhoneRefusal fromRow(Kind kind, int code, const RefusalRow &row) {
    PhoneRefusal refusal;
    refusal.kind = kind;
    refusal.code = code;
    refusal.refusalClass = row.refusalClass;
    refusal.reason = QString::fromUtf8(row.reason);
    refusal.advice = QString::fromUtf8(row.advice);
    return refusal;
}

} // namespace

PhoneRefusal readRefusal(const QByteArray &line) {
    const QByteArray text = line.trimmed();
    PhoneRefusal refusal;
    Kind kind;
    if (text.startsWith("+CMS ERROR:")) {
        kind = Kind::Cms;
    } else if (text.startsWith("+CME ERROR:")) {
        kind = Kind::Cme;
    } else {
        refusal.reason = QStringLiteral("refused without a reason");
        return refusal;
    }
    const QByteArray value = text.mid(text.indexOf(':') + 1).trimmed();
    bool isNumber = false;
    const int code = value.toInt(&isNumber);
    for (const RefusalRow &row : refusalTable()) {
        if (row.kind != kind)
            continue;
        if (isNumber
                ? code >= row.first && code <= row.last
                : *row.standardText && value.compare(row.standardText, Qt::CaseInsensitive) == 0)
            return fromRow(kind, isNumber ? code : row.first, row);
    }
    refusal.kind = kind;
    refusal.reason = isNumber ? QStringLiteral("phone error")
                              : QStringLiteral("refused: %1").arg(QString::fromLocal8Bit(value));
    return refusal;
}

QString sameRefusalAdvice() {
    return QString::fromUtf8(AdviceSameRefusal);
}
