#pragma once

#include <QString>
#include <QTextStream>

class AppData;

// The commands that write a project hold its lock from before they read it until they end:
// holder is what they are ("pelorvane-cli queue"). With wait, a lock held by another program
// is waited for, which is said on err; without, loading or saving raises ProjectInUseError,
// which the command reports with exit status 3 (ExitNotStarted).
void holdProjectLocks(AppData &data, const QString &holder, bool wait, QTextStream &err);
