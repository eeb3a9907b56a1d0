// SPDX-License-Identifier: GPL-3.0-or-later
#include "encode/Formoutput.h"

#include "encode/Formmetadata.h"

#include "MessageRecorder.h"
#include "platform/FileFilter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <deque>
#include <memory>

namespace {

using Format = TOutputForm::OutputFormat;

class OutputFormTest : public testing::Test {
protected:
    void SetUp() override {
        form->NextCaption = QStringLiteral("&Next >");
        form->JoinCaption = QStringLiteral("&Join");
        form->WavFilter = QStringLiteral("WAV files (*.wav)|*.wav");
        form->Mp3Filter = QStringLiteral("MP3 files (*.mp3)|*.mp3");
        form->WmaFilter = QStringLiteral("WMA files (*.wma)|*.wma");
        form->MessageCaption = QStringLiteral("Message");
        form->OverwriteQuestion = QStringLiteral("Replace it?");
        // Each run of the save dialog takes the next scripted answer, typed into the dialog as a user
        // would; none left means Cancel.
        form->SetSaveFileChooser([this](QFileDialog* dialog) {
            runs.push_back(
                {dialog->nameFilters(), dialog->directory().absolutePath(), dialog->selectedFiles()});
            if (choices.empty()) {
                return QString();
            }
            const QString name = choices.front();
            choices.pop_front();
            dialog->selectFile(name);
            return name;
        });
        form->show();
    }

    int Page() const { return form->PageControl1->currentIndex(); }
    QString Path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    void Touch(const QString& path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    void GoToFilePage(QRadioButton* format) {
        format->setChecked(true);
        while (Page() != TOutputForm::kFilePage) {
            form->ButtonNext->click();
        }
    }
    // Chooses a file with the given format checked and returns what the edit box then holds.
    QString Choose(QRadioButton* format, const QString& name) {
        format->setChecked(true);
        choices = {name};
        form->ButtonSave->click();
        return form->EditOutputFile->text();
    }

    std::unique_ptr<TOutputForm> form = std::make_unique<TOutputForm>();
    QTemporaryDir dir;
    std::deque<QString> choices;
    // What the save dialog offered at each run.
    struct Run {
        QStringList filters;
        QString folder;
        QStringList selected;
    };
    std::vector<Run> runs;
};

// The join is given the number each item names: kbps for MP3, bit/s for WMA.
TEST_F(OutputFormTest, BitratesAreTheNumbersTheItemsName) {
    for (int i = 0; i < form->ComboBoxMP3Bitrate->count(); ++i) {
        form->ComboBoxMP3Bitrate->setCurrentIndex(i);
        EXPECT_EQ(QString::number(form->Mp3BitrateKbps()) + QStringLiteral("kbps"),
                  form->ComboBoxMP3Bitrate->currentText());
    }
    for (int i = 0; i < form->ComboBoxWMABitrate->count(); ++i) {
        form->ComboBoxWMABitrate->setCurrentIndex(i);
        EXPECT_EQ(QString::number(form->WmaBitrate() / 1000) + QStringLiteral("kbps"),
                  form->ComboBoxWMABitrate->currentText());
        EXPECT_EQ(form->WmaBitrate() % 1000, 0);
    }
}

TEST_F(OutputFormTest, EveryShowingStartsFromTheDefaults) {
    for (int showing = 0; showing < 2; ++showing) {
        EXPECT_EQ(form->Format(), Format::Mp3);
        EXPECT_EQ(form->ComboBoxMP3Bitrate->currentText(), QStringLiteral("128kbps"));
        EXPECT_EQ(form->Mp3BitrateKbps(), 128);
        EXPECT_FALSE(form->Mp3Crc() || form->Mp3Copyright() || form->Mp3Original() || form->Mp3Private());
        EXPECT_EQ(form->ComboBoxWMABitrate->currentText(), QStringLiteral("96kbps"));
        EXPECT_EQ(form->WmaBitrate(), 96000);
        EXPECT_TRUE(form->OutputPath().isEmpty());
        EXPECT_EQ(Page(), TOutputForm::kFormatPage);
        // The focus is on the format that holds, not where it was left.
        EXPECT_EQ(form->focusWidget(), form->RadioMP3);

        form->RadioWMA->setChecked(true);
        form->RadioWMA->setFocus();
        form->ComboBoxMP3Bitrate->setCurrentIndex(0);
        form->ComboBoxWMABitrate->setCurrentIndex(5);
        for (QCheckBox* box : {form->CheckBoxMP3CRC, form->CheckBoxMP3Copyright, form->CheckBoxMP3Original,
                               form->CheckBoxMP3Private}) {
            box->setChecked(true);
        }
        form->EditOutputFile->setText(QStringLiteral("/tmp/x.wma"));
        form->PageControl1->setCurrentIndex(TOutputForm::kFilePage);
        form->hide();
        form->show();
    }
}

TEST_F(OutputFormTest, NavigationFollowsTheCheckedFormat) {
    const struct {
        QRadioButton* radio;
        int settingsPage;
    } cases[] = {
        {form->RadioWAV, TOutputForm::kFilePage},
        {form->RadioMP3, TOutputForm::kMp3Page},
        {form->RadioWMA, TOutputForm::kWmaPage},
    };
    for (const auto& c : cases) {
        c.radio->setChecked(true);
        EXPECT_TRUE(form->ButtonBack->isHidden());
        form->ButtonNext->click();
        EXPECT_EQ(Page(), c.settingsPage);
        EXPECT_FALSE(form->ButtonBack->isHidden());
        if (c.settingsPage != TOutputForm::kFilePage) {
            EXPECT_EQ(form->ButtonNext->text(), QStringLiteral("&Next >"));
            form->ButtonNext->click();
            EXPECT_EQ(Page(), TOutputForm::kFilePage);
        }
        form->ButtonBack->click();
        EXPECT_EQ(Page(),
                  c.settingsPage == TOutputForm::kFilePage ? TOutputForm::kFormatPage : c.settingsPage);
        if (Page() != TOutputForm::kFormatPage) {
            form->ButtonBack->click();
            EXPECT_EQ(Page(), TOutputForm::kFormatPage);
        }
        EXPECT_TRUE(form->ButtonBack->isHidden());
        EXPECT_EQ(form->ButtonNext->text(), QStringLiteral("&Next >"));
    }
}

TEST_F(OutputFormTest, JoinButtonIsDisabledUntilAFileIsChosenAndThenClosesWithOk) {
    GoToFilePage(form->RadioWAV);
    // Only the save dialog fills the path: its button has the focus, Tab passes the box by, and the
    // box does not look like one to type in.
    EXPECT_EQ(form->focusWidget(), form->ButtonSave);
    EXPECT_FALSE(form->EditOutputFile->focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(form->EditOutputFile->palette().color(QPalette::Base), form->palette().color(QPalette::Window));
    EXPECT_EQ(form->ButtonNext->text(), QStringLiteral("&Join"));
    EXPECT_FALSE(form->ButtonNext->isEnabled());

    choices = {Path("joined")};
    form->ButtonSave->click();
    EXPECT_TRUE(form->ButtonNext->isEnabled());
    EXPECT_EQ(runs.back().filters, FilterFromWindowsSyntax(form->WavFilter));

    QTimer::singleShot(0, form->ButtonNext, &QPushButton::click);
    EXPECT_EQ(form->exec(), QDialog::Accepted);
}

TEST_F(OutputFormTest, ChoiceMadeInsideTheModalRunIsKeptAfterOk) {
    QTimer::singleShot(0, form.get(), [this] {
        form->ComboBoxMP3Bitrate->setCurrentIndex(0);
        form->CheckBoxMP3Original->setChecked(true);
        GoToFilePage(form->RadioMP3);
        choices = {Path("song")};
        form->ButtonSave->click();
        form->ButtonNext->click();
    });
    EXPECT_EQ(form->exec(), QDialog::Accepted);
    EXPECT_EQ(form->Format(), Format::Mp3);
    EXPECT_EQ(form->Mp3BitrateKbps(), 32);
    EXPECT_TRUE(form->Mp3Original());
    EXPECT_FALSE(form->Mp3Crc());
    EXPECT_EQ(form->OutputPath(), Path("song.mp3"));
    EXPECT_EQ(runs.back().filters, FilterFromWindowsSyntax(form->Mp3Filter));
}

TEST_F(OutputFormTest, CancelClosesWithoutOk) {
    QTimer::singleShot(0, form->ButtonCancel, &QPushButton::click);
    EXPECT_EQ(form->exec(), QDialog::Rejected);
}

TEST_F(OutputFormTest, ExtensionOfTheFormatIsAddedUnlessAlreadyThere) {
    EXPECT_EQ(Choose(form->RadioWAV, Path("a")), Path("a.wav"));
    EXPECT_EQ(Choose(form->RadioWAV, Path("b.mp3")), Path("b.mp3.wav"));
    EXPECT_EQ(Choose(form->RadioWAV, Path("C.WAV")), Path("C.WAV"));
    EXPECT_EQ(Choose(form->RadioMP3, Path("d.Mp3")), Path("d.Mp3"));
    EXPECT_EQ(Choose(form->RadioWMA, Path("e.wav")), Path("e.wav.wma"));
    EXPECT_EQ(Choose(form->RadioWMA, Path("f.")), Path("f..wma"));
    // A dot in a folder name is no extension of the file.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("g.wav")));
    EXPECT_EQ(Choose(form->RadioWAV, Path("g.wav/h")), Path("g.wav/h.wav"));
    EXPECT_EQ(runs.back().filters, FilterFromWindowsSyntax(form->WavFilter));
    EXPECT_EQ(runs[4].filters, FilterFromWindowsSyntax(form->WmaFilter));
}

TEST_F(OutputFormTest, CancelledSaveDialogKeepsThePreviousPath) {
    Choose(form->RadioWAV, Path("first"));
    choices.clear();
    form->ButtonSave->click();
    EXPECT_EQ(form->OutputPath(), Path("first.wav"));

    // The dialog opens in the home folder, later where the last output went, also on the
    // wizard's next showing.
    form->hide();
    form->show();
    form->ButtonSave->click();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].folder, QDir::homePath());
    EXPECT_EQ(runs[2].folder, dir.path());
}

TEST_F(OutputFormTest, ExistingFileIsReplacedOnlyWhenTheUserSaysYes) {
    Touch(Path("old.wav"));
    {
        MessageRecorder yes(platform::IDYES);
        EXPECT_EQ(Choose(form->RadioWAV, Path("old")), Path("old.wav"));
        ASSERT_EQ(yes.messages.size(), 1u);
        EXPECT_EQ(yes.messages[0].text, QStringLiteral("Replace it?"));
        EXPECT_EQ(yes.messages[0].caption, QStringLiteral("Message"));
        EXPECT_EQ(yes.messages[0].flags, platform::MB_YESNOCANCEL | platform::MB_ICONQUESTION);
    }
    {
        form->EditOutputFile->clear();
        MessageRecorder cancel(platform::IDCANCEL);
        EXPECT_EQ(Choose(form->RadioWAV, Path("old.wav")), QString());
        EXPECT_EQ(runs.size(), 2u);
    }
    {
        // No opens the dialog again; the second choice is a new file.
        MessageRecorder no(platform::IDNO);
        choices = {Path("old.wav"), Path("new.wav")};
        form->ButtonSave->click();
        EXPECT_EQ(form->OutputPath(), Path("new.wav"));
        EXPECT_EQ(no.messages.size(), 1u);
        ASSERT_EQ(runs.size(), 4u);
        // It opens again beside the existing file, with no name in it.
        EXPECT_EQ(runs[3].folder, dir.path());
        EXPECT_EQ(runs[3].selected, QStringList{dir.path()});
    }
}

// The cue sheet is checked when Join is pressed: a refusal keeps the wizard open on its file page,
// an existing sheet is replaced only on Yes.
TEST_F(OutputFormTest, ACueSheetThatWouldReplaceAFileKeepsTheWizardOpen) {
    form->CueExistsQuestion = QStringLiteral("Replace %1?");
    form->CueReplacesText = QStringLiteral("%1 would replace a file.");
    const QString input = Path("book.cue");
    Touch(input);
    const struct {
        QStringList rows;
        int answer;
        const char* message;  // null: none
        bool accepted;
    } cases[] = {
        {{Path("a.mp3")}, platform::IDNO, nullptr, true},
        {{input, Path("a.mp3")}, platform::IDYES, "%1 would replace a file.", false},
        {{Path("a.mp3")}, platform::IDNO, "Replace %1?", false},
        {{Path("a.mp3")}, platform::IDYES, "Replace %1?", true},
    };
    for (const auto& c : cases) {
        form->SetJoinRows(c.rows, QString());
        form->show();
        GoToFilePage(form->RadioMP3);
        form->EditOutputFile->setText(Path("book.mp3"));
        // The first case asks for no cue sheet: nothing is checked.
        form->MetadataForm->CheckBoxCueSheet->setChecked(c.message != nullptr);
        MessageRecorder recorder(c.answer);
        form->ButtonNext->click();
        EXPECT_EQ(form->result() == QDialog::Accepted && !form->isVisible(), c.accepted);
        ASSERT_EQ(recorder.messages.size(), c.message != nullptr ? 1u : 0u);
        if (c.message != nullptr) {
            EXPECT_EQ(recorder.messages[0].text, QString::fromLatin1(c.message).arg(input));
        }
        EXPECT_EQ(form->Metadata().cueSheet ? form->CueSheetPath() : input, input);
    }
}

// Joining without re-encoding: offered only where the rows allow it, with the reason otherwise; it
// greys the encoder's choices and is chosen only for MP3 output.
TEST_F(OutputFormTest, JoiningWithoutReencodingGreysTheEncoderChoices) {
    form->SetJoinRows({Path("a.mp3"), Path("b.wav")}, QStringLiteral("MP3 only."));
    EXPECT_FALSE(form->CheckBoxMP3Copy->isEnabled());
    EXPECT_EQ(form->CheckBoxMP3Copy->toolTip(), QStringLiteral("MP3 only."));
    form->CheckBoxMP3Copy->setChecked(true);
    EXPECT_FALSE(form->Mp3CopyChosen());

    form->SetJoinRows({Path("a.mp3"), Path("b.mp3")}, QString());
    form->RadioMP3->setChecked(true);
    form->CheckBoxMP3Copy->setChecked(true);
    EXPECT_TRUE(form->Mp3CopyChosen());
    EXPECT_FALSE(form->GroupBox2->isEnabled());
    EXPECT_FALSE(form->GroupBox3->isEnabled());
    form->RadioWAV->setChecked(true);
    EXPECT_FALSE(form->Mp3CopyChosen());
    // A new showing starts from the defaults: re-encoding, no tags, chapters or cue sheet.
    form->MetadataForm->CheckBoxChapters->setChecked(true);
    form->hide();
    form->show();
    EXPECT_FALSE(form->CheckBoxMP3Copy->isChecked());
    EXPECT_TRUE(form->GroupBox2->isEnabled());
    EXPECT_FALSE(form->Metadata().chapters);
}

}  // namespace
