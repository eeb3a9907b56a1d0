// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ExeFolder.h"

#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace platform {
namespace {

QString& Override() {
    static QString folder;
    return folder;
}

}  // namespace

void SetExeFolderForTesting(const QString& folder) {
    Override() = folder;
}

QString ExeFolder() {
    if (!Override().isEmpty()) {
        return Override();
    }
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return QString();
    }
    QString folder = QFileInfo(QString::fromStdString(exe.string())).absolutePath();
    if (!folder.endsWith(QLatin1Char('/'))) {
        folder += QLatin1Char('/');
    }
    return folder;
}

}  // namespace platform
