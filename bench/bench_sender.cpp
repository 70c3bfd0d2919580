// A sending run of many messages against the simulated phone with no delay over a pty: the
// time per message, most of which is the phone's and the line's, not the program's.

#include "app/Database.h"
#include "data/OleDate.h"
#include "link/PhoneUnit.h"
#include "sending/SenderThread.h"
#include "tools/modemsim/ModemSim.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

void RunOutbox(benchmark::State &state, bool withRefresh) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        TModemSim sim;
        if (!sim.Start()) {
            state.SkipWithError("simulated phone did not start");
            return;
        }
        TDataModule1 data(dir.filePath(QStringLiteral("pelorvane.ini")));
        data.Settings->SetSessionPort(sim.PortPath().toLocal8Bit());
        for (int i = 0; i < count; ++i) {
            TMessage message;
            message.Number = QByteArray::number(100000 + i);
            message.Text = QStringLiteral("Reminder: the club meets on Friday at 7pm. Bring "
                                          "your membership card and a friend!");
            message.Created = OleNow();
            data.OutboxList->Add(message);
        }
        int refreshes = 0;
        if (withRefresh)
            data.OnRefreshAll = [&refreshes] { ++refreshes; };
        QEventLoop loop;
        data.Phone->OnWorkerDone = [&loop](TPhone &) { loop.quit(); };
        state.ResumeTiming();

        data.Phone->Start(new TSenderThread(data));
        loop.exec();

        state.PauseTiming();
        if (!data.Phone->Reports.isEmpty() || sim.Received().size() != count)
            state.SkipWithError("the run did not send everything");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_SendingRun(benchmark::State &state) {
    RunOutbox(state, false);
}

// With the refresh the window gets twice per message, run on this (the UI) thread.
void BM_SendingRunWithRefresh(benchmark::State &state) {
    RunOutbox(state, true);
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
