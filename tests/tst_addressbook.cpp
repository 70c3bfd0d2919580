// Address books as people have them, written by the tests into a temporary folder and
// imported from there: spreadsheet CSVs with headers in several languages and ";" or tabs,
// UTF-8 with and without BOM, UTF-16, Windows-1252, quoted fields over several lines, vCards
// of versions 2.1, 3.0 and 4.0, and duplicates found by their parsed number.

#include "data/AddressBookReader.h"
#include "data/ContactList.h"
#include "support/TestFiles.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString CsvError = QStringLiteral("String is a badly formed CSV string: mismatched quotes, "
                                        "no comma after closing quote [MirvParser.ExtractFields])");

using Pairs = QList<QPair<QString, QByteArray>>;

Pairs pairsOf(const QList<Contact> &contacts) {
    Pairs pairs;
    for (const Contact &contact : contacts)
        pairs.append({contact.name, contact.number});
    return pairs;
}

QByteArray utf16(const QString &text, bool littleEndian) {
    QStringEncoder encoder(littleEndian ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE);
    return QByteArray(littleEndian ? "\xFF\xFE" : "\xFE\xFF") + QByteArray(encoder(text));
}

} // namespace

class TestAddressBook : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void csv_data();
    void csv();
    void encodings_data();
    void encodings();
    void malformedLinesSkipped_data();
    void malformedLinesSkipped();
    void vcards_data();
    void vcards();
    void exchangeFileRoundTrip();
    void duplicatesByParsedNumber();
    void duplicateIndices();
    void details();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // The file as a person would hand it over: on disk, then imported.
    AddressBook readFile(const QByteArray &bytes) {
        writeAll(path("book"), bytes);
        return readAddressBook(readAll(path("book")));
    }
};

void TestAddressBook::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestAddressBook::csv_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Pairs>("contacts");

    QTest::newRow("exchange file, no header")
        << QByteArray("\"Ann\",\"+491511\",3\r\nBob,0171 5\r\n")
        << Pairs{{"Ann", "+491511"}, {"Bob", "0171 5"}};
    QTest::newRow("English header, comma") << QByteArray("Name,Phone\nAnn,0151 1\nBob,0151 2\n")
                                           << Pairs{{"Ann", "0151 1"}, {"Bob", "0151 2"}};
    QTest::newRow("German Excel: semicolon, Vorname and Nachname, Handy before Telefon")
        << QByteArray("Vorname;Nachname;Telefon;Handy\nAnna;Becker;030 1;0151 1\n"
                      "Jonas;Weber;030 2;\n")
        << Pairs{{"Anna Becker", "0151 1"}, {"Jonas Weber", "030 2"}};
    QTest::newRow("French: Nom, Prénom, Téléphone portable")
        << QByteArray("Nom;Pr\xC3\xA9nom;T\xC3\xA9l\xC3\xA9phone portable\n"
                      "Dupont;Marie;06 12 34 56 78\n")
        << Pairs{{QStringLiteral("Marie Dupont"), "06 12 34 56 78"}};
    QTest::newRow("French: Nom alone is the name")
        << QByteArray("Nom;T\xC3\xA9l\xC3\xA9phone\nMarie Dupont;06 12 34 56 78\n")
        << Pairs{{QStringLiteral("Marie Dupont"), "06 12 34 56 78"}};
    QTest::newRow("Spanish: Nombre, Apellidos, Móvil")
        << QByteArray("Nombre,Apellidos,M\xC3\xB3vil\nLuc\xC3\xAD"
                      "a,Garc\xC3\xAD"
                      "a L\xC3\xB3pez,612 345 678\n")
        << Pairs{{QStringLiteral(u"Lucía García López"), "612 345 678"}};
    QTest::newRow("Italian: Nome, Cognome, Cellulare, tab")
        << QByteArray("Nome\tCognome\tCellulare\nGiulia\tRossi\t347 123 4567\n")
        << Pairs{{"Giulia Rossi", "347 123 4567"}};
    QTest::newRow("Portuguese: Nome completo, Telemóvel")
        << QByteArray("Nome completo;Telem\xC3\xB3vel\nJo\xC3\xA3o Silva;912 345 678\n")
        << Pairs{{QStringLiteral(u"João Silva"), "912 345 678"}};
    QTest::newRow("Polish: Imię, Nazwisko, Komórka")
        << QByteArray("Imi\xC4\x99;Nazwisko;Kom\xC3\xB3rka\n\xC5\x81ukasz;Nowak;601 234 567\n")
        << Pairs{{QStringLiteral(u"Łukasz Nowak"), "601 234 567"}};
    QTest::newRow("Google export: Phone 1 - Value")
        << QByteArray("Name,Given Name,Family Name,Phone 1 - Type,Phone 1 - Value\n"
                      "Ann Lee,Ann,Lee,Mobile,+44 7400 123456\n")
        << Pairs{{"Ann Lee", "+44 7400 123456"}};
    QTest::newRow("header cells trimmed and quoted")
        << QByteArray("\" Name \",\"Mobile Phone\"\n\" Ann \",\" 0151 1 \"\n")
        << Pairs{{"Ann", "0151 1"}};
    QTest::newRow("rows without name or number left out")
        << QByteArray("Name;Phone\n;0151 1\nBob;\nCid;0151 3\n") << Pairs{{"Cid", "0151 3"}};
    QTest::newRow("quoted field over two lines, doubled quotes")
        << QByteArray("Name,Phone\n\"Ann \"\"the boss\"\"\nLee\",0151 1\nBob,0151 2\n")
        << Pairs{{"Ann \"the boss\"\nLee", "0151 1"}, {"Bob", "0151 2"}};
    QTest::newRow("semicolon inside quotes does not choose the delimiter")
        << QByteArray("\"A;B;C\",1\n\"D;E\",2\n") << Pairs{{"A;B;C", "1"}, {"D;E", "2"}};
    QTest::newRow("commas in every name, semicolon file with header")
        << QByteArray("Name;Phone\nBecker, Anna;0151 1\nWeber, Jonas;0151 2\n")
        << Pairs{{"Becker, Anna", "0151 1"}, {"Weber, Jonas", "0151 2"}};
    QTest::newRow("a data line is no header")
        << QByteArray("Name,0151 1\n") << Pairs{{"Name", "0151 1"}};
    QTest::newRow("CR only line ends")
        << QByteArray("Ann,1\rBob,2\r") << Pairs{{"Ann", "1"}, {"Bob", "2"}};
    QTest::newRow("empty file") << QByteArray() << Pairs{};
}

void TestAddressBook::csv() {
    QFETCH(QByteArray, file);
    QFETCH(Pairs, contacts);
    const AddressBook book = readFile(file);
    QCOMPARE(book.format, AddressBook::Format::Csv);
    QCOMPARE(pairsOf(book.contacts), contacts);
    QCOMPARE(book.skippedLines, QStringList());
}

void TestAddressBook::encodings_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("encoding");
    const QString text = QStringLiteral(u"Name;Telefon\nRené Müller;0151 1\nZoë;0151 2\n");
    QTest::newRow("UTF-8") << text.toUtf8() << "UTF-8";
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF") + text.toUtf8() << "UTF-8";
    QTest::newRow("UTF-16 little-endian") << utf16(text, true) << "UTF-16";
    QTest::newRow("UTF-16 big-endian") << utf16(text, false) << "UTF-16";
    QTest::newRow("Windows-1252") << text.toLatin1() << "Windows-1252";
}

void TestAddressBook::encodings() {
    QFETCH(QByteArray, file);
    QFETCH(QString, encoding);
    const AddressBook book = readFile(file);
    QCOMPARE(book.encoding, encoding);
    QCOMPARE(pairsOf(book.contacts), (Pairs{{QStringLiteral(u"René Müller"), "0151 1"},
                                            {QStringLiteral(u"Zoë"), "0151 2"}}));

    // The characters only Windows-1252 has at 0x80 to 0x9F.
    const AddressBook euro = readFile("\x80uro \x8Arka \x9C;1\n");
    QCOMPARE(euro.encoding, QStringLiteral("Windows-1252"));
    QCOMPARE(euro.contacts.first().name, QStringLiteral(u"€uro Šrka œ"));
    QCOMPARE(readFile("Ann,1\n").encoding, QStringLiteral("ASCII"));
}

void TestAddressBook::malformedLinesSkipped_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Pairs>("contacts");
    QTest::addColumn<QStringList>("skipped");
    QTest::newRow("blank after closing quote")
        << QByteArray("Ann,1\nBob,2\n\"Cid\" ,3\nDan,4\nEve,5\nFay,6\n\"Gus\"x,7\nHal,8\n")
        << Pairs{{"Ann", "1"}, {"Bob", "2"}, {"Dan", "4"}, {"Eve", "5"}, {"Fay", "6"}, {"Hal", "8"}}
        << QStringList{"line 3: " + CsvError, "line 7: " + CsvError};
    QTest::newRow("quote never closed spoils its own line only")
        << QByteArray("Ann,1\n\"Bob,2\nCid,3\n") << Pairs{{"Ann", "1"}, {"Cid", "3"}}
        << QStringList{"line 2: " + CsvError};
    QTest::newRow("line numbers count the lines of a quoted field")
        << QByteArray("Name;Phone\n\"A\nB\";1\n\"C\" x;2\nD;3\n")
        << Pairs{{"A\nB", "1"}, {"D", "3"}} << QStringList{"line 4: " + CsvError};
    QTest::newRow("malformed header line")
        << QByteArray("\"Name\"x,Phone\nAnn,1\n") << Pairs{{"Ann", "1"}}
        << QStringList{"line 1: " + CsvError};
}

void TestAddressBook::malformedLinesSkipped() {
    QFETCH(QByteArray, file);
    QFETCH(Pairs, contacts);
    QFETCH(QStringList, skipped);
    const AddressBook book = readFile(file);
    QCOMPARE(pairsOf(book.contacts), contacts);
    QCOMPARE(book.skippedLines, skipped);
}

void TestAddressBook::vcards_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Pairs>("contacts");
    QTest::addColumn<int>("withoutNumber");

    QTest::newRow("2.1: quoted-printable, CHARSET, bare types, PREF among mobiles")
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\n"
                      "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;Ren=E9\r\n"
                      "TEL;HOME;VOICE:030 1\r\nTEL;CELL:0151 1\r\nTEL;CELL;PREF:0151 2\r\n"
                      "END:VCARD\r\n"
                      "BEGIN:VCARD\r\nVERSION:2.1\r\n"
                      "FN;CHARSET=UTF-8;QUOTED-PRINTABLE:Zo=C3=AB Da=\r\nvis\r\n"
                      "TEL;WORK:+44 20 7946 0018\r\nEND:VCARD\r\n")
        << Pairs{{QStringLiteral(u"René Müller"), "0151 2"},
                 {QStringLiteral(u"Zoë Davis"), "+44 20 7946 0018"}}
        << 0;
    QTest::newRow("3.0: folded lines, TYPE lists, escapes, card without number")
        << QByteArray("BEGIN:VCARD\nVERSION:3.0\nFN:Smith\\, John\nN:Smith;John;;;\n"
                      "TEL;TYPE=WORK,VOICE:+1 201 555 0100\n"
                      "TEL;TYPE=CELL:+1 201 555\n 0123\nEND:VCARD\n"
                      "BEGIN:VCARD\nVERSION:3.0\nFN:No Phone\nEMAIL:a@b.c\nEND:VCARD\n"
                      "BEGIN:VCARD\nVERSION:3.0\nFN:Also None\nEND:VCARD\n")
        << Pairs{{"Smith, John", "+1 201 5550123"}} << 2;
    QTest::newRow("4.0: tel URIs, PREF values, quoted TYPE, groups")
        << QByteArray("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Anna Becker\r\n"
                      "TEL;VALUE=uri;TYPE=\"voice,cell\";PREF=2:tel:+49-151-1\r\n"
                      "item1.TEL;VALUE=uri;TYPE=cell;PREF=1:tel:+49-151-2;ext=9\r\n"
                      "END:VCARD\r\n")
        << Pairs{{"Anna Becker", "+49-151-2"}} << 0;
    QTest::newRow("no FN: N given then family; no N: ORG")
        << QByteArray("BEGIN:VCARD\nVERSION:3.0\nN:Weber;Jonas\nTEL:1\nEND:VCARD\n"
                      "BEGIN:VCARD\nVERSION:3.0\nORG:Club e.V.;Board\nTEL:2\nEND:VCARD\n")
        << Pairs{{"Jonas Weber", "1"}, {"Club e.V.", "2"}} << 0;
    QTest::newRow("first TEL when no mobile; last card without END")
        << QByteArray("BEGIN:VCARD\nFN:A\nTEL;TYPE=HOME:11\nTEL;TYPE=WORK:22\nEND:VCARD\n"
                      "BEGIN:VCARD\nFN:B\nTEL:33\n")
        << Pairs{{"A", "11"}, {"B", "33"}} << 0;
}

void TestAddressBook::vcards() {
    QFETCH(QByteArray, file);
    QFETCH(Pairs, contacts);
    QFETCH(int, withoutNumber);
    const AddressBook book = readFile(file);
    QCOMPARE(book.format, AddressBook::Format::VCard);
    QCOMPARE(pairsOf(book.contacts), contacts);
    QCOMPARE(book.cardsWithoutNumber, withoutNumber);

    // The same cards as UTF-16 read the same.
    const AddressBook wide = readFile(utf16(QString::fromUtf8(file), true));
    QCOMPARE(wide.encoding, QStringLiteral("UTF-16"));
    QCOMPARE(wide.contacts.size(), book.contacts.size());
}

void TestAddressBook::exchangeFileRoundTrip() {
    // The exchange file's own form reads and writes as it always has.
    ContactList source;
    Contact contact;
    contact.name = QStringLiteral(u"Ελένη, B.");
    contact.number = "+30 691";
    contact.sentCount = 4;
    source.add(contact);
    contact.name = QStringLiteral("Bob");
    contact.number = "2";
    contact.sentCount = 0;
    source.add(contact);
    source.exportToFile(path("out.txt"));
    QCOMPARE(readAll(path("out.txt")),
             QByteArray("\"\xce\x95\xce\xbb\xce\xad\xce\xbd\xce\xb7, B.\",\"+30 691\",4\r\n"
                        "\"Bob\",\"2\",0\r\n"));
    ContactList target;
    const ImportResult result = target.importFromFile(path("out.txt"));
    QCOMPARE(result.imported, 2);
    QCOMPARE(target.get(0), source.get(0));
    QCOMPARE(target.get(1), source.get(1));
}

void TestAddressBook::duplicatesByParsedNumber() {
    ContactList list;
    Contact existing;
    existing.name = QStringLiteral("Anna");
    existing.number = "+49 151 23456789";
    list.add(existing);
    writeAll(path("in.csv"), "Name;Handy\n"
                             "Anna B.;0151 2345 6789\n"   // the contact already there
                             "Jonas;0049 160 1234567\n"   // new
                             "Jonas W.;(0160) 123-4567\n" // earlier in this file
                             "Odd;hello\n"                // no number: compared as typed
                             "Odd again;hello\n");
    ImportResult result = list.importFromFile(path("in.csv"), QStringLiteral("DE"));
    QCOMPARE(result.imported, 2);
    QCOMPARE(result.duplicates, 3);
    QCOMPARE(list.count(), 3);
    // Stored numbers keep what the file had.
    QCOMPARE(list.get(1).number, QByteArray("0049 160 1234567"));
    QCOMPARE(list.get(2).number, QByteArray("hello"));

    // Without a country national numbers are compared as typed.
    ContactList plain;
    plain.add(existing);
    result = plain.importFromFile(path("in.csv"));
    QCOMPARE(result.duplicates, 1); // only "hello" twice
}

void TestAddressBook::duplicateIndices() {
    ContactList list;
    const QList<QByteArray> numbers = {
        "+49 151 23456789", "030 1234567",    "",   "015123456789", "0049 30 1234567",
        "0160 1",           "0151-2345-6789", "   "};
    for (const QByteArray &number : numbers) {
        Contact contact;
        contact.number = number;
        list.add(contact);
    }
    QCOMPARE(list.duplicateIndices(QStringLiteral("DE")), (QList<int>{0, 3, 6, 1, 4}));
    QCOMPARE(list.duplicateIndices(QString()), QList<int>());
}

void TestAddressBook::details() {
    ImportResult result;
    result.encoding = QStringLiteral("ASCII");
    QCOMPARE(importDetails(result), QStringList());
    result.encoding = QStringLiteral("Windows-1252");
    result.cardsWithoutNumber = 2;
    result.skippedLines = QStringList{"line 3: x"};
    QCOMPARE(importDetails(result),
             (QStringList{"The text was read as Windows-1252.", "2 cards had no number.",
                          "1 malformed line was skipped."}));
}

QTEST_GUILESS_MAIN(TestAddressBook)
#include "tst_addressbook.moc"
