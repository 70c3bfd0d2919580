// PDU encoding throughput and the cost of cutting very long texts.
//   build/bench/bench_gsmsms --benchmark_repetitions=10 --benchmark_report_aggregates_only=true

#include "sms/SmsParts.h"
#include "sms/SmsSubmit.h"

#include <benchmark/benchmark.h>

namespace {

// A text of exactly `size` code units, cycling through a sample of its coding; the GSM sample
// has escaped characters only when `escapes` is set, so that 160 code units are 160 septets.
QString textOf(Coding coding, qsizetype size, bool escapes = true) {
    static const QString gsmEscapes =
        QStringLiteral(u"Hello, world! {ok} 0123456789 \u20AC\u00E9\u0394@\n");
    static const QString gsmBasic = QStringLiteral(u"Hello, world! 0123456789 \u00E9\u0394@\n");
    const QString &gsm = escapes ? gsmEscapes : gsmBasic;
    static const QString latin1 = QStringLiteral(u"Gr\u00FC\u00DFe aus K\u00F6ln, \u00E1\u00EA`");
    static const QString wide = QStringLiteral(u"\u4F60\u597D\uFF0C\u4E16\u754C \U0001F600 ok");
    const QString &sample = coding == Coding::Gsm7Bit    ? gsm
                            : coding == Coding::EightBit ? latin1
                                                         : wide;
    QString text;
    text.reserve(size);
    while (text.size() < size)
        text += sample;
    text.truncate(size);
    return text;
}

// The sender's path for one message: choose the coding, then build the PDU. 8-bit data is
// never chosen from a text, only given by hand.
void BM_BuildPdu(benchmark::State &state) {
    const auto coding = static_cast<Coding>(state.range(0));
    SmsSubmit request;
    request.number = "+491701234567";
    request.text = textOf(coding, codingLimit(coding), false);
    const bool detected = coding != Coding::EightBit;
    if ((detected && detectCoding(request.text) != coding) ||
        fitLength(request.text, coding, codingLimit(coding)) != request.text.size()) {
        state.SkipWithError("sample text has the wrong coding or does not fit");
        return;
    }
    PduList pdus;
    for (auto _ : state) {
        request.coding = detected ? detectCoding(request.text) : coding;
        benchmark::DoNotOptimize(buildSubmitPdu(request, pdus));
        benchmark::DoNotOptimize(pdus.first().hex.constData());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(codingName(coding));
}
BENCHMARK(BM_BuildPdu)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

constexpr qsizetype OneMegabyte = 1 << 20; // code units

// A pasted 1 MB document: choose the coding, cut it to one message, build the PDU.
void BM_BuildPdu1MB(benchmark::State &state) {
    const auto coding = static_cast<Coding>(state.range(0));
    SmsSubmit request;
    request.number = "+491701234567";
    request.text = textOf(coding, OneMegabyte);
    PduList pdus;
    for (auto _ : state) {
        request.coding = detectCoding(request.text);
        benchmark::DoNotOptimize(buildSubmitPdu(request, pdus));
    }
    state.SetBytesProcessed(state.iterations() * OneMegabyte * 2);
    state.SetLabel(codingName(coding));
}
BENCHMARK(BM_BuildPdu1MB)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Worst case of the cut: a GSM-coded text whose characters are all outside the alphabet cost
// nothing, so the whole megabyte is walked.
void BM_FitLength1MBWorstCase(benchmark::State &state) {
    const QString text = QString(OneMegabyte, QChar(0x4E2D));
    for (auto _ : state)
        benchmark::DoNotOptimize(fitLength(text, Coding::Gsm7Bit, codingLimit(Coding::Gsm7Bit)));
    state.SetBytesProcessed(state.iterations() * OneMegabyte * 2);
}
BENCHMARK(BM_FitLength1MBWorstCase)->Unit(benchmark::kMillisecond);

// The compose view's cut of a pasted megabyte.
void BM_FitLengthRedetect1MB(benchmark::State &state) {
    const QString text = textOf(static_cast<Coding>(state.range(0)), OneMegabyte);
    for (auto _ : state)
        benchmark::DoNotOptimize(fitLengthRedetect(text));
}
BENCHMARK(BM_FitLengthRedetect1MB)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// The sender's path for a long message of 1000 units (the largest it sends): choose the
// coding, build every part. GSM: 7 parts of 153 septets; UCS-2: 15 parts of 67 code units.
void BM_BuildLongParts(benchmark::State &state) {
    const auto coding = static_cast<Coding>(state.range(0));
    SmsSubmit request;
    request.number = "+491701234567";
    request.isLong = true;
    request.reference = 0x5A;
    if (coding == Coding::Gsm7Bit) {
        request.text = textOf(coding, 2000);
    } else {
        // Without surrogate pairs, so that 15 parts hold the whole 1000 code units.
        request.text = QStringLiteral(u"Gr\u00FC\u00DFe aus K\u00F6ln \u2013 \u4F60\u597D ")
                           .repeated(100)
                           .left(LongMessageLimit);
    }
    request.text.truncate(fitLongLength(request.text, coding));
    if (detectCoding(request.text) != coding ||
        countUnits(request.text, coding) < LongMessageLimit - 1) {
        state.SkipWithError("sample text has the wrong coding or is not 1000 units");
        return;
    }
    PduList pdus;
    for (auto _ : state) {
        request.coding = detectCoding(request.text);
        benchmark::DoNotOptimize(buildSubmitParts(request, pdus));
        benchmark::DoNotOptimize(pdus.last().hex.constData());
    }
    state.counters["parts"] = static_cast<double>(pdus.size());
    state.counters["units"] = countUnits(request.text, coding);
    state.SetLabel(codingName(coding));
}
BENCHMARK(BM_BuildLongParts)->Arg(0)->Arg(2)->Unit(benchmark::kMicrosecond);

// The compose view's count of a pasted megabyte with the long toggle on: one pass over at
// most the first 1000 code units, whatever the size.
void BM_FitTextLong1MB(benchmark::State &state) {
    const QString text = textOf(static_cast<Coding>(state.range(0)), OneMegabyte);
    for (auto _ : state)
        benchmark::DoNotOptimize(fitText(text, 0, true));
}
BENCHMARK(BM_FitTextLong1MB)->Arg(0)->Arg(2)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
