// SPDX-License-Identifier: GPL-3.0-or-later
// The account record: one POP3 mailbox with its outgoing server, user
// information, check timing and message box. Stored fields are named like
// their values under the account's key of the settings tree; runtime fields
// are never stored.
#pragma once

#include "common/datetime.h"
#include "settings/reg.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct MSGBOX;
using MSGBOX_HANDLE = MSGBOX*;
struct FILTER;
using FILTER_HANDLE = FILTER*;

inline constexpr int ACCOUNT_LASTSTAT_SIZE = 64;
// The name under which the global filter lives below the root key: never
// an account (exact comparison, as stores written before rely on).
inline constexpr const char* ACCOUNT_RESERVED_NAME = "_GLB_SETTINGS_";
inline constexpr int ACCOUNT_STATUSTEXT_SIZE = 96;

// ChkSecurity / SendSecurity.
inline constexpr int32_t ACCOUNT_SECURITY_NONE = 0;
inline constexpr int32_t ACCOUNT_SECURITY_STARTTLS = 1; // STLS (POP3) or STARTTLS (SMTP), required
inline constexpr int32_t ACCOUNT_SECURITY_TLS = 2;      // TLS from the first byte
// ChkCertPolicy / SendCertPolicy.
inline constexpr int32_t ACCOUNT_CERT_VERIFY = 0; // the system CA store and the host name
inline constexpr int32_t ACCOUNT_CERT_PINNED = 1; // only the certificate of the stored pin
// ChkPswdStore / SendPswdStore: where a saved password (type 0) is kept.
inline constexpr int32_t ACCOUNT_PSWD_IN_STORE = 0;   // scrambled in the settings store
inline constexpr int32_t ACCOUNT_PSWD_IN_KEYRING = 1; // the desktop keyring only

// How an account's last check ended (ACCOUNT::CheckResult).
enum CHECK_RESULT : int32_t {
    CR_OK = 0,          // success, also when the maildrop had not changed
    CR_NOT_CHECKED = 1, // no check yet, or left out of automatic checks
    CR_TIMEOUT = 2,     // the server did not answer in time
    CR_FAILED = 3,      // any other failure
};

struct ACCOUNT {
    // The account's name: its key in the account table and in the settings
    // tree. Kept here as well so that a record can name its own store key.
    std::string Name;

    // ---- Stored fields, in record order ------------------------------------
    std::string FullUserName;
    std::string Email;
    std::string ReplyAdr;
    std::string Signature;
    uint8_t AutoApplySig = 0;
    std::string ChkServer;
    int32_t ChkPort = 110;
    int32_t ChkTmout = 30; // seconds
    std::string ChkLogin;
    std::string ChkPswd;     // only while ChkPswdType is 0
    int32_t ChkAuthType = 0; // 1 = APOP, otherwise USER/PASS
    int32_t ChkPswdType = 0; // 0 saved, 1 asked once per run, 2 asked at every check
    std::string SendServer;
    int32_t SendPort = 25;
    int32_t SendTmout = 30;
    std::string SendLogin;
    std::string SendPswd;
    uint8_t SendSecured = 0;
    int32_t SendAuthType = 0;
    int32_t SendPswdType = 0;
    uint8_t DontCleanOldMsgs = 0;
    uint8_t CheckIt = 1;
    uint8_t UseSchedule = 0;
    int32_t ChkTime = 10; // minutes
    std::array<uint16_t, 25> Schedule{};
    std::string MailClnt;
    std::string NewMailSnd;
    std::string DownloadDir;
    char LastSTAT[ACCOUNT_LASTSTAT_SIZE] = {};
    int32_t PendingDeletes = 0;
    // Transport security (ACCOUNT_SECURITY_*), and how the server's
    // certificate is accepted (ACCOUNT_CERT_*) with its pinned fingerprint
    // (SHA-256 of the DER bytes, 64 lower-case hex digits). Stores written
    // before these existed have none: plain text, as then.
    int32_t ChkSecurity = 0;
    int32_t ChkCertPolicy = 0;
    std::string ChkCertPin;
    int32_t SendSecurity = 0;
    int32_t SendCertPolicy = 0;
    std::string SendCertPin;
    // Where the saved passwords are kept (ACCOUNT_PSWD_*). With the keyring,
    // ChkPswd and SendPswd only hold what was fetched or typed in this run.
    int32_t ChkPswdStore = 0;
    int32_t SendPswdStore = 0;

    // ---- Runtime fields ----------------------------------------------------
    FILTER_HANDLE FilterHandle = nullptr;
    MSGBOX_HANDLE hMsgBox = nullptr;
    DATETIME TimerBase = DateTime_Missing();
    DATETIME LastCheck = DateTime_Missing();
    int32_t TimerState = 555;
    CHECK_RESULT CheckResult = CR_NOT_CHECKED;
    char StatusText[ACCOUNT_STATUSTEXT_SIZE] = {};
    // The POP3 password typed at a prompt, kept for the rest of the run when
    // ChkPswdType is 1. Never stored.
    std::string RememberedChkPswd;
    // The same for the outgoing server (SendPswdType 1). Never stored.
    std::string RememberedSendPswd;
    // The keyring could not give a saved password in this run: that login
    // is "Ask Once" until the program ends (bit 0 POP3, bit 1 SMTP; bits 2
    // and 3: the service answered but had no entry).
    uint8_t KeyringFallback = 0;
};

// The filter plug-in as this layer sees it (the calls of message/filter.h,
// which the program installs at start). Without them no filter context is
// opened and accounts work unfiltered.
struct ACCOUNT_FILTER_OPS {
    uint32_t (*Open)(const std::string& name, const char* filterFile, FILTER_HANDLE* out);
    uint32_t (*Close)(FILTER_HANDLE* handle);
    uint32_t (*AssignVars)(FILTER_HANDLE h, const char* login, const char* email);
    uint32_t (*ChangePath)(FILTER_HANDLE h, const std::string& accountName,
                           const std::string& newName, const char* value);
};
void Account_SetFilterOps(const ACCOUNT_FILTER_OPS* ops);
const ACCOUNT_FILTER_OPS* Account_FilterOps(); // null while none is installed

// Clears the stored part of a record and sets the defaults of a new account.
void Account_SetDefaults(ACCOUNT* account);

// The port a server listens on for a security choice, used when the user
// has set none: POP3 110 or 995 (implicit TLS); SMTP 25, 587 (STARTTLS) or
// 465 (implicit TLS).
int32_t Account_DefaultChkPort(int32_t security);
int32_t Account_DefaultSendPort(int32_t security);

// "PLAIN", "LOGIN", "CRAM_MD5", or "Unknown SMTP authorization type".
const char* SmtpAuthTypeName(int32_t value);

// ---- The account table ------------------------------------------------------
// One process-wide table of accounts, unique by name ignoring ASCII case and
// kept sorted by the locale's case-insensitive collation (the order checks
// run, menus list and profiles write). Records handed out stay owned by the
// table and valid until their account is deleted or the table freed. The
// table belongs to the UI thread; the check worker reads it while the UI
// waits for the worker before it changes accounts.

// Builds the table from the subkeys of `root` (which must outlive the table):
// every stored field with its default when absent, the passwords only when
// their type is 0, ports, time-outs and ChkTime corrected (an absent or zero
// port is the default of the account's security), filter contexts opened.
// "_GLB_SETTINGS_" (exact case) is never an account; names stored by older
// versions load even when Account_Add would refuse them.
//   0, ERR_FAILED (root unreadable, or an account key cannot be opened; the
//   table is then freed), ERR_NOMEM, ERR_BADARG for a null root.
uint32_t Account_Initialize(REGKEY* root);

// Why `name` cannot become an account name, or null when it can: empty, a
// '\', '/' or ']', a control character, "." or "..", or "_GLB_SETTINGS_".
const char* Account_NameProblem(std::string_view name);

// Adds a new account with the defaults (nothing is written until
// Account_Save) and returns it, or null with *status:
//   ERR_EMPTY_NAME, ERR_EXISTS (a name equal ignoring case), ERR_BADARG (a
//   name Account_NameProblem refuses: the caller tells the reason), ERR_NOMEM.
ACCOUNT* Account_Add(std::string_view name, uint32_t* status);

// Writes every stored field of an account (found by pointer, or by index
// when account is null). A password whose type is not 0 is deleted instead,
// and so is one kept in the keyring (store 1), which goes to the keyring
// instead. Leaving the keyring for the store takes the password along.
// ChkTime 1 is written as 10. One store transaction.
//   ERR_NOT_FOUND / ERR_BADARG  no such account / index
//   ERR_NOT_READY               no table or root key
//   ERR_FAILED                  the account's key cannot be created
//   ERR_OPERATION               a value could not be written
// A keyring that cannot be reached fails nothing: the password stays in the
// record for this run and *keyringProblem (when given) says so.
uint32_t Account_Save(ACCOUNT* account, int index, std::string* keyringProblem = nullptr);

// The password type a login has in this run (smtp false: POP3, true: the
// outgoing server's own login), with a keyring password fetched into the
// record the first time it is needed. The stored type, except that a
// keyring password that cannot be had (no service, no entry, unlock
// refused) makes the login "Ask Once" (1) for the rest of the run, never an
// empty password; the status text then says so. Blocks while the keyring
// answers: call it where a password is about to be asked for.
int32_t Account_PasswordType(ACCOUNT* account, bool smtp);

// A password typed for an "Ask Once" login that the keyring could not give:
// once the server accepted it, it goes to the keyring (store 1 only) and the
// login is no longer asked for.
void Account_KeepTypedPassword(ACCOUNT* account, bool smtp, const std::string& password);

// Renames an account with its whole stored subtree (settings, message box)
// in one store transaction; its keyring entries follow (a keyring that
// cannot be reached keeps them under the old name, logged).
//   0 renamed; 1 the new name is identical (nothing done)
//   ERR_EXISTS     an account (this one included) has the name ignoring case
//   ERR_BADARG     a name Account_NameProblem refuses (the caller tells the
//                  reason), or account unknown
//   ERR_NOT_READY  no table
//   ERR_OPERATION  the store refused: everything is as before (table item,
//                  record name, filter context, stored keys), and *errorText
//                  (when given) gets what the caller shows under the caption
//                  "Account_Rename"
uint32_t Account_Rename(ACCOUNT* account, std::string_view newName,
                        std::string* errorText = nullptr);

// Closes the filter context, deletes the stored branch and the keyring
// entries (when it keeps any), destroys the box and removes the account. 0 or ERR_BADARG (no table,
// or not in it). A stored branch that cannot be deleted does not stop it; *errorText (when given)
// then gets what the caller shows under the caption "Reg_DeleteBranch".
uint32_t Account_Delete(ACCOUNT* account, std::string* errorText = nullptr);

// Frees the table (boxes, filter contexts) without writing anything.
void Account_FreeAll();

int Account_GetCount();
uint32_t Account_IndexOf(const ACCOUNT* account, int* index); // 0, ERR_NOT_FOUND, ERR_NOT_READY
ACCOUNT* Account_Get(const char* name, int index); // by name ignoring case, else by index
const char* Account_GetName(ACCOUNT* account, int index);

// 1 when some account has both ChkServer and ChkLogin, else 0.
int Account_AnyConfigured();

// Accounts left out of automatic checks: "Skipped...", CR_NOT_CHECKED,
// TimerState 555 and the first five box counters 0.
void Account_MarkSkipped();

// The root handle the table was built on (null without a table).
REGKEY* Account_GetRoot();
