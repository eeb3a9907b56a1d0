// SPDX-License-Identifier: GPL-3.0-or-later
// The list's context menu and the commands it adds to the design's buttons: Sort by name, which
// orders an audiobook's parts as the joiner's --sort=natural does, and Undo, which takes back the
// last change of the list, so that hundreds of hand-placed rows are never lost to one click.
#include "app/AudioFileRow.h"
#include "app/Formmain.h"
#include "audio/NaturalOrder.h"

#include <QAction>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

namespace {

// Undo goes back this many changes; each keeps the list's texts and icons, not its files, and shares
// the texts of rows that did not change with the others.
constexpr std::size_t kUndoSteps = 50;

// Moves the dragged rows itself: the list's own move would make plain items of them, and rows are
// no item may be dropped onto. Files dragged from elsewhere are the window's, which adds them: the
// list, taking drops now, would otherwise turn them away.
class RowDropFilter : public QObject {
public:
    explicit RowDropFilter(TMainForm* form) : QObject(form->ListView1), form_(form) {}
    bool eventFilter(QObject* /*watched*/, QEvent* e) override {
        if (e->type() != QEvent::DragEnter && e->type() != QEvent::DragMove && e->type() != QEvent::Drop) {
            return false;
        }
        auto* drop = static_cast<QDropEvent*>(e);
        if (drop->source() != form_->ListView1) {
            if (form_->CanDropFiles(drop->mimeData())) {
                drop->acceptProposedAction();
                if (e->type() == QEvent::Drop) {
                    form_->DropFiles(drop->mimeData());
                }
            } else {
                drop->ignore();
            }
            return true;
        }
        if (e->type() != QEvent::Drop) {
            return false;
        }
        const QPoint at = drop->position().toPoint();
        const QModelIndex index = form_->ListView1->indexAt(at);
        const QRect rect = form_->ListView1->visualRect(index);
        const int target = !index.isValid()             ? form_->RowCount()
                           : at.y() > rect.center().y() ? index.row() + 1
                                                        : index.row();
        form_->MoveSelectedRowsTo(target);
        // The view removes the selected rows after a move it did not make itself: they are selected
        // again once it has returned.
        std::vector<int> selected;
        for (int i = 0; i < form_->RowCount(); ++i) {
            if (form_->Row(i)->isSelected()) {
                selected.push_back(i);
            }
        }
        form_->ListView1->clearSelection();
        QTimer::singleShot(0, form_, [form = form_, selected]() mutable {
            selected.erase(std::lower_bound(selected.begin(), selected.end(), form->RowCount()),
                           selected.end());
            form->SelectRows(selected);
        });
        drop->acceptProposedAction();
        return true;
    }

private:
    TMainForm* form_;
};

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
    // Selected rows are dragged to a new place in the list; files dropped from elsewhere still go to
    // the window, which adds them.
    ListView1->setDragDropMode(QAbstractItemView::InternalMove);
    ListView1->setDropIndicatorShown(true);
    ListView1->viewport()->installEventFilter(new RowDropFilter(this));
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
    const auto text = [this](const char* section, const char* key, const char* english) {
        return LanguageTextOr(section, key, english);
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
        snapshot.push_back({row->SharedTexts(), ImageList1.value(ImageIndex(i)), row->isSelected()});
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
    std::vector<int> selected;
    for (const SavedRow& saved : snapshot) {
        ImageList1.append(saved.icon);
        if (saved.selected) {
            selected.push_back(static_cast<int>(rows.size()));
        }
        rows.append(new AudioFileRow(saved.texts));
        SetImageIndex(rows.back(), static_cast<int>(rows.size()) - 1);
    }
    ListView1->addTopLevelItems(rows);
    SelectRows(selected);
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
    ReorderRows(NaturalPathOrder(paths));
}

void TMainForm::MoveSelectedRowsTo(int target) {
    std::vector<int> moved;
    std::vector<int> order;
    for (int i = 0; i < RowCount(); ++i) {
        (Row(i)->isSelected() ? moved : order).push_back(i);
    }
    if (joinRunning_ || moved.empty()) {
        return;
    }
    // The rows go where the target row stands among those that stay.
    const auto before = std::count_if(order.begin(), order.end(), [&](int i) { return i < target; });
    order.insert(order.begin() + before, moved.begin(), moved.end());
    ReorderRows(order);
    ListView1->setCurrentItem(Row(static_cast<int>(before)), 0, QItemSelectionModel::NoUpdate);
    ListView1->setFocus();
}

void TMainForm::ReorderRows(const std::vector<int>& order) {
    if (std::is_sorted(order.begin(), order.end())) {
        return;
    }
    RememberList();
    QList<QIcon> icons;
    icons.reserve(static_cast<qsizetype>(order.size()));
    std::vector<int> selected;
    for (const int i : order) {
        if (Row(i)->isSelected()) {
            selected.push_back(static_cast<int>(icons.size()));
        }
        icons.append(ImageList1.value(ImageIndex(i)));
    }
    // All rows taken out and put back at once: row by row, a list of thousands takes seconds.
    ListView1->clearSelection();
    const QList<QTreeWidgetItem*> rows = ListView1->invisibleRootItem()->takeChildren();
    QList<QTreeWidgetItem*> reordered;
    reordered.reserve(rows.size());
    for (const int i : order) {
        reordered.append(rows.at(i));
    }
    ImageList1 = icons;
    // Numbered while out of the list, where a change costs the view nothing.
    for (qsizetype i = 0; i < reordered.size(); ++i) {
        SetImageIndex(reordered[i], static_cast<int>(i));
    }
    ListView1->addTopLevelItems(reordered);
    SelectRows(selected);
}

void TMainForm::SelectRows(const std::vector<int>& rows) {
    // One range for each run of neighbouring rows: a range per row would make every later look at the
    // selection go through thousands of them.
    QItemSelection selection;
    const QAbstractItemModel* model = ListView1->model();
    for (std::size_t first = 0; first < rows.size();) {
        std::size_t last = first;
        while (last + 1 < rows.size() && rows[last + 1] == rows[last] + 1) {
            ++last;
        }
        selection.select(model->index(rows[first], 0), model->index(rows[last], 0));
        first = last + 1;
    }
    if (!selection.isEmpty()) {
        ListView1->selectionModel()->select(selection,
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}
