// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <memory>

class QLocale;
class QTranslator;

// Creates the five windows in their fixed order, each kept in its global reference: MainForm,
// AboutForm, LanguageForm, OutputForm, ProcessForm. Returns their object names in the order created.
QStringList CreateForms();

// Destroys the windows and clears the global references.
void DestroyForms();

// Adds the files named on the command line (the desktop's "Open With") as a drop would, after
// applying the language so that their rows and any message have their texts. Relative names are
// taken from the current folder.
void OpenCommandLineFiles(const QStringList& arguments);

// Puts Qt's own texts (standard buttons, the file dialogs) in the language of locale, from the
// catalogs Qt installs; they stay installed while the translator lives. Null where Qt has none.
std::unique_ptr<QTranslator> InstallQtTranslation(const QLocale& locale);
