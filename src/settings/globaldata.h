// SPDX-License-Identifier: GPL-3.0-or-later
// The global settings: the options that belong to no single account, held in
// one process-wide record loaded from the root key of the settings tree, and
// the dial-up options stored beside them. Other modules read single options
// by parameter number (GlobalData_GetParam) and change a few through
// GlobalData_SetParam; the settings dialog edits the record in place and
// ends with GlobalData_Save + DialUp_Save, so an export of the profile right
// after the dialog (and a crash) sees the edits.
//
// Not thread-safe: the record belongs to the UI thread; the check worker
// reads options only while no dialog can change them.
#pragma once

#include "settings/account.h"
#include "settings/reg.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Parameter numbers (the interface of GlobalData_GetParam/SetParam).
enum : int {
    GD_ENABLED = 0,          // "Enabled", read and written at every call, 1 when absent
    GD_DEFMENU = 1,          // "DefMenu", direct, no default
    GD_SNGLCLICKMENU = 2,    // "SnglClickMenu", direct, no default
    GD_PROXYSOCKSSERVER = 3, // text
    GD_PROXYSOCKSPARAM = 4,  // bits 24..31 SOCKS version, 0..23 port
    GD_CHECKONSTART = 5,     // 0 no, 1 included accounts, 2 all
    GD_NEWMAILVISUAL = 6,    // NEW_MAIL_VISUAL; other loaded values become NMV_POPUP
    GD_NOTIFYONLYONCE = 7,
    GD_RUNTIME8 = 8,      // not stored
    GD_NEWMAILSOUND = 9,  // text
    GD_MAILREADER = 10,   // text
    GD_REPLYPREPEND = 11, // text
    GD_SIGNATURE = 12,    // text
    GD_DWNRTDIR = 13,     // text
    GD_SPAMRTDIR = 14,    // text
    GD_ATTACHCHECK = 15,
    GD_SAVTXTWNDPOS = 16,
    GD_WHOLEMSG = 17,
    GD_SHOWHDR = 18,
    GD_ASKNLINES = 19,
    GD_CONFIRMMSGDEL = 20,
    GD_CONFIRMREPLYSAVE = 21,
    GD_CONFIRMMSGSEND = 22,
    GD_NLINESDWNLOAD = 23,
    GD_RFONT = 24, // text "%d %d %d %d >%s", at most 73 bytes
    GD_STARTONLOGON = 25,
    GD_SHOWPROGRESSWINDOW = 26,
    GD_SNDSYNC = 27,
    GD_GLBFILTER = 28,             // FILTER_HANDLE of the global filter
    GD_GLBFILTERFILE = 29,         // text
    GD_LASTTXTSEARCH = 30,         // text, direct
    GD_REMOTEINSTALLER = 31,       // text
    GD_REMOTEINSTALLERENABLE = 32, // direct, 0 when absent
    GD_REMOTEINSTALLERICON = 33,   // direct, 1 when absent
    GD_REMOTEINSTALLERGROUP = 34,  // direct, 1 when absent
    GD_BUTTONSIZE = 35,            // 1 or 2
    GD_LOGOSIZE = 36,              // 1 or 2
    GD_OPTIMIZESTARTUP = 37,
    GD_ADDRESSBOOKFILES = 38, // text: vCard files besides the default one, ';' between paths
    GD_DESKTOPNOTIFY = 39,    // 1: the notification message as a desktop notification
    GD_GEOMETRY_FIRST = 40,   // 40..60: window geometry, -1 while unset
    GD_GEOMETRY_LAST = 60,
};

// What a check that found new mail does besides the sound (GD_NEWMAILVISUAL).
enum NEW_MAIL_VISUAL : int32_t {
    NMV_NONE = 0,
    NMV_SHOW_MAILBOXES = 1, // the MailBox window, unless the compose window is open
    NMV_POPUP = 2,          // the new-mail popup, unless the MailBox window is open
    NMV_LAUNCH_READER = 3,  // the mail reader; the MailBox window when it fails to start
    NMV_BLINK = 4,          // the tray icon blinks
    NMV_LAST = NMV_BLINK,
};

inline constexpr int GD_RFONT_SIZE = 74;
inline constexpr int32_t GD_UNSET = -1;

struct GLOBAL_DATA {
    std::string ProxySocksServer;
    uint32_t ProxySocksParam = 0x05000438;
    uint8_t CheckOnStart = 0;
    int32_t NewMailVisual = NMV_SHOW_MAILBOXES; // NEW_MAIL_VISUAL
    uint8_t NotifyOnlyOnce = 0;
    std::string NewMailSound;
    std::string MailReader;
    std::string ReplyPrepend;
    std::string Signature;
    std::string DwnRtDir;
    std::string SpamRtDir;
    uint8_t AttachCheck = 0;
    uint8_t SavTxtWndPos = 1;
    uint8_t WholeMsg = 0;
    uint8_t ShowHdr = 0;
    uint8_t AskNLines = 1;
    uint8_t ConfirmMsgDel = 1;
    uint8_t ConfirmReplySave = 0;
    uint8_t ConfirmMsgSend = 0;
    int32_t NLinesDwnLoad = 10;
    std::string RFont;
    uint8_t StartOnLogon = 0;
    uint8_t ShowProgressWindow = 0;
    uint8_t SndSync = 1;
    FILTER_HANDLE GlbFilter = nullptr;
    std::string GlbFilterFile;
    std::string RemoteInstaller;
    int32_t ButtonSize = 1;
    int32_t LogoSize = 1;
    uint8_t OptimizeStartup = 0;
    std::string AddressBookFiles;
    uint8_t DesktopNotify = 1;
    std::array<int32_t, GD_GEOMETRY_LAST - GD_GEOMETRY_FIRST + 1> Geometry = [] {
        std::array<int32_t, GD_GEOMETRY_LAST - GD_GEOMETRY_FIRST + 1> g{};
        g.fill(GD_UNSET);
        return g;
    }();
    // The last answer for parameter 30 (direct), so GetParam can hand out a
    // pointer that stays valid until the next call.
    std::string LastTxtSearchCache;
};

struct DIALUP_DATA {
    uint8_t UseAutoDial = 0; // 0 none, 1 dial before a check, 2 check only while connected
    uint8_t UseAutoHangUp = 1;
    uint8_t DontHangUpIfNew = 0;
    std::string Entry; // "DialUP Entry"
};

// Sets every default, reads every stored option of the root key `root`
// (absent values keep their default; unreadable geometry values become -1),
// applies the load corrections and opens the global filter context. The
// handle stays owned by the caller and must outlive the record.
// 0, or ERR_BADARG for a null handle.
uint32_t GlobalData_Load(REGKEY* root);

// Writes every stored option (except the direct ones; window geometry
// values only when set) and, when the logon
// entry is managed (GlobalData_SetManageLogon), updates it.
// 0, ERR_NOT_READY when not loaded, ERR_OPERATION when a write failed (the
// others are still attempted).
uint32_t GlobalData_Save();

// When loaded: closes the global filter context, saves when `save` is 1,
// clears the record. Returns the save's result, else 0.
uint32_t GlobalData_Free(int save);

// Save and free, then load again from the same root handle.
uint32_t GlobalData_Reload();

// The record itself (edited in place by the settings dialog); null when not loaded.
GLOBAL_DATA* GlobalData_GetRecord();

// 1 while loaded.
int GlobalData_IsLoaded();

// One option by number. *value is cleared first. Texts are `const char*`
// (cast to intptr_t) into the record, valid until the option changes or the
// record is freed; number 30 is read now and valid until the next call for
// it. Flags held as bytes come sign-extended. Number 28 opens the global
// filter context first when it is not open.
//   ERR_BADARG     null value, unknown number, or an unset geometry value
//   ERR_NOT_READY  not loaded
//   ERR_NOT_FOUND  for 0..2 and 32..34 when the value is absent (0, 32..34
//                  still give their defaults)
uint32_t GlobalData_GetParam(int number, intptr_t* value);

// Typed reads through GlobalData_GetParam, so that no caller casts its value.
// A text option, copied: "" when GetParam fails or gives no text.
std::string GlobalData_GetText(int number);
// A number or flag option: what GetParam leaves whatever it returns, that is
// 0 when not loaded or unknown and the default of an absent 0 or 32..34.
int64_t GlobalData_GetNumber(int number);
// The global filter context (number 28, opened first when it is not); null
// when not loaded.
FILTER_HANDLE GlobalData_GetFilter();

struct GLOBAL_PROXY {
    std::string server; // empty: connect directly
    uint32_t param = 0; // GD_PROXYSOCKSPARAM
};
// The SOCKS proxy options; nullopt when not loaded.
std::optional<GLOBAL_PROXY> GlobalData_GetProxy();

// Changes one option. Texts are passed as `const char*` (null = empty).
// 0, 1, 2 and 32..34 (and 26, 30, 35, 36) are written to the store at once;
// the others change the record only. ERR_NOT_READY when not loaded,
// ERR_BADARG for a number that cannot be set.
uint32_t GlobalData_SetParam(int number, intptr_t value);

// The stored options of the record by their store names (for the command
// line; the settings dialog edits the record): every name in store order
// with its value as text (numbers in decimal, booleans 0 or 1).
std::vector<std::pair<std::string, std::string>> GlobalData_ListOptions();

// Sets one option of the record from text; GlobalData_Save stores it. The
// name is compared ignoring ASCII case; numbers are decimal or 0x hex.
//   ERR_NOT_READY  not loaded
//   ERR_NOT_FOUND  no option of that name
//   ERR_BADARG     a value the option cannot hold (a boolean other than 0 or
//                  1, a number out of range, NewMailVisual outside 0..4, a
//                  text with a control character)
uint32_t GlobalData_SetOptionText(std::string_view name, std::string_view value);

// Whether GlobalData_Save keeps the logon entry in step with StartOnLogon.
// Only a run on the default profile manages it; off by default.
void GlobalData_SetManageLogon(bool manage);
// Whether it does: exactly while the program runs its default profile.
bool GlobalData_ManagesLogon();

// The check interval of an account's timer in milliseconds: `minutes` <= 1
// counts as 10, computed in 64 bits and capped at INT_MAX.
int32_t GlobalData_IntervalMs(int32_t minutes);

// ---- Dial-up options ------------------------------------------------------

// Loads the four dial-up values of `root` with their defaults. 0 or ERR_BADARG.
uint32_t DialUp_Load(REGKEY* root);

// Writes the three flags and, when not empty, the entry name.
//   ERR_NOT_READY  not loaded
//   ERR_BADARG     UseAutoDial is 1 and the entry name is empty (nothing written)
//   ERR_OPERATION  a write failed
uint32_t DialUp_Save();

// Forgets the dial-up options (nothing written).
void DialUp_Free();

// The dial-up record; null when not loaded.
DIALUP_DATA* DialUp_GetRecord();
