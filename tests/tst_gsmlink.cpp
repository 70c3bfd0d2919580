// The AT command channel on scripted reads: how chunks become response lines, when a wait
// ends, and what the reading helpers make of a response.
#include "base/Error.h"
#include "link/ReplyScanner.h"
#include "support/ScriptedSerial.h"

#include <QElapsedTimer>
#include <QTest>

using Lines = QList<QByteArray>;

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

    void unsolicitedLines_data();
    void unsolicitedLines();
    void unsolicitedLineNeverEndsAWait();
    void scannerAloneAcrossChunkSizes_data();
    void scannerAloneAcrossChunkSizes();
    void megabyteWithoutLineEnd_data();
    void megabyteWithoutLineEnd();
    void endlessBurstEndsOnStop();
};

static QString errorOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const Error &e) {
        return e.message();
    }
    return QString();
}

void TestGsmLink::chunkScan_data() {
    QTest::addColumn<Lines>("chunks");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("completeLinesOnly");
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<bool>("resultOk");

    QTest::newRow("CR LF OK CR LF")
        << Lines{"\r\nOK\r\n"} << QByteArray() << true << Lines{"OK"} << true;
    QTest::newRow("O then K CR LF")
        << Lines{"O", "K\r\n"} << QByteArray() << true << Lines{"OK"} << true;
    QTest::newRow("OK then CR LF")
        << Lines{"OK", "\r\n"} << QByteArray() << true << Lines{"OK"} << true;
    QTest::newRow("OK then LF") << Lines{"\r\nOK", "\n"} << QByteArray() << true << Lines{"OK"}
                                << true;
    QTest::newRow("ERROR split") << Lines{"\r\nER", "ROR\r\n"} << QByteArray() << true
                                 << Lines{"ERROR"} << false;
    QTest::newRow("device error line") << Lines{"\r\n+CMS ERROR: 500\r\n"} << QByteArray() << true
                                       << Lines{"+CMS ERROR: 500"} << false;
    QTest::newRow("prompt, partial lines accepted")
        << Lines{"\r\n> "} << QByteArray("> ") << false << Lines{"> "} << true;
    QTest::newRow("prompt after its line end, partial lines accepted")
        << Lines{"\r\n", "> "} << QByteArray("> ") << false << Lines{"> "} << true;
    QTest::newRow("prompt with line end")
        << Lines{"\r\n> \r\n"} << QByteArray("> ") << true << Lines{"> "} << true;
    QTest::newRow("ERROR over three chunks, partial lines accepted")
        << Lines{"\r\nE", "RR", "OR\r\n"} << QByteArray("> ") << false << Lines{"ERROR"} << false;
    QTest::newRow("long expected text over three chunks")
        << Lines{"\r\n+CM", "G", "S: 5"} << QByteArray("+CMGS:") << false << Lines{"+CMGS: 5"}
        << true;
    QTest::newRow("model named OK-1 is no answer")
        << Lines{"\r\nOK-1\r\n", "\r\nOK\r\n"} << QByteArray() << true << Lines{"OK-1", "OK"}
        << true;
    QTest::newRow("ERROR inside a line is no answer")
        << Lines{"\r\n+X: NO ERROR\r\n\r\nOK\r\n"} << QByteArray() << true
        << Lines{"+X: NO ERROR", "OK"} << true;
    QTest::newRow("unterminated ERROR waits for its line end")
        << Lines{"\r\nERROR", "\r\n"} << QByteArray("> ") << false << Lines{"ERROR"} << false;
    QTest::newRow("late OK while a prompt is expected is skipped")
        << Lines{"\r\nOK\r\n", "\r\n> "} << QByteArray("> ") << false << Lines{"OK", "> "} << true;
    QTest::newRow("partial tail that is no prompt waits")
        << Lines{"\r\n+CM", "GS: 5\r\n\r\n> "} << QByteArray("> ") << false
        << Lines{"+CMGS: 5", "> "} << true;
    QTest::newRow("CR, LF and CR LF end lines") << Lines{"A\rB\nC\r\n\n\rOK\r"} << QByteArray()
                                                << true << Lines{"A", "B", "C", "OK"} << true;
    QTest::newRow("empty lines are not recorded")
        << Lines{"\r\n\r\n", "\r\n", "\n", "OK\r\n"} << QByteArray() << true << Lines{"OK"} << true;
    QTest::newRow("echo and information line")
        << Lines{"AT+CSQ\r\r\n+CSQ: 20,99\r\n\r\nOK\r\n"} << QByteArray() << true
        << Lines{"AT+CSQ", "+CSQ: 20,99", "OK"} << true;
    QTest::newRow("unsolicited lines are left out")
        << Lines{"\r\nRING\r\n", "\r\n+CSQ: 9,99\r\n", "\r\nOK\r\n"} << QByteArray() << true
        << Lines{"+CSQ: 9,99", "OK"} << true;
    QTest::newRow("bare prompt without line end")
        << Lines{"\r\n>"} << QByteArray("> ") << false << Lines{">"} << true;
    QTest::newRow("bare prompt with line end")
        << Lines{"\r\n>\r\n"} << QByteArray("> ") << false << Lines{">"} << true;
    QTest::newRow("prompt without a line end before it")
        << Lines{"> "} << QByteArray("> ") << false << Lines{"> "} << true;
    QTest::newRow("unsolicited line before the prompt")
        << Lines{"\r\n^RSSI:17\r\n", "\r\n>"} << QByteArray("> ") << false << Lines{">"} << true;
    QTest::newRow("one byte per chunk") << Lines{"\r", "\n", "+", "X", "\r", "\n", "O", "K", "\r"}
                                        << QByteArray() << true << Lines{"+X", "OK"} << true;
    QTest::newRow("NUL inside a line is dropped")
        << Lines{QByteArray("O\0K\r\n", 5)} << QByteArray() << true << Lines{"OK"} << true;
    QTest::newRow("NUL before the final line") << Lines{QByteArray("+X\r\n\0\0\r\nOK\r\n", 12)}
                                               << QByteArray() << true << Lines{"+X", "OK"} << true;
    QTest::newRow("chunk of NUL bytes only")
        << Lines{QByteArray(3, '\0'), "OK\r\n"} << QByteArray() << true << Lines{"OK"} << true;
    QTest::newRow("binary garbage then OK")
        << Lines{QByteArray("\x80\xff\x01\x1a\x7f", 5), "\r\nOK\r\n"} << QByteArray() << true
        << Lines{QByteArray("\x80\xff\x01\x1a\x7f", 5), "OK"} << true;
}

void TestGsmLink::chunkScan() {
    QFETCH(Lines, chunks);
    QFETCH(QByteArray, expected);
    QFETCH(bool, completeLinesOnly);
    QFETCH(Lines, lines);
    QFETCH(bool, resultOk);

    ScriptedSerial link;
    link.resultOk = !resultOk;
    link.addChunks(chunks);
    QVERIFY(link.waitResponse(expected, completeLinesOnly));
    QCOMPARE(link.responses, lines);
    QCOMPARE(link.resultOk, resultOk);
    QCOMPARE(link.reads, int(chunks.size()));
}

void TestGsmLink::terminatorInNextChunkRecordsLineLate() {
    ScriptedSerial link;
    link.addChunks({"OK", "\r\n"});
    qsizetype linesBeforeSecondRead = -1;
    link.beforeRead = [&](int read) {
        if (read == 2)
            linesBeforeSecondRead = link.responses.size();
    };
    QVERIFY(link.waitResponse(QByteArray(), true));
    QCOMPARE(linesBeforeSecondRead, 0);
    QCOMPARE(link.responses, Lines{"OK"});
}

void TestGsmLink::promptWithCompleteLinesOnlyRunsOn() {
    ScriptedSerial link;
    link.readWait = 1;
    link.addChunk("\r\n> ");
    QCOMPARE(errorOf([&] { link.waitResponse("> ", true); }),
             QStringLiteral("Timeout in reading COM port"));
    QVERIFY(link.responses.isEmpty());

    // A later line end completes the prompt's line.
    ScriptedSerial later;
    later.addChunks({"\r\n> ", "\r\n"});
    QVERIFY(later.waitResponse("> ", true));
    QCOMPARE(later.responses, Lines{"> "});
}

void TestGsmLink::linesAfterFinalAreDropped() {
    ScriptedSerial link;
    link.addChunks({"\r\nOK\r\nRING\r\n+CMTI: \"SM\",1\r\n", "\r\n+CSQ: 5,99\r\nOK\r\n"});
    QVERIFY(link.waitResponse(QByteArray(), true));
    QCOMPARE(link.responses, Lines{"OK"});
    QVERIFY(link.waitResponse(QByteArray(), true));
    QCOMPARE(link.responses, (Lines{"+CSQ: 5,99", "OK"}));
}

void TestGsmLink::readResults_data() {
    QTest::addColumn<Lines>("chunksBefore");
    QTest::addColumn<int>("emptyWaits");
    QTest::addColumn<int>("failingResult");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("reads");

    QTest::newRow("61st empty wait fails")
        << Lines{} << 61 << 1 << "Timeout in reading COM port" << 61;
    QTest::newRow("data does not restore the budget")
        << Lines{"+CSQ: 1"} << 61 << 1 << "Timeout in reading COM port" << 62;
    QTest::newRow("first zero-byte read fails")
        << Lines{"\r\n+CSQ: 1,99\r\n"} << 0 << 0 << "Zero byte returned in reading COM port" << 2;
    QTest::newRow("zero-byte read after empty waits")
        << Lines{} << 60 << 0 << "Zero byte returned in reading COM port" << 61;
    QTest::newRow("line error") << Lines{"\r\n+CSQ: 1,99\r\n"} << 0 << -1 << "Error in ReadBuffer"
                                << 2;
    QTest::newRow("unknown negative result") << Lines{} << 0 << -7 << "Error in ReadBuffer" << 1;
}

void TestGsmLink::readResults() {
    QFETCH(Lines, chunksBefore);
    QFETCH(int, emptyWaits);
    QFETCH(int, failingResult);
    QFETCH(QString, error);
    QFETCH(int, reads);

    ScriptedSerial link;
    link.addChunks(chunksBefore);
    // Empty waits beyond the script come by themselves.
    if (failingResult != 1) {
        for (int i = 0; i < emptyWaits; ++i)
            link.addResult(-2);
        link.addResult(failingResult);
    }
    QCOMPARE(errorOf([&] { link.waitResponse(QByteArray(), true); }), error);
    QCOMPARE(link.reads, reads);
    // Lines received before the failure stay for the caller.
    if (chunksBefore.value(0).endsWith("\r\n"))
        QCOMPARE(link.responses, Lines{"+CSQ: 1,99"});
}

void TestGsmLink::abortedBeforeWaitReadsNothing() {
    ScriptedSerial link;
    link.responses = {"old"};
    link.resultOk = true;
    link.addChunk("\r\nERROR\r\n");
    link.aborted = true;
    QVERIFY(!link.waitResponse(QByteArray(), true));
    QCOMPARE(link.reads, 0);
    QVERIFY(link.responses.isEmpty());
    QVERIFY(link.resultOk);
    QVERIFY(!link.executeCommand("AT"));
    QCOMPARE(link.reads, 0);
}

void TestGsmLink::abortDuringWaitKeepsLinesAndLatches() {
    ScriptedSerial link;
    link.addReply({"\r\n+CSQ: 20,99\r\n"});
    link.beforeRead = [&](int read) {
        if (read == 4)
            link.abort();
    };
    QVERIFY(!link.executeCommand("AT+CSQ"));
    // The flag is tested before each read: read 4 set it, read 5 never happened.
    QCOMPARE(link.reads, 4);
    QCOMPARE(link.responses, Lines{"+CSQ: 20,99"});
    QCOMPARE(link.infoLine(), QByteArray("+CSQ: 20,99"));

    link.beforeRead = nullptr;
    link.addReply({"\r\nOK\r\n"});
    QVERIFY(!link.executeCommand("AT"));
    QVERIFY(!link.sendAndWait("AT+CMGS=5", "> ", false));
    QCOMPARE(link.reads, 4);
}

void TestGsmLink::openClearsNothingWhenItFails() {
    ScriptedSerial link;
    link.port().setPortName("/nonexistent/pelorvane-port");
    link.aborted = true;
    QCOMPARE(errorOf([&] { link.open(); }),
             QStringLiteral("Unable to open com port (win error code: 2)"));
    QVERIFY(link.aborted);
    QVERIFY(!link.connected());
}

void TestGsmLink::executeCommand_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<Lines>("reply");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("infoLine");
    QTest::addColumn<int>("fieldCount");
    QTest::addColumn<Lines>("fields");

    QTest::newRow("signal, echo off")
        << QByteArray("AT+CSQ") << Lines{"\r\n+CSQ: 20,99\r\n", "\r\nOK\r\n"} << true
        << QByteArray("+CSQ: 20,99") << 2 << Lines{"20", "99"};
    QTest::newRow("signal, echo on")
        << QByteArray("AT+CSQ") << Lines{"AT+CSQ\r", "\r\n+CSQ: 20,99\r\n\r\nOK\r\n"} << true
        << QByteArray("+CSQ: 20,99") << 2 << Lines{"20", "99"};
    QTest::newRow("battery") << QByteArray("AT+CBC") << Lines{"\r\n+CBC: 0,85\r\n\r\nOK\r\n"}
                             << true << QByteArray("+CBC: 0,85") << 2 << Lines{"0", "85"};
    QTest::newRow("field after a space keeps it")
        << QByteArray("AT+CSQ") << Lines{"\r\n+CSQ: 20, 99\r\n\r\nOK\r\n"} << true
        << QByteArray("+CSQ: 20, 99") << 2 << Lines{"20", " 99"};
    QTest::newRow("quotes stay") << QByteArray("AT+CSCA?")
                                 << Lines{"\r\n+CSCA: \"+491710760000\",145\r\n\r\nOK\r\n"} << true
                                 << QByteArray("+CSCA: \"+491710760000\",145") << 2
                                 << Lines{"\"+491710760000\"", "145"};
    QTest::newRow("maker, no colon")
        << QByteArray("AT+GMI") << Lines{"\r\nPelorvane Ltd\r\n\r\nOK\r\n"} << true
        << QByteArray("Pelorvane Ltd") << 0 << Lines{"Pelorvane Ltd"};
    QTest::newRow("device error") << QByteArray("AT+CBC") << Lines{"\r\n+CME ERROR: 10\r\n"}
                                  << false << QByteArray("+CME ERROR: 10") << 1 << Lines{"10"};
    QTest::newRow("device error with echo")
        << QByteArray("AT+CBC") << Lines{"AT+CBC\r\r\n+CME ERROR: 10\r\n"} << false
        << QByteArray("+CME ERROR: 10") << 1 << Lines{"10"};
    QTest::newRow("plain ERROR") << QByteArray("AT+GMM") << Lines{"\r\nERROR\r\n"} << false
                                 << QByteArray("ERROR") << 0 << Lines{"ERROR"};
    QTest::newRow("OK and ERROR in one line is information")
        << QByteArray("AT") << Lines{"\r\nOK ERROR\r\n", "\r\nOK\r\n"} << true
        << QByteArray("OK ERROR") << 0 << Lines{"OK ERROR"};
    QTest::newRow("model OK-1") << QByteArray("AT+GMM") << Lines{"\r\nOK-1\r\n\r\nOK\r\n"} << true
                                << QByteArray("OK-1") << 0 << Lines{"OK-1"};
    QTest::newRow("only the final line") << QByteArray("ATE0") << Lines{"ATE0\r\r\nOK\r\n"} << true
                                         << QByteArray("OK") << 0 << Lines{"OK"};
    QTest::newRow("every line holds the command")
        << QByteArray("OK") << Lines{"OK\r\n"} << true << QByteArray() << 0 << Lines{};
    QTest::newRow("empty fields after colon")
        << QByteArray("AT+X") << Lines{"\r\n+X: \t\r\n\r\nOK\r\n"} << true << QByteArray("+X: \t")
        << 1 << Lines{""};
    QTest::newRow("blank fields") << QByteArray("AT+X") << Lines{"\r\n+X: ,,\r\nOK\r\n"} << true
                                  << QByteArray("+X: ,,") << 3 << Lines{"", "", ""};
}

void TestGsmLink::executeCommand() {
    QFETCH(QByteArray, command);
    QFETCH(Lines, reply);
    QFETCH(bool, result);
    QFETCH(QByteArray, infoLine);
    QFETCH(int, fieldCount);
    QFETCH(Lines, fields);

    ScriptedSerial link;
    link.addReply(reply);
    QCOMPARE(link.executeCommand(command), result);
    QCOMPARE(link.written, Lines{command});
    QCOMPARE(link.lastCommand, command);
    QCOMPARE(link.lastCommandFailed(), !result);
    QCOMPARE(link.infoLine(), infoLine);
    QCOMPARE(link.infoFieldCount(), fieldCount);
    for (int i = 0; i < fields.size(); ++i)
        QCOMPARE(link.infoField(i + 1), fields[i]);
    QCOMPARE(link.infoField(int(fields.size()) + 1), QByteArray());
}

void TestGsmLink::infoLineBeforeAnyCommand() {
    ScriptedSerial link;
    link.addReply({"\r\n+CSQ: 20,99\r\nOK\r\n"});
    QVERIFY(link.sendAndWait("AT+CSQ", QByteArray(), true));
    QCOMPARE(link.responses.size(), 2);
    QCOMPARE(link.infoLine(), QByteArray());
    QCOMPARE(link.infoFieldCount(), 0);
    QCOMPARE(link.infoField(1), QByteArray());
}

void TestGsmLink::sendAndWaitKeepsLastCommand() {
    ScriptedSerial link;
    link.addReply({"AT+CMGF=0\r\r\nOK\r\n"});
    link.addReply({"AT+CMGS=23\r", "\r\n> "});
    QVERIFY(link.executeCommand("AT+CMGF=0"));
    link.resultOk = false;
    QVERIFY(link.sendAndWait("AT+CMGS=23", "> ", false));
    QVERIFY(link.resultOk);
    QCOMPARE(link.lastCommand, QByteArray("AT+CMGF=0"));
    QCOMPARE(link.responses, (Lines{"AT+CMGS=23", "> "}));
    // Only lines holding the last executeCommand's text are skipped.
    QCOMPARE(link.infoLine(), QByteArray("AT+CMGS=23"));
    QCOMPARE(link.written, (Lines{"AT+CMGF=0", "AT+CMGS=23"}));
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
    ScriptedSerial link;
    link.addReply({"\r\n" + line + "\r\nOK\r\n"});
    QVERIFY(link.executeCommand("AT+Q"));
    QCOMPARE(link.infoLine(), line);
    QCOMPARE(link.infoField(n), QByteArray());
}

void TestGsmLink::isFinalResponse_data() {
    QTest::addColumn<Lines>("expected");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("final");
    QTest::addColumn<int>("resultOk"); // -1: left as it was

    QTest::newRow("OK") << Lines{} << QByteArray("OK") << true << 1;
    QTest::newRow("OK inside a line") << Lines{} << QByteArray("+X: BOOK") << false << -1;
    QTest::newRow("OK with blanks around") << Lines{} << QByteArray(" OK\t") << true << 1;
    QTest::newRow("model OK-1") << Lines{} << QByteArray("OK-1") << false << -1;
    QTest::newRow("ERROR inside a line") << Lines{} << QByteArray("+CPIN: ERROR") << false << -1;
    QTest::newRow("CME ERROR") << Lines{} << QByteArray("+CME ERROR: 10") << true << 0;
    QTest::newRow("ERROR") << Lines{} << QByteArray("+CMS ERROR: 304") << true << 0;
    QTest::newRow("ERROR and OK in one line") << Lines{} << QByteArray("ERROR OK") << false << -1;
    QTest::newRow("OK while a prompt is expected")
        << Lines{"> "} << QByteArray("OK") << false << -1;
    QTest::newRow("ERROR wins over expected") << Lines{"ERR"} << QByteArray("ERROR") << true << 0;
    QTest::newRow("expected text") << Lines{"> "} << QByteArray("> ") << true << 1;
    QTest::newRow("second expected text")
        << Lines{"+CMGS", "> "} << QByteArray("> def") << true << 1;
    QTest::newRow("expected text inside a line")
        << Lines{"> "} << QByteArray("abc> def") << false << -1;
    QTest::newRow("empty expected never matches") << Lines{""} << QByteArray("RING") << false << -1;
    QTest::newRow("case matters") << Lines{} << QByteArray("ok error") << false << -1;
    QTest::newRow("information line") << Lines{"> "} << QByteArray("+CSQ: 20,99") << false << -1;
}

void TestGsmLink::isFinalResponse() {
    QFETCH(Lines, expected);
    QFETCH(QByteArray, line);
    QFETCH(bool, final);
    QFETCH(int, resultOk);
    for (const bool before : {false, true}) {
        ScriptedSerial link;
        link.resultOk = before;
        QCOMPARE(link.isFinalResponse(expected, line), final);
        QCOMPARE(link.resultOk, resultOk < 0 ? before : resultOk == 1);
    }
}

void TestGsmLink::observersSeeLinesAndCommands() {
    ScriptedSerial link;
    Lines seen;
    QList<qsizetype> sizesWhenSeen;
    Lines commands;
    link.onResponseLine = [&](GsmLink &l, const QByteArray &line) {
        QCOMPARE(&l, &link);
        seen.append(line);
        sizesWhenSeen.append(l.responses.size());
    };
    link.onCommandSent = [&](GsmLink &, const QByteArray &command) { commands.append(command); };
    link.addReply({"\r\n+CSQ: 3,99\r\n\r\nOK\r\n"});
    QVERIFY(link.executeCommand("AT+CSQ"));
    QCOMPARE(seen, (Lines{"+CSQ: 3,99", "OK"}));
    // Each line is reported before it is appended.
    QCOMPARE(sizesWhenSeen, (QList<qsizetype>{0, 1}));
    QCOMPARE(commands, Lines{"AT+CSQ"});
}

void TestGsmLink::unsolicitedLines_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("unsolicited");

    const QByteArray csq = "AT+CSQ";
    QTest::newRow("RING") << csq << QByteArray("RING") << true;
    QTest::newRow("NO CARRIER") << csq << QByteArray("NO CARRIER") << true;
    QTest::newRow("+CMTI new message") << csq << QByteArray("+CMTI: \"SM\",3") << true;
    QTest::newRow("+CDSI status report stored") << csq << QByteArray("+CDSI: \"SM\",4") << true;
    QTest::newRow("+CDS status report") << csq << QByteArray("+CDS: 25") << true;
    QTest::newRow("+CMT message") << csq << QByteArray("+CMT: ,24") << true;
    QTest::newRow("+CUSD answer") << csq << QByteArray("+CUSD: 0,\"Balance 5.00\",15") << true;
    QTest::newRow("+CREG change, one field") << csq << QByteArray("+CREG: 1") << true;
    QTest::newRow("+CREG change with area")
        << csq << QByteArray("+CREG: 1,\"00C3\",\"AB12\"") << true;
    QTest::newRow("+CGREG change") << csq << QByteArray("+CGREG: 5") << true;
    QTest::newRow("+CEREG change with AcT")
        << csq << QByteArray("+CEREG: 1,\"00C3\",\"0010AB12\",7") << true;
    QTest::newRow("^RSSI") << csq << QByteArray("^RSSI:17") << true;
    QTest::newRow("^BOOT") << csq << QByteArray("^BOOT:20393722,0,0,0,72") << true;
    QTest::newRow("^MODE") << csq << QByteArray("^MODE:5,4") << true;
    QTest::newRow("^SRVST") << csq << QByteArray("^SRVST:2") << true;
    QTest::newRow("^SIMST") << csq << QByteArray("^SIMST:1") << true;
    QTest::newRow("^DSFLOWRPT") << csq << QByteArray("^DSFLOWRPT:0000001E,00000000,00000000")
                                << true;
    QTest::newRow("^HCSQ") << csq << QByteArray("^HCSQ:\"LTE\",50,40,120,20") << true;
    QTest::newRow("+PACSP") << csq << QByteArray("+PACSP0") << true;
    QTest::newRow("+QIND") << csq << QByteArray("+QIND: \"csq\",20,99") << true;
    QTest::newRow("+CPIN unasked") << csq << QByteArray("+CPIN: READY") << true;
    QTest::newRow("blanks around RING") << csq << QByteArray("  RING ") << true;

    QTest::newRow("answer to AT+CREG?")
        << QByteArray("AT+CREG?") << QByteArray("+CREG: 0,1") << false;
    QTest::newRow("answer to AT+CREG? with area")
        << QByteArray("AT+CREG?") << QByteArray("+CREG: 2,1,\"00C3\",\"AB12\",7") << false;
    QTest::newRow("+CREG change while AT+CREG? waits")
        << QByteArray("AT+CREG?") << QByteArray("+CREG: 1") << true;
    QTest::newRow("+CREG change with area while AT+CREG? waits")
        << QByteArray("AT+CREG?") << QByteArray("+CREG: 1,\"00C3\",\"AB12\"") << true;
    QTest::newRow("+CGREG change while AT+CREG? waits")
        << QByteArray("AT+CREG?") << QByteArray("+CGREG: 0,1") << true;
    QTest::newRow("answer to AT+CEREG?")
        << QByteArray("AT+CEREG?") << QByteArray("+CEREG: 0,1") << false;
    QTest::newRow("answer to AT+CPIN?")
        << QByteArray("AT+CPIN?") << QByteArray("+CPIN: SIM PIN") << false;
    QTest::newRow("answer to AT+CUSD?")
        << QByteArray("AT+CUSD?") << QByteArray("+CUSD: 0") << false;
    QTest::newRow("answer to AT^SIMST?")
        << QByteArray("AT^SIMST?") << QByteArray("^SIMST:1") << false;

    QTest::newRow("+CSQ is an answer") << csq << QByteArray("+CSQ: 20,99") << false;
    QTest::newRow("+CMGS is an answer")
        << QByteArray("AT+CMGS=20") << QByteArray("+CMGS: 7") << false;
    QTest::newRow("a model named RINGO") << QByteArray("AT+GMM") << QByteArray("RINGO") << false;
    QTest::newRow("a maker line starting with RING text")
        << QByteArray("AT+GMI") << QByteArray("RING Corp") << false;
    QTest::newRow("an unknown + line is an answer") << csq << QByteArray("+Y") << false;
}

// Each line is sent among an answer: an unsolicited one is passed by (and seen by the
// observer), anything else is recorded as part of the answer.
void TestGsmLink::unsolicitedLines() {
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, line);
    QFETCH(bool, unsolicited);
    QCOMPARE(isUnsolicitedLine(line, command), unsolicited);

    ScriptedSerial link;
    Lines passed;
    link.onUnsolicitedLine = [&](GsmLink &, const QByteArray &text) { passed << text; };
    link.addReply({"\r\n" + line + "\r\n", "\r\n+X: 1\r\n\r\nOK\r\n"});
    link.lastCommand = command;
    QVERIFY(link.sendAndWait(command, QByteArray(), true));
    QVERIFY(link.resultOk);
    if (unsolicited) {
        QCOMPARE(passed, Lines{line});
        QCOMPARE(link.responses, (Lines{"+X: 1", "OK"}));
    } else {
        QVERIFY(passed.isEmpty());
        QCOMPARE(link.responses.first(), line);
    }
}

void TestGsmLink::unsolicitedLineNeverEndsAWait() {
    // Between the prompt and the answer to a body, a flood and a message with its PDU line.
    ScriptedSerial link;
    link.addReply({"\r\n>", " \r\n^RSSI:17\r\n"});
    QVERIFY(link.sendAndWait("AT+CMGS=20", "> ", false));
    QVERIFY(link.resultOk);
    link.addReply({"\r\nRING\r\n\r\n+CMT: ,24\r\n07911326040000F0040B91134661\r\n",
                   "\r\nNO CARRIER\r\n+CREG: 1\r\n\r\n+CMGS: 7\r\n", "\r\nOK\r\n"});
    QVERIFY(link.sendAndWait("0011000B91", QByteArray(), true));
    QVERIFY(link.resultOk);
    QCOMPARE(link.responses, (Lines{"+CMGS: 7", "OK"}));
}

void TestGsmLink::scannerAloneAcrossChunkSizes_data() {
    QTest::addColumn<bool>("completeLinesOnly");
    QTest::newRow("complete lines only") << true;
    QTest::newRow("partial lines accepted") << false;
}

void TestGsmLink::scannerAloneAcrossChunkSizes() {
    QFETCH(bool, completeLinesOnly);
    const QByteArray stream = "AT+CMGS=12\r\r\n+CMGS: 7\r\n\r\nRING\n\r+X: a,b\rOK\r\nLOST\r\n";
    // RING is the phone's own: it is passed by.
    const Lines lines{"AT+CMGS=12", "+CMGS: 7", "+X: a,b", "OK"};
    // Every way of cutting the stream into pieces of one size gives the same lines.
    for (int size = 1; size <= stream.size(); ++size) {
        ScriptedSerial link;
        ReplyScanner scanner(link, QByteArray(), completeLinesOnly);
        bool found = false;
        for (qsizetype at = 0; at < stream.size() && !found; at += size)
            found = scanner.feed(stream.mid(at, size));
        QVERIFY2(found, qPrintable(QString::number(size)));
        QCOMPARE(link.responses, lines);
        QVERIFY(link.resultOk);
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
    ScriptedSerial link;
    for (qsizetype at = 0; at < noise.size(); at += 64)
        link.addChunk(noise.mid(at, 64));
    link.addChunk(completeLinesOnly ? "\r\nOK\r\n" : "\r\n> ");
    QElapsedTimer timer;
    timer.start();
    if (completeLinesOnly) {
        QVERIFY(link.waitResponse(QByteArray(), true));
        QCOMPARE(link.responses.size(), 2);
        QCOMPARE(link.responses[1], QByteArray("OK"));
    } else {
        QVERIFY(link.waitResponse("> ", false));
        QCOMPARE(link.responses.size(), 2);
        QCOMPARE(link.responses[1], QByteArray("> "));
    }
    // The line keeps its first bytes only: memory stays bounded whatever the modem sends.
    QCOMPARE(link.responses[0], noise.left(ReplyScanner::MaxLineLength));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
}

void TestGsmLink::endlessBurstEndsOnStop() {
    ScriptedSerial link;
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char(
            (i * 131 + 7) % 256 == '\r' || (i * 131 + 7) % 256 == '\n' ? 'z' : (i * 131 + 7) % 256);
    garbage.replace("OK", "ok");
    garbage.replace("ERROR", "error");
    for (int i = 0; i < 512; ++i)
        link.addChunk(garbage);
    link.beforeRead = [&](int read) {
        if (read == 400)
            link.abort();
    };
    QVERIFY(!link.waitResponse("> ", false));
    QCOMPARE(link.reads, 400);
    QVERIFY(link.responses.isEmpty());
}

QTEST_GUILESS_MAIN(TestGsmLink)
#include "tst_gsmlink.moc"
