#include "tools/cli/Cli.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[]) {
    // A file-size limit (ulimit -f) is a write error the save reports, not the end of the
    // program half-way through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly)) {
        err << "Cannot read standard input\n";
        return ExitFailed;
    }
    QStringList args;
    if (!cliArguments(argc, argv, args, err))
        return ExitUsage;
    return runCli(args, out, err, in);
}
