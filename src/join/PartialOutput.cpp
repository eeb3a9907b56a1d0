// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/PartialOutput.h"

#include "platform/FilePath.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace join {

PartialOutput::~PartialOutput() {
    if (!path_.isEmpty() && !committed_) {
        platform::RemoveFile(path_);
    }
}

bool PartialOutput::Create() {
    // Made by its bytes, as QTemporaryFile would make it by a name encoded with loss.
    const QFileInfo output(output_);
    QByteArray name = platform::EncodeName(output.absolutePath() + QStringLiteral("/.") + output.fileName() +
                                           QStringLiteral(".XXXXXX.part"));
    const int fd = mkostemps(name.data(), 5, O_CLOEXEC);
    if (fd < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    close(fd);
    onSignal_.emplace(name);
    path_ = platform::DecodeName(name);
    return true;
}

bool PartialOutput::Commit(bool overwrite) {
    const QByteArray from = platform::EncodeName(Path());
    const QByteArray to = platform::EncodeName(output_);
    const mode_t mask = umask(0);
    umask(mask);
    struct stat existing = {};
    const bool replaces = stat(to.constData(), &existing) == 0 && S_ISREG(existing.st_mode);
    chmod(from.constData(), replaces ? existing.st_mode & 07777 : 0666 & ~mask);
    int result = 0;
    if (overwrite) {
        result = std::rename(from.constData(), to.constData());
    } else {
        result = renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
        // File systems without the no-replace rename get the plain one after a check.
        if (result != 0 && errno == EINVAL) {
            if (platform::FileStatus(output_).Exists()) {
                errno = EEXIST;
            } else {
                result = std::rename(from.constData(), to.constData());
            }
        }
    }
    committed_ = result == 0;
    return committed_;
}

}  // namespace join
