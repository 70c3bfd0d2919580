#include "app/IniFile.h"
#include "app/Settings.h"
#include "base/Error.h"
#include "data/PhoneNumberParser.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

void writeBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Identity and time of the file on disk: an atomic replacement gives a new inode.
struct Stamp {
    ino_t inode = 0;
    timespec modified{};
    bool operator==(const Stamp &other) const {
        return inode == other.inode && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

Stamp stampOf(const QString &path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {st.st_ino, st.st_mtim};
}

// The layout section as the main window keeps it.
const QByteArray WindowSection = "[frmPelorvane]\n"
                                 "FormVersion=0\n"
                                 "ShowCmd=1\n"
                                 "Flags=0\n"
                                 "PixelsPerInch=96\n"
                                 "MinMaxPos=-1,-1,-8,-8\n"
                                 "NormPos=100,120,710,713\n"
                                 "PnlExplorer_Width=137\n"
                                 "PnlExplorer_Visible=TRUE\n"
                                 "Splitter1_Visible=TRUE\n";

// Sets an environment variable for one test and puts the old value back.
class EnvGuard {
public:
    explicit EnvGuard(const char *name) : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)) {
        m_old = qgetenv(name);
    }
    ~EnvGuard() {
        if (m_wasSet)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    void set(const QByteArray &value) { qputenv(m_name, value); }
    void unset() { qunsetenv(m_name); }

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_old;
};

// Makes every write of this process beyond limit bytes fail (EFBIG), root included.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit lowered = m_old;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;

private Q_SLOTS:
    void init() {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("pelorvane.ini"));
        QFile::remove(m_path);
    }

    // --- The port name ---

    void defaultPortWritesNothing_data() {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no file") << false << QByteArray();
        QTest::newRow("empty file") << true << QByteArray();
        QTest::newRow("only the window section") << true << WindowSection;
        QTest::newRow("section without the key")
            << true << QByteArray("[Setting]\nOther=1\n\n") + WindowSection;
        QTest::newRow("key in another section") << true << QByteArray("[Other]\nCOM Port=COM4\n");
    }
    void defaultPortWritesNothing() {
        QFETCH(bool, exists);
        QFETCH(QByteArray, content);
        if (exists)
            writeBytes(m_path, content);
        const Stamp before = stampOf(m_path);
        {
            Settings settings(m_path);
            QCOMPARE(settings.comPortName(), QByteArray("COM1"));
            QVERIFY(!settings.modified());
        }
        QCOMPARE(QFile::exists(m_path), exists);
        if (exists) {
            QCOMPARE(readBytes(m_path), content);
            QVERIFY(stampOf(m_path) == before);
        }
    }

    void portFromFile_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("port");
        QTest::newRow("plain") << QByteArray("[Setting]\nCOM Port=COM7\n") << QByteArray("COM7");
        QTest::newRow("empty value gives empty")
            << QByteArray("[Setting]\nCOM Port=\n") << QByteArray();
        QTest::newRow("empty quoted value")
            << QByteArray("[Setting]\nCOM Port=\"\"\n") << QByteArray();
        QTest::newRow("blanks around")
            << QByteArray("  [ Setting ]  \n\tCOM Port  =  COM5  \n") << QByteArray("COM5");
        QTest::newRow("names in other case")
            << QByteArray("[SETTING]\ncom port=/dev/ttyUSB0\n") << QByteArray("/dev/ttyUSB0");
        QTest::newRow("CR LF") << QByteArray("[Setting]\r\nCOM Port=COM8\r\n")
                               << QByteArray("COM8");
        QTest::newRow("no final line end")
            << QByteArray("[Setting]\nCOM Port=COM9") << QByteArray("COM9");
        QTest::newRow("byte order mark")
            << QByteArray("\xEF\xBB\xBF[Setting]\nCOM Port=COM6\n") << QByteArray("COM6");
        QTest::newRow("first of duplicate sections")
            << QByteArray("[Setting]\nCOM Port=COM2\n[Setting]\nCOM Port=COM3\n")
            << QByteArray("COM2");
        QTest::newRow("first of duplicate keys")
            << QByteArray("[Setting]\nCOM Port=COM2\nCOM PORT=COM3\n") << QByteArray("COM2");
        QTest::newRow("after a comment and odd lines")
            << QByteArray("; COM Port=COMX\n[Setting]\n;COM Port=COMY\nnonsense\nCOM Port=COM4\n")
            << QByteArray("COM4");
        QTest::newRow("UTF-8 name")
            << QByteArray("[Setting]\nCOM Port=/dev/t\xC3\xBC\n") << QByteArray("/dev/t\xC3\xBC");
    }
    void portFromFile() {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, port);
        writeBytes(m_path, content);
        Settings settings(m_path);
        QCOMPARE(settings.comPortName(), port);
    }

    void samePortWritesNothing_data() {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QByteArray>("port");
        QTest::newRow("no file, the default") << false << QByteArray("COM1");
        QTest::newRow("stored port") << true << QByteArray("COM3");
    }
    void samePortWritesNothing() {
        QFETCH(bool, exists);
        QFETCH(QByteArray, port);
        const QByteArray content = "[Setting]\nCOM Port=COM3\n";
        if (exists)
            writeBytes(m_path, content);
        const Stamp before = stampOf(m_path);
        {
            Settings settings(m_path);
            settings.setComPortName(port);
            QVERIFY(!settings.modified());
        }
        QCOMPARE(QFile::exists(m_path), exists);
        if (exists)
            QVERIFY(stampOf(m_path) == before);
    }

    void changedPortIsUsedNextStart() {
        {
            Settings settings(m_path);
            settings.setComPortName("COM3");
            QVERIFY(settings.modified());
            QCOMPARE(settings.comPortName(), QByteArray("COM3"));
            // Nothing is written before the end of the run.
            QVERIFY(!QFile::exists(m_path));
        }
        QCOMPARE(readBytes(m_path), QByteArray("[Setting]\nCOM Port=COM3\n"));
        Settings next(m_path);
        QCOMPARE(next.comPortName(), QByteArray("COM3"));
        QVERIFY(!next.modified());
    }

    void caseOnlyChangeCounts() {
        writeBytes(m_path, "[Setting]\nCOM Port=COM3\n");
        {
            Settings settings(m_path);
            settings.setComPortName("com3");
            QVERIFY(settings.modified());
        }
        QCOMPARE(readBytes(m_path), QByteArray("[Setting]\nCOM Port=com3\n"));
    }

    void changeAndBackStillWrites() {
        writeBytes(m_path, "[Setting]\nCOM Port = COM2\n");
        {
            Settings settings(m_path);
            settings.setComPortName("COM4");
            settings.setComPortName("COM3");
            QVERIFY(settings.modified());
        }
        // Written again, in the key's own spelling and spacing.
        QCOMPARE(readBytes(m_path), QByteArray("[Setting]\nCOM Port = COM3\n"));
    }

    void emptyNameIsWrittenAndReadBack() {
        writeBytes(m_path, "[Setting]\nCOM Port=COM3\n");
        {
            Settings settings(m_path);
            settings.setComPortName("");
        }
        QCOMPARE(readBytes(m_path), QByteArray("[Setting]\nCOM Port=\n"));
        Settings next(m_path);
        QCOMPARE(next.comPortName(), QByteArray());
    }

    // The data module holds its settings for the whole run while the window writes its layout
    // at close, each through its own object; neither may undo the other's write.
    void sectionsSurviveEachOther() {
        writeBytes(m_path, QByteArray("[Setting]\nCOM Port=COM2\n\n") + WindowSection);
        {
            Settings settings(m_path);
            {
                IniFile window(m_path);
                window.writeInteger("frmPelorvane", "PnlExplorer_Width", 200);
                window.writeBool("frmPelorvane", "PnlExplorer_Visible", false);
                QVERIFY(window.updateFile());
            }
            settings.setComPortName("COM9");
        }
        IniFile check(m_path);
        QCOMPARE(check.readString("Setting", "COM Port", ""), QStringLiteral("COM9"));
        QCOMPARE(check.readInteger("frmPelorvane", "PnlExplorer_Width", 0), 200);
        QCOMPARE(check.readBool("frmPelorvane", "PnlExplorer_Visible", true), false);
        QCOMPARE(check.readString("frmPelorvane", "NormPos", ""),
                 QStringLiteral("100,120,710,713"));

        // The other way round: the window's object was bound before the port was saved.
        IniFile window(m_path);
        {
            Settings settings(m_path);
            settings.setComPortName("COM10");
        }
        window.writeInteger("frmPelorvane", "ShowCmd", 3);
        QVERIFY(window.updateFile());
        QCOMPARE(window.readString("Setting", "COM Port", ""), QStringLiteral("COM10"));
        Settings next(m_path);
        QCOMPARE(next.comPortName(), QByteArray("COM10"));
        QCOMPARE(IniFile(m_path).readInteger("frmPelorvane", "ShowCmd", 0), 3);
    }

    void saveFailureKeepsOldFile() {
        const QByteArray old = "; kept\n[Setting]\nCOM Port=COM2\n";
        writeBytes(m_path, old);
        Settings settings(m_path);
        settings.setComPortName("COM" + QByteArray(8192, '7'));
        {
            FileSizeLimit limit(4096);
            QVERIFY(!settings.save());
        }
        QCOMPARE(readBytes(m_path), old);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"pelorvane.ini"});
        // Once the disk takes it again, the same change can be written.
        QVERIFY(settings.save());
        QCOMPARE(Settings(m_path).comPortName(), settings.comPortName());
    }

    void unreadableFileIsNeverOverwritten() {
        // A folder in the file's place: it cannot be read, even by root.
        QVERIFY(QDir().mkpath(m_path));
        writeBytes(m_path + "/inside", "x");
        IniFile ini(m_path);
        QVERIFY(!ini.sectionExists("Setting"));
        {
            Settings settings(m_path);
            QCOMPARE(settings.comPortName(), QByteArray("COM1"));
            settings.setComPortName("COM2");
            QVERIFY(!settings.save());
        }
        QVERIFY(QFileInfo(m_path).isDir());
        QCOMPARE(readBytes(m_path + "/inside"), QByteArray("x"));
        QVERIFY(QDir(m_path).removeRecursively());
    }

    // --- The country of national numbers ---

    void countryFromFile_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("country");
        QTest::newRow("stored") << QByteArray("[Setting]\nCountry=DE\n") << "DE";
        QTest::newRow("lower case") << QByteArray("[Setting]\ncountry=fr\n") << "FR";
        QTest::newRow("stored as none") << QByteArray("[Setting]\nCountry=\n") << "";
        QTest::newRow("unknown code is none") << QByteArray("[Setting]\nCountry=XX\n") << "";
    }
    void countryFromFile() {
        QFETCH(QByteArray, content);
        QFETCH(QString, country);
        writeBytes(m_path, content);
        {
            Settings settings(m_path);
            QCOMPARE(settings.country(), country);
            QVERIFY(!settings.modified());
        }
        QCOMPARE(readBytes(m_path), content);
    }

    void countrySetIsWrittenOnce() {
        {
            Settings settings(m_path);
            // Without a stored value the locale's country is used, and nothing is written.
            QCOMPARE(settings.country(), PhoneNumberParser::defaultCountry());
        }
        QVERIFY(!QFile::exists(m_path));
        {
            Settings settings(m_path);
            settings.setCountry(QStringLiteral("br"));
            QCOMPARE(settings.country(), QStringLiteral("BR"));
            QVERIFY(settings.modified());
        }
        QVERIFY(readBytes(m_path).contains("Country=BR"));
        {
            Settings settings(m_path);
            QCOMPARE(settings.country(), QStringLiteral("BR"));
            settings.setCountry(QStringLiteral("BR"));
            QVERIFY(!settings.modified());
            settings.setCountry(QStringLiteral("nowhere"));
            QCOMPARE(settings.country(), QString());
        }
        Settings settings(m_path);
        QCOMPARE(settings.country(), QString());
    }

    void workerReadsWhileUiWrites() {
        Settings settings(m_path);
        std::atomic<bool> done{false};
        std::atomic<int> bad{0};
        std::thread worker([&] {
            while (!done.load()) {
                const QByteArray name = settings.comPortName();
                if (name != "COM1" && name != "COM20" && name != "COM300")
                    ++bad;
            }
        });
        for (int i = 0; i < 20000; ++i)
            settings.setComPortName(i % 2 ? "COM20" : "COM300");
        done = true;
        worker.join();
        QCOMPARE(bad.load(), 0);
    }

    // --- The long-message reference ---

    void referencesCountAndWrap_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<int>>("taken");
        QTest::addColumn<int>("stored");
        QTest::newRow("no file starts at 0") << QByteArray() << QList<int>{0, 1, 2} << 3;
        QTest::newRow("goes on from the file")
            << QByteArray("[Setting]\nLong Message Reference=41\n") << QList<int>{41, 42} << 43;
        QTest::newRow("wraps after 255") << QByteArray("[Setting]\nLong Message Reference=254\n")
                                         << QList<int>{254, 255, 0} << 1;
        QTest::newRow("a value out of range starts at 0")
            << QByteArray("[Setting]\nLong Message Reference=256\n") << QList<int>{0} << 1;
        QTest::newRow("a value that is no number starts at 0")
            << QByteArray("[Setting]\nLong Message Reference=ten\n") << QList<int>{0, 1} << 2;
    }
    void referencesCountAndWrap() {
        QFETCH(QByteArray, content);
        QFETCH(QList<int>, taken);
        QFETCH(int, stored);
        if (!content.isEmpty())
            writeBytes(m_path, content + WindowSection);
        Settings settings(m_path);
        QList<int> got;
        for (qsizetype i = 0; i < taken.size(); ++i)
            got << settings.takeLongMessageReference();
        QCOMPARE(got, taken);
        // Written at once, not only at the end of the program; other lines stay.
        const IniFile ini(m_path);
        QCOMPARE(ini.readInteger("Setting", "Long Message Reference", -1), stored);
        if (!content.isEmpty())
            QCOMPARE(ini.readInteger("frmPelorvane", "ShowCmd", 0), 1);
        // A port change written later keeps the counter.
        settings.setComPortName("COM9");
        QVERIFY(settings.save());
        QCOMPARE(IniFile(m_path).readInteger("Setting", "Long Message Reference", -1), stored);
    }

    // Two programs on one file take turns; neither hands out a reference the other just took.
    void referencesSharedThroughTheFile() {
        Settings window(m_path);
        Settings cli(m_path);
        QList<int> got;
        for (int i = 0; i < 6; ++i)
            got << (i % 3 == 0 ? cli : window).takeLongMessageReference();
        QCOMPARE(got, (QList<int>{0, 1, 2, 3, 4, 5}));
    }

    // A file that cannot be written does not stop the counter, nor make it repeat.
    void unwritableFileCountsInMemory() {
        QVERIFY(QDir().mkpath(m_path));
        Settings settings(m_path);
        QList<int> got;
        for (int i = 0; i < 3; ++i)
            got << settings.takeLongMessageReference();
        QCOMPARE(got, (QList<int>{0, 1, 2}));
        QVERIFY(QFileInfo(m_path).isDir());
        QVERIFY(QDir(m_path).removeRecursively());
        // Once the file is there again it is not trusted: the stale value would repeat one.
        writeBytes(m_path, "[Setting]\nLong Message Reference=1\n");
        QCOMPARE(settings.takeLongMessageReference(), quint8(3));
    }

    // The sender takes references on its thread while the window saves the port.
    void referencesFromTwoThreads() {
        Settings settings(m_path);
        QList<int> first, second;
        std::thread worker([&] {
            for (int i = 0; i < 60; ++i)
                first << settings.takeLongMessageReference();
        });
        for (int i = 0; i < 60; ++i) {
            second << settings.takeLongMessageReference();
            settings.setComPortName(i % 2 ? "COM5" : "COM6");
            settings.save();
        }
        worker.join();
        QList<int> all = first + second;
        std::sort(all.begin(), all.end());
        for (int i = 0; i < all.size(); ++i)
            QCOMPARE(all[i], i);
        QCOMPARE(IniFile(m_path).readInteger("Setting", "Long Message Reference", -1), 120);
    }

    // --- The ini file ---

    void booleans_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("expected"); // 1 true, 0 false, -1 the default
        for (const char *word : {"TRUE", "true", "True", "YES", "yes", "Yes", "Y", "y"})
            QTest::newRow(word) << QByteArray(word) << 1;
        for (const char *word : {"FALSE", "false", "NO", "no", "N", "n"})
            QTest::newRow(word) << QByteArray(word) << 0;
        for (const char *word : {"1", "0", "on", "off", "yess", "t", "", "\"\""})
            QTest::newRow(QByteArray("not a Boolean: ").append(word).constData())
                << QByteArray(word) << -1;
        QTest::newRow("blanks around") << QByteArray("  yes  ") << 1;
    }
    void booleans() {
        QFETCH(QByteArray, value);
        QFETCH(int, expected);
        writeBytes(m_path, "[frmPelorvane]\nSplitter1_Visible=" + value + "\n");
        IniFile ini(m_path);
        QCOMPARE(ini.readBool("frmPelorvane", "Splitter1_Visible", true), expected != 0);
        QCOMPARE(ini.readBool("frmPelorvane", "Splitter1_Visible", false), expected == 1);
    }

    void integers_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("positive") << QByteArray("137") << 137;
        QTest::newRow("negative") << QByteArray("-1") << -1;
        QTest::newRow("blanks") << QByteArray("  12  ") << 12;
        QTest::newRow("largest") << QByteArray("2147483647") << 2147483647;
        QTest::newRow("out of range") << QByteArray("2147483648") << 555;
        QTest::newRow("trailing text") << QByteArray("12px") << 555;
        QTest::newRow("hexadecimal") << QByteArray("0x10") << 555;
        QTest::newRow("empty") << QByteArray("") << 555;
        QTest::newRow("four numbers") << QByteArray("1,2,3,4") << 555;
    }
    void integers() {
        QFETCH(QByteArray, value);
        QFETCH(int, expected);
        writeBytes(m_path, "[frmPelorvane]\nPnlExplorer_Width=" + value + "\n");
        IniFile ini(m_path);
        QCOMPARE(ini.readInteger("frmPelorvane", "PnlExplorer_Width", 555), expected);
        QCOMPARE(ini.readInteger("frmPelorvane", "Missing", 555), 555);
    }

    void layoutRoundTrip() {
        {
            IniFile ini(m_path);
            ini.writeInteger("frmPelorvane", "FormVersion", 0);
            ini.writeInteger("frmPelorvane", "ShowCmd", 1);
            ini.writeString("frmPelorvane", "MinMaxPos",
                            QString::asprintf("%d,%d,%d,%d", -1, -1, -8, -8));
            ini.writeString("frmPelorvane", "NormPos",
                            QString::asprintf("%d,%d,%d,%d", 100, 120, 710, 713));
            ini.writeInteger("frmPelorvane", "PnlExplorer_Width", 137);
            ini.writeBool("frmPelorvane", "PnlExplorer_Visible", true);
            ini.writeBool("frmPelorvane", "Splitter1_Visible", false);
            // Pending changes read back before they are written.
            QCOMPARE(ini.readInteger("frmPelorvane", "ShowCmd", 0), 1);
            QVERIFY(!QFile::exists(m_path));
            QVERIFY(ini.hasPendingChanges());
            QVERIFY(ini.updateFile());
            QVERIFY(!ini.hasPendingChanges());
        }
        QCOMPARE(readBytes(m_path), QByteArray("[frmPelorvane]\n"
                                               "FormVersion=0\n"
                                               "ShowCmd=1\n"
                                               "MinMaxPos=-1,-1,-8,-8\n"
                                               "NormPos=100,120,710,713\n"
                                               "PnlExplorer_Width=137\n"
                                               "PnlExplorer_Visible=TRUE\n"
                                               "Splitter1_Visible=FALSE\n"));
        IniFile ini(m_path);
        QCOMPARE(ini.readSection("FRMPELORVANE"),
                 (QStringList{"FormVersion", "ShowCmd", "MinMaxPos", "NormPos", "PnlExplorer_Width",
                              "PnlExplorer_Visible", "Splitter1_Visible"}));
        QCOMPARE(ini.readString("frmPelorvane", "NormPos", ""), QStringLiteral("100,120,710,713"));
        QCOMPARE(ini.readBool("frmPelorvane", "PnlExplorer_Visible", false), true);
        QCOMPARE(ini.readBool("frmPelorvane", "Splitter1_Visible", true), false);
    }

    // Everything a change does not concern stays byte for byte, in both line end styles.
    void otherLinesKept_data() {
        QTest::addColumn<QByteArray>("eol");
        QTest::newRow("LF") << QByteArray("\n");
        QTest::newRow("CR LF") << QByteArray("\r\n");
    }
    void otherLinesKept() {
        QFETCH(QByteArray, eol);
        const auto lines = [&](std::initializer_list<const char *> list) {
            QByteArray bytes;
            for (const char *line : list)
                bytes += QByteArray(line) + eol;
            return bytes;
        };
        const QByteArray head = lines({
            "; Pelorvane settings",
            "loose=before any section",
            "",
            "# another comment",
            "[Unknown Section]",
            "Key=Value with \"quotes\" ; and = signs",
            "  odd line without equals  ",
            "=no key",
            "\t[broken section",
            "",
            "[setting]",
            "  ; comment inside",
            "Com Port\t=\tCOM2   ",
            "Other=x",
        });
        const QByteArray tail = lines({
            "",
            "; about the window",
            "[FRMPELORVANE]",
            "ShowCmd=1",
        });
        writeBytes(m_path, head + tail + "trailing odd line without end");
        {
            Settings settings(m_path);
            QCOMPARE(settings.comPortName(), QByteArray("COM2"));
            settings.setComPortName("COM12");
        }
        {
            IniFile ini(m_path);
            ini.writeString("setting", "New Key", "added");
            ini.writeInteger("frmPelorvane", "PnlExplorer_Width", 90);
            ini.writeString("Brand New", "K", "v");
            QVERIFY(ini.updateFile());
        }
        QByteArray expectedHead = head;
        expectedHead.replace("Com Port\t=\tCOM2   ", "Com Port\t=\tCOM12");
        const QByteArray expected = expectedHead + "New Key=added" + eol + tail +
                                    "PnlExplorer_Width=90" + eol + "trailing odd line without end" +
                                    eol + eol + "[Brand New]" + eol + "K=v" + eol;
        QCOMPARE(readBytes(m_path), expected);
    }

    void newLinesFollowTheFile_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("new file gets LF")
            << QByteArray() << QByteArray("[Setting]\nCOM Port=COM3\n");
        QTest::newRow("CR LF file")
            << QByteArray("[A]\r\nx=1\r\n")
            << QByteArray("[A]\r\nx=1\r\n\r\n[Setting]\r\nCOM Port=COM3\r\n");
        QTest::newRow("first line decides")
            << QByteArray("[A]\r\nx=1\n")
            << QByteArray("[A]\r\nx=1\n\r\n[Setting]\r\nCOM Port=COM3\r\n");
        QTest::newRow("blank last line is the separator")
            << QByteArray("[A]\nx=1\n\n") << QByteArray("[A]\nx=1\n\n[Setting]\nCOM Port=COM3\n");
        QTest::newRow("no line end at all")
            << QByteArray("[A]") << QByteArray("[A]\n\n[Setting]\nCOM Port=COM3\n");
        QTest::newRow("empty section gets the key under its header")
            << QByteArray("[Setting]\r\n; note\r\n\r\n[B]\r\n")
            << QByteArray("[Setting]\r\nCOM Port=COM3\r\n; note\r\n\r\n[B]\r\n");
        QTest::newRow("key after the last key, before blank lines")
            << QByteArray("[Setting]\nA=1\n; c\nB=2\n\n\n[B]\n")
            << QByteArray("[Setting]\nA=1\n; c\nB=2\nCOM Port=COM3\n\n\n[B]\n");
        QTest::newRow("byte order mark kept")
            << QByteArray("\xEF\xBB\xBF[Setting]\r\nCOM Port=COM1\r\n")
            << QByteArray("\xEF\xBB\xBF[Setting]\r\nCOM Port=COM3\r\n");
        QTest::newRow("existing key without line end")
            << QByteArray("[Setting]\nCOM Port=COM1") << QByteArray("[Setting]\nCOM Port=COM3");
    }
    void newLinesFollowTheFile() {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, expected);
        if (!content.isEmpty())
            writeBytes(m_path, content);
        {
            Settings settings(m_path);
            settings.setComPortName("COM3");
        }
        QCOMPARE(readBytes(m_path), expected);
    }

    void valuesRoundTrip_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << QStringLiteral("COM3");
        QTest::newRow("outer blanks") << QStringLiteral("  padded  ");
        QTest::newRow("outer quotes") << QStringLiteral("\"quoted\"");
        QTest::newRow("one quote") << QStringLiteral("\"");
        QTest::newRow("inner equals and semicolon") << QStringLiteral("a=b;c");
        QTest::newRow("non-ASCII") << QStringLiteral("Müller 中");
        QTest::newRow("empty") << QString();
    }
    void valuesRoundTrip() {
        QFETCH(QString, value);
        {
            IniFile ini(m_path);
            ini.writeString("S", "K", value);
            QVERIFY(ini.updateFile());
        }
        QCOMPARE(IniFile(m_path).readString("S", "K", "default"), value);
    }

    void badNamesAndValuesRejected_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("line feed in value") << "S"
                                            << "K"
                                            << "a\nb";
        QTest::newRow("carriage return in value") << "S"
                                                  << "K"
                                                  << "a\rb";
        QTest::newRow("empty section") << " "
                                       << "K"
                                       << "v";
        QTest::newRow("bracket in section") << "a]b"
                                            << "K"
                                            << "v";
        QTest::newRow("line break in section") << "a\nb"
                                               << "K"
                                               << "v";
        QTest::newRow("empty key") << "S"
                                   << ""
                                   << "v";
        QTest::newRow("equals in key") << "S"
                                       << "a=b"
                                       << "v";
        QTest::newRow("key like a comment") << "S"
                                            << ";k"
                                            << "v";
        QTest::newRow("key like a section") << "S"
                                            << "[k"
                                            << "v";
        QTest::newRow("line break in key") << "S"
                                           << "a\nb=c"
                                           << "v";
    }
    void badNamesAndValuesRejected() {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        writeBytes(m_path, "[S]\nK=old\n");
        IniFile ini(m_path);
        QVERIFY_THROWS_EXCEPTION(Error, ini.writeString(section, key, value));
        QVERIFY(!ini.hasPendingChanges());
        QCOMPARE(ini.readString("S", "K", ""), QStringLiteral("old"));
    }

    void deleteAndErase() {
        writeBytes(m_path, "[A]\nx=1\nX=2\ny=3\n; end of A\n[b]\nz=1\n[a]\nx=9\n");
        IniFile ini(m_path);
        ini.deleteKey("a", "X");
        QCOMPARE(ini.readSection("A"), QStringList{"y"});
        ini.eraseSection("B");
        ini.deleteKey("missing", "x");
        ini.eraseSection("missing");
        QVERIFY(ini.updateFile());
        QCOMPARE(readBytes(m_path), QByteArray("[A]\ny=3\n; end of A\n[a]\nx=9\n"));
        ini.eraseSection("a");
        QVERIFY(!ini.sectionExists("A"));
        QVERIFY(ini.updateFile());
        QCOMPARE(readBytes(m_path), QByteArray());
    }

    void queries() {
        writeBytes(m_path, "k=0\n[One]\na=1\nA=2\nb=\n[two]\n[ONE]\nc=3\n");
        IniFile ini(m_path);
        QCOMPARE(ini.readSections(), (QStringList{"One", "two"}));
        QCOMPARE(ini.readSection("one"), (QStringList{"a", "b"}));
        QVERIFY(ini.sectionExists("TWO"));
        QVERIFY(!ini.sectionExists("three"));
        QVERIFY(!ini.sectionExists(""));
        QVERIFY(ini.valueExists("one", "B"));
        QVERIFY(!ini.valueExists("one", "c"));
        QVERIFY(!ini.valueExists("", "k"));
        QCOMPARE(ini.readSection("two"), QStringList());
    }

    void missingFolderFailsCleanly() {
        IniFile ini(m_dir.filePath("no/such/folder/pelorvane.ini"));
        ini.writeString("S", "K", "v");
        QVERIFY(!ini.updateFile());
        QVERIFY(!ini.errorString().isEmpty());
        QVERIFY(ini.hasPendingChanges());
    }

    // --- Where the file lives ---

    void writableFolderHoldsTheFile() {
        const QString exeDir = m_dir.filePath("portable");
        QVERIFY(QDir().mkpath(exeDir));
        QCOMPARE(settingsFilePath(exeDir), QDir(exeDir).filePath("pelorvane.ini"));
        // The writability probe leaves nothing behind.
        QCOMPARE(QDir(exeDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }

    void unwritableFolderUsesXdg_data() {
        QTest::addColumn<QString>("exeDir");   // relative to the temporary folder
        QTest::addColumn<QByteArray>("xdg");   // "-" unset, "@name" a folder in the temporary one
        QTest::addColumn<QString>("expected"); // relative to the temporary folder
        const QString expectedXdg = "xdg/pelorvane/pelorvane.ini";
        const QString expectedHome = "home/.config/pelorvane/pelorvane.ini";
        QTest::newRow("folder below a regular file")
            << "afile/bin" << QByteArray("@xdg") << expectedXdg;
        QTest::newRow("missing folder") << "nothing/here" << QByteArray("@xdg") << expectedXdg;
        QTest::newRow("read-only folder") << "readonly" << QByteArray("@xdg") << expectedXdg;
        QTest::newRow("XDG_CONFIG_HOME unset") << "afile/bin" << QByteArray("-") << expectedHome;
        QTest::newRow("XDG_CONFIG_HOME empty") << "afile/bin" << QByteArray("") << expectedHome;
        QTest::newRow("XDG_CONFIG_HOME relative")
            << "afile/bin" << QByteArray("relative/config") << expectedHome;
    }
    void unwritableFolderUsesXdg() {
        QFETCH(QString, exeDir);
        QFETCH(QByteArray, xdg);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        writeBytes(root.filePath("afile"), "not a folder");
        if (exeDir == "readonly") {
            if (::geteuid() == 0)
                QSKIP("permission bits do not stop root");
            QVERIFY(QDir().mkpath(root.filePath(exeDir)));
            QVERIFY(
                QFile::setPermissions(root.filePath(exeDir), QFile::ReadOwner | QFile::ExeOwner));
        }
        EnvGuard xdgVar("XDG_CONFIG_HOME");
        EnvGuard home("HOME");
        home.set(QFile::encodeName(root.filePath("home")));
        if (xdg == "-")
            xdgVar.unset();
        else if (xdg.startsWith('@'))
            xdgVar.set(QFile::encodeName(root.filePath(QString::fromUtf8(xdg.mid(1)))));
        else
            xdgVar.set(xdg);

        const QString path = settingsFilePath(root.filePath(exeDir));
        QCOMPARE(path, root.filePath(expected));
        QVERIFY(QFileInfo(path).absoluteDir().exists());

        // The fallback file works as a settings file.
        {
            Settings settings(path);
            settings.setComPortName("COM5");
        }
        QCOMPARE(Settings(path).comPortName(), QByteArray("COM5"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
