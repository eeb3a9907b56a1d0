// SPDX-License-Identifier: GPL-3.0-or-later
// The language files shipped in lang/: complete, decodable by their CharSet, and consistent with
// the English file in everything that is not wording.
#include "i18n/IniFile.h"
#include "i18n/Language.h"
#include "i18n/TextCodec.h"

#include "LanguageKeys.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <iconv.h>

#include <memory>
#include <optional>
#include <type_traits>

namespace {

const QString kLangFolder = QStringLiteral(WAVESTITCH_SOURCE_DIR "/lang/");

struct ShippedLanguage {
    const char* file;
    const char* name;  // UTF-8
    int charSet;
};

// The start-up choice needs English, ChineseGB and ChineseBig5 by these exact names.
const ShippedLanguage kShipped[] = {
    {"English.ini", "English", 1},        {"ChineseGB.ini", "简体中文", 134},
    {"ChineseBig5.ini", "繁體中文", 136}, {"German.ini", "Deutsch", 1},
    {"French.ini", "Français", 1},        {"Spanish.ini", "Español", 1},
    {"Italian.ini", "Italiano", 1},       {"PortugueseBrazil.ini", "Português (Brasil)", 1},
    {"Polish.ini", "Polski", 1},          {"Dutch.ini", "Nederlands", 1},
    {"Russian.ini", "Русский", 204},      {"Japanese.ini", "日本語", 128},
    {"Korean.ini", "한국어", 129},
};

QStringList FilesInLangFolder() {
    return QDir(kLangFolder).entryList({QStringLiteral("*.ini")}, QDir::Files, QDir::Name);
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Text(const i18n::LanguageFile& file, const QString& entry) {
    return file.Text(entry.section('/', 0, 0), entry.section('/', 1, 1), {});
}

struct IconvClose {
    void operator()(iconv_t cd) const { iconv_close(cd); }
};
using IconvPtr = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvClose>;

// text in the code page named encoding, or nothing when a character has no place in it.
std::optional<QByteArray> Encode(const QString& text, const char* encoding) {
    const iconv_t cd = iconv_open(encoding, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    const IconvPtr owner(cd);
    QByteArray in = text.toUtf8();
    QByteArray out(in.size() * 4 + 16, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    size_t inLeft = static_cast<size_t>(in.size());
    size_t outLeft = static_cast<size_t>(out.size());
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
        return std::nullopt;
    }
    out.truncate(out.size() - static_cast<qsizetype>(outLeft));
    return out;
}

// The %N a text holds, each once, in order: a translation that drops one shows a wrong number.
QStringList Placeholders(const QString& text) {
    QStringList found;
    for (const QRegularExpressionMatch& m : QRegularExpression(QStringLiteral("%\\d")).globalMatch(text)) {
        found << m.captured();
    }
    found.sort();
    found.removeDuplicates();
    return found;
}

TEST(LanguageFiles, TheShippedSetIsThere) {
    QStringList expected;
    for (const ShippedLanguage& language : kShipped) {
        expected << QString::fromLatin1(language.file);
    }
    expected.sort();
    EXPECT_EQ(FilesInLangFolder(), expected);
}

TEST(LanguageFiles, EachHoldsExactlyTheKeySet) {
    const QList<QString> keySet = LanguageKeySet();
    ASSERT_EQ(keySet.size(), 96);
    const QSet<QString> expected(keySet.begin(), keySet.end());
    for (const QString& fileName : FilesInLangFolder()) {
        SCOPED_TRACE(fileName.toStdString());
        const QList<QString> entries = LanguageEntriesOf(ReadAll(kLangFolder + fileName));
        QSet<QString> seen;
        for (const QString& entry : entries) {
            EXPECT_TRUE(expected.contains(entry)) << "unexpected " << entry.toStdString();
            EXPECT_FALSE(seen.contains(entry)) << "repeated " << entry.toStdString();
            seen.insert(entry);
        }
        for (const QString& key : keySet) {
            EXPECT_TRUE(seen.contains(key)) << "missing " << key.toStdString();
        }
    }
}

TEST(LanguageFiles, EveryTextDecodesByItsCharSetAndEncodesBackToTheSameBytes) {
    for (const ShippedLanguage& language : kShipped) {
        const QString path = kLangFolder + QString::fromLatin1(language.file);
        SCOPED_TRACE(language.file);
        const QByteArray content = ReadAll(path);
        ASSERT_FALSE(content.isEmpty());
        EXPECT_FALSE(content.startsWith("\xEF\xBB\xBF")) << "a byte-order mark would override CharSet";
        EXPECT_FALSE(content.contains('\r')) << "line ends are LF throughout";

        const i18n::LanguageFile file(path);
        EXPECT_EQ(Text(file, "LanguageProperty/CharSet"), QString::number(language.charSet));
        EXPECT_EQ(Text(file, "LanguageProperty/Name"), QString::fromUtf8(language.name));
        const char* encoding = i18n::EncodingForCharSet(language.charSet);
        const i18n::LanguageFile english(kLangFolder + QStringLiteral("English.ini"));
        for (const QString& entry : LanguageKeySet()) {
            const QString text = Text(file, entry);
            EXPECT_FALSE(text.isEmpty()) << entry.toStdString();
            EXPECT_EQ(Placeholders(text), Placeholders(Text(english, entry))) << entry.toStdString();
            EXPECT_FALSE(text.contains(QChar(0xFFFD))) << entry.toStdString();
            // A value that decodes but does not encode back was read in the wrong code page.
            const QByteArray raw = i18n::IniFile::Find(content, entry.section('/', 0, 0).toLatin1(),
                                                       entry.section('/', 1, 1).toLatin1())
                                       .value_or(QByteArray());
            EXPECT_EQ(Encode(text, encoding), std::optional<QByteArray>(raw)) << entry.toStdString();
        }
        bool sizeIsNumber = false;
        Text(file, "LanguageProperty/FontSize").toInt(&sizeIsNumber);
        EXPECT_TRUE(sizeIsNumber);
    }
}

TEST(LanguageFiles, FiltersKeepTheEnglishPatterns) {
    const i18n::LanguageFile english(kLangFolder + QStringLiteral("English.ini"));
    for (const QString& fileName : FilesInLangFolder()) {
        SCOPED_TRACE(fileName.toStdString());
        const i18n::LanguageFile file(kLangFolder + fileName);
        for (const char* key :
             {"OpenDialog/Filter", "SaveDialog/WAVFilter", "SaveDialog/MP3Filter", "SaveDialog/WMAFilter"}) {
            const QStringList parts = Text(file, QLatin1String(key)).split('|');
            const QStringList englishParts = Text(english, QLatin1String(key)).split('|');
            ASSERT_EQ(parts.size(), englishParts.size()) << key;
            ASSERT_EQ(parts.size() % 2, 0) << key;
            for (qsizetype i = 1; i < parts.size(); i += 2) {
                EXPECT_TRUE(parts[i].startsWith("*.")) << key;
                EXPECT_EQ(parts[i], englishParts[i]) << key;
                EXPECT_FALSE(parts[i - 1].isEmpty()) << key;
            }
        }
    }
}

TEST(LanguageFiles, AcceleratorsWhereEnglishHasThemAndNoneTwiceInOneWindow) {
    const i18n::LanguageFile english(kLangFolder + QStringLiteral("English.ini"));
    for (const QString& fileName : FilesInLangFolder()) {
        SCOPED_TRACE(fileName.toStdString());
        const i18n::LanguageFile file(kLangFolder + fileName);
        // The texts of one section show in one window, where Alt and a letter shared by two
        // controls only moves the focus between them.
        QMap<QString, QString> taken;
        for (const QString& entry : LanguageKeySet()) {
            const QString text = Text(file, entry);
            const bool englishHasOne = Text(english, entry).contains('&');
            EXPECT_EQ(text.count('&'), englishHasOne ? 1 : 0) << entry.toStdString();
            if (englishHasOne) {
                const qsizetype at = text.indexOf('&');
                ASSERT_LT(at + 1, text.size()) << entry.toStdString();
                EXPECT_TRUE(text[at + 1].isLetter()) << entry.toStdString();
                const QString key = entry.section('/', 0, 0) + '/' + text[at + 1].toLower();
                EXPECT_FALSE(taken.contains(key))
                    << entry.toStdString() << " has the shortcut of " << taken.value(key).toStdString();
                taken.insert(key, entry);
            }
        }
    }
}

TEST(LanguageFiles, EnglishCopyrightKeepsItsSign) {
    const i18n::LanguageFile english(kLangFolder + QStringLiteral("English.ini"));
    EXPECT_EQ(english.Text("AboutForm", "Copyright", {}), QString::fromUtf8("Copyright ©"));
}

}  // namespace
