// The list's context menu and the commands it adds to the design's buttons: Sort by name, which
// orders an audiobook's parts as the joiner's --sort=natural does, and Undo, which takes back the
// last change of the list, so that hundreds of hand-placed rows are never lost to one click.
#include "app/AudioFileRow.h"
#include "app/Formmain.h"
#include "audio/NaturalOrder.h"

#include <QAction>
#include <QMenu>
#include <QTreeWidget>

#include <algorithm>

namespace {

// Undo goes back this many changes; each keeps the list's texts and icons, not its files.
constexpr std::size_t kUndoSteps = 50;

}  // namespace

void TMainForm::CreateListMenu() {
    const auto make = [this](const char* name, const QKeySequence& keys, auto slot) {
        auto* action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(keys);
        // The shortcuts work wherever the focus is in the window, as the buttons' mnemonics do.
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    ActionSortByName =
        make("ActionSortByName", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), [this] { SortByName(); });
    ActionUndo = make("ActionUndo", QKeySequence::Undo, [this] { UndoListChange(); });
    ActionUp = make("ActionUp", QKeySequence(Qt::CTRL | Qt::Key_Up), [this] { ButtonUpClick(); });
    ActionDown = make("ActionDown", QKeySequence(Qt::CTRL | Qt::Key_Down), [this] { ButtonDownClick(); });
    ActionRemove = make("ActionRemove", QKeySequence(), [this] { ButtonRemoveClick(); });
    ActionClear = make("ActionClear", QKeySequence(), [this] { ButtonClearClick(); });
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.setObjectName(QStringLiteral("ListMenu"));
        menu.addActions({ActionSortByName, ActionUndo});
        menu.addSeparator();
        menu.addActions({ActionRemove, ActionUp, ActionDown, ActionClear});
        UpdateListMenu();
        menu.exec(ListView1->viewport()->mapToGlobal(at));
    });
}

void TMainForm::ApplyListMenuTexts() {
    // A language file made for the design's keys has none of these: English stands in.
    const auto text = [this](const char* section, const char* key, const char* english) {
        const QString found = LanguageText(QLatin1String(section), QLatin1String(key), QString());
        return found.isEmpty() ? QLatin1String(english) : found;
    };
    ActionSortByName->setText(text("ListMenu", "SortByName", "&Sort by name"));
    ActionUndo->setText(text("ListMenu", "Undo", "U&ndo"));
    ActionUp->setText(text("ListMenu", "MoveUp", "Move &up"));
    ActionDown->setText(text("ListMenu", "MoveDown", "Move &down"));
    ActionRemove->setText(text("ToolBar", "Remove", "&Remove"));
    ActionClear->setText(text("ToolBar", "Clear", "&Clear"));
}

void TMainForm::UpdateListMenu() {
    const int selected = static_cast<int>(ListView1->selectedItems().size());
    const int current =
        selected == 1 ? ListView1->indexOfTopLevelItem(ListView1->selectedItems().first()) : -1;
    ActionSortByName->setEnabled(RowCount() > 1);
    ActionUndo->setEnabled(!listHistory_.empty());
    ActionRemove->setEnabled(selected > 0);
    ActionUp->setEnabled(current > 0);
    ActionDown->setEnabled(current >= 0 && current + 1 < RowCount());
    ActionClear->setEnabled(RowCount() > 0);
}

void TMainForm::RememberList() {
    ListSnapshot snapshot;
    snapshot.reserve(static_cast<std::size_t>(RowCount()));
    for (int i = 0; i < RowCount(); ++i) {
        const AudioFileRow* row = Row(i);
        snapshot.push_back({row->Texts(), ImageList1.value(ImageIndex(i)), row->isSelected()});
    }
    listHistory_.push_back(std::move(snapshot));
    if (listHistory_.size() > kUndoSteps) {
        listHistory_.erase(listHistory_.begin());
    }
}

bool TMainForm::UndoListChange() {
    if (joinRunning_ || listHistory_.empty()) {
        return false;
    }
    const ListSnapshot snapshot = std::move(listHistory_.back());
    listHistory_.pop_back();
    ListView1->clear();
    ImageList1.clear();
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(snapshot.size()));
    for (const SavedRow& saved : snapshot) {
        ImageList1.append(saved.icon);
        rows.append(new AudioFileRow(saved.texts));
    }
    ListView1->addTopLevelItems(rows);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        SetImageIndex(rows[i], static_cast<int>(i));
        rows[i]->setSelected(snapshot[static_cast<std::size_t>(i)].selected);
    }
    UpdateStatusBar();
    return true;
}

void TMainForm::SortByName() {
    if (joinRunning_ || RowCount() < 2) {
        return;
    }
    QStringList paths;
    for (int i = 0; i < RowCount(); ++i) {
        paths << Row(i)->FullPath();
    }
    const std::vector<int> order = NaturalPathOrder(paths);
    if (std::is_sorted(order.begin(), order.end())) {
        return;
    }
    RememberList();
    QList<QIcon> icons;
    for (const int i : order) {
        icons.append(ImageList1.value(ImageIndex(i)));
    }
    // All rows taken out and put back at once: row by row, a list of thousands takes seconds.
    const QList<QTreeWidgetItem*> rows = ListView1->invisibleRootItem()->takeChildren();
    QList<QTreeWidgetItem*> sorted;
    sorted.reserve(rows.size());
    for (const int i : order) {
        sorted.append(rows.at(i));
    }
    ImageList1 = icons;
    ListView1->addTopLevelItems(sorted);
    RenumberImages();
}
