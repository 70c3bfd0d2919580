#include "link/PhoneStatus.h"

#include "link/GsmLink.h"

#include <QList>

#include <algorithm>

namespace {

// The fields of the last answer's information line, commas inside quotes not counting, each
// without blanks and quotes around it.
QList<QByteArray> answerFields(const GsmLink &link) {
    QList<QByteArray> fields;
    const QByteArray line = link.infoLine();
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return fields;
    const QByteArray rest = line.sliced(colon + 1).trimmed();
    bool quoted = false;
    QByteArray field;
    for (qsizetype i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || (rest[i] == ',' && !quoted)) {
            field = field.trimmed();
            if (field.size() >= 2 && field.startsWith('"') && field.endsWith('"'))
                field = field.sliced(1, field.size() - 2);
            fields.append(field);
            field.clear();
        } else {
            if (rest[i] == '"')
                quoted = !quoted;
            field.append(rest[i]);
        }
    }
    return fields;
}

int toInt(const QByteArray &field, int fallback) {
    bool ok = false;
    const int value = field.trimmed().toInt(&ok);
    return ok ? value : fallback;
}

// The number of a +CME ERROR line, or -1; a phone set to words (AT+CMEE=2) is read by them.
int cmeCode(const QByteArray &line) {
    const QByteArray text = line.trimmed();
    if (!text.startsWith("+CME ERROR:"))
        return -1;
    const QByteArray value = text.sliced(11).trimmed();
    bool ok = false;
    const int code = value.toInt(&ok);
    if (ok)
        return code;
    const QByteArray words = value.toLower();
    const struct {
        const char *text;
        int code;
    } named[] = {{"sim not inserted", 10}, {"sim pin required", 11}, {"sim puk required", 12},
                 {"sim failure", 13},      {"sim busy", 14},         {"sim wrong", 15}};
    for (const auto &entry : named) {
        if (words == entry.text)
            return entry.code;
    }
    return -1;
}

// UCS-2 hexadecimal of plain characters ("002B0034...") back to text; other text as it is.
QByteArray decodeHexUcs2(const QByteArray &text) {
    if (text.size() < 4 || text.size() % 4 != 0)
        return text;
    QByteArray decoded;
    for (qsizetype i = 0; i < text.size(); i += 4) {
        bool ok = false;
        const int unit = text.mid(i, 4).toInt(&ok, 16);
        if (!ok || unit < 0x20 || unit > 0x7E)
            return text;
        decoded.append(char(unit));
    }
    return decoded;
}

int rank(Registration state) {
    if (isRegistered(state))
        return 4;
    switch (state) {
    case Registration::Searching:
        return 3;
    case Registration::Denied:
        return 2;
    case Registration::NoAnswer:
        return 0;
    default:
        return 1;
    }
}

} // namespace

SimStatus simStatusFromCode(const QByteArray &code) {
    const QByteArray text = code.trimmed().toUpper();
    SimStatus status{SimState::OtherLock, code.trimmed()};
    if (text == "READY")
        status.state = SimState::Ready;
    else if (text == "SIM PIN")
        status.state = SimState::PinNeeded;
    else if (text == "SIM PUK")
        status.state = SimState::PukNeeded;
    else if (text.isEmpty())
        status.state = SimState::Unknown;
    return status;
}

SimStatus simStatusFromError(const QByteArray &line) {
    SimStatus status{SimState::Unknown, line.trimmed()};
    switch (cmeCode(line)) {
    case 10:
        status.state = SimState::Missing;
        break;
    case 11:
        status.state = SimState::PinNeeded;
        status.code = "SIM PIN";
        break;
    case 12:
        status.state = SimState::PukNeeded;
        status.code = "SIM PUK";
        break;
    case 13:
    case 15:
        status.state = SimState::Failed;
        break;
    default:
        break;
    }
    return status;
}

SimStatus readSimStatus(GsmLink &link) {
    if (!link.executeCommand("AT+CPIN?"))
        return simStatusFromError(link.finalLine);
    const QList<QByteArray> fields = answerFields(link);
    return simStatusFromCode(fields.value(0));
}

std::optional<int> readPinTries(GsmLink &link, const QByteArray &code, const QByteArray &maker) {
    const bool puk = code.toUpper().contains("PUK");
    if (link.executeCommand("AT+CPINR=\"" + code + '"')) {
        const QList<QByteArray> fields = answerFields(link);
        if (fields.size() >= 2 && toInt(fields[1], -1) >= 0)
            return toInt(fields[1], -1);
    }
    if (link.abortDue())
        return std::nullopt;
    const QByteArray lowerMaker = maker.toLower();
    if (isHuawei(maker) && link.executeCommand("AT^CPIN?")) {
        // ^CPIN: <code>,<times>,<puk_times>,<pin_times>,<puk2_times>,<pin2_times>
        const QList<QByteArray> fields = answerFields(link);
        const int value = toInt(fields.value(puk ? 2 : 3), -1);
        if (value >= 0)
            return value;
    } else if (lowerMaker.contains("quectel") && link.executeCommand("AT+QPINC=\"SC\"")) {
        // +QPINC: "SC",<pin tries>,<puk tries>
        const QList<QByteArray> fields = answerFields(link);
        const int value = toInt(fields.value(puk ? 2 : 1), -1);
        if (value >= 0)
            return value;
    }
    return std::nullopt;
}

bool isRegistered(Registration state) {
    switch (state) {
    case Registration::Home:
    case Registration::Roaming:
    case Registration::HomeSmsOnly:
    case Registration::RoamingSmsOnly:
    case Registration::HomeNoCsfb:
    case Registration::RoamingNoCsfb:
        return true;
    default:
        return false;
    }
}

bool isRoaming(Registration state) {
    return state == Registration::Roaming || state == Registration::RoamingSmsOnly ||
           state == Registration::RoamingNoCsfb;
}

QByteArray technologyName(int act) {
    static const char *const names[] = {"GSM",   "GSM Compact", "UMTS", "EDGE",       "HSDPA",
                                        "HSUPA", "HSPA",        "LTE",  "EC-GSM-IoT", "NB-IoT",
                                        "LTE",   "5G NR",       "5G",   "LTE+5G NR"};
    if (act < 0 || act >= int(std::size(names)))
        return {};
    return names[act];
}

NetworkStatus readNetworkStatus(GsmLink &link) {
    NetworkStatus status;
    const struct {
        const char *command;
        const char *impliedTechnology; // what a registration there means without an AcT
    } queries[] = {{"AT+CREG?", ""}, {"AT+CGREG?", ""}, {"AT+CEREG?", "LTE"}};
    for (const auto &query : queries) {
        if (!link.executeCommand(query.command)) {
            if (link.abortDue())
                return status;
            continue;
        }
        // <n>,<stat>[,<lac>,<ci>[,<AcT>...]]
        const QList<QByteArray> fields = answerFields(link);
        const int stat = toInt(fields.value(1), -1);
        if (stat < 0 || stat > 10)
            continue;
        const auto state = static_cast<Registration>(stat);
        if (rank(state) <= rank(status.state))
            continue;
        status.state = state;
        status.technology = fields.size() >= 5 ? technologyName(toInt(fields[4], -1))
                                               : QByteArray(query.impliedTechnology);
    }
    if (!isRegistered(status.state))
        status.technology.clear();
    return status;
}

QByteArray readOperator(GsmLink &link, QByteArray *technology) {
    if (!link.executeCommand("AT+COPS?"))
        return {};
    // <mode>[,<format>,<oper>[,<AcT>]]
    const QList<QByteArray> fields = answerFields(link);
    if (technology && technology->isEmpty() && fields.size() >= 4)
        *technology = technologyName(toInt(fields[3], -1));
    return fields.value(2);
}

std::optional<QByteArray> readServiceCentre(GsmLink &link) {
    if (!link.executeCommand("AT+CSCA?"))
        return std::nullopt;
    const QList<QByteArray> fields = answerFields(link);
    if (fields.isEmpty())
        return std::nullopt;
    return decodeHexUcs2(fields[0].trimmed());
}

QByteArray signalDbmText(int rssi) {
    if (rssi == 0)
        return "-113 dBm or less";
    if (rssi == 31)
        return "-51 dBm or more";
    if (rssi >= 1 && rssi <= 30)
        return QByteArray::number(-113 + 2 * rssi) + " dBm";
    return "unknown";
}

bool isHuawei(const QByteArray &maker) {
    return maker.toLower().contains("huawei");
}
