// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/Formabout.h"
#include "app/AudioFileRow.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "encode/Formmetadata.h"
#include "encode/Formoutput.h"
#include "i18n/Formlanguage.h"
#include "join/Formprocess.h"

#include "LanguageTestFiles.h"
#include "MessageRecorder.h"
#include "app/MainWindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

class ApplyLanguageTest : public MainWindowFixture {
protected:
    void UseLanguage(const char* fileName) {
        WriteSettings(QByteArray("[General]\nLanguage=") + fileName + "\n");
    }

    static std::array<QWidget*, 5> FiveWindows() {
        return {MainForm, AboutForm, ProcessForm, OutputForm, LanguageForm};
    }

    // A row as adding a file makes it, with raw channel count and bits per sample as given.
    static AudioFileRow* AppendRow(const QString& channels, const QString& bits) {
        AudioFileRowTexts texts;
        texts.caption = QStringLiteral("take.wav");
        texts.subItems = {"44100 Hz", "old channels", "old bits", "12 KB", "00:03",
                          "/music/",  "44100",        channels,   bits,    "3"};
        auto* row = new AudioFileRow(texts);
        MainForm->ListView1->addTopLevelItem(row);
        return row;
    }

    MessageRecorder recorder_;
};

TEST_F(ApplyLanguageTest, EveryTextReachesItsTarget) {
    WriteLanguage("A.ini", TaggedLanguage("A:"));
    UseLanguage("A.ini");
    CreateForms();
    MainForm->ApplyLanguage();
    const TMainForm& main = *MainForm;

    const struct {
        QString actual;
        const char* key;
    } texts[] = {
        {main.ButtonAdd->text(), "ToolBar.Add"},
        {main.ButtonRemove->text(), "ToolBar.Remove"},
        {main.ButtonClear->text(), "ToolBar.Clear"},
        {main.ButtonJoin->text(), "ToolBar.Join"},
        {main.ButtonLanguage->text(), "ToolBar.Language"},
        {main.ButtonAbout->text(), "ToolBar.About"},
        {main.ButtonUpdate->text(), "ToolBar.Update"},
        {main.ButtonAdd->toolTip(), "Hint.Add"},
        {main.ButtonRemove->toolTip(), "Hint.Remove"},
        {main.ButtonClear->toolTip(), "Hint.Clear"},
        {main.ButtonJoin->toolTip(), "Hint.Join"},
        {main.ButtonLanguage->toolTip(), "Hint.Language"},
        {main.ButtonAbout->toolTip(), "Hint.About"},
        {main.ButtonUpdate->toolTip(), "Hint.Update"},
        {main.ButtonUp->toolTip(), "Hint.Up"},
        {main.ButtonDown->toolTip(), "Hint.Down"},
        {main.ListView1->headerItem()->text(0), "ListView.Name"},
        {main.ListView1->headerItem()->text(1), "ListView.Frequency"},
        {main.ListView1->headerItem()->text(2), "ListView.Channels"},
        // The bits column's title is Sample; Bits is only the unit inside the cells.
        {main.ListView1->headerItem()->text(3), "ListView.Sample"},
        {main.ListView1->headerItem()->text(4), "ListView.Size"},
        {main.ListView1->headerItem()->text(5), "ListView.Time"},
        {main.ListView1->headerItem()->text(6), "ListView.Path"},
        {main.OpenDialogFilter(), "OpenDialog.Filter"},
        {OutputForm->WavFilter, "SaveDialog.WAVFilter"},
        {OutputForm->Mp3Filter, "SaveDialog.MP3Filter"},
        {OutputForm->WmaFilter, "SaveDialog.WMAFilter"},
        {ProcessForm->windowTitle(), "ProcessForm.Caption"},
        {ProcessForm->Label2->text(), "ProcessForm.Joining"},
        {ProcessForm->Label3->text(), "ProcessForm.Encoding"},
        {ProcessForm->ButtonCancel->text(), "Common.Cancel"},
        {LanguageForm->windowTitle(), "LanguageForm.Caption"},
        {LanguageForm->Label1->text(), "LanguageForm.Language"},
        {LanguageForm->ButtonOk->text(), "Common.Ok"},
        {LanguageForm->ButtonCancel->text(), "Common.Cancel"},
        {OutputForm->windowTitle(), "OutputForm.Caption"},
        {OutputForm->GroupBox1->title(), "OutputForm.OutputFormat"},
        {OutputForm->GroupBox2->title(), "OutputForm.Bitrate"},
        {OutputForm->GroupBox3->title(), "OutputForm.Sign"},
        {OutputForm->CheckBoxMP3CRC->text(), "OutputForm.CheckCRC"},
        {OutputForm->CheckBoxMP3Copyright->text(), "OutputForm.CheckCopyright"},
        {OutputForm->CheckBoxMP3Original->text(), "OutputForm.CheckOriginal"},
        {OutputForm->CheckBoxMP3Private->text(), "OutputForm.CheckPrivate"},
        {OutputForm->GroupBox4->title(), "OutputForm.Bitrate"},
        {OutputForm->GroupBox5->title(), "OutputForm.OutputFile"},
        {OutputForm->ButtonBack->text(), "OutputForm.Back"},
        {OutputForm->ButtonNext->text(), "OutputForm.Next"},
        {OutputForm->ButtonCancel->text(), "Common.Cancel"},
        {OutputForm->NextCaption, "OutputForm.Next"},
        {OutputForm->JoinCaption, "OutputForm.Join"},
        {OutputForm->MessageCaption, "Common.Message"},
        {OutputForm->OverwriteQuestion, "OutputForm.Question"},
        {OutputForm->ButtonMetadata->text(), "OutputForm.Metadata"},
        {OutputForm->CheckBoxMP3Copy->text(), "OutputForm.CopyMp3"},
        {OutputForm->CueExistsQuestion, "OutputForm.CueExists"},
        {OutputForm->CueTracksText, "OutputForm.CueTracks"},
        {OutputForm->CueReplacesText, "OutputForm.CueReplaces"},
        {OutputForm->CueNameText, "OutputForm.CueName"},
        {OutputForm->CueWriteText, "OutputForm.CueWrite"},
        {OutputForm->MetadataForm->windowTitle(), "MetadataForm.Caption"},
        {OutputForm->MetadataForm->GroupBoxTags->title(), "MetadataForm.Tags"},
        {OutputForm->MetadataForm->RadioTagsNone->text(), "MetadataForm.TagsNone"},
        {OutputForm->MetadataForm->RadioTagsFirst->text(), "MetadataForm.TagsFirst"},
        {OutputForm->MetadataForm->RadioTagsFile->text(), "MetadataForm.TagsFile"},
        {OutputForm->MetadataForm->CheckBoxChapters->text(), "MetadataForm.Chapters"},
        {OutputForm->MetadataForm->CheckBoxCueSheet->text(), "MetadataForm.CueSheet"},
        {OutputForm->MetadataForm->ButtonOk->text(), "Common.Ok"},
        {AboutForm->NoBrowserText, "Messages.NoBrowser"},
        {AboutForm->MessageCaption, "Common.Message"},
    };
    for (const auto& t : texts) {
        EXPECT_EQ(t.actual, Tagged("A:", t.key)) << t.key;
    }
    // The product title is no language text.
    EXPECT_EQ(main.windowTitle(), QStringLiteral("Verdane Wavestitch"));
}

TEST_F(ApplyLanguageTest, AFileNotInTheFolderEmptiesEveryTextAndRestoresTheDefaultFont) {
    WriteLanguage("A.ini", TaggedLanguage("A:", "A", "Courier", "12", "204"));
    UseLanguage("A.ini");
    CreateForms();
    MainForm->ApplyLanguage();
    ASSERT_EQ(MainForm->ButtonAdd->text(), Tagged("A:", "ToolBar.Add"));

    UseLanguage("Gone.ini");
    MainForm->ApplyLanguage();
    for (QWidget* window : FiveWindows()) {
        EXPECT_EQ(window->font().family(), QStringLiteral("Tahoma")) << window->objectName().toStdString();
        EXPECT_EQ(window->font().pointSize(), 8) << window->objectName().toStdString();
        EXPECT_EQ(window->property("CharSet").toInt(), 1) << window->objectName().toStdString();
    }
    for (const QString& text :
         {MainForm->ButtonAdd->text(), MainForm->ButtonUp->toolTip(),
          MainForm->ListView1->headerItem()->text(3), MainForm->OpenDialogFilter(), OutputForm->WmaFilter,
          OutputForm->JoinCaption, OutputForm->ButtonNext->text(), OutputForm->GroupBox4->title(),
          ProcessForm->Label3->text(), LanguageForm->Label1->text(), LanguageForm->windowTitle()}) {
        EXPECT_EQ(text, QString());
    }
    // Texts the design's language files lack fall back to English.
    EXPECT_EQ(OutputForm->ButtonMetadata->text(), QStringLiteral("&Tags and chapters..."));
    EXPECT_EQ(OutputForm->MetadataForm->RadioTagsFirst->text(),
              QStringLiteral("From the &first file that has them"));
}

TEST_F(ApplyLanguageTest, FontKeysFallBackWhenTheyAreNoWholeNumbers) {
    const struct {
        const char* fontSize;
        const char* charSet;
        int pointSize;
        int charSetNumber;
    } cases[] = {
        {"12", "204", 12, 204}, {"abc", "134", 8, 134},   {"10", "", 10, 1},
        {"", "x1", 8, 1},       {"9pt", " 128 ", 8, 128},
    };
    CreateForms();
    for (const auto& c : cases) {
        WriteLanguage("A.ini", TaggedLanguage("A:", "A", "Noto Sans", c.fontSize, c.charSet));
        UseLanguage("A.ini");
        MainForm->ApplyLanguage();
        for (QWidget* window : FiveWindows()) {
            SCOPED_TRACE(window->objectName().toStdString() + " FontSize=" + c.fontSize +
                         " CharSet=" + c.charSet);
            EXPECT_EQ(window->font().family(), QStringLiteral("Noto Sans"));
            EXPECT_EQ(window->font().pointSize(), c.pointSize);
            EXPECT_EQ(window->property("CharSet").toInt(), c.charSetNumber);
        }
    }
}

TEST_F(ApplyLanguageTest, RowCellsAreRebuiltFromTheRawNumbers) {
    WriteLanguage("A.ini", TaggedLanguage("A:"));
    UseLanguage("A.ini");
    CreateForms();
    const struct {
        const char* channels;
        const char* bits;
        const char* channelsKey;
    } rows[] = {
        {"1", "8", "ListView.Mono"},
        {"2", "16", "ListView.Stereo"},
        {"6", "24", "ListView.Stereo"},
        {"01", "16", "ListView.Stereo"},  // only a raw count of exactly "1" is mono
    };
    for (const auto& r : rows) {
        AppendRow(QLatin1String(r.channels), QLatin1String(r.bits));
    }
    MainForm->ApplyLanguage();
    for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) {
        const AudioFileRow* row = MainForm->Row(i);
        EXPECT_EQ(row->ChannelsText(), Tagged("A:", rows[i].channelsKey)) << i;
        EXPECT_EQ(row->BitsText(), QLatin1String(rows[i].bits) + ' ' + Tagged("A:", "ListView.Bits")) << i;
        EXPECT_EQ(row->SampleRateText(), QStringLiteral("44100 Hz"));
    }
}

TEST_F(ApplyLanguageTest, WizardButtonFollowsItsPageAfterALanguageChange) {
    WriteLanguage("A.ini", TaggedLanguage("A:"));
    WriteLanguage("B.ini", TaggedLanguage("B:"));
    UseLanguage("A.ini");
    CreateForms();
    MainForm->ApplyLanguage();
    OutputForm->PageControl1->setCurrentIndex(TOutputForm::kFilePage);
    ASSERT_EQ(OutputForm->ButtonNext->text(), Tagged("A:", "OutputForm.Join"));

    UseLanguage("B.ini");
    MainForm->ApplyLanguage();
    EXPECT_EQ(OutputForm->ButtonNext->text(), Tagged("B:", "OutputForm.Join"));
    OutputForm->PageControl1->setCurrentIndex(TOutputForm::kMp3Page);
    EXPECT_EQ(OutputForm->ButtonNext->text(), Tagged("B:", "OutputForm.Next"));
}

TEST_F(ApplyLanguageTest, LanguageThenCancelStillAppliesAndRefreshesTheStatusBar) {
    WriteLanguage("A.ini", TaggedLanguage("A:", "Alpha"));
    WriteLanguage("B.ini", TaggedLanguage("B:", "Beta"));
    UseLanguage("A.ini");
    CreateForms();
    MainForm->ApplyLanguage();
    // The current file changes behind the program's back; nothing shows it yet.
    WriteLanguage("A.ini", TaggedLanguage("A2:", "Alpha"));
    const QByteArray settings = ReadFile(appDir_ + QStringLiteral("Wavestitch.ini"));

    QTimer::singleShot(0, LanguageForm, [] {
        LanguageForm->ComboBoxLanguage->setCurrentIndex(1);
        LanguageForm->ButtonCancel->click();
    });
    MainForm->ButtonLanguage->click();

    EXPECT_EQ(LanguageForm->result(), QDialog::Rejected);
    EXPECT_EQ(ReadFile(appDir_ + QStringLiteral("Wavestitch.ini")), settings);
    EXPECT_EQ(MainForm->ButtonAdd->text(), Tagged("A2:", "ToolBar.Add"));
    EXPECT_EQ(MainForm->StatusPanel(0)->text(), "0 " + Tagged("A2:", "StatusBar.Files"));
    EXPECT_EQ(MainForm->StatusPanel(1)->text(), Tagged("A2:", "StatusBar.Time") + " 00:00:00");
    EXPECT_TRUE(recorder_.messages.empty());
}

TEST_F(ApplyLanguageTest, LanguageThenOkSwitchesAndRewritesOnlyTheChannelAndBitsCells) {
    WriteLanguage("A.ini", TaggedLanguage("A:", "Alpha"));
    WriteLanguage("B.ini", TaggedLanguage("B:", "Beta"));
    UseLanguage("A.ini");
    CreateForms();
    MainForm->ApplyLanguage();
    AppendRow(QStringLiteral("6"), QStringLiteral("24"));
    MainForm->ApplyLanguage();
    const AudioFileRowTexts before = MainForm->Row(0)->Texts();

    QTimer::singleShot(0, LanguageForm, [] {
        LanguageForm->ComboBoxLanguage->setCurrentIndex(LanguageForm->ComboBoxLanguage->findText("Beta"));
        LanguageForm->ButtonOk->click();
    });
    MainForm->ButtonLanguage->click();

    EXPECT_EQ(LanguageForm->result(), QDialog::Accepted);
    EXPECT_NE(ReadFile(appDir_ + QStringLiteral("Wavestitch.ini")).indexOf("Language=B.ini"), -1);
    EXPECT_EQ(MainForm->ButtonJoin->text(), Tagged("B:", "ToolBar.Join"));
    EXPECT_EQ(LanguageForm->ButtonOk->text(), Tagged("B:", "Common.Ok"));
    EXPECT_EQ(MainForm->StatusPanel(0)->text(), "1 " + Tagged("B:", "StatusBar.Files"));

    const AudioFileRowTexts after = MainForm->Row(0)->Texts();
    EXPECT_EQ(after.subItems[1], Tagged("B:", "ListView.Stereo"));
    EXPECT_EQ(after.subItems[2], "24 " + Tagged("B:", "ListView.Bits"));
    EXPECT_EQ(after.caption, before.caption);
    for (const int unchanged : {0, 3, 4, 5, 6, 7, 8, 9}) {
        EXPECT_EQ(after.subItems[unchanged], before.subItems[unchanged]) << unchanged;
    }
}

TEST_F(ApplyLanguageTest, ASettingsFileThatCannotBeWrittenIsReportedOnceThroughTheLanguageButton) {
    // A folder in place of the settings file cannot be written, even by root.
    ASSERT_TRUE(QDir().mkpath(appDir_ + QStringLiteral("Wavestitch.ini")));
    WriteLanguage("English.ini", TaggedLanguage("E:", "English"));
    CreateForms();

    QTimer::singleShot(0, LanguageForm, [] { LanguageForm->ButtonOk->click(); });
    MainForm->ButtonLanguage->click();

    // The dialog's own write failed and was shown; the choice that follows fails the same way
    // and is not shown again.
    ASSERT_EQ(recorder_.messages.size(), 1u);
    EXPECT_EQ(recorder_.messages[0].text, "Unable to write to " + appDir_ + "Wavestitch.ini");
    EXPECT_EQ(recorder_.messages[0].flags, 0x10u);
    EXPECT_EQ(LanguageForm->result(), QDialog::Accepted);
    EXPECT_EQ(MainForm->ButtonAdd->text(), Tagged("E:", "ToolBar.Add"));

    MainForm->FormActivate();
    EXPECT_EQ(recorder_.messages.size(), 1u);
}

}  // namespace
