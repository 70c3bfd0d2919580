#pragma once

#include <QIODevice>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

// pelorvane-cli: a table of subcommands run in-process, so that tests drive them with
// their own streams.

enum TCliStatus {
    csOk = 0,     // done
    csFailed = 1, // the command could not do its work (bad number, unreadable file, ...)
    csUsage = 2,  // the command line was wrong
};

struct TCliCommand;

// What a subcommand works with: its streams and its own table row.
struct TCliContext {
    QTextStream &Out;
    QTextStream &Err;
    QIODevice &In;
    const TCliCommand *Command = nullptr;

    // The message and the command's usage on Err; returns csUsage.
    int UsageError(const QString &message) const;
    // The message on Err; returns csFailed.
    int Fail(const QString &message) const;
};

// args: the arguments after the subcommand's name.
using TCliFunction = int (*)(const QStringList &args, TCliContext &context);

struct TCliCommand {
    const char *Name;    // as typed: "pdu"
    const char *Usage;   // arguments after the name: "[--flash] NUMBER [TEXT]"
    const char *Summary; // one line for --help
    TCliFunction Function;
};

// The subcommands in the order --help lists them (CliCommands.cpp).
const QList<TCliCommand> &CliCommands();

// Runs one command line; args excludes the program name. Returns the exit status.
// "--help", "-h" or "help" list the commands; "help COMMAND" or "COMMAND --help" show one.
int RunCli(const QStringList &args, QTextStream &out, QTextStream &err, QIODevice &in);

// The program's arguments (without its name) decoded as UTF-8; false, with a message on err,
// when one is not valid UTF-8.
bool CliArguments(int argc, char **argv, QStringList &args, QTextStream &err);

// Control characters shown as \xHH, so that a bad input cannot garble the terminal.
QString CliPrintable(const QString &text);
