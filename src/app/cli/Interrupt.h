// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace cli {

// SIGINT, SIGTERM and SIGHUP do not end the process: they become the join's terminate request, so
// the output is finished as after Cancel in the program. Interrupted system calls are restarted.
void InstallInterruptHandlers();

// True once one of them arrived.
bool Interrupted();

}  // namespace cli
