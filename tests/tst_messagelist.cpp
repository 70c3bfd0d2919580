#include "base/Error.h"
#include "base/OleDate.h"
#include "data/MessageList.h"
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

using ListOp = std::function<void(MessageList &)>;
Q_DECLARE_METATYPE(ListOp)

namespace {

Message makeMessage(int i, MessageStatus status = MessageStatus::Pending) {
    Message m;
    m.number = "+4479460" + QByteArray::number(10000 + i);
    m.text = QStringLiteral("text %1").arg(i);
    m.flash = quint8(i % 2);
    m.isLong = quint8((i / 2) % 2);
    m.created = 45000.5 + i;
    m.sent = status == MessageStatus::Sent ? 45001.25 + i : 0;
    m.status = status;
    return m;
}

// Records what onChange saw: how often it ran, on which thread, and whether another thread
// could take the list's lock meanwhile (it cannot while the changing thread still holds it).
struct ChangeProbe {
    int calls = 0;
    bool lockWasFree = true;
    std::thread::id thread;
    std::vector<std::future<int>> pending;

    void attach(MessageList &list) {
        list.onChange = [this](MessageList &l) {
            ++calls;
            thread = std::this_thread::get_id();
            auto count = std::async(std::launch::async, [&l] { return l.count(); });
            if (count.wait_for(std::chrono::seconds(2)) != std::future_status::ready)
                lockWasFree = false;
            pending.push_back(std::move(count));
        };
    }
};

QList<const MessageRecord *> identities(MessageList &list) {
    QList<const MessageRecord *> result;
    MessageList::Locker lock(list);
    for (const auto &item : *lock)
        result.append(item.get());
    return result;
}

} // namespace

class TestMessageList : public QObject {
    Q_OBJECT

public:
    // A zone half an hour off UTC, set before the first date conversion reads the zone: the
    // conversions that read it once must agree with those of the C library.
    TestMessageList() { qputenv("TZ", "Asia/Kolkata"); }

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
    void recordKeepsEveryValue_data();
    void recordKeepsEveryValue();
    void sameTextIsSharedAndOutlivesItsOwner();
    void twoThreadsForASecond();
    void oleDateConversion_data();
    void oleDateConversion();
    void oleDateRejectsNonDates();
};

void TestMessageList::addGetCopiesInAndOut() {
    MessageList list;
    Message m = makeMessage(1);
    QCOMPARE(list.add(m), 0);
    QCOMPARE(list.add(makeMessage(2)), 1);
    m.number[0] = 'X';
    m.text[0] = QLatin1Char('X');
    QCOMPARE(list.get(0), makeMessage(1));
    Message out = list.get(0);
    out.text = QStringLiteral("changed");
    QCOMPARE(list.get(0).text, QStringLiteral("text 1"));
    list.put(1, makeMessage(7));
    QCOMPARE(list.get(1), makeMessage(7));
    QCOMPARE(list.count(), 2);
}

void TestMessageList::badIndexFailsUnchanged_data() {
    QTest::addColumn<ListOp>("op");
    QTest::addColumn<QString>("error");
    QTest::newRow("Get -1") << ListOp([](MessageList &l) { l.get(-1); })
                            << "List index out of bounds (-1)";
    QTest::newRow("Get Count") << ListOp([](MessageList &l) { l.get(3); })
                               << "List index out of bounds (3)";
    QTest::newRow("Delete Count") << ListOp([](MessageList &l) { l.remove(3); })
                                  << "List index out of bounds (3)";
    QTest::newRow("Delete -5") << ListOp([](MessageList &l) { l.remove(-5); })
                               << "List index out of bounds (-5)";
    QTest::newRow("Put 100") << ListOp([](MessageList &l) { l.put(100, Message()); })
                             << "List index out of bounds (100)";
}

void TestMessageList::badIndexFailsUnchanged() {
    QFETCH(ListOp, op);
    QFETCH(QString, error);
    ChangeProbe probe; // outlives the list, whose destructor notifies
    MessageList list;
    for (int i = 0; i < 3; ++i)
        list.add(makeMessage(i));
    probe.attach(list);
    auto before = identities(list);
    QCOMPARE(errorMessage([&] { op(list); }), error);
    QCOMPARE(identities(list), before);
    QCOMPARE(probe.calls, 0);
    // The lock was released on the way out.
    auto other = std::async(std::launch::async, [&] { return list.count(); });
    QVERIFY(other.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
}

void TestMessageList::notifications_data() {
    QTest::addColumn<ListOp>("op");
    QTest::addColumn<int>("calls");
    QTest::newRow("Add") << ListOp([](MessageList &l) { l.add(makeMessage(9)); }) << 1;
    QTest::newRow("Put") << ListOp([](MessageList &l) { l.put(0, makeMessage(9)); }) << 1;
    QTest::newRow("Delete") << ListOp([](MessageList &l) { l.remove(1); }) << 1;
    QTest::newRow("DeleteMany") << ListOp([](MessageList &l) { l.removeMany({0, 2}); }) << 1;
    QTest::newRow("DeleteMany none") << ListOp([](MessageList &l) { l.removeMany({}); }) << 0;
    QTest::newRow("Clear") << ListOp([](MessageList &l) { l.clear(); }) << 1;
    QTest::newRow("Clear twice") << ListOp([](MessageList &l) {
        l.clear();
        l.clear();
    }) << 2;
    QTest::newRow("Changed") << ListOp([](MessageList &l) { l.changed(); }) << 1;
    QTest::newRow("Count Get IndexOf") << ListOp([](MessageList &l) {
        l.count();
        l.get(0);
        l.indexOf(nullptr);
    }) << 0;
    QTest::newRow("SaveToStream") << ListOp([](MessageList &l) {
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        l.saveToStream(buffer);
    }) << 0;
    QTest::newRow("LoadFromStream") << ListOp([](MessageList &l) {
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        l.saveToStream(buffer);
        buffer.seek(0);
        l.loadFromStream(buffer, MessageStatus::Sent, 10);
    }) << 0;
    QTest::newRow("in place under LockList") << ListOp([](MessageList &l) {
        MessageList::Locker lock(l);
        lock->front()->status = MessageStatus::Sending;
        lock->front()->sent = oleNow();
    }) << 0;
    QTest::newRow("MoveSentTo") << ListOp([](MessageList &l) {
        MessageList sent;
        l.lockList().front()->status = MessageStatus::Sent;
        l.unlockList();
        l.moveSentTo(sent);
    }) << 1;
}

void TestMessageList::notifications() {
    QFETCH(ListOp, op);
    QFETCH(int, calls);
    ChangeProbe probe; // outlives the list, whose destructor notifies
    MessageList list;
    for (int i = 0; i < 3; ++i)
        list.add(makeMessage(i));
    probe.attach(list);
    // Run the operation on another thread: the notification must come on that thread.
    std::thread::id worker;
    std::thread t([&] {
        worker = std::this_thread::get_id();
        op(list);
    });
    t.join();
    QCOMPARE(probe.calls, calls);
    QVERIFY(probe.lockWasFree);
    if (calls > 0)
        QCOMPARE(probe.thread, worker);
}

void TestMessageList::destructorClearsAndNotifies() {
    int calls = 0;
    int countSeen = -1;
    {
        MessageList list;
        list.add(makeMessage(1));
        list.onChange = [&](MessageList &l) {
            ++calls;
            countSeen = l.count();
        };
    }
    QCOMPARE(calls, 1);
    QCOMPARE(countSeen, 0);
}

void TestMessageList::streamLayout() {
    MessageList list;
    QBuffer empty;
    empty.open(QIODevice::WriteOnly);
    list.saveToStream(empty);
    QCOMPARE(empty.data(), QByteArray(4, '\0'));

    list.add(Message());
    QBuffer one;
    one.open(QIODevice::WriteOnly);
    list.saveToStream(one);
    QCOMPARE(one.data().size(), 4 + 26);
    QCOMPARE(one.data(),
             ByteWriter().int32(1).int32(0).int32(0).byte(0).byte(0).float64(0).float64(0).bytes);

    Message m;
    m.number = "+30 69";
    m.text = QStringLiteral("Γειά 😀");
    m.flash = 1;
    m.isLong = 0;
    m.created = 45123.75;
    m.sent = 45124.000011574;
    m.status = MessageStatus::Sending; // not stored
    m.acceptedParts = 0b101;           // not stored either
    m.partReference = 12;
    list.clear();
    list.add(m);
    QBuffer full;
    full.open(QIODevice::WriteOnly);
    list.saveToStream(full);
    QCOMPARE(full.data(), ByteWriter()
                              .int32(1)
                              .ansi("+30 69")
                              .wide(m.text)
                              .byte(1)
                              .byte(0)
                              .float64(45123.75)
                              .float64(45124.000011574)
                              .bytes);
}

void TestMessageList::saveWriteErrorReleasesLock() {
    MessageList list;
    for (int i = 0; i < 5000; ++i)
        list.add(makeMessage(i));
    FailingDevice device(1000);
    QCOMPARE(errorMessage([&] { list.saveToStream(device); }),
             QStringLiteral("Stream write error"));
    auto other = std::async(std::launch::async, [&] { return list.count(); });
    QVERIFY(other.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
    QCOMPARE(other.get(), 5000);
}

void TestMessageList::loadRoundTripAndStatus() {
    MessageList source;
    source.add(makeMessage(0, MessageStatus::Pending));
    source.add(makeMessage(1, MessageStatus::Sending));
    source.add(makeMessage(2, MessageStatus::Sent));
    Message odd;
    odd.text = QString(QChar(0xD800)) + QChar(0xDC01) + QChar(0xDFFF); // lone surrogates
    odd.flash = 7;                                                     // kept as read
    source.add(odd);
    // Part progress lives for one program run: a loaded record starts without it.
    Message inParts = makeMessage(4);
    inParts.isLong = 1;
    inParts.acceptedParts = 0b011;
    inParts.partReference = 200;
    source.add(inParts);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    source.saveToStream(buffer);
    QByteArray saved = buffer.data();

    for (MessageStatus status : {MessageStatus::Pending, MessageStatus::Sent}) {
        MessageList target;
        target.add(makeMessage(99));
        buffer.seek(0);
        target.loadFromStream(buffer, status, 10);
        QCOMPARE(buffer.pos(), saved.size());
        QCOMPARE(target.count(), 5);
        for (int i = 0; i < 5; ++i) {
            Message expected = source.get(i);
            expected.status = status;
            expected.clearPartProgress();
            QCOMPARE(target.get(i), expected);
        }
        QVERIFY(!(target.get(4) == source.get(4)));
        QCOMPARE(target.get(4).isLong, quint8(1));
        QBuffer again;
        again.open(QIODevice::WriteOnly);
        target.saveToStream(again);
        QCOMPARE(again.data(), saved);
    }
}

void TestMessageList::loadOtherVersionConsumesNothing() {
    MessageList source;
    source.add(makeMessage(1));
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    source.saveToStream(buffer);
    for (int version : {0, 9, 11, 255}) {
        MessageList target;
        target.add(makeMessage(5));
        buffer.seek(0);
        target.loadFromStream(buffer, MessageStatus::Pending, version);
        QCOMPARE(buffer.pos(), 0);
        QCOMPARE(target.count(), 1);
        QCOMPARE(target.get(0), makeMessage(5));
    }
}

void TestMessageList::loadFailureKeepsList_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QByteArray record =
        ByteWriter().ansi("123").wide("abc").byte(0).byte(1).float64(1).float64(0).bytes;
    QTest::newRow("empty stream") << QByteArray() << "Stream read error";
    QTest::newRow("count cut") << QByteArray(3, '\0') << "Stream read error";
    QTest::newRow("negative count")
        << ByteWriter().int32(-1).bytes << "List count out of bounds (-1)";
    QTest::newRow("most negative count") << ByteWriter().int32(INT_MIN).bytes
                                         << QString("List count out of bounds (%1)").arg(INT_MIN);
    QTest::newRow("second record missing")
        << ByteWriter().int32(2).raw(record).bytes << "Stream read error";
    QTest::newRow("second record cut")
        << ByteWriter().int32(2).raw(record).raw(record.left(record.size() - 1)).bytes
        << "Stream read error";
    QTest::newRow("negative number length")
        << ByteWriter().int32(1).int32(-4).raw(QByteArray(40, 'x')).bytes << "Stream read error";
    QTest::newRow("negative text length")
        << ByteWriter().int32(1).ansi("1").int32(-1).raw(QByteArray(40, 'x')).bytes
        << "Stream read error";
    QTest::newRow("text longer than stream")
        << ByteWriter().int32(1).ansi("1").int32(1000).raw(QByteArray(40, 'x')).bytes
        << "Stream read error";
    QTest::newRow("text length 2^30")
        << ByteWriter().int32(1).ansi("1").int32(1 << 30).raw(QByteArray(40, 'x')).bytes
        << "Stream read error";
}

void TestMessageList::loadFailureKeepsList() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    MessageList list;
    list.add(makeMessage(1));
    list.add(makeMessage(2));
    auto before = identities(list);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QCOMPARE(errorMessage([&] { list.loadFromStream(buffer, MessageStatus::Pending, 10); }), error);
    QCOMPARE(identities(list), before);
    QCOMPARE(list.get(1), makeMessage(2));
}

void TestMessageList::forgedCountFailsAtOnce() {
    QByteArray bytes = ByteWriter().int32(2000000000).raw(QByteArray(1000, '\0')).bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    MessageList list;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(errorMessage([&] { list.loadFromStream(buffer, MessageStatus::Pending, 10); }),
             QStringLiteral("Stream read error"));
    QVERIFY2(timer.elapsed() < 200, "the count must be checked before reading records");
}

void TestMessageList::moveSentTo() {
    QList<int> order; // outlives the lists, whose destructors notify
    MessageList outbox;
    MessageList sent;
    sent.add(makeMessage(100, MessageStatus::Sent));
    const MessageStatus statuses[] = {MessageStatus::Sent, MessageStatus::Pending,
                                      MessageStatus::Sent, MessageStatus::Sending,
                                      MessageStatus::Sent, MessageStatus::Pending};
    for (int i = 0; i < 6; ++i)
        outbox.add(makeMessage(i, statuses[i]));
    auto before = identities(outbox);
    outbox.onChange = [&](MessageList &) { order.append(1); };
    sent.onChange = [&](MessageList &) { order.append(2); };

    QCOMPARE(outbox.moveSentTo(sent), 3);
    QCOMPARE(order, QList<int>({1, 2}));
    QCOMPARE(identities(outbox), QList<const MessageRecord *>({before[1], before[3], before[5]}));
    QCOMPARE(identities(sent).mid(1),
             QList<const MessageRecord *>({before[0], before[2], before[4]}));
    QCOMPARE(sent.get(0), makeMessage(100, MessageStatus::Sent));
    QCOMPARE(sent.get(2), makeMessage(2, MessageStatus::Sent));
    QCOMPARE(outbox.get(1).status, MessageStatus::Sending);
    QCOMPARE(outbox.moveSentTo(outbox), 0);
}

void TestMessageList::moveSentToNothingSentNoNotify() {
    int calls = 0;
    MessageList outbox;
    MessageList sent;
    outbox.add(makeMessage(1, MessageStatus::Pending));
    outbox.add(makeMessage(2, MessageStatus::Sending));
    outbox.onChange = [&](MessageList &) { ++calls; };
    sent.onChange = [&](MessageList &) { ++calls; };
    QCOMPARE(outbox.moveSentTo(sent), 0);
    QCOMPARE(calls, 0);
    QCOMPARE(outbox.count(), 2);
    QCOMPARE(sent.count(), 0);
}

void TestMessageList::deleteManyMatchesOneByOne() {
    auto *random = QRandomGenerator::global();
    for (int round = 0; round < 200; ++round) {
        int count = random->bounded(1, 60);
        MessageList a;
        MessageList b;
        for (int i = 0; i < count; ++i) {
            a.add(makeMessage(i));
            b.add(makeMessage(i));
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
        a.removeMany(shuffled);
        for (qsizetype i = selected.size() - 1; i >= 0; --i)
            b.remove(selected[i]);
        QCOMPARE(a.count(), b.count());
        for (int i = 0; i < a.count(); ++i)
            QCOMPARE(a.get(i), b.get(i));
    }
}

void TestMessageList::deleteManyBadIndex() {
    int calls = 0;
    MessageList list;
    for (int i = 0; i < 5; ++i)
        list.add(makeMessage(i));
    list.onChange = [&](MessageList &) { ++calls; };
    QCOMPARE(errorMessage([&] {
                 list.removeMany({1, 7, 3, 5});
             }),
             QStringLiteral("List index out of bounds (7)"));
    QCOMPARE(errorMessage([&] {
                 list.removeMany({-2, 1, -1});
             }),
             QStringLiteral("List index out of bounds (-2)"));
    QCOMPARE(list.count(), 5);
    QCOMPARE(calls, 0);
}

void TestMessageList::deleteManyLargeSelectionIsFast() {
    MessageList list;
    {
        MessageList::Locker lock(list);
        for (int i = 0; i < 100000; ++i)
            lock->push_back(MessageRecord::create(makeMessage(i)));
    }
    QList<int> selected;
    for (int i = 1; i < 100000; i += 2)
        selected.append(i);
    QElapsedTimer timer;
    timer.start();
    list.removeMany(selected);
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(list.count(), 50000);
    QCOMPARE(list.get(0), makeMessage(0));
    QCOMPARE(list.get(49999), makeMessage(99998));
}

void TestMessageList::indexOfAfterDeletions() {
    MessageList list;
    for (int i = 0; i < 10; ++i)
        list.add(makeMessage(i));
    const MessageRecord *seventh = list.lockList()[7].get();
    list.unlockList();
    QCOMPARE(list.indexOf(seventh, 7), 7);
    list.removeMany({0, 2, 3});
    QCOMPARE(list.indexOf(seventh, 7), 4);
    QCOMPARE(list.indexOf(seventh), 4);
    QCOMPARE(list.indexOf(seventh, 0), 4);
    list.add(makeMessage(10));
    QCOMPARE(list.indexOf(seventh, 100), 4);
    list.remove(4);
    QCOMPARE(list.indexOf(seventh, 4), -1);
    QCOMPARE(list.indexOf(nullptr), -1);
}

void TestMessageList::holderKeepsDeletedRecord() {
    MessageList list;
    list.add(makeMessage(1));
    MessageList::Item held;
    {
        MessageList::Locker lock(list);
        held = lock->front();
        held->status = MessageStatus::Sending;
    }
    list.remove(0);
    {
        MessageList::Locker lock(list);
        held->status = MessageStatus::Sent; // still a valid record
    }
    QCOMPARE(held->number(), makeMessage(1).number);
    QCOMPARE(held->status, MessageStatus::Sent);
    QCOMPARE(list.count(), 0);
}

void TestMessageList::recordKeepsEveryValue_data() {
    QTest::addColumn<Message>("first");
    QTest::addColumn<Message>("second");
    Message withRun = makeMessage(3, MessageStatus::Failed);
    withRun.reason = QStringLiteral("number not in use");
    withRun.error = "+CMS ERROR: 1";
    withRun.acceptedParts = 0b101;
    withRun.partReference = 200;
    Message empty;
    Message huge = makeMessage(4);
    huge.number = QByteArray(70000, '7');
    huge.text = QString(100000, QChar(0x20AC));
    Message emoji = makeMessage(5);
    emoji.text = QStringLiteral("\U0001F600 ok \u00e9");
    Message shorter = makeMessage(6);
    shorter.number = "+1";
    shorter.text = QStringLiteral("t");
    QTest::newRow("plain then run fields") << makeMessage(1) << withRun;
    QTest::newRow("run fields then plain") << withRun << makeMessage(1);
    QTest::newRow("empty then plain") << empty << makeMessage(2);
    QTest::newRow("plain then empty") << makeMessage(2) << empty;
    QTest::newRow("huge then plain") << huge << makeMessage(2);
    QTest::newRow("plain then huge") << makeMessage(2) << huge;
    QTest::newRow("surrogates then shorter") << emoji << shorter;
}

// Whatever a record holds comes back whole, also after an overwrite that does not fit where the
// old values were, and the record keeps its identity.
void TestMessageList::recordKeepsEveryValue() {
    QFETCH(Message, first);
    QFETCH(Message, second);
    MessageList list;
    list.add(makeMessage(0));
    list.add(first);
    QCOMPARE(list.get(1), first);
    const auto before = identities(list);
    list.put(1, second);
    QCOMPARE(list.get(1), second);
    QCOMPARE(list.get(0), makeMessage(0));
    QCOMPARE(identities(list), before);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    list.saveToStream(buffer);
    buffer.seek(0);
    MessageList loaded;
    loaded.loadFromStream(buffer, second.status, 10);
    Message stored = second;
    stored.reason.clear();
    stored.error.clear();
    stored.clearPartProgress();
    QCOMPARE(loaded.get(1), stored);
}

void TestMessageList::sameTextIsSharedAndOutlivesItsOwner() {
    MessageList list;
    for (int i = 0; i < 3; ++i) {
        Message m = makeMessage(i);
        m.text = QStringLiteral("Meeting moved to Friday");
        list.add(m);
    }
    list.add(makeMessage(3));
    MessageList::Item held;
    {
        MessageList::Locker lock(list);
        QCOMPARE((*lock)[1]->textView().data(), (*lock)[0]->textView().data());
        QCOMPARE((*lock)[2]->textView().data(), (*lock)[0]->textView().data());
        QVERIFY((*lock)[3]->textView().data() != (*lock)[0]->textView().data());
        held = (*lock)[1];
    }
    // The owner of the shared text goes, then the holder's list entry: the text stays.
    list.remove(0);
    list.remove(0);
    QCOMPARE(held->text(), QStringLiteral("Meeting moved to Friday"));
    // A new text for one sharer leaves the others' alone.
    Message changed = list.get(0);
    changed.text = QStringLiteral("Cancelled");
    list.put(0, changed);
    QCOMPARE(list.get(0).text, QStringLiteral("Cancelled"));
    QCOMPARE(held->text(), QStringLiteral("Meeting moved to Friday"));
    held.reset();

    // A loaded list shares a run of equal texts the same way.
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    MessageList source;
    for (int i = 0; i < 100; ++i) {
        Message m = makeMessage(i);
        m.text = QStringLiteral("same");
        source.add(m);
    }
    source.saveToStream(buffer);
    buffer.seek(0);
    MessageList loaded;
    loaded.loadFromStream(buffer, MessageStatus::Pending, 10);
    MessageList::Locker lock(loaded);
    for (const auto &item : *lock)
        QCOMPARE(item->textView().data(), lock->front()->textView().data());
}

void TestMessageList::twoThreadsForASecond() {
    std::atomic<int> notified{0};
    MessageList list;
    list.onChange = [&](MessageList &) { ++notified; };
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
                    list.add(makeMessage(random.bounded(1000)));
                    ++changes;
                    break;
                case 2: {
                    int count = list.count();
                    if (count > 0) {
                        Message m = list.get(random.bounded(count));
                        if (m.text !=
                            QStringLiteral("text %1").arg(m.number.mid(8).toInt() - 10000))
                            qFatal("torn record");
                    }
                    break;
                }
                case 3: {
                    int count = list.count();
                    if (count > 0) {
                        list.remove(random.bounded(count));
                        ++changes;
                    }
                    break;
                }
                }
            } catch (const Error &) {
            }
        }
    };
    // Claims a record as the sender does, lets the other thread delete it, and keeps using it.
    auto holder = [&] {
        while (!stop) {
            MessageList::Item held;
            int index = -1;
            {
                MessageList::Locker lock(list);
                if (!lock->empty()) {
                    index = int(lock->size()) / 2;
                    held = (*lock)[index];
                    held->status = MessageStatus::Sending;
                }
            }
            if (!held)
                continue;
            std::this_thread::yield();
            {
                MessageList::Locker lock(list);
                index = list.indexOf(held.get(), index);
                held->status = MessageStatus::Sent;
                held->sent = 45000;
                if (index >= 0)
                    (*lock)[index]->isLong = 1;
            }
            if (held->number().size() != 13 || held->status != MessageStatus::Sent)
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
    QCOMPARE(oleToDateTime(ole), local);
    QCOMPARE(oleToDateTime(ole).timeSpec(), Qt::LocalTime);
    QVERIFY(qAbs(dateTimeToOle(local) - ole) < 1e-9);
    QVERIFY(qAbs(dateTimeToOle(local.toUTC()) - ole) < 1e-9);
}

void TestMessageList::oleDateRejectsNonDates() {
    QVERIFY(!oleToDateTime(0).isValid());
    QVERIFY(!oleToDateTime(std::nan("")).isValid());
    QVERIFY(!oleToDateTime(1e300).isValid());
    QVERIFY(!oleToDateTime(-1e300).isValid());
    QVERIFY(!oleToDateTime(std::numeric_limits<double>::infinity()).isValid());
    QCOMPARE(dateTimeToOle(QDateTime()), 0.0);
    double now = oleNow();
    QVERIFY(qAbs(now - dateTimeToOle(QDateTime::currentDateTime())) < 1.0 / 86400);
    // Kolkata is 5:30 ahead of UTC all year.
    const QDateTime utc = QDateTime::currentDateTimeUtc();
    const double utcOle = double(QDate(1899, 12, 30).daysTo(utc.date())) +
                          utc.time().msecsSinceStartOfDay() / 86400000.0;
    QVERIFY(qAbs(now - utcOle - 5.5 / 24) < 1.0 / 86400);
    // The wall time of an OLE date is what it says, without the zone.
    const OleWallTime wall = oleToWallTime(45000.75);
    QCOMPARE(wall.date, QDate(2023, 3, 15));
    QCOMPARE(wall.time, QTime(18, 0));
    QVERIFY(!oleToWallTime(0).isValid());
}

QTEST_GUILESS_MAIN(TestMessageList)
#include "tst_messagelist.moc"
