#include "base/Error.h"
#include "data/CsvFields.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

namespace {

const QString CsvError = QStringLiteral("String is a badly formed CSV string: mismatched quotes, "
                                        "no comma after closing quote [MirvParser.ExtractFields])");

using Fields = QList<QByteArray>;

} // namespace

class TestCsvFields : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wellFormed_data();
    void wellFormed();
    void malformed_data();
    void malformed();
    void emptiesTheListFirst();
    void randomLines();
};

void TestCsvFields::wellFormed_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<Fields>("fields");
    QTest::newRow("two plain fields") << QByteArray("Ann,123") << Fields{"Ann", "123"};
    QTest::newRow("empty line") << QByteArray() << Fields{};
    QTest::newRow("single comma") << QByteArray(",") << Fields{""};
    QTest::newRow("leading comma") << QByteArray(",123") << Fields{"", "123"};
    QTest::newRow("trailing comma adds no field") << QByteArray("Ann,") << Fields{"Ann"};
    QTest::newRow("empty middle field") << QByteArray("a,,b") << Fields{"a", "", "b"};
    QTest::newRow("quoted comma") << QByteArray("\"Smith, Ann\",\"123\",3")
                                  << Fields{"Smith, Ann", "123", "3"};
    QTest::newRow("final empty quoted pair adds no field") << QByteArray("a,\"\"") << Fields{"a"};
    QTest::newRow("empty quoted pair before comma") << QByteArray("\"\",x") << Fields{"", "x"};
    QTest::newRow("blank before quote makes it plain")
        << QByteArray("a, \"b\"") << Fields{"a", " \"b\""};
    QTest::newRow("blank before comma kept") << QByteArray("Ann ,123") << Fields{"Ann ", "123"};
    QTest::newRow("quote inside plain field") << QByteArray("a\"b,c") << Fields{"a\"b", "c"};
    QTest::newRow("fourth field") << QByteArray("a,b,c,d") << Fields{"a", "b", "c", "d"};
    QTest::newRow("8-bit and NUL bytes")
        << QByteArray("\xe9t\xe9,\x00\xff", 6) << Fields{"\xe9t\xe9", QByteArray("\x00\xff", 2)};
    QTest::newRow("CR stays in the field") << QByteArray("a\r,b") << Fields{"a\r", "b"};
}

void TestCsvFields::wellFormed() {
    QFETCH(QByteArray, line);
    QFETCH(Fields, fields);
    Fields result;
    extractFields(line, result);
    QCOMPARE(result, fields);
}

void TestCsvFields::malformed_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<Fields>("before");
    QTest::newRow("unclosed quote") << QByteArray("\"Ann,123") << Fields{};
    QTest::newRow("unclosed quote after fields") << QByteArray("a,b,\"c") << Fields{"a", "b"};
    QTest::newRow("blank after closing quote") << QByteArray("\"Ann\" ,123") << Fields{};
    QTest::newRow("blank after closing quote, later field")
        << QByteArray("x,\"Ann\" ,123") << Fields{"x"};
    QTest::newRow("text after closing quote at end") << QByteArray("x,\"a\"b") << Fields{"x"};
    QTest::newRow("doubled quote is no escape") << QByteArray("\"say \"\"hi\"\"\",1") << Fields{};
    QTest::newRow("exported name with a quote")
        << QByteArray("\"The \"Boss\"\",\"123\",0") << Fields{};
    QTest::newRow("lone quote") << QByteArray("\"") << Fields{};
}

void TestCsvFields::malformed() {
    QFETCH(QByteArray, line);
    QFETCH(Fields, before);
    Fields result{"stale"};
    try {
        extractFields(line, result);
        QFAIL("no error raised");
    } catch (const Error &e) {
        QCOMPARE(e.message(), CsvError);
    }
    QCOMPARE(result, before);
}

void TestCsvFields::emptiesTheListFirst() {
    Fields result{"old", "older"};
    extractFields(QByteArray(), result);
    QVERIFY(result.isEmpty());
}

// Random lines never crash. Lines without quotes split exactly at the commas; lines of quoted
// fields give their fields back.
void TestCsvFields::randomLines() {
    QRandomGenerator random(4711);
    const char alphabet[] = {'a', 'b', ',', '"', ' ', '\r', '\n', '\0', '\xff', '\x7f'};
    QElapsedTimer timer;
    timer.start();
    int errors = 0;
    Fields result;
    for (int round = 0; round < 300000; ++round) {
        QByteArray line;
        int length = random.bounded(24);
        for (int i = 0; i < length; ++i)
            line.append(alphabet[random.bounded(int(sizeof alphabet))]);
        try {
            extractFields(line, result);
        } catch (const Error &e) {
            if (e.message() != CsvError)
                QFAIL("wrong error text");
            ++errors;
            continue;
        }
        if (!line.contains('"')) {
            Fields expected = line.split(',');
            if (expected.back().isEmpty())
                expected.removeLast();
            if (result != expected)
                QFAIL(qPrintable("plain split differs for " + line.toHex()));
        }
    }
    QVERIFY(errors > 0);

    for (int round = 0; round < 50000; ++round) {
        Fields fields;
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
        extractFields(line, result);
        if (result != fields)
            QFAIL(qPrintable("quoted fields differ for " + line.toHex()));
    }
    QVERIFY(timer.elapsed() < 20000);
}

QTEST_GUILESS_MAIN(TestCsvFields)
#include "tst_csvfields.moc"
