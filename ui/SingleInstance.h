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
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The copy's identity: the full path of the executable, upper-cased, every path separator
    // replaced by "_".
    static QString identity(const QString &executablePath);
    // The path of the running executable file, symbolic links resolved.
    static QString executablePath(const char *argv0);

    // folder: where the lock file and the socket live; empty for the user's runtime folder.
    explicit SingleInstance(const QString &identity, const QString &folder = QString(),
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this copy may run: no live copy holds the identity. A copy that ended without
    // cleaning up (a crash) does not hold it.
    bool tryRegister();
    // For a refused copy: asks the running copy to come to the front. False when no copy
    // answered within timeoutMs (one that has no window yet, for instance).
    bool activateRunning(int timeoutMs = 2000);
    // For the running copy: serves activation requests on the event loop; each one runs
    // onActivate. Needs the application object.
    bool listen();
    void stopListening();

    std::function<void()> onActivate;

    const QString &lockFilePath() const { return m_lockPath; }
    const QString &serverName() const { return m_serverName; }

private:
    void serveConnection();

    QString m_lockPath;
    QString m_serverName;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
