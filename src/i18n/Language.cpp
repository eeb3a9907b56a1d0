// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/Language.h"

#include "i18n/TextCodec.h"
#include "platform/InstallLayout.h"

#include <QDir>
#include <QFile>

namespace i18n {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");
const QString kSettingsFileName = QStringLiteral("Wavestitch.ini");

int CharSetOf(const QByteArray& content) {
    // Editors that save UTF-8 with a byte-order mark rarely update CharSet; the mark is the stronger sign.
    if (content.startsWith(kUtf8Bom)) {
        return CHARSET_DEFAULT;
    }
    const QByteArray value =
        IniFile::Find(content, "LanguageProperty", "CharSet").value_or(QByteArray::number(CHARSET_DEFAULT));
    bool ok = false;
    const int charSet = value.toInt(&ok);
    return ok ? charSet : CHARSET_DEFAULT;
}

}  // namespace

QString SettingsFilePath(const QString& appDir) {
    const QString beside = appDir + kSettingsFileName;
    return platform::KeepsSettingsBeside(appDir, beside) ? beside
                                                         : platform::UserConfigFolder() + kSettingsFileName;
}

void StoreLanguageChoice(const QString& appDir, const QString& fileName) {
    const QString path = SettingsFilePath(appDir);
    // The user's configuration folder may not exist yet; a portable folder always does.
    if (path != appDir + kSettingsFileName) {
        QDir().mkpath(platform::UserConfigFolder());
    }
    IniFile(path).WriteString(QStringLiteral("General"), QStringLiteral("Language"), fileName);
}

QString LanguageFolder(const QString& appDir) {
    return platform::DataPath(appDir, QStringLiteral("WSLanguage/"));
}

QString DefaultLanguageFileName(std::uint16_t langId) {
    switch (langId) {
        case 0x0804:
        case 0x1004:
            return QStringLiteral("ChineseGB.ini");
        case 0x0404:
        case 0x0C04:
            return QStringLiteral("ChineseBig5.ini");
        default:
            return QStringLiteral("English.ini");
    }
}

QString TrimControl(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32) {
        ++begin;
    }
    while (end > begin && text[end - 1].unicode() <= 32) {
        --end;
    }
    return text.mid(begin, end - begin);
}

QString LanguageFile::Text(const QString& section, const QString& key, const QString& def) const {
    // One read serves both the value and CharSet, so an edit between them cannot mix two versions.
    QFile file(ini_.FileName());
    if (!file.open(QIODevice::ReadOnly)) {
        return def;
    }
    const QByteArray content = file.readAll();
    const std::optional<QByteArray> value = IniFile::Find(content, section.toUtf8(), key.toUtf8());
    if (!value) {
        return def;
    }
    return DecodeCharSet(*value, CharSetOf(content));
}

QString LanguageText(const LanguageFile* languageIni, const QString& section, const QString& key,
                     const QString& def) {
    return languageIni ? languageIni->Text(section, key, def) : def;
}

OpenLanguageResult OpenLanguageFile(const QString& appDir, std::uint16_t userLangId, bool writeChoice) {
    OpenLanguageResult result;
    const IniFile settings(SettingsFilePath(appDir));
    QString name =
        TrimControl(settings.ReadString(QStringLiteral("General"), QStringLiteral("Language"), {}));
    if (name.isEmpty()) {
        name = DefaultLanguageFileName(userLangId);
        if (writeChoice) {
            try {
                StoreLanguageChoice(appDir, name);
            } catch (const IniWriteError& error) {
                result.writeError = QString::fromUtf8(error.what());
            }
        }
    }
    // The chosen file is opened even after a failed write, so the windows still get their texts.
    result.languageIni = std::make_unique<LanguageFile>(LanguageFolder(appDir) + name);
    return result;
}

}  // namespace i18n
