// 1,000 messages through N = 1, 2, 4 and 8 simulated phones at once, each answering a message
// 200 ms after it arrived, as a phone waits for the network: how the throughput grows with
// the phones, and the program's own CPU time per message. The phones are pelorvane-modemsim
// processes, so that the process's CPU time is the program's alone.

#include "app/AppData.h"
#include "base/OleDate.h"
#include "bench/BenchSupport.h"
#include "data/OutcomeLog.h"
#include "link/Phone.h"
#include "sending/PhoneGroupRun.h"
#include "sending/SenderThread.h"
#include "sending/SendingWorker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int BodyAnswerMs = 200;

QString modemSimPath() {
    return QCoreApplication::applicationDirPath() +
           QStringLiteral("/../tools/modemsim/pelorvane-modemsim");
}

// A simulated phone in a process of its own; its first line is its port.
struct PhoneProcess {
    QProcess process;
    QByteArray port;

    bool start() {
        process.start(modemSimPath(),
                      {QStringLiteral("--body-delay-ms"), QString::number(BodyAnswerMs)});
        if (!process.waitForStarted(5000))
            return false;
        while (!process.canReadLine())
            if (!process.waitForReadyRead(5000))
                return false;
        port = process.readLine().trimmed();
        return !port.isEmpty();
    }
    ~PhoneProcess() {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }
};

// Messages per second of N = 1, for the speed-up of the others.
std::map<int, double> &ratesByPhones() {
    static std::map<int, double> rates;
    return rates;
}

// durable: outcomes go through the project's journal, synced, as in a real run; otherwise
// they stay in memory, which leaves the program's own work.
void runPhones(benchmark::State &state, bool durable) {
    const int phones = static_cast<int>(state.range(0));
    const int count = static_cast<int>(state.range(1));
    double user = 0;
    double system = 0;
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto dir = std::make_unique<QTemporaryDir>();
        std::vector<std::unique_ptr<PhoneProcess>> sims;
        QList<QByteArray> ports;
        for (int i = 0; i < phones; ++i) {
            sims.push_back(std::make_unique<PhoneProcess>());
            if (!sims.back()->start()) {
                state.SkipWithError("pelorvane-modemsim did not start");
                return;
            }
            ports << sims.back()->port;
        }
        auto data = std::make_unique<AppData>(dir->filePath(QStringLiteral("pelorvane.ini")));
        data->settings->setSessionPorts(ports);
        data->settings->setCountry(QStringLiteral("DE"));
        for (int i = 0; i < count; ++i) {
            Message message;
            message.number = "+49151" + QByteArray::number(10000000 + i);
            message.text = QStringLiteral("Reminder: the club meets on Friday at 7pm.");
            message.created = oleNow();
            data->outboxList->add(message);
        }
        // A saved project: every outcome goes through its journal, synced, as in a real run.
        data->onAskFileName = [&dir] { return dir->filePath(QStringLiteral("bench.sms")); };
        data->save();
        QEventLoop loop;
        data->phone->onWorkerDone = [&loop](Phone &) { loop.quit(); };
        state.ResumeTiming();

        QElapsedTimer timer;
        timer.start();
        const ProcessCpuTime before = ProcessCpuTime::now();
        TransientOutcomeLog inMemory;
        std::function<void()> noRefresh;
        data->phone->start(durable ? data->newSender()
                           : phones == 1
                               ? static_cast<SendingWorker *>(new SenderThread(
                                     *data->outboxList, *data->contactList, inMemory, noRefresh))
                               : new PhoneGroupRun(*data->outboxList, ports, [&] {
                                     return new SenderThread(*data->outboxList, *data->contactList,
                                                             inMemory, noRefresh);
                                 }));
        loop.exec();
        const ProcessCpuTime after = ProcessCpuTime::now();
        user += after.user - before.user;
        system += after.system - before.system;
        seconds += timer.nsecsElapsed() / 1e9;

        state.PauseTiming();
        int sent = 0;
        for (int i = 0; i < data->outboxList->count(); ++i)
            sent += data->outboxList->get(i).status == MessageStatus::Sent ? 1 : 0;
        if (sent != count)
            state.SkipWithError("the run did not send everything");
        data.reset();
        sims.clear();
        dir.reset();
        state.ResumeTiming();
    }
    const double messages = double(state.iterations()) * count;
    const double rate = messages / seconds;
    if (durable)
        ratesByPhones()[phones] = rate;
    state.counters["msgs_per_s"] = rate;
    state.counters["cpu_ms_per_msg"] = (user + system) * 1000 / messages;
    state.counters["user_ms_per_msg"] = user * 1000 / messages;
    state.counters["sys_ms_per_msg"] = system * 1000 / messages;
    if (const auto one = ratesByPhones().find(1); one != ratesByPhones().end())
        state.counters["speedup"] = rate / one->second;
    state.SetItemsProcessed(static_cast<int64_t>(messages));
}

void BM_PhonesAtOnce(benchmark::State &state) {
    runPhones(state, true);
}

void BM_PhonesAtOnceInMemory(benchmark::State &state) {
    runPhones(state, false);
}

} // namespace

BENCHMARK(BM_PhonesAtOnce)
    ->Args({1, 1000})
    ->Args({2, 1000})
    ->Args({4, 1000})
    ->Args({8, 1000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(BM_PhonesAtOnceInMemory)
    ->Args({8, 1000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

PELORVANE_QT_BENCHMARK_MAIN()
