// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/InstallLayout.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace platform {
namespace {

const QString kDataFolder = QStringLiteral("../share/wavestitch/");
const QString kModuleFolder = QStringLiteral("../lib/wavestitch/");

bool Writable(const QString& path) {
    // access() asks the kernel, so a read-only mount counts as unwritable even for root.
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

QString BesideOrInstalled(const QString& exeFolder, const QString& folder, const QString& name) {
    if (QFileInfo::exists(exeFolder + name)) {
        return exeFolder + name;
    }
    QString path = QDir::cleanPath(exeFolder + folder + name);
    if (name.endsWith(QLatin1Char('/'))) {
        path += QLatin1Char('/');
    }
    return path;
}

}  // namespace

bool KeepsSettingsBeside(const QString& exeFolder, const QString& settingsFile) {
    // An installed bin/ folder is writable for root, and the settings of root's session belong
    // in root's home all the same, not among the executables the package manager owns.
    if (QFileInfo(exeFolder + kDataFolder).isDir()) {
        return false;
    }
    return Writable(exeFolder) || Writable(settingsFile);
}

QString UserConfigFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Wavestitch/");
}

QString DataPath(const QString& exeFolder, const QString& name) {
    return BesideOrInstalled(exeFolder, kDataFolder, name);
}

QString ModulePath(const QString& exeFolder, const QString& name) {
    return BesideOrInstalled(exeFolder, kModuleFolder, name);
}

}  // namespace platform
