#include "encode/Formoutput.h"

TOutputForm* OutputForm = nullptr;

TOutputForm::TOutputForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("OutputForm"));
    setWindowTitle(QStringLiteral("Output"));
    setFixedSize(392, 254);
}
