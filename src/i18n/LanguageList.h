// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace i18n {

// The bare names of the language files (*.ini, any letter case) in folder, directories skipped,
// sorted ascending without regard to case by the user's locale. A missing folder gives an empty list.
QStringList LanguageFileNames(const QString& folder);

// [LanguageProperty] Name of folder + fileName, or an empty text when the file or key is missing.
QString LanguageDisplayName(const QString& folder, const QString& fileName);

// The index of the entry spelled exactly as fileName, else of the first equal to it without regard
// to case, or -1.
int IndexOfLanguageFile(const QStringList& fileNames, const QString& fileName);

// The first file in listing order whose display name equals displayName without regard to case, or
// an empty text when displayName is empty or no file carries it.
QString LanguageFileForDisplayName(const QString& folder, const QString& displayName);

}  // namespace i18n
