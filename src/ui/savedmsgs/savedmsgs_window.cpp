// SPDX-License-Identifier: GPL-3.0-or-later
// The saved messages windows: widgets over savedmsgs_model.h.
#include "ui/savedmsgs/savedmsgs_window.h"

#include "common/status.h"
#include "platform/user_message.h"
#include "ui/images.h"
#include "ui/qtext.h"
#include "ui/savedmsgs/savedmsgs_dialogs.h"
#include "ui/viewer/viewer.h"
#include "ui/windows.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

bool g_open = false;
SavedMessagesViewer g_viewer;

void showViewer(std::string text) {
    if (g_viewer) {
        g_viewer(std::move(text));
        return;
    }
    Viewer_Open(std::string(), std::move(text), nullptr);
}

int notify(QWidget* owner, const std::string& text, unsigned flags) {
    UiBoxOwner scope(owner);
    return UserMsg_Show(SAVEDMSGS_CAPTION, text, flags);
}

int askToDelete(QWidget* owner) {
    return notify(owner, SAVEDMSGS_QUESTION, UM_YESNO | UM_ICONWARNING);
}

bool plainKey(const QKeyEvent* key, std::initializer_list<int> keys) {
    if (key->modifiers() != Qt::NoModifier && key->modifiers() != Qt::KeypadModifier) return false;
    for (int k : keys)
        if (key->key() == k) return true;
    return false;
}

// Both windows are modal to their owner only: a viewer opened from the list
// is a window of its own and must take input while the list stays open.
int runModal(QDialog* dialog) {
    dialog->setWindowModality(Qt::WindowModal);
    return dialog->exec();
}

QPushButton* button(const char* text, QWidget* parent) {
    auto* b = new QPushButton(QCoreApplication::translate("SavedMessages", text), parent);
    b->setAutoDefault(false);
    return b;
}

} // namespace

SavedMessagesViewer SavedMessages_SetViewer(SavedMessagesViewer viewer) {
    SavedMessagesViewer previous = std::move(g_viewer);
    g_viewer = std::move(viewer);
    return previous;
}

// ---- The list's rows ---------------------------------------------------------

// A table model over SavedListModel: only the rows on screen are asked for.
class SavedListRows final : public QAbstractTableModel {
  public:
    SavedListRows(const SavedListModel& model, QObject* parent)
        : QAbstractTableModel(parent), model_(model) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : model_.RowCount();
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : SMCOL_COUNT;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        switch (role) {
        case Qt::DisplayRole:
            return QText_From(model_.Text(index.row(), index.column()));
        case Qt::DecorationRole:
            if (index.column() == SMCOL_SUBJECT) return Images_Status(IMG_OLD);
            return {};
        case Qt::TextAlignmentRole:
            if (index.column() == SMCOL_SIZE)
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            return {};
        case Qt::ToolTipRole:
            if (model_.Partial(index.row()))
                return QCoreApplication::translate(
                    "SavedMessages", "Only the first lines of this message were saved.");
            return {};
        default:
            return {};
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= SMCOL_COUNT) return {};
        if (role == Qt::DisplayRole) return QText_Shown(SAVEDMSGS_COLUMN_TITLES[section]);
        if (role == Qt::TextAlignmentRole && section == SMCOL_SIZE)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    void Reset() {
        beginResetModel();
        endResetModel();
    }

  private:
    const SavedListModel& model_;
};

// ---- Message list window -------------------------------------------------------

SavedListWindow::SavedListWindow(int folderIndex, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("savedListWindow"));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    opened_ = model_.Open(folderIndex);
    QApplication::restoreOverrideCursor();
    setWindowTitle(QText_From(model_.Title()));

    rows_ = new SavedListRows(model_, this);
    list_ = new QTreeView(this);
    list_->setModel(rows_);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setAccessibleName(QCoreApplication::translate("SavedMessages", "Saved messages"));
    list_->header()->setStretchLastSection(false);
    for (int c = 0; c < SMCOL_COUNT; ++c)
        list_->setColumnWidth(c, SAVEDMSGS_COLUMN_WIDTHS[c]);
    // The widths were measured for a small system font: a size must not be
    // cut short in a larger one.
    const int sizeWidth = list_->fontMetrics().horizontalAdvance(
                              QCoreApplication::translate("SavedMessages", "9999.9KB")) +
                          16;
    if (sizeWidth > list_->columnWidth(SMCOL_SIZE)) list_->setColumnWidth(SMCOL_SIZE, sizeWidth);
    list_->installEventFilter(this);
    connect(list_, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& i) { OpenRow(i.row()); });

    QPushButton* del = button(QT_TRANSLATE_NOOP("SavedMessages", "Delete"), this);
    QPushButton* delAll = button(QT_TRANSLATE_NOOP("SavedMessages", "Delete All"), this);
    QPushButton* close = button(QT_TRANSLATE_NOOP("SavedMessages", "&Close"), this);
    connect(del, &QPushButton::clicked, this, &SavedListWindow::DeleteSelected);
    connect(delAll, &QPushButton::clicked, this, &SavedListWindow::DeleteAll);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto* selectAll = new QAction(this);
    selectAll->setShortcut(QKeySequence::SelectAll);
    connect(selectAll, &QAction::triggered, this, [this] {
        model_.SelectAll();
        showSelection();
    });
    addAction(selectAll);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(del);
    buttons->addWidget(delAll);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    setTabOrder(list_, del);
    setTabOrder(del, delAll);
    setTabOrder(delAll, close);

    int width = 0;
    for (int c = 0; c < SMCOL_COUNT; ++c)
        width += list_->columnWidth(c);
    resize(width + 48, 380);
    showSelection();
    list_->setFocus();
}

void SavedListWindow::takeSelection() {
    std::vector<int> rows;
    for (const QItemSelectionRange& r : list_->selectionModel()->selection())
        for (int row = r.top(); row <= r.bottom(); ++row)
            rows.push_back(row);
    const QModelIndex current = list_->selectionModel()->currentIndex();
    model_.SetSelection(std::move(rows), current.isValid() ? current.row() : -1);
}

void SavedListWindow::showSelection() {
    QItemSelection selection;
    const std::vector<int>& rows = model_.Selection();
    // Runs of rows as one range each: Select All over a large folder stays one.
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        selection.select(rows_->index(rows[i], 0), rows_->index(rows[j], SMCOL_COUNT - 1));
        i = j + 1;
    }
    QItemSelectionModel* sm = list_->selectionModel();
    sm->select(selection, QItemSelectionModel::ClearAndSelect);
    if (model_.Focus() >= 0) {
        const QModelIndex focus = rows_->index(model_.Focus(), 0);
        sm->setCurrentIndex(focus, QItemSelectionModel::NoUpdate);
        list_->scrollTo(focus);
    }
}

void SavedListWindow::OpenRow(int row) {
    std::string text;
    if (model_.Load(row, &text) != 0) {
        notify(this,
               "The saved message \"" + model_.Text(row, SMCOL_SUBJECT) + "\" could not be read.",
               UM_OK | UM_ICONERROR);
        return;
    }
    showViewer(std::move(text));
}

void SavedListWindow::DeleteSelected() {
    takeSelection();
    if (model_.Selection().empty() || askToDelete(this) != UM_IDYES) return;
    const int failed = model_.DeleteSelected();
    rows_->Reset();
    showSelection();
    list_->setFocus();
    if (failed == 1)
        notify(this, IW_N_("Inboxwarden", "A saved message could not be deleted."),
               UM_OK | UM_ICONERROR);
    if (failed > 1)
        notify(this, std::to_string(failed) + " saved messages could not be deleted.",
               UM_OK | UM_ICONERROR);
}

void SavedListWindow::DeleteAll() {
    if (askToDelete(this) != UM_IDYES) return;
    const uint32_t rc = model_.DeleteAll();
    rows_->Reset();
    if (rc == 0) {
        done(ResultDeletedAll);
        return;
    }
    showSelection();
    notify(this, SavedMsgs_FolderFailedText(model_.Folder()), UM_OK | UM_ICONERROR);
}

bool SavedListWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (plainKey(key, {Qt::Key_Delete})) {
            DeleteSelected();
            return true;
        }
        if (plainKey(key, {Qt::Key_Return, Qt::Key_Enter})) {
            const QModelIndex current = list_->currentIndex();
            if (current.isValid()) OpenRow(current.row());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- Folder window ---------------------------------------------------------------

SavedFoldersWindow::SavedFoldersWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("savedFoldersWindow"));
    setWindowTitle(QCoreApplication::translate("SavedMessages", "Saved Messages"));

    rootChoice_ = new QComboBox(this);
    rootChoice_->addItem(QCoreApplication::translate("SavedMessages", "Saved messages"));
    rootChoice_->addItem(QCoreApplication::translate("SavedMessages", "Quarantine"));
    auto* choiceLabel =
        new QLabel(QCoreApplication::translate("SavedMessages", "&Folders of"), this);
    choiceLabel->setBuddy(rootChoice_);

    pathLabel_ = new QLabel(
        QCoreApplication::translate("SavedMessages", "Directory for Saved Messages "), this);
    path_ = new QLineEdit(this);
    path_->setReadOnly(true);
    pathLabel_->setBuddy(path_);
    path_->setAccessibleName(
        QCoreApplication::translate("SavedMessages", "Directory for Saved Messages"));
    QPushButton* choose = button("...", this);
    choose->setAccessibleName(QCoreApplication::translate("SavedMessages", "Choose the directory"));
    choose->setToolTip(
        QCoreApplication::translate("SavedMessages", "Message download root directory"));

    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    tree_->setAccessibleName(QCoreApplication::translate("SavedMessages", "Saved message folders"));
    tree_->installEventFilter(this);
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item && item->parent()) OpenSelected();
    });

    open_ = button(QT_TRANSLATE_NOOP("SavedMessages", "&Open"), this);
    delete_ = button(QT_TRANSLATE_NOOP("SavedMessages", "&Delete"), this);
    QPushButton* close = button(QT_TRANSLATE_NOOP("SavedMessages", "Close"), this);
    connect(open_, &QPushButton::clicked, this, &SavedFoldersWindow::OpenSelected);
    connect(delete_, &QPushButton::clicked, this, &SavedFoldersWindow::DeleteSelected);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(choose, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getExistingDirectory(
            this, QCoreApplication::translate("SavedMessages", "Message download root directory"),
            path_->text());
        if (!path.isEmpty()) ChooseRoot(path);
    });
    connect(rootChoice_, &QComboBox::currentIndexChanged, this,
            [this](int i) { SwitchRoot(i == 1 ? SAVED_ROOT::Quarantine : SAVED_ROOT::Download); });

    auto* choiceRow = new QHBoxLayout;
    choiceRow->addWidget(choiceLabel);
    choiceRow->addWidget(rootChoice_, 1);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(choose);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(open_);
    buttons->addWidget(delete_);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choiceRow);
    layout->addWidget(pathLabel_);
    layout->addLayout(pathRow);
    layout->addWidget(tree_, 1);
    layout->addLayout(buttons);
    setTabOrder(rootChoice_, path_);
    setTabOrder(path_, choose);
    setTabOrder(choose, tree_);
    setTabOrder(tree_, open_);
    setTabOrder(open_, delete_);
    setTabOrder(delete_, close);
    resize(440, 400);

    model_.Open();
    sync({});
    tree_->setFocus();
}

void SavedFoldersWindow::sync(const std::string& select) {
    const bool quarantine = model_.Root() == SAVED_ROOT::Quarantine;
    pathLabel_->setText(
        quarantine ? QCoreApplication::translate("SavedMessages", "Quarantine Directory ")
                   : QCoreApplication::translate("SavedMessages", "Directory for Saved Messages "));
    path_->setAccessibleName(pathLabel_->text().trimmed());
    path_->setText(QText_From(model_.RootPath()));

    tree_->clear();
    const std::vector<SavedFoldersModel::ITEM>& items = model_.Items();
    auto* root = new QTreeWidgetItem(tree_, QStringList(QText_From(items.front().text)));
    root->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    QTreeWidgetItem* current = root;
    for (size_t i = 1; i < items.size(); ++i) {
        auto* item = new QTreeWidgetItem(root, QStringList(QText_From(items[i].text)));
        item->setData(0, Qt::UserRole, QText_From(items[i].folder));
        item->setIcon(0, style()->standardIcon(QStyle::SP_DirClosedIcon));
        if (!select.empty() && items[i].folder == select) current = item;
    }
    root->setExpanded(true);
    tree_->setCurrentItem(current);
}

int SavedFoldersWindow::selectedItem() const {
    const QTreeWidgetItem* item = tree_->currentItem();
    if (!item || !item->parent()) return -1;
    return model_.FindItem(item->data(0, Qt::UserRole).toString().toStdString());
}

void SavedFoldersWindow::OpenSelected() {
    const int item = selectedItem();
    const int at = model_.FolderIndex(item);
    if (at < 0) return;
    const std::string folder = model_.Items()[static_cast<size_t>(item)].folder;
    int result = QDialog::Rejected;
    {
        SavedListWindow list(at, this);
        if (list.Opened()) result = runModal(&list);
    }
    model_.ListClosed(model_.FindItem(folder), result == SavedListWindow::ResultDeletedAll);
    sync(folder);
    tree_->setFocus();
}

void SavedFoldersWindow::DeleteSelected() {
    const int item = selectedItem();
    if (model_.FolderIndex(item) < 0 || askToDelete(this) != UM_IDYES) return;
    std::string error;
    const uint32_t rc = model_.DeleteFolder(item, &error);
    // The focus moves to the folder that took the deleted one's place.
    const std::vector<SavedFoldersModel::ITEM>& items = model_.Items();
    const size_t next = std::min(static_cast<size_t>(item), items.size() - 1);
    sync(items[next].folder);
    tree_->setFocus();
    if (rc != 0) notify(this, error, UM_OK | UM_ICONERROR);
}

void SavedFoldersWindow::ChooseRoot(const QString& path) {
    model_.SetRootPath(path.toStdString());
    sync({});
}

void SavedFoldersWindow::SwitchRoot(SAVED_ROOT root) {
    if (root == model_.Root()) return;
    const QSignalBlocker block(rootChoice_);
    rootChoice_->setCurrentIndex(root == SAVED_ROOT::Quarantine ? 1 : 0);
    model_.SetRoot(root);
    sync({});
}

bool SavedFoldersWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tree_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (plainKey(key, {Qt::Key_Delete})) {
            DeleteSelected();
            return true;
        }
        if (plainKey(key, {Qt::Key_Return, Qt::Key_Enter})) {
            OpenSelected();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- The one window --------------------------------------------------------------

uint32_t SavedMessages_Open(QWidget* owner) {
    if (g_open) return ERR_NOT_READY;
    g_open = true;
    {
        SavedFoldersWindow window(owner);
        runModal(&window);
    }
    g_open = false;
    return 0;
}
