// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox window without its widgets: the tree of accounts, the message
// list of the selected account, the status lines, the commands and what the
// window does when the engine, the tray or the settings dialog tell it
// something. The widget shows what this model holds, passes the user's
// commands in, shows the notices and questions it hands back and asks the
// model again after each call (TakeChanges says what to redraw).
//
// Rules the model keeps:
//   - Accounts are named, rows are keyed by message id (mailbox_list.h):
//     every command looks the account and the record up again just before
//     it changes anything, so nothing stale survives a check that dropped
//     records or a nested event loop (a message box, the delete progress
//     box) in which the engine's "account checked" call ran.
//   - A box that a check has queued or is checking is not changed: every
//     command that changes one box refuses with "MailBox is busy.", the
//     commands on every box leave such boxes alone.
//   - A box that is being checked is not read either, except inside the
//     engine's calls (OnAccountChecked, OnRefresh), during which the worker
//     waits for the window.
//   - The number of messages marked for deletion is counted from the box
//     whenever it is needed, never carried along.
//   - The model never runs an event loop and never shows a box itself; the
//     one exception is the fast-delete runner given to DeleteNow.
//
// Everything here runs on the UI thread.
#pragma once

#include "ui/mailbox/mailbox_list.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/msgbox.h"

struct ACCOUNT;
struct MSGBOX;
struct FASTPOP3_RESULT;

// The window's command numbers (menus, context menu, toolbar, shortcuts).
enum MAILBOX_CMD : int {
    MBC_CHECK_ALL_BUTTON = 1500,
    MBC_MAIL_CLIENT = 1501,
    MBC_CHECK_CURRENT = 1502,
    MBC_CLOSE_BUTTON = 1549,
    MBC_SETTINGS = 40001,
    MBC_AUTO_CHECK = 40002,
    MBC_EXIT = 40005,
    MBC_ABOUT = 40010,
    MBC_HELP = 40013,
    MBC_DELETE_NOW = 40015,
    MBC_MARK_DELETE = 40016,
    MBC_OPEN = 40017,
    MBC_CHECK_ALL = 40018,
    MBC_HELP_WINDOW = 40019,
    MBC_CHECK_INCLUDED = 40020,
    MBC_SELECT_ALL = 40024,
    MBC_REPLY = 40028,
    MBC_COMPOSE = 40029,
    MBC_PROGRESS_WINDOW = 40033,
    MBC_OPEN_FIRST = 40036,
    MBC_CLEAR_LOG = 40038,
    MBC_PROFILES = 40041,
    MBC_SAVED_MESSAGES = 40043,
    MBC_RETURN_ERROR = 40045,
    MBC_FORWARD = 40046,
    MBC_ADD_FILTER = 40049,
    MBC_CLOSE = 40050,
    MBC_FIND = 40051,
    MBC_FIND_NEXT = 40052,
    MBC_FIND_PREV = 40053,
    MBC_CLEAR_ALL_LOGS = 40054,
    MBC_MARK_BOX_READ = 40055,
    MBC_MARK_ALL_READ = 40056,
    MBC_MARK_READ = 40057,
    MBC_MARK_BOX_UNREAD = 40058,
    MBC_MARK_ALL_UNREAD = 40059,
    MBC_MARK_UNREAD = 40060,
    MBC_SMALL_ICONS = 40071,
    MBC_LARGE_ICONS = 40072,
    MBC_SMALL_LOGO = 40073,
    MBC_LARGE_LOGO = 40074,
    MBC_SYSTEM_INFO = 40080,
    MBC_AUTO_SWITCHED = 40085, // from the tray: automatic checking was switched
    MBC_FLASH = 41001,         // from the tray: "Show MailBoxes" while open
    MBC_RAISE = 41002,         // from the tray: a check of one account from outside
};

// What the widget redraws after a call (bits of TakeChanges).
enum : unsigned {
    MBCH_TREE = 1u << 0,      // nodes rebuilt, or a node's text or image changed
    MBCH_ROWS = 1u << 1,      // rows replaced or reordered
    MBCH_ROW_DATA = 1u << 2,  // row statuses changed in place
    MBCH_SELECTION = 1u << 3, // selection or focus
    MBCH_TEXTS = 1u << 4,     // title, the three text lines
    MBCH_HEADER = 1u << 5,    // sort marker of the column headers
    MBCH_SCROLL = 1u << 6,    // make the focus row visible
};

// A message box for the widget to show, with the window as its parent.
struct MAILBOX_NOTICE {
    std::string caption;
    std::string text;
    unsigned flags = 0; // user_message.h buttons and icon
};

// What a command or an event asks of the widget besides redrawing.
struct MAILBOX_OUTCOME {
    std::optional<MAILBOX_NOTICE> notice; // to show after the call
    bool focusList = false;    // the list gets the focus (unless a compose window is open)
    bool trayRefresh = false;  // the tray recounts its icon and tooltip
    bool showProgress = false; // a check started with ShowProgressWindow on
    bool openFindBox = false;  // Find Next/Previous without a text
    bool raise = false;        // raise and focus the window (and slide it, for 41001)
};

// Where the window stood when it was closed (the MsgDlg* settings).
struct MAILBOX_RECT {
    int x = 0, y = 0, width = 0, height = 0;
};

// Runs "Delete now" for the account: the widget runs FastDelete_Run with its
// progress box (fastdelete.h), so an event loop runs inside. Only the ids in
// result->deleted are gone; the box already reflects that when it returns.
using MailBoxDeleteRunner = std::function<uint32_t(
    ACCOUNT* account, const std::vector<std::string>& ids, FASTPOP3_RESULT* result)>;

// How a message is brought to the user (Download's flags).
enum : unsigned {
    MBDL_HEADERS = 1,     // only its headers
    MBDL_FIRST_LINES = 2, // its first NLinesDwnLoad lines
    MBDL_NO_DOWNLOAD = 16 // only a saved copy, never the server
};

// The answer to the line-count question ("Download whole message" and the
// number of lines).
struct MAILBOX_LINES {
    bool whole = true;
    int32_t lines = 0;
};

// Fetches one message: MailCheck_Start with the window's download box (an
// event loop runs inside). Its results are MailCheck_Start's.
using MailBoxFetchRunner = std::function<uint32_t(struct CheckRequest* request)>;

// A message brought by Download.
struct MAILBOX_MESSAGE {
    std::string account; // its account's name
    std::string text;    // the message itself: no status line, no byte-stuffing
    MSG_RECORD record;   // its record as it was when the message came
    bool savedCopy = false;
};

// Returns a message to its sender as undeliverable: MailSend_Bounce
// (interactive) with the account and the message text; *why gets the
// reason of a failed send. Its results are MailSend_Bounce's.
using MailBoxBounceRunner =
    std::function<uint32_t(ACCOUNT* account, std::string_view text, std::string* why)>;

// Whose pending deletions the question before a command covers.
enum class MAILBOX_SCOPE { Selected, All };

class MailBoxModel {
  public:
    // ---- Opening and closing ----------------------------------------------

    // Reads the sort, the column widths and the profile's name, fills the
    // tree and selects its node (see FillTree).
    void Open(std::string profileName);
    // The saved window rectangle (only when all four values are set) and
    // splitter position.
    std::optional<MAILBOX_RECT> SavedRect() const;
    std::optional<int> SavedSplitter() const;
    // Keeps the splitter, the five column widths, the rectangle and the sort
    // in the global settings (closing with the Close button or command).
    void SaveLayout(int splitter, const MAILBOX_RECT& rect);

    // ---- Tree -------------------------------------------------------------

    struct NODE {
        std::string account; // "" for the root
        std::string text;
        int image = 0;
    };
    // Node 0 is the root; then one node per account in account-table order.
    const std::vector<NODE>& Nodes() const { return nodes_; }
    int SelectedNode() const { return selected_; }
    // Rebuilds the nodes. The node selected before stays selected when its
    // account is still there; otherwise the first account with new, notified
    // or quiet messages, else with unread ones, else with old ones, else the
    // root. The list is refilled.
    void FillTree();
    // A selection in the tree: the list is refilled for that node.
    void SelectNode(int node);
    // The selected account (looked up by name now), or null for the root.
    ACCOUNT* SelectedAccount() const;

    // ---- List -------------------------------------------------------------

    const MailBoxList& List() const { return list_; }
    int ColumnWidth(int column) const;
    void SetColumnWidth(int column, int width);
    // Whether a width of columns 1..5 was kept by an earlier close (false:
    // ColumnWidth gives the default).
    bool ColumnWidthKept(int column) const;
    // A click on a column header sorts by it (see MailBoxList::ClickHeader).
    void ClickHeader(int column);
    // The selection as the widget's list shows it (list positions).
    void SetSelection(const std::vector<int>& positions, int focus);
    void SelectAll();

    // ---- Texts ------------------------------------------------------------

    std::string Title() const { return title_; }
    std::string RootText() const;
    // The account's last error, "Checked at ... Next check: ...", "Size : ...".
    const std::string& ErrorLine() const { return errorLine_; }
    // Whether that line tells of a problem (a failed check, a busy box)
    // rather than "No errors".
    bool ErrorLineWarns() const { return errorLineWarns_; }
    const std::string& StatusLine() const { return statusLine_; }
    const std::string& SizeLine() const { return sizeLine_; }
    std::string OpenFirstCaption() const;

    // ---- Command state ----------------------------------------------------

    bool IsEnabled(int command) const;
    bool IsChecked(int command) const;

    // ---- Commands ---------------------------------------------------------

    // Toggles the deletion mark of the selected rows. From the Delete key,
    // with one row selected, the selection then moves to the next row.
    MAILBOX_OUTCOME MarkForDeletion(bool fromDeleteKey);
    // Mark As Read (MSG_OLD) / Mark As UnRead (MSG_UNREAD) of the selected rows.
    MAILBOX_OUTCOME MarkRows(int32_t status);
    // The whole selected box read (MSG_OLD) or unread (MSG_UNREAD); marks
    // for deletion stay.
    MAILBOX_OUTCOME MarkBox(int32_t status);
    // The same for every box that is not busy.
    MAILBOX_OUTCOME MarkAll(int32_t status);
    // Empties the selected box without touching the server.
    MAILBOX_OUTCOME ClearLog();
    // The same for every box that is not busy.
    MAILBOX_OUTCOME ClearAllLogs();

    // The question to ask before a check or closing the window when messages
    // are marked for deletion (in the selected box, or in any) and
    // ConfirmMsgDel is on; "No" cancels the command.
    std::optional<MAILBOX_NOTICE> PendingDeletesQuestion(MAILBOX_SCOPE scope) const;
    // Queue the selected account / every account / the included ones. The
    // question above comes first.
    MAILBOX_OUTCOME CheckCurrent();
    MAILBOX_OUTCOME CheckAll(bool includedOnly);

    // Deletes on the server at once: the selected rows' messages when none
    // is marked in the box, otherwise every marked message of the box. The
    // rows then follow the box: only what the server confirmed goes.
    MAILBOX_OUTCOME DeleteNow(const MailBoxDeleteRunner& run);

    // The line-count question before Download(flags): the number of lines
    // to offer, or nullopt when none is asked (AskNLines off, or flags give
    // the kind already).
    std::optional<int32_t> LinesQuestion(unsigned flags) const;
    // Brings the first selected row's message: its saved copy under the
    // download root when there is one (a partial copy only when the whole
    // message is not wanted), otherwise from the server through `fetch`.
    // `answer` is the line-count question's answer when it was asked. A
    // message that came whole or in part becomes read. Nothing but a notice
    // when no message came; a cancel says nothing.
    MAILBOX_OUTCOME Download(unsigned flags, std::optional<MAILBOX_LINES> answer,
                             const MailBoxFetchRunner& fetch,
                             std::optional<MAILBOX_MESSAGE>* message);

    // "Return an ERROR": the question asked first ("Yes" goes on).
    static MAILBOX_NOTICE ReturnErrorQuestion();
    // Brings the first selected row's headers (Download), returns the
    // message to its sender through `bounce`, and marks it for deletion only
    // when that succeeded; otherwise the notice says why it was not returned.
    // Nothing is sent when the headers did not come.
    MAILBOX_OUTCOME ReturnError(const MailBoxFetchRunner& fetch, const MailBoxBounceRunner& bounce);

    // Find Next (forward) / Find Previous from the focus row, without wrap.
    MAILBOX_OUTCOME Find(std::string_view text, bool matchCase, bool forward);

    // "Progress Window": toggles ShowProgressWindow.
    void ToggleProgressWindow();

    // ---- Events -------------------------------------------------------------

    // The engine checked `account` (inside its blocking call).
    MAILBOX_OUTCOME OnAccountChecked(uint32_t result, ACCOUNT* account);
    // The engine recounted `account`'s box (inside its blocking call).
    MAILBOX_OUTCOME OnRefresh(ACCOUNT* account);
    // The settings dialog changed settings or accounts.
    MAILBOX_OUTCOME OnSettingsChanged(std::string profileName);
    // The tray's commands: 40085, 41001, 41002.
    MAILBOX_OUTCOME OnTrayCommand(int command);
    // The message viewer marked message `id` for deletion / changed a status.
    MAILBOX_OUTCOME OnMessageMarked(ACCOUNT* account, std::string_view id);
    MAILBOX_OUTCOME OnCountsChanged(ACCOUNT* account);

    // What changed since the last call (MBCH_* bits), and clears it.
    unsigned TakeChanges();

  private:
    struct Target;
    std::optional<Target> target(MAILBOX_OUTCOME* refusal) const;
    void fillList(bool keepSelection);
    void refreshTexts();
    void refreshNode(const ACCOUNT* account);
    bool readable(const ACCOUNT* account) const;
    int pendingDeletes(MSGBOX* box) const;
    void afterRowChanges(ACCOUNT* account, MAILBOX_OUTCOME* out, bool stale);
    // Gives each selected row's record the status `next` makes of its own
    // (-1: leave it), looking every record up again; true when one is gone.
    bool restatusRows(const Target& t, const std::vector<int>& rows,
                      const std::function<int32_t(int32_t)>& next);

    std::vector<NODE> nodes_;
    int selected_ = 0;
    MailBoxList list_;
    std::string listAccount_; // the account whose rows the list holds
    std::array<int, MBCOL_COUNT> widths_{};
    std::string profileName_;
    std::string title_ = "MailBox ";
    std::string errorLine_, statusLine_, sizeLine_;
    bool errorLineWarns_ = false;
    unsigned changes_ = 0;
    // Inside the engine's blocking calls: the worker waits, every box may be read.
    bool workerWaits_ = false;
};
