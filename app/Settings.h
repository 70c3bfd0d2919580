#pragma once

#include "app/IniFile.h"
#include "sending/RunPacer.h"
#include "smpp/SmppSession.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

#include <memory>
#include <optional>

inline constexpr char SettingsFileName[] = "pelorvane.ini";

// One phone of the list the runs send through: its port as the user gave it ("ttyUSB0",
// "COM1", a path) and whether runs use it.
struct PhoneChoice {
    QByteArray port;
    bool enabled = true;

    bool operator==(const PhoneChoice &) const = default;
};

// What a sending run goes through: the phone on the serial port, or an SMS centre over SMPP.
enum class ConnectionKind { Phone, SmsCentre };

// The SMS centre's connection as the settings keep it (never its password).
struct SmppSettings {
    QString host;
    int port = 2775;
    bool tls = false;
    // A PEM file of certificates trusted besides the system's: a gateway's own self-signed one.
    QString certificate;
    QString systemId;
    QString systemType;
    QString source; // the sender: a number or a name of up to 11 characters; empty: the centre's
    SmppBindMode bindMode = SmppBindMode::Transceiver;
    bool receipts = true;
    int window = 10;
    double rate = 0;            // messages (parts) per second, at most; 0 for no limit
    bool latin1Default = false; // the centre reads data_coding 0 as Latin-1

    bool operator==(const SmppSettings &) const = default;
};

// Where the settings file lives: in exeDir when files can be created there (a portable install),
// otherwise in $XDG_CONFIG_HOME/pelorvane (~/.config/pelorvane when the variable is unset, empty
// or relative), a folder created here when missing. A folder that cannot be created still gives
// its path: reading it gives the defaults and writing it fails without harm.
QString settingsFilePath(const QString &exeDir);

// The program-wide settings: the phones (serial ports) to use, the country of national numbers and
// the long-message reference counter. The port and the country are read once at creation and
// written at destruction only when one was changed; the file's other lines and sections stay.
// A worker thread may read the port name while the UI thread sets it, and takes references.
class Settings {
public:
    explicit Settings(const QString &fileName);
    ~Settings();

    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;

    // The port the next worker opens: the first session port when there are any, else the
    // first phone of the list.
    QByteArray comPortName() const;
    // The first phone's port kept in the settings file.
    QByteArray storedComPortName() const;
    // A port for this run only (the simulated phone of --simulate); never written to the file.
    void setSessionPort(const QByteArray &name);
    // A name that differs in any way, letter case included, counts as a change. It becomes
    // the first phone's port.
    void setComPortName(const QByteArray &name);

    // The phones, 1 to MaxPhones, in the order the user put them. Kept in "Setting": the
    // first as "COM Port" (so that a file of one phone is what older versions wrote and
    // read), the others as "COM Port 2" to "COM Port 16", and "Disabled Phones" lists the
    // numbers (1 for "COM Port", 2 for "COM Port 2", ...) of the ones switched off, as "2,5";
    // both extra keys are written only when there is something to say. A key left empty or
    // naming a device already listed is skipped when read.
    static constexpr int MaxPhones = 16;
    QList<PhoneChoice> phones() const;
    // Replaces the list; false, and nothing changes, for an empty list, more than MaxPhones,
    // an empty port or two names of one device (error says which). A list that differs in
    // any way counts as a change. The session ports stay.
    bool setPhones(const QList<PhoneChoice> &phones, QString *error = nullptr);
    // Ports for this program run only (pelorvane-cli's --port given more than once, the
    // simulated phone); an empty list goes back to the stored phones. Never written. False,
    // and nothing changes, for the same faults as setPhones.
    bool setSessionPorts(const QList<QByteArray> &ports, QString *error = nullptr);
    // The ports a sending run uses: the session ports when set, else the enabled phones,
    // in order; empty when every phone is switched off.
    QList<QByteArray> sendingPorts() const;
    // Whether two port names open the same device ("ttyS0", "COM1" and "/dev/ttyS0" do).
    static bool samePort(const QByteArray &a, const QByteArray &b);
    // The country whose dialling rules national numbers follow (a two-letter code such as
    // "DE"): the one in the file, else the system locale's; empty when neither names one.
    QString country() const;
    // An unknown code is stored as empty: no country, international numbers only.
    void setCountry(const QString &code);

    // How a sending run treats refusals: the waits in milliseconds before the tries again of
    // a message the phone refused for a while ("Retry After" in "Setting": seconds, "5,30,120"
    // by default; an empty value means no try again), and whether the run ends at the first
    // refusal ("Stop At First Refusal", 0 by default). Read from the file at creation; the
    // setters change them for this program run only, the file keeps its values.
    QList<int> retryDelaysMs() const;
    void setRetryDelaysMs(const QList<int> &delays);
    bool stopAtFirstRefusal() const;
    void setStopAtFirstRefusal(bool stop);
    // "5,30,120" or "0.5" (seconds, decimals allowed) as milliseconds; false for anything else.
    // An empty text is no delay at all.
    static bool parseRetryDelays(const QString &text, QList<int> *delaysMs);

    // The service centre number the user gives ("Service Centre" in "Setting"; empty: the
    // phone's own is used). A sending run puts it into every message. setServiceCentre keeps
    // it in the file; setSessionServiceCentre is for this program run only and wins.
    QByteArray serviceCentre() const;
    void setServiceCentre(const QByteArray &number);
    void setSessionServiceCentre(const QByteArray &number);
    // How long a run start waits for a phone that searches for its network ("Network Wait"
    // in "Setting": seconds, 60 by default). The setter is for this program run only.
    int networkWaitMs() const;
    void setNetworkWaitMs(int ms);
    // The pace of sending runs, in the section "Pace": "Interval" (seconds between messages,
    // decimals allowed), "Jitter" (percent either way, 25 by default), "Per Hour" and "Per
    // Day" (caps per SIM, 0 for none) and "Quiet Hours" ("22:00-07:00", empty for none). The
    // stored plan never has a start time. A session plan (the command line's options) takes
    // its place for this program run only and is never written.
    PacePlan pacePlan() const;
    PacePlan storedPacePlan() const;
    void setPacePlan(const PacePlan &plan);
    void setSessionPacePlan(const std::optional<PacePlan> &plan);

    // The messages each SIM sent in its current hour and day ("Sent Counts"), read from and
    // written to the file at once, so that the caps hold across runs, program restarts and
    // pelorvane-cli using the same file. Safe on any thread.
    SentLedger &sentLedger() { return *m_ledger; }
    SentTally sentTally(const QString &sim);
    void setSentTally(const QString &sim, const SentTally &tally);

    // The connection of sending runs ("Connection" in "SMPP": "phone" or "smpp", the phone by
    // default) and the SMS centre's settings, in the section "SMPP": "Host", "Port" (2775),
    // "TLS", "System ID", "System Type", "Source", "Bind" ("transceiver" or "transmitter"),
    // "Receipts" (TRUE), "Window" (10), "Rate" (0: no limit) and "Latin-1 Default" (FALSE).
    // The setters keep them in the file at the next save; the session ones (the command line's
    // options) win for this program run only and are never written.
    ConnectionKind connectionKind() const;
    void setConnectionKind(ConnectionKind kind);
    void setSessionConnectionKind(const std::optional<ConnectionKind> &kind);
    SmppSettings smppSettings() const;
    SmppSettings storedSmppSettings() const;
    void setSmppSettings(const SmppSettings &smpp);
    void setSessionSmppSettings(const std::optional<SmppSettings> &smpp);

    bool modified() const;
    // Writes the port name, and the country when it is in the file or was set, into the file. False
    // when the file could not be written; it is then left as it was.
    bool save();

    // The reference for the next long message sent in parts, 0 to 255: the counter kept in
    // the file ("Long Message Reference" in "Setting", the reference to take next) is read,
    // advanced and written back at once, so that consecutive long messages never share one,
    // also across runs and with pelorvane-cli using the same file. When the file cannot be
    // written the counter goes on in memory. Safe on any thread.
    quint8 takeLongMessageReference();

    const QString &fileName() const { return m_iniFile.fileName(); }

private:
    mutable QMutex m_lock;
    bool m_modified = false;
    IniFile m_iniFile;
    // Never empty: the first is "COM Port".
    QList<PhoneChoice> m_phones;
    QList<QByteArray> m_sessionPorts;
    int m_nextReference = 0;
    // Whether the file held the counter after the last take; a file that could not be written
    // is not trusted again, or its stale value would hand out one reference twice.
    bool m_referenceInFile = true;
    QString m_country;
    bool m_countryStored = false;
    QList<int> m_retryDelaysMs;
    bool m_stopAtFirstRefusal = false;
    QByteArray m_serviceCentre;
    bool m_serviceCentreStored = false;
    QByteArray m_sessionServiceCentre;
    int m_networkWaitMs = 60000;
    PacePlan m_pace;
    bool m_paceChanged = false;
    std::optional<PacePlan> m_sessionPace;
    std::unique_ptr<SentLedger> m_ledger;
    ConnectionKind m_connectionKind = ConnectionKind::Phone;
    std::optional<ConnectionKind> m_sessionConnectionKind;
    SmppSettings m_smpp;
    bool m_smppChanged = false;
    std::optional<SmppSettings> m_sessionSmpp;
    // The tallies last set; used when the file could not be written.
    QHash<QString, SentTally> m_tallies;
    bool m_talliesInFile = true;
};
