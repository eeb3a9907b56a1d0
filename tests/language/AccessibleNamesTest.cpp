// SPDX-License-Identifier: GPL-3.0-or-later
// Every window as assistive technology reads it, in every shipped language: each control a user can
// reach or read has a name, a button that shows no word says what it does, labels name what they
// label, and the main window and its tool bar are reported as what they are.
#include "about/Formabout.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "encode/Formmetadata.h"
#include "encode/Formoutput.h"
#include "i18n/Formlanguage.h"
#include "join/Formprocess.h"
#include "platform/Accessibility.h"

#include "app/MainWindowFixture.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QToolTip>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using enum QAccessible::Role;

// Roles that tell the user something or take input, focusable or not.
constexpr QAccessible::Role kInformative[] = {
    PushButton, ButtonMenu, ButtonDropDown, CheckBox, RadioButton, ComboBox, EditableText, List,
    Tree,       Table,      ProgressBar,    Slider,   SpinBox,     Link,     Graphic};

bool SaysSomething(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetterOrNumber(); });
}

// Walks the visible tree below iface.
void ExpectNamed(QAccessibleInterface* iface, const std::string& where) {
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface* child = iface->child(i);
        if (child == nullptr || child->state().invisible) {
            continue;
        }
        const QAccessible::Role role = child->role();
        const std::string what = where + " " + child->object()->objectName().toStdString() + " (role " +
                                 std::to_string(role) + ")";
        // "..." is no name.
        if (child->state().focusable ||
            std::find(std::begin(kInformative), std::end(kInformative), role) != std::end(kInformative)) {
            EXPECT_TRUE(SaysSomething(child->text(QAccessible::Name))) << what << " has no name";
        }
        // On Linux Qt names a combo box by its current item; the label tied to it says what it chooses.
        if (role == ComboBox) {
            EXPECT_FALSE(child->relations(QAccessible::Label).isEmpty()) << what << " has no label";
        }
        const auto* button = qobject_cast<const QAbstractButton*>(child->object());
        if (button != nullptr && !SaysSomething(button->text())) {
            EXPECT_FALSE(child->text(QAccessible::Description).isEmpty()) << what << " shows no word";
        }
        // A view's cells are its data, named by their own texts; a combo box's list by its items.
        if (role != ComboBox && role != List && role != Tree && role != Table) {
            ExpectNamed(child, where);
        }
    }
}

void ExpectWindowNamed(QWidget* window, const std::string& where) {
    window->show();
    QApplication::processEvents();
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(window);
    EXPECT_FALSE(iface->text(QAccessible::Name).isEmpty()) << where;
    ExpectNamed(iface, where);
    window->hide();
}

// A label tied to its control names it (Qt names a combo box by its item) and is reported as its label.
void ExpectLabels(const QLabel* label, QWidget* control, const std::string& where) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
    const QString name = iface->text(QAccessible::Name);
    EXPECT_TRUE(qobject_cast<QComboBox*>(control) || (!name.isEmpty() && label->text().startsWith(name)))
        << where << " " << name.toStdString();
    const auto labels = iface->relations(QAccessible::Label);
    EXPECT_TRUE(
        std::any_of(labels.begin(), labels.end(), [label](auto l) { return l.first->object() == label; }))
        << where << " " << control->objectName().toStdString();
}

using AccessibleNamesTest = MainWindowFixture;

TEST_F(AccessibleNamesTest, EveryControlOfEveryWindowIsNamedInEveryLanguage) {
    for (const QString& file : WriteShippedLanguages()) {
        const std::string language = file.toStdString();
        // The banner shows: it is a control of the tool bar too.
        WriteSettings("[General]\nLanguage=" + file.toUtf8() + "\n");
        CreateForms();
        MainForm->ApplyLanguage();
        EXPECT_EQ(QAccessible::queryAccessibleInterface(MainForm)->role(), Window);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(MainForm->Panel1)->role(), ToolBar);
        ExpectWindowNamed(MainForm, language + " main window");
        ExpectWindowNamed(AboutForm, language + " about");
        ExpectWindowNamed(ProcessForm, language + " progress");
        ExpectWindowNamed(LanguageForm, language + " language");
        for (int page = 0; page < OutputForm->PageControl1->count(); ++page) {
            OutputForm->PageControl1->setCurrentIndex(page);
            ExpectWindowNamed(OutputForm, language + " wizard page " + std::to_string(page));
        }
        OutputForm->MetadataForm->SetRows({QStringLiteral("/music/take.wav")});
        ExpectWindowNamed(OutputForm->MetadataForm, language + " tags and chapters");
        ExpectLabels(ProcessForm->Label2, ProcessForm->ProgressBar1, language);
        ExpectLabels(ProcessForm->Label3, ProcessForm->ProgressBar2, language);
        ExpectLabels(LanguageForm->Label1, LanguageForm->ComboBoxLanguage, language);
        DestroyForms();
    }
}

TEST_F(AccessibleNamesTest, ThePictureButtonsShowTheirTipWhenTheKeyboardFocusesThem) {
    CreateForms();
    MainForm->ApplyLanguage();
    MainForm->show();
    // The tip comes after the key is let go; a second is long enough to see whether it does.
    const auto focus = [](QWidget* button, Qt::FocusReason reason) {
        button->setFocus(reason);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(button, &release);
        QElapsedTimer waited;
        waited.start();
        while (!QToolTip::isVisible() && waited.elapsed() < 1000) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    // The mouse shows the tip by hovering, not by a click that focuses.
    EXPECT_TRUE(focus(MainForm->ButtonUp, Qt::MouseFocusReason).isEmpty());
    EXPECT_EQ(focus(MainForm->ButtonUp, Qt::TabFocusReason), MainForm->ButtonUp->toolTip());
    EXPECT_EQ(focus(MainForm->ButtonDown, Qt::BacktabFocusReason), MainForm->ButtonDown->toolTip());
    OutputForm->show();
    OutputForm->PageControl1->setCurrentIndex(TOutputForm::kFilePage);
    OutputForm->activateWindow();
    QApplication::processEvents();
    OutputForm->ButtonCancel->setFocus();
    EXPECT_EQ(focus(OutputForm->ButtonSave, Qt::ShortcutFocusReason), OutputForm->ButtonSave->toolTip());
    OutputForm->hide();
    QToolTip::hideText();
}

TEST(NameOfCaption, LeavesOutTheMnemonicAndTheClosingColonOfEveryLanguage) {
    const char* const cases[][2] = {
        {"Move &up", "Move up"}, {"上移(&U)", "上移"},       {"上へ移動（&U）", "上へ移動"}, {"R&&B", "R&B"},
        {"合併：", "合併"},      {"Site Web :", "Site Web"}, {"Кодир.:", "Кодир."}};
    for (const auto& c : cases) {
        EXPECT_EQ(platform::NameOfCaption(QString::fromUtf8(c[0])), QString::fromUtf8(c[1])) << c[0];
    }
}

}  // namespace
