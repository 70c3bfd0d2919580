#include "tools/cli/CliCommands.h"
#include "tools/cli/CliPort.h"

#include "app/Database.h"
#include "app/Errors.h"
#include "link/PhoneUnit.h"
#include "sending/SenderThread.h"
#include "tools/modemsim/ModemSim.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Ctrl+C asks the run to stop as the window's Stop does; the signal handler only writes a
// byte that the event loop picks up.
int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(SignalPipe[1], &byte, 1);
}

class TSignalStop {
public:
    explicit TSignalStop(TPhone &phone) {
        if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        FNotifier = std::make_unique<QSocketNotifier>(SignalPipe[0], QSocketNotifier::Read);
        QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(), [&phone] {
            char buffer[16];
            while (::read(SignalPipe[0], buffer, sizeof buffer) > 0) {
            }
            phone.StopWorker();
        });
        struct sigaction action = {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &FOldInt);
        ::sigaction(SIGTERM, &action, &FOldTerm);
    }
    ~TSignalStop() {
        if (!FNotifier)
            return;
        ::sigaction(SIGINT, &FOldInt, nullptr);
        ::sigaction(SIGTERM, &FOldTerm, nullptr);
        FNotifier.reset();
        ::close(SignalPipe[0]);
        ::close(SignalPipe[1]);
        SignalPipe[0] = SignalPipe[1] = -1;
    }

private:
    std::unique_ptr<QSocketNotifier> FNotifier;
    struct sigaction FOldInt = {};
    struct sigaction FOldTerm = {};
};

// Progress from the sender's refreshes: the first one of a message says it is being sent,
// the second one gives its outcome. The sender goes forward through the outbox, so one
// cursor finds each message in a single pass overall.
class TProgress {
public:
    TProgress(TMessageList &outbox, TCliContext &context, int total)
        : FOutbox(outbox), FContext(context), FTotal(total), FBar(::isatty(STDERR_FILENO)) {}

    void Refresh() {
        TMessageList::TLocker items(FOutbox);
        const int count = static_cast<int>(items->size());
        if (!FCurrent) {
            for (; FCursor < count; ++FCursor) {
                if ((*items)[FCursor]->Status == msSending) {
                    FCurrent = (*items)[FCursor];
                    ++FIndex;
                    break;
                }
            }
            return;
        }
        const bool sent = FCurrent->Status == msSent;
        if (sent)
            ++FSent;
        if (FBar) {
            const int width = 30;
            const int done = FTotal > 0 ? FIndex * width / FTotal : width;
            FContext.Err << '\r' << '[' << QString(done, QLatin1Char('#'))
                         << QString(width - done, QLatin1Char(' ')) << "] " << FIndex << '/'
                         << FTotal << Qt::flush;
        } else {
            FContext.Err << "Message " << FIndex << " of " << FTotal << " to "
                         << CliPrintable(QString::fromLocal8Bit(FCurrent->Number)) << ": "
                         << (sent ? "sent" : "not sent") << '\n'
                         << Qt::flush;
        }
        FCurrent.reset();
    }

    void Finish() {
        if (FBar && FIndex > 0)
            FContext.Err << '\n' << Qt::flush;
    }

    int Sent() const { return FSent; }

private:
    TMessageList &FOutbox;
    TCliContext &FContext;
    int FTotal;
    bool FBar;
    int FCursor = 0;
    int FIndex = 0;
    int FSent = 0;
    TMessageList::TItem FCurrent;
};

int PendingCount(TMessageList &outbox) {
    TMessageList::TLocker items(outbox);
    int pending = 0;
    for (const auto &message : *items)
        if (message->Status == msPending)
            ++pending;
    return pending;
}

} // namespace

int CmdSend(const QStringList &args, TCliContext &context) {
    TPortChoice portChoice;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        QString error;
        if (portChoice.Take(args, i, error)) {
            if (!error.isEmpty())
                return context.UsageError(error);
        } else if (arg.startsWith(QLatin1String("--"))) {
            return context.UsageError(QStringLiteral("Unknown option: ") + CliPrintable(arg));
        } else {
            positional << arg;
        }
    }
    if (positional.size() != 1)
        return context.UsageError(QStringLiteral("Give the project file"));

    try {
        TDataModule1 data;
        data.Load(positional[0]);
        if (const int status = portChoice.Apply(data, context); status != csOk)
            return status;

        const int pending = PendingCount(*data.OutboxList);
        TProgress progress(*data.OutboxList, context, pending);
        data.OnRefreshAll = [&progress] { progress.Refresh(); };
        TSignalStop signalStop(*data.Phone);

        if (!RunWorkerToEnd(data, new TSenderThread(data)))
            return context.Fail(QStringLiteral("Phone already busy"));
        progress.Finish();
        data.OnRefreshAll = nullptr;

        // Whatever happened, the accepted messages are filed and kept.
        data.MoveSentMessages();
        data.Save();
        const QList<QByteArray> reports = data.Phone->Reports;
        for (const QByteArray &line : reports)
            if (!line.isEmpty())
                context.Out << CliPrintable(QString::fromLocal8Bit(line)) << '\n';
        context.Out << "Sent " << progress.Sent() << " of " << pending << '\n';
        return progress.Sent() == pending ? csOk : csFailed;
    } catch (const EPelorvane &e) {
        return context.Fail(e.Message());
    }
}
