// A sending run of many messages against the simulated phone with no delay over a pty: the
// time per message, most of which is the phone's and the line's, not the program's.

#include "app/AppData.h"
#include "base/OleDate.h"
#include "link/Phone.h"
#include "modemsim/ModemSim.h"
#include "sending/SenderThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

void runOutbox(benchmark::State &state, bool withRefresh) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        ModemSim sim;
        if (!sim.start()) {
            state.SkipWithError("simulated phone did not start");
            return;
        }
        AppData data(dir.filePath(QStringLiteral("pelorvane.ini")));
        data.settings->setSessionPort(sim.portPath().toLocal8Bit());
        for (int i = 0; i < count; ++i) {
            Message message;
            message.number = QByteArray::number(100000 + i);
            message.text = QStringLiteral("Reminder: the club meets on Friday at 7pm. Bring "
                                          "your membership card and a friend!");
            message.created = oleNow();
            data.outboxList->add(message);
        }
        int refreshes = 0;
        if (withRefresh)
            data.onRefreshAll = [&refreshes] { ++refreshes; };
        QEventLoop loop;
        data.phone->onWorkerDone = [&loop](Phone &) { loop.quit(); };
        state.ResumeTiming();

        data.phone->start(data.newSender());
        loop.exec();

        state.PauseTiming();
        if (!data.phone->reports.isEmpty() || sim.received().size() != count)
            state.SkipWithError("the run did not send everything");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_SendingRun(benchmark::State &state) {
    runOutbox(state, false);
}

// With the refresh the window gets twice per message, run on this (the UI) thread.
void BM_SendingRunWithRefresh(benchmark::State &state) {
    runOutbox(state, true);
}

} // namespace

BENCHMARK(BM_SendingRun)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SendingRunWithRefresh)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
