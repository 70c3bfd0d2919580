#include "app/Errors.h"
#include "app/IniFile.h"
#include "app/Setting.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

void WriteBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray ReadBytes(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Identity and time of the file on disk: an atomic replacement gives a new inode.
struct TStamp {
    ino_t Inode = 0;
    timespec Modified{};
    bool operator==(const TStamp &other) const {
        return Inode == other.Inode && Modified.tv_sec == other.Modified.tv_sec &&
               Modified.tv_nsec == other.Modified.tv_nsec;
    }
};

TStamp StampOf(const QString &path) {
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
class TEnvGuard {
public:
    explicit TEnvGuard(const char *name) : FName(name), FWasSet(qEnvironmentVariableIsSet(name)) {
        FOld = qgetenv(name);
    }
    ~TEnvGuard() {
        if (FWasSet)
            qputenv(FName, FOld);
        else
            qunsetenv(FName);
    }
    void Set(const QByteArray &value) { qputenv(FName, value); }
    void Unset() { qunsetenv(FName); }

private:
    const char *FName;
    bool FWasSet;
    QByteArray FOld;
};

// Makes every write of this process beyond limit bytes fail (EFBIG), root included.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t limit) {
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &FOld);
        rlimit lowered = FOld;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }

private:
    rlimit FOld{};
    void (*FOldHandler)(int);
};

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FDir;
    QString FPath;

private Q_SLOTS:
    void init() {
        QVERIFY(FDir.isValid());
        FPath = FDir.filePath(QStringLiteral("pelorvane.ini"));
        QFile::remove(FPath);
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
            WriteBytes(FPath, content);
        const TStamp before = StampOf(FPath);
        {
            TSettings settings(FPath);
            QCOMPARE(settings.ComPortName(), QByteArray("COM1"));
            QVERIFY(!settings.Modified());
        }
        QCOMPARE(QFile::exists(FPath), exists);
        if (exists) {
            QCOMPARE(ReadBytes(FPath), content);
            QVERIFY(StampOf(FPath) == before);
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
        WriteBytes(FPath, content);
        TSettings settings(FPath);
        QCOMPARE(settings.ComPortName(), port);
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
            WriteBytes(FPath, content);
        const TStamp before = StampOf(FPath);
        {
            TSettings settings(FPath);
            settings.SetComPortName(port);
            QVERIFY(!settings.Modified());
        }
        QCOMPARE(QFile::exists(FPath), exists);
        if (exists)
            QVERIFY(StampOf(FPath) == before);
    }

    void changedPortIsUsedNextStart() {
        {
            TSettings settings(FPath);
            settings.SetComPortName("COM3");
            QVERIFY(settings.Modified());
            QCOMPARE(settings.ComPortName(), QByteArray("COM3"));
            // Nothing is written before the end of the run.
            QVERIFY(!QFile::exists(FPath));
        }
        QCOMPARE(ReadBytes(FPath), QByteArray("[Setting]\nCOM Port=COM3\n"));
        TSettings next(FPath);
        QCOMPARE(next.ComPortName(), QByteArray("COM3"));
        QVERIFY(!next.Modified());
    }

    void caseOnlyChangeCounts() {
        WriteBytes(FPath, "[Setting]\nCOM Port=COM3\n");
        {
            TSettings settings(FPath);
            settings.SetComPortName("com3");
            QVERIFY(settings.Modified());
        }
        QCOMPARE(ReadBytes(FPath), QByteArray("[Setting]\nCOM Port=com3\n"));
    }

    void changeAndBackStillWrites() {
        WriteBytes(FPath, "[Setting]\nCOM Port = COM2\n");
        {
            TSettings settings(FPath);
            settings.SetComPortName("COM4");
            settings.SetComPortName("COM3");
            QVERIFY(settings.Modified());
        }
        // Written again, in the key's own spelling and spacing.
        QCOMPARE(ReadBytes(FPath), QByteArray("[Setting]\nCOM Port = COM3\n"));
    }

    void emptyNameIsWrittenAndReadBack() {
        WriteBytes(FPath, "[Setting]\nCOM Port=COM3\n");
        {
            TSettings settings(FPath);
            settings.SetComPortName("");
        }
        QCOMPARE(ReadBytes(FPath), QByteArray("[Setting]\nCOM Port=\n"));
        TSettings next(FPath);
        QCOMPARE(next.ComPortName(), QByteArray());
    }

    // The data module holds its settings for the whole run while the window writes its layout
    // at close, each through its own object; neither may undo the other's write.
    void sectionsSurviveEachOther() {
        WriteBytes(FPath, QByteArray("[Setting]\nCOM Port=COM2\n\n") + WindowSection);
        {
            TSettings settings(FPath);
            {
                TIniFile window(FPath);
                window.WriteInteger("frmPelorvane", "PnlExplorer_Width", 200);
                window.WriteBool("frmPelorvane", "PnlExplorer_Visible", false);
                QVERIFY(window.UpdateFile());
            }
            settings.SetComPortName("COM9");
        }
        TIniFile check(FPath);
        QCOMPARE(check.ReadString("Setting", "COM Port", ""), QStringLiteral("COM9"));
        QCOMPARE(check.ReadInteger("frmPelorvane", "PnlExplorer_Width", 0), 200);
        QCOMPARE(check.ReadBool("frmPelorvane", "PnlExplorer_Visible", true), false);
        QCOMPARE(check.ReadString("frmPelorvane", "NormPos", ""),
                 QStringLiteral("100,120,710,713"));

        // The other way round: the window's object was bound before the port was saved.
        TIniFile window(FPath);
        {
            TSettings settings(FPath);
            settings.SetComPortName("COM10");
        }
        window.WriteInteger("frmPelorvane", "ShowCmd", 3);
        QVERIFY(window.UpdateFile());
        QCOMPARE(window.ReadString("Setting", "COM Port", ""), QStringLiteral("COM10"));
        TSettings next(FPath);
        QCOMPARE(next.ComPortName(), QByteArray("COM10"));
        QCOMPARE(TIniFile(FPath).ReadInteger("frmPelorvane", "ShowCmd", 0), 3);
    }

    void saveFailureKeepsOldFile() {
        const QByteArray old = "; kept\n[Setting]\nCOM Port=COM2\n";
        WriteBytes(FPath, old);
        TSettings settings(FPath);
        settings.SetComPortName("COM" + QByteArray(8192, '7'));
        {
            TFileSizeLimit limit(4096);
            QVERIFY(!settings.Save());
        }
        QCOMPARE(ReadBytes(FPath), old);
        QCOMPARE(QDir(FDir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"pelorvane.ini"});
        // Once the disk takes it again, the same change can be written.
        QVERIFY(settings.Save());
        QCOMPARE(TSettings(FPath).ComPortName(), settings.ComPortName());
    }

    void unreadableFileIsNeverOverwritten() {
        // A folder in the file's place: it cannot be read, even by root.
        QVERIFY(QDir().mkpath(FPath));
        WriteBytes(FPath + "/inside", "x");
        TIniFile ini(FPath);
        QVERIFY(!ini.SectionExists("Setting"));
        {
            TSettings settings(FPath);
            QCOMPARE(settings.ComPortName(), QByteArray("COM1"));
            settings.SetComPortName("COM2");
            QVERIFY(!settings.Save());
        }
        QVERIFY(QFileInfo(FPath).isDir());
        QCOMPARE(ReadBytes(FPath + "/inside"), QByteArray("x"));
        QVERIFY(QDir(FPath).removeRecursively());
    }

    void workerReadsWhileUiWrites() {
        TSettings settings(FPath);
        std::atomic<bool> done{false};
        std::atomic<int> bad{0};
        std::thread worker([&] {
            while (!done.load()) {
                const QByteArray name = settings.ComPortName();
                if (name != "COM1" && name != "COM20" && name != "COM300")
                    ++bad;
            }
        });
        for (int i = 0; i < 20000; ++i)
            settings.SetComPortName(i % 2 ? "COM20" : "COM300");
        done = true;
        worker.join();
        QCOMPARE(bad.load(), 0);
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
        WriteBytes(FPath, "[frmPelorvane]\nSplitter1_Visible=" + value + "\n");
        TIniFile ini(FPath);
        QCOMPARE(ini.ReadBool("frmPelorvane", "Splitter1_Visible", true), expected != 0);
        QCOMPARE(ini.ReadBool("frmPelorvane", "Splitter1_Visible", false), expected == 1);
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
        WriteBytes(FPath, "[frmPelorvane]\nPnlExplorer_Width=" + value + "\n");
        TIniFile ini(FPath);
        QCOMPARE(ini.ReadInteger("frmPelorvane", "PnlExplorer_Width", 555), expected);
        QCOMPARE(ini.ReadInteger("frmPelorvane", "Missing", 555), 555);
    }

    void layoutRoundTrip() {
        {
            TIniFile ini(FPath);
            ini.WriteInteger("frmPelorvane", "FormVersion", 0);
            ini.WriteInteger("frmPelorvane", "ShowCmd", 1);
            ini.WriteString("frmPelorvane", "MinMaxPos",
                            QString::asprintf("%d,%d,%d,%d", -1, -1, -8, -8));
            ini.WriteString("frmPelorvane", "NormPos",
                            QString::asprintf("%d,%d,%d,%d", 100, 120, 710, 713));
            ini.WriteInteger("frmPelorvane", "PnlExplorer_Width", 137);
            ini.WriteBool("frmPelorvane", "PnlExplorer_Visible", true);
            ini.WriteBool("frmPelorvane", "Splitter1_Visible", false);
            // Pending changes read back before they are written.
            QCOMPARE(ini.ReadInteger("frmPelorvane", "ShowCmd", 0), 1);
            QVERIFY(!QFile::exists(FPath));
            QVERIFY(ini.HasPendingChanges());
            QVERIFY(ini.UpdateFile());
            QVERIFY(!ini.HasPendingChanges());
        }
        QCOMPARE(ReadBytes(FPath), QByteArray("[frmPelorvane]\n"
                                              "FormVersion=0\n"
                                              "ShowCmd=1\n"
                                              "MinMaxPos=-1,-1,-8,-8\n"
                                              "NormPos=100,120,710,713\n"
                                              "PnlExplorer_Width=137\n"
                                              "PnlExplorer_Visible=TRUE\n"
                                              "Splitter1_Visible=FALSE\n"));
        TIniFile ini(FPath);
        QCOMPARE(ini.ReadSection("FRMPELORVANE"),
                 (QStringList{"FormVersion", "ShowCmd", "MinMaxPos", "NormPos", "PnlExplorer_Width",
                              "PnlExplorer_Visible", "Splitter1_Visible"}));
        QCOMPARE(ini.ReadString("frmPelorvane", "NormPos", ""), QStringLiteral("100,120,710,713"));
        QCOMPARE(ini.ReadBool("frmPelorvane", "PnlExplorer_Visible", false), true);
        QCOMPARE(ini.ReadBool("frmPelorvane", "Splitter1_Visible", true), false);
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
        WriteBytes(FPath, head + tail + "trailing odd line without end");
        {
            TSettings settings(FPath);
            QCOMPARE(settings.ComPortName(), QByteArray("COM2"));
            settings.SetComPortName("COM12");
        }
        {
            TIniFile ini(FPath);
            ini.WriteString("setting", "New Key", "added");
            ini.WriteInteger("frmPelorvane", "PnlExplorer_Width", 90);
            ini.WriteString("Brand New", "K", "v");
            QVERIFY(ini.UpdateFile());
        }
        QByteArray expectedHead = head;
        expectedHead.replace("Com Port\t=\tCOM2   ", "Com Port\t=\tCOM12");
        const QByteArray expected = expectedHead + "New Key=added" + eol + tail +
                                    "PnlExplorer_Width=90" + eol + "trailing odd line without end" +
                                    eol + eol + "[Brand New]" + eol + "K=v" + eol;
        QCOMPARE(ReadBytes(FPath), expected);
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
            WriteBytes(FPath, content);
        {
            TSettings settings(FPath);
            settings.SetComPortName("COM3");
        }
        QCOMPARE(ReadBytes(FPath), expected);
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
            TIniFile ini(FPath);
            ini.WriteString("S", "K", value);
            QVERIFY(ini.UpdateFile());
        }
        QCOMPARE(TIniFile(FPath).ReadString("S", "K", "default"), value);
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
        WriteBytes(FPath, "[S]\nK=old\n");
        TIniFile ini(FPath);
        QVERIFY_THROWS_EXCEPTION(EPelorvane, ini.WriteString(section, key, value));
        QVERIFY(!ini.HasPendingChanges());
        QCOMPARE(ini.ReadString("S", "K", ""), QStringLiteral("old"));
    }

    void deleteAndErase() {
        WriteBytes(FPath, "[A]\nx=1\nX=2\ny=3\n; end of A\n[b]\nz=1\n[a]\nx=9\n");
        TIniFile ini(FPath);
        ini.DeleteKey("a", "X");
        QCOMPARE(ini.ReadSection("A"), QStringList{"y"});
        ini.EraseSection("B");
        ini.DeleteKey("missing", "x");
        ini.EraseSection("missing");
        QVERIFY(ini.UpdateFile());
        QCOMPARE(ReadBytes(FPath), QByteArray("[A]\ny=3\n; end of A\n[a]\nx=9\n"));
        ini.EraseSection("a");
        QVERIFY(!ini.SectionExists("A"));
        QVERIFY(ini.UpdateFile());
        QCOMPARE(ReadBytes(FPath), QByteArray());
    }

    void queries() {
        WriteBytes(FPath, "k=0\n[One]\na=1\nA=2\nb=\n[two]\n[ONE]\nc=3\n");
        TIniFile ini(FPath);
        QCOMPARE(ini.ReadSections(), (QStringList{"One", "two"}));
        QCOMPARE(ini.ReadSection("one"), (QStringList{"a", "b"}));
        QVERIFY(ini.SectionExists("TWO"));
        QVERIFY(!ini.SectionExists("three"));
        QVERIFY(!ini.SectionExists(""));
        QVERIFY(ini.ValueExists("one", "B"));
        QVERIFY(!ini.ValueExists("one", "c"));
        QVERIFY(!ini.ValueExists("", "k"));
        QCOMPARE(ini.ReadSection("two"), QStringList());
    }

    void missingFolderFailsCleanly() {
        TIniFile ini(FDir.filePath("no/such/folder/pelorvane.ini"));
        ini.WriteString("S", "K", "v");
        QVERIFY(!ini.UpdateFile());
        QVERIFY(!ini.ErrorString().isEmpty());
        QVERIFY(ini.HasPendingChanges());
    }

    // --- Where the file lives ---

    void writableFolderHoldsTheFile() {
        const QString exeDir = FDir.filePath("portable");
        QVERIFY(QDir().mkpath(exeDir));
        QCOMPARE(SettingsFilePath(exeDir), QDir(exeDir).filePath("pelorvane.ini"));
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
        WriteBytes(root.filePath("afile"), "not a folder");
        if (exeDir == "readonly") {
            if (::geteuid() == 0)
                QSKIP("permission bits do not stop root");
            QVERIFY(QDir().mkpath(root.filePath(exeDir)));
            QVERIFY(
                QFile::setPermissions(root.filePath(exeDir), QFile::ReadOwner | QFile::ExeOwner));
        }
        TEnvGuard xdgVar("XDG_CONFIG_HOME");
        TEnvGuard home("HOME");
        home.Set(QFile::encodeName(root.filePath("home")));
        if (xdg == "-")
            xdgVar.Unset();
        else if (xdg.startsWith('@'))
            xdgVar.Set(QFile::encodeName(root.filePath(QString::fromUtf8(xdg.mid(1)))));
        else
            xdgVar.Set(xdg);

        const QString path = SettingsFilePath(root.filePath(exeDir));
        QCOMPARE(path, root.filePath(expected));
        QVERIFY(QFileInfo(path).absoluteDir().exists());

        // The fallback file works as a settings file.
        {
            TSettings settings(path);
            settings.SetComPortName("COM5");
        }
        QCOMPARE(TSettings(path).ComPortName(), QByteArray("COM5"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
