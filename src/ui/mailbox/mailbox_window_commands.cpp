// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox window's commands, the program's messages to it, the Find box
// and "Delete now" behind its progress box.
#include "ui/mailbox/mailbox_window.h"

#include "common/status.h"
#include "engine/mailcheck.h"
#include "engine/mailsend.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/settings.h"
#include "ui/addressbook/addressbook.h"
#include "ui/app_windows.h"
#include "ui/delete_now.h"
#include "ui/filter/filter_editor.h"
#include "ui/find_box.h"
#include "ui/progress.h"
#include "ui/qtext.h"
#include "ui/viewer/viewer.h"
#include "ui/windows.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

// ---- Commands -------------------------------------------------------------------

void MailBoxWindow::Command(int command) {
    switch (command) {
    case MBC_MARK_DELETE:
        apply(model_.MarkForDeletion(false));
        break;
    case MBC_DELETE_NOW:
        deleteNow();
        break;
    case MBC_MARK_READ:
        apply(model_.MarkRows(MSG_OLD));
        break;
    case MBC_MARK_UNREAD:
        apply(model_.MarkRows(MSG_UNREAD));
        break;
    case MBC_MARK_BOX_READ:
        apply(model_.MarkBox(MSG_OLD));
        break;
    case MBC_MARK_BOX_UNREAD:
        apply(model_.MarkBox(MSG_UNREAD));
        break;
    case MBC_MARK_ALL_READ:
        apply(model_.MarkAll(MSG_OLD));
        break;
    case MBC_MARK_ALL_UNREAD:
        apply(model_.MarkAll(MSG_UNREAD));
        break;
    case MBC_CLEAR_LOG:
        apply(model_.ClearLog());
        break;
    case MBC_CLEAR_ALL_LOGS:
        apply(model_.ClearAllLogs());
        break;
    case MBC_CHECK_CURRENT:
        checkCurrent(false);
        break;
    case MBC_CHECK_ALL:
    case MBC_CHECK_ALL_BUTTON:
        checkAll(false);
        break;
    case MBC_CHECK_INCLUDED:
        checkAll(true);
        break;
    case MBC_SELECT_ALL:
        model_.SelectAll();
        sync();
        break;
    case MBC_FIND:
        showFindBox();
        break;
    case MBC_FIND_NEXT:
    case MBC_FIND_PREV:
        find(command == MBC_FIND_NEXT);
        break;
    case MBC_MAIL_CLIENT:
        if (host_.launchMailClient) host_.launchMailClient(model_.SelectedAccount());
        break;
    case MBC_PROGRESS_WINDOW:
        model_.ToggleProgressWindow();
        syncActions();
        break;
    case MBC_SMALL_ICONS:
    case MBC_LARGE_ICONS:
        GlobalData_SetParam(GD_BUTTONSIZE, command == MBC_LARGE_ICONS ? 2 : 1);
        applyButtonSize();
        syncActions();
        break;
    case MBC_SMALL_LOGO:
    case MBC_LARGE_LOGO:
        GlobalData_SetParam(GD_LOGOSIZE, command == MBC_LARGE_LOGO ? 2 : 1);
        applyButtonSize();
        syncActions();
        break;
    case MBC_AUTO_CHECK:
    case MBC_SETTINGS:
    case MBC_PROFILES:
    case MBC_EXIT:
    case MBC_HELP:
    case MBC_ABOUT:
        // As the tray does them; the tray tells this window what changed.
        if (host_.trayCommand) host_.trayCommand(command);
        if (command == MBC_AUTO_CHECK) syncActions(); // the tray may be absent
        break;
    case MBC_OPEN:
        openMessage(0);
        break;
    case MBC_ADD_FILTER:
        addFilter();
        break;
    case MBC_OPEN_FIRST:
        openMessage(MBDL_FIRST_LINES);
        break;
    case MBC_RETURN_ERROR:
        returnError();
        break;
    case MBC_SYSTEM_INFO:
        systemInfo();
        break;
    case MBC_REPLY:
    case MBC_FORWARD:
    case MBC_COMPOSE:
    case MBC_SAVED_MESSAGES:
    case MBC_HELP_WINDOW:
        openLater(command);
        break;
    case MBC_CLOSE:
    case MBC_CLOSE_BUTTON:
        closeKeeping(true);
        break;
    default:
        break;
    }
}

// The windows these commands lead to come with later parts of the program;
// the window interface says so until they are there.
void MailBoxWindow::openLater(int command) {
    if (!model_.IsEnabled(command) || !host_.windows) return;
    if (command == MBC_REPLY || command == MBC_FORWARD) {
        // The whole message, without the viewer: the answer quotes its text
        // and a forward carries its attachments.
        const auto fetch = [this](CheckRequest* request) {
            UiBoxOwner owner(this);
            return MailCheck_Start(request);
        };
        std::optional<MAILBOX_MESSAGE> message;
        apply(model_.Download(0, MAILBOX_LINES{true, 0}, fetch, &message));
        if (!message) return;
        COMPOSE_REQUEST request;
        request.account = message->account;
        request.messageText = std::move(message->text);
        request.forward = command == MBC_FORWARD;
        host_.windows->OpenCompose(request);
        return;
    }
    if (command == MBC_COMPOSE) {
        // A new message from the selected account (its signature applies).
        COMPOSE_REQUEST request;
        if (const ACCOUNT* a = model_.SelectedAccount()) request.account = a->Name;
        host_.windows->OpenCompose(request);
        return;
    }
    APP_WINDOW w = APP_WINDOW::Viewer;
    switch (command) {
    case MBC_REPLY:
    case MBC_FORWARD:
    case MBC_COMPOSE:
        w = APP_WINDOW::Compose;
        break;
    case MBC_SAVED_MESSAGES:
        w = APP_WINDOW::SavedMessages;
        break;
    case MBC_HELP_WINDOW:
        w = APP_WINDOW::Help;
        break;
    default:
        break;
    }
    UiBoxOwner owner(this);
    host_.windows->Open(w);
}

// A rule for the focused (else the first selected) message; the profile is
// saved at once, so the rule survives a crash or a profile switch.
void MailBoxWindow::addFilter() {
    ACCOUNT* account = model_.SelectedAccount();
    if (!model_.IsEnabled(MBC_ADD_FILTER) || !account) return;
    const MailBoxList& list = model_.List();
    int pos = list.Focus();
    for (int i = 0; (pos < 0 || !list.Row(pos).selected) && i < list.Count(); ++i)
        pos = list.Row(i).selected ? i : -1;
    if (pos < 0) return;
    const MAILBOX_ROW row = list.Row(pos);
    if (FilterEditor_AddRule(this, account->Name, row.from, row.to, row.subject))
        Settings_ExportToFile(0);
}

// "Enter number lines to read:" with "Download whole message"; nullopt
// when cancelled.
std::optional<MAILBOX_LINES> MailBoxWindow::askLines(int32_t lines) {
    QDialog box(this);
    box.setWindowTitle(QStringLiteral("Inboxwarden"));
    auto* label =
        new QLabel(QCoreApplication::translate("MailBox", "&Enter number lines to read:"), &box);
    auto* count = new QSpinBox(&box);
    count->setRange(0, 999999);
    count->setValue(std::clamp<int32_t>(lines, 0, 999999));
    label->setBuddy(count);
    auto* whole =
        new QCheckBox(QCoreApplication::translate("MailBox", "Download &whole message"), &box);
    whole->setChecked(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &box);
    connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    auto* layout = new QGridLayout(&box);
    layout->addWidget(label, 0, 0);
    layout->addWidget(count, 0, 1);
    layout->addWidget(whole, 1, 0, 1, 2);
    layout->addWidget(buttons, 2, 0, 1, 2);
    count->setFocus();
    count->selectAll();
    linesBox_ = &box;
    const int answer = box.exec();
    linesBox_ = nullptr;
    if (answer != QDialog::Accepted) return std::nullopt;
    return MAILBOX_LINES{whole->isChecked(), count->value()};
}

void MailBoxWindow::openMessage(unsigned flags) {
    if (!model_.IsEnabled(MBC_OPEN)) return;
    std::optional<MAILBOX_LINES> answer;
    if (const std::optional<int32_t> lines = model_.LinesQuestion(flags)) {
        answer = askLines(*lines);
        if (!answer) return;
    }
    const auto fetch = [this](CheckRequest* request) {
        UiBoxOwner owner(this); // the download box, the password prompt
        return MailCheck_Start(request);
    };
    std::optional<MAILBOX_MESSAGE> message;
    apply(model_.Download(flags, answer, fetch, &message));
    if (message) Viewer_Open(message->account, std::move(message->text), &message->record);
}

void MailBoxWindow::returnError() {
    if (!model_.IsEnabled(MBC_RETURN_ERROR)) return;
    if (ask(MailBoxModel::ReturnErrorQuestion()) != UM_IDYES) return;
    const auto fetch = [this](CheckRequest* request) {
        UiBoxOwner owner(this);
        return MailCheck_Start(request);
    };
    const auto bounce = [this](ACCOUNT* account, std::string_view text, std::string* why) {
        UiBoxOwner owner(this); // the send box
        return MailSend_Bounce(this, account, text, 0, why);
    };
    apply(model_.ReturnError(fetch, bounce));
}

// What the address book read, in the report's own words.
void MailBoxWindow::systemInfo() {
    ask({"System Information", AddressBook_Report(AddressBook_Load(AddressBook_Files())),
         UM_OK | UM_ICONINFO});
}

int MailBoxWindow::ask(const MAILBOX_NOTICE& notice) {
    UiBoxOwner owner(findBox_ && findBox_->isActiveWindow() ? static_cast<QWidget*>(findBox_)
                                                            : this);
    return UserMsg_Show(notice.caption, notice.text, notice.flags);
}

void MailBoxWindow::apply(const MAILBOX_OUTCOME& outcome, bool deferNotice) {
    sync();
    if (outcome.trayRefresh && host_.trayRefresh) host_.trayRefresh();
    if (outcome.showProgress) Progress_Start(true);
    const bool compose = host_.composeOpen && host_.composeOpen();
    if (outcome.raise && !compose) {
        raise();
        activateWindow();
        // Where a window may not take the focus, the desktop marks it instead.
        QApplication::alert(this, 1500);
    }
    if (outcome.focusList && !compose) list_->setFocus();
    if (outcome.openFindBox) showFindBox();
    if (!outcome.notice) return;
    if (deferNotice) {
        // The engine waits inside this call: its box comes after it returned.
        QTimer::singleShot(0, this, [this, n = *outcome.notice] { ask(n); });
    } else {
        ask(*outcome.notice);
    }
}

void MailBoxWindow::checkCurrent(bool fromDoubleClick) {
    if (model_.SelectedNode() <= 0) {
        // A double click on the root leads to the profiles.
        if (fromDoubleClick) {
            if (QTreeWidgetItem* root = tree_->topLevelItem(0)) root->setExpanded(true);
            if (host_.trayCommand) host_.trayCommand(MBC_PROFILES);
        }
        return;
    }
    if (const auto q = model_.PendingDeletesQuestion(MAILBOX_SCOPE::Selected);
        q && ask(*q) != UM_IDYES)
        return;
    apply(model_.CheckCurrent());
}

void MailBoxWindow::checkAll(bool includedOnly) {
    if (const auto q = model_.PendingDeletesQuestion(MAILBOX_SCOPE::All); q && ask(*q) != UM_IDYES)
        return;
    apply(model_.CheckAll(includedOnly));
}

void MailBoxWindow::closeKeeping(bool keepLayout) {
    keepLayout_ = keepLayout;
    close();
}

// ---- Delete now -------------------------------------------------------------------

void MailBoxWindow::deleteNow() {
    apply(model_.DeleteNow(
        [this](ACCOUNT* account, const std::vector<std::string>& ids, FASTPOP3_RESULT* result) {
            return DeleteNow_Run(this, account, ids, result);
        }));
}

// ---- Find ---------------------------------------------------------------------------

QDialog* MailBoxWindow::FindBox() const {
    return findBox_;
}

void MailBoxWindow::showFindBox() {
    if (!findBox_)
        findBox_ =
            new ::FindBox(this, lastFind_, lastMatchCase_, [this](bool forward) { find(forward); });
    findBox_->Present();
}

void MailBoxWindow::find(bool forward) {
    if (findBox_ && findBox_->isVisible()) {
        lastFind_ = findBox_->Text();
        lastMatchCase_ = findBox_->MatchCase();
    }
    apply(model_.Find(lastFind_, lastMatchCase_, forward));
}

// ---- Context menus ------------------------------------------------------------------

void MailBoxWindow::listMenu(const QPoint& at) {
    Action(MBC_OPEN_FIRST)->setText(QText_From(model_.OpenFirstCaption()));
    listMenu_->exec(list_->viewport()->mapToGlobal(at));
}

void MailBoxWindow::treeMenu(const QPoint& at) {
    if (QTreeWidgetItem* item = tree_->itemAt(at)) tree_->setCurrentItem(item);
    mailBoxMenu_->exec(tree_->viewport()->mapToGlobal(at));
}

// ---- Messages from the program --------------------------------------------------------

void MailBoxWindow::AccountChecked(uint32_t result, ACCOUNT* account) {
    apply(model_.OnAccountChecked(result, account), true);
}

void MailBoxWindow::Refresh(ACCOUNT* account) {
    apply(model_.OnRefresh(account), true);
}

void MailBoxWindow::MessageMarked(ACCOUNT* account, std::string_view id) {
    apply(model_.OnMessageMarked(account, id));
}

void MailBoxWindow::CountsChanged(ACCOUNT* account) {
    apply(model_.OnCountsChanged(account));
}

void MailBoxWindow::TrayCommand(int command) {
    // The tray is the way back to a minimised window: it comes back too.
    if ((command == MBC_FLASH || command == MBC_RAISE) && isMinimized() &&
        !(host_.composeOpen && host_.composeOpen()))
        showNormal();
    apply(model_.OnTrayCommand(command), true);
}
