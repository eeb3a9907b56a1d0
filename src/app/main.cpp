// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ErrorReport.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "platform/FilePath.h"
#include "platform/GuiHandlers.h"
#include "platform/ReadableLook.h"
#include "platform/SignalCleanup.h"
#include "platform/TempFolder.h"

#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

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

// Qt's own options (QGuiApplication's and QApplication's), which a session manager or a user may
// give; the first group takes a value, as "-style fusion" or "-style=fusion". Qt reads "--style" too.
constexpr const char* kQtValueOptions[] = {"platform",        "platformpluginpath",
                                           "platformtheme",   "plugin",
                                           "qwindowgeometry", "geometry",
                                           "qwindowicon",     "icon",
                                           "qwindowtitle",    "title",
                                           "display",         "name",
                                           "session",         "style",
                                           "stylesheet"};
constexpr const char* kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// How many arguments from argv[i] on make a Qt option: 0 when argv[i] is none.
int QtOptionLength(int argc, char** argv, int i) {
    std::string_view name = argv[i] + 1;
    if (name.starts_with('-')) {
        name.remove_prefix(1);
    }
    const std::size_t equals = name.find('=');
    const std::string_view bare = name.substr(0, equals);
    for (const char* option : kQtValueOptions) {
        if (bare == option) {
            return equals != std::string_view::npos || i + 1 >= argc ? 1 : 2;
        }
    }
    for (const char* option : kQtFlagOptions) {
        if (name == option) {
            return 1;
        }
    }
    return 0;
}

struct CommandLine {
    int status = -1;        // the exit status when the command line was answered, else -1
    QStringList files;      // the first "--" left out
    std::vector<char*> qt;  // the program's name and Qt's own options, for QApplication
};

// --help, --version and options the program does not know are answered before any window or
// display is needed.
CommandLine ReadCommandLine(int argc, char** argv) {
    CommandLine line;
    line.qt.push_back(argv[0]);
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        if (optionsEnded || !IsOption(argv[i])) {
            // QApplication::arguments() would make U+FFFD of the bytes of a name that is not UTF-8.
            line.files << platform::DecodeName(argv[i]);
        } else if (IsEndOfOptions(argv[i])) {
            optionsEnded = true;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("wavestitch %s\n", WAVESTITCH_VERSION);
            line.status = std::fflush(stdout) == 0 ? 0 : 1;
            return line;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "Usage: wavestitch [OPTION]... [--] [FILE]...\n"
                "Joins WAV, MP3 and WMA files into one WAV, MP3 or WMA file, in a window.\n"
                "The files given are added to the list as if dropped on the window.\n"
                "\n"
                "      --help     show this help and exit\n"
                "      --version  show the version and exit\n"
                "      --         every argument after it is a file, even one starting with '-'\n"
                "\n"
                "Qt's own options (-style, -platform, -reverse, ...) are passed to Qt.\n"
                "Joins from the command line or a script: wavestitch-join --help\n");
            line.status = std::fflush(stdout) == 0 ? 0 : 1;
            return line;
        } else if (const int length = QtOptionLength(argc, argv, i); length > 0) {
            line.qt.insert(line.qt.end(), argv + i, argv + i + length);
            i += length - 1;
        } else {
            std::fprintf(stderr, "wavestitch: unknown option '%s'\nTry 'wavestitch --help'.\n", argv[i]);
            line.status = kExitUsage;
            return line;
        }
    }
    line.qt.push_back(nullptr);
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line = ReadCommandLine(argc, argv);
    if (line.status >= 0) {
        return line.status;
    }
    // A desktop's logout or a kill ends the program without its windows' clean-up; the banner, the
    // join's temporary audio and a half-written output go all the same.
    platform::InstallSignalCleanup();
    // FFmpeg's notes on odd files belong in no terminal of a desktop program; its errors still do.
    av_log_set_level(AV_LOG_ERROR);
    // Qt sees only its own options: it would take a file named like one ("--" "-reverse") for it.
    int qtArgc = static_cast<int>(line.qt.size()) - 1;
    TApplication app(qtArgc, line.qt.data());
    platform::InstallReadableLook();
    platform::ReturnFocusAfterDialogs();
    // Qt's buttons and file dialogs follow the system's language; the program's own texts follow its
    // language file.
    const std::unique_ptr<QTranslator> qtTexts = InstallQtTranslation(QLocale::system());
    platform::InstallGuiHandlers();
    GuardedRun([&] {
        CreateForms();
        MainForm->show();
        // Activation applies the language; ask for it even where no window manager hands out focus.
        MainForm->activateWindow();
        OpenCommandLineFiles(line.files);
        QApplication::exec();
    });
    GuardedRun(DestroyForms);
    platform::RemoveTempFolderIfEmpty();
    return 0;
}
