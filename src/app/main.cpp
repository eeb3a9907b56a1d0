#include "app/ErrorReport.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "platform/GuiHandlers.h"

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char** argv) {
    // FFmpeg's notes on odd files belong in no terminal of a desktop program; its errors still do.
    av_log_set_level(AV_LOG_ERROR);
    TApplication app(argc, argv);
    platform::InstallGuiHandlers();
    GuardedRun([] {
        CreateForms();
        MainForm->show();
        // Activation applies the language; ask for it even where no window manager hands out focus.
        MainForm->activateWindow();
        OpenCommandLineFiles(QApplication::arguments().mid(1));
        QApplication::exec();
    });
    GuardedRun(DestroyForms);
    return 0;
}
