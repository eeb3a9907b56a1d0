#pragma once

#include <QString>

namespace platform {

// The folder of the running executable, ending in '/'. Works before any application object exists.
QString ExeFolder();

}  // namespace platform
