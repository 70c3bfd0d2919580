#pragma once

#include <QString>
#include <QStringList>

// The command line: [--simulate] [--help] [--version] [project file].
struct CommandLine {
    bool help = false;
    bool version = false;
    bool simulate = false;
    QString projectFile; // the first argument that is not an option
    QString error;       // not empty when the line cannot be used
};

// arguments: as the process got them, the program's name first.
CommandLine parseCommandLine(const QStringList &arguments);
QString usageText();

// The whole program: command line, single-instance check, the application object, the data
// module and the main window; returns the exit code.
int runPelorvane(int argc, char **argv);
