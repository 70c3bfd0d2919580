// Personal messages: placeholders filled per recipient, the texts and numbers Send to Outbox
// queues, and the worst case over the recipients (parts, and the names that make a text
// UCS-2).

#include "app/ComposeAnalysis.h"
#include "app/ComposeOutbox.h"
#include "app/MessageTemplate.h"
#include "data/ContactList.h"
#include "data/MessageList.h"
#include "sms/SmsParts.h"
#include "sms/SmsSubmit.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

Recipient recipient(const QString &name, const QByteArray &number,
                    const QString &country = QStringLiteral("DE")) {
    PhoneNumberParser parser(country);
    return {number, name, parser.parse(number)};
}

void addContact(ContactList &list, const QString &name, const QByteArray &number,
                bool checked = true) {
    Contact contact;
    contact.name = name;
    contact.number = number;
    contact.checked = checked ? 1 : 0;
    list.add(contact);
}

// A random text from characters that matter to the part rule: GSM ones, extension
// characters (two septets), characters that need UCS-2 and surrogate pairs.
QString randomText(QRandomGenerator &random, int length, bool gsmOnly) {
    static const QStringList gsm = {QStringLiteral("a"), QStringLiteral(" "),  QStringLiteral(u"é"),
                                    QStringLiteral("@"), QStringLiteral(u"€"), QStringLiteral("{"),
                                    QStringLiteral("]"), QStringLiteral("\n")};
    static const QStringList other = {QStringLiteral(u"ë"), QStringLiteral(u"Ł"),
                                      QStringLiteral(u"中"), QStringLiteral(u"😀")};
    QString text;
    while (text.size() < length) {
        const bool wide = !gsmOnly && random.bounded(8) == 0;
        const QStringList &pool = wide ? other : gsm;
        text += pool[random.bounded(int(pool.size()))];
    }
    return text;
}

// The PDUs the encoder makes of a long message.
int encodedParts(const QString &text) {
    SmsSubmit request;
    request.coding = detectCoding(text);
    request.isLong = true;
    request.number = "+4915123456789";
    request.text = text;
    PduList pdus;
    if (buildSubmitParts(request, pdus) != BuildResult::Ok)
        return -1;
    return static_cast<int>(pdus.size());
}

} // namespace

class TestPersonalMessages : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fill_data();
    void fill();
    void unknownPlaceholders_data();
    void unknownPlaceholders();
    void measure_data();
    void measure();
    void codingSwitchesWithNames();
    void partsPerRecipient();
    void textsOverTheLongLimit();
    void partsAreTheEncodersForRandomTexts();
    void planQueuesFinalTextsAndNumbers();
    void planWithUnknownPlaceholderQueuesNothing();
    void typedNumbersFindTheirContact();
    void errorTextsAndQuestion();
};

void TestPersonalMessages::fill_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QString>("filled");

    QTest::newRow("name") << "Hello {Name}!"
                          << "Anna Becker" << QByteArray("+49151") << "Hello Anna Becker!";
    QTest::newRow("first name") << "Hi {FirstName}"
                                << "Anna Becker" << QByteArray("+49151") << "Hi Anna";
    QTest::newRow("number") << "Your number: {Number}"
                            << "Anna" << QByteArray("+4915123456789")
                            << "Your number: +4915123456789";
    QTest::newRow("letter case") << "{name}/{FIRSTNAME}/{nUmBeR}"
                                 << "Jo Li" << QByteArray("1") << "Jo Li/Jo/1";
    QTest::newRow("spaces and underscores in the name") << "{first name} {First_Name}"
                                                        << "Jo Li" << QByteArray("1") << "Jo Jo";
    QTest::newRow("fallback used when empty") << "Hello {Name|friend}"
                                              << "" << QByteArray("1") << "Hello friend";
    QTest::newRow("fallback not used") << "Hello {Name|friend}"
                                       << "Ann" << QByteArray("1") << "Hello Ann";
    QTest::newRow("empty fallback") << "Hello {Name|}!"
                                    << "" << QByteArray("1") << "Hello !";
    QTest::newRow("no fallback, empty value") << "Hello {FirstName}."
                                              << "  " << QByteArray("1") << "Hello .";
    QTest::newRow("name trimmed") << "[{Name}] [{FirstName}]"
                                  << "  Ann  Lee " << QByteArray("1") << "[Ann  Lee] [Ann]";
    QTest::newRow("braces that are no placeholder")
        << "{ Name} {} {1} {Name {Name|x"
        << "Ann" << QByteArray("1") << "{ Name} {} {1} {Name {Name|x";
    QTest::newRow("placeholder in the fallback is text") << "{Name|{Number}}"
                                                         << "" << QByteArray("1") << "{Name|1}";
    QTest::newRow("value with braces is not filled again")
        << "{Name}"
        << "{Number}" << QByteArray("1") << "{Number}";
    QTest::newRow("no placeholders") << "Plain text"
                                     << "Ann" << QByteArray("1") << "Plain text";
}

void TestPersonalMessages::fill() {
    QFETCH(QString, text);
    QFETCH(QString, name);
    QFETCH(QByteArray, number);
    QFETCH(QString, filled);
    const MessageTemplate message(text);
    QCOMPARE(message.unknownPlaceholders(), QStringList());
    QCOMPARE(message.fill(name, number), filled);
}

void TestPersonalMessages::unknownPlaceholders_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("unknown");
    QTest::newRow("misspelt") << "Hello {Nmae}" << QStringList{"{Nmae}"};
    QTest::newRow("another language") << "Hallo {Vorname}" << QStringList{"{Vorname}"};
    QTest::newRow("with fallback") << "{Title|Dear} {Name}" << QStringList{"{Title|Dear}"};
    QTest::newRow("each once, in order") << "{B} {A} {B} {Name}" << QStringList{"{B}", "{A}"};
    QTest::newRow("none") << "{Name} { x}" << QStringList();
}

void TestPersonalMessages::unknownPlaceholders() {
    QFETCH(QString, text);
    QFETCH(QStringList, unknown);
    QCOMPARE(MessageTemplate(text).unknownPlaceholders(), unknown);
}

void TestPersonalMessages::measure_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ucs2");
    QTest::addColumn<int>("units");
    QTest::addColumn<int>("parts");
    QTest::newRow("empty") << QString() << false << 0 << 1;
    QTest::newRow("160 GSM") << QString(160, 'a') << false << 160 << 1;
    QTest::newRow("161 GSM") << QString(161, 'a') << false << 161 << 2;
    QTest::newRow("euro counts two") << QString(159, 'a') + QChar(0x20AC) << false << 161 << 2;
    QTest::newRow("306 GSM in two parts") << QString(306, 'a') << false << 306 << 2;
    QTest::newRow("escape pair not split")
        << QString(152, 'a') + QChar(0x20AC) + QString(10, 'a') << false << 164 << 2;
    QTest::newRow("escape pair moves to the next part")
        << QString(152, 'a') + QChar(0x20AC) + QString(152, 'a') << false << 306 << 3;
    QTest::newRow("e with diaeresis is UCS-2") << QStringLiteral(u"Zoë") << true << 3 << 1;
    QTest::newRow("no 8-bit: a-acute is UCS-2") << QStringLiteral(u"á") << true << 1 << 1;
    QTest::newRow("70 UCS-2") << QString(70, QChar(0x4E2D)) << true << 70 << 1;
    QTest::newRow("71 UCS-2") << QString(71, QChar(0x4E2D)) << true << 71 << 2;
    QTest::newRow("surrogate pair not split")
        << QString(66, QChar(0x4E2D)) + QStringLiteral(u"😀") + QString(5, QChar(0x4E2D)) << true
        << 73 << 2;
}

void TestPersonalMessages::measure() {
    QFETCH(QString, text);
    QFETCH(bool, ucs2);
    QFETCH(int, units);
    QFETCH(int, parts);
    const TextSize size = measureText(text);
    QCOMPARE(size.ucs2, ucs2);
    QCOMPARE(size.units, units);
    QCOMPARE(size.parts, parts);
}

void TestPersonalMessages::codingSwitchesWithNames() {
    const QList<Recipient> recipients = {
        recipient(QStringLiteral("Anna"), "+4915123456789"),
        recipient(QStringLiteral(u"Zoë Adams"), "+4915123456780"),
        recipient(QStringLiteral(u"Łukasz"), "+4915123456781"),
        recipient(QStringLiteral("Ben"), "112"), // refused: not looked at
        recipient(QStringLiteral(u"Şule"), "+4915123456782"),
        recipient(QStringLiteral(u"Émile"), "+4915123456783"), // É is in the GSM table
    };
    ComposeAnalysis analysis =
        analyseCompose(QString(), QStringLiteral("Hello {FirstName}, see you"), recipients);
    QCOMPARE(analysis.recipientCount, 5);
    QVERIFY(!analysis.textNeedsUcs2);
    QCOMPARE(analysis.ucs2Recipients, (QList<int>{1, 2, 4}));
    // The UCS-2 texts are the longest: the first of them with the most units.
    QCOMPARE(analysis.longest, 2);
    QCOMPARE(analysis.longestText, QStringLiteral(u"Hello Łukasz, see you"));
    QVERIFY(analysis.longestSize.ucs2);
    QCOMPARE(analysis.longestSize.units, 21);

    // A text that is UCS-2 by itself blames nobody.
    analysis = analyseCompose(QString(), QStringLiteral(u"Привет {Name}"), recipients);
    QVERIFY(analysis.textNeedsUcs2);
    QCOMPARE(analysis.ucs2Recipients, QList<int>());

    // A fallback counts for those without a name, but is no one's fault.
    analysis = analyseCompose(QStringLiteral("Hi"), QStringLiteral(u"{Name|Zoë}!"),
                              {recipient(QString(), "+4915123456789"),
                               recipient(QStringLiteral("Al"), "+4915123456780")});
    QCOMPARE(analysis.ucs2Recipients, QList<int>());
    QCOMPARE(analysis.longest, 0);
    QCOMPARE(analysis.longestText, QStringLiteral(u"Hi:Zoë!"));
    QVERIFY(analysis.longestSize.ucs2);
}

void TestPersonalMessages::partsPerRecipient() {
    // 150 GSM characters and the name: a long name makes a second part, a UCS-2 name makes
    // three parts of 67.
    const QString body = QString(150, 'x') + QStringLiteral(" {Name}");
    const QList<Recipient> recipients = {
        recipient(QStringLiteral("Al"), "+4915123456789"),
        recipient(QStringLiteral("Maximilian"), "+4915123456780"),
        recipient(QStringLiteral(u"Zoë"), "+4915123456781"),
        recipient(QStringLiteral("Bo"), "+4915123456782"),
    };
    const ComposeAnalysis analysis = analyseCompose(QString(), body, recipients);
    QCOMPARE(analysis.fewestParts, 1);
    QCOMPARE(analysis.moreParts, (QList<int>{1, 2}));
    QCOMPARE(analysis.longest, 2);
    QCOMPARE(analysis.longestSize.parts, 3);
    QCOMPARE(analysis.longestSize.units, 154);
    QCOMPARE(analysis.parts, (QList<int>{1, 2, 3, 1}));
    QCOMPARE(analysis.overOneSms, (QList<int>{1, 2}));
    QVERIFY(analysis.overLongLimit.isEmpty());
    // The counts agree with measuring each filled text on its own.
    const MessageTemplate text(body);
    for (int i = 0; i < recipients.size(); ++i) {
        const TextSize size =
            measureText(text.fill(recipients[i].name, recipients[i].parsed.number));
        QCOMPARE(size.parts > 1, analysis.moreParts.contains(i));
    }

    // No usable recipient: nothing to show.
    const ComposeAnalysis none = analyseCompose(QString(), body, {recipient("X", "110")});
    QCOMPARE(none.recipientCount, 0);
    QCOMPARE(none.longest, -1);
}

void TestPersonalMessages::textsOverTheLongLimit() {
    // 990 septets and the name: a long name takes the text past what a long message holds.
    const QString body = QString(990, 'x') + QStringLiteral("{Name}");
    const QList<Recipient> recipients = {
        recipient(QStringLiteral("Al"), "+4915123456789"),
        recipient(QStringLiteral("Maximilian Mustermann"), "+4915123456780"),
        recipient(QStringLiteral("Bo"), "112"),
    };
    const ComposeAnalysis analysis = analyseCompose(QString(), body, recipients);
    QCOMPARE(analysis.recipientCount, 2);
    QCOMPARE(analysis.overLongLimit, QList<int>{1});
    QCOMPARE(analysis.overOneSms, (QList<int>{0, 1}));
    QCOMPARE(analysis.longest, 1);
    QCOMPARE(analysis.longestSize.units, 1011);
    QVERIFY(analysis.longestSize.overLongLimit);
    // What the whole text needs, although only its first 1000 septets are sent.
    QCOMPARE(analysis.longestSize.parts, 7);
    QCOMPARE(analysis.parts, (QList<int>{7, 7, 0}));
    QCOMPARE(encodedParts(analysis.longestText), 7);

    // In UCS-2 the parts run out before the units do: a part holds 33 surrogate pairs, so
    // 496 pairs are 992 units in 16 parts, one more than a long message may have.
    QString emoji;
    for (int i = 0; i < 495; ++i)
        emoji += QStringLiteral(u"😀");
    TextSize size = measureText(emoji);
    QCOMPARE(size.units, 990);
    QCOMPARE(size.parts, 15);
    QVERIFY(!size.overLongLimit);
    QCOMPARE(encodedParts(emoji), 15);
    emoji += QStringLiteral(u"😀");
    size = measureText(emoji);
    QVERIFY(size.ucs2);
    QCOMPARE(size.units, 992);
    QCOMPARE(size.parts, 16);
    QVERIFY(size.overLongLimit);
    QCOMPARE(encodedParts(emoji), 15);
}

void TestPersonalMessages::partsAreTheEncodersForRandomTexts() {
    QRandomGenerator random(20240614);
    for (int round = 0; round < 400; ++round) {
        const bool gsmOnly = round % 2 == 0;
        const QString text = randomText(random, int(random.bounded(1100)), gsmOnly);
        const TextSize size = measureText(text);
        const Coding coding = detectCoding(text);
        QCOMPARE(size.ucs2, coding == Coding::Ucs2);
        QCOMPARE(size.units, countUnits(text, coding));
        QCOMPARE(size.overLongLimit, fitLongLength(text, coding) < text.size());
        if (!size.overLongLimit) {
            QCOMPARE(size.parts, messagePartCount(text, coding, true));
            QCOMPARE(size.parts, encodedParts(text));
        } else {
            QVERIFY(size.parts >= messagePartCount(text, coding, true));
        }
    }

    // The same through the analysis, where only the names differ between the texts.
    for (int round = 0; round < 20; ++round) {
        const QString body = randomText(random, int(random.bounded(400)), round % 2 == 0) +
                             QStringLiteral("{Name}") + randomText(random, 20, true);
        QList<Recipient> recipients;
        for (int i = 0; i < 10; ++i) {
            recipients << recipient(randomText(random, int(random.bounded(40)), i % 3 != 0),
                                    "+491512345678" + QByteArray::number(i));
        }
        const ComposeAnalysis analysis = analyseCompose(QString(), body, recipients);
        const MessageTemplate text(body);
        for (int i = 0; i < recipients.size(); ++i) {
            const QString filled = text.fill(recipients[i].name, recipients[i].parsed.number);
            QCOMPARE(analysis.parts[i], encodedParts(filled));
            QCOMPARE(analysis.overOneSms.contains(i), analysis.parts[i] > 1);
        }
    }
}

void TestPersonalMessages::planQueuesFinalTextsAndNumbers() {
    const QList<Recipient> recipients = {
        recipient(QStringLiteral("Anna Becker"), "0151 2345 6789"),
        recipient(QStringLiteral("Bad"), "hello"),
        recipient(QStringLiteral("Short"), "22333"),
        recipient(QStringLiteral("Drama"), "+44 7700 900456"), // not a valid number
        recipient(QStringLiteral("Police"), "110"),
    };
    const OutboxPlan plan =
        planOutbox(recipients, QStringLiteral("Club"), QStringLiteral("Hi {FirstName} ({Number})"));
    QCOMPARE(plan.entries.size(), 3);
    QCOMPARE(plan.refused.size(), 2);
    QCOMPARE(plan.unverifiedCount(), 1);
    QCOMPARE(plan.entries[0].text, QStringLiteral("Club:Hi Anna (+4915123456789)"));
    QCOMPARE(plan.entries[1].text, QStringLiteral("Club:Hi Short (22333)"));

    MessageList outbox;
    QCOMPARE(queueMessages(outbox, plan, true, false, false), 2);
    QCOMPARE(outbox.get(0).number, QByteArray("+4915123456789"));
    QCOMPARE(outbox.get(0).text, QStringLiteral("Club:Hi Anna (+4915123456789)"));
    QCOMPARE(outbox.get(0).flash, quint8(1));
    QCOMPARE(outbox.get(0).status, MessageStatus::Pending);
    QVERIFY(outbox.get(0).created > 0);
    QCOMPARE(outbox.get(1).number, QByteArray("22333"));
    QCOMPARE(queueMessages(outbox, plan, false, false, true), 3);
    QCOMPARE(outbox.get(4).number, QByteArray("+447700900456"));
}

void TestPersonalMessages::planWithUnknownPlaceholderQueuesNothing() {
    const OutboxPlan plan = planOutbox({recipient(QStringLiteral("Ann"), "0151 2345 6789")},
                                       QStringLiteral("{Titel}"), QStringLiteral("Hi {Nmae}"));
    QCOMPARE(plan.unknownPlaceholders, (QStringList{"{Titel}", "{Nmae}"}));
    QVERIFY(plan.entries.isEmpty());
    QVERIFY(plan.messages(false, false, true).isEmpty());
    QCOMPARE(plan.errorText(true),
             QStringLiteral("Unknown placeholders {Titel} and {Nmae}: nothing was queued. The "
                            "known ones are {Name}, {FirstName} and {Number}."));
    // A brace pair split between subject and body is no placeholder.
    const OutboxPlan split = planOutbox({recipient(QStringLiteral("Ann"), "0151 2345 6789")},
                                        QStringLiteral("{Name|x"), QStringLiteral("y}"));
    QCOMPARE(split.entries.first().text, QStringLiteral("{Name|x:y}"));
}

void TestPersonalMessages::typedNumbersFindTheirContact() {
    ContactList contacts;
    addContact(contacts, QStringLiteral("Anna Becker"), "+49 151 23456789");
    addContact(contacts, QStringLiteral("Anna Again"), "0151-23456789");
    addContact(contacts, QStringLiteral("Unchecked Jo"), "030 1234567", false);
    PhoneNumberParser parser(QStringLiteral("DE"));
    const QList<Recipient> typed =
        typedRecipients(contacts, "0151 2345 6789; ;0049 30 1234567;0170 1111111;x", parser);
    QCOMPARE(typed.size(), 4);
    QCOMPARE(typed[0].name, QStringLiteral("Anna Becker")); // the first contact of the number
    QCOMPARE(typed[0].typed, QByteArray("0151 2345 6789"));
    QCOMPARE(typed[1].name, QStringLiteral("Unchecked Jo"));
    QCOMPARE(typed[2].name, QString());
    QVERIFY(!typed[3].parsed.isUsable());

    const QList<Recipient> checked = contactRecipients(contacts, true, parser);
    QCOMPARE(checked.size(), 2);
    QCOMPARE(checked[1].name, QStringLiteral("Anna Again"));
    QCOMPARE(checked[1].parsed.number, QByteArray("+4915123456789"));
    QCOMPARE(contactRecipients(contacts, false, parser).size(), 3);
}

void TestPersonalMessages::errorTextsAndQuestion() {
    QList<Recipient> recipients;
    for (int i = 0; i < 25; ++i)
        recipients << recipient(QString(), "bad" + QByteArray::number(i));
    recipients << recipient(QString(), "112\r\nAT");
    recipients << recipient(QString(), "+44 7700 900456");
    const OutboxPlan plan = planOutbox(recipients, QString(), QStringLiteral("x"));
    const QString withUnverified = plan.errorText(true, 3);
    QCOMPARE(withUnverified,
             QStringLiteral("26 numbers were not queued:\nbad0: not a phone number\n"
                            "bad1: not a phone number\nbad2: not a phone "
                            "number\n... and 23 more"));
    const QString all = plan.errorText(false, 100);
    QVERIFY(all.startsWith(QStringLiteral("27 numbers were not queued:")));
    QVERIFY(all.contains(QStringLiteral("\n112\\x0d\\x0aAT: not a phone number\n")));
    QVERIFY(all.endsWith(QStringLiteral("\n+44 7700 900456: not a valid number for its country")));
    QCOMPARE(plan.unverifiedQuestion(),
             QStringLiteral("1 number is not a valid number for its country:\n+44 7700 900456\n"
                            "Queue it anyway?"));
    QCOMPARE(planOutbox({recipient("A", "0151 2345 6789")}, QString(), QStringLiteral("x"))
                 .errorText(false),
             QString());
}

QTEST_GUILESS_MAIN(TestPersonalMessages)
#include "tst_personalmessages.moc"
