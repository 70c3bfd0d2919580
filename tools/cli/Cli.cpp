#include "tools/cli/Cli.h"

#include <QStringDecoder>

namespace {

constexpr const char *ProgramName = "pelorvane-cli";

QString CommandLine(const TCliCommand &command) {
    return QStringLiteral("%1 %2 %3")
        .arg(QLatin1String(ProgramName), QLatin1String(command.Name), QLatin1String(command.Usage));
}

const TCliCommand *FindCommand(const QString &name) {
    for (const TCliCommand &command : CliCommands()) {
        if (name == QLatin1String(command.Name))
            return &command;
    }
    return nullptr;
}

void PrintHelp(QTextStream &out) {
    out << "Usage: " << ProgramName << " COMMAND [ARGUMENTS...]\n"
        << "       " << ProgramName << " help [COMMAND]\n"
        << "       " << ProgramName << " --version\n"
        << "\nCommands:\n";
    for (const TCliCommand &command : CliCommands()) {
        out << "  " << command.Name << ' ' << command.Usage << '\n'
            << "      " << command.Summary << '\n';
    }
}

void PrintCommandHelp(QTextStream &out, const TCliCommand &command) {
    out << "Usage: " << CommandLine(command) << '\n' << command.Summary << '\n';
}

// "--help" before any "--" asks for the command's own help.
bool AsksForHelp(const QStringList &args) {
    for (const QString &arg : args) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return true;
    }
    return false;
}

int Run(const QStringList &args, QTextStream &out, QTextStream &err, QIODevice &in) {
    if (args.isEmpty()) {
        PrintHelp(err);
        return csUsage;
    }
    const QString &first = args.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("help")) {
        if (args.size() == 1) {
            PrintHelp(out);
            return csOk;
        }
        if (const TCliCommand *command = FindCommand(args.at(1)); command && args.size() == 2) {
            PrintCommandHelp(out, *command);
            return csOk;
        }
        err << "Unknown command: " << CliPrintable(args.mid(1).join(QLatin1Char(' '))) << '\n';
        return csUsage;
    }
    if (first == QLatin1String("--version")) {
        out << ProgramName << ' ' << PELORVANE_VERSION << '\n';
        return csOk;
    }
    const TCliCommand *command = FindCommand(first);
    if (!command) {
        err << "Unknown command: " << CliPrintable(first) << '\n'
            << "Run " << ProgramName << " --help for the list of commands.\n";
        return csUsage;
    }
    const QStringList rest = args.mid(1);
    if (AsksForHelp(rest)) {
        PrintCommandHelp(out, *command);
        return csOk;
    }
    TCliContext context{out, err, in, command};
    return command->Function(rest, context);
}

} // namespace

int TCliContext::UsageError(const QString &message) const {
    Err << message << '\n';
    if (Command)
        Err << "Usage: " << CommandLine(*Command) << '\n';
    return csUsage;
}

int TCliContext::Fail(const QString &message) const {
    Err << message << '\n';
    return csFailed;
}

int RunCli(const QStringList &args, QTextStream &out, QTextStream &err, QIODevice &in) {
    const int status = Run(args, out, err, in);
    out.flush();
    err.flush();
    return status;
}

bool CliArguments(int argc, char **argv, QStringList &args, QTextStream &err) {
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

QString CliPrintable(const QString &text) {
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
