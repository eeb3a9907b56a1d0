// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/Formabout.h"
#include "app/ErrorReport.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "audio/Decoder.h"
#include "encode/Formmetadata.h"
#include "encode/Formoutput.h"
#include "i18n/Formlanguage.h"
#include "join/Formprocess.h"
#include "platform/ExeFolder.h"
#include "platform/GuiHandlers.h"
#include "platform/LangId.h"
#include "platform/TempFolder.h"

#include "MessageRecorder.h"
#include "app/MainWindowFixture.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTranslator>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

using MainFormTest = MainWindowFixture;

TEST_F(MainFormTest, StartUpCreatesTheFiveWindowsInOrder) {
    MessageRecorder recorder;
    // Left behind by a copy of the program that ended during a join.
    const QString leftover = platform::TempFolder() + QStringLiteral("AudioTemp-0.pcm");
    WriteFile(leftover, "pcm");
    const QStringList created = CreateForms();
    EXPECT_EQ(created, (QStringList{"MainForm", "AboutForm", "LanguageForm", "OutputForm", "ProcessForm"}));
    ASSERT_NE(MainForm, nullptr);
    EXPECT_NE(AboutForm, nullptr);
    EXPECT_NE(LanguageForm, nullptr);
    EXPECT_NE(OutputForm, nullptr);
    EXPECT_NE(ProcessForm, nullptr);
    EXPECT_TRUE(recorder.messages.empty());

    EXPECT_EQ(MainForm->TempPath, QDir::tempPath() + QStringLiteral("/wavestitch-%1/").arg(geteuid()));
    EXPECT_EQ(
        MainForm->TempPcmFile,
        MainForm->TempPath + QStringLiteral("AudioTemp-%1.pcm").arg(QCoreApplication::applicationPid()));
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_EQ(MainForm->AppDir, appDir_);
    EXPECT_TRUE(MainForm->acceptDrops());
    // The language is applied at the first activation, not while the window is created.
    EXPECT_EQ(MainForm->LanguageIni, nullptr);
    EXPECT_FALSE(QFile::exists(appDir_ + QStringLiteral("Wavestitch.ini")));
}

TEST_F(MainFormTest, ToolBarAndStatusBarKeepTheirEdgesAndTheStatusStartsEmpty) {
    CreateForms();
    TMainForm& form = *MainForm;
    form.show();
    QApplication::processEvents();
    EXPECT_EQ(form.Panel1->geometry(), QRect(0, 0, 710, 65));
    EXPECT_EQ(form.StatusBar1->geometry().bottom(), 455);
    EXPECT_EQ(form.Panel3->geometry().right(), 709);
    ASSERT_NE(form.StatusPanel(1), nullptr);
    EXPECT_EQ(form.StatusPanel(2), nullptr);
    EXPECT_TRUE(form.StatusPanel(0)->text().isEmpty());
    EXPECT_TRUE(form.StatusPanel(1)->text().isEmpty());
}

TEST_F(MainFormTest, WindowCannotBecomeNarrowerButHeightIsFree) {
    CreateForms();
    TMainForm& form = *MainForm;
    form.show();
    form.resize(600, 300);
    QApplication::processEvents();
    EXPECT_EQ(form.width(), 710);
    EXPECT_EQ(form.height(), 300);
    const QTreeWidget& list = *form.ListView1;
    EXPECT_GE(list.columnWidth(6), 160);
    std::vector<int> widths;
    for (int column = 0; column < list.columnCount(); ++column) {
        widths.push_back(list.columnWidth(column));
    }
    form.resize(900, 700);
    QApplication::processEvents();
    EXPECT_EQ(form.size(), QSize(900, 700));
    // The extra width goes to the paths.
    widths.back() += 190;
    for (int column = 0; column < list.columnCount(); ++column) {
        EXPECT_EQ(list.columnWidth(column), widths[static_cast<std::size_t>(column)]) << column;
    }
    // The banner stays at the right edge.
    EXPECT_EQ(form.CppWebBrowser1->x(), 900 - 257);
}

TEST_F(MainFormTest, BannerSwitchIsExactlyZero) {
    const struct {
        const char* settings;
        bool visible;
    } cases[] = {
        {"", true},
        {"[General]\nAd=0\n", false},
        {"[general]\nad = 0 \n", false},
        {"[General]\nAd=00\n", true},
        {"[General]\nAd=no\n", true},
        {"[General]\nAd=false\n", true},
        {"[General]\nAd=1\n", true},
    };
    for (const auto& c : cases) {
        WriteSettings(c.settings);
        CreateForms();
        MainForm->show();
        QApplication::processEvents();
        EXPECT_EQ(MainForm->CppWebBrowser1->isVisible(), c.visible) << c.settings;
        if (!c.visible) {
            EXPECT_GE(MainForm->CppWebBrowser1->x(), MainForm->width() + 100);
        }
        DestroyForms();
    }
}

// A window that records the mouse presses that reach it.
class PressProbe : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

void Press(QWidget& target, const QPoint& global, Qt::MouseButton button) {
    QMouseEvent press(QEvent::MouseButtonPress, target.mapFromGlobal(global).toPointF(), global.toPointF(),
                      button, button, Qt::NoModifier);
    QApplication::sendEvent(&target, &press);
}

TEST_F(MainFormTest, RightClicksInsideTheBannerAreSwallowedWhateverWindowIsThere) {
    CreateForms();
    TMainForm& form = *MainForm;
    form.show();
    QApplication::processEvents();
    const QRect banner(form.CppWebBrowser1->mapTo(&form, QPoint(0, 0)), form.CppWebBrowser1->size());
    const auto global = [&](int x, int y) { return form.mapToGlobal(QPoint(x, y)); };

    PressProbe probe;
    const struct {
        QPoint at;
        Qt::MouseButton button;
        int reaches;
    } cases[] = {
        {global(banner.center().x(), banner.center().y()), Qt::RightButton, 0},
        {global(banner.left() + 1, banner.top() + 1), Qt::RightButton, 0},
        // Strictly inside: the edges themselves are outside.
        {global(banner.left(), banner.center().y()), Qt::RightButton, 1},
        {global(banner.center().x(), banner.top()), Qt::RightButton, 1},
        {global(banner.left() + banner.width(), banner.center().y()), Qt::RightButton, 1},
        {global(banner.center().x(), banner.center().y()), Qt::LeftButton, 1},
        {global(10, 200), Qt::RightButton, 1},
    };
    for (const auto& c : cases) {
        probe.presses = 0;
        Press(probe, c.at, c.button);
        EXPECT_EQ(probe.presses, c.reaches) << c.at.x() << "," << c.at.y() << " button " << c.button;
    }
}

TEST_F(MainFormTest, DeviceFailureIsReportedAndStartUpGoesOn) {
    WriteLanguage("English.ini", "[ToolBar]\nAdd=Add files\n");
    audio::SetOutputDeviceCheck([] { return false; });
    MessageRecorder recorder;
    CreateForms();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, QStringLiteral("Cannot start default playing device!"));
    EXPECT_EQ(recorder.messages[0].caption, QString());
    EXPECT_EQ(recorder.messages[0].flags, 0x10u);
    // The remaining steps ran: the program folder, the settings and the language still work.
    EXPECT_EQ(MainForm->AppDir, appDir_);
    MainForm->FormActivate();
    EXPECT_EQ(MainForm->ButtonAdd->text(), QStringLiteral("Add files"));
}

TEST_F(MainFormTest, ActivationChoosesWritesAndAppliesTheLanguage) {
    WriteLanguage("ChineseGB.ini",
                  QByteArray("[LanguageProperty]\nCharSet=134\nFontSize=9\n[ToolBar]\nAdd=") +
                      QByteArray("\xCC\xED\xBC\xD3") + "\n[Hint]\nUp=Move up\n[ListView]\nName=N\n");
    langId_ = 0x0804;
    MessageRecorder recorder;
    CreateForms();
    MainForm->FormActivate();
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_NE(ReadFile(appDir_ + QStringLiteral("Wavestitch.ini")).indexOf("Language=ChineseGB.ini"), -1);
    ASSERT_NE(MainForm->LanguageIni, nullptr);
    EXPECT_EQ(MainForm->ButtonAdd->text(), QString::fromUtf8("\xE6\xB7\xBB\xE5\x8A\xA0"));  // "添加"
    EXPECT_EQ(MainForm->ButtonUp->toolTip(), QStringLiteral("Move up"));
    // Missing keys make their targets empty.
    EXPECT_EQ(MainForm->ButtonRemove->text(), QString());
    EXPECT_EQ(MainForm->ListView1->headerItem()->text(0), QStringLiteral("N"));
    EXPECT_EQ(MainForm->ListView1->headerItem()->text(1), QString());
    for (QWidget* window : {static_cast<QWidget*>(MainForm), static_cast<QWidget*>(AboutForm),
                            static_cast<QWidget*>(ProcessForm), static_cast<QWidget*>(OutputForm),
                            static_cast<QWidget*>(LanguageForm)}) {
        EXPECT_EQ(window->font().family(), QStringLiteral("Tahoma")) << window->objectName().toStdString();
        EXPECT_EQ(window->font().pointSize(), 9) << window->objectName().toStdString();
    }
    // The status bar stays empty until the list changes.
    EXPECT_TRUE(MainForm->StatusPanel(0)->text().isEmpty());
}

TEST_F(MainFormTest, UnwritableSettingsAreReportedOnceAndTheLanguageStillApplies) {
    // A folder in place of the settings file cannot be written, even by root.
    ASSERT_TRUE(QDir().mkpath(appDir_ + QStringLiteral("Wavestitch.ini")));
    WriteLanguage("English.ini", "[ToolBar]\nJoin=&Join\n");
    MessageRecorder recorder;
    CreateForms();
    for (int i = 0; i < 3; ++i) {
        MainForm->FormActivate();
    }
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, QStringLiteral("Unable to write to ") + appDir_ + "Wavestitch.ini");
    EXPECT_EQ(recorder.messages[0].flags, 0x10u);
    EXPECT_EQ(MainForm->ButtonJoin->text(), QStringLiteral("&Join"));
}

TEST_F(MainFormTest, ClosingRemovesTheBannerAndTemporaryFilesAndReleasesTheLanguage) {
    CreateForms();
    const QString adFile = appDir_ + QStringLiteral("_WavestitchAd.swf");
    WriteFile(adFile, "GIF89a");
    MainForm->AdFile = adFile;
    // A join's audio left behind, say by a killed earlier run.
    const QString tempPcm = MainForm->TempPcmFile;
    WriteFile(tempPcm, QByteArray(100, '\0'));
    MainForm->FormActivate();
    DestroyForms();
    EXPECT_FALSE(QFile::exists(adFile));
    EXPECT_FALSE(QFile::exists(tempPcm));
}

TEST(QtTranslationTest, StandardButtonsSpeakTheLocalesLanguageWhereQtHasIt) {
    const struct {
        const char* locale;
        const char* yes;
    } cases[] = {{"de_DE", "&Ja"}, {"sw_KE", "&Yes"}};
    for (const auto& c : cases) {
        const std::unique_ptr<QTranslator> translator =
            InstallQtTranslation(QLocale(QLatin1String(c.locale)));
        const QDialogButtonBox box(QDialogButtonBox::Yes);
        EXPECT_EQ(box.button(QDialogButtonBox::Yes)->text(), QLatin1String(c.yes)) << c.locale;
    }
}

TEST(OpenDialogFilterTest, WindowsSyntaxBecomesQtNameFilters) {
    EXPECT_EQ(
        FilterFromWindowsSyntax(
            QStringLiteral("All supported files(*.wav,*.mp3,*.wma)|*.wav,*.mp3,*.wma|All Files(*.*)|*.*")),
        (QStringList{"All supported files(*.wav,*.mp3,*.wma) (*.wav *.mp3 *.wma)", "All Files(*.*) (*.*)"}));
    EXPECT_EQ(FilterFromWindowsSyntax(QStringLiteral("WAV files|*.wav; *.wave|odd")),
              QStringList{"WAV files (*.wav *.wave)"});
    EXPECT_TRUE(FilterFromWindowsSyntax(QString()).isEmpty());
}

// An object whose event handler throws, as a handler might on a library error.
class Thrower : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) {
            throw std::runtime_error("Unable to write to /somewhere");
        }
        return QObject::event(e);
    }
};

TEST(ErrorReportTest, AnExceptionFromAHandlerIsReportedAndTheProgramGoesOn) {
    MessageRecorder recorder;
    Thrower thrower;
    QEvent event(QEvent::User);
    QApplication::sendEvent(&thrower, &event);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, QStringLiteral("Unable to write to /somewhere"));
    EXPECT_EQ(recorder.messages[0].flags, 0x10u);

    EXPECT_FALSE(GuardedRun([] { throw 42; }));
    ASSERT_EQ(recorder.messages.size(), 2u);
    EXPECT_EQ(recorder.messages[1].text, QString());
}

}  // namespace

namespace {

// The controls Tab (or Shift+Tab) visits in window, from its focus, until it comes back there.
std::vector<QWidget*> TabRound(QWidget* window, bool forward) {
    std::vector<QWidget*> visited;
    QWidget* start = window->focusWidget();
    for (int step = 0; step < 60; ++step) {
        QKeyEvent tab(QEvent::KeyPress, forward ? Qt::Key_Tab : Qt::Key_Backtab, Qt::NoModifier);
        QApplication::sendEvent(window->focusWidget(), &tab);
        visited.push_back(window->focusWidget());
        if (visited.back() == start) {
            break;
        }
    }
    return visited;
}

// Every window can be gone round with Tab and back with Shift+Tab: no control keeps the keyboard,
// and each stop is one the user can see.
TEST_F(MainFormTest, TabGoesRoundEveryWindowAndBackAgain) {
    CreateForms();
    const auto goRound = [](QWidget* window) {
        ASSERT_NE(window->focusWidget(), nullptr);
        QWidget* start = window->focusWidget();
        const std::vector<QWidget*> forward = TabRound(window, true);
        ASSERT_EQ(forward.back(), start);
        for (QWidget* stop : forward) {
            EXPECT_TRUE(stop->isVisible() && stop->isEnabled()) << stop->objectName().toStdString();
        }
        // Shift+Tab visits the same stops in the opposite order.
        std::vector<QWidget*> backward = TabRound(window, false);
        std::reverse(backward.begin(), backward.end() - 1);
        EXPECT_EQ(backward, forward);
    };
    for (QWidget* window : {static_cast<QWidget*>(MainForm), static_cast<QWidget*>(AboutForm),
                            static_cast<QWidget*>(LanguageForm), static_cast<QWidget*>(ProcessForm),
                            static_cast<QWidget*>(OutputForm->MetadataForm)}) {
        SCOPED_TRACE(window->objectName().toStdString());
        window->show();
        window->activateWindow();
        QApplication::processEvents();
        goRound(window);
        window->hide();
    }
    // The wizard's pages, as each format leads through them.
    for (QRadioButton* format : {OutputForm->RadioWAV, OutputForm->RadioMP3, OutputForm->RadioWMA}) {
        SCOPED_TRACE(format->text().toStdString());
        OutputForm->show();
        OutputForm->activateWindow();
        QApplication::processEvents();
        goRound(OutputForm);
        format->setChecked(true);
        do {
            OutputForm->ButtonNextClick();
            goRound(OutputForm);
        } while (OutputForm->PageControl1->currentIndex() != TOutputForm::kFilePage);
        // The file page's focus is on choosing the file.
        EXPECT_EQ(OutputForm->focusWidget(), OutputForm->ButtonSave);
        OutputForm->hide();
    }
}

// Where no window manager hands the keyboard back, a closed dialog does: to the window it came from,
// also to a dialog that is itself modal, but not past another dialog that has come up.
TEST_F(MainFormTest, AClosedDialogGivesTheKeyboardBackToItsWindow) {
    platform::ReturnFocusAfterDialogs();
    CreateForms();
    MainForm->show();
    const auto close = [](QDialog* dialog, QWidget* expected) {
        dialog->show();
        dialog->activateWindow();
        QApplication::processEvents();
        ASSERT_EQ(QApplication::activeWindow(), dialog);
        dialog->hide();
        QApplication::processEvents();
        EXPECT_EQ(QApplication::activeWindow(), expected);
    };
    close(AboutForm, MainForm);
    OutputForm->setModal(true);
    OutputForm->show();
    close(OutputForm->MetadataForm, OutputForm);
    close(AboutForm, nullptr);
    OutputForm->hide();
}

}  // namespace
