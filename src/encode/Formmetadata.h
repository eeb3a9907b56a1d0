// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "join/OutputMetadata.h"

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QPushButton;
class QRadioButton;

// What a join writes besides the audio: the output's tags, chapter marks and a cue sheet. Opened
// from the output wizard's file page; it starts from nothing chosen whenever the wizard does.
class TMetadataForm : public QDialog {
    Q_OBJECT
public:
    explicit TMetadataForm(QWidget* parent = nullptr);

    // The rows joined, by path, in order: one of them may give the tags.
    void SetRows(const QStringList& paths);
    // Nothing chosen: no tags, no chapters, no cue sheet.
    void Reset();
    join::MetadataChoice Choice() const;

    QGroupBox* GroupBoxTags = nullptr;
    QRadioButton* RadioTagsNone = nullptr;
    QRadioButton* RadioTagsFirst = nullptr;
    QRadioButton* RadioTagsFile = nullptr;
    QComboBox* ComboTagsFile = nullptr;
    QCheckBox* CheckBoxChapters = nullptr;
    QCheckBox* CheckBoxCueSheet = nullptr;
    QPushButton* ButtonOk = nullptr;
    QPushButton* ButtonCancel = nullptr;

    void done(int result) override;

private:
    // The choice as it stood when the dialog opened: Cancel puts it back.
    join::MetadataChoice kept_;
    void Show(const join::MetadataChoice& choice);

protected:
    void showEvent(QShowEvent* event) override;
};
