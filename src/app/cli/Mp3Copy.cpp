// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli/Mp3Copy.h"

#include "app/cli/OutputTarget.h"
#include "app/cli/Report.h"
#include "app/cli/TerminalHost.h"
#include "join/Mp3Copy.h"
#include "platform/Descriptor.h"
#include "platform/FilePath.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <memory>

namespace cli {
namespace {

// The output as the plan reaches it: a descriptor to write to and whether the tag can be
// rewritten at the end.
struct Sink {
    join::CopySink copy;
    std::unique_ptr<platform::Descriptor> owned;
};

Sink OpenSink(const OutputPlan& plan, const QString& stagePath) {
    Sink sink;
    // A renamed output can be written while the parts are scanned: a part refused then leaves no
    // file. Anything else is written once every part is scanned.
    sink.copy.early = plan.way == OutputWay::Renamed;
    switch (plan.way) {
        case OutputWay::Renamed:
        case OutputWay::InPlace: {
            const QByteArray name =
                platform::EncodeName(plan.way == OutputWay::Renamed ? stagePath : plan.path);
            const int flags = O_WRONLY | O_CLOEXEC;
            sink.owned = std::make_unique<platform::Descriptor>(open(name.constData(), flags));
            sink.copy.fd = sink.owned->Get();
            sink.copy.seekable = plan.way == OutputWay::Renamed;
            sink.copy.replaces = plan.way == OutputWay::Renamed && platform::FileStatus(plan.path).Exists();
            break;
        }
        case OutputWay::StdoutFile:
            sink.copy.fd = STDOUT_FILENO;
            sink.copy.seekable = true;
            sink.copy.truncate = true;
            break;
        case OutputWay::Relayed:
            if (plan.path.isEmpty()) {
                sink.copy.fd = STDOUT_FILENO;
            } else {
                sink.owned = std::make_unique<platform::Descriptor>(ConnectSocket(plan.path));
                sink.copy.fd = sink.owned->Get();
            }
            break;
    }
    return sink;
}

int ExitOf(join::Mp3Copy::Result result) {
    switch (result) {
        case join::Mp3Copy::Result::Joined:
            return kExitJoined;
        case join::Mp3Copy::Result::Stopped:
            return kExitInterrupted;
        case join::Mp3Copy::Result::Refused:
            return kExitUsage;
        case join::Mp3Copy::Result::Failed:
            break;
    }
    return kExitFailed;
}

}  // namespace

int RunCopy(const JoinOptions& options) {
    const OutputPlan plan = options.output == QLatin1String("-") ? PlanStdout() : PlanPath(options);
    if (!plan.refusal.isEmpty()) {
        PrintError(plan.refusal);
        return kExitUsage;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const QStringList paths = InputPaths(options);
    TerminalHost host(false, {}, plan.shown, plan.shown);
    join::Mp3Copy copy(host, paths);
    if (const join::Mp3Copy::Result scanned = copy.WaitForScan(plan.way == OutputWay::Renamed);
        scanned != join::Mp3Copy::Result::Joined) {
        return ExitOf(scanned);
    }
    std::unique_ptr<PartialOutput> partial;
    if (plan.way == OutputWay::Renamed) {
        partial = std::make_unique<PartialOutput>(plan.path);
        if (!partial->Create()) {
            PrintError(plan.path + QStringLiteral(": ") + partial->ErrorText());
            return kExitFailed;
        }
    }
    const join::OutputMetadata metadata(MetadataOf(options), paths);
    join::Mp3Copy::Result result = join::Mp3Copy::Result::Failed;
    {
        const Sink sink = OpenSink(plan, partial ? partial->Path() : QString());
        result = copy.Write(sink.copy, plan.shown, metadata);
    }
    // A join that did not finish leaves the output as it was: a renamed output is not made, and a
    // file the shell emptied for the join is left empty.
    if (result != join::Mp3Copy::Result::Joined) {
        if (plan.way == OutputWay::StdoutFile && ftruncate(STDOUT_FILENO, 0) != 0) {
            PrintError(plan.shown + QStringLiteral(": ") + SystemError());
        }
        return ExitOf(result);
    }
    if (partial && !partial->Commit(options.overwrite)) {
        PrintError(plan.path + QStringLiteral(": ") + SystemError());
        return kExitFailed;
    }
    if (!options.cue.isEmpty() && !WriteCueSheet(options, metadata, copy.PartEnds(), copy.SampleRate())) {
        return kExitFailed;
    }
    if (!options.quiet) {
        for (const QString& note : copy.Notes()) {
            PrintError(note);
        }
    }
    return kExitJoined;
}

}  // namespace cli
