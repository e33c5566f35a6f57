// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings.h"
#include "common/status.h"
#include "common/translate.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox_reg.h"
#include "settings/profile.h"

#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool g_initialized = false;
bool g_fast = false;
bool g_importFailed = false;
// The profile's message sections are in the tree. A full start imports only
// the settings (the boxes follow once the windows are up); until the
// messages are in, a save of the tree alone would drop every record.
bool g_messagesInTree = false;
// The profile text whose message sections fill the boxes while the tree does
// not hold them (Settings_LoadMessages without the tree). They go into the
// tree before the first record write, which may come from the check's
// worker thread, or before a save.
std::mutex g_pendingMu;
std::string g_pendingText;
bool g_pending = false;

// With g_pendingMu held.
void clearPending() {
    Reg_SetBeforeRecordWrite(nullptr);
    g_pending = false;
    g_pendingText = std::string();
}

void dropPending() {
    std::lock_guard lock(g_pendingMu);
    clearPending();
}

// Boxes this thread is about to load while a check already runs: the check
// waits for them at its box pass (Settings_AwaitMessages).
std::mutex g_boxesMu;
std::condition_variable g_boxesLoaded;
bool g_boxesComing = false;

struct BoxesLoadedAtEnd {
    ~BoxesLoadedAtEnd() {
        {
            std::lock_guard lock(g_boxesMu);
            if (!g_boxesComing) return;
            g_boxesComing = false;
        }
        g_boxesLoaded.notify_all();
    }
};
std::string g_activePath;
std::string g_exportPath;
// The store's change count when the tree last matched the profile (loaded,
// or saved into it), and the profile's time stamp then: a save with neither
// moved has nothing to write.
uint64_t g_savedChanges = 0;
std::string g_loadedStamp;
REGKEY* g_root = nullptr;
SettingsPickFileFn g_picker;
SettingsAskFn g_asker;

// Logs a notice and hands it to the caller (nullptr: the log only).
void note(NOTICES* notices, const char* caption, std::string text,
          NOTICE_KIND kind = NOTICE_ERROR) {
    DebugLog_Write("%s: %s\n", caption, text.c_str());
    if (notices) notices->push_back({caption, std::move(text), kind});
}

std::string errText(const char* lead, uint32_t rc) {
    return std::string(lead) + RegStore_ErrorText(rc);
}

uint32_t vendorKey(HREGKEY* out) {
    return RegStore_CreateKey(HREGKEY_USER, REG_VENDOR_PATH, out);
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

int64_t fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Runs a write that leaves the tree matching the profile as much as before
// it (a vendor value, the profile's own records brought in).
template <typename F> auto quietly(F&& f) {
    const bool clean = RegStore_ChangeCount() == g_savedChanges;
    auto rc = f();
    if (clean) g_savedChanges = RegStore_ChangeCount();
    return rc;
}

bool treeExists() {
    return Reg_Exists(0, 0, REG_ROOT_PATH) == 1;
}

void passOn(const PROFILE_NOTICES& from, NOTICES* to) {
    if (to) to->insert(to->end(), from.begin(), from.end());
}

uint32_t deleteTree(NOTICES* notices) {
    std::string why;
    // A tree that comes back after a power cut is handled as after a crash:
    // two disk syncs at every start and end are not worth that.
    const uint32_t rc = Reg_DeleteBranch(HREGKEY_USER, REG_ROOT_PATH, &why, false);
    if (!why.empty()) note(notices, "Reg_DeleteBranch", why);
    if (rc) {
        char code[64];
        std::snprintf(code, sizeof code, "Failed to cleanup registry (%u). ", rc);
        note(notices, "Inboxwarden", code + std::string(RegStore_ErrorText(rc)));
    }
    return rc;
}

uint32_t exportTo(const std::string& path, bool keyringPasswords = false) {
    ProfileExtraFn extra;
    if (keyringPasswords)
        extra = [](const std::string& section) {
            // An account's section carries the passwords the keyring keeps,
            // scrambled as a stored one is.
            std::vector<PROFILE_VALUE> values;
            const std::string prefix = std::string(PROFILE_ROOT_NAME) + "\\" + REG_ROOT_PATH + "\\";
            if (section.size() <= prefix.size() || section.compare(0, prefix.size(), prefix) != 0)
                return values;
            const std::string name = section.substr(prefix.size());
            ACCOUNT* a = Account_Get(name.c_str(), -1);
            if (!a || a->Name != name) return values;
            for (const bool smtp : {false, true}) {
                if ((smtp ? a->SendPswdStore : a->ChkPswdStore) != ACCOUNT_PSWD_IN_KEYRING)
                    continue;
                if (Account_PasswordType(a, smtp) != 0) continue;
                const std::string& pw = smtp ? a->SendPswd : a->ChkPswd;
                if (!pw.empty())
                    values.push_back(
                        {smtp ? "SendPswd" : "ChkPswd", REGTYPE_BINARY, Reg_ScramblePassword(pw)});
            }
            return values;
        };
    return Reg_ExportKey(PROFILE_ROOT_NAME, REG_ROOT_PATH, true, PROFILE_MAGIC, path, extra);
}

void freeLoaded() {
    Reg_SetMsgRootKey(nullptr);
    Account_FreeAll();
    DialUp_Free();
    GlobalData_Free(0);
    if (g_root) Reg_Close(g_root);
    g_root = nullptr;
}

uint32_t load(const std::string& path) {
    uint32_t rc = Reg_OpenRoot(&g_root, REG_ROOT_PATH);
    if (rc == 0) rc = GlobalData_Load(g_root);
    if (rc == 0) rc = DialUp_Load(g_root);
    if (rc == 0) rc = Account_Initialize(g_root);
    if (rc != 0) {
        freeLoaded();
        return rc;
    }
    Reg_SetMsgRootKey(g_root);
    g_savedChanges = RegStore_ChangeCount();
    g_loadedStamp = Settings_FileTimeStamp(path);
    g_activePath = path;
    g_exportPath = path; // saves of the running settings go to their profile
    g_initialized = true;
    return 0;
}

uint32_t checkPath(const std::string& path, NOTICES* notices) {
    if (g_initialized) {
        note(notices, "Inboxwarden", "Profile \"" + g_activePath + "\" is active", NOTICE_WARNING);
        return ERR_EMPTY_NAME;
    }
    if (path.empty()) {
        note(notices, "Inboxwarden", IW_N_("Inboxwarden", "Empty account name."), NOTICE_WARNING);
        return ERR_EMPTY_NAME;
    }
    if (path.size() >= PATH_MAX) {
        note(notices, "Inboxwarden", IW_N_("Inboxwarden", "The profile path is too long."));
        return ERR_BADARG;
    }
    return 0;
}

// Saves the tree somewhere when the profile cannot take it; the user is
// told where.
bool exportToRecovery(const std::string& path, NOTICES* notices) {
    const std::string rec = Settings_RecoveryName(path, time(nullptr));
    if (exportTo(rec) != 0) return false;
    note(notices, "Inboxwarden",
         "The profile \"" + path +
             "\" could not be read at start, so it was left as it is. The settings were "
             "saved to \"" +
             rec + "\".",
         NOTICE_WARNING);
    return true;
}

// ---- A damaged store, a full disk -------------------------------------------

// Values that only the store holds and that a store set aside would take
// with it.
constexpr const char* kStoreOnlyValues[] = {"InboxwardenDefProfile", "Recovery"};

// After an attempt to start that met a damaged store or a full disk: sets the
// damaged store aside, or moves to a copy of the store in memory. True when
// the start must be made again; *notice then says what was done.
bool recoverStore(const REGSTORE_FAULTS& before, std::string* notice) {
    const REGSTORE_FAULTS now = RegStore_Faults();
    const std::string store = RegStore_Path();
    bool damaged = now.damaged != before.damaged;
    if (!damaged && now.diskFull != before.diskFull && !RegStore_IsMemoryCopy()) {
        const uint32_t rc = RegStore_UseMemoryCopy();
        if (rc == REGSTORE_OK) {
            *notice += "No space left on device for the settings store \"" + store +
                       "\". Inboxwarden works on a copy of it in memory and leaves the file "
                       "as it is; changes can be saved to the profile only. ";
            DebugLog_Write("Settings_Start: the disk is full; working on a copy in memory\n");
            return true;
        }
        DebugLog_Write("Settings_Start: no copy in memory: %s\n", RegStore_ErrorText(rc));
        // The copy reads every page: it can meet damage the start did not.
        damaged = rc == REGSTORE_E_CORRUPT;
    }
    if (!damaged) return false;
    struct Kept {
        const char* name;
        uint32_t type;
        std::string data;
    };
    std::vector<Kept> kept;
    HREGKEY vendor;
    if (RegStore_OpenKey(HREGKEY_USER, REG_VENDOR_PATH, &vendor) == REGSTORE_OK)
        for (const char* name : kStoreOnlyValues) {
            Kept k{name, 0, {}};
            if (RegStore_QueryValue(vendor, name, &k.type, &k.data) == REGSTORE_OK)
                kept.push_back(std::move(k));
        }
    std::string aside;
    const uint32_t rc = RegStore_SetAsideIfDamaged(&aside);
    if (aside.empty()) {
        DebugLog_Write("Settings_Start: the store reported damage, %s\n",
                       rc == REGSTORE_OK ? "but it passes SQLite's quick check"
                                         : RegStore_ErrorText(rc));
        return false;
    }
    // A new store that a full disk refuses shows in the next attempt.
    if (rc == REGSTORE_OK && !kept.empty() && vendorKey(&vendor) == REGSTORE_OK)
        for (const Kept& k : kept)
            RegStore_SetValue(vendor, k.name, k.type, k.data);
    *notice += "The settings store \"" + store + "\" was damaged. It was kept as \"" + aside +
               "\", and the settings are rebuilt from the profile. ";
    DebugLog_Write("Settings_Start: damaged store set aside as %s\n", aside.c_str());
    return true;
}

// Forgets a start that is to be made again.
void undoStart() {
    if (g_initialized) freeLoaded();
    g_initialized = false;
    g_fast = false;
    g_importFailed = false;
    g_activePath.clear();
}

// Exports the tree into *target; interactive: the user picks the file first,
// starting from *target, which gets the choice.
bool exportFile(bool interactive, std::string* target, NOTICES* notices,
                bool keyringPasswords = false) {
    if (interactive && (!g_picker || !g_picker(target))) return false;
    if (target->empty()) return false;
    // A profile that could not be read is never overwritten in this run.
    if (!interactive && g_initialized && g_importFailed && *target == g_activePath) {
        note(notices, "Inboxwarden",
             "The profile \"" + *target +
                 "\" could not be read at start, so it is not overwritten; the settings "
                 "are saved beside it when Inboxwarden ends.",
             NOTICE_WARNING);
        return false;
    }
    if (g_initialized && Settings_ImportMessages(notices) != 0) {
        DebugLog_Write("Settings_ExportToFile: the records are not in the store; %s not written\n",
                       target->c_str());
        return false;
    }
    const uint32_t rc = exportTo(*target, keyringPasswords);
    if (rc == 0 && g_initialized && *target == g_activePath) {
        g_savedChanges = RegStore_ChangeCount();
        g_loadedStamp = Settings_FileTimeStamp(g_activePath);
    }
    if (rc == 0) return true;
    if (interactive) {
        char code[64];
        std::snprintf(code, sizeof code, "Failed to save settings to file (%u)\n", rc);
        note(notices, "Inboxwarden", std::string(code) + *target);
    } else {
        DebugLog_Write("Saving settings from registry to a file %s, failed! err=%u.\n",
                       target->c_str(), rc);
    }
    return false;
}

} // namespace

void Settings_SetExportPicker(SettingsPickFileFn fn) {
    g_picker = std::move(fn);
}
void Settings_SetAsker(SettingsAskFn fn) {
    g_asker = std::move(fn);
}
void Settings_SetExportPath(const std::string& path) {
    g_exportPath = path;
}
int Settings_IsInitialized() {
    return g_initialized ? 1 : 0;
}
int Settings_IsFastStart() {
    return g_fast ? 1 : 0;
}
const std::string& Settings_ActivePath() {
    return g_activePath;
}
REGKEY* Settings_Root() {
    return g_root;
}
bool Settings_ImportFailed() {
    return g_importFailed;
}

std::string Settings_DefaultProfilePath() {
    return Paths_DataDir() + "/profiles/Inboxwarden.iwpf";
}

std::string Settings_RecoveryName(const std::string& path, time_t t) {
    struct tm lt {};
    localtime_r(&t, &lt);
    char tail[64];
    std::snprintf(tail, sizeof tail, "-RECOVERY-%04d%02d%02d-%02d%02d.iwpf",
                  (lt.tm_year + 1900) % 1000, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min);
    return path + tail;
}

std::string Settings_FileTimeStamp(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return "";
    struct tm ut {};
    gmtime_r(&st.st_mtim.tv_sec, &ut);
    char text[64];
    std::snprintf(text, sizeof text, "%4d-%02d-%02d-%02d-%02d-%02d-%03ld", ut.tm_year + 1900,
                  ut.tm_mon + 1, ut.tm_mday, ut.tm_hour, ut.tm_min, ut.tm_sec,
                  st.st_mtim.tv_nsec / 1000000);
    return text;
}

static uint32_t setCleanShutdown(int clean, NOTICES* notices);
static uint32_t setVendorText(const char* name, const std::string& text);

bool Settings_Changed() {
    return g_initialized && RegStore_ChangeCount() != g_savedChanges;
}

uint32_t Settings_WriteVendor(const std::function<uint32_t()>& write) {
    return quietly(write);
}

uint32_t Settings_SetCleanShutdown(int clean, NOTICES* notices) {
    return quietly([&] { return setCleanShutdown(clean, notices); });
}

static uint32_t setCleanShutdown(int clean, NOTICES* notices) {
    HREGKEY vendor;
    if (const uint32_t rc = vendorKey(&vendor); rc) {
        note(notices, "CleanShutdown",
             errText("Failed to open registry key for Software\\Corvale:\r\n\r\n", rc));
        return ERR_OPERATION;
    }
    const char b = clean ? 1 : 0;
    if (const uint32_t rc =
            RegStore_SetValue(vendor, "CleanShutdown", REGTYPE_BINARY, std::string_view(&b, 1));
        rc) {
        note(notices, "CleanShutdown",
             errText(clean ? "Failed to reset registry key for CleanShutdown:\r\n\r\n"
                           : "Failed to set registry key for CleanShutdown:\r\n\r\n",
                     rc));
        return ERR_OPERATION;
    }
    // No flush of its own: the log keeps writes in order, so a power loss
    // that takes the 0 of a start also takes everything written after it,
    // and one that takes the 1 of an end only costs the next start its
    // fast path. The checkpoint at the last close makes both durable.
    return 0;
}

uint32_t Settings_GetVendorByte(const char* name, uint8_t fallback) {
    HREGKEY vendor;
    std::string data;
    uint32_t type = 0;
    if (RegStore_OpenKey(HREGKEY_USER, REG_VENDOR_PATH, &vendor) ||
        RegStore_QueryValue(vendor, name, &type, &data) || data.empty())
        return fallback;
    if (type == REGTYPE_DWORD && data.size() >= 4) {
        uint32_t v;
        std::memcpy(&v, data.data(), 4);
        return v;
    }
    return static_cast<unsigned char>(data[0]);
}

std::string Settings_GetVendorText(const char* name) {
    HREGKEY vendor;
    std::string data;
    if (RegStore_OpenKey(HREGKEY_USER, REG_VENDOR_PATH, &vendor) ||
        RegStore_QueryValue(vendor, name, nullptr, &data))
        return "";
    return data.substr(0, data.find('\0'));
}

uint32_t Settings_SetVendorText(const char* name, const std::string& text) {
    return quietly([&] { return setVendorText(name, text); });
}

static uint32_t setVendorText(const char* name, const std::string& text) {
    HREGKEY vendor;
    if (const uint32_t rc = vendorKey(&vendor); rc) return rc;
    if (text.empty()) {
        const uint32_t rc = RegStore_DeleteValue(vendor, name);
        return rc == REGSTORE_E_NOT_FOUND ? 0 : rc;
    }
    return RegStore_SetValue(vendor, name, REGTYPE_SZ,
                             std::string_view(text.c_str(), text.size() + 1));
}

// The backup already holds the profile: written after the profile's last
// change, with its size. Saves the read and write of the whole profile at
// every start of a command that changes nothing.
static bool backupCurrent(const std::string& path) {
    struct stat p {};
    struct stat b {};
    if (stat(path.c_str(), &p) != 0 || stat((path + ".BAK").c_str(), &b) != 0) return false;
    const auto ns = [](const struct timespec& t) {
        return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    return p.st_size == b.st_size && ns(b.st_mtim) > ns(p.st_mtim);
}

static uint32_t startOnce(const std::string& explicitProfile, int recoveryOverride,
                          SETTINGS_START* out, NOTICES* notices) {
    SETTINGS_START s;
    s.explicitProfile = !explicitProfile.empty();
    const uint8_t clean = static_cast<uint8_t>(Settings_GetVendorByte("CleanShutdown", 0));
    DebugLog_Write("CleanShutdown = %u \n", clean);
    int optimize = Settings_GetVendorByte("OptimizeStartup", 0) == 1 ? 1 : 0;
    const std::string regStamp = Settings_GetVendorText("TimeStamp");
    const std::string regStampFile = Settings_GetVendorText("TimeStampProfile");
    std::string defProfile = Settings_GetVendorText("InboxwardenDefProfile");
    s.path = s.explicitProfile ? explicitProfile : defProfile;
    if (s.path.empty()) {
        DebugLog_WriteText("Didn't get name of config file \n");
        optimize = 0;
        s.path = Settings_DefaultProfilePath();
        Paths_EnsureDir(Paths_DirName(s.path));
        Settings_SetVendorText("InboxwardenDefProfile", s.path);
    } else {
        DebugLog_Write("Config file = %s\n", s.path.c_str());
        // Only a profile with something in it replaces the backup: an empty
        // or missing file must not take the last good copy with it.
        if (fileSize(s.path) > 0 && !backupCurrent(s.path)) {
            const std::string contents = [&] {
                std::string c;
                const int fd = open(s.path.c_str(), O_RDONLY | O_CLOEXEC);
                if (fd < 0) return c;
                char buf[1 << 16];
                ssize_t n;
                while ((n = read(fd, buf, sizeof buf)) > 0)
                    c.append(buf, static_cast<size_t>(n));
                close(fd);
                return c;
            }();
            // A file that will not import either (see Settings_ImportFailed)
            // must not replace the last good backup.
            std::string_view head = contents;
            if (head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
            const bool readable = head.substr(0, std::strlen(PROFILE_MAGIC)) == PROFILE_MAGIC;
            const bool ok = readable && Files_WriteWhole(s.path + ".BAK", contents) == 0;
            DebugLog_WriteText(ok ? "Created backup of .iwpf file\n"
                                  : "Failed to create backup of .iwpf file\n");
        }
        std::string fileStamp = Settings_FileTimeStamp(s.path);
        if (fileStamp.empty()) {
            DebugLog_Write("Call to GetFileTime Failed:\n%s\n", strerror(errno));
            fileStamp = "WHAT???";
        }
        DebugLog_Write("Read file timestamp: %s\n", fileStamp.c_str());
        if (regStamp != fileStamp || regStampFile != s.path) {
            DebugLog_Write("Timestamps don't match \n  Registry: %s, File: %s \n", regStamp.c_str(),
                           fileStamp.c_str());
            optimize = 0;
        } else {
            DebugLog_WriteText("Timestamps match \n");
        }
    }
    s.recoveryMode = recoveryOverride >= 0
                         ? recoveryOverride
                         : static_cast<int>(Settings_GetVendorByte("Recovery", 1));
    uint32_t rc;
    GlobalData_SetManageLogon(!s.explicitProfile);
    if (optimize == 1 && clean == 1 && treeExists()) {
        DebugLog_Write("Optimize Startup = %u \nSkipping .iwpf file loading \n", optimize);
        rc = Settings_FastInitialize(s.path, s.recoveryMode, notices);
        s.fast = rc == 0;
    } else {
        DebugLog_WriteText("Doing normal .iwpf file loading \n");
        rc = Settings_Initialize(s.path, s.recoveryMode, notices);
    }
    if (out) *out = s;
    return rc;
}

uint32_t Settings_Start(const std::string& explicitProfile, int recoveryOverride,
                        SETTINGS_START* out) {
    SETTINGS_START s;
    std::string notice;
    uint32_t rc;
    NOTICES notices;
    // The store is set aside at most once and goes to memory at most once: a
    // third attempt would meet what the second met.
    for (int attempt = 0;; ++attempt) {
        const REGSTORE_FAULTS before = RegStore_Faults();
        notices.clear(); // about a store since replaced
        rc = startOnce(explicitProfile, recoveryOverride, &s, &notices);
        if (attempt == 2 || !recoverStore(before, &notice)) break;
        undoStart();
    }
    if (!notice.empty()) notice.pop_back();
    s.storeNotice = notice;
    // One box for the start: the first thing that went wrong leads to the
    // rest, which stays in the debug log.
    if (notices.size() > 1) {
        DebugLog_Write("Settings_Start: %zu more notices not shown\n", notices.size() - 1);
        notices.resize(1);
    }
    s.notices = std::move(notices);
    if (out) *out = s;
    return rc;
}

uint32_t Settings_Initialize(const std::string& path, int mode, NOTICES* notices) {
    DebugLog_WriteText("Passing thru Settings_Initialize\n");
    if (const uint32_t rc = checkPath(path, notices); rc) return rc;
    const uint8_t clean = static_cast<uint8_t>(Settings_GetVendorByte("CleanShutdown", 0));
    if (mode != 0 && clean != 1 && treeExists()) {
        bool save = true;
        if (mode == 2) {
            const SETTINGS_ANSWER answer =
                g_asker ? g_asker("Inboxwarden",
                                  "Settings from previous Inboxwarden start are detected in the "
                                  "registry.\n\nWould you like to save a copy of these settings?\n")
                        : SETTINGS_CANCEL;
            if (answer == SETTINGS_CANCEL) return ERR_NOT_READY;
            save = answer == SETTINGS_YES;
        }
        if (save) {
            const std::string rec = Settings_RecoveryName(path, time(nullptr));
            bool saved = exportTo(rec) == 0;
            if (!saved && mode == 2) {
                std::string target = rec;
                saved = exportFile(true, &target, notices);
            }
            if (!saved && RegStore_IsMemoryCopy()) {
                // This run never writes the store file, which keeps the tree
                // for a start that can save it.
                DebugLog_Write("Settings_Initialize: recovery copy %s failed; the store file "
                               "keeps the tree\n",
                               rec.c_str());
            } else if (!saved) {
                // The leftover tree is the only copy of the last run's
                // changes: starting would delete it.
                note(notices, "Inboxwarden",
                     "The settings of the previous run could not be saved to \"" + rec +
                         "\". They are kept; the program does not start.");
                return ERR_NOT_READY;
            }
            DebugLog_Write("Saved a recovery copy to %s\n", rec.c_str());
        }
    }
    DebugLog_WriteText("Settings_Initialize normal start\n");
    Profile_ShowProgress("Loading .iwpf file");
    if (deleteTree(notices) != 0) return ERR_NOT_READY;
    g_importFailed = false;
    g_fast = false;
    g_messagesInTree = false;
    dropPending();
    if (!fileExists(path)) {
        // With its first line, so that the next start reads an empty
        // profile rather than reporting an empty file.
        if (Files_WriteWhole(path, std::string(PROFILE_MAGIC) + "\r\n\r\n") != 0) {
            char code[16];
            std::snprintf(code, sizeof code, "%u", PROFILE_E_CREATE);
            note(notices, "Inboxwarden", "Failed to load file \"" + path + "\" (" + code + ")");
            return ERR_NOT_READY;
        }
    } else {
        int64_t size = 0;
        PROFILE_NOTICES imported;
        const uint32_t rc = Profile_ImportSettings(path, PROFILE_MAGIC, PROFILE_ROOT_NAME,
                                                   REG_ROOT_PATH, &size, &imported);
        passOn(imported, notices);
        if (rc != 0) {
            g_importFailed = true;
            DebugLog_Write("Settings_Initialize: %s could not be read (%u); it will not be "
                           "overwritten in this run\n",
                           path.c_str(), rc);
        }
        Settings_ExpandWorkingSet(size);
    }
    return load(path);
}

uint32_t Settings_FastInitialize(const std::string& path, int mode, NOTICES* notices) {
    (void)mode;
    DebugLog_WriteText("Settings_FastInitialize normal start\n");
    if (const uint32_t rc = checkPath(path, notices); rc) return rc;
    g_importFailed = false;
    g_messagesInTree = true;
    const uint32_t rc = load(path);
    g_fast = rc == 0;
    return rc;
}

namespace {

// With g_pendingMu held. The records' notices were given when they were read.
uint32_t importPending() {
    // What this thread's batch holds so far, and the import, must each stand
    // or fall on their own: the import is taken as done only once committed.
    RegStore_CommitNow();
    PROFILE_NOTICES again;
    const uint32_t rc = quietly([&] {
        return Profile_ImportText(g_pendingText, true, PROFILE_MAGIC, PROFILE_ROOT_NAME,
                                  REG_ROOT_PATH, &again);
    });
    const uint32_t committed = RegStore_CommitNow();
    if (rc != 0 || committed != REGSTORE_OK) {
        const uint32_t why = rc ? rc : committed;
        DebugLog_Write("Settings_ImportMessages: the records read from %s could not be stored "
                       "(%u)\n",
                       g_activePath.c_str(), why);
        return why;
    }
    clearPending();
    g_messagesInTree = true;
    return 0;
}

// One attempt, as a load through the tree makes one: after a failure the
// records stay pending, and the save tries again.
void importBeforeRecordWrite() {
    if (Settings_ImportMessages(nullptr) != 0) Reg_SetBeforeRecordWrite(nullptr);
}

// Fills *values from the profile's message sections for the boxes, leaving
// the tree as it is; false when they are not to be read so (already in the
// tree, or the file cannot be read now: the import then says why).
bool readPending(MSG_VALUES* values, NOTICES* notices) {
    std::lock_guard lock(g_pendingMu);
    if (g_messagesInTree || g_pending || g_importFailed || fileSize(g_activePath) <= 0)
        return false;
    DebugLog_Write("Reading messages from %s without the registry\n", g_activePath.c_str());
    std::string text;
    if (Profile_ReadFile(g_activePath, &text) != 0) return false;
    PROFILE_NOTICES read;
    const uint32_t rc = Profile_ReadMessages(
        text, REG_ROOT_PATH,
        [values](HREGKEY account, std::string_view name, uint32_t type, std::string_view data) {
            values->Add(account, name, type, data);
        },
        &read);
    if (rc != 0) return false;
    passOn(read, notices);
    g_pendingText = std::move(text);
    g_pending = true;
    Reg_SetBeforeRecordWrite(importBeforeRecordWrite);
    return true;
}

} // namespace

uint32_t Settings_ImportMessages(NOTICES* notices) {
    if (!g_initialized) return ERR_NOT_READY;
    std::lock_guard lock(g_pendingMu);
    if (g_pending) return importPending();
    if (g_messagesInTree || g_importFailed || fileSize(g_activePath) <= 0) {
        g_messagesInTree = true;
        return 0;
    }
    PROFILE_NOTICES imported;
    const uint32_t rc = quietly([&] { return Profile_ImportMessages(g_activePath, &imported); });
    passOn(imported, notices);
    if (rc != 0) {
        DebugLog_Write("Settings_ImportMessages: the messages of %s could not be read (%u)\n",
                       g_activePath.c_str(), rc);
        return rc;
    }
    g_messagesInTree = true;
    return 0;
}

void Settings_ExpectMessages() {
    std::lock_guard lock(g_boxesMu);
    g_boxesComing = true;
}

void Settings_AwaitMessages() {
    std::unique_lock lock(g_boxesMu);
    g_boxesLoaded.wait(lock, [] { return !g_boxesComing; });
}

uint32_t Settings_LoadMessages(bool storeUnread, NOTICES* notices, bool withoutTree) {
    const BoxesLoadedAtEnd loaded;
    if (!g_initialized) return ERR_NOT_READY;
    MSG_VALUES values;
    const bool fromProfile = withoutTree && readPending(&values, notices);
    if (!fromProfile) Settings_ImportMessages(notices);
    std::string why;
    const uint32_t rc =
        Account_GetMessages(g_root, storeUnread, &why, fromProfile ? &values : nullptr);
    if (!why.empty()) note(notices, "Account_GetMessages", why);
    // The load's own writes (unread marks) that failed: one notice for all.
    NOTICES failed;
    Reg_TakeWriteFailureNotice(&failed);
    passOn(failed, notices);
    return rc;
}

// The end of a run that changed nothing: a complete tree is kept for the
// next start when the user wants that, as if it had just been saved;
// anything else goes, so that the next start reads the profile.
static void endUnchanged(bool mayKeepTree, NOTICES* notices) {
    // A tree kept without its records would lose them at the next save.
    const bool keep = mayKeepTree && Settings_GetVendorByte("OptimizeStartup", 0) == 1 &&
                      Settings_ImportMessages(notices) == 0;
    const std::string stamp = keep ? g_loadedStamp : SETTINGS_NOTHING;
    if (Settings_SetVendorText("TimeStamp", stamp) ||
        Settings_SetVendorText("TimeStampProfile", keep ? g_activePath : ""))
        note(notices, "Settings_Shutdown", "Failed to set registry key for TimeStamp:\r\n\r\n");
    if (!keep) deleteTree(notices);
    g_activePath.clear();
    g_initialized = false;
    g_fast = false;
    g_importFailed = false;
    g_messagesInTree = false;
    dropPending();
}

uint32_t Settings_Shutdown(bool mayKeepTree, NOTICES* notices) {
    if (!g_initialized) return 0;
    Profile_ShowProgress("Saving Account Settings");
    Reg_SetMsgRootKey(nullptr);
    Account_FreeAll();
    Profile_ShowProgress("Saving Dialup Settings");
    DialUp_Free();
    Profile_ShowProgress("Saving Global Settings");
    GlobalData_Free(1);
    Reg_Close(g_root);
    g_root = nullptr;

    // Nothing changed since the profile was loaded or saved, and nobody
    // rewrote it meanwhile: rewriting it would only cost time and wear.
    if (!g_importFailed && !Settings_Changed() && !g_loadedStamp.empty() &&
        Settings_FileTimeStamp(g_activePath) == g_loadedStamp) {
        DebugLog_WriteText("Settings_Shutdown: nothing changed; the profile is left as it is\n");
        endUnchanged(mayKeepTree, notices);
        return 0;
    }
    // The profile is about to be replaced by the tree: a tree without the
    // records would take them with it, so such a save goes to a recovery
    // file beside the profile instead.
    if (Settings_ImportMessages(notices) != 0) g_importFailed = true;

    bool saved = false;
    bool savedToProfile = false;
    if (g_importFailed) {
        saved = exportToRecovery(g_activePath, notices);
    } else {
        const uint32_t rc = exportTo(g_activePath);
        savedToProfile = saved = rc == 0;
        if (!saved)
            DebugLog_Write("Saving settings from registry to a file %s, failed! err=%u.\n",
                           g_activePath.c_str(), rc);
    }
    if (!saved) {
        std::string target = g_activePath;
        saved = exportFile(true, &target, notices);
        savedToProfile = saved && target == g_activePath;
    }

    std::string stamp = SETTINGS_NOTHING;
    if (savedToProfile) {
        stamp = Settings_FileTimeStamp(g_activePath);
        if (stamp.empty()) {
            DebugLog_Write("Call to GetFileTime Failed:\n%s\n", strerror(errno));
            stamp = SETTINGS_NOTHING;
        }
        DebugLog_Write("File timestamp: %s\n", stamp.c_str());
    }
    HREGKEY vendor;
    if (const uint32_t rc = vendorKey(&vendor); rc) {
        note(notices, "Settings_Shutdown",
             errText("Failed to open registry key for Software\\Corvale:\r\n\r\n", rc));
    } else if (Settings_SetVendorText("TimeStamp", stamp) ||
               Settings_SetVendorText("TimeStampProfile", savedToProfile ? g_activePath : "")) {
        note(notices, "Settings_Shutdown", "Failed to set registry key for TimeStamp:\r\n\r\n");
    }

    const bool keep = Settings_GetVendorByte("OptimizeStartup", 0) == 1 && mayKeepTree;
    if (!saved) {
        DebugLog_WriteText("Settings_Shutdown: nothing saved; keeping the registry keys\n");
    } else if (!keep) {
        Profile_ShowProgress("Deleting Registry Keys");
        DebugLog_WriteText("Settings_Shutdown: Deleting Registry Keys \n");
        deleteTree(notices);
    } else {
        Profile_ShowProgress("Keeping Registry Keys to Optimize Startup");
        DebugLog_WriteText("Settings_Shutdown: Keeping Registry Keys to Optimize Startup\n");
    }
    g_activePath.clear();
    g_initialized = false;
    g_fast = false;
    g_importFailed = false;
    g_messagesInTree = false;
    dropPending();
    return saved ? 0 : ERR_CREATE;
}

std::string Settings_SaveFailureText(const std::string& profile) {
    std::string path;
    const int err = Files_LastError(&path);
    if (err == 0) return "The settings could not be saved to \"" + profile + "\".";
    return "The settings could not be saved to \"" + path + "\": " + std::strerror(err) + ".";
}

uint32_t Settings_Abort(NOTICES* notices) {
    if (!g_initialized) return 0;
    freeLoaded();
    HREGKEY vendor;
    if (const uint32_t rc = vendorKey(&vendor); rc) {
        note(notices, "Settings_Abort",
             errText("Failed to open registry key for Software\\Corvale:\r\n\r\n", rc));
    } else if (const uint32_t src = Settings_SetVendorText("TimeStamp", SETTINGS_NOTHING); src) {
        note(notices, "Settings_Abort",
             errText("Failed to reset registry key for TimeStamp:\r\n\r\n", src));
    }
    Profile_ShowProgress("Deleting Registry Keys");
    deleteTree(notices);
    g_activePath.clear();
    g_initialized = false;
    g_fast = false;
    g_importFailed = false;
    g_messagesInTree = false;
    dropPending();
    return 0;
}

int Settings_ExportToFile(int interactive, NOTICES* notices, bool keyringPasswords) {
    std::string target = g_exportPath;
    return exportFile(interactive != 0, &target, notices, keyringPasswords) ? 1 : 0;
}

uint32_t Settings_ExpandWorkingSet(int64_t size) {
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        long total = 0;
        if (std::fscanf(f, "%ld %ld", &total, &pages) != 2) pages = 0;
        std::fclose(f);
    }
    struct rlimit rl {};
    getrlimit(RLIMIT_AS, &rl);
    const unsigned long resident = static_cast<unsigned long>(pages) *
                                   static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) / 1024;
    const unsigned long limit =
        rl.rlim_cur == RLIM_INFINITY ? 0 : static_cast<unsigned long>(rl.rlim_cur / 1024);
    DebugLog_Write("Original Minimum working set: %lu Kbytes\n", resident);
    DebugLog_Write("Original Maximum working set: %lu Kbytes\n", limit);
    DebugLog_Write("Profile size: %lld bytes\n", static_cast<long long>(size));
    return 0;
}
