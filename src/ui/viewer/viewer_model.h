// SPDX-License-Identifier: GPL-3.0-or-later
// The message viewer without its widgets: the parsed message, its header
// texts, which text the field shows, the attachment rows (with the files
// packed in a winmail.dat), the files handed to other programs, the search
// in the text, the links found in it, and deleting the message.
//
// Rules the model keeps:
//   - A viewer acts only on its own account name and message id; the record
//     is looked up again by id whenever a command needs it, and a box that a
//     check has queued or is checking is neither read nor changed.
//   - Names from the mail never become paths: every file the viewer writes
//     goes under a sanitised name into a private folder of this viewer
//     alone (platform/private_dir.h), removed with the model.
//   - Files the user chose are written through a temporary file that
//     replaces the target only once complete.
//
// UI thread only.
#pragma once

#include "common/translate.h"
#include "message/mime_decoder.h"
#include "message/tnef.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ACCOUNT;
struct MSG_RECORD;
struct FASTPOP3_RESULT;

// The window's command numbers (menus, toolbar, shortcuts).
enum VIEWER_CMD : int {
    VC_CLOSE = 2,
    VC_ABOUT = 40010,
    VC_SAVE_AS = 40012,
    VC_HELP = 40013,
    VC_DELETE_NOW = 40015,
    VC_DELETE = 40016,
    VC_SELECT_ALL = 40024,
    VC_COPY = 40026,
    VC_HELP_PREVIEW = 40027,
    VC_REPLY = 40028,
    VC_SHOW_SOURCE = 40035,
    VC_SHOW_HTML = 40039,
    VC_BROWSER = 40040,
    VC_PRINT = 40042,
    VC_FORWARD = 40046,
    VC_FIND = 40051,
    VC_FIND_NEXT = 40052,
    VC_FIND_PREV = 40053,
};

// A message box for the window to show, with the viewer as its parent.
struct VIEWER_NOTICE {
    std::string caption;
    std::string text;
    unsigned flags = 0; // user_message.h buttons and icon
};

// What a command asks of the window besides its notices.
struct VIEWER_OUTCOME {
    std::vector<VIEWER_NOTICE> notices;
    bool close = false;         // the viewer closes
    bool messageMarked = false; // tell the MailBox window: the message was marked
    bool countsChanged = false; // tell the MailBox window: the box changed
};

// One row of the attachment list.
struct VIEWER_ROW {
    std::string text;         // as shown: the attachment's name, or "+" and a packed name
    MimePart* part = nullptr; // the attachment; null for a packed file
    int packed = -1;          // the packed file's index in PackedFiles(), else -1
};

// Where the window stood (the Txt_* settings).
struct VIEWER_PLACEMENT {
    int x = 0, y = 0, width = 0, height = 0;
    bool maximised = false;
};

// Runs fast delete for the account and the one id (the window runs
// FastDelete_Run behind its progress box, so an event loop runs inside).
using ViewerDeleteRunner = std::function<uint32_t(
    ACCOUNT* account, const std::vector<std::string>& ids, FASTPOP3_RESULT* result)>;

class ViewerModel {
  public:
    ViewerModel() = default;
    ~ViewerModel();
    ViewerModel(const ViewerModel&) = delete;
    ViewerModel& operator=(const ViewerModel&) = delete;

    // Parses the message and reads its header and the viewer settings.
    // False ("No memory.") when the text cannot be parsed.
    bool Open(std::string accountName, std::string_view text, const MSG_RECORD* record);

    // ---- Header -----------------------------------------------------------

    const std::string& Title() const { return title_; }
    const std::string& From() const { return from_; }
    const std::string& Date() const { return date_; }
    const std::string& To() const { return to_; }
    const std::string& Cc() const { return cc_; }
    const std::string& Subject() const { return subject_; }
    const std::string& AccountName() const { return account_; }
    const std::string& MessageId() const { return msgId_; }
    // The heading printed above the text.
    std::string PrintHeading() const;

    // ---- Text -------------------------------------------------------------

    bool HasHtml() const { return flags_ & MIME_HAS_HTML; }
    // Whether "Show HTML Text" is offered: an HTML and a plain part.
    bool OffersHtmlText() const {
        return (flags_ & (MIME_HAS_HTML | MIME_HAS_PLAIN)) == (MIME_HAS_HTML | MIME_HAS_PLAIN);
    }
    bool SourceShown() const { return source_; }
    bool HtmlShown() const { return html_; }
    // The whole message as it was opened (a reply or forward starts from it).
    std::string MessageText() const;
    // The text the field shows now.
    const std::string& Text() const { return text_; }
    void ToggleSource();
    void ToggleHtml();
    // Writes the HTML part to this viewer's folder and clears both check
    // marks (the text stays). Returns the file to open, or "" with *notice.
    std::string BrowserFile(VIEWER_NOTICE* notice);
    // Whether an attachment name holds ".eml": the viewer then opened with
    // the source shown and says why (EmlNotice).
    bool HasEmlAttachment() const { return eml_; }
    static VIEWER_NOTICE EmlNotice() {
        return {IW_N_("Inboxwarden", "Message Preview"),
                IW_N_("Inboxwarden", "This message has a .eml attachment"), 0x40};
    }

    // ---- Attachments ------------------------------------------------------

    const std::vector<VIEWER_ROW>& Rows() const { return rows_; }
    const std::vector<TNEF_NAME>& PackedFiles() const { return packed_; }
    // The file name a save dialog proposes for a row, and its type ("dat"
    // when the name has no extension).
    std::string ProposedName(int row) const;
    static std::string Extension(const std::string& name);
    // Writes the row's file into this viewer's folder for another program
    // to open. Returns its path, or "" after adding notices.
    std::string FileToOpen(int row, VIEWER_OUTCOME* out);
    // Saves the row's file to `path` (the user's choice). False after adding
    // notices.
    bool SaveRow(int row, const std::string& path, VIEWER_OUTCOME* out);
    // The whole message to `path`. False after adding a notice.
    bool SaveMessage(const std::string& path, VIEWER_OUTCOME* out) const;
    // The name "Save As" proposes for the whole message: the title after its
    // first colon, trimmed, without \ / : * ? < > |.
    std::string ProposedMessageName() const;
    // This viewer's folder ("" until a file was written).
    const std::string& Folder() const { return folder_; }

    // ---- Deleting -----------------------------------------------------------

    // Marks the message for the next check.
    VIEWER_OUTCOME Delete();
    // Deletes it on the server now.
    VIEWER_OUTCOME DeleteNow(const ViewerDeleteRunner& run);

    // ---- Settings ---------------------------------------------------------

    // The rectangle to restore, when SavTxtWndPos is on and all four values
    // are set.
    static std::optional<VIEWER_PLACEMENT> SavedPlacement();
    static void SavePlacement(const VIEWER_PLACEMENT& p);
    // The latest search text of the process (LastTxtSearch); every search
    // stores its text there.
    static std::string LastSearch();
    static void SetLastSearch(const std::string& text);

  private:
    std::string chooseText(bool source, bool preferHtml) const;
    void fillRows();
    bool ensureFolder(VIEWER_OUTCOME* out);
    bool unpack(VIEWER_OUTCOME* out);
    std::string partData(const MimePart* part) const;

    MimeMessagePtr msg_;
    std::string account_, msgId_;
    std::string title_, from_, date_, to_, cc_, subject_;
    uint32_t flags_ = 0;
    bool source_ = false, html_ = false, eml_ = false;
    std::string text_;
    std::vector<VIEWER_ROW> rows_;
    std::vector<TNEF_NAME> packed_;
    // Which winmail.dat each packed file came from, and each one's bytes.
    std::vector<int> packedFrom_;
    std::vector<std::string> tnefData_;
    std::vector<bool> tnefUnpacked_;
    std::string folder_;
    // A file of the folder went to another program, which may read it after
    // the viewer has closed: the folder then stays until the program ends.
    bool handedOn_ = false;
};

// ---- The text field ---------------------------------------------------------

// Where a search finds `what` in `text`, or -1. Forward searches from
// selEnd; backward finds the last match that starts before selStart (a
// match that is the selection itself is passed over). Both wrap around the
// end once. A match is never found inside nothing: an empty `what` gives -1.
int ViewerText_Find(const QString& text, const QString& what, bool matchCase, bool forward,
                    int selStart, int selEnd);

// A link the viewer found in the text: `length` characters from `start`,
// opened as `url`.
struct VIEWER_LINK {
    int start = 0;
    int length = 0;
    QString url;
};
// Links in a plain text: scheme "://" addresses, "mailto:" addresses and
// "www." names, without trailing punctuation.
std::vector<VIEWER_LINK> ViewerText_Links(const QString& text);
// Whether a clicked link may be handed to the desktop: http, https and
// mailto only; anything else (file:, smb:, custom schemes) is ignored.
bool ViewerText_LinkAllowed(const QString& url);

// To or CC split into whole addresses for wrapping: an address ends at the
// first comma after its "@" and a "." after that "@" (commas in a display
// name do not split); each piece keeps its comma.
std::vector<std::string> ViewerText_SplitAddresses(std::string_view list);
