// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog's rules without a widget: what each page's controls
// hold, how they are filled from the account and global records, the
// unsaved-changes test, and the validation and store order of a save. The
// dialog (settings_dialog.h) only moves values between these forms and its
// controls, so everything here is tested without a display.
//
// UI thread only; the caller has stopped the check worker first (a save
// renames, deletes and rewrites records the worker would read).
#pragma once

#include "common/datetime.h"
#include "settings/account.h"
#include "settings/globaldata.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a failed page apply or save tells the user: caption and text.
struct SETTINGS_MESSAGE {
    std::string caption;
    std::string text;
};

// The text of an untouched password field (a placeholder: the field itself
// stays empty, so no click can add to it).
inline constexpr const char* SETTINGS_PASSWORD_HIDDEN = "The password is not shown";
inline constexpr const char* SETTINGS_REPLY_PREPEND_DEFAULT = "On %DATE%, %SENDER% wrote:";

// A password field: untouched keeps the stored password; edited (even to
// empty) replaces it.
struct PASSWORD_FIELD {
    bool edited = false;
    std::string text;
    bool operator==(const PASSWORD_FIELD&) const = default;
};

// Every control of the account editor and of its two Advanced dialogs.
struct ACCOUNT_FORM {
    std::string name;
    bool checkIt = true;
    bool useSchedule = false;
    std::array<uint16_t, 25> schedule{};
    std::string chkTime; // the minutes field as typed
    std::string fullUserName, email, replyAdr;
    std::string chkServer, chkLogin;
    PASSWORD_FIELD chkPswd;
    int32_t chkPswdType = 0;
    bool chkPswdInKeyring = false;
    bool dontCleanOldMsgs = false;
    std::string sendServer;
    bool autoApplySig = false;
    std::string signature;
    std::string mailClnt, newMailSnd;
    // Incoming Advanced.
    int32_t chkPort = 110, chkTmout = 30, chkAuthType = 0;
    int32_t chkSecurity = 0, chkCertPolicy = 0;
    std::string chkCertPin;
    // Outgoing Advanced.
    int32_t sendPort = 25, sendTmout = 30;
    uint8_t sendSecured = 0; // 0 none, 1 own login, 2 as incoming
    std::string sendLogin;
    PASSWORD_FIELD sendPswd;
    int32_t sendPswdType = 0, sendAuthType = 0;
    bool sendPswdInKeyring = false;
    int32_t sendSecurity = 0, sendCertPolicy = 0;
    std::string sendCertPin;

    bool operator==(const ACCOUNT_FORM&) const = default;
};

// The form of a stored account (passwords untouched), or of a new one with
// the defaults when `account` is null.
ACCOUNT_FORM AccountForm_FromAccount(const ACCOUNT* account);

// The unsaved-changes test: whether any field differs from `account` (null:
// the defaults of a new account). An untouched password is unchanged.
bool AccountForm_Differs(const ACCOUNT_FORM& form, const ACCOUNT* account);

// Validates and stores the editor: a new account (*account null) is added,
// an existing one renamed when its trimmed name differs, every field copied
// and the record written. Nothing is stored unless every check passed, in
// this order: "Empty account name.", "Invalid account name.", "Account
// exist.", the minutes field ("GetInt -- Not correct value"), "No
// Schedule!". On success *account is the stored record and the form's
// passwords are untouched again.
//   0, ERR_BADARG (validation: *message says why), ERR_NOMEM ("No
//   memory."), ERR_OPERATION (the store refused: *message has its caption
//   and text; a rename that failed left everything as it was)
uint32_t AccountForm_Save(ACCOUNT_FORM* form, ACCOUNT** account, SETTINGS_MESSAGE* message);

// "Do you want save account \"%s\"?" / "Do you want delete account \"%s\"?"
std::string AccountForm_SaveQuestion(std::string_view name);
std::string AccountForm_DeleteQuestion(std::string_view name);

// A number field's value: an unsigned decimal (blanks around allowed) that
// fits in int32; false for anything else ("GetInt -- Not correct value").
bool Settings_ParseUnsigned(std::string_view text, int32_t* value);
inline const SETTINGS_MESSAGE kSettingsBadNumber{"Error", "GetInt -- Not correct value"};

// The SHA-256 fingerprint a refused certificate left in a check's status
// text ("..., SHA-256 <64 hex digits>"), or "" when there is none.
std::string Settings_RefusedFingerprint(std::string_view statusText);

// ---- The time table ------------------------------------------------------------

// The entries of masks 1..24 as "%02d:%02d", hour by hour.
std::vector<std::string> Schedule_Entries(const std::array<uint16_t, 25>& schedule);
// Rebuilds masks 1..24 from entries "HH:MM" (minutes in steps of 5); mask 0
// is left as it is. Malformed entries are skipped.
void Schedule_SetEntries(std::array<uint16_t, 25>* schedule,
                         const std::vector<std::string>& entries);
// Whether any bit is set.
bool Schedule_Any(const std::array<uint16_t, 25>& schedule);

// ---- Common page ---------------------------------------------------------------

struct COMMON_FORM {
    int32_t checkOnStart = 0; // 0, 1, 2
    bool startOnLogon = false, showProgressWindow = false, sndSync = false;
    bool notifyOnlyOnce = false;
    int32_t newMailVisual = NMV_POPUP; // 1..4
    bool desktopNotify = true;
    std::string nLinesDwnLoad;
    bool askNLines = false, confirmMsgDel = false, confirmMsgSend = false;
    bool confirmReplySave = false, wholeMsg = false, showHdr = false, savTxtWndPos = false;
    bool attachCheck = false, optimizeStartup = false;
    std::string replyPrepend, signature, mailReader, newMailSound, dwnRtDir, spamRtDir;
    std::string rFont;
    int32_t defMenu = 0, snglClickMenu = 0;
    bool operator==(const COMMON_FORM&) const = default;
};

// From the global record (null: the defaults): a NewMailVisual outside 1..4
// shows as 2, an empty ReplyPrepend as its default text.
COMMON_FORM CommonForm_FromGlobal(const GLOBAL_DATA* g, int32_t defMenu, int32_t snglClickMenu);
// Validates (the lines field: kSettingsBadNumber) and copies into `g`.
// The menu commands are not copied: the caller stores them as parameters.
uint32_t CommonForm_Apply(const COMMON_FORM& form, GLOBAL_DATA* g, SETTINGS_MESSAGE* message);

// RFont "%d %d %d %d >%s": height, weight, italic flag, character set, face.
struct SETTINGS_FONT {
    int height = 0, weight = 0, italic = 0, charset = 0;
    std::string face;
};
std::string Settings_FormatFont(const SETTINGS_FONT& font); // at most GD_RFONT_SIZE - 1 bytes
bool Settings_ParseFont(std::string_view text, SETTINGS_FONT* font);

// ---- Connection page -----------------------------------------------------------

struct CONNECTION_FORM {
    int32_t dialMode = 0; // 0 none, 1 auto dial, 2 only while connected
    std::string entry;
    bool hangUp = true, dontHangUpIfNew = false;
    std::string proxyServer;
    std::string proxyPort;
    int32_t socksVersion = 5; // 4 or 5
    bool operator==(const CONNECTION_FORM&) const = default;
};
// `dialUpAvailable` false: a stored mode 1 shows as 0.
CONNECTION_FORM ConnectionForm_From(const DIALUP_DATA* d, const GLOBAL_DATA* g,
                                    bool dialUpAvailable);
// "Not valid Dial-UP entry" for mode 1 without an entry, then the port.
uint32_t ConnectionForm_Apply(const CONNECTION_FORM& form, DIALUP_DATA* d, GLOBAL_DATA* g,
                              SETTINGS_MESSAGE* message);

// ---- Auto Update page ----------------------------------------------------------

struct UPDATE_FORM {
    std::string installer;
    bool disable = true, createGroup = true, createIcon = true;
    bool operator==(const UPDATE_FORM&) const = default;
};
UPDATE_FORM UpdateForm_FromGlobal();
// Stores the installer path in the record and the three direct options.
uint32_t UpdateForm_Apply(const UPDATE_FORM& form, GLOBAL_DATA* g);
// "Verify": the release date of the installer at `path` (InstallerDate_Read's
// results); on success the path becomes RemoteInstaller.
uint32_t UpdateForm_Verify(const std::string& path, DATETIME* date);
