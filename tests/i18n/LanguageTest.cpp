// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/Language.h"
#include "platform/InstallLayout.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace i18n;

namespace {

class LanguageFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        appDir = dir.path() + '/';
        ASSERT_TRUE(QDir(dir.path()).mkdir("WSLanguage"));
    }

    static void Store(const QString& path, const QByteArray& content) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }

    static QByteArray Load(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QString SettingsPath() const { return appDir + "Wavestitch.ini"; }
    QString LanguagePath(const QString& name) const { return appDir + "WSLanguage/" + name; }

    QTemporaryDir dir;
    QString appDir;
};

// An installation (bin/, share/, lib/), a portable copy elsewhere under the same prefix, and the
// user's configuration folder.
class InstallLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        for (const char* folder :
             {"bin", "share/wavestitch/WSLanguage", "lib/wavestitch", "copy/portable/WSLanguage"}) {
            ASSERT_TRUE(QDir(root.path()).mkpath(folder));
        }
        for (const char* file : {"lib/wavestitch/lame_enc.so", "copy/portable/lame_enc.so"}) {
            ASSERT_TRUE(QFile(prefix + file).open(QIODevice::WriteOnly));
        }
        savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(prefix + "config"));
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", savedConfig); }

    QTemporaryDir root;
    const QString prefix = root.path() + '/';
    QByteArray savedConfig;
};

TEST_F(InstallLayoutTest, PortableKeepsAllBesideInstalledUsesShareLibAndTheUsersConfig) {
    const QString portable = prefix + "copy/portable/";
    EXPECT_EQ(SettingsFilePath(portable), portable + "Wavestitch.ini");
    EXPECT_EQ(LanguageFolder(portable), portable + "WSLanguage/");
    EXPECT_EQ(platform::ModulePath(portable, "lame_enc.so"), portable + "lame_enc.so");

    const QString bin = prefix + "bin/";
    const QString userSettings = prefix + "config/Wavestitch/Wavestitch.ini";
    EXPECT_EQ(SettingsFilePath(bin), userSettings);
    EXPECT_EQ(LanguageFolder(bin), prefix + "share/wavestitch/WSLanguage/");
    EXPECT_EQ(platform::ModulePath(bin, "lame_enc.so"), prefix + "lib/wavestitch/lame_enc.so");
    // A folder nobody can write keeps its settings in the user's folder as well.
    EXPECT_EQ(SettingsFilePath(prefix + "gone/"), userSettings);

    // The first choice creates the user's folder and its settings file.
    const OpenLanguageResult result = OpenLanguageFile(bin, 0x0804);
    EXPECT_FALSE(result.writeError.has_value());
    EXPECT_EQ(result.languageIni->FileName(), prefix + "share/wavestitch/WSLanguage/ChineseGB.ini");
    QFile settings(userSettings);
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_EQ(settings.readAll(), "[General]\nLanguage=ChineseGB.ini\n");
}

// The message names the file that could not be written: here the user's configuration folder is a file.
TEST_F(InstallLayoutTest, WriteFailureIsReportedAndChosenFileStillOpened) {
    ASSERT_TRUE(QFile(prefix + "config").open(QIODevice::WriteOnly));
    const OpenLanguageResult result = OpenLanguageFile(prefix + "bin/", 0x0804);
    ASSERT_TRUE(result.writeError.has_value());
    EXPECT_EQ(*result.writeError, "Unable to write to " + prefix + "config/Wavestitch/Wavestitch.ini");
    ASSERT_NE(result.languageIni, nullptr);
    EXPECT_EQ(result.languageIni->FileName(), prefix + "share/wavestitch/WSLanguage/ChineseGB.ini");
}

TEST(LanguagePaths, TrimControlStripsBlanksAndControlsOnlyAtTheEnds) {
    EXPECT_EQ(TrimControl(QString::fromUtf8("\t\r\n \x01 My File.ini \x1F\x7F")), "My File.ini \x1F\x7F");
    EXPECT_EQ(TrimControl(" \t\r\n"), "");
    EXPECT_EQ(TrimControl(QString::fromUtf8("\u00a0x\u00a0")), QString::fromUtf8("\u00a0x\u00a0"));
}

struct FirstUseCase {
    std::uint16_t langId;
    const char* fileName;
};

class FirstUseTest : public LanguageFixture, public ::testing::WithParamInterface<FirstUseCase> {};

TEST_P(FirstUseTest, ChoosesByLanguageIdAndStoresOnlyTheChoice) {
    const FirstUseCase& c = GetParam();
    const OpenLanguageResult result = OpenLanguageFile(appDir, c.langId);
    EXPECT_FALSE(result.writeError.has_value());
    ASSERT_NE(result.languageIni, nullptr);
    EXPECT_EQ(result.languageIni->FileName(), LanguagePath(c.fileName));
    EXPECT_EQ(Load(SettingsPath()), QByteArray("[General]\nLanguage=") + c.fileName + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    LanguageIds, FirstUseTest,
    ::testing::Values(FirstUseCase{0x0804, "ChineseGB.ini"}, FirstUseCase{0x1004, "ChineseGB.ini"},
                      FirstUseCase{0x0404, "ChineseBig5.ini"}, FirstUseCase{0x0C04, "ChineseBig5.ini"},
                      FirstUseCase{0x1404, "English.ini"}, FirstUseCase{0x0004, "English.ini"},
                      FirstUseCase{0x0809, "English.ini"}, FirstUseCase{0x0409, "English.ini"},
                      FirstUseCase{0x8804, "English.ini"}));

using OpenLanguageTest = LanguageFixture;

TEST_F(OpenLanguageTest, BlankChoiceCountsAsEmptyAndIsWrittenBack) {
    Store(SettingsPath(), "[General]\r\nAd=0\r\nLanguage=  \t \r\n");
    const OpenLanguageResult result = OpenLanguageFile(appDir, 0x0804);
    EXPECT_EQ(result.languageIni->FileName(), LanguagePath("ChineseGB.ini"));
    EXPECT_EQ(Load(SettingsPath()), "[General]\r\nAd=0\r\nLanguage=ChineseGB.ini\r\n");
}

TEST_F(OpenLanguageTest, ChoiceAddedBesideOtherSettings) {
    Store(SettingsPath(), "[general]\nAd=0\n");
    OpenLanguageFile(appDir, 0x0409);
    EXPECT_EQ(Load(SettingsPath()), "[general]\nAd=0\nLanguage=English.ini\n");
}

TEST_F(OpenLanguageTest, ExistingChoiceIsTrimmedAndNotWritten) {
    const QByteArray settings = "[GENERAL]\nlanguage = \t Deutsch.ini \t\n";
    Store(SettingsPath(), settings);
    const OpenLanguageResult result = OpenLanguageFile(appDir, 0x0804);
    EXPECT_EQ(result.languageIni->FileName(), LanguagePath("Deutsch.ini"));
    EXPECT_EQ(Load(SettingsPath()), settings);
}

TEST_F(OpenLanguageTest, WithoutWriteChoiceNoFileIsCreated) {
    const OpenLanguageResult result = OpenLanguageFile(appDir, 0x0404, false);
    EXPECT_EQ(result.languageIni->FileName(), LanguagePath("ChineseBig5.ini"));
    EXPECT_FALSE(QFile::exists(SettingsPath()));
    EXPECT_FALSE(result.writeError.has_value());
}

TEST_F(OpenLanguageTest, MissingLanguageFileGivesEveryDefault) {
    Store(SettingsPath(), "[General]\nLanguage=Klingon.ini\n");
    const OpenLanguageResult result = OpenLanguageFile(appDir, 0x0409);
    EXPECT_EQ(LanguageText(result.languageIni.get(), "ToolBar", "Add", ""), "");
    EXPECT_EQ(LanguageText(result.languageIni.get(), "LanguageProperty", "FontName", "Tahoma"), "Tahoma");
    EXPECT_EQ(LanguageText(result.languageIni.get(), "LanguageProperty", "FontSize", "8"), "8");
}

class LanguageTextTest : public LanguageFixture {
protected:
    QString Lookup(const QByteArray& content, const QString& section, const QString& key) {
        Store(LanguagePath("Test.ini"), content);
        return file.Text(section, key, "<def>");
    }

    // appDir is only set in SetUp, so the member is built from the folder itself.
    LanguageFile file{dir.path() + "/WSLanguage/Test.ini"};
};

TEST(LanguageTextNoFile, GivesDefaultBeforeAnyFileIsOpen) {
    EXPECT_EQ(LanguageText(nullptr, "Common", "Ok", ""), "");
    EXPECT_EQ(LanguageText(nullptr, "LanguageProperty", "CharSet", "1"), "1");
}

TEST_F(LanguageTextTest, MissingKeyOrSectionGivesDefault) {
    const QByteArray content = "[Common]\nOk=OK\n";
    EXPECT_EQ(Lookup(content, "common", "OK"), "OK");
    EXPECT_EQ(Lookup(content, "Common", "Cancel"), "<def>");
    EXPECT_EQ(Lookup(content, "Join", "Complete"), "<def>");
    EXPECT_EQ(LanguageText(&file, "Common", "Cancel", ""), "");
}

TEST_F(LanguageTextTest, ValuesDecodedByCharSet) {
    EXPECT_EQ(
        Lookup("[LanguageProperty]\nCharSet=134\n[Join]\nComplete=\xD6\xD0\xCE\xC4\n", "Join", "Complete"),
        QString::fromUtf8("中文"));
    EXPECT_EQ(Lookup("[Join]\nComplete=\xCF\xF0\xE8\xE2\xE5\xF2\n[LanguageProperty]\nCharSet = 204\n", "Join",
                     "Complete"),
              QString::fromUtf8("Привет"));
    EXPECT_EQ(
        Lookup("[LanguageProperty]\nCharSet=136\n[Join]\nComplete=\xA4\xA4\xA4\xE5\n", "Join", "Complete"),
        QString::fromUtf8("中文"));
}

TEST_F(LanguageTextTest, Utf8WhenBomOrCharSetNotANumber) {
    const QByteArray utf8Text = "\xE4\xB8\xAD\xE6\x96\x87";
    EXPECT_EQ(Lookup("\xEF\xBB\xBF[LanguageProperty]\nCharSet=134\n[Join]\nComplete=" + utf8Text + "\n",
                     "Join", "Complete"),
              QString::fromUtf8("中文"));
    EXPECT_EQ(
        Lookup("[LanguageProperty]\nCharSet=GBK\n[Join]\nComplete=" + utf8Text + "\n", "Join", "Complete"),
        QString::fromUtf8("中文"));
    EXPECT_EQ(Lookup("[Join]\nComplete=" + utf8Text + "\n", "Join", "Complete"), QString::fromUtf8("中文"));
    // CharSet itself is read like any other text.
    EXPECT_EQ(Lookup("[LanguageProperty]\nCharSet=GBK\n", "LanguageProperty", "CharSet"), "GBK");
}

TEST_F(LanguageTextTest, EditsSeenAtNextLookup) {
    EXPECT_EQ(Lookup("[Join]\nComplete=Done.\n", "Join", "Complete"), "Done.");
    EXPECT_EQ(Lookup("[Join]\nComplete=Finished.\n", "Join", "Complete"), "Finished.");
    EXPECT_EQ(Lookup("[LanguageProperty]\nCharSet=204\n[Join]\nComplete=\xC3\xE4\n", "Join", "Complete"),
              QString::fromUtf8("Гд"));
    EXPECT_EQ(Lookup("[LanguageProperty]\nCharSet=0\n[Join]\nComplete=\xC3\xE4\n", "Join", "Complete"),
              QString::fromUtf8("Ãä"));
    ASSERT_TRUE(QFile::remove(LanguagePath("Test.ini")));
    EXPECT_EQ(file.Text("Join", "Complete", "<def>"), "<def>");
}

}  // namespace
