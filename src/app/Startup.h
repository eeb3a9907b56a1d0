#pragma once

#include <QStringList>

// Creates the five windows in their fixed order, each kept in its global reference: MainForm,
// AboutForm, LanguageForm, OutputForm, ProcessForm. Returns their object names in the order created.
QStringList CreateForms();

// Destroys the windows and clears the global references.
void DestroyForms();
