#pragma once

#include <functional>

#include "modemsim/ModemSim.h"
#include "tools/cli/Cli.h"

#include <memory>

class WorkerThread;
class AppData;

// "--port NAME" (up to 16 times, one per phone) or "--simulate": the phones a command talks to
// for this run only; the stored port settings are never changed.
struct PortChoice {
    QStringList ports;
    bool simulate = false;
    std::unique_ptr<ModemSim> sim;

    // Takes args[i] (and its value) when it is one of the two options; false when it is not.
    // A missing value, a port given twice or a 17th sets error.
    bool take(const QStringList &args, int &i, QString &error);
    // Starts the simulated phone when asked and gives the data module the session ports.
    // Returns ExitOk or the status to exit with, after telling the user.
    int apply(AppData &data, CliContext &context);
};

// Starts worker on the data module's phone and serves events until its end handler has run.
// False, without starting it, when the phone already has a worker.
// whenDone, when given, reads what the worker did before it is freed.
bool runWorkerToEnd(AppData &data, WorkerThread *worker,
                    const std::function<void(WorkerThread &)> &whenDone = {});
