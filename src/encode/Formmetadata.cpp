// SPDX-License-Identifier: GPL-3.0-or-later
#include "encode/Formmetadata.h"

#include "platform/FilePath.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

}  // namespace

TMetadataForm::TMetadataForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("MetadataForm"));
    setWindowTitle(QStringLiteral("Tags and chapters"));

    GroupBoxTags = Named(new QGroupBox(QStringLiteral("Tags"), this), "GroupBoxTags");
    RadioTagsNone = Named(new QRadioButton(QStringLiteral("&None"), GroupBoxTags), "RadioTagsNone");
    RadioTagsFirst =
        Named(new QRadioButton(QStringLiteral("From the &first file that has them"), GroupBoxTags),
              "RadioTagsFirst");
    RadioTagsFile = Named(new QRadioButton(QStringLiteral("From &one file:"), GroupBoxTags), "RadioTagsFile");
    ComboTagsFile = Named(new QComboBox(GroupBoxTags), "ComboTagsFile");
    // Long names must not make the dialog wider than the screen.
    ComboTagsFile->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboTagsFile->setMinimumContentsLength(24);
    auto* tags = new QGridLayout(GroupBoxTags);
    tags->addWidget(RadioTagsNone, 0, 0, 1, 2);
    tags->addWidget(RadioTagsFirst, 1, 0, 1, 2);
    tags->addWidget(RadioTagsFile, 2, 0);
    tags->addWidget(ComboTagsFile, 2, 1);
    tags->setColumnStretch(1, 1);

    CheckBoxChapters =
        Named(new QCheckBox(QStringLiteral("&Chapter marks, one per file"), this), "CheckBoxChapters");
    CheckBoxCueSheet =
        Named(new QCheckBox(QStringLiteral("C&ue sheet beside the output file"), this), "CheckBoxCueSheet");

    ButtonOk = Named(new QPushButton(QStringLiteral("OK"), this), "ButtonOk");
    ButtonCancel = Named(new QPushButton(QStringLiteral("Cancel"), this), "ButtonCancel");
    ButtonOk->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ButtonOk);
    buttons->addWidget(ButtonCancel);

    auto* page = new QVBoxLayout(this);
    page->addWidget(GroupBoxTags);
    page->addWidget(CheckBoxChapters);
    page->addWidget(CheckBoxCueSheet);
    page->addSpacing(8);
    page->addLayout(buttons);
    // The dialog takes the size its texts need, in every language.
    page->setSizeConstraint(QLayout::SetFixedSize);

    connect(RadioTagsFile, &QRadioButton::toggled, ComboTagsFile, &QWidget::setEnabled);
    // Choosing a file is choosing to take its tags.
    connect(ComboTagsFile, &QComboBox::activated, this, [this] { RadioTagsFile->setChecked(true); });
    connect(ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    Reset();
}

void TMetadataForm::SetRows(const QStringList& paths) {
    ComboTagsFile->clear();
    for (qsizetype i = 0; i < paths.size(); ++i) {
        ComboTagsFile->addItem(
            QStringLiteral("%1. %2").arg(i + 1).arg(platform::ShownName(QFileInfo(paths.at(i)).fileName())));
    }
    RadioTagsFile->setEnabled(!paths.isEmpty());
    Reset();
}

void TMetadataForm::Reset() {
    kept_ = join::MetadataChoice{};
    Show(kept_);
}

void TMetadataForm::Show(const join::MetadataChoice& choice) {
    RadioTagsNone->setChecked(choice.tags == join::TagSource::None);
    RadioTagsFirst->setChecked(choice.tags == join::TagSource::First);
    RadioTagsFile->setChecked(choice.tags == join::TagSource::Input);
    ComboTagsFile->setCurrentIndex(choice.tags == join::TagSource::Input ? choice.tagsInput - 1 : 0);
    ComboTagsFile->setEnabled(choice.tags == join::TagSource::Input);
    CheckBoxChapters->setChecked(choice.chapters);
    CheckBoxCueSheet->setChecked(choice.cueSheet);
}

join::MetadataChoice TMetadataForm::Choice() const {
    join::MetadataChoice choice;
    if (RadioTagsFirst->isChecked()) {
        choice.tags = join::TagSource::First;
    } else if (RadioTagsFile->isChecked() && ComboTagsFile->currentIndex() >= 0) {
        choice.tags = join::TagSource::Input;
        choice.tagsInput = ComboTagsFile->currentIndex() + 1;
    }
    choice.chapters = CheckBoxChapters->isChecked();
    choice.cueSheet = CheckBoxCueSheet->isChecked();
    return choice;
}

void TMetadataForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        kept_ = Choice();
        ButtonOk->setFocus();
    }
    QDialog::showEvent(event);
}

void TMetadataForm::done(int result) {
    if (result != QDialog::Accepted) {
        Show(kept_);
    }
    QDialog::done(result);
}
