#pragma once

#include <QDialog>

// The language dialog: picks one of the language files by its display name.
class TLanguageForm : public QDialog {
    Q_OBJECT
public:
    explicit TLanguageForm(QWidget* parent = nullptr);
};

extern TLanguageForm* LanguageForm;
