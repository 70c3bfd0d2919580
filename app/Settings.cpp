#include "app/Settings.h"

#include "data/PhoneNumberParser.h"
#include "link/SerialPort.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTemporaryFile>

#include <algorithm>

namespace {

const QString Section = QStringLiteral("Setting");
const QString PortKey = QStringLiteral("COM Port");
const QString DefaultPort = QStringLiteral("COM1");
const QString DisabledPhonesKey = QStringLiteral("Disabled Phones");
const QString ReferenceKey = QStringLiteral("Long Message Reference");
const QString CountryKey = QStringLiteral("Country");
const QString RetryKey = QStringLiteral("Retry After");
const QString DefaultRetry = QStringLiteral("5,30,120");
const QString StopAtFirstRefusalKey = QStringLiteral("Stop At First Refusal");
const QString ServiceCentreKey = QStringLiteral("Service Centre");
const QString NetworkWaitKey = QStringLiteral("Network Wait");
constexpr int DefaultNetworkWaitSeconds = 60;
const QString PaceSection = QStringLiteral("Pace");
const QString IntervalKey = QStringLiteral("Interval");
const QString JitterKey = QStringLiteral("Jitter");
const QString PerHourKey = QStringLiteral("Per Hour");
const QString PerDayKey = QStringLiteral("Per Day");
const QString QuietKey = QStringLiteral("Quiet Hours");
const QString CountsSection = QStringLiteral("Sent Counts");
constexpr int DefaultJitter = 25;
const QString SmppSection = QStringLiteral("SMPP");
const QString ConnectionKey = QStringLiteral("Connection");
const QString HostKey = QStringLiteral("Host");
const QString SmppPortKey = QStringLiteral("Port");
const QString TlsKey = QStringLiteral("TLS");
const QString SystemIdKey = QStringLiteral("System ID");
const QString SystemTypeKey = QStringLiteral("System Type");
const QString SourceKey = QStringLiteral("Source");
const QString BindKey = QStringLiteral("Bind");
const QString ReceiptsKey = QStringLiteral("Receipts");
const QString WindowKey = QStringLiteral("Window");
const QString RateKey = QStringLiteral("Rate");
const QString CertificateKey = QStringLiteral("Certificate");
const QString Latin1Key = QStringLiteral("Latin-1 Default");
constexpr int MaxWindow = 1000;
// A day: longer waits are a typing mistake rather than a wish.
constexpr double MaxRetrySeconds = 86400;

// Trying is the only answer that holds for read-only mounts, ACLs and root alike.
bool canCreateFilesIn(const QString &dir) {
    if (!QFileInfo(dir).isDir())
        return false;
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".pelorvane-probe-XXXXXX")));
    return probe.open();
}

// A SIM's identity as a key the file can hold.
QString tallyKey(const QString &sim) {
    QString key = sim.trimmed();
    key.replace(QLatin1Char('='), QLatin1Char('_'));
    return key.isEmpty() ? QStringLiteral("Port") : key;
}

class SettingsLedger final : public SentLedger {
public:
    explicit SettingsLedger(Settings &settings) : m_settings(settings) {}
    SentTally tally(const QString &sim) override { return m_settings.sentTally(sim); }
    void setTally(const QString &sim, const SentTally &tally) override {
        m_settings.setSentTally(sim, tally);
    }

private:
    Settings &m_settings;
};

PacePlan readPace(const IniFile &ini) {
    PacePlan plan;
    bool ok = false;
    const double seconds = ini.readString(PaceSection, IntervalKey, QString()).toDouble(&ok);
    if (ok && seconds > 0 && seconds <= MaxRetrySeconds)
        plan.intervalMs = qRound(seconds * 1000);
    plan.jitterPercent = std::clamp(ini.readInteger(PaceSection, JitterKey, DefaultJitter), 0, 100);
    plan.perHour = std::max(ini.readInteger(PaceSection, PerHourKey, 0), 0);
    plan.perDay = std::max(ini.readInteger(PaceSection, PerDayKey, 0), 0);
    if (!PacePlan::parseQuietHours(ini.readString(PaceSection, QuietKey, QString()),
                                   &plan.quietFrom, &plan.quietUntil))
        plan.quietFrom = plan.quietUntil = QTime();
    return plan;
}

// "COM Port", "COM Port 2", ...: number counts from 1.
QString portKey(int number) {
    return number == 1 ? PortKey : PortKey + QLatin1Char(' ') + QString::number(number);
}

// A deep copy: a worker's string then shares no reference count with the UI thread's.
QByteArray detached(const QByteArray &name) {
    return QByteArray(name.constData(), name.size());
}

bool checkPorts(const QList<QByteArray> &ports, QString *error) {
    QString problem;
    if (ports.isEmpty())
        problem = QStringLiteral("Give at least one phone");
    else if (ports.size() > Settings::MaxPhones)
        problem = QStringLiteral("At most %1 phones can be used at once").arg(Settings::MaxPhones);
    for (qsizetype i = 0; i < ports.size() && problem.isEmpty(); ++i) {
        if (ports[i].trimmed().isEmpty()) {
            problem = QStringLiteral("A phone needs a port name");
            break;
        }
        for (qsizetype j = 0; j < i; ++j) {
            if (Settings::samePort(ports[i], ports[j])) {
                problem = QStringLiteral("%1 is given twice").arg(QString::fromLocal8Bit(ports[i]));
                break;
            }
        }
    }
    if (error)
        *error = problem;
    return problem.isEmpty();
}

QList<PhoneChoice> readPhones(const IniFile &ini) {
    QList<int> disabled;
    for (const QString &part :
         ini.readString(Section, DisabledPhonesKey, QString()).split(QLatin1Char(','))) {
        bool ok = false;
        const int number = part.trimmed().toInt(&ok);
        if (ok)
            disabled << number;
    }
    QList<PhoneChoice> phones;
    phones << PhoneChoice{ini.readString(Section, PortKey, DefaultPort).toLocal8Bit(),
                          !disabled.contains(1)};
    for (int number = 2; number <= Settings::MaxPhones; ++number) {
        const QByteArray port = ini.readString(Section, portKey(number), QString()).toLocal8Bit();
        if (port.trimmed().isEmpty())
            continue;
        const bool known = std::any_of(phones.cbegin(), phones.cend(), [&](const auto &phone) {
            return Settings::samePort(phone.port, port);
        });
        if (!known)
            phones << PhoneChoice{port, !disabled.contains(number)};
    }
    return phones;
}

SmppSettings readSmpp(const IniFile &ini) {
    SmppSettings smpp;
    smpp.host = ini.readString(SmppSection, HostKey, QString());
    const int port = ini.readInteger(SmppSection, SmppPortKey, smpp.port);
    if (port > 0 && port <= 65535)
        smpp.port = port;
    smpp.tls = ini.readBool(SmppSection, TlsKey, false);
    smpp.certificate = ini.readString(SmppSection, CertificateKey, QString());
    smpp.systemId = ini.readString(SmppSection, SystemIdKey, QString());
    smpp.systemType = ini.readString(SmppSection, SystemTypeKey, QString());
    smpp.source = ini.readString(SmppSection, SourceKey, QString());
    smpp.bindMode = ini.readString(SmppSection, BindKey, QString()).trimmed().toLower() ==
                            QLatin1String("transmitter")
                        ? SmppBindMode::Transmitter
                        : SmppBindMode::Transceiver;
    smpp.receipts = ini.readBool(SmppSection, ReceiptsKey, true);
    smpp.window = std::clamp(ini.readInteger(SmppSection, WindowKey, smpp.window), 1, MaxWindow);
    bool ok = false;
    const double rate = ini.readString(SmppSection, RateKey, QString()).toDouble(&ok);
    smpp.rate = ok && rate > 0 ? rate : 0;
    smpp.latin1Default = ini.readBool(SmppSection, Latin1Key, false);
    return smpp;
}

} // namespace

QString settingsFilePath(const QString &exeDir) {
    if (canCreateFilesIn(exeDir))
        return QDir(exeDir).filePath(QLatin1StringView(SettingsFileName));
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    const QString folder = QDir(base).filePath(QStringLiteral("pelorvane"));
    QDir().mkpath(folder);
    return QDir(folder).filePath(QLatin1StringView(SettingsFileName));
}

Settings::Settings(const QString &fileName) : m_iniFile(fileName), m_phones(readPhones(m_iniFile)) {
    m_countryStored = m_iniFile.valueExists(Section, CountryKey);
    const QString stored = m_iniFile.readString(Section, CountryKey, QString()).toUpper();
    if (m_countryStored)
        m_country = PhoneNumberParser::isKnownCountry(stored) ? stored : QString();
    else
        m_country = PhoneNumberParser::defaultCountry();
    // A value that cannot be read gives the default rather than no tries at all.
    if (!parseRetryDelays(m_iniFile.readString(Section, RetryKey, DefaultRetry), &m_retryDelaysMs))
        parseRetryDelays(DefaultRetry, &m_retryDelaysMs);
    m_stopAtFirstRefusal = m_iniFile.readBool(Section, StopAtFirstRefusalKey, false);
    m_serviceCentreStored = m_iniFile.valueExists(Section, ServiceCentreKey);
    m_serviceCentre =
        m_iniFile.readString(Section, ServiceCentreKey, QString()).trimmed().toLocal8Bit();
    const int wait = m_iniFile.readInteger(Section, NetworkWaitKey, DefaultNetworkWaitSeconds);
    m_networkWaitMs = (wait >= 0 && wait <= 86400 ? wait : DefaultNetworkWaitSeconds) * 1000;
    m_pace = readPace(m_iniFile);
    m_ledger = std::make_unique<SettingsLedger>(*this);
    m_connectionKind = m_iniFile.readString(SmppSection, ConnectionKey, QString()).trimmed() ==
                               QLatin1String("smpp")
                           ? ConnectionKind::SmsCentre
                           : ConnectionKind::Phone;
    m_smpp = readSmpp(m_iniFile);
}

ConnectionKind Settings::connectionKind() const {
    QMutexLocker locker(&m_lock);
    return m_sessionConnectionKind.value_or(m_connectionKind);
}

void Settings::setConnectionKind(ConnectionKind kind) {
    QMutexLocker locker(&m_lock);
    m_sessionConnectionKind.reset();
    if (kind == m_connectionKind)
        return;
    m_connectionKind = kind;
    m_smppChanged = true;
    m_modified = true;
}

void Settings::setSessionConnectionKind(const std::optional<ConnectionKind> &kind) {
    QMutexLocker locker(&m_lock);
    m_sessionConnectionKind = kind;
}

SmppSettings Settings::smppSettings() const {
    QMutexLocker locker(&m_lock);
    return m_sessionSmpp.value_or(m_smpp);
}

SmppSettings Settings::storedSmppSettings() const {
    QMutexLocker locker(&m_lock);
    return m_smpp;
}

void Settings::setSmppSettings(const SmppSettings &smpp) {
    QMutexLocker locker(&m_lock);
    SmppSettings kept = smpp;
    kept.window = std::clamp(kept.window, 1, MaxWindow);
    kept.rate = std::max(kept.rate, 0.0);
    if (kept == m_smpp)
        return;
    m_smpp = kept;
    m_smppChanged = true;
    m_modified = true;
}

void Settings::setSessionSmppSettings(const std::optional<SmppSettings> &smpp) {
    QMutexLocker locker(&m_lock);
    m_sessionSmpp = smpp;
}

QByteArray Settings::serviceCentre() const {
    QMutexLocker locker(&m_lock);
    return m_sessionServiceCentre.isEmpty() ? m_serviceCentre : m_sessionServiceCentre;
}

void Settings::setServiceCentre(const QByteArray &number) {
    const QByteArray trimmed = number.trimmed();
    QMutexLocker locker(&m_lock);
    if (trimmed == m_serviceCentre)
        return;
    m_serviceCentre = trimmed;
    m_serviceCentreStored = true;
    m_modified = true;
}

void Settings::setSessionServiceCentre(const QByteArray &number) {
    QMutexLocker locker(&m_lock);
    m_sessionServiceCentre = number.trimmed();
}

int Settings::networkWaitMs() const {
    QMutexLocker locker(&m_lock);
    return m_networkWaitMs;
}

void Settings::setNetworkWaitMs(int ms) {
    QMutexLocker locker(&m_lock);
    m_networkWaitMs = std::max(ms, 0);
}

PacePlan Settings::pacePlan() const {
    QMutexLocker locker(&m_lock);
    return m_sessionPace ? *m_sessionPace : m_pace;
}

PacePlan Settings::storedPacePlan() const {
    QMutexLocker locker(&m_lock);
    return m_pace;
}

void Settings::setPacePlan(const PacePlan &plan) {
    QMutexLocker locker(&m_lock);
    PacePlan stored = plan;
    stored.startAt = QDateTime();
    if (stored.intervalMs == m_pace.intervalMs && stored.jitterPercent == m_pace.jitterPercent &&
        stored.perHour == m_pace.perHour && stored.perDay == m_pace.perDay &&
        stored.quietFrom == m_pace.quietFrom && stored.quietUntil == m_pace.quietUntil)
        return;
    m_pace = stored;
    m_paceChanged = true;
    m_modified = true;
}

void Settings::setSessionPacePlan(const std::optional<PacePlan> &plan) {
    QMutexLocker locker(&m_lock);
    m_sessionPace = plan;
}

SentTally Settings::sentTally(const QString &sim) {
    QMutexLocker locker(&m_lock);
    const QString key = tallyKey(sim);
    if (!m_talliesInFile)
        return m_tallies.value(key);
    // Read afresh: another program may have sent through this SIM since.
    const IniFile ini(m_iniFile.fileName());
    return SentTally::fromText(ini.readString(CountsSection, key, QString()));
}

void Settings::setSentTally(const QString &sim, const SentTally &tally) {
    QMutexLocker locker(&m_lock);
    const QString key = tallyKey(sim);
    m_tallies.insert(key, tally);
    IniFile ini(m_iniFile.fileName());
    try {
        ini.writeString(CountsSection, key, tally.toText());
        m_talliesInFile = ini.updateFile();
    } catch (...) {
        m_talliesInFile = false;
    }
}

bool Settings::parseRetryDelays(const QString &text, QList<int> *delaysMs) {
    QList<int> delays;
    if (!text.trimmed().isEmpty()) {
        for (const QString &part : text.split(QLatin1Char(','))) {
            bool ok = false;
            const double seconds = part.trimmed().toDouble(&ok);
            if (!ok || !(seconds >= 0 && seconds <= MaxRetrySeconds))
                return false;
            delays.append(qRound(seconds * 1000));
        }
    }
    *delaysMs = delays;
    return true;
}

QList<int> Settings::retryDelaysMs() const {
    QMutexLocker locker(&m_lock);
    return m_retryDelaysMs;
}

void Settings::setRetryDelaysMs(const QList<int> &delays) {
    QMutexLocker locker(&m_lock);
    m_retryDelaysMs = delays;
}

bool Settings::stopAtFirstRefusal() const {
    QMutexLocker locker(&m_lock);
    return m_stopAtFirstRefusal;
}

void Settings::setStopAtFirstRefusal(bool stop) {
    QMutexLocker locker(&m_lock);
    m_stopAtFirstRefusal = stop;
}

Settings::~Settings() {
    if (!modified())
        return;
    // Nobody is left to tell at program end; a name the file cannot hold is simply not kept.
    try {
        save();
    } catch (...) {
    }
}

QByteArray Settings::comPortName() const {
    QMutexLocker locker(&m_lock);
    return detached(m_sessionPorts.isEmpty() ? m_phones.first().port : m_sessionPorts.first());
}

QByteArray Settings::storedComPortName() const {
    QMutexLocker locker(&m_lock);
    return detached(m_phones.first().port);
}

void Settings::setSessionPort(const QByteArray &name) {
    QMutexLocker locker(&m_lock);
    m_sessionPorts.clear();
    if (!name.isEmpty())
        m_sessionPorts << detached(name);
}

void Settings::setComPortName(const QByteArray &name) {
    QMutexLocker locker(&m_lock);
    // The user's own choice ends a port given for this run only.
    m_sessionPorts.clear();
    if (name == m_phones.first().port)
        return;
    m_phones.first().port = name;
    m_modified = true;
}

QList<PhoneChoice> Settings::phones() const {
    QMutexLocker locker(&m_lock);
    QList<PhoneChoice> phones;
    for (const PhoneChoice &phone : m_phones)
        phones << PhoneChoice{detached(phone.port), phone.enabled};
    return phones;
}

bool Settings::setPhones(const QList<PhoneChoice> &phones, QString *error) {
    QList<QByteArray> ports;
    for (const PhoneChoice &phone : phones)
        ports << phone.port;
    if (!checkPorts(ports, error))
        return false;
    QMutexLocker locker(&m_lock);
    if (phones == m_phones)
        return true;
    m_phones.clear();
    for (const PhoneChoice &phone : phones)
        m_phones << PhoneChoice{detached(phone.port), phone.enabled};
    m_modified = true;
    return true;
}

bool Settings::setSessionPorts(const QList<QByteArray> &ports, QString *error) {
    if (!ports.isEmpty() && !checkPorts(ports, error))
        return false;
    QMutexLocker locker(&m_lock);
    m_sessionPorts.clear();
    for (const QByteArray &port : ports)
        m_sessionPorts << detached(port);
    return true;
}

QList<QByteArray> Settings::sendingPorts() const {
    QMutexLocker locker(&m_lock);
    QList<QByteArray> ports;
    if (!m_sessionPorts.isEmpty()) {
        for (const QByteArray &port : m_sessionPorts)
            ports << detached(port);
        return ports;
    }
    for (const PhoneChoice &phone : m_phones)
        if (phone.enabled)
            ports << detached(phone.port);
    return ports;
}

bool Settings::samePort(const QByteArray &a, const QByteArray &b) {
    return a == b || SerialPort::devicePath(a) == SerialPort::devicePath(b);
}

QString Settings::country() const {
    QMutexLocker locker(&m_lock);
    return m_country;
}

void Settings::setCountry(const QString &code) {
    const QString upper = code.toUpper();
    const QString country = PhoneNumberParser::isKnownCountry(upper) ? upper : QString();
    QMutexLocker locker(&m_lock);
    if (m_countryStored && country == m_country)
        return;
    m_country = country;
    m_countryStored = true;
    m_modified = true;
}

bool Settings::modified() const {
    QMutexLocker locker(&m_lock);
    return m_modified;
}

bool Settings::save() {
    QMutexLocker locker(&m_lock);
    m_iniFile.writeString(Section, PortKey, QString::fromLocal8Bit(m_phones.first().port));
    QStringList disabled;
    for (int number = 1; number <= MaxPhones; ++number) {
        if (number <= m_phones.size() && !m_phones[number - 1].enabled)
            disabled << QString::number(number);
        if (number == 1)
            continue;
        // Keys of phones no longer in the list go, or a read would bring them back.
        if (number <= m_phones.size())
            m_iniFile.writeString(Section, portKey(number),
                                  QString::fromLocal8Bit(m_phones[number - 1].port));
        else if (m_iniFile.valueExists(Section, portKey(number)))
            m_iniFile.deleteKey(Section, portKey(number));
    }
    if (!disabled.isEmpty())
        m_iniFile.writeString(Section, DisabledPhonesKey, disabled.join(QLatin1Char(',')));
    else if (m_iniFile.valueExists(Section, DisabledPhonesKey))
        m_iniFile.deleteKey(Section, DisabledPhonesKey);
    if (m_countryStored)
        m_iniFile.writeString(Section, CountryKey, m_country);
    if (m_serviceCentreStored)
        m_iniFile.writeString(Section, ServiceCentreKey, QString::fromLocal8Bit(m_serviceCentre));
    if (m_paceChanged) {
        m_iniFile.writeString(PaceSection, IntervalKey,
                              QString::number(m_pace.intervalMs / 1000.0, 'g', 10));
        m_iniFile.writeInteger(PaceSection, JitterKey, m_pace.jitterPercent);
        m_iniFile.writeInteger(PaceSection, PerHourKey, m_pace.perHour);
        m_iniFile.writeInteger(PaceSection, PerDayKey, m_pace.perDay);
        m_iniFile.writeString(PaceSection, QuietKey,
                              PacePlan::quietHoursText(m_pace.quietFrom, m_pace.quietUntil));
    }
    if (m_smppChanged) {
        m_iniFile.writeString(SmppSection, ConnectionKey,
                              m_connectionKind == ConnectionKind::SmsCentre
                                  ? QStringLiteral("smpp")
                                  : QStringLiteral("phone"));
        m_iniFile.writeString(SmppSection, HostKey, m_smpp.host);
        m_iniFile.writeInteger(SmppSection, SmppPortKey, m_smpp.port);
        m_iniFile.writeBool(SmppSection, TlsKey, m_smpp.tls);
        if (!m_smpp.certificate.isEmpty() ||
            !m_iniFile.readString(SmppSection, CertificateKey, QString()).isEmpty())
            m_iniFile.writeString(SmppSection, CertificateKey, m_smpp.certificate);
        m_iniFile.writeString(SmppSection, SystemIdKey, m_smpp.systemId);
        m_iniFile.writeString(SmppSection, SystemTypeKey, m_smpp.systemType);
        m_iniFile.writeString(SmppSection, SourceKey, m_smpp.source);
        m_iniFile.writeString(SmppSection, BindKey,
                              m_smpp.bindMode == SmppBindMode::Transmitter
                                  ? QStringLiteral("transmitter")
                                  : QStringLiteral("transceiver"));
        m_iniFile.writeBool(SmppSection, ReceiptsKey, m_smpp.receipts);
        m_iniFile.writeInteger(SmppSection, WindowKey, m_smpp.window);
        m_iniFile.writeString(SmppSection, RateKey, QString::number(m_smpp.rate, 'g', 10));
        m_iniFile.writeBool(SmppSection, Latin1Key, m_smpp.latin1Default);
    }
    return m_iniFile.updateFile();
}

quint8 Settings::takeLongMessageReference() {
    QMutexLocker locker(&m_lock);
    // An object of its own, read afresh: another program may have taken references since,
    // and a failed write must not stay pending in the object that keeps the port.
    IniFile ini(m_iniFile.fileName());
    const int stored = ini.readInteger(Section, ReferenceKey, -1);
    if (m_referenceInFile && stored >= 0 && stored <= 0xFF)
        m_nextReference = stored;
    const auto taken = static_cast<quint8>(m_nextReference);
    m_nextReference = (taken + 1) & 0xFF;
    ini.writeInteger(Section, ReferenceKey, m_nextReference);
    m_referenceInFile = ini.updateFile();
    return taken;
}
