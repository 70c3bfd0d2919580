// The contacts view at 100,000 contacts on real widgets (offscreen unless a display is set):
// a refresh with a full repaint, Select All then Check, and deleting 50,000 selected rows.
#include "app/Database.h"
#include "support/DialogScript.h"
#include "support/TestViewHost.h"
#include "ui/ContactForm.h"
#include "ui/ContactModel.h"

#include <QAction>
#include <QApplication>
#include <QItemSelection>
#include <QTemporaryDir>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int ContactCount = 100000;

void FillContacts(TContactList &list, int count) {
    TContactList::TLocker lock(list);
    lock->clear();
    lock->reserve(count);
    for (int i = 0; i < count; ++i) {
        auto contact = std::make_shared<TContact>();
        contact->Name = QStringLiteral("Contact %1").arg(i);
        contact->Number = "+44770090" + QByteArray::number(i);
        contact->SentCount = i % 7;
        contact->Checked = i % 2;
        lock->push_back(std::move(contact));
    }
}

// The view shown at a usual size over a list of count contacts.
struct TBenchView {
    explicit TBenchView(int count) {
        FillContacts(*Data.ContactList, count);
        View = std::make_unique<TfrmContact>(Data, Host);
        Host.Contacts = View.get();
        View->resize(800, 600);
        View->show();
        QApplication::processEvents();
    }

    QTemporaryDir Dir;
    TDataModule1 Data{Dir.filePath(QStringLiteral("pelorvane.ini"))};
    TTestViewHost Host;
    std::unique_ptr<TfrmContact> View;
};

void BM_RefreshListAndRepaint(benchmark::State &state) {
    TBenchView bench(ContactCount);
    for (auto _ : state) {
        bench.View->RefreshList();
        bench.View->Treeview->viewport()->repaint();
    }
    state.counters["rows"] = bench.View->Model->rowCount();
}
BENCHMARK(BM_RefreshListAndRepaint)->Unit(benchmark::kMillisecond)->Repetitions(5);

// The first refresh after a load: all 100,000 rows are new to the view.
void BM_RefreshListAfterLoad(benchmark::State &state) {
    TBenchView bench(ContactCount);
    for (auto _ : state) {
        state.PauseTiming();
        bench.View->Model->Reset(0);
        bench.View->Treeview->viewport()->repaint();
        state.ResumeTiming();
        bench.View->RefreshList();
        bench.View->Treeview->viewport()->repaint();
    }
}
BENCHMARK(BM_RefreshListAfterLoad)->Unit(benchmark::kMillisecond)->Repetitions(5);

void BM_SelectAllThenCheck(benchmark::State &state) {
    TBenchView bench(ContactCount);
    for (auto _ : state) {
        state.PauseTiming();
        bench.View->Treeview->clearSelection();
        FillContacts(*bench.Data.ContactList, ContactCount);
        state.ResumeTiming();
        bench.View->actSelectAll->trigger();
        bench.View->actCheck->trigger();
        bench.View->Treeview->viewport()->repaint();
    }
    state.counters["checked"] = bench.Data.ContactList->CheckedCount();
}
BENCHMARK(BM_SelectAllThenCheck)->Unit(benchmark::kMillisecond)->Repetitions(5);

// Every other row selected: 50,000 separate rows, the worst case for collecting them.
void BM_Delete50kSelected(benchmark::State &state) {
    TBenchView bench(0);
    TDialogScript dialogs;
    for (auto _ : state) {
        state.PauseTiming();
        FillContacts(*bench.Data.ContactList, ContactCount);
        bench.View->RefreshList();
        QItemSelection selection;
        for (int row = 0; row < ContactCount; row += 2)
            selection.select(bench.View->Model->index(row, 0),
                             bench.View->Model->index(row, TContactModel::ColumnCount - 1));
        bench.View->Treeview->selectionModel()->select(selection, QItemSelectionModel::Select);
        dialogs.Answers = {QMessageBox::Yes};
        state.ResumeTiming();
        bench.View->actDelete->trigger();
        bench.View->Treeview->viewport()->repaint();
    }
    state.counters["left"] = bench.Data.ContactList->Count();
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
