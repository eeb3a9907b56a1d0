#include "i18n/Formlanguage.h"

TLanguageForm* LanguageForm = nullptr;

TLanguageForm::TLanguageForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("LanguageForm"));
    setWindowTitle(QStringLiteral("Language"));
    setFixedSize(290, 120);
}
