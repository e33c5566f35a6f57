// SPDX-License-Identifier: GPL-3.0-or-later
// The windows the tray program opens, as the core sees them. The window
// layer (src/ui) implements this interface and the program installs it at
// start (MainWnd_SetWindows); core never includes a window header itself.
// Every member is called on the UI thread.
#pragma once

#include "engine/engine_ui.h"

#include <memory>
#include <string>
#include <string_view>

class QMenu;

// What a compose window opens with: a new message without a text; a reply,
// or a forward, to the message `messageText` of account `account`.
struct COMPOSE_REQUEST {
    std::string account;     // empty: none
    std::string messageText; // the whole message (no status line, no byte-stuffing)
    bool forward = false;
    bool preferHtml = false; // quote the HTML part (reduced to text)
};

// The program's windows; those that later parts of the program provide say
// so when asked to open.
enum class APP_WINDOW {
    MailBox,
    Settings,
    Profiles,
    Compose,
    About,
    Help,
    Viewer,
    Bounce,        // "Return an ERROR": the message back to its sender
    Filter,        // "Add Filter"
    SavedMessages, // the saved messages window
    SystemInfo,    // the system information report
};

// The tray's commands to the MailBox window (APP_WINDOWS::MailBoxCommand).
enum : int {
    MAILBOX_AUTO_SWITCHED = 40085, // automatic checking was switched
    MAILBOX_FLASH = 41001,         // "Show MailBoxes" while it is open
    MAILBOX_RAISE = 41002,         // a check of one account requested from outside
};

class APP_WINDOWS {
  public:
    virtual ~APP_WINDOWS() = default;

    // Whether the window exists in this build. The tray greys nothing for a
    // missing one: its command says so in a box (Open does).
    virtual bool Has(APP_WINDOW w) = 0;
    // Opens the window (modal dialogs return when closed). A missing window
    // shows "... is not available in this version." instead. The MailBox
    // window, when open, comes to the front instead.
    virtual void Open(APP_WINDOW w) = 0;
    // Whether the window is open. Any thread (the engine asks from its worker).
    virtual bool IsOpen(APP_WINDOW w) = 0;

    // The MailBox window's messages; nothing happens while it is closed.
    // The engine checked an account (WM_ACCOUNT_CHECKED) / recounted its
    // box; the worker waits meanwhile.
    virtual void MailBoxAccountChecked(uint32_t result, ACCOUNT* account) = 0;
    virtual void MailBoxRefresh(ACCOUNT* account) = 0;
    // The tray's commands to it (MAILBOX_AUTO_SWITCHED, _FLASH, _RAISE).
    virtual void MailBoxCommand(int command) = 0;
    // WM_SETTINGS_CHANGED: the settings or accounts changed.
    virtual void SettingsChanged() = 0;

    // The check progress window and the download box (src/ui/progress.h).
    virtual void ProgressStart(bool hideAllowed) = 0;
    virtual void ProgressSetAccount(const std::string& text) = 0;
    virtual void ProgressSetStatus(const std::string& text) = 0;
    virtual void ProgressClose() = 0;
    virtual int ProgressDownload(std::shared_ptr<CHECK_COMPLETION> completion) = 0;

    // At shutdown, before the settings are saved: closes every window that
    // shows or holds accounts or records (the MailBox window, viewers,
    // compose windows, dialogs, progress boxes, the popup), so that nothing
    // changes them after the save. The MailBox's boxes are already marked.
    virtual void CloseAll() = 0;

    // A message box; returns the answer (user_message.h numbers).
    virtual int MessageBox(const std::string& caption, const std::string& text, unsigned flags) = 0;

    // Opens a message viewer on `text`, a server's answer (status line and
    // byte-stuffing are taken off), for a message of account `accountName`
    // that has no record yet (a filter shows it). true when it was opened.
    virtual bool ShowMessage(const std::string& accountName, std::string_view text) = 0;

    // Opens a compose window (APP_WINDOW::Compose is a new message).
    virtual void OpenCompose(const COMPOSE_REQUEST& request) = 0;

    // The new-mail popup; a count of 0 closes it.
    virtual void NewMailPopup(int count) = 0;

    // The password prompt (password_prompt.h) for the account's login. 0 and
    // *password, ERR_NOT_READY (nothing typed), ERR_CANCELLED.
    virtual uint32_t AskPassword(const std::string& accountName, const std::string& login,
                                 std::string* password) = 0;

    // The small status window shown when no tray can hold the icon: the
    // icon, the tooltip text and a button that opens `menu`. It shows itself
    // once; later calls update it, STATUS_RAISE shows it again (a second
    // start), STATUS_HIDE hides it (a tray appeared, shutdown).
    enum StatusMode { STATUS_HIDE, STATUS_UPDATE, STATUS_RAISE };
    virtual void StatusWindow(StatusMode mode, int icon, const std::string& tip, QMenu* menu) = 0;
};
