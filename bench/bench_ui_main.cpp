// The main window with a large outbox on real widgets (offscreen unless a display is set):
// refreshAll and one full repaint of the outbox view at 1,000 to 1,000,000 messages, the same
// after one message was added, and a 1 MB paste into the compose view's body (one SMS or a
// long message).
#include "app/AppData.h"
#include "base/OleDate.h"
#include "ui/ComposeView.h"
#include "ui/MainWindow.h"
#include "ui/MessageModel.h"
#include "ui/MessagesView.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

void fillMessages(MessageList &list, int count) {
    MessageList::Locker lock(list);
    lock->clear();
    lock->reserve(count);
    const double created = oleNow();
    for (int i = 0; i < count; ++i) {
        Message message;
        message.number = "+4477009" + QByteArray::number(100000 + i);
        message.text = QStringLiteral("Message number %1\r\nsecond line").arg(i);
        message.created = created;
        message.status = static_cast<MessageStatus>(i % 3);
        lock->push_back(MessageRecord::create(message));
    }
}

// The main window at its designed size showing the outbox with count messages.
struct BenchWindow {
    explicit BenchWindow(int count) {
        fillMessages(*data.outboxList, count);
        window = std::make_unique<MainWindow>(data);
        window->show();
        window->showView(window->outboxView());
        QApplication::processEvents();
        window->outboxView()->repaint();
    }

    QTemporaryDir dir;
    AppData data{dir.filePath(QStringLiteral("pelorvane.ini"))};
    std::unique_ptr<MainWindow> window;
};

void BM_RefreshAll(benchmark::State &state) {
    BenchWindow bench(static_cast<int>(state.range(0)));
    for (auto _ : state)
        bench.window->refreshAll();
    state.counters["rows"] = bench.window->outboxView()->model()->rowCount();
}
BENCHMARK(BM_RefreshAll)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

void BM_RepaintOutboxView(benchmark::State &state) {
    BenchWindow bench(static_cast<int>(state.range(0)));
    MessagesView *outbox = bench.window->outboxView();
    for (auto _ : state)
        outbox->repaint();
    state.counters["rows"] = outbox->model()->rowCount();
}
BENCHMARK(BM_RepaintOutboxView)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

// What the sender has run after each status change: refreshAll, then the repaint it asks for.
void BM_RefreshAllAndRepaint(benchmark::State &state) {
    BenchWindow bench(static_cast<int>(state.range(0)));
    MessagesView *outbox = bench.window->outboxView();
    for (auto _ : state) {
        bench.window->refreshAll();
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
    BenchWindow bench(static_cast<int>(state.range(0)));
    MessagesView *outbox = bench.window->outboxView();
    Message message;
    message.number = "+447700900000";
    message.text = QStringLiteral("added");
    for (auto _ : state) {
        outbox->addMessage(message);
        bench.window->refreshAll();
        outbox->repaint();
    }
}
BENCHMARK(BM_AddMessageRefreshAndRepaint)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

// A 1 MB paste into an empty body: the insert, the compose update it raises (coding, counter,
// SMS count, UCS-2 reasons) and the cut; argument 1 with the long toggle on.
void BM_PasteOneMegabyte(benchmark::State &state) {
    QTemporaryDir dir;
    AppData data(dir.filePath(QStringLiteral("pelorvane.ini")));
    MainWindow window(data);
    window.show();
    ComposeView *compose = window.composeView();
    compose->longButton->setChecked(state.range(0) != 0);
    QString big;
    big.reserve(1 << 20);
    for (int i = 0; i < (1 << 20); ++i)
        big += QChar(u'a' + i % 26);
    QApplication::clipboard()->setText(big);
    QApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        compose->setBody(QString());
        state.ResumeTiming();
        compose->bodyEdit->paste();
    }
    state.counters["kept"] = compose->bodyText().size();
    state.SetLabel(compose->smsCountLabel->text().toStdString());
}
BENCHMARK(BM_PasteOneMegabyte)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

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
