// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

// The language dialog: picks one of the language files by its display name and records the
// choice in the settings file. Its own texts are set by the main window's ApplyLanguage.
class TLanguageForm : public QDialog {
    Q_OBJECT
public:
    explicit TLanguageForm(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QComboBox* ComboBoxLanguage = nullptr;
    QFrame* Bevel1 = nullptr;
    QPushButton* ButtonOk = nullptr;
    QPushButton* ButtonCancel = nullptr;

    // Lists the language files by display name and selects the recorded one.
    void FormActivate();
    // Records the chosen language's file name, then closes the dialog with OK.
    void ButtonOkClick();

    // True when the last OK could not write the settings file; the failure has been reported.
    bool SettingsWriteFailed() const { return settingsWriteFailed_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool settingsWriteFailed_ = false;
};

extern TLanguageForm* LanguageForm;
