#include "tools/cli/CliCommands.h"
#include "tools/cli/CliPort.h"
#include "tools/cli/CliSmpp.h"

#include "app/AppData.h"
#include "app/Settings.h"
#include "base/Error.h"
#include "modemsim/ModemSim.h"
#include "sending/ProbeThread.h"
#include "smpp/SmppProbe.h"
#include "sms/SmsSubmit.h"

#include <optional>

namespace {

// Probes the phone on the settings' current port and prints its rows; the exit status of a
// probe of that phone alone.
int probePhone(AppData &data, CliContext &context) {
    std::optional<ProbeThread::Result> result;
    if (!runWorkerToEnd(
            data, new ProbeThread([&result](const ProbeThread::Result &done) { result = done; },
                                  data.settings->serviceCentre())))
        return context.fail(QStringLiteral("Phone already busy"));

    const QString portShown = cliPrintable(QString::fromLocal8Bit(data.settings->comPortName()));
    if (!result)
        return context.fail(QStringLiteral("The probe of %1 did not finish").arg(portShown));
    switch (result->outcome) {
    case ProbeThread::Busy:
        return context.fail(QStringLiteral("Phone already busy"));
    case ProbeThread::Failed:
        return context.fail(portShown + QStringLiteral(": ") + cliPrintableLines(result->error));
    case ProbeThread::Done:
    case ProbeThread::Refused:
        break;
    }
    for (int row = 0; row < ProbeThread::RowCount; ++row) {
        context.out << QString::fromLatin1(ProbeThread::RowCaptions[row]) << ": "
                    << cliPrintable(QString::fromLocal8Bit(result->values[row])) << '\n';
    }
    if (result->outcome == ProbeThread::Refused) {
        context.err << "Note: the phone refused " << QString::fromLatin1(result->refusedCommand)
                    << "; the rows after it up to Signal Strength are empty\n";
    }
    return result->canSend ? ExitOk : ExitFailed;
}

} // namespace

int cmdProbe(const QStringList &args, CliContext &context) {
    PortChoice portChoice;
    SmppChoice smppChoice;
    QString serviceCentre;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        QString error;
        if (portChoice.take(args, i, error)) {
            if (!error.isEmpty())
                return context.usageError(error);
        } else if (smppChoice.take(args, i, error)) {
            if (!error.isEmpty())
                return context.usageError(error);
        } else if (arg == QLatin1String("--smsc")) {
            if (i + 1 >= args.size() || serviceCentreField(args[i + 1].toLatin1()).size() < 4)
                return context.usageError(
                    QStringLiteral("--smsc needs the service centre's number, as +491710760000"));
            serviceCentre = args[++i];
        } else if (arg.startsWith(QLatin1String("--"))) {
            return context.usageError(QStringLiteral("Unknown option: ") + cliPrintable(arg));
        } else {
            return context.usageError(QStringLiteral("Unexpected argument: ") + cliPrintable(arg));
        }
    }

    if (const QString problem = smppChoice.problem(); !problem.isEmpty())
        return context.usageError(problem);
    if (smppChoice.given() && (portChoice.simulate || !portChoice.ports.isEmpty()))
        return context.usageError(QStringLiteral("Give either --smpp or a phone"));

    try {
        // The settings give the port when none is named; they are only read.
        AppData data;
        if (smppChoice.given()) {
            if (const int status = smppChoice.apply(data, context); status != ExitOk)
                return status;
            // Binds, says how it went, unbinds.
            const SmppProbe::Result result = SmppProbe::run(data.smppConfig());
            (result.ok ? context.out : context.err) << cliPrintableLines(result.text) << '\n';
            return result.ok ? ExitOk : ExitFailed;
        }
        if (const int status = portChoice.apply(data, context); status != ExitOk)
            return status;
        if (!serviceCentre.isEmpty())
            data.settings->setSessionServiceCentre(serviceCentre.toLatin1());
        if (portChoice.ports.size() <= 1)
            return probePhone(data, context);

        // One phone after the other, each under its port: the probe of one phone is quick.
        int status = ExitOk;
        for (const QString &port : std::as_const(portChoice.ports)) {
            context.out << "Phone on " << cliPrintable(port) << ":\n";
            data.settings->setSessionPort(port.toLocal8Bit());
            if (probePhone(data, context) != ExitOk)
                status = ExitFailed;
            context.out << Qt::flush;
        }
        return status;
    } catch (const Error &e) {
        return context.fail(e.message());
    }
}
