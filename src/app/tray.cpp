// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/tray.h"

#include "common/text.h"
#include "common/translate.h"
#include "settings/account.h"
#include "settings/msgbox.h"

#include <cstdio>

namespace {
constexpr int TS_CHECKED = 558;
}

TRAY_SUMMARY Tray_Summarize(ACCOUNT* const* accounts, int count) {
    TRAY_SUMMARY s;
    for (int i = 0; i < count; ++i) {
        const ACCOUNT* a = accounts[i];
        if (!a) continue;
        const MSGBOX_COUNTS* c = a->hMsgBox ? MsgBox_GetCounts(a->hMsgBox) : nullptr;
        if (c) {
            if (a->TimerState == TS_CHECKED) {
                s.checkedNew += c->New;
                s.checkedNotified += c->Notified;
            } else {
                s.othersNew += c->New + c->Notified;
            }
            s.unread += c->Unread + c->Quiet;
            s.quiet += c->Quiet;
            s.old += c->Old;
        }
        if (a->CheckResult == CR_FAILED && a->CheckIt) ++s.failed;
    }
    return s;
}

std::string Tray_SummaryTip(const TRAY_SUMMARY& s) {
    char buf[160];
    std::snprintf(buf, sizeof buf,
                  Iw_Translate("Tray", "Inboxwarden: %d new, %d unread and %d old messages"),
                  s.checkedNew + s.checkedNotified + s.othersNew, s.unread, s.old);
    return std::string(Text_CutUtf8(buf, TRAY_TIP_MAX));
}

int Tray_SummaryIcon(const TRAY_SUMMARY& s) {
    if (s.checkedNew + s.checkedNotified + s.othersNew > 0) return ICON_NEWMAIL;
    if (s.failed > 0) return ICON_FAILED;
    if (s.old > 0 || s.quiet > 0) return ICON_OLD;
    return ICON_NORMAL;
}

int Tray_ResolveIcon(int icon, bool checkRunning, bool autoCheckEnabled) {
    if (icon == ICON_NORMAL && !checkRunning && !autoCheckEnabled) return ICON_OFF;
    return icon;
}

TRAY_DEFAULT Tray_DefaultItem(int defMenu) {
    TRAY_DEFAULT d;
    if (defMenu <= 0) return d;
    if (defMenu == CMD_CHECK_ALL || defMenu == CMD_CHECK_INCLUDED || defMenu >= CMD_ACCOUNT_BASE) {
        d.submenu = true;
        d.submenuItem = defMenu;
    } else {
        d.menuItem = defMenu;
    }
    return d;
}
