#pragma once

#include <QDialog>

// The progress dialog of a join.
class TProcessForm : public QDialog {
    Q_OBJECT
public:
    explicit TProcessForm(QWidget* parent = nullptr);
};

extern TProcessForm* ProcessForm;
