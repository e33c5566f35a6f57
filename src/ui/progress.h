// SPDX-License-Identifier: GPL-3.0-or-later
// The check progress window (modeless, with Hide, Cancel and Skip), the
// download progress box (modal, while one message is fetched), the send
// progress box (modal, while the SMTP client sends) and the delete box
// (modal, while "Delete now" runs). One progress window is
// open at a time.
//
// Every function here may be called from any thread: calls made off the UI
// thread are handed to it as queued calls carrying copies of their texts.
// The modal boxes wait on a completion record, so an operation that ends
// before its box is shown closes the box at once instead of leaving it
// waiting for a close that came before it existed.
#pragma once

#include "engine/engine_ui.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QWidget;

// Longest kept account or status line, in bytes, cut on a character boundary.
inline constexpr size_t PROGRESS_TEXT_MAX = 79;

// Who carries out Cancel (ERR_CANCELLED) and Skip (ERR_SKIPPED) of the check
// progress window and the download box; the program installs MailCheck_Abort.
using ProgressAbortFn = std::function<void(uint32_t code)>;
void Progress_SetAbortHandler(ProgressAbortFn fn);

// Opens the modeless check progress window, or brings it to the front when it
// is open. It shows the kept texts; Hide is greyed unless `hideAllowed`.
void Progress_Start(bool hideAllowed);

// Keep the line and show it in the open window. Progress_SetStatus does not
// touch the tray: the caller puts "%s: %s" into the tooltip.
void Progress_SetAccount(std::string_view text);
void Progress_SetStatus(std::string_view text);

// Closes whatever progress window or box is open (none is harmless) and
// clears the kept texts.
void Progress_Close();

// Runs the modal download box (title "Downloading Message...") until
// `completion` is done or the user presses Cancel, which calls the abort
// handler with ERR_CANCELLED. 1 when the operation finished, 2 cancelled.
int Progress_StartMessage(QWidget* owner, std::shared_ptr<CHECK_COMPLETION> completion);

// Runs the modal send box (title "Send Mail Progress...", text 1709 `text`
// or "Please wait...", Hide and Skip greyed) until `completion` is done or
// the user presses Cancel, which calls `onCancel`. 1 finished, 2 cancelled.
int SendProgress_Run(QWidget* owner, std::string_view text,
                     std::shared_ptr<CHECK_COMPLETION> completion, std::function<void()> onCancel);
void SendProgress_SetStatus(std::string_view text);
// Closes the send box when its completion is done (it also closes by
// itself then; this only makes it prompt).
void SendProgress_Close();

// The send box as the engine's send thread drives it (MailSend_SetUi): run
// over the owner widget, status texts and the close from any thread.
struct MAILSEND_UI;
MAILSEND_UI SendProgress_Hooks();

// Runs the modal delete box (title "Deleting Messages...", the account in
// the first line, the session's phase from `status` in the second, Cancel
// only) until `done` answers true, or the user presses Cancel (or Escape),
// which calls `onCancel`. Both are polled on the UI thread. 1 finished, 2
// cancelled. It is none of the check's progress windows: their texts never
// reach it.
int DeleteProgress_Run(QWidget* owner, std::string_view account, std::function<bool()> done,
                       std::function<std::string()> status, std::function<void()> onCancel);
// The open delete box, or null (tests and screenshots).
QWidget* DeleteProgress_Window();

// For tests and screenshots: the open progress window or box (null when
// none) and the kept texts.
QWidget* Progress_Window();
std::string Progress_KeptAccount();
std::string Progress_KeptStatus();
