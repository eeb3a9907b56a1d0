// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TempFolder.h"

#include "platform/SignalCleanup.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool IsPrivateFolder(const QString& path) {
    struct stat info {};
    return lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

bool Exists(const QString& path) {
    struct stat info {};
    return lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// A folder made with a unique name when the usual one is taken; one per temporary folder, so every
// caller in this run shares it.
QString FreshFolder(const QString& parent, const QString& taken) {
    static std::mutex mutex;
    static QString madeIn;
    static QString made;
    const std::lock_guard<std::mutex> lock(mutex);
    if (madeIn == parent && IsPrivateFolder(made)) {
        return made;
    }
    QByteArray pattern = QFile::encodeName(taken + QStringLiteral("-XXXXXX"));
    if (mkdtemp(pattern.data()) == nullptr) {
        qWarning("%s is not a private folder of this user and no other could be made: %s",
                 qUtf8Printable(taken), strerror(errno));
        return QString();
    }
    madeIn = parent;
    made = QFile::decodeName(pattern);
    qWarning("%s is not a private folder of this user; using %s", qUtf8Printable(taken),
             qUtf8Printable(made));
    return made;
}

// The folder this run uses, removed at its end and on a signal when empty.
class UsedFolder {
public:
    void Use(const QString& folder) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const QByteArray path = QFile::encodeName(folder);
        if (path != path_) {
            path_ = path;
            onSignal_.reset();
            onSignal_.emplace(path_, RemovedOnSignal::Kind::Folder);
        }
    }
    void RemoveIfEmpty() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!path_.isEmpty()) {
            rmdir(path_.constData());
        }
    }

private:
    std::mutex mutex_;
    QByteArray path_;
    std::optional<RemovedOnSignal> onSignal_;
};

UsedFolder& Used() {
    static UsedFolder used;
    return used;
}

}  // namespace

QString TempFolder() {
    const QString parent = QDir::tempPath();
    const QString own = QStringLiteral("%1/wavestitch-%2").arg(parent).arg(geteuid());
    // Named before it is made, so a signal right after leaves no empty folder behind.
    Used().Use(own);
    mkdir(QFile::encodeName(own).constData(), 0700);
    if (IsPrivateFolder(own) || !Exists(own)) {
        // A folder that could not be made (the temporary folder is missing or read-only) is still
        // named, so creating a file there fails with the system's own reason.
        return own + QLatin1Char('/');
    }
    const QString fresh = FreshFolder(parent, own);
    Used().Use(fresh);
    // Nobody can make a folder below /dev/null: with no private folder at all, every temporary file
    // fails to be created rather than landing where another user could reach it.
    return fresh.isEmpty() ? QStringLiteral("/dev/null/") : fresh + QLatin1Char('/');
}

void RemoveTempFolderIfEmpty() {
    Used().RemoveIfEmpty();
}

}  // namespace platform
