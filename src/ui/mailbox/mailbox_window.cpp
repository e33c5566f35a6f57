// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox window's widgets and how they follow the view model; the
// commands are in mailbox_window_commands.cpp.
#include "ui/mailbox/mailbox_window.h"

#include "platform/user_message.h"
#include "settings/globaldata.h"
#include "settings/settings.h"
#include "ui/command_action.h"
#include "ui/find_box.h"
#include "ui/mailbox/mailbox_images.h"
#include "ui/mailbox/mailbox_rows.h"
#include "ui/qtext.h"
#include "ui/setting_font.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

QPointer<MailBoxWindow> g_window;
std::atomic<bool> g_open{false};

// The active profile's name: its file name without the extension.
std::string profileName() {
    const std::string& path = Settings_ActivePath();
    if (path.empty()) return {};
    return QFileInfo(QText_From(path)).completeBaseName().toStdString();
}

} // namespace

// ---- Building ----------------------------------------------------------------

MailBoxWindow::MailBoxWindow(MAILBOX_HOST host) : host_(std::move(host)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("mailBoxWindow"));
    setWindowIcon(MailBoxTreeImage(MBIMG_ROOT));
    rows_ = new MailBoxRows(model_, this);
    buildActions();
    buildMenus();
    buildToolBar();
    buildCentre();
    model_.Open(profileName());
    restoreLayout();
    sync();
    list_->setFocus();
}

MailBoxWindow::~MailBoxWindow() {
    if (g_window == this) g_open = false;
}

QAction* MailBoxWindow::addCommand(int command, const QString& text, const QKeySequence& key) {
    return UiCommand_Add(this, command, text, key, [this](int c) { Command(c); });
}

void MailBoxWindow::buildActions() {
    addCommand(MBC_AUTO_CHECK, QCoreApplication::translate("MailBox", "&Enable Auto Check"))
        ->setCheckable(true);
    addCommand(MBC_PROGRESS_WINDOW, QCoreApplication::translate("MailBox", "&Progress Window"))
        ->setCheckable(true);
    addCommand(MBC_SETTINGS, QCoreApplication::translate("MailBox", "&Settings..."));
    addCommand(MBC_PROFILES, QCoreApplication::translate("MailBox", "&Profiles..."));
    addCommand(MBC_SAVED_MESSAGES, QCoreApplication::translate("MailBox", "Sa&ved Messages..."));
    addCommand(MBC_CLOSE, QCoreApplication::translate("MailBox", "&Close"));
    addCommand(MBC_EXIT, QCoreApplication::translate("MailBox", "E&xit"));

    // The list's own keys (see eventFilter), shown in the menus.
    addCommand(MBC_OPEN, QCoreApplication::translate("MailBox", "&Open Message\tEnter"));
    addCommand(MBC_OPEN_FIRST, QText_From(model_.OpenFirstCaption()));
    addCommand(MBC_REPLY, QCoreApplication::translate("MailBox", "Send &Reply"),
               QKeySequence(Qt::CTRL | Qt::Key_R));
    addCommand(MBC_FORWARD, QCoreApplication::translate("MailBox", "&Forward"),
               QKeySequence(Qt::CTRL | Qt::Key_W));
    addCommand(MBC_COMPOSE, QCoreApplication::translate("MailBox", "Compose &New Message"),
               QKeySequence(Qt::CTRL | Qt::Key_N));
    addCommand(MBC_RETURN_ERROR,
               QCoreApplication::translate("MailBox", "Return an &ERROR : User Unknown"));
    addCommand(MBC_ADD_FILTER, QCoreApplication::translate("MailBox", "Add Fi&lter"),
               QKeySequence(Qt::CTRL | Qt::Key_B));
    addCommand(MBC_MARK_DELETE, QCoreApplication::translate("MailBox", "Mark To Be &Deleted\tDel"));
    addCommand(MBC_DELETE_NOW,
               QCoreApplication::translate("MailBox", "Delete Selected Messages Now!"));
    addCommand(MBC_MARK_READ, QCoreApplication::translate("MailBox", "Mark As &Read"));
    addCommand(MBC_MARK_UNREAD, QCoreApplication::translate("MailBox", "Mark As &UnRead"));
    addCommand(MBC_SELECT_ALL, QCoreApplication::translate("MailBox", "Select &All"),
               QKeySequence(Qt::CTRL | Qt::Key_A));
    addCommand(MBC_FIND, QCoreApplication::translate("MailBox", "F&ind..."),
               QKeySequence(Qt::CTRL | Qt::Key_F));
    addCommand(MBC_FIND_NEXT, QCoreApplication::translate("MailBox", "Find Ne&xt"),
               QKeySequence(Qt::Key_F3));
    addCommand(MBC_FIND_PREV, QCoreApplication::translate("MailBox", "Find Pre&vious"),
               QKeySequence(Qt::SHIFT | Qt::Key_F3));

    addCommand(MBC_MARK_BOX_READ, QCoreApplication::translate("MailBox", "Mark MailBox As &Read"));
    addCommand(MBC_MARK_BOX_UNREAD,
               QCoreApplication::translate("MailBox", "Mark MailBox As &UnRead"));
    addCommand(MBC_MARK_ALL_READ, QCoreApplication::translate("MailBox", "Mar&k ALL As Read"));
    addCommand(MBC_MARK_ALL_UNREAD, QCoreApplication::translate("MailBox", "Mar&k ALL As UnRead"));
    addCommand(MBC_CLEAR_LOG, QCoreApplication::translate("MailBox", "Clear &Log"));
    addCommand(MBC_CLEAR_ALL_LOGS, QCoreApplication::translate("MailBox", "Clear All L&ogs"));
    addCommand(MBC_CHECK_CURRENT, QCoreApplication::translate("MailBox", "&Check Current MailBox"));
    addCommand(MBC_CHECK_ALL, QCoreApplication::translate("MailBox", "Check &All"));
    addCommand(MBC_CHECK_ALL_BUTTON, QCoreApplication::translate("MailBox", "Check &All"));
    addCommand(MBC_CHECK_INCLUDED,
               QCoreApplication::translate("MailBox", "Check All &Included in Auto Check"));
    addCommand(MBC_MAIL_CLIENT, QCoreApplication::translate("MailBox", "Open E-&Mail Client"));

    auto* buttons = new QActionGroup(this);
    buttons->addAction(
        addCommand(MBC_SMALL_ICONS, QCoreApplication::translate("MailBox", "&Small Icons")));
    buttons->addAction(
        addCommand(MBC_LARGE_ICONS, QCoreApplication::translate("MailBox", "&Large Icons")));
    auto* logos = new QActionGroup(this);
    logos->addAction(
        addCommand(MBC_SMALL_LOGO, QCoreApplication::translate("MailBox", "Small Lo&go")));
    logos->addAction(
        addCommand(MBC_LARGE_LOGO, QCoreApplication::translate("MailBox", "Large L&ogo")));
    for (QAction* a : buttons->actions() + logos->actions())
        a->setCheckable(true);

    addCommand(MBC_HELP, QCoreApplication::translate("MailBox", "&Contents"));
    addCommand(MBC_HELP_WINDOW, QCoreApplication::translate("MailBox", "Help on this &Window"),
               QKeySequence::HelpContents);
    addCommand(MBC_SYSTEM_INFO, QCoreApplication::translate("MailBox", "System &Info"));
    addCommand(MBC_ABOUT, QCoreApplication::translate("MailBox", "&About Inboxwarden..."));

    // Esc and the close box leave the layout as it was kept last time.
    auto* esc = new QAction(this);
    esc->setShortcut(QKeySequence(Qt::Key_Escape));
    esc->setShortcutContext(Qt::WindowShortcut);
    connect(esc, &QAction::triggered, this, [this] { closeKeeping(false); });
    addAction(esc);
}

QAction* MailBoxWindow::Action(int command) const {
    return UiCommand_Find(this, command);
}

void MailBoxWindow::buildMenus() {
    QMenuBar* bar = menuBar();
    auto add = [this](QMenu* m, std::initializer_list<int> commands) {
        for (int c : commands) {
            if (c == 0)
                m->addSeparator();
            else
                m->addAction(Action(c));
        }
    };
    QMenu* file = bar->addMenu(QCoreApplication::translate("MailBox", "&File"));
    add(file, {MBC_AUTO_CHECK, MBC_PROGRESS_WINDOW, 0, MBC_SETTINGS, MBC_PROFILES,
               MBC_SAVED_MESSAGES, 0, MBC_CLOSE, MBC_EXIT});
    messageMenu_ = bar->addMenu(QCoreApplication::translate("MailBox", "&Message"));
    add(messageMenu_,
        {MBC_OPEN, MBC_OPEN_FIRST, 0, MBC_REPLY, MBC_FORWARD, MBC_COMPOSE, MBC_RETURN_ERROR,
         MBC_ADD_FILTER, 0, MBC_MARK_DELETE, MBC_DELETE_NOW, MBC_MARK_READ, MBC_MARK_UNREAD, 0,
         MBC_SELECT_ALL, MBC_FIND, MBC_FIND_NEXT, MBC_FIND_PREV});
    mailBoxMenu_ = bar->addMenu(QCoreApplication::translate("MailBox", "Mail&Box"));
    add(mailBoxMenu_, {MBC_CHECK_CURRENT, MBC_CHECK_ALL, MBC_CHECK_INCLUDED, 0, MBC_MARK_BOX_READ,
                       MBC_MARK_BOX_UNREAD, MBC_MARK_ALL_READ, MBC_MARK_ALL_UNREAD, 0,
                       MBC_CLEAR_LOG, MBC_CLEAR_ALL_LOGS, 0, MBC_MAIL_CLIENT});
    QMenu* view = bar->addMenu(QCoreApplication::translate("MailBox", "&View"));
    add(view, {MBC_SMALL_ICONS, MBC_LARGE_ICONS, 0, MBC_SMALL_LOGO, MBC_LARGE_LOGO});
    QMenu* help = bar->addMenu(QCoreApplication::translate("MailBox", "&Help"));
    add(help, {MBC_HELP, MBC_HELP_WINDOW, MBC_SYSTEM_INFO, 0, MBC_ABOUT});

    // The row context menu; its "Mark All" items are the MailBox menu's.
    listMenu_ = new QMenu(this);
    listMenu_->setObjectName(QStringLiteral("listMenu"));
    add(listMenu_,
        {MBC_OPEN, MBC_OPEN_FIRST, 0, MBC_REPLY, MBC_FORWARD, MBC_RETURN_ERROR, MBC_ADD_FILTER, 0,
         MBC_MARK_DELETE, MBC_DELETE_NOW, MBC_MARK_READ, MBC_MARK_UNREAD});
    listMenu_->addSeparator();
    for (auto [command, text] : {std::pair{MBC_MARK_BOX_READ, "Mark All Messages As Read"},
                                 std::pair{MBC_MARK_BOX_UNREAD, "Mark All Messages As UnRead"}}) {
        QAction* a = listMenu_->addAction(QString::fromUtf8(text));
        a->setData(command);
        connect(a, &QAction::triggered, this, [this, cmd = command] { Command(cmd); });
    }
}

void MailBoxWindow::buildToolBar() {
    toolBar_ = addToolBar(QCoreApplication::translate("MailBox", "Tools"));
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setMovable(false);
    const std::pair<int, const char*> buttons[] = {
        {MBC_MARK_DELETE, "Delete"},
        {MBC_DELETE_NOW, "Now!"},
        {0, nullptr},
        {MBC_REPLY, "Reply"},
        {MBC_FORWARD, "Forward"},
        {0, nullptr},
        {MBC_COMPOSE, "New"},
        {0, nullptr},
        {MBC_FIND, "Find"},
        {MBC_FIND_NEXT, "Next"},
        {MBC_FIND_PREV, "Prev"},
        {0, nullptr},
        {MBC_AUTO_CHECK, "Auto"},
        {0, nullptr},
        {MBC_PROGRESS_WINDOW, "Progress"},
        {0, nullptr},
        {MBC_MAIL_CLIENT, "Client"},
        {MBC_CHECK_CURRENT, "Current"},
        {MBC_CHECK_ALL_BUTTON, "All"},
        {MBC_CHECK_INCLUDED, "Included"},
    };
    for (const auto& [command, text] : buttons) {
        if (!command) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* a = Action(command);
        a->setIconText(QString::fromUtf8(text));
        a->setIcon(MailBoxToolImage(command));
        toolBar_->addAction(a);
    }
    auto* spacer = new QWidget(toolBar_);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolBar_->addWidget(spacer);
    logo_ = new QLabel(toolBar_);
    logo_->setObjectName(QStringLiteral("logo"));
    logo_->setAccessibleName(QStringLiteral("Inboxwarden"));
    toolBar_->addWidget(logo_);
    applyButtonSize();
}

void MailBoxWindow::applyButtonSize() {
    const bool large = model_.IsChecked(MBC_LARGE_ICONS);
    toolBar_->setIconSize(large ? QSize(32, 32) : QSize(16, 16));
    toolBar_->setToolButtonStyle(large ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
    const bool largeLogo = model_.IsChecked(MBC_LARGE_LOGO);
    logo_->setPixmap(MailBoxLogo(largeLogo, devicePixelRatioF()));
    logo_->setFixedSize(largeLogo ? QSize(160, 40) : QSize(80, 20));
}

void MailBoxWindow::buildCentre() {
    auto* centre = new QWidget(this);
    auto* layout = new QVBoxLayout(centre);

    tree_ = new QTreeWidget(centre);
    tree_->setObjectName(QStringLiteral("tree"));
    tree_->setAccessibleName(QCoreApplication::translate("MailBox", "Accounts"));
    tree_->setHeaderHidden(true);
    tree_->setMinimumWidth(80);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] { onTreeSelection(); });
    // A click on an account is the way to its messages.
    connect(tree_, &QTreeWidget::itemClicked, this, [this] { list_->setFocus(); });
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this] { checkCurrent(true); });
    connect(tree_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { treeMenu(at); });

    list_ = new QTreeView(centre);
    list_->setObjectName(QStringLiteral("list"));
    list_->setAccessibleName(QCoreApplication::translate("MailBox", "Messages"));
    list_->setModel(rows_);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setAlternatingRowColors(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->installEventFilter(this);
    if (const std::optional<QFont> f = SettingFont_Read()) list_->setFont(*f);
    QHeaderView* header = list_->header();
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);
    connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
        model_.ClickHeader(column);
        sync();
    });
    connect(header, &QHeaderView::sectionResized, this, [this](int column, int, int width) {
        if (!syncing_) model_.SetColumnWidth(column, width);
    });
    connect(list_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) Command(MBC_OPEN);
    });
    connect(list_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { listMenu(at); });
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { takeSelection(); });
    connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { takeSelection(); });

    splitter_ = new QSplitter(Qt::Horizontal, centre);
    splitter_->setObjectName(QStringLiteral("splitter"));
    splitter_->setChildrenCollapsible(false);
    splitter_->addWidget(tree_);
    splitter_->addWidget(list_);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    layout->addWidget(splitter_, 1);

    auto* lines = new QVBoxLayout;
    lines->setSpacing(2);
    statusLine_ = new QLabel(centre);
    errorLine_ = new QLabel(centre);
    sizeLine_ = new QLabel(centre);
    const char* names[] = {"Check status", "Last error", "MailBox size"};
    int line = 0;
    for (QLabel* l : {statusLine_, errorLine_, sizeLine_}) {
        l->setTextFormat(Qt::PlainText);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        l->setFocusPolicy(Qt::TabFocus); // a screen reader user can reach and read it
        l->setAccessibleName(QString::fromUtf8(names[line]));
        l->setObjectName(QString::fromUtf8(names[line]).toLower().replace(' ', '_'));
        // An empty line keeps its place, so the others do not jump.
        l->setMinimumHeight(l->fontMetrics().height());
        lines->addWidget(l);
        ++line;
    }
    checkButton_ =
        new QPushButton(QCoreApplication::translate("MailBox", "&Check Current MailBox"), centre);
    checkButton_->setObjectName(QStringLiteral("checkButton"));
    connect(checkButton_, &QPushButton::clicked, this, [this] { Command(MBC_CHECK_CURRENT); });
    closeButton_ = new QPushButton(QCoreApplication::translate("MailBox", "&Close"), centre);
    closeButton_->setObjectName(QStringLiteral("closeButton"));
    connect(closeButton_, &QPushButton::clicked, this, [this] { Command(MBC_CLOSE_BUTTON); });
    auto* bottom = new QHBoxLayout;
    bottom->addLayout(lines, 1);
    bottom->addWidget(checkButton_, 0, Qt::AlignBottom);
    bottom->addWidget(closeButton_, 0, Qt::AlignBottom);
    layout->addLayout(bottom);
    setCentralWidget(centre);

    setTabOrder(tree_, list_);
    setTabOrder(list_, checkButton_);
    setTabOrder(checkButton_, closeButton_);
}

void MailBoxWindow::restoreLayout() {
    syncing_ = true;
    for (int c = 0; c < MBCOL_COUNT; ++c) {
        int w = model_.ColumnWidth(c);
        // The first time, size and date get the room their texts need in
        // this font and locale rather than the narrow widths of old.
        if ((c == MBCOL_SIZE || c == MBCOL_DATE) && !model_.ColumnWidthKept(c)) {
            const QString widest =
                c == MBCOL_SIZE
                    ? QStringLiteral("9999.9KB")
                    : QText_From(MailBoxList_DateText(DATETIME{2028, 12, 0, 28, 23, 58, 58, 0}));
            w = std::max(w, list_->fontMetrics().horizontalAdvance(widest) + 16);
            model_.SetColumnWidth(c, w);
        }
        list_->setColumnHidden(c, w <= 0);
        if (w > 0) list_->setColumnWidth(c, w);
    }
    syncing_ = false;

    // Opened for the first time: wide enough for every column, as far as the
    // screen allows.
    const int at = model_.SavedSplitter().value_or(180);
    int columns = 0;
    for (int c = 0; c < MBCOL_COUNT; ++c)
        if (!list_->isColumnHidden(c)) columns += list_->columnWidth(c);
    const int frame = 2 * list_->frameWidth() + list_->verticalScrollBar()->sizeHint().width() + 24;
    int wide = std::max(760, at + splitter_->handleWidth() + columns + frame);
    if (const QScreen* screen = this->screen())
        wide = std::min(wide, screen->availableGeometry().width());
    resize(wide, 460);
    if (const std::optional<MAILBOX_RECT> r = model_.SavedRect();
        r && r->width > 100 && r->height > 100)
        setGeometry(r->x, r->y, r->width, r->height);
    const int half = splitter_->handleWidth() / 2;
    const int total = std::max(width() - 20, 200);
    const int left = std::clamp(at - half, tree_->minimumWidth(), std::max(total - 120, 80));
    splitter_->setSizes({left, total - left});
}

// ---- Following the model -------------------------------------------------------

void MailBoxWindow::sync() {
    const unsigned changes = model_.TakeChanges();
    syncing_ = true;
    if (changes & MBCH_TREE) syncTree();
    if (changes & MBCH_ROWS)
        rows_->Reset();
    else if (changes & MBCH_ROW_DATA)
        rows_->RowsChanged();
    if (changes & MBCH_HEADER) rows_->HeaderChanged();
    if (changes & (MBCH_ROWS | MBCH_SELECTION)) syncSelection();
    if (changes & MBCH_TEXTS) syncTexts();
    if ((changes & MBCH_SCROLL) && model_.List().Focus() >= 0)
        list_->scrollTo(rows_->index(model_.List().Focus(), MBCOL_FROM));
    syncing_ = false;
    syncActions();
}

int MailBoxWindow::nodeOf(const QTreeWidgetItem* item) const {
    if (!item || !item->parent()) return 0;
    return item->parent()->indexOfChild(const_cast<QTreeWidgetItem*>(item)) + 1;
}

void MailBoxWindow::syncTree() {
    const std::vector<MailBoxModel::NODE>& nodes = model_.Nodes();
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    bool same = root && root->childCount() == static_cast<int>(nodes.size()) - 1;
    for (size_t i = 1; same && i < nodes.size(); ++i)
        same = root->child(static_cast<int>(i - 1))->data(0, Qt::UserRole).toString() ==
               QText_From(nodes[i].account);
    if (!same) {
        tree_->clear();
        root = new QTreeWidgetItem(tree_);
        for (size_t i = 1; i < nodes.size(); ++i)
            new QTreeWidgetItem(root);
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
        QTreeWidgetItem* item = i == 0 ? root : root->child(static_cast<int>(i - 1));
        item->setText(0, QText_From(nodes[i].text));
        item->setData(0, Qt::UserRole, QText_From(nodes[i].account));
        item->setIcon(0, MailBoxTreeImage(nodes[i].image));
    }
    root->setExpanded(true);
    const int selected = model_.SelectedNode();
    QTreeWidgetItem* current = selected <= 0 ? root : root->child(selected - 1);
    if (tree_->currentItem() != current) tree_->setCurrentItem(current);
}

void MailBoxWindow::syncSelection() {
    QItemSelectionModel* sm = list_->selectionModel();
    const std::vector<int> rows = model_.List().Selected();
    QItemSelection selection;
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        selection.select(rows_->index(rows[i], 0), rows_->index(rows[j], MBCOL_COUNT - 1));
        i = j + 1;
    }
    sm->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const int focus = model_.List().Focus();
    if (focus >= 0)
        sm->setCurrentIndex(rows_->index(focus, MBCOL_FROM), QItemSelectionModel::NoUpdate);
}

void MailBoxWindow::syncTexts() {
    setWindowTitle(QText_From(model_.Title()));
    statusLine_->setText(QText_From(model_.StatusLine()));
    errorLine_->setText(QText_Shown(model_.ErrorLine()));
    // Red for a failure only: a red "No errors" reads as a problem.
    QPalette errorColours; // nothing set: the window's own
    if (model_.ErrorLineWarns())
        errorColours.setColor(QPalette::WindowText, QColor(0xd9, 0x3b, 0x3b));
    errorLine_->setPalette(errorColours);
    sizeLine_->setText(QText_From(model_.SizeLine()));
}

void MailBoxWindow::syncActions() {
    for (QAction* a : actions()) {
        const int command = a->data().toInt();
        if (!command) continue;
        a->setEnabled(model_.IsEnabled(command));
        if (a->isCheckable()) a->setChecked(model_.IsChecked(command));
    }
    for (QAction* a : listMenu_->actions())
        if (const int command = a->data().toInt()) a->setEnabled(model_.IsEnabled(command));
    checkButton_->setEnabled(model_.IsEnabled(MBC_CHECK_CURRENT));
}

void MailBoxWindow::takeSelection() {
    if (syncing_) return;
    std::vector<int> positions;
    for (const QItemSelectionRange& r : list_->selectionModel()->selection())
        for (int row = r.top(); row <= r.bottom(); ++row)
            positions.push_back(row);
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    const QModelIndex current = list_->selectionModel()->currentIndex();
    model_.SetSelection(positions, current.isValid() ? current.row() : -1);
    model_.TakeChanges(); // the view shows it already
    syncActions();
}

void MailBoxWindow::onTreeSelection() {
    if (syncing_) return;
    const QList<QTreeWidgetItem*> items = tree_->selectedItems();
    if (items.isEmpty()) return;
    model_.SelectNode(nodeOf(items.front()));
    sync();
}

QLabel* MailBoxWindow::StatusLabel(int line) const {
    return line == 0 ? statusLine_ : line == 1 ? errorLine_ : sizeLine_;
}

// ---- Window events -------------------------------------------------------------

bool MailBoxWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            switch (key->key()) {
            case Qt::Key_Delete:
                // The Delete key walks down the list as it marks.
                apply(model_.MarkForDeletion(true));
                return true;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                Command(MBC_OPEN);
                return true;
            default:
                break;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MailBoxWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && host_.stopBlink)
        host_.stopBlink();
    QMainWindow::changeEvent(event);
}

void MailBoxWindow::closeEvent(QCloseEvent* event) {
    if (!closeNow_) {
        if (asking_) {
            event->ignore();
            return;
        }
        const bool keep = keepLayout_;
        keepLayout_ = false;
        if (const std::optional<MAILBOX_NOTICE> q =
                model_.PendingDeletesQuestion(MAILBOX_SCOPE::All)) {
            asking_ = true;
            const int answer = ask(*q);
            asking_ = false;
            if (answer != UM_IDYES) {
                event->ignore();
                return;
            }
        }
        if (keep) {
            const QRect r = normalGeometry();
            model_.SaveLayout(splitter_->sizes().value(0) + splitter_->handleWidth() / 2,
                              MAILBOX_RECT{r.x(), r.y(), r.width(), r.height()});
        }
    }
    if (findBox_) findBox_->close();
    if (g_window == this) g_open = false;
    event->accept();
}

void MailBoxWindow::SettingsChanged() {
    apply(model_.OnSettingsChanged(profileName()), true);
    const int attach = model_.ColumnWidth(MBCOL_ATTACH);
    list_->setColumnHidden(MBCOL_ATTACH, attach <= 0);
    if (attach > 0) list_->setColumnWidth(MBCOL_ATTACH, attach);
}

void MailBoxWindow::CloseNow() {
    closeNow_ = true;
    close();
}

// ---- The one window --------------------------------------------------------------

MailBoxWindow* MailBox_Open(const MAILBOX_HOST& host) {
    if (g_window && g_open) {
        g_window->TrayCommand(MBC_FLASH);
        return g_window;
    }
    g_window = new MailBoxWindow(host);
    g_open = true;
    g_window->show();
    g_window->raise();
    g_window->activateWindow();
    return g_window;
}

MailBoxWindow* MailBox_Window() {
    return g_open ? g_window.data() : nullptr;
}

bool MailBox_IsOpen() {
    return g_open;
}
