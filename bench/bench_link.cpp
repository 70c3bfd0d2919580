// Round trips of one command against the simulated phone, and the cost of cutting modem
// output into lines per MB of response text.
#include "link/GsmSerial.h"
#include "link/ModemSetup.h"
#include "link/PhoneReadiness.h"
#include "link/ReplyScanner.h"
#include "link/SerialPort.h"
#include "modemsim/ModemSim.h"
#include "support/ScriptedSerial.h"

#include <QFile>

#include <benchmark/benchmark.h>

namespace {

// About 1 MB of listing-style output: information lines and PDU lines, final line at the end.
QByteArray responseText() {
    QByteArray text;
    for (int i = 0; text.size() < (1 << 20); ++i) {
        text += "+CMGL: " + QByteArray::number(i) + ",1,,23\r\n";
        text += "0791448720003023240DD0E474D81C0EBB010000111011315214000BE474D81C0EBB5DE3771B\r\n";
    }
    return text + "\r\nOK\r\n";
}

void feedInChunks(benchmark::State &state, const QByteArray &text, const QByteArray &expected,
                  bool completeLinesOnly) {
    const qsizetype chunk = state.range(0);
    for (auto _ : state) {
        ScriptedSerial link;
        ReplyScanner scanner(link, expected, completeLinesOnly);
        bool found = false;
        for (qsizetype at = 0; at < text.size() && !found; at += chunk)
            found = scanner.feed(text.constData() + at, std::min(chunk, text.size() - at));
        if (!found)
            state.SkipWithError("no final line");
        benchmark::DoNotOptimize(link.responses.size());
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}

void BM_ScanLines(benchmark::State &state) {
    static const QByteArray text = responseText();
    feedInChunks(state, text, QByteArray(), true);
}
BENCHMARK(BM_ScanLines)->Arg(64)->Arg(4096)->Unit(benchmark::kMillisecond);

// A 1 MB line without a line end while the prompt may come unterminated: every chunk is
// tested for a final text.
void BM_ScanUnterminatedPromptWait(benchmark::State &state) {
    static const QByteArray text = QByteArray(1 << 20, 'x') + "\r\n> ";
    feedInChunks(state, text, "> ", false);
}
BENCHMARK(BM_ScanUnterminatedPromptWait)->Arg(64)->Arg(4096)->Unit(benchmark::kMillisecond);

// Noise with NUL bytes every 16 bytes.
void BM_ScanWithNuls(benchmark::State &state) {
    static const QByteArray text = [] {
        QByteArray t = responseText();
        for (qsizetype i = 0; i + 6 < t.size(); i += 16)
            t[i] = '\0';
        return t;
    }();
    feedInChunks(state, text, QByteArray(), true);
}
BENCHMARK(BM_ScanWithNuls)->Arg(4096)->Unit(benchmark::kMillisecond);

// Round trips of executeCommand("AT") against the simulated phone over a pty.
void BM_ExecuteCommandRoundTrip(benchmark::State &state) {
    ModemSim sim;
    QString error;
    if (!sim.start(&error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    SerialPort port(QFile::encodeName(sim.portPath()));
    GsmSerial link(port);
    link.open();
    if (!link.executeCommand("ATE0")) {
        state.SkipWithError("ATE0 refused");
        return;
    }
    for (auto _ : state) {
        if (!link.executeCommand("AT")) {
            state.SkipWithError("AT refused");
            break;
        }
    }
    state.counters["round_trips"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExecuteCommandRoundTrip)->UseRealTime()->MinTime(2.0);

// What the checks of a run start (maker, SIM card, network, service centre) add to it against
// the instant simulated phone: a ready phone, and an LTE module that answers all three
// registration queries.
void BM_RunStartChecks(benchmark::State &state) {
    ModemSimOptions options;
    options.lteOnly = state.range(0) != 0;
    ModemSim sim(options);
    QString error;
    if (!sim.start(&error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    SerialPort port(QFile::encodeName(sim.portPath()));
    GsmSerial link(port);
    link.open();
    ModemSetup setup(link);
    if (setup.run(ModemSetup::sendingSteps()) != ModemSetup::Result::Ready) {
        state.SkipWithError("the phone was not readied");
        return;
    }
    const QList<ModemSetup::Step> checks = PhoneReadiness::steps(ReadinessOptions());
    for (auto _ : state) {
        if (setup.run(checks) != ModemSetup::Result::Ready) {
            state.SkipWithError(setup.failure().constData());
            break;
        }
    }
}
BENCHMARK(BM_RunStartChecks)
    ->ArgName("lte_only")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
