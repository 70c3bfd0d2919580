#include "tools/cli/CmdProject.h"

#include "app/AppData.h"
#include "app/ProjectLock.h"
#include "base/Error.h"
#include "base/OleDate.h"
#include "data/PhoneNumberParser.h"
#include "tools/cli/Cli.h"
#include "tools/cli/CliLock.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

const char CmdShowUsage[] = "FILE.sms [--contacts | --outbox | --sent]";
const char CmdShowSummary[] =
    "Print a project file as JSON, or only its contacts, outbox or sent list (an array)";
const char CmdImportUsage[] = "FILE.sms CONTACTS [--country CC] [--wait]";
const char CmdImportSummary[] =
    "Import contacts into a project from an exchange file, a spreadsheet's CSV or vCards; "
    "numbers already in the project are skipped (compared with the country's dialling rules: "
    "--country, else the settings'); malformed lines are skipped and named, exit status 2; a "
    "project in use by another program is waited for with --wait, else refused with exit "
    "status 3";
const char CmdRetryUsage[] = "FILE.sms [--failed] [--unknown] [--wait]";
const char CmdRetrySummary[] =
    "Put the outbox's failed messages (--failed), the ones the phone may have sent (--unknown) "
    "or both (neither option) back to pending, and save the project; a project in use by "
    "another program is waited for with --wait, else refused with exit status 3";
const char CmdExportUsage[] = "FILE.sms CONTACTS.csv";
const char CmdExportSummary[] = "Export a project's contacts to a comma-separated file";

namespace {

constexpr int StatusOk = 0;
constexpr int StatusFailed = 2;

int usage(QTextStream &err, const char *name, const char *usage) {
    err << "usage: pelorvane-cli " << name << ' ' << usage << Qt::endl;
    return StatusFailed;
}

int fail(QTextStream &err, const Error &e) {
    err << e.message() << Qt::endl;
    return StatusFailed;
}

// ISO 8601 local date-time, null when not set; a value no calendar date stands for is given
// as the number itself. The wall time the value stands for, without asking the time zone.
QJsonValue dateJson(double ole) {
    if (!oleIsSet(ole))
        return QJsonValue::Null;
    const OleWallTime wall = oleToWallTime(ole);
    if (!wall.isValid())
        return ole;
    return wall.date.toString(Qt::ISODate) + QLatin1Char('T') +
           wall.time.toString(wall.time.msec() != 0 ? Qt::ISODateWithMs : Qt::ISODate);
}

QString statusName(MessageStatus status) {
    switch (status) {
    case MessageStatus::Pending:
        return QStringLiteral("pending");
    case MessageStatus::Sending:
        return QStringLiteral("sending");
    case MessageStatus::Sent:
        return QStringLiteral("sent");
    case MessageStatus::Failed:
        return QStringLiteral("failed");
    case MessageStatus::Unknown:
        return QStringLiteral("unknown");
    }
    return QString::number(int(status));
}

// What the receipt said; empty until one came.
QString deliveryName(DeliveryState state) {
    switch (state) {
    case DeliveryState::None:
        break;
    case DeliveryState::Delivered:
        return QStringLiteral("delivered");
    case DeliveryState::Undelivered:
        return QStringLiteral("undelivered");
    case DeliveryState::Expired:
        return QStringLiteral("expired");
    }
    return QString();
}

// One message's fields: a field more is one line more.
QJsonObject messageJson(const MessageRecord &m) {
    QJsonObject object{
        {QStringLiteral("number"), QString::fromLocal8Bit(m.number())},
        {QStringLiteral("text"), m.text()},
        {QStringLiteral("flash"), m.flash != 0},
        {QStringLiteral("long"), m.isLong != 0},
        {QStringLiteral("created"), dateJson(m.created)},
        {QStringLiteral("sent"), dateJson(m.sent)},
        {QStringLiteral("status"), statusName(m.status)},
        {QStringLiteral("reason"), m.reason()},
        {QStringLiteral("error"), QString::fromLocal8Bit(m.error())},
        // The port of the phone that sent it, kept when a run used several.
        {QStringLiteral("phone"), m.phone()},
        {QStringLiteral("messageId"), QString::fromLatin1(m.messageId())},
        {QStringLiteral("delivery"), deliveryName(m.delivery())},
    };
    // A long message the phone took in part: which parts, and their reference.
    if (m.acceptedParts() != 0 && m.status != MessageStatus::Sent) {
        object.insert(QStringLiteral("ref"), int(m.partReference()));
        object.insert(QStringLiteral("partsSent"), int(qPopulationCount(m.acceptedParts())));
    }
    return object;
}

QJsonObject contactJson(const Contact &c) {
    return QJsonObject{
        {QStringLiteral("name"), c.name},
        {QStringLiteral("number"), QString::fromLocal8Bit(c.number)},
        {QStringLiteral("sentCount"), c.sentCount},
        {QStringLiteral("checked"), c.checked != 0},
    };
}

// Writes the indented JSON of a document one value at a time, in the layout QJsonDocument
// gives the whole (keys of an object in sorted order are the caller's part), so that the
// memory used does not grow with the lists.
class JsonStream {
public:
    explicit JsonStream(QTextStream &out) : m_out(out) {}

    // An object at the given depth of nesting, as a member of an object or an element of an
    // array at depth - 1 (the caller writes the key).
    void object(const QJsonObject &value, int depth) {
        QByteArray text = QJsonDocument(value).toJson(QJsonDocument::Indented);
        text.chop(1); // the document's closing newline
        if (depth > 0)
            text.replace('\n', "\n" + QByteArray(4 * depth, ' '));
        m_out << QString::fromUtf8(text);
    }

    // An array at depth whose elements are the objects element(item) of each item.
    template <typename Items, typename Element>
    void array(const Items &items, int depth, Element element) {
        const QString pad(4 * (depth + 1), QLatin1Char(' '));
        m_out << "[\n";
        bool first = true;
        for (const auto &item : items) {
            m_out << (first ? "" : ",\n") << pad;
            object(element(*item), depth + 1);
            first = false;
        }
        if (!first)
            m_out << '\n';
        m_out << QString(4 * depth, QLatin1Char(' ')) << ']';
    }

    void write(const char *text) { m_out << text; }

private:
    QTextStream &m_out;
};

void streamMessages(JsonStream &json, MessageList &list, int depth) {
    MessageList::Locker lock(list);
    json.array(*lock, depth, messageJson);
}

void streamContacts(JsonStream &json, ContactList &list, int depth) {
    ContactList::Locker lock(list);
    json.array(*lock, depth, contactJson);
}

} // namespace

int cmdShow(const QStringList &args, QTextStream &out, QTextStream &err) {
    enum class Part { All, Contacts, Outbox, Sent } part = Part::All;
    QStringList positional;
    for (const QString &arg : args) {
        const Part chosen = arg == QLatin1String("--contacts") ? Part::Contacts
                            : arg == QLatin1String("--outbox") ? Part::Outbox
                            : arg == QLatin1String("--sent")   ? Part::Sent
                                                               : Part::All;
        if (chosen != Part::All && part == Part::All)
            part = chosen;
        else if (chosen != Part::All || arg.startsWith(QLatin1String("--")))
            return usage(err, "show", CmdShowUsage);
        else
            positional << arg;
    }
    if (positional.size() != 1)
        return usage(err, "show", CmdShowUsage);
    AppData project;
    try {
        project.load(positional[0]);
    } catch (const Error &e) {
        return fail(err, e);
    }
    JsonStream json(out);
    switch (part) {
    case Part::Contacts:
        streamContacts(json, *project.contactList, 0);
        break;
    case Part::Outbox:
        streamMessages(json, *project.outboxList, 0);
        break;
    case Part::Sent:
        streamMessages(json, *project.sentList, 0);
        break;
    case Part::All: {
        const QJsonObject compose{
            {QStringLiteral("to"), QString::fromLocal8Bit(project.compose.to)},
            {QStringLiteral("cc"), QString::fromLocal8Bit(project.compose.cc)},
            {QStringLiteral("subject"), project.compose.subject},
            {QStringLiteral("body"), project.compose.body},
        };
        // The members in QJsonObject's (sorted) order.
        json.write("{\n    \"compose\": ");
        json.object(compose, 1);
        json.write(",\n    \"contacts\": ");
        streamContacts(json, *project.contactList, 1);
        json.write(",\n    \"outbox\": ");
        streamMessages(json, *project.outboxList, 1);
        json.write(",\n    \"sent\": ");
        streamMessages(json, *project.sentList, 1);
        json.write("\n}");
        break;
    }
    }
    json.write("\n");
    out.flush();
    return StatusOk;
}

int cmdImport(const QStringList &args, QTextStream &out, QTextStream &err) {
    QStringList positional;
    QString country;
    bool countryGiven = false;
    bool wait = false;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--wait")) {
            wait = true;
        } else if (args[i] == QLatin1String("--country")) {
            if (i + 1 >= args.size())
                return usage(err, "import", CmdImportUsage);
            country = args[++i].toUpper();
            countryGiven = true;
            if (!PhoneNumberParser::isKnownCountry(country)) {
                err << "Unknown country: " << args[i] << Qt::endl;
                return StatusFailed;
            }
        } else {
            positional << args[i];
        }
    }
    if (positional.size() != 2)
        return usage(err, "import", CmdImportUsage);
    AppData project;
    ImportResult result;
    try {
        // Held from before the read to after the save: an import never loses another's update.
        holdProjectLocks(project, QStringLiteral("pelorvane-cli import"), wait, err);
        project.lockProject(positional[0]);
        if (QFileInfo::exists(positional[0]))
            project.load(positional[0]);
        else
            project.fileName = positional[0];
        result = project.contactList->importFromFile(
            positional[1], countryGiven ? country : project.settings->country());
        project.save();
    } catch (const ProjectInUseError &e) {
        err << cliPrintable(e.message()) << Qt::endl;
        return ExitNotStarted;
    } catch (const Error &e) {
        return fail(err, e);
    }
    out << QStringLiteral("Imported %1 contacts, ignored %2 duplicates")
               .arg(result.imported)
               .arg(result.duplicates)
        << Qt::endl;
    for (const QString &line : importDetails(result))
        out << line << Qt::endl;
    // What was read is saved; the lines that were not are named.
    for (const QString &line : result.skippedLines)
        err << line << Qt::endl;
    return result.skippedLines.isEmpty() ? StatusOk : StatusFailed;
}

int cmdRetry(const QStringList &args, QTextStream &out, QTextStream &err) {
    QStringList positional;
    bool failed = false;
    bool unknown = false;
    bool wait = false;
    for (const QString &arg : args) {
        if (arg == QLatin1String("--wait"))
            wait = true;
        else if (arg == QLatin1String("--failed"))
            failed = true;
        else if (arg == QLatin1String("--unknown"))
            unknown = true;
        else if (arg.startsWith(QLatin1String("--")))
            return usage(err, "retry", CmdRetryUsage);
        else
            positional << arg;
    }
    if (positional.size() != 1)
        return usage(err, "retry", CmdRetryUsage);
    if (!failed && !unknown)
        failed = unknown = true;
    AppData project;
    int count = 0;
    try {
        // A run may be sending these very messages: only one program writes a project.
        holdProjectLocks(project, QStringLiteral("pelorvane-cli retry"), wait, err);
        project.load(positional[0]);
        count = project.outboxList->retry(failed, unknown);
        if (count > 0)
            project.save();
    } catch (const ProjectInUseError &e) {
        err << cliPrintable(e.message()) << Qt::endl;
        return ExitNotStarted;
    } catch (const Error &e) {
        return fail(err, e);
    }
    out << QStringLiteral("Put %1 messages back to pending").arg(count) << Qt::endl;
    return StatusOk;
}

int cmdExport(const QStringList &args, QTextStream &out, QTextStream &err) {
    Q_UNUSED(out);
    if (args.size() != 2)
        return usage(err, "export", CmdExportUsage);
    AppData project;
    try {
        project.load(args[0]);
        project.contactList->exportToFile(args[1]);
    } catch (const Error &e) {
        return fail(err, e);
    }
    return StatusOk;
}
