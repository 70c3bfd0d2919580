#include "SmscFake.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char **environ;

namespace {

QString fakeFile(const QString &name) {
    const QString sourceDir = qEnvironmentVariable("PELORVANE_SOURCE_DIR");
    return (sourceDir.isEmpty() ? QStringLiteral(PELORVANE_SOURCE_DIR_BUILT) : sourceDir) +
           QStringLiteral("/tools/smsc-fake/") + name;
}

QString scriptPath() {
    return fakeFile(QStringLiteral("smsc-fake.js"));
}

QString logPath(const QTemporaryDir &dir) {
    return dir.filePath(QStringLiteral("smsc-fake.log"));
}

// Starts node with args, its standard output into *output when given (else /dev/null); the
// child's pid, or -1 with errno's text in error.
pid_t spawnNode(const QStringList &args, int *output, QString &error) {
    int pipeFds[2] = {-1, -1};
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    QList<QByteArray> storage{QByteArrayLiteral("node")};
    for (const QString &arg : args)
        storage.append(arg.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = ::posix_spawnp(&pid, "node", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (failed != 0) {
        ::close(pipeFds[0]);
        error = QString::fromLocal8Bit(std::strerror(failed));
        return -1;
    }
    if (output)
        *output = pipeFds[0];
    else
        ::close(pipeFds[0]);
    return pid;
}

// Waits up to ms for the child to end; its exit status, or -1 when it has not ended.
int waitChild(pid_t pid, int ms) {
    for (int waited = 0;; waited += 10) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        if (done < 0 || waited >= ms)
            return done < 0 ? 128 : -1;
        ::usleep(10000);
    }
}

// One line of the child's output, up to timeoutMs; empty when none came.
QByteArray readLine(int fd, int timeoutMs) {
    QByteArray line;
    for (int waited = 0; waited < timeoutMs;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            waited += 100;
            continue;
        }
        char c = 0;
        if (::read(fd, &c, 1) != 1)
            break;
        if (c == '\n')
            return line;
        line.append(c);
    }
    return QByteArray();
}

} // namespace

SmscFake::SmscFake() = default;

SmscFake::~SmscFake() {
    stop();
}

QString SmscFake::certificatePath() {
    return fakeFile(QStringLiteral("localhost-cert.pem"));
}

QString SmscFake::keyPath() {
    return fakeFile(QStringLiteral("localhost-key.pem"));
}

QString SmscFake::unavailableReason() {
    static const QString reason = [] {
        QString error;
        const pid_t pid = spawnNode({QStringLiteral("--version")}, nullptr, error);
        if (pid < 0 || waitChild(pid, 10000) != 0)
            return QStringLiteral("Node.js (node) does not run here, so the fake SMS centre "
                                  "cannot start: %1")
                .arg(error.isEmpty() ? QStringLiteral("node --version failed") : error);
        return QString();
    }();
    return reason;
}

bool SmscFake::start(const QStringList &options) {
    stop();
    const QString script = scriptPath();
    const QString modules = QFileInfo(script).dir().filePath(QStringLiteral("node_modules/smpp"));
    if (!QFileInfo::exists(modules)) {
        m_error = QStringLiteral("%1 is missing: run npm ci in tools/smsc-fake "
                                 "(bash tools/dev.sh test does)")
                      .arg(modules);
        return false;
    }
    QFile::remove(logPath(m_dir));
    QString error;
    m_pid = spawnNode(QStringList{script, QStringLiteral("--port"), QStringLiteral("0"),
                                  QStringLiteral("--log"), logPath(m_dir)} +
                          options,
                      &m_output, error);
    if (m_pid < 0) {
        m_error = QStringLiteral("the fake SMS centre did not start: %1").arg(error);
        return false;
    }
    // The first line says which port it took.
    const QJsonObject first = QJsonDocument::fromJson(readLine(m_output, 15000)).object();
    m_port = static_cast<quint16>(first.value(QStringLiteral("port")).toInt());
    if (first.value(QStringLiteral("event")).toString() != QStringLiteral("listening") ||
        m_port == 0) {
        m_error = QStringLiteral("the fake SMS centre said no port");
        stop();
        return false;
    }
    return true;
}

void SmscFake::stop() {
    if (m_output >= 0) {
        ::close(m_output);
        m_output = -1;
    }
    if (m_pid < 0)
        return;
    const auto pid = static_cast<pid_t>(std::exchange(m_pid, -1));
    ::kill(pid, SIGTERM);
    if (waitChild(pid, 5000) < 0) {
        ::kill(pid, SIGKILL);
        waitChild(pid, 5000);
    }
}

SmppConfig SmscFake::config() const {
    SmppConfig config;
    config.host = QStringLiteral("127.0.0.1");
    config.port = m_port;
    config.systemId = "pelorvane";
    config.password = "secret";
    config.window = 10;
    config.responseTimeoutMs = 5000;
    config.connectTimeoutMs = 5000;
    config.reconnectDelayMs = 50;
    config.maxReconnectDelayMs = 200;
    config.throttleDelayMs = 50;
    config.maxThrottleDelayMs = 200;
    return config;
}

QList<QJsonObject> SmscFake::log(const QString &event) const {
    QList<QJsonObject> entries;
    QFile file(logPath(m_dir));
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (event.isEmpty() || entry.value(QStringLiteral("event")).toString() == event)
            entries.append(entry);
    }
    return entries;
}
