// SPDX-License-Identifier: GPL-3.0-or-later
// The profiles dialog: the named configurations the user keeps, created,
// copied, renamed, deleted, marked and activated. UI thread only.
#pragma once

class QWidget;

// Runs the dialog (a top-level window that is not application-modal; this
// call returns when it closes) with `owner` for its boxes. The caller has
// stopped the checks first. true when another profile was activated, so
// that windows showing accounts are rebuilt. A call while the dialog is
// open brings it to the front with a beep and returns false once it closed.
// An activation rebuilds the window layer's own windows at once (the
// MailBox window, through the same path as a settings change); the caller
// still rebuilds the tray menu and starts the account timers again.
bool ProfilesDialog_Run(QWidget* owner);

// The dialog while it runs (null otherwise), for the tray to bring it to
// the front.
QWidget* ProfilesDialog_Window();
