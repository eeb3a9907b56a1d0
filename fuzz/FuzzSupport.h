// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MessageBox.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// What every fuzz target shares: a quiet message box, a private temporary folder and a check that
// stops the run with the broken condition named, so libFuzzer keeps the input.
namespace fuzz {

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

// Messages are part of normal rejection; printing millions of them would only slow the run.
inline void SilenceMessages() {
    static const bool silenced = [] {
        platform::SetMessageBoxHandler(
            [](const QString&, const QString&, unsigned) { return platform::IDOK; });
        return true;
    }();
    (void)silenced;
}

// A folder of this process, removed when it exits normally.
inline const QString& TempFolder() {
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    static const QString path = dir.path() + QLatin1Char('/');
    return path;
}

// Writes the input to name in the temporary folder and returns its path.
inline QString WriteInput(const QString& name, const std::uint8_t* data, std::size_t size) {
    const QString path = TempFolder() + name;
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
               static_cast<qint64>(size));
    return path;
}

}  // namespace fuzz
