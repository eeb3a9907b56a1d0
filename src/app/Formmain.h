// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "about/Banner.h"
#include "app/RowTexts.h"
#include "i18n/Language.h"
#include "platform/FileFilter.h"
#include "platform/SignalCleanup.h"

#include <QIcon>
#include <QList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AudioFileRow;
namespace join {
class JoinRows;
}
class QAction;
class QFileDialog;
class QFrame;
class QKeyEvent;
class QLabel;
class QMimeData;
class QStatusBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

// The main window: tool bar, file list, order buttons and status bar.
class TMainForm : public QWidget {
    Q_OBJECT
public:
    // Client area as designed; the window may not become narrower than this.
    static constexpr int kClientWidth = 710;
    static constexpr int kClientHeight = 456;
    static constexpr int kBannerWidth = 257;
    static constexpr int kToolBarHeight = 65;

    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Components, in declaration order.
    QFrame* Panel1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QFrame* Panel2 = nullptr;
    QFrame* Panel3 = nullptr;
    QTreeWidget* ListView1 = nullptr;
    QToolButton* ButtonAdd = nullptr;
    QToolButton* ButtonRemove = nullptr;
    QToolButton* ButtonClear = nullptr;
    QFrame* Bevel1 = nullptr;
    QToolButton* ButtonJoin = nullptr;
    QFrame* Bevel2 = nullptr;
    QToolButton* ButtonLanguage = nullptr;
    QFrame* Bevel3 = nullptr;
    QToolButton* ButtonAbout = nullptr;
    QToolButton* ButtonUpdate = nullptr;
    QToolButton* ButtonUp = nullptr;
    QToolButton* ButtonDown = nullptr;
    TBannerPane* CppWebBrowser1 = nullptr;
    QList<QIcon> ImageList1;
    QFileDialog* OpenDialog1 = nullptr;

    // Own fields.
    QString TempPath;  // ends in '/'
    QString AppDir;    // ends in '/'
    QString AdFile;
    QString TempPcmFile;
    QString EncodedHomePage;
    std::unique_ptr<i18n::LanguageFile> LanguageIni;

    // The texts of the status bar's two panels.
    QLabel* StatusPanel(int index) const;

    // The open dialog's filter in the Windows syntax ("description|patterns|..."), as the language
    // file gives it; applied to OpenDialog1 converted to Qt's syntax.
    void SetOpenDialogFilter(const QString& windowsFilter);
    const QString& OpenDialogFilter() const { return openDialogFilter_; }

    // Looks up a translated text in the open language file.
    QString LanguageText(const QString& section, const QString& key, const QString& def) const;
    // The same for a text the design's language files do not have: where the file lacks it, or
    // leaves it empty, the English text stands in.
    QString LanguageTextOr(const char* section, const char* key, const char* english) const;

    // The file list: row i of ListView1 has image i of ImageList1.
    AudioFileRow* Row(int index) const;
    int RowCount() const;
    int ImageIndex(int row) const;
    // Probes the paths (sorted in place first) and appends a row for every accepted file; shows a
    // message for every rejected one.
    void AddFiles(QStringList& paths);
    // Whether a drag brings files the window may add; none while a join runs.
    bool CanDropFiles(const QMimeData* dragged) const;
    // Adds the files and folders a drop brings, as WMDropFiles does.
    void DropFiles(const QMimeData* dropped);
    // Files dropped on the window: added, then the status bar refreshed. A dropped folder adds the
    // audio files in it and its subfolders, by name, numbers by value.
    void WMDropFiles(const QStringList& paths);
    void UpdateStatusBar();
    // [ListView] Bits, Mono and Stereo of the current language.
    RowWords CurrentRowWords() const;
    void ButtonAddClick();
    void ButtonRemoveClick();
    void ButtonClearClick();
    void ButtonUpClick();
    // Runs one join: the output wizard, the job inside the progress dialog, the completion message.
    void ButtonJoinClick();
    void ButtonDownClick();
    // Delete on the list does what Remove does; true when the key was taken.
    bool ListView1KeyDown(const QKeyEvent* e);
    // Routes the list's key presses to ListView1KeyDown; called once, after the windows exist.
    void ConnectListKeys();
    // Shows the language dialog; whatever its result, applies the language and refreshes the status bar.
    void ButtonLanguageClick();
    // About shows the about dialog with the decoded home page; Update opens that page.
    void ButtonAboutClick();
    void ButtonUpdateClick();
    // What the home page's warning box says before the address when no browser could be opened.
    QString NoBrowserText() const;
    // Every page the banner shows loses its border.
    void CppWebBrowser1DocumentComplete(QObject* sender);
    // The list's context menu: Sort by name, Undo, then Remove, Up, Down and Clear as the buttons do.
    // Sort by name and Undo, and Up and Down, have shortcuts that leave the focus in the list.
    QAction* ActionSortByName = nullptr;
    QAction* ActionUndo = nullptr;
    QAction* ActionRemove = nullptr;
    QAction* ActionUp = nullptr;
    QAction* ActionDown = nullptr;
    QAction* ActionClear = nullptr;
    // Orders the rows as the joiner's --sort=natural does: by folder, then by file name, case and
    // spaces ignored and numbers by value.
    void SortByName();
    // Moves the selected rows, in their order, to where row target stands (RowCount(): the end), as
    // a drag inside the list does.
    void MoveSelectedRowsTo(int target);
    // Adds the rows (ascending) to the selection.
    void SelectRows(const std::vector<int>& rows);
    // Takes back the last change of the list (an Add or drop, Remove, Clear, a move or a sort);
    // false when there is none.
    bool UndoListChange();
    // The menu's texts in the current language.
    void ApplyListMenuTexts();
    // The wizard's texts for tags, chapters, the cue sheet and joining without re-encoding.
    void ApplyWizardExtraTexts();
    // Why rows cannot be joined without re-encoding, in the current language; empty when they can.
    QString CopyRefusal(const join::JoinRows& rows) const;
    // Enables the menu's commands that would do something now.
    void UpdateListMenu();

    // Shows the open dialog; false when it was cancelled. Tests put their own chooser here.
    std::function<bool(QStringList& paths)> ExecuteOpenDialog;

    void FormCreate();
    void FormActivate();
    void FormDestroy();
    // Opens the current language file; a settings file that cannot be written is reported once a run.
    void OpenLanguageFile();
    // Opens the language file and applies its fonts and texts to the windows.
    void ApplyLanguage();

    // The designed client width, grown with the desktop's text size.
    static int MinimumClientWidth();
    // A resize is allowed only when the new width is at least the designed client width.
    static bool FormCanResize(int newWidth) { return newWidth >= MinimumClientWidth(); }

    // True when the right-button press at globalPos must be swallowed: it lies strictly inside the
    // banner's rectangle.
    bool IsInsideBanner(const QPoint& globalPos) const;

protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void CreateToolBar();
    void CreateFileList();
    void CreateStatusBar();
    // Gives the status bar the height its panels' texts need in the current font.
    void FitStatusBarToFont();
    void PlaceBanner();
    // Writes the animation to AdFile and shows the banner page naming it.
    void SetUpBanner();
    bool ApplicationEvents1Message(QEvent* e);
    bool RunOpenDialog(QStringList& paths);
    QIcon FileTypeIcon(const QString& extension) const;
    void SetImageIndex(QTreeWidgetItem* row, int index);
    // Appends a row for every accepted path, in the order given; a refused one gets a message, or
    // all of them one message together.
    void AddRows(const QStringList& paths, bool oneMessage);
    // The WAV, MP3 and WMA files in folder and its subfolders, in the order of their names.
    void AddFolder(const QString& folder);
    // Removes the rows (ascending) with their icons.
    void RemoveRows(const std::vector<int>& rows);
    // Moves the one selected row by step (-1 up, +1 down) with its icon.
    void MoveSelectedRow(int step);
    void CreateListMenu();
    // Puts the rows in order (the old indexes, in their new order) with their icons and selection.
    void ReorderRows(const std::vector<int>& order);
    // Keeps the list as it is, before a change that Undo takes back.
    void RememberList();

    struct SavedRow {
        std::shared_ptr<const AudioFileRowTexts> texts;
        QIcon icon;
        bool selected = false;
    };
    using ListSnapshot = std::vector<SavedRow>;
    std::vector<ListSnapshot> listHistory_;

    QString openDialogFilter_;
    std::optional<platform::RemovedOnSignal> adFileOnSignal_;
    bool settingsWriteErrorShown_ = false;
    // From the Join button's wizard to its completion message; the list stays as the job reads it.
    bool joinRunning_ = false;
    // While an Add lets the window paint between its files, nothing else may add rows.
    bool addingRows_ = false;
    bool destroyed_ = false;
};

extern TMainForm* MainForm;
