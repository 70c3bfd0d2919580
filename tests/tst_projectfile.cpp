#include "app/AppData.h"
#include "base/Error.h"
#include "base/OleDate.h"
#include "base/StreamIO.h"
#include "support/ByteWriter.h"
#include "support/FailingDevice.h"
#include "support/FileSizeLimit.h"
#include "support/TestFiles.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

const QByteArray Header("\x83\x56\x0a\x00", 4);

template <typename L>
auto contents(L &list) {
    QList<decltype(list.get(0))> result;
    for (int i = 0; i < list.count(); ++i)
        result.append(list.get(i));
    return result;
}

// Everything a document holds, for comparing two of them.
struct Snapshot {
    ComposeFields compose;
    QList<Contact> contacts;
    QList<Message> outbox;
    QList<Message> sent;

    explicit Snapshot(AppData &m)
        : compose(m.compose), contacts(contents(*m.contactList)), outbox(contents(*m.outboxList)),
          sent(contents(*m.sentList)) {}
};

Message makeMessage(const QByteArray &number, const QString &text, MessageStatus status,
                    quint8 flash = 0, quint8 isLong = 0, double created = 0, double sent = 0) {
    Message m;
    m.number = number;
    m.text = text;
    m.flash = flash;
    m.isLong = isLong;
    m.created = created;
    m.sent = sent;
    m.status = status;
    return m;
}

const QString LoneSurrogates = QString(QChar(0xD83D)) + "a" + QChar(0xDE00) + QChar(0xDBFF);

// A document with something unusual in every field.
void fillRich(AppData &m) {
    m.compose.to = "+30 6912345678, 0044 7700";
    m.compose.cc = QByteArray("\xe9\x00\xff", 3);
    m.compose.subject = QStringLiteral("Θέμα 主题 😀");
    m.compose.body = QStringLiteral("Γειά σου κόσμε, 你好, 🎉\r\n") + LoneSurrogates;
    Contact c;
    c.name = QStringLiteral("Ελένη 李 😀");
    c.number = "+306912345678";
    c.sentCount = 12;
    c.checked = 0;
    m.contactList->add(c);
    m.contactList->add(Contact());
    c.name = LoneSurrogates;
    c.number = QByteArray("\x01\x02", 2);
    c.sentCount = -5;
    c.checked = 1;
    m.contactList->add(c);
    m.outboxList->add(makeMessage("123", QStringLiteral("flash 😀"), MessageStatus::Pending, 1, 0,
                                  45123.123456789));
    m.outboxList->add(makeMessage("", "", MessageStatus::Sending, 0, 1, 0.5, 0));
    m.outboxList->add(
        makeMessage("456", LoneSurrogates, MessageStatus::Sending, 1, 1, 45000.75, 45000.7500001));
    m.sentList->add(
        makeMessage("789", QStringLiteral("已发送"), MessageStatus::Sent, 0, 0, -1.25, 45001.999));
    m.sentList->add(
        makeMessage("789", QStringLiteral("已发送"), MessageStatus::Sent, 0, 0, 45002, 45003));
}

// A different document, to see which parts a load replaced.
void fillOther(AppData &m) {
    m.compose.to = "old to";
    m.compose.body = "old body";
    Contact c;
    c.name = "Old";
    c.number = "000";
    m.contactList->add(c);
    m.outboxList->add(makeMessage("0", "old outbox", MessageStatus::Pending));
    m.sentList->add(makeMessage("0", "old sent", MessageStatus::Sent));
}

} // namespace

class TestProjectFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void emptyFileIs36Bytes();
    void byteLayout();
    void roundTripByteIdentical();
    void loadRules_data();
    void loadRules();
    void onlyContactsSection();
    void sectionTwice();
    void truncationAtEveryOffset();
    void forgedCountsFailAtOnce();
    void fileNameAndModifiedAfterFailedLoad();
    void missingFile();
    void reloadWithEmptyName();
    void saveAsksForName();
    void saveCancelChangesNothing();
    void saveFailureKeepsOldFile();
    void saveIntoMissingFolder();
    void streamWriteError();
    void newKeepsCompose();
    void modifiedTracking();
    void fuzzLoad();
    void saveOnFullDiskAtEveryPoint();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // Saves m under name without a dialog.
    void saveAs(AppData &m, const QString &name) {
        m.onAskFileName = [=, this] { return path(name); };
        QVERIFY(m.save(true));
    }
};

void TestProjectFile::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestProjectFile::emptyFileIs36Bytes() {
    AppData m;
    saveAs(m, "empty.sms");
    QByteArray expected =
        Header + QByteArray(17, '\0') + QByteArray("\x01\0\0\0\0\x02\0\0\0\0\x03\0\0\0\0", 15);
    QCOMPARE(expected.size(), 36);
    QCOMPARE(readAll(path("empty.sms")), expected);

    AppData loaded;
    fillOther(loaded);
    loaded.modified = true;
    loaded.load(path("empty.sms"));
    QVERIFY(!loaded.modified);
    QCOMPARE(loaded.contactList->count() + loaded.outboxList->count() + loaded.sentList->count(),
             0);
    QCOMPARE(loaded.compose, ComposeFields());
    QCOMPARE(loaded.fileName, path("empty.sms"));
    QCOMPARE(loaded.title(), QStringLiteral("empty.sms"));
}

void TestProjectFile::byteLayout() {
    AppData m;
    m.compose.to = "1,2";
    m.compose.body = QStringLiteral("é");
    Contact c;
    c.name = "A";
    c.number = "9";
    m.contactList->add(c);
    m.sentList->add(makeMessage("5", "x", MessageStatus::Sent, 1, 0, 2.5, 3.25));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    m.saveToDevice(buffer);
    QCOMPARE(buffer.data(), ByteWriter()
                                .raw(Header)
                                .byte(0)
                                .ansi("1,2")
                                .ansi("")
                                .wide("")
                                .wide(QStringLiteral("é"))
                                .byte(1)
                                .int32(1)
                                .wide("A")
                                .ansi("9")
                                .int32(0)
                                .byte(1)
                                .byte(2)
                                .int32(0)
                                .byte(3)
                                .int32(1)
                                .ansi("5")
                                .wide("x")
                                .byte(1)
                                .byte(0)
                                .float64(2.5)
                                .float64(3.25)
                                .bytes);
}

void TestProjectFile::roundTripByteIdentical() {
    AppData m;
    fillRich(m);
    saveAs(m, "rich.sms");
    QVERIFY(!m.modified);
    QByteArray first = readAll(path("rich.sms"));

    AppData loaded;
    loaded.load(path("rich.sms"));
    Snapshot original(m);
    Snapshot back(loaded);
    QCOMPARE(back.compose, original.compose);
    QCOMPARE(back.compose.body.right(4), LoneSurrogates);
    QCOMPARE(back.contacts, original.contacts);
    QCOMPARE(back.outbox.size(), original.outbox.size());
    for (qsizetype i = 0; i < back.outbox.size(); ++i) {
        Message expected = original.outbox[i];
        expected.status = MessageStatus::Pending; // the section decides, not what was saved
        QCOMPARE(back.outbox[i], expected);
    }
    QCOMPARE(back.sent, original.sent);
    QCOMPARE(loaded.outboxList->get(0).created, 45123.123456789);

    loaded.save();
    QCOMPARE(readAll(path("rich.sms")), first);
    saveAs(loaded, "again.sms");
    QCOMPARE(readAll(path("again.sms")), first);
}

void TestProjectFile::loadRules_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("changed");
    AppData rich;
    fillRich(rich);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    rich.saveToDevice(buffer);
    QByteArray full = buffer.data();

    QTest::newRow("empty") << QByteArray() << "Invalid file format." << false;
    QTest::newRow("three bytes") << Header.left(3) << "Invalid file format." << false;
    QTest::newRow("header only") << Header << "Stream read error" << false;
    QTest::newRow("wrong magic") << QByteArray("\x56\x83\x0a\x00\x07", 5) << "Invalid file format."
                                 << false;
    QTest::newRow("wrong magic, version 9")
        << QByteArray("\x83\x57\x09\x00\x07", 5) << "Invalid file format." << false;
    QByteArray v9 = full;
    v9[2] = 9;
    QTest::newRow("version 9") << v9 << "Invalid file version 9" << false;
    QByteArray v12 = full;
    v12[2] = 12;
    QTest::newRow("version 12") << v12 << "Invalid file version 12" << false;
    QTest::newRow("version 255") << QByteArray("\x83\x56\xff\x00", 4) << "Invalid file version 255"
                                 << false;
    QTest::newRow("one unknown tag") << Header + "\x07" << QString() << false;
    QTest::newRow("reserved byte set")
        << QByteArray("\x83\x56\x0a\x7f\x07", 5) << QString() << false;
    QTest::newRow("complete file") << full << QString() << true;
    QTest::newRow("one extra byte") << full + "\x01" << QString() << true;
    QTest::newRow("two bytes 09 09") << full + "\x09\x09" << QString() << true;
    QTest::newRow("two bytes of a real tag")
        << full + QByteArray("\x01\x00", 2) << "Stream read error" << true;
    QTest::newRow("unknown tags between sections")
        << Header + "\x07\xff" + full.mid(4) << QString() << true;
}

void TestProjectFile::loadRules() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    QFETCH(bool, changed);
    writeAll(path("in.sms"), bytes);
    AppData m;
    fillOther(m);
    m.modified = true;
    Snapshot before(m);
    QCOMPARE(errorMessage([&] { m.load(path("in.sms")); }), error);
    QCOMPARE(m.modified.load(), !error.isEmpty());
    Snapshot after(m);
    QCOMPARE(after.contacts == before.contacts, !changed);
    if (!changed) {
        QCOMPARE(after.compose, before.compose);
        QCOMPARE(after.outbox, before.outbox);
        QCOMPARE(after.sent, before.sent);
    }
}

void TestProjectFile::onlyContactsSection() {
    AppData m;
    fillOther(m);
    ContactList contacts;
    Contact c;
    c.name = "New";
    c.number = "1";
    contacts.add(c);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    contacts.saveToStream(buffer);
    writeAll(path("contacts.sms"), Header + "\x01" + buffer.data());
    Snapshot before(m);
    m.load(path("contacts.sms"));
    Snapshot after(m);
    QCOMPARE(after.contacts, QList<Contact>{c});
    QCOMPARE(after.compose, before.compose);
    QCOMPARE(after.outbox, before.outbox);
    QCOMPARE(after.sent, before.sent);
}

void TestProjectFile::sectionTwice() {
    MessageList first;
    first.add(makeMessage("1", "first", MessageStatus::Pending));
    first.add(makeMessage("2", "first", MessageStatus::Pending));
    MessageList second;
    second.add(makeMessage("3", "second", MessageStatus::Pending));
    QBuffer a;
    a.open(QIODevice::WriteOnly);
    first.saveToStream(a);
    QBuffer b;
    b.open(QIODevice::WriteOnly);
    second.saveToStream(b);
    writeAll(path("twice.sms"), Header + "\x02" + a.data() + "\x02" + b.data());
    AppData m;
    m.load(path("twice.sms"));
    QCOMPARE(contents(*m.outboxList), contents(second));
}

// Every cut of a real file either loads the sections it holds completely (a cut right after a
// section, or one byte later) or fails with the right error; each part of the document is
// then either wholly the old one or wholly the file's.
void TestProjectFile::truncationAtEveryOffset() {
    AppData rich;
    fillRich(rich);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    rich.saveToDevice(buffer);
    QByteArray full = buffer.data();
    Snapshot fileDoc(rich);
    for (Message &msg : fileDoc.outbox)
        msg.status = MessageStatus::Pending;

    // Section ends, from the section sizes.
    QList<qsizetype> ends;
    {
        QBuffer part;
        part.open(QIODevice::WriteOnly);
        StreamWriter writer(part);
        rich.compose.saveToStream(writer);
        writer.flush();
        ends.append(4 + 1 + part.size());
    }
    auto listSize = [](auto &list) {
        QBuffer part;
        part.open(QIODevice::WriteOnly);
        list.saveToStream(part);
        return part.size();
    };
    ends.append(ends.back() + 1 + listSize(*rich.contactList));
    ends.append(ends.back() + 1 + listSize(*rich.outboxList));
    ends.append(ends.back() + 1 + listSize(*rich.sentList));
    QCOMPARE(ends.back(), full.size());

    for (qsizetype cut = 0; cut < full.size(); ++cut) {
        writeAll(path("cut.sms"), full.left(cut));
        AppData m;
        fillOther(m);
        m.modified = true;
        Snapshot old(m);
        QString error = errorMessage([&] { m.load(path("cut.sms")); });
        QString expected;
        if (cut < 4)
            expected = "Invalid file format.";
        else if (std::none_of(ends.begin(), ends.end(),
                              [&](qsizetype e) { return cut == e || cut == e + 1; }))
            expected = "Stream read error";
        QVERIFY2(error == expected, qPrintable(QString("cut %1: %2").arg(cut).arg(error)));
        QCOMPARE(m.modified.load(), !expected.isEmpty());
        Snapshot now(m);
        QCOMPARE(now.compose, cut >= ends[0] ? fileDoc.compose : old.compose);
        QCOMPARE(now.contacts, cut >= ends[1] ? fileDoc.contacts : old.contacts);
        QCOMPARE(now.outbox, cut >= ends[2] ? fileDoc.outbox : old.outbox);
        QCOMPARE(now.sent, old.sent); // the sent section is complete only in the full file
    }
}

void TestProjectFile::forgedCountsFailAtOnce() {
    QElapsedTimer timer;
    timer.start();
    for (quint8 tag : {1, 2, 3}) {
        writeAll(
            path("forged.sms"),
            ByteWriter().raw(Header).byte(tag).int32(2000000000).raw(QByteArray(64, '\0')).bytes);
        AppData m;
        fillOther(m);
        Snapshot before(m);
        QCOMPARE(errorMessage([&] { m.load(path("forged.sms")); }),
                 QStringLiteral("Stream read error"));
        Snapshot after(m);
        QCOMPARE(after.contacts, before.contacts);
        QCOMPARE(after.outbox, before.outbox);
    }
    writeAll(path("forged.sms"),
             ByteWriter().raw(Header).byte(0).int32(0x7fffffff).raw(QByteArray(64, 'x')).bytes);
    AppData m;
    QCOMPARE(errorMessage([&] { m.load(path("forged.sms")); }),
             QStringLiteral("Stream read error"));
    QVERIFY(timer.elapsed() < 500);
}

void TestProjectFile::fileNameAndModifiedAfterFailedLoad() {
    AppData m;
    fillOther(m);
    saveAs(m, "previous.sms");
    // Nothing taken from a file with a bad header: the document still is the previous file.
    writeAll(path("bad.sms"), QByteArray("\x83\x56\x0c\x00", 4));
    QCOMPARE(errorMessage([&] { m.load(path("bad.sms")); }),
             QStringLiteral("Invalid file version 12"));
    QCOMPARE(m.fileName, path("previous.sms"));
    QVERIFY(!m.modified);

    // Compose and contacts taken, outbox cut: saving must not go to the previous file.
    AppData rich;
    fillRich(rich);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    rich.saveToDevice(buffer);
    writeAll(path("cut.sms"), buffer.data().left(buffer.data().size() - 30));
    QCOMPARE(errorMessage([&] { m.load(path("cut.sms")); }), QStringLiteral("Stream read error"));
    QCOMPARE(m.fileName, path("cut.sms"));
    QVERIFY(!m.modified);
    QCOMPARE(m.contactList->count(), 3);
    QCOMPARE(m.sentList->get(0).text, QStringLiteral("old sent"));
}

void TestProjectFile::missingFile() {
    AppData m;
    m.fileName = "/keep/me.sms";
    m.modified = true;
    QString error = errorMessage([&] { m.load(path("missing.sms")); });
    QVERIFY2(error.contains("No such file", Qt::CaseInsensitive), qPrintable(error));
    QCOMPARE(m.fileName, QStringLiteral("/keep/me.sms"));
    QVERIFY(m.modified);
}

void TestProjectFile::reloadWithEmptyName() {
    AppData m;
    fillRich(m);
    saveAs(m, "p.sms");
    m.contactList->clear();
    QVERIFY(m.modified);
    m.load(QString());
    QCOMPARE(m.contactList->count(), 3);
    QVERIFY(!m.modified);
    QCOMPARE(m.fileName, path("p.sms"));
}

void TestProjectFile::saveAsksForName() {
    AppData m;
    int asked = 0;
    m.onAskFileName = [&] {
        ++asked;
        return path(QStringLiteral("p%1.sms").arg(asked));
    };
    QCOMPARE(m.title(), QStringLiteral("Untitled"));
    m.contactList->add(Contact());
    QVERIFY(m.save());
    QCOMPARE(asked, 1);
    QCOMPARE(m.fileName, path("p1.sms"));
    QCOMPARE(m.title(), QStringLiteral("p1.sms"));
    QVERIFY(!m.modified);
    m.contactList->add(Contact());
    QVERIFY(m.save());
    QCOMPARE(asked, 1); // titled: written at once
    QVERIFY(m.save(true));
    QCOMPARE(asked, 2); // Save As always asks
    QCOMPARE(m.fileName, path("p2.sms"));
    QCOMPARE(readAll(path("p2.sms")), readAll(path("p1.sms")));
}

void TestProjectFile::saveCancelChangesNothing() {
    AppData m;
    m.contactList->add(Contact());
    m.onAskFileName = [] { return QString(); };
    QVERIFY(!m.save());
    QVERIFY(m.fileName.isEmpty());
    QVERIFY(m.modified);
    saveAs(m, "p.sms");
    QByteArray saved = readAll(path("p.sms"));
    m.contactList->add(Contact());
    m.onAskFileName = [] { return QString(); };
    QVERIFY(!m.save(true));
    QCOMPARE(m.fileName, path("p.sms"));
    QVERIFY(m.modified);
    QCOMPARE(readAll(path("p.sms")), saved);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"p.sms"});
    m.onAskFileName = nullptr; // no dialog provided: same as a cancel
    QVERIFY(!m.save(true));
}

void TestProjectFile::saveFailureKeepsOldFile() {
    AppData m;
    fillOther(m);
    saveAs(m, "p.sms");
    QByteArray old = readAll(path("p.sms"));
    for (int i = 0; i < 5000; ++i)
        m.outboxList->add(makeMessage("+306900000000", QStringLiteral("a message text %1").arg(i),
                                      MessageStatus::Pending));
    QVERIFY(m.modified);
    QString error;
    {
        FileSizeLimit limit(8192);
        error = errorMessage([&] { m.save(); });
    }
    QCOMPARE(error, QStringLiteral("Cannot write %1: File too large").arg(path("p.sms")));
    QCOMPARE(readAll(path("p.sms")), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"p.sms"});
    QVERIFY(m.modified);
    QCOMPARE(m.fileName, path("p.sms"));

    // Save As to a new name that fails: the chosen name stays, as a retry target.
    {
        FileSizeLimit limit(8192);
        m.onAskFileName = [this] { return path("new.sms"); };
        error = errorMessage([&] { m.save(true); });
    }
    QCOMPARE(error, QStringLiteral("Cannot write %1: File too large").arg(path("new.sms")));
    QCOMPARE(m.fileName, path("new.sms"));
    QVERIFY(m.modified);
    QVERIFY(!QFile::exists(path("new.sms")));
    QVERIFY(m.save());
    QVERIFY(!m.modified);
    AppData check;
    check.load(path("new.sms"));
    QCOMPARE(check.outboxList->count(), 5001);
}

void TestProjectFile::saveIntoMissingFolder() {
    AppData m;
    m.contactList->add(Contact());
    m.onAskFileName = [this] { return path("no/such/folder/p.sms"); };
    QString error = errorMessage([&] { m.save(); });
    QVERIFY2(error.contains("No such file", Qt::CaseInsensitive), qPrintable(error));
    QCOMPARE(m.fileName, path("no/such/folder/p.sms"));
    QVERIFY(m.modified);
}

void TestProjectFile::streamWriteError() {
    AppData m;
    fillRich(m);
    for (int i = 0; i < 3000; ++i)
        m.sentList->add(makeMessage("1", "x", MessageStatus::Sent));
    QBuffer complete;
    complete.open(QIODevice::WriteOnly);
    m.saveToDevice(complete);
    for (qint64 capacity :
         {qint64(0), qint64(3), qint64(100), qint64(65536), complete.size() - 1}) {
        FailingDevice device(capacity);
        QCOMPARE(errorMessage([&] { m.saveToDevice(device); }),
                 QStringLiteral("Stream write error"));
        QVERIFY(complete.data().startsWith(device.written));
    }
    FailingDevice enough(complete.size());
    m.saveToDevice(enough);
    QCOMPARE(enough.written, complete.data());
}

void TestProjectFile::newKeepsCompose() {
    AppData m;
    fillRich(m);
    saveAs(m, "p.sms");
    int notified = 0;
    m.outboxList->onChange = [&](MessageList &) { ++notified; };
    ComposeFields compose = m.compose;
    m.newProject();
    QCOMPARE(notified, 1);
    QCOMPARE(m.compose, compose);
    QCOMPARE(m.contactList->count() + m.outboxList->count() + m.sentList->count(), 0);
    QVERIFY(m.fileName.isEmpty());
    QCOMPARE(m.title(), QStringLiteral("Untitled"));
    QVERIFY(!m.modified);
    m.outboxList->onChange = [&m](MessageList &) { m.setModified(); };
}

void TestProjectFile::modifiedTracking() {
    AppData m;
    QVERIFY(!m.modified);
    m.compose.body = "typing does not mark the document";
    QVERIFY(!m.modified);
    auto check = [&](const char *what, const std::function<void()> &change, bool marks) {
        m.modified = false;
        change();
        QVERIFY2(m.modified == marks, what);
    };
    check(
        "contact Add", [&] { m.contactList->add(Contact()); }, true);
    check(
        "contact Put", [&] { m.contactList->put(0, Contact()); }, true);
    check(
        "IncSentCount", [&] { m.contactList->incSentCount(""); }, false);
    check(
        "outbox Add", [&] { m.outboxList->add(Message()); }, true);
    check(
        "sent Add", [&] { m.sentList->add(Message()); }, true);
    check(
        "sent Delete", [&] { m.sentList->remove(0); }, true);
    check(
        "sender's in-place change",
        [&] {
            MessageList::Locker lock(*m.outboxList);
            lock->front()->status = MessageStatus::Sent;
        },
        false);
    check(
        "transfer", [&] { m.outboxList->moveSentTo(*m.sentList); }, true);
    check(
        "Clear", [&] { m.sentList->clear(); }, true);
}

// Random bytes and mutations of a real file: never a crash, only the file errors.
void TestProjectFile::fuzzLoad() {
    AppData rich;
    fillRich(rich);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    rich.saveToDevice(buffer);
    const QByteArray real = buffer.data();
    const QStringList allowed{"Invalid file format.", "Stream read error"};
    QRandomGenerator random(20240);
    QElapsedTimer timer;
    timer.start();
    AppData m;
    int loaded = 0;
    const int rounds = 300000;
    for (int round = 0; round < rounds; ++round) {
        QByteArray bytes;
        switch (round % 4) {
        case 0: { // random bytes behind a valid header
            bytes = Header;
            for (int i = random.bounded(64); i > 0; --i)
                bytes.append(char(random.bounded(256)));
            break;
        }
        case 1: { // a few bytes of a real file changed
            bytes = real;
            for (int i = random.bounded(1, 4); i > 0; --i)
                bytes[random.bounded(qsizetype(4), bytes.size())] = char(random.bounded(256));
            break;
        }
        case 2: { // a real file cut and spliced
            qsizetype from = random.bounded(qsizetype(4), real.size());
            bytes = real.left(from) + real.mid(random.bounded(real.size()));
            break;
        }
        default: { // small random numbers where lengths are
            bytes = real;
            qsizetype at = random.bounded(qsizetype(4), bytes.size() - 4);
            qint32 value = random.bounded(2) ? -random.bounded(1, 100000) : random.bounded(1 << 30);
            std::memcpy(bytes.data() + at, &value, 4);
            break;
        }
        }
        QBuffer device(&bytes);
        device.open(QIODevice::ReadOnly);
        try {
            m.loadFromDevice(device);
            ++loaded;
        } catch (const Error &e) {
            if (!allowed.contains(e.message()) &&
                !e.message().startsWith("List count out of bounds ("))
                QFAIL(qPrintable(e.message()));
        }
    }
    qInfo("%d cases, %d loaded, %lld ms", rounds, loaded, timer.elapsed());
    QVERIFY(loaded > 0);
    QVERIFY(loaded < rounds);
}

void TestProjectFile::saveOnFullDiskAtEveryPoint() {
    if (::geteuid() != 0)
        QSKIP("a small disk (tmpfs) needs root to mount");
    const QString disk = path("disk");
    QVERIFY(QDir().mkdir(disk));
    if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=512k") != 0)
        QSKIP("a small disk (tmpfs) cannot be mounted here");
    auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(disk).constData(), MNT_DETACH); });
    const QString project = disk + "/p.sms";
    const QString filler = disk + "/filler";

    AppData m;
    for (int i = 0; i < 2000; ++i)
        m.outboxList->add(makeMessage("+306900000000", QStringLiteral("before %1").arg(i),
                                      MessageStatus::Pending));
    m.onAskFileName = [&] { return project; };
    QVERIFY(m.save());
    const QByteArray old = readAll(project);
    for (int i = 0; i < 1000; ++i)
        m.outboxList->add(makeMessage("+306900000000", QStringLiteral("after %1").arg(i),
                                      MessageStatus::Pending));
    QBuffer complete;
    complete.open(QIODevice::WriteOnly);
    m.saveToDevice(complete);
    const qint64 newSize = complete.size();

    // The disk full but for `room` bytes, from none to more than the new file needs.
    for (qint64 room = 0;; room += 4096) {
        {
            const int fd = ::open(QFile::encodeName(filler).constData(),
                                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            QVERIFY(fd >= 0);
            const QByteArray block(4096, 'f');
            qint64 filled = 0;
            while (::write(fd, block.constData(), block.size()) == block.size())
                filled += block.size();
            QVERIFY(::ftruncate(fd, off_t(std::max<qint64>(0, filled - room))) == 0);
            ::close(fd);
        }
        const QString error = errorMessage([&] { m.save(); });
        if (error.isEmpty()) {
            QVERIFY2(room >= newSize, qPrintable(QString::number(room)));
            QCOMPARE(readAll(project), complete.data());
            break;
        }
        QCOMPARE(error, QStringLiteral("Cannot write %1: No space left on device").arg(project));
        QCOMPARE(readAll(project), old);
        QCOMPARE(QDir(disk).entryList(QDir::Files), (QStringList{"filler", "p.sms"}));
        QVERIFY(m.modified);
        QVERIFY2(room < newSize + 64 * 1024, "the save fails with room to spare");
    }
    AppData loaded;
    loaded.load(project);
    QCOMPARE(loaded.outboxList->count(), 3000);
}

QTEST_GUILESS_MAIN(TestProjectFile)
#include "tst_projectfile.moc"
