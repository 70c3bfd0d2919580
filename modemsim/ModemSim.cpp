#include "tools/modemsim/ModemSim.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

constexpr char CtrlZ = 26;
constexpr char Esc = 27;
constexpr char Backspace = 8;
// Real phones have small input buffers; these bound what garbage can cost.
constexpr qsizetype MaxCommandLine = 1024;
constexpr qsizetype MaxBody = 1024;
constexpr qsizetype MaxPendingInput = 1 << 20;
constexpr qsizetype MaxPendingEcho = 1 << 20;
// The largest SMS-SUBMIT TPDU: five one-octet fields, a 12-octet destination address,
// 7 octets of validity period and 140 octets of user data.
constexpr int MaxTpduOctets = 164;

QString ErrnoText(const char *what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

void CloseFd(int &fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// What the phone sends in reply to one command line or body.
struct TAnswer {
    QByteArray Bytes;
    bool Hangup = false;
};

TAnswer Lines(std::initializer_list<QByteArray> lines) {
    TAnswer answer;
    for (const QByteArray &line : lines)
        answer.Bytes += "\r\n" + line + "\r\n";
    return answer;
}

TAnswer Ok() {
    return Lines({"OK"});
}
TAnswer Error() {
    return Lines({"ERROR"});
}
TAnswer CmsError(int code) {
    return Lines({"+CMS ERROR: " + QByteArray::number(code)});
}

// What the phone has seen, shared between the serving thread and its readers.
class TRecords {
public:
    void AddCommand(const QByteArray &line) {
        std::lock_guard lock(FMutex);
        FCommands.append(line);
    }
    // Gives the body's number, counted from 1 over the phone's whole life.
    int AddBody(const QByteArray &body) {
        std::lock_guard lock(FMutex);
        FBodies.append(body);
        return static_cast<int>(FBodies.size());
    }
    // Records an accepted message and gives it its message reference (1 to 255, cycling).
    int AddReceived(TReceivedSms sms) {
        QString logFile;
        {
            std::lock_guard lock(FMutex);
            sms.Reference = static_cast<int>(FReceived.size() % 255) + 1;
            FReceived.append(sms);
            logFile = FLogFile;
        }
        FChanged.notify_all();
        if (!logFile.isEmpty())
            AppendLog(logFile, sms);
        return sms.Reference;
    }
    void SetServing(bool serving) {
        {
            std::lock_guard lock(FMutex);
            FServing = serving;
        }
        FChanged.notify_all();
    }
    void SetLogFile(const QString &path) {
        std::lock_guard lock(FMutex);
        FLogFile = path;
    }

    QList<TReceivedSms> Received() const {
        std::lock_guard lock(FMutex);
        return Unshared(FReceived);
    }
    QList<QByteArray> Commands() const {
        std::lock_guard lock(FMutex);
        return Unshared(FCommands);
    }
    QList<QByteArray> Bodies() const {
        std::lock_guard lock(FMutex);
        return Unshared(FBodies);
    }
    int BodyCount() const {
        std::lock_guard lock(FMutex);
        return static_cast<int>(FBodies.size());
    }
    bool Serving() const {
        std::lock_guard lock(FMutex);
        return FServing;
    }
    bool WaitForReceived(int count, int timeoutMs) const {
        std::unique_lock lock(FMutex);
        FChanged.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                          [&] { return FReceived.size() >= count || !FServing; });
        return FReceived.size() >= count;
    }

private:
    // A copy with an array of its own: an implicitly shared one would be detached later
    // without the lock while the serving thread appends to the original.
    template <typename T>
    static QList<T> Unshared(const QList<T> &list) {
        return QList<T>(list.cbegin(), list.cend());
    }

    static void AppendLog(const QString &path, const TReceivedSms &sms) {
        const QJsonObject entry{{QStringLiteral("number"), QString::fromLatin1(sms.Number)},
                                {QStringLiteral("coding"), sms.Coding},
                                {QStringLiteral("flash"), sms.Flash},
                                {QStringLiteral("text"), sms.Text}};
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append) ||
            file.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n') < 0) {
            qWarning("Cannot append to the message log %s: %s", qPrintable(path),
                     qPrintable(file.errorString()));
        }
    }

    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    QList<TReceivedSms> FReceived;
    QList<QByteArray> FCommands;
    QList<QByteArray> FBodies;
    QString FLogFile;
    bool FServing = false;
};

// The phone's command interpreter: turns the bytes it receives into echo and answers.
class TPhoneEngine {
public:
    TPhoneEngine(const TModemSimOptions &options, TRecords &records)
        : FOptions(options), FRecords(records) {}

    // Takes one received byte, appends its echo (if any) to echo, and gives the answer
    // that this byte completes.
    std::optional<TAnswer> Feed(char c, QByteArray &echo);
    // The program closed the port: an unfinished command line or body is dropped.
    void PortClosed();

private:
    enum class TSkip { None, Lf, CrLf };

    std::optional<TAnswer> FeedCommand(char c);
    std::optional<TAnswer> FeedBody(char c);
    TAnswer Execute(const QByteArray &line);
    TAnswer StartBody(const QByteArray &argument);
    std::optional<TAnswer> FinishBody();
    TAnswer AcceptBody(const QByteArray &body);

    const TModemSimOptions &FOptions;
    TRecords &FRecords;
    bool FEcho = true;
    bool FTextMode = false;
    bool FInBody = false;
    TSkip FSkip = TSkip::None;
    QByteArray FLine;
    bool FLineOverflow = false;
    QByteArray FBody;
    bool FBodyOverflow = false;
    int FExpectedOctets = 0;
};

std::optional<TAnswer> TPhoneEngine::Feed(char c, QByteArray &echo) {
    // The LF of the CR LF that ended a command line, and the CR LF after a Ctrl-Z,
    // belong to what came before: neither echoed nor part of the next line.
    if (FSkip != TSkip::None) {
        const TSkip skip = FSkip;
        FSkip = TSkip::None;
        if (c == '\n')
            return std::nullopt;
        if (c == '\r' && skip == TSkip::CrLf) {
            FSkip = TSkip::Lf;
            return std::nullopt;
        }
    }
    if (FEcho && echo.size() < MaxPendingEcho)
        echo.append(c);
    return FInBody ? FeedBody(c) : FeedCommand(c);
}

void TPhoneEngine::PortClosed() {
    FInBody = false;
    FBody.clear();
    FBodyOverflow = false;
    FLine.clear();
    FLineOverflow = false;
    FSkip = TSkip::None;
}

std::optional<TAnswer> TPhoneEngine::FeedCommand(char c) {
    if (c == '\r') {
        FSkip = TSkip::Lf;
        const QByteArray line = FLine;
        const bool overflow = FLineOverflow;
        FLine.clear();
        FLineOverflow = false;
        if (line.trimmed().isEmpty())
            return std::nullopt;
        FRecords.AddCommand(line);
        return overflow ? Error() : Execute(line);
    }
    if (c == Backspace) {
        FLine.chop(1);
    } else if (static_cast<quint8>(c) < 0x20 || c == 0x7F) {
        // Control characters (NUL, LF, Ctrl-Z, ESC, ...) have no meaning in a command line.
    } else if (FLine.size() < MaxCommandLine) {
        FLine.append(c);
    } else {
        FLineOverflow = true;
    }
    return std::nullopt;
}

TAnswer TPhoneEngine::Execute(const QByteArray &line) {
    QByteArray command = line.toUpper();
    command.replace(' ', QByteArray());
    if (!command.startsWith("AT"))
        return Error();
    const QByteArray c = command.mid(2);

    if (c.isEmpty())
        return Ok();
    if (c == "E0" || c == "E") {
        FEcho = false;
        return Ok();
    }
    if (c == "E1") {
        FEcho = true;
        return Ok();
    }
    if (c == "Z") {
        FEcho = true;
        FTextMode = false;
        return Ok();
    }
    if (c == "I")
        return Lines({FOptions.Maker, FOptions.Model, "OK"});
    if (c == "+CMGF=?")
        return FOptions.RefuseCmgfQuery ? Error() : Lines({"+CMGF: (0,1)", "OK"});
    if (c == "+CMGF=0") {
        if (FOptions.RefuseCmgf0)
            return Error();
        FTextMode = false;
        return Ok();
    }
    if (c == "+CMGF=1") {
        FTextMode = true;
        return Ok();
    }
    if (c == "+CMGF?")
        return Lines({FTextMode ? "+CMGF: 1" : "+CMGF: 0", "OK"});
    if (c == "+CBC")
        return FOptions.RefuseCbc
                   ? Error()
                   : Lines({"+CBC: 0," + QByteArray::number(FOptions.Battery), "OK"});
    if (c == "+GMI" || c == "+CGMI")
        return Lines({FOptions.Maker, "OK"});
    if (c == "+GMM" || c == "+CGMM")
        return FOptions.RefuseGmm ? Error() : Lines({FOptions.Model, "OK"});
    if (c == "+CSQ")
        return Lines({"+CSQ: " + QByteArray::number(FOptions.Signal) + ",99", "OK"});
    if (c == "+CMGS=?")
        return Ok();
    if (c.startsWith("+CMGS="))
        return StartBody(c.mid(6));
    return Error();
}

TAnswer TPhoneEngine::StartBody(const QByteArray &argument) {
    if (FTextMode)
        return CmsError(302);
    bool isNumber = !argument.isEmpty() && argument.size() <= 3;
    for (char d : argument)
        isNumber = isNumber && d >= '0' && d <= '9';
    if (!isNumber)
        return Error();
    const int octets = argument.toInt();
    if (octets < 1 || octets > MaxTpduOctets)
        return CmsError(304);

    FInBody = true;
    FExpectedOctets = octets;
    FBody.clear();
    FBodyOverflow = false;
    TAnswer prompt;
    prompt.Bytes = FOptions.PromptWithLineEnd ? "\r\n> \r\n" : "\r\n> ";
    return prompt;
}

std::optional<TAnswer> TPhoneEngine::FeedBody(char c) {
    if (c == CtrlZ) {
        FInBody = false;
        FSkip = TSkip::CrLf;
        return FinishBody();
    }
    if (c == Esc) {
        // Sending cancelled: the phone drops the body and is back in command mode.
        FInBody = false;
        FBody.clear();
        return Ok();
    }
    if (FBody.size() < MaxBody)
        FBody.append(c);
    else
        FBodyOverflow = true;
    return std::nullopt;
}

std::optional<TAnswer> TPhoneEngine::FinishBody() {
    const QByteArray body = FBody;
    FBody.clear();
    const int number = FRecords.AddBody(body);

    if (number == FOptions.HangupAt) {
        TAnswer hangup;
        hangup.Hangup = true;
        return hangup;
    }
    if (number == FOptions.SilentAt)
        return std::nullopt;
    if (number == FOptions.FailAt)
        return CmsError(500);
    if (FBodyOverflow)
        return CmsError(304);
    return AcceptBody(body);
}

TAnswer TPhoneEngine::AcceptBody(const QByteArray &body) {
    // The body starts with the SMSC field; "00" means the phone's stored centre.
    bool ok = false;
    const int smscOctets = body.left(2).toInt(&ok, 16);
    if (body.size() < 2 || !ok || body.size() < 2 + 2 * smscOctets)
        return CmsError(304);
    const QByteArray tpdu = body.mid(2 + 2 * smscOctets);
    if (tpdu.size() % 2 != 0 || tpdu.size() / 2 != FExpectedOctets)
        return CmsError(304);

    TReceivedSms sms;
    if (!DecodeSubmitPdu(tpdu, &sms))
        return CmsError(304);
    const int reference = FRecords.AddReceived(sms);
    return Lines({"+CMGS: " + QByteArray::number(reference), "OK"});
}

// The descriptors of one pseudo-terminal; owned by TModemSim, used by the serving thread
// while it runs.
struct TLineFds {
    int Master = -1;
    int Slave = -1; // the sim's own hold on the device
    int Stop = -1;  // eventfd: Stop() asks the serving thread to end
    int Watch = -1; // inotify on the device: programs opening and closing the port

    void CloseAll() {
        CloseFd(Master);
        CloseFd(Slave);
        CloseFd(Stop);
        CloseFd(Watch);
    }
};

// Serves one line: moves bytes between the master and the phone engine, with the delay
// before answers, and follows programs opening and closing the port.
class TLineServer {
public:
    TLineServer(const TModemSimOptions &options, TRecords &records, TLineFds &fds)
        : FOptions(options), FFds(fds), FEngine(options, records) {}

    // Returns when stopped or when the line is gone.
    void Run();

private:
    bool ProcessInput();
    bool Send(TAnswer answer);
    bool FollowOpenAndClose();
    bool DrainMaster();

    const TModemSimOptions &FOptions;
    TLineFds &FFds;
    TPhoneEngine FEngine;
    QByteArray FInput;
    qsizetype FInputPos = 0;
    QByteArray FOutput;
    std::optional<TAnswer> FPending;
    TClock::time_point FDue;
    bool FDiscardAnswers = false;
    // Programs holding the port, from the device's open and close events. Identical
    // events that pile up unread are merged by the kernel, so two programs opening (or
    // closing) within microseconds count once; programs use the port one at a time.
    int FHolders = 0;
};

// Sends an answer, or hangs up the line; false once the line is gone.
bool TLineServer::Send(TAnswer answer) {
    if (answer.Hangup) {
        // Closing the master is what the program's port sees as a hang-up (POLLHUP, EIO).
        CloseFd(FFds.Master);
        CloseFd(FFds.Slave);
        return false;
    }
    if (FDiscardAnswers)
        return true;
    if (!FOptions.Unsolicited.isEmpty())
        FOutput += "\r\n" + FOptions.Unsolicited + "\r\n";
    FOutput += answer.Bytes;
    return true;
}

// Feeds the received bytes to the phone until an answer has to wait; false once the line
// is gone.
bool TLineServer::ProcessInput() {
    while (!FPending && FInputPos < FInput.size()) {
        std::optional<TAnswer> answer = FEngine.Feed(FInput[FInputPos++], FOutput);
        if (!answer)
            continue;
        if (FOptions.DelayMs > 0 && !FDiscardAnswers) {
            FPending = std::move(answer);
            FDue = TClock::now() + std::chrono::milliseconds(FOptions.DelayMs);
        } else if (!Send(std::move(*answer))) {
            return false;
        }
    }
    if (FInputPos == FInput.size()) {
        FInput.clear();
        FInputPos = 0;
    }
    return true;
}

// Reads what is waiting on the master; false once the line is gone.
bool TLineServer::DrainMaster() {
    char buffer[4096];
    while (FInput.size() - FInputPos < MaxPendingInput) {
        const ssize_t n = ::read(FFds.Master, buffer, sizeof buffer);
        if (n > 0) {
            FInput.append(buffer, n);
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
    return true;
}

// When the last program holding the port closes it, the phone still takes what was
// written, but what it sends is lost, as on a real line whose port is closed; an
// unfinished command line or body is dropped, so the phone does not wait at its prompt
// for a program that has gone. The exclusive-use flag a program may have set (TIOCEXCL)
// is cleared too: the sim's own hold keeps the device alive, so the flag would otherwise
// lock out every later non-root opener. False once the line is gone.
bool TLineServer::FollowOpenAndClose() {
    bool lastClosed = false;
    bool openedSinceClose = false;
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t n = ::read(FFds.Watch, events, sizeof events);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            if (event->mask & IN_OPEN) {
                ++FHolders;
                openedSinceClose = true;
            }
            if ((event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) && FHolders > 0 &&
                --FHolders == 0) {
                lastClosed = true;
                openedSinceClose = false;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (!lastClosed)
        return true;

    ::ioctl(FFds.Slave, TIOCNXCL);
    FPending.reset();
    // Once the next program has opened the port, what waits on the master may be its own.
    FDiscardAnswers = true;
    const bool open = (openedSinceClose || DrainMaster()) && ProcessInput();
    FDiscardAnswers = false;
    if (!open)
        return false;
    FOutput.clear();
    FEngine.PortClosed();
    ::tcflush(FFds.Slave, TCIFLUSH);
    return true;
}

void TLineServer::Run() {
    for (;;) {
        if (!ProcessInput())
            return;

        int timeout = -1;
        if (FPending) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(FDue - TClock::now()).count();
            if (left <= 0) {
                const bool open = Send(std::move(*FPending));
                FPending.reset();
                if (!open)
                    return;
                continue;
            }
            timeout = static_cast<int>(left);
        }

        pollfd fds[3] = {{FFds.Stop, POLLIN, 0}, {FFds.Master, 0, 0}, {FFds.Watch, POLLIN, 0}};
        if (FInput.size() - FInputPos < MaxPendingInput)
            fds[1].events |= POLLIN;
        if (!FOutput.isEmpty())
            fds[1].events |= POLLOUT;
        if (::poll(fds, FFds.Watch >= 0 ? 3 : 2, timeout) < 0) {
            if (errno == EINTR)
                continue;
            qWarning("Simulated phone: %s", qPrintable(ErrnoText("poll")));
            return;
        }
        if (fds[0].revents)
            return;
        if (fds[1].revents & (POLLERR | POLLNVAL | POLLHUP))
            return; // cannot happen while the sim holds the slave open; never spin on it

        // Opens and closes first: a program's close is reported before the next program
        // can open the port and write.
        if (FFds.Watch >= 0 && !FollowOpenAndClose())
            return;
        if ((fds[1].revents & POLLIN) && !DrainMaster())
            return;
        if ((fds[1].revents & POLLOUT) && !FOutput.isEmpty()) {
            const ssize_t n = ::write(FFds.Master, FOutput.constData(), FOutput.size());
            if (n > 0)
                FOutput.remove(0, n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
        }
    }
}

} // namespace

struct TModemSim::TState {
    explicit TState(TModemSimOptions options) : Options(std::move(options)) {}

    const TModemSimOptions Options;
    TRecords Records;

    std::mutex PathMutex;
    QString PortPath;

    std::thread Thread;
    TLineFds Fds;
};

TModemSim::TModemSim(TModemSimOptions options)
    : FState(std::make_unique<TState>(std::move(options))) {}

TModemSim::~TModemSim() {
    Stop();
}

bool TModemSim::Start(QString *error) {
    auto fail = [&](const char *what) {
        const QString reason = ErrnoText(what);
        FState->Fds.CloseAll();
        if (error)
            *error = reason;
        return false;
    };
    if (FState->Thread.joinable()) {
        if (error)
            *error = QStringLiteral("The simulated phone is already running");
        return false;
    }

    TState &s = *FState;
    s.Fds.Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s.Fds.Master < 0)
        return fail("posix_openpt");
    if (::grantpt(s.Fds.Master) != 0)
        return fail("grantpt");
    if (::unlockpt(s.Fds.Master) != 0)
        return fail("unlockpt");
    char name[128];
    if (::ptsname_r(s.Fds.Master, name, sizeof name) != 0)
        return fail("ptsname");
    // Holding the slave open keeps the master from seeing a hang-up whenever the
    // program closes its port, and keeps the line settings for the next opener.
    s.Fds.Slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s.Fds.Slave < 0)
        return fail("open slave");
    termios tio{};
    if (::tcgetattr(s.Fds.Slave, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(s.Fds.Slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    const int flags = ::fcntl(s.Fds.Master, F_GETFL);
    if (flags < 0 || ::fcntl(s.Fds.Master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");
    s.Fds.Stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.Fds.Stop < 0)
        return fail("eventfd");
    // Added after the sim's own open, so only programs' opens and closes are reported.
    // Without it (inotify limits reached) the phone still serves, only less like a real line.
    s.Fds.Watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (s.Fds.Watch >= 0 &&
        ::inotify_add_watch(s.Fds.Watch, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        qWarning("Simulated phone: %s", qPrintable(ErrnoText("inotify_add_watch")));
        CloseFd(s.Fds.Watch);
    }

    {
        std::lock_guard lock(s.PathMutex);
        s.PortPath = QString::fromLocal8Bit(name);
    }
    s.Records.SetServing(true);
    s.Thread = std::thread([&s] {
        TLineServer(s.Options, s.Records, s.Fds).Run();
        s.Records.SetServing(false);
    });
    return true;
}

void TModemSim::Stop() {
    TState &s = *FState;
    if (!s.Thread.joinable())
        return;
    const uint64_t one = 1;
    if (::write(s.Fds.Stop, &one, sizeof one) != sizeof one)
        qWarning("Simulated phone: %s", qPrintable(ErrnoText("eventfd write")));
    s.Thread.join();
    s.Fds.CloseAll();
    s.Records.SetServing(false);
}

QString TModemSim::PortPath() const {
    std::lock_guard lock(FState->PathMutex);
    return FState->PortPath;
}

QList<TReceivedSms> TModemSim::Received() const {
    return FState->Records.Received();
}
QList<QByteArray> TModemSim::Commands() const {
    return FState->Records.Commands();
}
QList<QByteArray> TModemSim::Bodies() const {
    return FState->Records.Bodies();
}
int TModemSim::BodiesSeen() const {
    return FState->Records.BodyCount();
}
bool TModemSim::IsServing() const {
    return FState->Records.Serving();
}

bool TModemSim::WaitForReceived(int count, int timeoutMs) const {
    return FState->Records.WaitForReceived(count, timeoutMs);
}

void TModemSim::SetLogFile(const QString &path) {
    FState->Records.SetLogFile(path);
}
