// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's tray icon, tooltip and menu, and the mouse on the icon.
#include "app/mainwnd.h"
#include "app/mainwnd_internal.h"

#include "app/tray.h"
#include "common/text.h"
#include "engine/mailcheck.h"
#include "engine/schedule.h"
#include "platform/log.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "ui/qtext.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QStyleHints>

#include <vector>

using namespace iwmainwnd;

namespace {

QIcon _icon(int id) {
    QIcon icon;
    for (int size : {16, 22, 32})
        icon.addFile(QStringLiteral(":/icons/tray-%1-%2.png").arg(id).arg(size), QSize(size, size));
    return icon;
}

} // namespace

// ---- Tray icon and tooltip ---------------------------------------------------

void MainWnd::AddTrayIcon(int icon, const std::string& tip) {
    trayWanted_ = true;
    tip_ = std::string(Text_CutUtf8(tip, TRAY_TIP_MAX));
    if (!tray_) {
        tray_ = new QSystemTrayIcon(this);
        tray_->setContextMenu(menu_);
        connect(tray_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason r) { OnTrayActivated(r); });
    }
    tray_->setToolTip(QText_From(tip_));
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
    if (tray_) tray_->setToolTip(QText_From(tip_));
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
        QAction* a = m->addAction(QCoreApplication::translate("Tray", text));
        a->setData(id);
        a->setObjectName(QStringLiteral("cmd%1").arg(id));
        connect(a, &QAction::triggered, this, [this, id] { Command(id); });
        return a;
    };
    add(menu_, QT_TRANSLATE_NOOP("Tray", "&Settings..."), CMD_SETTINGS);
    add(menu_, QT_TRANSLATE_NOOP("Tray", "&Profiles..."), CMD_PROFILES);
    add(menu_, QT_TRANSLATE_NOOP("Tray", "&Enable Auto Check"), CMD_ENABLE)->setCheckable(true);
    menu_->addSeparator();
    checkMenu_ = menu_->addMenu(QCoreApplication::translate("Tray", "&Check MailBoxes"));
    checkMenu_->setObjectName(QStringLiteral("checkMenu"));
    add(checkMenu_, QT_TRANSLATE_NOOP("Tray", "All &Included"), CMD_CHECK_INCLUDED);
    add(checkMenu_, QT_TRANSLATE_NOOP("Tray", "&All"), CMD_CHECK_ALL);
    checkSeparator_ = checkMenu_->addSeparator();
    add(menu_, QT_TRANSLATE_NOOP("Tray", "Cancel Check"), CMD_CANCEL_CHECK);
    menu_->addSeparator();
    add(menu_, QT_TRANSLATE_NOOP("Tray", "Compose &New Message"), CMD_COMPOSE);
    add(menu_, QT_TRANSLATE_NOOP("Tray", "&Open E-Mail Client"), CMD_MAIL_CLIENT);
    add(menu_, QT_TRANSLATE_NOOP("Tray", "Show &MailBoxes"), CMD_SHOW_MAILBOXES);
    menu_->addSeparator();
    add(menu_, QT_TRANSLATE_NOOP("Tray", "Cancel and Exit"), CMD_CANCEL_AND_EXIT);
    add(menu_, QT_TRANSLATE_NOOP("Tray", "&About Inboxwarden"), CMD_ABOUT);
    add(menu_, QT_TRANSLATE_NOOP("Tray", "&Help"), CMD_HELP);
    menu_->addSeparator();
    add(menu_, QT_TRANSLATE_NOOP("Tray", "E&xit"), CMD_EXIT);
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
        if (on) Schedule_Update(SU_START_TIMERS);
    } else {
        enable->setEnabled(false);
    }
    for (int i = 0; i < count; ++i) {
        ACCOUNT* acc = Account_Get(nullptr, i);
        if (!acc) continue;
        // '&' in a name would become a mnemonic.
        QAction* a =
            checkMenu_->addAction(QText_From(acc->Name).replace('&', QStringLiteral("&&")));
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

void MainWnd::runDefaultCommand() {
    const int def = _globalInt(GD_DEFMENU, 0);
    Command(def > 0 ? def : CMD_SHOW_MAILBOXES);
}

void MainWnd::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Context) return; // Qt opens the context menu itself
    if (!loaded_) return;
    // A StatusNotifier host reports a double click as two activations: the
    // second one while the first waits for its double-click time is one.
    if (reason == QSystemTrayIcon::Trigger && TimerRunning(TIMER_CLICK))
        reason = QSystemTrayIcon::DoubleClick;
    if (reason == QSystemTrayIcon::Trigger) {
        const int dbl = QGuiApplication::styleHints()->mouseDoubleClickInterval();
        SetTimer(TIMER_CLICK, dbl + 10, 0);
    } else if (reason == QSystemTrayIcon::DoubleClick) {
        KillTimer(TIMER_CLICK);
        runDefaultCommand();
    } else if (reason == QSystemTrayIcon::MiddleClick) {
        PopupMenu();
    }
}
