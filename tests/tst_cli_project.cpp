#include "app/Database.h"
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

using TCommand = int (*)(const QStringList &, QTextStream &, QTextStream &);

struct TRun {
    int Status;
    QString Out;
    QString Err;
};

TRun Run(TCommand command, const QStringList &args) {
    TRun run;
    QTextStream out(&run.Out);
    QTextStream err(&run.Err);
    run.Status = command(args, out, err);
    out.flush();
    err.flush();
    return run;
}

TMessage MakeMessage(const QByteArray &number, const QString &text, double created, double sent) {
    TMessage m;
    m.Number = number;
    m.Text = text;
    m.Created = created;
    m.Sent = sent;
    return m;
}

} // namespace

class TestCliProject : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void showPrintsWholeProject();
    void showFailures_data();
    void showFailures();
    void importCreatesProject();
    void importKeepsOtherSections();
    void importMalformedLineSavesEarlierContacts();
    void importFailures();
    void exportWritesExchangeFile();

private:
    std::unique_ptr<QTemporaryDir> FDir;
    QString Path(const QString &name) const { return FDir->filePath(name); }
    void SaveProject(TDataModule1 &m, const QString &name) {
        m.OnAskFileName = [=, this] { return Path(name); };
        QVERIFY(m.Save(true));
    }
};

void TestCliProject::init() {
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

void TestCliProject::showPrintsWholeProject() {
    TDataModule1 m;
    m.Compose.To = "+30 691, 0044";
    m.Compose.Subject = QStringLiteral("Θέμα");
    m.Compose.Body = QStringLiteral("你好 😀");
    TContact c;
    c.Name = QStringLiteral("Ελένη");
    c.Number = "+30691";
    c.SentCount = 4;
    c.Checked = 0;
    m.ContactList->Add(c);
    TMessage flash = MakeMessage("+30691", QStringLiteral("hi"), 45000.25, 0);
    flash.Flash = 1;
    flash.Status = msSent; // saved while not yet transferred: back as pending
    m.OutboxList->Add(flash);
    m.SentList->Add(MakeMessage("0044", "sent", 45000.5 + 1234.0 / 86400000.0, 45001.75));
    SaveProject(m, "p.sms");

    TRun run = Run(CmdShow, {Path("p.sms")});
    QCOMPARE(run.Status, 0);
    QCOMPARE(run.Err, QString());
    QJsonParseError parseError;
    QJsonDocument doc = QJsonDocument::fromJson(run.Out.toUtf8(), &parseError);
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
                                                                {"status", "pending"}})}));
    QCOMPARE(root["sent"].toArray(),
             QJsonArray({QJsonObject({{"number", "0044"},
                                      {"text", "sent"},
                                      {"flash", false},
                                      {"long", false},
                                      {"created", "2023-03-15T12:00:01.234"},
                                      {"sent", "2023-03-16T18:00:00"},
                                      {"status", "sent"}})}));
}

void TestCliProject::showFailures_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error");
    QTest::newRow("no argument") << QStringList() << QByteArray()
                                 << "usage: pelorvane-cli show FILE.sms";
    QTest::newRow("two arguments")
        << QStringList{"a", "b"} << QByteArray() << "usage: pelorvane-cli show FILE.sms";
    QTest::newRow("not a project")
        << QStringList{"f.sms"} << QByteArray("hello") << "Invalid file format.";
    QTest::newRow("other version")
        << QStringList{"f.sms"} << QByteArray("\x83\x56\x0b\x00", 4) << "Invalid file version 11";
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
        WriteAll(Path("f.sms"), file);
    for (QString &a : args)
        a = Path(a);
    TRun run = Run(CmdShow, args);
    QCOMPARE(run.Status, 2);
    QCOMPARE(run.Out, QString());
    QCOMPARE(run.Err.trimmed(), error);
}

void TestCliProject::importCreatesProject() {
    WriteAll(Path("in.csv"), "Ann,1\r\n\"Bob, B\",2,7\r\nAnnie,1\r\n");
    TRun run = Run(CmdImport, {Path("new.sms"), Path("in.csv")});
    QCOMPARE(run.Status, 0);
    QCOMPARE(run.Out, QStringLiteral("Imported 2 contacts, ignored 1 duplicates\n"));
    QCOMPARE(run.Err, QString());
    TDataModule1 m;
    m.Load(Path("new.sms"));
    QCOMPARE(m.ContactList->Count(), 2);
    QCOMPARE(m.ContactList->Get(1).Name, QStringLiteral("Bob, B"));
    QCOMPARE(m.ContactList->Get(1).SentCount, 7);

    WriteAll(Path("empty.csv"), "");
    run = Run(CmdImport, {Path("empty.sms"), Path("empty.csv")});
    QCOMPARE(run.Status, 0);
    QCOMPARE(run.Out, QStringLiteral("Imported 0 contacts, ignored 0 duplicates\n"));
    QCOMPARE(ReadAll(Path("empty.sms")).size(), 36);
}

void TestCliProject::importKeepsOtherSections() {
    TDataModule1 m;
    m.Compose.Body = "body";
    TContact c;
    c.Name = "Old";
    c.Number = "2";
    m.ContactList->Add(c);
    m.SentList->Add(MakeMessage("1", "sent", 45000, 45000));
    SaveProject(m, "p.sms");
    WriteAll(Path("in.csv"), "Ann,1\nBob,2\n");
    TRun run = Run(CmdImport, {Path("p.sms"), Path("in.csv")});
    QCOMPARE(run.Status, 0);
    QCOMPARE(run.Out, QStringLiteral("Imported 1 contacts, ignored 1 duplicates\n"));
    TDataModule1 back;
    back.Load(Path("p.sms"));
    QCOMPARE(back.Compose.Body, QStringLiteral("body"));
    QCOMPARE(back.ContactList->Count(), 2);
    QCOMPARE(back.SentList->Count(), 1);
}

void TestCliProject::importMalformedLineSavesEarlierContacts() {
    WriteAll(Path("in.csv"), "Ann,1\n\"Bob\" ,2\nCid,3\n");
    TRun run = Run(CmdImport, {Path("p.sms"), Path("in.csv")});
    QCOMPARE(run.Status, 2);
    QCOMPARE(run.Out, QString());
    QCOMPARE(run.Err.trimmed(), CsvError);
    TDataModule1 m;
    m.Load(Path("p.sms"));
    QCOMPARE(m.ContactList->Count(), 1);
    QCOMPARE(m.ContactList->Get(0).Name, QStringLiteral("Ann"));
}

void TestCliProject::importFailures() {
    // Missing exchange file: nothing created.
    TRun run = Run(CmdImport, {Path("p.sms"), Path("missing.csv")});
    QCOMPARE(run.Status, 2);
    QVERIFY(run.Err.contains("No such file"));
    QVERIFY(!QFile::exists(Path("p.sms")));

    // A project that does not load is left alone.
    WriteAll(Path("bad.sms"), "not a project");
    WriteAll(Path("in.csv"), "Ann,1\n");
    run = Run(CmdImport, {Path("bad.sms"), Path("in.csv")});
    QCOMPARE(run.Status, 2);
    QCOMPARE(run.Err.trimmed(), QStringLiteral("Invalid file format."));
    QCOMPARE(ReadAll(Path("bad.sms")), QByteArray("not a project"));

    run = Run(CmdImport, {Path("p.sms")});
    QCOMPARE(run.Status, 2);
    QCOMPARE(run.Err.trimmed(),
             QStringLiteral("usage: pelorvane-cli import FILE.sms CONTACTS.csv"));
}

void TestCliProject::exportWritesExchangeFile() {
    TDataModule1 m;
    TContact c;
    c.Name = QStringLiteral("Ελένη");
    c.Number = "+30 691";
    c.SentCount = 3;
    m.ContactList->Add(c);
    c.Name = "Bob";
    c.Number = "2";
    c.SentCount = 0;
    m.ContactList->Add(c);
    SaveProject(m, "p.sms");
    QByteArray project = ReadAll(Path("p.sms"));
    TRun run = Run(CmdExport, {Path("p.sms"), Path("out.csv")});
    QCOMPARE(run.Status, 0);
    QCOMPARE(run.Err, QString());
    QCOMPARE(
        ReadAll(Path("out.csv")),
        QByteArray(
            "\"\xce\x95\xce\xbb\xce\xad\xce\xbd\xce\xb7\",\"+30 691\",3\r\n\"Bob\",\"2\",0\r\n"));
    QCOMPARE(ReadAll(Path("p.sms")), project);

    run = Run(CmdExport, {Path("missing.sms"), Path("out2.csv")});
    QCOMPARE(run.Status, 2);
    QVERIFY(!QFile::exists(Path("out2.csv")));
    run = Run(CmdExport, {Path("p.sms"), Path("no/dir/out.csv")});
    QCOMPARE(run.Status, 2);
    QVERIFY(!run.Err.isEmpty());
}

QTEST_GUILESS_MAIN(TestCliProject)
#include "tst_cli_project.moc"
