// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

class QObject;

namespace platform {

// Asks the desktop whether its user wants less motion (GNOME's "enable-animations" switched off)
// and calls reduced if so. The answer comes later, through context's event loop, so the window
// never waits for it; where no desktop answers, reduced is never called.
void WhenMotionReduced(QObject* context, std::function<void()> reduced);

}  // namespace platform
