// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SaveFile.h"

#include "platform/Descriptor.h"
#include "platform/FilePath.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

QString SystemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Where a chain of links from path ends, as QSaveFile follows it; path itself for a loop.
QString LinkTarget(const QString& path) {
    constexpr int kMaxDepth = 127;
    QString at = AbsolutePath(path);
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        char target[PATH_MAX];
        const ssize_t length = readlink(EncodeName(at).constData(), target, sizeof target);
        if (length <= 0) {
            return at;
        }
        const QString next = DecodeName(QByteArray(target, length));
        at = QDir::cleanPath(next.startsWith(QLatin1Char('/'))
                                 ? next
                                 : QFileInfo(at).absolutePath() + QLatin1Char('/') + next);
    }
    return path;
}

bool WriteAll(int fd, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t put =
            write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (put < 0 && errno != EINTR) {
            return false;
        }
        done += put < 0 ? 0 : put;
    }
    return true;
}

}  // namespace

QString SaveFile(const QString& path, const QByteArray& bytes) {
    const FileStatus existing(path);
    if (existing.Exists() && access(EncodeName(path).constData(), W_OK) != 0) {
        return QStringLiteral("Existing file %1 is not writable").arg(path);
    }
    if (existing.IsDir()) {
        return QStringLiteral("Filename refers to a directory");
    }
    const QByteArray target = EncodeName(LinkTarget(path));
    struct stat old {};
    const bool replaces = stat(target.constData(), &old) == 0;
    QByteArray temporary = target + ".XXXXXX";
    const Descriptor file(mkostemp(temporary.data(), O_CLOEXEC));
    if (file.Get() < 0) {
        return SystemError();
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(file.Get(), replaces ? old.st_mode & 0777 : 0666 & ~mask);
    // A file system that cannot flush (EINVAL) is no reason to fail; a write it fails only now is.
    if (!WriteAll(file.Get(), bytes) || (fsync(file.Get()) != 0 && errno != EINVAL) ||
        std::rename(temporary.constData(), target.constData()) != 0) {
        const QString error = SystemError();
        unlink(temporary.constData());
        return error;
    }
    return {};
}

}  // namespace platform
