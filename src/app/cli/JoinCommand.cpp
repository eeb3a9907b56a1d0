#include "app/cli/JoinCommand.h"

#include "app/FileProbe.h"
#include "app/cli/Interrupt.h"
#include "app/cli/TerminalHost.h"
#include "audio/Decoder.h"
#include "i18n/Language.h"
#include "join/JoinJob.h"
#include "platform/ExeFolder.h"
#include "platform/LangId.h"
#include "platform/MessageBox.h"
#include "platform/TempFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace cli {
namespace {

// What the program reads when it starts: the language file (read only: the settings file is
// never written from here) and the decoding layer's device, which MP3 and WMA probing needs.
class Session {
public:
    Session()
        : language_(i18n::OpenLanguageFile(platform::ExeFolder(), platform::UserDefaultLangId(), false)
                        .languageIni) {
        if (audio::InitOutputDevice(-1, 44100, 0, nullptr, nullptr) == 0) {
            PrintError(QStringLiteral("Cannot start default playing device!"));
        }
    }
    ~Session() { audio::FreeOutputDevice(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // A text of the language file, or fallback where the file has none: a message is never empty.
    QString Text(const char* section, const char* key, const char* fallback) const {
        const QString text =
            i18n::LanguageText(language_.get(), QLatin1String(section), QLatin1String(key), {});
        return text.isEmpty() ? QLatin1String(fallback) : text;
    }
    const i18n::LanguageFile* Language() const { return language_.get(); }

private:
    std::unique_ptr<i18n::LanguageFile> language_;
};

class InputRows : public join::JoinRows {
public:
    int Count() const override { return static_cast<int>(rows.size()); }
    join::JoinRow Row(int index) const override { return rows[static_cast<std::size_t>(index)]; }

    std::vector<join::JoinRow> rows;
    std::vector<AudioFileValues> values;
};

QString RejectionFallback(ProbeStatus status) {
    switch (status) {
        case ProbeStatus::NotPCM:
            return QStringLiteral("This WAV file is not in a supported PCM format (8 or 16 bits).");
        case ProbeStatus::NotMP3Info:
            return QStringLiteral("The format of this MP3 file cannot be read.");
        case ProbeStatus::NotWMAInfo:
            return QStringLiteral("The format of this WMA file cannot be read.");
        case ProbeStatus::NotSupport:
        case ProbeStatus::Accepted:
            break;
    }
    return QStringLiteral("This file type is not supported.");
}

// Probes every input as the Add button does, in the order given or sorted, and names each
// rejected one with its reason. The rows hold full paths, as the file list does.
InputRows ProbeInputs(const Session& session, const JoinOptions& options, int& rejected) {
    QStringList paths;
    for (const QString& input : options.inputs) {
        paths << QDir::cleanPath(QFileInfo(input).absoluteFilePath());
    }
    if (options.sort) {
        SortPaths(paths);
    }
    InputRows rows;
    rejected = 0;
    for (const QString& path : paths) {
        // Probing a long list can take a while; an interrupt ends it at the next file.
        if (Interrupted()) {
            break;
        }
        const ProbeResult probe = ProbeFile(path);
        if (probe.status != ProbeStatus::Accepted) {
            const QString key = RejectionKey(probe.status);
            const QString reason =
                i18n::LanguageText(session.Language(), QStringLiteral("OpenDialog"), key, QString());
            PrintError(path + QStringLiteral(": ") +
                       (reason.isEmpty() ? RejectionFallback(probe.status) : reason));
            ++rejected;
            continue;
        }
        const AudioFileValues& v = probe.values;
        rows.rows.push_back({path, v.sampleRate, v.channels, v.bits});
        rows.values.push_back(v);
    }
    return rows;
}

bool WriteOut(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    return std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout) ==
           static_cast<std::size_t>(bytes.size());
}

QString SystemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The join writes into a hidden file beside the output, which takes the output's name only when
// the join has finished: a failed join leaves no half-written file and an existing one intact.
class PartialOutput {
public:
    explicit PartialOutput(const QString& output)
        : output_(output),
          file_(QFileInfo(output).absolutePath() + QStringLiteral("/.") + QFileInfo(output).fileName() +
                QStringLiteral(".XXXXXX.part")) {}

    bool Create() {
        if (!file_.open()) {
            return false;
        }
        file_.close();
        return true;
    }
    QString Path() const { return file_.fileName(); }
    QString ErrorText() const { return file_.errorString(); }

    // Gives the finished file the output's name, with the permissions a new file gets (or the
    // replaced file had). Without overwrite an output that appeared meanwhile is kept.
    bool Commit(bool overwrite) {
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

private:
    QString output_;
    QTemporaryFile file_;
};

// How the output is reached.
enum class OutputWay {
    Renamed,     // a new or regular file, or a link: written under a hidden name, renamed when done
    InPlace,     // a FIFO or character device: opened by its name and written as it is
    StdoutFile,  // standard output, a regular file at its start: reopened by name, so it can seek
    Relayed,     // any other standard output, or a socket: the output stage writes into a pipe
};

struct OutputPlan {
    OutputWay way = OutputWay::Renamed;
    QString path;  // the output as named, absolute; empty for standard output
    QString shown;
    bool seekable = true;
    QString refusal;  // why nothing may be written
};

constexpr char kStdoutByName[] = "/proc/self/fd/1";

bool CanReopen(const char* path) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
    }
    return fd >= 0;
}

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

// /dev/stdout and the names in /dev/fd lead into /proc: they stand for whatever a descriptor is open
// on, so renaming over them would replace a system link, not an output.
bool LeadsIntoProc(const QString& path) {
    char target[PATH_MAX];
    const ssize_t length = readlink(QFile::encodeName(path).constData(), target, sizeof target);
    const QString folder = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    return (length > 0 && QByteArray(target, length).startsWith("/proc/")) ||
           folder.startsWith(QLatin1String("/proc/"));
}

// FIFOs, devices and sockets are written as they are, never renamed over, and need no --overwrite:
// they hold no file that could be lost. A link is replaced as a link, never written through.
OutputPlan PlanPath(const JoinOptions& options) {
    OutputPlan plan;
    plan.path = QDir::cleanPath(QFileInfo(options.output).absoluteFilePath());
    plan.shown = plan.path;
    struct stat info = {};
    if (lstat(QFile::encodeName(plan.path).constData(), &info) != 0) {
        return plan;
    }
    if (QFileInfo(plan.path).isDir()) {
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

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// A socket named as the output is written as a client of whatever listens on it.
int ConnectSocket(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
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

// The output stage opens its output by name, and a socket or an appended standard output has no
// name that leads back to it: the stage writes into a pipe, and a thread passes on what arrives.
class StreamRelay {
public:
    explicit StreamRelay(int sink) : sink_(sink) {}
    ~StreamRelay() { Finish(); }
    StreamRelay(const StreamRelay&) = delete;
    StreamRelay& operator=(const StreamRelay&) = delete;

    bool Start() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            return false;
        }
        readEnd_ = ends[0];
        writeEnd_ = ends[1];
        thread_ = std::thread([this] { Copy(); });
        return true;
    }
    // The name under which the output stage opens the pipe.
    QString Path() const { return QStringLiteral("/proc/self/fd/%1").arg(writeEnd_); }
    // Waits until everything written into the pipe has been passed on: 0, or the sink's error.
    int Finish() {
        if (writeEnd_ >= 0) {
            close(writeEnd_);
            writeEnd_ = -1;
        }
        if (thread_.joinable()) {
            thread_.join();
        }
        return error_;
    }

private:
    void Copy() {
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

    int sink_;
    int readEnd_ = -1;
    int writeEnd_ = -1;
    int error_ = 0;
    std::thread thread_;
};

// Runs the join job into outputStagePath; false when it failed (its message shown).
bool RunJob(const Session& session, const JoinOptions& options, const InputRows& rows,
            const QString& tempPcmFile, const QString& outputStagePath, const QString& output) {
    const bool showProgress = !options.quiet && isatty(STDERR_FILENO) == 1;
    TerminalHost host(showProgress,
                      {session.Text("ProcessForm", "Joining", "Joining:"),
                       session.Text("ProcessForm", "Encoding", "Encoding:")},
                      outputStagePath, output);
    const join::TargetFormat target = join::TargetOf(rows);
    join::JoinJob job(host, rows, [&] { return OutputOf(options, outputStagePath); });
    job.TempPcmFile = tempPcmFile;
    job.TargetSampleRate = target.sampleRate;
    job.TargetChannels = target.channels;
    job.TargetBits = target.bits;
    job.DoJoin();
    // A job that did not close ended at its output stage's set-up, its message shown.
    return host.Closed() && !host.Failed();
}

}  // namespace

void PrintError(const QString& text) {
    std::fputs(("wavestitch-join: " + text + QLatin1Char('\n')).toUtf8().constData(), stderr);
}

int RunInfo(const JoinOptions& options) {
    const Session session;
    int rejected = 0;
    const InputRows rows = ProbeInputs(session, options, rejected);
    if (Interrupted()) {
        return kExitInterrupted;
    }
    const RowWords words = LanguageRowWords(session.Language());
    bool written = true;
    for (std::size_t i = 0; i < rows.rows.size(); ++i) {
        const AudioFileRowTexts texts = MakeRowTexts(rows.rows[i].path, rows.values[i], words);
        QStringList cells{texts.caption};
        for (const QString& item : texts.subItems) {
            cells << item;
        }
        written = WriteOut(cells.join(QLatin1Char('\t'))) && written;
    }
    // The target of a list that lacks the rejected files would mislead a script.
    if (rejected == 0) {
        const join::TargetFormat target = join::TargetOf(rows);
        written = WriteOut(QStringLiteral("target\t%1\t%2\t%3")
                               .arg(target.sampleRate)
                               .arg(target.channels)
                               .arg(target.bits)) &&
                  written;
    }
    if (std::fflush(stdout) != 0 || !written) {
        PrintError(QStringLiteral("standard output: ") + SystemError());
        return kExitFailed;
    }
    return rejected > 0 ? kExitUsage : kExitJoined;
}

int RunJoin(const JoinOptions& options) {
    const OutputPlan plan = options.output == QLatin1String("-") ? PlanStdout() : PlanPath(options);
    if (!plan.refusal.isEmpty()) {
        PrintError(plan.refusal);
        return kExitUsage;
    }
    if (!plan.seekable && options.kind == join::OutputKind::Wma) {
        PrintError(plan.shown +
                   QStringLiteral(": WMA output needs a file it can seek in; this output cannot seek"));
        return kExitUsage;
    }
    // A reader that goes away makes the next write fail, and the join ends with its message and
    // clean-up instead of the process being killed.
    std::signal(SIGPIPE, SIG_IGN);
    const Session session;
    int rejected = 0;
    const InputRows rows = ProbeInputs(session, options, rejected);
    if (rejected > 0) {
        return kExitUsage;
    }
    if (Interrupted()) {
        return kExitInterrupted;
    }

    // A folder of its own for the temporary PCM: joins started side by side from a script do not
    // meet at one temporary file name.
    QTemporaryDir tempDir(platform::TempFolder() + QStringLiteral("wavestitch-join-XXXXXX"));
    if (!tempDir.isValid()) {
        PrintError(platform::TempFolder() + QStringLiteral(": ") + tempDir.errorString());
        return kExitFailed;
    }
    const QString tempPcmFile = tempDir.path() + QStringLiteral("/AudioTemp.pcm");
    const auto runJob = [&](const QString& stagePath) {
        return RunJob(session, options, rows, tempPcmFile, stagePath, plan.shown);
    };
    switch (plan.way) {
        case OutputWay::Renamed: {
            PartialOutput partial(plan.path);
            if (!partial.Create()) {
                PrintError(plan.path + QStringLiteral(": ") + partial.ErrorText());
                return kExitFailed;
            }
            if (!runJob(partial.Path())) {
                return kExitFailed;
            }
            if (!partial.Commit(options.overwrite)) {
                PrintError(plan.path + QStringLiteral(": ") + SystemError());
                return kExitFailed;
            }
            break;
        }
        case OutputWay::InPlace:
            if (!runJob(plan.path)) {
                return kExitFailed;
            }
            break;
        case OutputWay::StdoutFile: {
            const bool joined = runJob(QLatin1String(kStdoutByName));
            // Whatever writes to this standard output next goes on after the join, not over it.
            lseek(STDOUT_FILENO, 0, SEEK_END);
            if (!joined) {
                return kExitFailed;
            }
            break;
        }
        case OutputWay::Relayed: {
            const Descriptor socket(plan.path.isEmpty() ? -1 : ConnectSocket(plan.path));
            const int sink = plan.path.isEmpty() ? STDOUT_FILENO : socket.Get();
            StreamRelay relay(sink);
            if (sink < 0 || !relay.Start()) {
                PrintError(plan.shown + QStringLiteral(": ") + SystemError());
                return kExitFailed;
            }
            const bool joined = runJob(relay.Path());
            const int error = relay.Finish();
            if (!joined) {
                return kExitFailed;
            }
            if (error != 0) {
                PrintError(plan.shown + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
                return kExitFailed;
            }
            break;
        }
    }
    return Interrupted() ? kExitInterrupted : kExitJoined;
}

}  // namespace cli
