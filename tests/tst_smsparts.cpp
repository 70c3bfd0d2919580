// Long messages in concatenated parts: part boundaries worked out by hand, every part decoded
// by the simulated phone's own decoder and put together again, the compose view's one-pass
// count against a plain loop, and the GSM look-alikes.

#include "modemsim/ModemSim.h"
#include "sms/GsmLookalikes.h"
#include "sms/SmsParts.h"
#include "sms/SmsSubmit.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

const QString Emoji = QStringLiteral(u"\U0001F600");
const QString Cjk = QStringLiteral(u"\u4E2D");
const QString Euro = QStringLiteral(u"\u20AC");

QString repeat(const QString &piece, int times) {
    return piece.repeated(times);
}

int hexOctet(const QByteArray &hex, qsizetype octet) {
    return hex.mid(2 * octet, 2).toInt(nullptr, 16);
}

// TP-DCS and TP-UDL sit right after the address semi-octets.
qsizetype dcsOctet(const QByteArray &hex) {
    const int digits = hexOctet(hex, 2);
    return 4 + (digits + 1) / 2 + 1;
}
int dcsOf(const QByteArray &hex) {
    return hexOctet(hex, dcsOctet(hex));
}
int udlOf(const QByteArray &hex) {
    return hexOctet(hex, dcsOctet(hex) + 1);
}

// The parts decoded by the simulated phone, checked for one message's header, and their texts
// joined in order.
struct Decoded {
    QList<ReceivedSms> parts;
    QString whole;
};

Decoded decodeAll(const PduList &pdus, int reference) {
    Decoded decoded;
    for (qsizetype k = 0; k < pdus.size(); ++k) {
        const Pdu &pdu = pdus[k];
        ReceivedSms sms;
        QString error;
        if (!decodeSubmitPdu(pdu.hex, &sms, &error)) {
            qWarning("part %lld does not decode: %s", static_cast<long long>(k + 1),
                     qPrintable(error));
            return {};
        }
        if (pdu.length * 2 != pdu.hex.size())
            return {};
        const bool inParts = pdus.size() > 1;
        const bool headerRight =
            inParts ? sms.concatRef == reference && sms.concatTotal == pdus.size() &&
                          sms.concatSeq == k + 1 && hexOctet(pdu.hex, 0) == 0x41
                    : sms.header.isEmpty() && sms.concatTotal == 0 && hexOctet(pdu.hex, 0) == 0x01;
        if (!headerRight) {
            qWarning("part %lld has the wrong header: %s", static_cast<long long>(k + 1),
                     pdu.hex.constData());
            return {};
        }
        decoded.parts << sms;
        decoded.whole += sms.text;
    }
    return decoded;
}

PduList buildLong(const QString &text, int coding = -1, bool flash = false, int reference = 0xA7,
                  const QByteArray &number = "+491701234567") {
    SmsSubmit request;
    request.coding = coding < 0 ? detectCoding(text) : static_cast<Coding>(coding);
    request.flash = flash;
    request.isLong = true;
    request.reference = static_cast<quint8>(reference);
    request.number = number;
    request.text = text;
    PduList pdus;
    if (buildSubmitParts(request, pdus) != BuildResult::Ok)
        return {};
    return pdus;
}

// Units of a piece of text as a part counts them.
int unitsOf(QStringView text, Coding coding) {
    return coding == Coding::Gsm7Bit ? countUnits(text.toString(), coding)
                                     : static_cast<int>(text.size());
}

enum class Flavour { Gsm, Ucs2, Mixed };

// Random text weighted towards escapes, surrogate pairs and lone surrogates.
QString randomText(QRandomGenerator &random, Flavour flavour, int length) {
    QString text;
    while (text.size() < length) {
        const int pick = random.bounded(flavour == Flavour::Gsm ? 2 : 6);
        switch (pick) {
        case 0:
            text += QChar(GsmBasicTable[random.bounded(128)]);
            break;
        case 1:
            text += QChar(GsmExtensionTable[random.bounded(10)].character);
            break;
        case 2:
            text += Cjk;
            break;
        case 3:
            text += Emoji;
            break;
        case 4:
            text += flavour == Flavour::Mixed ? QString(QChar(GsmBasicTable[random.bounded(128)]))
                                              : QString(QChar(0xD800 + random.bounded(2) * 0x400));
            break;
        default:
            text += QStringLiteral(u"\u00E1");
            break;
        }
    }
    // The escape character itself would decode as an escape.
    return text.replace(QChar(0x1B), QChar(u'x'));
}

QRandomGenerator seeded() {
    const quint32 seed = qEnvironmentVariableIsSet("PELORVANE_SEED")
                             ? qEnvironmentVariableIntValue("PELORVANE_SEED")
                             : 20261210u;
    qInfo("random seed %u (set PELORVANE_SEED to repeat another)", seed);
    return QRandomGenerator(seed);
}

// The compose view's cut done the slow way: from the whole text downwards, the first prefix of
// at least keep code units that fits its own coding, never between the halves of a pair.
TextFit fitByLoop(const QString &text, int keep, bool isLong) {
    for (qsizetype n = text.size(); n >= keep; --n) {
        if (n > 0 && n < text.size() && text[n - 1].isHighSurrogate() && text[n].isLowSurrogate())
            continue;
        const QString prefix = text.left(n);
        const Coding coding = detectCoding(prefix);
        const int units = countUnits(prefix, coding);
        const int parts = static_cast<int>(partEnds(prefix, coding).size());
        const bool fits = isLong ? units <= LongMessageLimit && parts <= maxParts(coding)
                                 : units <= codingLimit(coding);
        if (fits || n == keep) {
            TextFit fit;
            fit.length = static_cast<int>(n);
            fit.coding = coding;
            fit.units = units;
            fit.limit = isLong ? LongMessageLimit : codingLimit(coding);
            fit.parts = isLong ? messagePartCount(prefix, coding, true) : 1;
            return fit;
        }
    }
    return {};
}

} // namespace

class TestSmsParts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void boundaries_data();
    void boundaries();
    void longThatFitsIsTheSinglePdu();
    void randomLongTextsRoundTrip();
    void invalidNumberEmptiesTheList();
    void fitText_data();
    void fitText();
    void fitTextEqualsLoop();
    void lookalikesAreGsm();
    void replaceLookalikes_data();
    void replaceLookalikes();
};

void TestSmsParts::boundaries_data() {
    QTest::addColumn<int>("coding"); // -1: chosen from the text
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("flash");
    QTest::addColumn<QList<int>>("lengths"); // code units per part
    QTest::addColumn<QList<int>>("udls");

    const QString a = QStringLiteral("a");
    using L = QList<int>;
    QTest::newRow("gsm 160 is one SMS") << -1 << repeat(a, 160) << false << L{160} << L{160};
    QTest::newRow("gsm 161 is two parts")
        << -1 << repeat(a, 161) << false << L{153, 8} << L{160, 15};
    QTest::newRow("gsm 153x2") << -1 << repeat(a, 306) << false << L{153, 153} << L{160, 160};
    QTest::newRow("gsm 153x2+1") << -1 << repeat(a, 307) << false << L{153, 153, 1}
                                 << L{160, 160, 8};
    // The euro sign would take septets 153 and 154: the pair moves whole to part 2.
    QTest::newRow("escape landing on septet 153")
        << -1 << repeat(a, 152) + Euro + repeat(a, 10) << false << L{152, 11} << L{159, 19};
    QTest::newRow("escape ending on septet 153")
        << -1 << repeat(a, 151) + Euro + repeat(a, 10) << false << L{152, 10} << L{160, 17};
    QTest::newRow("ucs2 70 is one SMS") << -1 << repeat(Cjk, 70) << false << L{70} << L{140};
    QTest::newRow("ucs2 71 is two parts")
        << -1 << repeat(Cjk, 71) << false << L{67, 4} << L{140, 14};
    QTest::newRow("ucs2 67x2") << -1 << repeat(Cjk, 134) << false << L{67, 67} << L{140, 140};
    QTest::newRow("ucs2 67x2+1 (68th unit starts a part)")
        << -1 << repeat(Cjk, 135) << false << L{67, 67, 1} << L{140, 140, 8};
    // A pair on units 67 and 68 moves whole to part 2.
    QTest::newRow("surrogate pair at unit 67")
        << -1 << repeat(Cjk, 66) + Emoji + repeat(Cjk, 10) << false << L{66, 12} << L{138, 30};
    QTest::newRow("surrogate pair ending on unit 67")
        << -1 << repeat(Cjk, 65) + Emoji + repeat(Cjk, 10) << false << L{67, 10} << L{140, 26};
    QTest::newRow("latin-1 letter makes ucs2 parts")
        << -1 << repeat(a, 70) + QStringLiteral(u"\u00E1") << false << L{67, 4} << L{140, 14};
    QTest::newRow("flash long") << -1 << repeat(a, 200) << true << L{153, 47} << L{160, 54};
    QTest::newRow("gsm 1000 septets")
        << -1 << repeat(a, 1000) << false << L{153, 153, 153, 153, 153, 153, 82}
        << L{160, 160, 160, 160, 160, 160, 89};
    QTest::newRow("gsm 1001 septets cut to 1000")
        << -1 << repeat(a, 1001) << false << L{153, 153, 153, 153, 153, 153, 82}
        << L{160, 160, 160, 160, 160, 160, 89};
    // 76 euro signs (152 septets) per part: a 77th would split its pair.
    QTest::newRow("gsm 1000 septets of euro signs")
        << -1 << repeat(Euro, 500) << false << L{76, 76, 76, 76, 76, 76, 44}
        << L{159, 159, 159, 159, 159, 159, 95};
    QTest::newRow("ucs2 1000 units")
        << -1 << repeat(Cjk, 1000) << false
        << L{67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 62}
        << L{140, 140, 140, 140, 140, 140, 140, 140, 140, 140, 140, 140, 140, 140, 130};
    QTest::newRow("ucs2 1001 units cut to 1000")
        << -1 << repeat(Cjk, 1001) << false
        << L{67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 62}
        << L{140, 140, 140, 140, 140, 140, 140, 140, 140, 140, 140, 140, 140, 140, 130};
    // 33 pairs (66 units) per part: 500 pairs would need 16 parts, 15 hold 495.
    QTest::newRow("ucs2 1000 units of pairs cut to 15 parts")
        << -1 << repeat(Emoji, 500) << false << L(15, 66) << L(15, 138);
    QTest::newRow("8-bit by hand")
        << int(Coding::EightBit) << repeat(QStringLiteral(u"\u00E1"), 141) << false << L{134, 7}
        << L{140, 13};
}

void TestSmsParts::boundaries() {
    QFETCH(int, coding);
    QFETCH(QString, text);
    QFETCH(bool, flash);
    QFETCH(QList<int>, lengths);
    QFETCH(QList<int>, udls);

    const PduList pdus = buildLong(text, coding, flash);
    QCOMPARE(pdus.size(), lengths.size());
    const Decoded decoded = decodeAll(pdus, 0xA7);
    QCOMPARE(decoded.parts.size(), pdus.size());

    const Coding cd = coding < 0 ? detectCoding(text) : static_cast<Coding>(coding);
    int start = 0;
    for (qsizetype k = 0; k < pdus.size(); ++k) {
        QCOMPARE(decoded.parts[k].text, text.mid(start, lengths[k]));
        QCOMPARE(decoded.parts[k].coding, int(cd));
        QCOMPARE(decoded.parts[k].flash, flash);
        QCOMPARE(dcsOf(pdus[k].hex), codingDcs(cd) | (flash ? FlashDcsBit : 0));
        QCOMPARE(udlOf(pdus[k].hex), udls[k]);
        start += lengths[k];
    }
    QCOMPARE(decoded.whole, text.left(start));
    QCOMPARE(fitLongLength(text, cd), start);
    QCOMPARE(messagePartCount(text, cd, true), lengths.size());
    QCOMPARE(messagePartCount(text, cd, false), 1);
}

// With the long flag, a text that fits one SMS is byte for byte the PDU of a message without
// it; without the flag the parts builder is the single-PDU builder.
void TestSmsParts::longThatFitsIsTheSinglePdu() {
    QRandomGenerator random = seeded();
    int compared = 0;
    for (int round = 0; round < 600; ++round) {
        const auto flavour = static_cast<Flavour>(round % 3);
        const QString text = randomText(random, flavour, random.bounded(round % 2 ? 80 : 400));
        SmsSubmit request;
        request.coding = detectCoding(text);
        request.flash = round % 4 == 0;
        request.number = "0123456789";
        request.text = text;
        PduList single;
        QCOMPARE(buildSubmitPdu(request, single), BuildResult::Ok);
        PduList parts;
        QCOMPARE(buildSubmitParts(request, parts), BuildResult::Ok);
        QCOMPARE(parts.size(), 1);
        QCOMPARE(parts.first().hex, single.first().hex);

        request.isLong = true;
        request.reference = static_cast<quint8>(round);
        QCOMPARE(buildSubmitParts(request, parts), BuildResult::Ok);
        if (countUnits(text, request.coding) <= codingLimit(request.coding)) {
            QCOMPARE(parts.size(), 1);
            QCOMPARE(parts.first().hex, single.first().hex);
            QCOMPARE(parts.first().length, single.first().length);
            ++compared;
        } else {
            QVERIFY(parts.size() > 1);
        }
    }
    QVERIFY(compared > 200);
}

// Any text: the parts decode, join to the text as far as a long message holds it, stay within
// the limits, and every part but the last is as full as it may be.
void TestSmsParts::randomLongTextsRoundTrip() {
    QRandomGenerator random = seeded();
    int inParts = 0;
    for (int round = 0; round < 400; ++round) {
        const auto flavour = static_cast<Flavour>(round % 3);
        const QString text = randomText(random, flavour, random.bounded(1300));
        const bool eightBit = round % 10 == 9;
        const Coding coding = eightBit ? Coding::EightBit : detectCoding(text);
        QString source = text;
        if (eightBit) {
            for (QChar &ch : source) {
                if (ch.unicode() > 0xFF)
                    ch = QLatin1Char('?');
            }
        }
        const int reference = random.bounded(256);
        const PduList pdus = buildLong(source, int(coding), round % 7 == 0, reference);
        QVERIFY(!pdus.isEmpty());
        const Decoded decoded = decodeAll(pdus, reference);
        QCOMPARE(decoded.parts.size(), pdus.size());
        const int fit = fitLongLength(source, coding);
        const QString kept = source.left(fit);
        QCOMPARE(decoded.whole, kept);

        // Limits, and the cut is the longest prefix within them.
        const int units = unitsOf(kept, coding);
        QVERIFY(units <= LongMessageLimit);
        QVERIFY(pdus.size() <= maxParts(coding));
        if (fit < source.size()) {
            const int step = fit + 1 < source.size() && source[fit].isHighSurrogate() &&
                                     source[fit + 1].isLowSurrogate() && coding == Coding::Ucs2
                                 ? 2
                                 : 1;
            const QString longer = source.left(fit + step);
            QVERIFY(unitsOf(longer, coding) > LongMessageLimit ||
                    partEnds(longer, coding).size() > maxParts(coding));
        }
        if (pdus.size() == 1)
            continue;
        ++inParts;
        const QList<int> ends = partEnds(kept, coding);
        QCOMPARE(ends.size(), pdus.size());
        int start = 0;
        for (qsizetype k = 0; k < ends.size(); ++k) {
            const QStringView part = QStringView(kept).mid(start, ends[k] - start);
            QVERIFY(unitsOf(part, coding) <= partCapacity(coding));
            if (k + 1 < ends.size()) {
                // The first character of the next part did not fit this one.
                const int next = coding == Coding::Ucs2 && kept[ends[k]].isHighSurrogate() &&
                                         ends[k] + 1 < kept.size() &&
                                         kept[ends[k] + 1].isLowSurrogate()
                                     ? 2
                                     : unitsOf(QStringView(kept).mid(ends[k], 1), coding);
                QVERIFY2(unitsOf(part, coding) + next > partCapacity(coding),
                         qPrintable(
                             QStringLiteral("part %1 of %2 not full").arg(k + 1).arg(ends.size())));
            }
            start = ends[k];
        }
    }
    QVERIFY(inParts > 150);
}

void TestSmsParts::invalidNumberEmptiesTheList() {
    for (const QByteArray &number : {QByteArray("12#34"), QByteArray(), QByteArray("+")}) {
        SmsSubmit request;
        request.isLong = true;
        request.number = number;
        request.text = repeat(QStringLiteral("a"), 400);
        PduList pdus = {Pdu{"0100", 2}};
        QCOMPARE(buildSubmitParts(request, pdus), BuildResult::InvalidNumber);
        QVERIFY(pdus.isEmpty());
    }
}

void TestSmsParts::fitText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("keep");
    QTest::addColumn<bool>("isLong");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("coding");
    QTest::addColumn<int>("units");
    QTest::addColumn<int>("parts");
    QTest::addColumn<QString>("reasons"); // the characters, then "+" when there are more
    QTest::addColumn<bool>("lookalikes");

    const QString a = QStringLiteral("a");
    const int gsm = int(Coding::Gsm7Bit);
    const int ucs2 = int(Coding::Ucs2);
    QTest::newRow("empty") << QString() << 0 << false << 0 << gsm << 0 << 1 << QString() << false;
    QTest::newRow("161st GSM character cut")
        << repeat(a, 161) << 0 << false << 160 << gsm << 160 << 1 << QString() << false;
    QTest::newRow("long keeps 161 in two SMS")
        << repeat(a, 161) << 0 << true << 161 << gsm << 161 << 2 << QString() << false;
    QTest::newRow("long cuts at 1000 septets")
        << repeat(a, 1200) << 0 << true << 1000 << gsm << 1000 << 7 << QString() << false;
    QTest::newRow("long euro signs count two")
        << repeat(Euro, 600) << 0 << true << 500 << gsm << 1000 << 7 << QString() << false;
    QTest::newRow("long ucs2 cuts at 1000")
        << repeat(Cjk, 1200) << 0 << true << 1000 << ucs2 << 1000 << 15 << Cjk << false;
    QTest::newRow("long pairs cut at 15 parts")
        << repeat(Emoji, 600) << 0 << true << 990 << ucs2 << 990 << 15 << Emoji << false;
    QTest::newRow("pair not split at the SMS limit")
        << repeat(Cjk, 69) + Emoji << 0 << false << 69 << ucs2 << 69 << 1 << Cjk << false;
    QTest::newRow("CJK at the end of 100 GSM goes")
        << repeat(a, 100) + Cjk << 0 << false << 100 << gsm << 100 << 1 << QString() << false;
    QTest::newRow("CJK at the start cuts to 70")
        << Cjk + repeat(a, 100) << 0 << false << 70 << ucs2 << 70 << 1 << Cjk << false;
    QTest::newRow("subject alone too long")
        << repeat(a, 170) + QStringLiteral(":there") << 171 << false << 171 << gsm << 171 << 1
        << QString() << false;
    QTest::newRow("long subject alone too long")
        << repeat(a, 1100) + QStringLiteral(":x") << 1101 << true << 1101 << gsm << 1101 << 7
        << QString() << false;
    QTest::newRow("curly quotes and a dash")
        << QStringLiteral(u"\u201CHi\u201D \u2013 ok") << 0 << false << 9 << ucs2 << 9 << 1
        << QStringLiteral(u"\u201C\u201D\u2013") << true;
    QTest::newRow("reasons after the cut are not named")
        << Cjk + repeat(a, 68) + QStringLiteral(u"\u0436\u044B") << 0 << false << 70 << ucs2 << 70
        << 1 << Cjk + QStringLiteral(u"\u0436") << false;
    QTest::newRow("a look-alike after the cut is not offered")
        << Cjk + repeat(a, 69) + QStringLiteral(u"\u2026") << 0 << false << 70 << ucs2 << 70 << 1
        << Cjk << false;
    QTest::newRow("repeated characters named once, the ninth means more")
        << QStringLiteral(u"\u0430\u0431\u0430\u0432\u0433\u0434\u0435\u0436\u0437\u0438\u0439")
        << 0 << false << 11 << ucs2 << 11 << 1
        << QStringLiteral(u"\u0430\u0431\u0432\u0433\u0434\u0435\u0436\u0437+") << false;
}

void TestSmsParts::fitText() {
    QFETCH(QString, text);
    QFETCH(int, keep);
    QFETCH(bool, isLong);
    QFETCH(int, length);
    QFETCH(int, coding);
    QFETCH(int, units);
    QFETCH(int, parts);
    QFETCH(QString, reasons);
    QFETCH(bool, lookalikes);

    const TextFit fit = ::fitText(text, keep, isLong);
    QCOMPARE(fit.length, length);
    QCOMPARE(int(fit.coding), coding);
    QCOMPARE(fit.units, units);
    QCOMPARE(fit.limit, isLong ? LongMessageLimit : codingLimit(fit.coding));
    QCOMPARE(fit.parts, parts);
    QString named;
    for (char32_t ch : fit.reasons.characters)
        named += QString::fromUcs4(&ch, 1);
    if (fit.reasons.more)
        named += QLatin1Char('+');
    QCOMPARE(named, reasons);
    QCOMPARE(fit.reasons.lookalikes, lookalikes);
}

void TestSmsParts::fitTextEqualsLoop() {
    QRandomGenerator random = seeded();
    for (int round = 0; round < 300; ++round) {
        const bool isLong = round % 2 == 0;
        const auto flavour = static_cast<Flavour>(round % 3);
        const int length = random.bounded(isLong ? 1150 : 260);
        // A GSM start and a wider tail, so that the coding changes during the cut.
        QString text = randomText(random, Flavour::Gsm, random.bounded(length + 1));
        text += randomText(random, flavour, std::max(0, length - static_cast<int>(text.size())));
        int keep = round % 5 == 0 ? random.bounded(static_cast<int>(text.size()) + 1) : 0;
        // A keep inside a pair cannot come from the view (it ends at the subject's ":").
        if (keep > 0 && keep < text.size() && text[keep - 1].isHighSurrogate() &&
            text[keep].isLowSurrogate())
            --keep;
        const TextFit expected = fitByLoop(text, keep, isLong);
        const TextFit fit = ::fitText(text, keep, isLong);
        const QString what =
            QStringLiteral("%1 units, keep %2, long %3: loop %4/%5/%6/%7, one pass "
                           "%8/%9/%10/%11")
                .arg(text.size())
                .arg(keep)
                .arg(isLong)
                .arg(expected.length)
                .arg(int(expected.coding))
                .arg(expected.units)
                .arg(expected.parts)
                .arg(fit.length)
                .arg(int(fit.coding))
                .arg(fit.units)
                .arg(fit.parts);
        QVERIFY2(fit.length == expected.length && fit.coding == expected.coding &&
                     fit.units == expected.units && fit.parts == expected.parts &&
                     fit.limit == expected.limit,
                 qPrintable(what));
    }
}

void TestSmsParts::lookalikesAreGsm() {
    int found = 0;
    for (char32_t ch = 0; ch <= 0xFFFF; ++ch) {
        const QStringView replacement = gsmLookalike(ch);
        if (replacement.isEmpty())
            continue;
        ++found;
        QVERIFY2(!lookupGsmChar(QChar(static_cast<char16_t>(ch))).found,
                 qPrintable(QString::number(uint(ch), 16)));
        QCOMPARE(detectCoding(replacement.toString()), Coding::Gsm7Bit);
    }
    QVERIFY(found >= 30);
    QVERIFY(gsmLookalike(U'\U0001F600').isEmpty());
}

void TestSmsParts::replaceLookalikes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("replaced");

    QTest::newRow("curly quotes") << QStringLiteral(u"\u201CHi\u201D, it\u2019s \u2018me\u2019")
                                  << QStringLiteral("\"Hi\", it's 'me'") << 5;
    QTest::newRow("dashes and minus")
        << QStringLiteral(u"1\u20132 \u2014 3\u22124") << QStringLiteral("1-2 - 3-4") << 3;
    QTest::newRow("ellipsis grows")
        << QStringLiteral(u"wait\u2026") << QStringLiteral("wait...") << 1;
    QTest::newRow("spaces") << QStringLiteral(u"a\u00A0b\u2009c\u202Fd\u3000e\tf")
                            << QStringLiteral("a b c d e f") << 5;
    QTest::newRow("bullets") << QStringLiteral(u"\u2022 one\n\u2023 two")
                             << QStringLiteral("- one\n- two") << 2;
    QTest::newRow("letters stay") << QStringLiteral(u"Se\u00F1ora N\u00FA\u00F1ez \u4E2D")
                                  << QStringLiteral(u"Se\u00F1ora N\u00FA\u00F1ez \u4E2D") << 0;
}

void TestSmsParts::replaceLookalikes() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(int, replaced);
    int count = -1;
    QCOMPARE(replaceGsmLookalikes(text, &count), expected);
    QCOMPARE(count, replaced);
}

QTEST_APPLESS_MAIN(TestSmsParts)
#include "tst_smsparts.moc"
