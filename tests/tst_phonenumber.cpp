// Typed numbers as the queue turns them into the numbers that are sent: national and
// international forms, formatting, short codes, emergency numbers and garbage, for several
// countries; and the parser's reuse of earlier answers against the library itself.

#include "data/PhoneNumberParser.h"

#include <QRandomGenerator>
#include <QTest>

Q_DECLARE_METATYPE(ParsedNumber::Kind)

namespace {

using Kind = ParsedNumber::Kind;

const QString NotANumber = QStringLiteral("not a phone number");
const QString Emergency = QStringLiteral("emergency number");
const QString TooShort = QStringLiteral("too short");

void addNumber(const char *name, const char *country, const QByteArray &typed,
               const QByteArray &number) {
    QTest::newRow(name) << QString::fromLatin1(country) << typed << Kind::Number << number
                        << QString();
}

void addShort(const char *name, const char *country, const QByteArray &typed,
              const QByteArray &number) {
    QTest::newRow(name) << QString::fromLatin1(country) << typed << Kind::ShortCode << number
                        << QString();
}

void addRefused(const char *name, const char *country, const QByteArray &typed,
                const QString &reason) {
    QTest::newRow(name) << QString::fromLatin1(country) << typed << Kind::Refused << QByteArray()
                        << reason;
}

} // namespace

class TestPhoneNumber : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data();
    void parse();
    void formattingNeverRefuses_data();
    void formattingNeverRefuses();
    void validity_data();
    void validity();
    void keyFindsTheSamePerson();
    void reusedRulesAgreeWithLibrary_data();
    void reusedRulesAgreeWithLibrary();
    void countries();
};

void TestPhoneNumber::parse_data() {
    QTest::addColumn<QString>("country");
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QString>("reason");

    // Germany: trunk prefix 0, international prefix 00.
    addNumber("DE national mobile", "DE", "0151 23456789", "+4915123456789");
    addNumber("DE national landline", "DE", "030 12345678", "+493012345678");
    addNumber("DE international plus", "DE", "+49 151 23456789", "+4915123456789");
    addNumber("DE international 00", "DE", "0049 151 23456789", "+4915123456789");
    addNumber("DE international with (0)", "DE", "+49 (0)151 23456789", "+4915123456789");
    addNumber("DE number of another country", "DE", "+33 6 12 34 56 78", "+33612345678");
    addShort("DE short code", "DE", "22333", "22333");
    addShort("DE short code with space", "DE", "223 33", "22333");
    addRefused("DE emergency 112", "DE", "112", Emergency);
    addRefused("DE emergency 110", "DE", "110", Emergency);
    addRefused("DE two digits", "DE", "42", TooShort);
    addRefused("DE letters", "DE", "hello", NotANumber);
    addRefused("DE letter inside", "DE", "0151 2345678x", NotANumber);
    addRefused("DE star and hash", "DE", "*100#", NotANumber);
    addRefused("DE plus inside", "DE", "49+170123456", NotANumber);
    addRefused("DE two pluses", "DE", "++49151234567", NotANumber);
    addRefused("DE CR inside", "DE", "0151\r23456789", NotANumber);
    addRefused("DE only plus", "DE", "+", TooShort);
    addRefused("DE unknown country code", "DE", "+999 12345678", "unknown country code");
    addRefused("DE too long", "DE", "+49 1512345678901234567", "too long");
    // Refused at once, whatever the length (the library would take minutes over 64 KiB).
    addRefused("DE 64 KiB of digits", "DE", QByteArray(64 * 1024, '1'), "too long");
    addRefused("no country 64 KiB of digits", "", "+" + QByteArray(64 * 1024, '4'), "too long");

    // United Kingdom.
    addNumber("GB national mobile", "GB", "07400 123456", "+447400123456");
    addNumber("GB national London", "GB", "020 7946 0018", "+442079460018");
    addNumber("GB international", "GB", "+44 7400 123456", "+447400123456");
    addNumber("GB international 00", "GB", "00 44 7400 123456", "+447400123456");
    addShort("GB short code", "GB", "61611", "61611");
    addRefused("GB emergency 999", "GB", "999", Emergency);
    addRefused("GB emergency 112", "GB", "112", Emergency);
    addRefused("GB garbage", "GB", "call me", NotANumber);

    // United States: no trunk prefix, "1" in front is the country code, 011 international.
    addNumber("US national", "US", "(201) 555-0123", "+12015550123");
    addNumber("US national with 1", "US", "1 201 555 0123", "+12015550123");
    addNumber("US dots", "US", "201.555.0123", "+12015550123");
    addNumber("US international", "US", "+1 201-555-0123", "+12015550123");
    addNumber("US 011 international prefix", "US", "011 49 151 23456789", "+4915123456789");
    addNumber("US 00 taken as international", "US", "0049 151 23456789", "+4915123456789");
    addShort("US short code", "US", "22333", "22333");
    addShort("US seven digits local", "US", "555-0123", "5550123");
    addRefused("US emergency 911", "US", "911", Emergency);
    addRefused("US garbage", "US", "555-CALL", NotANumber);

    // France.
    addNumber("FR national mobile", "FR", "06 12 34 56 78", "+33612345678");
    addNumber("FR national dots", "FR", "06.12.34.56.78", "+33612345678");
    addNumber("FR international", "FR", "+33 6 12 34 56 78", "+33612345678");
    addRefused("FR emergency 15", "FR", "15", Emergency);
    addRefused("FR emergency 17", "FR", "17", Emergency);
    addRefused("FR emergency 112", "FR", "112", Emergency);
    addShort("FR short code", "FR", "36665", "36665");
    addRefused("FR garbage", "FR", "06-12-34-56-7a", NotANumber);

    // India: ten-digit mobiles, trunk prefix 0.
    addNumber("IN national mobile", "IN", "81234 56789", "+918123456789");
    addNumber("IN national with 0", "IN", "081234 56789", "+918123456789");
    addNumber("IN international", "IN", "+91 81234 56789", "+918123456789");
    addRefused("IN emergency 100", "IN", "100", Emergency);
    addRefused("IN emergency 112", "IN", "112", Emergency);
    addShort("IN short code", "IN", "56161", "56161");
    addRefused("IN garbage", "IN", "#81234", NotANumber);

    // Brazil: area code in brackets, trunk prefix 0 with a carrier code.
    addNumber("BR national mobile", "BR", "(11) 96123-4567", "+5511961234567");
    addNumber("BR trunk and carrier code", "BR", "0 21 11 96123-4567", "+5511961234567");
    addNumber("BR international", "BR", "+55 11 96123 4567", "+5511961234567");
    addRefused("BR emergency 190", "BR", "190", Emergency);
    addRefused("BR emergency 193", "BR", "193", Emergency);
    addShort("BR short code", "BR", "28888", "28888");
    addRefused("BR garbage", "BR", "(11) 9612x-4567", NotANumber);

    // A country whose full numbers have eight digits: not taken for short codes.
    addNumber("DK eight-digit number", "DK", "20 12 34 56", "+4520123456");

    // No country: international numbers only, and every country's emergency numbers.
    addNumber("none international", "", "+49 151 23456789", "+4915123456789");
    addNumber("none 00", "", "0049 151 23456789", "+4915123456789");
    addRefused("none national", "", "0151 23456789",
               "a national number, but no country is set for national numbers");
    addRefused("none 112", "", "112", Emergency);
    addRefused("none 111 (New Zealand)", "", "111", Emergency);
    addShort("none short code", "", "4711", "4711");
}

void TestPhoneNumber::parse() {
    QFETCH(QString, country);
    QFETCH(QByteArray, typed);
    QFETCH(Kind, kind);
    QFETCH(QByteArray, number);
    QFETCH(QString, reason);
    PhoneNumberParser parser(country);
    // Twice: the second answer comes from what the parser kept.
    for (int round = 0; round < 2; ++round) {
        const ParsedNumber parsed = parser.parse(typed);
        QCOMPARE(parsed.kind, kind);
        QCOMPARE(parsed.number, number);
        QCOMPARE(parsed.reason, reason);
    }
}

void TestPhoneNumber::formattingNeverRefuses_data() {
    QTest::addColumn<QByteArray>("typed");
    QTest::newRow("space") << QByteArray("0151 2345 6789");
    QTest::newRow("tab") << QByteArray("0151\t23456789");
    QTest::newRow("dash") << QByteArray("0151-2345-6789");
    QTest::newRow("dot") << QByteArray("0151.2345.6789");
    QTest::newRow("slash") << QByteArray("0151/23456789");
    QTest::newRow("round brackets") << QByteArray("(0151) 23456789");
    QTest::newRow("square brackets") << QByteArray("[0151] 23456789");
    QTest::newRow("leading and trailing spaces") << QByteArray("  015123456789 ");
    QTest::newRow("no-break space") << QByteArray("0151\xC2\xA0"
                                                  "23456789");
    QTest::newRow("narrow no-break space") << QByteArray("0151\xE2\x80\xAF"
                                                         "23456789");
    QTest::newRow("en dash") << QByteArray("0151\xE2\x80\x93"
                                           "23456789");
    QTest::newRow("full-width digits") << QByteArray("\xEF\xBC\x90\xEF\xBC\x91"
                                                     "5123456789");
    QTest::newRow("plus in brackets") << QByteArray("(+49) 151 23456789");
    QTest::newRow("everything at once") << QByteArray("+49 (0)151-234.567/89");
}

void TestPhoneNumber::formattingNeverRefuses() {
    QFETCH(QByteArray, typed);
    PhoneNumberParser parser(QStringLiteral("DE"));
    const ParsedNumber parsed = parser.parse(typed);
    QCOMPARE(parsed.reason, QString());
    QCOMPARE(parsed.kind, Kind::Number);
    QCOMPARE(parsed.number, QByteArray("+4915123456789"));
}

void TestPhoneNumber::validity_data() {
    QTest::addColumn<QByteArray>("e164");
    QTest::addColumn<bool>("valid");
    QTest::newRow("DE mobile") << QByteArray("+4915123456789") << true;
    QTest::newRow("DE mobile range not in use") << QByteArray("+491533333333") << false;
    QTest::newRow("GB drama range") << QByteArray("+447700900456") << false;
    QTest::newRow("GB mobile") << QByteArray("+447400123456") << true;
    QTest::newRow("US") << QByteArray("+12015550123") << true;
    QTest::newRow("US too short") << QByteArray("+1201555") << false;
    QTest::newRow("not a number") << QByteArray("+abc") << false;
}

void TestPhoneNumber::validity() {
    QFETCH(QByteArray, e164);
    QFETCH(bool, valid);
    QCOMPARE(PhoneNumberParser::isValidNumber(e164), valid);
}

void TestPhoneNumber::keyFindsTheSamePerson() {
    PhoneNumberParser parser(QStringLiteral("DE"));
    const QByteArray key = parser.key("+49 151 23456789");
    QCOMPARE(parser.key("015123456789"), key);
    QCOMPARE(parser.key("0049-151-2345-6789"), key);
    QVERIFY(parser.key("015123456788") != key);
    // What does not parse is compared as typed.
    QCOMPARE(parser.key("hello"), QByteArray("hello"));
    QVERIFY(parser.key("hello ") != parser.key("hello"));
}

void TestPhoneNumber::reusedRulesAgreeWithLibrary_data() {
    QTest::addColumn<QString>("country");
    QTest::addColumn<QByteArrayList>("prefixes");
    QTest::addColumn<int>("length");
    QTest::newRow("DE") << QStringLiteral("DE")
                        << QByteArrayList{"015", "017", "030", "089", "+4915", "+4930", "0049"}
                        << 12;
    QTest::newRow("GB") << QStringLiteral("GB")
                        << QByteArrayList{"07", "020", "01", "+447", "+4420", "0044"} << 11;
    QTest::newRow("US") << QStringLiteral("US") << QByteArrayList{"2", "3", "1", "+1", "011"} << 10;
    QTest::newRow("FR") << QStringLiteral("FR") << QByteArrayList{"06", "01", "07", "+336"} << 10;
    QTest::newRow("IN") << QStringLiteral("IN") << QByteArrayList{"9", "8", "0", "+91"} << 10;
    QTest::newRow("BR") << QStringLiteral("BR")
                        << QByteArrayList{"11", "21", "0", "021", "+5511", "0015"} << 11;
    QTest::newRow("AR (prefix rules deep in the number)")
        << QStringLiteral("AR") << QByteArrayList{"011", "0", "15", "+549", "+54"} << 11;
    QTest::newRow("MX") << QStringLiteral("MX") << QByteArrayList{"044", "55", "01", "+521"} << 10;
}

void TestPhoneNumber::reusedRulesAgreeWithLibrary() {
    // One parser keeps its rules across all numbers; a fresh parser for each number asks the
    // library every time. Both must give the same answer for every number.
    QFETCH(QString, country);
    QFETCH(QByteArrayList, prefixes);
    QFETCH(int, length);
    QRandomGenerator random(20240614);
    PhoneNumberParser shared(country);
    int compared = 0;
    // Numbers share their first six digits in groups, so that most answers of the shared
    // parser come from a rule it kept; lengths vary around the usual one.
    QByteArrayList heads;
    for (const QByteArray &prefix : prefixes) {
        for (int variant = 0; variant < 3; ++variant) {
            QByteArray head = prefix;
            while (head.size() < 7)
                head += char('0' + random.bounded(10));
            heads << head;
        }
    }
    for (int i = 0; i < 1500; ++i) {
        QByteArray typed = heads[random.bounded(int(heads.size()))];
        const int digits = length - 2 + random.bounded(5) + (typed.startsWith('+') ? 2 : 0);
        while (typed.size() < digits)
            typed += char('0' + random.bounded(10));
        const ParsedNumber reused = shared.parse(typed);
        const ParsedNumber fresh = PhoneNumberParser(country).parse(typed);
        QVERIFY2(
            reused.kind == fresh.kind && reused.number == fresh.number &&
                reused.reason == fresh.reason,
            (typed + " gives " + reused.number + " but the library " + fresh.number).constData());
        ++compared;
    }
    QCOMPARE(compared, 1500);
}

void TestPhoneNumber::countries() {
    const QList<QString> codes = PhoneNumberParser::countries();
    QVERIFY(codes.size() > 200);
    QVERIFY(codes.contains(QStringLiteral("DE")));
    QVERIFY(std::is_sorted(codes.begin(), codes.end()));
    QVERIFY(PhoneNumberParser::isKnownCountry(QStringLiteral("BR")));
    QVERIFY(!PhoneNumberParser::isKnownCountry(QStringLiteral("XX")));
    QVERIFY(!PhoneNumberParser::isKnownCountry(QString()));
    // Lower case is taken; an unknown code means no country.
    QCOMPARE(PhoneNumberParser(QStringLiteral("de")).country(), QStringLiteral("DE"));
    QCOMPARE(PhoneNumberParser(QStringLiteral("XX")).country(), QString());
}

QTEST_GUILESS_MAIN(TestPhoneNumber)
#include "tst_phonenumber.moc"
