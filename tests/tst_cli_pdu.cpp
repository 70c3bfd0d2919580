#include "tools/cli/Cli.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTest>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run runInProcess(const QStringList &args, const QByteArray &input = {}) {
    Run run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    QBuffer in;
    in.setData(input);
    in.open(QIODevice::ReadOnly);
    run.status = runCli(args, out, err, in);
    return run;
}

QString cliBinary() {
    const QString dir = qEnvironmentVariableIsSet("PELORVANE_BINARY_DIR")
                            ? qEnvironmentVariable("PELORVANE_BINARY_DIR")
                            : QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    return QDir(dir).filePath(QStringLiteral("tools/cli/pelorvane-cli"));
}

Run runProcess(const QStringList &args, const QByteArray &input = {}) {
    Run run;
    QProcess process;
    process.start(cliBinary(), args);
    if (!process.waitForStarted(10000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The three lines of a successful pdu run must agree with each other.
void checkPduLines(const QString &out) {
    const QStringList lines = out.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4); // three lines and the empty rest after the last line end
    QVERIFY(lines.at(3).isEmpty());
    const QString &body = lines.at(2);
    QVERIFY(body.startsWith(QLatin1String("00")));
    for (QChar c : body)
        QVERIFY2((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'), qPrintable(body));
    QCOMPARE(lines.at(1), QStringLiteral("AT+CMGS=%1").arg((body.size() - 2) / 2));
}

} // namespace

class TestCliPdu : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pdu_data();
    void pdu();
    void invalidNumber_data();
    void invalidNumber();
    void usageErrors_data();
    void usageErrors();
    void invalidUtf8OnStdin();
    void help();
    void longMessageParts_data();
    void longMessageParts();
    void longMessageCutNote();
    void codingThatCannotHoldTheText_data();
    void codingThatCannotHoldTheText();
    void realProcess();
};

void TestCliPdu::pdu_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("out");

    QTest::newRow("hello") << QStringList{"pdu", "0123456789", "hello"} << QByteArray()
                           << QStringLiteral("GSM 7 bit\nAT+CMGS=17\n"
                                             "0001000A811032547698000005E8329BFD06\n");
    QTest::newRow("hello flash") << QStringList{"pdu", "--flash", "0123456789", "hello"}
                                 << QByteArray()
                                 << QStringLiteral("GSM 7 bit\nAT+CMGS=17\n"
                                                   "0001000A811032547698001005E8329BFD06\n");
    QTest::newRow("flash after the number")
        << QStringList{"pdu", "0123456789", "--flash", "hello"} << QByteArray()
        << QStringLiteral("GSM 7 bit\nAT+CMGS=17\n"
                          "0001000A811032547698001005E832"
                          "9BFD06\n");
    QTest::newRow("ucs2 argument")
        << QStringList{"pdu", "+123-456", QStringLiteral(u"\u4F60\u597D")} << QByteArray()
        << QStringLiteral("UCS2 (16bit)\nAT+CMGS=14\n"
                          "00010006912143650008044F60597D\n");
    // A letter outside the GSM alphabet below U+0100 goes as UCS-2, never as 8-bit data.
    QTest::newRow("latin-1 letter argument is ucs2")
        << QStringList{"pdu", "12345", QStringLiteral(u"\u00E1")} << QByteArray()
        << QStringLiteral("UCS2 (16bit)\nAT+CMGS=12\n"
                          "00010005812143F500080200E1\n");
    QTest::newRow("8-bit by hand")
        << QStringList{"pdu", "--coding", "8bit", "12345", QStringLiteral(u"\u00E1")}
        << QByteArray()
        << QStringLiteral("8-bit\nAT+CMGS=11\n"
                          "00010005812143F5000401E1\n");
    QTest::newRow("ucs2 by hand") << QStringList{"pdu", "--coding", "ucs2", "12345", "A"}
                                  << QByteArray()
                                  << QStringLiteral("UCS2 (16bit)\nAT+CMGS=12\n"
                                                    "00010005812143F50008020041\n");
    QTest::newRow("gsm by hand") << QStringList{"pdu", "--coding", "gsm", "12345", "a@b"}
                                 << QByteArray()
                                 << QStringLiteral("GSM 7 bit\nAT+CMGS=13\n"
                                                   "00010005812143F5000003618018\n");
    QTest::newRow("long that fits is one SMS")
        << QStringList{"pdu", "--long", "--ref", "9", "0123456789", "hello"} << QByteArray()
        << QStringLiteral("GSM 7 bit\nAT+CMGS=17\n"
                          "0001000A811032547698000005E8329BFD06\n");
    QTest::newRow("empty text argument") << QStringList{"pdu", "12345", ""} << QByteArray()
                                         << QStringLiteral("GSM 7 bit\nAT+CMGS=10\n"
                                                           "00010005812143F5000000\n");
    QTest::newRow("text from stdin") << QStringList{"pdu", "12345"} << QByteArray("a@b")
                                     << QStringLiteral("GSM 7 bit\nAT+CMGS=13\n"
                                                       "00010005812143F5000003618018\n");
    QTest::newRow("utf-8 from stdin")
        << QStringList{"pdu", "12345"} << QByteArray("\xE4\xBD\xA0\xE5\xA5\xBD")
        << QStringLiteral("UCS2 (16bit)\nAT+CMGS=14\n"
                          "00010005812143F50008044F60597D\n");
    QTest::newRow("stdin line end is part of the text")
        << QStringList{"pdu", "12345"} << QByteArray("hi\n")
        << QStringLiteral("GSM 7 bit\nAT+CMGS=13\n00010005812143F5000003E8B402\n");
    QTest::newRow("double dash makes an option the text")
        << QStringList{"pdu", "--", "12345", "--flash"} << QByteArray()
        << QStringLiteral("GSM 7 bit\nAT+CMGS=17\n00010005812143F5000007AD96991D9EA301\n");
}

void TestCliPdu::pdu() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QString, out);

    const Run run = runInProcess(args, input);
    QCOMPARE(run.status, int(ExitOk));
    QCOMPARE(run.out, out);
    QCOMPARE(run.err, QString());
    checkPduLines(run.out);
}

void TestCliPdu::invalidNumber_data() {
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("shown");

    QTest::newRow("comma") << QStringLiteral("0123,456") << QStringLiteral("0123,456");
    QTest::newRow("letter") << QStringLiteral("0123a456") << QStringLiteral("0123a456");
    QTest::newRow("CR") << QStringLiteral("0123\r456") << QStringLiteral("0123\\x0d456");
    QTest::newRow("LF") << QStringLiteral("0123456\n") << QStringLiteral("0123456\\x0a");
    QTest::newRow("Ctrl-Z") << QStringLiteral("01\x1A"
                                              "AT")
                            << QStringLiteral("01\\x1aAT");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("only plus") << QStringLiteral("+") << QStringLiteral("+");
}

void TestCliPdu::invalidNumber() {
    QFETCH(QString, number);
    QFETCH(QString, shown);

    for (const QString &text : {QStringLiteral("hello"), QStringLiteral(u"\u4E2D")}) {
        const Run run = runInProcess({"pdu", number, text});
        QCOMPARE(run.status, int(ExitFailed));
        QCOMPARE(run.out, QString());
        QCOMPARE(run.err, QStringLiteral("Invalid phone number: ") + shown + u'\n');
    }
}

void TestCliPdu::usageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");

    QTest::newRow("nothing") << QStringList() << QStringLiteral("Usage: pelorvane-cli COMMAND");
    QTest::newRow("unknown command")
        << QStringList{"pud", "123"} << QStringLiteral("Unknown command: pud");
    QTest::newRow("missing number") << QStringList{"pdu"} << QStringLiteral("Missing NUMBER");
    QTest::newRow("flash only") << QStringList{"pdu", "--flash"}
                                << QStringLiteral("Missing NUMBER");
    QTest::newRow("unquoted text")
        << QStringList{"pdu", "123", "hello", "there"} << QStringLiteral("Too many arguments");
    QTest::newRow("unknown option")
        << QStringList{"pdu", "--flsh", "123", "x"} << QStringLiteral("Unknown option: --flsh");
    QTest::newRow("help for an unknown command")
        << QStringList{"help", "nope"} << QStringLiteral("Unknown command: nope");
    QTest::newRow("reference too large") << QStringList{"pdu", "--ref", "256", "123", "x"}
                                         << QStringLiteral("--ref needs a number from 0 to 255");
    QTest::newRow("reference not a number")
        << QStringList{"pdu", "--long", "--ref", "x1", "123", "x"}
        << QStringLiteral("--ref needs a number from 0 to 255");
    QTest::newRow("reference missing") << QStringList{"pdu", "123", "x", "--ref"}
                                       << QStringLiteral("--ref needs a number from 0 to 255");
    QTest::newRow("unknown coding") << QStringList{"pdu", "--coding", "utf8", "123", "x"}
                                    << QStringLiteral("--coding needs gsm, ucs2 or 8bit");
}

void TestCliPdu::usageErrors() {
    QFETCH(QStringList, args);
    QFETCH(QString, message);

    const Run run = runInProcess(args, "text on stdin");
    QCOMPARE(run.status, int(ExitUsage));
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
}

void TestCliPdu::invalidUtf8OnStdin() {
    // A Latin-1 file, a stray byte, and a sequence cut off at the end.
    for (const QByteArray &input :
         {QByteArray("caf\xE9 ok"), QByteArray("\xFF"), QByteArray("caf\xE9")}) {
        const Run run = runInProcess({"pdu", "12345"}, input);
        QCOMPARE(run.status, int(ExitFailed));
        QCOMPARE(run.out, QString());
        QCOMPARE(run.err, QStringLiteral("Standard input is not valid UTF-8 text\n"));
    }
}

void TestCliPdu::help() {
    for (const QStringList &args :
         {QStringList{"--help"}, QStringList{"-h"}, QStringList{"help"}}) {
        const Run run = runInProcess(args);
        QCOMPARE(run.status, int(ExitOk));
        QVERIFY2(run.out.contains(QLatin1String(
                     "  pdu [--flash] [--long] [--ref N] [--coding gsm|ucs2|8bit] NUMBER "
                     "[TEXT]\n")),
                 qPrintable(run.out));
        QVERIFY(run.out.contains(QLatin1String("[--flash] [--long] [--country CC]")));
        QCOMPARE(run.err, QString());
    }
    for (const QStringList &args : {QStringList{"help", "pdu"}, QStringList{"pdu", "--help"},
                                    QStringList{"pdu", "123", "-h"}}) {
        const Run run = runInProcess(args);
        QCOMPARE(run.status, int(ExitOk));
        QVERIFY(run.out.startsWith(QLatin1String("Usage: pelorvane-cli pdu [--flash] [--long]")));
    }
    // A cut text is reported, and the PDU still comes out.
    const Run cut = runInProcess({"pdu", "123", QString(161, u'a')});
    QCOMPARE(cut.status, int(ExitOk));
    QVERIFY(cut.err.contains(QLatin1String("cut to 160 of its 161 characters")));
    checkPduLines(cut.out);
}

void TestCliPdu::longMessageParts_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("coding");
    QTest::addColumn<QList<int>>("udls");
    QTest::addColumn<QString>("header"); // the first part's first octets through its header

    const QString a161(161, u'a');
    QTest::newRow("161 GSM characters, reference 0 by default")
        << QStringList{"pdu", "--long", "0123456789", a161} << QStringLiteral("GSM 7 bit")
        << QList<int>{160, 15} << QStringLiteral("0041000A8110325476980000A0050003000201");
    QTest::newRow("reference and flash on every part")
        << QStringList{"pdu",
                       "--flash",
                       "--long",
                       "--ref",
                       "255",
                       "12345",
                       QString(150, QChar(0x4E2D))}
        << QStringLiteral("UCS2 (16bit)") << QList<int>{140, 140, 38}
        << QStringLiteral("00410005812143F500188C050003FF0301");
    QTest::newRow("8-bit by hand in parts")
        << QStringList{"pdu", "--long", "--coding", "8bit", "12345", QString(141, u'\u00E9')}
        << QStringLiteral("8-bit") << QList<int>{140, 13}
        << QStringLiteral("00410005812143F500048C050003000201");
}

// Each part is one AT+CMGS line and one PDU line that agree with each other, in order.
void TestCliPdu::longMessageParts() {
    QFETCH(QStringList, args);
    QFETCH(QString, coding);
    QFETCH(QList<int>, udls);
    QFETCH(QString, header);

    const Run run = runInProcess(args);
    QCOMPARE(run.status, int(ExitOk));
    QCOMPARE(run.err, QString());
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 1 + 2 * udls.size() + 1);
    QCOMPARE(lines.first(), coding);
    QVERIFY(lines.last().isEmpty());
    QVERIFY(lines.at(2).startsWith(header));
    for (qsizetype k = 0; k < udls.size(); ++k) {
        const QString &body = lines.at(2 + 2 * k);
        QCOMPARE(lines.at(1 + 2 * k), QStringLiteral("AT+CMGS=%1").arg((body.size() - 2) / 2));
        // The UDL sits before the six header octets, which end with the part's number.
        const qsizetype headerAt = body.indexOf(QLatin1String("050003"), 20);
        QVERIFY(headerAt > 0);
        QCOMPARE(body.mid(headerAt - 2, 2).toInt(nullptr, 16), udls[k]);
        QCOMPARE(body.mid(headerAt + 8, 4), QStringLiteral("%1%2")
                                                .arg(udls.size(), 2, 10, QLatin1Char('0'))
                                                .arg(k + 1, 2, 10, QLatin1Char('0')));
    }
}

void TestCliPdu::longMessageCutNote() {
    const Run run = runInProcess({"pdu", "--long", "123", QString(1005, u'b')});
    QCOMPARE(run.status, int(ExitOk));
    QCOMPARE(run.err, QStringLiteral("Note: the text was cut to 1000 of its 1005 characters to "
                                     "fit a long message\n"));
    QCOMPARE(run.out.count(QLatin1String("AT+CMGS=")), 7);
}

void TestCliPdu::codingThatCannotHoldTheText_data() {
    QTest::addColumn<QString>("coding");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::newRow("gsm without a letter")
        << QStringLiteral("gsm") << QStringLiteral(u"Ol\u00E1") << QStringLiteral("GSM 7 bit");
    QTest::newRow("8-bit without CJK")
        << QStringLiteral("8bit") << QStringLiteral(u"\u4E2D") << QStringLiteral("8-bit");
}

// The encoders would drop or mangle such characters: refused rather than sent wrong.
void TestCliPdu::codingThatCannotHoldTheText() {
    QFETCH(QString, coding);
    QFETCH(QString, text);
    QFETCH(QString, name);
    const Run run = runInProcess({"pdu", "--coding", coding, "123", text});
    QCOMPARE(run.status, int(ExitFailed));
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QStringLiteral("The text has characters that %1 cannot hold\n").arg(name));
}

void TestCliPdu::realProcess() {
    QVERIFY2(QFile::exists(cliBinary()), qPrintable(cliBinary()));

    Run run = runProcess({"pdu", "0123456789", "hello"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out,
             QStringLiteral("GSM 7 bit\nAT+CMGS=17\n0001000A811032547698000005E8329BFD06\n"));

    run = runProcess({"pdu", "--flash", "+123-456"}, QByteArray("\xE4\xBD\xA0\xE5\xA5\xBD"));
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("UCS2 (16bit)\nAT+CMGS=14\n"
                                     "00010006912143650018044F60597D\n"));

    run = runProcess({"pdu", QStringLiteral(u"\u4F60\u597D"), "x"});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QStringLiteral(u"Invalid phone number: \u4F60\u597D\n"));

    run = runProcess({"pdu", "123\r\nAT+CMGD=1", "x"});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QStringLiteral("Invalid phone number: 123\\x0d\\x0aAT+CMGD=1\n"));

    // An argument that is not UTF-8 is refused rather than sent as replacement characters.
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                {"-c", "exec \"$0\" pdu 123 \"$(printf 'caf\\351')\"", cliBinary()});
    QVERIFY(shell.waitForFinished(10000));
    QCOMPARE(shell.exitCode(), int(ExitUsage));
    QCOMPARE(shell.readAllStandardOutput(), QByteArray());
    QCOMPARE(shell.readAllStandardError(), QByteArray("Argument 3 is not valid UTF-8\n"));

    run = runProcess({"--help"});
    QCOMPARE(run.status, 0);
    QVERIFY(run.out.contains(QLatin1String("pdu [--flash] [--long] [--ref N]")));
}

QTEST_GUILESS_MAIN(TestCliPdu)
#include "tst_cli_pdu.moc"
