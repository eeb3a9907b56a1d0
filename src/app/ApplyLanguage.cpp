// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/Formabout.h"
#include "app/AudioFileRow.h"
#include "app/Formmain.h"
#include "encode/Formmetadata.h"
#include "encode/Formoutput.h"
#include "i18n/Formlanguage.h"
#include "join/Formprocess.h"
#include "join/Mp3Copy.h"
#include "platform/Accessibility.h"
#include "platform/TextScale.h"

#include <QCheckBox>
#include <QFont>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QTreeWidget>

#include <array>

namespace {

// A whole number, or def when the text is not one.
int ToInt(const QString& text, int def) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : def;
}

// The five windows in the order each font property is applied to them.
std::array<QWidget*, 5> FiveWindows() {
    return {MainForm, AboutForm, ProcessForm, OutputForm, LanguageForm};
}

}  // namespace

void TMainForm::ApplyLanguage() {
    OpenLanguageFile();

    // Controls with a font of their own keep it; the rest follow their window.
    const QString fontName = LanguageText(QStringLiteral("LanguageProperty"), QStringLiteral("FontName"),
                                          QStringLiteral("Tahoma"));
    const int fontSize = ToInt(
        LanguageText(QStringLiteral("LanguageProperty"), QStringLiteral("FontSize"), QStringLiteral("8")), 8);
    for (QWidget* window : FiveWindows()) {
        if (window != nullptr) {
            QFont font = window->font();
            font.setFamily(fontName);
            font.setPointSizeF(platform::ScaledPointSize(fontSize > 0 ? fontSize : 8));
            window->setFont(font);
        }
    }
    FitStatusBarToFont();
    // CharSet chose the code page the texts were decoded from, so Qt needs nothing more to render
    // them; the number is kept on each window for whoever needs to know what the file was written for.
    const int charSet = ToInt(
        LanguageText(QStringLiteral("LanguageProperty"), QStringLiteral("CharSet"), QStringLiteral("1")), 1);
    for (QWidget* window : FiveWindows()) {
        if (window != nullptr) {
            window->setProperty("CharSet", charSet);
        }
    }

    const QString toolBar = QStringLiteral("ToolBar");
    const QString hint = QStringLiteral("Hint");
    const struct {
        QToolButton* button;
        const char* key;
    } buttons[] = {
        {ButtonAdd, "Add"},       {ButtonRemove, "Remove"},     {ButtonClear, "Clear"},
        {ButtonJoin, "Join"},     {ButtonLanguage, "Language"}, {ButtonAbout, "About"},
        {ButtonUpdate, "Update"},
    };
    for (const auto& b : buttons) {
        b.button->setText(LanguageText(toolBar, QLatin1String(b.key), QString()));
    }
    for (const auto& b : buttons) {
        b.button->setToolTip(LanguageText(hint, QLatin1String(b.key), QString()));
    }
    ButtonUp->setToolTip(LanguageText(hint, QStringLiteral("Up"), QString()));
    ButtonDown->setToolTip(LanguageText(hint, QStringLiteral("Down"), QString()));
    ApplyListMenuTexts();
    // The order buttons show only arrows: they are named as the list's menu names their commands.
    ButtonUp->setAccessibleName(platform::NameOfCaption(ActionUp->text()));
    ButtonDown->setAccessibleName(platform::NameOfCaption(ActionDown->text()));
    CppWebBrowser1->setAccessibleDescription(
        LanguageTextOr("Hint", "Banner", "Open the Wavestitch home page"));

    const char* const columnKeys[] = {"Name", "Frequency", "Channels", "Sample", "Size", "Time", "Path"};
    QTreeWidgetItem* header = ListView1->headerItem();
    for (int i = 0; i < static_cast<int>(std::size(columnKeys)); ++i) {
        header->setText(i, LanguageText(QStringLiteral("ListView"), QLatin1String(columnKeys[i]), QString()));
    }
    // The first column names what the list holds.
    ListView1->setAccessibleName(header->text(0));

    // The channel and bits cells of every row are made of language words; the numbers behind them stay.
    const RowWords words = CurrentRowWords();
    for (int i = 0; i < RowCount(); ++i) {
        AudioFileRow* row = Row(i);
        row->SetSubItem(1, ChannelsText(row->SubItem(7), words));
        row->SetSubItem(2, BitsText(row->SubItem(8), words));
    }

    SetOpenDialogFilter(LanguageText(QStringLiteral("OpenDialog"), QStringLiteral("Filter"), QString()));
    const auto text = [this](const char* section, const char* key) {
        return LanguageText(QLatin1String(section), QLatin1String(key), QString());
    };
    if (OutputForm != nullptr) {
        OutputForm->WavFilter = text("SaveDialog", "WAVFilter");
        OutputForm->Mp3Filter = text("SaveDialog", "MP3Filter");
        OutputForm->WmaFilter = text("SaveDialog", "WMAFilter");
    }

    if (AboutForm != nullptr) {
        AboutForm->setWindowTitle(text("AboutForm", "Caption"));
        AboutForm->Label2->setText(text("AboutForm", "Version"));
        AboutForm->Label4->setText(text("AboutForm", "HomePage"));
        // Label6 and Label7 are rebuilt from these at the dialog's next activation.
        AboutForm->CopyrightText = text("AboutForm", "Copyright");
        AboutForm->ReservedText = text("AboutForm", "Reserved");
        AboutForm->LabelLicence->setText(LanguageTextOr("AboutForm", "Licence", TAboutForm::kEnglishLicence));
        AboutForm->NoBrowserText = NoBrowserText();
        AboutForm->MessageCaption = text("Common", "Message");
        AboutForm->ButtonOk->setText(text("Common", "Ok"));
        AboutForm->Image1->setAccessibleName(LanguageTextOr("AboutForm", "Logo", "Wavestitch logo"));
        AboutForm->SizeLabelsToText();
    }

    if (ProcessForm != nullptr) {
        ProcessForm->setWindowTitle(text("ProcessForm", "Caption"));
        ProcessForm->Label2->setText(text("ProcessForm", "Joining"));
        ProcessForm->Label3->setText(text("ProcessForm", "Encoding"));
        ProcessForm->ButtonCancel->setText(text("Common", "Cancel"));
        platform::NameBuddiesByTheirLabels(ProcessForm);
        ProcessForm->SizeLabelsToText();
    }
    if (LanguageForm != nullptr) {
        LanguageForm->setWindowTitle(text("LanguageForm", "Caption"));
        LanguageForm->Label1->setText(text("LanguageForm", "Language"));
        LanguageForm->ButtonOk->setText(text("Common", "Ok"));
        LanguageForm->ButtonCancel->setText(text("Common", "Cancel"));
        platform::NameBuddiesByTheirLabels(LanguageForm);
    }
    if (OutputForm != nullptr) {
        TOutputForm& wizard = *OutputForm;
        wizard.setWindowTitle(text("OutputForm", "Caption"));
        wizard.GroupBox1->setTitle(text("OutputForm", "OutputFormat"));
        wizard.GroupBox2->setTitle(text("OutputForm", "Bitrate"));
        wizard.GroupBox3->setTitle(text("OutputForm", "Sign"));
        wizard.CheckBoxMP3CRC->setText(text("OutputForm", "CheckCRC"));
        wizard.CheckBoxMP3Copyright->setText(text("OutputForm", "CheckCopyright"));
        wizard.CheckBoxMP3Original->setText(text("OutputForm", "CheckOriginal"));
        wizard.CheckBoxMP3Private->setText(text("OutputForm", "CheckPrivate"));
        wizard.GroupBox4->setTitle(text("OutputForm", "Bitrate"));
        wizard.GroupBox5->setTitle(text("OutputForm", "OutputFile"));
        wizard.ButtonBack->setText(text("OutputForm", "Back"));
        wizard.ButtonNext->setText(text("OutputForm", "Next"));
        wizard.ButtonCancel->setText(text("Common", "Cancel"));
        wizard.NextCaption = text("OutputForm", "Next");
        wizard.JoinCaption = text("OutputForm", "Join");
        wizard.MessageCaption = text("Common", "Message");
        wizard.OverwriteQuestion = text("OutputForm", "Question");
        ApplyWizardExtraTexts();
        // A wizard left on its file page shows Join there, not Next.
        wizard.UpdateWizardButtons();
    }
}

void TMainForm::ApplyWizardExtraTexts() {
    TOutputForm& wizard = *OutputForm;
    const auto text = [this](const char* section, const char* key, const char* english) {
        return LanguageTextOr(section, key, english);
    };
    wizard.CheckBoxMP3Copy->setText(text("OutputForm", "CopyMp3", "Join &without re-encoding"));
    wizard.ButtonMetadata->setText(text("OutputForm", "Metadata", "&Tags and chapters..."));
    wizard.ButtonSave->setAccessibleName(text("OutputForm", "Browse", "Browse..."));
    wizard.ButtonSave->setToolTip(text("Hint", "Browse", "Choose the output file"));
    wizard.CueExistsQuestion =
        text("OutputForm", "CueExists", "The cue sheet %1 already exists. Do you want to replace it?");
    wizard.CueTracksText = text("OutputForm", "CueTracks",
                                "A cue sheet holds at most %1 tracks, one per file; the list has %2 files.");
    wizard.CueReplacesText =
        text("OutputForm", "CueReplaces",
             "The cue sheet %1 would replace the output file or one of the files joined.");
    wizard.CueNameText =
        text("OutputForm", "CueName",
             "A cue sheet cannot name the output file %1: its name holds a double quote or a "
             "line break.");
    wizard.CueWriteText = text("OutputForm", "CueWrite", "The cue sheet %1 cannot be written: %2");

    TMetadataForm& metadata = *wizard.MetadataForm;
    metadata.setWindowTitle(text("MetadataForm", "Caption", "Tags and chapters"));
    metadata.GroupBoxTags->setTitle(text("MetadataForm", "Tags", "Tags"));
    metadata.RadioTagsNone->setText(text("MetadataForm", "TagsNone", "&None"));
    metadata.RadioTagsFirst->setText(text("MetadataForm", "TagsFirst", "From the &first file that has them"));
    metadata.RadioTagsFile->setText(text("MetadataForm", "TagsFile", "From &one file:"));
    metadata.CheckBoxChapters->setText(text("MetadataForm", "Chapters", "&Chapter marks, one per file"));
    metadata.CheckBoxCueSheet->setText(text("MetadataForm", "CueSheet", "C&ue sheet beside the output file"));
    metadata.ButtonOk->setText(text("Common", "Ok", "OK"));
    metadata.ButtonCancel->setText(text("Common", "Cancel", "Cancel"));
}

QString TMainForm::CopyRefusal(const join::JoinRows& rows) const {
    switch (join::CopyFitOf(rows)) {
        case join::CopyFit::Fits:
            break;
        case join::CopyFit::NotMp3:
            return LanguageTextOr("OutputForm", "CopyNotMp3",
                                  "Only MP3 files can be joined without re-encoding.");
        case join::CopyFit::KindsDiffer:
            return LanguageTextOr(
                "OutputForm", "CopyKinds",
                "Joining without re-encoding needs MP3 files of one sample rate and channel "
                "count.");
    }
    return QString();
}
