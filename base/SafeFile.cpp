#include "base/SafeFile.h"

#include "base/Error.h"

#include <QSaveFile>

void writeFileSafely(const QString &fileName, const std::function<void(QIODevice &device)> &write) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(file.errorString());
    try {
        write(file);
    } catch (...) {
        file.cancelWriting();
        throw;
    }
    if (!file.commit()) {
        if (file.error() == QFileDevice::WriteError)
            throw Error(QStringLiteral("Stream write error"));
        throw Error(file.errorString());
    }
}
