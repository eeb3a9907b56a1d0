// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ReducedMotion.h"

#include <QProcess>
#include <QStandardPaths>

namespace platform {

void WhenMotionReduced(QObject* context, std::function<void()> reduced) {
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (gsettings.isEmpty()) {
        return;
    }
    auto* process = new QProcess(context);
    QObject::connect(process, &QProcess::finished, context,
                     [process, reduced = std::move(reduced)](int code, QProcess::ExitStatus status) {
                         if (status == QProcess::NormalExit && code == 0 &&
                             process->readAllStandardOutput().trimmed() == "false") {
                             reduced();
                         }
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, context, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            process->deleteLater();
        }
    });
    process->start(gsettings, {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
                               QStringLiteral("enable-animations")});
}

}  // namespace platform
