#pragma once

#include "tools/cli/Cli.h"

// One function per subcommand, each in its own CmdXxx.cpp; CliCommands.cpp lists them.

// pdu [--flash] NUMBER [TEXT]: the coding, the AT+CMGS line and the body line of one message.
int cmdPdu(const QStringList &args, CliContext &context);

// queue FILE.sms (--to NUMBERS | --all | --checked) [--subject S] [--flash] [--country CC]
// [--allow-unverified] [--dry-run] TEXT
int cmdQueue(const QStringList &args, CliContext &context);

// send FILE.sms [--port NAME] [--simulate]: one sending run, then the project is saved.
int cmdSend(const QStringList &args, CliContext &context);

// probe [--port NAME] [--simulate]: the phone view's device probe, one "Caption: value" line
// per row.
int cmdProbe(const QStringList &args, CliContext &context);
