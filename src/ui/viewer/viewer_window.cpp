// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/viewer/viewer_window.h"

#include "platform/user_message.h"
#include "settings/account.h"
#include "ui/app_windows.h"
#include "ui/command_action.h"
#include "ui/delete_now.h"
#include "ui/find_box.h"
#include "ui/images.h"
#include "ui/mailbox/mailbox_window.h"
#include "ui/print.h"
#include "ui/qtext.h"
#include "ui/setting_font.h"
#include "ui/windows.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char* const kLabels[5] = {
    QT_TRANSLATE_NOOP("Viewer", "From :"), QT_TRANSLATE_NOOP("Viewer", "Date :"),
    QT_TRANSLATE_NOOP("Viewer", "To :"), QT_TRANSLATE_NOOP("Viewer", "CC :"),
    QT_TRANSLATE_NOOP("Viewer", "Subject :")};

// An address list that wraps between whole addresses only: the blanks
// inside one address do not break.
QString wrappedList(const std::string& list) {
    QStringList parts;
    for (const std::string& a : ViewerText_SplitAddresses(list))
        parts << QText_From(a).trimmed().replace(QLatin1Char(' '), QChar(0x00A0));
    return parts.join(QLatin1Char(' '));
}

} // namespace

ViewerWindow::ViewerWindow(std::unique_ptr<ViewerModel> model, VIEWER_HOST host)
    : QMainWindow(nullptr), model_(std::move(model)), host_(std::move(host)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("viewer"));
    setWindowTitle(QText_From(model_->Title()));
    search_ = ViewerModel::LastSearch();
    buildActions();
    buildMenus();
    buildToolBar();
    buildCentre();
    showText();
    syncChecks();
    restorePlacement();
    text_->setFocus();
}

ViewerWindow::~ViewerWindow() = default;

QAction* ViewerWindow::addCommand(int command, const QString& text, const QKeySequence& key) {
    return UiCommand_Add(this, command, text, key, [this](int c) { Command(c); });
}

QAction* ViewerWindow::Action(int command) const {
    return UiCommand_Find(this, command);
}

void ViewerWindow::buildActions() {
    addCommand(VC_SAVE_AS, QCoreApplication::translate("Viewer", "&Save As...\tCtrl+S"),
               QKeySequence(Qt::CTRL | Qt::Key_S));
    addCommand(VC_SHOW_SOURCE, QCoreApplication::translate("Viewer", "Show So&urce"))
        ->setCheckable(true);
    addCommand(VC_SHOW_HTML, QCoreApplication::translate("Viewer", "Show &HTML Text"))
        ->setCheckable(true);
    addCommand(VC_BROWSER, QCoreApplication::translate("Viewer", "Open Into &Web Browser"));
    addCommand(VC_PRINT, QCoreApplication::translate("Viewer", "&Print"));
    addCommand(VC_CLOSE, QCoreApplication::translate("Viewer", "&Close\tEsc"),
               QKeySequence(Qt::Key_Escape));
    // Copy works on the control with the focus: the field's own key does it.
    addCommand(VC_COPY, QCoreApplication::translate("Viewer", "&Copy \tCtrl+C"));
    addCommand(VC_SELECT_ALL, QCoreApplication::translate("Viewer", "Select &All \tCtrl+A"),
               QKeySequence(Qt::CTRL | Qt::Key_A));
    addCommand(VC_FIND, QCoreApplication::translate("Viewer", "&Find...\tCtrl+F3"),
               QKeySequence(Qt::CTRL | Qt::Key_F3));
    addCommand(VC_FIND_NEXT, QCoreApplication::translate("Viewer", "Find &Next\tF3"),
               QKeySequence(Qt::Key_F3));
    addCommand(VC_FIND_PREV, QCoreApplication::translate("Viewer", "Find &Previous\tShift+F3"),
               QKeySequence(Qt::SHIFT | Qt::Key_F3));
    addCommand(VC_DELETE, QCoreApplication::translate("Viewer", "&Delete"));
    addCommand(VC_DELETE_NOW, QCoreApplication::translate("Viewer", "Delete &Now!"));
    addCommand(VC_REPLY, QCoreApplication::translate("Viewer", "Send &Reply\tCtrl+R"),
               QKeySequence(Qt::CTRL | Qt::Key_R));
    addCommand(VC_FORWARD, QCoreApplication::translate("Viewer", "&Forward\tCtrl+W"),
               QKeySequence(Qt::CTRL | Qt::Key_W));
    addCommand(VC_HELP, QCoreApplication::translate("Viewer", "&Contents\tF1"),
               QKeySequence(Qt::Key_F1));
    addCommand(VC_HELP_PREVIEW, QCoreApplication::translate("Viewer", "&Preview Window"));
    addCommand(VC_ABOUT, QCoreApplication::translate("Viewer", "&About Inboxwarden"));
    // The menu shows the keys in its texts; the shortcuts are the actions'.
    for (QAction* a : actions())
        if (a->text().contains(QLatin1Char('\t')))
            a->setText(a->text().section(QLatin1Char('\t'), 0, 0).trimmed() + QLatin1Char('\t') +
                       a->text().section(QLatin1Char('\t'), 1));
}

void ViewerWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(QCoreApplication::translate("Viewer", "&File"));
    file->addAction(Action(VC_SAVE_AS));
    file->addAction(Action(VC_SHOW_SOURCE));
    if (model_->OffersHtmlText()) file->addAction(Action(VC_SHOW_HTML));
    if (model_->HasHtml()) file->addAction(Action(VC_BROWSER));
    file->addAction(Action(VC_PRINT));
    file->addSeparator();
    file->addAction(Action(VC_CLOSE));
    QMenu* edit = menuBar()->addMenu(QCoreApplication::translate("Viewer", "&Edit"));
    edit->addAction(Action(VC_COPY));
    edit->addAction(Action(VC_SELECT_ALL));
    edit->addSeparator();
    edit->addAction(Action(VC_FIND));
    edit->addAction(Action(VC_FIND_NEXT));
    edit->addAction(Action(VC_FIND_PREV));
    QMenu* message = menuBar()->addMenu(QCoreApplication::translate("Viewer", "&Message"));
    message->addAction(Action(VC_DELETE));
    // Also here, not only on the toolbar, so that the keyboard reaches it.
    message->addAction(Action(VC_DELETE_NOW));
    message->addSeparator();
    message->addAction(Action(VC_REPLY));
    message->addAction(Action(VC_FORWARD));
    QMenu* help = menuBar()->addMenu(QCoreApplication::translate("Viewer", "&Help"));
    help->addAction(Action(VC_HELP));
    help->addAction(Action(VC_HELP_PREVIEW));
    help->addSeparator();
    help->addAction(Action(VC_ABOUT));
}

void ViewerWindow::buildToolBar() {
    toolBar_ = addToolBar(QCoreApplication::translate("Viewer", "Tools"));
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setMovable(false);
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar_->setIconSize(QSize(IMAGES_TOOL_SIZE, IMAGES_TOOL_SIZE));
    const auto button = [this](int command, const char* label, QIcon icon) {
        QAction* a = Action(command);
        a->setIconText(QCoreApplication::translate("Viewer", label));
        a->setIcon(icon);
        toolBar_->addAction(a);
    };
    QStyle* st = style();
    button(VC_SAVE_AS, QT_TRANSLATE_NOOP("Viewer", "Save As"),
           QIcon::fromTheme(QStringLiteral("document-save-as"),
                            st->standardIcon(QStyle::SP_DialogSaveButton)));
    button(
        VC_PRINT, QT_TRANSLATE_NOOP("Viewer", "Print"),
        QIcon::fromTheme(QStringLiteral("document-print"), st->standardIcon(QStyle::SP_FileIcon)));
    toolBar_->addSeparator();
    button(VC_SHOW_SOURCE, QT_TRANSLATE_NOOP("Viewer", "Source"),
           QIcon::fromTheme(QStringLiteral("text-x-generic"),
                            st->standardIcon(QStyle::SP_FileDialogDetailedView)));
    button(VC_BROWSER, QT_TRANSLATE_NOOP("Viewer", "Browser"),
           QIcon::fromTheme(QStringLiteral("internet-web-browser"),
                            st->standardIcon(QStyle::SP_DriveNetIcon)));
    toolBar_->widgetForAction(Action(VC_BROWSER))->setVisible(model_->HasHtml());
    Action(VC_BROWSER)->setVisible(model_->HasHtml());
    toolBar_->addSeparator();
    button(VC_DELETE, QT_TRANSLATE_NOOP("Viewer", "Delete"), Images_Tool(TOOL_MARK_DELETE));
    button(VC_DELETE_NOW, QT_TRANSLATE_NOOP("Viewer", "Now!"), Images_Tool(TOOL_DELETE_NOW));
    toolBar_->addSeparator();
    button(VC_REPLY, QT_TRANSLATE_NOOP("Viewer", "Reply"), Images_Tool(TOOL_REPLY));
    button(VC_FORWARD, QT_TRANSLATE_NOOP("Viewer", "Forward"), Images_Tool(TOOL_FORWARD));
    toolBar_->addSeparator();
    button(VC_FIND, QT_TRANSLATE_NOOP("Viewer", "Find"), Images_Tool(TOOL_FIND));
    button(VC_FIND_NEXT, QT_TRANSLATE_NOOP("Viewer", "Next"), Images_Tool(TOOL_FIND_NEXT));
    button(VC_FIND_PREV, QT_TRANSLATE_NOOP("Viewer", "Prev"), Images_Tool(TOOL_FIND_PREV));
    // The icon texts stand on the buttons; the tooltips keep the full names.
    for (QAction* a : toolBar_->actions())
        if (!a->isSeparator()) a->setToolTip(QText_Tip(a->text()));
}

void ViewerWindow::buildCentre() {
    auto* centre = new QWidget(this);
    auto* layout = new QVBoxLayout(centre);
    auto* grid = new QGridLayout;
    const std::string* values[5] = {&model_->From(), &model_->Date(), &model_->To(), &model_->Cc(),
                                    &model_->Subject()};
    for (int i = 0; i < 5; ++i) {
        auto* label = new QLabel(QCoreApplication::translate("Viewer", kLabels[i]), centre);
        auto* value = new QLabel(centre);
        value->setObjectName(QStringLiteral("field%1").arg(i));
        value->setTextFormat(Qt::PlainText);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        value->setFocusPolicy(Qt::StrongFocus);
        value->setAccessibleName(QCoreApplication::translate("Viewer", kLabels[i]).chopped(2));
        value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        if (i == 2 || i == 3) {
            // The address lists grow downwards, wrapped by whole addresses.
            value->setWordWrap(true);
            value->setText(wrappedList(*values[i]));
        } else {
            value->setText(QText_From(*values[i]));
        }
        label->setBuddy(value);
        grid->addWidget(label, i, 0, Qt::AlignTop);
        grid->addWidget(value, i, 1);
        fields_[i] = value;
    }
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    text_ = new QTextBrowser(centre);
    text_->setObjectName(QStringLiteral("text"));
    text_->setAccessibleName(QCoreApplication::translate("Viewer", "Message text"));
    // Links are the viewer's own (see showText); nothing is followed by the
    // field itself, nothing is loaded.
    text_->setOpenLinks(false);
    text_->setOpenExternalLinks(false);
    text_->setUndoRedoEnabled(false);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard |
                                   Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    text_->setContextMenuPolicy(Qt::CustomContextMenu);
    if (const std::optional<QFont> f = SettingFont_Read()) text_->setFont(*f);
    connect(text_, &QTextBrowser::anchorClicked, this, &ViewerWindow::openLink);
    connect(text_, &QWidget::customContextMenuRequested, this, &ViewerWindow::textMenu);
    layout->addWidget(text_, 1);

    listLabel_ = new QLabel(QCoreApplication::translate("Viewer", "&Attachments :"), centre);
    list_ = new QListWidget(centre);
    list_->setObjectName(QStringLiteral("attachments"));
    list_->setAccessibleName(QCoreApplication::translate("Viewer", "Attachments"));
    list_->setFlow(QListView::LeftToRight);
    list_->setWrapping(true);
    list_->setMaximumHeight(list_->fontMetrics().height() * 5);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    listLabel_->setBuddy(list_);
    const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    for (const VIEWER_ROW& r : model_->Rows())
        list_->addItem(new QListWidgetItem(fileIcon, QText_From(r.text)));
    if (list_->count() > 0) list_->setCurrentRow(0);
    connect(list_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { OpenRow(list_->row(item)); });
    connect(list_, &QWidget::customContextMenuRequested, this, &ViewerWindow::listMenu);
    listLabel_->setVisible(list_->count() > 0);
    list_->setVisible(list_->count() > 0);
    layout->addWidget(listLabel_);
    layout->addWidget(list_);
    setCentralWidget(centre);
}

void ViewerWindow::restorePlacement() {
    const auto p = ViewerModel::SavedPlacement();
    if (!p) {
        resize(720, 560);
        return;
    }
    setGeometry(p->x, p->y, std::max(p->width, 200), std::max(p->height, 150));
    if (p->maximised) setWindowState(windowState() | Qt::WindowMaximized);
}

// The text as plain text, with the links the viewer found in it made into
// anchors by hand: no markup from the mail is ever interpreted.
void ViewerWindow::showText() {
    QString text = QText_From(model_->Text());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text_->clear();
    QTextCursor c(text_->document());
    c.beginEditBlock();
    const QTextCharFormat plain;
    QTextCharFormat link;
    link.setAnchor(true);
    link.setFontUnderline(true);
    link.setForeground(palette().link());
    int at = 0;
    for (const VIEWER_LINK& l : ViewerText_Links(text)) {
        c.insertText(text.mid(at, l.start - at), plain);
        link.setAnchorHref(l.url);
        c.insertText(text.mid(l.start, l.length), link);
        at = l.start + l.length;
    }
    c.insertText(text.mid(at), plain);
    c.endEditBlock();
    text_->moveCursor(QTextCursor::Start);
}

void ViewerWindow::syncChecks() {
    Action(VC_SHOW_SOURCE)->setChecked(model_->SourceShown());
    Action(VC_SHOW_HTML)->setChecked(model_->HtmlShown());
}

int ViewerWindow::ask(const VIEWER_NOTICE& notice) {
    UiBoxOwner owner(findBox_ && findBox_->isActiveWindow() ? static_cast<QWidget*>(findBox_)
                                                            : this);
    return UserMsg_Show(notice.caption, notice.text, notice.flags);
}

void ViewerWindow::showOutcome(const VIEWER_OUTCOME& outcome) {
    for (const VIEWER_NOTICE& n : outcome.notices)
        ask(n);
}

// ---- Commands -------------------------------------------------------------------

void ViewerWindow::Command(int command) {
    switch (command) {
    case VC_SAVE_AS:
        saveMessage();
        break;
    case VC_SHOW_SOURCE:
        model_->ToggleSource();
        showText();
        syncChecks();
        break;
    case VC_SHOW_HTML:
        if (!model_->OffersHtmlText()) break;
        model_->ToggleHtml();
        showText();
        syncChecks();
        break;
    case VC_BROWSER: {
        if (!model_->HasHtml()) break;
        VIEWER_NOTICE notice;
        const std::string path = model_->BrowserFile(&notice);
        syncChecks();
        if (path.empty())
            ask(notice);
        else
            openFile(path, "Open Attachment");
        break;
    }
    case VC_PRINT: {
        const std::string heading = model_->PrintHeading();
        Print_WindowText(&heading, text_);
        break;
    }
    case VC_CLOSE:
        if (findBox_ && findBox_->isVisible())
            findBox_->close();
        else
            close();
        break;
    case VC_COPY: {
        QWidget* w = QApplication::focusWidget();
        if (auto* label = qobject_cast<QLabel*>(w); label && label->hasSelectedText())
            QApplication::clipboard()->setText(label->selectedText());
        else if (auto* edit = qobject_cast<QTextEdit*>(w))
            edit->copy();
        else if (auto* line = qobject_cast<QLineEdit*>(w))
            line->copy();
        break;
    }
    case VC_SELECT_ALL:
        text_->selectAll();
        break;
    case VC_FIND:
        showFindBox();
        break;
    case VC_FIND_NEXT:
    case VC_FIND_PREV:
        find(command == VC_FIND_NEXT);
        break;
    case VC_DELETE:
        deleteMessage(false);
        break;
    case VC_DELETE_NOW:
        deleteMessage(true);
        break;
    case VC_REPLY:
    case VC_FORWARD:
        if (host_.windows) {
            COMPOSE_REQUEST request;
            request.account = model_->AccountName();
            request.messageText = model_->MessageText();
            request.forward = command == VC_FORWARD;
            request.preferHtml = model_->HtmlShown();
            host_.windows->OpenCompose(request);
            close();
        }
        break;
    case VC_HELP:
    case VC_HELP_PREVIEW:
    case VC_ABOUT:
        if (host_.windows) {
            UiBoxOwner owner(this);
            host_.windows->Open(command == VC_ABOUT ? APP_WINDOW::About : APP_WINDOW::Help);
        }
        break;
    default:
        break;
    }
}

void ViewerWindow::openLink(const QUrl& url) {
    // Only the web and mail: a file:, smb: or custom-scheme link in a
    // stranger's mail must not start programs or mount shares.
    const QString s = url.toString(QUrl::FullyEncoded);
    if (!ViewerText_LinkAllowed(s)) return;
    if (host_.openUrl)
        host_.openUrl(url);
    else
        QDesktopServices::openUrl(url);
}

bool ViewerWindow::openFile(const std::string& path, const char* title) {
    const QUrl url = QUrl::fromLocalFile(QText_From(path));
    if (host_.openUrl ? host_.openUrl(url) : QDesktopServices::openUrl(url)) return true;
    ask({title,
         "This is an undefined Windows file type.\r\n\r\n"
         "The program needed to open this file may not be \r\n"
         "installed on this computer or the attached file \r\n"
         "may not have the correct extension. \r\n",
         UM_OK | UM_ICONWARNING});
    return false;
}

QString ViewerWindow::askSavePath(const QString& title, const std::string& proposed,
                                  const std::string& extension) {
    const QString ext = QText_From(extension);
    if (host_.askSavePath) return host_.askSavePath(this, title, QText_From(proposed), ext);
    QFileDialog dialog(this, title, QText_From(proposed));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(ext);
    dialog.setNameFilters(
        {QStringLiteral("*.%1").arg(ext), QCoreApplication::translate("Viewer", "All files (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

void ViewerWindow::saveMessage() {
    const QString path = askSavePath(QCoreApplication::translate("Viewer", "Save As"),
                                     model_->ProposedMessageName(), "txt");
    if (path.isEmpty()) return;
    VIEWER_OUTCOME out;
    model_->SaveMessage(path.toStdString(), &out);
    showOutcome(out);
    QTextCursor c = text_->textCursor();
    c.clearSelection();
    text_->setTextCursor(c);
}

void ViewerWindow::OpenRow(int row) {
    if (row < 0 || row >= static_cast<int>(model_->Rows().size())) return;
    VIEWER_OUTCOME out;
    const std::string path = model_->FileToOpen(row, &out);
    showOutcome(out);
    if (!path.empty())
        openFile(path, model_->Rows()[static_cast<size_t>(row)].part ? "Open Attachment"
                                                                     : "Run TNEF Attachment");
}

void ViewerWindow::SaveRow(int row, bool thenOpen) {
    if (row < 0 || row >= static_cast<int>(model_->Rows().size())) return;
    const bool packed = !model_->Rows()[static_cast<size_t>(row)].part;
    const std::string proposed = model_->ProposedName(row);
    const QString path =
        askSavePath(packed ? QCoreApplication::translate("Viewer", "Save TNEF Attachment")
                           : QCoreApplication::translate("Viewer", "Save As"),
                    proposed, ViewerModel::Extension(proposed));
    if (path.isEmpty()) return;
    VIEWER_OUTCOME out;
    const bool saved = model_->SaveRow(row, path.toStdString(), &out);
    showOutcome(out);
    if (saved && thenOpen)
        openFile(path.toStdString(), packed ? "Save TNEF Attachment" : "Open Attachment");
}

void ViewerWindow::deleteMessage(bool now) {
    const std::string account = model_->AccountName(), id = model_->MessageId();
    const VIEWER_OUTCOME out =
        now ? model_->DeleteNow(
                  [this](ACCOUNT* acc, const std::vector<std::string>& ids,
                         FASTPOP3_RESULT* result) { return DeleteNow_Run(this, acc, ids, result); })
            : model_->Delete();
    showOutcome(out);
    // The MailBox window follows the box, looked up by name again: the
    // delete box ran an event loop.
    if (MailBoxWindow* m = MailBox_Window(); m && (out.messageMarked || out.countsChanged)) {
        if (ACCOUNT* acc = Account_Get(account.c_str(), -1)) {
            if (out.messageMarked) m->MessageMarked(acc, id);
            if (out.countsChanged) m->CountsChanged(acc);
        }
    }
    if (out.close) close();
}

// ---- Find -------------------------------------------------------------------------

QDialog* ViewerWindow::FindBox() const {
    return findBox_;
}

void ViewerWindow::showFindBox() {
    if (!findBox_) {
        findBox_ =
            new ::FindBox(this, search_, matchCase_, [this](bool forward) { find(forward); });
        // F3 and Shift+F3 work from the box too.
        findBox_->addAction(Action(VC_FIND_NEXT));
        findBox_->addAction(Action(VC_FIND_PREV));
    }
    findBox_->Present();
}

void ViewerWindow::find(bool forward) {
    if (findBox_ && findBox_->isVisible()) {
        search_ = findBox_->Text();
        matchCase_ = findBox_->MatchCase();
    }
    if (search_.empty()) {
        showFindBox();
        return;
    }
    ViewerModel::SetLastSearch(search_);
    const QTextCursor c = text_->textCursor();
    const QString what = QText_From(search_);
    const int at = ViewerText_Find(text_->document()->toPlainText(), what, matchCase_, forward,
                                   c.selectionStart(), c.selectionEnd());
    if (at < 0) {
        ask({"Inboxwarden", "Can't find \"" + search_ + "\".", UM_OK | UM_ICONINFO});
        return;
    }
    QTextCursor found(text_->document());
    found.setPosition(at);
    found.setPosition(at + static_cast<int>(what.size()), QTextCursor::KeepAnchor);
    text_->setTextCursor(found);
    text_->ensureCursorVisible();
}

// ---- Context menus ------------------------------------------------------------------

void ViewerWindow::textMenu(const QPoint& at) {
    // The field is read-only: what would change it is offered but greyed.
    QMenu menu(this);
    const bool selected = text_->textCursor().hasSelection();
    menu.addAction(QCoreApplication::translate("Viewer", "Undo"))->setEnabled(false);
    menu.addAction(QCoreApplication::translate("Viewer", "Redo"))->setEnabled(false);
    menu.addSeparator();
    menu.addAction(QCoreApplication::translate("Viewer", "Cut"))->setEnabled(false);
    QAction* copy =
        menu.addAction(QCoreApplication::translate("Viewer", "Copy"), text_, &QTextBrowser::copy);
    copy->setEnabled(selected);
    menu.addAction(QCoreApplication::translate("Viewer", "Paste"))->setEnabled(false);
    menu.addAction(QCoreApplication::translate("Viewer", "Delete"))->setEnabled(false);
    menu.addSeparator();
    menu.addAction(QCoreApplication::translate("Viewer", "Select All"), text_,
                   &QTextBrowser::selectAll);
    menu.exec(text_->viewport()->mapToGlobal(at));
}

void ViewerWindow::listMenu(const QPoint& at) {
    QListWidgetItem* item = list_->itemAt(at);
    if (!item) item = list_->currentItem();
    if (!item) return;
    const int row = list_->row(item);
    QMenu menu(this);
    menu.addAction(QCoreApplication::translate("Viewer", "&Open"), this,
                   [this, row] { OpenRow(row); });
    menu.addAction(QCoreApplication::translate("Viewer", "&Save"), this,
                   [this, row] { SaveRow(row, false); });
    menu.addAction(QCoreApplication::translate("Viewer", "Save and O&pen"), this,
                   [this, row] { SaveRow(row, true); });
    menu.exec(list_->viewport()->mapToGlobal(at));
}

// ---- Closing ------------------------------------------------------------------------

void ViewerWindow::closeEvent(QCloseEvent* event) {
    const bool maximised = isMaximized();
    const QRect r = maximised ? normalGeometry() : geometry();
    ViewerModel::SavePlacement({r.x(), r.y(), r.width(), r.height(), maximised});
    if (findBox_) findBox_->close();
    event->accept();
}
