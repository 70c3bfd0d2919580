#include "SmppStatus.h"

#include <algorithm>
#include <iterator>

namespace {

struct StatusInfo {
    quint32 code;
    const char *name;
    const char *reason;
    SmppStatusClass kind;
};

constexpr SmppStatusClass Ok = SmppStatusClass::Success;
constexpr SmppStatusClass Retry = SmppStatusClass::Retry;
constexpr SmppStatusClass Message = SmppStatusClass::MessageFailure;
constexpr SmppStatusClass Session = SmppStatusClass::SessionFailure;

// Sorted by code for the binary search.
constexpr StatusInfo Statuses[] = {
    {0x00, "ESME_ROK", "no error", Ok},
    {0x01, "ESME_RINVMSGLEN", "invalid message length", Message},
    {0x02, "ESME_RINVCMDLEN", "invalid command length", Message},
    {0x03, "ESME_RINVCMDID", "invalid command", Message},
    {0x04, "ESME_RINVBNDSTS", "not allowed in the current bind state", Session},
    {0x05, "ESME_RALYBND", "already bound", Session},
    {0x06, "ESME_RINVPRTFLG", "invalid priority flag", Message},
    {0x07, "ESME_RINVREGDLVFLG", "invalid delivery receipt request", Message},
    {0x08, "ESME_RSYSERR", "system error of the SMS centre", Message},
    {0x0A, "ESME_RINVSRCADR", "invalid source address", Message},
    {0x0B, "ESME_RINVDSTADR", "invalid destination address", Message},
    {0x0C, "ESME_RINVMSGID", "invalid message ID", Message},
    {0x0D, "ESME_RBINDFAIL", "bind failed", Session},
    {0x0E, "ESME_RINVPASWD", "invalid password", Session},
    {0x0F, "ESME_RINVSYSID", "invalid system ID", Session},
    {0x11, "ESME_RCANCELFAIL", "cancelling the message failed", Message},
    {0x13, "ESME_RREPLACEFAIL", "replacing the message failed", Message},
    {0x14, "ESME_RMSGQFUL", "message queue full", Retry},
    {0x15, "ESME_RINVSERTYP", "invalid service type", Message},
    {0x33, "ESME_RINVNUMDESTS", "invalid number of destinations", Message},
    {0x34, "ESME_RINVDLNAME", "invalid distribution list name", Message},
    {0x40, "ESME_RINVDESTFLAG", "invalid destination flag", Message},
    {0x42, "ESME_RINVSUBREP", "invalid submit with replace request", Message},
    {0x43, "ESME_RINVESMCLASS", "invalid esm_class", Message},
    {0x44, "ESME_RCNTSUBDL", "cannot submit to a distribution list", Message},
    {0x45, "ESME_RSUBMITFAIL", "submit failed", Message},
    {0x48, "ESME_RINVSRCTON", "invalid type of number of the source address", Message},
    {0x49, "ESME_RINVSRCNPI", "invalid numbering plan of the source address", Message},
    {0x50, "ESME_RINVDSTTON", "invalid type of number of the destination address", Message},
    {0x51, "ESME_RINVDSTNPI", "invalid numbering plan of the destination address", Message},
    {0x53, "ESME_RINVSYSTYP", "invalid system type", Session},
    {0x54, "ESME_RINVREPFLAG", "invalid replace_if_present flag", Message},
    {0x55, "ESME_RINVNUMMSGS", "invalid number of messages", Message},
    {0x58, "ESME_RTHROTTLED", "throttled: too many messages", Retry},
    {0x61, "ESME_RINVSCHED", "invalid scheduled delivery time", Message},
    {0x62, "ESME_RINVEXPIRY", "invalid validity period", Message},
    {0x63, "ESME_RINVDFTMSGID", "predefined message not found", Message},
    {0x64, "ESME_RX_T_APPN", "temporary error of the receiving application", Message},
    {0x65, "ESME_RX_P_APPN", "permanent error of the receiving application", Message},
    {0x66, "ESME_RX_R_APPN", "message rejected by the receiving application", Message},
    {0x67, "ESME_RQUERYFAIL", "query failed", Message},
    {0xC0, "ESME_RINVOPTPARSTREAM", "error in the optional parameters", Message},
    {0xC1, "ESME_ROPTPARNOTALLWD", "optional parameter not allowed", Message},
    {0xC2, "ESME_RINVPARLEN", "invalid parameter length", Message},
    {0xC3, "ESME_RMISSINGOPTPARAM", "expected optional parameter missing", Message},
    {0xC4, "ESME_RINVOPTPARAMVAL", "invalid optional parameter value", Message},
    {0xFE, "ESME_RDELIVERYFAILURE", "delivery failure", Message},
    {0xFF, "ESME_RUNKNOWNERR", "unknown error", Message},
};

const StatusInfo *findStatus(quint32 status) {
    const auto it =
        std::lower_bound(std::begin(Statuses), std::end(Statuses), status,
                         [](const StatusInfo &info, quint32 code) { return info.code < code; });
    return it != std::end(Statuses) && it->code == status ? it : nullptr;
}

} // namespace

SmppStatusClass classifySmppStatus(quint32 status) {
    if (const StatusInfo *info = findStatus(status))
        return info->kind;
    // A code of the centre's own refuses this one message: the session goes on, and whether
    // to send the message again is the user's choice.
    return SmppStatusClass::MessageFailure;
}

QString smppStatusName(quint32 status) {
    if (const StatusInfo *info = findStatus(status))
        return QString::fromLatin1(info->name);
    return QStringLiteral("0x%1").arg(
        QString::number(status, 16).rightJustified(8, QLatin1Char('0')).toUpper());
}

QString smppStatusText(quint32 status) {
    if (const StatusInfo *info = findStatus(status))
        return QStringLiteral("%1: %2").arg(QLatin1StringView(info->name),
                                            QLatin1StringView(info->reason));
    const bool vendor = status >= 0x400 && status <= 0x4FF;
    return QStringLiteral("%1: %2").arg(
        smppStatusName(status), vendor ? QStringLiteral("error code of the SMS centre's own")
                                       : QStringLiteral("unknown error code"));
}
