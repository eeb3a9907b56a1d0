// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace platform {

// Where the program's files are. The build folder and an unpacked copy keep everything beside the
// executable (portable); an installation has the executables in bin/, the data in
// ../share/wavestitch/ and the modules in ../lib/wavestitch/, and keeps each user's settings in the
// user's configuration folder.

// True when the settings file belongs beside the executable: its folder, or the settings file
// already there, is writable, and the folder is not the bin/ folder of an installation.
bool KeepsSettingsBeside(const QString& exeFolder, const QString& settingsFile);

// $XDG_CONFIG_HOME/Wavestitch/ (by default ~/.config/Wavestitch/), ending in '/'.
QString UserConfigFolder();

// exeFolder + name when that exists, else name in the installation's data or module folder.
// A name ending in '/' gives a path ending in '/'.
QString DataPath(const QString& exeFolder, const QString& name);
QString ModulePath(const QString& exeFolder, const QString& name);

}  // namespace platform
