#include "base/StateFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

QString stateFolder() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // Relative values are invalid and ignored, as the base-directory rules say.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base + QStringLiteral("/pelorvane"));
}

QString stateFileName(const QString &path, const QString &suffix) {
    const QFileInfo info(path);
    const QByteArray digest = QCryptographicHash::hash(QFile::encodeName(info.absoluteFilePath()),
                                                       QCryptographicHash::Sha1)
                                  .toHex()
                                  .left(16);
    return info.fileName() + u'-' + QString::fromLatin1(digest) + suffix;
}
