#include "tools/cli/Cli.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[]) {
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
