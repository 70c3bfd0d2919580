// The main window with a large outbox on real widgets (offscreen unless a display is set):
// RefreshAll and one full repaint of the outbox view at 1,000 to 1,000,000 messages, the same
// after one message was added, and a 1 MB paste into the compose view's body.
#include "app/Database.h"
#include "data/OleDate.h"
#include "ui/ComposeForm.h"
#include "ui/MainForm.h"
#include "ui/MessageForm.h"
#include "ui/MessageModel.h"

#include <QApplication>
#include <QClipboard>
#include <QTemporaryDir>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

void FillMessages(TMessageList &list, int count) {
    TMessageList::TLocker lock(list);
    lock->clear();
    lock->reserve(count);
    const double created = OleNow();
    for (int i = 0; i < count; ++i) {
        auto message = std::make_shared<TMessage>();
        message->Number = "+4477009" + QByteArray::number(100000 + i);
        message->Text = QStringLiteral("Message number %1\r\nsecond line").arg(i);
        message->Created = created;
        message->Status = static_cast<TMessageStatus>(i % 3);
        lock->push_back(std::move(message));
    }
}

// The main window at its designed size showing the outbox with count messages.
struct TBenchWindow {
    explicit TBenchWindow(int count) {
        FillMessages(*Data.OutboxList, count);
        Window = std::make_unique<TfrmPelorvane>(Data);
        Window->show();
        Window->ShowView(Window->OutboxView());
        QApplication::processEvents();
        Window->OutboxView()->repaint();
    }

    QTemporaryDir Dir;
    TDataModule1 Data{Dir.filePath(QStringLiteral("pelorvane.ini"))};
    std::unique_ptr<TfrmPelorvane> Window;
};

void BM_RefreshAll(benchmark::State &state) {
    TBenchWindow bench(static_cast<int>(state.range(0)));
    for (auto _ : state)
        bench.Window->RefreshAll();
    state.counters["rows"] = bench.Window->OutboxView()->Model()->rowCount();
}
BENCHMARK(BM_RefreshAll)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

void BM_RepaintOutboxView(benchmark::State &state) {
    TBenchWindow bench(static_cast<int>(state.range(0)));
    TfrmMessage *outbox = bench.Window->OutboxView();
    for (auto _ : state)
        outbox->repaint();
    state.counters["rows"] = outbox->Model()->rowCount();
}
BENCHMARK(BM_RepaintOutboxView)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

// What the sender has run after each status change: RefreshAll, then the repaint it asks for.
void BM_RefreshAllAndRepaint(benchmark::State &state) {
    TBenchWindow bench(static_cast<int>(state.range(0)));
    TfrmMessage *outbox = bench.Window->OutboxView();
    for (auto _ : state) {
        bench.Window->RefreshAll();
        outbox->repaint();
    }
}
BENCHMARK(BM_RefreshAllAndRepaint)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

// A message added (Send to Outbox, Resend) changes the row count: the list control lays out
// its rows again.
void BM_AddMessageRefreshAndRepaint(benchmark::State &state) {
    TBenchWindow bench(static_cast<int>(state.range(0)));
    TfrmMessage *outbox = bench.Window->OutboxView();
    TMessage message;
    message.Number = "+447700900000";
    message.Text = QStringLiteral("added");
    for (auto _ : state) {
        outbox->AddMessage(message);
        bench.Window->RefreshAll();
        outbox->repaint();
    }
}
BENCHMARK(BM_AddMessageRefreshAndRepaint)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

void BM_PasteOneMegabyte(benchmark::State &state) {
    QTemporaryDir dir;
    TDataModule1 data(dir.filePath(QStringLiteral("pelorvane.ini")));
    TfrmPelorvane window(data);
    window.show();
    TfrmCompose *compose = window.ComposeView();
    QString big;
    big.reserve(1 << 20);
    for (int i = 0; i < (1 << 20); ++i)
        big += QChar(u'a' + i % 26);
    QApplication::clipboard()->setText(big);
    QApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        compose->SetBody(QString());
        state.ResumeTiming();
        compose->Memo1->paste();
    }
    state.counters["kept"] = compose->BodyText().size();
}
BENCHMARK(BM_PasteOneMegabyte)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
