// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli/Report.h"

#include "platform/FilePath.h"

#include <cstdio>

namespace cli {

void PrintError(const QString& text) {
    std::fputs(("wavestitch-join: " + platform::ShownName(text) + QLatin1Char('\n')).toUtf8().constData(),
               stderr);
}

}  // namespace cli
