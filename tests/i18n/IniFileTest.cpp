// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using i18n::IniFile;
using i18n::IniWriteError;

namespace {

struct LookupCase {
    const char* name;
    QByteArray content;
    QByteArray section;
    QByteArray key;
    QByteArray expected;
};

void PrintTo(const LookupCase& c, std::ostream* os) {
    *os << c.name;
}

class IniLookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(IniLookupTest, FindsValueByProfileRules) {
    const LookupCase& c = GetParam();
    EXPECT_EQ(IniFile::Lookup(c.content, c.section, c.key, "<def>"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, IniLookupTest,
    ::testing::Values(LookupCase{"SectionAndKeyIgnoreCase", "[GENERAL]\nlanguage=English.ini\n", "General",
                                 "Language", "English.ini"},
                      LookupCase{"CaseFoldingIsAsciiOnly", "[\xC3\x84]\nk=v\n", "\xC3\xA4", "k", "<def>"},
                      LookupCase{"FirstKeyWins", "[S]\nk=one\nK=two\n", "S", "k", "one"},
                      LookupCase{"OnlyFirstBlockOfRepeatedSection", "[S]\na=1\n[T]\nb=2\n[s]\nb=3\na=4\n",
                                 "S", "b", "<def>"},
                      LookupCase{"FirstBlockValueBeatsLaterBlock", "[S]\na=1\n[s]\na=4\n", "S", "a", "1"},
                      LookupCase{"KeyInOtherSectionIgnored", "[A]\nk=a\n[B]\nk=b\n", "B", "k", "b"},
                      LookupCase{"KeyBeforeAnySectionIgnored", "k=top\n[S]\nx=1\n", "S", "k", "<def>"},
                      LookupCase{"BlanksTrimmed", "  [ S ]  \n \t k \t=  spaced value \t\n", "S", "k",
                                 "spaced value"},
                      LookupCase{"ValueKeepsLaterEquals", "[S]\nk=a=b\n", "S", "k", "a=b"},
                      LookupCase{"DoubleQuotesStripped", "[S]\nk=\" padded \"\n", "S", "k", " padded "},
                      LookupCase{"SingleQuotesStripped", "[S]\nk='x'\n", "S", "k", "x"},
                      LookupCase{"MismatchedQuotesKept", "[S]\nk=\"x'\n", "S", "k", "\"x'"},
                      LookupCase{"LoneQuoteKept", "[S]\nk=\"\n", "S", "k", "\""},
                      LookupCase{"InnerQuotesKept", "[S]\nk=a \"b\" c\n", "S", "k", "a \"b\" c"},
                      LookupCase{"EmptyValueIsFound", "[S]\nk=\n", "S", "k", ""},
                      LookupCase{"CommentLineIgnored", "[S]\n;k=commented\nk=real\n", "S", "k", "real"},
                      LookupCase{"IndentedCommentIgnored", "[S]\n  ; k=commented\n", "S", "k", "<def>"},
                      LookupCase{"LineWithoutEqualsIgnored", "[S]\nk\nk=v\n", "S", "k", "v"},
                      LookupCase{"CrLfLines", "[S]\r\nk=v\r\nm=w\r\n", "S", "k", "v"},
                      LookupCase{"LastLineWithoutBreak", "[S]\nk=v", "S", "k", "v"},
                      LookupCase{"BomBeforeFirstSection", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "v"},
                      LookupCase{"MissingSection", "[S]\nk=v\n", "T", "k", "<def>"},
                      LookupCase{"MissingKey", "[S]\nk=v\n", "S", "m", "<def>"},
                      LookupCase{"EmptyContent", "", "S", "k", "<def>"}),
    [](const ::testing::TestParamInfo<LookupCase>& testInfo) { return std::string(testInfo.param.name); });

TEST(IniLookupLimits, ValueIsCutTo2047Bytes) {
    const QByteArray longValue(3000, 'x');
    const QByteArray value = IniFile::Lookup("[S]\nk=" + longValue + "\n", "S", "k", "");
    EXPECT_EQ(value, QByteArray(IniFile::kMaxValueLength, 'x'));

    const QByteArray exact(IniFile::kMaxValueLength, 'y');
    EXPECT_EQ(IniFile::Lookup("[S]\nk=" + exact + "\n", "S", "k", ""), exact);
}

TEST(IniLookupLimits, FindTellsMissingKeyFromEmptyValue) {
    EXPECT_FALSE(IniFile::Find("[S]\n", "S", "k").has_value());
    EXPECT_EQ(IniFile::Find("[S]\nk=\n", "S", "k"), QByteArray());
}

struct WriteCase {
    const char* name;
    QByteArray before;
    QByteArray section;
    QByteArray key;
    QByteArray value;
    QByteArray after;
};

void PrintTo(const WriteCase& c, std::ostream* os) {
    *os << c.name;
}

class IniWithValueTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(IniWithValueTest, ChangesOnlyWhatItMust) {
    const WriteCase& c = GetParam();
    const QByteArray written = IniFile::WithValue(c.before, c.section, c.key, c.value);
    EXPECT_EQ(written, c.after);
    EXPECT_EQ(IniFile::Lookup(written, c.section, c.key, "<def>"), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, IniWithValueTest,
    ::testing::Values(
        WriteCase{"EmptyFile", "", "General", "Language", "English.ini", "[General]\nLanguage=English.ini\n"},
        WriteCase{"SectionAppended", "; note\n[Other]\nx = 1\n", "General", "Language", "a.ini",
                  "; note\n[Other]\nx = 1\n[General]\nLanguage=a.ini\n"},
        WriteCase{"SectionAppendedAfterUnterminatedLine", "[Other]\nx=1", "G", "k", "v",
                  "[Other]\nx=1\n[G]\nk=v\n"},
        WriteCase{"KeyAfterLastEntryOfSection", "[G]\na=1\n\n; c\nb=2\n\n[H]\nc=3\n", "g", "k", "v",
                  "[G]\na=1\n\n; c\nb=2\nk=v\n\n[H]\nc=3\n"},
        WriteCase{"KeyAfterHeaderOfEmptySection", "[G]\n[H]\nc=3\n", "G", "k", "v", "[G]\nk=v\n[H]\nc=3\n"},
        WriteCase{"KeyGoesToFirstBlock", "[G]\na=1\n[H]\n[G]\nb=2\n", "G", "b", "new",
                  "[G]\na=1\nb=new\n[H]\n[G]\nb=2\n"},
        WriteCase{"KeyAfterUnterminatedLastLine", "[G]\na=1", "G", "k", "v", "[G]\na=1\nk=v"},
        WriteCase{"KeyAfterLastLineEndingInLoneCr", "[G]\r\na=1\r", "G", "k", "v", "[G]\r\na=1\r\nk=v\r"},
        WriteCase{"SimilarSectionNameDoesNotMatch", "[G]\n  LANGUAGE = \"Old.ini\"\nlanguage=Second\n",
                  "General", "Language", "New.ini",
                  "[G]\n  LANGUAGE = \"Old.ini\"\nlanguage=Second\n[General]\nLanguage=New.ini\n"},
        WriteCase{"ValueReplacedInPlace", "[General]\r\n  LANGUAGE = Old.ini\r\nlanguage=Second\r\n",
                  "general", "Language", "New.ini",
                  "[General]\r\n  LANGUAGE = New.ini\r\nlanguage=Second\r\n"},
        WriteCase{"CrLfKeptForNewLines", "[Other]\r\nx=1\r\n", "General", "Language", "a.ini",
                  "[Other]\r\nx=1\r\n[General]\r\nLanguage=a.ini\r\n"},
        WriteCase{"CrLfKeptForNewKey", "[General]\r\nAd=0\r\n[X]\r\n", "General", "Language", "a.ini",
                  "[General]\r\nAd=0\r\nLanguage=a.ini\r\n[X]\r\n"},
        WriteCase{"BomKept", "\xEF\xBB\xBF[General]\nAd=0\n", "General", "Ad", "1",
                  "\xEF\xBB\xBF[General]\nAd=1\n"},
        WriteCase{"BomOnlyFile", "\xEF\xBB\xBF", "G", "k", "v", "\xEF\xBB\xBF[G]\nk=v\n"}),
    [](const ::testing::TestParamInfo<WriteCase>& testInfo) { return std::string(testInfo.param.name); });

class IniFileOnDiskTest : public ::testing::Test {
protected:
    QString PathOf(const QString& name) const { return dir.filePath(name); }

    static void Store(const QString& path, const QByteArray& content) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }

    static QByteArray Load(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }

    static void ExpectWriteError(const QString& path) {
        const IniFile ini(path);
        try {
            ini.WriteString("General", "Language", "English.ini");
            ADD_FAILURE() << "no error writing " << path.toStdString();
        } catch (const IniWriteError& error) {
            EXPECT_EQ(std::string(error.what()), "Unable to write to " + path.toStdString());
        }
    }

    QTemporaryDir dir;
};

TEST_F(IniFileOnDiskTest, MissingFileGivesDefault) {
    const IniFile ini(PathOf("absent.ini"));
    EXPECT_EQ(ini.ReadBytes("S", "k", "def"), "def");
    EXPECT_EQ(ini.ReadString("S", "k", "d\u00e9f"), QString("d\u00e9f"));
}

TEST_F(IniFileOnDiskTest, ReadStringDecodesUtf8AndReadBytesDoesNot) {
    Store(PathOf("a.ini"),
          "[S]\nk=Gr\xC3\xBC\xC3\x9F"
          "e\n");
    const IniFile ini(PathOf("a.ini"));
    EXPECT_EQ(ini.ReadString("s", "K", ""), QString::fromUtf8("Gr\u00fc\u00dfe"));
    EXPECT_EQ(ini.ReadBytes("s", "K", ""), QByteArray("Gr\xC3\xBC\xC3\x9F"
                                                      "e"));
}

TEST_F(IniFileOnDiskTest, EditsAreSeenAtNextRead) {
    const IniFile ini(PathOf("a.ini"));
    Store(PathOf("a.ini"), "[S]\nk=first\n");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "first");
    Store(PathOf("a.ini"), "[S]\nk=second\n");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "second");
}

TEST_F(IniFileOnDiskTest, WriteCreatesFileAndKeepsOtherLines) {
    const IniFile ini(PathOf("new.ini"));
    ini.WriteString("General", "Language", "English.ini");
    EXPECT_EQ(Load(PathOf("new.ini")), "[General]\nLanguage=English.ini\n");

    const QByteArray original =
        "\xEF\xBB\xBF; settings\r\n[General]\r\nAd = 0 \r\nLanguage=English.ini\r\n\r\n[Misc]\r\n\tz=\"q\"";
    Store(PathOf("new.ini"), original);
    ini.WriteString("General", "Language", "ChineseGB.ini");
    QByteArray expected = original;
    expected.replace("Language=English.ini", "Language=ChineseGB.ini");
    EXPECT_EQ(Load(PathOf("new.ini")), expected);
}

TEST_F(IniFileOnDiskTest, WriteFailureThrowsWithPathAndKeepsNothingHalfDone) {
    // The message carries the path as UTF-8.
    ExpectWriteError(PathOf("d\u00e9j\u00e0/Wavestitch.ini"));
    EXPECT_FALSE(QDir(PathOf("d\u00e9j\u00e0")).exists());

    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.ini"));
    ExpectWriteError(PathOf("folder.ini"));
    EXPECT_TRUE(QFileInfo(PathOf("folder.ini")).isDir());

    ExpectWriteError("/proc/wavestitch-test/Wavestitch.ini");
}

// Runs write where folder modes bind: root ignores them, so it runs as nobody in a child process.
bool WritesWithoutPrivilege(const std::function<void()>& write) {
    const auto attempt = [&] {
        try {
            write();
            return true;
        } catch (const IniWriteError&) {
            return false;
        }
    };
    if (geteuid() != 0) {
        return attempt();
    }
    const pid_t child = fork();
    if (child == 0) {
        _exit(setresuid(65534, 65534, 65534) == 0 && attempt() ? 0 : 1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(IniFileOnDiskTest, AWritableFileInAFolderThatTakesNoNewFileIsWrittenInPlace) {
    const QString path = PathOf("Wavestitch.ini");
    Store(path, "[General]\nLanguage=ChineseBig5.ini\nAd=0\n");
    ASSERT_EQ(chmod(QFile::encodeName(path), 0666), 0);
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()), 0555), 0);
    const bool written =
        WritesWithoutPrivilege([&] { IniFile(path).WriteString("General", "Language", "English.ini"); });
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()), 0700), 0);
    EXPECT_TRUE(written);
    // The shorter text leaves nothing of the old one behind.
    EXPECT_EQ(Load(path), "[General]\nLanguage=English.ini\nAd=0\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Wavestitch.ini"});
}

}  // namespace
