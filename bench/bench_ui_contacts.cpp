// The contacts view at 100,000 contacts on real widgets (offscreen unless a display is set):
// a refresh with a full repaint, Select All then Check, and deleting 50,000 selected rows.
#include "app/AppData.h"
#include "support/DialogScript.h"
#include "support/TestViewHost.h"
#include "ui/ContactModel.h"
#include "ui/ContactsView.h"

#include <QAction>
#include <QApplication>
#include <QItemSelection>
#include <QTemporaryDir>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int ContactCount = 100000;

void fillContacts(ContactList &list, int count) {
    ContactList::Locker lock(list);
    lock->clear();
    lock->reserve(count);
    for (int i = 0; i < count; ++i) {
        auto contact = std::make_shared<Contact>();
        contact->name = QStringLiteral("Contact %1").arg(i);
        contact->number = "+44770090" + QByteArray::number(i);
        contact->sentCount = i % 7;
        contact->checked = i % 2;
        lock->push_back(std::move(contact));
    }
}

// The view shown at a usual size over a list of count contacts.
struct BenchView {
    explicit BenchView(int count) {
        fillContacts(*data.contactList, count);
        view = std::make_unique<ContactsView>(data, host);
        host.contacts = view.get();
        view->resize(800, 600);
        view->show();
        QApplication::processEvents();
    }

    QTemporaryDir dir;
    AppData data{dir.filePath(QStringLiteral("pelorvane.ini"))};
    TestViewHost host;
    std::unique_ptr<ContactsView> view;
};

void BM_RefreshListAndRepaint(benchmark::State &state) {
    BenchView bench(ContactCount);
    for (auto _ : state) {
        bench.view->refreshList();
        bench.view->listView->viewport()->repaint();
    }
    state.counters["rows"] = bench.view->model->rowCount();
}
BENCHMARK(BM_RefreshListAndRepaint)->Unit(benchmark::kMillisecond)->Repetitions(5);

// The first refresh after a load: all 100,000 rows are new to the view.
void BM_RefreshListAfterLoad(benchmark::State &state) {
    BenchView bench(ContactCount);
    for (auto _ : state) {
        state.PauseTiming();
        bench.view->model->reset(0);
        bench.view->listView->viewport()->repaint();
        state.ResumeTiming();
        bench.view->refreshList();
        bench.view->listView->viewport()->repaint();
    }
}
BENCHMARK(BM_RefreshListAfterLoad)->Unit(benchmark::kMillisecond)->Repetitions(5);

void BM_SelectAllThenCheck(benchmark::State &state) {
    BenchView bench(ContactCount);
    for (auto _ : state) {
        state.PauseTiming();
        bench.view->listView->clearSelection();
        fillContacts(*bench.data.contactList, ContactCount);
        state.ResumeTiming();
        bench.view->selectAllAction->trigger();
        bench.view->checkAction->trigger();
        bench.view->listView->viewport()->repaint();
    }
    state.counters["checked"] = bench.data.contactList->checkedCount();
}
BENCHMARK(BM_SelectAllThenCheck)->Unit(benchmark::kMillisecond)->Repetitions(5);

// Every other row selected: 50,000 separate rows, the worst case for collecting them.
void BM_Delete50kSelected(benchmark::State &state) {
    BenchView bench(0);
    DialogScript dialogs;
    for (auto _ : state) {
        state.PauseTiming();
        fillContacts(*bench.data.contactList, ContactCount);
        bench.view->refreshList();
        QItemSelection selection;
        for (int row = 0; row < ContactCount; row += 2)
            selection.select(bench.view->model->index(row, 0),
                             bench.view->model->index(row, ContactModel::ColumnCount - 1));
        bench.view->listView->selectionModel()->select(selection, QItemSelectionModel::Select);
        dialogs.answers = {QMessageBox::Yes};
        state.ResumeTiming();
        bench.view->deleteAction->trigger();
        bench.view->listView->viewport()->repaint();
    }
    state.counters["left"] = bench.data.contactList->count();
}
BENCHMARK(BM_Delete50kSelected)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(5);

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
