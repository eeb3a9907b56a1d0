// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ErrorReport.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "platform/FilePath.h"
#include "platform/GuiHandlers.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/log.h>
}

namespace {

// --help and --version are answered before any window or display is needed; true when one was.
bool AnsweredCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("wavestitch %s\n", WAVESTITCH_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "Usage: wavestitch [FILE]...\n"
                "Joins WAV, MP3 and WMA files into one WAV, MP3 or WMA file, in a window.\n"
                "The files given are added to the list as if dropped on the window.\n"
                "\n"
                "      --help     show this help and exit\n"
                "      --version  show the version and exit\n"
                "\n"
                "Joins from the command line or a script: wavestitch-join --help\n");
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (AnsweredCommandLine(argc, argv)) {
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // FFmpeg's notes on odd files belong in no terminal of a desktop program; its errors still do.
    av_log_set_level(AV_LOG_ERROR);
    TApplication app(argc, argv);
    platform::InstallGuiHandlers();
    GuardedRun([&] {
        CreateForms();
        MainForm->show();
        // Activation applies the language; ask for it even where no window manager hands out focus.
        MainForm->activateWindow();
        // QApplication::arguments() would make U+FFFD of the bytes of a name that is not UTF-8.
        QStringList files;
        for (int i = 1; i < argc; ++i) {
            files << platform::DecodeName(argv[i]);
        }
        OpenCommandLineFiles(files);
        QApplication::exec();
    });
    GuardedRun(DestroyForms);
    return 0;
}
