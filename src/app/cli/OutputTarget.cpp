// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli/OutputTarget.h"

#include "app/cli/Report.h"
#include "join/CueSheet.h"
#include "platform/FilePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

namespace cli {

QString SystemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

namespace {

bool CanReopen(const char* path) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
    }
    return fd >= 0;
}

// /dev/stdout and the names in /dev/fd lead into /proc: they stand for whatever a descriptor is open
// on, so renaming over them would replace a system link, not an output.
bool LeadsIntoProc(const QString& path) {
    char target[PATH_MAX];
    const ssize_t length = readlink(platform::EncodeName(path).constData(), target, sizeof target);
    return (length > 0 && QByteArray(target, length).startsWith("/proc/")) ||
           platform::CanonicalPath(QFileInfo(path).absolutePath()).startsWith(QLatin1String("/proc/"));
}

}  // namespace

OutputPlan PlanStdout() {
    OutputPlan plan;
    plan.shown = QStringLiteral("standard output");
    struct stat info = {};
    if (fstat(STDOUT_FILENO, &info) != 0) {
        plan.refusal = plan.shown + QStringLiteral(": ") + SystemError();
        return plan;
    }
    if (isatty(STDOUT_FILENO) == 1) {
        plan.refusal = QStringLiteral("standard output is a terminal: redirect it to a file or a program");
        return plan;
    }
    // Reopened by name, a file opened for appending (>>) or already written to would be overwritten
    // from its start: such a file gets the stream through its own descriptor, as a pipe does.
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (S_ISREG(info.st_mode) && flags >= 0 && (flags & O_APPEND) == 0 &&
        lseek(STDOUT_FILENO, 0, SEEK_CUR) == 0 && CanReopen(kStdoutByName)) {
        plan.way = OutputWay::StdoutFile;
    } else {
        plan.way = OutputWay::Relayed;
        plan.seekable = false;
    }
    return plan;
}

// FIFOs, devices and sockets are written as they are, never renamed over, and need no --overwrite:
// they hold no file that could be lost. A link is replaced as a link, never written through.
OutputPlan PlanPath(const JoinOptions& options) {
    OutputPlan plan;
    plan.path = platform::AbsolutePath(options.output);
    plan.shown = plan.path;
    struct stat info = {};
    if (lstat(platform::EncodeName(plan.path).constData(), &info) != 0) {
        return plan;
    }
    if (platform::FileStatus(plan.path).IsDir()) {
        plan.refusal = plan.path + QStringLiteral(": the output is a folder");
    } else if (S_ISLNK(info.st_mode) && LeadsIntoProc(plan.path)) {
        plan.refusal = plan.path + QStringLiteral(
                                       ": names an open file through /proc and is not replaced; "
                                       "-o - writes to standard output");
    } else if (S_ISBLK(info.st_mode)) {
        plan.refusal = plan.path + QStringLiteral(": the output is a block device");
    } else if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode) || S_ISSOCK(info.st_mode)) {
        plan.way = S_ISSOCK(info.st_mode) ? OutputWay::Relayed : OutputWay::InPlace;
        plan.seekable = false;
    } else if (!options.overwrite) {
        plan.refusal = plan.path + QStringLiteral(": the output exists; --overwrite replaces it");
    }
    return plan;
}

QString CueRefusal(const JoinOptions& options, const QString& outputPath) {
    if (options.cue.isEmpty()) {
        return {};
    }
    const QString cue = platform::AbsolutePath(options.cue);
    const join::CueCheck check = join::CheckCueSheet(cue, outputPath, options.inputs, options.overwrite);
    switch (check.refusal) {
        case join::CueCheck::Refusal::None:
            return {};
        case join::CueCheck::Refusal::TooManyTracks:
            return cue + QStringLiteral(
                             ": a cue sheet holds at most %1 tracks, one per input, and there are %2 "
                             "inputs; --chapters marks where each begins in the output itself")
                             .arg(join::kMaxCueTracks)
                             .arg(options.inputs.size());
        case join::CueCheck::Refusal::FolderUnwritable:
            return cue + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(check.error));
        case join::CueCheck::Refusal::IsFolder:
            return cue + QStringLiteral(": the cue sheet is a folder");
        case join::CueCheck::Refusal::ReplacesOutput:
            return cue + QStringLiteral(": the cue sheet would replace the output");
        case join::CueCheck::Refusal::ReplacesInput:
            return cue + QStringLiteral(": the cue sheet would replace the input ") + check.path;
        case join::CueCheck::Refusal::Exists:
            return cue + QStringLiteral(": the cue sheet exists; give --overwrite to replace it");
        case join::CueCheck::Refusal::CannotName:
            return cue + QStringLiteral(": a cue sheet cannot name the output ") + check.path +
                   QStringLiteral(" (a double quote or a line break in its name)");
    }
    return {};
}

bool WriteCueSheet(const JoinOptions& options, const join::OutputMetadata& metadata,
                   const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) {
    const QString error =
        metadata.WriteCueSheet(options.cue, options.output, options.kind, rowEndFrames, sampleRate);
    if (!error.isEmpty()) {
        PrintError(options.cue + QStringLiteral(": ") + error);
    }
    return error.isEmpty();
}

int ConnectSocket(const QString& path) {
    const QByteArray name = platform::EncodeName(path);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (static_cast<std::size_t>(name.size()) >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool StreamRelay::Start() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
    thread_ = std::thread([this] { Copy(); });
    return true;
}

QString StreamRelay::Path() const {
    return QStringLiteral("/proc/self/fd/%1").arg(writeEnd_);
}

int StreamRelay::Finish() {
    if (writeEnd_ >= 0) {
        close(writeEnd_);
        writeEnd_ = -1;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    return error_;
}

void StreamRelay::Copy() {
    std::vector<char> buffer(1 << 16);
    ssize_t got = 0;
    while (error_ == 0 && (got = read(readEnd_, buffer.data(), buffer.size())) > 0) {
        for (ssize_t done = 0; done < got && error_ == 0;) {
            const ssize_t put = write(sink_, buffer.data() + done, static_cast<std::size_t>(got - done));
            error_ = put < 0 ? errno : 0;
            done += put < 0 ? 0 : put;
        }
    }
    // Without a reader the stage's next write fails, so the join stops instead of waiting forever.
    close(readEnd_);
}

}  // namespace cli
