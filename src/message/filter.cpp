// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/filter.h"
#include "common/status.h"
#include "common/translate.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/registry.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <new>
#include <unistd.h>

struct FILTER {
    IWF_HANDLE plugin = nullptr;
};

namespace {

constexpr const char* kRootKeyPath = "Software\\Corvale\\Inboxwarden";

struct Plugin {
    void* lib = nullptr;
    bool tried = false;
    uint32_t loadResult = ERR_NOT_READY;
    IWF_Initialize initialize = nullptr;
    IWF_ChangePath changePath = nullptr;
    IWF_GetMsgAction getMsgAction = nullptr;
    IWF_Close close = nullptr;
    IWF_Reload reload = nullptr;
    IWF_AssignVars assignVars = nullptr;
    IWF_AssignVars assignGlobal = nullptr;
    IWF_IsEmpty isEmpty = nullptr;
    IWF_GetCount getCount = nullptr;
    IWF_Copy copy = nullptr;
    IWF_DeleteAll deleteAll = nullptr;
    IWF_File exportTo = nullptr;
    IWF_File importFrom = nullptr;
    IWF_Modify modify = nullptr;
    IWF_BlockMsgDlg blockMsgDlg = nullptr;
    IWF_LastError lastError = nullptr;
};

// Guards the plug-in table and serialises every call into the plug-in.
std::recursive_mutex g_mu;
Plugin g_plugin;

template <typename F> F entry(void* lib, const char* name) {
    return reinterpret_cast<F>(dlsym(lib, name));
}

// ---- The store as the plug-in sees it --------------------------------------

uint32_t storeKey(const char* keyPath, bool create, HREGKEY* key) {
    if (!keyPath) return ERR_BADARG;
    const uint32_t rc = create ? RegStore_CreateKey(HREGKEY_USER, keyPath, key)
                               : RegStore_OpenKey(HREGKEY_USER, keyPath, key);
    if (rc == REGSTORE_OK) return 0;
    return rc == REGSTORE_E_NOT_FOUND ? ERR_NOT_FOUND : ERR_OPERATION;
}

uint32_t storeGet(void*, const char* keyPath, const char* name, uint32_t* type, void* buf,
                  uint32_t* len) {
    if (!name || !len) return ERR_BADARG;
    HREGKEY key;
    if (const uint32_t rc = storeKey(keyPath, false, &key); rc) return rc;
    std::string data;
    uint32_t t = 0;
    const uint32_t rc = RegStore_QueryValue(key, name, &t, &data);
    if (rc == REGSTORE_E_NOT_FOUND) return ERR_NOT_FOUND;
    if (rc != REGSTORE_OK) return ERR_OPERATION;
    if (type) *type = t;
    const uint32_t room = *len;
    *len = static_cast<uint32_t>(data.size());
    if (!buf || room < data.size()) return ERR_BADARG;
    std::memcpy(buf, data.data(), data.size());
    return 0;
}

uint32_t storeSet(void*, const char* keyPath, const char* name, uint32_t type, const void* data,
                  uint32_t len) {
    if (!name || (!data && len)) return ERR_BADARG;
    HREGKEY key;
    if (const uint32_t rc = storeKey(keyPath, true, &key); rc) return rc;
    return RegStore_SetValue(key, name, type,
                             std::string_view(static_cast<const char*>(data), data ? len : 0))
               ? ERR_OPERATION
               : 0;
}

uint32_t storeDelete(void*, const char* keyPath, const char* name) {
    if (!name) return ERR_BADARG;
    HREGKEY key;
    if (const uint32_t rc = storeKey(keyPath, false, &key); rc) return rc;
    const uint32_t rc = RegStore_DeleteValue(key, name);
    return rc == REGSTORE_OK ? 0 : rc == REGSTORE_E_NOT_FOUND ? ERR_NOT_FOUND : ERR_OPERATION;
}

uint32_t storeDeleteKey(void*, const char* keyPath) {
    if (!keyPath) return ERR_BADARG;
    const uint32_t rc = RegStore_DeleteTree(HREGKEY_USER, keyPath);
    return rc == REGSTORE_OK ? 0 : rc == REGSTORE_E_NOT_FOUND ? ERR_NOT_FOUND : ERR_OPERATION;
}

const IWF_STORE kStore = {sizeof(IWF_STORE), nullptr,     storeGet,
                          storeSet,          storeDelete, storeDeleteKey};

uint32_t loadLocked() {
    if (g_plugin.tried) return g_plugin.loadResult;
    g_plugin.tried = true;
    const std::string path = Paths_PluginFile("libiwfilter.so");
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        DebugLog_Write("Filter: no filter plug-in (%s); mail is checked unfiltered\n", dlerror());
        return g_plugin.loadResult = ERR_NOT_READY;
    }
    if (auto version = entry<IWF_AbiVersion>(lib, "Filter_AbiVersion");
        version && version() != IWFILTER_ABI_VERSION) {
        DebugLog_Write("Filter: %s is built for ABI version %u, not %u; not used\n", path.c_str(),
                       version(), IWFILTER_ABI_VERSION);
        dlclose(lib);
        return g_plugin.loadResult = ERR_NOT_READY;
    }
    Plugin p;
    p.initialize = entry<IWF_Initialize>(lib, "Filter_Initialize");
    p.changePath = entry<IWF_ChangePath>(lib, "Filter_ChangePath");
    p.getMsgAction = entry<IWF_GetMsgAction>(lib, "Filter_GetMsgAction");
    p.close = entry<IWF_Close>(lib, "Filter_Close");
    if (!p.initialize || !p.changePath || !p.getMsgAction || !p.close) {
        DebugLog_Write("Filter: %s lacks a required entry point; not used\n", path.c_str());
        dlclose(lib);
        return g_plugin.loadResult = ERR_NOT_READY;
    }
    p.reload = entry<IWF_Reload>(lib, "Filter_Reload");
    p.assignVars = entry<IWF_AssignVars>(lib, "Filter_AssignVars");
    p.assignGlobal = entry<IWF_AssignVars>(lib, "Filter_AssignGlobal");
    p.isEmpty = entry<IWF_IsEmpty>(lib, "Filter_IsEmpty");
    p.getCount = entry<IWF_GetCount>(lib, "Filter_GetCount");
    p.copy = entry<IWF_Copy>(lib, "Filter_Copy");
    p.deleteAll = entry<IWF_DeleteAll>(lib, "Filter_DeleteAll");
    p.exportTo = entry<IWF_File>(lib, "Filter_Export");
    p.importFrom = entry<IWF_File>(lib, "Filter_Import");
    p.modify = entry<IWF_Modify>(lib, "Filter_Modify");
    p.blockMsgDlg = entry<IWF_BlockMsgDlg>(lib, "Filter_BlockMsgDlg");
    p.lastError = entry<IWF_LastError>(lib, "Filter_LastError");
    p.lib = lib;
    p.tried = true;
    p.loadResult = 0;
    g_plugin = p;
    DebugLog_Write("Filter: plug-in loaded from %s\n", path.c_str());
    return 0;
}

// Runs `call` on the plug-in's handle under the lock, or gives `fallback`
// when there is no plug-in, no entry point or no handle.
template <typename R, typename Fn, typename Call>
R withEntry(FILTER_HANDLE h, Fn Plugin::*member, R fallback, Call&& call) {
    std::lock_guard lock(g_mu);
    if (!h || !h->plugin || !g_plugin.lib || !(g_plugin.*member)) return fallback;
    return call(g_plugin.*member, h->plugin);
}

} // namespace

uint32_t Filter_Load() {
    std::lock_guard lock(g_mu);
    return loadLocked();
}

void Filter_Unload() {
    std::lock_guard lock(g_mu);
    if (g_plugin.lib) dlclose(g_plugin.lib);
    g_plugin = Plugin{};
}

uint32_t Filter_Open(const std::string& name, const char* filterFile, FILTER_HANDLE* out) {
    if (!out) return ERR_BADARG;
    *out = nullptr;
    std::lock_guard lock(g_mu);
    if (const uint32_t rc = loadLocked(); rc) return rc;
    const std::string keyPath = std::string(kRootKeyPath) + "\\" + name;
    const char* display =
        name == FILTER_GLOBAL_NAME ? IW_N_("Inboxwarden", "Global Filter") : name.c_str();
    IWF_HANDLE ph = nullptr;
    const bool global = name == FILTER_GLOBAL_NAME;
    const uint32_t rc = g_plugin.initialize(&kStore, display, keyPath.c_str(),
                                            global && filterFile ? filterFile : nullptr, &ph);
    if (rc != 0 || !ph) return rc ? rc : ERR_NOT_READY;
    auto* h = new (std::nothrow) FILTER;
    if (!h) {
        g_plugin.close(ph);
        return ERR_NOMEM;
    }
    h->plugin = ph;
    *out = h;
    return 0;
}

uint32_t Filter_Close(FILTER_HANDLE* handle) {
    if (!handle || !*handle) return ERR_NOT_READY;
    uint32_t rc = ERR_NOT_READY;
    {
        std::lock_guard lock(g_mu);
        if (g_plugin.lib && (*handle)->plugin) rc = g_plugin.close((*handle)->plugin);
    }
    delete *handle;
    *handle = nullptr;
    return rc;
}

uint32_t Filter_GetMsgAction(FILTER_HANDLE h, const char* messageText) {
    return withEntry(h, &Plugin::getMsgAction, 0u, [&](auto fn, IWF_HANDLE ph) {
        return fn(ph, messageText ? messageText : "");
    });
}

uint32_t Filter_ChangePath(FILTER_HANDLE h, const std::string& accountName,
                           const std::string& newName, const char* value) {
    const std::string keyPath = std::string(kRootKeyPath) + "\\" + newName;
    return withEntry(h, &Plugin::changePath, static_cast<uint32_t>(ERR_NOT_READY),
                     [&](auto fn, IWF_HANDLE ph) {
                         return fn(ph, &kStore, accountName.c_str(), keyPath.c_str(), value);
                     });
}

uint32_t Filter_Reload(FILTER_HANDLE h, int flags) {
    return withEntry(h, &Plugin::reload, 1u, [&](auto fn, IWF_HANDLE ph) { return fn(ph, flags); });
}

uint32_t Filter_AssignVars(FILTER_HANDLE h, const char* login, const char* email) {
    const char* names[] = {"ChkLogin", "Email"};
    const char* values[] = {login ? login : "", email ? email : ""};
    return withEntry(h, &Plugin::assignVars, 0u,
                     [&](auto fn, IWF_HANDLE ph) { return fn(ph, 2, names, values); });
}

uint32_t Filter_AssignGlobal(FILTER_HANDLE h, int count, const char* const* names,
                             const char* const* values) {
    return withEntry(h, &Plugin::assignGlobal, 0u,
                     [&](auto fn, IWF_HANDLE ph) { return fn(ph, count, names, values); });
}

int32_t Filter_IsEmpty(FILTER_HANDLE h) {
    return withEntry(h, &Plugin::isEmpty, 1, [&](auto fn, IWF_HANDLE ph) { return fn(ph); });
}

int32_t Filter_GetCount(FILTER_HANDLE h) {
    return withEntry(h, &Plugin::getCount, -1, [&](auto fn, IWF_HANDLE ph) { return fn(ph); });
}

uint32_t Filter_Copy(FILTER_HANDLE dst, FILTER_HANDLE src, int append) {
    std::lock_guard lock(g_mu);
    if (!dst || !src || !dst->plugin || !src->plugin || !g_plugin.copy) return 0;
    return g_plugin.copy(dst->plugin, src->plugin, append);
}

uint32_t Filter_DeleteAll(FILTER_HANDLE h) {
    return withEntry(h, &Plugin::deleteAll, 0u, [&](auto fn, IWF_HANDLE ph) { return fn(ph); });
}

uint32_t Filter_Export(FILTER_HANDLE h, const char* fileName) {
    return withEntry(h, &Plugin::exportTo, 0u,
                     [&](auto fn, IWF_HANDLE ph) { return fn(ph, fileName ? fileName : ""); });
}

uint32_t Filter_Import(FILTER_HANDLE h, const char* fileName) {
    return withEntry(h, &Plugin::importFrom, 0u,
                     [&](auto fn, IWF_HANDLE ph) { return fn(ph, fileName ? fileName : ""); });
}

uint32_t Filter_Modify(FILTER_HANDLE h, uintptr_t owner) {
    return withEntry(h, &Plugin::modify, 0u, [&](auto fn, IWF_HANDLE ph) { return fn(ph, owner); });
}

uint32_t Filter_BlockMsgDlg(FILTER_HANDLE h, uintptr_t owner, int flags, const char* from,
                            const char* to, const char* subject) {
    return withEntry(
        h, &Plugin::blockMsgDlg, static_cast<uint32_t>(ERR_NOT_READY), [&](auto fn, IWF_HANDLE ph) {
            return fn(ph, owner, flags, from ? from : "", to ? to : "", subject ? subject : "");
        });
}

std::string Filter_LastError(FILTER_HANDLE h) {
    return withEntry(h, &Plugin::lastError, std::string(), [&](auto fn, IWF_HANDLE ph) {
        const char* text = fn(ph);
        return text ? std::string(text) : std::string();
    });
}
