#pragma once

#include <QString>
#include <QStringList>

// The command line: [--simulate] [--help] [--version] [project file].
struct TCommandLine {
    bool Help = false;
    bool Version = false;
    bool Simulate = false;
    QString ProjectFile; // the first argument that is not an option
    QString Error;       // not empty when the line cannot be used
};

// arguments: as the process got them, the program's name first.
TCommandLine ParseCommandLine(const QStringList &arguments);
QString UsageText();

// The whole program: command line, single-instance check, the application object, the data
// module and the main window; returns the exit code.
int RunPelorvane(int argc, char **argv);
