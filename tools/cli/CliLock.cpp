#include "tools/cli/CliLock.h"

#include "app/AppData.h"
#include "tools/cli/Cli.h"

void holdProjectLocks(AppData &data, const QString &holder, bool wait, QTextStream &err) {
    data.lockHolder = holder;
    data.waitForLock = wait;
    data.onWaitForLock = [&err](const QString &message) {
        err << cliPrintable(message) << "; waiting for it" << Qt::endl;
    };
}
