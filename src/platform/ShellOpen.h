// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

namespace platform {

// Returns whether the address was handed to a program.
using ShellOpenHandler = std::function<bool(const QString& address)>;

// Opens an address (a web page or a file) with the desktop's default program. False when an address
// was given but no program took it, also without an installed handler; an empty address opens
// nothing and is no failure.
bool ShellOpen(const QString& address);

// Installs a handler and returns the previous one.
ShellOpenHandler SetShellOpenHandler(ShellOpenHandler handler);

}  // namespace platform
