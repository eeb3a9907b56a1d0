// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Startup.h"

#include "about/Formabout.h"
#include "app/Formmain.h"
#include "encode/Formoutput.h"
#include "i18n/Formlanguage.h"
#include "join/Formprocess.h"
#include "platform/FilePath.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QStringList CreateForms() {
    QStringList created;
    // The main window's own set-up runs while it is created, before the dialogs exist.
    MainForm = new TMainForm;
    MainForm->ConnectListKeys();
    created << MainForm->objectName();
    AboutForm = new TAboutForm(MainForm);
    created << AboutForm->objectName();
    LanguageForm = new TLanguageForm(MainForm);
    created << LanguageForm->objectName();
    OutputForm = new TOutputForm(MainForm);
    created << OutputForm->objectName();
    ProcessForm = new TProcessForm(MainForm);
    created << ProcessForm->objectName();
    return created;
}

void DestroyForms() {
    // The dialogs are children of the main window and go with it.
    delete MainForm;
    MainForm = nullptr;
    AboutForm = nullptr;
    LanguageForm = nullptr;
    OutputForm = nullptr;
    ProcessForm = nullptr;
}

void OpenCommandLineFiles(const QStringList& arguments) {
    if (arguments.isEmpty()) {
        return;
    }
    MainForm->ApplyLanguage();
    QStringList paths;
    for (const QString& argument : arguments) {
        paths << platform::AbsolutePath(argument);
    }
    MainForm->WMDropFiles(paths);
}

std::unique_ptr<QTranslator> InstallQtTranslation(const QLocale& locale) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto translator = std::make_unique<QTranslator>();
    // qt_XX gathers the modules' catalogs, or is the only one for a few languages; it fails to load
    // where one of the modules it names is missing, and qtbase_XX holds what the widgets say.
    for (const QString& catalog : {QStringLiteral("qt"), QStringLiteral("qtbase")}) {
        if (translator->load(locale, catalog, QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator.get());
            return translator;
        }
    }
    return nullptr;
}
