// The simulated phone's SMS-SUBMIT decoder against PDUs worked out by hand.

#include "modemsim/ModemSim.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

// A plain reference packer (bit accumulator), written differently from the decoder's
// unpacking so that the two check each other.
QByteArray packSeptets(const QByteArray &septets) {
    QByteArray octets;
    quint32 bits = 0;
    int count = 0;
    for (char s : septets) {
        bits |= static_cast<quint32>(static_cast<quint8>(s) & 0x7F) << count;
        count += 7;
        while (count >= 8) {
            octets.append(static_cast<char>(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count > 0)
        octets.append(static_cast<char>(bits & 0xFF));
    return octets.toHex().toUpper();
}

QByteArray hex2(int v) {
    return QByteArray::number(v, 16).rightJustified(2, '0').toUpper();
}

// Header of a PDU to 0123456789 with PID 00 and the given DCS, ready for UDL and UD.
QByteArray head(const char *dcs) {
    return QByteArray("01000A8110325476980000").chopped(2) + dcs;
}

} // namespace

class TestPduDecode : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decodes_data();
    void decodes();
    void decodesEveryLengthOfPackedText();
    void concatenationElements_data();
    void concatenationElements();
    void rejectsMalformed_data();
    void rejectsMalformed();
    void survivesRandomInput();
};

void TestPduDecode::decodes_data() {
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<int>("coding");
    QTest::addColumn<bool>("flash");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("header");

    const QString basicTable =
        QString::fromUtf8("@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
                          "¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà");

    QTest::newRow("0123456789 hello")
        << QByteArray("01000A811032547698000005E8329BFD06") << QByteArray("0123456789") << 0
        << false << "hello" << QByteArray();
    QTest::newRow("lower-case hex")
        << QByteArray("01000a811032547698000005e8329bfd06") << QByteArray("0123456789") << 0
        << false << "hello" << QByteArray();
    QTest::newRow("international 91 gets plus")
        << QByteArray("01000691214365000002E834") << QByteArray("+123456") << 0 << false << "hi"
        << QByteArray();
    QTest::newRow("odd digits with F filler, at sign septet 00")
        << QByteArray("010005812143F5000003618018") << QByteArray("12345") << 0 << false << "a@b"
        << QByteArray();
    QTest::newRow("national type A1 no plus")
        << QByteArray("010004A12143000002E834") << QByteArray("1234") << 0 << false << "hi"
        << QByteArray();
    QTest::newRow("star and hash semi-octets")
        << QByteArray("010004812AB1000002E834") << QByteArray("*21#") << 0 << false << "hi"
        << QByteArray();
    QTest::newRow("empty number") << QByteArray("0100008100000161") << QByteArray() << 0 << false
                                  << "a" << QByteArray();
    QTest::newRow("MR and PID ignored")
        << QByteArray("01FF0691214365410002E834") << QByteArray("+123456") << 0 << false << "hi"
        << QByteArray();
    QTest::newRow("hellohello 10 septets in 9 octets")
        << head("00") + "0AE8329BFD4697D9EC37" << QByteArray("0123456789") << 0 << false
        << "hellohello" << QByteArray();
    QTest::newRow("euro is escape 65") << head("00") + "029B32" << QByteArray("0123456789") << 0
                                       << false << QString(QChar(0x20AC)) << QByteArray();
    QTest::newRow("every extension character")
        << head("00") + "141BC586B2416D529BD786B7E96D7C1BE0A60C" << QByteArray("0123456789") << 0
        << false << QString::fromUtf8("\f^{}\\[~]|€") << QByteArray();
    QTest::newRow("whole basic table")
        << head("00") +
               "7F8080604028180E888462C168381E90886442A9582E988C86D3F17C4021D18854329D5029D58AD5"
               "72BD6031D98C56B3DD7039DD8ED7F3FD8041E19058341E9149E592D9743EA151E9945AB55EB159ED96"
               "DBF57EC161F1985C369FD169F59ADD76BFE171F99C5EB7DFF179FD9EDFF7FF01"
        << QByteArray("0123456789") << 0 << false << basicTable << QByteArray();
    QTest::newRow("unknown escape, double escape, trailing escape")
        << head("00") + "069BE06613DE00" << QByteArray("0123456789") << 0 << false << "A a "
        << QByteArray();
    QTest::newRow("160 septets") << head("00") + "A0" + QByteArray("E170381C0E87C3").repeated(20)
                                 << QByteArray("0123456789") << 0 << false
                                 << QString(160, QChar('a')) << QByteArray();
    QTest::newRow("empty text") << head("00") + "00" << QByteArray("0123456789") << 0 << false
                                << QString() << QByteArray();
    QTest::newRow("8-bit as Latin-1") << head("04") + "03E1FF41" << QByteArray("0123456789") << 1
                                      << false << QString::fromUtf8("áÿA") << QByteArray();
    QTest::newRow("8-bit NUL kept") << head("04") + "024100" << QByteArray("0123456789") << 1
                                    << false << QString::fromUtf8("A\0", 2) << QByteArray();
    QTest::newRow("UCS-2 4F60 597D") << head("08") + "044F60597D" << QByteArray("0123456789") << 2
                                     << false << QString::fromUtf8("你好") << QByteArray();
    QTest::newRow("UCS-2 surrogate pair") << head("08") + "04D83DDE00" << QByteArray("0123456789")
                                          << 2 << false << QString::fromUtf8("😀") << QByteArray();
    QTest::newRow("flash GSM 10") << head("10") + "05E8329BFD06" << QByteArray("0123456789") << 0
                                  << true << "hello" << QByteArray();
    QTest::newRow("flash 8-bit 14")
        << head("14") + "0141" << QByteArray("0123456789") << 1 << true << "A" << QByteArray();
    QTest::newRow("flash UCS-2 18") << head("18") + "024F60" << QByteArray("0123456789") << 2
                                    << true << QString(QChar(0x4F60)) << QByteArray();
    QTest::newRow("class 1 is not flash")
        << head("11") + "0161" << QByteArray("0123456789") << 0 << false << "a" << QByteArray();
    QTest::newRow("no class bit is not flash")
        << head("03") + "0161" << QByteArray("0123456789") << 0 << false << "a" << QByteArray();
    QTest::newRow("group F0 class 0 flash")
        << head("F0") + "0161" << QByteArray("0123456789") << 0 << true << "a" << QByteArray();
    QTest::newRow("group F5 8-bit class 1")
        << head("F5") + "0141" << QByteArray("0123456789") << 1 << false << "A" << QByteArray();
    QTest::newRow("relative validity period")
        << QByteArray("11000A8110325476980000A705E8329BFD06") << QByteArray("0123456789") << 0
        << false << "hello" << QByteArray();
    QTest::newRow("absolute validity period")
        << QByteArray("19000A81103254769800004240115021330005E8329BFD06")
        << QByteArray("0123456789") << 0 << false << "hello" << QByteArray();
    QTest::newRow("status report and reject duplicates bits ignored")
        << QByteArray("25000A811032547698000005E8329BFD06") << QByteArray("0123456789") << 0
        << false << "hello" << QByteArray();
    QTest::newRow("header, GSM text after fill bits")
        << QByteArray("41000A811032547698000009050003AA0201D069") << QByteArray("0123456789") << 0
        << false << "hi" << QByteArray("050003AA0201");
    QTest::newRow("header, UCS-2 text") << QByteArray("41000A81103254769800080A050003AA02014F605"
                                                      "97D")
                                        << QByteArray("0123456789") << 2 << false
                                        << QString::fromUtf8("你好") << QByteArray("050003AA0201");
}

void TestPduDecode::decodes() {
    QFETCH(QByteArray, hex);
    QFETCH(QByteArray, number);
    QFETCH(int, coding);
    QFETCH(bool, flash);
    QFETCH(QString, text);
    QFETCH(QByteArray, header);

    ReceivedSms sms;
    QString error;
    QVERIFY2(decodeSubmitPdu(hex, &sms, &error), qPrintable(error));
    QCOMPARE(sms.number, number);
    QCOMPARE(sms.coding, coding);
    QCOMPARE(sms.flash, flash);
    QCOMPARE(sms.text, text);
    QCOMPARE(sms.header, header);
    QCOMPARE(sms.pdu, hex);
}

void TestPduDecode::concatenationElements_data() {
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("ref");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("seq");

    QTest::newRow("8-bit reference") << QByteArray("050003AA0302") << 0xAA << 3 << 2;
    QTest::newRow("16-bit reference") << QByteArray("0608041234FF07") << 0x1234 << 255 << 7;
    QTest::newRow("after another element") << QByteArray("0824010100030A0201") << 10 << 2 << 1;
    QTest::newRow("no concatenation element") << QByteArray("03240101") << -1 << 0 << 0;
    // A phone ignores these elements and shows the part as a message of its own.
    QTest::newRow("part 0 ignored") << QByteArray("050003AA0300") << -1 << 0 << 0;
    QTest::newRow("part above the count ignored") << QByteArray("050003AA0204") << -1 << 0 << 0;
    QTest::newRow("no parts ignored") << QByteArray("050003AA0000") << -1 << 0 << 0;
    QTest::newRow("element of the wrong length ignored")
        << QByteArray("040002AA02") << -1 << 0 << 0;
    QTest::newRow("16-bit element of the wrong length ignored")
        << QByteArray("050803123402") << -1 << 0 << 0;
    // A header whose elements do not end with it is ignored whole.
    QTest::newRow("element cut short") << QByteArray("0100") << -1 << 0 << 0;
    QTest::newRow("element longer than the header") << QByteArray("020005") << -1 << 0 << 0;
    QTest::newRow("bad element after a concatenation element")
        << QByteArray("070003AA02012405") << -1 << 0 << 0;
}

void TestPduDecode::concatenationElements() {
    QFETCH(QByteArray, header);
    QFETCH(int, ref);
    QFETCH(int, total);
    QFETCH(int, seq);
    // UCS-2 to 0123456789: the header, then one character.
    const QByteArray hex = QByteArray("41000A8110325476980008") +
                           hex2(static_cast<int>(header.size() / 2) + 2) + header + "4F60";
    ReceivedSms sms;
    QString error;
    QVERIFY2(decodeSubmitPdu(hex, &sms, &error), qPrintable(error + ": " + hex));
    QCOMPARE(sms.header, header);
    QCOMPARE(sms.text, QString::fromUtf8("你"));
    QCOMPARE(sms.concatRef, ref);
    QCOMPARE(sms.concatTotal, total);
    QCOMPARE(sms.concatSeq, seq);
}

// Every septet count from 0 to 160 ends the packing at a different bit position.
void TestPduDecode::decodesEveryLengthOfPackedText() {
    const QByteArray alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QRandomGenerator random(42);
    for (int length = 0; length <= 160; ++length) {
        QByteArray septets;
        for (int i = 0; i < length; ++i)
            septets.append(alphabet[random.bounded(alphabet.size())]);
        const QByteArray pdu = head("00") + hex2(length) + packSeptets(septets);
        ReceivedSms sms;
        QString error;
        QVERIFY2(decodeSubmitPdu(pdu, &sms, &error),
                 qPrintable(QStringLiteral("length %1: %2").arg(length).arg(error)));
        QCOMPARE(sms.text, QString::fromLatin1(septets));
    }
}

void TestPduDecode::rejectsMalformed_data() {
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty") << QByteArray() << "Empty PDU";
    QTest::newRow("odd hex digit count")
        << QByteArray("01000A811032547698000005E8329BFD0") << "Odd number of hex digits";
    QTest::newRow("non-hex digit")
        << QByteArray("01000A811032547698000005E8329BFD0G") << "Not a hex digit";
    QTest::newRow("space inside") << QByteArray("01000A81103254769800 005E8329BFD06")
                                  << "Not a hex digit";
    QTest::newRow("SMS-DELIVER type")
        << QByteArray("00000A811032547698000005E8329BFD06") << "Not an SMS-SUBMIT";
    QTest::newRow("SMS-COMMAND type")
        << QByteArray("02000A811032547698000005E8329BFD06") << "Not an SMS-SUBMIT";
    QTest::newRow("ends after first octet") << QByteArray("01") << "before TP-MR";
    QTest::newRow("ends before address") << QByteArray("0100") << "before the destination";
    QTest::newRow("ends inside address") << QByteArray("01000A811032") << "inside the destination";
    QTest::newRow("address of 22 digits")
        << QByteArray("01001681") + QByteArray("11").repeated(11) << "longer than 20 digits";
    QTest::newRow("odd address without filler") << QByteArray("010005812143050000") + "0161"
                                                << "without F filler";
    QTest::newRow("filler inside address") << QByteArray("0100048112F400000161") << "Filler inside";
    QTest::newRow("type of address without bit 7") << QByteArray("0100041121430000") + "0161"
                                                   << "Bad type of address";
    QTest::newRow("alphanumeric address") << QByteArray("010004D021430000") + "0161"
                                          << "Alphanumeric";
    QTest::newRow("ends before DCS") << QByteArray("010004812143") + "00"
                                     << "before TP-DCS";
    QTest::newRow("reserved alphabet 0C") << head("0C") + "0161"
                                          << "Reserved alphabet";
    QTest::newRow("compressed 20") << head("20") + "0161"
                                   << "Compressed";
    QTest::newRow("message waiting group C0") << head("C0") + "0161"
                                              << "Unsupported TP-DCS";
    QTest::newRow("ends inside relative validity") << QByteArray("11000A811032547698") + "0000"
                                                   << "inside TP-VP";
    QTest::newRow("ends inside absolute validity")
        << QByteArray("19000A811032547698") + "0000424011"
        << "inside TP-VP";
    QTest::newRow("no UDL") << head("00") << "before TP-UDL";
    QTest::newRow("GSM UDL 161") << head("00") + "A1" + QByteArray("00").repeated(141)
                                 << "exceeds 160";
    QTest::newRow("8-bit UDL 141")
        << head("04") + "8D" + QByteArray("41").repeated(141) << "exceeds 140";
    QTest::newRow("UCS-2 UDL 142")
        << head("08") + "8E" + QByteArray("41").repeated(142) << "exceeds 140";
    QTest::newRow("truncated GSM user data") << head("00") + "05E8329B"
                                             << "shorter than TP-UDL";
    QTest::newRow("truncated 8-bit user data") << head("04") + "03E1FF"
                                               << "shorter than TP-UDL";
    QTest::newRow("user data longer than UDL") << head("00") + "05E8329BFD0600"
                                               << "longer than TP-UDL";
    QTest::newRow("UCS-2 odd octet count") << head("08") + "034F6059"
                                           << "odd octet count";
    QTest::newRow("header flag without user data") << QByteArray("41000A8110325476980000") + "00"
                                                   << "header missing";
    QTest::newRow("header longer than user data") << QByteArray("41000A8110325476980008") + "020500"
                                                  << "header longer than the user data";
    QTest::newRow("GSM header longer than UDL") << QByteArray("41000A8110325476980000") + "03020000"
                                                << "header longer than TP-UDL";
}

void TestPduDecode::rejectsMalformed() {
    QFETCH(QByteArray, hex);
    QFETCH(QString, reason);

    ReceivedSms sms;
    sms.text = QStringLiteral("untouched");
    QString error;
    QVERIFY(!decodeSubmitPdu(hex, &sms, &error));
    QVERIFY2(error.contains(reason, Qt::CaseInsensitive), qPrintable(error));
    QCOMPARE(sms.text, QStringLiteral("untouched"));
    QVERIFY(!decodeSubmitPdu(hex, nullptr, nullptr));
}

// Whatever arrives, the decoder either gives a message or a reason, and never reads past
// the input (the sanitizer builds watch this).
void TestPduDecode::survivesRandomInput() {
    QRandomGenerator random(7);
    const QByteArray base = "41000A8110325476980000";
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        QByteArray octets(random.bounded(40), '\0');
        for (char &c : octets)
            c = static_cast<char>(random.bounded(256));
        // Keep a plausible start half of the time, so the deeper fields get exercised.
        const QByteArray hex = (round % 2 ? base : QByteArray()) + octets.toHex();
        ReceivedSms sms;
        QString error;
        if (decodeSubmitPdu(hex, &sms, &error)) {
            ++accepted;
            QVERIFY(sms.coding >= 0 && sms.coding <= 2);
            QVERIFY(sms.text.size() <= 160);
        } else {
            QVERIFY(!error.isEmpty());
        }
    }
    QVERIFY(accepted > 0);
}

QTEST_GUILESS_MAIN(TestPduDecode)
#include "tst_pdudecode.moc"
