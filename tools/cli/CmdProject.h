#pragma once

#include <QStringList>
#include <QTextStream>

// pelorvane-cli subcommands on project files. Each takes the arguments after its name and
// returns the exit status: 0 done, 2 for a wrong command line (the usage on err) or a failure
// (the error on err).

extern const char CmdShowUsage[];
extern const char CmdShowSummary[];
int cmdShow(const QStringList &args, QTextStream &out, QTextStream &err);

// import FILE.sms CONTACTS [--country CC]: adds the contacts of an address-book file to the
// project (an empty project when the file does not exist yet) and saves it; prints "Imported
// %d contacts, ignored %d duplicates" and the import's details. Malformed lines are skipped
// and named on err, and make the status 2 after the rest has been saved.
extern const char CmdImportUsage[];
extern const char CmdImportSummary[];
int cmdImport(const QStringList &args, QTextStream &out, QTextStream &err);

// retry FILE.sms [--failed] [--unknown]: puts the outbox's failed and unknown messages (both
// when neither option is given) back to pending and saves the project; prints "Put N
// messages back to pending".
extern const char CmdRetryUsage[];
extern const char CmdRetrySummary[];
int cmdRetry(const QStringList &args, QTextStream &out, QTextStream &err);

// export FILE.sms CONTACTS.csv: writes the project's contacts to an exchange file.
extern const char CmdExportUsage[];
extern const char CmdExportSummary[];
int cmdExport(const QStringList &args, QTextStream &out, QTextStream &err);
