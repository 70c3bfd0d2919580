#pragma once

#include <QStringList>
#include <QTextStream>

// pelorvane-cli subcommands on project files. Each takes the arguments after its name and
// returns the exit status: 0 done, 2 for a wrong command line (the usage on err) or a failure
// (the error on err).

// show FILE.sms: the whole project as one JSON document on out.
extern const char CmdShowUsage[];
extern const char CmdShowSummary[];
int cmdShow(const QStringList &args, QTextStream &out, QTextStream &err);

// import FILE.sms CONTACTS.csv: adds the contacts of an exchange file to the project (an empty
// project when the file does not exist yet) and saves it; prints "Imported %d contacts,
// ignored %d duplicates". A malformed line fails after saving the contacts taken before it.
extern const char CmdImportUsage[];
extern const char CmdImportSummary[];
int cmdImport(const QStringList &args, QTextStream &out, QTextStream &err);

// export FILE.sms CONTACTS.csv: writes the project's contacts to an exchange file.
extern const char CmdExportUsage[];
extern const char CmdExportSummary[];
int cmdExport(const QStringList &args, QTextStream &out, QTextStream &err);
