#include "modemsim/ModemSim.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
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

using Clock = std::chrono::steady_clock;

constexpr char CtrlZ = 26;
constexpr char Esc = 27;
constexpr char Backspace = 8;
// Real phones have small input buffers; these bound what garbage can cost.
constexpr qsizetype MaxCommandLine = 1024;
constexpr qsizetype MaxBody = 1024;
constexpr qsizetype MaxPendingInput = 1 << 20;
constexpr qsizetype MaxPendingEcho = 1 << 20;
// The largest SMS-SUBMIT Pdu: five one-octet fields, a 12-octet destination address,
// 7 octets of validity period and 140 octets of user data.
constexpr int MaxTpduOctets = 164;

QString errnoText(const char *what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

void closeFd(int &fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// What the phone sends in reply to one command line or body.
struct Answer {
    QByteArray bytes;
    bool hangup = false;
    bool endless = false; // talk without end from now on
    bool prompt = false;  // the prompt for a message body
    int delayMs = 0;      // at least this long before it goes
};

Answer lines(std::initializer_list<QByteArray> lines) {
    Answer answer;
    for (const QByteArray &line : lines)
        answer.bytes += "\r\n" + line + "\r\n";
    return answer;
}

Answer ok() {
    return lines({"OK"});
}
Answer error() {
    return lines({"ERROR"});
}
Answer cmsError(int code) {
    return lines({"+CMS ERROR: " + QByteArray::number(code)});
}

// What the phone has seen, shared between the serving thread and its readers.
class Records {
public:
    void addCommand(const QByteArray &line) {
        std::lock_guard lock(m_mutex);
        m_commands.append(line);
    }
    // Gives the body's number, counted from 1 over the phone's whole life.
    int addBody(const QByteArray &body) {
        std::lock_guard lock(m_mutex);
        m_bodies.append(body);
        return static_cast<int>(m_bodies.size());
    }
    // Records an accepted message and gives it its message reference (1 to 255, cycling).
    int addReceived(ReceivedSms sms) {
        QString logFile;
        std::optional<CompletedSms> completed;
        {
            std::lock_guard lock(m_mutex);
            sms.reference = static_cast<int>(m_received.size() % 255) + 1;
            m_received.append(sms);
            if (sms.concatTotal > 0)
                completed = addPart(sms);
            if (completed)
                m_completed.append(*completed);
            logFile = m_logFile;
        }
        m_changed.notify_all();
        if (!logFile.isEmpty()) {
            appendLog(logFile, partEntry(sms));
            if (completed)
                appendLog(logFile, completedEntry(*completed));
        }
        return sms.reference;
    }
    void setServing(bool serving) {
        {
            std::lock_guard lock(m_mutex);
            m_serving = serving;
        }
        m_changed.notify_all();
    }
    void setLogFile(const QString &path) {
        std::lock_guard lock(m_mutex);
        m_logFile = path;
    }

    QList<ReceivedSms> received() const {
        std::lock_guard lock(m_mutex);
        return unshared(m_received);
    }
    QList<QByteArray> commands() const {
        std::lock_guard lock(m_mutex);
        return unshared(m_commands);
    }
    QList<QByteArray> bodies() const {
        std::lock_guard lock(m_mutex);
        return unshared(m_bodies);
    }
    QList<CompletedSms> completed() const {
        std::lock_guard lock(m_mutex);
        return unshared(m_completed);
    }
    int bodyCount() const {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_bodies.size());
    }
    bool serving() const {
        std::lock_guard lock(m_mutex);
        return m_serving;
    }
    bool waitForReceived(int count, int timeoutMs) const {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                           [&] { return m_received.size() >= count || !m_serving; });
        return m_received.size() >= count;
    }

private:
    // A copy with an array of its own: an implicitly shared one would be detached later
    // without the lock while the serving thread appends to the original.
    template <typename T>
    static QList<T> unshared(const QList<T> &list) {
        return QList<T>(list.cbegin(), list.cend());
    }

    // The parts received so far of one concatenated message, by part number.
    struct Partial {
        int total = 0;
        QMap<int, QString> texts;
    };

    // Called under the lock. The message once its last missing part has come.
    std::optional<CompletedSms> addPart(const ReceivedSms &sms) {
        const std::pair<QByteArray, int> key{sms.number, sms.concatRef};
        Partial &partial = m_partials[key];
        if (partial.total != sms.concatTotal)
            partial = Partial{sms.concatTotal, {}};
        partial.texts.insert(sms.concatSeq, sms.text);
        if (partial.texts.size() < partial.total)
            return std::nullopt;
        CompletedSms whole{sms.number, sms.concatRef, partial.total, QString()};
        for (const QString &text : std::as_const(partial.texts))
            whole.text += text;
        m_partials.erase(key);
        return whole;
    }

    static QJsonObject partEntry(const ReceivedSms &sms) {
        QJsonObject entry{{QStringLiteral("number"), QString::fromLatin1(sms.number)},
                          {QStringLiteral("coding"), sms.coding},
                          {QStringLiteral("flash"), sms.flash},
                          {QStringLiteral("text"), sms.text}};
        if (sms.concatTotal > 0) {
            entry.insert(QStringLiteral("ref"), sms.concatRef);
            entry.insert(QStringLiteral("total"), sms.concatTotal);
            entry.insert(QStringLiteral("seq"), sms.concatSeq);
        }
        return entry;
    }

    static QJsonObject completedEntry(const CompletedSms &whole) {
        return {{QStringLiteral("number"), QString::fromLatin1(whole.number)},
                {QStringLiteral("ref"), whole.ref},
                {QStringLiteral("parts"), whole.parts},
                {QStringLiteral("text"), whole.text}};
    }

    static void appendLog(const QString &path, const QJsonObject &entry) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append) ||
            file.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n') < 0) {
            qWarning("Cannot append to the message log %s: %s", qPrintable(path),
                     qPrintable(file.errorString()));
        }
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    QList<ReceivedSms> m_received;
    QList<QByteArray> m_commands;
    QList<QByteArray> m_bodies;
    QList<CompletedSms> m_completed;
    std::map<std::pair<QByteArray, int>, Partial> m_partials;
    QString m_logFile;
    bool m_serving = false;
};

// The phone's command interpreter: turns the bytes it receives into echo and answers.
class PhoneEngine {
public:
    PhoneEngine(const ModemSimOptions &options, Records &records)
        : m_options(options), m_records(records), m_pinNeeded(!options.pin.isEmpty()),
          m_serviceCentre(options.noSmsc ? QByteArray() : options.serviceCentre),
          m_registeredAt(Clock::now() + std::chrono::milliseconds(options.registerAfterMs)) {}

    // The period of the lines this phone sends unasked, 0 for none.
    int unsolicitedPeriodMs() const;
    // The next of those lines, with its line ends.
    QByteArray nextUnsolicited();

    // Takes one received byte, appends its echo (if any) to echo, and gives the answer
    // that this byte completes.
    std::optional<Answer> feed(char c, QByteArray &echo);
    // The program closed the port: an unfinished command line is dropped, and so is an
    // unfinished body unless the options keep it.
    void portClosed();

private:
    enum class Skip { None, Lf, CrLf };

    std::optional<Answer> feedCommand(char c);
    std::optional<Answer> feedBody(char c);
    Answer execute(const QByteArray &line);
    Answer startBody(const QByteArray &argument);
    std::optional<Answer> finishBody();
    Answer acceptBody(const QByteArray &body);
    std::optional<Answer> executeStatus(const QByteArray &c);
    Answer enterPin(const QByteArray &argument);
    // The registration state (07.07 <stat>) for the query of one of the three kinds.
    int registration(char kind) const;
    bool huawei() const { return m_options.maker.toLower().contains("huawei"); }

    const ModemSimOptions &m_options;
    Records &m_records;
    bool m_pinNeeded;
    bool m_pukLocked = false;
    int m_pinTries = 3;
    QByteArray m_serviceCentre;
    Clock::time_point m_registeredAt;
    bool m_quiet = false; // AT^CURC=0 received
    int m_nextLine = 0;
    bool m_echo = true;
    bool m_textMode = false;
    bool m_inBody = false;
    Skip m_skip = Skip::None;
    QByteArray m_line;
    bool m_lineOverflow = false;
    QByteArray m_body;
    bool m_bodyOverflow = false;
    int m_expectedOctets = 0;
};

std::optional<Answer> PhoneEngine::feed(char c, QByteArray &echo) {
    // The LF of the CR LF that ended a command line, and the CR LF after a Ctrl-Z,
    // belong to what came before: neither echoed nor part of the next line.
    if (m_skip != Skip::None) {
        const Skip skip = m_skip;
        m_skip = Skip::None;
        if (c == '\n')
            return std::nullopt;
        if (c == '\r' && skip == Skip::CrLf) {
            m_skip = Skip::Lf;
            return std::nullopt;
        }
    }
    if (m_echo && echo.size() < MaxPendingEcho)
        echo.append(c);
    return m_inBody ? feedBody(c) : feedCommand(c);
}

void PhoneEngine::portClosed() {
    if (!m_options.keepBodyOnClose) {
        m_inBody = false;
        m_body.clear();
        m_bodyOverflow = false;
    }
    m_line.clear();
    m_lineOverflow = false;
    m_skip = Skip::None;
}

std::optional<Answer> PhoneEngine::feedCommand(char c) {
    if (c == '\r') {
        m_skip = Skip::Lf;
        const QByteArray line = m_line;
        const bool overflow = m_lineOverflow;
        m_line.clear();
        m_lineOverflow = false;
        if (line.trimmed().isEmpty())
            return std::nullopt;
        m_records.addCommand(line);
        return overflow ? error() : execute(line);
    }
    if (c == Backspace) {
        m_line.chop(1);
    } else if (static_cast<quint8>(c) < 0x20 || c == 0x7F) {
        // Control characters (NUL, LF, Ctrl-Z, ESC, ...) have no meaning in a command line.
    } else if (m_line.size() < MaxCommandLine) {
        m_line.append(c);
    } else {
        m_lineOverflow = true;
    }
    return std::nullopt;
}

Answer PhoneEngine::execute(const QByteArray &line) {
    QByteArray command = line.toUpper();
    command.replace(' ', QByteArray());
    if (!command.startsWith("AT"))
        return error();
    const QByteArray c = command.mid(2);

    if (c.isEmpty())
        return ok();
    if (c == "E0" || c == "E") {
        m_echo = false;
        return ok();
    }
    if (c == "E1") {
        m_echo = true;
        return ok();
    }
    if (c == "Z") {
        m_echo = true;
        m_textMode = false;
        return ok();
    }
    if (c == "I")
        return lines({m_options.maker, m_options.model, "OK"});
    if (c == "+CMGF=?")
        return m_options.refuseCmgfQuery ? error() : lines({"+CMGF: (0,1)", "OK"});
    if (c == "+CMGF=0") {
        if (m_options.refuseCmgf0)
            return error();
        m_textMode = false;
        return ok();
    }
    if (c == "+CMGF=1") {
        m_textMode = true;
        return ok();
    }
    if (c == "+CMGF?")
        return lines({m_textMode ? "+CMGF: 1" : "+CMGF: 0", "OK"});
    if (c == "+CBC")
        return m_options.refuseCbc
                   ? error()
                   : lines({"+CBC: 0," + QByteArray::number(m_options.battery), "OK"});
    if (c == "+GMI" || c == "+CGMI")
        return lines({m_options.maker, "OK"});
    if (c == "+GMM" || c == "+CGMM")
        return m_options.refuseGmm ? error() : lines({m_options.model, "OK"});
    if (c == "+CSQ")
        return lines({"+CSQ: " + QByteArray::number(m_options.signal) + ",99", "OK"});
    if (c.startsWith("+CMEE="))
        return m_options.refuseCmee ? error() : ok();
    if (std::optional<Answer> answer = executeStatus(c))
        return *answer;
    if (c == "+CMGS=?")
        return ok();
    if (c.startsWith("+CMGS="))
        return startBody(c.mid(6));
    return error();
}

namespace {

// What the unasked lines of a flood are: every kind a phone or modem may send, a message
// arriving with its PDU among them.
const QByteArray FloodLines[] = {
    "RING",
    "^RSSI:17",
    "+CMTI: \"SM\",3",
    "^BOOT:20393722,0,0,0,72",
    "^MODE:5,4",
    "+CREG: 1",
    "+CEREG: 1,\"00C3\",\"0010AB12\",7",
    "^SRVST:2",
    "^SIMST:1",
    "^DSFLOWRPT:0000001E,00000000,00000000,0000000000000000,0000000000000000,0003E800,0003E800",
    "+CUSD: 0,\"Balance 5.00\",15",
    "NO CARRIER",
    "+PACSP0",
    "+QIND: \"csq\",20,99",
    "+CDSI: \"SM\",4",
    "+CGREG: 1",
    "+CMT: ,24\r\n07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07",
    "^HCSQ:\"LTE\",50,40,120,20",
};
const QByteArray HuaweiLines[] = {"^RSSI:17", "^MODE:5,4", "^BOOT:20393722,0,0,0,72"};

QByteArray unquoted(QByteArray text) {
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith('"') && text.endsWith('"'))
        text = text.sliced(1, text.size() - 2);
    return text;
}

} // namespace

int PhoneEngine::unsolicitedPeriodMs() const {
    if (m_options.urcFloodMs > 0)
        return m_options.urcFloodMs;
    return huawei() && !m_quiet ? 300 : 0;
}

QByteArray PhoneEngine::nextUnsolicited() {
    const int index = m_nextLine++;
    const QByteArray line = m_options.urcFloodMs > 0 ? FloodLines[index % std::size(FloodLines)]
                                                     : HuaweiLines[index % std::size(HuaweiLines)];
    return "\r\n" + line + "\r\n";
}

int PhoneEngine::registration(char kind) const {
    if (m_options.noSim || m_pinNeeded || m_pukLocked)
        return 0;
    if (m_options.registration == "denied")
        return 3;
    if (m_options.registration == "searching" || Clock::now() < m_registeredAt)
        return 2;
    if (m_options.lteOnly)
        return kind == 'E' ? 1 : 2;
    return 1;
}

// The SIM card, network, operator, service centre and identity queries; nullopt for any
// other command.
std::optional<Answer> PhoneEngine::executeStatus(const QByteArray &c) {
    const bool status = c == "+CPIN?" || c.startsWith("+CPINR") || c == "+CREG?" ||
                        c == "+CGREG?" || c == "+CEREG?" || c == "+COPS?" || c == "+CSCA?" ||
                        c == "+CGSN" || c == "+GSN" || c.startsWith("+CPIN=") ||
                        c.startsWith("+CSCA=") || c.startsWith("^");
    if (!status)
        return std::nullopt;
    if (m_options.oldPhone)
        return error();
    if (c.startsWith("+CPIN=") || c.startsWith("+CPINR") || c == "+CPIN?" || c == "^CPIN?") {
        if (m_options.noSim)
            return lines({"+CME ERROR: 10"});
    }
    const QByteArray simCode = m_pukLocked ? "SIM PUK" : m_pinNeeded ? "SIM PIN" : "READY";
    if (c == "+CPIN?")
        return lines({"+CPIN: " + simCode, "OK"});
    if (c.startsWith("+CPIN="))
        return enterPin(c.mid(6));
    if (c.startsWith("+CPINR")) {
        if (huawei())
            return error();
        const QByteArray pin = "+CPINR: SIM PIN," + QByteArray::number(m_pinTries) + ",3";
        const QByteArray puk = QByteArrayLiteral("+CPINR: SIM PUK,10,10");
        if (c.contains("PUK"))
            return lines({puk, "OK"});
        if (c.contains("PIN"))
            return lines({pin, "OK"});
        return lines({pin, puk, "OK"});
    }
    if (c == "^CPIN?" && huawei())
        return lines({"^CPIN: " + simCode + ',' +
                          QByteArray::number(m_pukLocked ? 10 : m_pinTries) + ",10," +
                          QByteArray::number(m_pinTries) + ",10,3",
                      "OK"});
    if (c == "^CURC=0" && huawei()) {
        m_quiet = true;
        return ok();
    }
    if (c == "+CREG?" || c == "+CGREG?")
        return lines(
            {c.mid(0, c.size() - 1) + ": 0," + QByteArray::number(registration('C')), "OK"});
    if (c == "+CEREG?") {
        if (!m_options.lteOnly)
            return error();
        return lines({"+CEREG: 0," + QByteArray::number(registration('E')), "OK"});
    }
    if (c == "+COPS?") {
        const int state = registration(m_options.lteOnly ? 'E' : 'C');
        if (state != 1)
            return lines({"+COPS: 0", "OK"});
        return lines(
            {QByteArray("+COPS: 0,0,\"Pelorvane Net\",") + (m_options.lteOnly ? "7" : "0"), "OK"});
    }
    if (c == "+CSCA?") {
        if (m_options.noSim)
            return lines({"+CME ERROR: 10"});
        if (m_pinNeeded || m_pukLocked)
            return lines({"+CME ERROR: " + QByteArray(m_pukLocked ? "12" : "11")});
        return lines({"+CSCA: \"" + m_serviceCentre + "\"," +
                          (m_serviceCentre.startsWith('+') ? "145" : "129"),
                      "OK"});
    }
    if (c.startsWith("+CSCA=")) {
        m_serviceCentre = unquoted(c.mid(6).split(',').first());
        return ok();
    }
    if (c == "+CGSN" || c == "+GSN")
        return lines({m_options.imei, "OK"});
    return error();
}

Answer PhoneEngine::enterPin(const QByteArray &argument) {
    if (m_pukLocked)
        return lines({"+CME ERROR: 16"});
    if (!m_pinNeeded)
        return lines({"+CME ERROR: 3"});
    if (unquoted(argument) == m_options.pin) {
        m_pinNeeded = false;
        m_pinTries = 3;
        m_registeredAt = std::max(
            m_registeredAt, Clock::now() + std::chrono::milliseconds(m_options.registerAfterMs));
        return ok();
    }
    if (--m_pinTries <= 0) {
        m_pinTries = 0;
        m_pukLocked = true;
    }
    return lines({"+CME ERROR: 16"});
}

Answer PhoneEngine::startBody(const QByteArray &argument) {
    if (m_textMode)
        return cmsError(302);
    if (m_options.noSim)
        return cmsError(310);
    if (m_pinNeeded || m_pukLocked)
        return cmsError(m_pukLocked ? 316 : 311);
    if (registration('C') != 1 && registration('E') != 1)
        return cmsError(331);
    bool isNumber = !argument.isEmpty() && argument.size() <= 3;
    for (char d : argument)
        isNumber = isNumber && d >= '0' && d <= '9';
    if (!isNumber)
        return error();
    const int octets = argument.toInt();
    if (octets < 1 || octets > MaxTpduOctets)
        return cmsError(304);

    m_inBody = true;
    m_expectedOctets = octets;
    m_body.clear();
    m_bodyOverflow = false;
    Answer prompt;
    prompt.bytes = m_options.barePrompt ? "\r\n>" : "\r\n> ";
    if (m_options.promptWithLineEnd)
        prompt.bytes += "\r\n";
    prompt.delayMs = m_options.promptDelayMs;
    prompt.prompt = true;
    return prompt;
}

std::optional<Answer> PhoneEngine::feedBody(char c) {
    if (c == CtrlZ) {
        m_inBody = false;
        m_skip = Skip::CrLf;
        std::optional<Answer> answer = finishBody();
        if (answer)
            answer->delayMs = std::max(answer->delayMs, m_options.bodyDelayMs);
        return answer;
    }
    if (c == Esc) {
        // Sending cancelled: the phone drops the body and is back in command mode.
        m_inBody = false;
        m_body.clear();
        return ok();
    }
    if (m_body.size() < MaxBody)
        m_body.append(c);
    else
        m_bodyOverflow = true;
    return std::nullopt;
}

std::optional<Answer> PhoneEngine::finishBody() {
    const QByteArray body = m_body;
    m_body.clear();
    const int number = m_records.addBody(body);

    if (number == m_options.hangupAt) {
        Answer hangup;
        hangup.hangup = true;
        return hangup;
    }
    if (number == m_options.silentAt)
        return std::nullopt;
    if (number == m_options.endlessAt) {
        Answer endless;
        endless.endless = true;
        return endless;
    }
    if (number == m_options.failAt)
        return cmsError(500);
    if (m_options.refuseAt.contains(number))
        return lines({m_options.refuseAt.value(number)});
    if (!m_options.refuseEvery.isEmpty())
        return lines({m_options.refuseEvery});
    if (m_bodyOverflow)
        return cmsError(304);
    return acceptBody(body);
}

Answer PhoneEngine::acceptBody(const QByteArray &body) {
    // The body starts with the SMSC field; "00" means the phone's stored centre.
    bool ok = false;
    const int smscOctets = body.left(2).toInt(&ok, 16);
    if (body.size() < 2 || !ok || body.size() < 2 + 2 * smscOctets)
        return cmsError(304);
    // Without a centre of its own the phone needs the one in the body.
    if (smscOctets == 0 && m_serviceCentre.isEmpty())
        return cmsError(330);
    const QByteArray tpdu = body.mid(2 + 2 * smscOctets);
    if (tpdu.size() % 2 != 0 || tpdu.size() / 2 != m_expectedOctets)
        return cmsError(304);

    ReceivedSms sms;
    if (!decodeSubmitPdu(tpdu, &sms))
        return cmsError(304);
    if (m_options.refuseNumber.contains(sms.number))
        return lines({m_options.refuseNumber.value(sms.number)});
    const int reference = m_records.addReceived(sms);
    return lines({"+CMGS: " + QByteArray::number(reference), "OK"});
}

// The descriptors of one pseudo-terminal; owned by ModemSim, used by the serving thread
// while it runs.
struct LineFds {
    int master = -1;
    int slave = -1; // the sim's own hold on the device
    int stop = -1;  // eventfd: stop() asks the serving thread to end
    int watch = -1; // inotify on the device: programs opening and closing the port

    void closeAll() {
        closeFd(master);
        closeFd(slave);
        closeFd(stop);
        closeFd(watch);
    }
};

// Serves one line: moves bytes between the master and the phone engine, with the delay
// before answers, and follows programs opening and closing the port.
class LineServer {
public:
    LineServer(const ModemSimOptions &options, Records &records, LineFds &fds)
        : m_options(options), m_fds(fds), m_engine(options, records) {}

    // Returns when stopped or when the line is gone.
    void run();

private:
    bool processInput();
    bool send(Answer answer);
    bool followOpenAndClose();
    bool drainMaster();

    const ModemSimOptions &m_options;
    LineFds &m_fds;
    PhoneEngine m_engine;
    QByteArray m_input;
    qsizetype m_inputPos = 0;
    QByteArray m_output;
    std::optional<Answer> m_pending;
    Clock::time_point m_due;
    bool m_discardAnswers = false;
    // Talking without end (ModemSimOptions::endlessAt) until the port is closed.
    bool m_endless = false;
    // When the next line unasked is due.
    Clock::time_point m_nextUnsolicited = Clock::now();
    // Programs holding the port, from the device's open and close events. Identical
    // events that pile up unread are merged by the kernel, so two programs opening (or
    // closing) within microseconds count once; programs use the port one at a time.
    int m_holders = 0;
};

// Sends an answer, or hangs up the line; false once the line is gone.
bool LineServer::send(Answer answer) {
    if (answer.hangup) {
        // Closing the master is what the program's port sees as a hang-up (POLLHUP, EIO).
        closeFd(m_fds.master);
        closeFd(m_fds.slave);
        return false;
    }
    if (m_discardAnswers)
        return true;
    if (answer.endless) {
        m_endless = true;
        return true;
    }
    if (!m_options.unsolicited.isEmpty())
        m_output += "\r\n" + m_options.unsolicited + "\r\n";
    m_output += answer.bytes;
    // A flood does not spare the moment the program is about to send a body.
    if (answer.prompt && m_options.urcFloodMs > 0)
        m_output += m_engine.nextUnsolicited();
    return true;
}

// Feeds the received bytes to the phone until an answer has to wait; false once the line
// is gone.
bool LineServer::processInput() {
    while (!m_pending && m_inputPos < m_input.size()) {
        std::optional<Answer> answer = m_engine.feed(m_input[m_inputPos++], m_output);
        if (!answer)
            continue;
        const int delayMs = std::max(m_options.delayMs, answer->delayMs);
        if (delayMs > 0 && !m_discardAnswers) {
            m_pending = std::move(answer);
            m_due = Clock::now() + std::chrono::milliseconds(delayMs);
        } else if (!send(std::move(*answer))) {
            return false;
        }
    }
    if (m_inputPos == m_input.size()) {
        m_input.clear();
        m_inputPos = 0;
    }
    return true;
}

// Reads what is waiting on the master; false once the line is gone.
bool LineServer::drainMaster() {
    char buffer[4096];
    while (m_input.size() - m_inputPos < MaxPendingInput) {
        const ssize_t n = ::read(m_fds.master, buffer, sizeof buffer);
        if (n > 0) {
            m_input.append(buffer, n);
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
bool LineServer::followOpenAndClose() {
    bool lastClosed = false;
    bool openedSinceClose = false;
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t n = ::read(m_fds.watch, events, sizeof events);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            if (event->mask & IN_OPEN) {
                ++m_holders;
                openedSinceClose = true;
            }
            if ((event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) && m_holders > 0 &&
                --m_holders == 0) {
                lastClosed = true;
                openedSinceClose = false;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (!lastClosed)
        return true;

    ::ioctl(m_fds.slave, TIOCNXCL);
    m_pending.reset();
    // Once the next program has opened the port, what waits on the master may be its own.
    m_discardAnswers = true;
    const bool open = (openedSinceClose || drainMaster()) && processInput();
    m_discardAnswers = false;
    if (!open)
        return false;
    m_output.clear();
    m_endless = false;
    m_engine.portClosed();
    ::tcflush(m_fds.slave, TCIFLUSH);
    return true;
}

void LineServer::run() {
    for (;;) {
        if (!processInput())
            return;
        // A little at a time, as fast as the program reads it: memory stays bounded.
        while (m_endless && m_output.size() < 4096) {
            m_output += m_options.endlessText;
            if (m_options.endlessLineEnds)
                m_output += "\r\n";
            if (m_options.endlessText.isEmpty() && !m_options.endlessLineEnds)
                break;
        }

        int timeout = -1;
        // Lines unasked go to a program that has the port open, between whole answers, and
        // not without bound while it does not read.
        if (const int period = m_engine.unsolicitedPeriodMs();
            period > 0 && (m_holders > 0 || m_fds.watch < 0)) {
            const auto now = Clock::now();
            if (now >= m_nextUnsolicited) {
                if (m_output.size() < 4096)
                    m_output += m_engine.nextUnsolicited();
                m_nextUnsolicited = now + std::chrono::milliseconds(period);
            }
            timeout = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(m_nextUnsolicited - now).count());
        }
        if (m_pending) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(m_due - Clock::now()).count();
            if (left <= 0) {
                const bool open = send(std::move(*m_pending));
                m_pending.reset();
                if (!open)
                    return;
                continue;
            }
            timeout =
                timeout < 0 ? static_cast<int>(left) : std::min(timeout, static_cast<int>(left));
        }

        pollfd fds[3] = {{m_fds.stop, POLLIN, 0}, {m_fds.master, 0, 0}, {m_fds.watch, POLLIN, 0}};
        if (m_input.size() - m_inputPos < MaxPendingInput)
            fds[1].events |= POLLIN;
        if (!m_output.isEmpty())
            fds[1].events |= POLLOUT;
        if (::poll(fds, m_fds.watch >= 0 ? 3 : 2, timeout) < 0) {
            if (errno == EINTR)
                continue;
            qWarning("Simulated phone: %s", qPrintable(errnoText("poll")));
            return;
        }
        if (fds[0].revents)
            return;
        if (fds[1].revents & (POLLERR | POLLNVAL | POLLHUP))
            return; // cannot happen while the sim holds the slave open; never spin on it

        // Opens and closes first: a program's close is reported before the next program
        // can open the port and write.
        if (m_fds.watch >= 0 && !followOpenAndClose())
            return;
        if ((fds[1].revents & POLLIN) && !drainMaster())
            return;
        if ((fds[1].revents & POLLOUT) && !m_output.isEmpty()) {
            const ssize_t n = ::write(m_fds.master, m_output.constData(), m_output.size());
            if (n > 0)
                m_output.remove(0, n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
        }
    }
}

} // namespace

struct ModemSim::State {
    explicit State(ModemSimOptions options) : options(std::move(options)) {}

    const ModemSimOptions options;
    Records records;

    std::mutex pathMutex;
    QString portPath;

    std::thread thread;
    LineFds fds;
};

ModemSim::ModemSim(ModemSimOptions options)
    : m_state(std::make_unique<State>(std::move(options))) {}

ModemSim::~ModemSim() {
    stop();
}

bool ModemSim::start(QString *error) {
    auto fail = [&](const char *what) {
        const QString reason = errnoText(what);
        m_state->fds.closeAll();
        if (error)
            *error = reason;
        return false;
    };
    if (m_state->thread.joinable()) {
        if (error)
            *error = QStringLiteral("The simulated phone is already running");
        return false;
    }

    State &s = *m_state;
    s.fds.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s.fds.master < 0)
        return fail("posix_openpt");
    if (::grantpt(s.fds.master) != 0)
        return fail("grantpt");
    if (::unlockpt(s.fds.master) != 0)
        return fail("unlockpt");
    char name[128];
    if (::ptsname_r(s.fds.master, name, sizeof name) != 0)
        return fail("ptsname");
    // Holding the slave open keeps the master from seeing a hang-up whenever the
    // program closes its port, and keeps the line settings for the next opener.
    s.fds.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s.fds.slave < 0)
        return fail("open slave");
    termios tio{};
    if (::tcgetattr(s.fds.slave, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(s.fds.slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    const int flags = ::fcntl(s.fds.master, F_GETFL);
    if (flags < 0 || ::fcntl(s.fds.master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");
    s.fds.stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.fds.stop < 0)
        return fail("eventfd");
    // Added after the sim's own open, so only programs' opens and closes are reported.
    // Without it (inotify limits reached) the phone still serves, only less like a real line.
    s.fds.watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (s.fds.watch >= 0 &&
        ::inotify_add_watch(s.fds.watch, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        qWarning("Simulated phone: %s", qPrintable(errnoText("inotify_add_watch")));
        closeFd(s.fds.watch);
    }

    {
        std::lock_guard lock(s.pathMutex);
        s.portPath = QString::fromLocal8Bit(name);
    }
    s.records.setServing(true);
    s.thread = std::thread([&s] {
        LineServer(s.options, s.records, s.fds).run();
        s.records.setServing(false);
    });
    return true;
}

void ModemSim::stop() {
    State &s = *m_state;
    if (!s.thread.joinable())
        return;
    const uint64_t one = 1;
    if (::write(s.fds.stop, &one, sizeof one) != sizeof one)
        qWarning("Simulated phone: %s", qPrintable(errnoText("eventfd write")));
    s.thread.join();
    s.fds.closeAll();
    s.records.setServing(false);
}

QString ModemSim::portPath() const {
    std::lock_guard lock(m_state->pathMutex);
    return m_state->portPath;
}

QList<ReceivedSms> ModemSim::received() const {
    return m_state->records.received();
}
QList<QByteArray> ModemSim::commands() const {
    return m_state->records.commands();
}
QList<QByteArray> ModemSim::bodies() const {
    return m_state->records.bodies();
}
QList<CompletedSms> ModemSim::completed() const {
    return m_state->records.completed();
}
int ModemSim::bodiesSeen() const {
    return m_state->records.bodyCount();
}
bool ModemSim::isServing() const {
    return m_state->records.serving();
}

bool ModemSim::waitForReceived(int count, int timeoutMs) const {
    return m_state->records.waitForReceived(count, timeoutMs);
}

void ModemSim::setLogFile(const QString &path) {
    m_state->records.setLogFile(path);
}
