#include "support/CliRun.h"

#include "tools/cli/Cli.h"

#include <QBuffer>
#include <QTextStream>

CliRun runCliInProcess(const QStringList &args) {
    CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    QBuffer in;
    in.open(QIODevice::ReadOnly);
    run.status = runCli(args, out, err, in);
    out.flush();
    err.flush();
    return run;
}
