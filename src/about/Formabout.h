#pragma once

#include <QDialog>

// The about dialog: version, home-page link and copyright.
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* parent = nullptr);
};

extern TAboutForm* AboutForm;
