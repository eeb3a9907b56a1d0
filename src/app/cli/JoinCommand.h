// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/cli/Options.h"
#include "app/cli/Report.h"

namespace cli {

// Prints each input's row and the target format; rejected inputs are named on standard error.
int RunInfo(const JoinOptions& options);

// Probes the inputs and joins them into the output.
int RunJoin(const JoinOptions& options);

}  // namespace cli
