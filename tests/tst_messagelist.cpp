#include "app/Errors.h"
#include "data/MessageUnit.h"
#include "data/OleDate.h"
#include "support/ByteWriter.h"
#include "support/FailingDevice.h"
#include "support/TestFiles.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

#include <atomic>
#include <future>
#include <thread>

using TListOp = std::function<void(TMessageList &)>;
Q_DECLARE_METATYPE(TListOp)

namespace {

TMessage MakeMessage(int i, TMessageStatus status = msPending) {
    TMessage m;
    m.Number = "+4479460" + QByteArray::number(10000 + i);
    m.Text = QStringLiteral("text %1").arg(i);
    m.Flash = quint8(i % 2);
    m.Long = quint8((i / 2) % 2);
    m.Created = 45000.5 + i;
    m.Sent = status == msSent ? 45001.25 + i : 0;
    m.Status = status;
    return m;
}

// Records what OnChange saw: how often it ran, on which thread, and whether another thread
// could take the list's lock meanwhile (it cannot while the changing thread still holds it).
struct TChangeProbe {
    int Calls = 0;
    bool LockWasFree = true;
    std::thread::id Thread;
    std::vector<std::future<int>> Pending;

    void Attach(TMessageList &list) {
        list.OnChange = [this](TMessageList &l) {
            ++Calls;
            Thread = std::this_thread::get_id();
            auto count = std::async(std::launch::async, [&l] { return l.Count(); });
            if (count.wait_for(std::chrono::seconds(2)) != std::future_status::ready)
                LockWasFree = false;
            Pending.push_back(std::move(count));
        };
    }
};

QList<const TMessage *> Identities(TMessageList &list) {
    QList<const TMessage *> result;
    TMessageList::TLocker lock(list);
    for (const auto &item : *lock)
        result.append(item.get());
    return result;
}

} // namespace

class TestMessageList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addGetCopiesInAndOut();
    void badIndexFailsUnchanged_data();
    void badIndexFailsUnchanged();
    void notifications_data();
    void notifications();
    void destructorClearsAndNotifies();
    void streamLayout();
    void saveWriteErrorReleasesLock();
    void loadRoundTripAndStatus();
    void loadOtherVersionConsumesNothing();
    void loadFailureKeepsList_data();
    void loadFailureKeepsList();
    void forgedCountFailsAtOnce();
    void moveSentTo();
    void moveSentToNothingSentNoNotify();
    void deleteManyMatchesOneByOne();
    void deleteManyBadIndex();
    void deleteManyLargeSelectionIsFast();
    void indexOfAfterDeletions();
    void holderKeepsDeletedRecord();
    void twoThreadsForASecond();
    void oleDateConversion_data();
    void oleDateConversion();
    void oleDateRejectsNonDates();
};

void TestMessageList::addGetCopiesInAndOut() {
    TMessageList list;
    TMessage m = MakeMessage(1);
    QCOMPARE(list.Add(m), 0);
    QCOMPARE(list.Add(MakeMessage(2)), 1);
    m.Number[0] = 'X';
    m.Text[0] = QLatin1Char('X');
    QCOMPARE(list.Get(0), MakeMessage(1));
    TMessage out = list.Get(0);
    out.Text = QStringLiteral("changed");
    QCOMPARE(list.Get(0).Text, QStringLiteral("text 1"));
    list.Put(1, MakeMessage(7));
    QCOMPARE(list.Get(1), MakeMessage(7));
    QCOMPARE(list.Count(), 2);
}

void TestMessageList::badIndexFailsUnchanged_data() {
    QTest::addColumn<TListOp>("op");
    QTest::addColumn<QString>("error");
    QTest::newRow("Get -1") << TListOp([](TMessageList &l) { l.Get(-1); })
                            << "List index out of bounds (-1)";
    QTest::newRow("Get Count") << TListOp([](TMessageList &l) { l.Get(3); })
                               << "List index out of bounds (3)";
    QTest::newRow("Delete Count") << TListOp([](TMessageList &l) { l.Delete(3); })
                                  << "List index out of bounds (3)";
    QTest::newRow("Delete -5") << TListOp([](TMessageList &l) { l.Delete(-5); })
                               << "List index out of bounds (-5)";
    QTest::newRow("Put 100") << TListOp([](TMessageList &l) { l.Put(100, TMessage()); })
                             << "List index out of bounds (100)";
}

void TestMessageList::badIndexFailsUnchanged() {
    QFETCH(TListOp, op);
    QFETCH(QString, error);
    TChangeProbe probe; // outlives the list, whose destructor notifies
    TMessageList list;
    for (int i = 0; i < 3; ++i)
        list.Add(MakeMessage(i));
    probe.Attach(list);
    auto before = Identities(list);
    QCOMPARE(ErrorMessage([&] { op(list); }), error);
    QCOMPARE(Identities(list), before);
    QCOMPARE(probe.Calls, 0);
    // The lock was released on the way out.
    auto other = std::async(std::launch::async, [&] { return list.Count(); });
    QVERIFY(other.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
}

void TestMessageList::notifications_data() {
    QTest::addColumn<TListOp>("op");
    QTest::addColumn<int>("calls");
    QTest::newRow("Add") << TListOp([](TMessageList &l) { l.Add(MakeMessage(9)); }) << 1;
    QTest::newRow("Put") << TListOp([](TMessageList &l) { l.Put(0, MakeMessage(9)); }) << 1;
    QTest::newRow("Delete") << TListOp([](TMessageList &l) { l.Delete(1); }) << 1;
    QTest::newRow("DeleteMany") << TListOp([](TMessageList &l) { l.DeleteMany({0, 2}); }) << 1;
    QTest::newRow("DeleteMany none") << TListOp([](TMessageList &l) { l.DeleteMany({}); }) << 0;
    QTest::newRow("Clear") << TListOp([](TMessageList &l) { l.Clear(); }) << 1;
    QTest::newRow("Clear twice") << TListOp([](TMessageList &l) {
        l.Clear();
        l.Clear();
    }) << 2;
    QTest::newRow("Changed") << TListOp([](TMessageList &l) { l.Changed(); }) << 1;
    QTest::newRow("Count Get IndexOf") << TListOp([](TMessageList &l) {
        l.Count();
        l.Get(0);
        l.IndexOf(nullptr);
    }) << 0;
    QTest::newRow("SaveToStream") << TListOp([](TMessageList &l) {
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        l.SaveToStream(buffer);
    }) << 0;
    QTest::newRow("LoadFromStream") << TListOp([](TMessageList &l) {
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        l.SaveToStream(buffer);
        buffer.seek(0);
        l.LoadFromStream(buffer, msSent, 10);
    }) << 0;
    QTest::newRow("in place under LockList") << TListOp([](TMessageList &l) {
        TMessageList::TLocker lock(l);
        lock->front()->Status = msSending;
        lock->front()->Sent = OleNow();
    }) << 0;
    QTest::newRow("MoveSentTo") << TListOp([](TMessageList &l) {
        TMessageList sent;
        l.LockList().front()->Status = msSent;
        l.UnlockList();
        l.MoveSentTo(sent);
    }) << 1;
}

void TestMessageList::notifications() {
    QFETCH(TListOp, op);
    QFETCH(int, calls);
    TChangeProbe probe; // outlives the list, whose destructor notifies
    TMessageList list;
    for (int i = 0; i < 3; ++i)
        list.Add(MakeMessage(i));
    probe.Attach(list);
    // Run the operation on another thread: the notification must come on that thread.
    std::thread::id worker;
    std::thread t([&] {
        worker = std::this_thread::get_id();
        op(list);
    });
    t.join();
    QCOMPARE(probe.Calls, calls);
    QVERIFY(probe.LockWasFree);
    if (calls > 0)
        QCOMPARE(probe.Thread, worker);
}

void TestMessageList::destructorClearsAndNotifies() {
    int calls = 0;
    int countSeen = -1;
    {
        TMessageList list;
        list.Add(MakeMessage(1));
        list.OnChange = [&](TMessageList &l) {
            ++calls;
            countSeen = l.Count();
        };
    }
    QCOMPARE(calls, 1);
    QCOMPARE(countSeen, 0);
}

void TestMessageList::streamLayout() {
    TMessageList list;
    QBuffer empty;
    empty.open(QIODevice::WriteOnly);
    list.SaveToStream(empty);
    QCOMPARE(empty.data(), QByteArray(4, '\0'));

    list.Add(TMessage());
    QBuffer one;
    one.open(QIODevice::WriteOnly);
    list.SaveToStream(one);
    QCOMPARE(one.data().size(), 4 + 26);
    QCOMPARE(one.data(),
             TByteWriter().Int32(1).Int32(0).Int32(0).Byte(0).Byte(0).Double(0).Double(0).Bytes);

    TMessage m;
    m.Number = "+30 69";
    m.Text = QStringLiteral("Γειά 😀");
    m.Flash = 1;
    m.Long = 0;
    m.Created = 45123.75;
    m.Sent = 45124.000011574;
    m.Status = msSending; // not stored
    list.Clear();
    list.Add(m);
    QBuffer full;
    full.open(QIODevice::WriteOnly);
    list.SaveToStream(full);
    QCOMPARE(full.data(), TByteWriter()
                              .Int32(1)
                              .Ansi("+30 69")
                              .Wide(m.Text)
                              .Byte(1)
                              .Byte(0)
                              .Double(45123.75)
                              .Double(45124.000011574)
                              .Bytes);
}

void TestMessageList::saveWriteErrorReleasesLock() {
    TMessageList list;
    for (int i = 0; i < 5000; ++i)
        list.Add(MakeMessage(i));
    TFailingDevice device(1000);
    QCOMPARE(ErrorMessage([&] { list.SaveToStream(device); }),
             QStringLiteral("Stream write error"));
    auto other = std::async(std::launch::async, [&] { return list.Count(); });
    QVERIFY(other.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
    QCOMPARE(other.get(), 5000);
}

void TestMessageList::loadRoundTripAndStatus() {
    TMessageList source;
    source.Add(MakeMessage(0, msPending));
    source.Add(MakeMessage(1, msSending));
    source.Add(MakeMessage(2, msSent));
    TMessage odd;
    odd.Text = QString(QChar(0xD800)) + QChar(0xDC01) + QChar(0xDFFF); // lone surrogates
    odd.Flash = 7;                                                     // kept as read
    source.Add(odd);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    source.SaveToStream(buffer);
    QByteArray saved = buffer.data();

    for (TMessageStatus status : {msPending, msSent}) {
        TMessageList target;
        target.Add(MakeMessage(99));
        buffer.seek(0);
        target.LoadFromStream(buffer, status, 10);
        QCOMPARE(buffer.pos(), saved.size());
        QCOMPARE(target.Count(), 4);
        for (int i = 0; i < 4; ++i) {
            TMessage expected = source.Get(i);
            expected.Status = status;
            QCOMPARE(target.Get(i), expected);
        }
        QBuffer again;
        again.open(QIODevice::WriteOnly);
        target.SaveToStream(again);
        QCOMPARE(again.data(), saved);
    }
}

void TestMessageList::loadOtherVersionConsumesNothing() {
    TMessageList source;
    source.Add(MakeMessage(1));
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    source.SaveToStream(buffer);
    for (int version : {0, 9, 11, 255}) {
        TMessageList target;
        target.Add(MakeMessage(5));
        buffer.seek(0);
        target.LoadFromStream(buffer, msPending, version);
        QCOMPARE(buffer.pos(), 0);
        QCOMPARE(target.Count(), 1);
        QCOMPARE(target.Get(0), MakeMessage(5));
    }
}

void TestMessageList::loadFailureKeepsList_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QByteArray record =
        TByteWriter().Ansi("123").Wide("abc").Byte(0).Byte(1).Double(1).Double(0).Bytes;
    QTest::newRow("empty stream") << QByteArray() << "Stream read error";
    QTest::newRow("count cut") << QByteArray(3, '\0') << "Stream read error";
    QTest::newRow("negative count")
        << TByteWriter().Int32(-1).Bytes << "List count out of bounds (-1)";
    QTest::newRow("most negative count") << TByteWriter().Int32(INT_MIN).Bytes
                                         << QString("List count out of bounds (%1)").arg(INT_MIN);
    QTest::newRow("second record missing")
        << TByteWriter().Int32(2).Raw(record).Bytes << "Stream read error";
    QTest::newRow("second record cut")
        << TByteWriter().Int32(2).Raw(record).Raw(record.left(record.size() - 1)).Bytes
        << "Stream read error";
    QTest::newRow("negative number length")
        << TByteWriter().Int32(1).Int32(-4).Raw(QByteArray(40, 'x')).Bytes << "Stream read error";
    QTest::newRow("negative text length")
        << TByteWriter().Int32(1).Ansi("1").Int32(-1).Raw(QByteArray(40, 'x')).Bytes
        << "Stream read error";
    QTest::newRow("text longer than stream")
        << TByteWriter().Int32(1).Ansi("1").Int32(1000).Raw(QByteArray(40, 'x')).Bytes
        << "Stream read error";
    QTest::newRow("text length 2^30")
        << TByteWriter().Int32(1).Ansi("1").Int32(1 << 30).Raw(QByteArray(40, 'x')).Bytes
        << "Stream read error";
}

void TestMessageList::loadFailureKeepsList() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    TMessageList list;
    list.Add(MakeMessage(1));
    list.Add(MakeMessage(2));
    auto before = Identities(list);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QCOMPARE(ErrorMessage([&] { list.LoadFromStream(buffer, msPending, 10); }), error);
    QCOMPARE(Identities(list), before);
    QCOMPARE(list.Get(1), MakeMessage(2));
}

void TestMessageList::forgedCountFailsAtOnce() {
    QByteArray bytes = TByteWriter().Int32(2000000000).Raw(QByteArray(1000, '\0')).Bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TMessageList list;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(ErrorMessage([&] { list.LoadFromStream(buffer, msPending, 10); }),
             QStringLiteral("Stream read error"));
    QVERIFY2(timer.elapsed() < 200, "the count must be checked before reading records");
}

void TestMessageList::moveSentTo() {
    QList<int> order; // outlives the lists, whose destructors notify
    TMessageList outbox;
    TMessageList sent;
    sent.Add(MakeMessage(100, msSent));
    const TMessageStatus statuses[] = {msSent, msPending, msSent, msSending, msSent, msPending};
    for (int i = 0; i < 6; ++i)
        outbox.Add(MakeMessage(i, statuses[i]));
    auto before = Identities(outbox);
    outbox.OnChange = [&](TMessageList &) { order.append(1); };
    sent.OnChange = [&](TMessageList &) { order.append(2); };

    QCOMPARE(outbox.MoveSentTo(sent), 3);
    QCOMPARE(order, QList<int>({1, 2}));
    QCOMPARE(Identities(outbox), QList<const TMessage *>({before[1], before[3], before[5]}));
    QCOMPARE(Identities(sent).mid(1), QList<const TMessage *>({before[0], before[2], before[4]}));
    QCOMPARE(sent.Get(0), MakeMessage(100, msSent));
    QCOMPARE(sent.Get(2), MakeMessage(2, msSent));
    QCOMPARE(outbox.Get(1).Status, msSending);
    QCOMPARE(outbox.MoveSentTo(outbox), 0);
}

void TestMessageList::moveSentToNothingSentNoNotify() {
    int calls = 0;
    TMessageList outbox;
    TMessageList sent;
    outbox.Add(MakeMessage(1, msPending));
    outbox.Add(MakeMessage(2, msSending));
    outbox.OnChange = [&](TMessageList &) { ++calls; };
    sent.OnChange = [&](TMessageList &) { ++calls; };
    QCOMPARE(outbox.MoveSentTo(sent), 0);
    QCOMPARE(calls, 0);
    QCOMPARE(outbox.Count(), 2);
    QCOMPARE(sent.Count(), 0);
}

void TestMessageList::deleteManyMatchesOneByOne() {
    auto *random = QRandomGenerator::global();
    for (int round = 0; round < 200; ++round) {
        int count = random->bounded(1, 60);
        TMessageList a;
        TMessageList b;
        for (int i = 0; i < count; ++i) {
            a.Add(MakeMessage(i));
            b.Add(MakeMessage(i));
        }
        QList<int> selected;
        for (int i = 0; i < count; ++i) {
            if (random->bounded(3) == 0)
                selected.append(i);
        }
        QList<int> shuffled = selected;
        std::shuffle(shuffled.begin(), shuffled.end(), *random);
        if (!shuffled.isEmpty())
            shuffled.append(shuffled.front()); // a repeated index counts once
        a.DeleteMany(shuffled);
        for (qsizetype i = selected.size() - 1; i >= 0; --i)
            b.Delete(selected[i]);
        QCOMPARE(a.Count(), b.Count());
        for (int i = 0; i < a.Count(); ++i)
            QCOMPARE(a.Get(i), b.Get(i));
    }
}

void TestMessageList::deleteManyBadIndex() {
    int calls = 0;
    TMessageList list;
    for (int i = 0; i < 5; ++i)
        list.Add(MakeMessage(i));
    list.OnChange = [&](TMessageList &) { ++calls; };
    QCOMPARE(ErrorMessage([&] {
                 list.DeleteMany({1, 7, 3, 5});
             }),
             QStringLiteral("List index out of bounds (7)"));
    QCOMPARE(ErrorMessage([&] {
                 list.DeleteMany({-2, 1, -1});
             }),
             QStringLiteral("List index out of bounds (-2)"));
    QCOMPARE(list.Count(), 5);
    QCOMPARE(calls, 0);
}

void TestMessageList::deleteManyLargeSelectionIsFast() {
    TMessageList list;
    {
        TMessageList::TLocker lock(list);
        for (int i = 0; i < 100000; ++i)
            lock->push_back(std::make_shared<TMessage>(MakeMessage(i)));
    }
    QList<int> selected;
    for (int i = 1; i < 100000; i += 2)
        selected.append(i);
    QElapsedTimer timer;
    timer.start();
    list.DeleteMany(selected);
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(list.Count(), 50000);
    QCOMPARE(list.Get(0), MakeMessage(0));
    QCOMPARE(list.Get(49999), MakeMessage(99998));
}

void TestMessageList::indexOfAfterDeletions() {
    TMessageList list;
    for (int i = 0; i < 10; ++i)
        list.Add(MakeMessage(i));
    const TMessage *seventh = list.LockList()[7].get();
    list.UnlockList();
    QCOMPARE(list.IndexOf(seventh, 7), 7);
    list.DeleteMany({0, 2, 3});
    QCOMPARE(list.IndexOf(seventh, 7), 4);
    QCOMPARE(list.IndexOf(seventh), 4);
    QCOMPARE(list.IndexOf(seventh, 0), 4);
    list.Add(MakeMessage(10));
    QCOMPARE(list.IndexOf(seventh, 100), 4);
    list.Delete(4);
    QCOMPARE(list.IndexOf(seventh, 4), -1);
    QCOMPARE(list.IndexOf(nullptr), -1);
}

void TestMessageList::holderKeepsDeletedRecord() {
    TMessageList list;
    list.Add(MakeMessage(1));
    TMessageList::TItem held;
    {
        TMessageList::TLocker lock(list);
        held = lock->front();
        held->Status = msSending;
    }
    list.Delete(0);
    {
        TMessageList::TLocker lock(list);
        held->Status = msSent; // still a valid record
    }
    QCOMPARE(held->Number, MakeMessage(1).Number);
    QCOMPARE(held->Status, msSent);
    QCOMPARE(list.Count(), 0);
}

void TestMessageList::twoThreadsForASecond() {
    std::atomic<int> notified{0};
    TMessageList list;
    list.OnChange = [&](TMessageList &) { ++notified; };
    std::atomic<bool> stop{false};
    std::atomic<int> changes{0};
    std::atomic<int> heldChecks{0};

    // Adds, reads and deletes by index; index errors from the race are expected.
    auto editor = [&](int seed) {
        QRandomGenerator random(seed);
        while (!stop) {
            try {
                switch (random.bounded(4)) {
                case 0:
                case 1:
                    list.Add(MakeMessage(random.bounded(1000)));
                    ++changes;
                    break;
                case 2: {
                    int count = list.Count();
                    if (count > 0) {
                        TMessage m = list.Get(random.bounded(count));
                        if (m.Text !=
                            QStringLiteral("text %1").arg(m.Number.mid(8).toInt() - 10000))
                            qFatal("torn record");
                    }
                    break;
                }
                case 3: {
                    int count = list.Count();
                    if (count > 0) {
                        list.Delete(random.bounded(count));
                        ++changes;
                    }
                    break;
                }
                }
            } catch (const EPelorvane &) {
            }
        }
    };
    // Claims a record as the sender does, lets the other thread delete it, and keeps using it.
    auto holder = [&] {
        while (!stop) {
            TMessageList::TItem held;
            int index = -1;
            {
                TMessageList::TLocker lock(list);
                if (!lock->empty()) {
                    index = int(lock->size()) / 2;
                    held = (*lock)[index];
                    held->Status = msSending;
                }
            }
            if (!held)
                continue;
            std::this_thread::yield();
            {
                TMessageList::TLocker lock(list);
                index = list.IndexOf(held.get(), index);
                held->Status = msSent;
                held->Sent = 45000;
                if (index >= 0)
                    (*lock)[index]->Long = 1;
            }
            if (held->Number.size() != 13 || held->Status != msSent)
                qFatal("held record damaged");
            ++heldChecks;
        }
    };
    std::thread a(editor, 1);
    std::thread b(editor, 2);
    std::thread c(holder);
    QThread::msleep(1000);
    stop = true;
    a.join();
    b.join();
    c.join();
    QCOMPARE(notified.load(), changes.load());
    QVERIFY(heldChecks > 0);
}

void TestMessageList::oleDateConversion_data() {
    QTest::addColumn<double>("ole");
    QTest::addColumn<QDateTime>("local");
    QTest::newRow("epoch plus 1") << 1.0 << QDateTime(QDate(1899, 12, 31), QTime(0, 0));
    QTest::newRow("1900-01-01 noon") << 2.5 << QDateTime(QDate(1900, 1, 1), QTime(12, 0));
    QTest::newRow("2023-03-15 06:00") << 45000.25 << QDateTime(QDate(2023, 3, 15), QTime(6, 0));
    QTest::newRow("before epoch") << -1.25 << QDateTime(QDate(1899, 12, 29), QTime(6, 0));
    QTest::newRow("milliseconds") << 45000.0 + (3600000.0 + 1234.0) / 86400000.0
                                  << QDateTime(QDate(2023, 3, 15), QTime(1, 0, 1, 234));
    QTest::newRow("just before midnight rounds up")
        << 45000.9999999999 << QDateTime(QDate(2023, 3, 16), QTime(0, 0));
    QTest::newRow("9999-12-31") << 2958465.0 << QDateTime(QDate(9999, 12, 31), QTime(0, 0));
}

void TestMessageList::oleDateConversion() {
    QFETCH(double, ole);
    QFETCH(QDateTime, local);
    QCOMPARE(OleToDateTime(ole), local);
    QCOMPARE(OleToDateTime(ole).timeSpec(), Qt::LocalTime);
    QVERIFY(qAbs(DateTimeToOle(local) - ole) < 1e-9);
    QVERIFY(qAbs(DateTimeToOle(local.toUTC()) - ole) < 1e-9);
}

void TestMessageList::oleDateRejectsNonDates() {
    QVERIFY(!OleToDateTime(0).isValid());
    QVERIFY(!OleToDateTime(std::nan("")).isValid());
    QVERIFY(!OleToDateTime(1e300).isValid());
    QVERIFY(!OleToDateTime(-1e300).isValid());
    QVERIFY(!OleToDateTime(std::numeric_limits<double>::infinity()).isValid());
    QCOMPARE(DateTimeToOle(QDateTime()), 0.0);
    double now = OleNow();
    QVERIFY(qAbs(now - DateTimeToOle(QDateTime::currentDateTime())) < 1.0 / 86400);
}

QTEST_GUILESS_MAIN(TestMessageList)
#include "tst_messagelist.moc"
