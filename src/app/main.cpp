#include "app/ErrorReport.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "platform/FilePath.h"
#include "platform/GuiHandlers.h"

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char** argv) {
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
