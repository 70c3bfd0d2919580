#pragma once

#include <QString>

// Command statuses (the ESME_ codes) that a centre answers with: their names, plain reasons and
// what the client does about each.

inline constexpr quint32 SmppStatusOk = 0x00000000;
inline constexpr quint32 SmppStatusInvalidCommandLength = 0x00000002;
inline constexpr quint32 SmppStatusInvalidCommandId = 0x00000003;
inline constexpr quint32 SmppStatusSystemError = 0x00000008;
inline constexpr quint32 SmppStatusInvalidDestination = 0x0000000B;
inline constexpr quint32 SmppStatusBindFailed = 0x0000000D;
inline constexpr quint32 SmppStatusInvalidPassword = 0x0000000E;
inline constexpr quint32 SmppStatusQueueFull = 0x00000014;
inline constexpr quint32 SmppStatusThrottled = 0x00000058;
inline constexpr quint32 SmppStatusUnknownError = 0x000000FF;

enum class SmppStatusClass {
    Success,
    Retry,          // throttled or queue full: pause the session and send the message again
    MessageFailure, // this message was refused for good; the session goes on
    SessionFailure, // the session itself is refused (bind state, credentials)
};

SmppStatusClass classifySmppStatus(quint32 status);

// "ESME_RINVDSTADR", or "0x00000401" for a code without a name.
QString smppStatusName(quint32 status);

// "ESME_RINVDSTADR: invalid destination address"; codes without a name get "0x00000401: error
// code of the SMS centre's own" or "...: unknown error code".
QString smppStatusText(quint32 status);
