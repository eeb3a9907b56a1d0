// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Inputs of the benchmarks are made on the spot with sox, lame and ffmpeg in one temporary folder.
namespace bench {

inline QString Dir() {
    static QTemporaryDir dir;
    return dir.path() + QLatin1Char('/');
}

inline bool Run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    process.waitForFinished(-1);
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

}  // namespace bench
