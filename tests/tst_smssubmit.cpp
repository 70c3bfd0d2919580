#include "modemsim/ModemSim.h"
#include "sms/SmsSubmit.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

QString repeat(const QString &piece, int times) {
    return piece.repeated(times);
}

// Linear search of both tables in their order: what the fast lookup must agree with.
GsmLookup searchTables(char16_t ch) {
    for (int septet = 0; septet < 128; ++septet) {
        if (GsmBasicTable[septet] == ch)
            return {true, false, static_cast<quint8>(septet)};
    }
    for (const GsmExtension &row : GsmExtensionTable) {
        if (row.character == ch)
            return {true, true, row.septet};
    }
    return {};
}

// Packs by walking a bit stream, least significant bit first: an independent formulation.
QByteArray packByBits(const QByteArray &septets) {
    QByteArray octets;
    quint32 buffer = 0;
    int bits = 0;
    for (char s : septets) {
        buffer |= (static_cast<quint32>(static_cast<quint8>(s)) & 0x7F) << bits;
        bits += 7;
        while (bits >= 8) {
            octets.append(static_cast<char>(buffer & 0xFF));
            buffer >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        octets.append(static_cast<char>(buffer & 0xFF));
    return octets.toHex().toUpper();
}

// The encoder's fit rule: GSM in septets, 8-bit in octets, UCS-2 in octets against 2 x 70.
bool encoderFits(const QString &text, Coding coding) {
    const int count = encode(text, coding).count;
    switch (coding) {
    case Coding::Gsm7Bit:
        return count <= 160;
    case Coding::EightBit:
        return count <= 140;
    case Coding::Ucs2:
        break;
    }
    return count <= 2 * 70;
}

// Reference: drop the last code unit and encode again until the text fits.
QString cutByLoop(QString text, Coding coding) {
    while (!encoderFits(text, coding))
        text.chop(1);
    return text;
}

// Reference for the compose view: the coding is chosen anew after every removal, and only the
// part after keep may be removed.
int composeCutByLoop(QString text, int keep, int fixedLimit) {
    for (;;) {
        const Coding coding = detectCoding(text);
        int count = encode(text, coding).count;
        if (coding == Coding::Ucs2)
            count /= 2;
        const int limit = fixedLimit > 0 ? fixedLimit : codingLimit(coding);
        if (count <= limit || text.size() <= keep)
            return static_cast<int>(text.size());
        text.chop(1);
    }
}

enum class Flavour { Gsm, Latin1, Any };

// Random text of the given flavour; every pool is weighted so that escapes, surrogate pairs and
// lone surrogates turn up often near the limits.
QString randomText(QRandomGenerator &random, Flavour flavour, int length) {
    static const QString latin1 = QStringLiteral(u"\u00E1`\u00FF\u00B5\u0000\u00AD");
    static const QString wide = QStringLiteral(u"\u4E2D\u4F60\u0100\uFFFD\uFFFF\u20AC");
    QString text;
    while (text.size() < length) {
        const int pick = random.bounded(flavour == Flavour::Gsm      ? 2
                                        : flavour == Flavour::Latin1 ? 3
                                                                     : 6);
        switch (pick) {
        case 0:
            text += QChar(GsmBasicTable[random.bounded(128)]);
            break;
        case 1:
            text += QChar(GsmExtensionTable[random.bounded(10)].character);
            break;
        case 2:
            text += latin1.at(random.bounded(latin1.size()));
            break;
        case 3:
            text += wide.at(random.bounded(wide.size()));
            break;
        case 4:
            text += QStringLiteral(u"\U0001F600");
            break;
        default:
            text += QChar(random.bounded(2) ? 0xD800 : 0xDC00);
            break;
        }
    }
    return text;
}

QRandomGenerator seeded() {
    const quint32 seed = qEnvironmentVariableIsSet("PELORVANE_SEED")
                             ? qEnvironmentVariableIntValue("PELORVANE_SEED")
                             : 20261209u;
    qInfo("random seed %u (set PELORVANE_SEED to repeat another)", seed);
    return QRandomGenerator(seed);
}

bool isUpperHex(const QByteArray &text) {
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// Septets a text needs, from the tables themselves.
int septetsOf(const QString &text) {
    int septets = 0;
    for (QChar ch : text) {
        const GsmLookup hit = searchTables(ch.unicode());
        septets += hit.found ? (hit.escaped ? 2 : 1) : 0;
    }
    return septets;
}

// Texts around every limit: each length from 0 to past the limit, with an escaped character,
// a surrogate pair or a control character at each position near the end.
QList<QString> boundaryTexts() {
    QList<QString> texts;
    const QString fillers[] = {QStringLiteral("a"), QStringLiteral(u"\u00E1"),
                               QStringLiteral(u"\u4E2D")};
    const QString specials[] = {
        QStringLiteral(u"\u20AC"),     QStringLiteral("{"),    QStringLiteral("\f"),
        QStringLiteral("\r"),          QStringLiteral("\n"),   QStringLiteral("@"),
        QStringLiteral(u"\u00FF"),     QStringLiteral(u"\0"),  QStringLiteral("\x1A"),
        QStringLiteral(u"\U0001F600"), QString(QChar(0xDC00)),
    };
    for (const QString &filler : fillers) {
        for (int length = 0; length <= 175; ++length) {
            texts << filler.repeated(length);
            for (const QString &special : specials) {
                for (int at = std::max(0, length - 4); at < length; ++at) {
                    QString text = filler.repeated(length);
                    text.replace(at, 1, special);
                    texts << text;
                }
            }
        }
    }
    for (int length = 0; length <= 90; ++length)
        texts << QStringLiteral(u"\u20AC").repeated(length);
    return texts;
}

Pdu build(const QByteArray &number, const QString &text, bool flash = false) {
    SmsSubmit request;
    request.coding = detectCoding(text);
    request.flash = flash;
    request.number = number;
    request.text = text;
    PduList pdus;
    if (buildSubmitPdu(request, pdus) != BuildResult::Ok || pdus.size() != 1)
        return {};
    return pdus.first();
}

} // namespace

class TestSmsSubmit : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void lookupGsmChar_data();
    void lookupGsmChar();
    void lookupAgreesWithTableSearch();
    void detectCoding_data();
    void detectCoding();
    void encoders_data();
    void encoders();
    void packSeptets_data();
    void packSeptets();
    void packSeptetsRandom();
    void addressHelpers();
    void buildSubmitPdu_data();
    void buildSubmitPdu();
    void cutting_data();
    void cutting();
    void longFlagLeavesListAlone();
    void invalidNumber_data();
    void invalidNumber();
    void validNumberEdges_data();
    void validNumberEdges();
    void fitLengthEqualsLoop();
    void fitLengthRedetect_data();
    void fitLengthRedetect();
    void fitLengthRedetectEqualsLoop();
    void everyPduDecodes();
};

void TestSmsSubmit::lookupGsmChar_data() {
    QTest::addColumn<QChar>("ch");
    QTest::addColumn<bool>("found");
    QTest::addColumn<bool>("escaped");
    QTest::addColumn<int>("septet");

    QTest::newRow("commercial at is septet 0") << QChar(u'@') << true << false << 0x00;
    QTest::newRow("pound") << QChar(u'\u00A3') << true << false << 0x01;
    QTest::newRow("dollar") << QChar(u'$') << true << false << 0x02;
    QTest::newRow("capital C cedilla") << QChar(u'\u00C7') << true << false << 0x09;
    QTest::newRow("line feed") << QChar(u'\n') << true << false << 0x0A;
    QTest::newRow("carriage return") << QChar(u'\r') << true << false << 0x0D;
    QTest::newRow("capital delta") << QChar(u'\u0394') << true << false << 0x10;
    QTest::newRow("escape character itself") << QChar(u'\x1B') << true << false << 0x1B;
    QTest::newRow("currency sign") << QChar(u'\u00A4') << true << false << 0x24;
    QTest::newRow("inverted exclamation") << QChar(u'\u00A1') << true << false << 0x40;
    QTest::newRow("A") << QChar(u'A') << true << false << 0x41;
    QTest::newRow("section sign") << QChar(u'\u00A7') << true << false << 0x5F;
    QTest::newRow("inverted question") << QChar(u'\u00BF') << true << false << 0x60;
    QTest::newRow("a grave is the last") << QChar(u'\u00E0') << true << false << 0x7F;
    QTest::newRow("form feed escaped") << QChar(u'\f') << true << true << 0x0A;
    QTest::newRow("circumflex escaped") << QChar(u'^') << true << true << 0x14;
    QTest::newRow("backslash escaped") << QChar(u'\\') << true << true << 0x2F;
    QTest::newRow("vertical line escaped") << QChar(u'|') << true << true << 0x40;
    QTest::newRow("euro escaped") << QChar(u'\u20AC') << true << true << 0x65;
    QTest::newRow("a acute missing") << QChar(u'\u00E1') << false << false << 0;
    QTest::newRow("grave accent missing") << QChar(u'`') << false << false << 0;
    QTest::newRow("NUL missing") << QChar(u'\0') << false << false << 0;
    QTest::newRow("CJK missing") << QChar(u'\u4E2D') << false << false << 0;
    QTest::newRow("high surrogate missing") << QChar(u'\xD83D') << false << false << 0;
    QTest::newRow("U+FFFF missing") << QChar(u'\xFFFF') << false << false << 0;
}

void TestSmsSubmit::lookupGsmChar() {
    QFETCH(QChar, ch);
    QFETCH(bool, found);
    QFETCH(bool, escaped);
    QFETCH(int, septet);
    const GsmLookup hit = ::lookupGsmChar(ch);
    QCOMPARE(hit.found, found);
    QCOMPARE(hit.escaped, escaped);
    if (found)
        QCOMPARE(int(hit.septet), septet);
}

void TestSmsSubmit::lookupAgreesWithTableSearch() {
    for (int code = 0; code <= 0xFFFF; ++code) {
        const GsmLookup fast = ::lookupGsmChar(QChar(code));
        const GsmLookup slow = searchTables(static_cast<char16_t>(code));
        if (fast.found != slow.found || fast.escaped != slow.escaped ||
            (slow.found && fast.septet != slow.septet)) {
            QFAIL(qPrintable(QStringLiteral("lookup differs for U+%1").arg(code, 4, 16)));
        }
    }
}

void TestSmsSubmit::detectCoding_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("coding");

    QTest::newRow("empty text") << QString() << int(Coding::Gsm7Bit);
    QTest::newRow("latin, digits, euro, greek capitals")
        << QStringLiteral(u"Hello 2026 \u20AC \u0394\u03A6\u0393\u039B\u03A9\u03A0\u03A8\u03A3"
                          u"\u0398\u039E")
        << int(Coding::Gsm7Bit);
    QTest::newRow("all extension characters")
        << QStringLiteral(u"\f^{}\\[~]|\u20AC") << int(Coding::Gsm7Bit);
    // Below U+0100 but outside the alphabet: UCS-2, never 8-bit data, which phones treat as
    // binary.
    QTest::newRow("a acute only is UCS-2") << QStringLiteral(u"caf\u00E1") << int(Coding::Ucs2);
    QTest::newRow("grave accent is UCS-2") << QStringLiteral("`quoted`") << int(Coding::Ucs2);
    QTest::newRow("Portuguese is UCS-2") << QStringLiteral(u"A\u00E7\u00E3o") << int(Coding::Ucs2);
    QTest::newRow("y diaeresis U+00FF is UCS-2") << QStringLiteral(u"\u00FF") << int(Coding::Ucs2);
    QTest::newRow("CJK") << QStringLiteral(u"\u4F60\u597D") << int(Coding::Ucs2);
    QTest::newRow("U+0100") << QStringLiteral(u"A\u0100") << int(Coding::Ucs2);
    QTest::newRow("a acute and CJK") << QStringLiteral(u"\u00E1\u4E2D") << int(Coding::Ucs2);
    QTest::newRow("a acute and euro") << QStringLiteral(u"\u00E1\u20AC") << int(Coding::Ucs2);
    QTest::newRow("surrogate pair") << QStringLiteral(u"ok \U0001F600") << int(Coding::Ucs2);
    QTest::newRow("lone surrogate") << QString(QChar(0xDC00)) << int(Coding::Ucs2);
}

void TestSmsSubmit::detectCoding() {
    QFETCH(QString, text);
    QFETCH(int, coding);
    QCOMPARE(int(::detectCoding(text)), coding);
}

void TestSmsSubmit::encoders_data() {
    QTest::addColumn<int>("coding");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<int>("count");

    QTest::newRow("gsm empty") << int(Coding::Gsm7Bit) << QString() << QByteArray() << 0;
    QTest::newRow("gsm hello") << int(Coding::Gsm7Bit) << QStringLiteral("hello")
                               << QByteArray("E8329BFD06") << 5;
    QTest::newRow("gsm hellohello") << int(Coding::Gsm7Bit) << QStringLiteral("hellohello")
                                    << QByteArray("E8329BFD4697D9EC37") << 10;
    QTest::newRow("gsm commercial at packed")
        << int(Coding::Gsm7Bit) << QStringLiteral("a@b") << QByteArray("618018") << 3;
    QTest::newRow("gsm euro is two septets")
        << int(Coding::Gsm7Bit) << QStringLiteral(u"\u20AC") << QByteArray("9B32") << 2;
    QTest::newRow("gsm skips missing characters")
        << int(Coding::Gsm7Bit) << QStringLiteral(u"he\u4E2Dllo") << QByteArray("E8329BFD06") << 5;
    QTest::newRow("8-bit") << int(Coding::EightBit) << QStringLiteral(u"A\u00E1\u00FF\0")
                           << QByteArray("41E1FF00") << 4;
    QTest::newRow("8-bit keeps two digits above U+00FF")
        << int(Coding::EightBit) << QStringLiteral(u"\u4E2D") << QByteArray("2D") << 1;
    QTest::newRow("ucs2 two characters")
        << int(Coding::Ucs2) << QStringLiteral(u"\u4F60\u597D") << QByteArray("4F60597D") << 4;
    QTest::newRow("ucs2 surrogate pair")
        << int(Coding::Ucs2) << QStringLiteral(u"\U0001F600") << QByteArray("D83DDE00") << 4;
    QTest::newRow("ucs2 ascii") << int(Coding::Ucs2) << QStringLiteral("A\r")
                                << QByteArray("0041000D") << 4;
}

void TestSmsSubmit::encoders() {
    QFETCH(int, coding);
    QFETCH(QString, text);
    QFETCH(QByteArray, hex);
    QFETCH(int, count);
    const Encoded encoded = encode(text, static_cast<Coding>(coding));
    QCOMPARE(encoded.hex, hex);
    QCOMPARE(encoded.count, count);
}

void TestSmsSubmit::packSeptets_data() {
    QTest::addColumn<QByteArray>("septets");
    QTest::addColumn<QByteArray>("hex");

    QTest::newRow("nothing") << QByteArray() << QByteArray();
    QTest::newRow("one septet") << QByteArray("\x7F") << QByteArray("7F");
    QTest::newRow("zero septets are packed")
        << QByteArray::fromHex("610062") << QByteArray("618018");
    QTest::newRow("seven septets fill seven octets")
        << QByteArray(7, '\x7F') << QByteArray("FFFFFFFFFFFF01");
    QTest::newRow("eight septets fill seven octets")
        << QByteArray(8, '\x7F') << QByteArray("FFFFFFFFFFFFFF");
    QTest::newRow("nine septets") << QByteArray(9, '\x7F') << QByteArray("FFFFFFFFFFFFFF7F");
    QTest::newRow("high bit of a byte ignored") << QByteArray("\xE1") << QByteArray("61");
}

void TestSmsSubmit::packSeptets() {
    QFETCH(QByteArray, septets);
    QFETCH(QByteArray, hex);
    QCOMPARE(::packSeptets(septets), hex);
}

void TestSmsSubmit::packSeptetsRandom() {
    QRandomGenerator random = seeded();
    for (int round = 0; round < 2000; ++round) {
        QByteArray septets(random.bounded(48), '\0');
        for (char &s : septets)
            s = static_cast<char>(random.bounded(256));
        const QByteArray hex = ::packSeptets(septets);
        QCOMPARE(hex, packByBits(septets));
        QCOMPARE(hex.size(), 2 * (septets.size() - septets.size() / 8));
    }
}

void TestSmsSubmit::addressHelpers() {
    QCOMPARE(swapSemiOctets("12345"), QByteArray("2143F5"));
    QCOMPARE(swapSemiOctets("0123456789"), QByteArray("1032547698"));
    QCOMPARE(swapSemiOctets("7"), QByteArray("F7"));
    QCOMPARE(swapSemiOctets(""), QByteArray());
    QCOMPARE(addressType("+4917"), QByteArray("91"));
    QCOMPARE(addressType("4917"), QByteArray("81"));
    QCOMPARE(addressType(""), QByteArray("81"));
    QByteArray digits;
    for (int v = 0; v < 16; ++v)
        digits += hexDigit(v);
    QCOMPARE(digits, QByteArray("0123456789ABCDEF"));
}

void TestSmsSubmit::buildSubmitPdu_data() {
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("flash");
    QTest::addColumn<QByteArray>("hex");

    QTest::newRow("hello") << QByteArray("0123456789") << QStringLiteral("hello") << false
                           << QByteArray("01000A811032547698000005E8329BFD06");
    QTest::newRow("hello flash") << QByteArray("0123456789") << QStringLiteral("hello") << true
                                 << QByteArray("01000A811032547698001005E8329BFD06");
    QTest::newRow("international with dash") << QByteArray("+123-456") << QStringLiteral("hi")
                                             << false << QByteArray("01000691214365000002E834");
    QTest::newRow("odd digit count, empty text")
        << QByteArray("12345") << QString() << false << QByteArray("010005812143F5000000");
    QTest::newRow("hellohello") << QByteArray("12345") << QStringLiteral("hellohello") << false
                                << QByteArray("010005812143F500000AE8329BFD4697D9EC37");
    QTest::newRow("commercial at") << QByteArray("12345") << QStringLiteral("a@b") << false
                                   << QByteArray("010005812143F5000003618018");
    QTest::newRow("ucs2 two characters") << QByteArray("12345") << QStringLiteral(u"\u4F60\u597D")
                                         << false << QByteArray("010005812143F50008044F60597D");
    QTest::newRow("ucs2 flash") << QByteArray("12345") << QStringLiteral(u"\u4F60") << true
                                << QByteArray("010005812143F50018024F60");
    QTest::newRow("latin-1 letter as ucs2") << QByteArray("12345") << QStringLiteral(u"\u00E1!")
                                            << false << QByteArray("010005812143F500080400E10021");
    QTest::newRow("latin-1 letter as ucs2 flash")
        << QByteArray("12345") << QStringLiteral(u"\u00E1") << true
        << QByteArray("010005812143F500180200E1");
    QTest::newRow("dashes everywhere") << QByteArray("-+-49-170-") << QStringLiteral("hi") << false
                                       << QByteArray("010005919471F0000002E834");
}

void TestSmsSubmit::buildSubmitPdu() {
    QFETCH(QByteArray, number);
    QFETCH(QString, text);
    QFETCH(bool, flash);
    QFETCH(QByteArray, hex);

    const Pdu pdu = build(number, text, flash);
    QCOMPARE(pdu.hex, hex);
    QCOMPARE(pdu.length, hex.size() / 2);
}

void TestSmsSubmit::cutting_data() {
    QTest::addColumn<int>("coding");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("keptUnits");
    QTest::addColumn<int>("udl");

    const QString a = QStringLiteral("a");
    const QString euro = QStringLiteral(u"\u20AC");
    const QString cjk = QStringLiteral(u"\u4E2D");
    const QString emoji = QStringLiteral(u"\U0001F600");
    QTest::newRow("gsm 160 fits") << int(Coding::Gsm7Bit) << repeat(a, 160) << 160 << 160;
    QTest::newRow("gsm 161 cut to 160") << int(Coding::Gsm7Bit) << repeat(a, 161) << 160 << 160;
    QTest::newRow("gsm euro at 159/160 cut")
        << int(Coding::Gsm7Bit) << repeat(a, 159) + euro << 159 << 159;
    QTest::newRow("gsm euro ending at 160 fits")
        << int(Coding::Gsm7Bit) << repeat(a, 158) + euro << 159 << 160;
    QTest::newRow("gsm 80 euros fit") << int(Coding::Gsm7Bit) << repeat(euro, 81) << 80 << 160;
    QTest::newRow("gsm missing characters cost nothing")
        << int(Coding::Gsm7Bit) << repeat(a, 160) + cjk + cjk << 162 << 160;
    QTest::newRow("8-bit 140 fits")
        << int(Coding::EightBit) << repeat(QStringLiteral(u"\u00E1"), 140) << 140 << 140;
    QTest::newRow("8-bit 141 cut to 140")
        << int(Coding::EightBit) << repeat(QStringLiteral(u"\u00E1"), 141) << 140 << 140;
    QTest::newRow("ucs2 70 fits") << int(Coding::Ucs2) << repeat(cjk, 70) << 70 << 140;
    QTest::newRow("ucs2 71 cut to 70") << int(Coding::Ucs2) << repeat(cjk, 71) << 70 << 140;
    QTest::newRow("ucs2 surrogate pair split at the cut")
        << int(Coding::Ucs2) << repeat(cjk, 69) + emoji << 70 << 140;
    QTest::newRow("ucs2 surrogate pair ending at 70 fits")
        << int(Coding::Ucs2) << repeat(cjk, 68) + emoji + cjk << 70 << 140;
    QTest::newRow("1 MB gsm text") << int(Coding::Gsm7Bit) << repeat(a, 1 << 20) << 160 << 160;
}

void TestSmsSubmit::cutting() {
    QFETCH(int, coding);
    QFETCH(QString, text);
    QFETCH(int, keptUnits);
    QFETCH(int, udl);

    const auto cd = static_cast<Coding>(coding);
    QCOMPARE(fitLength(text, cd, codingLimit(cd)), keptUnits);

    SmsSubmit request;
    request.coding = cd;
    request.number = "12345";
    request.text = text;
    PduList pdus;
    QCOMPARE(::buildSubmitPdu(request, pdus), BuildResult::Ok);
    QCOMPARE(pdus.size(), 1);
    const QByteArray header = QByteArray("010005812143F500") + hexDigit(codingDcs(cd) >> 4) +
                              hexDigit(codingDcs(cd)) + hexDigit(udl >> 4) + hexDigit(udl);
    QCOMPARE(pdus.first().hex, header + encode(text.left(keptUnits), cd).hex);
}

void TestSmsSubmit::longFlagLeavesListAlone() {
    const PduList before = {Pdu{"AA", 1}, Pdu{"BBBB", 2}};
    for (const QByteArray &number : {QByteArray("12345"), QByteArray("bad number")}) {
        SmsSubmit request;
        request.isLong = true;
        request.number = number;
        request.text = QStringLiteral("hello");
        PduList pdus = before;
        QCOMPARE(::buildSubmitPdu(request, pdus), BuildResult::Long);
        QCOMPARE(pdus.size(), 2);
        QCOMPARE(pdus.at(0).hex, QByteArray("AA"));
        QCOMPARE(pdus.at(1).length, 2);
    }
}

void TestSmsSubmit::invalidNumber_data() {
    QTest::addColumn<QByteArray>("number");

    QTest::newRow("comma") << QByteArray("0123,456");
    QTest::newRow("slash") << QByteArray("0123/456");
    QTest::newRow("tab") << QByteArray("0123\t456");
    QTest::newRow("only formatting") << QByteArray(" (.) ");
    QTest::newRow("plus after a digit and a space") << QByteArray("1 +49");
    QTest::newRow("letter") << QByteArray("0123a456");
    QTest::newRow("CR") << QByteArray("0123\r456");
    QTest::newRow("LF") << QByteArray("0123456\n");
    QTest::newRow("Ctrl-Z") << QByteArray("0123\x1A"
                                          "AT+CMGD=1");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("only plus") << QByteArray("+");
    QTest::newRow("only dashes") << QByteArray("--");
    QTest::newRow("plus and dash") << QByteArray("+-");
    QTest::newRow("two pluses") << QByteArray("++49");
    QTest::newRow("plus inside") << QByteArray("49+170");
    QTest::newRow("hash and star") << QByteArray("*#06#");
    QTest::newRow("NUL") << QByteArray("12\0"
                                       "34",
                                       5);
    QTest::newRow("non-ASCII") << QByteArray("12\xC3\xA9");
    QTest::newRow("21 digits") << QByteArray(21, '1');
    QTest::newRow("300 digits") << QByteArray(300, '9');
}

void TestSmsSubmit::invalidNumber() {
    QFETCH(QByteArray, number);
    QVERIFY(!isValidNumber(number));
    for (const QString &text : {QStringLiteral("hello"), QStringLiteral(u"\u00E1"),
                                QStringLiteral(u"\u4E2D"), QString()}) {
        SmsSubmit request;
        request.coding = ::detectCoding(text);
        request.number = number;
        request.text = text;
        // A PDU left over from an earlier message must not survive either.
        PduList pdus = {Pdu{"0100", 2}};
        QCOMPARE(::buildSubmitPdu(request, pdus), BuildResult::InvalidNumber);
        QVERIFY(pdus.isEmpty());
    }
}

void TestSmsSubmit::validNumberEdges_data() {
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QByteArray>("address");

    QTest::newRow("one digit") << QByteArray("7") << QByteArray("0181F7");
    QTest::newRow("20 digits") << QByteArray(20, '1') << QByteArray("1481") + QByteArray(20, '1');
    QTest::newRow("international 20 digits")
        << QByteArray("+") + QByteArray(20, '2') << QByteArray("1491") + QByteArray(20, '2');
    QTest::newRow("dash before plus") << QByteArray("-+12") << QByteArray("029121");
    QTest::newRow("space") << QByteArray("0123 456") << QByteArray("0781103254F6");
    QTest::newRow("every formatting character")
        << QByteArray(" +49 (151) 234.56-78 ") << QByteArray("0C91945121436587");
    QTest::newRow("space before plus") << QByteArray(" +12") << QByteArray("029121");
}

void TestSmsSubmit::validNumberEdges() {
    QFETCH(QByteArray, number);
    QFETCH(QByteArray, address);
    QVERIFY(isValidNumber(number));
    const Pdu pdu = build(number, QStringLiteral("x"));
    QCOMPARE(pdu.hex.mid(4, address.size()), address);
}

void TestSmsSubmit::fitLengthEqualsLoop() {
    QRandomGenerator random = seeded();
    int cut = 0;
    for (int round = 0; round < 900; ++round) {
        const auto flavour = static_cast<Flavour>(round % 3);
        const auto coding = static_cast<Coding>((round / 3) % 3);
        // Mostly around the limits, sometimes far past them.
        const int length = round % 10 == 0 ? random.bounded(400) : 60 + random.bounded(120);
        const QString text = randomText(random, flavour, length);
        const QString expected = cutByLoop(text, coding);
        const int fit = fitLength(text, coding, codingLimit(coding));
        if (fit != expected.size()) {
            QFAIL(qPrintable(QStringLiteral("coding %1, %2 units: loop keeps %3, one pass %4")
                                 .arg(int(coding))
                                 .arg(text.size())
                                 .arg(expected.size())
                                 .arg(fit)));
        }
        cut += fit < text.size();
    }
    // The generator must actually exercise the cut.
    QVERIFY(cut > 300);
}

void TestSmsSubmit::fitLengthRedetect_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("keep");
    QTest::addColumn<int>("fixedLimit");
    QTest::addColumn<int>("expected");

    const QString a = QStringLiteral("a");
    const QString cjk = QStringLiteral(u"\u4E2D");
    QTest::newRow("161st GSM character removed") << repeat(a, 161) << 0 << 0 << 160;
    QTest::newRow("CJK typed at the end of 100 GSM") << repeat(a, 100) + cjk << 0 << 0 << 100;
    QTest::newRow("CJK typed at the start of 100 GSM") << cjk + repeat(a, 100) << 0 << 0 << 70;
    QTest::newRow("forwarded 200 GSM characters") << repeat(a, 200) << 0 << 0 << 160;
    QTest::newRow("subject kept, body cut")
        << QStringLiteral("Hi:") + repeat(a, 200) << 3 << 0 << 160;
    QTest::newRow("subject alone too long")
        << repeat(a, 170) + QStringLiteral(":there") << 171 << 0 << 171;
    QTest::newRow("long toggle limit") << repeat(cjk, 1200) << 0 << 1000 << 1000;
    QTest::newRow("fits whole") << QStringLiteral(u"\u00E1bc") << 0 << 0 << 3;
}

void TestSmsSubmit::fitLengthRedetect() {
    QFETCH(QString, text);
    QFETCH(int, keep);
    QFETCH(int, fixedLimit);
    QFETCH(int, expected);
    QCOMPARE(::fitLengthRedetect(text, keep, fixedLimit), expected);
    QCOMPARE(composeCutByLoop(text, keep, fixedLimit), expected);
}

void TestSmsSubmit::fitLengthRedetectEqualsLoop() {
    QRandomGenerator random = seeded();
    for (int round = 0; round < 900; ++round) {
        const auto flavour = static_cast<Flavour>(round % 3);
        const int length = random.bounded(round % 10 == 0 ? 400 : 220);
        // Splice a GSM body and a wider tail, so that the coding changes during the cut.
        QString text = randomText(random, Flavour::Gsm, random.bounded(length + 1));
        text += randomText(random, flavour, length - static_cast<int>(text.size()));
        const int keep =
            random.bounded(4) == 0 ? random.bounded(static_cast<int>(text.size()) + 1) : 0;
        const int fixedLimit = round % 7 == 0 ? 1 + random.bounded(200) : 0;
        const int expected = composeCutByLoop(text, keep, fixedLimit);
        const int fit = ::fitLengthRedetect(text, keep, fixedLimit);
        if (fit != expected) {
            QFAIL(qPrintable(QStringLiteral("%1 units, keep %2, limit %3: loop %4, one pass %5")
                                 .arg(text.size())
                                 .arg(keep)
                                 .arg(fixedLimit)
                                 .arg(expected)
                                 .arg(fit)));
        }
    }
}

void TestSmsSubmit::everyPduDecodes() {
    struct Number {
        QByteArray stored;
        QByteArray decoded;
    };
    const Number numbers[] = {
        {"0123456789", "0123456789"},
        {"+491701234567", "+491701234567"},
        {"12345", "12345"},
        {"+1-2", "+12"},
        {"-7-", "7"},
        {QByteArray(20, '9'), QByteArray(20, '9')},
    };
    QList<QString> texts = boundaryTexts();
    QRandomGenerator random = seeded();
    for (int i = 0; i < 600; ++i)
        texts << randomText(random, static_cast<Flavour>(i % 3), random.bounded(200))
                     .replace(QChar(0x1B), QChar(u'x'));

    int checked = 0;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const QString &text = texts.at(i);
        // A text with the escape character itself would decode as an escape: not generated.
        QVERIFY(!text.contains(QChar(0x1B)));
        const Number &number = numbers[i % std::size(numbers)];
        SmsSubmit request;
        request.coding = ::detectCoding(text);
        request.flash = i % 5 == 0;
        request.number = number.stored;
        request.text = text;
        PduList pdus;
        QCOMPARE(::buildSubmitPdu(request, pdus), BuildResult::Ok);
        QCOMPARE(pdus.size(), 1);
        const Pdu &pdu = pdus.first();
        QVERIFY2(isUpperHex(pdu.hex), pdu.hex.constData());
        QCOMPARE(pdu.length * 2, pdu.hex.size());

        ReceivedSms sms;
        QString error;
        if (!decodeSubmitPdu(pdu.hex, &sms, &error))
            QFAIL(qPrintable(QStringLiteral("%1 does not decode: %2").arg(pdu.hex, error)));

        const QString cut = cutByLoop(text, request.coding);
        const int udl = request.coding == Coding::Gsm7Bit    ? septetsOf(cut)
                        : request.coding == Coding::EightBit ? static_cast<int>(cut.size())
                                                             : static_cast<int>(2 * cut.size());
        // TP-UDL and TP-DCS sit right after the address semi-octets.
        const int digits = pdu.hex.mid(4, 2).toInt(nullptr, 16);
        const qsizetype dcsAt = 8 + (digits + 1) / 2 * 2 + 2;
        const int dcs = codingDcs(request.coding) | (request.flash ? 0x10 : 0);
        QCOMPARE(pdu.hex.mid(dcsAt, 2).toInt(nullptr, 16), dcs);
        QCOMPARE(pdu.hex.mid(dcsAt + 2, 2).toInt(nullptr, 16), udl);

        QCOMPARE(sms.number, number.decoded);
        QCOMPARE(sms.coding, int(request.coding));
        QCOMPARE(sms.flash, request.flash);
        QCOMPARE(sms.text, cut);
        ++checked;
    }
    qInfo("%d PDUs decoded", checked);
}

QTEST_APPLESS_MAIN(TestSmsSubmit)
#include "tst_smssubmit.moc"
