#include "tools/cli/CliPort.h"

#include "app/AppData.h"
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
    if (i + 1 >= args.size() || args[i + 1].isEmpty())
        error = QStringLiteral("--port needs a port name");
    else
        port = args[++i];
    return true;
}

int PortChoice::apply(AppData &data, CliContext &context) {
    if (simulate && !port.isEmpty())
        return context.usageError(QStringLiteral("Give either --port or --simulate"));
    if (simulate) {
        sim = std::make_unique<ModemSim>();
        QString error;
        if (!sim->start(&error))
            return context.fail(QStringLiteral("Cannot start the simulated phone: ") + error);
        port = sim->portPath();
    }
    if (!port.isEmpty())
        data.settings->setSessionPort(port.toLocal8Bit());
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
