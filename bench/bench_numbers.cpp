// Numbers, address books and personal messages at scale: parsing 100,000 typed numbers,
// importing a 100,000-line spreadsheet CSV with 10 % duplicates in national form, and the
// compose view's worst case over 10,000 checked contacts. Each run starts from a fresh parser,
// as one import or one Send to Outbox does.
#include "app/ComposeAnalysis.h"
#include "app/ComposeOutbox.h"
#include "data/ContactList.h"
#include "data/PhoneNumberParser.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// A German mobile number: eight random digits after one of the network prefixes.
QByteArray mobileDigits(QRandomGenerator &random) {
    static const char *const prefixes[] = {"151", "152", "157", "160", "162", "170", "171", "176"};
    QByteArray digits = prefixes[random.bounded(8)];
    for (int i = 0; i < 8; ++i)
        digits += char('0' + random.bounded(10));
    return digits;
}

// The forms people type: national with spaces, international with "+" or "00", brackets.
QByteArray typedForm(const QByteArray &digits, int form) {
    switch (form % 4) {
    case 0:
        return "0" + digits.first(3) + " " + digits.sliced(3);
    case 1:
        return "+49 " + digits.first(3) + " " + digits.sliced(3);
    case 2:
        return "0049" + digits;
    default:
        return "(0" + digits.first(3) + ") " + digits.sliced(3, 4) + "-" + digits.sliced(7);
    }
}

void BM_ParseNumbers(benchmark::State &state) {
    QRandomGenerator random(7);
    QList<QByteArray> numbers;
    for (int i = 0; i < state.range(0); ++i)
        numbers << typedForm(mobileDigits(random), i);
    for (auto _ : state) {
        PhoneNumberParser parser(QStringLiteral("DE"));
        qsizetype total = 0;
        for (const QByteArray &number : numbers)
            total += parser.parse(number).number.size();
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseNumbers)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// A spreadsheet's export: header, semicolons, names with accents; every tenth line repeats an
// earlier contact's number in national form.
QString spreadsheet(int lines) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("contacts-%1.csv").arg(lines));
    if (QFile::exists(path))
        return path;
    QRandomGenerator random(11);
    QList<QByteArray> digits;
    QByteArray text = "Vorname;Nachname;Handy;E-Mail\r\n";
    for (int i = 0; i < lines; ++i) {
        QByteArray number;
        if (i % 10 == 9 && !digits.isEmpty()) {
            number = typedForm(digits[random.bounded(int(digits.size()))], 0);
        } else {
            digits << mobileDigits(random);
            number = typedForm(digits.last(), 1 + i % 3);
        }
        text += "Anna " + QByteArray::number(i) + ";M\xC3\xBCller;" + number + ";anna" +
                QByteArray::number(i) + "@example.org\r\n";
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

void BM_ImportSpreadsheet(benchmark::State &state) {
    const QString path = spreadsheet(int(state.range(0)));
    for (auto _ : state) {
        ContactList list;
        const ImportResult result = list.importFromFile(path, QStringLiteral("DE"));
        benchmark::DoNotOptimize(result.imported);
        state.counters["imported"] = result.imported;
        state.counters["duplicates"] = result.duplicates;
    }
}
BENCHMARK(BM_ImportSpreadsheet)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

ContactList &checkedContacts(int count) {
    static ContactList list;
    if (list.count() == 0) {
        QRandomGenerator random(13);
        const QStringList names = {QStringLiteral("Anna Becker"),  QStringLiteral("Jonas Weber"),
                                   QStringLiteral(u"Zoë Adams"),   QStringLiteral(u"Łukasz Nowak"),
                                   QStringLiteral("Lea Hoffmann"), QStringLiteral(u"Şule Kaya")};
        for (int i = 0; i < count; ++i) {
            Contact contact;
            contact.name = names[i % names.size()] + QString::number(i);
            contact.number = typedForm(mobileDigits(random), i);
            list.add(contact);
        }
    }
    return list;
}

const QString Body = QStringLiteral("Hello {FirstName|friend}, our meeting moves to Friday 18:00. "
                                    "Your number {Number} stays on the list, {Name}.");

// What the compose view works out before anything is queued: the recipients' numbers and the
// worst case over their texts.
void BM_ComposeAnalysis(benchmark::State &state) {
    ContactList &contacts = checkedContacts(int(state.range(0)));
    for (auto _ : state) {
        PhoneNumberParser parser(QStringLiteral("DE"));
        const QList<Recipient> recipients = contactRecipients(contacts, true, parser);
        const ComposeAnalysis analysis = analyseCompose(QStringLiteral("Club"), Body, recipients);
        benchmark::DoNotOptimize(analysis.longest);
        state.counters["ucs2"] = double(analysis.ucs2Recipients.size());
        state.counters["moreParts"] = double(analysis.moreParts.size());
    }
}
BENCHMARK(BM_ComposeAnalysis)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same with a text of about 400 characters: every recipient's text is longer than one SMS,
// so each one is filled and cut into parts by the encoder's rule.
void BM_ComposeAnalysisLongText(benchmark::State &state) {
    ContactList &contacts = checkedContacts(int(state.range(0)));
    const QString body = QStringList{Body, Body, Body}.join(QLatin1Char(' '));
    for (auto _ : state) {
        PhoneNumberParser parser(QStringLiteral("DE"));
        const QList<Recipient> recipients = contactRecipients(contacts, true, parser);
        const ComposeAnalysis analysis = analyseCompose(QStringLiteral("Club"), body, recipients);
        benchmark::DoNotOptimize(analysis.longest);
        state.counters["parts"] = double(analysis.longestSize.parts);
        state.counters["overOneSms"] = double(analysis.overOneSms.size());
    }
}
BENCHMARK(BM_ComposeAnalysisLongText)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Send to Outbox's own work for the same recipients, each full number checked against its
// country's numbering plan (the library every time): for the record, no target.
void BM_PlanOutbox(benchmark::State &state) {
    ContactList &contacts = checkedContacts(int(state.range(0)));
    for (auto _ : state) {
        PhoneNumberParser parser(QStringLiteral("DE"));
        const OutboxPlan plan =
            planOutbox(contactRecipients(contacts, true, parser), QStringLiteral("Club"), Body);
        benchmark::DoNotOptimize(plan.entries.size());
    }
}
BENCHMARK(BM_PlanOutbox)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
