#include "about/Formabout.h"
#include "app/AudioFileRow.h"
#include "app/Formmain.h"
#include "encode/Formoutput.h"
#include "i18n/Formlanguage.h"
#include "join/Formprocess.h"

#include <QFont>
#include <QHeaderView>
#include <QToolButton>
#include <QTreeWidget>

#include <array>

namespace {

// A whole number, or def when the text is not one.
int ToInt(const QString& text, int def) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : def;
}

// The five windows in the order each font property is applied to them.
std::array<QWidget*, 5> FiveWindows() {
    return {MainForm, AboutForm, ProcessForm, OutputForm, LanguageForm};
}

}  // namespace

void TMainForm::ApplyLanguage() {
    OpenLanguageFile();

    // Controls with a font of their own keep it; the rest follow their window.
    const QString fontName = LanguageText(QStringLiteral("LanguageProperty"), QStringLiteral("FontName"),
                                          QStringLiteral("Tahoma"));
    const int fontSize = ToInt(
        LanguageText(QStringLiteral("LanguageProperty"), QStringLiteral("FontSize"), QStringLiteral("8")), 8);
    for (QWidget* window : FiveWindows()) {
        if (window != nullptr) {
            QFont font = window->font();
            font.setFamily(fontName);
            font.setPointSize(fontSize > 0 ? fontSize : 8);
            window->setFont(font);
        }
    }
    // CharSet chose the code page of the file's texts; they arrive here already decoded.

    const QString toolBar = QStringLiteral("ToolBar");
    const QString hint = QStringLiteral("Hint");
    const struct {
        QToolButton* button;
        const char* key;
    } buttons[] = {
        {ButtonAdd, "Add"},       {ButtonRemove, "Remove"},     {ButtonClear, "Clear"},
        {ButtonJoin, "Join"},     {ButtonLanguage, "Language"}, {ButtonAbout, "About"},
        {ButtonUpdate, "Update"},
    };
    for (const auto& b : buttons) {
        b.button->setText(LanguageText(toolBar, QLatin1String(b.key), QString()));
    }
    for (const auto& b : buttons) {
        b.button->setToolTip(LanguageText(hint, QLatin1String(b.key), QString()));
    }
    ButtonUp->setToolTip(LanguageText(hint, QStringLiteral("Up"), QString()));
    ButtonDown->setToolTip(LanguageText(hint, QStringLiteral("Down"), QString()));

    const char* const columnKeys[] = {"Name", "Frequency", "Channels", "Sample", "Size", "Time", "Path"};
    QTreeWidgetItem* header = ListView1->headerItem();
    for (int i = 0; i < static_cast<int>(std::size(columnKeys)); ++i) {
        header->setText(i, LanguageText(QStringLiteral("ListView"), QLatin1String(columnKeys[i]), QString()));
    }

    // The channel and bits cells of every row are made of language words; the numbers behind them stay.
    const RowWords words = CurrentRowWords();
    for (int i = 0; i < RowCount(); ++i) {
        AudioFileRow* row = Row(i);
        row->SetSubItem(1, ChannelsText(row->SubItem(7), words));
        row->SetSubItem(2, BitsText(row->SubItem(8), words));
    }

    SetOpenDialogFilter(LanguageText(QStringLiteral("OpenDialog"), QStringLiteral("Filter"), QString()));
}
