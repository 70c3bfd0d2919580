#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// SMPP 3.4 protocol data units: the commands this client speaks, one flat record for all of
// them, and a pure encoder and decoder. Decoding checks every length against the frame, reads
// C-octet strings only up to their maximum size and skips optional parameters it does not know,
// so any byte sequence from the network gives either a PDU or a reason, never a crash.

enum class SmppCommand : quint32 {
    GenericNack = 0x80000000,
    BindReceiver = 0x00000001,
    BindReceiverResp = 0x80000001,
    BindTransmitter = 0x00000002,
    BindTransmitterResp = 0x80000002,
    SubmitSm = 0x00000004,
    SubmitSmResp = 0x80000004,
    DeliverSm = 0x00000005,
    DeliverSmResp = 0x80000005,
    Unbind = 0x00000006,
    UnbindResp = 0x80000006,
    BindTransceiver = 0x00000009,
    BindTransceiverResp = 0x80000009,
    EnquireLink = 0x00000015,
    EnquireLinkResp = 0x80000015,
    AlertNotification = 0x00000102,
};

inline constexpr quint32 SmppResponseBit = 0x80000000;
inline constexpr int SmppHeaderLength = 16;
// Far above anything a short message needs (a full message_payload is 64 KiB), low enough that
// a corrupt length cannot make the reader hold megabytes.
inline constexpr int SmppMaxPduLength = 70000;
// short_message is counted in one octet, and 255 is reserved.
inline constexpr int SmppMaxShortMessage = 254;
inline constexpr quint8 SmppInterfaceVersion = 0x34;

// Field sizes including the terminating NUL.
inline constexpr int SmppSystemIdSize = 16;
inline constexpr int SmppPasswordSize = 9;
inline constexpr int SmppSystemTypeSize = 13;
inline constexpr int SmppAddressRangeSize = 41;
inline constexpr int SmppServiceTypeSize = 6;
inline constexpr int SmppAddressSize = 21;
inline constexpr int SmppTimeSize = 17;
inline constexpr int SmppMessageIdSize = 65;

// esm_class bits.
inline constexpr quint8 SmppEsmUdhIndicator = 0x40;
inline constexpr quint8 SmppEsmMessageTypeMask = 0x3C;
inline constexpr quint8 SmppEsmDeliveryReceipt = 0x04;

// Tags of the optional parameters the client reads or writes.
enum class SmppTag : quint16 {
    ReceiptedMessageId = 0x001E,
    ScInterfaceVersion = 0x0210,
    NetworkErrorCode = 0x0423,
    MessagePayload = 0x0424,
    MessageState = 0x0427,
};

constexpr bool isSmppResponse(SmppCommand command) {
    return (static_cast<quint32>(command) & SmppResponseBit) != 0;
}
constexpr SmppCommand smppResponseTo(SmppCommand request) {
    return static_cast<SmppCommand>(static_cast<quint32>(request) | SmppResponseBit);
}
// "submit_sm", "bind_transceiver_resp", ... or "command 0x00000103" for one this client does
// not know.
QString smppCommandName(SmppCommand command);

// Type of number and numbering plan of an address.
enum class SmppTon : quint8 { Unknown = 0, International = 1, National = 2, Alphanumeric = 5 };
enum class SmppNpi : quint8 { Unknown = 0, Isdn = 1 };

struct SmppAddress {
    quint8 ton = 0;
    quint8 npi = 0;
    QByteArray address;

    friend bool operator==(const SmppAddress &, const SmppAddress &) = default;
};

// One PDU. Which fields are used depends on the command; the others keep their defaults.
struct SmppPdu {
    SmppCommand command = SmppCommand::GenericNack;
    quint32 status = 0;
    quint32 sequence = 0;

    // bind_transmitter, bind_transceiver, bind_receiver (system_id also in their responses).
    QByteArray systemId;
    QByteArray password;
    QByteArray systemType;
    quint8 interfaceVersion = SmppInterfaceVersion;
    SmppAddress addressRange;

    // submit_sm and deliver_sm.
    QByteArray serviceType;
    SmppAddress source;
    SmppAddress destination;
    quint8 esmClass = 0;
    quint8 protocolId = 0;
    quint8 priorityFlag = 0;
    QByteArray scheduleDeliveryTime;
    QByteArray validityPeriod;
    quint8 registeredDelivery = 0;
    quint8 replaceIfPresent = 0;
    quint8 dataCoding = 0;
    quint8 smDefaultMsgId = 0;
    QByteArray shortMessage;

    // submit_sm_resp and deliver_sm_resp.
    QByteArray messageId;

    // Optional parameters; written when set, read when present.
    std::optional<QByteArray> receiptedMessageId;
    std::optional<quint8> messageState;
    std::optional<QByteArray> networkErrorCode; // 3 octets: network type, error code
    std::optional<QByteArray> messagePayload;
    std::optional<quint8> scInterfaceVersion;

    friend bool operator==(const SmppPdu &, const SmppPdu &) = default;
};

// Why encodeSmppPdu would refuse the PDU (a field longer than its maximum), empty when it would
// not. The text names the field in plain words: "the destination address is longer than 20
// characters".
QString smppPduProblem(const SmppPdu &pdu);

// The PDU's octets, command_length included. Raises Error with smppPduProblem's text when a
// field is too long. A response with a non-zero status carries no body, as centres expect.
QByteArray encodeSmppPdu(const SmppPdu &pdu);

// How much of a receive buffer the PDU at its start needs.
struct SmppFrame {
    enum class Kind { Incomplete, Complete, Invalid };
    Kind kind = Kind::Incomplete;
    qsizetype length = 0; // command_length when Complete
};
// Incomplete until the whole PDU is there; Invalid when command_length is below the header's
// size or above SmppMaxPduLength (the stream cannot be followed any further then).
SmppFrame smppFrame(QByteArrayView buffer);

struct SmppDecoded {
    bool ok = false;
    bool headerOk = false; // command, status and sequence are valid even when the body is not
    SmppPdu pdu;
    QString error; // why the PDU is malformed, for the log
};
// Decodes exactly one PDU (frame's size must be its command_length). Unknown commands decode
// to their header alone.
SmppDecoded decodeSmppPdu(QByteArrayView frame);
