#pragma once

#include <QByteArray>

#include <optional>

class GsmLink;

// What the phone says about its SIM card, its network and its service centre (GSM 07.07
// and 07.05 queries), read the same way by the run start and by the device probe. A query
// the phone answers with ERROR gives Unknown: older phones lack most of them, and a check
// they cannot answer must not keep them from sending.

enum class SimState {
    Ready,
    PinNeeded,
    PukNeeded,
    Missing,
    Failed,
    OtherLock, // a PIN other than the SIM's (PIN2, a phone or network lock)
    Unknown,   // the phone does not say
};

struct SimStatus {
    SimState state = SimState::Unknown;
    QByteArray code; // what +CPIN: said ("SIM PIN", "PH-NET PIN"), or the error line
};

// The +CPIN: value ("READY", "SIM PIN", ...).
SimStatus simStatusFromCode(const QByteArray &code);
// A +CME ERROR line that says something about the SIM card (10 not inserted, 11 PIN needed,
// 12 PUK needed, 13 failure, 14 busy, numbered or in words); Unknown for any other.
SimStatus simStatusFromError(const QByteArray &line);
// AT+CPIN?.
SimStatus readSimStatus(GsmLink &link);
// The tries left for what code names ("SIM PIN" or "SIM PUK"): AT+CPINR, else the
// maker's own query (Huawei's AT^CPIN?, Quectel's AT+QPINC). Empty when no query answers.
std::optional<int> readPinTries(GsmLink &link, const QByteArray &code, const QByteArray &maker);

// Registration states of +CREG, +CGREG and +CEREG.
enum class Registration {
    NotSearching = 0,
    Home = 1,
    Searching = 2,
    Denied = 3,
    Unknown = 4,
    Roaming = 5,
    HomeSmsOnly = 6,
    RoamingSmsOnly = 7,
    EmergencyOnly = 8,
    HomeNoCsfb = 9,
    RoamingNoCsfb = 10,
    NoAnswer = -1, // the phone refused the query
};

// Home or roaming, SMS-only registrations included: the phone can send.
bool isRegistered(Registration state);
bool isRoaming(Registration state);

struct NetworkStatus {
    // The best state of the three queries: registered before searching before denied.
    Registration state = Registration::NoAnswer;
    // The access technology when the phone gives it ("LTE", "GSM", ...), else empty.
    QByteArray technology;
    // Whether any of the three queries was answered.
    bool answered() const { return state != Registration::NoAnswer; }
};

// The name of an access technology number (<AcT> of 07.07); empty when unknown.
QByteArray technologyName(int act);
// AT+CREG?, AT+CGREG?, AT+CEREG?.
NetworkStatus readNetworkStatus(GsmLink &link);

// The operator of AT+COPS? (name or numeric code), empty when none; the technology it gives
// goes into technology when that is empty.
QByteArray readOperator(GsmLink &link, QByteArray *technology = nullptr);

// The service centre of AT+CSCA?: nullopt when the phone refuses the query, an empty number
// when none is set. A number the phone gives in UCS-2 hexadecimal is decoded.
std::optional<QByteArray> readServiceCentre(GsmLink &link);

// The +CSQ signal value as the user reads it: "-113 dBm or less", "-73 dBm", "-51 dBm or
// more"; "unknown" for 99 and anything outside 0..31.
QByteArray signalDbmText(int rssi);

// Whether the maker (the AT+CGMI answer) is Huawei, whose modems report signal and mode
// changes unasked until AT^CURC=0.
bool isHuawei(const QByteArray &maker);
