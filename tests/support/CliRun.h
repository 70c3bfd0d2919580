#pragma once

#include <QString>
#include <QStringList>

// What one pelorvane-cli command run in this process printed and returned.
struct CliRun {
    int status = -1;
    QString out;
    QString err;
};

// Runs the command with an empty standard input.
CliRun runCliInProcess(const QStringList &args);
