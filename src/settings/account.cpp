// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/account.h"
#include "common/keyed_array.h"
#include "common/status.h"
#include "common/text.h"
#include "common/translate.h"
#include "platform/keyring.h"
#include "platform/log.h"
#include "settings/msgbox.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

namespace {

// A store key name: an account name is one.
constexpr size_t kMaxNameBytes = 255;

const ACCOUNT_FILTER_OPS* g_filterOps = nullptr;
std::unique_ptr<KeyedArray<ACCOUNT>> g_table;
REGKEY* g_root = nullptr;

// One stored field: its value name, codec type and place in the record.
struct Field {
    const char* name;
    uint32_t type;
    void* at;
    uint32_t size = 0; // REG_T_STRBUF / REG_T_BINARY
};

// Every stored field in record order.
template <typename F> void forEachField(ACCOUNT& a, F&& f) {
    f(Field{"FullUserName", REG_T_STR, &a.FullUserName});
    f(Field{"Email", REG_T_STR, &a.Email});
    f(Field{"ReplyAdr", REG_T_STR, &a.ReplyAdr});
    f(Field{"Signature", REG_T_STR, &a.Signature});
    f(Field{"AutoApplySig", REG_T_BOOL, &a.AutoApplySig});
    f(Field{"ChkServer", REG_T_STR, &a.ChkServer});
    f(Field{"ChkPort", REG_T_DWORD, &a.ChkPort});
    f(Field{"ChkTmout", REG_T_DWORD, &a.ChkTmout});
    f(Field{"ChkLogin", REG_T_STR, &a.ChkLogin});
    f(Field{"ChkPswd", REG_T_PSWD, &a.ChkPswd});
    f(Field{"ChkAuthType", REG_T_DWORD, &a.ChkAuthType});
    f(Field{"ChkPswdType", REG_T_DWORD, &a.ChkPswdType});
    f(Field{"SendServer", REG_T_STR, &a.SendServer});
    f(Field{"SendPort", REG_T_DWORD, &a.SendPort});
    f(Field{"SendTmout", REG_T_DWORD, &a.SendTmout});
    f(Field{"SendLogin", REG_T_STR, &a.SendLogin});
    f(Field{"SendPswd", REG_T_PSWD, &a.SendPswd});
    f(Field{"SendSecured", REG_T_BOOL, &a.SendSecured});
    f(Field{"SendAuthType", REG_T_DWORD, &a.SendAuthType});
    f(Field{"SendPswdType", REG_T_DWORD, &a.SendPswdType});
    f(Field{"DontCleanOldMsgs", REG_T_BOOL, &a.DontCleanOldMsgs});
    f(Field{"CheckIt", REG_T_BOOL, &a.CheckIt});
    f(Field{"UseSchedule", REG_T_BOOL, &a.UseSchedule});
    f(Field{"ChkTime", REG_T_DWORD, &a.ChkTime});
    f(Field{"Schedule", REG_T_BINARY, a.Schedule.data(), sizeof a.Schedule});
    f(Field{"MailClnt", REG_T_STR, &a.MailClnt});
    f(Field{"NewMailSnd", REG_T_STR, &a.NewMailSnd});
    f(Field{"DownloadDir", REG_T_STR, &a.DownloadDir});
    f(Field{"LastSTAT", REG_T_STRBUF, a.LastSTAT, sizeof a.LastSTAT});
    f(Field{"PendingDeletes", REG_T_DWORD, &a.PendingDeletes});
    f(Field{"ChkSecurity", REG_T_DWORD, &a.ChkSecurity});
    f(Field{"ChkCertPolicy", REG_T_DWORD, &a.ChkCertPolicy});
    f(Field{"ChkCertPin", REG_T_STR, &a.ChkCertPin});
    f(Field{"SendSecurity", REG_T_DWORD, &a.SendSecurity});
    f(Field{"SendCertPolicy", REG_T_DWORD, &a.SendCertPolicy});
    f(Field{"SendCertPin", REG_T_STR, &a.SendCertPin});
    f(Field{"ChkPswdStore", REG_T_DWORD, &a.ChkPswdStore});
    f(Field{"SendPswdStore", REG_T_DWORD, &a.SendPswdStore});
}

bool inKeyring(const ACCOUNT& a, bool smtp) {
    return (smtp ? a.SendPswdStore : a.ChkPswdStore) == ACCOUNT_PSWD_IN_KEYRING;
}

bool usesKeyring(const ACCOUNT& a) {
    return inKeyring(a, false) || inKeyring(a, true);
}

// Whether a login keeps its password in the store file.
bool passwordInStore(const ACCOUNT& a, bool smtp) {
    return (smtp ? a.SendPswdType : a.ChkPswdType) == 0 && !inKeyring(a, smtp);
}

KEYRING_ITEM keyringItem(const ACCOUNT& a, bool smtp) {
    if (smtp) return {a.Name, a.SendServer, a.SendLogin, KEYRING_PROTOCOL::SMTP};
    return {a.Name, a.ChkServer, a.ChkLogin, KEYRING_PROTOCOL::POP3};
}

// ACCOUNT::KeyringFallback: the login is asked once; and why: the service
// answered that it holds no such entry (else it could not be reached).
uint8_t fallbackBit(bool smtp) {
    return smtp ? 2 : 1;
}
uint8_t missingBit(bool smtp) {
    return smtp ? 8 : 4;
}

// Brings the keyring in line with one login of a record about to be saved.
// `wasInKeyring`: the stored choice before this save.
uint32_t syncKeyring(ACCOUNT& a, bool smtp, bool wasInKeyring) {
    const KEYRING_PROTOCOL protocol = smtp ? KEYRING_PROTOCOL::SMTP : KEYRING_PROTOCOL::POP3;
    std::string& password = smtp ? a.SendPswd : a.ChkPswd;
    const int32_t type = smtp ? a.SendPswdType : a.ChkPswdType;
    if (!inKeyring(a, smtp)) {
        if (!wasInKeyring) return 0;
        // Back to the store: the password comes along unless one was typed.
        if (type == 0 && password.empty()) {
            KEYRING_ENTRY entry;
            if (const uint32_t rc = Keyring_Find(a.Name, protocol, &entry); rc == 0)
                password = std::move(entry.secret);
            else if (rc != ERR_NOT_FOUND)
                return rc;
        }
        return Keyring_Drop(a.Name, protocol);
    }
    if (type != 0) {
        password.clear();
        return Keyring_Drop(a.Name, protocol);
    }
    if (password.empty()) {
        // Not fetched in this run: the entry follows a changed server or
        // login, as a stored password would.
        KEYRING_ENTRY entry;
        const uint32_t rc = Keyring_Find(a.Name, protocol, &entry);
        if (rc == ERR_NOT_FOUND) return 0;
        if (rc != 0) return rc;
        if (entry.item == keyringItem(a, smtp)) return 0;
        password = std::move(entry.secret);
    }
    const uint32_t rc = Keyring_Put(keyringItem(a, smtp), password);
    if (rc == 0) a.KeyringFallback &= static_cast<uint8_t>(~(fallbackBit(smtp) | missingBit(smtp)));
    return rc;
}

// A port the user set: stored and not 0.
bool portStored(REGKEY* root, HREGKEY key, const char* name) {
    int32_t port = 0;
    return Reg_GetValue(root, key, name, &port, nullptr, REG_T_DWORD) == 0 && port != 0;
}

void loadFields(REGKEY* root, HREGKEY key, ACCOUNT& a) {
    forEachField(a, [&](const Field& f) {
        if (f.type == REG_T_PSWD) return; // after the password types, below
        uint32_t len = f.size;
        Reg_GetValue(root, key, f.name, f.at, f.size ? &len : nullptr, f.type);
    });
    if (passwordInStore(a, false))
        Reg_GetValue(root, key, "ChkPswd", &a.ChkPswd, nullptr, REG_T_PSWD);
    if (passwordInStore(a, true))
        Reg_GetValue(root, key, "SendPswd", &a.SendPswd, nullptr, REG_T_PSWD);
    if (!portStored(root, key, "ChkPort")) a.ChkPort = Account_DefaultChkPort(a.ChkSecurity);
    if (a.ChkTmout == 0) a.ChkTmout = 30;
    if (!portStored(root, key, "SendPort")) a.SendPort = Account_DefaultSendPort(a.SendSecurity);
    if (a.SendTmout == 0) a.SendTmout = 30;
    if (a.ChkTime <= 1) a.ChkTime = 10; // a negative interval would make a timer that never waits
}

// A profile exported with its keyring passwords brought them into the store:
// they move on into this machine's keyring. Where it cannot take them they
// serve this run from the record and stay stored until it can.
void takeCarriedPasswords(REGKEY* root, HREGKEY key, ACCOUNT& a) {
    for (const bool smtp : {false, true}) {
        if (!inKeyring(a, smtp) || (smtp ? a.SendPswdType : a.ChkPswdType) != 0) continue;
        const char* name = smtp ? "SendPswd" : "ChkPswd";
        std::string carried;
        if (Reg_GetValue(root, key, name, &carried, nullptr, REG_T_PSWD) != 0 || carried.empty())
            continue;
        (smtp ? a.SendPswd : a.ChkPswd) = carried;
        if (Keyring_Put(keyringItem(a, smtp), carried) == 0)
            Reg_SetValue(root, key, name, nullptr, 0, REG_T_PSWD);
    }
}

void openFilter(ACCOUNT& a) {
    if (!g_filterOps || a.FilterHandle) return;
    g_filterOps->Open(a.Name, nullptr, &a.FilterHandle);
    if (a.FilterHandle)
        g_filterOps->AssignVars(a.FilterHandle, a.ChkLogin.c_str(), a.Email.c_str());
}

void closeFilter(ACCOUNT& a) {
    if (g_filterOps && a.FilterHandle) g_filterOps->Close(&a.FilterHandle);
    a.FilterHandle = nullptr;
}

void freeAccount(ACCOUNT& a) {
    closeFilter(a);
    MsgBox_Destroy(&a.hMsgBox);
}

int indexOf(const ACCOUNT* a) {
    return g_table && a ? g_table->FindObject(a) : -1;
}

void sortTable() {
    if (g_table) g_table->SortByKey();
}

} // namespace

void Account_SetFilterOps(const ACCOUNT_FILTER_OPS* ops) {
    g_filterOps = ops;
}
const ACCOUNT_FILTER_OPS* Account_FilterOps() {
    return g_filterOps;
}

void Account_SetDefaults(ACCOUNT* account) {
    if (!account) return;
    ACCOUNT fresh;
    fresh.Name = std::move(account->Name);
    fresh.FilterHandle = account->FilterHandle;
    fresh.hMsgBox = account->hMsgBox;
    fresh.TimerBase = account->TimerBase;
    fresh.LastCheck = account->LastCheck;
    fresh.TimerState = account->TimerState;
    fresh.CheckResult = account->CheckResult;
    std::copy(std::begin(account->StatusText), std::end(account->StatusText),
              std::begin(fresh.StatusText));
    fresh.RememberedChkPswd = std::move(account->RememberedChkPswd);
    fresh.RememberedSendPswd = std::move(account->RememberedSendPswd);
    fresh.KeyringFallback = account->KeyringFallback;
    *account = std::move(fresh);
}

int32_t Account_DefaultChkPort(int32_t security) {
    return security == ACCOUNT_SECURITY_TLS ? 995 : 110;
}

int32_t Account_DefaultSendPort(int32_t security) {
    return security == ACCOUNT_SECURITY_TLS        ? 465
           : security == ACCOUNT_SECURITY_STARTTLS ? 587
                                                   : 25;
}

const char* SmtpAuthTypeName(int32_t value) {
    switch (value) {
    case 0:
        return "PLAIN";
    case 1:
        return "LOGIN";
    case 2:
        return "CRAM_MD5";
    default:
        return IW_N_("Inboxwarden", "Unknown SMTP authorization type");
    }
}

const char* Account_NameProblem(std::string_view name) {
    if (name.empty()) return IW_N_("Inboxwarden", "Empty account name.");
    if (name == "." || name == "..")
        return IW_N_("Inboxwarden", "An account cannot be named \".\" or \"..\".");
    // Store names compare without case: "_glb_settings_" is the same key.
    if (Text_EqualsNoCase(name, ACCOUNT_RESERVED_NAME))
        return IW_N_("Inboxwarden",
                     "The account name \"_GLB_SETTINGS_\" is reserved (in any letter case).");
    if (name.size() > kMaxNameBytes)
        return IW_N_("Inboxwarden", "An account name can be at most 255 bytes long.");
    for (unsigned char c : name) {
        if (c == '\\' || c == '/' || c == ']')
            return IW_N_("Inboxwarden", "An account name cannot contain '\\', '/' or ']'.");
        if (c < 0x20 || c == 0x7F)
            return IW_N_("Inboxwarden", "An account name cannot contain control characters.");
    }
    return nullptr;
}

uint32_t Account_Initialize(REGKEY* root) {
    Account_FreeAll();
    if (!root) return ERR_BADARG;
    DebugLog_WriteText("Starting Account_Initialize to add accounts\n");
    uint32_t count = 0, longest = 0;
    if (Reg_QueryInfo(root, &count, &longest) != 0) return ERR_FAILED;
    try {
        g_table =
            std::make_unique<KeyedArray<ACCOUNT>>(true, count == 0 ? 5 : static_cast<int>(count));
    } catch (const std::bad_alloc&) {
        return ERR_NOMEM;
    }
    g_root = root;
    for (uint32_t i = 0; i < count; ++i) {
        std::string name;
        if (Reg_EnumKey(root, i, &name) != 0) break;
        if (Text_EqualsNoCase(name, ACCOUNT_RESERVED_NAME)) continue;
        DebugLog_Write(" %s\n", name.c_str());
        auto acc = std::make_unique<ACCOUNT>();
        acc->Name = name;
        ACCOUNT* a = acc.get();
        if (const uint32_t rc = g_table->Add(name, std::move(acc)); rc != 0) {
            DebugLog_Write("* * Acc:Add:error:\"%s\": idx=%u, ret = %d.\n", name.c_str(), i,
                           static_cast<int>(rc));
            if (rc == ERR_NOMEM) {
                Account_FreeAll();
                return ERR_NOMEM;
            }
            continue;
        }
        HREGKEY key = HREGKEY_NONE;
        if (RegStore_OpenKey(root->key, name, &key) != REGSTORE_OK) {
            Account_FreeAll();
            return ERR_FAILED;
        }
        loadFields(root, key, *a);
        takeCarriedPasswords(root, key, *a);
        a->TimerState = 555;
        a->CheckResult = CR_NOT_CHECKED;
        openFilter(*a);
    }
    sortTable();
    DebugLog_WriteText("End of Account_Initialize\r\n");
    return 0;
}

ACCOUNT* Account_Add(std::string_view name, uint32_t* status) {
    uint32_t dummy;
    if (!status) status = &dummy;
    if (name.empty()) {
        *status = ERR_EMPTY_NAME;
        return nullptr;
    }
    if (const char* problem = Account_NameProblem(name)) {
        DebugLog_Write("Account_Add: \"%.*s\" refused: %s\n", static_cast<int>(name.size()),
                       name.data(), problem);
        *status = ERR_BADARG;
        return nullptr;
    }
    try {
        if (!g_table) g_table = std::make_unique<KeyedArray<ACCOUNT>>(true, 5);
        auto acc = std::make_unique<ACCOUNT>();
        acc->Name.assign(name);
        ACCOUNT* a = acc.get();
        int at = -1;
        if (const uint32_t rc = g_table->Add(name, std::move(acc), &at); rc != 0) {
            *status = rc;
            return nullptr;
        }
        a->hMsgBox = MsgBox_Create();
        if (!a->hMsgBox) {
            g_table->Delete(at);
            *status = ERR_NOMEM;
            return nullptr;
        }
        openFilter(*a);
        sortTable();
        *status = 0;
        return a;
    } catch (const std::bad_alloc&) {
        *status = ERR_NOMEM;
        return nullptr;
    }
}

uint32_t Account_Save(ACCOUNT* account, int index, std::string* keyringProblem) {
    if (!g_table) return ERR_NOT_READY;
    if (account) {
        if (indexOf(account) < 0) return ERR_NOT_FOUND;
    } else {
        account = g_table->At(index);
        if (!account) return ERR_BADARG;
    }
    if (!g_root) return ERR_NOT_READY;
    ACCOUNT& a = *account;
    if (a.ChkTime == 1) a.ChkTime = 10;
    // The keyring first: a password that leaves it must reach the store.
    for (const bool smtp : {false, true}) {
        int32_t was = ACCOUNT_PSWD_IN_STORE;
        HREGKEY old = HREGKEY_NONE;
        if (RegStore_OpenKey(g_root->key, a.Name, &old) == REGSTORE_OK)
            Reg_GetValue(g_root, old, smtp ? "SendPswdStore" : "ChkPswdStore", &was, nullptr,
                         REG_T_DWORD);
        const uint32_t rc = syncKeyring(a, smtp, was == ACCOUNT_PSWD_IN_KEYRING);
        if (rc != 0) {
            DebugLog_Write("Account_Save: the keyring refused the %s password of \"%s\" (0x%X)\n",
                           smtp ? "SMTP" : "POP3", a.Name.c_str(), rc);
            if (keyringProblem)
                *keyringProblem = "The desktop keyring could not be reached: the password of " +
                                  a.Name + " is kept for this run only.";
        }
    }
    RegStoreBatch batch;
    if (!batch.IsOpen()) return ERR_FAILED;
    HREGKEY key = HREGKEY_NONE;
    if (RegStore_CreateKey(g_root->key, a.Name, &key) != REGSTORE_OK) return ERR_FAILED;
    uint32_t result = 0;
    forEachField(a, [&](const Field& f) {
        uint32_t rc = 0;
        switch (f.type) {
        case REG_T_STR:
            rc = Reg_SetValue(g_root, key, f.name, static_cast<std::string*>(f.at)->c_str(), 0,
                              REG_T_STR);
            break;
        case REG_T_PSWD: {
            const bool keep = passwordInStore(a, f.at == &a.SendPswd);
            rc = Reg_SetValue(g_root, key, f.name,
                              keep ? static_cast<std::string*>(f.at)->c_str() : nullptr, 0,
                              REG_T_PSWD);
            break;
        }
        case REG_T_STRBUF:
            rc = Reg_SetValue(g_root, key, f.name, f.at, 0, REG_T_STR);
            break;
        default:
            rc = Reg_SetValue(g_root, key, f.name, f.at, f.size ? f.size : 4, f.type);
            break;
        }
        if (rc && !result) result = rc;
    });
    if (batch.Commit() != REGSTORE_OK && !result) result = ERR_OPERATION;
    if (g_filterOps && a.FilterHandle)
        g_filterOps->AssignVars(a.FilterHandle, a.ChkLogin.c_str(), a.Email.c_str());
    return result ? ERR_OPERATION : 0;
}

uint32_t Account_Rename(ACCOUNT* account, std::string_view newName, std::string* errorText) {
    if (!g_table) return ERR_NOT_READY;
    const int at = indexOf(account);
    if (at < 0) return ERR_BADARG;
    if (account->Name == newName) return 1;
    if (newName.empty()) return ERR_EMPTY_NAME;
    if (Account_NameProblem(newName)) return ERR_BADARG;
    if (g_table->FindKey(newName) >= 0) return ERR_EXISTS;

    const std::string oldName = account->Name;
    if (const uint32_t rc = g_table->SetKey(at, newName); rc != 0) return rc;
    account->Name.assign(newName);
    if (g_filterOps && account->FilterHandle)
        g_filterOps->ChangePath(account->FilterHandle, account->Name, account->Name, nullptr);

    // Copy and delete in one transaction: a failure leaves the old key whole
    // and no half-made new one.
    std::string failure;
    uint32_t code = REGSTORE_OK;
    const std::string base = std::string(REG_ROOT_PATH) + "\\";
    if (!g_root) {
        failure = "Failed to open old registry key for " + base + oldName;
        code = REGSTORE_E_INVALID;
    } else if (RegStoreBatch batch; (code = batch.BeginResult()) != REGSTORE_OK) {
        failure = "Failed to open old registry key for " + base + oldName;
    } else {
        HREGKEY from = HREGKEY_NONE, to = HREGKEY_NONE;
        if ((code = RegStore_CreateKey(g_root->key, oldName, &from)) != REGSTORE_OK)
            failure = "Failed to open old registry key for " + base + oldName;
        else if ((code = RegStore_CreateKey(g_root->key, account->Name, &to)) != REGSTORE_OK)
            failure = "Failed to open new registry key for " + base + account->Name;
        else if ((code = RegStore_CopyTree(from, to)) != REGSTORE_OK)
            failure = "Failed to copy registry entries from " + oldName + " to " + account->Name;
        else if ((code = RegStore_DeleteTree(g_root->key, oldName)) != REGSTORE_OK)
            failure = "Failed to delete registry entries for " + oldName;
        if (failure.empty()) {
            if ((code = batch.Commit()) != REGSTORE_OK)
                failure =
                    "Failed to copy registry entries from " + oldName + " to " + account->Name;
        } else {
            batch.Cancel();
        }
    }
    if (failure.empty() && usesKeyring(*account)) {
        if (const uint32_t rc = Keyring_RenameAccount(oldName, account->Name))
            DebugLog_Write("Account_Rename: the keyring entries of \"%s\" stay (0x%X)\n",
                           oldName.c_str(), rc);
    }
    if (!failure.empty()) {
        const std::string text = failure + "\r\n\r\n" + RegStore_ErrorText(code);
        DebugLog_Write("Account_Rename: %s\n", text.c_str());
        g_table->SetKey(at, oldName);
        account->Name = oldName;
        if (g_filterOps && account->FilterHandle)
            g_filterOps->ChangePath(account->FilterHandle, oldName, oldName, nullptr);
        if (errorText) *errorText = text;
        sortTable();
        return ERR_OPERATION;
    }
    sortTable();
    return 0;
}

uint32_t Account_Delete(ACCOUNT* account, std::string* errorText) {
    const int at = indexOf(account);
    if (at < 0) return ERR_BADARG;
    closeFilter(*account);
    if (g_root) Reg_DeleteKey(g_root, account->Name, errorText);
    if (usesKeyring(*account)) {
        if (const uint32_t rc = Keyring_RemoveAccount(account->Name))
            DebugLog_Write("Account_Delete: the keyring entries of \"%s\" stay (0x%X)\n",
                           account->Name.c_str(), rc);
    }
    MsgBox_Destroy(&account->hMsgBox);
    g_table->Delete(at);
    return 0;
}

void Account_FreeAll() {
    if (g_table) {
        for (int i = 0; i < g_table->Count(); ++i)
            freeAccount(*g_table->At(i));
        g_table.reset();
    }
    g_root = nullptr;
}

int Account_GetCount() {
    return g_table ? g_table->Count() : 0;
}

uint32_t Account_IndexOf(const ACCOUNT* account, int* index) {
    if (!g_table) return ERR_NOT_READY;
    const int at = indexOf(account);
    if (at < 0) return ERR_NOT_FOUND;
    if (index) *index = at;
    return 0;
}

ACCOUNT* Account_Get(const char* name, int index) {
    if (!g_table) return nullptr;
    if (name) index = g_table->FindKey(name);
    return g_table->At(index);
}

const char* Account_GetName(ACCOUNT* account, int index) {
    if (!g_table) return nullptr;
    if (account) index = indexOf(account);
    const ACCOUNT* a = g_table->At(index);
    return a ? a->Name.c_str() : nullptr;
}

int Account_AnyConfigured() {
    for (int i = 0; i < Account_GetCount(); ++i) {
        const ACCOUNT* a = g_table->At(i);
        if (!a->ChkServer.empty() && !a->ChkLogin.empty()) return 1;
    }
    return 0;
}

void Account_MarkSkipped() {
    for (int i = 0; i < Account_GetCount(); ++i) {
        ACCOUNT* a = g_table->At(i);
        if (a->CheckIt != 0) continue;
        std::snprintf(a->StatusText, sizeof a->StatusText, "%s", "Skipped...");
        a->CheckResult = CR_NOT_CHECKED;
        a->TimerState = 555;
        if (a->hMsgBox) {
            MSGBOX_COUNTS& c = a->hMsgBox->Counts;
            c.New = c.Notified = c.Unread = c.Old = c.Quiet = 0;
        }
    }
}

int32_t Account_PasswordType(ACCOUNT* account, bool smtp) {
    if (!account) return 2;
    ACCOUNT& a = *account;
    const int32_t type = smtp ? a.SendPswdType : a.ChkPswdType;
    if (type != 0 || !inKeyring(a, smtp)) return type;
    const auto said = [&] {
        MsgRecord_SetText(
            a.StatusText,
            (a.KeyringFallback & missingBit(smtp))
                ? IW_N_("Inboxwarden", "No password in the desktop keyring: asked once")
                : IW_N_("Inboxwarden", "Desktop keyring unavailable: password asked once"));
        return 1;
    };
    if (a.KeyringFallback & fallbackBit(smtp)) return said();
    std::string& password = smtp ? a.SendPswd : a.ChkPswd;
    if (!password.empty()) return 0;
    const uint32_t rc = Keyring_Lookup(keyringItem(a, smtp), &password);
    if (rc == 0 && !password.empty()) return 0;
    password.clear();
    DebugLog_Write("Account_PasswordType: no %s password of \"%s\" from the keyring (0x%X): "
                   "asked once\n",
                   smtp ? "SMTP" : "POP3", a.Name.c_str(), rc);
    a.KeyringFallback |= fallbackBit(smtp);
    if (rc == ERR_NOT_FOUND) a.KeyringFallback |= missingBit(smtp);
    return said();
}

void Account_KeepTypedPassword(ACCOUNT* account, bool smtp, const std::string& password) {
    // Only where the service answered: one that is away would only be asked
    // in vain again.
    if (!account || password.empty() || !(account->KeyringFallback & missingBit(smtp))) return;
    ACCOUNT& a = *account;
    if ((smtp ? a.SendPswdType : a.ChkPswdType) != 0 || !inKeyring(a, smtp)) return;
    if (Keyring_Put(keyringItem(a, smtp), password) != 0) return;
    (smtp ? a.SendPswd : a.ChkPswd) = password;
    a.KeyringFallback &= static_cast<uint8_t>(~(fallbackBit(smtp) | missingBit(smtp)));
}

REGKEY* Account_GetRoot() {
    return g_table ? g_root : nullptr;
}
