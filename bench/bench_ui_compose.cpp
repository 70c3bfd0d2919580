// The compose view with a personal text on real widgets (offscreen unless a display is set):
// one keystroke with 0 and 10,000 checked contacts (the worst case over the recipients waits
// for a pause, so a keystroke costs the same whatever their number), and the analysis that
// runs after the pause, once for a changed text and once for a changed To.
#include "app/AppData.h"
#include "support/ViewTestHost.h"
#include "ui/ComposeView.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

const QString Body = QStringLiteral("Hello {FirstName|friend}, our meeting moves to Friday 18:00. "
                                    "Your number {Number} stays on the list, {Name}.");

void fillContacts(ContactList &list, int count) {
    const QStringList names = {QStringLiteral("Anna Becker"),  QStringLiteral("Jonas Weber"),
                               QStringLiteral(u"Zoë Adams"),   QStringLiteral(u"Łukasz Nowak"),
                               QStringLiteral("Lea Hoffmann"), QStringLiteral(u"Şule Kaya")};
    ContactList::Locker lock(list);
    lock->clear();
    lock->reserve(count);
    for (int i = 0; i < count; ++i) {
        auto contact = std::make_shared<Contact>();
        contact->name = names[i % names.size()] + QString::number(i);
        contact->number = "0151 " + QByteArray::number(20000000 + i);
        lock->push_back(std::move(contact));
    }
}

void press(QWidget *widget, int key, const QString &text) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &up);
}

// The compose view addressed to every checked contact, with a personal text and Long on.
struct BenchCompose {
    explicit BenchCompose(int count) {
        data.settings->setCountry(QStringLiteral("DE"));
        fillContacts(*data.contactList, count);
        compose = host.composeView();
        host.pane->show();
        compose->longButton->setChecked(true);
        compose->toCombo->showPopup();
        compose->toCombo->hidePopup();
        compose->toCombo->setCurrentIndex(1);
        compose->setBody(QStringList{Body, Body}.join(QLatin1Char(' ')));
        compose->bodyEdit->moveCursor(QTextCursor::End);
        compose->bodyEdit->setFocus();
        waitForAnalysis();
    }

    // Without the pause itself: the timer fires at the next turn of the event loop.
    void waitForAnalysis() {
        if (!compose->analysisTimer->isActive())
            return;
        QEventLoop loop;
        QObject::connect(compose, &ComposeView::analysisUpdated, &loop, &QEventLoop::quit);
        compose->analysisTimer->setInterval(0);
        compose->analysisTimer->start();
        loop.exec();
    }

    QTemporaryDir dir;
    AppData data{dir.filePath(QStringLiteral("pelorvane.ini"))};
    ViewTestHost host{data};
    ComposeView *compose = nullptr;
};

// Typing one character and taking it back: the counter, the unknown placeholders, the preview
// and restarting the timer.
void BM_ComposeKeystroke(benchmark::State &state) {
    BenchCompose bench(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        press(bench.compose->bodyEdit, Qt::Key_X, QStringLiteral("x"));
        press(bench.compose->bodyEdit, Qt::Key_Backspace, QString());
    }
    state.SetItemsProcessed(state.iterations() * 2);
    state.counters["recipients"] = bench.compose->previewCombo->count();
}
BENCHMARK(BM_ComposeKeystroke)->Arg(0)->Arg(1)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The pause after a change of the text: the recipients stay, their texts are looked at again.
void BM_ComposeAnalysisAfterTyping(benchmark::State &state) {
    BenchCompose bench(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        press(bench.compose->bodyEdit, Qt::Key_X, QStringLiteral("x"));
        bench.waitForAnalysis();
    }
    state.counters["recipients"] = bench.compose->previewCombo->count();
}
BENCHMARK(BM_ComposeAnalysisAfterTyping)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The pause after a change of To: every number is parsed again as well.
void BM_ComposeAnalysisAfterTo(benchmark::State &state) {
    BenchCompose bench(static_cast<int>(state.range(0)));
    int entry = 1;
    for (auto _ : state) {
        // All contacts and the checked ones are the same contacts here.
        entry = 1 - entry;
        bench.compose->toCombo->setCurrentIndex(entry);
        bench.waitForAnalysis();
    }
    state.counters["recipients"] = bench.compose->previewCombo->count();
}
BENCHMARK(BM_ComposeAnalysisAfterTo)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

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
