// The journal of run outcomes and the one-writer lock: what a run recorded comes back at the
// next load whatever ended the program, exactly once; a torn record is dropped; a save folds
// the journal in; version 11 keeps the outcomes and version 10 stays as it was.

#include "app/AppData.h"
#include "app/JournalFile.h"
#include "app/ProjectJournal.h"
#include "app/ProjectLock.h"
#include "base/Error.h"
#include "support/TestFiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

Message makeMessage(const QByteArray &number, const QString &text, double created = 45000.5) {
    Message m;
    m.number = number;
    m.text = text;
    m.created = created;
    return m;
}

// A project of count messages to distinct numbers (each a contact), and two identical messages
// to "+300" at the end.
void fillProject(AppData &data, int count) {
    for (int i = 0; i < count; ++i) {
        Contact c;
        c.name = QStringLiteral("C%1").arg(i);
        c.number = "+30" + QByteArray::number(600 + i);
        data.contactList->add(c);
        data.outboxList->add(makeMessage(c.number, QStringLiteral("hello %1").arg(i)));
    }
    Contact twin;
    twin.number = "+300";
    data.contactList->add(twin);
    data.outboxList->add(makeMessage("+300", QStringLiteral("twin")));
    data.outboxList->add(makeMessage("+300", QStringLiteral("twin")));
}

// What a sending run does for the outbox record at index: in flight, then the outcome.
void recordOutcome(AppData &data, int index, MessageStatus status, bool finish = true) {
    MessageList::Item record;
    {
        MessageList::Locker items(*data.outboxList);
        record = (*items)[index];
        record->status = MessageStatus::Sending;
    }
    data.journal->inFlight(record.get(), record->toMessage());
    if (!finish)
        return;
    data.journal->commit(record.get(), [&] {
        MessageList::Locker items(*data.outboxList);
        record->status = status;
        if (status == MessageStatus::Sent) {
            record->sent = 45001.25;
            data.contactList->incSentCount(record->number());
        }
        if (status == MessageStatus::Failed) {
            record->setReason(QStringLiteral("number not in use"));
            record->setError("+CMS ERROR: 1");
        }
        return record->toMessage();
    });
}

QList<QByteArray> numbersOf(MessageList &list) {
    QList<QByteArray> numbers;
    for (int i = 0; i < list.count(); ++i)
        numbers << list.get(i).number;
    return numbers;
}

qint32 sentCountOf(AppData &data, const QByteArray &number) {
    for (int i = 0; i < data.contactList->count(); ++i)
        if (data.contactList->get(i).number == number)
            return data.contactList->get(i).sentCount;
    return -1;
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void tornRecordAtEveryOffset();
    void replayAfterKill_data();
    void replayAfterKill();
    void messageQueuedAfterSaveComesBack();
    void journalOfAnEarlierFileIsIgnored();
    void saveDuringRunCountsEveryOutcomeOnce();
    void versionElevenKeepsOutcomes();
    void versionElevenSkipsUnknownSection();
    void phonesInterleavedAfterKill_data();
    void phonesInterleavedAfterKill();
    void messageDetailsKeptInEitherList();
    void untitledProjectOfferedBack();
    void secondWriterRefusedNamingHolder();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // A saved project of count messages (and the twins), its journal open as a run opens it.
    std::unique_ptr<AppData> startRun(const QString &name, int count);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestJournal::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

std::unique_ptr<AppData> TestJournal::startRun(const QString &name, int count) {
    auto data = std::make_unique<AppData>();
    fillProject(*data, count);
    data->onAskFileName = [this, name] { return path(name); };
    data->save();
    data->journal->open(data->fileName, data->fileIdentity, {});
    return data;
}

void TestJournal::tornRecordAtEveryOffset() {
    JournalContent content;
    content.identity = ProjectIdentity::of("project bytes");
    QByteArray bytes = encodeJournalHeader(content);
    const qsizetype headerSize = bytes.size();
    QList<qsizetype> ends;
    for (int i = 0; i < 3; ++i) {
        Message m = makeMessage("+30" + QByteArray::number(i), QStringLiteral("text %1").arg(i));
        m.status = i == 1 ? MessageStatus::Failed : MessageStatus::Sent;
        m.reason = QStringLiteral("why %1").arg(i);
        m.messageId = "1A2B0" + QByteArray::number(i);
        m.delivery = DeliveryState::Undelivered;
        bytes += encodeJournalRecord(
            {i == 2 ? JournalRecord::Kind::InFlight : JournalRecord::Kind::Commit, m, 7u + i});
        ends << bytes.size();
    }
    const std::optional<JournalContent> whole = decodeJournal(bytes);
    QVERIFY(whole);
    QCOMPARE(whole->records.size(), 3);
    QCOMPARE(whole->records[1].message.reason, QStringLiteral("why 1"));
    QCOMPARE(whole->records[1].message.status, MessageStatus::Failed);
    // The fields after the reason, which a one-phone program's records lack.
    QCOMPARE(whole->records[1].slot, 8u);
    QCOMPARE(whole->records[1].message.messageId, QByteArray("1A2B01"));
    QCOMPARE(whole->records[1].message.delivery, DeliveryState::Undelivered);
    QCOMPARE(whole->records[2].kind, JournalRecord::Kind::InFlight);
    QCOMPARE(whole->identity, content.identity);

    // Cut anywhere (a power loss during an append): the whole records before the cut stay.
    for (qsizetype size = 0; size <= bytes.size(); ++size) {
        const std::optional<JournalContent> cut = decodeJournal(bytes.first(size));
        if (size < headerSize) {
            QVERIFY(!cut);
            continue;
        }
        QVERIFY(cut);
        const qsizetype whole =
            std::count_if(ends.begin(), ends.end(), [&](qsizetype end) { return end <= size; });
        QCOMPARE(cut->records.size(), whole);
        QCOMPARE(cut->validSize, whole ? ends[whole - 1] : headerSize);
    }
    // A byte changed in the second record: it and what follows are dropped.
    for (qsizetype at = ends[0]; at < ends[1]; ++at) {
        QByteArray damaged = bytes;
        damaged[at] = char(damaged[at] ^ 0x20);
        QCOMPARE(decodeJournal(damaged)->records.size(), 1);
    }
}

void TestJournal::replayAfterKill_data() {
    QTest::addColumn<int>("done");
    QTest::addColumn<bool>("lastInFlight");
    QTest::newRow("nothing recorded") << 0 << false;
    QTest::newRow("first in flight") << 0 << true;
    QTest::newRow("three sent") << 3 << false;
    QTest::newRow("three sent, fourth in flight") << 3 << true;
    QTest::newRow("all sent") << 6 << false;
}

void TestJournal::replayAfterKill() {
    QFETCH(int, done);
    QFETCH(bool, lastInFlight);
    constexpr int Count = 4;
    QByteArray saved;
    {
        auto data = startRun(QStringLiteral("run.sms"), Count);
        saved = readAll(path("run.sms"));
        // Messages 0 and 2 are sent, 1 refused for good, 3 sent, then the twins.
        for (int i = 0; i < done; ++i)
            recordOutcome(*data, i, i == 1 ? MessageStatus::Failed : MessageStatus::Sent);
        if (lastInFlight)
            recordOutcome(*data, done, MessageStatus::Sent, false);
        // The program ends here without a save, as after a kill.
    }
    QCOMPARE(readAll(path("run.sms")), saved);
    QVERIFY(QFile::exists(path("run.sms.journal")));

    AppData data;
    data.load(path("run.sms"));
    const int sent = done - (done > 1 ? 1 : 0);
    QCOMPARE(data.sentList->count(), sent);
    QCOMPARE(data.outboxList->count() + data.sentList->count(), Count + 2);
    QCOMPARE(data.modified, done > 0 || lastInFlight);
    QCOMPARE(data.lastFold.unknown, lastInFlight ? 1 : 0);
    for (int i = 0; i < data.outboxList->count(); ++i) {
        const Message m = data.outboxList->get(i);
        if (m.status == MessageStatus::Unknown) {
            QVERIFY(lastInFlight);
            QCOMPARE(m.number, done < Count ? "+30" + QByteArray::number(600 + done) : "+300");
            QCOMPARE(m.reason, inFlightReason());
        } else if (m.status == MessageStatus::Failed) {
            QCOMPARE(m.number, QByteArray("+30601"));
            QCOMPARE(m.error, QByteArray("+CMS ERROR: 1"));
        } else {
            QCOMPARE(m.status, MessageStatus::Pending);
        }
    }
    // One twin sent leaves the other waiting, whichever of the two the run took.
    if (done == 6)
        QCOMPARE(numbersOf(*data.outboxList), (QList<QByteArray>{"+30601"}));
    QCOMPARE(sentCountOf(data, "+300"), done == 6 ? 2 : 0);
    QCOMPARE(sentCountOf(data, "+30600"), done > 0 ? 1 : 0);

    // Saved: the journal is gone and the file alone gives the same document.
    data.save();
    QVERIFY(!QFile::exists(path("run.sms.journal")));
    AppData again;
    again.load(path("run.sms"));
    QVERIFY(!again.modified);
    QCOMPARE(numbersOf(*again.outboxList), numbersOf(*data.outboxList));
    QCOMPARE(numbersOf(*again.sentList), numbersOf(*data.sentList));
    for (int i = 0; i < data.outboxList->count(); ++i)
        QCOMPARE(again.outboxList->get(i), data.outboxList->get(i));
    QCOMPARE(sentCountOf(again, "+30600"), done > 0 ? 1 : 0);
}

void TestJournal::messageQueuedAfterSaveComesBack() {
    {
        auto data = startRun(QStringLiteral("queued.sms"), 1);
        data->outboxList->add(makeMessage("+30999", QStringLiteral("late")));
        recordOutcome(*data, 3, MessageStatus::Sent);
    }
    AppData data;
    data.load(path("queued.sms"));
    QCOMPARE(data.lastFold.added, 1);
    QCOMPARE(numbersOf(*data.sentList), (QList<QByteArray>{"+30999"}));
    QCOMPARE(data.sentList->get(0).text, QStringLiteral("late"));
    QCOMPARE(data.outboxList->count(), 3);
}

void TestJournal::journalOfAnEarlierFileIsIgnored() {
    {
        auto data = startRun(QStringLiteral("old.sms"), 2);
        recordOutcome(*data, 0, MessageStatus::Sent);
    }
    // The file changed since (another copy saved over it): the journal is not its own.
    QVERIFY(QFile::copy(path("old.sms.journal"), path("kept.journal")));
    {
        AppData data;
        data.load(path("old.sms"));
        data.save();
    }
    const QByteArray folded = readAll(path("old.sms"));
    QVERIFY(QFile::rename(path("kept.journal"), path("old.sms.journal")));
    AppData data;
    data.load(path("old.sms"));
    QCOMPARE(data.lastFold.changed + data.lastFold.added, 0);
    QVERIFY(!data.modified);
    QCOMPARE(data.sentList->count(), 1);
    QCOMPARE(sentCountOf(data, "+30600"), 1);
    data.journal->open(data.fileName, data.fileIdentity, {});
    QVERIFY(!QFile::exists(path("old.sms.journal")) ||
            decodeJournal(readAll(path("old.sms.journal")))->records.isEmpty());
    QCOMPARE(readAll(path("old.sms")), folded);
}

void TestJournal::saveDuringRunCountsEveryOutcomeOnce() {
    {
        auto data = startRun(QStringLiteral("mid.sms"), 3);
        recordOutcome(*data, 0, MessageStatus::Sent);
        recordOutcome(*data, 1, MessageStatus::Sent, false);
        bool sawInFlight = false;
        // Ctrl+S while the phone takes message 1: the file shows it as possibly sent.
        data->journal->saveExclusive(
            data->fileName,
            [&](const QList<Message> &inFlight) {
                sawInFlight = inFlight.size() == 1;
                QBuffer buffer;
                buffer.open(QIODevice::WriteOnly);
                data->saveToDevice(buffer, inFlight);
                writeAll(data->fileName, buffer.data());
                return ProjectIdentity::of(buffer.data());
            },
            true);
        QVERIFY(sawInFlight);
        QVERIFY(data->journal->isOpen());
        QCOMPARE(readAll(path("mid.sms")).at(2), char(11));
        // The phone answers; the run goes on into the new journal.
        // Taken first: a commit takes the journal's lock before the outbox's.
        const MessageRecord *second = MessageList::Locker(*data->outboxList)->at(1).get();
        data->journal->commit(second, [&] {
            MessageList::Locker items(*data->outboxList);
            (*items)[1]->status = MessageStatus::Sent;
            data->contactList->incSentCount((*items)[1]->number());
            return (*items)[1]->toMessage();
        });
        recordOutcome(*data, 2, MessageStatus::Sent);
    }
    AppData data;
    data.load(path("mid.sms"));
    QCOMPARE(numbersOf(*data.sentList), (QList<QByteArray>{"+30600", "+30601", "+30602"}));
    for (const QByteArray number : {"+30600", "+30601", "+30602"})
        QCOMPARE(sentCountOf(data, number), 1);
    QCOMPARE(data.outboxList->count(), 2);
}

void TestJournal::versionElevenKeepsOutcomes() {
    AppData data;
    fillProject(data, 3);
    data.onAskFileName = [this] { return path("v.sms"); };
    data.save();
    const QByteArray version10 = readAll(path("v.sms"));
    QCOMPARE(version10.at(2), char(10));
    {
        MessageList::Locker items(*data.outboxList);
        MessageRecord &failed = *(*items)[0];
        failed.status = MessageStatus::Failed;
        failed.setReason(QStringLiteral("number not in use"));
        failed.setError("+CMS ERROR: 1");
        MessageRecord &unknown = *(*items)[1];
        unknown.status = MessageStatus::Unknown;
        unknown.setReason(QStringLiteral("no answer after the message"));
        MessageRecord &parts = *(*items)[2];
        parts.isLong = 1;
        parts.setAcceptedParts(0b101);
        parts.setPartReference(77);
    }
    data.save();
    const QByteArray version11 = readAll(path("v.sms"));
    QCOMPARE(version11.at(2), char(11));
    AppData loaded;
    loaded.load(path("v.sms"));
    QCOMPARE(loaded.outboxList->count(), 5);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(loaded.outboxList->get(i), data.outboxList->get(i));
    // Back to pending: version 10 again, byte for byte as before (the long flag aside).
    {
        MessageList::Locker items(*loaded.outboxList);
        for (auto &item : *items) {
            item->status = MessageStatus::Pending;
            item->setReason(QString());
            item->setError(QByteArray());
            item->clearPartProgress();
            item->isLong = 0;
        }
    }
    loaded.save();
    QCOMPARE(readAll(path("v.sms")), version10);
}

void TestJournal::versionElevenSkipsUnknownSection() {
    AppData data;
    fillProject(data, 1);
    {
        MessageList::Locker items(*data.outboxList);
        (*items)[0]->status = MessageStatus::Failed;
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    data.saveToDevice(buffer);
    QByteArray bytes = buffer.data();
    QCOMPARE(bytes.at(2), char(11));
    // A later version's section (tag 9, 5 bytes) before the states, one after them.
    const QByteArray later("\x09\x05\x00\x00\x00"
                           "abcde",
                           10);
    AppData loaded;
    writeAll(path("later.sms"), bytes + later);
    loaded.load(path("later.sms"));
    QCOMPARE(loaded.outboxList->get(0).status, MessageStatus::Failed);
    QCOMPARE(loaded.outboxList->count(), 3);
    // A length beyond the end is a damaged file, not a section to skip.
    QByteArray damaged = bytes + later;
    damaged[bytes.size() + 1] = char(0x50);
    writeAll(path("damaged.sms"), damaged);
    AppData failing;
    QCOMPARE(errorMessage([&] { failing.load(path("damaged.sms")); }),
             QStringLiteral("Stream read error"));
    // Version 10 knows no such sections: a tag 4 there reads nothing, as any unknown tag.
    AppData plain;
    fillProject(plain, 1);
    QBuffer plainBuffer;
    plainBuffer.open(QIODevice::WriteOnly);
    plain.saveToDevice(plainBuffer);
    QCOMPARE(plainBuffer.data().at(2), char(10));
}

void TestJournal::phonesInterleavedAfterKill_data() {
    QTest::addColumn<int>("sentTwins");
    QTest::newRow("both twins in flight") << 0;
    QTest::newRow("one twin sent, the other in flight") << 1;
    QTest::newRow("both twins sent") << 2;
}

// Two phones take the identical twins at once, their records interleaved: after a kill each
// twin is accounted for on its own, and none waits to be sent again while a phone may have it.
void TestJournal::phonesInterleavedAfterKill() {
    QFETCH(int, sentTwins);
    const QStringList phones = {QStringLiteral("ttyUSB0"), QStringLiteral("ttyUSB1")};
    {
        auto data = startRun(QStringLiteral("twins.sms"), 1);
        QList<MessageList::Item> twins;
        {
            MessageList::Locker items(*data->outboxList);
            twins = {(*items)[1], (*items)[2]};
        }
        for (const MessageList::Item &twin : twins) {
            twin->status = MessageStatus::Sending;
            data->journal->inFlight(twin.get(), twin->toMessage());
        }
        for (int i = 0; i < sentTwins; ++i) {
            data->journal->commit(twins[i].get(), [&] {
                MessageList::Locker items(*data->outboxList);
                twins[i]->status = MessageStatus::Sent;
                twins[i]->sent = 45001.5;
                twins[i]->setPhone(phones[i]);
                return twins[i]->toMessage();
            });
        }
    }
    AppData data;
    data.load(path("twins.sms"));
    QCOMPARE(data.lastFold.unknown, 2 - sentTwins);
    QCOMPARE(data.sentList->count(), sentTwins);
    for (int i = 0; i < sentTwins; ++i)
        QCOMPARE(data.sentList->get(i).phone, phones[i]);
    QCOMPARE(sentCountOf(data, "+300"), sentTwins);
    for (int i = 0; i < data.outboxList->count(); ++i) {
        const Message m = data.outboxList->get(i);
        QCOMPARE(m.status, m.number == "+300" ? MessageStatus::Unknown : MessageStatus::Pending);
    }
}

void TestJournal::messageDetailsKeptInEitherList() {
    AppData data;
    fillProject(data, 2);
    data.onAskFileName = [this] { return path("details.sms"); };
    data.save();
    const QByteArray version10 = readAll(path("details.sms"));
    Message sent = makeMessage("+30777", QStringLiteral("receipted"));
    sent.status = MessageStatus::Sent;
    sent.phone = QStringLiteral("/dev/serial/by-id/usb-Modem_2");
    sent.messageId = "5a3f";
    sent.delivery = DeliveryState::Undelivered;
    sent.deliveryDetail = QStringLiteral("UNDELIV, error 001");
    data.sentList->add(sent);
    {
        MessageList::Locker items(*data.outboxList);
        (*items)[1]->setPhone(QStringLiteral("ttyUSB1"));
    }
    data.save();
    QCOMPARE(readAll(path("details.sms")).at(2), char(11));
    AppData loaded;
    loaded.load(path("details.sms"));
    QCOMPARE(loaded.sentList->get(0), sent);
    QCOMPARE(loaded.outboxList->get(1).phone, QStringLiteral("ttyUSB1"));
    QCOMPARE(loaded.outboxList->get(0), data.outboxList->get(0));

    // A detail pointing past its list is a damaged file: nothing of the section is taken.
    QByteArray damaged = readAll(path("details.sms"));
    const qsizetype index = damaged.lastIndexOf(QByteArray("\x03\x00\x00\x00\x00", 5));
    QVERIFY(index > 0);
    damaged[index + 1] = char(9);
    writeAll(path("damaged.sms"), damaged);
    AppData failing;
    QCOMPARE(errorMessage([&] { failing.load(path("damaged.sms")); }),
             QStringLiteral("Stream read error"));
    QVERIFY(failing.sentList->get(0).messageId.isEmpty());

    // Without details the file is version 10 again, byte for byte.
    loaded.sentList->clear();
    {
        MessageList::Locker items(*loaded.outboxList);
        (*items)[1]->setPhone(QString());
    }
    loaded.save();
    QCOMPARE(readAll(path("details.sms")), version10);
}

void TestJournal::untitledProjectOfferedBack() {
    QByteArray snapshot;
    QString live;
    {
        AppData data;
        fillProject(data, 2);
        data.journal->open(QString(), ProjectIdentity(), [&] {
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            data.saveToDevice(buffer);
            return buffer.data();
        });
        live = data.journal->path();
        QVERIFY(live.startsWith(ProjectJournal::untitledFolder()));
        recordOutcome(data, 0, MessageStatus::Sent);
        recordOutcome(data, 1, MessageStatus::Sent, false);
        // A program that still runs holds its journal: not offered to another.
        QVERIFY(!AppData::unsavedUntitledProjects().contains(live));
        // What that program would leave should it end now.
        QVERIFY(QFile::copy(live, ProjectJournal::untitledFolder() + "/left-1.journal"));
    }
    // Closed normally, the untitled journal is gone; the left one is offered.
    QVERIFY(!QFile::exists(live));
    const QStringList offered = AppData::unsavedUntitledProjects();
    QCOMPARE(offered.size(), 1);
    AppData data;
    data.recoverUntitled(offered[0]);
    QVERIFY(data.fileName.isEmpty());
    QVERIFY(data.modified);
    QCOMPARE(numbersOf(*data.sentList), (QList<QByteArray>{"+30600"}));
    QCOMPARE(data.outboxList->get(0).status, MessageStatus::Unknown);
    QCOMPARE(data.outboxList->count(), 3);
    QCOMPARE(sentCountOf(data, "+30600"), 1);
    // Saved under a name: nothing is offered any more.
    data.onAskFileName = [this] { return path("recovered.sms"); };
    data.save();
    QVERIFY(AppData::unsavedUntitledProjects().isEmpty());
    QVERIFY(!QFile::exists(offered[0]));
}

void TestJournal::secondWriterRefusedNamingHolder() {
    AppData first;
    fillProject(first, 1);
    first.lockHolder = QStringLiteral("pelorvane-cli send");
    first.onAskFileName = [this] { return path("club.sms"); };
    first.save();
    QCOMPARE(first.lockedFile(), ProjectLock::canonicalPath(path("club.sms")));

    AppData second;
    second.lockHolder = QStringLiteral("pelorvane-cli queue");
    const QString expected =
        QStringLiteral("club.sms is in use by pelorvane-cli send (pid %1)").arg(::getpid());
    bool inUse = false;
    try {
        second.load(path("club.sms"));
    } catch (const ProjectInUseError &e) {
        inUse = true;
        QCOMPARE(e.message(), expected);
    }
    QVERIFY(inUse);
    QVERIFY(second.fileName.isEmpty());
    QCOMPARE(second.outboxList->count(), 0);
    // Nor can it be taken over by a Save As to that name.
    second.onAskFileName = [this] { return path("club.sms"); };
    QCOMPARE(errorMessage([&] { second.save(); }), expected);
    QVERIFY(second.fileName.isEmpty());
    // Another path to the same folder is the same lock.
    QVERIFY(QFile::link(m_dir->path(), path("alias")));
    QCOMPARE(errorMessage([&] { second.load(path("alias/club.sms")); }), expected);

    // Given up (New): the lock goes with it and the second writer gets it.
    first.newProject();
    second.load(path("club.sms"));
    QCOMPARE(second.outboxList->count(), 3);
    QVERIFY(!second.lockedFile().isEmpty());
    // A reader that takes no lock is never refused.
    AppData reader;
    reader.load(path("club.sms"));
    QCOMPARE(reader.outboxList->count(), 3);
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
