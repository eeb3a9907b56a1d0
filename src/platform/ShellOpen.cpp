// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ShellOpen.h"

#include <utility>

namespace platform {
namespace {

ShellOpenHandler& Handler() {
    static ShellOpenHandler handler;
    return handler;
}

}  // namespace

bool ShellOpen(const QString& address) {
    if (address.isEmpty()) {
        return true;
    }
    return Handler() && Handler()(address);
}

ShellOpenHandler SetShellOpenHandler(ShellOpenHandler handler) {
    return std::exchange(Handler(), std::move(handler));
}

}  // namespace platform
