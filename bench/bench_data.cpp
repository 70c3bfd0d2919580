// Speed and memory of the message and contact lists and of the project file at scale.
// Memory: peak resident set of the process during the operation (VmHWM, reset before it).
#include "app/AppData.h"
#include "base/StreamIO.h"
#include "data/ContactList.h"
#include "data/MessageList.h"
#include "tools/cli/CmdProject.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <fstream>
#include <string>

namespace {

constexpr int MessageCount = 1000000;

QTemporaryDir &dir() {
    static QTemporaryDir dir;
    return dir;
}

double statusKb(const char *key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stod(line.substr(std::string(key).size()));
    }
    return 0;
}

// Forgets the peak so far: from now on VmHWM is the peak of what follows.
void resetPeak() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

double rssMb() {
    return statusKb("VmRSS:") / 1024.0;
}
double peakMb() {
    return statusKb("VmHWM:") / 1024.0;
}

Message bulkMessage(int i, bool sameText) {
    Message m;
    m.number = "+3069" + QByteArray::number(10000000 + i);
    m.text = sameText ? QStringLiteral("Hello 2024")
                      : QStringLiteral("Msg %1").arg(i, 6, 10, QChar('0'));
    m.created = 45000.5 + i / 86400.0;
    m.status = MessageStatus::Pending;
    return m;
}

// A project file of count messages in the outbox, written without building the list.
QString projectFile(bool sameText) {
    QString path = dir().filePath(sameText ? "same.sms" : "distinct.sms");
    if (QFile::exists(path))
        return path;
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    StreamWriter w(file);
    const char header[4] = {char(0x83), 0x56, 10, 0};
    w.writeRaw(header, 4);
    w.writeByte(0);
    for (int i = 0; i < 4; ++i)
        w.writeInt32(0);
    w.writeByte(1);
    w.writeInt32(0);
    w.writeByte(2);
    w.writeInt32(MessageCount);
    for (int i = 0; i < MessageCount; ++i) {
        Message m = bulkMessage(i, sameText);
        w.writeAnsi(m.number);
        w.writeWide(m.text);
        w.writeByte(m.flash);
        w.writeByte(m.isLong);
        w.writeDouble(m.created);
        w.writeDouble(m.sent);
    }
    w.writeByte(3);
    w.writeInt32(0);
    w.flush();
    return path;
}

void BM_ImportContacts(benchmark::State &state) {
    QString path = dir().filePath("contacts.csv");
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
    ImportResult result;
    for (auto _ : state) {
        ContactList list;
        result = list.importFromFile(path);
        state.PauseTiming();
        list.clear();
        state.ResumeTiming();
    }
    state.counters["imported"] = result.imported;
    state.counters["duplicates"] = result.duplicates;
}
BENCHMARK(BM_ImportContacts)->Unit(benchmark::kMillisecond)->Repetitions(5);

void BM_LoadProject(benchmark::State &state) {
    bool sameText = state.range(0) != 0;
    QString path = projectFile(sameText);
    double fileMb = QFile(path).size() / 1048576.0;
    AppData m;
    double before = 0;
    double peak = 0;
    double kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        m.newProject();
        resetPeak();
        before = rssMb();
        state.ResumeTiming();
        m.load(path);
        state.PauseTiming();
        peak = std::max(peak, peakMb());
        kept = std::max(kept, rssMb() - before);
        state.ResumeTiming();
    }
    state.counters["file_MB"] = fileMb;
    // What the loaded lists keep: the load's peak adds the file itself, read whole to check
    // its identity.
    state.counters["kept_per_file"] = kept / fileMb;
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

// pelorvane-cli show of the project with a million messages, each with its own text, written
// to /dev/null: the time and the peak memory, load included.
void BM_ShowProject(benchmark::State &state) {
    const QString path = projectFile(false);
    const double fileMb = QFile(path).size() / 1048576.0;
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        resetPeak();
        QFile sink(QStringLiteral("/dev/null"));
        sink.open(QIODevice::WriteOnly);
        QTextStream out(&sink);
        QString errors;
        QTextStream err(&errors);
        state.ResumeTiming();
        if (cmdShow({path}, out, err) != 0)
            state.SkipWithError("show failed");
        state.PauseTiming();
        peak = std::max(peak, peakMb());
        state.ResumeTiming();
    }
    state.counters["file_MB"] = fileMb;
    state.counters["peak_rss_MB"] = peak;
}
BENCHMARK(BM_ShowProject)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

void BM_SaveProject(benchmark::State &state) {
    bool sameText = state.range(0) != 0;
    AppData m;
    m.load(projectFile(sameText));
    QString out = dir().filePath("saved.sms");
    m.onAskFileName = [&] { return out; };
    double before = 0;
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        resetPeak();
        before = rssMb();
        state.ResumeTiming();
        m.save(true);
        state.PauseTiming();
        peak = std::max(peak, peakMb());
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
    MessageList::Items records;
    records.reserve(MessageCount);
    for (int i = 0; i < MessageCount; ++i) {
        Message m = bulkMessage(i, true);
        m.status = i % 2 ? MessageStatus::Sent : MessageStatus::Pending;
        records.push_back(
            MessageRecord::create(m, records.empty() ? nullptr : records.back().get()));
    }
    MessageList outbox;
    MessageList sent;
    int moved = 0;
    for (auto _ : state) {
        state.PauseTiming();
        outbox.lockList() = records;
        outbox.unlockList();
        sent.lockList().clear();
        sent.unlockList();
        state.ResumeTiming();
        moved = outbox.moveSentTo(sent);
    }
    state.counters["moved"] = moved;
}
BENCHMARK(BM_TransferSent)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(5);

void BM_DeleteManySelected(benchmark::State &state) {
    ContactList::Items records;
    for (int i = 0; i < 100000; ++i) {
        Contact c;
        c.name = QStringLiteral("Contact %1").arg(i);
        c.number = QByteArray::number(i);
        records.push_back(std::make_shared<Contact>(c));
    }
    QList<int> selected;
    for (int i = 0; i < 100000; i += 2)
        selected.append(i);
    ContactList list;
    for (auto _ : state) {
        state.PauseTiming();
        list.lockList() = records;
        list.unlockList();
        state.ResumeTiming();
        list.removeMany(selected);
    }
}
BENCHMARK(BM_DeleteManySelected)->Unit(benchmark::kMillisecond)->Repetitions(5);

} // namespace

BENCHMARK_MAIN();
