#include "resources/ImageRoles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QTest>
#include <QXmlStreamReader>

namespace {

QString resourcesDir() {
    const QString fromEnv = qEnvironmentVariable("PELORVANE_SOURCE_DIR");
    if (!fromEnv.isEmpty())
        return QDir(fromEnv).filePath(QStringLiteral("resources"));
    return QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../resources"));
}

// Resource path (":/alias") to the file it is made from.
QMap<QString, QString> readQrc(QString &error) {
    QMap<QString, QString> entries;
    QFile file(QDir(resourcesDir()).filePath(QStringLiteral("resources.qrc")));
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return entries;
    }
    QXmlStreamReader xml(&file);
    QString prefix;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"qresource") {
            prefix = xml.attributes().value(QLatin1StringView("prefix")).toString();
            if (!prefix.endsWith(u'/'))
                prefix += u'/';
        } else if (xml.name() == u"file") {
            const QString alias = xml.attributes().value(QLatin1StringView("alias")).toString();
            const QString source = xml.readElementText();
            const QString path = u':' + prefix + (alias.isEmpty() ? source : alias);
            if (entries.contains(path))
                error = QStringLiteral("listed twice: ") + path;
            entries.insert(path, source);
        }
    }
    if (xml.hasError())
        error = xml.errorString();
    return entries;
}

struct GifFrame {
    int delay = -1; // hundredths of a second
    int transparent = -1;
    int disposal = 0;
    QRect rect;
    QList<int> indices;
};

struct Gif {
    QSize size;
    int paletteSize = 0;
    int loops = -1; // -1: no loop block
    QList<GifFrame> frames;
};

// GIF's variable-width LZW, as a decoder reads it: the sequence of colour indices, or an error.
bool decodeLzw(const QByteArray &data, int minCodeSize, QList<int> &out, QString &error) {
    const int clear = 1 << minCodeSize;
    const int end = clear + 1;
    QList<QList<int>> table;
    const auto reset = [&] {
        table.clear();
        for (int i = 0; i < clear + 2; ++i)
            table.append(i < clear ? QList<int>{i} : QList<int>{});
    };
    reset();
    int width = minCodeSize + 1;
    qsizetype bitPos = 0;
    int previous = -1;
    while (true) {
        if (bitPos + width > data.size() * 8) {
            error = QStringLiteral("data ends without the end code");
            return false;
        }
        int code = 0;
        for (int i = 0; i < width; ++i, ++bitPos)
            if (static_cast<unsigned char>(data.at(bitPos / 8)) & (1 << (bitPos % 8)))
                code |= 1 << i;
        if (code == clear) {
            reset();
            width = minCodeSize + 1;
            previous = -1;
            continue;
        }
        if (code == end)
            return true;
        QList<int> entry;
        if (code < table.size()) {
            entry = table.at(code);
            if (previous >= 0)
                table.append(table.at(previous) + QList<int>{entry.first()});
        } else if (code == table.size() && previous >= 0) {
            entry = table.at(previous) + QList<int>{table.at(previous).first()};
            table.append(entry);
        } else {
            error = QStringLiteral("code %1 outside the table of %2").arg(code).arg(table.size());
            return false;
        }
        out += entry;
        if (table.size() == (1 << width) && width < 12)
            ++width;
        previous = code;
    }
}

bool parseGif(const QByteArray &bytes, Gif &gif, QString &error) {
    qsizetype pos = 0;
    const auto need = [&](qsizetype n) { return pos + n <= bytes.size(); };
    const auto u8 = [&] { return static_cast<unsigned char>(bytes.at(pos++)); };
    const auto u16 = [&] {
        const int lo = u8();
        return lo | (u8() << 8);
    };
    const auto subBlocks = [&](QByteArray &into) {
        while (need(1)) {
            const int n = u8();
            if (n == 0)
                return true;
            if (!need(n))
                return false;
            into += bytes.mid(pos, n);
            pos += n;
        }
        return false;
    };
    if (!bytes.startsWith("GIF89a") || !need(13)) {
        error = QStringLiteral("not a GIF89a file");
        return false;
    }
    pos = 6;
    gif.size.setWidth(u16());
    gif.size.setHeight(u16());
    const int packed = u8();
    pos += 2;
    if (packed & 0x80) {
        gif.paletteSize = 1 << ((packed & 7) + 1);
        pos += 3 * gif.paletteSize;
    }
    GifFrame pending;
    while (need(1)) {
        const int block = u8();
        if (block == 0x3B)
            return true;
        if (block == 0x21 && need(1)) {
            const int label = u8();
            QByteArray body;
            if (label == 0xF9 && need(6) && u8() == 4) {
                const int flags = u8();
                pending.disposal = (flags >> 2) & 7;
                pending.delay = u16();
                const int transparent = u8();
                pending.transparent = (flags & 1) ? transparent : -1;
                if (!subBlocks(body))
                    break;
            } else if (label == 0xFF) {
                if (!subBlocks(body))
                    break;
                if (body.startsWith("NETSCAPE2.0") && body.size() == 14 && body.at(11) == 1)
                    gif.loops = static_cast<unsigned char>(body.at(12)) |
                                (static_cast<unsigned char>(body.at(13)) << 8);
            } else if (!subBlocks(body)) {
                break;
            }
        } else if (block == 0x2C && need(10)) {
            const int left = u16();
            const int top = u16();
            const int width = u16();
            const int height = u16();
            const int flags = u8();
            if (flags & 0x80)
                pos += 3 * (1 << ((flags & 7) + 1));
            if (!need(1))
                break;
            const int minCodeSize = u8();
            QByteArray data;
            if (!subBlocks(data))
                break;
            pending.rect = QRect(left, top, width, height);
            if (!decodeLzw(data, minCodeSize, pending.indices, error))
                return false;
            gif.frames.append(pending);
            pending = {};
        } else {
            error = QStringLiteral("unknown block 0x%1 at %2").arg(block, 0, 16).arg(pos - 1);
            return false;
        }
    }
    error = QStringLiteral("file ends without the trailer");
    return false;
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void qrcCompilesEveryPicture() {
        QString error;
        const QMap<QString, QString> entries = readQrc(error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QSet<QString> paths;
        for (const ImageRole role : AllImageRoles) {
            const QString path = imageRolePath(role);
            QVERIFY2(entries.contains(path), qPrintable(path));
            QVERIFY2(!paths.contains(path), qPrintable("two roles share " + path));
            paths.insert(path);
        }
        QVERIFY(entries.contains(programIconPath()));
        QVERIFY(entries.contains(activityClipPath()));
        for (auto it = entries.cbegin(); it != entries.cend(); ++it)
            QVERIFY2(QFileInfo(QDir(resourcesDir()).filePath(it.value())).isFile(),
                     qPrintable(it.value()));
        // No drawing lies around unlisted.
        const QStringList icons =
            QDir(QDir(resourcesDir()).filePath("icons")).entryList({"*.svg"}, QDir::Files);
        QCOMPARE(icons.size(), static_cast<qsizetype>(AllImageRoles.size()));
    }

    void svgIsSelfContained_data() {
        QTest::addColumn<QString>("file");
        QString error;
        for (const QString &source : readQrc(error))
            if (source.endsWith(".svg"))
                QTest::newRow(qPrintable(source)) << source;
    }
    void svgIsSelfContained() {
        QFETCH(QString, file);
        QFile svg(QDir(resourcesDir()).filePath(file));
        QVERIFY(svg.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&svg);
        QVERIFY(xml.readNextStartElement());
        QCOMPARE(xml.name(), u"svg");
        const QStringList box = xml.attributes()
                                    .value(QLatin1StringView("viewBox"))
                                    .toString()
                                    .split(u' ', Qt::SkipEmptyParts);
        QCOMPARE(box.size(), 4);
        QCOMPARE(box.at(2), box.at(3)); // square
        QCOMPARE(xml.attributes().value(QLatin1StringView("width")).toString(), box.at(2));
        int drawn = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            // Qt's SVG renderer has no scripts, fonts are not ours to rely on, and every
            // picture must render from the resource alone.
            QVERIFY2(xml.name() != u"script" && xml.name() != u"image" && xml.name() != u"text",
                     qPrintable(xml.name().toString()));
            for (const QXmlStreamAttribute &attribute : xml.attributes()) {
                if (attribute.name() == u"href")
                    QVERIFY2(attribute.value().startsWith(u'#'),
                             qPrintable(attribute.value().toString()));
                QVERIFY2(!attribute.value().contains(u"url(") ||
                             attribute.value().contains(u"url(#"),
                         qPrintable(attribute.value().toString()));
            }
            if (xml.name() == u"path" || xml.name() == u"rect" || xml.name() == u"circle")
                ++drawn;
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY(drawn > 0);
    }

    void activityClipPlays() {
        QFile file(QDir(resourcesDir()).filePath("mainavi.gif"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        Gif gif;
        QString error;
        QVERIFY2(parseGif(file.readAll(), gif, error), qPrintable(error));
        QCOMPARE(gif.size, QSize(32, 32));
        QCOMPARE(gif.loops, 0); // for ever
        QCOMPARE(gif.frames.size(), 9);
        QList<int> previous;
        for (const GifFrame &frame : std::as_const(gif.frames)) {
            QCOMPARE(frame.rect, QRect(0, 0, 32, 32));
            QCOMPARE(frame.delay, 10);
            QCOMPARE(frame.disposal, 2); // each frame drawn on a clear background
            QCOMPARE(frame.indices.size(), 32 * 32);
            QVERIFY(frame.transparent >= 0);
            const qsizetype clear = frame.indices.count(frame.transparent);
            QVERIFY(clear > 0 && clear < 32 * 32);
            for (const int index : frame.indices)
                QVERIFY(index < gif.paletteSize);
            QVERIFY(frame.indices != previous); // it moves
            previous = frame.indices;
        }
    }
};

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
