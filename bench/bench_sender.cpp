// A sending run of many messages against the simulated phone with no delay over a pty: the
// time per message, most of which is the phone's and the line's, not the program's. The same
// run with 100,000 and 1,000,000 contacts (a sent message raises its contact's count), and a
// minimal client writing the same bytes to the same simulated phone: what the program adds.

#include "app/AppData.h"
#include "base/OleDate.h"
#include "bench/BenchSupport.h"
#include "data/OutcomeLog.h"
#include "link/Phone.h"
#include "modemsim/ModemSim.h"
#include "sending/SenderThread.h"
#include "sms/SmsSubmit.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QString BenchText = QStringLiteral("Reminder: the club meets on Friday at 7pm. Bring "
                                         "your membership card and a friend!");

QByteArray benchNumber(int i) {
    return "+49151" + QByteArray::number(10000000 + i);
}

// count contacts, numbers written nationally as people type them; the messages go to the
// last ones, so that a scan of the list would walk all of it.
void fillContacts(ContactList &list, int count) {
    {
        ContactList::Locker lock(list);
        lock->reserve(count);
        for (int i = 0; i < count; ++i) {
            auto contact = std::make_shared<Contact>();
            contact->name = QStringLiteral("Contact %1").arg(i);
            contact->number = "0151 " + QByteArray::number(10000000 + i);
            lock->push_back(std::move(contact));
        }
    }
    list.incSentCount(QByteArray()); // the index is built here, as after a load
}

// durable: outcomes go through the project's journal (synced to disk before the next message,
// as in a real run); otherwise they stay in memory, which leaves the program's own work.
void runOutbox(benchmark::State &state, bool withRefresh, int contacts = 0, bool durable = true) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        // Made and freed outside the timing: freeing a million contacts is no part of a run.
        auto dir = std::make_unique<QTemporaryDir>();
        auto sim = std::make_unique<ModemSim>();
        if (!sim->start()) {
            state.SkipWithError("simulated phone did not start");
            return;
        }
        auto data = std::make_unique<AppData>(dir->filePath(QStringLiteral("pelorvane.ini")));
        data->settings->setSessionPort(sim->portPath().toLocal8Bit());
        data->settings->setCountry(QStringLiteral("DE"));
        fillContacts(*data->contactList, contacts);
        for (int i = 0; i < count; ++i) {
            Message message;
            message.number =
                contacts > 0 ? benchNumber(contacts - 1 - i % contacts) : benchNumber(i);
            message.text = BenchText;
            message.created = oleNow();
            data->outboxList->add(message);
        }
        // A saved project, as a user's would be: an untitled one's journal starts with the whole
        // document, which would time the writing of the contacts rather than the run.
        data->onAskFileName = [&dir] { return dir->filePath(QStringLiteral("bench.sms")); };
        data->save();
        int refreshes = 0;
        if (withRefresh)
            data->onRefreshAll = [&refreshes] { ++refreshes; };
        QEventLoop loop;
        data->phone->onWorkerDone = [&loop](Phone &) { loop.quit(); };
        state.ResumeTiming();

        TransientOutcomeLog inMemory;
        data->phone->start(durable ? data->newSender()
                                   : new SenderThread(*data->outboxList, *data->contactList,
                                                      inMemory, data->onRefreshAll, {}, {}));
        loop.exec();

        state.PauseTiming();
        if (!data->phone->reports.isEmpty() || sim->received().size() != count)
            state.SkipWithError("the run did not send everything");
        if (contacts > 0 && data->contactList->get(contacts - 1).sentCount == 0)
            state.SkipWithError("the contact's sent count did not rise");
        data.reset();
        sim.reset();
        dir.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_SendingRun(benchmark::State &state) {
    runOutbox(state, false);
}

// With the refresh the window gets twice per message, run on this (the UI) thread.
void BM_SendingRunWithRefresh(benchmark::State &state) {
    runOutbox(state, true);
}

// 1,000 messages with 0, 100,000 and 1,000,000 contacts.
void BM_SendingRunWithContacts(benchmark::State &state) {
    runOutbox(state, false, static_cast<int>(state.range(1)));
}

// The same without the disk: what the program itself adds per message.
void BM_SendingRunWithContactsInMemory(benchmark::State &state) {
    runOutbox(state, false, static_cast<int>(state.range(1)), false);
}

// Reads from the line until the reply ends with one of the endings; false on an error line
// or a closed line.
bool readUntil(int fd, QByteArray &buffer, const QByteArray &ending) {
    buffer.clear();
    char chunk[256];
    while (!buffer.endsWith(ending)) {
        if (buffer.endsWith("ERROR\r\n"))
            return false;
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffer.append(chunk, n);
    }
    return true;
}

bool command(int fd, QByteArray &buffer, const QByteArray &line, const QByteArray &ending) {
    return ::write(fd, line.constData(), size_t(line.size())) == line.size() &&
           readUntil(fd, buffer, ending);
}

// The same set-up and the same AT+CMGS exchanges as the sender, PDUs made beforehand, with
// nothing else: no lists, no locks, no refreshes.
void BM_MinimalClient(benchmark::State &state) {
    const int count = static_cast<int>(state.range(0));
    QList<QByteArray> cmgs;
    QList<QByteArray> bodies;
    for (int i = 0; i < count; ++i) {
        SmsSubmit request;
        request.number = benchNumber(i);
        request.text = BenchText;
        PduList pdus;
        buildSubmitParts(request, pdus);
        cmgs << "AT+CMGS=" + QByteArray::number(pdus[0].length) + "\r";
        bodies << "00" + pdus[0].hex + char(26);
    }
    for (auto _ : state) {
        state.PauseTiming();
        ModemSim sim;
        if (!sim.start()) {
            state.SkipWithError("simulated phone did not start");
            return;
        }
        state.ResumeTiming();
        const int fd = ::open(sim.portPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        termios tio = {};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
        QByteArray buffer;
        bool ok = command(fd, buffer, "AT+CMGF=?\r", "OK\r\n") &&
                  command(fd, buffer, "ATE0\r", "OK\r\n") &&
                  command(fd, buffer, "AT+CMGF=0\r", "OK\r\n");
        for (int i = 0; ok && i < count; ++i)
            ok = command(fd, buffer, cmgs[i], "> ") && command(fd, buffer, bodies[i], "OK\r\n");
        ::close(fd);
        state.PauseTiming();
        if (!ok || sim.received().size() != count)
            state.SkipWithError("the client did not send everything");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

} // namespace

BENCHMARK(BM_SendingRunWithContacts)
    ->Args({1000, 0})
    ->Args({1000, 100000})
    ->Args({1000, 1000000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_SendingRunWithContactsInMemory)
    ->Args({1000, 0})
    ->Args({1000, 100000})
    ->Args({1000, 1000000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_MinimalClient)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SendingRun)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SendingRunWithRefresh)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

PELORVANE_QT_BENCHMARK_MAIN()
