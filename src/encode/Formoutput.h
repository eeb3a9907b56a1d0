#pragma once

#include <QDialog>

// The output wizard: format, encoder settings and output file of a join.
class TOutputForm : public QDialog {
    Q_OBJECT
public:
    explicit TOutputForm(QWidget* parent = nullptr);
};

extern TOutputForm* OutputForm;
