#include "app/Database.h"
#include "app/Errors.h"
#include "data/OleDate.h"
#include "data/StreamIO.h"
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

#include <cmath>

namespace {

const QByteArray Header("\x83\x56\x0a\x00", 4);

template <typename L>
auto Contents(L &list) {
    QList<decltype(list.Get(0))> result;
    for (int i = 0; i < list.Count(); ++i)
        result.append(list.Get(i));
    return result;
}

// Everything a document holds, for comparing two of them.
struct TSnapshot {
    TComposeFields Compose;
    QList<TContact> Contacts;
    QList<TMessage> Outbox;
    QList<TMessage> Sent;

    explicit TSnapshot(TDataModule1 &m)
        : Compose(m.Compose), Contacts(Contents(*m.ContactList)), Outbox(Contents(*m.OutboxList)),
          Sent(Contents(*m.SentList)) {}
};

TMessage MakeMessage(const QByteArray &number, const QString &text, TMessageStatus status,
                     quint8 flash = 0, quint8 isLong = 0, double created = 0, double sent = 0) {
    TMessage m;
    m.Number = number;
    m.Text = text;
    m.Flash = flash;
    m.Long = isLong;
    m.Created = created;
    m.Sent = sent;
    m.Status = status;
    return m;
}

const QString LoneSurrogates = QString(QChar(0xD83D)) + "a" + QChar(0xDE00) + QChar(0xDBFF);

// A document with something unusual in every field.
void FillRich(TDataModule1 &m) {
    m.Compose.To = "+30 6912345678, 0044 7700";
    m.Compose.Cc = QByteArray("\xe9\x00\xff", 3);
    m.Compose.Subject = QStringLiteral("Θέμα 主题 😀");
    m.Compose.Body = QStringLiteral("Γειά σου κόσμε, 你好, 🎉\r\n") + LoneSurrogates;
    TContact c;
    c.Name = QStringLiteral("Ελένη 李 😀");
    c.Number = "+306912345678";
    c.SentCount = 12;
    c.Checked = 0;
    m.ContactList->Add(c);
    m.ContactList->Add(TContact());
    c.Name = LoneSurrogates;
    c.Number = QByteArray("\x01\x02", 2);
    c.SentCount = -5;
    c.Checked = 1;
    m.ContactList->Add(c);
    m.OutboxList->Add(
        MakeMessage("123", QStringLiteral("flash 😀"), msPending, 1, 0, 45123.123456789));
    m.OutboxList->Add(MakeMessage("", "", msSending, 0, 1, 0.5, 0));
    m.OutboxList->Add(MakeMessage("456", LoneSurrogates, msSent, 1, 1, 45000.75, 45000.7500001));
    m.SentList->Add(MakeMessage("789", QStringLiteral("已发送"), msSent, 0, 0, -1.25, 45001.999));
    m.SentList->Add(MakeMessage("789", QStringLiteral("已发送"), msSent, 0, 0, 45002, 45003));
}

// A different document, to see which parts a load replaced.
void FillOther(TDataModule1 &m) {
    m.Compose.To = "old to";
    m.Compose.Body = "old body";
    TContact c;
    c.Name = "Old";
    c.Number = "000";
    m.ContactList->Add(c);
    m.OutboxList->Add(MakeMessage("0", "old outbox", msPending));
    m.SentList->Add(MakeMessage("0", "old sent", msSent));
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

private:
    std::unique_ptr<QTemporaryDir> FDir;
    QString Path(const QString &name) const { return FDir->filePath(name); }
    // Saves m under name without a dialog.
    void SaveAs(TDataModule1 &m, const QString &name) {
        m.OnAskFileName = [=, this] { return Path(name); };
        QVERIFY(m.Save(true));
    }
};

void TestProjectFile::init() {
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

void TestProjectFile::emptyFileIs36Bytes() {
    TDataModule1 m;
    SaveAs(m, "empty.sms");
    QByteArray expected =
        Header + QByteArray(17, '\0') + QByteArray("\x01\0\0\0\0\x02\0\0\0\0\x03\0\0\0\0", 15);
    QCOMPARE(expected.size(), 36);
    QCOMPARE(ReadAll(Path("empty.sms")), expected);

    TDataModule1 loaded;
    FillOther(loaded);
    loaded.Modified = true;
    loaded.Load(Path("empty.sms"));
    QVERIFY(!loaded.Modified);
    QCOMPARE(loaded.ContactList->Count() + loaded.OutboxList->Count() + loaded.SentList->Count(),
             0);
    QCOMPARE(loaded.Compose, TComposeFields());
    QCOMPARE(loaded.FileName, Path("empty.sms"));
    QCOMPARE(loaded.Title(), QStringLiteral("empty.sms"));
}

void TestProjectFile::byteLayout() {
    TDataModule1 m;
    m.Compose.To = "1,2";
    m.Compose.Body = QStringLiteral("é");
    TContact c;
    c.Name = "A";
    c.Number = "9";
    m.ContactList->Add(c);
    m.SentList->Add(MakeMessage("5", "x", msSent, 1, 0, 2.5, 3.25));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    m.SaveToDevice(buffer);
    QCOMPARE(buffer.data(), TByteWriter()
                                .Raw(Header)
                                .Byte(0)
                                .Ansi("1,2")
                                .Ansi("")
                                .Wide("")
                                .Wide(QStringLiteral("é"))
                                .Byte(1)
                                .Int32(1)
                                .Wide("A")
                                .Ansi("9")
                                .Int32(0)
                                .Byte(1)
                                .Byte(2)
                                .Int32(0)
                                .Byte(3)
                                .Int32(1)
                                .Ansi("5")
                                .Wide("x")
                                .Byte(1)
                                .Byte(0)
                                .Double(2.5)
                                .Double(3.25)
                                .Bytes);
}

void TestProjectFile::roundTripByteIdentical() {
    TDataModule1 m;
    FillRich(m);
    SaveAs(m, "rich.sms");
    QVERIFY(!m.Modified);
    QByteArray first = ReadAll(Path("rich.sms"));

    TDataModule1 loaded;
    loaded.Load(Path("rich.sms"));
    TSnapshot original(m);
    TSnapshot back(loaded);
    QCOMPARE(back.Compose, original.Compose);
    QCOMPARE(back.Compose.Body.right(4), LoneSurrogates);
    QCOMPARE(back.Contacts, original.Contacts);
    QCOMPARE(back.Outbox.size(), original.Outbox.size());
    for (qsizetype i = 0; i < back.Outbox.size(); ++i) {
        TMessage expected = original.Outbox[i];
        expected.Status = msPending; // the section decides, not what was saved
        QCOMPARE(back.Outbox[i], expected);
    }
    QCOMPARE(back.Sent, original.Sent);
    QCOMPARE(loaded.OutboxList->Get(0).Created, 45123.123456789);

    loaded.Save();
    QCOMPARE(ReadAll(Path("rich.sms")), first);
    SaveAs(loaded, "again.sms");
    QCOMPARE(ReadAll(Path("again.sms")), first);
}

void TestProjectFile::loadRules_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("changed");
    TDataModule1 rich;
    FillRich(rich);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    rich.SaveToDevice(buffer);
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
    QByteArray v11 = full;
    v11[2] = 11;
    QTest::newRow("version 11") << v11 << "Invalid file version 11" << false;
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
    WriteAll(Path("in.sms"), bytes);
    TDataModule1 m;
    FillOther(m);
    m.Modified = true;
    TSnapshot before(m);
    QCOMPARE(ErrorMessage([&] { m.Load(Path("in.sms")); }), error);
    QCOMPARE(m.Modified.load(), !error.isEmpty());
    TSnapshot after(m);
    QCOMPARE(after.Contacts == before.Contacts, !changed);
    if (!changed) {
        QCOMPARE(after.Compose, before.Compose);
        QCOMPARE(after.Outbox, before.Outbox);
        QCOMPARE(after.Sent, before.Sent);
    }
}

void TestProjectFile::onlyContactsSection() {
    TDataModule1 m;
    FillOther(m);
    TContactList contacts;
    TContact c;
    c.Name = "New";
    c.Number = "1";
    contacts.Add(c);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    contacts.SaveToStream(buffer);
    WriteAll(Path("contacts.sms"), Header + "\x01" + buffer.data());
    TSnapshot before(m);
    m.Load(Path("contacts.sms"));
    TSnapshot after(m);
    QCOMPARE(after.Contacts, QList<TContact>{c});
    QCOMPARE(after.Compose, before.Compose);
    QCOMPARE(after.Outbox, before.Outbox);
    QCOMPARE(after.Sent, before.Sent);
}

void TestProjectFile::sectionTwice() {
    TMessageList first;
    first.Add(MakeMessage("1", "first", msPending));
    first.Add(MakeMessage("2", "first", msPending));
    TMessageList second;
    second.Add(MakeMessage("3", "second", msPending));
    QBuffer a;
    a.open(QIODevice::WriteOnly);
    first.SaveToStream(a);
    QBuffer b;
    b.open(QIODevice::WriteOnly);
    second.SaveToStream(b);
    WriteAll(Path("twice.sms"), Header + "\x02" + a.data() + "\x02" + b.data());
    TDataModule1 m;
    m.Load(Path("twice.sms"));
    QCOMPARE(Contents(*m.OutboxList), Contents(second));
}

// Every cut of a real file either loads the sections it holds completely (a cut right after a
// section, or one byte later) or fails with the right error; each part of the document is
// then either wholly the old one or wholly the file's.
void TestProjectFile::truncationAtEveryOffset() {
    TDataModule1 rich;
    FillRich(rich);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    rich.SaveToDevice(buffer);
    QByteArray full = buffer.data();
    TSnapshot fileDoc(rich);
    for (TMessage &msg : fileDoc.Outbox)
        msg.Status = msPending;

    // Section ends, from the section sizes.
    QList<qsizetype> ends;
    {
        QBuffer part;
        part.open(QIODevice::WriteOnly);
        TStreamWriter writer(part);
        rich.Compose.SaveToStream(writer);
        writer.Flush();
        ends.append(4 + 1 + part.size());
    }
    auto listSize = [](auto &list) {
        QBuffer part;
        part.open(QIODevice::WriteOnly);
        list.SaveToStream(part);
        return part.size();
    };
    ends.append(ends.back() + 1 + listSize(*rich.ContactList));
    ends.append(ends.back() + 1 + listSize(*rich.OutboxList));
    ends.append(ends.back() + 1 + listSize(*rich.SentList));
    QCOMPARE(ends.back(), full.size());

    for (qsizetype cut = 0; cut < full.size(); ++cut) {
        WriteAll(Path("cut.sms"), full.left(cut));
        TDataModule1 m;
        FillOther(m);
        m.Modified = true;
        TSnapshot old(m);
        QString error = ErrorMessage([&] { m.Load(Path("cut.sms")); });
        QString expected;
        if (cut < 4)
            expected = "Invalid file format.";
        else if (std::none_of(ends.begin(), ends.end(),
                              [&](qsizetype e) { return cut == e || cut == e + 1; }))
            expected = "Stream read error";
        QVERIFY2(error == expected, qPrintable(QString("cut %1: %2").arg(cut).arg(error)));
        QCOMPARE(m.Modified.load(), !expected.isEmpty());
        TSnapshot now(m);
        QCOMPARE(now.Compose, cut >= ends[0] ? fileDoc.Compose : old.Compose);
        QCOMPARE(now.Contacts, cut >= ends[1] ? fileDoc.Contacts : old.Contacts);
        QCOMPARE(now.Outbox, cut >= ends[2] ? fileDoc.Outbox : old.Outbox);
        QCOMPARE(now.Sent, old.Sent); // the sent section is complete only in the full file
    }
}

void TestProjectFile::forgedCountsFailAtOnce() {
    QElapsedTimer timer;
    timer.start();
    for (quint8 tag : {1, 2, 3}) {
        WriteAll(
            Path("forged.sms"),
            TByteWriter().Raw(Header).Byte(tag).Int32(2000000000).Raw(QByteArray(64, '\0')).Bytes);
        TDataModule1 m;
        FillOther(m);
        TSnapshot before(m);
        QCOMPARE(ErrorMessage([&] { m.Load(Path("forged.sms")); }),
                 QStringLiteral("Stream read error"));
        TSnapshot after(m);
        QCOMPARE(after.Contacts, before.Contacts);
        QCOMPARE(after.Outbox, before.Outbox);
    }
    WriteAll(Path("forged.sms"),
             TByteWriter().Raw(Header).Byte(0).Int32(0x7fffffff).Raw(QByteArray(64, 'x')).Bytes);
    TDataModule1 m;
    QCOMPARE(ErrorMessage([&] { m.Load(Path("forged.sms")); }),
             QStringLiteral("Stream read error"));
    QVERIFY(timer.elapsed() < 500);
}

void TestProjectFile::fileNameAndModifiedAfterFailedLoad() {
    TDataModule1 m;
    FillOther(m);
    SaveAs(m, "previous.sms");
    // Nothing taken from a file with a bad header: the document still is the previous file.
    WriteAll(Path("bad.sms"), QByteArray("\x83\x56\x0b\x00", 4));
    QCOMPARE(ErrorMessage([&] { m.Load(Path("bad.sms")); }),
             QStringLiteral("Invalid file version 11"));
    QCOMPARE(m.FileName, Path("previous.sms"));
    QVERIFY(!m.Modified);

    // Compose and contacts taken, outbox cut: saving must not go to the previous file.
    TDataModule1 rich;
    FillRich(rich);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    rich.SaveToDevice(buffer);
    WriteAll(Path("cut.sms"), buffer.data().left(buffer.data().size() - 30));
    QCOMPARE(ErrorMessage([&] { m.Load(Path("cut.sms")); }), QStringLiteral("Stream read error"));
    QCOMPARE(m.FileName, Path("cut.sms"));
    QVERIFY(!m.Modified);
    QCOMPARE(m.ContactList->Count(), 3);
    QCOMPARE(m.SentList->Get(0).Text, QStringLiteral("old sent"));
}

void TestProjectFile::missingFile() {
    TDataModule1 m;
    m.FileName = "/keep/me.sms";
    m.Modified = true;
    QString error = ErrorMessage([&] { m.Load(Path("missing.sms")); });
    QVERIFY2(error.contains("No such file", Qt::CaseInsensitive), qPrintable(error));
    QCOMPARE(m.FileName, QStringLiteral("/keep/me.sms"));
    QVERIFY(m.Modified);
}

void TestProjectFile::reloadWithEmptyName() {
    TDataModule1 m;
    FillRich(m);
    SaveAs(m, "p.sms");
    m.ContactList->Clear();
    QVERIFY(m.Modified);
    m.Load(QString());
    QCOMPARE(m.ContactList->Count(), 3);
    QVERIFY(!m.Modified);
    QCOMPARE(m.FileName, Path("p.sms"));
}

void TestProjectFile::saveAsksForName() {
    TDataModule1 m;
    int asked = 0;
    m.OnAskFileName = [&] {
        ++asked;
        return Path(QStringLiteral("p%1.sms").arg(asked));
    };
    QCOMPARE(m.Title(), QStringLiteral("Untitled"));
    m.ContactList->Add(TContact());
    QVERIFY(m.Save());
    QCOMPARE(asked, 1);
    QCOMPARE(m.FileName, Path("p1.sms"));
    QCOMPARE(m.Title(), QStringLiteral("p1.sms"));
    QVERIFY(!m.Modified);
    m.ContactList->Add(TContact());
    QVERIFY(m.Save());
    QCOMPARE(asked, 1); // titled: written at once
    QVERIFY(m.Save(true));
    QCOMPARE(asked, 2); // Save As always asks
    QCOMPARE(m.FileName, Path("p2.sms"));
    QCOMPARE(ReadAll(Path("p2.sms")), ReadAll(Path("p1.sms")));
}

void TestProjectFile::saveCancelChangesNothing() {
    TDataModule1 m;
    m.ContactList->Add(TContact());
    m.OnAskFileName = [] { return QString(); };
    QVERIFY(!m.Save());
    QVERIFY(m.FileName.isEmpty());
    QVERIFY(m.Modified);
    SaveAs(m, "p.sms");
    QByteArray saved = ReadAll(Path("p.sms"));
    m.ContactList->Add(TContact());
    m.OnAskFileName = [] { return QString(); };
    QVERIFY(!m.Save(true));
    QCOMPARE(m.FileName, Path("p.sms"));
    QVERIFY(m.Modified);
    QCOMPARE(ReadAll(Path("p.sms")), saved);
    QCOMPARE(QDir(FDir->path()).entryList(QDir::Files), QStringList{"p.sms"});
    m.OnAskFileName = nullptr; // no dialog provided: same as a cancel
    QVERIFY(!m.Save(true));
}

void TestProjectFile::saveFailureKeepsOldFile() {
    TDataModule1 m;
    FillOther(m);
    SaveAs(m, "p.sms");
    QByteArray old = ReadAll(Path("p.sms"));
    for (int i = 0; i < 5000; ++i)
        m.OutboxList->Add(
            MakeMessage("+306900000000", QStringLiteral("a message text %1").arg(i), msPending));
    QVERIFY(m.Modified);
    QString error;
    {
        TFileSizeLimit limit(8192);
        error = ErrorMessage([&] { m.Save(); });
    }
    QCOMPARE(error, QStringLiteral("Stream write error"));
    QCOMPARE(ReadAll(Path("p.sms")), old);
    QCOMPARE(QDir(FDir->path()).entryList(QDir::Files), QStringList{"p.sms"});
    QVERIFY(m.Modified);
    QCOMPARE(m.FileName, Path("p.sms"));

    // Save As to a new name that fails: the chosen name stays, as a retry target.
    {
        TFileSizeLimit limit(8192);
        m.OnAskFileName = [this] { return Path("new.sms"); };
        error = ErrorMessage([&] { m.Save(true); });
    }
    QCOMPARE(error, QStringLiteral("Stream write error"));
    QCOMPARE(m.FileName, Path("new.sms"));
    QVERIFY(m.Modified);
    QVERIFY(!QFile::exists(Path("new.sms")));
    QVERIFY(m.Save());
    QVERIFY(!m.Modified);
    TDataModule1 check;
    check.Load(Path("new.sms"));
    QCOMPARE(check.OutboxList->Count(), 5001);
}

void TestProjectFile::saveIntoMissingFolder() {
    TDataModule1 m;
    m.ContactList->Add(TContact());
    m.OnAskFileName = [this] { return Path("no/such/folder/p.sms"); };
    QString error = ErrorMessage([&] { m.Save(); });
    QVERIFY2(error.contains("No such file", Qt::CaseInsensitive), qPrintable(error));
    QCOMPARE(m.FileName, Path("no/such/folder/p.sms"));
    QVERIFY(m.Modified);
}

void TestProjectFile::streamWriteError() {
    TDataModule1 m;
    FillRich(m);
    for (int i = 0; i < 3000; ++i)
        m.SentList->Add(MakeMessage("1", "x", msSent));
    QBuffer complete;
    complete.open(QIODevice::WriteOnly);
    m.SaveToDevice(complete);
    for (qint64 capacity :
         {qint64(0), qint64(3), qint64(100), qint64(65536), complete.size() - 1}) {
        TFailingDevice device(capacity);
        QCOMPARE(ErrorMessage([&] { m.SaveToDevice(device); }),
                 QStringLiteral("Stream write error"));
        QVERIFY(complete.data().startsWith(device.Written));
    }
    TFailingDevice enough(complete.size());
    m.SaveToDevice(enough);
    QCOMPARE(enough.Written, complete.data());
}

void TestProjectFile::newKeepsCompose() {
    TDataModule1 m;
    FillRich(m);
    SaveAs(m, "p.sms");
    int notified = 0;
    m.OutboxList->OnChange = [&](TMessageList &) { ++notified; };
    TComposeFields compose = m.Compose;
    m.New();
    QCOMPARE(notified, 1);
    QCOMPARE(m.Compose, compose);
    QCOMPARE(m.ContactList->Count() + m.OutboxList->Count() + m.SentList->Count(), 0);
    QVERIFY(m.FileName.isEmpty());
    QCOMPARE(m.Title(), QStringLiteral("Untitled"));
    QVERIFY(!m.Modified);
    m.OutboxList->OnChange = [&m](TMessageList &) { m.SetModified(); };
}

void TestProjectFile::modifiedTracking() {
    TDataModule1 m;
    QVERIFY(!m.Modified);
    m.Compose.Body = "typing does not mark the document";
    QVERIFY(!m.Modified);
    auto check = [&](const char *what, const std::function<void()> &change, bool marks) {
        m.Modified = false;
        change();
        QVERIFY2(m.Modified == marks, what);
    };
    check(
        "contact Add", [&] { m.ContactList->Add(TContact()); }, true);
    check(
        "contact Put", [&] { m.ContactList->Put(0, TContact()); }, true);
    check(
        "IncSentCount", [&] { m.ContactList->IncSentCount(""); }, false);
    check(
        "outbox Add", [&] { m.OutboxList->Add(TMessage()); }, true);
    check(
        "sent Add", [&] { m.SentList->Add(TMessage()); }, true);
    check(
        "sent Delete", [&] { m.SentList->Delete(0); }, true);
    check(
        "sender's in-place change",
        [&] {
            TMessageList::TLocker lock(*m.OutboxList);
            lock->front()->Status = msSent;
        },
        false);
    check(
        "transfer", [&] { m.OutboxList->MoveSentTo(*m.SentList); }, true);
    check(
        "Clear", [&] { m.SentList->Clear(); }, true);
}

// Random bytes and mutations of a real file: never a crash, only the file errors.
void TestProjectFile::fuzzLoad() {
    TDataModule1 rich;
    FillRich(rich);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    rich.SaveToDevice(buffer);
    const QByteArray real = buffer.data();
    const QStringList allowed{"Invalid file format.", "Stream read error"};
    QRandomGenerator random(20240);
    QElapsedTimer timer;
    timer.start();
    TDataModule1 m;
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
            m.LoadFromDevice(device);
            ++loaded;
        } catch (const EPelorvane &e) {
            if (!allowed.contains(e.Message()) &&
                !e.Message().startsWith("List count out of bounds ("))
                QFAIL(qPrintable(e.Message()));
        }
    }
    qInfo("%d cases, %d loaded, %lld ms", rounds, loaded, timer.elapsed());
    QVERIFY(loaded > 0);
    QVERIFY(loaded < rounds);
}

QTEST_GUILESS_MAIN(TestProjectFile)
#include "tst_projectfile.moc"
