// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwnd.h"
#include "app/mainwnd_internal.h"

#include "app/desktop_notify.h"
#include "app/tray.h"
#include "common/status.h"
#include "common/text.h"
#include "common/translate.h"
#include "engine/mailcheck.h"
#include "engine/schedule.h"
#include "platform/log.h"
#include "platform/registry.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/reg.h"
#include "settings/settings.h"
#include "ui/newmail_popup.h"
#include "ui/qtext.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QMenu>
#include <QProcess>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <chrono>
#include <memory>

using namespace iwmainwnd;

namespace {

MainWnd* g_main = nullptr;
APP_WINDOWS* g_windows = nullptr;

} // namespace

void MainWnd_SetWindows(APP_WINDOWS* windows) {
    g_windows = windows;
}
APP_WINDOWS* MainWnd_Windows() {
    return g_windows;
}

MainWnd::MainWnd(APP_WINDOWS* windows) : windows_(windows ? windows : g_windows) {
    setObjectName(QStringLiteral("Inboxwarden"));
    g_main = this;
    buildMenu();
}

MainWnd::~MainWnd() {
    // Its actions would reach no one.
    if (notifier_) notifier_->Withdraw();
    for (auto& [id, t] : timers_)
        delete t;
    timers_.clear();
    if (tray_) delete tray_;
    delete menu_;
    if (g_main == this) g_main = nullptr;
}

MainWnd* MainWnd::Instance() {
    return g_main;
}

bool MainWnd::IsMailBoxOpen() {
    return windows_ && windows_->IsOpen(APP_WINDOW::MailBox);
}

bool MainWnd::onUiThread() const {
    return QThread::currentThread() == thread();
}

void MainWnd::Post(int msg, intptr_t wparam, intptr_t lparam) {
    QMetaObject::invokeMethod(
        this, [this, msg, wparam, lparam] { HandleMessage(msg, wparam, lparam); },
        Qt::QueuedConnection);
}

void MainWnd::HandleMessage(int msg, intptr_t, intptr_t lparam) {
    switch (msg) {
    case WM_SHOW_MAILBOXES:
        Command(CMD_SHOW_MAILBOXES);
        break;
    case WM_NEWMAIL_POPUP:
        announceNewMail(int(lparam));
        break;
    case WM_APP_SHUTDOWN:
        requestShutdown();
        break;
    case WM_SETTINGS_CHANGED:
        MenuRefresh();
        if (windows_) windows_->SettingsChanged();
        break;
    case WM_CHECK_CMD:
        checkCmd();
        break;
    case WM_LOAD_MESSAGES:
    case WM_LOAD_MESSAGES_FAST:
        loadMessages(msg == WM_LOAD_MESSAGES_FAST);
        break;
    default:
        DebugLog_Write("MainWnd: unknown message %d\n", msg);
    }
}

// ---- Commands --------------------------------------------------------------------

void MainWnd::openWindow(APP_WINDOW w) {
    if (windows_)
        windows_->Open(w);
    else
        UserMsg_Show("Inboxwarden", IW_N_("Inboxwarden", "This window is not available."),
                     UM_OK | UM_ICONINFO);
}

void MainWnd::Command(int id) {
    DebugLog_Write("Tray_Command: %d\n", id);
    if (id >= CMD_ACCOUNT_BASE) {
        Queue_PushAndCheck(id - CMD_ACCOUNT_BASE);
        return;
    }
    switch (id) {
    case CMD_SETTINGS:
    case CMD_PROFILES: {
        const APP_WINDOW w = id == CMD_SETTINGS ? APP_WINDOW::Settings : APP_WINDOW::Profiles;
        if (!windows_ || !windows_->Has(w)) {
            openWindow(w);
            return;
        }
        // One of the two at a time: the open one (or the wait before it)
        // answers a second request.
        if (settingsOpen_) {
            BringSettingsDialogToFront();
            return;
        }
        // The dialog may change or delete accounts the worker holds: it
        // opens once the worker has ended, and no check starts meanwhile.
        settingsOpen_ = true;
        waitForIdleCheck();
        Timers_KillAll();
        Queue_Clear();
        if (!shutdownPending_) openWindow(w);
        // What was queued meanwhile names accounts by index, and the
        // dialog may have renamed (re-sorted) or deleted them.
        Queue_Clear();
        Timers_KillAll();
        settingsOpen_ = false;
        if (shutdownPending_) {
            shutdownPending_ = false;
            requestShutdown();
            return;
        }
        HandleMessage(WM_SETTINGS_CHANGED, 0, 0);
        if (_globalInt(GD_ENABLED, 1) != 0) Schedule_Update(SU_START_TIMERS);
        if (!MailCheck_IsRunning()) UpdateSummary(nullptr, nullptr, nullptr);
        return;
    }
    case CMD_ENABLE: {
        const bool on = _globalInt(GD_ENABLED, 1) == 0;
        GlobalData_SetParam(GD_ENABLED, on ? 1 : 0);
        if (!MailCheck_IsRunning()) UpdateSummary(nullptr, nullptr, nullptr);
        if (on)
            Schedule_Update(SU_START_TIMERS);
        else
            Timers_KillAll();
        if (QAction* a = MenuAction(CMD_ENABLE)) a->setChecked(on);
        if (windows_) windows_->MailBoxCommand(MAILBOX_AUTO_SWITCHED);
        return;
    }
    case CMD_CANCEL_CHECK:
        MailCheck_Abort(ERR_CANCELLED);
        return;
    case CMD_EXIT:
        requestShutdown();
        return;
    case CMD_SHOW_MAILBOXES:
        // An open MailBox comes to the front, unless the user is composing.
        if (IsMailBoxOpen()) {
            if (!composeOpen_ && windows_) windows_->MailBoxCommand(MAILBOX_FLASH);
            return;
        }
        openWindow(APP_WINDOW::MailBox);
        return;
    case CMD_ABOUT:
        if (aboutOpen_) {
            QApplication::beep();
            return;
        }
        aboutOpen_ = true;
        if (QAction* a = MenuAction(CMD_ABOUT)) a->setEnabled(false);
        openWindow(APP_WINDOW::About);
        aboutOpen_ = false;
        if (QAction* a = MenuAction(CMD_ABOUT)) a->setEnabled(loaded_);
        return;
    case CMD_MAIL_CLIENT:
        if (MailClient_Launch(nullptr) && !IsMailBoxOpen()) SetNewMailBlink(false);
        return;
    case CMD_HELP:
        openWindow(APP_WINDOW::Help);
        return;
    case CMD_CHECK_ALL:
        Timers_KillAll();
        Schedule_Update(SU_QUEUE_ALL);
        return;
    case CMD_CHECK_INCLUDED:
        Account_MarkSkipped();
        Timers_KillAll();
        Schedule_Update(SU_QUEUE_INCLUDED);
        return;
    case CMD_COMPOSE:
        openWindow(APP_WINDOW::Compose);
        return;
    case CMD_CANCEL_AND_EXIT:
        quitWithoutSaving_ = true;
        requestShutdown();
        return;
    default:
        DebugLog_Write("Tray_Command: unknown command %d\n", id);
    }
}

void MainWnd::requestShutdown() {
    // The dialog's loop runs inside the Settings command, which holds
    // accounts: the dialog is closed unsaved and the command ends first.
    if (settingsOpen_) {
        shutdownPending_ = true;
        if (windows_) windows_->CloseAll();
        return;
    }
    if (shutdown_)
        shutdown_();
    else
        QCoreApplication::quit();
}

void MainWnd::checkCmd() {
    std::string text;
    REGKEY* root = Settings_Root();
    if (root) {
        char buf[261] = {};
        uint32_t len = sizeof buf;
        if (Reg_GetValue(root, HREGKEY_NONE, "CheckCmd", buf, &len, REG_T_STRBUF) == 0) text = buf;
        RegStore_DeleteValue(root->key, "CheckCmd");
    }
    DebugLog_Write("Processing WM_CHECK_CMD: \"%s\"\n", text.c_str());
    if (text.empty()) return;
    // The boxes may still be loading: the scheduler keeps the command until
    // Check On Start has run.
    if (Schedule_CheckCmd(text) >= 0 && IsMailBoxOpen() && windows_)
        windows_->MailBoxCommand(MAILBOX_RAISE);
}

// The worker may be inside a step that runs to its end after the cancel:
// the tray keeps answering meanwhile, and a wait long enough to notice says
// what it waits for.
void MainWnd::waitForIdleCheck() {
    std::unique_ptr<QProgressDialog> note;
    MailCheck_WaitIdle([&](int64_t waitedMs) {
        if (!note && waitedMs >= 300) {
            note = std::make_unique<QProgressDialog>(
                QCoreApplication::translate("Tray", "Cancelling the check\u2026"), QString(), 0, 0);
            note->setWindowTitle(QStringLiteral("Inboxwarden"));
            note->setMinimumDuration(0);
            note->show();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    });
}

void MainWnd::loadMessages(bool fast) {
    DebugLog_Write(fast ? "Processing WM_LOAD_MESSAGES_FAST in _mainWndProc\r\n"
                        : "Processing WM_LOAD_MESSAGES in _mainWndProc\r\n");
    ShowIcon(ICON_OFF);
    loaded_ = false;
    MenuRefresh();
    const auto started = std::chrono::steady_clock::now();
    NOTICES notices;
    const uint32_t rc = Settings_LoadMessages(true, &notices);
    if (rc != 0) DebugLog_Write("Settings_LoadMessages returned 0x%x\n", rc);
    RegStore_ReleaseMemory();
    UserMsg_ShowNotices(notices);
    loaded_ = true;
    MenuRefresh();
    ShowIcon(ICON_NORMAL);
    UpdateSummary(nullptr, nullptr, nullptr);
    int64_t records = 0;
    for (int i = 0; i < Account_GetCount(); ++i)
        if (const ACCOUNT* a = Account_Get(nullptr, i); a && a->hMsgBox)
            records += MsgBox_GetCount(a->hMsgBox);
    // Slow starts with large boxes are reported by users from this line.
    DebugLog_Write("Messages loaded: %d accounts, %lld records in %lld ms\n", Account_GetCount(),
                   static_cast<long long>(records),
                   static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - started)
                                              .count()));
    if (Timers_Init()) CheckOnStart();
}

// ---- New-mail popup ----------------------------------------------------------------

void MainWnd::PopupMailClient() {
    if (MailClient_Launch(nullptr) && !MailCheck_IsRunning()) {
        SetNewMailBlink(false);
        UpdateSummary(nullptr, nullptr, nullptr);
    }
}

void MainWnd::PopupIgnore() {
    // The boxes belong to the worker until it has ended (it recounts them as
    // its last step): the marking waits for that rather than being lost.
    if (MailCheck_IsRunning()) {
        QTimer::singleShot(250, this, [this] { PopupIgnore(); });
        return;
    }
    for (int i = 0, n = Account_GetCount(); i < n; ++i) {
        ACCOUNT* a = Account_Get(nullptr, i);
        if (a && a->hMsgBox) MsgBox_SetAllStatus(a->hMsgBox, MSG_LOOKED_AT, 1, a);
    }
    SetNewMailBlink(false);
    UpdateSummary(nullptr, nullptr, nullptr);
}

void MainWnd::SetNotificationBus(const QDBusConnection& bus) {
    notifier_ = std::make_unique<DesktopNotifier>(bus);
    notifier_->SetActionHandler([this](const QString& key) { notificationAction(key); });
}

void MainWnd::announceNewMail(int count) {
    if (count <= 0) {
        if (notifier_) notifier_->Withdraw();
        if (windows_) windows_->NewMailPopup(count);
        return;
    }
    const auto dialog = [this, count] {
        if (windows_) windows_->NewMailPopup(count);
    };
    const QWidget* open = NewMail_Window();
    if (_globalInt(GD_DESKTOPNOTIFY, 1) == 0 || (open && open->isVisible())) {
        dialog();
        return;
    }
    if (!notifier_) SetNotificationBus(QDBusConnection::sessionBus());
    // "Remind Later" is the one way back to mail announced once: without
    // it the choices must be offered, and only the dialog can then.
    const bool actionsNeeded = _globalInt(GD_NOTIFYONLYONCE, 0) != 0;
    notifier_->Announce(DesktopNotify_Gather(count), actionsNeeded, dialog);
}

void MainWnd::notificationAction(const QString& key) {
    const NEWMAIL_ACTIONS& a = NewMail_Actions();
    const std::function<void()>* fn = nullptr;
    if (key == QLatin1String(kNotifyActionDefault)) {
        runDefaultCommand();
        return;
    }
    if (key == QLatin1String(kNotifyActionResult)) fn = &a.resultWindow;
    if (key == QLatin1String(kNotifyActionMailClient)) fn = &a.mailClient;
    if (key == QLatin1String(kNotifyActionIgnore)) fn = &a.ignore;
    if (key == QLatin1String(kNotifyActionRemindLater)) fn = &a.remindLater;
    if (fn && *fn) (*fn)();
}

NEWMAIL_ACTIONS MainWnd_NewMailActions() {
    NEWMAIL_ACTIONS actions;
    actions.resultWindow = [] {
        if (MainWnd* w = MainWnd::Instance()) w->Post(WM_SHOW_MAILBOXES);
    };
    actions.mailClient = [] {
        if (MainWnd* w = MainWnd::Instance()) w->PopupMailClient();
    };
    actions.ignore = [] {
        if (MainWnd* w = MainWnd::Instance()) w->PopupIgnore();
    };
    actions.remindLater = [] { MailCheck_SetRemindLater(1); };
    return actions;
}

// ---- Tray_* on the running window ----------------------------------------------------

void Tray_ShowIcon(int icon) {
    if (g_main) g_main->ShowIcon(icon);
}
void Tray_SetTip(const std::string& text) {
    if (g_main) g_main->SetTip(text);
}
int Tray_UpdateSummary(int* checkedNew, int* checkedNotified, int* others) {
    return g_main ? g_main->UpdateSummary(checkedNew, checkedNotified, others) : 0;
}
void Menu_Refresh() {
    if (g_main) g_main->MenuRefresh();
}
void Tray_Command(int id) {
    if (g_main) g_main->Command(id);
}

int MailClient_Launch(ACCOUNT* account) {
    if (!account) {
        for (int i = 0, n = Account_GetCount(); i < n && !account; ++i) {
            ACCOUNT* a = Account_Get(nullptr, i);
            const MSGBOX_COUNTS* c = a && a->hMsgBox ? MsgBox_GetCounts(a->hMsgBox) : nullptr;
            if (c && c->New + c->Notified > 0) account = a;
        }
    }
    std::string line = account ? account->MailClnt : std::string();
    if (line.empty()) line = GlobalData_GetText(GD_MAILREADER);
    bool started = false;
    if (line.empty()) {
        // No client chosen: the desktop's own mail program, as a click on a
        // mail address would start it.
        const QString xdg = QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
        const QString mailto = QStringLiteral("mailto:");
        started = !xdg.isEmpty() ? QProcess::startDetached(xdg, {mailto})
                                 : QDesktopServices::openUrl(QUrl(mailto));
        if (!started) line = xdg.isEmpty() ? "mailto:" : "xdg-email";
    } else {
        QStringList args = QProcess::splitCommand(QText_From(line));
        if (!args.isEmpty()) {
            const QString program = args.takeFirst();
            started = QProcess::startDetached(program, args);
        }
    }
    if (!started) {
        char text[600];
        std::snprintf(text, sizeof text, Iw_Translate("Tray", "Mail client not found\n(%s)"),
                      line.c_str());
        UserMsg_Show("Inboxwarden", text, UM_OK | UM_ICONERROR);
    }
    return started ? 1 : 0;
}
