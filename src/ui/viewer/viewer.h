// SPDX-License-Identifier: GPL-3.0-or-later
// The message viewer: one window per message, top-level and non-modal, with
// no parent, so that several stay open beside the MailBox window. Each
// viewer owns its copy of the message and remembers only its own account
// name and message id; it looks the record up again whenever a command
// needs it. UI thread only.
#pragma once

#include <string>

class APP_WINDOWS;
struct MSG_RECORD;
class QWidget;

// Opens a viewer on `text`, the message itself (no POP3 status line, no
// byte-stuffing). `accountName` is empty and `record` null for a message
// without them (a saved file, a filter's display). Failures are shown in a
// box. Returns the window, or null when none was opened.
QWidget* Viewer_Open(const std::string& accountName, std::string text, const MSG_RECORD* record);

// Closes every viewer without a question (shutdown).
void Viewer_CloseAll();

// The program's windows (compose, about, help) as the viewers reach them;
// set by the window layer at start, null at its end.
void Viewer_SetWindows(APP_WINDOWS* windows);
