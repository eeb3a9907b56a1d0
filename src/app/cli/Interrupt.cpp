// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli/Interrupt.h"

#include <atomic>
#include <csignal>

namespace cli {
namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

void OnSignal(int) {
    interrupted.store(true);
}

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Without SA_RESTART a signal in the middle of a read or write would look like a failed file.
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored at start stays ignored, as the shell's background jobs expect.
        struct sigaction old = {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
}

bool Interrupted() {
    return interrupted.load();
}

}  // namespace cli
