#include "join/PartialOutput.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

namespace join {

PartialOutput::PartialOutput(const QString& output)
    : output_(output),
      file_(QFileInfo(output).absolutePath() + QStringLiteral("/.") + QFileInfo(output).fileName() +
            QStringLiteral(".XXXXXX.part")) {}

bool PartialOutput::Create() {
    if (!file_.open()) {
        return false;
    }
    file_.close();
    return true;
}

bool PartialOutput::Commit(bool overwrite) {
    const QByteArray from = QFile::encodeName(Path());
    const QByteArray to = QFile::encodeName(output_);
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
            if (QFileInfo::exists(output_)) {
                errno = EEXIST;
            } else {
                result = std::rename(from.constData(), to.constData());
            }
        }
    }
    if (result == 0) {
        file_.setAutoRemove(false);
    }
    return result == 0;
}

}  // namespace join
