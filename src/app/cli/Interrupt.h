// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace cli {

// SIGINT and SIGTERM do not end the process: they become the join's terminate request, so the
// output is finished as after Cancel in the program. Interrupted system calls are restarted.
void InstallInterruptHandlers();

// True once SIGINT or SIGTERM arrived.
bool Interrupted();

}  // namespace cli
