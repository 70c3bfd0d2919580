// What the journal costs a run per message: the in-flight record before the body and the
// outcome after it, each written and flushed to the disk (fdatasync) before the run goes on.
// The project sits in a temporary folder on the disk TMPDIR names (not a RAM disk, or the
// flush costs nothing); run with TMPDIR pointing at the disk projects live on.
#include "app/AppData.h"
#include "app/ProjectJournal.h"
#include "base/PosixFile.h"
#include "data/MessageList.h"

#include <QFileInfo>

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

Message pendingMessage(int i) {
    Message m;
    m.number = "+3069" + QByteArray::number(10000000 + i);
    m.text = QStringLiteral("Message %1 of the evening's reminder").arg(i);
    m.created = 45000.5 + i / 86400.0;
    m.status = MessageStatus::Pending;
    return m;
}

// One message as a run records it: in flight, then sent.
void BM_JournalPerMessage(benchmark::State &state) {
    QTemporaryDir dir;
    AppData data;
    constexpr int Count = 1000;
    for (int i = 0; i < Count; ++i)
        data.outboxList->add(pendingMessage(i));
    const QString file = dir.filePath(QStringLiteral("bench.sms"));
    data.onAskFileName = [&] { return file; };
    data.save();
    ProjectJournal &journal = *data.journal;
    journal.open(file, data.fileIdentity, {});
    int i = 0;
    for (auto _ : state) {
        MessageList::Item record;
        {
            MessageList::Locker items(*data.outboxList);
            record = (*items)[i % Count];
        }
        journal.inFlight(record.get(), record->toMessage());
        journal.commit(record.get(), [&] {
            MessageList::Locker items(*data.outboxList);
            record->status = MessageStatus::Sent;
            record->sent = 45001.0 + i / 86400.0;
            return record->toMessage();
        });
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["journal_kB"] = double(QFileInfo(journal.path()).size()) / 1024.0;
}
BENCHMARK(BM_JournalPerMessage)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

// The floor: one small append flushed with fdatasync on the same disk, as a journal record is.
// The journal makes two per message (in flight, outcome), so its figure is about twice this.
void BM_DiskSyncFloor(benchmark::State &state) {
    QTemporaryDir dir;
    FileDescriptor fd(openFile(dir.filePath(QStringLiteral("floor")), O_WRONLY | O_CREAT, 0600));
    const QByteArray record(100, 'r');
    for (auto _ : state) {
        if (!writeFully(fd.get(), record.constData(), record.size()) || ::fdatasync(fd.get()) != 0)
            state.SkipWithError("write or fdatasync failed");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DiskSyncFloor)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
