#include "tools/cli/CliCommands.h"
#include "tools/cli/CliPort.h"

#include "app/Database.h"
#include "app/Errors.h"
#include "app/Setting.h"
#include "sending/GetInfoThread.h"
#include "tools/modemsim/ModemSim.h"

#include <optional>

int CmdProbe(const QStringList &args, TCliContext &context) {
    TPortChoice portChoice;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        QString error;
        if (portChoice.Take(args, i, error)) {
            if (!error.isEmpty())
                return context.UsageError(error);
        } else if (arg.startsWith(QLatin1String("--"))) {
            return context.UsageError(QStringLiteral("Unknown option: ") + CliPrintable(arg));
        } else {
            return context.UsageError(QStringLiteral("Unexpected argument: ") + CliPrintable(arg));
        }
    }

    try {
        // The settings give the port when none is named; they are only read.
        TDataModule1 data;
        if (const int status = portChoice.Apply(data, context); status != csOk)
            return status;

        std::optional<TGetInfoThread::TResult> result;
        if (!RunWorkerToEnd(data,
                            new TGetInfoThread(
                                [&result](const TGetInfoThread::TResult &done) { result = done; })))
            return context.Fail(QStringLiteral("Phone already busy"));

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
