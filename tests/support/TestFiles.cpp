#include "support/TestFiles.h"

#include "app/Errors.h"

#include <QFile>

QString ErrorMessage(const std::function<void()> &f) {
    try {
        f();
    } catch (const EPelorvane &e) {
        return e.Message();
    }
    return QString();
}

QByteArray ReadAll(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

void WriteAll(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}
