#include "tools/cli/CliPort.h"

#include "app/Database.h"
#include "link/BaseThread.h"
#include "link/PhoneUnit.h"

#include <QEventLoop>

bool TPortChoice::Take(const QStringList &args, int &i, QString &error) {
    if (args[i] == QLatin1String("--simulate")) {
        Simulate = true;
        return true;
    }
    if (args[i] != QLatin1String("--port"))
        return false;
    if (i + 1 >= args.size())
        error = QStringLiteral("--port needs a port name");
    else
        Port = args[++i];
    return true;
}

int TPortChoice::Apply(TDataModule1 &data, TCliContext &context) {
    if (Simulate && !Port.isEmpty())
        return context.UsageError(QStringLiteral("Give either --port or --simulate"));
    if (Simulate) {
        Sim = std::make_unique<TModemSim>();
        QString error;
        if (!Sim->Start(&error))
            return context.Fail(QStringLiteral("Cannot start the simulated phone: ") + error);
        Port = Sim->PortPath();
    }
    if (!Port.isEmpty())
        data.Settings->SetSessionPort(Port.toLocal8Bit());
    return csOk;
}

bool RunWorkerToEnd(TDataModule1 &data, TBaseThread *worker) {
    std::unique_ptr<TBaseThread> owned(worker);
    QEventLoop loop;
    data.Phone->OnWorkerDone = [&loop](TPhone &) { loop.quit(); };
    WithPhoneLock(*data.Phone, [&] {
        if (!data.Phone->IsBusy())
            data.Phone->Start(owned.release());
    });
    if (owned)
        return false;
    loop.exec();
    return true;
}
