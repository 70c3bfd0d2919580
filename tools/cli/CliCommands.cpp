#include "tools/cli/CliCommands.h"

#include "tools/cli/CmdProject.h"

// A new subcommand is one row here, its function declared in CliCommands.h.
const QList<TCliCommand> &CliCommands() {
    static const QList<TCliCommand> commands = {
        {"pdu", "[--flash] NUMBER [TEXT]",
         "Print the coding, the AT+CMGS line and the PDU body line of one message; TEXT is "
         "read from standard input when absent",
         &CmdPdu},
        {"show", CmdShowUsage, CmdShowSummary,
         [](const QStringList &args, TCliContext &c) { return CmdShow(args, c.Out, c.Err); }},
        {"import", CmdImportUsage, CmdImportSummary,
         [](const QStringList &args, TCliContext &c) { return CmdImport(args, c.Out, c.Err); }},
        {"export", CmdExportUsage, CmdExportSummary,
         [](const QStringList &args, TCliContext &c) { return CmdExport(args, c.Out, c.Err); }},
        {"queue", "FILE.sms (--to \"111;222\" | --all | --checked) [--subject S] [--flash] TEXT",
         "Add one outbox message per recipient, as the compose view's Send to Outbox does, "
         "and save the project",
         &CmdQueue},
        {"send", "FILE.sms [--port NAME] [--simulate]",
         "Send the outbox through the phone (or a simulated one), file the sent messages, "
         "save the project; exit status 1 unless every pending message was sent",
         &CmdSend},
        {"probe", "[--port NAME] [--simulate]",
         "Read the phone's battery level, manufacturer, model and signal strength, as the "
         "phone view does; the port is the one in the settings file unless given",
         &CmdProbe},
    };
    return commands;
}
