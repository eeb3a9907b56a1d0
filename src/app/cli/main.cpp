// SPDX-License-Identifier: GPL-3.0-or-later
// wavestitch-join: the join of the program from the command line, on the same engine.
#include "app/cli/Interrupt.h"
#include "app/cli/JoinCommand.h"
#include "app/cli/Options.h"
#include "platform/FilePath.h"
#include "platform/MessageBox.h"
#include "platform/TempFolder.h"

#include <cstdio>
#include <exception>

extern "C" {
#include <libavutil/log.h>
}

namespace {

// The engine's message boxes become lines on standard error; the caption says who is speaking.
int PrintMessage(const QString& text, const QString& caption, unsigned flags) {
    cli::PrintError(caption.isEmpty() ? text : caption + QStringLiteral(": ") + text);
    return (flags & platform::MB_TYPEMASK) == platform::MB_YESNOCANCEL ? platform::IDCANCEL : platform::IDOK;
}

int Run(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << platform::DecodeName(QByteArray(argv[i]));
    }
    const cli::ParsedCommandLine parsed = cli::ParseCommandLine(arguments);
    // Quiet leaves only the joiner's own messages: FFmpeg logs a damaged packet that it reads past as
    // an error, though the join goes on.
    if (parsed.options.quiet) {
        av_log_set_level(AV_LOG_QUIET);
    }
    switch (parsed.action) {
        case cli::ParsedCommandLine::Action::Help:
            std::fputs(cli::UsageText().toUtf8().constData(), stdout);
            return cli::kExitJoined;
        case cli::ParsedCommandLine::Action::Version:
            std::fputs("wavestitch-join " WAVESTITCH_VERSION "\n", stdout);
            return cli::kExitJoined;
        case cli::ParsedCommandLine::Action::UsageError:
            cli::PrintError(parsed.error);
            std::fputs("Try 'wavestitch-join --help' for more information.\n", stderr);
            return cli::kExitUsage;
        case cli::ParsedCommandLine::Action::Info:
            return cli::RunInfo(parsed.options);
        case cli::ParsedCommandLine::Action::Join:
            break;
    }
    return cli::RunJoin(parsed.options);
}

}  // namespace

int main(int argc, char** argv) {
    // FFmpeg's notes on odd files would drown the joiner's own messages; its errors still show.
    av_log_set_level(AV_LOG_ERROR);
    cli::InstallInterruptHandlers();
    platform::SetMessageBoxHandler(PrintMessage);
    int status = cli::kExitFailed;
    try {
        status = Run(argc, argv);
    } catch (const std::exception& error) {
        cli::PrintError(QString::fromLocal8Bit(error.what()));
    }
    // The run's own folder inside it is gone by now.
    platform::RemoveTempFolderIfEmpty();
    return status;
}
