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
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
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
    const QString output = QDir::cleanPath(QFileInfo(options.output).absoluteFilePath());
    if (QFileInfo(output).isDir()) {
        PrintError(output + QStringLiteral(": the output is a folder"));
        return kExitUsage;
    }
    if (!options.overwrite && QFileInfo::exists(output)) {
        PrintError(output + QStringLiteral(": the output exists; --overwrite replaces it"));
        return kExitUsage;
    }
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
    PartialOutput partial(output);
    if (!partial.Create()) {
        PrintError(output + QStringLiteral(": ") + partial.ErrorText());
        return kExitFailed;
    }

    if (!RunJob(session, options, rows, tempDir.path() + QStringLiteral("/AudioTemp.pcm"), partial.Path(),
                output)) {
        return kExitFailed;
    }
    if (!partial.Commit(options.overwrite)) {
        PrintError(output + QStringLiteral(": ") + SystemError());
        return kExitFailed;
    }
    return Interrupted() ? kExitInterrupted : kExitJoined;
}

}  // namespace cli
