// SPDX-License-Identifier: GPL-3.0-or-later
// The tray icon's rules: which icon and tooltip the message counts give,
// the 120/126 rule, and the default entry of the tray menu. The icon itself,
// the menu and the commands live in the main window (mainwnd.h); the Tray_*
// calls below act on it.
#pragma once

#include <string>

struct ACCOUNT;

enum : int {
    ICON_NORMAL = 120,  // nothing to report
    ICON_CHECK2 = 121,  // second frame of the check animation
    ICON_NEWMAIL = 122, // new or notified mail
    ICON_FAILED = 123,  // an included account failed its last check
    ICON_OLD = 124,     // messages present, none new
    ICON_BLINK2 = 125,  // second frame of the new-mail blink
    ICON_OFF = 126,     // loading, automatic checks off, shutting down
};

// Tray menu command ids.
enum : int {
    CMD_SETTINGS = 40001,
    CMD_PROFILES = 40041,
    CMD_ENABLE = 40002,
    CMD_CANCEL_CHECK = 40004,
    CMD_EXIT = 40005,
    CMD_SHOW_MAILBOXES = 40009,
    CMD_ABOUT = 40010,
    CMD_MAIL_CLIENT = 40011,
    CMD_HELP = 40013,
    CMD_CHECK_ALL = 40018,
    CMD_CHECK_INCLUDED = 40020,
    CMD_COMPOSE = 40028,
    CMD_CANCEL_AND_EXIT = 180,
    CMD_ACCOUNT_BASE = 50000, // + account index
};

inline constexpr size_t TRAY_TIP_MAX = 127;

// The recount over a set of accounts and their box counters.
struct TRAY_SUMMARY {
    int checkedNew = 0;      // new, of the accounts just checked (TS_CHECKED)
    int checkedNotified = 0; // notified, of the accounts just checked
    int othersNew = 0;       // new + notified of the other accounts
    int unread = 0;          // unread + quiet, all accounts
    int old = 0;
    int quiet = 0;
    int failed = 0; // accounts with CheckIt whose last check failed (CR_FAILED)
};

TRAY_SUMMARY Tray_Summarize(ACCOUNT* const* accounts, int count);
// "Inboxwarden: %d new, %d unread and %d old messages", at most 127 bytes.
std::string Tray_SummaryTip(const TRAY_SUMMARY& s);
// 122 any new or notified, else 123 a failure, else 124 old or quiet, else 120.
int Tray_SummaryIcon(const TRAY_SUMMARY& s);
// Icon 120 while no check runs and automatic checks are off shows as 126.
int Tray_ResolveIcon(int icon, bool checkRunning, bool autoCheckEnabled);

// The menu's default entry for the "DefMenu" value: the command itself, or,
// for the check commands (40018, 40020, 50000 + i), the "Check MailBoxes"
// submenu with the command as the submenu's default. 0 = none.
struct TRAY_DEFAULT {
    int menuItem = 0;     // command id that is the menu's default
    bool submenu = false; // the submenu is the menu's default instead
    int submenuItem = 0;  // the submenu's default command
};
TRAY_DEFAULT Tray_DefaultItem(int defMenu);

// ---- On the running main window (no-ops without one) ------------------------

// Shows an icon by number (the 120/126 rule applied).
void Tray_ShowIcon(int icon);
void Tray_SetTip(const std::string& text);
// Recounts the tooltip and icon from the account table (unless a check
// runs: the worker owns the tooltip then) and returns the failed accounts.
int Tray_UpdateSummary(int* checkedNew = nullptr, int* checkedNotified = nullptr,
                       int* others = nullptr);
void Menu_Refresh();
void Tray_Command(int id);
// Starts the mail client: the account's MailClnt, else the global
// "MailReader"; for a null account the first account with new or notified
// mail gives it; with neither set, the desktop's default mail program
// (xdg-email, else the mailto: handler). "Mail client not found\n(%s)" on
// failure. 1 started, 0 not.
int MailClient_Launch(ACCOUNT* account);
