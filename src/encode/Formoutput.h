// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "join/OutputMetadata.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QToolButton;
class QWidget;
class TMetadataForm;

// The output wizard: format, encoder settings and output file of a join. It starts from fixed
// defaults at every showing; after it has closed with OK the join reads the choice through the
// accessors below.
class TOutputForm : public QDialog {
    Q_OBJECT
public:
    enum class OutputFormat { Wav, Mp3, Wma };

    // Page indexes of PageControl1.
    static constexpr int kFormatPage = 0;
    static constexpr int kMp3Page = 1;
    static constexpr int kWmaPage = 2;
    static constexpr int kFilePage = 3;

    // Runs the save dialog (already given its filter, start folder and an empty name) and returns
    // the chosen file, or an empty text when the user cancelled. Replaceable so tests need no real
    // dialog.
    using SaveFileChooser = std::function<QString(QFileDialog* dialog)>;

    explicit TOutputForm(QWidget* parent = nullptr);

    OutputFormat Format() const;
    int Mp3BitrateKbps() const;
    bool Mp3Crc() const;
    bool Mp3Copyright() const;
    bool Mp3Original() const;
    bool Mp3Private() const;
    int WmaBitrate() const;  // bit/s
    QString OutputPath() const;
    // The MP3 rows are joined as they are, without re-encoding; never for another format.
    bool Mp3CopyChosen() const;
    // The tags, chapters and cue sheet chosen for the output.
    join::MetadataChoice Metadata() const;
    // Beside the output: its folder and name, with the extension .cue.
    QString CueSheetPath() const;

    // The rows about to be joined, by path, before the wizard is shown: they are offered as the
    // source of the tags, and the cue sheet may replace none of them. copyRefusal: why they cannot
    // be joined without re-encoding, or empty when they can.
    void SetJoinRows(const QStringList& paths, const QString& copyRefusal);

    void SetSaveFileChooser(SaveFileChooser chooser);

    void FormShow();
    void ButtonNextClick();
    void ButtonBackClick();
    void ButtonSaveClick();
    void EditOutputFileChange();
    void PageControl1Change();
    void UpdateWizardButtons();
    void ButtonMetadataClick();
    void CheckBoxMP3CopyClick();

    QStackedWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet4 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QRadioButton* RadioWAV = nullptr;
    QRadioButton* RadioMP3 = nullptr;
    QRadioButton* RadioWMA = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QComboBox* ComboBoxMP3Bitrate = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QCheckBox* CheckBoxMP3CRC = nullptr;
    QCheckBox* CheckBoxMP3Copyright = nullptr;
    QCheckBox* CheckBoxMP3Original = nullptr;
    QCheckBox* CheckBoxMP3Private = nullptr;
    QCheckBox* CheckBoxMP3Copy = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QComboBox* ComboBoxWMABitrate = nullptr;
    QGroupBox* GroupBox5 = nullptr;
    QLineEdit* EditOutputFile = nullptr;
    QToolButton* ButtonSave = nullptr;
    QPushButton* ButtonMetadata = nullptr;
    TMetadataForm* MetadataForm = nullptr;
    QFrame* Bevel1 = nullptr;
    QPushButton* ButtonBack = nullptr;
    QPushButton* ButtonNext = nullptr;
    QPushButton* ButtonCancel = nullptr;
    QFileDialog* SaveDialog1 = nullptr;

    // Texts set by the language step; the two captions start with the design-time ones.
    QString WavFilter;
    QString Mp3Filter;
    QString WmaFilter;
    QString NextCaption = QStringLiteral("&Next>>");
    QString JoinCaption = QStringLiteral("&Join");
    QString MessageCaption;
    QString OverwriteQuestion;
    // About the cue sheet, with %1 its path (CueTracks: the most tracks and the rows; CueWrite: the
    // reason as %2).
    QString CueExistsQuestion;
    QString CueTracksText;
    QString CueReplacesText;
    QString CueNameText;
    QString CueWriteText;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreatePages();
    void CreateButtons();
    // The page that holds the checked format's settings, or the file page for WAV.
    int SettingsPage() const;
    QString FormatExtension() const;
    void SetOutputFile(const QString& name);
    // Whether the cue sheet chosen may be written beside the output: a refusal is told, an existing
    // sheet is replaced only when the user says so.
    bool CueSheetAllowed();

    QStringList rows_;

    SaveFileChooser chooser_;
    // The save dialog opens where the last output of this run went; the home folder before that.
    QString outputFolder_;
};

extern TOutputForm* OutputForm;
