#include "app/ErrorReport.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "platform/GuiHandlers.h"

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    platform::InstallGuiHandlers();
    GuardedRun([] {
        CreateForms();
        MainForm->show();
        // Activation applies the language; ask for it even where no window manager hands out focus.
        MainForm->activateWindow();
        QApplication::exec();
    });
    GuardedRun(DestroyForms);
    return 0;
}
