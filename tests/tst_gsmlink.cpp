// The AT command channel on scripted reads: how chunks become response lines, when a wait
// ends, and what the reading helpers make of a response.
#include "app/Errors.h"
#include "link/ReplyScanner.h"
#include "support/ScriptedSerial.h"

#include <QElapsedTimer>
#include <QTest>

using TLines = QList<QByteArray>;

class TestGsmLink : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void chunkScan_data();
    void chunkScan();
    void terminatorInNextChunkRecordsLineLate();
    void promptWithCompleteLinesOnlyRunsOn();
    void linesAfterFinalAreDropped();

    void readResults_data();
    void readResults();
    void abortedBeforeWaitReadsNothing();
    void abortDuringWaitKeepsLinesAndLatches();
    void openClearsNothingWhenItFails();

    void executeCommand_data();
    void executeCommand();
    void infoLineBeforeAnyCommand();
    void sendAndWaitKeepsLastCommand();
    void infoFieldOutOfRange_data();
    void infoFieldOutOfRange();

    void isFinalResponse_data();
    void isFinalResponse();
    void observersSeeLinesAndCommands();

    void scannerAloneAcrossChunkSizes_data();
    void scannerAloneAcrossChunkSizes();
    void megabyteWithoutLineEnd_data();
    void megabyteWithoutLineEnd();
    void endlessBurstEndsOnStop();
};

static QString ErrorOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const EPelorvane &e) {
        return e.Message();
    }
    return QString();
}

void TestGsmLink::chunkScan_data() {
    QTest::addColumn<TLines>("chunks");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("completeLinesOnly");
    QTest::addColumn<TLines>("lines");
    QTest::addColumn<bool>("resultOk");

    QTest::newRow("CR LF OK CR LF")
        << TLines{"\r\nOK\r\n"} << QByteArray() << true << TLines{"OK"} << true;
    QTest::newRow("O then K CR LF")
        << TLines{"O", "K\r\n"} << QByteArray() << true << TLines{"OK"} << true;
    QTest::newRow("OK then CR LF")
        << TLines{"OK", "\r\n"} << QByteArray() << true << TLines{"OK"} << true;
    QTest::newRow("OK then LF") << TLines{"\r\nOK", "\n"} << QByteArray() << true << TLines{"OK"}
                                << true;
    QTest::newRow("ERROR split") << TLines{"\r\nER", "ROR\r\n"} << QByteArray() << true
                                 << TLines{"ERROR"} << false;
    QTest::newRow("device error line") << TLines{"\r\n+CMS ERROR: 500\r\n"} << QByteArray() << true
                                       << TLines{"+CMS ERROR: 500"} << false;
    QTest::newRow("prompt, partial lines accepted")
        << TLines{"\r\n> "} << QByteArray("> ") << false << TLines{"> "} << true;
    QTest::newRow("prompt split, partial lines accepted")
        << TLines{"\r\n>", " "} << QByteArray("> ") << false << TLines{"> "} << true;
    QTest::newRow("prompt with line end")
        << TLines{"\r\n> \r\n"} << QByteArray("> ") << true << TLines{"> "} << true;
    QTest::newRow("ERROR over three chunks, partial lines accepted")
        << TLines{"\r\nabcE", "RR", "OR"} << QByteArray("> ") << false << TLines{"abcERROR"}
        << false;
    QTest::newRow("long expected text over three chunks")
        << TLines{"12+CM", "G", "S: 5"} << QByteArray("+CMGS:") << false << TLines{"12+CMGS: 5"}
        << true;
    QTest::newRow("partial tail that is no prompt waits")
        << TLines{"\r\n+CM", "GS: 5\r\n\r\nOK\r\n"} << QByteArray("> ") << false
        << TLines{"+CMGS: 5", "OK"} << true;
    QTest::newRow("CR, LF and CR LF end lines") << TLines{"A\rB\nC\r\n\n\rOK\r"} << QByteArray()
                                                << true << TLines{"A", "B", "C", "OK"} << true;
    QTest::newRow("empty lines are not recorded") << TLines{"\r\n\r\n", "\r\n", "\n", "OK\r\n"}
                                                  << QByteArray() << true << TLines{"OK"} << true;
    QTest::newRow("echo and information line")
        << TLines{"AT+CSQ\r\r\n+CSQ: 20,99\r\n\r\nOK\r\n"} << QByteArray() << true
        << TLines{"AT+CSQ", "+CSQ: 20,99", "OK"} << true;
    QTest::newRow("unsolicited lines recorded alike")
        << TLines{"\r\nRING\r\n", "\r\n+CSQ: 9,99\r\n", "\r\nOK\r\n"} << QByteArray() << true
        << TLines{"RING", "+CSQ: 9,99", "OK"} << true;
    QTest::newRow("one byte per chunk") << TLines{"\r", "\n", "+", "X", "\r", "\n", "O", "K", "\r"}
                                        << QByteArray() << true << TLines{"+X", "OK"} << true;
    QTest::newRow("NUL inside a line is dropped")
        << TLines{QByteArray("O\0K\r\n", 5)} << QByteArray() << true << TLines{"OK"} << true;
    QTest::newRow("NUL before the final line")
        << TLines{QByteArray("+X\r\n\0\0\r\nOK\r\n", 12)} << QByteArray() << true
        << TLines{"+X", "OK"} << true;
    QTest::newRow("chunk of NUL bytes only")
        << TLines{QByteArray(3, '\0'), "OK\r\n"} << QByteArray() << true << TLines{"OK"} << true;
    QTest::newRow("binary garbage then OK")
        << TLines{QByteArray("\x80\xff\x01\x1a\x7f", 5), "\r\nOK\r\n"} << QByteArray() << true
        << TLines{QByteArray("\x80\xff\x01\x1a\x7f", 5), "OK"} << true;
}

void TestGsmLink::chunkScan() {
    QFETCH(TLines, chunks);
    QFETCH(QByteArray, expected);
    QFETCH(bool, completeLinesOnly);
    QFETCH(TLines, lines);
    QFETCH(bool, resultOk);

    TScriptedSerial link;
    link.ResultOk = !resultOk;
    link.AddChunks(chunks);
    QVERIFY(link.WaitResponse(expected, completeLinesOnly));
    QCOMPARE(link.Responses, lines);
    QCOMPARE(link.ResultOk, resultOk);
    QCOMPARE(link.Reads, int(chunks.size()));
}

void TestGsmLink::terminatorInNextChunkRecordsLineLate() {
    TScriptedSerial link;
    link.AddChunks({"OK", "\r\n"});
    qsizetype linesBeforeSecondRead = -1;
    link.BeforeRead = [&](int read) {
        if (read == 2)
            linesBeforeSecondRead = link.Responses.size();
    };
    QVERIFY(link.WaitResponse(QByteArray(), true));
    QCOMPARE(linesBeforeSecondRead, 0);
    QCOMPARE(link.Responses, TLines{"OK"});
}

void TestGsmLink::promptWithCompleteLinesOnlyRunsOn() {
    TScriptedSerial link;
    link.ReadWait = 1;
    link.AddChunk("\r\n> ");
    QCOMPARE(ErrorOf([&] { link.WaitResponse("> ", true); }),
             QStringLiteral("Timeout in reading COM port"));
    QVERIFY(link.Responses.isEmpty());

    // A later line end completes the prompt's line.
    TScriptedSerial later;
    later.AddChunks({"\r\n> ", "\r\n"});
    QVERIFY(later.WaitResponse("> ", true));
    QCOMPARE(later.Responses, TLines{"> "});
}

void TestGsmLink::linesAfterFinalAreDropped() {
    TScriptedSerial link;
    link.AddChunks({"\r\nOK\r\nRING\r\n+CMTI: \"SM\",1\r\n", "\r\n+CSQ: 5,99\r\nOK\r\n"});
    QVERIFY(link.WaitResponse(QByteArray(), true));
    QCOMPARE(link.Responses, TLines{"OK"});
    QVERIFY(link.WaitResponse(QByteArray(), true));
    QCOMPARE(link.Responses, (TLines{"+CSQ: 5,99", "OK"}));
}

void TestGsmLink::readResults_data() {
    QTest::addColumn<TLines>("chunksBefore");
    QTest::addColumn<int>("emptyWaits");
    QTest::addColumn<int>("failingResult");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("reads");

    QTest::newRow("61st empty wait fails")
        << TLines{} << 61 << 1 << "Timeout in reading COM port" << 61;
    QTest::newRow("data does not restore the budget")
        << TLines{"+CSQ: 1"} << 61 << 1 << "Timeout in reading COM port" << 62;
    QTest::newRow("first zero-byte read fails")
        << TLines{"\r\n+CSQ: 1,99\r\n"} << 0 << 0 << "Zero byte returned in reading COM port" << 2;
    QTest::newRow("zero-byte read after empty waits")
        << TLines{} << 60 << 0 << "Zero byte returned in reading COM port" << 61;
    QTest::newRow("line error") << TLines{"\r\n+CSQ: 1,99\r\n"} << 0 << -1 << "Error in ReadBuffer"
                                << 2;
    QTest::newRow("unknown negative result") << TLines{} << 0 << -7 << "Error in ReadBuffer" << 1;
}

void TestGsmLink::readResults() {
    QFETCH(TLines, chunksBefore);
    QFETCH(int, emptyWaits);
    QFETCH(int, failingResult);
    QFETCH(QString, error);
    QFETCH(int, reads);

    TScriptedSerial link;
    link.AddChunks(chunksBefore);
    // Empty waits beyond the script come by themselves.
    if (failingResult != 1) {
        for (int i = 0; i < emptyWaits; ++i)
            link.AddResult(-2);
        link.AddResult(failingResult);
    }
    QCOMPARE(ErrorOf([&] { link.WaitResponse(QByteArray(), true); }), error);
    QCOMPARE(link.Reads, reads);
    // Lines received before the failure stay for the caller.
    if (chunksBefore.value(0).endsWith("\r\n"))
        QCOMPARE(link.Responses, TLines{"+CSQ: 1,99"});
}

void TestGsmLink::abortedBeforeWaitReadsNothing() {
    TScriptedSerial link;
    link.Responses = {"old"};
    link.ResultOk = true;
    link.AddChunk("\r\nERROR\r\n");
    link.Aborted = true;
    QVERIFY(!link.WaitResponse(QByteArray(), true));
    QCOMPARE(link.Reads, 0);
    QVERIFY(link.Responses.isEmpty());
    QVERIFY(link.ResultOk);
    QVERIFY(!link.ExecuteCommand("AT"));
    QCOMPARE(link.Reads, 0);
}

void TestGsmLink::abortDuringWaitKeepsLinesAndLatches() {
    TScriptedSerial link;
    link.AddReply({"\r\n+CSQ: 20,99\r\n"});
    link.BeforeRead = [&](int read) {
        if (read == 4)
            link.Abort();
    };
    QVERIFY(!link.ExecuteCommand("AT+CSQ"));
    // The flag is tested before each read: read 4 set it, read 5 never happened.
    QCOMPARE(link.Reads, 4);
    QCOMPARE(link.Responses, TLines{"+CSQ: 20,99"});
    QCOMPARE(link.InfoLine(), QByteArray("+CSQ: 20,99"));

    link.BeforeRead = nullptr;
    link.AddReply({"\r\nOK\r\n"});
    QVERIFY(!link.ExecuteCommand("AT"));
    QVERIFY(!link.SendAndWait("AT+CMGS=5", "> ", false));
    QCOMPARE(link.Reads, 4);
}

void TestGsmLink::openClearsNothingWhenItFails() {
    TScriptedSerial link;
    link.Port().SetPortName("/nonexistent/pelorvane-port");
    link.Aborted = true;
    QCOMPARE(ErrorOf([&] { link.Open(); }),
             QStringLiteral("Unable to open com port (win error code: 2)"));
    QVERIFY(link.Aborted);
    QVERIFY(!link.Connected());
}

void TestGsmLink::executeCommand_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<TLines>("reply");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("infoLine");
    QTest::addColumn<int>("fieldCount");
    QTest::addColumn<TLines>("fields");

    QTest::newRow("signal, echo off")
        << QByteArray("AT+CSQ") << TLines{"\r\n+CSQ: 20,99\r\n", "\r\nOK\r\n"} << true
        << QByteArray("+CSQ: 20,99") << 2 << TLines{"20", "99"};
    QTest::newRow("signal, echo on")
        << QByteArray("AT+CSQ") << TLines{"AT+CSQ\r", "\r\n+CSQ: 20,99\r\n\r\nOK\r\n"} << true
        << QByteArray("+CSQ: 20,99") << 2 << TLines{"20", "99"};
    QTest::newRow("battery") << QByteArray("AT+CBC") << TLines{"\r\n+CBC: 0,85\r\n\r\nOK\r\n"}
                             << true << QByteArray("+CBC: 0,85") << 2 << TLines{"0", "85"};
    QTest::newRow("field after a space keeps it")
        << QByteArray("AT+CSQ") << TLines{"\r\n+CSQ: 20, 99\r\n\r\nOK\r\n"} << true
        << QByteArray("+CSQ: 20, 99") << 2 << TLines{"20", " 99"};
    QTest::newRow("quotes stay") << QByteArray("AT+CSCA?")
                                 << TLines{"\r\n+CSCA: \"+491710760000\",145\r\n\r\nOK\r\n"} << true
                                 << QByteArray("+CSCA: \"+491710760000\",145") << 2
                                 << TLines{"\"+491710760000\"", "145"};
    QTest::newRow("maker, no colon")
        << QByteArray("AT+GMI") << TLines{"\r\nPelorvane Ltd\r\n\r\nOK\r\n"} << true
        << QByteArray("Pelorvane Ltd") << 0 << TLines{"Pelorvane Ltd"};
    QTest::newRow("device error") << QByteArray("AT+CBC") << TLines{"\r\n+CME ERROR: 10\r\n"}
                                  << false << QByteArray("+CME ERROR: 10") << 1 << TLines{"10"};
    QTest::newRow("device error with echo")
        << QByteArray("AT+CBC") << TLines{"AT+CBC\r\r\n+CME ERROR: 10\r\n"} << false
        << QByteArray("+CME ERROR: 10") << 1 << TLines{"10"};
    QTest::newRow("plain ERROR") << QByteArray("AT+GMM") << TLines{"\r\nERROR\r\n"} << false
                                 << QByteArray("ERROR") << 0 << TLines{"ERROR"};
    QTest::newRow("OK and ERROR in one line")
        << QByteArray("AT") << TLines{"\r\nOK ERROR\r\n"} << true << QByteArray("OK ERROR") << 0
        << TLines{"OK ERROR"};
    QTest::newRow("only the final line") << QByteArray("ATE0") << TLines{"ATE0\r\r\nOK\r\n"} << true
                                         << QByteArray("OK") << 0 << TLines{"OK"};
    QTest::newRow("every line holds the command")
        << QByteArray("OK") << TLines{"OK\r\n"} << true << QByteArray() << 0 << TLines{};
    QTest::newRow("empty fields after colon")
        << QByteArray("AT+X") << TLines{"\r\n+X: \t\r\n\r\nOK\r\n"} << true << QByteArray("+X: \t")
        << 1 << TLines{""};
    QTest::newRow("blank fields") << QByteArray("AT+X") << TLines{"\r\n+X: ,,\r\nOK\r\n"} << true
                                  << QByteArray("+X: ,,") << 3 << TLines{"", "", ""};
}

void TestGsmLink::executeCommand() {
    QFETCH(QByteArray, command);
    QFETCH(TLines, reply);
    QFETCH(bool, result);
    QFETCH(QByteArray, infoLine);
    QFETCH(int, fieldCount);
    QFETCH(TLines, fields);

    TScriptedSerial link;
    link.AddReply(reply);
    QCOMPARE(link.ExecuteCommand(command), result);
    QCOMPARE(link.Written, TLines{command});
    QCOMPARE(link.LastCommand, command);
    QCOMPARE(link.LastCommandFailed(), !result);
    QCOMPARE(link.InfoLine(), infoLine);
    QCOMPARE(link.InfoFieldCount(), fieldCount);
    for (int i = 0; i < fields.size(); ++i)
        QCOMPARE(link.InfoField(i + 1), fields[i]);
    QCOMPARE(link.InfoField(int(fields.size()) + 1), QByteArray());
}

void TestGsmLink::infoLineBeforeAnyCommand() {
    TScriptedSerial link;
    link.AddReply({"\r\n+CSQ: 20,99\r\nOK\r\n"});
    QVERIFY(link.SendAndWait("AT+CSQ", QByteArray(), true));
    QCOMPARE(link.Responses.size(), 2);
    QCOMPARE(link.InfoLine(), QByteArray());
    QCOMPARE(link.InfoFieldCount(), 0);
    QCOMPARE(link.InfoField(1), QByteArray());
}

void TestGsmLink::sendAndWaitKeepsLastCommand() {
    TScriptedSerial link;
    link.AddReply({"AT+CMGF=0\r\r\nOK\r\n"});
    link.AddReply({"AT+CMGS=23\r", "\r\n> "});
    QVERIFY(link.ExecuteCommand("AT+CMGF=0"));
    link.ResultOk = false;
    QVERIFY(link.SendAndWait("AT+CMGS=23", "> ", false));
    QVERIFY(link.ResultOk);
    QCOMPARE(link.LastCommand, QByteArray("AT+CMGF=0"));
    QCOMPARE(link.Responses, (TLines{"AT+CMGS=23", "> "}));
    // Only lines holding the last ExecuteCommand's text are skipped.
    QCOMPARE(link.InfoLine(), QByteArray("AT+CMGS=23"));
    QCOMPARE(link.Written, (TLines{"AT+CMGF=0", "AT+CMGS=23"}));
}

void TestGsmLink::infoFieldOutOfRange_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("n");
    QTest::newRow("field 0") << QByteArray("+CSQ: 20,99") << 0;
    QTest::newRow("negative field") << QByteArray("+CSQ: 20,99") << -3;
    QTest::newRow("beyond the last") << QByteArray("+CSQ: 20,99") << 3;
    QTest::newRow("far beyond") << QByteArray("+CSQ: 20,99") << 1000000;
    QTest::newRow("no colon, second field") << QByteArray("Model X") << 2;
}

void TestGsmLink::infoFieldOutOfRange() {
    QFETCH(QByteArray, line);
    QFETCH(int, n);
    TScriptedSerial link;
    link.AddReply({"\r\n" + line + "\r\nOK\r\n"});
    QVERIFY(link.ExecuteCommand("AT+Q"));
    QCOMPARE(link.InfoLine(), line);
    QCOMPARE(link.InfoField(n), QByteArray());
}

void TestGsmLink::isFinalResponse_data() {
    QTest::addColumn<TLines>("expected");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("final");
    QTest::addColumn<int>("resultOk"); // -1: left as it was

    QTest::newRow("OK") << TLines{} << QByteArray("OK") << true << 1;
    QTest::newRow("OK inside a line") << TLines{} << QByteArray("+X: BOOK") << true << 1;
    QTest::newRow("ERROR") << TLines{} << QByteArray("+CMS ERROR: 304") << true << 0;
    QTest::newRow("OK before ERROR") << TLines{} << QByteArray("ERROR OK") << true << 1;
    QTest::newRow("OK wins over expected") << TLines{"ERR"} << QByteArray("OK") << true << 1;
    QTest::newRow("ERROR wins over expected") << TLines{"ERR"} << QByteArray("ERROR") << true << 0;
    QTest::newRow("expected text") << TLines{"> "} << QByteArray("> ") << true << 1;
    QTest::newRow("second expected text")
        << TLines{"+CMGS", "> "} << QByteArray("abc> def") << true << 1;
    QTest::newRow("empty expected never matches")
        << TLines{""} << QByteArray("RING") << false << -1;
    QTest::newRow("case matters") << TLines{} << QByteArray("ok error") << false << -1;
    QTest::newRow("information line") << TLines{"> "} << QByteArray("+CSQ: 20,99") << false << -1;
}

void TestGsmLink::isFinalResponse() {
    QFETCH(TLines, expected);
    QFETCH(QByteArray, line);
    QFETCH(bool, final);
    QFETCH(int, resultOk);
    for (const bool before : {false, true}) {
        TScriptedSerial link;
        link.ResultOk = before;
        QCOMPARE(link.IsFinalResponse(expected, line), final);
        QCOMPARE(link.ResultOk, resultOk < 0 ? before : resultOk == 1);
    }
}

void TestGsmLink::observersSeeLinesAndCommands() {
    TScriptedSerial link;
    TLines seen;
    QList<qsizetype> sizesWhenSeen;
    TLines commands;
    link.OnResponseLine = [&](TGsmLink &l, const QByteArray &line) {
        QCOMPARE(&l, &link);
        seen.append(line);
        sizesWhenSeen.append(l.Responses.size());
    };
    link.OnCommandSent = [&](TGsmLink &, const QByteArray &command) { commands.append(command); };
    link.AddReply({"\r\n+CSQ: 3,99\r\n\r\nOK\r\n"});
    QVERIFY(link.ExecuteCommand("AT+CSQ"));
    QCOMPARE(seen, (TLines{"+CSQ: 3,99", "OK"}));
    // Each line is reported before it is appended.
    QCOMPARE(sizesWhenSeen, (QList<qsizetype>{0, 1}));
    QCOMPARE(commands, TLines{"AT+CSQ"});
}

void TestGsmLink::scannerAloneAcrossChunkSizes_data() {
    QTest::addColumn<bool>("completeLinesOnly");
    QTest::newRow("complete lines only") << true;
    QTest::newRow("partial lines accepted") << false;
}

void TestGsmLink::scannerAloneAcrossChunkSizes() {
    QFETCH(bool, completeLinesOnly);
    const QByteArray stream = "AT+CMGS=12\r\r\n+CMGS: 7\r\n\r\nRING\n\r+X: a,b\rOK\r\nLOST\r\n";
    const TLines lines{"AT+CMGS=12", "+CMGS: 7", "RING", "+X: a,b", "OK"};
    // Every way of cutting the stream into pieces of one size gives the same lines.
    for (int size = 1; size <= stream.size(); ++size) {
        TScriptedSerial link;
        TReplyScanner scanner(link, "> ", completeLinesOnly);
        bool found = false;
        for (qsizetype at = 0; at < stream.size() && !found; at += size)
            found = scanner.Feed(stream.mid(at, size));
        QVERIFY2(found, qPrintable(QString::number(size)));
        QCOMPARE(link.Responses, lines);
        QVERIFY(link.ResultOk);
    }
}

void TestGsmLink::megabyteWithoutLineEnd_data() {
    QTest::addColumn<bool>("completeLinesOnly");
    QTest::newRow("complete lines only") << true;
    QTest::newRow("partial lines accepted") << false;
}

void TestGsmLink::megabyteWithoutLineEnd() {
    QFETCH(bool, completeLinesOnly);
    // Printable noise that holds no final text, in pieces as small as a slow line delivers;
    // testing the whole pending line for each piece would take many seconds.
    QByteArray noise(1 << 20, 'x');
    for (qsizetype i = 0; i < noise.size(); i += 7)
        noise[i] = char('a' + i % 13);
    TScriptedSerial link;
    for (qsizetype at = 0; at < noise.size(); at += 64)
        link.AddChunk(noise.mid(at, 64));
    link.AddChunk(completeLinesOnly ? "\r\nOK\r\n" : "\r\n> ");
    QElapsedTimer timer;
    timer.start();
    if (completeLinesOnly) {
        QVERIFY(link.WaitResponse("> ", true));
        QCOMPARE(link.Responses.size(), 2);
        QCOMPARE(link.Responses[1], QByteArray("OK"));
    } else {
        QVERIFY(link.WaitResponse("> ", false));
        QCOMPARE(link.Responses.size(), 2);
        QCOMPARE(link.Responses[1], QByteArray("> "));
    }
    QCOMPARE(link.Responses[0], noise);
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
}

void TestGsmLink::endlessBurstEndsOnStop() {
    TScriptedSerial link;
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char(
            (i * 131 + 7) % 256 == '\r' || (i * 131 + 7) % 256 == '\n' ? 'z' : (i * 131 + 7) % 256);
    garbage.replace("OK", "ok");
    garbage.replace("ERROR", "error");
    for (int i = 0; i < 512; ++i)
        link.AddChunk(garbage);
    link.BeforeRead = [&](int read) {
        if (read == 400)
            link.Abort();
    };
    QVERIFY(!link.WaitResponse("> ", false));
    QCOMPARE(link.Reads, 400);
    QVERIFY(link.Responses.isEmpty());
}

QTEST_GUILESS_MAIN(TestGsmLink)
#include "tst_gsmlink.moc"
