#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

// One running copy per executable file. The copy that holds the identity's lock file runs and
// listens on a local socket; a copy that finds the lock held asks the running one, through
// that socket, to bring its window to the front, and then ends.
class TSingleInstance : public QObject {
    Q_OBJECT
public:
    // The copy's identity: the full path of the executable, upper-cased, every path separator
    // replaced by "_".
    static QString Identity(const QString &executablePath);
    // The path of the running executable file, symbolic links resolved.
    static QString ExecutablePath(const char *argv0);

    // folder: where the lock file and the socket live; empty for the user's runtime folder.
    explicit TSingleInstance(const QString &identity, const QString &folder = QString(),
                             QObject *parent = nullptr);
    ~TSingleInstance() override;

    // True when this copy may run: no live copy holds the identity. A copy that ended without
    // cleaning up (a crash) does not hold it.
    bool TryRegister();
    // For a refused copy: asks the running copy to come to the front. False when no copy
    // answered within timeoutMs (one that has no window yet, for instance).
    bool ActivateRunning(int timeoutMs = 2000);
    // For the running copy: serves activation requests on the event loop; each one runs
    // OnActivate. Needs the application object.
    bool Listen();
    void StopListening();

    std::function<void()> OnActivate;

    const QString &LockFilePath() const { return FLockPath; }
    const QString &ServerName() const { return FServerName; }

private:
    void ServeConnection();

    QString FLockPath;
    QString FServerName;
    std::unique_ptr<QLockFile> FLock;
    QLocalServer *FServer = nullptr;
};
