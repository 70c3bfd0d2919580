#include "tools/cli/CliCommands.h"
#include "tools/cli/CliPort.h"

#include "app/AppData.h"
#include "app/ProjectJournal.h"
#include "app/ProjectLock.h"
#include "base/Error.h"
#include "link/Phone.h"
#include "modemsim/ModemSim.h"
#include "sending/SendingWorker.h"
#include "sms/SmsSubmit.h"
#include "tools/cli/CliLock.h"
#include "tools/cli/CliPace.h"
#include "tools/cli/CliSmpp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

// Ctrl+C, SIGTERM and SIGHUP (the ssh session closed) ask the run to stop as the window's Stop
// does, so that every outcome is kept; the signal handler only writes a byte that the event
// loop picks up. SIGPIPE is ignored: a closed output (send ... | head -1) is a write error,
// not the end of a run that holds accepted messages.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

class SignalStop {
public:
    explicit SignalStop(Phone &phone) {
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [&phone] {
            char buffer[16];
            while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
            }
            phone.stopWorker();
        });
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
        ::sigaction(SIGHUP, &action, &m_oldHup);
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, &m_oldPipe);
    }
    ~SignalStop() {
        if (!m_notifier)
            return;
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        ::sigaction(SIGHUP, &m_oldHup, nullptr);
        ::sigaction(SIGPIPE, &m_oldPipe, nullptr);
        m_notifier.reset();
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
    struct sigaction m_oldHup = {};
    struct sigaction m_oldPipe = {};
};

// Progress from the sender's refreshes: the first one of a message says it is being sent,
// the second one gives its outcome, and one comes when a wait begins and ends. On a terminal
// one line is rewritten ("Sending 12 of 300 — about 4 min left", then where each phone stands
// when there are several); elsewhere (a log, a pipe) each outcome, each wait and each change of
// a phone's state is a line of its own. Claims go forward through the outbox, so one cursor
// finds each message in a single pass overall. A run through an SMS centre has many messages
// under way and refreshes now and then: its lines follow the run's messages in outbox order,
// each once it has its outcome.
class Progress {
public:
    Progress(MessageList &outbox, CliContext &context, int total, const SendingWorker &worker,
             bool windowed)
        : m_outbox(outbox), m_context(context), m_total(total), m_worker(worker),
          m_run(worker.progress()), m_terminal(::isatty(STDERR_FILENO)), m_windowed(windowed) {
        if (!m_windowed || m_terminal)
            return;
        MessageList::Locker items(m_outbox);
        for (const auto &message : *items)
            if (message->status == MessageStatus::Pending)
                m_runMessages.push_back(message);
    }

    void refresh() {
        const QList<PhoneRunStatus> phones = m_worker.phoneStatuses();
        if (m_terminal) {
            QString line = m_run.text();
            if (!line.isEmpty() && !phones.isEmpty())
                line += QStringLiteral(" — ") + PhoneRunStatus::line(phones);
            if (!line.isEmpty() && line != m_shown) {
                // Back to the line's start, the text, the rest of the old line cleared.
                m_context.err << '\r' << cliPrintable(line) << "\x1b[K" << Qt::flush;
                m_shown = line;
            }
            return;
        }
        const QString waiting = m_run.waitingText();
        if (waiting != m_waiting) {
            m_waiting = waiting;
            if (!waiting.isEmpty())
                m_context.err << cliPrintable(waiting) << '\n' << Qt::flush;
        }
        if (m_windowed) {
            printDone(false);
            return;
        }
        showPhoneChanges(phones);
        MessageList::Locker items(m_outbox);
        // The outcomes first: the refresh after a message's outcome comes before its phone
        // claims the next one.
        for (qsizetype i = 0; i < m_inFlight.size();) {
            const MessageList::Item &item = m_inFlight[i].first;
            // A message that is tried again later gives its outcome only then.
            if (item->status == MessageStatus::Sending) {
                ++i;
                continue;
            }
            m_context.err << "Message " << m_inFlight[i].second << " of " << m_total << " to "
                          << cliPrintable(QString::fromLocal8Bit(item->number())) << ": "
                          << outcome(*item) << '\n'
                          << Qt::flush;
            m_inFlight.removeAt(i);
        }
        const int count = static_cast<int>(items->size());
        for (; m_cursor < count; ++m_cursor) {
            const MessageList::Item &item = (*items)[m_cursor];
            // A refresh between messages (a wait) must not carry the cursor past the next
            // one to go.
            if (item->status == MessageStatus::Pending)
                break;
            if (item->status == MessageStatus::Sending)
                m_inFlight.append({item, ++m_index});
        }
    }

    void finish() {
        if (m_terminal && !m_shown.isEmpty())
            m_context.err << '\n' << Qt::flush;
        if (m_windowed && !m_terminal)
            printDone(true);
    }

private:
    // The run's messages that have their outcome, from the cursor on; at the end past the ones
    // that went back to pending.
    void printDone(bool atEnd) {
        MessageList::Locker items(m_outbox);
        for (; m_cursor < static_cast<int>(m_runMessages.size()); ++m_cursor) {
            const MessageList::Item &message = m_runMessages[m_cursor];
            const bool done = message->status != MessageStatus::Pending &&
                              message->status != MessageStatus::Sending;
            if (!done && !atEnd)
                return;
            if (!done)
                continue;
            m_context.err << "Message " << m_cursor + 1 << " of " << m_total << " to "
                          << cliPrintable(QString::fromLocal8Bit(message->number())) << ": "
                          << outcome(*message) << '\n';
        }
        m_context.err.flush();
    }

    static QString outcome(const MessageRecord &message) {
        // The phone is named when the run had several.
        const QString via =
            message.phone().isEmpty() ? QString() : QStringLiteral(" via ") + message.phone();
        switch (message.status) {
        case MessageStatus::Sent:
            return QStringLiteral("sent") + cliPrintable(via);
        case MessageStatus::Failed:
            return QStringLiteral("failed (%1)").arg(cliPrintable(message.reason()));
        case MessageStatus::Unknown:
            return QStringLiteral("unknown (%1)").arg(cliPrintable(message.reason()));
        default:
            return QStringLiteral("not sent");
        }
    }

    // A line when a phone starts sending, waits, pauses or is done; its counts alone are no
    // news (the message lines tell them).
    void showPhoneChanges(const QList<PhoneRunStatus> &phones) {
        QList<QPair<PhoneRunStatus::State, QString>> states;
        for (const PhoneRunStatus &phone : phones)
            states.append({phone.state, phone.detail});
        if (states == m_phoneStates)
            return;
        m_phoneStates = states;
        m_context.err << cliPrintable(PhoneRunStatus::line(phones)) << '\n' << Qt::flush;
    }

    MessageList &m_outbox;
    CliContext &m_context;
    int m_total;
    const SendingWorker &m_worker;
    const RunProgress &m_run;
    bool m_terminal;
    bool m_windowed;
    std::vector<MessageList::Item> m_runMessages;
    QString m_shown;
    QString m_waiting;
    QList<QPair<PhoneRunStatus::State, QString>> m_phoneStates;
    int m_cursor = 0;
    int m_index = 0;
    // The messages being sent, with their number in the run.
    QList<QPair<MessageList::Item, int>> m_inFlight;
};

int pendingCount(MessageList &outbox) {
    MessageList::Locker items(outbox);
    int pending = 0;
    for (const auto &message : *items)
        if (message->status == MessageStatus::Pending)
            ++pending;
    return pending;
}

// The PIN of --pin-file (its first line) or PELORVANE_PIN; never written anywhere.
std::optional<QByteArray> readPin(const QString &pinFile, QString &error) {
    if (pinFile.isEmpty()) {
        if (!qEnvironmentVariableIsSet("PELORVANE_PIN"))
            return std::nullopt;
        return qgetenv("PELORVANE_PIN").trimmed();
    }
    QFile file(pinFile);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Cannot read the PIN file %1: %2")
                    .arg(cliPrintable(pinFile), file.errorString());
        return std::nullopt;
    }
    return file.readLine(64).trimmed();
}

} // namespace

int cmdSend(const QStringList &args, CliContext &context) {
    PortChoice portChoice;
    PaceChoice paceChoice;
    SmppChoice smppChoice;
    QStringList positional;
    std::optional<QList<int>> retryDelays;
    bool stopAtFirstRefusal = false;
    bool wait = false;
    QString pinFile;
    QString serviceCentre;
    std::optional<int> networkWaitMs;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        QString error;
        if (portChoice.take(args, i, error)) {
            if (!error.isEmpty())
                return context.usageError(error);
        } else if (paceChoice.take(args, i, error)) {
            if (!error.isEmpty())
                return context.usageError(error);
        } else if (smppChoice.take(args, i, error)) {
            if (!error.isEmpty())
                return context.usageError(error);
        } else if (arg == QLatin1String("--retry-after")) {
            QList<int> delays;
            if (i + 1 >= args.size() || args[i + 1].trimmed().isEmpty() ||
                !Settings::parseRetryDelays(args[i + 1], &delays))
                return context.usageError(
                    QStringLiteral("--retry-after needs seconds separated by commas, as 5,30,120"));
            retryDelays = delays;
            ++i;
        } else if (arg == QLatin1String("--stop-at-first-refusal")) {
            stopAtFirstRefusal = true;
        } else if (arg == QLatin1String("--wait")) {
            wait = true;
        } else if (arg == QLatin1String("--pin-file")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                return context.usageError(QStringLiteral("--pin-file needs a file"));
            pinFile = args[++i];
        } else if (arg == QLatin1String("--smsc")) {
            if (i + 1 >= args.size() || serviceCentreField(args[i + 1].toLatin1()).size() < 4)
                return context.usageError(
                    QStringLiteral("--smsc needs the service centre's number, as +491710760000"));
            serviceCentre = args[++i];
        } else if (arg == QLatin1String("--network-wait")) {
            bool ok = false;
            const int seconds = i + 1 < args.size() ? args[i + 1].toInt(&ok) : -1;
            if (!ok || seconds < 0 || seconds > 86400)
                return context.usageError(
                    QStringLiteral("--network-wait needs seconds from 0 to 86400"));
            networkWaitMs = seconds * 1000;
            ++i;
        } else if (arg.startsWith(QLatin1String("--"))) {
            return context.usageError(QStringLiteral("Unknown option: ") + cliPrintable(arg));
        } else {
            positional << arg;
        }
    }
    if (positional.size() != 1)
        return context.usageError(QStringLiteral("Give the project file"));
    if (const QString problem = smppChoice.problem(); !problem.isEmpty())
        return context.usageError(problem);
    if (smppChoice.given() && (portChoice.simulate || !portChoice.ports.isEmpty()))
        return context.usageError(QStringLiteral("Give either --smpp or a phone"));

    try {
        AppData data;
        holdProjectLocks(data, QStringLiteral("pelorvane-cli send"), wait, context.err);
        data.load(positional[0]);
        if (const int status = portChoice.apply(data, context); status != ExitOk)
            return status;
        if (portChoice.simulate || !portChoice.ports.isEmpty())
            data.settings->setSessionConnectionKind(ConnectionKind::Phone);
        if (const int status = smppChoice.apply(data, context); status != ExitOk)
            return status;
        if (retryDelays)
            data.settings->setRetryDelaysMs(*retryDelays);
        if (stopAtFirstRefusal)
            data.settings->setStopAtFirstRefusal(true);
        if (!serviceCentre.isEmpty())
            data.settings->setSessionServiceCentre(serviceCentre.toLatin1());
        if (networkWaitMs)
            data.settings->setNetworkWaitMs(*networkWaitMs);
        QString pinError;
        const std::optional<QByteArray> pin = readPin(pinFile, pinError);
        if (!pinError.isEmpty()) {
            context.err << pinError << '\n';
            return ExitNotStarted;
        }
        // The PIN goes once: given again after a refusal it would only count down the card's
        // tries.
        data.readiness.askPin = [pin, given = false](const PinRequest &) mutable {
            if (given)
                return std::optional<QByteArray>();
            given = true;
            return pin;
        };
        data.readiness.showStatus = [&context](const QString &status) {
            if (!status.isEmpty())
                context.err << status << '\n' << Qt::flush;
        };
        data.readiness.showNetwork = [&context](const QString &network) {
            context.err << "Network: " << cliPrintable(network) << '\n' << Qt::flush;
        };
        data.readiness.pinAdvice =
            "give it with --pin-file FILE or the environment variable PELORVANE_PIN";
        data.readiness.serviceCentreAdvice =
            "give your provider's number with --smsc NUMBER (it goes into each message)";
        data.readiness.networkWaitAdvice = "--network-wait SECONDS gives it longer";
        if (paceChoice.given())
            data.settings->setSessionPacePlan(
                paceChoice.applyTo(data.settings->pacePlan(), QDateTime::currentDateTime()));

        // Before the first message: every outcome can be recorded (the project saves, its
        // journal can be written), or nothing is sent at all.
        std::unique_ptr<SendingWorker> sender;
        try {
            data.save();
        } catch (const Error &e) {
            context.err << cliPrintable(e.message()) << '\n'
                        << "Nothing was sent: the outcomes could not be recorded.\n";
            return ExitNotStarted;
        }
        try {
            sender.reset(data.newSender());
        } catch (const Error &e) {
            // The journal could not be opened, or the run's settings are wrong.
            context.err << cliPrintable(e.message()) << '\n' << "Nothing was sent.\n";
            return ExitNotStarted;
        }

        const int pending = pendingCount(*data.outboxList);
        Progress progress(*data.outboxList, context, pending, *sender,
                          data.settings->connectionKind() == ConnectionKind::SmsCentre);
        data.onRefreshAll = [&progress] { progress.refresh(); };
        SignalStop signalStop(*data.phone);

        RunSummary summary;
        const auto readSummary = [&summary](WorkerThread &worker) {
            if (auto *sender = qobject_cast<SendingWorker *>(&worker))
                summary = sender->summary();
        };
        if (!runWorkerToEnd(data, sender.release(), readSummary))
            return context.fail(QStringLiteral("Phone already busy"));
        progress.finish();
        data.onRefreshAll = nullptr;

        // Whatever happened, the accepted messages are filed and kept.
        data.moveSentMessages();
        QString saveError;
        try {
            data.save();
        } catch (const Error &e) {
            saveError = e.message();
        }
        const QList<QByteArray> reports = data.phone->reports;
        for (const QByteArray &line : reports)
            if (!line.isEmpty())
                context.out << cliPrintableLines(QString::fromLocal8Bit(line)) << '\n';
        if (!summary.started) {
            context.out.flush();
            return ExitNotStarted;
        }
        context.out << summary.text() << '\n';
        if (!saveError.isEmpty()) {
            // Nothing is lost: the next load of the project folds the journal in.
            context.err << cliPrintable(saveError) << '\n'
                        << "The outcomes are kept in "
                        << cliPrintable(QDir::toNativeSeparators(data.journal->path())) << '\n';
            return ExitFailed;
        }
        return summary.sent == pending ? ExitOk : ExitFailed;
    } catch (const ProjectInUseError &e) {
        context.err << cliPrintable(e.message()) << '\n';
        return ExitNotStarted;
    } catch (const Error &e) {
        return context.fail(e.message());
    }
}
