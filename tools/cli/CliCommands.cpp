#include "tools/cli/CliCommands.h"

// A new subcommand is one row here, its function declared in CliCommands.h.
const QList<TCliCommand> &CliCommands() {
    static const QList<TCliCommand> commands = {
        {"pdu", "[--flash] NUMBER [TEXT]",
         "Print the coding, the AT+CMGS line and the PDU body line of one message; TEXT is "
         "read from standard input when absent",
         &CmdPdu},
    };
    return commands;
}
