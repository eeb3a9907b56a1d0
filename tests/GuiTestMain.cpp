// SPDX-License-Identifier: GPL-3.0-or-later
// The main of the widget tests: one application object for the whole run, on the offscreen
// platform unless the environment asks for another.
#include "app/ErrorReport.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    TApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
