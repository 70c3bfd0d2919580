#pragma once

#include <QString>

// The program's own folder for state that must outlive a crash (journals of untitled projects
// or of projects in folders it cannot write, backups of files saved in place, lock details):
// $XDG_STATE_HOME/pelorvane, by default ~/.local/state/pelorvane. Not created here.
QString stateFolder();

// A name for a file in the state folder that belongs to the file at path: its name and a
// digest of its absolute path, then suffix ("club.sms-3f2a...c1.journal").
QString stateFileName(const QString &path, const QString &suffix);
