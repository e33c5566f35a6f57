// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/reg.h"
#include "common/status.h"
#include "common/text.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/stat.h>

namespace {

HREGKEY target(const REGKEY* h, HREGKEY subkey) {
    return subkey != HREGKEY_NONE ? subkey : h->key;
}

uint32_t deleteValue(HREGKEY key, const char* name) {
    const uint32_t rc = RegStore_DeleteValue(key, name);
    if (rc == REGSTORE_OK || rc == REGSTORE_E_NOT_FOUND) return 0;
    DebugLog_Write("Reg_SetValue: cannot delete \"%s\": %s (%u)\n", name, RegStore_ErrorText(rc),
                   rc);
    return ERR_OPERATION;
}

uint32_t store(HREGKEY key, const char* name, uint32_t type, std::string_view data) {
    const uint32_t rc = RegStore_SetValue(key, name, type, data);
    if (rc == REGSTORE_OK) return 0;
    DebugLog_Write("Reg_SetValue: cannot write \"%s\": %s (%u)\n", name, RegStore_ErrorText(rc),
                   rc);
    return rc == REGSTORE_E_NOMEM ? ERR_NOMEM : ERR_OPERATION;
}

} // namespace

std::string Reg_ScramblePassword(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const int c = static_cast<signed char>(text[i]);
        // The high nibble of c is shifted in as a signed value: for bytes of
        // 0x80 and above the sign bits make the position nibble 0xF. Stored
        // passwords rely on exactly this form.
        out += static_cast<char>(static_cast<int>(((i + 1) & 0x0F) << 4) | (c >> 4));
        out += static_cast<char>(((c & 0x0F) << 4) | static_cast<int>(((i + 65) >> 4) & 0x0F));
    }
    return out;
}

std::string Reg_UnscramblePassword(std::string_view stored) {
    std::string out;
    out.reserve(stored.size() / 2);
    for (size_t i = 0; i + 1 < stored.size(); i += 2) {
        const auto hi = static_cast<unsigned char>(stored[i]) & 0x0F;
        const auto lo = static_cast<unsigned char>(stored[i + 1]) >> 4;
        const char c = static_cast<char>((hi << 4) | lo);
        if (c == '\0') break;
        out += c;
    }
    return out;
}

uint32_t Reg_OpenRoot(REGKEY** out, std::string_view path) {
    if (!out) return ERR_BADARG;
    auto* h = new (std::nothrow) REGKEY;
    if (!h) return ERR_NOMEM;
    const uint32_t rc = RegStore_CreateKey(HREGKEY_USER, path, &h->key);
    if (rc != REGSTORE_OK) {
        DebugLog_Write("Reg_OpenRoot: cannot open \"%.*s\": %s (%u)\n",
                       static_cast<int>(path.size()), path.data(), RegStore_ErrorText(rc), rc);
        delete h;
        return ERR_FAILED;
    }
    h->path.assign(path);
    *out = h;
    return 0;
}

uint32_t Reg_Close(REGKEY* handle) {
    if (!handle || handle->key == HREGKEY_NONE) return ERR_BADARG;
    delete handle;
    return 0;
}

uint32_t Reg_QueryInfo(REGKEY* handle, uint32_t* subkeys, uint32_t* maxSubkeyLen) {
    if (!handle) return ERR_BADARG;
    return RegStore_QueryInfoKey(handle->key, subkeys, maxSubkeyLen, nullptr, nullptr, nullptr)
               ? ERR_OPERATION
               : 0;
}

uint32_t Reg_EnumKey(REGKEY* handle, uint32_t index, std::string* name) {
    if (!handle || !name) return ERR_BADARG;
    return RegStore_EnumKey(handle->key, index, name) ? ERR_OPERATION : 0;
}

uint32_t Reg_OpenSubKey(REGKEY* handle, std::string_view name, HREGKEY* out) {
    if (!handle || !out) return ERR_BADARG;
    return RegStore_CreateKey(handle->key, name, out) ? ERR_OPERATION : 0;
}

uint32_t Reg_CloseSubKey(REGKEY* handle, HREGKEY key) {
    // Store keys hold nothing open; the call stays for symmetry with Reg_OpenSubKey.
    (void)key;
    return handle ? 0 : ERR_BADARG;
}

uint32_t Reg_GetValue(REGKEY* handle, HREGKEY subkey, const char* name, void* field, uint32_t* len,
                      uint32_t type) {
    if (!handle || handle->key == HREGKEY_NONE || !name || !field) return ERR_BADARG;
    uint32_t storedType = 0;
    std::string data;
    const uint32_t rc = RegStore_QueryValue(target(handle, subkey), name, &storedType, &data);
    if (rc == REGSTORE_E_NOT_FOUND) return ERR_NOT_FOUND;
    if (rc == REGSTORE_E_NOMEM) return ERR_NOMEM;
    if (rc != REGSTORE_OK) return ERR_OPERATION;
    const size_t stored = data.size();
    // Zero-filled tail: a text stored without its NUL still ends, and a short
    // number still reads as a whole one.
    data.resize(std::max<size_t>(stored + 2, sizeof(uint32_t)), '\0');

    switch (type) {
    case REG_T_STRBUF: {
        auto* buf = static_cast<char*>(field);
        if (!len) {
            buf[0] = '\0';
            return ERR_BADARG;
        }
        if (*len == 0 || stored == 0) {
            if (*len > 0) buf[0] = '\0';
            *len = 0;
            return 0;
        }
        // Never half a character: the cut ends on a UTF-8 boundary.
        const std::string_view text(data.c_str());
        const std::string_view cut = Text_CutUtf8(text, *len - 1);
        std::memcpy(buf, cut.data(), cut.size());
        buf[cut.size()] = '\0';
        *len = static_cast<uint32_t>(cut.size() + 1);
        return 0;
    }
    case REG_T_STR: {
        *static_cast<std::string*>(field) = data.c_str();
        if (len) *len = static_cast<uint32_t>(stored);
        return 0;
    }
    case REG_T_PSWD: {
        auto* out = static_cast<std::string*>(field);
        *out = Reg_UnscramblePassword(std::string_view(data.data(), stored));
        if (len) *len = static_cast<uint32_t>(out->size());
        return 0;
    }
    case REG_T_DWORD:
        if (storedType == REGTYPE_DWORD) {
            std::memcpy(field, data.data(), sizeof(uint32_t));
        } else if (storedType == REGTYPE_BINARY) {
            const uint32_t v = static_cast<unsigned char>(data[0]);
            std::memcpy(field, &v, sizeof v);
        }
        return 0;
    case REG_T_BOOL:
        *static_cast<uint8_t*>(field) = static_cast<uint8_t>(data[0]);
        return 0;
    case REG_T_BINARY: {
        if (!len) return ERR_BADARG;
        const size_t n = std::min<size_t>(*len, stored);
        if (n > 0) std::memcpy(field, data.data(), n);
        *len = static_cast<uint32_t>(n);
        return 0;
    }
    default:
        return ERR_OPERATION;
    }
}

uint32_t Reg_SetValue(REGKEY* handle, HREGKEY subkey, const char* name, const void* field,
                      uint32_t len, uint32_t type) {
    if (!handle || handle->key == HREGKEY_NONE || !name) return ERR_BADARG;
    const HREGKEY key = target(handle, subkey);
    if (!field) return deleteValue(key, name);
    switch (type) {
    case REG_T_STRBUF:
    case REG_T_STR: {
        const char* text = static_cast<const char*>(field);
        if (!*text) return deleteValue(key, name);
        return store(key, name, REGTYPE_SZ, std::string_view(text, std::strlen(text) + 1));
    }
    case REG_T_PSWD: {
        const char* text = static_cast<const char*>(field);
        if (!*text) return deleteValue(key, name);
        return store(key, name, REGTYPE_BINARY, Reg_ScramblePassword(text));
    }
    case REG_T_DWORD:
        return store(key, name, REGTYPE_DWORD,
                     std::string_view(static_cast<const char*>(field), sizeof(uint32_t)));
    case REG_T_BOOL:
        return store(key, name, REGTYPE_BINARY,
                     std::string_view(static_cast<const char*>(field), 1));
    case REG_T_BINARY:
        return store(key, name, REGTYPE_BINARY,
                     std::string_view(static_cast<const char*>(field), len));
    default:
        return ERR_OPERATION;
    }
}

uint32_t Reg_DeleteKey(REGKEY* handle, std::string_view name, std::string* errorText) {
    if (!handle) return ERR_BADARG;
    return Reg_DeleteBranch(handle->key, name, errorText) ? ERR_OPERATION : 0;
}

uint32_t Reg_DeleteBranch(HREGKEY parent, std::string_view path, std::string* errorText,
                          bool flush) {
    HREGKEY key = HREGKEY_NONE;
    uint32_t rc = RegStore_OpenKey(parent, path, &key);
    if (rc == REGSTORE_E_NOT_FOUND) return 0;
    if (rc != REGSTORE_OK) return rc;
    rc = RegStore_DeleteTree(parent, path);
    if (rc == REGSTORE_E_NOT_FOUND) rc = 0; // deleted meanwhile by someone else: gone all the same
    if (rc != 0) {
        const std::string text =
            std::string("Call to SHDeleteKey failed:\r\n") + RegStore_ErrorText(rc);
        DebugLog_Write("Reg_DeleteBranch: %s (%u)\n", text.c_str(), rc);
        if (errorText) *errorText = text;
    }
    // The deleted key itself is gone; making the deletion durable is the parent's flush.
    if (const uint32_t frc = flush ? RegStore_Flush(parent) : REGSTORE_OK; frc != REGSTORE_OK)
        DebugLog_Write("Call to RegFlushKey failed:\r\n%s\n", RegStore_ErrorText(frc));
    return rc;
}

uint32_t Reg_Exists(int kind, int mode, std::string_view name) {
    if (kind == 0) {
        HREGKEY key = HREGKEY_NONE;
        return RegStore_OpenKey(HREGKEY_USER, name, &key) == REGSTORE_OK ? 1 : 0;
    }
    if (!name.empty() && name.front() == '"') {
        name.remove_prefix(1);
        if (!name.empty() && name.back() == '"') name.remove_suffix(1);
    }
    const bool absolute = !name.empty() && name.front() == '/';
    std::string path(name);
    if (mode == 0 || (mode == 2 && !absolute)) {
        const std::string dir = Paths_ProgramDir();
        if (dir.empty()) return ERR_FAILED;
        path = dir + path;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? 1 : 0;
}
