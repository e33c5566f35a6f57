#include "core/mainwnd.h"

#include "common/status.h"
#include "common/text.h"
#include "core/dialup.h"
#include "core/mailcheck.h"
#include "core/schedule.h"
#include "core/tray.h"
#include "platform/log.h"
#include "platform/sound.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/reg.h"
#include "settings/settings.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QNetworkInformation>
#include <QProcess>
#include <QScreen>
#include <QStyleHints>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>

namespace {

MainWnd* g_main = nullptr;
APP_WINDOWS* g_windows = nullptr;

QIcon _icon(int id) {
    QIcon icon;
    for (int size : {16, 22, 32})
        icon.addFile(QStringLiteral(":/icons/tray-%1-%2.png").arg(id).arg(size), QSize(size, size));
    return icon;
}

QString _q(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

int _globalInt(int number, int fallback) {
    intptr_t v = 0;
    return GlobalData_GetParam(number, &v) == 0 ? int(v) : fallback;
}

std::string _globalText(int number) {
    intptr_t v = 0;
    if (GlobalData_GetParam(number, &v) != 0 || !v) return {};
    return reinterpret_cast<const char*>(v);
}

// Blocking sends from the worker: the shared record outlives a waiter that
// gave up, so a late run on the UI thread writes into live memory.
struct Pending {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool abandoned = false;
};

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
        if (windows_) windows_->NewMailPopup(int(lparam));
        break;
    case WM_APP_SHUTDOWN:
        requestShutdown();
        break;
    case WM_SETTINGS_CHANGED:
        MenuRefresh();
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

// ---- Tray icon and tooltip ---------------------------------------------------

void MainWnd::AddTrayIcon(int icon, const std::string& tip) {
    trayWanted_ = true;
    tip_ = std::string(Text_CutUtf8(tip, TRAY_TIP_MAX));
    if (!tray_) {
        tray_ = new QSystemTrayIcon(this);
        tray_->setContextMenu(menu_);
        connect(tray_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason r) { onActivated(r); });
    }
    tray_->setToolTip(_q(tip_));
    setTrayIcon(icon);
    tray_->show();
    updateStatusWindow();
}

void MainWnd::RemoveTrayIcon() {
    trayWanted_ = false;
    if (tray_) tray_->hide();
    if (windows_) windows_->StatusWindow(APP_WINDOWS::STATUS_HIDE, iconShown_, tip_, nullptr);
}

void MainWnd::RecreateTrayIcon() {
    if (!trayWanted_) return;
    DebugLog_Write("Tray: a tray appeared; adding the icon again\n");
    delete tray_;
    tray_ = nullptr;
    const int icon = iconShown_ ? iconShown_ : ICON_NORMAL;
    AddTrayIcon(icon, tip_);
    if (loaded_ && !MailCheck_IsRunning()) UpdateSummary(nullptr, nullptr, nullptr);
}

bool MainWnd::TrayVisible() const {
    return tray_ && tray_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void MainWnd::setTrayIcon(int icon) {
    iconShown_ = icon;
    if (tray_) tray_->setIcon(_icon(icon));
}

void MainWnd::ShowIcon(int icon) {
    const bool enabled = GlobalData_IsLoaded() ? _globalInt(GD_ENABLED, 1) != 0 : true;
    setTrayIcon(Tray_ResolveIcon(icon, MailCheck_IsRunning() != 0, enabled));
    updateStatusWindow();
}

void MainWnd::SetTip(const std::string& tip) {
    tip_ = std::string(Text_CutUtf8(tip, TRAY_TIP_MAX));
    if (tray_) tray_->setToolTip(_q(tip_));
    updateStatusWindow();
}

void MainWnd::updateStatusWindow() {
    if (!windows_ || !trayWanted_) return;
    // Without a tray the icon would be invisible: the status window keeps
    // the program reachable.
    const bool noTray = !QSystemTrayIcon::isSystemTrayAvailable();
    if (noTray && !statusSaid_) {
        statusSaid_ = true;
        DebugLog_Write("Tray: no system tray on this desktop; showing the status window\n");
    }
    windows_->StatusWindow(noTray ? APP_WINDOWS::STATUS_UPDATE : APP_WINDOWS::STATUS_HIDE,
                           iconShown_, tip_, menu_);
}

int MainWnd::UpdateSummary(int* checkedNew, int* checkedNotified, int* others) {
    std::vector<ACCOUNT*> accounts;
    for (int i = 0, n = Account_GetCount(); i < n; ++i)
        accounts.push_back(Account_Get(nullptr, i));
    const TRAY_SUMMARY s = Tray_Summarize(accounts.data(), int(accounts.size()));
    if (checkedNew) *checkedNew = s.checkedNew;
    if (checkedNotified) *checkedNotified = s.checkedNotified;
    if (others) *others = s.othersNew;
    SetTip(Tray_SummaryTip(s));
    if (!TimerRunning(TIMER_BLINK)) ShowIcon(Tray_SummaryIcon(s));
    return s.failed;
}

// ---- Menu --------------------------------------------------------------------

void MainWnd::buildMenu() {
    menu_ = new QMenu;
    menu_->setObjectName(QStringLiteral("trayMenu"));
    auto add = [this](QMenu* m, const char* text, int id) {
        QAction* a = m->addAction(QString::fromUtf8(text));
        a->setData(id);
        a->setObjectName(QStringLiteral("cmd%1").arg(id));
        connect(a, &QAction::triggered, this, [this, id] { Command(id); });
        return a;
    };
    add(menu_, "&Settings...", CMD_SETTINGS);
    add(menu_, "&Profiles...", CMD_PROFILES);
    add(menu_, "&Enable Auto Check", CMD_ENABLE)->setCheckable(true);
    menu_->addSeparator();
    checkMenu_ = menu_->addMenu(QStringLiteral("&Check MailBoxes"));
    checkMenu_->setObjectName(QStringLiteral("checkMenu"));
    add(checkMenu_, "All &Included", CMD_CHECK_INCLUDED);
    add(checkMenu_, "&All", CMD_CHECK_ALL);
    checkSeparator_ = checkMenu_->addSeparator();
    add(menu_, "Cancel Check", CMD_CANCEL_CHECK);
    menu_->addSeparator();
    add(menu_, "Compose &New Message", CMD_COMPOSE);
    add(menu_, "&Open E-Mail Client", CMD_MAIL_CLIENT);
    add(menu_, "Show &MailBoxes", CMD_SHOW_MAILBOXES);
    menu_->addSeparator();
    add(menu_, "Cancel and Exit", CMD_CANCEL_AND_EXIT);
    add(menu_, "&About Inboxwarden", CMD_ABOUT);
    add(menu_, "&Help", CMD_HELP);
    menu_->addSeparator();
    add(menu_, "E&xit", CMD_EXIT);
    MenuAction(CMD_CANCEL_CHECK)->setEnabled(false);
}

QAction* MainWnd::MenuAction(int id) const {
    if (!menu_) return nullptr;
    for (QMenu* m : {menu_, checkMenu_})
        for (QAction* a : m->actions())
            if (a->data().toInt() == id && !a->menu()) return a;
    return nullptr;
}

void MainWnd::DestroyMenu() {
    if (tray_) tray_->setContextMenu(nullptr);
    if (windows_) windows_->StatusWindow(APP_WINDOWS::STATUS_HIDE, iconShown_, tip_, nullptr);
    delete menu_;
    menu_ = nullptr;
    checkMenu_ = nullptr;
}

void MainWnd::MenuRefresh() {
    if (!menu_) return;
    for (QAction* a : checkMenu_->actions())
        if (a->data().toInt() >= CMD_ACCOUNT_BASE) {
            checkMenu_->removeAction(a);
            a->deleteLater();
        }
    menu_->setDefaultAction(nullptr);
    checkMenu_->setDefaultAction(nullptr);
    if (!loaded_) {
        for (QAction* a : menu_->actions())
            if (!a->isSeparator()) a->setEnabled(a->data().toInt() == CMD_CANCEL_AND_EXIT);
        checkMenu_->menuAction()->setEnabled(false);
        return;
    }
    for (QAction* a : menu_->actions())
        if (!a->isSeparator()) a->setEnabled(a->data().toInt() != CMD_CANCEL_AND_EXIT);
    MenuAction(CMD_CANCEL_CHECK)->setEnabled(cancelEnabled_);
    checkMenu_->menuAction()->setEnabled(true);
    QAction* enable = MenuAction(CMD_ENABLE);
    const int count = Account_GetCount();
    if (count > 0) {
        enable->setEnabled(true);
        const bool on = _globalInt(GD_ENABLED, 1) != 0;
        enable->setChecked(on);
        if (on) Schedule_Update(0);
    } else {
        enable->setEnabled(false);
    }
    for (int i = 0; i < count; ++i) {
        ACCOUNT* acc = Account_Get(nullptr, i);
        if (!acc) continue;
        // '&' in a name would become a mnemonic.
        QAction* a = checkMenu_->addAction(_q(acc->Name).replace('&', QStringLiteral("&&")));
        const int id = CMD_ACCOUNT_BASE + i;
        a->setData(id);
        a->setObjectName(QStringLiteral("cmd%1").arg(id));
        a->setCheckable(true);
        a->setChecked(acc->CheckIt != 0);
        connect(a, &QAction::triggered, this, [this, id] { Command(id); });
    }
    const TRAY_DEFAULT d = Tray_DefaultItem(_globalInt(GD_DEFMENU, 0));
    if (d.submenu) {
        menu_->setDefaultAction(checkMenu_->menuAction());
        if (QAction* a = MenuAction(d.submenuItem)) checkMenu_->setDefaultAction(a);
    } else if (QAction* a = MenuAction(d.menuItem)) {
        menu_->setDefaultAction(a);
    }
}

void MainWnd::PopupMenu() {
    if (!menu_) return;
    if (!QSystemTrayIcon::isSystemTrayAvailable() && windows_) {
        windows_->StatusWindow(APP_WINDOWS::STATUS_RAISE, iconShown_, tip_, menu_);
        return;
    }
    // Keep the whole menu inside the work area, on the side of the cursor
    // that has room (the panel may be at any edge).
    const QPoint cursor = QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(cursor);
    if (!screen) screen = QGuiApplication::primaryScreen();
    QPoint at = cursor;
    if (screen) {
        const QRect work = screen->availableGeometry();
        const QSize size = menu_->sizeHint();
        if (cursor.y() < work.top())
            at.setY(work.top() + 1);
        else if (cursor.y() + size.height() > work.bottom())
            at.setY(work.bottom() - 1 - size.height());
        if (cursor.x() < work.left())
            at.setX(work.left() + 1);
        else if (cursor.x() + size.width() > work.right())
            at.setX(work.right() - size.width());
    }
    menu_->popup(at);
    menu_->activateWindow();
}

// ---- Mouse ---------------------------------------------------------------------

void MainWnd::onActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Context) return; // Qt opens the context menu itself
    if (!loaded_) return;
    if (reason == QSystemTrayIcon::Trigger) {
        const int dbl = QGuiApplication::styleHints()->mouseDoubleClickInterval();
        SetTimer(TIMER_CLICK, dbl + 10, 0);
    } else if (reason == QSystemTrayIcon::DoubleClick) {
        KillTimer(TIMER_CLICK);
        const int def = _globalInt(GD_DEFMENU, 0);
        Command(def > 0 ? def : CMD_SHOW_MAILBOXES);
    } else if (reason == QSystemTrayIcon::MiddleClick) {
        PopupMenu();
    }
}

// ---- Commands --------------------------------------------------------------------

void MainWnd::openWindow(APP_WINDOW w) {
    if (windows_)
        windows_->Open(w);
    else
        UserMsg_Show("Inboxwarden", "This window is not available.", UM_OK | UM_ICONINFO);
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
        // The dialog may change or delete accounts the worker holds.
        settingsOpen_ = true;
        MailCheck_WaitIdle();
        openWindow(w);
        settingsOpen_ = false;
        MenuRefresh();
        if (!MailCheck_IsRunning()) UpdateSummary(nullptr, nullptr, nullptr);
        return;
    }
    case CMD_ENABLE: {
        const bool on = _globalInt(GD_ENABLED, 1) == 0;
        GlobalData_SetParam(GD_ENABLED, on ? 1 : 0);
        if (!MailCheck_IsRunning()) UpdateSummary(nullptr, nullptr, nullptr);
        if (on)
            Schedule_Update(0);
        else
            Timers_KillAll();
        if (QAction* a = MenuAction(CMD_ENABLE)) a->setChecked(on);
        return;
    }
    case CMD_CANCEL_CHECK:
        MailCheck_Abort(ERR_CANCELLED);
        return;
    case CMD_EXIT:
        requestShutdown();
        return;
    case CMD_SHOW_MAILBOXES:
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
        if (MailClient_Launch(nullptr) && !mailBoxOpen_) SetNewMailBlink(false);
        return;
    case CMD_HELP:
        openWindow(APP_WINDOW::Help);
        return;
    case CMD_CHECK_ALL:
        Timers_KillAll();
        Schedule_Update(2);
        return;
    case CMD_CHECK_INCLUDED:
        Account_MarkSkipped();
        Timers_KillAll();
        Schedule_Update(1);
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
    Schedule_CheckCmd(text);
}

void MainWnd::loadMessages(bool fast) {
    DebugLog_Write(fast ? "Processing WM_LOAD_MESSAGES_FAST in _mainWndProc\r\n"
                        : "Processing WM_LOAD_MESSAGES in _mainWndProc\r\n");
    ShowIcon(ICON_OFF);
    loaded_ = false;
    MenuRefresh();
    const auto started = std::chrono::steady_clock::now();
    const uint32_t rc = Settings_LoadMessages();
    if (rc != 0) DebugLog_Write("Settings_LoadMessages returned 0x%x\n", rc);
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

// ---- ENGINE_UI ---------------------------------------------------------------------

bool MainWnd::sendAndWait(std::function<void()> fn, int timeoutMs) {
    if (onUiThread()) {
        fn();
        return true;
    }
    if (unblocked_) return false;
    auto p = std::make_shared<Pending>();
    QMetaObject::invokeMethod(
        this,
        [p, fn = std::move(fn)] {
            {
                std::lock_guard<std::mutex> g(p->m);
                if (p->abandoned) return;
            }
            fn();
            {
                std::lock_guard<std::mutex> g(p->m);
                p->done = true;
            }
            p->cv.notify_all();
        },
        Qt::QueuedConnection);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> g(p->m);
    while (!p->done && !unblocked_) {
        if (p->cv.wait_until(g, std::min(end, std::chrono::steady_clock::now() +
                                                  std::chrono::milliseconds(50))) ==
                std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= end)
            break;
    }
    if (!p->done) p->abandoned = true;
    return p->done;
}

void MainWnd::UnblockWorker(bool on) {
    unblocked_ = on;
}

void MainWnd::BringSettingsDialogToFront() {
    if (QWidget* w = QApplication::activeModalWidget()) {
        w->raise();
        w->activateWindow();
    }
}

bool MainWnd::NetworkUsable() {
    // Unknown counts as present: only a backend that says "disconnected"
    // holds a check back.
    QNetworkInformation* ni = QNetworkInformation::instance();
    return DialUp_ConnectionUsable(!ni || ni->reachability() !=
                                              QNetworkInformation::Reachability::Disconnected);
}

int MainWnd::ShowBox(std::string_view caption, std::string_view text, unsigned flags) {
    if (!windows_) return UserMsg_DefaultAnswer(flags);
    auto answer = std::make_shared<int>(UserMsg_DefaultAnswer(flags));
    sendAndWait([this, answer, c = std::string(caption), t = std::string(text),
                 flags] { *answer = windows_->MessageBox(c, t, flags); },
                INT_MAX);
    return *answer;
}

void MainWnd::ProgressStart() {
    if (windows_) windows_->ProgressStart(true);
}

void MainWnd::ProgressSetAccount(std::string_view accountName) {
    QMetaObject::invokeMethod(
        this,
        [this, t = std::string(accountName)] {
            if (windows_) windows_->ProgressSetAccount(t);
        },
        Qt::QueuedConnection);
}

void MainWnd::ProgressSetStatus(std::string_view accountName, std::string_view text) {
    QMetaObject::invokeMethod(
        this,
        [this, a = std::string(accountName), t = std::string(text)] {
            if (windows_) windows_->ProgressSetStatus(t);
            SetTip(a + ": " + t);
        },
        Qt::QueuedConnection);
}

void MainWnd::ProgressClose() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (windows_) windows_->ProgressClose();
        },
        Qt::QueuedConnection);
}

int MainWnd::ProgressDownload(std::shared_ptr<CHECK_COMPLETION> completion) {
    if (!windows_) {
        // No window to wait in: wait for the worker itself.
        std::unique_lock<std::mutex> g(completion->lock);
        completion->changed.wait(g, [&] { return completion->done; });
        return 1;
    }
    return windows_->ProgressDownload(std::move(completion));
}

void MainWnd::SetCancelCheckEnabled(bool enabled) {
    QMetaObject::invokeMethod(
        this,
        [this, enabled] {
            cancelEnabled_ = enabled;
            if (QAction* a = MenuAction(CMD_CANCEL_CHECK)) a->setEnabled(enabled && loaded_);
        },
        Qt::QueuedConnection);
}

void MainWnd::SetCheckAnimation(bool on) {
    if (on) {
        KillTimer(TIMER_BLINK);
        SetTimer(TIMER_ANIMATION, 1000, 1000);
    } else {
        KillTimer(TIMER_ANIMATION);
    }
}

void MainWnd::SetNewMailBlink(bool on) {
    if (on) {
        SetTimer(TIMER_BLINK, 1000, 1000);
        return;
    }
    KillTimer(TIMER_BLINK);
    // Stopping the blink on its second frame leaves the new-mail icon.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (iconShown_ == ICON_BLINK2) setTrayIcon(ICON_NEWMAIL);
        },
        Qt::QueuedConnection);
}

void MainWnd::TrayUpdateSummary() {
    sendAndWait([this] { UpdateSummary(nullptr, nullptr, nullptr); }, 5000);
}

void MainWnd::AccountChecked(uint32_t, ACCOUNT*) {
    // The MailBox window takes the result in; until it exists nothing shows it.
}

void MainWnd::MailBoxRefresh(ACCOUNT*) {}

void MainWnd::ShowMailBoxes() {
    Post(WM_SHOW_MAILBOXES);
}

void MainWnd::NewMailPopup(int count) {
    sendAndWait([this, count] { HandleMessage(WM_NEWMAIL_POPUP, 0, count); }, 60000);
}

bool MainWnd::FilterShowMessage(ACCOUNT* account, std::string_view id, std::string_view) {
    DebugLog_Write("WM_FILTER_SHOW_MSG: %s \"%.128s\": the message viewer is not available\n",
                   account ? account->Name.c_str() : "?", std::string(id).c_str());
    return false;
}

uint32_t MainWnd::AskPassword(const ACCOUNT& account, std::string* password) {
    if (!windows_) return ERR_NOT_READY;
    struct Answer {
        uint32_t rc = ERR_NOT_READY;
        std::string typed;
    };
    auto answer = std::make_shared<Answer>();
    // The prompt waits for the user, however long; shutdown unblocks it.
    if (!sendAndWait(
            [this, answer, name = account.Name] {
                answer->rc = windows_->AskPassword(name, &answer->typed);
            },
            INT_MAX))
        return ERR_NOT_READY;
    if (answer->rc == 0) *password = answer->typed;
    return answer->rc;
}

void MainWnd::PlaySound(std::string_view file, bool sync) {
    if (file.empty())
        Sound_Beep();
    else
        Sound_PlayFile(std::string(file), sync);
}

bool MainWnd::LaunchMailClient(ACCOUNT* account) {
    auto started = std::make_shared<bool>(false);
    sendAndWait([started, account] { *started = MailClient_Launch(account) != 0; }, 60000);
    return *started;
}

void MainWnd::RequestShutdown() {
    Post(WM_APP_SHUTDOWN);
}

// ---- Timers ----------------------------------------------------------------------

bool MainWnd::SetTimer(int id, int64_t firstMs, int64_t periodMs) {
    if (!onUiThread()) {
        QMetaObject::invokeMethod(
            this, [this, id, firstMs, periodMs] { SetTimer(id, firstMs, periodMs); },
            Qt::QueuedConnection);
        return true;
    }
    QTimer*& t = timers_[id];
    if (!t) {
        t = new QTimer(this);
        t->setTimerType(Qt::CoarseTimer);
        connect(t, &QTimer::timeout, this, [this, id] { onTimer(id); });
    }
    t->stop();
    const auto clamp = [](int64_t ms) { return int(std::clamp<int64_t>(ms, 0, INT_MAX)); };
    t->setProperty("period", clamp(periodMs));
    t->setSingleShot(true);
    t->start(clamp(firstMs));
    return true;
}

void MainWnd::KillTimer(int id) {
    if (!onUiThread()) {
        QMetaObject::invokeMethod(
            this, [this, id] { KillTimer(id); }, Qt::QueuedConnection);
        return;
    }
    auto it = timers_.find(id);
    if (it != timers_.end()) it->second->stop();
}

bool MainWnd::TimerRunning(int id) const {
    auto it = timers_.find(id);
    return it != timers_.end() && it->second->isActive();
}

DATETIME MainWnd::Now() {
    return DateTime_Now();
}

void MainWnd::onTimer(int id) {
    QTimer* t = timers_[id];
    const int period = t->property("period").toInt();
    if (period > 0) t->start(period);
    switch (id) {
    case TIMER_CLICK: {
        t->stop();
        const int cmd = _globalInt(GD_SNGLCLICKMENU, 0);
        if (cmd > 0) Command(cmd);
        return;
    }
    case TIMER_ANIMATION:
        animFrame_ = iconShown_ == ICON_NORMAL ? ICON_CHECK2 : ICON_NORMAL;
        setTrayIcon(animFrame_);
        return;
    case TIMER_BLINK:
        blinkFrame_ = iconShown_ == ICON_BLINK2 ? ICON_NEWMAIL : ICON_BLINK2;
        setTrayIcon(blinkFrame_);
        return;
    default:
        Timers_OnTimer(id);
    }
}

void MainWnd::Wake(const char* why) {
    if (!loaded_) return;
    DebugLog_Write("MAIN: %s: catching up on missed checks\n", why);
    const int queued = Schedule_OnWake();
    DebugLog_Write("MAIN: %d account(s) queued after the wake-up\n", queued);
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
    if (line.empty()) line = _globalText(GD_MAILREADER);
    QStringList args = QProcess::splitCommand(_q(line));
    bool started = false;
    if (!args.isEmpty()) {
        const QString program = args.takeFirst();
        started = QProcess::startDetached(program, args);
    }
    if (!started) {
        char text[600];
        std::snprintf(text, sizeof text, "Mail client not found\n(%s)", line.c_str());
        UserMsg_Show("Inboxwarden", text, UM_OK | UM_ICONERROR);
    }
    return started ? 1 : 0;
}
