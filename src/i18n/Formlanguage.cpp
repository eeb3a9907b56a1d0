// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/Formlanguage.h"

#include "i18n/IniFile.h"
#include "i18n/Language.h"
#include "i18n/LanguageList.h"
#include "platform/Accessibility.h"
#include "platform/ExeFolder.h"
#include "platform/MessageBox.h"
#include "platform/TextScale.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

TLanguageForm* LanguageForm = nullptr;

namespace {

const QString kGeneral = QStringLiteral("General");
const QString kLanguage = QStringLiteral("Language");

}  // namespace

TLanguageForm::TLanguageForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("LanguageForm"));
    setWindowTitle(QStringLiteral("Language"));
    setFixedSize(platform::Scaled(QSize(290, 120)));
    setFont(platform::DesignFont(QStringLiteral("Tahoma"), 8));

    Label1 = new QLabel(QStringLiteral("Language:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(platform::Scaled(QPoint(24, 27)));

    ComboBoxLanguage = new QComboBox(this);
    ComboBoxLanguage->setObjectName(QStringLiteral("ComboBoxLanguage"));
    ComboBoxLanguage->setEditable(false);
    ComboBoxLanguage->setGeometry(platform::Scaled(88), platform::Scaled(24), platform::Scaled(169),
                                  ComboBoxLanguage->sizeHint().height());
    Label1->setBuddy(ComboBoxLanguage);
    platform::NameBuddiesByTheirLabels(this);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(platform::Scaled(QRect(8, 64, 274, 2)));

    ButtonOk = new QPushButton(QStringLiteral("OK"), this);
    ButtonOk->setObjectName(QStringLiteral("ButtonOk"));
    ButtonOk->setGeometry(platform::Scaled(QRect(48, 80, 75, 25)));
    ButtonOk->setDefault(true);
    ButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    ButtonCancel->setGeometry(platform::Scaled(QRect(160, 80, 75, 25)));
    ButtonCancel->setAutoDefault(false);

    connect(ButtonOk, &QPushButton::clicked, this, &TLanguageForm::ButtonOkClick);
    connect(ButtonCancel, &QPushButton::clicked, this, &TLanguageForm::reject);
    platform::SetFrameRoles(this);
}

void TLanguageForm::showEvent(QShowEvent* event) {
    // A window brought back from the task bar is not a new showing.
    if (!event->spontaneous()) {
        FormActivate();
    }
    QDialog::showEvent(event);
}

void TLanguageForm::FormActivate() {
    settingsWriteFailed_ = false;
    // The caption and font may have changed since the last showing.
    Label1->adjustSize();

    // The folder is worked out afresh from the executable, never taken from the main window.
    const QString appDir = platform::ExeFolder();
    const i18n::IniFile settings(i18n::SettingsFilePath(appDir));
    const QString current = i18n::TrimControl(settings.ReadString(kGeneral, kLanguage, QString()));
    const QString folder = i18n::LanguageFolder(appDir);
    const QStringList fileNames = i18n::LanguageFileNames(folder);

    ComboBoxLanguage->clear();
    for (const QString& fileName : fileNames) {
        // Empty and repeated names are listed all the same, so item i is always file i.
        ComboBoxLanguage->addItem(i18n::LanguageDisplayName(folder, fileName));
    }
    ComboBoxLanguage->setCurrentIndex(i18n::IndexOfLanguageFile(fileNames, current));
}

void TLanguageForm::ButtonOkClick() {
    const QString appDir = platform::ExeFolder();
    const QString chosen =
        i18n::LanguageFileForDisplayName(i18n::LanguageFolder(appDir), ComboBoxLanguage->currentText());
    try {
        // An empty choice lets the next ApplyLanguage choose from the user's default language again.
        i18n::StoreLanguageChoice(appDir, chosen);
    } catch (const i18n::IniWriteError& error) {
        settingsWriteFailed_ = true;
        platform::ReportException(QString::fromUtf8(error.what()));
    }
    accept();
}
