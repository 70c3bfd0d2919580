#pragma once

#include <QIODevice>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

// pelorvane-cli: a table of subcommands run in-process, so that tests drive them with
// their own streams.

enum ExitStatus {
    ExitOk = 0,     // done
    ExitFailed = 1, // the command could not do its work (bad number, unreadable file, ...)
    ExitUsage = 2,  // the command line was wrong
    // Nothing was done: the project is in use by another program, or a run could not start
    ExitNotStarted = 3,
};

struct CliCommand;

// What a subcommand works with: its streams and its own table row.
struct CliContext {
    QTextStream &out;
    QTextStream &err;
    QIODevice &in;
    const CliCommand *command = nullptr;

    // The message and the command's usage on Err; returns ExitUsage.
    int usageError(const QString &message) const;
    // The message on Err; returns ExitFailed.
    int fail(const QString &message) const;
};

// args: the arguments after the subcommand's name.
using CliFunction = int (*)(const QStringList &args, CliContext &context);

struct CliCommand {
    const char *name;    // as typed: "pdu"
    const char *usage;   // arguments after the name: "[--flash] NUMBER [TEXT]"
    const char *summary; // one line for --help
    CliFunction function;
};

// The subcommands in the order --help lists them (CliCommands.cpp).
const QList<CliCommand> &cliCommands();

// Runs one command line; args excludes the program name. Returns the exit status.
// "--help", "-h" or "help" list the commands; "help COMMAND" or "COMMAND --help" show one.
int runCli(const QStringList &args, QTextStream &out, QTextStream &err, QIODevice &in);

// The program's arguments (without its name) decoded as UTF-8; false, with a message on err,
// when one is not valid UTF-8.
bool cliArguments(int argc, char **argv, QStringList &args, QTextStream &err);

// Control characters shown as \xHH, so that a bad input cannot garble the terminal.
QString cliPrintable(const QString &text);
// The same for a message of several lines: the line ends stay, a carriage return before one goes.
QString cliPrintableLines(const QString &text);
