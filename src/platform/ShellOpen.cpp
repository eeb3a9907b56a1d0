#include "platform/ShellOpen.h"

#include <utility>

namespace platform {
namespace {

ShellOpenHandler& Handler() {
    static ShellOpenHandler handler;
    return handler;
}

}  // namespace

void ShellOpen(const QString& address) {
    if (address.isEmpty() || !Handler()) {
        return;
    }
    Handler()(address);
}

ShellOpenHandler SetShellOpenHandler(ShellOpenHandler handler) {
    return std::exchange(Handler(), std::move(handler));
}

}  // namespace platform
