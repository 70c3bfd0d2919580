#include "data/SafeFile.h"

#include "app/Errors.h"

#include <QSaveFile>

void WriteFileSafely(const QString &fileName, const std::function<void(QIODevice &device)> &write) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw EPelorvane(file.errorString());
    try {
        write(file);
    } catch (...) {
        file.cancelWriting();
        throw;
    }
    if (!file.commit()) {
        if (file.error() == QFileDevice::WriteError)
            throw EPelorvane(QStringLiteral("Stream write error"));
        throw EPelorvane(file.errorString());
    }
}
