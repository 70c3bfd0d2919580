// Messages through an SMPP session to the fake SMS centre on loopback, with a window of 10
// outstanding submit_sm and with a window of 1: messages per second, and the program's own CPU
// time per message (the centre runs in its own process and is not counted).

#include "app/AppData.h"
#include "base/OleDate.h"
#include "bench/BenchSupport.h"
#include "data/ContactList.h"
#include "data/MessageList.h"
#include "data/OutcomeLog.h"
#include "sending/SmppSenderThread.h"
#include "smpp/SmppSession.h"
#include "support/SmscFake.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

namespace {

double processCpuSeconds() {
    return ProcessCpuTime::now().total();
}

// The fake centre without its log line per message, which would be most of its work; false
// when the benchmark is skipped.
bool startQuietFake(benchmark::State &state, SmscFake &fake) {
    if (const QString why = SmscFake::unavailableReason(); !why.isEmpty()) {
        state.SkipWithError(qPrintable(why));
        return false;
    }
    if (!fake.start({QStringLiteral("--quiet")})) {
        state.SkipWithError(qPrintable(fake.errorText()));
        return false;
    }
    return true;
}

void BM_SubmitThroughFakeCentre(benchmark::State &state) {
    const int window = static_cast<int>(state.range(0));
    const int count = static_cast<int>(state.range(1));
    SmscFake fake;
    if (!startQuietFake(state, fake))
        return;
    SmppConfig config = fake.config();
    config.window = window;
    // Printable ASCII but @ $ _ and a few more is its own GSM septet.
    const QByteArray body = "Reminder: the club meets on Friday at 7pm. Bring your membership "
                            "card and a friend!";
    double cpu = 0;
    for (auto _ : state) {
        SmppSession session(config);
        int accepted = 0;
        int outcomes = 0;
        QEventLoop loop;
        session.setOutcomeHandler([&](const SmppOutcome &o) {
            accepted += o.kind == SmppOutcome::Kind::Accepted;
            if (++outcomes == count)
                loop.quit();
        });
        QObject::connect(&session, &SmppSession::finished, &loop, &QEventLoop::quit);
        for (int i = 0; i < count; ++i) {
            SmppSubmission submission;
            submission.id = static_cast<quint64>(i);
            submission.source = {5, 0, "Club"};
            submission.destination = {1, 1, QByteArray("49151") + QByteArray::number(10000000 + i)};
            submission.registeredDelivery = 1;
            submission.shortMessage = body;
            session.submit(submission);
        }
        const double cpuBefore = processCpuSeconds();
        session.open();
        loop.exec();
        cpu += processCpuSeconds() - cpuBefore;
        if (accepted != count) {
            state.SkipWithError("not every message was accepted");
            return;
        }
        // Unbind before the next round, as a run ends.
        QEventLoop done;
        QObject::connect(&session, &SmppSession::finished, &done, &QEventLoop::quit);
        session.stop();
        if (session.state() != SmppSession::State::Finished)
            done.exec();
    }
    const double messages = static_cast<double>(state.iterations()) * count;
    state.SetItemsProcessed(static_cast<int64_t>(messages));
    state.counters["cpu_us_per_msg"] = benchmark::Counter(cpu / messages * 1e6);
}

// A whole run as the program makes it: the outbox claimed in order, each message encoded, in
// flight and committed through the outcome log (kept in memory, or the project's journal, made
// durable once per batch of answers), then filed.
void BM_RunThroughFakeCentre(benchmark::State &state) {
    const int window = static_cast<int>(state.range(0));
    const int count = static_cast<int>(state.range(1));
    const bool journal = state.range(2) != 0;
    SmscFake fake;
    if (!startQuietFake(state, fake))
        return;
    QTemporaryDir dir;
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        AppData data(dir.filePath(QStringLiteral("pelorvane.ini")));
        for (int i = 0; i < count; ++i) {
            Message message;
            message.number = QByteArray("+49151") + QByteArray::number(10000000 + i);
            message.text = QStringLiteral("Reminder: the club meets on Friday at 7pm. Bring your "
                                          "membership card and a friend!");
            message.created = oleNow();
            data.outboxList->add(message);
        }
        data.fileName = dir.filePath(QStringLiteral("bench.sms"));
        data.save();
        SmppSettings smpp;
        smpp.host = QStringLiteral("127.0.0.1");
        smpp.port = fake.port();
        smpp.systemId = QStringLiteral("pelorvane");
        smpp.source = QStringLiteral("Club");
        smpp.window = window;
        data.settings->setSessionSmppSettings(smpp);
        data.settings->setSessionConnectionKind(ConnectionKind::SmsCentre);
        data.smppPassword = [] { return std::optional<QByteArray>("secret"); };
        TransientOutcomeLog inMemory;
        std::unique_ptr<SendingWorker> worker;
        if (journal) {
            worker.reset(data.newSender());
        } else {
            SmppRunOptions options;
            options.config = data.smppConfig();
            options.source = smpp.source;
            worker = std::make_unique<SmppSenderThread>(*data.outboxList, *data.sentList,
                                                        *data.contactList, inMemory,
                                                        data.onRefreshAll, nullptr, options);
        }
        state.ResumeTiming();
        const double cpuBefore = processCpuSeconds();
        worker->start();
        worker->wait();
        cpu += processCpuSeconds() - cpuBefore;
        if (worker->summary().sent != count) {
            state.SkipWithError("not every message was sent");
            return;
        }
    }
    const double messages = static_cast<double>(state.iterations()) * count;
    state.SetItemsProcessed(static_cast<int64_t>(messages));
    state.counters["cpu_us_per_msg"] = benchmark::Counter(cpu / messages * 1e6);
}

} // namespace

BENCHMARK(BM_RunThroughFakeCentre)
    ->ArgNames({"window", "messages", "journal"})
    ->Args({10, 10000, 0})
    ->Args({1, 10000, 0})
    ->Args({10, 10000, 1})
    ->Args({1, 10000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

BENCHMARK(BM_SubmitThroughFakeCentre)
    ->ArgNames({"window", "messages"})
    ->Args({10, 10000})
    ->Args({1, 10000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

PELORVANE_QT_BENCHMARK_MAIN()
