#pragma once

#include <QString>

namespace platform {

// The user's temporary folder, always ending in '/'.
QString TempFolder();

}  // namespace platform
