// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Formmain.h"
#include "app/Startup.h"
#include "i18n/Formlanguage.h"
#include "platform/ExeFolder.h"

#include "MessageRecorder.h"
#include "app/MainWindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class LanguageFormTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        CreateForms();
    }

    void WriteNamed(const QString& fileName, const QByteArray& displayName) {
        WriteLanguage(fileName, "[LanguageProperty]\nName=" + displayName + "\n");
    }

    QStringList Items() const {
        QStringList items;
        for (int i = 0; i < LanguageForm->ComboBoxLanguage->count(); ++i) {
            items << LanguageForm->ComboBoxLanguage->itemText(i);
        }
        return items;
    }

    QByteArray Settings() const { return ReadFile(appDir_ + QStringLiteral("Wavestitch.ini")); }

    // Shows the dialog modally, lets pick choose and press a button, and returns the result.
    static int Run(std::function<void()> pick) {
        QTimer::singleShot(0, LanguageForm, std::move(pick));
        return LanguageForm->exec();
    }

    MessageRecorder recorder_;
};

TEST_F(LanguageFormTest, ListsDisplayNamesInFileOrderAndSelectsTheRecordedFileWithoutRegardToCase) {
    WriteNamed("b.ini", "Beta");
    WriteNamed("A.ini", "Alpha");
    WriteLanguage("c.ini", "[ToolBar]\nAdd=&Add\n");  // no Name: listed as an empty item
    WriteNamed("d.ini", "Alpha");                     // a repeated name is listed all the same
    ASSERT_TRUE(QDir().mkpath(appDir_ + QStringLiteral("WSLanguage/x.ini")));
    WriteSettings("[General]\nLanguage= \tB.INI \n");

    EXPECT_EQ(Run([] { LanguageForm->ButtonCancel->click(); }), QDialog::Rejected);
    EXPECT_EQ(Items(), (QStringList{"Alpha", "Beta", "", "Alpha"}));
    EXPECT_EQ(LanguageForm->ComboBoxLanguage->currentIndex(), 1);
}

TEST_F(LanguageFormTest, ARecordedFileNotInTheFolderSelectsNothingAndOkRecordsTheEmptyChoice) {
    WriteNamed("English.ini", "English");
    WriteSettings("[General]\nLanguage=Klingon.ini\n");

    EXPECT_EQ(Run([] {
                  EXPECT_EQ(LanguageForm->ComboBoxLanguage->currentIndex(), -1);
                  LanguageForm->ButtonOk->click();
              }),
              QDialog::Accepted);
    EXPECT_EQ(Settings(), QByteArray("[General]\nLanguage=\n"));
    EXPECT_TRUE(recorder_.messages.empty());
}

TEST_F(LanguageFormTest, AnItemWithoutANameCountsAsChoosingNothing) {
    WriteNamed("English.ini", "English");
    WriteLanguage("Nameless.ini", "[ToolBar]\nAdd=&Add\n");
    WriteSettings("[General]\nLanguage=English.ini\n");

    Run([] {
        LanguageForm->ComboBoxLanguage->setCurrentIndex(1);
        LanguageForm->ButtonOk->click();
    });
    EXPECT_EQ(Settings(), QByteArray("[General]\nLanguage=\n"));
}

TEST_F(LanguageFormTest, TwoFilesWithOneNameRecordTheFirstInFileOrder) {
    WriteNamed("b.ini", "Deutsch");
    WriteNamed("a.ini", "DEUTSCH");
    WriteNamed("c.ini", "Français");

    for (const int picked : {0, 1}) {
        Run([picked] {
            LanguageForm->ComboBoxLanguage->setCurrentIndex(picked);
            LanguageForm->ButtonOk->click();
        });
        EXPECT_EQ(Settings(), QByteArray("[General]\nLanguage=a.ini\n")) << picked;
    }
    Run([] {
        LanguageForm->ComboBoxLanguage->setCurrentIndex(2);
        LanguageForm->ButtonOk->click();
    });
    EXPECT_EQ(Settings(), QByteArray("[General]\nLanguage=c.ini\n"));
}

TEST_F(LanguageFormTest, CancelAndTheCloseBoxWriteNothing) {
    WriteNamed("English.ini", "English");
    WriteNamed("German.ini", "Deutsch");
    const QByteArray settings = "; mine\n[General]\nLanguage=English.ini\nAd=0\n";
    WriteSettings(settings);

    EXPECT_EQ(Run([] {
                  LanguageForm->ComboBoxLanguage->setCurrentIndex(1);
                  LanguageForm->ButtonCancel->click();
              }),
              QDialog::Rejected);
    EXPECT_EQ(Run([] {
                  LanguageForm->ComboBoxLanguage->setCurrentIndex(1);
                  LanguageForm->close();
              }),
              QDialog::Rejected);
    EXPECT_EQ(Settings(), settings);
}

TEST_F(LanguageFormTest, EveryShowingReadsTheFolderAndTheSettingsAgain) {
    WriteNamed("English.ini", "English");
    WriteSettings("[General]\nLanguage=English.ini\n");
    Run([] { LanguageForm->ButtonCancel->click(); });
    ASSERT_EQ(Items(), QStringList{"English"});

    WriteNamed("German.ini", "Deutsch");
    WriteSettings("[General]\nLanguage=German.ini\n");
    Run([] { LanguageForm->ButtonCancel->click(); });
    EXPECT_EQ(Items(), (QStringList{"English", "Deutsch"}));
    EXPECT_EQ(LanguageForm->ComboBoxLanguage->currentText(), QStringLiteral("Deutsch"));

    // The folder comes from the executable's path each time, not from the main window's record.
    QTemporaryDir elsewhere;
    const QString otherDir = elsewhere.path() + QLatin1Char('/');
    WriteFile(otherDir + QStringLiteral("WSLanguage/Polish.ini"), "[LanguageProperty]\nName=Polski\n");
    platform::SetExeFolderForTesting(otherDir);
    Run([] { LanguageForm->ButtonOk->click(); });
    EXPECT_EQ(Items(), QStringList{"Polski"});
    EXPECT_EQ(MainForm->AppDir, appDir_);
    EXPECT_EQ(ReadFile(otherDir + QStringLiteral("Wavestitch.ini")), QByteArray("[General]\nLanguage=\n"));
}

TEST_F(LanguageFormTest, ASettingsFileThatCannotBeWrittenIsReportedAndTheDialogClosesAsForOk) {
    WriteNamed("English.ini", "English");
    ASSERT_TRUE(QDir().mkpath(appDir_ + QStringLiteral("Wavestitch.ini")));

    EXPECT_EQ(Run([] {
                  LanguageForm->ComboBoxLanguage->setCurrentIndex(0);
                  LanguageForm->ButtonOk->click();
              }),
              QDialog::Accepted);
    ASSERT_EQ(recorder_.messages.size(), 1u);
    EXPECT_EQ(recorder_.messages[0].text, "Unable to write to " + appDir_ + "Wavestitch.ini");
    EXPECT_EQ(recorder_.messages[0].caption, QStringLiteral("Wavestitch"));
    EXPECT_EQ(recorder_.messages[0].flags, 0x10u);
    EXPECT_TRUE(LanguageForm->SettingsWriteFailed());

    // The next showing starts afresh.
    Run([] { LanguageForm->ButtonCancel->click(); });
    EXPECT_FALSE(LanguageForm->SettingsWriteFailed());
}

}  // namespace
