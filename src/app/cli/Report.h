// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace cli {

// Exit statuses of the command-line joiner.
constexpr int kExitJoined = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// Writes "wavestitch-join: text" and a line break to standard error.
void PrintError(const QString& text);

}  // namespace cli
