// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/LanguageList.h"

#include "i18n/Language.h"

#include <QCollator>
#include <QDir>

#include <algorithm>

namespace i18n {

QStringList LanguageFileNames(const QString& folder) {
    QDir dir(folder);
    // Hidden files count as language files too; sockets, pipes and dangling links (QDir::System)
    // never do, since reading a pipe would block the dialog.
    dir.setFilter(QDir::Files | QDir::Hidden);
    dir.setNameFilters({QStringLiteral("*.ini")});
    dir.setSorting(QDir::Name);
    QStringList names = dir.entryList();

    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Names equal without regard to case keep the byte order the folder listing gave them, so the
    // order is the same at every showing.
    std::stable_sort(names.begin(), names.end(),
                     [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    return names;
}

QString LanguageDisplayName(const QString& folder, const QString& fileName) {
    return LanguageFile(folder + fileName)
        .Text(QStringLiteral("LanguageProperty"), QStringLiteral("Name"), {});
}

int IndexOfLanguageFile(const QStringList& fileNames, const QString& fileName) {
    // Only this file system can hold "a.ini" beside "A.ini"; then the exact spelling is the recorded one.
    const int exact = static_cast<int>(fileNames.indexOf(fileName));
    if (exact >= 0) {
        return exact;
    }
    for (int i = 0; i < fileNames.size(); ++i) {
        if (fileNames[i].compare(fileName, Qt::CaseInsensitive) == 0) {
            return i;
        }
    }
    return -1;
}

QString LanguageFileForDisplayName(const QString& folder, const QString& displayName) {
    if (displayName.isEmpty()) {
        return QString();
    }
    for (const QString& fileName : LanguageFileNames(folder)) {
        if (LanguageDisplayName(folder, fileName).compare(displayName, Qt::CaseInsensitive) == 0) {
            return fileName;
        }
    }
    return QString();
}

}  // namespace i18n
