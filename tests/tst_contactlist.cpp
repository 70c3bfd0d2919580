#include "base/Error.h"
#include "data/ContactList.h"
#include "data/PhoneNumberParser.h"
#include "support/ByteWriter.h"
#include "support/FileSizeLimit.h"
#include "support/TestFiles.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <future>

using Contacts = QList<Contact>;
Q_DECLARE_METATYPE(Contact)

namespace {

const QString CsvError = QStringLiteral("String is a badly formed CSV string: mismatched quotes, "
                                        "no comma after closing quote [MirvParser.ExtractFields])");

Contact makeContact(const QString &name, const QByteArray &number, qint32 sent = 0,
                    quint8 checked = 1) {
    Contact c;
    c.name = name;
    c.number = number;
    c.sentCount = sent;
    c.checked = checked;
    return c;
}

Contacts contents(ContactList &list) {
    Contacts result;
    for (int i = 0; i < list.count(); ++i)
        result.append(list.get(i));
    return result;
}

void fill(ContactList &list, const Contacts &contacts) {
    for (const Contact &c : contacts)
        list.add(c);
}

} // namespace

class TestContactList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void incSentCount_data();
    void incSentCount();
    void incSentCountComparesParsedNumbers_data();
    void incSentCountComparesParsedNumbers();
    void incSentCountFollowsCountryChange();
    void sentCountIndexFollowsEveryChange();
    void sentCountIndexAfterLoadAndImport();
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
    void exportedNameWithQuoteComesBack();
    void exportImportRandomStrings();
    void importRefusesWhatIsNoAddressBook_data();
    void importRefusesWhatIsNoAddressBook();
    void exportFailureKeepsOldFile();
    void exportCannotCreate();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
};

void TestContactList::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestContactList::incSentCount_data() {
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QList<int>>("counts");
    // List: "+306912", "306912", "30 6912", "+306912" again.
    QTest::newRow("first of two equal numbers") << QByteArray("+306912") << QList<int>{1, 0, 0, 0};
    QTest::newRow("without plus") << QByteArray("306912") << QList<int>{0, 1, 0, 0};
    // Spaces are formatting: "30 6912" is the short number 306912, whose first contact is b.
    QTest::newRow("with a blank") << QByteArray("30 6912") << QList<int>{0, 1, 0, 0};
    QTest::newRow("unknown number") << QByteArray("999") << QList<int>{0, 0, 0, 0};
    QTest::newRow("empty number") << QByteArray() << QList<int>{0, 0, 0, 0};
    QTest::newRow("prefix only") << QByteArray("+3069") << QList<int>{0, 0, 0, 0};
}

void TestContactList::incSentCount() {
    QFETCH(QByteArray, number);
    QFETCH(QList<int>, counts);
    int calls = 0;
    ContactList list;
    fill(list, {makeContact("a", "+306912"), makeContact("b", "306912"),
                makeContact("c", "30 6912"), makeContact("d", "+306912")});
    list.onChange = [&](ContactList &) { ++calls; };
    list.incSentCount(number);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(list.get(i).sentCount, counts[i]);
    QCOMPARE(calls, 0);
    list.onChange = nullptr;
}

void TestContactList::incSentCountComparesParsedNumbers_data() {
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QList<int>>("counts");
    // List with "DE": "0151 1234 5678", "+49 (151) 1234-5678", "0049 151 12345678", "112",
    // "2222", "+4930123456".
    QTest::newRow("first of three ways to write one number")
        << QByteArray("+4915112345678") << QList<int>{1, 0, 0, 0, 0, 0};
    QTest::newRow("a short code as typed") << QByteArray("2222") << QList<int>{0, 0, 0, 0, 1, 0};
    QTest::newRow("the number typed another way")
        << QByteArray("030 123456") << QList<int>{0, 0, 0, 0, 0, 1};
    QTest::newRow("refused number as it is") << QByteArray("112") << QList<int>{0, 0, 0, 1, 0, 0};
    QTest::newRow("unknown number") << QByteArray("+4915199999999") << QList<int>{0, 0, 0, 0, 0, 0};
}

void TestContactList::incSentCountComparesParsedNumbers() {
    QFETCH(QByteArray, number);
    QFETCH(QList<int>, counts);
    ContactList list;
    list.setCountrySource([] { return QStringLiteral("DE"); });
    fill(list, {makeContact("a", "0151 1234 5678"), makeContact("b", "+49 (151) 1234-5678"),
                makeContact("c", "0049 151 12345678"), makeContact("d", "112"),
                makeContact("e", "2222"), makeContact("f", "+4930123456")});
    list.incSentCount(number);
    for (int i = 0; i < counts.size(); ++i)
        QCOMPARE(list.get(i).sentCount, counts[i]);
}

void TestContactList::incSentCountFollowsCountryChange() {
    QString country = QStringLiteral("DE");
    ContactList list;
    list.setCountrySource([&country] { return country; });
    fill(list, {makeContact("de", "0151 1234 5678"), makeContact("fr", "06 12 34 56 78")});
    list.incSentCount("+33612345678");
    list.incSentCount("+4915112345678");
    QCOMPARE(list.get(0).sentCount, 1);
    QCOMPARE(list.get(1).sentCount, 0);
    country = QStringLiteral("FR");
    list.incSentCount("+33612345678");
    list.incSentCount("+4915112345678");
    QCOMPARE(list.get(0).sentCount, 1);
    QCOMPARE(list.get(1).sentCount, 1);
}

// Random adds, edits, puts, deletions and clears on a list with many ways of writing a few
// numbers; after each step every number raises the count the rule names: the first contact in
// list order whose parsed number is the one sent.
void TestContactList::sentCountIndexFollowsEveryChange() {
    const QList<QByteArray> forms = {"0151 1234 5678",
                                     "+4915112345678",
                                     "0049151 12345678",
                                     "030 123456",
                                     "+4930123456",
                                     "2222",
                                     "",
                                     "garbage",
                                     "06 12 34 56 78"};
    const QList<QByteArray> sent = {"+4915112345678", "+4930123456", "2222", "",
                                    "garbage",        "+33612345678"};
    PhoneNumberParser parser(QStringLiteral("DE"));
    auto *random = QRandomGenerator::global();
    const quint32 seed = random->generate();
    QRandomGenerator generator(seed);
    auto pick = [&](int bound) { return int(generator.bounded(bound)); };
    ContactList list;
    list.setCountrySource([] { return QStringLiteral("DE"); });
    Contacts model;
    for (int step = 0; step < 3000; ++step) {
        const int op = pick(100);
        const int count = int(model.size());
        if (op < 35 || count == 0) {
            const Contact c = makeContact(QString::number(step), forms[pick(int(forms.size()))]);
            list.add(c);
            model.append(c);
        } else if (op < 50) {
            const int index = pick(count);
            const QByteArray number = forms[pick(int(forms.size()))];
            QVERIFY(list.edit(index, QStringLiteral("edited"), number).has_value());
            model[index].name = QStringLiteral("edited");
            model[index].number = number;
        } else if (op < 58) {
            const int index = pick(count);
            const Contact c =
                makeContact(QStringLiteral("put"), forms[pick(int(forms.size()))], pick(5));
            list.put(index, c);
            model[index] = c;
        } else if (op < 68) {
            const int index = pick(count);
            list.remove(index);
            model.removeAt(index);
        } else if (op < 75) {
            QList<int> indices;
            for (int i = pick(4); i >= 0; --i)
                indices << pick(count);
            list.removeMany(indices);
            std::sort(indices.begin(), indices.end());
            indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
            for (qsizetype i = indices.size() - 1; i >= 0; --i)
                model.removeAt(indices[i]);
        } else if (op < 76) {
            list.clear();
            model.clear();
        } else {
            const QByteArray number = sent[pick(int(sent.size()))];
            list.incSentCount(number);
            const QByteArray key = parser.key(number);
            for (Contact &c : model) {
                if (parser.key(c.number) == key) {
                    ++c.sentCount;
                    break;
                }
            }
        }
        if (contents(list) != model)
            QFAIL(qPrintable(QStringLiteral("step %1, seed %2").arg(step).arg(seed)));
    }
}

void TestContactList::sentCountIndexAfterLoadAndImport() {
    ContactList list;
    list.setCountrySource([] { return QStringLiteral("DE"); });
    fill(list, {makeContact("old", "0151 1234 5678")});
    // A load replaces the list: the old contact's number no longer counts.
    {
        ContactList source;
        fill(source, {makeContact("x", "030 123456"), makeContact("y", "0151 1234 5678")});
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        source.saveToStream(buffer);
        buffer.seek(0);
        list.loadFromStream(buffer, 10);
    }
    list.incSentCount("+4915112345678");
    QCOMPARE(contents(list),
             (Contacts{makeContact("x", "030 123456"), makeContact("y", "0151 1234 5678", 1)}));
    // Imported contacts count at once; the one already in the list stays first.
    const QString file = path(QStringLiteral("more.csv"));
    writeAll(file, "\"z\",\"+49 151 12345678\"\r\n\"w\",\"0171 7654321\"\r\n");
    const ImportResult result = list.importFromFile(file, QStringLiteral("DE"));
    QCOMPARE(result.imported, 1);
    list.incSentCount("+491717654321");
    list.incSentCount("+4915112345678");
    QCOMPARE(list.get(1).sentCount, 2);
    QCOMPARE(list.get(2).sentCount, 1);
    // Entries added behind the list's back are found all the same.
    {
        ContactList::Locker lock(list);
        lock->insert(lock->begin(), std::make_shared<Contact>(makeContact("v", "+4930123456")));
    }
    list.incSentCount("+4930123456");
    QCOMPARE(list.get(0).sentCount, 1);
    QCOMPARE(list.get(1).sentCount, 0);
}

void TestContactList::checkedCount() {
    ContactList list;
    QCOMPARE(list.checkedCount(), 0);
    list.add(Contact());
    QCOMPARE(list.checkedCount(), 1); // new contacts start checked
    list.add(makeContact("b", "2", 0, 0));
    list.add(makeContact("c", "3", 0, 5));
    QCOMPARE(list.checkedCount(), 2);
    int calls = 0;
    list.onChange = [&](ContactList &) { ++calls; };
    {
        // The contacts view's bulk check: in place, no notification.
        ContactList::Locker lock(list);
        for (auto &c : *lock)
            c->checked = 0;
    }
    QCOMPARE(list.checkedCount(), 0);
    QCOMPARE(calls, 0);
    list.onChange = nullptr;
}

void TestContactList::streamLayout() {
    ContactList list;
    QBuffer empty;
    empty.open(QIODevice::WriteOnly);
    list.saveToStream(empty);
    QCOMPARE(empty.data(), QByteArray(4, '\0'));

    Contact blank;
    blank.checked = 0;
    list.add(blank);
    QBuffer one;
    one.open(QIODevice::WriteOnly);
    list.saveToStream(one);
    QCOMPARE(one.data().size(), 4 + 13);
    QCOMPARE(one.data(), QByteArray(17, '\0').replace(0, 1, "\x01"));

    list.clear();
    list.add(makeContact(QStringLiteral("Ελένη 李"), "+30 69", 0x01020304, 1));
    QBuffer full;
    full.open(QIODevice::WriteOnly);
    list.saveToStream(full);
    QCOMPARE(full.data(), ByteWriter()
                              .int32(1)
                              .wide(QStringLiteral("Ελένη 李"))
                              .ansi("+30 69")
                              .int32(0x01020304)
                              .byte(1)
                              .bytes);
}

void TestContactList::loadRules() {
    ContactList source;
    fill(source,
         {makeContact(QString(QChar(0xDC00)) + "x", "1", -3, 0), makeContact("", "", 7, 9)});
    QBuffer saved;
    saved.open(QIODevice::ReadWrite);
    source.saveToStream(saved);

    // Version other than 10: nothing consumed, nothing changed.
    ContactList target;
    target.add(makeContact("keep", "0"));
    saved.seek(0);
    target.loadFromStream(saved, 9);
    QCOMPARE(saved.pos(), 0);
    QCOMPARE(contents(target), Contacts{makeContact("keep", "0")});

    // A complete load replaces the contents, keeping every value as it was.
    target.loadFromStream(saved, 10);
    QCOMPARE(saved.pos(), saved.size());
    QCOMPARE(contents(target), contents(source));

    // Any cut leaves the list as it was.
    for (qsizetype cut = 0; cut < saved.size(); ++cut) {
        QByteArray bytes = saved.data().left(cut);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        ContactList list;
        list.add(makeContact("keep", "0"));
        QCOMPARE(errorMessage([&] { list.loadFromStream(buffer, 10); }),
                 QStringLiteral("Stream read error"));
        QCOMPARE(contents(list), Contacts{makeContact("keep", "0")});
    }

    QByteArray negative = ByteWriter().int32(-7).bytes;
    QBuffer buffer(&negative);
    buffer.open(QIODevice::ReadOnly);
    QCOMPARE(errorMessage([&] { target.loadFromStream(buffer, 10); }),
             QStringLiteral("List count out of bounds (-7)"));
    QCOMPARE(target.count(), 2);
}

void TestContactList::parseContactLine_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<Contact>("contact");
    QTest::newRow("name and number") << QByteArray("Ann,123") << true << makeContact("Ann", "123");
    QTest::newRow("quoted name with comma and count")
        << QByteArray("\"Smith, Ann\",\"+44 7700\",3") << true
        << makeContact("Smith, Ann", "+44 7700", 3);
    QTest::newRow("empty name") << QByteArray(",123,4") << false << makeContact("", "123", 4);
    QTest::newRow("name only") << QByteArray("Ann") << false << makeContact("Ann", "");
    QTest::newRow("count not a number")
        << QByteArray("Ann,123,many") << true << makeContact("Ann", "123", 0);
    QTest::newRow("count too large")
        << QByteArray("Ann,123,99999999999") << true << makeContact("Ann", "123", 0);
    QTest::newRow("negative count")
        << QByteArray("Ann,123,-2") << true << makeContact("Ann", "123", -2);
    QTest::newRow("fourth field ignored")
        << QByteArray("Ann,123,2,x") << true << makeContact("Ann", "123", 2);
    QTest::newRow("blank before comma stays")
        << QByteArray("Ann ,123") << true << makeContact("Ann ", "123");
    QTest::newRow("empty line") << QByteArray() << false << Contact();
    QTest::newRow("8-bit name") << QByteArray("\xce\x95\xce\xbb\xce\xad\xce\xbd\xce\xb7,1") << true
                                << makeContact(QStringLiteral("Ελένη"), "1");
}

void TestContactList::parseContactLine() {
    QFETCH(QByteArray, line);
    QFETCH(bool, usable);
    QFETCH(Contact, contact);
    Contact parsed = makeContact("stale", "stale", 9, 0);
    QCOMPARE(ContactList::parseContactLine(line, parsed), usable);
    QCOMPARE(parsed, contact);
}

void TestContactList::import_data() {
    QTest::addColumn<Contacts>("before");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Contacts>("after");
    QTest::addColumn<int>("imported");
    QTest::addColumn<int>("duplicates");
    Contact a = makeContact("Ann", "1");
    Contact b = makeContact("Bob", "2", 5);
    QTest::newRow("empty file") << Contacts{} << QByteArray() << Contacts{} << 0 << 0;
    QTest::newRow("LF") << Contacts{} << QByteArray("Ann,1\nBob,2,5\n") << Contacts{a, b} << 2 << 0;
    QTest::newRow("CR") << Contacts{} << QByteArray("Ann,1\rBob,2,5\r") << Contacts{a, b} << 2 << 0;
    QTest::newRow("CR LF") << Contacts{} << QByteArray("Ann,1\r\nBob,2,5\r\n") << Contacts{a, b}
                           << 2 << 0;
    QTest::newRow("last line without end")
        << Contacts{} << QByteArray("Ann,1\r\nBob,2,5") << Contacts{a, b} << 2 << 0;
    QTest::newRow("mixed ends and blank lines")
        << Contacts{} << QByteArray("\r\n\nAnn,1\n\r\rBob,2,5\r\n\r\n") << Contacts{a, b} << 2 << 0;
    QTest::newRow("same number twice in file")
        << Contacts{} << QByteArray("Ann,1\nAnnie,1,9\nBob,2,5") << Contacts{a, b} << 2 << 1;
    QTest::newRow("number already in list under another name")
        << Contacts{makeContact("Other", "2", 1, 0)} << QByteArray("Ann,1\nBob,2,5")
        << Contacts{makeContact("Other", "2", 1, 0), a} << 1 << 1;
    QTest::newRow("unusable lines counted nowhere")
        << Contacts{} << QByteArray(",1\nNameOnly\n\"\",\"\"\nAnn,1") << Contacts{a} << 1 << 0;
    QTest::newRow("numbers compared byte for byte")
        << Contacts{a} << QByteArray("A,+1\nB, 1\nC,1 \nD,1")
        << Contacts{a, makeContact("A", "+1"), makeContact("B", " 1"), makeContact("C", "1 ")} << 3
        << 1;
}

void TestContactList::import() {
    QFETCH(Contacts, before);
    QFETCH(QByteArray, file);
    QFETCH(Contacts, after);
    QFETCH(int, imported);
    QFETCH(int, duplicates);
    writeAll(path("in.csv"), file);
    int calls = 0;
    ContactList list;
    fill(list, before);
    list.onChange = [&](ContactList &) { ++calls; };
    ImportResult result = list.importFromFile(path("in.csv"));
    QCOMPARE(result.imported, imported);
    QCOMPARE(result.duplicates, duplicates);
    QCOMPARE(contents(list), after);
    QCOMPARE(calls, imported > 0 ? 1 : 0);
    list.onChange = nullptr;
}

void TestContactList::importMalformedLineKeepsEarlierContacts() {
    // A malformed line is skipped and named; the lines before and after it are imported.
    writeAll(path("in.csv"), "Ann,1\n\"Bob\" ,2\nCid,3\n");
    int calls = 0;
    ContactList list;
    list.onChange = [&](ContactList &) { ++calls; };
    ImportResult result = list.importFromFile(path("in.csv"));
    QCOMPARE(result.skippedLines, QStringList{QStringLiteral("line 2: ") + CsvError});
    QCOMPARE(result.imported, 2);
    QCOMPARE(contents(list), (Contacts{makeContact("Ann", "1"), makeContact("Cid", "3")}));
    QCOMPARE(calls, 1);

    // A quote never closed spoils its own line only.
    writeAll(path("bad.csv"), "\"unclosed,1\nDan,4\n");
    result = list.importFromFile(path("bad.csv"));
    QCOMPARE(result.skippedLines, QStringList{QStringLiteral("line 1: ") + CsvError});
    QCOMPARE(list.count(), 3);
    QCOMPARE(list.get(2).name, QStringLiteral("Dan"));
    QCOMPARE(calls, 2);

    // Nothing usable: nothing added, no notification.
    writeAll(path("worse.csv"), "\"x\"y,1\n");
    result = list.importFromFile(path("worse.csv"));
    QCOMPARE(result.skippedLines.size(), 1);
    QCOMPARE(result.imported, 0);
    QCOMPARE(calls, 2);
    list.onChange = nullptr;
}

void TestContactList::importNotifiesAfterUnlockAndOnlyWhenAdded() {
    writeAll(path("in.csv"), "Ann,1\nBob,2\n");
    bool lockFree = false;
    int calls = 0;
    ContactList list;
    list.onChange = [&](ContactList &l) {
        ++calls;
        auto count = std::async(std::launch::async, [&l] { return l.count(); });
        lockFree = count.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    };
    ImportResult first = list.importFromFile(path("in.csv"));
    QCOMPARE(first.imported, 2);
    QCOMPARE(calls, 1);
    QVERIFY(lockFree);
    ImportResult again = list.importFromFile(path("in.csv"));
    QCOMPARE(again.imported, 0);
    QCOMPARE(again.duplicates, 2);
    QCOMPARE(calls, 1);
    list.onChange = nullptr;
}

void TestContactList::importUnreadableFile() {
    ContactList list;
    list.add(makeContact("Ann", "1"));
    QString error = errorMessage([&] { list.importFromFile(path("missing.csv")); });
    QVERIFY2(error.contains(QStringLiteral("No such file"), Qt::CaseInsensitive),
             qPrintable(error));
    QCOMPARE(list.count(), 1);
}

// The hash of numbers must give exactly what scanning the list for every line gives.
void TestContactList::importDuplicateRuleMatchesListScan() {
    QRandomGenerator random(99);
    for (int round = 0; round < 50; ++round) {
        Contacts before;
        for (int i = random.bounded(20); i > 0; --i)
            before.append(makeContact("p", QByteArray::number(random.bounded(30))));
        QByteArray file;
        QList<QByteArray> lines;
        for (int i = random.bounded(60); i > 0; --i) {
            QByteArray number = QByteArray::number(random.bounded(40));
            QByteArray name = random.bounded(5) ? "n" + QByteArray::number(i) : QByteArray();
            lines.append(name + "," + number + "," + QByteArray::number(i));
        }
        file = lines.join("\r\n");
        writeAll(path("in.csv"), file);

        Contacts expected = before;
        int imported = 0;
        int duplicates = 0;
        for (const QByteArray &line : lines) {
            Contact c;
            if (!ContactList::parseContactLine(line, c))
                continue;
            bool present = std::any_of(expected.begin(), expected.end(),
                                       [&](const Contact &e) { return e.number == c.number; });
            if (present) {
                ++duplicates;
            } else {
                expected.append(c);
                ++imported;
            }
        }
        ContactList list;
        fill(list, before);
        ImportResult result = list.importFromFile(path("in.csv"));
        QCOMPARE(result.imported, imported);
        QCOMPARE(result.duplicates, duplicates);
        QCOMPARE(contents(list), expected);
    }
}

void TestContactList::exportLayout() {
    int calls = 0;
    ContactList list;
    fill(list, {makeContact("Ann", "+44 1", 3, 0), makeContact("", "", -1),
                makeContact(QStringLiteral("Smith, \"Jo\" Ελ"), "1,2", 0)});
    list.onChange = [&](ContactList &) { ++calls; };
    writeAll(path("out.csv"), "old content that is longer than the new one............");
    list.exportToFile(path("out.csv"));
    QCOMPARE(readAll(path("out.csv")),
             QByteArray("\"Ann\",\"+44 1\",3\r\n"
                        "\"\",\"\",-1\r\n"
                        "\"Smith, \"\"Jo\"\" \xce\x95\xce\xbb\",\"1,2\",0\r\n"));
    QCOMPARE(calls, 0);
    list.onChange = nullptr;
    ContactList empty;
    empty.exportToFile(path("empty.csv"));
    QCOMPARE(readAll(path("empty.csv")), QByteArray());
}

void TestContactList::exportImportRoundTrip() {
    ContactList source;
    fill(source, {makeContact(QStringLiteral("Ελένη, Π."), "+30 691", 12, 0),
                  makeContact(QStringLiteral("李小龍 😀"), "0044", 0, 1),
                  makeContact("Plain", "1", 2147483647, 0)});
    source.exportToFile(path("out.csv"));
    ContactList target;
    ImportResult result = target.importFromFile(path("out.csv"));
    QCOMPARE(result.imported, 3);
    QCOMPARE(result.duplicates, 0);
    Contacts expected = contents(source);
    for (Contact &c : expected)
        c.checked = 1; // the check mark is not in the file
    QCOMPARE(contents(target), expected);
}

void TestContactList::exportedNameWithQuoteComesBack() {
    ContactList source;
    fill(source,
         {makeContact("Ann", "1"), makeContact("The \"Boss\"", "2\""), makeContact("\"", "3")});
    source.exportToFile(path("out.csv"));
    QVERIFY(readAll(path("out.csv")).contains("\"The \"\"Boss\"\"\",\"2\"\"\",0\r\n"));
    ContactList target;
    const ImportResult result = target.importFromFile(path("out.csv"));
    QCOMPARE(result.skippedLines, QStringList());
    QCOMPARE(contents(target), contents(source));
}

void TestContactList::exportImportRandomStrings() {
    // Quotes, separators and line breaks anywhere in a name or a number.
    const QString alphabet = QStringLiteral("ab \",;\t\r\n'\\=+-()Ωλ李😀");
    QRandomGenerator random(20261209);
    auto randomText = [&](int minLength) {
        QString text;
        const int length = minLength + int(random.bounded(12));
        while (text.size() < length) {
            const qsizetype at = qsizetype(random.bounded(int(alphabet.size())));
            // A surrogate pair is one character.
            if (alphabet[at].isHighSurrogate())
                text += alphabet.mid(at, 2);
            else if (!alphabet[at].isLowSurrogate())
                text += alphabet[at];
        }
        return text;
    };
    ContactList source;
    for (int i = 0; i < 400; ++i) {
        // A number's digits keep it apart from the others (duplicates are not imported).
        const QByteArray number =
            randomText(0).toUtf8() + QByteArray::number(100000 + i) + randomText(0).toUtf8();
        source.add(makeContact(QStringLiteral("x") + randomText(0), number,
                               qint32(random.bounded(1000)), 1));
    }
    source.exportToFile(path("random.csv"));
    ContactList target;
    const ImportResult result = target.importFromFile(path("random.csv"));
    QCOMPARE(result.skippedLines, QStringList());
    QCOMPARE(result.duplicates, 0);
    QCOMPARE(contents(target), contents(source));
}

void TestContactList::importRefusesWhatIsNoAddressBook_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");
    QTest::newRow("endless device") << QStringLiteral("/dev/zero") << QByteArray()
                                    << QStringLiteral("Cannot import /dev/zero: it is not a text "
                                                      "file");
    QTest::newRow("binary") << QStringLiteral("bin.csv")
                            << QByteArray("\"Ann\",\"1\",0\r\n\x7f"
                                          "ELF\0\0\x01",
                                          21)
                            << QStringLiteral("it is not a text file");
    QTest::newRow("line over 64 KiB")
        << QStringLiteral("long.csv")
        << QByteArray("\"Ann\",\"1\",0\r\n\"") + QByteArray(64 * 1024, 'n') + "\",\"2\",0\r\n"
        << QStringLiteral("line 2 is longer than 64 KiB");
}

void TestContactList::importRefusesWhatIsNoAddressBook() {
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    if (!file.startsWith(u'/')) {
        file = path(file);
        writeAll(file, content);
    }
    ContactList list;
    list.add(makeContact("Kept", "9"));
    const QString message = errorMessage([&] { list.importFromFile(file); });
    QVERIFY2(message.endsWith(error), qPrintable(message));
    QVERIFY(message.startsWith(QStringLiteral("Cannot import ")));
    QCOMPARE(contents(list), Contacts{makeContact("Kept", "9")});

    // A line of exactly 64 KiB is still an address book's.
    if (content.contains(QByteArray(64 * 1024, 'n'))) {
        writeAll(file, "\"Ann\",\"" + QByteArray(64 * 1024 - 10, '1') + "\",0\r\n");
        QCOMPARE(list.importFromFile(file).imported, 1);
    }
}

void TestContactList::exportFailureKeepsOldFile() {
    ContactList list;
    for (int i = 0; i < 20000; ++i)
        list.add(makeContact(QStringLiteral("Contact %1").arg(i), QByteArray::number(i)));
    QByteArray old = "\"Old\",\"1\",0\r\n";
    writeAll(path("out.csv"), old);
    QString error;
    {
        FileSizeLimit limit(4096);
        error = errorMessage([&] { list.exportToFile(path("out.csv")); });
    }
    QCOMPARE(error, QStringLiteral("Cannot write %1: File too large").arg(path("out.csv")));
    QCOMPARE(readAll(path("out.csv")), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"out.csv"});
}

void TestContactList::exportCannotCreate() {
    ContactList list;
    list.add(makeContact("Ann", "1"));
    QString error = errorMessage([&] { list.exportToFile(path("no/such/dir/out.csv")); });
    QVERIFY2(error.contains(QStringLiteral("No such file"), Qt::CaseInsensitive),
             qPrintable(error));
}

QTEST_GUILESS_MAIN(TestContactList)
#include "tst_contactlist.moc"
