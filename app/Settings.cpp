#include "app/Settings.h"

#include "data/PhoneNumberParser.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTemporaryFile>

#include <algorithm>

namespace {

const QString Section = QStringLiteral("Setting");
const QString PortKey = QStringLiteral("COM Port");
const QString DefaultPort = QStringLiteral("COM1");
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

SmppSettings readSmpp(const IniFile &ini) {
    SmppSettings smpp;
    smpp.host = ini.readString(SmppSection, HostKey, QString());
    const int port = ini.readInteger(SmppSection, SmppPortKey, smpp.port);
    if (port > 0 && port <= 65535)
        smpp.port = port;
    smpp.tls = ini.readBool(SmppSection, TlsKey, false);
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

Settings::Settings(const QString &fileName)
    : m_iniFile(fileName),
      m_comPortName(m_iniFile.readString(Section, PortKey, DefaultPort).toLocal8Bit()) {
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
    const QByteArray &name = m_sessionPort.isEmpty() ? m_comPortName : m_sessionPort;
    // A deep copy: the worker's string then shares no reference count with the UI thread's.
    return QByteArray(name.constData(), name.size());
}

QByteArray Settings::storedComPortName() const {
    QMutexLocker locker(&m_lock);
    return QByteArray(m_comPortName.constData(), m_comPortName.size());
}

void Settings::setSessionPort(const QByteArray &name) {
    QMutexLocker locker(&m_lock);
    m_sessionPort = QByteArray(name.constData(), name.size());
}

void Settings::setComPortName(const QByteArray &name) {
    QMutexLocker locker(&m_lock);
    // The user's own choice ends a port given for this run only.
    m_sessionPort.clear();
    if (name == m_comPortName)
        return;
    m_comPortName = name;
    m_modified = true;
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
    const QString port = QString::fromLocal8Bit(storedComPortName());
    QMutexLocker locker(&m_lock);
    m_iniFile.writeString(Section, PortKey, port);
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
