#include "tools/cli/CliCommands.h"

#include "tools/cli/CmdProject.h"

// A new subcommand is one row here, its function declared in CliCommands.h.
const QList<CliCommand> &cliCommands() {
    static const QList<CliCommand> commands = {
        {"pdu", "[--flash] [--long] [--ref N] [--coding gsm|ucs2|8bit] NUMBER [TEXT]",
         "Print the coding, then the AT+CMGS line and the PDU body line of each SMS of one "
         "message: one, or with --long the parts of a text longer than one SMS (reference N, "
         "default 0); the coding is chosen from the text unless given; TEXT is read from "
         "standard input when absent",
         &cmdPdu},
        {"show", CmdShowUsage, CmdShowSummary,
         [](const QStringList &args, CliContext &c) { return cmdShow(args, c.out, c.err); }},
        {"import", CmdImportUsage, CmdImportSummary,
         [](const QStringList &args, CliContext &c) { return cmdImport(args, c.out, c.err); }},
        {"export", CmdExportUsage, CmdExportSummary,
         [](const QStringList &args, CliContext &c) { return cmdExport(args, c.out, c.err); }},
        {"queue",
         "FILE.sms (--to \"111;222\" | --all | --checked) [--subject S] [--flash] [--long] "
         "[--country CC] [--allow-unverified] [--dry-run] [--wait] TEXT",
         "Add one outbox message per recipient, as the compose view's Send to Outbox does, "
         "and save the project. {Name}, {FirstName} and {Number} (fallback: {Name|friend}) are "
         "filled per recipient; numbers become international with the country of national "
         "numbers (--country, else the settings'); refused numbers are named and give exit "
         "status 2, the others are queued; --dry-run prints each text and changes nothing; "
         "--long sends a text longer than one SMS in parts; a project in use by another "
         "program is waited for with --wait, else refused with exit status 3",
         &cmdQueue},
        {"send",
         "FILE.sms [--port NAME]... [--simulate] [--retry-after 5,30,120] "
         "[--stop-at-first-refusal] [--pin-file FILE] [--smsc NUMBER] [--network-wait SECONDS] "
         "[--interval SECONDS] [--jitter PERCENT] [--per-hour N] [--per-day N] "
         "[--quiet HH:MM-HH:MM|none] [--start-at HH:MM] [--wait] [--smpp HOST:PORT "
         "--system-id ID [--system-type TYPE] [--password-file FILE] [--tls [--certificate "
         "FILE]] [--source NAME] [--bind transceiver|transmitter] [--no-receipts] [--window N] "
         "[--rate N] [--latin1]]",
         "Send the outbox through the phone (or a simulated one), file the sent messages, "
         "save the project; every outcome is in the project's journal before the next message "
         "goes. A message the phone refuses for a while is tried again after the --retry-after "
         "waits in seconds (0: at once), one refused for good fails and the run goes on, unless "
         "--stop-at-first-refusal. The pace: --interval seconds between messages (varied at "
         "random by --jitter percent either way, 25 by default), at most --per-hour and "
         "--per-day messages through this SIM (counted across runs), no message in the "
         "--quiet hours, none before --start-at (a time already past today means tomorrow); "
         "each overrides the stored setting for this run, and a run that has to wait says "
         "until when. Ctrl+C, SIGTERM and SIGHUP stop the run. Exit status 0 when "
         "every pending message was sent, 1 when some were not, 3 when nothing could be sent "
         "(the run could not start; the project is in use, --wait waits for it; its outcomes "
         "cannot be recorded). A SIM card that asks for its PIN gets the first line of "
         "--pin-file, else the environment variable PELORVANE_PIN; a PIN the card refused is "
         "not sent again. A phone that searches for its network is waited for up to "
         "--network-wait seconds (else the settings', 60 by default). --smsc puts a service "
         "centre number into every message of this run, for a phone that has none. --port "
         "given more than once (up to 16 phones) sends through all of them at once, each "
         "message through one; a phone that cannot send pauses and the others go on. --smpp "
         "sends through an SMS centre over SMPP instead (the password from --password-file or "
         "PELORVANE_SMPP_PASSWORD; --certificate trusts a centre's own certificate, a PEM file, "
         "besides the system's; transceiver bind and delivery receipts unless told "
         "otherwise; --window submissions outstanding, 10 by default; --rate messages per "
         "second at most; --latin1 when the centre reads its default alphabet as Latin-1); "
         "a refused bind gives exit status 3",
         &cmdSend},
        {"retry", CmdRetryUsage, CmdRetrySummary,
         [](const QStringList &args, CliContext &c) { return cmdRetry(args, c.out, c.err); }},
        {"probe",
         "[--port NAME]... [--simulate] [--smsc NUMBER] [--smpp HOST:PORT --system-id ID "
         "[--password-file FILE] [--tls [--certificate FILE]] [--bind transceiver|transmitter]]",
         "Read the phone's battery level, manufacturer, model and signal strength, then its "
         "SIM card, network, operator, service centre, signal in dBm and IMEI, as the phone "
         "view does; a row that is not fine says what to do. The port is the one in the "
         "settings file unless given. Exit status 0 when the phone can send, 1 when something "
         "stops it (or the phone cannot be read). With --port more than once each phone's "
         "rows follow a line naming its port, and the exit status is 0 only when every "
         "phone can send. With --smpp it binds to the SMS centre, prints "
         "\"Connected as ... to ...\" or why the bind failed, and unbinds",
         &cmdProbe},
    };
    return commands;
}
