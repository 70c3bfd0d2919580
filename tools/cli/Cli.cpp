#include "tools/cli/Cli.h"

#include <QStringDecoder>

namespace {

constexpr const char *ProgramName = "pelorvane-cli";

QString commandLine(const CliCommand &command) {
    return QStringLiteral("%1 %2 %3")
        .arg(QLatin1String(ProgramName), QLatin1String(command.name), QLatin1String(command.usage));
}

const CliCommand *findCommand(const QString &name) {
    for (const CliCommand &command : cliCommands()) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

void printHelp(QTextStream &out) {
    out << "Usage: " << ProgramName << " COMMAND [ARGUMENTS...]\n"
        << "       " << ProgramName << " help [COMMAND]\n"
        << "       " << ProgramName << " --version\n"
        << "\nCommands:\n";
    for (const CliCommand &command : cliCommands()) {
        out << "  " << command.name << ' ' << command.usage << '\n'
            << "      " << command.summary << '\n';
    }
}

void printCommandHelp(QTextStream &out, const CliCommand &command) {
    out << "Usage: " << commandLine(command) << '\n' << command.summary << '\n';
}

// "--help" before any "--" asks for the command's own help.
bool asksForHelp(const QStringList &args) {
    for (const QString &arg : args) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return true;
    }
    return false;
}

int run(const QStringList &args, QTextStream &out, QTextStream &err, QIODevice &in) {
    if (args.isEmpty()) {
        printHelp(err);
        return ExitUsage;
    }
    const QString &first = args.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("help")) {
        if (args.size() == 1) {
            printHelp(out);
            return ExitOk;
        }
        if (const CliCommand *command = findCommand(args.at(1)); command && args.size() == 2) {
            printCommandHelp(out, *command);
            return ExitOk;
        }
        err << "Unknown command: " << cliPrintable(args.mid(1).join(QLatin1Char(' '))) << '\n';
        return ExitUsage;
    }
    if (first == QLatin1String("--version")) {
        out << ProgramName << ' ' << PELORVANE_VERSION << '\n';
        return ExitOk;
    }
    const CliCommand *command = findCommand(first);
    if (!command) {
        err << "Unknown command: " << cliPrintable(first) << '\n'
            << "Run " << ProgramName << " --help for the list of commands.\n";
        return ExitUsage;
    }
    const QStringList rest = args.mid(1);
    if (asksForHelp(rest)) {
        printCommandHelp(out, *command);
        return ExitOk;
    }
    CliContext context{out, err, in, command};
    return command->function(rest, context);
}

} // namespace

int CliContext::usageError(const QString &message) const {
    err << message << '\n';
    if (command)
        err << "Usage: " << commandLine(*command) << '\n';
    return ExitUsage;
}

int CliContext::fail(const QString &message) const {
    err << message << '\n';
    return ExitFailed;
}

int runCli(const QStringList &args, QTextStream &out, QTextStream &err, QIODevice &in) {
    const int status = run(args, out, err, in);
    out.flush();
    err.flush();
    return status;
}

bool cliArguments(int argc, char **argv, QStringList &args, QTextStream &err) {
    args.clear();
    for (int i = 1; i < argc; ++i) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString arg = decoder.decode(QByteArrayView(argv[i]));
        if (decoder.hasError()) {
            err << "Argument " << i << " is not valid UTF-8\n";
            err.flush();
            return false;
        }
        args << arg;
    }
    return true;
}

QString cliPrintable(const QString &text) {
    QString shown;
    shown.reserve(text.size());
    for (QChar ch : text) {
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(ch.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += ch;
    }
    return shown;
}

QString cliPrintableLines(const QString &text) {
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        line = cliPrintable(line);
    }
    return lines.join(QLatin1Char('\n'));
}
