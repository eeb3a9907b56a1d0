// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "i18n/LanguageKeys.h"

#include <QByteArray>
#include <QString>

// A language file whose every text is tag + "Section.Key", so each control shows where its text
// came from and which file it came from. The font keys get the values given.
inline QByteArray TaggedLanguage(const QByteArray& tag, const QByteArray& name = "Tagged",
                                 const QByteArray& fontName = "Tahoma", const QByteArray& fontSize = "8",
                                 const QByteArray& charSet = "1") {
    QByteArray content = "[LanguageProperty]\nName=" + name + "\nFontName=" + fontName +
                         "\nFontSize=" + fontSize + "\nCharSet=" + charSet + "\n";
    for (const auto& [section, names] : kLanguageKeysBySection) {
        if (QByteArray(section) == "LanguageProperty") {
            continue;
        }
        content += "[" + QByteArray(section) + "]\n";
        for (const QByteArray& key : QByteArray(names).split(' ')) {
            content += key + "=" + tag + section + "." + key + "\n";
        }
    }
    return content;
}

// The text TaggedLanguage gives a key.
inline QString Tagged(const char* tag, const char* sectionDotKey) {
    return QString::fromLatin1(tag) + QString::fromLatin1(sectionDotKey);
}
