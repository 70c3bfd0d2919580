#include "app/Errors.h"
#include "data/ContactUnit.h"
#include "support/ByteWriter.h"
#include "support/FileSizeLimit.h"
#include "support/TestFiles.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <future>

using TContacts = QList<TContact>;
Q_DECLARE_METATYPE(TContact)

namespace {

const QString CsvError = QStringLiteral("String is a badly formed CSV string: mismatched quotes, "
                                        "no comma after closing quote [MirvParser.ExtractFields])");

TContact MakeContact(const QString &name, const QByteArray &number, qint32 sent = 0,
                     quint8 checked = 1) {
    TContact c;
    c.Name = name;
    c.Number = number;
    c.SentCount = sent;
    c.Checked = checked;
    return c;
}

TContacts Contents(TContactList &list) {
    TContacts result;
    for (int i = 0; i < list.Count(); ++i)
        result.append(list.Get(i));
    return result;
}

void Fill(TContactList &list, const TContacts &contacts) {
    for (const TContact &c : contacts)
        list.Add(c);
}

} // namespace

class TestContactList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void incSentCount_data();
    void incSentCount();
    void checkedCount();
    void streamLayout();
    void loadRules();
    void parseContactLine_data();
    void parseContactLine();
    void import_data();
    void import();
    void importMalformedLineKeepsEarlierContacts();
    void importNotifiesAfterUnlockAndOnlyWhenAdded();
    void importUnreadableFile();
    void importDuplicateRuleMatchesListScan();
    void exportLayout();
    void exportImportRoundTrip();
    void exportedNameWithQuoteFailsReimport();
    void exportFailureKeepsOldFile();
    void exportCannotCreate();

private:
    std::unique_ptr<QTemporaryDir> FDir;
    QString Path(const QString &name) const { return FDir->filePath(name); }
};

void TestContactList::init() {
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

void TestContactList::incSentCount_data() {
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QList<int>>("counts");
    // List: "+306912", "306912", "30 6912", "+306912" again.
    QTest::newRow("first of two equal numbers") << QByteArray("+306912") << QList<int>{1, 0, 0, 0};
    QTest::newRow("without plus") << QByteArray("306912") << QList<int>{0, 1, 0, 0};
    QTest::newRow("with a blank") << QByteArray("30 6912") << QList<int>{0, 0, 1, 0};
    QTest::newRow("unknown number") << QByteArray("999") << QList<int>{0, 0, 0, 0};
    QTest::newRow("empty number") << QByteArray() << QList<int>{0, 0, 0, 0};
    QTest::newRow("prefix only") << QByteArray("+3069") << QList<int>{0, 0, 0, 0};
}

void TestContactList::incSentCount() {
    QFETCH(QByteArray, number);
    QFETCH(QList<int>, counts);
    int calls = 0;
    TContactList list;
    Fill(list, {MakeContact("a", "+306912"), MakeContact("b", "306912"),
                MakeContact("c", "30 6912"), MakeContact("d", "+306912")});
    list.OnChange = [&](TContactList &) { ++calls; };
    list.IncSentCount(number);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(list.Get(i).SentCount, counts[i]);
    QCOMPARE(calls, 0);
    list.OnChange = nullptr;
}

void TestContactList::checkedCount() {
    TContactList list;
    QCOMPARE(list.CheckedCount(), 0);
    list.Add(TContact());
    QCOMPARE(list.CheckedCount(), 1); // new contacts start checked
    list.Add(MakeContact("b", "2", 0, 0));
    list.Add(MakeContact("c", "3", 0, 5));
    QCOMPARE(list.CheckedCount(), 2);
    int calls = 0;
    list.OnChange = [&](TContactList &) { ++calls; };
    {
        // The contacts view's bulk check: in place, no notification.
        TContactList::TLocker lock(list);
        for (auto &c : *lock)
            c->Checked = 0;
    }
    QCOMPARE(list.CheckedCount(), 0);
    QCOMPARE(calls, 0);
    list.OnChange = nullptr;
}

void TestContactList::streamLayout() {
    TContactList list;
    QBuffer empty;
    empty.open(QIODevice::WriteOnly);
    list.SaveToStream(empty);
    QCOMPARE(empty.data(), QByteArray(4, '\0'));

    TContact blank;
    blank.Checked = 0;
    list.Add(blank);
    QBuffer one;
    one.open(QIODevice::WriteOnly);
    list.SaveToStream(one);
    QCOMPARE(one.data().size(), 4 + 13);
    QCOMPARE(one.data(), QByteArray(17, '\0').replace(0, 1, "\x01"));

    list.Clear();
    list.Add(MakeContact(QStringLiteral("Ελένη 李"), "+30 69", 0x01020304, 1));
    QBuffer full;
    full.open(QIODevice::WriteOnly);
    list.SaveToStream(full);
    QCOMPARE(full.data(), TByteWriter()
                              .Int32(1)
                              .Wide(QStringLiteral("Ελένη 李"))
                              .Ansi("+30 69")
                              .Int32(0x01020304)
                              .Byte(1)
                              .Bytes);
}

void TestContactList::loadRules() {
    TContactList source;
    Fill(source,
         {MakeContact(QString(QChar(0xDC00)) + "x", "1", -3, 0), MakeContact("", "", 7, 9)});
    QBuffer saved;
    saved.open(QIODevice::ReadWrite);
    source.SaveToStream(saved);

    // Version other than 10: nothing consumed, nothing changed.
    TContactList target;
    target.Add(MakeContact("keep", "0"));
    saved.seek(0);
    target.LoadFromStream(saved, 9);
    QCOMPARE(saved.pos(), 0);
    QCOMPARE(Contents(target), TContacts{MakeContact("keep", "0")});

    // A complete load replaces the contents, keeping every value as it was.
    target.LoadFromStream(saved, 10);
    QCOMPARE(saved.pos(), saved.size());
    QCOMPARE(Contents(target), Contents(source));

    // Any cut leaves the list as it was.
    for (qsizetype cut = 0; cut < saved.size(); ++cut) {
        QByteArray bytes = saved.data().left(cut);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        TContactList list;
        list.Add(MakeContact("keep", "0"));
        QCOMPARE(ErrorMessage([&] { list.LoadFromStream(buffer, 10); }),
                 QStringLiteral("Stream read error"));
        QCOMPARE(Contents(list), TContacts{MakeContact("keep", "0")});
    }

    QByteArray negative = TByteWriter().Int32(-7).Bytes;
    QBuffer buffer(&negative);
    buffer.open(QIODevice::ReadOnly);
    QCOMPARE(ErrorMessage([&] { target.LoadFromStream(buffer, 10); }),
             QStringLiteral("List count out of bounds (-7)"));
    QCOMPARE(target.Count(), 2);
}

void TestContactList::parseContactLine_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<TContact>("contact");
    QTest::newRow("name and number") << QByteArray("Ann,123") << true << MakeContact("Ann", "123");
    QTest::newRow("quoted name with comma and count")
        << QByteArray("\"Smith, Ann\",\"+44 7700\",3") << true
        << MakeContact("Smith, Ann", "+44 7700", 3);
    QTest::newRow("empty name") << QByteArray(",123,4") << false << MakeContact("", "123", 4);
    QTest::newRow("name only") << QByteArray("Ann") << false << MakeContact("Ann", "");
    QTest::newRow("count not a number")
        << QByteArray("Ann,123,many") << true << MakeContact("Ann", "123", 0);
    QTest::newRow("count too large")
        << QByteArray("Ann,123,99999999999") << true << MakeContact("Ann", "123", 0);
    QTest::newRow("negative count")
        << QByteArray("Ann,123,-2") << true << MakeContact("Ann", "123", -2);
    QTest::newRow("fourth field ignored")
        << QByteArray("Ann,123,2,x") << true << MakeContact("Ann", "123", 2);
    QTest::newRow("blank before comma stays")
        << QByteArray("Ann ,123") << true << MakeContact("Ann ", "123");
    QTest::newRow("empty line") << QByteArray() << false << TContact();
    QTest::newRow("8-bit name") << QByteArray("\xce\x95\xce\xbb\xce\xad\xce\xbd\xce\xb7,1") << true
                                << MakeContact(QStringLiteral("Ελένη"), "1");
}

void TestContactList::parseContactLine() {
    QFETCH(QByteArray, line);
    QFETCH(bool, usable);
    QFETCH(TContact, contact);
    TContact parsed = MakeContact("stale", "stale", 9, 0);
    QCOMPARE(TContactList::ParseContactLine(line, parsed), usable);
    QCOMPARE(parsed, contact);
}

void TestContactList::import_data() {
    QTest::addColumn<TContacts>("before");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<TContacts>("after");
    QTest::addColumn<int>("imported");
    QTest::addColumn<int>("duplicates");
    TContact a = MakeContact("Ann", "1");
    TContact b = MakeContact("Bob", "2", 5);
    QTest::newRow("empty file") << TContacts{} << QByteArray() << TContacts{} << 0 << 0;
    QTest::newRow("LF") << TContacts{} << QByteArray("Ann,1\nBob,2,5\n") << TContacts{a, b} << 2
                        << 0;
    QTest::newRow("CR") << TContacts{} << QByteArray("Ann,1\rBob,2,5\r") << TContacts{a, b} << 2
                        << 0;
    QTest::newRow("CR LF") << TContacts{} << QByteArray("Ann,1\r\nBob,2,5\r\n") << TContacts{a, b}
                           << 2 << 0;
    QTest::newRow("last line without end")
        << TContacts{} << QByteArray("Ann,1\r\nBob,2,5") << TContacts{a, b} << 2 << 0;
    QTest::newRow("mixed ends and blank lines")
        << TContacts{} << QByteArray("\r\n\nAnn,1\n\r\rBob,2,5\r\n\r\n") << TContacts{a, b} << 2
        << 0;
    QTest::newRow("same number twice in file")
        << TContacts{} << QByteArray("Ann,1\nAnnie,1,9\nBob,2,5") << TContacts{a, b} << 2 << 1;
    QTest::newRow("number already in list under another name")
        << TContacts{MakeContact("Other", "2", 1, 0)} << QByteArray("Ann,1\nBob,2,5")
        << TContacts{MakeContact("Other", "2", 1, 0), a} << 1 << 1;
    QTest::newRow("unusable lines counted nowhere")
        << TContacts{} << QByteArray(",1\nNameOnly\n\"\",\"\"\nAnn,1") << TContacts{a} << 1 << 0;
    QTest::newRow("numbers compared byte for byte")
        << TContacts{a} << QByteArray("A,+1\nB, 1\nC,1 \nD,1")
        << TContacts{a, MakeContact("A", "+1"), MakeContact("B", " 1"), MakeContact("C", "1 ")} << 3
        << 1;
}

void TestContactList::import() {
    QFETCH(TContacts, before);
    QFETCH(QByteArray, file);
    QFETCH(TContacts, after);
    QFETCH(int, imported);
    QFETCH(int, duplicates);
    WriteAll(Path("in.csv"), file);
    int calls = 0;
    TContactList list;
    Fill(list, before);
    list.OnChange = [&](TContactList &) { ++calls; };
    TImportResult result = list.ImportFromFile(Path("in.csv"));
    QCOMPARE(result.Imported, imported);
    QCOMPARE(result.Duplicates, duplicates);
    QCOMPARE(Contents(list), after);
    QCOMPARE(calls, imported > 0 ? 1 : 0);
    list.OnChange = nullptr;
}

void TestContactList::importMalformedLineKeepsEarlierContacts() {
    WriteAll(Path("in.csv"), "Ann,1\n\"Bob\" ,2\nCid,3\n");
    int calls = 0;
    TContactList list;
    list.OnChange = [&](TContactList &) { ++calls; };
    QCOMPARE(ErrorMessage([&] { list.ImportFromFile(Path("in.csv")); }), CsvError);
    QCOMPARE(Contents(list), TContacts{MakeContact("Ann", "1")});
    QCOMPARE(calls, 1); // so the project is marked modified and the contact is not lost

    // Failing on the first line adds nothing and notifies nothing.
    WriteAll(Path("bad.csv"), "\"unclosed,1\nDan,4\n");
    QCOMPARE(ErrorMessage([&] { list.ImportFromFile(Path("bad.csv")); }), CsvError);
    QCOMPARE(list.Count(), 1);
    QCOMPARE(calls, 1);
    list.OnChange = nullptr;
}

void TestContactList::importNotifiesAfterUnlockAndOnlyWhenAdded() {
    WriteAll(Path("in.csv"), "Ann,1\nBob,2\n");
    bool lockFree = false;
    int calls = 0;
    TContactList list;
    list.OnChange = [&](TContactList &l) {
        ++calls;
        auto count = std::async(std::launch::async, [&l] { return l.Count(); });
        lockFree = count.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    };
    TImportResult first = list.ImportFromFile(Path("in.csv"));
    QCOMPARE(first.Imported, 2);
    QCOMPARE(calls, 1);
    QVERIFY(lockFree);
    TImportResult again = list.ImportFromFile(Path("in.csv"));
    QCOMPARE(again.Imported, 0);
    QCOMPARE(again.Duplicates, 2);
    QCOMPARE(calls, 1);
    list.OnChange = nullptr;
}

void TestContactList::importUnreadableFile() {
    TContactList list;
    list.Add(MakeContact("Ann", "1"));
    QString error = ErrorMessage([&] { list.ImportFromFile(Path("missing.csv")); });
    QVERIFY2(error.contains(QStringLiteral("No such file"), Qt::CaseInsensitive),
             qPrintable(error));
    QCOMPARE(list.Count(), 1);
}

// The hash of numbers must give exactly what scanning the list for every line gives.
void TestContactList::importDuplicateRuleMatchesListScan() {
    QRandomGenerator random(99);
    for (int round = 0; round < 50; ++round) {
        TContacts before;
        for (int i = random.bounded(20); i > 0; --i)
            before.append(MakeContact("p", QByteArray::number(random.bounded(30))));
        QByteArray file;
        QList<QByteArray> lines;
        for (int i = random.bounded(60); i > 0; --i) {
            QByteArray number = QByteArray::number(random.bounded(40));
            QByteArray name = random.bounded(5) ? "n" + QByteArray::number(i) : QByteArray();
            lines.append(name + "," + number + "," + QByteArray::number(i));
        }
        file = lines.join("\r\n");
        WriteAll(Path("in.csv"), file);

        TContacts expected = before;
        int imported = 0;
        int duplicates = 0;
        for (const QByteArray &line : lines) {
            TContact c;
            if (!TContactList::ParseContactLine(line, c))
                continue;
            bool present = std::any_of(expected.begin(), expected.end(),
                                       [&](const TContact &e) { return e.Number == c.Number; });
            if (present) {
                ++duplicates;
            } else {
                expected.append(c);
                ++imported;
            }
        }
        TContactList list;
        Fill(list, before);
        TImportResult result = list.ImportFromFile(Path("in.csv"));
        QCOMPARE(result.Imported, imported);
        QCOMPARE(result.Duplicates, duplicates);
        QCOMPARE(Contents(list), expected);
    }
}

void TestContactList::exportLayout() {
    int calls = 0;
    TContactList list;
    Fill(list, {MakeContact("Ann", "+44 1", 3, 0), MakeContact("", "", -1),
                MakeContact(QStringLiteral("Smith, \"Jo\" Ελ"), "1,2", 0)});
    list.OnChange = [&](TContactList &) { ++calls; };
    WriteAll(Path("out.csv"), "old content that is longer than the new one............");
    list.ExportToFile(Path("out.csv"));
    QCOMPARE(ReadAll(Path("out.csv")),
             QByteArray("\"Ann\",\"+44 1\",3\r\n"
                        "\"\",\"\",-1\r\n"
                        "\"Smith, \"Jo\" \xce\x95\xce\xbb\",\"1,2\",0\r\n"));
    QCOMPARE(calls, 0);
    list.OnChange = nullptr;
    TContactList empty;
    empty.ExportToFile(Path("empty.csv"));
    QCOMPARE(ReadAll(Path("empty.csv")), QByteArray());
}

void TestContactList::exportImportRoundTrip() {
    TContactList source;
    Fill(source, {MakeContact(QStringLiteral("Ελένη, Π."), "+30 691", 12, 0),
                  MakeContact(QStringLiteral("李小龍 😀"), "0044", 0, 1),
                  MakeContact("Plain", "1", 2147483647, 0)});
    source.ExportToFile(Path("out.csv"));
    TContactList target;
    TImportResult result = target.ImportFromFile(Path("out.csv"));
    QCOMPARE(result.Imported, 3);
    QCOMPARE(result.Duplicates, 0);
    TContacts expected = Contents(source);
    for (TContact &c : expected)
        c.Checked = 1; // the check mark is not in the file
    QCOMPARE(Contents(target), expected);
}

void TestContactList::exportedNameWithQuoteFailsReimport() {
    TContactList source;
    Fill(source,
         {MakeContact("Ann", "1"), MakeContact("The \"Boss\"", "2"), MakeContact("Cid", "3")});
    source.ExportToFile(Path("out.csv"));
    TContactList target;
    QCOMPARE(ErrorMessage([&] { target.ImportFromFile(Path("out.csv")); }), CsvError);
    QCOMPARE(Contents(target), TContacts{MakeContact("Ann", "1")});
}

void TestContactList::exportFailureKeepsOldFile() {
    TContactList list;
    for (int i = 0; i < 20000; ++i)
        list.Add(MakeContact(QStringLiteral("Contact %1").arg(i), QByteArray::number(i)));
    QByteArray old = "\"Old\",\"1\",0\r\n";
    WriteAll(Path("out.csv"), old);
    QString error;
    {
        TFileSizeLimit limit(4096);
        error = ErrorMessage([&] { list.ExportToFile(Path("out.csv")); });
    }
    QCOMPARE(error, QStringLiteral("Stream write error"));
    QCOMPARE(ReadAll(Path("out.csv")), old);
    QCOMPARE(QDir(FDir->path()).entryList(QDir::Files), QStringList{"out.csv"});
}

void TestContactList::exportCannotCreate() {
    TContactList list;
    list.Add(MakeContact("Ann", "1"));
    QString error = ErrorMessage([&] { list.ExportToFile(Path("no/such/dir/out.csv")); });
    QVERIFY2(error.contains(QStringLiteral("No such file"), Qt::CaseInsensitive),
             qPrintable(error));
}

QTEST_GUILESS_MAIN(TestContactList)
#include "tst_contactlist.moc"
