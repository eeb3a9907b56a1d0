// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/cli/Options.h"

namespace cli {

// Joins MP3 inputs frame for frame, without decoding, behind one new tag frame with the whole
// stream's counts; the output is reached as for any join. Returns the exit status.
int RunCopy(const JoinOptions& options);

}  // namespace cli
