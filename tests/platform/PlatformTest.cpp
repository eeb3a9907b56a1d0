// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ExeFolder.h"
#include "platform/FilePath.h"
#include "platform/LangId.h"
#include "platform/MessageBox.h"
#include "platform/Module.h"
#include "platform/ShellOpen.h"
#include "platform/TempFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(MessageBoxTest, HandlerSeesTextCaptionFlagsAndAnswers) {
    QString seenText, seenCaption;
    unsigned seenFlags = 0;
    auto previous =
        platform::SetMessageBoxHandler([&](const QString& text, const QString& caption, unsigned flags) {
            seenText = text;
            seenCaption = caption;
            seenFlags = flags;
            return platform::IDNO;
        });
    EXPECT_EQ(platform::MessageBox(QStringLiteral("Overwrite?"), QStringLiteral("Message"),
                                   platform::MB_YESNOCANCEL | platform::MB_ICONQUESTION),
              platform::IDNO);
    EXPECT_EQ(seenText, QStringLiteral("Overwrite?"));
    EXPECT_EQ(seenCaption, QStringLiteral("Message"));
    EXPECT_EQ(seenFlags, 0x23u);

    // The standard error report: message as text, the application title as caption, an error icon.
    platform::ReportException(QStringLiteral("Unable to write to /x/Wavestitch.ini"));
    EXPECT_EQ(seenText, QStringLiteral("Unable to write to /x/Wavestitch.ini"));
    EXPECT_EQ(seenCaption, platform::ApplicationTitle());
    EXPECT_EQ(seenFlags, platform::MB_ICONERROR);

    platform::SetMessageBoxHandler(previous);
}

TEST(MessageBoxTest, WithoutHandlerAQuestionIsCancelledAndANoteAccepted) {
    auto previous = platform::SetMessageBoxHandler({});
    testing::internal::CaptureStderr();
    EXPECT_EQ(
        platform::MessageBox(QStringLiteral("Replace?"), QStringLiteral("Message"), platform::MB_YESNOCANCEL),
        platform::IDCANCEL);
    EXPECT_EQ(platform::MessageBox(QStringLiteral("Done"), QStringLiteral("Message"), 0x1040),
              platform::IDOK);
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_NE(output.find("Message: Replace?"), std::string::npos);
    EXPECT_NE(output.find("Message: Done"), std::string::npos);
    platform::SetMessageBoxHandler(previous);
}

TEST(LangIdTest, LocaleNamesMapToWindowsIdentifiers) {
    const struct {
        const char* locale;
        std::uint16_t id;
    } cases[] = {
        {"zh_CN.UTF-8", 0x0804}, {"zh_SG", 0x1004},       {"zh_TW.Big5", 0x0404},
        {"zh_HK.UTF-8", 0x0C04}, {"zh_MO", 0x1404},       {"zh_Hant_TW", 0x0404},
        {"zh", 0x0004},          {"en_US.UTF-8", 0x0009}, {"de_DE@euro", 0x0007},
        {"fr_CA", 0x000C},       {"ja_JP.eucJP", 0x0011}, {"ru_RU.KOI8-R", 0x0019},
        {"C", 0x0409},           {"POSIX", 0x0409},       {"", 0x0409},
        {"xx_YY", 0x0409},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::LangIdFromLocaleName(QString::fromLatin1(c.locale)), c.id) << c.locale;
    }
}

class EnvironmentTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char* value = std::getenv(name);
            saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
    }
    void TearDown() override {
        const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
        for (size_t i = 0; i < saved_.size(); ++i) {
            if (saved_[i]) {
                setenv(names[i], saved_[i]->c_str(), 1);
            } else {
                unsetenv(names[i]);
            }
        }
    }
    std::vector<std::optional<std::string>> saved_;
};

TEST_F(EnvironmentTest, FirstSetVariableDecidesAndEmptyOnesAreSkipped) {
    setenv("LANG", "zh_TW.UTF-8", 1);
    EXPECT_EQ(platform::UserDefaultLangId(), 0x0404);
    setenv("LC_MESSAGES", "zh_CN.UTF-8", 1);
    EXPECT_EQ(platform::UserDefaultLangId(), 0x0804);
    setenv("LC_ALL", "", 1);
    EXPECT_EQ(platform::UserDefaultLangId(), 0x0804);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(platform::UserDefaultLangId(), 0x0007);

    auto previous = platform::SetUserDefaultLangIdProvider([] { return std::uint16_t{0x1404}; });
    EXPECT_EQ(platform::UserDefaultLangId(), 0x1404);
    platform::SetUserDefaultLangIdProvider(previous);
}

TEST(FolderTest, ExecutableFolderEndsInASlash) {
    const QString exe = platform::ExeFolder();
    ASSERT_TRUE(exe.endsWith(QLatin1Char('/')));
    EXPECT_TRUE(QFileInfo(exe + QStringLiteral("test_platform")).isExecutable()) << exe.toStdString();
}

bool IsPrivateFolder(const QString& path) {
    struct stat info {};
    return lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == geteuid() && (info.st_mode & 0777) == 0700;
}

// The temporary files have fixed names, so a folder that another user could enter or replace by a
// link must never be taken for the user's own.
TEST(FolderTest, TheTemporaryFolderIsPrivateToTheUser) {
    QTemporaryDir elsewhere;
    const struct {
        const char* name;
        std::function<void(const QString&)> plant;  // what was left at the usual name
        bool taken;
    } cases[] = {
        {"nothing", [](const QString&) {}, false},
        {"our own folder", [](const QString& at) { mkdir(QFile::encodeName(at), 0700); }, false},
        {"a link to a folder of ours", [&](const QString& at) { QFile::link(elsewhere.path(), at); }, true},
        {"a file", [](const QString& at) { QFile(at).open(QIODevice::WriteOnly); }, true},
        {"a folder others may enter", [](const QString& at) { mkdir(QFile::encodeName(at), 0755); }, true},
        {"another user's folder",
         [](const QString& at) {
             mkdir(QFile::encodeName(at), 0700);
             // Only root can give a folder away; anyone else sees the first case again.
             if (geteuid() == 0) {
                 ASSERT_EQ(chown(QFile::encodeName(at), 65534, 65534), 0);
             }
         },
         geteuid() == 0},
    };
    const QString start = QDir::tempPath();
    const QByteArray previousTmpDir = qgetenv("TMPDIR");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir tmp(start + QStringLiteral("/wavestitch-test-XXXXXX"));
        ASSERT_TRUE(tmp.isValid());
        qputenv("TMPDIR", tmp.path().toLocal8Bit());
        const QString usual = tmp.path() + QStringLiteral("/wavestitch-%1").arg(geteuid());
        c.plant(usual);
        const QString folder = platform::TempFolder();
        EXPECT_EQ(folder == usual + QLatin1Char('/'), !c.taken) << folder.toStdString();
        EXPECT_TRUE(folder.startsWith(usual)) << folder.toStdString();
        EXPECT_TRUE(IsPrivateFolder(folder));
        EXPECT_EQ(platform::TempFolder(), folder);  // every caller in a run gets the same folder
    }
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
    if (previousTmpDir.isEmpty()) {
        qunsetenv("TMPDIR");
    } else {
        qputenv("TMPDIR", previousTmpDir);
    }
}

// A name that is not UTF-8 must reach the system as the same bytes, and show in a readable form.
TEST(FilePathTest, AnyBytesComeBackAsTheyWereAndShowEscaped) {
    // Every byte alone, as a sequence's continuation and as its truncation.
    for (const QByteArray lead : {"", "\xC3", "\xE2\x82", "\xF0\x9F\x8E", "\xED"}) {
        for (int b = 0; b < 256; ++b) {
            const QByteArray name = lead + static_cast<char>(b) + "x";
            EXPECT_EQ(platform::EncodeName(platform::DecodeName(name)), name) << name.toHex().constData();
        }
    }
    const struct {
        QByteArray name;
        const char* shown;  // UTF-8
    } cases[] = {
        {"caf\xC3\xA9 \xF0\x9F\x8E\xB5.wav", "caf\xC3\xA9 \xF0\x9F\x8E\xB5.wav"},
        {"caf\xE9.wav", R"(caf\xE9.wav)"},
        {"\xC0\xAF\xE2\x82.", R"(\xC0\xAF\xE2\x82.)"},                        // overlong, cut short
        {"\xED\xB3\xA9\xF4\x90\x80\x80", R"(\xED\xB3\xA9\xF4\x90\x80\x80)"},  // a surrogate, beyond U+10FFFF
    };
    for (const auto& c : cases) {
        const QString decoded = platform::DecodeName(c.name);
        EXPECT_EQ(platform::ShownName(decoded), QString::fromUtf8(c.shown));
        EXPECT_EQ(platform::EncodeName(decoded), c.name);
    }
}

TEST(ModuleTest, LoadsLooksUpAndReportsFailures) {
    platform::Module math(QStringLiteral("libm.so.6"));
    ASSERT_TRUE(math.IsLoaded()) << math.Error().toStdString();
    using Cosine = double (*)(double);
    const auto cosine = math.Lookup<Cosine>("cos");
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(math.Symbol("no_such_symbol_here"), nullptr);

    platform::Module moved(std::move(math));
    EXPECT_TRUE(moved.IsLoaded());
    EXPECT_FALSE(math.IsLoaded());  // NOLINT(bugprone-use-after-move): the moved-from state is what is tested
    moved.Free();
    EXPECT_EQ(moved.Symbol("cos"), nullptr);

    platform::Module missing(QStringLiteral("/nonexistent/lame_enc.so"));
    EXPECT_FALSE(missing.IsLoaded());
    EXPECT_FALSE(missing.Error().isEmpty());

    // An empty name must not hand back the program itself.
    platform::Module empty(QString{});
    EXPECT_FALSE(empty.IsLoaded());
    EXPECT_EQ(empty.Symbol("main"), nullptr);
}

// The caller tells the user only when an address was given and nothing took it.
TEST(ShellOpenTest, EmptyAddressOpensNothingAndARefusedOneFails) {
    QStringList opened;
    auto previous = platform::SetShellOpenHandler([&](const QString& address) {
        opened << address;
        return false;
    });
    EXPECT_TRUE(platform::ShellOpen(QString()));
    EXPECT_FALSE(platform::ShellOpen(QStringLiteral("https://wavestitch.example/")));
    EXPECT_EQ(opened, QStringList{QStringLiteral("https://wavestitch.example/")});
    platform::SetShellOpenHandler(previous);
}

}  // namespace
