#include "tools/cli/CmdProject.h"

#include "app/Database.h"
#include "app/Errors.h"
#include "data/OleDate.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

const char CmdShowUsage[] = "FILE.sms";
const char CmdShowSummary[] = "Print a project file as JSON";
const char CmdImportUsage[] = "FILE.sms CONTACTS.csv";
const char CmdImportSummary[] = "Import contacts from a comma-separated file into a project";
const char CmdExportUsage[] = "FILE.sms CONTACTS.csv";
const char CmdExportSummary[] = "Export a project's contacts to a comma-separated file";

namespace {

constexpr int StatusOk = 0;
constexpr int StatusFailed = 2;

int Usage(QTextStream &err, const char *name, const char *usage) {
    err << "usage: pelorvane-cli " << name << ' ' << usage << Qt::endl;
    return StatusFailed;
}

int Fail(QTextStream &err, const EPelorvane &e) {
    err << e.Message() << Qt::endl;
    return StatusFailed;
}

// ISO 8601 local date-time, null when not set; a value no calendar date stands for is given
// as the number itself.
QJsonValue DateJson(double ole) {
    if (!OleIsSet(ole))
        return QJsonValue::Null;
    QDateTime dateTime = OleToDateTime(ole);
    if (!dateTime.isValid())
        return ole;
    return dateTime.toString(dateTime.time().msec() != 0 ? Qt::ISODateWithMs : Qt::ISODate);
}

QString StatusName(TMessageStatus status) {
    switch (status) {
    case msPending:
        return QStringLiteral("pending");
    case msSending:
        return QStringLiteral("sending");
    case msSent:
        return QStringLiteral("sent");
    }
    return QString::number(int(status));
}

QJsonArray MessagesJson(TMessageList &list) {
    QJsonArray array;
    TMessageList::TLocker lock(list);
    for (const auto &m : *lock) {
        array.append(QJsonObject{
            {QStringLiteral("number"), QString::fromLocal8Bit(m->Number)},
            {QStringLiteral("text"), m->Text},
            {QStringLiteral("flash"), m->Flash != 0},
            {QStringLiteral("long"), m->Long != 0},
            {QStringLiteral("created"), DateJson(m->Created)},
            {QStringLiteral("sent"), DateJson(m->Sent)},
            {QStringLiteral("status"), StatusName(m->Status)},
        });
    }
    return array;
}

QJsonArray ContactsJson(TContactList &list) {
    QJsonArray array;
    TContactList::TLocker lock(list);
    for (const auto &c : *lock) {
        array.append(QJsonObject{
            {QStringLiteral("name"), c->Name},
            {QStringLiteral("number"), QString::fromLocal8Bit(c->Number)},
            {QStringLiteral("sentCount"), c->SentCount},
            {QStringLiteral("checked"), c->Checked != 0},
        });
    }
    return array;
}

} // namespace

int CmdShow(const QStringList &args, QTextStream &out, QTextStream &err) {
    if (args.size() != 1)
        return Usage(err, "show", CmdShowUsage);
    TDataModule1 project;
    try {
        project.Load(args[0]);
    } catch (const EPelorvane &e) {
        return Fail(err, e);
    }
    QJsonObject compose{
        {QStringLiteral("to"), QString::fromLocal8Bit(project.Compose.To)},
        {QStringLiteral("cc"), QString::fromLocal8Bit(project.Compose.Cc)},
        {QStringLiteral("subject"), project.Compose.Subject},
        {QStringLiteral("body"), project.Compose.Body},
    };
    QJsonObject root{
        {QStringLiteral("compose"), compose},
        {QStringLiteral("contacts"), ContactsJson(*project.ContactList)},
        {QStringLiteral("outbox"), MessagesJson(*project.OutboxList)},
        {QStringLiteral("sent"), MessagesJson(*project.SentList)},
    };
    out << QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
    out.flush();
    return StatusOk;
}

int CmdImport(const QStringList &args, QTextStream &out, QTextStream &err) {
    if (args.size() != 2)
        return Usage(err, "import", CmdImportUsage);
    TDataModule1 project;
    try {
        if (QFileInfo::exists(args[0]))
            project.Load(args[0]);
        else
            project.FileName = args[0];
    } catch (const EPelorvane &e) {
        return Fail(err, e);
    }
    TImportResult result;
    try {
        result = project.ContactList->ImportFromFile(args[1]);
    } catch (const EPelorvane &e) {
        // Contacts taken from the lines before a malformed one are kept.
        if (project.Modified) {
            try {
                project.Save();
            } catch (const EPelorvane &saveError) {
                Fail(err, saveError);
            }
        }
        return Fail(err, e);
    }
    try {
        project.Save();
    } catch (const EPelorvane &e) {
        return Fail(err, e);
    }
    out << QStringLiteral("Imported %1 contacts, ignored %2 duplicates")
               .arg(result.Imported)
               .arg(result.Duplicates)
        << Qt::endl;
    return StatusOk;
}

int CmdExport(const QStringList &args, QTextStream &out, QTextStream &err) {
    Q_UNUSED(out);
    if (args.size() != 2)
        return Usage(err, "export", CmdExportUsage);
    TDataModule1 project;
    try {
        project.Load(args[0]);
        project.ContactList->ExportToFile(args[1]);
    } catch (const EPelorvane &e) {
        return Fail(err, e);
    }
    return StatusOk;
}
