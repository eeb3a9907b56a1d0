#pragma once

#include <QString>

#include <functional>

namespace platform {

using ShellOpenHandler = std::function<void(const QString& address)>;

// Opens an address (a web page or a file) with the desktop's default program. An empty address
// opens nothing. Without an installed handler nothing is opened.
void ShellOpen(const QString& address);

// Installs a handler and returns the previous one.
ShellOpenHandler SetShellOpenHandler(ShellOpenHandler handler);

}  // namespace platform
