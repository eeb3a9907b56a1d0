#include "join/Formprocess.h"

TProcessForm* ProcessForm = nullptr;

TProcessForm::TProcessForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ProcessForm"));
    setWindowTitle(QStringLiteral("Processing"));
    setFixedSize(359, 164);
}
