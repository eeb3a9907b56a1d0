// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/LanguageList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class LanguageListTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        folder_ = dir_.path() + QStringLiteral("/WSLanguage/");
        ASSERT_TRUE(QDir().mkpath(folder_));
    }
    void Write(const QString& name, const QByteArray& content) {
        QFile file(folder_ + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    void WriteNamed(const QString& fileName, const QByteArray& displayName) {
        Write(fileName, "[LanguageProperty]\nName=" + displayName + "\n");
    }

    QTemporaryDir dir_;
    QString folder_;
};

TEST_F(LanguageListTest, ListsIniFilesSortedWithoutRegardToCase) {
    WriteNamed("b.ini", "B");
    WriteNamed("A.ini", "A");
    WriteNamed("C.INI", "C");
    WriteNamed(".hidden.ini", "Hidden");
    WriteNamed("notes.txt", "not a language");
    WriteNamed("d.ini.bak", "not a language");
    // A folder that looks like a language file is never offered.
    ASSERT_TRUE(QDir().mkpath(folder_ + QStringLiteral("x.ini")));

    EXPECT_EQ(i18n::LanguageFileNames(folder_), (QStringList{".hidden.ini", "A.ini", "b.ini", "C.INI"}));
}

TEST_F(LanguageListTest, MissingFolderGivesAnEmptyList) {
    EXPECT_TRUE(i18n::LanguageFileNames(dir_.path() + QStringLiteral("/nowhere/")).isEmpty());
    EXPECT_EQ(i18n::LanguageFileForDisplayName(dir_.path() + QStringLiteral("/nowhere/"), "English"), "");
}

TEST_F(LanguageListTest, RecordedFileIsFoundWithoutRegardToCase) {
    const QStringList names = {"Chinese.ini", "English.ini", "German.ini"};
    EXPECT_EQ(i18n::IndexOfLanguageFile(names, "english.INI"), 1);
    EXPECT_EQ(i18n::IndexOfLanguageFile(names, "German.ini"), 2);
    EXPECT_EQ(i18n::IndexOfLanguageFile(names, "French.ini"), -1);
    EXPECT_EQ(i18n::IndexOfLanguageFile(names, ""), -1);
    // Where the file system holds both spellings, the exact one is the recorded file.
    EXPECT_EQ(i18n::IndexOfLanguageFile({"a.ini", "A.ini"}, "A.ini"), 1);
}

TEST_F(LanguageListTest, DisplayNameIsDecodedByTheFilesCharSet) {
    Write("Russian.ini", "[LanguageProperty]\nName=\xD0\xF3\xF1\xF1\xEA\xE8\xE9\nCharSet=204\n");
    Write("Empty.ini", "[ToolBar]\nAdd=Add\n");
    EXPECT_EQ(i18n::LanguageDisplayName(folder_, "Russian.ini"), QString::fromUtf8("Русский"));
    EXPECT_EQ(i18n::LanguageDisplayName(folder_, "Empty.ini"), "");
    EXPECT_EQ(i18n::LanguageDisplayName(folder_, "Missing.ini"), "");
}

TEST_F(LanguageListTest, ChoiceIsTheFirstFileCarryingTheName) {
    WriteNamed("b.ini", "Deutsch");
    WriteNamed("A.ini", "deutsch");
    WriteNamed("c.ini", "Français");
    WriteNamed("d.ini", "");

    EXPECT_EQ(i18n::LanguageFileForDisplayName(folder_, "DEUTSCH"), "A.ini");
    EXPECT_EQ(i18n::LanguageFileForDisplayName(folder_, "Français"), "c.ini");
    EXPECT_EQ(i18n::LanguageFileForDisplayName(folder_, "Italiano"), "");
    // Choosing an item without a name counts as choosing nothing.
    EXPECT_EQ(i18n::LanguageFileForDisplayName(folder_, ""), "");
}

}  // namespace
