#include "tools/cli/CliCommands.h"

#include "app/Database.h"
#include "app/Errors.h"
#include "app/Setting.h"
#include "link/PhoneUnit.h"
#include "sending/GetInfoThread.h"
#include "tools/modemsim/ModemSim.h"

#include <QEventLoop>

#include <memory>
#include <optional>

int CmdProbe(const QStringList &args, TCliContext &context) {
    QString port;
    bool simulate = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--port")) {
            if (i + 1 >= args.size())
                return context.UsageError(QStringLiteral("--port needs a port name"));
            port = args[++i];
        } else if (arg == QLatin1String("--simulate")) {
            simulate = true;
        } else if (arg.startsWith(QLatin1String("--"))) {
            return context.UsageError(QStringLiteral("Unknown option: ") + CliPrintable(arg));
        } else {
            return context.UsageError(QStringLiteral("Unexpected argument: ") + CliPrintable(arg));
        }
    }
    if (simulate && !port.isEmpty())
        return context.UsageError(QStringLiteral("Give either --port or --simulate"));

    std::unique_ptr<TModemSim> sim;
    try {
        // The settings give the port when none is named; they are only read.
        TDataModule1 data;
        if (simulate) {
            sim = std::make_unique<TModemSim>();
            QString error;
            if (!sim->Start(&error))
                return context.Fail(QStringLiteral("Cannot start the simulated phone: ") + error);
            port = sim->PortPath();
        }
        if (!port.isEmpty())
            data.Settings->SetSessionPort(port.toLocal8Bit());

        std::optional<TGetInfoThread::TResult> result;
        QEventLoop loop;
        data.Phone->OnWorkerDone = [&loop](TPhone &) { loop.quit(); };
        bool started = false;
        WithPhoneLock(*data.Phone, [&] {
            if (!data.Phone->IsBusy()) {
                data.Phone->Start(new TGetInfoThread(
                    [&result](const TGetInfoThread::TResult &done) { result = done; }));
                started = true;
            }
        });
        if (!started)
            return context.Fail(QStringLiteral("Phone already busy"));
        loop.exec();

        const QString portShown =
            CliPrintable(QString::fromLocal8Bit(data.Settings->ComPortName()));
        if (!result)
            return context.Fail(QStringLiteral("The probe of %1 did not finish").arg(portShown));
        switch (result->Outcome) {
        case TGetInfoThread::poBusy:
            return context.Fail(QStringLiteral("Phone already busy"));
        case TGetInfoThread::poFailed:
            return context.Fail(portShown + QStringLiteral(": ") + CliPrintable(result->Error));
        case TGetInfoThread::poDone:
        case TGetInfoThread::poRefused:
            break;
        }
        for (int row = 0; row < TGetInfoThread::RowCount; ++row) {
            context.Out << QString::fromLatin1(TGetInfoThread::RowCaptions[row]) << ": "
                        << CliPrintable(QString::fromLocal8Bit(result->Values[row])) << '\n';
        }
        if (result->Outcome == TGetInfoThread::poRefused) {
            context.Err << "Note: the phone refused " << QString::fromLatin1(result->RefusedCommand)
                        << "; the rows after it are empty\n";
        }
        return csOk;
    } catch (const EPelorvane &e) {
        return context.Fail(e.Message());
    }
}
