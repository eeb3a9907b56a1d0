// SPDX-License-Identifier: GPL-3.0-or-later
// The file list of the main window: adding files, the status bar totals and list editing.
#include "app/AudioFileRow.h"
#include "app/Formmain.h"
#include "app/ToolIcons.h"
#include "audio/NaturalOrder.h"
#include "platform/FileFilter.h"
#include "platform/FilePath.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMimeDatabase>
#include <QTreeWidget>
#include <QUrl>

#include <filesystem>

#include <utility>
#include <vector>

namespace {

constexpr int kImageIndexRole = Qt::UserRole;

// While an Add or a dropped folder works through thousands of files, the window keeps painting, at
// most 25 ms apart; clicks and keys wait for the end, and drops are refused meanwhile.
class AddingRows {
public:
    explicit AddingRows(bool& adding) : adding_(adding), was_(std::exchange(adding, true)) {
        if (!was_) {
            Since().start();
        }
    }
    ~AddingRows() { adding_ = was_; }
    AddingRows(const AddingRows&) = delete;
    AddingRows& operator=(const AddingRows&) = delete;

    void KeepPainting() {
        constexpr qint64 kEventsEveryMs = 25;
        if (Since().elapsed() >= kEventsEveryMs) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            Since().restart();
        }
    }

private:
    // One clock for a dropped folder and the Add of its files.
    static QElapsedTimer& Since() {
        static QElapsedTimer since;
        return since;
    }

    bool& adding_;
    bool was_;
};

QStringList LocalPaths(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        // A name that is not UTF-8 keeps its bytes only in the encoded address: toLocalFile makes
        // U+FFFD of them.
        if (url.isLocalFile()) {
            paths << (url.host().isEmpty() ? platform::DecodeName(QByteArray::fromPercentEncoding(
                                                 url.path(QUrl::FullyEncoded).toLatin1()))
                                           : url.toLocalFile());
        }
    }
    return paths;
}

// Hands the list's key presses to the main window before the list sees them.
class ListKeyFilter : public QObject {
public:
    explicit ListKeyFilter(TMainForm* form) : QObject(form->ListView1), form_(form) {}
    bool eventFilter(QObject* /*watched*/, QEvent* e) override {
        return e->type() == QEvent::KeyPress && form_->ListView1KeyDown(static_cast<QKeyEvent*>(e));
    }

private:
    TMainForm* form_;
};

}  // namespace

AudioFileRow* TMainForm::Row(int index) const {
    return static_cast<AudioFileRow*>(ListView1->topLevelItem(index));
}

int TMainForm::RowCount() const {
    return ListView1->topLevelItemCount();
}

RowWords TMainForm::CurrentRowWords() const {
    return LanguageRowWords(LanguageIni.get());
}

QIcon TMainForm::FileTypeIcon(const QString& extension) const {
    // By the extension alone: the file itself is not read for its icon.
    static const QMimeDatabase mimeDatabase;
    const QMimeType mime =
        mimeDatabase.mimeTypeForFile(QStringLiteral("file") + extension, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(mime.iconName());
    if (icon.isNull()) {
        icon = QIcon::fromTheme(mime.genericIconName());
    }
    return icon.isNull() ? MakeFileTypeIcon(extension.mid(1), 16) : icon;
}

void TMainForm::SetImageIndex(QTreeWidgetItem* row, int index) {
    row->setData(0, kImageIndexRole, index);
    row->setIcon(0, ImageList1.value(index));
}

int TMainForm::ImageIndex(int row) const {
    return ListView1->topLevelItem(row)->data(0, kImageIndexRole).toInt();
}

void TMainForm::AddFiles(QStringList& paths) {
    SortPaths(paths);
    AddRows(paths, false);
}

void TMainForm::AddRows(const QStringList& paths, bool oneMessage) {
    const RowWords words = CurrentRowWords();
    // One icon per file type for this call; a type looked up once serves every file of that type.
    QHash<QString, QIcon> icons;
    RememberList();
    const int before = RowCount();
    QStringList refused;
    const QString caption = LanguageText(QStringLiteral("Common"), QStringLiteral("Message"), {});
    // The rows are put in together: the view lays its rows out again after every insertion.
    QList<QTreeWidgetItem*> made;
    const auto putMade = [&] {
        ListView1->addTopLevelItems(made);
        made.clear();
    };
    AddingRows adding(addingRows_);
    for (const QString& path : paths) {
        const ProbeResult probe = ProbeFile(path);
        if (probe.status != ProbeStatus::Accepted) {
            refused << path + QLatin1Char('\n') +
                           LanguageText(QStringLiteral("OpenDialog"), RejectionKey(probe.status), {});
            if (!oneMessage) {
                putMade();
                platform::MessageBox(refused.takeLast(), caption,
                                     platform::MB_ICONINFORMATION | platform::MB_SYSTEMMODAL);
            }
            continue;
        }
        const QString extension = FileExtension(path).toLower();
        auto icon = icons.find(extension);
        if (icon == icons.end()) {
            icon = icons.insert(extension, FileTypeIcon(extension));
        }
        ImageList1.append(*icon);
        auto* row = new AudioFileRow(MakeRowTexts(path, probe.values, words));
        SetImageIndex(row, static_cast<int>(ImageList1.size()) - 1);
        made.append(row);
        adding.KeepPainting();
    }
    putMade();
    if (RowCount() == before) {
        listHistory_.pop_back();
    }
    // A folder of hundreds of files refuses its strays in one message, the first few of them named.
    constexpr qsizetype kNamed = 10;
    if (!refused.isEmpty()) {
        QString text = refused.mid(0, kNamed).join(QStringLiteral("\n\n"));
        if (refused.size() > kNamed) {
            text += QStringLiteral("\n\n(+%1)").arg(refused.size() - kNamed);
        }
        platform::MessageBox(text, caption, platform::MB_ICONINFORMATION | platform::MB_SYSTEMMODAL);
    }
}

void TMainForm::AddFolder(const QString& folder) {
    AddingRows adding(addingRows_);
    QStringList paths;
    std::error_code error;
    const auto options = std::filesystem::directory_options::skip_permission_denied;
    for (std::filesystem::recursive_directory_iterator
             it(platform::EncodeName(folder).toStdString(), options, error),
         end;
         !error && it != end; it.increment(error)) {
        const QString path = platform::DecodeName(QByteArray::fromStdString(it->path().native()));
        const QString extension = FileExtension(path);
        const bool audio = extension.compare(QLatin1String(".wav"), Qt::CaseInsensitive) == 0 ||
                           extension.compare(QLatin1String(".mp3"), Qt::CaseInsensitive) == 0 ||
                           extension.compare(QLatin1String(".wma"), Qt::CaseInsensitive) == 0;
        if (audio && it->is_regular_file(error)) {
            paths << path;
        }
        adding.KeepPainting();
    }
    SortPathsNaturally(paths);
    adding.KeepPainting();
    AddRows(paths, true);
}

void TMainForm::ButtonAddClick() {
    if (joinRunning_) {
        return;
    }
    QStringList paths;
    if (!ExecuteOpenDialog(paths)) {
        return;
    }
    AddFiles(paths);
    UpdateStatusBar();
}

bool TMainForm::RunOpenDialog(QStringList& paths) {
    const bool accepted = OpenDialog1->exec() == QDialog::Accepted;
    // Where no window manager hands the focus back after the dialog, nothing would have it and the
    // keys would go nowhere: the list takes it, as after any other dialog.
    activateWindow();
    ListView1->setFocus(Qt::OtherFocusReason);
    if (!accepted) {
        return false;
    }
    // Once one typed name is in the dialog's list, Qt returns only the listed ones and drops the
    // rest (a name its filter hides, one that does not exist); each typed name gets a row or a message.
    const auto* typed = OpenDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    paths = WithTypedFiles(OpenDialog1->selectedFiles(), typed != nullptr ? typed->text() : QString(),
                           OpenDialog1->directory().absolutePath());
    return true;
}

void TMainForm::WMDropFiles(const QStringList& dropped) {
    if (joinRunning_ || addingRows_) {
        return;
    }
    // The window comes to the front while the dropped files are probed and their messages shown.
    raise();
    activateWindow();
    // Files as the design adds them; a folder with the audio files in it and its subfolders, in the
    // order of their names.
    QStringList paths;
    for (const QString& path : dropped) {
        if (!platform::FileStatus(path).IsDir()) {
            paths << path;
        }
    }
    AddFiles(paths);
    for (const QString& path : dropped) {
        if (platform::FileStatus(path).IsDir()) {
            AddFolder(path);
        }
    }
    UpdateStatusBar();
}

bool TMainForm::CanDropFiles(const QMimeData* dragged) const {
    return acceptDrops() && !joinRunning_ && !addingRows_ && !LocalPaths(dragged).isEmpty();
}

void TMainForm::DropFiles(const QMimeData* dropped) {
    const QStringList paths = LocalPaths(dropped);
    if (!paths.isEmpty()) {
        WMDropFiles(paths);
    }
}

void TMainForm::dragEnterEvent(QDragEnterEvent* e) {
    if (CanDropFiles(e->mimeData())) {
        e->acceptProposedAction();
    }
}

void TMainForm::dropEvent(QDropEvent* e) {
    if (LocalPaths(e->mimeData()).isEmpty()) {
        return;
    }
    e->acceptProposedAction();
    DropFiles(e->mimeData());
}

void TMainForm::UpdateStatusBar() {
    StatusPanel(0)->setText(QString::number(RowCount()) + QLatin1Char(' ') +
                            LanguageText(QStringLiteral("StatusBar"), QStringLiteral("Files"), {}));
    std::uint64_t total = 0;
    for (int i = 0; i < RowCount(); ++i) {
        total += Row(i)->Seconds();
    }
    StatusPanel(1)->setText(LanguageText(QStringLiteral("StatusBar"), QStringLiteral("Time"), {}) +
                            QLatin1Char(' ') + ClockText(total));
}

void TMainForm::ButtonRemoveClick() {
    if (joinRunning_) {
        return;
    }
    std::vector<int> selected;
    for (int i = 0; i < RowCount(); ++i) {
        if (ListView1->topLevelItem(i)->isSelected()) {
            selected.push_back(i);
        }
    }
    if (!selected.empty()) {
        RememberList();
        // Unselected first: the view would otherwise carry the whole selection through the removal.
        ListView1->clearSelection();
        RemoveRows(selected);
    }
    // The row that moved up into the first removed place, or the last one, is selected, so Delete
    // can be pressed again.
    if (!selected.empty() && RowCount() > 0) {
        QTreeWidgetItem* next = ListView1->topLevelItem(qMin(selected.front(), RowCount() - 1));
        ListView1->setCurrentItem(next);
        next->setSelected(true);
    }
    UpdateStatusBar();
}

void TMainForm::RemoveRows(const std::vector<int>& rows) {
    // Every row out and the kept ones back at once: one at a time, the view lays out the rows after
    // each, and thousands of rows among thousands take seconds.
    const QList<QTreeWidgetItem*> taken = ListView1->invisibleRootItem()->takeChildren();
    QList<QTreeWidgetItem*> kept;
    QList<QIcon> keptIcons;
    kept.reserve(taken.size() - static_cast<qsizetype>(rows.size()));
    keptIcons.reserve(kept.capacity());
    for (qsizetype i = 0, next = 0; i < taken.size(); ++i) {
        if (next < static_cast<qsizetype>(rows.size()) && rows[static_cast<std::size_t>(next)] == i) {
            ++next;
            delete taken[i];
        } else {
            kept.append(taken[i]);
            keptIcons.append(ImageList1.value(i));
        }
    }
    ImageList1 = keptIcons;
    for (qsizetype i = 0; i < kept.size(); ++i) {
        SetImageIndex(kept[i], static_cast<int>(i));
    }
    ListView1->addTopLevelItems(kept);
}

void TMainForm::ConnectListKeys() {
    ListView1->installEventFilter(new ListKeyFilter(this));
}

bool TMainForm::ListView1KeyDown(const QKeyEvent* e) {
    // Ctrl+Up and Ctrl+Down move the row as Up and Down do, where the list would only move its focus.
    const Qt::KeyboardModifiers modifiers = e->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::ControlModifier && (e->key() == Qt::Key_Up || e->key() == Qt::Key_Down)) {
        MoveSelectedRow(e->key() == Qt::Key_Up ? -1 : 1);
        return true;
    }
    if (e->key() != Qt::Key_Delete || modifiers != Qt::NoModifier) {
        return false;
    }
    // Remove itself does nothing while a join runs.
    ButtonRemoveClick();
    return true;
}

void TMainForm::ButtonClearClick() {
    if (joinRunning_) {
        return;
    }
    if (RowCount() > 0) {
        RememberList();
    }
    ListView1->clear();
    ImageList1.clear();
    UpdateStatusBar();
}

void TMainForm::MoveSelectedRow(int step) {
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (joinRunning_ || selected.size() != 1) {
        return;
    }
    const int from = ListView1->indexOfTopLevelItem(selected.first());
    const int to = from + step;
    if (to < 0 || to >= RowCount()) {
        return;
    }
    RememberList();
    QTreeWidgetItem* row = ListView1->takeTopLevelItem(from);
    ListView1->insertTopLevelItem(to, row);
    ListView1->clearSelection();
    ListView1->setCurrentItem(row);
    row->setSelected(true);
    ListView1->setFocus();
    ImageList1.move(from, to);
    // One step swaps two neighbours: only their two image indexes change.
    SetImageIndex(ListView1->topLevelItem(from), from);
    SetImageIndex(row, to);
}

void TMainForm::ButtonUpClick() {
    MoveSelectedRow(-1);
}

void TMainForm::ButtonDownClick() {
    MoveSelectedRow(1);
}
