// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/Encodestring.h"
#include "about/Formabout.h"
#include "app/Formmain.h"

#include "MessageRecorder.h"
#include "about/AboutFixture.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class AboutFormTest : public AboutFixture {
protected:
    void ShowAndHide() {
        AboutForm->show();
        QApplication::processEvents();
        AboutForm->hide();
    }
    void Click(QWidget* target, Qt::MouseButton button) {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at), button, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(target, &release);
    }
};

TEST_F(AboutFormTest, TitleAndLinkKeepTheirOwnFontsWhateverTheLanguageChooses) {
    WriteLanguage("English.ini", "[LanguageProperty]\nFontName=DejaVu Sans\nFontSize=11\n");
    CreateForms();
    MainForm->FormActivate();
    const TAboutForm& about = *AboutForm;
    EXPECT_EQ(about.Label1->text(), MainForm->windowTitle());
    // The dialog took the language's font; the title and the link kept their own.
    EXPECT_EQ(about.font().family(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(about.Label2->font().pointSize(), 11);
    EXPECT_EQ(about.Label1->font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(about.Label1->font().pixelSize(), 13);
    EXPECT_EQ(about.Label1->palette().color(QPalette::WindowText), QColor(0x80, 0x00, 0x00));
    EXPECT_EQ(about.Label5->font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(about.Label5->font().pointSize(), 8);
    EXPECT_TRUE(about.Label5->font().underline());
    EXPECT_EQ(about.Label5->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_EQ(about.Label5->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(AboutFormTest, CopyrightLabelsFollowTheYearAndTheLanguageAtEveryShowing) {
    WriteLanguage(
        "English.ini",
        "[AboutForm]\nCaption=About\nVersion=Version:\nHomePage=Home page:\nCopyright=Copyright (c)\n"
        "Reserved=All rights reserved.\n[Common]\nOk=OK\n");
    CreateForms();
    MainForm->FormActivate();
    TAboutForm& about = *AboutForm;
    int year = 2026;
    about.Today = [&year] { return QDate(year, 12, 31); };

    ShowAndHide();
    EXPECT_EQ(about.Label6->text(), QStringLiteral("Copyright (c) Verdane 2026-2026"));
    EXPECT_EQ(about.Label7->text(), QStringLiteral("All rights reserved."));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(about.Label2->text(), QStringLiteral("Version:"));
    EXPECT_EQ(about.Label4->text(), QStringLiteral("Home page:"));
    EXPECT_EQ(about.ButtonOk->text(), QStringLiteral("OK"));
    // A text the design's language files lack shows English.
    EXPECT_EQ(about.LabelLicence->text(), QLatin1String(TAboutForm::kEnglishLicence));

    // A new year and a new language while the program runs: both show at the next showing.
    year = 2027;
    WriteLanguage("English.ini",
                  "[AboutForm]\nCaption=Info\nVersion=Ver.\nCopyright=(C)\nReserved=Tous "
                  "droits\nLicence=GPL\n[Common]\nOk=Ja\n");
    MainForm->FormActivate();
    EXPECT_EQ(about.Label6->text(), QStringLiteral("Copyright (c) Verdane 2026-2026"));
    ShowAndHide();
    EXPECT_EQ(about.Label6->text(), QStringLiteral("(C) Verdane 2026-2027"));
    EXPECT_EQ(about.Label7->text(), QStringLiteral("Tous droits"));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("Info"));
    EXPECT_EQ(about.Label2->text(), QStringLiteral("Ver."));
    EXPECT_EQ(about.LabelLicence->text(), QStringLiteral("GPL"));
    // A key the file lacks leaves its text empty.
    EXPECT_EQ(about.Label4->text(), QString());
    EXPECT_EQ(about.ButtonOk->text(), QStringLiteral("Ja"));

    // Activation rebuilds them too, where the window manager activates without a new showing.
    year = 2030;
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&about, &activate);
    EXPECT_TRUE(about.Label6->text().endsWith(QLatin1String("-2030")));
}

TEST_F(AboutFormTest, AboutShowsTheDecodedHomePageAndItsLinkOpensIt) {
    CreateForms();
    bool shownModal = false;
    QTimer::singleShot(0, AboutForm, [&shownModal] {
        shownModal =
            AboutForm->isVisible() && AboutForm->isModal() && AboutForm->focusWidget() == AboutForm->ButtonOk;
        AboutForm->ButtonOk->click();
    });
    MainForm->ButtonAbout->click();
    EXPECT_TRUE(shownModal);
    EXPECT_FALSE(AboutForm->isVisible());
    EXPECT_EQ(AboutForm->HomePage, DecodeString(QLatin1String(kEncodedHomePage)));
    EXPECT_TRUE(opened_.isEmpty());

    Click(AboutForm->Label5, Qt::RightButton);
    EXPECT_TRUE(opened_.isEmpty());
    Click(AboutForm->Label5, Qt::LeftButton);
    EXPECT_EQ(opened_, QStringList{QStringLiteral("https://www.verdane.example/")});
    // From the keyboard: Enter or Space on the link, which Tab reaches after OK.
    opened_.clear();
    for (const int key : {Qt::Key_Return, Qt::Key_Space}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(AboutForm->Label5, &press);
    }
    PressAsLink(AboutForm->Label5);
    EXPECT_EQ(opened_.size(), 3);
    AboutForm->ButtonOk->setFocus();
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(AboutForm->ButtonOk, &tab);
    EXPECT_EQ(AboutForm->focusWidget(), AboutForm->Label5);
}

TEST_F(AboutFormTest, UpdateOpensTheHomePageAndWithoutAnAddressNothing) {
    MessageRecorder recorder;
    CreateForms();
    MainForm->ButtonUpdate->click();
    EXPECT_EQ(opened_, QStringList{QStringLiteral("https://www.verdane.example/")});

    opened_.clear();
    MainForm->EncodedHomePage.clear();
    MainForm->ButtonUpdate->click();
    EXPECT_TRUE(opened_.isEmpty());
    EXPECT_TRUE(recorder.messages.empty());
}

// Without a browser the user still learns the address, in English where the language lacks the text.
TEST_F(AboutFormTest, WithoutABrowserUpdateAndTheLinkNameTheHomePage) {
    WriteLanguage("English.ini", "[Common]\nMessage=Note\n");
    CreateForms();
    MainForm->FormActivate();
    browserOpens_ = false;
    MessageRecorder recorder;
    MainForm->ButtonUpdate->click();
    AboutForm->HomePage = QStringLiteral("https://www.verdane.example/");
    AboutForm->Label5Click();
    ASSERT_EQ(recorder.messages.size(), 2u);
    for (const MessageRecorder::Message& m : recorder.messages) {
        EXPECT_EQ(m.text, QStringLiteral("No web browser could be opened. The home page is:\n"
                                         "https://www.verdane.example/"));
        EXPECT_EQ(m.caption, QStringLiteral("Note"));
        EXPECT_EQ(m.flags, platform::MB_ICONWARNING);
    }
}

}  // namespace
