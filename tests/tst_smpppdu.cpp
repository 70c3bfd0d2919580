// SMPP PDUs on their own: the wire form of each command, round trips, malformed input from
// the network, the command status table, receipts and message IDs.

#include "smpp/SmppPdu.h"
#include "smpp/SmppReceipt.h"
#include "smpp/SmppStatus.h"
#include "support/TestFiles.h"

#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

namespace {

QByteArray be32(quint32 value) {
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// A PDU with the given body; command_length is the real length unless one is given.
QByteArray pduBytes(SmppCommand command, const QByteArray &body, quint32 status = 0,
                    quint32 sequence = 1, qint64 length = -1) {
    return be32(length < 0 ? static_cast<quint32>(16 + body.size())
                           : static_cast<quint32>(length)) +
           be32(static_cast<quint32>(command)) + be32(status) + be32(sequence) + body;
}

QByteArray tlv(quint16 tag, const QByteArray &value) {
    QByteArray bytes;
    bytes.append(static_cast<char>(tag >> 8)).append(static_cast<char>(tag));
    bytes.append(static_cast<char>(value.size() >> 8)).append(static_cast<char>(value.size()));
    return bytes + value;
}

// A submit_sm body up to and including sm_length, with the given short message behind it.
QByteArray submitBody(const QByteArray &shortMessage, int smLength = -1) {
    QByteArray body = QByteArray("\0", 1) +
                      QByteArray("\x05\x00"
                                 "Club\0",
                                 7) +
                      QByteArray("\x01\x01"
                                 "4915112345678\0",
                                 16) +
                      QByteArray("\x00\x00\x00\x00\x00\x01\x00\x00\x00", 9);
    body.append(static_cast<char>(smLength < 0 ? shortMessage.size() : smLength));
    return body + shortMessage;
}

SmppPdu receiptPdu() {
    SmppPdu pdu;
    pdu.command = SmppCommand::DeliverSm;
    pdu.sequence = 42;
    pdu.source = {1, 1, "4915112345678"};
    pdu.destination = {5, 0, "Club"};
    pdu.esmClass = SmppEsmDeliveryReceipt;
    pdu.shortMessage = "id:0001715968 sub:001 dlvrd:001 submit date:2411011200 done "
                       "date:2411011201 stat:DELIVRD err:000 text:Meeting moved";
    pdu.receiptedMessageId = "1A2F00";
    pdu.messageState = 2;
    pdu.networkErrorCode = QByteArray("\x03\x00\x01", 3);
    return pdu;
}

} // namespace

Q_DECLARE_METATYPE(SmppPdu)
Q_DECLARE_METATYPE(SmppDeliveryState)
Q_DECLARE_METATYPE(SmppStatusClass)

class TestSmppPdu : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wireForm_data();
    void wireForm();
    void roundTrip_data();
    void roundTrip();
    void frame_data();
    void frame();
    void malformed_data();
    void malformed();
    void randomBytesNeverBreakTheDecoder();
    void encoderRefusesLongFields_data();
    void encoderRefusesLongFields();
    void statuses_data();
    void statuses();
    void receipts_data();
    void receipts();
    void messageIdCandidates_data();
    void messageIdCandidates();
};

void TestSmppPdu::wireForm_data() {
    QTest::addColumn<SmppPdu>("pdu");
    QTest::addColumn<QByteArray>("hex");

    SmppPdu enquire;
    enquire.command = SmppCommand::EnquireLink;
    enquire.sequence = 1;
    QTest::newRow("enquire_link") << enquire << QByteArray("00000010000000150000000000000001");

    SmppPdu bind;
    bind.command = SmppCommand::BindTransceiver;
    bind.sequence = 2;
    bind.systemId = "club";
    bind.password = "pw";
    QTest::newRow("bind_transceiver") << bind
                                      << QByteArray("0000001D000000090000000000000002" // header
                                                    "636C756200"
                                                    "707700"
                                                    "00"
                                                    "34"
                                                    "00"
                                                    "00"
                                                    "00");

    SmppPdu submit;
    submit.command = SmppCommand::SubmitSm;
    submit.sequence = 7;
    submit.source = {5, 0, "Club"};
    submit.destination = {1, 1, "4915112345678"};
    submit.registeredDelivery = 1;
    submit.shortMessage = "hi";
    QTest::newRow("submit_sm") << submit
                               << QByteArray("00000034000000040000000000000007"
                                             "00"
                                             "0500436C756200"
                                             "01013439313531313233343536373800"
                                             "000000"
                                             "00"
                                             "00"
                                             "01000000"
                                             "02"
                                             "6869");

    SmppPdu refused;
    refused.command = SmppCommand::SubmitSmResp;
    refused.status = 0x0B;
    refused.sequence = 7;
    refused.messageId = "ignored";
    QTest::newRow("submit_sm_resp refusing: no body") << refused
                                                      << QByteArray("0000001080000004000000"
                                                                    "0B00000007");
}

void TestSmppPdu::wireForm() {
    QFETCH(SmppPdu, pdu);
    QFETCH(QByteArray, hex);
    QCOMPARE(encodeSmppPdu(pdu).toHex().toUpper(), hex);
}

void TestSmppPdu::roundTrip_data() {
    QTest::addColumn<SmppPdu>("pdu");

    SmppPdu bind;
    bind.command = SmppCommand::BindTransmitter;
    bind.sequence = 0x7FFFFFFF;
    bind.systemId = "fifteen_chars__";
    bind.password = "eight_ch";
    bind.systemType = "VMA";
    bind.addressRange = {1, 1, "49*"};
    QTest::newRow("bind_transmitter, longest system_id and password") << bind;

    SmppPdu bindResp;
    bindResp.command = SmppCommand::BindTransceiverResp;
    bindResp.sequence = 3;
    bindResp.systemId = "SMSC";
    bindResp.scInterfaceVersion = 0x34;
    QTest::newRow("bind_transceiver_resp with sc_interface_version") << bindResp;

    for (const SmppCommand command : {SmppCommand::Unbind, SmppCommand::UnbindResp,
                                      SmppCommand::EnquireLink, SmppCommand::EnquireLinkResp}) {
        SmppPdu empty;
        empty.command = command;
        empty.sequence = 9;
        QTest::newRow(qPrintable(smppCommandName(command))) << empty;
    }

    SmppPdu nack;
    nack.command = SmppCommand::GenericNack;
    nack.status = SmppStatusInvalidCommandId;
    nack.sequence = 11;
    QTest::newRow("generic_nack") << nack;

    SmppPdu part;
    part.command = SmppCommand::SubmitSm;
    part.sequence = 12;
    part.source = {5, 0, "Club"};
    part.destination = {1, 1, "4915112345678"};
    part.esmClass = SmppEsmUdhIndicator;
    part.dataCoding = 8;
    part.registeredDelivery = 1;
    part.validityPeriod = "000001000000000R";
    part.shortMessage = QByteArray::fromHex("050003A70201") + QByteArray(134, '\x04');
    QTest::newRow("submit_sm, UCS-2 part with UDH") << part;

    SmppPdu longest = part;
    longest.shortMessage = QByteArray(SmppMaxShortMessage, '\xFF');
    QTest::newRow("submit_sm, 254 octets") << longest;

    SmppPdu accepted;
    accepted.command = SmppCommand::SubmitSmResp;
    accepted.sequence = 12;
    accepted.messageId = QByteArray(64, '7');
    QTest::newRow("submit_sm_resp, 64-octet message_id") << accepted;

    QTest::newRow("deliver_sm receipt with TLVs") << receiptPdu();

    SmppPdu payload = receiptPdu();
    payload.shortMessage.clear();
    payload.messagePayload = QByteArray(300, 'p');
    QTest::newRow("deliver_sm with message_payload") << payload;

    SmppPdu deliverResp;
    deliverResp.command = SmppCommand::DeliverSmResp;
    deliverResp.sequence = 42;
    QTest::newRow("deliver_sm_resp") << deliverResp;
}

void TestSmppPdu::roundTrip() {
    QFETCH(SmppPdu, pdu);
    const QByteArray bytes = encodeSmppPdu(pdu);
    QCOMPARE(qFromBigEndian<quint32>(bytes.constData()), static_cast<quint32>(bytes.size()));
    const SmppFrame frame = smppFrame(bytes + "trailing");
    QCOMPARE(frame.kind, SmppFrame::Kind::Complete);
    QCOMPARE(frame.length, bytes.size());
    const SmppDecoded decoded = decodeSmppPdu(bytes);
    QVERIFY2(decoded.ok, qPrintable(decoded.error));
    QCOMPARE(decoded.pdu, pdu);
}

void TestSmppPdu::frame_data() {
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<SmppFrame::Kind>("kind");

    QTest::newRow("empty") << QByteArray() << SmppFrame::Kind::Incomplete;
    QTest::newRow("three octets of the length") << be32(16).left(3) << SmppFrame::Kind::Incomplete;
    QTest::newRow("header half there") << be32(16) + be32(0x15) << SmppFrame::Kind::Incomplete;
    QTest::newRow("length below the header")
        << be32(15) + QByteArray(20, '\0') << SmppFrame::Kind::Invalid;
    QTest::newRow("length zero") << be32(0) << SmppFrame::Kind::Invalid;
    QTest::newRow("length over the maximum")
        << be32(SmppMaxPduLength + 1) << SmppFrame::Kind::Invalid;
    QTest::newRow("length 0xFFFFFFFF") << be32(0xFFFFFFFF) << SmppFrame::Kind::Invalid;
    QTest::newRow("maximum length, body still coming")
        << be32(SmppMaxPduLength) + QByteArray(100, '\0') << SmppFrame::Kind::Incomplete;
}

void TestSmppPdu::frame() {
    QFETCH(QByteArray, buffer);
    QFETCH(SmppFrame::Kind, kind);
    QCOMPARE(smppFrame(buffer).kind, kind);
}

void TestSmppPdu::malformed_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("error");

    const QByteArray goodSubmit = pduBytes(SmppCommand::SubmitSm, submitBody("hi"));
    QTest::newRow("well-formed submit_sm") << goodSubmit << true << QString();
    QTest::newRow("shorter than a header") << goodSubmit.left(15) << false << "shorter";
    QTest::newRow("command_length larger than the octets")
        << pduBytes(SmppCommand::SubmitSm, submitBody("hi"), 0, 1, 60) << false << "does not match";
    QTest::newRow("truncated in the destination address")
        << pduBytes(SmppCommand::SubmitSm, submitBody("hi").left(14)) << false
        << "destination_addr is cut off";
    QTest::newRow("sm_length beyond the end")
        << pduBytes(SmppCommand::SubmitSm, submitBody("hi", 3)) << false
        << "short_message is cut off";
    QTest::newRow("sm_length 255")
        << pduBytes(SmppCommand::SubmitSm, submitBody("", 255)) << false << "sm_length 255";
    QTest::newRow("system_id without NUL within 16 octets")
        << pduBytes(SmppCommand::BindTransceiverResp, QByteArray(20, 'A')) << false
        << "no terminating NUL within 16";
    QTest::newRow("message_id without NUL at the end")
        << pduBytes(SmppCommand::SubmitSmResp, "12345") << false << "cut off before its";
    QTest::newRow("source address of 21 characters")
        << pduBytes(SmppCommand::SubmitSm,
                    QByteArray("\0\x01\x01", 3) + QByteArray(21, '1') + QByteArray(40, '\0'))
        << false << "no terminating NUL within 21";
    QTest::newRow("unknown TLV skipped")
        << pduBytes(SmppCommand::SubmitSm,
                    submitBody("hi") + tlv(0x1403, "vendor") + tlv(0x0204, "\x01"))
        << true << QString();
    QTest::newRow("TLV header cut off")
        << pduBytes(SmppCommand::SubmitSm, submitBody("hi") + QByteArray("\x14\x03\x00", 3))
        << false << "optional parameter length is cut off";
    QTest::newRow("TLV length beyond the end")
        << pduBytes(SmppCommand::DeliverSm,
                    submitBody("hi") + QByteArray::fromHex("001E0010") + "123")
        << false << "optional parameter value is cut off";
    QTest::newRow("message_state of two octets")
        << pduBytes(SmppCommand::DeliverSm, submitBody("hi") + tlv(0x0427, "\x02\x02")) << false
        << "message_state has 2 octets";
    QTest::newRow("receipted_message_id over 64 octets")
        << pduBytes(SmppCommand::DeliverSm, submitBody("hi") + tlv(0x001E, QByteArray(70, '1')))
        << false << "receipted_message_id is longer";
    QTest::newRow("unknown command: header only")
        << pduBytes(static_cast<SmppCommand>(0x00000777), "whatever") << true << QString();
    QTest::newRow("refusing submit_sm_resp without body")
        << pduBytes(SmppCommand::SubmitSmResp, {}, 0x58) << true << QString();
}

void TestSmppPdu::malformed() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(QString, error);
    const SmppDecoded decoded = decodeSmppPdu(bytes);
    QCOMPARE(decoded.ok, ok);
    if (!ok)
        QVERIFY2(decoded.error.contains(error), qPrintable(decoded.error));
    if (bytes.size() >= SmppHeaderLength &&
        qFromBigEndian<quint32>(bytes.constData()) == static_cast<quint32>(bytes.size())) {
        // The header stays usable, so that a response can be matched and a request refused.
        QVERIFY(decoded.headerOk);
        QCOMPARE(decoded.pdu.sequence, qFromBigEndian<quint32>(bytes.constData() + 12));
    }
}

void TestSmppPdu::randomBytesNeverBreakTheDecoder() {
    // Mutated copies of valid PDUs: whatever decodes must encode back to the same PDU.
    QList<QByteArray> seeds;
    seeds << encodeSmppPdu(receiptPdu())
          << pduBytes(SmppCommand::SubmitSm, submitBody("hello") + tlv(0x0424, "payload"))
          << pduBytes(SmppCommand::BindTransceiver, QByteArray("sys\0pw\0\0\x34\x00\x00\0", 12))
          << pduBytes(SmppCommand::SubmitSmResp, QByteArray("1A2B\0", 5))
          << pduBytes(SmppCommand::BindTransmitterResp, QByteArray("SMSC\0", 5));
    QRandomGenerator random(20241101);
    int decodedOk = 0;
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes = seeds[random.bounded(seeds.size())];
        const int flips = 1 + random.bounded(4);
        for (int i = 0; i < flips; ++i)
            bytes[random.bounded(bytes.size())] = static_cast<char>(random.bounded(256));
        if (random.bounded(4) == 0)
            bytes.truncate(random.bounded(bytes.size() + 1));
        if (random.bounded(2) == 0 && bytes.size() >= 4)
            qToBigEndian(static_cast<quint32>(bytes.size()), bytes.data());
        smppFrame(bytes);
        const SmppDecoded decoded = decodeSmppPdu(bytes);
        if (!decoded.ok)
            continue;
        ++decodedOk;
        const SmppPdu &pdu = decoded.pdu;
        if (isSmppResponse(pdu.command) && pdu.status != 0)
            continue; // a refusing response is written without its body
        const SmppDecoded again = decodeSmppPdu(encodeSmppPdu(pdu));
        QVERIFY(again.ok);
        QCOMPARE(again.pdu, pdu);
    }
    QVERIFY(decodedOk > 1000);
}

void TestSmppPdu::encoderRefusesLongFields_data() {
    QTest::addColumn<SmppPdu>("pdu");
    QTest::addColumn<QString>("error");

    SmppPdu bind;
    bind.command = SmppCommand::BindTransceiver;
    bind.systemId = QByteArray(16, 's');
    QTest::newRow("system_id of 16") << bind << "the system ID is longer than 15 characters";
    bind.systemId = "ok";
    bind.password = QByteArray(9, 'p');
    QTest::newRow("password of 9") << bind << "the password is longer than 8 characters";

    SmppPdu submit;
    submit.command = SmppCommand::SubmitSm;
    submit.destination.address = QByteArray(21, '1');
    QTest::newRow("destination of 21")
        << submit << "the destination address is longer than 20 characters";
    submit.destination.address = QByteArray("49\0"
                                            "1",
                                            4);
    QTest::newRow("NUL inside an address")
        << submit << "the destination address contains a NUL character";
    submit.destination.address = "491";
    submit.shortMessage = QByteArray(255, 'x');
    QTest::newRow("message of 255") << submit << "the message is longer than 254 octets";
}

void TestSmppPdu::encoderRefusesLongFields() {
    QFETCH(SmppPdu, pdu);
    QFETCH(QString, error);
    QCOMPARE(smppPduProblem(pdu), error);
    QCOMPARE(errorMessage([&] { encodeSmppPdu(pdu); }), error);
}

void TestSmppPdu::statuses_data() {
    QTest::addColumn<quint32>("status");
    QTest::addColumn<QString>("text");
    QTest::addColumn<SmppStatusClass>("kind");

    QTest::newRow("ok") << 0x00u << "ESME_ROK: no error" << SmppStatusClass::Success;
    QTest::newRow("invalid destination") << 0x0Bu << "ESME_RINVDSTADR: invalid destination address"
                                         << SmppStatusClass::MessageFailure;
    QTest::newRow("invalid password")
        << 0x0Eu << "ESME_RINVPASWD: invalid password" << SmppStatusClass::SessionFailure;
    QTest::newRow("bind failed") << 0x0Du << "ESME_RBINDFAIL: bind failed"
                                 << SmppStatusClass::SessionFailure;
    QTest::newRow("not bound") << 0x04u << "ESME_RINVBNDSTS: not allowed in the current bind state"
                               << SmppStatusClass::SessionFailure;
    QTest::newRow("throttled") << 0x58u << "ESME_RTHROTTLED: throttled: too many messages"
                               << SmppStatusClass::Retry;
    QTest::newRow("queue full") << 0x14u << "ESME_RMSGQFUL: message queue full"
                                << SmppStatusClass::Retry;
    QTest::newRow("system error") << 0x08u << "ESME_RSYSERR: system error of the SMS centre"
                                  << SmppStatusClass::MessageFailure;
    QTest::newRow("centre's own code") << 0x401u << "0x00000401: error code of the SMS centre's own"
                                       << SmppStatusClass::MessageFailure;
    QTest::newRow("unassigned code")
        << 0x99u << "0x00000099: unknown error code" << SmppStatusClass::MessageFailure;
}

void TestSmppPdu::statuses() {
    QFETCH(quint32, status);
    QFETCH(QString, text);
    QFETCH(SmppStatusClass, kind);
    QCOMPARE(smppStatusText(status), text);
    QCOMPARE(smppStatusName(status), text.section(QLatin1Char(':'), 0, 0));
    QCOMPARE(classifySmppStatus(status), kind);
}

void TestSmppPdu::receipts_data() {
    QTest::addColumn<SmppPdu>("pdu");
    QTest::addColumn<bool>("isReceipt");
    QTest::addColumn<QByteArray>("messageId");
    QTest::addColumn<SmppDeliveryState>("state");
    QTest::addColumn<QByteArray>("stat");
    QTest::addColumn<QByteArray>("err");

    SmppPdu text;
    text.command = SmppCommand::DeliverSm;
    text.esmClass = SmppEsmDeliveryReceipt;
    text.source = {1, 1, "4915112345678"};
    text.shortMessage = "id:0001715968 sub:001 dlvrd:001 submit date:2411011200 done "
                        "date:2411011201 stat:DELIVRD err:000 text:stat:EXPIRED id:1";
    QTest::newRow("text: delivered, text: field ignored")
        << text << true << QByteArray("1715968") << SmppDeliveryState::Delivered
        << QByteArray("DELIVRD") << QByteArray("000");

    text.shortMessage = "ID:a3f Sub:001 Dlvrd:000 Submit date:2411011200 Done "
                        "date:2411011201 Stat:UNDELIV Err:034 Text:";
    QTest::newRow("text: undelivered, keys in any case")
        << text << true << QByteArray("A3F") << SmppDeliveryState::Undelivered
        << QByteArray("UNDELIV") << QByteArray("034");

    text.shortMessage = "id:77 stat:EXPIRED err:000";
    QTest::newRow("text: expired") << text << true << QByteArray("77") << SmppDeliveryState::Expired
                                   << QByteArray("EXPIRED") << QByteArray("000");

    text.shortMessage = "id:78 stat:REJECTD err:011";
    QTest::newRow("text: rejected is undelivered")
        << text << true << QByteArray("78") << SmppDeliveryState::Undelivered
        << QByteArray("REJECTD") << QByteArray("011");

    text.shortMessage = "id:79 stat:ENROUTE err:000";
    QTest::newRow("text: en route is no final word")
        << text << true << QByteArray("79") << SmppDeliveryState::Other << QByteArray("ENROUTE")
        << QByteArray("000");

    SmppPdu tlvs = receiptPdu();
    tlvs.shortMessage = "id:0001715968 stat:DELIVRD err:000";
    tlvs.messageState = 5;
    QTest::newRow("TLVs count before the text")
        << tlvs << true << QByteArray("1A2F00") << SmppDeliveryState::Undelivered
        << QByteArray("UNDELIV") << QByteArray("000");

    SmppPdu tlvsOnly = receiptPdu();
    tlvsOnly.shortMessage.clear();
    tlvsOnly.messageState = 3;
    QTest::newRow("TLVs only: stat from message_state, err from network_error_code")
        << tlvsOnly << true << QByteArray("1A2F00") << SmppDeliveryState::Expired
        << QByteArray("EXPIRED") << QByteArray("1");

    SmppPdu payload = text;
    payload.shortMessage.clear();
    payload.messagePayload = "id:90 stat:DELIVRD err:000";
    QTest::newRow("text in message_payload")
        << payload << true << QByteArray("90") << SmppDeliveryState::Delivered
        << QByteArray("DELIVRD") << QByteArray("000");

    SmppPdu noId = text;
    noId.shortMessage = "stat:DELIVRD err:000";
    QTest::newRow("no message ID") << noId << false << QByteArray() << SmppDeliveryState::Other
                                   << QByteArray() << QByteArray();

    SmppPdu mobileOriginated = text;
    mobileOriginated.esmClass = 0;
    mobileOriginated.shortMessage = "id:1 stat:DELIVRD";
    QTest::newRow("not a receipt") << mobileOriginated << false << QByteArray()
                                   << SmppDeliveryState::Other << QByteArray() << QByteArray();
}

void TestSmppPdu::receipts() {
    QFETCH(SmppPdu, pdu);
    QFETCH(bool, isReceipt);
    QFETCH(QByteArray, messageId);
    QFETCH(SmppDeliveryState, state);
    QFETCH(QByteArray, stat);
    QFETCH(QByteArray, err);
    const std::optional<SmppReceipt> receipt = smppReceipt(pdu);
    QCOMPARE(receipt.has_value(), isReceipt);
    if (!receipt)
        return;
    QCOMPARE(receipt->messageId, messageId);
    QCOMPARE(receipt->state, state);
    QCOMPARE(receipt->stat, stat);
    QCOMPARE(receipt->err, err);
    QCOMPARE(receipt->recipient, pdu.source);
}

void TestSmppPdu::messageIdCandidates_data() {
    QTest::addColumn<QByteArray>("receiptId");
    QTest::addColumn<QList<QByteArray>>("candidates");

    QTest::newRow("padded decimal: itself, then as hexadecimal, then read as hexadecimal")
        << QByteArray("0001715968") << QList<QByteArray>{"1715968", "1A2F00", "24205672"};
    QTest::newRow("hexadecimal with letters, lower case")
        << QByteArray(" 1a2f00 ") << QList<QByteArray>{"1A2F00", "1715968"};
    QTest::newRow("neither number") << QByteArray("msg-17") << QList<QByteArray>{"MSG-17"};
    QTest::newRow("zero") << QByteArray("000") << QList<QByteArray>{"0"};
    QTest::newRow("too long for a number")
        << QByteArray("123456789012345678901234") << QList<QByteArray>{"123456789012345678901234"};
}

void TestSmppPdu::messageIdCandidates() {
    QFETCH(QByteArray, receiptId);
    QFETCH(QList<QByteArray>, candidates);
    QCOMPARE(smppMessageIdCandidates(receiptId), candidates);
}

QTEST_GUILESS_MAIN(TestSmppPdu)
#include "tst_smpppdu.moc"
