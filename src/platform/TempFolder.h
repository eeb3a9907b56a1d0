// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace platform {

// The user's own temporary folder, always ending in '/': "wavestitch-<uid>" in the system's
// temporary folder, made with mode 0700. The program's temporary files have fixed names, so only
// a real folder (not a link) of this user's that no one else may enter is used; when another user
// or a link holds that name, a fresh folder with a unique name is made beside it instead.
// The folder is also named for removal on a signal (see SignalCleanup.h).
QString TempFolder();

// Removes the folder TempFolder gave in this run when it is empty, at the program's end; one that
// still holds something may be another running copy's.
void RemoveTempFolderIfEmpty();

}  // namespace platform
