// SPDX-License-Identifier: GPL-3.0-or-later
// Every shipped language file applied to the real windows at their designed sizes, on an ordinary
// desktop and on one with larger text: no text is cut, and no text runs into another control.
#include "about/Formabout.h"
#include "app/AudioFileRow.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "encode/Formmetadata.h"
#include "encode/Formoutput.h"
#include "i18n/Formlanguage.h"
#include "join/Formprocess.h"

#include "app/MainWindowFixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QStackedWidget>
#include <QStyleOptionGroupBox>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <optional>

namespace {

// Where a control draws its text and the room it has for it, in window coordinates.
struct TextPlace {
    QRect text;
    QRect room;
};

std::optional<TextPlace> PlaceOfText(const QWidget* w) {
    const QFontMetrics fm = w->fontMetrics();
    const auto at = [w](const QRect& r) { return QRect(w->mapTo(w->window(), r.topLeft()), r.size()); };
    if (const auto* label = qobject_cast<const QLabel*>(w); label && !label->text().isEmpty()) {
        // A line may be taller than its room as long as no ink of the text falls outside it.
        const QRect room = label->contentsRect();
        const int width = fm.horizontalAdvance(label->text());
        const QRect line = QStyle::alignedRect(label->layoutDirection(), label->alignment(),
                                               QSize(width, fm.height()), room);
        const QRect ink = fm.tightBoundingRect(label->text());
        const QRect box(line.left(), line.top() + fm.ascent() + ink.top(), width, ink.height());
        return TextPlace{at(box), at(room)};
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(w); group && !group->title().isEmpty()) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.textAlignment = group->alignment();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect box =
            w->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, w);
        return TextPlace{at(box), at(w->rect())};
    }
    const auto* button = qobject_cast<const QAbstractButton*>(w);
    if (button == nullptr || button->text().isEmpty()) {
        return std::nullopt;
    }
    // '&' marks the shortcut and takes no room.
    const int width = fm.size(Qt::TextShowMnemonic, button->text()).width();
    if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w)) {
        const int indicator = w->sizeHint().width() - width;
        const int top = (w->height() - fm.height()) / 2;
        return TextPlace{at(QRect(indicator, top, width, fm.height())), at(w->rect())};
    }
    // Push and tool buttons centre their caption inside their frame; Qt shortens a tool button's
    // caption at it.
    const int frame = qobject_cast<const QPushButton*>(w)
                          ? w->style()->pixelMetric(QStyle::PM_ButtonMargin) / 2
                          : w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
    const QRect room = w->rect().adjusted(frame, 0, -frame, 0);
    return TextPlace{at(QRect((w->width() - width) / 2, 0, width, w->height())), at(room)};
}

// A control that others must keep clear of: its text where it has one, else its whole box.
std::optional<QRect> Occupied(const QWidget* w) {
    if (const std::optional<TextPlace> place = PlaceOfText(w)) {
        return place->text;
    }
    if (qobject_cast<const QProgressBar*>(w) || qobject_cast<const QComboBox*>(w) ||
        qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
        qobject_cast<const QAbstractButton*>(w) || w->inherits("TBannerPane") ||
        (qobject_cast<const QLabel*>(w) && !qobject_cast<const QLabel*>(w)->pixmap().isNull())) {
        return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size());
    }
    return std::nullopt;
}

// Every visible text of window fits its control, and keeps a word space from any other control,
// two from any other text: closer captions read as one.
void ExpectTextsFit(QWidget* window, const std::string& where) {
    QApplication::processEvents();
    const QList<QWidget*> all = window->findChildren<QWidget*>();
    for (const QWidget* w : all) {
        const std::optional<TextPlace> place = PlaceOfText(w);
        if (!w->isVisibleTo(window) || !place) {
            continue;
        }
        const std::string name = where + " " + w->objectName().toStdString();
        EXPECT_TRUE(place->room.contains(place->text)) << name << " cuts its text";
        // A page of fixed size squeezes its groups below the height their controls need.
        if (qobject_cast<const QGroupBox*>(w)) {
            EXPECT_GE(w->height(), w->minimumSizeHint().height())
                << name << " is squeezed to " << w->height();
        }
        const int space = w->fontMetrics().horizontalAdvance(QLatin1Char(' '));
        for (const QWidget* other : all) {
            const std::optional<QRect> box = Occupied(other);
            if (other == w || !other->isVisibleTo(window) || !box || w->isAncestorOf(other) ||
                other->isAncestorOf(w)) {
                continue;
            }
            const int gap = PlaceOfText(other) ? 2 * space : space;
            EXPECT_FALSE(place->text.adjusted(-gap, 0, gap, 0).intersects(*box))
                << name << " at " << place->text.left() << ".." << place->text.right() << " runs into "
                << other->objectName().toStdString() << " at " << box->left() << ".." << box->right();
        }
    }
}

// The parameter: the desktop's text size as a multiple of Qt's own font, which the windows read
// before they are built.
class LanguageFitTest : public MainWindowFixture, public testing::WithParamInterface<double> {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        QFont larger = desktopFont_;
        larger.setPointSizeF(desktopFont_.pointSizeF() * GetParam());
        QApplication::setFont(larger);
    }
    void TearDown() override {
        MainWindowFixture::TearDown();
        QApplication::setFont(desktopFont_);
    }
    // The size the design's length has on this desktop.
    int Grown(int design) const { return qRound(design * GetParam()); }

    const QFont desktopFont_ = QApplication::font();
};

INSTANTIATE_TEST_SUITE_P(DesktopFonts, LanguageFitTest, testing::Values(1.0, 1.5));

TEST_P(LanguageFitTest, EveryLanguageFitsEveryWindowAtItsDesignedSize) {
    const QStringList files = WriteShippedLanguages();
    QString previous = files.last();
    for (const QString& file : files) {
        const std::string language = file.toStdString();
        // The dialogs are shown in another language first: every label must follow a change of
        // text and font after its first showing.
        WriteSettings("[General]\nAd=0\nLanguage=" + previous.toUtf8() + "\n");
        CreateForms();
        MainForm->ApplyLanguage();
        for (QWidget* dialog : std::initializer_list<QWidget*>{AboutForm, ProcessForm}) {
            dialog->show();
            QApplication::processEvents();
            dialog->hide();
        }
        previous = file;
        WriteSettings("[General]\nAd=0\nLanguage=" + file.toUtf8() + "\n");
        for (const char* channels : {"1", "2"}) {
            AudioFileRowTexts texts;
            texts.caption = QStringLiteral("take.wav");
            texts.subItems = {"44100 Hz", "", "", "12 KB", "00:03", "/music/", "44100", channels, "16", "3"};
            MainForm->ListView1->addTopLevelItem(new AudioFileRow(texts));
        }
        MainForm->ApplyLanguage();
        MainForm->UpdateStatusBar();

        MainForm->show();
        ASSERT_EQ(MainForm->size(), QSize(Grown(TMainForm::kClientWidth), Grown(TMainForm::kClientHeight)));
        ExpectTextsFit(MainForm, language + " main window");
        const QHeaderView* header = MainForm->ListView1->header();
        const int headerMargin = header->style()->pixelMetric(QStyle::PM_HeaderMargin);
        for (int column = 0; column < header->count(); ++column) {
            const QString title = MainForm->ListView1->headerItem()->text(column);
            EXPECT_LE(header->fontMetrics().horizontalAdvance(title) + 2 * headerMargin,
                      header->sectionSize(column))
                << language << " title of column " << column;
        }
        // The channel and bits cells hold language words.
        const auto* list = static_cast<const QAbstractItemView*>(MainForm->ListView1);
        for (const int column : {2, 3}) {
            EXPECT_LE(list->sizeHintForColumn(column), MainForm->ListView1->columnWidth(column))
                << language << " cells of column " << column;
        }
        for (QWidget* dialog : std::initializer_list<QWidget*>{AboutForm, ProcessForm, LanguageForm}) {
            dialog->show();
            ProcessForm->Label1->setText(QStringLiteral("/music/take (g).wav"));
            ExpectTextsFit(dialog, language + " " + dialog->objectName().toStdString());
            dialog->hide();
        }
        // The licence, the last line, stays inside the frame whatever the font's height.
        EXPECT_TRUE(AboutForm->Bevel1->geometry().contains(AboutForm->LabelLicence->geometry())) << language;
        OutputForm->show();
        for (int page = 0; page < OutputForm->PageControl1->count(); ++page) {
            OutputForm->PageControl1->setCurrentIndex(page);
            ExpectTextsFit(OutputForm, language + " OutputForm page " + std::to_string(page));
        }
        OutputForm->MetadataForm->SetRows({QStringLiteral("/music/take.wav")});
        OutputForm->MetadataForm->show();
        ExpectTextsFit(OutputForm->MetadataForm, language + " MetadataForm");
        OutputForm->MetadataForm->hide();
        // The new commands are translated: a language without them would show English.
        const bool english = file == "English.ini";
        EXPECT_EQ(MainForm->ActionSortByName->text() == "&Sort by name", english) << language;
        EXPECT_EQ(AboutForm->LabelLicence->text() == TAboutForm::kEnglishLicence, english) << language;
        EXPECT_EQ(OutputForm->CheckBoxMP3Copy->text() == "Join &without re-encoding", english) << language;
        EXPECT_EQ(OutputForm->MetadataForm->CheckBoxCueSheet->text() == "C&ue sheet beside the output file",
                  english)
            << language;
        // The list's menu: a mnemonic of its own for each command.
        QSet<QChar> mnemonics;
        for (const QAction* action :
             {MainForm->ActionSortByName, MainForm->ActionUndo, MainForm->ActionRemove, MainForm->ActionUp,
              MainForm->ActionDown, MainForm->ActionClear}) {
            const QString text = action->text();
            const qsizetype amp = text.indexOf(QLatin1Char('&'));
            ASSERT_TRUE(amp >= 0 && amp + 1 < text.size()) << language << " " << text.toStdString();
            const QChar mnemonic = text.at(amp + 1).toCaseFolded();
            EXPECT_FALSE(mnemonics.contains(mnemonic)) << language << " " << text.toStdString();
            mnemonics.insert(mnemonic);
        }
        DestroyForms();
    }
}

}  // namespace
