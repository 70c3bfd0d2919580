// Speed and memory of the message and contact lists and of the project file at scale.
// Memory: peak resident set of the process during the operation (VmHWM, reset before it).
#include "app/Database.h"
#include "data/ContactUnit.h"
#include "data/MessageUnit.h"
#include "data/StreamIO.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <fstream>
#include <string>

namespace {

constexpr int MessageCount = 1000000;

QTemporaryDir &Dir() {
    static QTemporaryDir dir;
    return dir;
}

double StatusKb(const char *key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stod(line.substr(std::string(key).size()));
    }
    return 0;
}

// Forgets the peak so far: from now on VmHWM is the peak of what follows.
void ResetPeak() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

double RssMb() {
    return StatusKb("VmRSS:") / 1024.0;
}
double PeakMb() {
    return StatusKb("VmHWM:") / 1024.0;
}

TMessage BulkMessage(int i, bool sameText) {
    TMessage m;
    m.Number = "+3069" + QByteArray::number(10000000 + i);
    m.Text = sameText ? QStringLiteral("Hello 2024")
                      : QStringLiteral("Msg %1").arg(i, 6, 10, QChar('0'));
    m.Created = 45000.5 + i / 86400.0;
    m.Status = msPending;
    return m;
}

// A project file of count messages in the outbox, written without building the list.
QString ProjectFile(bool sameText) {
    QString path = Dir().filePath(sameText ? "same.sms" : "distinct.sms");
    if (QFile::exists(path))
        return path;
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    TStreamWriter w(file);
    const char header[4] = {char(0x83), 0x56, 10, 0};
    w.WriteRaw(header, 4);
    w.WriteByte(0);
    for (int i = 0; i < 4; ++i)
        w.WriteInt32(0);
    w.WriteByte(1);
    w.WriteInt32(0);
    w.WriteByte(2);
    w.WriteInt32(MessageCount);
    for (int i = 0; i < MessageCount; ++i) {
        TMessage m = BulkMessage(i, sameText);
        w.WriteAnsi(m.Number);
        w.WriteWide(m.Text);
        w.WriteByte(m.Flash);
        w.WriteByte(m.Long);
        w.WriteDouble(m.Created);
        w.WriteDouble(m.Sent);
    }
    w.WriteByte(3);
    w.WriteInt32(0);
    w.Flush();
    return path;
}

void BM_ImportContacts(benchmark::State &state) {
    QString path = Dir().filePath("contacts.csv");
    if (!QFile::exists(path)) {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        QByteArray text;
        for (int i = 0; i < 100000; ++i) {
            int number = i % 10 == 9 ? i - 5 : i; // every tenth line repeats an earlier number
            text += "\"Contact " + QByteArray::number(i) + "\",\"+4477009" +
                    QByteArray::number(number).rightJustified(6, '0') + "\"," +
                    QByteArray::number(i % 7) + "\r\n";
        }
        file.write(text);
    }
    TImportResult result;
    for (auto _ : state) {
        TContactList list;
        result = list.ImportFromFile(path);
        state.PauseTiming();
        list.Clear();
        state.ResumeTiming();
    }
    state.counters["imported"] = result.Imported;
    state.counters["duplicates"] = result.Duplicates;
}
BENCHMARK(BM_ImportContacts)->Unit(benchmark::kMillisecond)->Repetitions(5);

void BM_LoadProject(benchmark::State &state) {
    bool sameText = state.range(0) != 0;
    QString path = ProjectFile(sameText);
    double fileMb = QFile(path).size() / 1048576.0;
    TDataModule1 m;
    double before = 0;
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        m.New();
        ResetPeak();
        before = RssMb();
        state.ResumeTiming();
        m.Load(path);
        state.PauseTiming();
        peak = std::max(peak, PeakMb());
        state.ResumeTiming();
    }
    state.counters["file_MB"] = fileMb;
    state.counters["rss_before_MB"] = before;
    state.counters["peak_rss_MB"] = peak;
    state.counters["peak_per_file"] = peak / fileMb;
    state.counters["growth_per_file"] = (peak - before) / fileMb;
}
BENCHMARK(BM_LoadProject)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(3);

void BM_SaveProject(benchmark::State &state) {
    bool sameText = state.range(0) != 0;
    TDataModule1 m;
    m.Load(ProjectFile(sameText));
    QString out = Dir().filePath("saved.sms");
    m.OnAskFileName = [&] { return out; };
    double before = 0;
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ResetPeak();
        before = RssMb();
        state.ResumeTiming();
        m.Save(true);
        state.PauseTiming();
        peak = std::max(peak, PeakMb());
        state.ResumeTiming();
    }
    double fileMb = QFile(out).size() / 1048576.0;
    state.counters["file_MB"] = fileMb;
    state.counters["rss_before_MB"] = before;
    state.counters["peak_rss_MB"] = peak;
    state.counters["peak_per_file"] = peak / fileMb;
    state.counters["growth_per_file"] = (peak - before) / fileMb;
}
BENCHMARK(BM_SaveProject)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(3);

void BM_TransferSent(benchmark::State &state) {
    TMessageList::TItems records;
    records.reserve(MessageCount);
    for (int i = 0; i < MessageCount; ++i) {
        TMessage m = BulkMessage(i, true);
        m.Status = i % 2 ? msSent : msPending;
        records.push_back(std::make_shared<TMessage>(m));
    }
    TMessageList outbox;
    TMessageList sent;
    int moved = 0;
    for (auto _ : state) {
        state.PauseTiming();
        outbox.LockList() = records;
        outbox.UnlockList();
        sent.LockList().clear();
        sent.UnlockList();
        state.ResumeTiming();
        moved = outbox.MoveSentTo(sent);
    }
    state.counters["moved"] = moved;
}
BENCHMARK(BM_TransferSent)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(5);

void BM_DeleteManySelected(benchmark::State &state) {
    TContactList::TItems records;
    for (int i = 0; i < 100000; ++i) {
        TContact c;
        c.Name = QStringLiteral("Contact %1").arg(i);
        c.Number = QByteArray::number(i);
        records.push_back(std::make_shared<TContact>(c));
    }
    QList<int> selected;
    for (int i = 0; i < 100000; i += 2)
        selected.append(i);
    TContactList list;
    for (auto _ : state) {
        state.PauseTiming();
        list.LockList() = records;
        list.UnlockList();
        state.ResumeTiming();
        list.DeleteMany(selected);
    }
}
BENCHMARK(BM_DeleteManySelected)->Unit(benchmark::kMillisecond)->Repetitions(5);

} // namespace

BENCHMARK_MAIN();
