// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ErrorReport.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "platform/FilePath.h"
#include "platform/GuiHandlers.h"
#include "platform/SignalCleanup.h"
#include "platform/TempFolder.h"

#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int kExitUsage = 2;

bool IsEndOfOptions(const char* argument) {
    return std::strcmp(argument, "--") == 0;
}

// A lone "-" names a file, as it does for other programs.
bool IsOption(const char* argument) {
    return argument[0] == '-' && argument[1] != '\0';
}

// --help, --version and options the program does not know are answered before any window or
// display is needed: the exit status when one was, else -1.
int AnsweredCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc && !IsEndOfOptions(argv[i]); ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("wavestitch %s\n", WAVESTITCH_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "Usage: wavestitch [OPTION]... [--] [FILE]...\n"
                "Joins WAV, MP3 and WMA files into one WAV, MP3 or WMA file, in a window.\n"
                "The files given are added to the list as if dropped on the window.\n"
                "\n"
                "      --help     show this help and exit\n"
                "      --version  show the version and exit\n"
                "      --         every argument after it is a file, even one starting with '-'\n"
                "\n"
                "Joins from the command line or a script: wavestitch-join --help\n");
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (IsOption(argv[i])) {
            std::fprintf(stderr, "wavestitch: unknown option '%s'\nTry 'wavestitch --help'.\n", argv[i]);
            return kExitUsage;
        }
    }
    return -1;
}

// The files named on the command line, the first "--" left out.
QStringList CommandLineFiles(int argc, char** argv) {
    QStringList files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        if (!optionsEnded && IsEndOfOptions(argv[i])) {
            optionsEnded = true;
            continue;
        }
        // QApplication::arguments() would make U+FFFD of the bytes of a name that is not UTF-8.
        files << platform::DecodeName(argv[i]);
    }
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = AnsweredCommandLine(argc, argv); status >= 0) {
        return status;
    }
    const QStringList files = CommandLineFiles(argc, argv);
    // A desktop's logout or a kill ends the program without its windows' clean-up; the banner, the
    // join's temporary audio and a half-written output go all the same.
    platform::InstallSignalCleanup();
    // FFmpeg's notes on odd files belong in no terminal of a desktop program; its errors still do.
    av_log_set_level(AV_LOG_ERROR);
    // Qt would take a file named like one of its own options ("--" "-reverse") for that option.
    int qtArgc = 1;
    TApplication app(qtArgc, argv);
    // Qt's buttons and file dialogs follow the system's language; the program's own texts follow its
    // language file.
    const std::unique_ptr<QTranslator> qtTexts = InstallQtTranslation(QLocale::system());
    platform::InstallGuiHandlers();
    GuardedRun([&] {
        CreateForms();
        MainForm->show();
        // Activation applies the language; ask for it even where no window manager hands out focus.
        MainForm->activateWindow();
        OpenCommandLineFiles(files);
        QApplication::exec();
    });
    GuardedRun(DestroyForms);
    platform::RemoveTempFolderIfEmpty();
    return 0;
}
