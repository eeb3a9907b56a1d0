// SPDX-License-Identifier: GPL-3.0-or-later
// The handler removes the files itself instead of asking the event loop to quit: a join runs inside
// the progress dialog's own loop and a question box waits in another, so the windows' clean-up could
// come late or never, and a busy thread would hold it up.
#include "platform/SignalCleanup.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>

#include <unistd.h>

namespace platform {
namespace {

// The handler may run in any thread while another changes the names, so it reads only slots
// marked Ready, and a freed slot is taken again last of all.
enum SlotState : int { kFree, kWriting, kReady };

struct Slot {
    std::atomic<int> state{kFree};
    bool folder = false;
    char path[PATH_MAX] = {};
};
static_assert(std::atomic<int>::is_always_lock_free, "the state is read in a signal handler");

constexpr int kSlots = 16;
Slot removals[kSlots];
std::atomic<unsigned> nextSlot{0};

void RemoveAndEnd(int signal) {
    for (const bool folders : {false, true}) {
        for (const Slot& slot : removals) {
            if (slot.state.load() == kReady && slot.folder == folders) {
                folders ? rmdir(slot.path) : unlink(slot.path);
            }
        }
    }
    // Delivered again once the handler returns, now with the default action.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

void InstallSignalCleanup() {
    struct sigaction action = {};
    action.sa_handler = RemoveAndEnd;
    sigemptyset(&action.sa_mask);
    // Another of these signals arriving meanwhile waits: the first one ends the process.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction old = {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
}

RemovedOnSignal::RemovedOnSignal(const QByteArray& path, Kind kind) {
    if (path.isEmpty() || path.size() >= PATH_MAX) {
        return;
    }
    for (int tried = 0; tried < kSlots; ++tried) {
        const int index = static_cast<int>(nextSlot.fetch_add(1) % kSlots);
        Slot& slot = removals[index];
        int free = kFree;
        if (slot.state.compare_exchange_strong(free, kWriting)) {
            std::memcpy(slot.path, path.constData(), static_cast<std::size_t>(path.size()) + 1);
            slot.folder = kind == Kind::Folder;
            slot.state.store(kReady);
            slot_ = index;
            return;
        }
    }
}

RemovedOnSignal::~RemovedOnSignal() {
    if (slot_ >= 0) {
        removals[slot_].state.store(kFree);
    }
}

}  // namespace platform
