// pelorvane-cli queue with placeholders and number checks, and import of address books: in
// process, and once each as the real program.

#include "app/AppData.h"
#include "support/CliRun.h"
#include "support/TestFiles.h"
#include "tools/cli/Cli.h"

#include <QBuffer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString cliPath() {
    return qEnvironmentVariable("PELORVANE_BINARY_DIR") +
           QStringLiteral("/tools/cli/pelorvane-cli");
}

CliRun runCliProcess(const QStringList &args) {
    QProcess process;
    process.start(cliPath(), args);
    CliRun run;
    if (!process.waitForFinished(30000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QList<Message> outbox(const QString &project) {
    AppData data;
    data.load(project);
    QList<Message> messages;
    for (int i = 0; i < data.outboxList->count(); ++i)
        messages << data.outboxList->get(i);
    return messages;
}

} // namespace

class TestCliPersonal : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void queueFillsPlaceholdersPerContact();
    void queueNamesRefusedNumbers();
    void queueUnverifiedNeedsPermission();
    void queueUnknownPlaceholderQueuesNothing();
    void queueDryRunChangesNothing();
    void queueBadCountry();
    void queueAsRealProcess();
    void importVCardsAndSpreadsheet();
    void importSkipsMalformedLinesAndSaves();
    void importAsRealProcess();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // A project with three contacts, the second unchecked.
    QString club() {
        const QString project = path(QStringLiteral("club.sms"));
        AppData data;
        const QList<std::pair<QString, QByteArray>> people = {
            {QStringLiteral("Anna Becker"), "+49 151 23456789"},
            {QStringLiteral("Jonas Weber"), "0160 1234567"},
            {QStringLiteral(u"Zoë"), "(0170) 765-4321"}};
        for (const auto &[name, number] : people) {
            Contact contact;
            contact.name = name;
            contact.number = number;
            contact.checked = name.startsWith(QLatin1String("Jonas")) ? 0 : 1;
            data.contactList->add(contact);
        }
        data.onAskFileName = [&] { return project; };
        data.save();
        return project;
    }
};

void TestCliPersonal::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestCliPersonal::queueFillsPlaceholdersPerContact() {
    const QString project = club();
    CliRun run = runCliInProcess({"queue", project, "--country", "de", "--checked", "--subject",
                                  "Club", "Hi {FirstName|there}, your number is {Number}"});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("Queued 2 messages\n"));
    // Typed numbers find their contact by the parsed number; unknown ones use the fallback.
    run = runCliInProcess({"queue", project, "--country", "DE", "--to",
                           "0151-2345 6789;+49 30 1234567", "Hi {FirstName|there}"});
    QCOMPARE(run.status, 0);
    const QList<Message> messages = outbox(project);
    QCOMPARE(messages.size(), 4);
    QCOMPARE(messages[0].number, QByteArray("+4915123456789"));
    QCOMPARE(messages[0].text, QStringLiteral("Club:Hi Anna, your number is +4915123456789"));
    QCOMPARE(messages[1].number, QByteArray("+491707654321"));
    QCOMPARE(messages[1].text, QStringLiteral(u"Club:Hi Zoë, your number is +491707654321"));
    QCOMPARE(messages[2].text, QStringLiteral("Hi Anna"));
    QCOMPARE(messages[3].number, QByteArray("+49301234567"));
    QCOMPARE(messages[3].text, QStringLiteral("Hi there"));
}

void TestCliPersonal::queueNamesRefusedNumbers() {
    const QString project = path(QStringLiteral("refused.sms"));
    const CliRun run = runCliInProcess({"queue", project, "--country", "GB", "--to",
                                        "07400 123456;999;call me;+999 1234;61611", "hello"});
    QCOMPARE(run.status, 2);
    QCOMPARE(run.out, QStringLiteral("Queued 2 messages\n"));
    QCOMPARE(run.err, QStringLiteral("Not queued: 999: emergency number\n"
                                     "Not queued: call me: not a phone number\n"
                                     "Not queued: +999 1234: unknown country code\n"));
    const QList<Message> messages = outbox(project);
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[0].number, QByteArray("+447400123456"));
    QCOMPARE(messages[1].number, QByteArray("61611"));
}

void TestCliPersonal::queueUnverifiedNeedsPermission() {
    const QString project = path(QStringLiteral("unverified.sms"));
    CliRun run = runCliInProcess(
        {"queue", project, "--country", "GB", "--to", "07700 900456;07400 123456", "hello"});
    QCOMPARE(run.status, 2);
    QCOMPARE(run.err, QStringLiteral("Not queued: 07700 900456: not a valid number for its "
                                     "country (--allow-unverified queues it)\n"));
    QCOMPARE(outbox(project).size(), 1);
    run = runCliInProcess({"queue", project, "--country", "GB", "--allow-unverified", "--to",
                           "07700 900456", "hello"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QString());
    QCOMPARE(outbox(project).size(), 2);
    QCOMPARE(outbox(project).last().number, QByteArray("+447700900456"));
}

void TestCliPersonal::queueUnknownPlaceholderQueuesNothing() {
    const QString project = club();
    const QByteArray before = readAll(project);
    const CliRun run =
        runCliInProcess({"queue", project, "--country", "DE", "--all", "Hallo {Vorname}"});
    QCOMPARE(run.status, 2);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QStringLiteral("Unknown placeholder {Vorname}: nothing was queued. The "
                                     "known ones are {Name}, {FirstName} and {Number}.\n"));
    QCOMPARE(readAll(project), before);
}

void TestCliPersonal::queueDryRunChangesNothing() {
    const QString project = club();
    const QByteArray before = readAll(project);
    const CliRun run = runCliInProcess(
        {"queue", project, "--country", "DE", "--all", "--dry-run", "Dear {Name},\nsee you"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral(u"To +4915123456789:\nDear Anna Becker,\nsee you\n\n"
                                     u"To +491601234567:\nDear Jonas Weber,\nsee you\n\n"
                                     u"To +491707654321:\nDear Zoë,\nsee you\n\n"
                                     u"Would queue 3 messages\n"));
    QCOMPARE(readAll(project), before);
    // A project that does not exist is not created either.
    runCliInProcess({"queue", path("new.sms"), "--to", "+4915123456789", "--dry-run", "x"});
    QVERIFY(!QFile::exists(path("new.sms")));
}

void TestCliPersonal::queueBadCountry() {
    const CliRun run =
        runCliInProcess({"queue", path("x.sms"), "--country", "XX", "--to", "1", "text"});
    QCOMPARE(run.status, 2);
    QVERIFY(run.err.startsWith(QStringLiteral("Unknown country: XX")));
    QVERIFY(!QFile::exists(path("x.sms")));
}

void TestCliPersonal::queueAsRealProcess() {
    const QString project = club();
    const CliRun run = runCliProcess(
        {"queue", project, "--country", "DE", "--to", "0151 23456789;112", "Hello {Name|friend}"});
    QCOMPARE(run.status, 2);
    QCOMPARE(run.out, QStringLiteral("Queued 1 message\n"));
    QCOMPARE(run.err, QStringLiteral("Not queued: 112: emergency number\n"));
    const QList<Message> messages = outbox(project);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("Hello Anna Becker"));
}

void TestCliPersonal::importVCardsAndSpreadsheet() {
    const QString project = path(QStringLiteral("p.sms"));
    writeAll(path("phone.vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Becker\r\n"
                                "TEL;TYPE=CELL:+49 151 23456789\r\nEND:VCARD\r\n"
                                "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:No Number\r\nEND:VCARD\r\n");
    CliRun run = runCliInProcess({"import", project, path("phone.vcf")});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("Imported 1 contacts, ignored 0 duplicates\n"
                                     "1 card had no number.\n"));
    // A German spreadsheet in Windows-1252: the same person in national form is a duplicate.
    writeAll(path("sheet.csv"), "Name;Handy\r\nAnna B.;0151 2345 6789\r\nRen\xE9;0160 1234567\r\n");
    run = runCliInProcess({"import", project, path("sheet.csv"), "--country", "DE"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("Imported 1 contacts, ignored 1 duplicates\n"
                                     "The text was read as Windows-1252.\n"));
    AppData data;
    data.load(project);
    QCOMPARE(data.contactList->count(), 2);
    QCOMPARE(data.contactList->get(1).name, QStringLiteral(u"René"));
    QCOMPARE(data.contactList->get(1).number, QByteArray("0160 1234567"));
}

void TestCliPersonal::importSkipsMalformedLinesAndSaves() {
    const QString project = path(QStringLiteral("p.sms"));
    writeAll(path("in.csv"), "Ann,1\n\"Bob\" ,2\nCid,3\n\"Dan\"x,4\n");
    const CliRun run = runCliInProcess({"import", project, path("in.csv")});
    QCOMPARE(run.status, 2);
    QCOMPARE(run.out, QStringLiteral("Imported 2 contacts, ignored 0 duplicates\n"
                                     "2 malformed lines were skipped.\n"));
    QVERIFY(run.err.startsWith(QStringLiteral("line 2: String is a badly formed CSV string")));
    QVERIFY(run.err.contains(QStringLiteral("\nline 4: String is a badly formed CSV string")));
    AppData data;
    data.load(project);
    QCOMPARE(data.contactList->count(), 2);
}

void TestCliPersonal::importAsRealProcess() {
    const QString project = path(QStringLiteral("p.sms"));
    writeAll(path("in.csv"), "Vorname;Nachname;Telefon\nAnna;Becker;+49 151 23456789\n"
                             "\"Bad\" ;;\nJonas;Weber;0049 160 1234567\n");
    const CliRun run = runCliProcess({"import", project, path("in.csv"), "--country", "DE"});
    QCOMPARE(run.status, 2);
    QCOMPARE(run.out, QStringLiteral("Imported 2 contacts, ignored 0 duplicates\n"
                                     "1 malformed line was skipped.\n"));
    QVERIFY(run.err.startsWith(QStringLiteral("line 3: ")));
    AppData data;
    data.load(project);
    QCOMPARE(data.contactList->get(0).name, QStringLiteral("Anna Becker"));
    QCOMPARE(data.contactList->get(1).name, QStringLiteral("Jonas Weber"));
}

QTEST_GUILESS_MAIN(TestCliPersonal)
#include "tst_cli_personal.moc"
