#include "platform/ExeFolder.h"
#include "platform/LangId.h"
#include "platform/MessageBox.h"
#include "platform/Module.h"
#include "platform/ShellOpen.h"
#include "platform/TempFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

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

TEST(FolderTest, TempAndExecutableFoldersEndInASlashAndExist) {
    const QString temp = platform::TempFolder();
    EXPECT_TRUE(temp.endsWith(QLatin1Char('/')));
    EXPECT_TRUE(QDir(temp).exists());

    const QString exe = platform::ExeFolder();
    ASSERT_TRUE(exe.endsWith(QLatin1Char('/')));
    EXPECT_TRUE(QFileInfo(exe + QStringLiteral("test_platform")).isExecutable()) << exe.toStdString();
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

TEST(ShellOpenTest, EmptyAddressOpensNothing) {
    QStringList opened;
    auto previous = platform::SetShellOpenHandler([&](const QString& address) { opened << address; });
    platform::ShellOpen(QString());
    platform::ShellOpen(QStringLiteral("https://wavestitch.example/"));
    EXPECT_EQ(opened, QStringList{QStringLiteral("https://wavestitch.example/")});
    platform::SetShellOpenHandler(previous);
}

}  // namespace
