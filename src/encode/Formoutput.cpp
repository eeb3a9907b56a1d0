// SPDX-License-Identifier: GPL-3.0-or-later
#include "encode/Formoutput.h"

#include "encode/Formmetadata.h"
#include "join/CueSheet.h"
#include "platform/Accessibility.h"
#include "platform/FileFilter.h"
#include "platform/FilePath.h"
#include "platform/MessageBox.h"
#include "platform/TextScale.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstring>
#include <iterator>

TOutputForm* OutputForm = nullptr;

namespace {

// Fixed item texts; they name the bitrate and are never translated.
const char* const kMp3Bitrates[] = {"32kbps", "64kbps", "96kbps", "128kbps", "192kbps", "256kbps", "320kbps"};
const char* const kWmaBitrates[] = {"48kbps", "64kbps", "80kbps", "96kbps", "128kbps", "160kbps"};
constexpr int kDefaultMp3Bitrate = 3;
constexpr int kDefaultWmaBitrate = 3;

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QWidget* MakePage(const char* name) {
    return Named(new QWidget, name);
}

QComboBox* MakeBitrateList(QWidget* parent, const char* name, const char* const* items, int count) {
    auto* box = Named(new QComboBox(parent), name);
    box->setEditable(false);
    for (int i = 0; i < count; ++i) {
        box->addItem(QLatin1String(items[i]));
    }
    return box;
}

// The number an item such as "128kbps" names.
int LeadingNumber(const QString& text) {
    int value = 0;
    for (const QChar c : text) {
        if (!c.isDigit()) {
            break;
        }
        value = value * 10 + c.digitValue();
    }
    return value;
}

// Opens the dialog in folder with nothing chosen. selectFile() ignores an empty name, so the name
// field and the views' selection, which would otherwise offer the previous file, are cleared here.
void ResetSaveDialog(QFileDialog* dialog, const QString& folder) {
    dialog->setDirectory(!folder.isEmpty() && QDir(folder).exists() ? folder : QDir::homePath());
    // The list and detail views share one selection.
    if (auto* files = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"))) {
        files->clearSelection();
    }
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        name->clear();
    }
}

QString RunSaveDialog(QFileDialog* dialog) {
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
        return QString();
    }
    return dialog->selectedFiles().constFirst();
}

}  // namespace

TOutputForm::TOutputForm(QWidget* parent) : QDialog(parent), chooser_(RunSaveDialog) {
    setObjectName(QStringLiteral("OutputForm"));
    setWindowTitle(QStringLiteral("Output"));
    setFixedSize(platform::Scaled(QSize(392, 254)));

    CreatePages();
    CreateButtons();
    platform::SetFrameRoles(this);

    SaveDialog1 = Named(new QFileDialog(this), "SaveDialog1");
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    // The wizard asks about an existing file itself, after the extension rule has been applied.
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, true);
    // The language file's descriptions already name their patterns.
    SaveDialog1->setOption(QFileDialog::HideNameFilterDetails, true);
    HideCompletionsWithDialog(SaveDialog1);
    MetadataForm = new TMetadataForm(this);

    connect(ButtonNext, &QPushButton::clicked, this, &TOutputForm::ButtonNextClick);
    connect(ButtonBack, &QPushButton::clicked, this, &TOutputForm::ButtonBackClick);
    connect(ButtonCancel, &QPushButton::clicked, this, &TOutputForm::reject);
    connect(ButtonSave, &QToolButton::clicked, this, &TOutputForm::ButtonSaveClick);
    connect(ButtonMetadata, &QPushButton::clicked, this, &TOutputForm::ButtonMetadataClick);
    connect(CheckBoxMP3Copy, &QCheckBox::toggled, this, &TOutputForm::CheckBoxMP3CopyClick);
    connect(EditOutputFile, &QLineEdit::textChanged, this, &TOutputForm::EditOutputFileChange);
    connect(PageControl1, &QStackedWidget::currentChanged, this, &TOutputForm::PageControl1Change);
}

void TOutputForm::CreatePages() {
    // A stacked widget has no tabs, so the pages are reached only through the buttons.
    PageControl1 = Named(new QStackedWidget(this), "PageControl1");
    PageControl1->setGeometry(platform::Scaled(QRect(8, 8, 376, 190)));

    TabSheet1 = MakePage("TabSheet1");
    GroupBox1 = Named(new QGroupBox(QStringLiteral("Output Format"), TabSheet1), "GroupBox1");
    RadioWAV = Named(new QRadioButton(QStringLiteral("WAV"), GroupBox1), "RadioWAV");
    RadioMP3 = Named(new QRadioButton(QStringLiteral("MP3"), GroupBox1), "RadioMP3");
    RadioWMA = Named(new QRadioButton(QStringLiteral("WMA"), GroupBox1), "RadioWMA");
    auto* formats = new QVBoxLayout(GroupBox1);
    formats->addWidget(RadioWAV);
    formats->addWidget(RadioMP3);
    formats->addWidget(RadioWMA);
    formats->addStretch();
    (new QVBoxLayout(TabSheet1))->addWidget(GroupBox1);

    TabSheet2 = MakePage("TabSheet2");
    GroupBox2 = Named(new QGroupBox(QStringLiteral("Bitrate"), TabSheet2), "GroupBox2");
    ComboBoxMP3Bitrate = MakeBitrateList(GroupBox2, "ComboBoxMP3Bitrate", kMp3Bitrates,
                                         static_cast<int>(std::size(kMp3Bitrates)));
    (new QHBoxLayout(GroupBox2))->addWidget(ComboBoxMP3Bitrate);
    GroupBox3 = Named(new QGroupBox(QStringLiteral("Sign"), TabSheet2), "GroupBox3");
    CheckBoxMP3CRC = Named(new QCheckBox(QStringLiteral("CRC"), GroupBox3), "CheckBoxMP3CRC");
    CheckBoxMP3Copyright =
        Named(new QCheckBox(QStringLiteral("Copyright"), GroupBox3), "CheckBoxMP3Copyright");
    CheckBoxMP3Original = Named(new QCheckBox(QStringLiteral("Original"), GroupBox3), "CheckBoxMP3Original");
    CheckBoxMP3Private = Named(new QCheckBox(QStringLiteral("Private"), GroupBox3), "CheckBoxMP3Private");
    auto* flags = new QGridLayout(GroupBox3);
    flags->addWidget(CheckBoxMP3CRC, 0, 0);
    flags->addWidget(CheckBoxMP3Copyright, 0, 1);
    flags->addWidget(CheckBoxMP3Original, 1, 0);
    flags->addWidget(CheckBoxMP3Private, 1, 1);
    CheckBoxMP3Copy =
        Named(new QCheckBox(QStringLiteral("Join &without re-encoding"), TabSheet2), "CheckBoxMP3Copy");
    auto* mp3 = new QVBoxLayout(TabSheet2);
    // The page's height is fixed: with the check box below the groups, tall fonts leave no room to spare.
    mp3->setContentsMargins(mp3->contentsMargins().left(), 0, mp3->contentsMargins().right(), 0);
    mp3->setSpacing(4);
    flags->setVerticalSpacing(2);
    const QMargins inside = flags->contentsMargins();
    flags->setContentsMargins(inside.left(), inside.top() / 2, inside.right(), inside.bottom() / 2);
    mp3->addWidget(GroupBox2);
    mp3->addWidget(GroupBox3);
    mp3->addWidget(CheckBoxMP3Copy);
    mp3->addStretch();

    TabSheet3 = MakePage("TabSheet3");
    GroupBox4 = Named(new QGroupBox(QStringLiteral("Bitrate"), TabSheet3), "GroupBox4");
    ComboBoxWMABitrate = MakeBitrateList(GroupBox4, "ComboBoxWMABitrate", kWmaBitrates,
                                         static_cast<int>(std::size(kWmaBitrates)));
    (new QHBoxLayout(GroupBox4))->addWidget(ComboBoxWMABitrate);
    auto* wma = new QVBoxLayout(TabSheet3);
    wma->addWidget(GroupBox4);
    wma->addStretch();

    TabSheet4 = MakePage("TabSheet4");
    GroupBox5 = Named(new QGroupBox(QStringLiteral("Output File"), TabSheet4), "GroupBox5");
    EditOutputFile = Named(new QLineEdit(GroupBox5), "EditOutputFile");
    EditOutputFile->setReadOnly(true);
    // Only the save dialog fills it: it looks like the read-only box it is and Tab passes it by,
    // while a click still lets the user select and copy the path.
    EditOutputFile->setFocusPolicy(Qt::ClickFocus);
    QPalette readOnly = EditOutputFile->palette();
    readOnly.setBrush(QPalette::Base, readOnly.window());
    EditOutputFile->setPalette(readOnly);
    ButtonSave = Named(new QToolButton(GroupBox5), "ButtonSave");
    ButtonSave->setAutoRaise(true);
    ButtonSave->setText(QStringLiteral("..."));
    ButtonSave->setAccessibleName(QStringLiteral("Browse..."));
    platform::ShowToolTipOnKeyboardFocus(ButtonSave);
    auto* file = new QHBoxLayout(GroupBox5);
    file->addWidget(EditOutputFile, 1);
    file->addWidget(ButtonSave);
    ButtonMetadata =
        Named(new QPushButton(QStringLiteral("&Tags and chapters..."), TabSheet4), "ButtonMetadata");
    ButtonMetadata->setAutoDefault(false);
    auto* filePage = new QVBoxLayout(TabSheet4);
    filePage->addWidget(GroupBox5);
    filePage->addWidget(ButtonMetadata, 0, Qt::AlignLeft);
    filePage->addStretch();

    for (QWidget* page : {TabSheet1, TabSheet2, TabSheet3, TabSheet4}) {
        PageControl1->addWidget(page);
    }
}

void TOutputForm::CreateButtons() {
    Bevel1 = Named(new QFrame(this), "Bevel1");
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(platform::Scaled(QRect(8, 204, 376, 2)));

    ButtonBack = Named(new QPushButton(QStringLiteral("<<&Back"), this), "ButtonBack");
    ButtonNext = Named(new QPushButton(QStringLiteral("&Next>>"), this), "ButtonNext");
    ButtonCancel = Named(new QPushButton(QStringLiteral("&Cancel"), this), "ButtonCancel");
    ButtonBack->setGeometry(platform::Scaled(QRect(147, 218, 75, 25)));
    ButtonNext->setGeometry(platform::Scaled(QRect(228, 218, 75, 25)));
    ButtonCancel->setGeometry(platform::Scaled(QRect(309, 218, 75, 25)));
    // Enter moves the wizard on; it never goes back or cancels.
    ButtonBack->setAutoDefault(false);
    ButtonCancel->setAutoDefault(false);
    ButtonNext->setDefault(true);
}

TOutputForm::OutputFormat TOutputForm::Format() const {
    if (RadioMP3->isChecked()) {
        return OutputFormat::Mp3;
    }
    if (RadioWMA->isChecked()) {
        return OutputFormat::Wma;
    }
    return OutputFormat::Wav;
}

int TOutputForm::Mp3BitrateKbps() const {
    return LeadingNumber(ComboBoxMP3Bitrate->currentText());
}
bool TOutputForm::Mp3Crc() const {
    return CheckBoxMP3CRC->isChecked();
}
bool TOutputForm::Mp3Copyright() const {
    return CheckBoxMP3Copyright->isChecked();
}
bool TOutputForm::Mp3Original() const {
    return CheckBoxMP3Original->isChecked();
}
bool TOutputForm::Mp3Private() const {
    return CheckBoxMP3Private->isChecked();
}
int TOutputForm::WmaBitrate() const {
    return LeadingNumber(ComboBoxWMABitrate->currentText()) * 1000;
}
QString TOutputForm::OutputPath() const {
    return EditOutputFile->text();
}
bool TOutputForm::Mp3CopyChosen() const {
    return Format() == OutputFormat::Mp3 && CheckBoxMP3Copy->isEnabled() && CheckBoxMP3Copy->isChecked();
}
join::MetadataChoice TOutputForm::Metadata() const {
    return MetadataForm->Choice();
}
QString TOutputForm::CueSheetPath() const {
    const QFileInfo output(OutputPath());
    return output.path() + QLatin1Char('/') + output.completeBaseName() + QStringLiteral(".cue");
}

void TOutputForm::SetJoinRows(const QStringList& paths, const QString& copyRefusal) {
    rows_ = paths;
    MetadataForm->SetRows(paths);
    CheckBoxMP3Copy->setEnabled(copyRefusal.isEmpty());
    CheckBoxMP3Copy->setToolTip(copyRefusal);
}

void TOutputForm::SetSaveFileChooser(SaveFileChooser chooser) {
    chooser_ = chooser ? std::move(chooser) : SaveFileChooser(RunSaveDialog);
}

void TOutputForm::showEvent(QShowEvent* event) {
    // A window brought back from the task bar is not a new showing and keeps its state.
    if (!event->spontaneous()) {
        FormShow();
    }
    QDialog::showEvent(event);
}

void TOutputForm::FormShow() {
    RadioMP3->setChecked(true);
    ComboBoxMP3Bitrate->setCurrentIndex(kDefaultMp3Bitrate);
    for (QCheckBox* box : {CheckBoxMP3CRC, CheckBoxMP3Copyright, CheckBoxMP3Original, CheckBoxMP3Private}) {
        box->setChecked(false);
    }
    CheckBoxMP3Copy->setChecked(false);
    ComboBoxWMABitrate->setCurrentIndex(kDefaultWmaBitrate);
    MetadataForm->Reset();
    EditOutputFile->clear();
    PageControl1->setCurrentIndex(kFormatPage);
    UpdateWizardButtons();
    // The focus starts on the checked format, its mark drawn from the start: Tab-less users and
    // screen readers are told the choice that holds.
    RadioMP3->setFocus(Qt::OtherFocusReason);
    setAttribute(Qt::WA_KeyboardFocusChange);
}

int TOutputForm::SettingsPage() const {
    switch (Format()) {
        case OutputFormat::Wav:
            return kFilePage;
        case OutputFormat::Mp3:
            return kMp3Page;
        case OutputFormat::Wma:
            break;
    }
    return kWmaPage;
}

void TOutputForm::ButtonNextClick() {
    const int page = PageControl1->currentIndex();
    if (page == kFilePage) {
        if (!EditOutputFile->text().isEmpty() && CueSheetAllowed()) {
            accept();
        }
        return;
    }
    PageControl1->setCurrentIndex(page == kFormatPage ? SettingsPage() : kFilePage);
    UpdateWizardButtons();
}

void TOutputForm::ButtonBackClick() {
    const int page = PageControl1->currentIndex();
    if (page == kFilePage) {
        // WAV has no settings page, so its file page leads straight back to the format.
        PageControl1->setCurrentIndex(Format() == OutputFormat::Wav ? kFormatPage : SettingsPage());
    } else if (page != kFormatPage) {
        PageControl1->setCurrentIndex(kFormatPage);
    }
    UpdateWizardButtons();
}

void TOutputForm::UpdateWizardButtons() {
    const int page = PageControl1->currentIndex();
    ButtonBack->setVisible(page != kFormatPage);
    if (page == kFilePage) {
        ButtonNext->setText(JoinCaption);
        ButtonNext->setEnabled(!EditOutputFile->text().isEmpty());
    } else {
        ButtonNext->setText(NextCaption);
        ButtonNext->setEnabled(true);
    }
}

void TOutputForm::EditOutputFileChange() {
    UpdateWizardButtons();
}

void TOutputForm::PageControl1Change() {
    // The file page's one thing to do is choosing the file.
    if (PageControl1->currentIndex() == kFilePage) {
        ButtonSave->setFocus();
    }
    UpdateWizardButtons();
}

QString TOutputForm::FormatExtension() const {
    switch (Format()) {
        case OutputFormat::Wav:
            return QStringLiteral(".wav");
        case OutputFormat::Mp3:
            return QStringLiteral(".mp3");
        case OutputFormat::Wma:
            break;
    }
    return QStringLiteral(".wma");
}

void TOutputForm::ButtonSaveClick() {
    const OutputFormat format = Format();
    const QString& filter = format == OutputFormat::Wav   ? WavFilter
                            : format == OutputFormat::Mp3 ? Mp3Filter
                                                          : WmaFilter;
    SaveDialog1->setNameFilters(FilterFromWindowsSyntax(filter));
    const QString extension = FormatExtension();
    QString folder = outputFolder_;

    for (;;) {
        ResetSaveDialog(SaveDialog1, folder);
        QString name = chooser_(SaveDialog1);
        if (name.isEmpty()) {
            return;
        }
        // The extension is taken from the file name only, never from a dot in a folder name.
        const QString fileName = QFileInfo(name).fileName();
        const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
        const QString chosenExtension = dot < 0 ? QString() : fileName.mid(dot);
        if (chosenExtension.compare(extension, Qt::CaseInsensitive) != 0) {
            name += extension;
        }
        if (!QFileInfo::exists(name)) {
            SetOutputFile(name);
            return;
        }
        const int answer = platform::MessageBox(OverwriteQuestion, MessageCaption,
                                                platform::MB_YESNOCANCEL | platform::MB_ICONQUESTION);
        if (answer == platform::IDYES) {
            SetOutputFile(name);
            return;
        }
        if (answer != platform::IDNO) {
            return;
        }
        // The user is choosing another name beside the existing file.
        folder = QFileInfo(name).absolutePath();
    }
}

void TOutputForm::SetOutputFile(const QString& name) {
    EditOutputFile->setText(name);
    outputFolder_ = QFileInfo(name).absolutePath();
}

void TOutputForm::ButtonMetadataClick() {
    MetadataForm->exec();
}

void TOutputForm::CheckBoxMP3CopyClick() {
    // The rows' own frames are kept: no bitrate or flag of the encoder applies.
    GroupBox2->setEnabled(!CheckBoxMP3Copy->isChecked());
    GroupBox3->setEnabled(!CheckBoxMP3Copy->isChecked());
}

bool TOutputForm::CueSheetAllowed() {
    if (!Metadata().cueSheet) {
        return true;
    }
    const QString cue = CueSheetPath();
    const QString shown = platform::ShownName(cue);
    const join::CueCheck check = join::CheckCueSheet(cue, OutputPath(), rows_, false);
    QString refusal;
    switch (check.refusal) {
        case join::CueCheck::Refusal::None:
            return true;
        case join::CueCheck::Refusal::Exists:
            return platform::MessageBox(CueExistsQuestion.arg(shown), MessageCaption,
                                        platform::MB_YESNO | platform::MB_ICONQUESTION) == platform::IDYES;
        case join::CueCheck::Refusal::TooManyTracks:
            refusal = CueTracksText.arg(join::kMaxCueTracks).arg(rows_.size());
            break;
        case join::CueCheck::Refusal::ReplacesOutput:
        case join::CueCheck::Refusal::ReplacesInput:
            refusal = CueReplacesText.arg(shown);
            break;
        case join::CueCheck::Refusal::CannotName:
            refusal = CueNameText.arg(platform::ShownName(OutputPath()));
            break;
        case join::CueCheck::Refusal::IsFolder:
            refusal = CueWriteText.arg(shown, QString::fromLocal8Bit(std::strerror(EISDIR)));
            break;
        case join::CueCheck::Refusal::FolderUnwritable:
            refusal = CueWriteText.arg(shown, QString::fromLocal8Bit(std::strerror(check.error)));
            break;
    }
    platform::MessageBox(refusal, MessageCaption, platform::MB_OK | platform::MB_ICONWARNING);
    return false;
}
