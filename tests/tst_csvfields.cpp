#include "app/Errors.h"
#include "data/MirvParser.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

namespace {

const QString CsvError = QStringLiteral("String is a badly formed CSV string: mismatched quotes, "
                                        "no comma after closing quote [MirvParser.ExtractFields])");

using TFields = QList<QByteArray>;

} // namespace

class TestMirvParser : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wellFormed_data();
    void wellFormed();
    void malformed_data();
    void malformed();
    void emptiesTheListFirst();
    void randomLines();
};

void TestMirvParser::wellFormed_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<TFields>("fields");
    QTest::newRow("two plain fields") << QByteArray("Ann,123") << TFields{"Ann", "123"};
    QTest::newRow("empty line") << QByteArray() << TFields{};
    QTest::newRow("single comma") << QByteArray(",") << TFields{""};
    QTest::newRow("leading comma") << QByteArray(",123") << TFields{"", "123"};
    QTest::newRow("trailing comma adds no field") << QByteArray("Ann,") << TFields{"Ann"};
    QTest::newRow("empty middle field") << QByteArray("a,,b") << TFields{"a", "", "b"};
    QTest::newRow("quoted comma") << QByteArray("\"Smith, Ann\",\"123\",3")
                                  << TFields{"Smith, Ann", "123", "3"};
    QTest::newRow("final empty quoted pair adds no field") << QByteArray("a,\"\"") << TFields{"a"};
    QTest::newRow("empty quoted pair before comma") << QByteArray("\"\",x") << TFields{"", "x"};
    QTest::newRow("blank before quote makes it plain")
        << QByteArray("a, \"b\"") << TFields{"a", " \"b\""};
    QTest::newRow("blank before comma kept") << QByteArray("Ann ,123") << TFields{"Ann ", "123"};
    QTest::newRow("quote inside plain field") << QByteArray("a\"b,c") << TFields{"a\"b", "c"};
    QTest::newRow("fourth field") << QByteArray("a,b,c,d") << TFields{"a", "b", "c", "d"};
    QTest::newRow("8-bit and NUL bytes")
        << QByteArray("\xe9t\xe9,\x00\xff", 6) << TFields{"\xe9t\xe9", QByteArray("\x00\xff", 2)};
    QTest::newRow("CR stays in the field") << QByteArray("a\r,b") << TFields{"a\r", "b"};
}

void TestMirvParser::wellFormed() {
    QFETCH(QByteArray, line);
    QFETCH(TFields, fields);
    TFields result;
    ExtractFields(line, result);
    QCOMPARE(result, fields);
}

void TestMirvParser::malformed_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<TFields>("before");
    QTest::newRow("unclosed quote") << QByteArray("\"Ann,123") << TFields{};
    QTest::newRow("unclosed quote after fields") << QByteArray("a,b,\"c") << TFields{"a", "b"};
    QTest::newRow("blank after closing quote") << QByteArray("\"Ann\" ,123") << TFields{};
    QTest::newRow("blank after closing quote, later field")
        << QByteArray("x,\"Ann\" ,123") << TFields{"x"};
    QTest::newRow("text after closing quote at end") << QByteArray("x,\"a\"b") << TFields{"x"};
    QTest::newRow("doubled quote is no escape") << QByteArray("\"say \"\"hi\"\"\",1") << TFields{};
    QTest::newRow("exported name with a quote")
        << QByteArray("\"The \"Boss\"\",\"123\",0") << TFields{};
    QTest::newRow("lone quote") << QByteArray("\"") << TFields{};
}

void TestMirvParser::malformed() {
    QFETCH(QByteArray, line);
    QFETCH(TFields, before);
    TFields result{"stale"};
    try {
        ExtractFields(line, result);
        QFAIL("no error raised");
    } catch (const EPelorvane &e) {
        QCOMPARE(e.Message(), CsvError);
    }
    QCOMPARE(result, before);
}

void TestMirvParser::emptiesTheListFirst() {
    TFields result{"old", "older"};
    ExtractFields(QByteArray(), result);
    QVERIFY(result.isEmpty());
}

// Random lines never crash. Lines without quotes split exactly at the commas; lines of quoted
// fields give their fields back.
void TestMirvParser::randomLines() {
    QRandomGenerator random(4711);
    const char alphabet[] = {'a', 'b', ',', '"', ' ', '\r', '\n', '\0', '\xff', '\x7f'};
    QElapsedTimer timer;
    timer.start();
    int errors = 0;
    TFields result;
    for (int round = 0; round < 300000; ++round) {
        QByteArray line;
        int length = random.bounded(24);
        for (int i = 0; i < length; ++i)
            line.append(alphabet[random.bounded(int(sizeof alphabet))]);
        try {
            ExtractFields(line, result);
        } catch (const EPelorvane &e) {
            if (e.Message() != CsvError)
                QFAIL("wrong error text");
            ++errors;
            continue;
        }
        if (!line.contains('"')) {
            TFields expected = line.split(',');
            if (expected.back().isEmpty())
                expected.removeLast();
            if (result != expected)
                QFAIL(qPrintable("plain split differs for " + line.toHex()));
        }
    }
    QVERIFY(errors > 0);

    for (int round = 0; round < 50000; ++round) {
        TFields fields;
        QByteArray line;
        int count = random.bounded(1, 6);
        for (int f = 0; f < count; ++f) {
            QByteArray field;
            int length = random.bounded(6);
            for (int i = 0; i < length; ++i) {
                char c;
                do {
                    c = alphabet[random.bounded(int(sizeof alphabet))];
                } while (c == '"');
                field.append(c);
            }
            fields.append(field);
            line += (f ? "," : "") + ('"' + field + '"');
        }
        if (fields.back().isEmpty())
            fields.removeLast();
        ExtractFields(line, result);
        if (result != fields)
            QFAIL(qPrintable("quoted fields differ for " + line.toHex()));
    }
    QVERIFY(timer.elapsed() < 20000);
}

QTEST_GUILESS_MAIN(TestMirvParser)
#include "tst_mirvparser.moc"
