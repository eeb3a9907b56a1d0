// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QDialog>

#include <functional>

class QFrame;
class QLabel;
class QPushButton;

// The about dialog: version, home-page link, copyright and licence.
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    // The start of the copyright period, between the translated copyright word and the current year.
    static constexpr const char* kOwnerNotice = " Verdane 2026-";
    // The licence line where the language file has none.
    static constexpr const char* kEnglishLicence = "Licence: GNU GPL version 3 or later";

    explicit TAboutForm(QWidget* parent = nullptr);

    QFrame* Bevel1 = nullptr;
    QFrame* Bevel2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* LabelLicence = nullptr;
    QPushButton* ButtonOk = nullptr;

    // The decoded address Label5 opens; set by the main window before every showing.
    QString HomePage;
    // Filled by the main window's ApplyLanguage; Label6 and Label7 are built from them.
    QString CopyrightText;
    QString ReservedText;
    // The box that names the home page when no browser could be opened.
    QString NoBrowserText;
    QString MessageCaption;

    // Today's date; tests put a clock of their own here.
    std::function<QDate()> Today = [] { return QDate::currentDate(); };

    // Sizes the captions to their current texts and places the version and the link after them;
    // called whenever the texts or the font change.
    void SizeLabelsToText();
    // Rebuilds the copyright labels, so a new year or a new language shows without a restart.
    void FormActivate();
    void Label5Click();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    // The link's focus mark, drawn around it so its text keeps its place.
    void paintEvent(QPaintEvent* e) override;
};

// Opens the home page with the desktop's browser. When no program took the address, a warning box
// shows noBrowserText with the address on a line of its own, for the user to copy.
void OpenHomePage(const QString& address, const QString& noBrowserText, const QString& caption);

extern TAboutForm* AboutForm;
