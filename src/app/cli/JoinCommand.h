#pragma once

#include "app/cli/Options.h"

namespace cli {

// Exit statuses of the command-line joiner.
constexpr int kExitJoined = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// Prints each input's row and the target format; rejected inputs are named on standard error.
int RunInfo(const JoinOptions& options);

// Probes the inputs and joins them into the output.
int RunJoin(const JoinOptions& options);

// The inputs as full paths, in the order given or sorted as asked.
QStringList InputPaths(const JoinOptions& options);

// Writes "wavestitch-join: text" and a line break to standard error.
void PrintError(const QString& text);

}  // namespace cli
