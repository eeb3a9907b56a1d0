// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "i18n/IniFile.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace i18n {

// The settings file: appDir + "Wavestitch.ini" for a portable program, else "Wavestitch.ini" in the
// user's configuration folder (platform/InstallLayout.h). appDir ends in '/'.
QString SettingsFilePath(const QString& appDir);
// Writes fileName to [General] Language of the settings file, creating the user's configuration
// folder when the settings live there. Throws IniWriteError when the file cannot be written.
void StoreLanguageChoice(const QString& appDir, const QString& fileName);
// appDir + "WSLanguage/" when it exists, else the installation's language folder; ends in '/'.
QString LanguageFolder(const QString& appDir);

// The language file chosen on first use for a Windows language identifier:
// 0x0804 and 0x1004 "ChineseGB.ini", 0x0404 and 0x0C04 "ChineseBig5.ini", anything else "English.ini".
QString DefaultLanguageFileName(std::uint16_t langId);

// Trims leading and trailing characters with codes up to 32 (blanks and control characters).
QString TrimControl(const QString& text);

// The open language file. Values are decoded to Unicode by the file's [LanguageProperty] CharSet
// (a UTF-8 byte-order mark always means UTF-8). Nothing is cached: every lookup reads the file.
class LanguageFile {
public:
    explicit LanguageFile(QString path) : ini_(std::move(path)) {}
    const QString& FileName() const { return ini_.FileName(); }
    QString Text(const QString& section, const QString& key, const QString& def) const;

private:
    IniFile ini_;
};

// The one lookup of a translated text: key in section of the open language file, or def when
// there is no open file or the file, section or key is missing.
QString LanguageText(const LanguageFile* languageIni, const QString& section, const QString& key,
                     const QString& def);

struct OpenLanguageResult {
    std::unique_ptr<LanguageFile> languageIni;  // always set
    std::optional<QString> writeError;  // "Unable to write to <path>" when the choice could not be stored
};

// Reads [General] Language from the settings file; when it is empty, chooses the default for
// userLangId and, if writeChoice, writes it back at once. Opens LanguageFolder(appDir) + the file
// name (the file need not exist). A failed write is returned, not thrown, and the chosen file is
// opened all the same.
OpenLanguageResult OpenLanguageFile(const QString& appDir, std::uint16_t userLangId, bool writeChoice = true);

}  // namespace i18n
