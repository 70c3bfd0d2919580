#include "support/TestFiles.h"

#include "base/Error.h"

#include <QFile>

QString errorMessage(const std::function<void()> &f) {
    try {
        f();
    } catch (const Error &e) {
        return e.message();
    }
    return QString();
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}
