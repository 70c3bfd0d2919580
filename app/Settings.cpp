#include "app/Setting.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

const QString Section = QStringLiteral("Setting");
const QString PortKey = QStringLiteral("COM Port");
const QString DefaultPort = QStringLiteral("COM1");

// Trying is the only answer that holds for read-only mounts, ACLs and root alike.
bool CanCreateFilesIn(const QString &dir) {
    if (!QFileInfo(dir).isDir())
        return false;
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".pelorvane-probe-XXXXXX")));
    return probe.open();
}

} // namespace

QString SettingsFilePath(const QString &exeDir) {
    if (CanCreateFilesIn(exeDir))
        return QDir(exeDir).filePath(QLatin1StringView(SettingsFileName));
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    const QString folder = QDir(base).filePath(QStringLiteral("pelorvane"));
    QDir().mkpath(folder);
    return QDir(folder).filePath(QLatin1StringView(SettingsFileName));
}

TSettings::TSettings(const QString &fileName)
    : FIniFile(fileName),
      FComPortName(FIniFile.ReadString(Section, PortKey, DefaultPort).toLocal8Bit()) {}

TSettings::~TSettings() {
    if (!Modified())
        return;
    // Nobody is left to tell at program end; a name the file cannot hold is simply not kept.
    try {
        Save();
    } catch (...) {
    }
}

QByteArray TSettings::ComPortName() const {
    QMutexLocker locker(&FLock);
    const QByteArray &name = FSessionPort.isEmpty() ? FComPortName : FSessionPort;
    // A deep copy: the worker's string then shares no reference count with the UI thread's.
    return QByteArray(name.constData(), name.size());
}

QByteArray TSettings::StoredComPortName() const {
    QMutexLocker locker(&FLock);
    return QByteArray(FComPortName.constData(), FComPortName.size());
}

void TSettings::SetSessionPort(const QByteArray &name) {
    QMutexLocker locker(&FLock);
    FSessionPort = QByteArray(name.constData(), name.size());
}

void TSettings::SetComPortName(const QByteArray &name) {
    QMutexLocker locker(&FLock);
    // The user's own choice ends a port given for this run only.
    FSessionPort.clear();
    if (name == FComPortName)
        return;
    FComPortName = name;
    FModified = true;
}

bool TSettings::Modified() const {
    QMutexLocker locker(&FLock);
    return FModified;
}

bool TSettings::Save() {
    FIniFile.WriteString(Section, PortKey, QString::fromLocal8Bit(StoredComPortName()));
    return FIniFile.UpdateFile();
}
