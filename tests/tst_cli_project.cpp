#include "app/AppData.h"
#include "support/TestFiles.h"
#include "tools/cli/CmdProject.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString CsvError = QStringLiteral("String is a badly formed CSV string: mismatched quotes, "
                                        "no comma after closing quote [MirvParser.ExtractFields])");

using Command = int (*)(const QStringList &, QTextStream &, QTextStream &);

struct Run {
    int status;
    QString out;
    QString err;
};

Run runCli(Command command, const QStringList &args) {
    Run run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.status = command(args, out, err);
    out.flush();
    err.flush();
    return run;
}

Message makeMessage(const QByteArray &number, const QString &text, double created, double sent) {
    Message m;
    m.number = number;
    m.text = text;
    m.created = created;
    m.sent = sent;
    return m;
}

} // namespace

class TestCliProject : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void showPrintsWholeProject();
    void showLayoutIsOneDocumentsLayout_data();
    void showLayoutIsOneDocumentsLayout();
    void showFailures_data();
    void showFailures();
    void importCreatesProject();
    void importKeepsOtherSections();
    void importMalformedLineSavesEarlierContacts();
    void importFailures();
    void exportWritesExchangeFile();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void saveProject(AppData &m, const QString &name) {
        m.onAskFileName = [=, this] { return path(name); };
        QVERIFY(m.save(true));
    }
};

void TestCliProject::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestCliProject::showPrintsWholeProject() {
    AppData m;
    m.compose.to = "+30 691, 0044";
    m.compose.subject = QStringLiteral("Θέμα");
    m.compose.body = QStringLiteral("你好 😀");
    Contact c;
    c.name = QStringLiteral("Ελένη");
    c.number = "+30691";
    c.sentCount = 4;
    c.checked = 0;
    m.contactList->add(c);
    Message flash = makeMessage("+30691", QStringLiteral("hi"), 45000.25, 0);
    flash.flash = 1;
    flash.status = MessageStatus::Sending; // saved while being sent: back as pending
    m.outboxList->add(flash);
    m.sentList->add(makeMessage("0044", "sent", 45000.5 + 1234.0 / 86400000.0, 45001.75));
    saveProject(m, "p.sms");

    Run run = runCli(cmdShow, {path("p.sms")});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QString());
    QJsonParseError parseError;
    QJsonDocument doc = QJsonDocument::fromJson(run.out.toUtf8(), &parseError);
    QCOMPARE(parseError.error, QJsonParseError::NoError);
    QJsonObject root = doc.object();
    QCOMPARE(root.keys(), QStringList({"compose", "contacts", "outbox", "sent"}));
    QCOMPARE(root["compose"].toObject(), QJsonObject({{"to", "+30 691, 0044"},
                                                      {"cc", ""},
                                                      {"subject", QStringLiteral("Θέμα")},
                                                      {"body", QStringLiteral("你好 😀")}}));
    QCOMPARE(root["contacts"].toArray(), QJsonArray({QJsonObject({{"name", QStringLiteral("Ελένη")},
                                                                  {"number", "+30691"},
                                                                  {"sentCount", 4},
                                                                  {"checked", false}})}));
    QCOMPARE(root["outbox"].toArray(), QJsonArray({QJsonObject({{"number", "+30691"},
                                                                {"text", "hi"},
                                                                {"flash", true},
                                                                {"long", false},
                                                                {"created", "2023-03-15T06:00:00"},
                                                                {"sent", QJsonValue::Null},
                                                                {"status", "pending"},
                                                                {"reason", ""},
                                                                {"error", ""},
                                                                {"phone", ""},

                                                                {"messageId", ""},
                                                                {"delivery", ""}})}));
    QCOMPARE(root["sent"].toArray(),
             QJsonArray({QJsonObject({{"number", "0044"},
                                      {"text", "sent"},
                                      {"flash", false},
                                      {"long", false},
                                      {"created", "2023-03-15T12:00:01.234"},
                                      {"sent", "2023-03-16T18:00:00"},
                                      {"status", "sent"},
                                      {"reason", ""},
                                      {"error", ""},
                                      {"phone", ""},

                                      {"messageId", ""},
                                      {"delivery", ""}})}));
}

void TestCliProject::showLayoutIsOneDocumentsLayout_data() {
    QTest::addColumn<int>("contacts");
    QTest::addColumn<int>("outbox");
    QTest::addColumn<int>("sent");
    QTest::newRow("empty project") << 0 << 0 << 0;
    QTest::newRow("one of each") << 1 << 1 << 1;
    QTest::newRow("several, one list empty") << 3 << 0 << 4;
}

// The streamed output is, byte for byte, what QJsonDocument makes of the whole project at once,
// with texts that need escaping and dates that are no calendar date; each part alone is that
// part's array as a document of its own.
void TestCliProject::showLayoutIsOneDocumentsLayout() {
    QFETCH(int, contacts);
    QFETCH(int, outbox);
    QFETCH(int, sent);
    const QStringList texts = {QStringLiteral("quote \" and backslash \\"),
                               QStringLiteral("line\r\nbreak\ttab\x01"), QStringLiteral("你好 😀"),
                               QString()};
    const double dates[] = {0, 45000.25, 1e300, -0.5, 45000.5 + 1234.0 / 86400000.0};
    AppData m;
    m.compose.to = "a\"b";
    m.compose.body = texts[1];
    for (int i = 0; i < contacts; ++i) {
        Contact c;
        c.name = texts[i % texts.size()];
        c.number = "+30691" + QByteArray::number(i);
        c.sentCount = i * 1000;
        c.checked = i % 2;
        m.contactList->add(c);
    }
    for (int i = 0; i < outbox + sent; ++i) {
        Message message = makeMessage("00" + QByteArray::number(i), texts[i % texts.size()],
                                      dates[i % 5], dates[(i + 1) % 5]);
        message.isLong = i % 2;
        (i < outbox ? m.outboxList : m.sentList)->add(message);
    }
    saveProject(m, "p.sms");

    Run run = runCli(cmdShow, {path("p.sms")});
    QCOMPARE(run.status, 0);
    const QJsonObject root = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(root["contacts"].toArray().size(), contacts);
    QCOMPARE(root["outbox"].toArray().size(), outbox);
    QCOMPARE(root["sent"].toArray().size(), sent);
    QCOMPARE(run.out, QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented)));
    for (const QString part : {"contacts", "outbox", "sent"}) {
        Run one = runCli(cmdShow, {path("p.sms"), QStringLiteral("--") + part});
        QCOMPARE(one.status, 0);
        QCOMPARE(one.out, QString::fromUtf8(
                              QJsonDocument(root[part].toArray()).toJson(QJsonDocument::Indented)));
    }
}

void TestCliProject::showFailures_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error");
    QTest::newRow("no argument")
        << QStringList() << QByteArray()
        << "usage: pelorvane-cli show FILE.sms [--contacts | --outbox | --sent]";
    QTest::newRow("two arguments")
        << QStringList{"a", "b"} << QByteArray()
        << "usage: pelorvane-cli show FILE.sms [--contacts | --outbox | --sent]";
    QTest::newRow("two parts") << QStringList{"f.sms", "--sent", "--outbox"} << QByteArray()
                               << "usage: pelorvane-cli show FILE.sms [--contacts | --outbox | "
                                  "--sent]";
    QTest::newRow("unknown option") << QStringList{"f.sms", "--all"} << QByteArray()
                                    << "usage: pelorvane-cli show FILE.sms [--contacts | "
                                       "--outbox | --sent]";
    QTest::newRow("not a project")
        << QStringList{"f.sms"} << QByteArray("hello") << "Invalid file format.";
    QTest::newRow("other version")
        << QStringList{"f.sms"} << QByteArray("\x83\x56\x0c\x00", 4) << "Invalid file version 12";
    QTest::newRow("cut") << QStringList{"f.sms"} << QByteArray("\x83\x56\x0a\x00\x01\x05", 6)
                         << "Stream read error";
    QTest::newRow("missing") << QStringList{"missing.sms"} << QByteArray()
                             << "No such file or directory";
}

void TestCliProject::showFailures() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, file);
    QFETCH(QString, error);
    if (!file.isEmpty())
        writeAll(path("f.sms"), file);
    for (QString &a : args) {
        if (!a.startsWith(QLatin1String("--")))
            a = path(a);
    }
    Run run = runCli(cmdShow, args);
    QCOMPARE(run.status, 2);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err.trimmed(), error);
}

void TestCliProject::importCreatesProject() {
    writeAll(path("in.csv"), "Ann,1\r\n\"Bob, B\",2,7\r\nAnnie,1\r\n");
    Run run = runCli(cmdImport, {path("new.sms"), path("in.csv")});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("Imported 2 contacts, ignored 1 duplicates\n"));
    QCOMPARE(run.err, QString());
    AppData m;
    m.load(path("new.sms"));
    QCOMPARE(m.contactList->count(), 2);
    QCOMPARE(m.contactList->get(1).name, QStringLiteral("Bob, B"));
    QCOMPARE(m.contactList->get(1).sentCount, 7);

    writeAll(path("empty.csv"), "");
    run = runCli(cmdImport, {path("empty.sms"), path("empty.csv")});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("Imported 0 contacts, ignored 0 duplicates\n"));
    QCOMPARE(readAll(path("empty.sms")).size(), 36);
}

void TestCliProject::importKeepsOtherSections() {
    AppData m;
    m.compose.body = "body";
    Contact c;
    c.name = "Old";
    c.number = "2";
    m.contactList->add(c);
    m.sentList->add(makeMessage("1", "sent", 45000, 45000));
    saveProject(m, "p.sms");
    writeAll(path("in.csv"), "Ann,1\nBob,2\n");
    Run run = runCli(cmdImport, {path("p.sms"), path("in.csv")});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("Imported 1 contacts, ignored 1 duplicates\n"));
    AppData back;
    back.load(path("p.sms"));
    QCOMPARE(back.compose.body, QStringLiteral("body"));
    QCOMPARE(back.contactList->count(), 2);
    QCOMPARE(back.sentList->count(), 1);
}

void TestCliProject::importMalformedLineSavesEarlierContacts() {
    writeAll(path("in.csv"), "Ann,1\n\"Bob\" ,2\nCid,3\n");
    Run run = runCli(cmdImport, {path("p.sms"), path("in.csv")});
    QCOMPARE(run.status, 2);
    QCOMPARE(run.out, QStringLiteral("Imported 2 contacts, ignored 0 duplicates\n"
                                     "1 malformed line was skipped.\n"));
    QCOMPARE(run.err.trimmed(), QStringLiteral("line 2: ") + CsvError);
    AppData m;
    m.load(path("p.sms"));
    QCOMPARE(m.contactList->count(), 2);
    QCOMPARE(m.contactList->get(0).name, QStringLiteral("Ann"));
    QCOMPARE(m.contactList->get(1).name, QStringLiteral("Cid"));
}

void TestCliProject::importFailures() {
    // Missing exchange file: nothing created.
    Run run = runCli(cmdImport, {path("p.sms"), path("missing.csv")});
    QCOMPARE(run.status, 2);
    QVERIFY(run.err.contains("No such file"));
    QVERIFY(!QFile::exists(path("p.sms")));

    // A project that does not load is left alone.
    writeAll(path("bad.sms"), "not a project");
    writeAll(path("in.csv"), "Ann,1\n");
    run = runCli(cmdImport, {path("bad.sms"), path("in.csv")});
    QCOMPARE(run.status, 2);
    QCOMPARE(run.err.trimmed(), QStringLiteral("Invalid file format."));
    QCOMPARE(readAll(path("bad.sms")), QByteArray("not a project"));

    run = runCli(cmdImport, {path("p.sms")});
    QCOMPARE(run.status, 2);
    QCOMPARE(
        run.err.trimmed(),
        QStringLiteral("usage: pelorvane-cli import FILE.sms CONTACTS [--country CC] [--wait]"));
}

void TestCliProject::exportWritesExchangeFile() {
    AppData m;
    Contact c;
    c.name = QStringLiteral("Ελένη");
    c.number = "+30 691";
    c.sentCount = 3;
    m.contactList->add(c);
    c.name = "Bob";
    c.number = "2";
    c.sentCount = 0;
    m.contactList->add(c);
    saveProject(m, "p.sms");
    QByteArray project = readAll(path("p.sms"));
    Run run = runCli(cmdExport, {path("p.sms"), path("out.csv")});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QString());
    QCOMPARE(
        readAll(path("out.csv")),
        QByteArray(
            "\"\xce\x95\xce\xbb\xce\xad\xce\xbd\xce\xb7\",\"+30 691\",3\r\n\"Bob\",\"2\",0\r\n"));
    QCOMPARE(readAll(path("p.sms")), project);

    run = runCli(cmdExport, {path("missing.sms"), path("out2.csv")});
    QCOMPARE(run.status, 2);
    QVERIFY(!QFile::exists(path("out2.csv")));
    run = runCli(cmdExport, {path("p.sms"), path("no/dir/out.csv")});
    QCOMPARE(run.status, 2);
    QVERIFY(!run.err.isEmpty());
}

QTEST_GUILESS_MAIN(TestCliProject)
#include "tst_cli_project.moc"
