#include "tools/cli/CliPort.h"

#include "app/AppData.h"
#include "app/Settings.h"
#include "link/Phone.h"
#include "link/WorkerThread.h"

#include <QEventLoop>

bool PortChoice::take(const QStringList &args, int &i, QString &error) {
    if (args[i] == QLatin1String("--simulate")) {
        simulate = true;
        return true;
    }
    if (args[i] != QLatin1String("--port"))
        return false;
    // An empty name would silently mean the stored port.
    if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
        error = QStringLiteral("--port needs a port name");
        return true;
    }
    const QString port = args[++i];
    if (ports.size() >= Settings::MaxPhones) {
        error = QStringLiteral("--port can be given at most %1 times").arg(Settings::MaxPhones);
        return true;
    }
    for (const QString &given : std::as_const(ports)) {
        if (Settings::samePort(given.toLocal8Bit(), port.toLocal8Bit())) {
            error = QStringLiteral("--port %1 is given twice").arg(cliPrintable(port));
            return true;
        }
    }
    ports << port;
    return true;
}

int PortChoice::apply(AppData &data, CliContext &context) {
    if (simulate && !ports.isEmpty())
        return context.usageError(QStringLiteral("Give either --port or --simulate"));
    if (simulate) {
        sim = std::make_unique<ModemSim>();
        QString error;
        if (!sim->start(&error))
            return context.fail(QStringLiteral("Cannot start the simulated phone: ") + error);
        ports = QStringList{sim->portPath()};
    }
    if (ports.isEmpty())
        return ExitOk;
    QList<QByteArray> names;
    for (const QString &port : std::as_const(ports))
        names << port.toLocal8Bit();
    QString error;
    if (!data.settings->setSessionPorts(names, &error))
        return context.usageError(cliPrintable(error));
    return ExitOk;
}

bool runWorkerToEnd(AppData &data, WorkerThread *worker,
                    const std::function<void(WorkerThread &)> &whenDone) {
    std::unique_ptr<WorkerThread> owned(worker);
    QEventLoop loop;
    data.phone->onWorkerDone = [&loop, &whenDone](Phone &phone) {
        if (whenDone && phone.endedWorker())
            whenDone(*phone.endedWorker());
        loop.quit();
    };
    withPhoneLock(*data.phone, [&] {
        if (!data.phone->isBusy())
            data.phone->start(owned.release());
    });
    if (owned)
        return false;
    loop.exec();
    return true;
}
