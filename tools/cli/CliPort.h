#pragma once

#include "tools/cli/Cli.h"
#include "tools/modemsim/ModemSim.h"

#include <memory>

class TBaseThread;
class TDataModule1;

// "--port NAME" or "--simulate": the phone a command talks to for this run only; the stored
// port setting is never changed.
struct TPortChoice {
    QString Port;
    bool Simulate = false;
    std::unique_ptr<TModemSim> Sim;

    // Takes args[i] (and its value) when it is one of the two options; false when it is not.
    // A missing value sets error.
    bool Take(const QStringList &args, int &i, QString &error);
    // Starts the simulated phone when asked and gives the data module the session port.
    // Returns csOk or the status to exit with, after telling the user.
    int Apply(TDataModule1 &data, TCliContext &context);
};

// Starts worker on the data module's phone and serves events until its end handler has run.
// False, without starting it, when the phone already has a worker.
bool RunWorkerToEnd(TDataModule1 &data, TBaseThread *worker);
