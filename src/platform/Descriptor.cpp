// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Descriptor.h"

#include <unistd.h>

namespace platform {

Descriptor::~Descriptor() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

}  // namespace platform
