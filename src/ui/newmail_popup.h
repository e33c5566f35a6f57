// SPDX-License-Identifier: GPL-3.0-or-later
// The new-mail notification popup: "You have %d new message(s)." with the
// buttons Result Window, Mail Client, Ignore and Remind Later (the default).
// One popup at a time; a second announcement only updates its count. UI
// thread only.
#pragma once

#include <functional>

class QWidget;

// What the buttons do; the popup closes after any of them.
struct NEWMAIL_ACTIONS {
    std::function<void()> resultWindow; // post WM_SHOW_MAILBOXES
    std::function<void()> mailClient;   // MailClient_Launch (null) and the tray follow-up
    std::function<void()> ignore;       // every box looked at, the tray follow-up
    std::function<void()> remindLater;  // the remind-later flag
};
void NewMail_SetActions(NEWMAIL_ACTIONS actions);
const NEWMAIL_ACTIONS& NewMail_Actions();

// Opens the popup (or updates the open one) with `count`; a count of 0 or
// less closes it.
void NewMail_Popup(int count);

// The open popup, or null (tests and screenshots).
QWidget* NewMail_Window();
