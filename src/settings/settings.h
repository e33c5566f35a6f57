// SPDX-License-Identifier: GPL-3.0-or-later
// The settings lifecycle: the profile file is the true store and the tree
// below the root key its working copy. A normal start rebuilds the tree from
// the active profile; shutdown exports it back and deletes it. With the
// OptimizeStartup option the tree is kept across runs and the next start
// skips the rebuild, when the previous run ended cleanly and the profile
// file is the one the tree was saved into, unchanged since. After a run
// that did not end cleanly the leftover tree is the newest state and can be
// saved into a recovery file first.
//
// Vendor values (Software\Corvale): CleanShutdown, OptimizeStartup,
// TimeStamp (the profile's last-write time when the tree was saved, or
// "NOTHING"), TimeStampProfile (the full path of the file the kept tree
// belongs to), InboxwardenDefProfile, Recovery.
//
// All of it belongs to the UI thread; the check worker must be stopped
// before Settings_Shutdown, Settings_Abort or a profile switch.
//
// Nothing here shows a box. What the user is to be told comes back as
// notices (`notices` may be null: the debug log only) for the caller to
// show; the one question, the recovery copy of mode 2, goes to the asker.
#pragma once

#include "common/notice.h"
#include "settings/reg.h"

#include <cstdint>
#include <functional>
#include <string>

inline constexpr const char* SETTINGS_NOTHING = "NOTHING";

// Picks a file for an interactive export (the "Export Settings" save
// dialog). Returns false when the user cancels. None installed: cancel.
using SettingsPickFileFn = std::function<bool(std::string* path)>;
void Settings_SetExportPicker(SettingsPickFileFn fn);

// Asks a yes/no/cancel question. None installed: Cancel.
enum SETTINGS_ANSWER { SETTINGS_YES, SETTINGS_NO, SETTINGS_CANCEL };
using SettingsAskFn =
    std::function<SETTINGS_ANSWER(const std::string& caption, const std::string& text)>;
void Settings_SetAsker(SettingsAskFn fn);

// ---- Start ----------------------------------------------------------------

// What the start-up chose (Settings_Start fills it).
struct SETTINGS_START {
    std::string path;     // the profile file opened
    int recoveryMode = 1; // 0 never save a leftover tree, 1 always, 2 ask
    bool fast = false;    // the kept tree was used (load messages from the store)
    bool explicitProfile = false;
    // What the start did to the store, for the user to be told once: a
    // damaged store set aside, or a full disk ("" for neither).
    std::string storeNotice;
    // The first notice of the start that was kept (the rest is logged).
    NOTICES notices;
};

// Chooses between the full and the fast start for `explicitProfile` (the
// "/profile:" value, "" for none: the default profile, or
// Settings_DefaultProfilePath() stored as the default when there is none)
// and runs Settings_Initialize or Settings_FastInitialize. The time-stamp
// test is made on the file that is opened. `recoveryOverride` -1 takes the
// stored "Recovery" mode. Makes path + ".BAK" from a non-empty profile
// first. Returns the entry point's result.
// When the start meets a damaged store (and SQLite's quick check agrees) the
// store is set aside and the start made again on a new one, rebuilt from the
// profile. When it meets a full disk it is made again on a copy in memory of
// the store (RegStore_UseMemoryCopy): everything that only reads works, the
// store file is left as it is, and saves go to the profile alone. Notices of
// the failed attempt are dropped; out->storeNotice says what was done.
uint32_t Settings_Start(const std::string& explicitProfile, int recoveryOverride,
                        SETTINGS_START* out);

// $XDG_DATA_HOME/inboxwarden/profiles/Inboxwarden.iwpf
std::string Settings_DefaultProfilePath();

// Full start from `path`: recovery copy of a leftover tree (mode 0 never,
// 1 silently, 2 asks: Cancel gives ERR_NOT_READY), delete the tree, import
// the profile's settings (a missing file is created empty), load the global
// and dial-up settings and the accounts.
//   0
//   ERR_EMPTY_NAME  already initialised (the active profile is shown) or an
//                   empty path
//   ERR_BADARG      a path longer than PATH_MAX
//   ERR_NOT_READY   cancelled, the recovery copy failed (the tree is kept),
//                   the tree cannot be deleted, or the file cannot be created
//   other           the loaders' codes (everything is freed)
// A profile that exists but cannot be read (or has a wrong first line) still
// starts, empty, and is never overwritten in this run: shutdown saves to a
// recovery file beside it instead.
uint32_t Settings_Initialize(const std::string& path, int mode, NOTICES* notices = nullptr);

// Start on the tree kept from the previous run (no recovery copy, no
// deletion, no import). Results as Settings_Initialize from the load on.
uint32_t Settings_FastInitialize(const std::string& path, int mode, NOTICES* notices = nullptr);

// Brings the active profile's message sections into the tree, once per
// start (a fast start already has them). Every save of the tree and every
// rename of an account needs them there first, or the records would be
// dropped or left under the old name. Sections of accounts the tree no
// longer has are skipped.
//   0               the records are in the tree (or there are none)
//   ERR_NOT_READY   not initialised
//   PROFILE_E_*     the profile could not be read now; nothing changed
uint32_t Settings_ImportMessages(NOTICES* notices = nullptr);

// Fills the message boxes: Settings_ImportMessages, then Account_GetMessages
// (`storeUnread` as there). Record writes that failed give one notice.
// `withoutTree` fills them from the profile alone when the tree does not hold
// the records yet; the tree gets them only before the first record write (on
// whichever thread) or save, so that a run that changes no record never
// writes them. Only for a run that adds, renames and deletes no account.
uint32_t Settings_LoadMessages(bool storeUnread = true, NOTICES* notices = nullptr,
                               bool withoutTree = false);

// Says that this thread will call Settings_LoadMessages next, so that a check
// may start first and meet the server while the boxes load; until that call
// returns, Settings_AwaitMessages waits.
void Settings_ExpectMessages();

// Returns once no box load announced by Settings_ExpectMessages is still to
// come; at once when none was. Any thread.
void Settings_AwaitMessages();

// ---- End ------------------------------------------------------------------

// Frees the accounts and dial-up options, writes and frees the global
// settings, exports the tree into the active profile (or, when the profile
// could not be read at start, into a recovery file beside it), records the
// time stamp and the file, and deletes the tree unless OptimizeStartup (the
// vendor value) is 1 and `mayKeepTree`. When no export succeeds, not even
// an interactive one, the tree is kept whatever the flag says. When the
// tree did not change (Settings_Changed) and the profile is as it was
// loaded, nothing is exported: the tree is kept (with the records in it)
// or deleted as above, and the profile file is not touched.
//   0              saved (or not initialised)
//   ERR_CREATE     nothing could be saved: the tree is the only copy, so the
//                  caller must leave CleanShutdown at 0 for the next start
uint32_t Settings_Shutdown(bool mayKeepTree = true, NOTICES* notices = nullptr);

// For the user, after a save of the settings failed (Settings_Shutdown gave
// ERR_CREATE): the file and the system's reason ("No space left on device"),
// or `profile` alone when no file write failed.
std::string Settings_SaveFailureText(const std::string& profile);

// Quit without saving: frees everything without writing, sets TimeStamp
// "NOTHING" (the next start loads the profile) and deletes the tree. 0.
uint32_t Settings_Abort(NOTICES* notices = nullptr);

// Exports the tree into the export path: the active profile from the start
// on, or what Settings_SetExportPath set since. When interactive the user
// picks the file first, starting from that path (cancel gives 0; the choice
// is for this export only), and a failure is a notice; otherwise it is only
// logged, and a profile that could not be read at start is refused with a
// notice. 1 on success, else 0. The passwords the desktop keyring keeps go
// into the file (scrambled) only with `keyringPasswords`, the user's explicit
// choice for a copy taken to another machine.
int Settings_ExportToFile(int interactive, NOTICES* notices = nullptr,
                          bool keyringPasswords = false);
void Settings_SetExportPath(const std::string& path);

// Logs the process's memory use before a large import; Linux has no
// working-set control, so nothing else happens. 0.
uint32_t Settings_ExpandWorkingSet(int64_t size);

// ---- State ----------------------------------------------------------------

int Settings_IsInitialized();
int Settings_IsFastStart();
const std::string& Settings_ActivePath();
REGKEY* Settings_Root();
// True when the active profile could not be read at start (it is then
// never overwritten in this run).
bool Settings_ImportFailed();

// The name of the recovery copy of `path` at local time `t`:
// path + "-RECOVERY-YYYYMMDD-HHMM.iwpf", the year taken mod 1000.
std::string Settings_RecoveryName(const std::string& path, time_t t);

// The time-stamp text of a file's last-write time (UTC):
// "YYYY-MM-DD-HH-MM-SS-mmm"; empty when the file cannot be read.
std::string Settings_FileTimeStamp(const std::string& path);

// The tree changed since it was loaded from the profile or last saved into
// it (vendor values and the profile's own records brought in do not count).
bool Settings_Changed();
// Runs a write of vendor values (outside the tree), which the profile does
// not hold: it leaves Settings_Changed() as it was.
uint32_t Settings_WriteVendor(const std::function<uint32_t()>& write);

// "CleanShutdown": 0 while the program runs, 1 after a normal end.
uint32_t Settings_SetCleanShutdown(int clean, NOTICES* notices = nullptr);

// Vendor values as the start-up reads them (absent: the defaults given).
uint32_t Settings_GetVendorByte(const char* name, uint8_t fallback);
std::string Settings_GetVendorText(const char* name);
uint32_t Settings_SetVendorText(const char* name, const std::string& text);
