// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli/JoinCommand.h"

#include "app/RowTexts.h"
#include "app/cli/Interrupt.h"
#include "app/cli/Mp3Copy.h"
#include "app/cli/OutputTarget.h"
#include "app/cli/TerminalHost.h"
#include "audio/Decoder.h"
#include "audio/FileProbe.h"
#include "audio/MediaStream.h"
#include "audio/NaturalOrder.h"
#include "i18n/Language.h"
#include "join/JoinJob.h"
#include "platform/Descriptor.h"
#include "platform/ExeFolder.h"
#include "platform/FilePath.h"
#include "platform/LangId.h"
#include "platform/MessageBox.h"
#include "platform/TempFolder.h"

#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace cli {
namespace {

// What the program reads when it starts: the language file (read only: the settings file is
// never written from here) and the decoding layer's device, which probing a decoded input needs.
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

QString RejectionFallback(ProbeStatus status, const QString& path) {
    switch (status) {
        case ProbeStatus::NotPCM:
            return QStringLiteral(
                "This WAV file is not in a supported format (PCM of 8, 16, 24 or 32 bits, float of 32 or "
                "64).");
        case ProbeStatus::NotMP3Info:
            return QStringLiteral("The format of this MP3 file cannot be read.");
        case ProbeStatus::NotWMAInfo:
            return QStringLiteral("The format of this WMA file cannot be read.");
        case ProbeStatus::NotMediaInfo:
            return QStringLiteral("The format of this %1 file cannot be read.")
                .arg(QLatin1String(audio::MediaFormatName(path)));
        case ProbeStatus::NotSupport:
        case ProbeStatus::Accepted:
            break;
    }
    return QStringLiteral("This file type is not supported.");
}

// Whether path opens for reading; errno says why not. A FIFO does not wait here for a writer.
bool OpensForReading(const QString& path) {
    const platform::Descriptor file(
        open(platform::EncodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    return file.Get() >= 0;
}

// Probes every input as the Add button does, in the order given or sorted, and names each
// rejected one with its reason. The rows hold full paths, as the file list does. Unlike the
// window, the joiner also takes WAV files of 24 and 32 bits and in float.
InputRows ProbeInputs(const Session& session, const JoinOptions& options, int& rejected) {
    const QStringList paths = InputPaths(options);
    InputRows rows;
    rejected = 0;
    for (const QString& path : paths) {
        // Probing a long list can take a while; an interrupt ends it at the next file.
        if (Interrupted()) {
            break;
        }
        // Named once with the system's reason, before a format reader words it as a fault of the format.
        if (!OpensForReading(path)) {
            PrintError(path + QStringLiteral(": ") + SystemError());
            ++rejected;
            continue;
        }
        const ProbeResult probe = ProbeFile(path, InputFormats::CommandLine);
        if (probe.status != ProbeStatus::Accepted) {
            // The window's words for a refused WAV name its limits, narrower than these; the joiner has
            // words of its own for them and for the formats only it reads.
            const QString key = probe.status == ProbeStatus::NotPCM         ? QStringLiteral("NotPCMJoiner")
                                : probe.status == ProbeStatus::NotMediaInfo ? QStringLiteral("NotMediaInfo")
                                                                            : RejectionKey(probe.status);
            QString reason = key.isEmpty() ? QString()
                                           : i18n::LanguageText(session.Language(),
                                                                QStringLiteral("OpenDialog"), key, QString());
            reason.replace(QLatin1String("%1"), QLatin1String(audio::MediaFormatName(path)));
            PrintError(path + QStringLiteral(": ") +
                       (reason.isEmpty() ? RejectionFallback(probe.status, path) : reason));
            ++rejected;
            continue;
        }
        const AudioFileValues& v = probe.values;
        rows.rows.push_back({path, v.sampleRate, v.channels, v.bits, v.isFloat});
        rows.values.push_back(v);
    }
    return rows;
}

// A reader waiting at a FIFO that the join never opened would wait for ever: it gets the end at
// once. Without a reader the open fails and nothing waits.
void EndFifoReader(const QString& path) {
    const platform::Descriptor fifo(
        open(platform::EncodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
}

bool WriteOut(const QString& line) {
    const QByteArray bytes = platform::ShownName(line).toUtf8() + '\n';
    return std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout) ==
           static_cast<std::size_t>(bytes.size());
}

// Runs the join job into outputStagePath, with the metadata asked for; false when it failed (its
// message shown). rowEndFrames: where each row joined ends.
bool RunJob(const Session& session, const JoinOptions& options, const InputRows& rows,
            const join::OutputMetadata& metadata, const QString& tempPcmFile, const QString& outputStagePath,
            const QString& output, std::vector<std::uint64_t>& rowEndFrames) {
    std::uint64_t clipped = 0;
    bool joined = false;
    {
        const bool showProgress = !options.quiet && isatty(STDERR_FILENO) == 1;
        TerminalHost host(showProgress,
                          {session.Text("ProcessForm", "Joining", "Joining:"),
                           session.Text("ProcessForm", "Encoding", "Encoding:")},
                          outputStagePath, output);
        const join::TargetFormat target = join::TargetOf(rows);
        join::JoinJob job(host, rows, [&] {
            join::JoinOutput joinOutput = OutputOf(options, outputStagePath);
            joinOutput.metadata = &metadata;
            return joinOutput;
        });
        job.TempPcmFile = tempPcmFile;
        job.TargetSampleRate = target.sampleRate;
        job.TargetChannels = target.channels;
        job.TargetBits = target.bits;
        job.TargetFloat = target.isFloat;
        job.OutputFixed = true;
        job.StreamEncoders = true;
        job.DoJoin();
        rowEndFrames = job.RowEndFrames();
        clipped = job.ClippedSamples();
        // A job that did not close ended at its output stage's set-up, its message shown.
        joined = host.Closed() && !host.Failed();
    }
    // Told after the host has cleared its progress line.
    if (clipped > 0 && !options.quiet) {
        PrintError(
            QStringLiteral("note: %1 samples beyond full scale were clipped to fit the encoder's %2 bits")
                .arg(clipped)
                .arg(options.kind == join::OutputKind::Flac ? 24 : 16));
    }
    return joined;
}

}  // namespace

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
        written = WriteOut(QStringLiteral("target\t%1\t%2\t%3%4")
                               .arg(target.sampleRate)
                               .arg(target.channels)
                               .arg(target.bits)
                               .arg(target.isFloat ? QStringLiteral("f") : QString())) &&
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
    if (const QString refusal = CueRefusal(options, plan.path); !refusal.isEmpty()) {
        PrintError(refusal);
        return kExitUsage;
    }
    if (options.copy) {
        return RunCopy(options);
    }
    if (!plan.seekable && (options.kind == join::OutputKind::Wma || options.kind == join::OutputKind::M4b)) {
        PrintError(
            plan.shown +
            QStringLiteral(": %1 output needs a file it can seek in; this output cannot seek")
                .arg(options.kind == join::OutputKind::Wma ? QStringLiteral("WMA") : QStringLiteral("M4B")));
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
    if (const int rate = join::TargetOf(rows).sampleRate;
        options.kind == join::OutputKind::M4b && !join::AacTakesRate(rate)) {
        PrintError(QStringLiteral("AAC has no sample rate of %1 Hz: join inputs of a rate AAC has (7350 to "
                                  "96000 Hz) to M4B, or to another format")
                       .arg(rate));
        return kExitUsage;
    }

    // A folder of its own for the temporary PCM: joins started side by side from a script do not
    // meet at one temporary file name.
    QTemporaryDir tempDir(platform::TempFolder() + QStringLiteral("wavestitch-join-XXXXXX"));
    if (!tempDir.isValid()) {
        PrintError(platform::TempFolder() + QStringLiteral(": ") + tempDir.errorString());
        return kExitFailed;
    }
    const QString tempPcmFile = tempDir.path() + QStringLiteral("/AudioTemp.pcm");
    const join::OutputMetadata metadata(MetadataOf(options), join::PathsOf(rows));
    std::vector<std::uint64_t> rowEndFrames;
    const auto runJob = [&](const QString& stagePath) {
        return RunJob(session, options, rows, metadata, tempPcmFile, stagePath, plan.shown, rowEndFrames);
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
            // Interrupted, the join leaves the output as it was: the hidden file goes.
            if (Interrupted()) {
                return kExitInterrupted;
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
            if (Interrupted()) {
                EndFifoReader(plan.path);
            }
            break;
        case OutputWay::StdoutFile: {
            const bool joined = runJob(QLatin1String(kStdoutByName));
            // The shell emptied this file for the join: a join that did not finish leaves it empty,
            // not holding a stub. Whatever writes to it next goes on after the join, not over it.
            if ((!joined || Interrupted()) && ftruncate(STDOUT_FILENO, 0) != 0) {
                PrintError(plan.shown + QStringLiteral(": ") + SystemError());
            }
            lseek(STDOUT_FILENO, 0, SEEK_END);
            if (!joined) {
                return kExitFailed;
            }
            break;
        }
        case OutputWay::Relayed: {
            const platform::Descriptor socket(plan.path.isEmpty() ? -1 : ConnectSocket(plan.path));
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
    // An interrupted join has no finished output for a cue sheet to describe.
    if (Interrupted()) {
        return kExitInterrupted;
    }
    const int sampleRate = join::TargetOf(rows).sampleRate;
    if (!options.cue.isEmpty() && !WriteCueSheet(options, metadata, rowEndFrames, sampleRate)) {
        return kExitFailed;
    }
    for (const QString& path :
         options.quiet ? QStringList() : metadata.UnfitChapters(rowEndFrames, sampleRate)) {
        PrintError(path +
                   QStringLiteral(": its chapters do not fit in its audio; it has one chapter as a whole"));
    }
    return kExitJoined;
}

}  // namespace cli
