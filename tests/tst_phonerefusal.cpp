// The phone's refusals as a sending run reads them: the table of +CMS and +CME codes, the
// rules over a run (RefusalPolicy) and the summary line.

#include "link/PhoneRefusal.h"
#include "sending/RefusalPolicy.h"
#include "sending/RunSummary.h"

#include <QLocale>
#include <QTest>

using Kind = PhoneRefusal::Kind;
Q_DECLARE_METATYPE(RefusalClass)
Q_DECLARE_METATYPE(RefusalPolicy::Action)

class TestPhoneRefusal : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void codes_data();
    void codes();
    void everyRowIsReachable();
    void policy();
    void summary_data();
    void summary();
};

void TestPhoneRefusal::codes_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<RefusalClass>("refusalClass");
    QTest::addColumn<QString>("reason");
    const auto P = RefusalClass::Permanent;
    const auto T = RefusalClass::Transient;
    const auto L = RefusalClass::PhoneLevel;
    // Recipient-permanent: that message fails, the run goes on.
    QTest::newRow("CMS 1 unassigned number")
        << QByteArray("+CMS ERROR: 1") << P << QStringLiteral("number not in use");
    QTest::newRow("CMS 28 unidentified subscriber")
        << QByteArray("+CMS ERROR: 28") << P
        << QStringLiteral("recipient not known to the network");
    QTest::newRow("CMS 304 malformed")
        << QByteArray("+CMS ERROR: 304") << P << QStringLiteral("message refused as malformed");
    QTest::newRow("CME 26 number too long")
        << QByteArray("+CME ERROR: 26") << P << QStringLiteral("number too long");
    // Transient: tried again later in the run.
    for (const int code : {38, 41, 42, 47, 331, 332, 512, 515, 1000})
        QTest::addRow("CMS %d", code)
            << "+CMS ERROR: " + QByteArray::number(code) << T << QString();
    QTest::newRow("CME 14 SIM busy")
        << QByteArray("+CME ERROR: 14") << T << QStringLiteral("SIM card busy");
    QTest::newRow("CME 515") << QByteArray("+CME ERROR: 515") << T
                             << QStringLiteral("phone-specific error");
    QTest::newRow("unknown CMS code in the network range")
        << QByteArray("+CMS ERROR: 3") << T << QStringLiteral("refused by the network");
    // Phone-level: the run stops with advice.
    for (const int code : {310, 311, 312, 313, 315, 316, 317, 318, 330, 300, 322})
        QTest::addRow("CMS %d", code)
            << "+CMS ERROR: " + QByteArray::number(code) << L << QString();
    QTest::newRow("CME 10 no SIM")
        << QByteArray("+CME ERROR: 10") << L << QStringLiteral("no SIM card");
    QTest::newRow("CME 11 PIN") << QByteArray("+CME ERROR: 11") << L
                                << QStringLiteral("SIM card locked (PIN)");
    // Words in place of numbers (AT+CMEE=2), any case, blanks around.
    QTest::newRow("CMS words") << QByteArray("  +CMS ERROR: sim pin required\r") << L
                               << QStringLiteral("SIM card locked (PIN)");
    QTest::newRow("CME words") << QByteArray("+CME ERROR: SIM busy") << T
                               << QStringLiteral("SIM card busy");
    QTest::newRow("unknown words") << QByteArray("+CME ERROR: flux capacitor") << T
                                   << QStringLiteral("refused: flux capacitor");
    QTest::newRow("plain ERROR") << QByteArray("ERROR") << T
                                 << QStringLiteral("refused without a reason");
    QTest::newRow("negative code")
        << QByteArray("+CMS ERROR: -5") << T << QStringLiteral("phone error");
}

void TestPhoneRefusal::codes() {
    QFETCH(QByteArray, line);
    QFETCH(RefusalClass, refusalClass);
    QFETCH(QString, reason);
    const PhoneRefusal refusal = readRefusal(line);
    QCOMPARE(refusal.refusalClass, refusalClass);
    if (!reason.isEmpty())
        QCOMPARE(refusal.reason, reason);
    QVERIFY(!refusal.reason.isEmpty());
    // Only a refusal that stops the run tells the user what to do, and it always does.
    QCOMPARE(refusal.advice.isEmpty(), refusalClass != RefusalClass::PhoneLevel);
}

// Each row answers a code that no earlier row holds, and its standard words when it has
// them: no row is hidden behind an earlier one, which the order of the table could do by
// mistake.
void TestPhoneRefusal::everyRowIsReachable() {
    const QList<RefusalRow> &rows = refusalTable();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const RefusalRow &row = rows[i];
        const auto heldBefore = [&](int code) {
            for (qsizetype j = 0; j < i; ++j)
                if (rows[j].kind == row.kind && code >= rows[j].first && code <= rows[j].last)
                    return true;
            return false;
        };
        int code = row.first;
        while (code <= row.last && code < row.first + 2000 && heldBefore(code))
            ++code;
        QVERIFY2(code <= row.last && !heldBefore(code), row.reason);
        const QByteArray prefix = row.kind == Kind::Cms ? "+CMS ERROR: " : "+CME ERROR: ";
        const PhoneRefusal refusal = readRefusal(prefix + QByteArray::number(code));
        QCOMPARE(refusal.kind, row.kind);
        QCOMPARE(refusal.code, code);
        QCOMPARE(refusal.refusalClass, row.refusalClass);
        QCOMPARE(refusal.reason, QString::fromUtf8(row.reason));
        QCOMPARE(refusal.advice.isEmpty(), row.refusalClass != RefusalClass::PhoneLevel);
        if (*row.standardText)
            QCOMPARE(readRefusal(prefix + row.standardText).reason, QString::fromUtf8(row.reason));
    }
}

void TestPhoneRefusal::policy() {
    using A = RefusalPolicy::Action;
    {
        RefusalPolicy policy;
        QCOMPARE(policy.refused("+CMS ERROR: 1", "1").action, A::Fail);
        QCOMPARE(policy.refused("+CMS ERROR: 1", "1").action, A::Fail); // same number again
        QCOMPARE(policy.refused("+CMS ERROR: 1", "2").action, A::Fail);
        const auto third = policy.refused("+CMS ERROR: 1", "3");
        QCOMPARE(third.action, A::StopRun);
        QCOMPARE(third.failedInStreak, 3);
    }
    {
        // Another refusal, or an accepted message, breaks the streak.
        RefusalPolicy policy;
        QCOMPARE(policy.refused("+CMS ERROR: 1", "1").action, A::Fail);
        QCOMPARE(policy.refused("+CMS ERROR: 28", "2").action, A::Fail);
        QCOMPARE(policy.refused("+CMS ERROR: 1", "3").action, A::Fail);
        policy.accepted();
        QCOMPARE(policy.refused("+CMS ERROR: 1", "4").action, A::Fail);
        QCOMPARE(policy.refused("+CMS ERROR: 1", "5").action, A::Fail);
    }
    {
        RefusalPolicy policy;
        QCOMPARE(policy.refused("ERROR", "1").action, A::Retry);
        policy.accepted();
        QCOMPARE(policy.refused("ERROR", "1").action, A::Retry);
        QCOMPARE(policy.refused("ERROR", "1").action, A::StopRun);
    }
    {
        RefusalPolicy policy;
        const auto stop = policy.refused("+CMS ERROR: 310", "1");
        QCOMPARE(stop.action, A::StopRun);
        QVERIFY(stop.report.contains("SIM card"));
    }
    {
        RefusalPolicy policy(true);
        const auto stop = policy.refused("+CMS ERROR: 42", "77");
        QCOMPARE(stop.action, A::StopRun);
        QCOMPARE(stop.report,
                 QByteArray("The phone refused the message to 77: network busy (+CMS ERROR: 42)."));
    }
}

void TestPhoneRefusal::summary_data() {
    QTest::addColumn<int>("sent");
    QTest::addColumn<QStringList>("failed");
    QTest::addColumn<int>("unknown");
    QTest::addColumn<int>("notSent");
    QTest::addColumn<QString>("text");
    QTest::newRow("all sent") << 3 << QStringList{} << 0 << 0 << QStringLiteral("Sent 3 of 3");
    QTest::newRow("thousands, one reason")
        << 997 << QStringList{"number not in use", "number not in use"} << 1 << 0
        << QStringLiteral("Sent 997 of 1,000: 2 failed (number not in use), 1 unknown");
    QTest::newRow("two reasons counted")
        << 1 << QStringList{"number not in use", "invalid phone number", "number not in use"} << 0
        << 2
        << QStringLiteral(
               "Sent 1 of 6: 3 failed (2 number not in use, 1 invalid phone number), 2 not sent");
    QTest::newRow("nothing") << 0 << QStringList{} << 0 << 0 << QStringLiteral("Sent 0 of 0");
}

void TestPhoneRefusal::summary() {
    QFETCH(int, sent);
    QFETCH(QStringList, failed);
    QFETCH(int, unknown);
    QFETCH(int, notSent);
    QFETCH(QString, text);
    RunSummary summary;
    summary.sent = sent;
    summary.unknown = unknown;
    summary.notSent = notSent;
    for (const QString &reason : failed)
        summary.addFailed(reason);
    summary.addFailed(QStringLiteral("taken back"));
    summary.removeFailed(QStringLiteral("taken back"));
    QCOMPARE(summary.text(), text);
    QCOMPARE(summary.allSent(), failed.isEmpty() && unknown == 0 && notSent == 0);
}

QTEST_GUILESS_MAIN(TestPhoneRefusal)
#include "tst_phonerefusal.moc"
