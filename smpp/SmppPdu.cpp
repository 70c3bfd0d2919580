#include "SmppPdu.h"

#include "base/Error.h"

#include <QtEndian>

namespace {

// Appends big-endian integers and C-octet strings.
class PduWriter {
public:
    void u8(quint8 value) { m_bytes.append(static_cast<char>(value)); }
    void u16(quint16 value) {
        u8(static_cast<quint8>(value >> 8));
        u8(static_cast<quint8>(value));
    }
    void u32(quint32 value) {
        u16(static_cast<quint16>(value >> 16));
        u16(static_cast<quint16>(value));
    }
    void cString(const QByteArray &text) {
        m_bytes.append(text);
        m_bytes.append('\0');
    }
    void address(const SmppAddress &address) {
        u8(address.ton);
        u8(address.npi);
        cString(address.address);
    }
    void tlv(SmppTag tag, QByteArrayView value) {
        u16(static_cast<quint16>(tag));
        u16(static_cast<quint16>(value.size()));
        m_bytes.append(value);
    }
    QByteArray &bytes() { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Reads from one frame; every read checks the octets left and records the first fault.
class PduReader {
public:
    explicit PduReader(QByteArrayView data) : m_data(data) {}

    bool failed() const { return !m_error.isEmpty(); }
    const QString &error() const { return m_error; }
    qsizetype left() const { return m_data.size() - m_pos; }
    bool atEnd() const { return m_pos >= m_data.size(); }

    quint8 u8(const char *field) {
        if (!need(1, field))
            return 0;
        return static_cast<quint8>(m_data[m_pos++]);
    }
    quint16 u16(const char *field) {
        if (!need(2, field))
            return 0;
        const auto value = qFromBigEndian<quint16>(m_data.data() + m_pos);
        m_pos += 2;
        return value;
    }
    quint32 u32(const char *field) {
        if (!need(4, field))
            return 0;
        const auto value = qFromBigEndian<quint32>(m_data.data() + m_pos);
        m_pos += 4;
        return value;
    }
    // A C-octet string of at most size octets including its NUL.
    QByteArray cString(const char *field, int size) {
        if (failed())
            return {};
        const qsizetype limit = std::min<qsizetype>(left(), size);
        const QByteArrayView window = m_data.sliced(m_pos, limit);
        const qsizetype nul = window.indexOf('\0');
        if (nul < 0) {
            fail(limit < size ? QStringLiteral("%1 is cut off before its terminating NUL")
                                    .arg(QLatin1StringView(field))
                              : QStringLiteral("%1 has no terminating NUL within %2 octets")
                                    .arg(QLatin1StringView(field))
                                    .arg(size));
            return {};
        }
        m_pos += nul + 1;
        return window.first(nul).toByteArray();
    }
    SmppAddress address(const char *field) {
        SmppAddress result;
        result.ton = u8(field);
        result.npi = u8(field);
        result.address = cString(field, SmppAddressSize);
        return result;
    }
    QByteArray bytes(qsizetype count, const char *field) {
        if (!need(count, field))
            return {};
        const QByteArray result = m_data.sliced(m_pos, count).toByteArray();
        m_pos += count;
        return result;
    }
    void fail(QString error) {
        if (m_error.isEmpty())
            m_error = std::move(error);
    }

private:
    bool need(qsizetype count, const char *field) {
        if (failed())
            return false;
        if (left() < count) {
            fail(QStringLiteral("%1 is cut off").arg(QLatin1StringView(field)));
            return false;
        }
        return true;
    }

    QByteArrayView m_data;
    qsizetype m_pos = 0;
    QString m_error;
};

bool isBind(SmppCommand command) {
    return command == SmppCommand::BindTransmitter || command == SmppCommand::BindTransceiver ||
           command == SmppCommand::BindReceiver;
}

bool isBindResp(SmppCommand command) {
    return command == SmppCommand::BindTransmitterResp ||
           command == SmppCommand::BindTransceiverResp || command == SmppCommand::BindReceiverResp;
}

bool isShortMessage(SmppCommand command) {
    return command == SmppCommand::SubmitSm || command == SmppCommand::DeliverSm;
}

bool isMessageIdResp(SmppCommand command) {
    return command == SmppCommand::SubmitSmResp || command == SmppCommand::DeliverSmResp;
}

bool isKnown(SmppCommand command) {
    switch (command) {
    case SmppCommand::GenericNack:
    case SmppCommand::BindReceiver:
    case SmppCommand::BindReceiverResp:
    case SmppCommand::BindTransmitter:
    case SmppCommand::BindTransmitterResp:
    case SmppCommand::SubmitSm:
    case SmppCommand::SubmitSmResp:
    case SmppCommand::DeliverSm:
    case SmppCommand::DeliverSmResp:
    case SmppCommand::Unbind:
    case SmppCommand::UnbindResp:
    case SmppCommand::BindTransceiver:
    case SmppCommand::BindTransceiverResp:
    case SmppCommand::EnquireLink:
    case SmppCommand::EnquireLinkResp:
    case SmppCommand::AlertNotification:
        return true;
    }
    return false;
}

// "the destination address is longer than 20 characters" when text does not fit size octets
// with its NUL.
void checkLength(QString &problem, const QByteArray &text, int size, const char *what) {
    if (problem.isEmpty() && text.size() > size - 1)
        problem = QStringLiteral("the %1 is longer than %2 characters")
                      .arg(QLatin1StringView(what))
                      .arg(size - 1);
    if (problem.isEmpty() && text.contains('\0'))
        problem = QStringLiteral("the %1 contains a NUL character").arg(QLatin1StringView(what));
}

void readOptionalParameters(PduReader &reader, SmppPdu &pdu) {
    while (!reader.failed() && !reader.atEnd()) {
        const quint16 tag = reader.u16("optional parameter tag");
        const quint16 length = reader.u16("optional parameter length");
        const QByteArray value = reader.bytes(length, "optional parameter value");
        if (reader.failed())
            return;
        switch (static_cast<SmppTag>(tag)) {
        case SmppTag::ReceiptedMessageId: {
            // A C-octet string; some centres leave the NUL out, which the length makes safe.
            const qsizetype nul = value.indexOf('\0');
            const QByteArray id = nul < 0 ? value : value.first(nul);
            if (id.size() > SmppMessageIdSize - 1)
                reader.fail(QStringLiteral("receipted_message_id is longer than %1 octets")
                                .arg(SmppMessageIdSize - 1));
            else
                pdu.receiptedMessageId = id;
            break;
        }
        case SmppTag::MessageState:
            if (length != 1)
                reader.fail(QStringLiteral("message_state has %1 octets instead of 1").arg(length));
            else
                pdu.messageState = static_cast<quint8>(value[0]);
            break;
        case SmppTag::NetworkErrorCode:
            if (length != 3)
                reader.fail(
                    QStringLiteral("network_error_code has %1 octets instead of 3").arg(length));
            else
                pdu.networkErrorCode = value;
            break;
        case SmppTag::MessagePayload:
            pdu.messagePayload = value;
            break;
        case SmppTag::ScInterfaceVersion:
            if (length != 1)
                reader.fail(
                    QStringLiteral("sc_interface_version has %1 octets instead of 1").arg(length));
            else
                pdu.scInterfaceVersion = static_cast<quint8>(value[0]);
            break;
        default:
            break; // parameters this client has no use for
        }
    }
}

} // namespace

QString smppCommandName(SmppCommand command) {
    switch (command) {
    case SmppCommand::GenericNack:
        return QStringLiteral("generic_nack");
    case SmppCommand::BindReceiver:
        return QStringLiteral("bind_receiver");
    case SmppCommand::BindReceiverResp:
        return QStringLiteral("bind_receiver_resp");
    case SmppCommand::BindTransmitter:
        return QStringLiteral("bind_transmitter");
    case SmppCommand::BindTransmitterResp:
        return QStringLiteral("bind_transmitter_resp");
    case SmppCommand::SubmitSm:
        return QStringLiteral("submit_sm");
    case SmppCommand::SubmitSmResp:
        return QStringLiteral("submit_sm_resp");
    case SmppCommand::DeliverSm:
        return QStringLiteral("deliver_sm");
    case SmppCommand::DeliverSmResp:
        return QStringLiteral("deliver_sm_resp");
    case SmppCommand::Unbind:
        return QStringLiteral("unbind");
    case SmppCommand::UnbindResp:
        return QStringLiteral("unbind_resp");
    case SmppCommand::BindTransceiver:
        return QStringLiteral("bind_transceiver");
    case SmppCommand::BindTransceiverResp:
        return QStringLiteral("bind_transceiver_resp");
    case SmppCommand::EnquireLink:
        return QStringLiteral("enquire_link");
    case SmppCommand::EnquireLinkResp:
        return QStringLiteral("enquire_link_resp");
    case SmppCommand::AlertNotification:
        return QStringLiteral("alert_notification");
    }
    return QStringLiteral("command 0x%1")
        .arg(static_cast<quint32>(command), 8, 16, QLatin1Char('0'))
        .toLower();
}

QString smppPduProblem(const SmppPdu &pdu) {
    QString problem;
    if (isBind(pdu.command)) {
        checkLength(problem, pdu.systemId, SmppSystemIdSize, "system ID");
        checkLength(problem, pdu.password, SmppPasswordSize, "password");
        checkLength(problem, pdu.systemType, SmppSystemTypeSize, "system type");
        checkLength(problem, pdu.addressRange.address, SmppAddressRangeSize, "address range");
    } else if (isBindResp(pdu.command)) {
        checkLength(problem, pdu.systemId, SmppSystemIdSize, "system ID");
    } else if (isShortMessage(pdu.command)) {
        checkLength(problem, pdu.serviceType, SmppServiceTypeSize, "service type");
        checkLength(problem, pdu.source.address, SmppAddressSize, "source address");
        checkLength(problem, pdu.destination.address, SmppAddressSize, "destination address");
        checkLength(problem, pdu.scheduleDeliveryTime, SmppTimeSize, "delivery time");
        checkLength(problem, pdu.validityPeriod, SmppTimeSize, "validity period");
        if (problem.isEmpty() && pdu.shortMessage.size() > SmppMaxShortMessage)
            problem =
                QStringLiteral("the message is longer than %1 octets").arg(SmppMaxShortMessage);
    } else if (isMessageIdResp(pdu.command)) {
        checkLength(problem, pdu.messageId, SmppMessageIdSize, "message ID");
    }
    if (problem.isEmpty() && pdu.receiptedMessageId)
        checkLength(problem, *pdu.receiptedMessageId, SmppMessageIdSize, "receipted message ID");
    if (problem.isEmpty() && pdu.networkErrorCode && pdu.networkErrorCode->size() != 3)
        problem = QStringLiteral("the network error code is not 3 octets");
    if (problem.isEmpty() && pdu.messagePayload && pdu.messagePayload->size() > 0xFFFF)
        problem = QStringLiteral("the message payload is longer than 65535 octets");
    return problem;
}

QByteArray encodeSmppPdu(const SmppPdu &pdu) {
    if (const QString problem = smppPduProblem(pdu); !problem.isEmpty())
        throw Error(problem);
    PduWriter w;
    w.u32(0); // command_length, filled in below
    w.u32(static_cast<quint32>(pdu.command));
    w.u32(pdu.status);
    w.u32(pdu.sequence);
    const bool withBody = !isSmppResponse(pdu.command) || pdu.status == 0;
    if (withBody) {
        if (isBind(pdu.command)) {
            w.cString(pdu.systemId);
            w.cString(pdu.password);
            w.cString(pdu.systemType);
            w.u8(pdu.interfaceVersion);
            w.address(pdu.addressRange);
        } else if (isBindResp(pdu.command)) {
            w.cString(pdu.systemId);
        } else if (isShortMessage(pdu.command)) {
            w.cString(pdu.serviceType);
            w.address(pdu.source);
            w.address(pdu.destination);
            w.u8(pdu.esmClass);
            w.u8(pdu.protocolId);
            w.u8(pdu.priorityFlag);
            w.cString(pdu.scheduleDeliveryTime);
            w.cString(pdu.validityPeriod);
            w.u8(pdu.registeredDelivery);
            w.u8(pdu.replaceIfPresent);
            w.u8(pdu.dataCoding);
            w.u8(pdu.smDefaultMsgId);
            w.u8(static_cast<quint8>(pdu.shortMessage.size()));
            w.bytes().append(pdu.shortMessage);
        } else if (isMessageIdResp(pdu.command)) {
            w.cString(pdu.messageId);
        }
        if (pdu.receiptedMessageId) {
            QByteArray value = *pdu.receiptedMessageId;
            value.append('\0');
            w.tlv(SmppTag::ReceiptedMessageId, value);
        }
        if (pdu.messageState)
            w.tlv(SmppTag::MessageState, QByteArray(1, static_cast<char>(*pdu.messageState)));
        if (pdu.networkErrorCode)
            w.tlv(SmppTag::NetworkErrorCode, *pdu.networkErrorCode);
        if (pdu.messagePayload)
            w.tlv(SmppTag::MessagePayload, *pdu.messagePayload);
        if (pdu.scInterfaceVersion)
            w.tlv(SmppTag::ScInterfaceVersion,
                  QByteArray(1, static_cast<char>(*pdu.scInterfaceVersion)));
    }
    QByteArray &bytes = w.bytes();
    qToBigEndian<quint32>(static_cast<quint32>(bytes.size()), bytes.data());
    return bytes;
}

SmppFrame smppFrame(QByteArrayView buffer) {
    if (buffer.size() < 4)
        return {};
    const quint32 length = qFromBigEndian<quint32>(buffer.data());
    if (length < SmppHeaderLength || length > SmppMaxPduLength)
        return {SmppFrame::Kind::Invalid, 0};
    if (buffer.size() < static_cast<qsizetype>(length))
        return {};
    return {SmppFrame::Kind::Complete, static_cast<qsizetype>(length)};
}

SmppDecoded decodeSmppPdu(QByteArrayView frame) {
    SmppDecoded result;
    if (frame.size() < SmppHeaderLength) {
        result.error =
            QStringLiteral("PDU of %1 octets is shorter than its header").arg(frame.size());
        return result;
    }
    PduReader reader(frame);
    const quint32 length = reader.u32("command_length");
    if (length != frame.size()) {
        result.error = QStringLiteral("command_length %1 does not match the %2 octets received")
                           .arg(length)
                           .arg(frame.size());
        return result;
    }
    SmppPdu &pdu = result.pdu;
    pdu.command = static_cast<SmppCommand>(reader.u32("command_id"));
    pdu.status = reader.u32("command_status");
    pdu.sequence = reader.u32("sequence_number");
    result.headerOk = true;
    if (!isKnown(pdu.command)) {
        result.ok = true;
        return result;
    }
    // A response that reports an error may leave its body out.
    const bool bodyOptional = isSmppResponse(pdu.command) && reader.atEnd();
    if (!bodyOptional) {
        if (isBind(pdu.command)) {
            pdu.systemId = reader.cString("system_id", SmppSystemIdSize);
            pdu.password = reader.cString("password", SmppPasswordSize);
            pdu.systemType = reader.cString("system_type", SmppSystemTypeSize);
            pdu.interfaceVersion = reader.u8("interface_version");
            pdu.addressRange.ton = reader.u8("addr_ton");
            pdu.addressRange.npi = reader.u8("addr_npi");
            pdu.addressRange.address = reader.cString("address_range", SmppAddressRangeSize);
        } else if (isBindResp(pdu.command)) {
            pdu.systemId = reader.cString("system_id", SmppSystemIdSize);
        } else if (isShortMessage(pdu.command)) {
            pdu.serviceType = reader.cString("service_type", SmppServiceTypeSize);
            pdu.source = reader.address("source_addr");
            pdu.destination = reader.address("destination_addr");
            pdu.esmClass = reader.u8("esm_class");
            pdu.protocolId = reader.u8("protocol_id");
            pdu.priorityFlag = reader.u8("priority_flag");
            pdu.scheduleDeliveryTime = reader.cString("schedule_delivery_time", SmppTimeSize);
            pdu.validityPeriod = reader.cString("validity_period", SmppTimeSize);
            pdu.registeredDelivery = reader.u8("registered_delivery");
            pdu.replaceIfPresent = reader.u8("replace_if_present_flag");
            pdu.dataCoding = reader.u8("data_coding");
            pdu.smDefaultMsgId = reader.u8("sm_default_msg_id");
            const quint8 smLength = reader.u8("sm_length");
            if (smLength > SmppMaxShortMessage)
                reader.fail(QStringLiteral("sm_length %1 is above %2")
                                .arg(smLength)
                                .arg(SmppMaxShortMessage));
            pdu.shortMessage = reader.bytes(smLength, "short_message");
        } else if (isMessageIdResp(pdu.command)) {
            pdu.messageId = reader.cString("message_id", SmppMessageIdSize);
        }
        readOptionalParameters(reader, pdu);
    }
    if (reader.failed()) {
        result.error =
            QStringLiteral("malformed %1: %2").arg(smppCommandName(pdu.command), reader.error());
        return result;
    }
    result.ok = true;
    return result;
}
