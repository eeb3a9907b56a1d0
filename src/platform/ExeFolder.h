// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace platform {

// The folder of the running executable, ending in '/'. Works before any application object exists.
QString ExeFolder();

// Test seam: makes ExeFolder() answer folder (ending in '/') instead; an empty folder restores it.
void SetExeFolderForTesting(const QString& folder);

}  // namespace platform
