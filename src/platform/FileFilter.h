// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class QFileDialog;

// Converts an open or save dialog filter from the Windows syntax ("All files(*.*)|*.*|...": description
// and pattern list pairs, patterns separated by ';' or ',') to Qt's name filters.
QStringList FilterFromWindowsSyntax(const QString& windowsFilter);

// The files a dialog returned, followed by those typed into its name field that it left out. The
// field holds one name, or several each in double quotes ("a.wav" "b.mp3"); a relative name is taken
// in folder, and a leading "~" that names no file there stands for the home folder.
QStringList WithTypedFiles(QStringList chosen, const QString& typed, const QString& folder);

// Keeps the completions of a non-native dialog's name field from outliving the dialog.
void HideCompletionsWithDialog(QFileDialog* dialog);
