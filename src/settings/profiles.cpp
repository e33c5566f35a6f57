// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/profiles.h"
#include "common/status.h"
#include "common/text.h"
#include "common/translate.h"
#include "platform/files.h"
#include "platform/log.h"
#include "settings/settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kExt = ".iwpf";
constexpr const char* kBaseName = "Inboxwarden";

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool samePath(const std::string& a, const std::string& b) {
    return Text_EqualsNoCase(a, b);
}

std::vector<std::string> names(const std::string& folder) {
    std::vector<std::string> out;
    DIR* d = opendir(folder.c_str());
    if (!d) return out;
    while (const dirent* e = readdir(d)) {
        const std::string_view n = e->d_name;
        if (n.size() > kExt.size() && Text_EqualsNoCase(n.substr(n.size() - kExt.size()), kExt))
            out.emplace_back(n.substr(0, n.size() - kExt.size()));
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

bool listed(const std::vector<std::string>& list, const std::string& name) {
    for (const auto& n : list)
        if (Text_EqualsNoCase(n, name)) return true;
    return false;
}

bool readAll(const std::string& path, std::string* out) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[1 << 16];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        out->append(buf, static_cast<size_t>(n));
    close(fd);
    return n == 0;
}

bool badName(const std::string& name) {
    return name.empty() || name == "." || name == ".." ||
           name.find_first_of(std::string_view("/\0", 2)) != std::string::npos;
}

} // namespace

std::string Profiles_Path(const std::string& folder, const std::string& name) {
    std::string p = folder;
    if (!p.empty() && p.back() != '/') p += '/';
    return p + name + std::string(kExt);
}

std::vector<PROFILE_ITEM> Profiles_List(const std::string& folder) {
    const std::string active = Settings_ActivePath();
    const std::string def = Settings_GetVendorText("InboxwardenDefProfile");
    std::vector<PROFILE_ITEM> items;
    for (const auto& n : names(folder)) {
        PROFILE_ITEM it;
        it.name = n;
        const std::string path = Profiles_Path(folder, n);
        it.active = !active.empty() && samePath(path, active);
        it.isDefault = !def.empty() && samePath(path, def);
        items.push_back(it);
    }
    if (items.empty() && def.empty()) {
        PROFILE_ITEM it;
        it.name = kBaseName;
        it.isNew = it.isDefault = true;
        items.push_back(it);
    }
    return items;
}

std::string Profiles_StatusText(const PROFILE_ITEM& item) {
    std::string s = item.isNew ? "new" : item.active ? "active" : "";
    if (item.isDefault) s = s.empty() ? "default" : s + " (default)";
    return s;
}

uint32_t Profiles_CreateNew(const std::string& folder, std::string* name) {
    const auto list = names(folder);
    std::string n = kBaseName;
    for (int i = 1; listed(list, n); ++i) {
        if (i > 199) return ERR_EXISTS;
        n = kBaseName + std::to_string(i);
    }
    const std::string path = Profiles_Path(folder, n);
    if (!exists(path) && Files_WriteWhole(path, "") != 0) return ERR_CREATE;
    if (name) *name = n;
    return 0;
}

uint32_t Profiles_Copy(const std::string& folder, const std::string& name, std::string* newName) {
    std::string contents;
    if (!readAll(Profiles_Path(folder, name), &contents)) return ERR_NOT_FOUND;
    const auto list = names(folder);
    for (int i = 1; i <= 199; ++i) {
        const std::string n = name + std::to_string(i);
        if (listed(list, n)) continue;
        if (Files_WriteWhole(Profiles_Path(folder, n), contents) != 0) return ERR_CREATE;
        if (newName) *newName = n;
        return 0;
    }
    return ERR_EXISTS;
}

uint32_t Profiles_Rename(const std::string& folder, const std::string& oldName,
                         const std::string& newName, std::string* errorText) {
    if (newName.empty() || Text_EqualsNoCase(oldName, newName)) return 1;
    if (badName(newName)) return ERR_BADARG;
    const std::string from = Profiles_Path(folder, oldName);
    const std::string to = Profiles_Path(folder, newName);
    // The running program would write the old name again at shutdown.
    if (samePath(from, Settings_ActivePath())) {
        if (errorText) *errorText = IW_N_("Inboxwarden", "Cannot rename active profile.");
        return ERR_BADARG;
    }
    // Profiles are told apart ignoring case (marks, new names): "b" beside
    // "B" would be two files that the list takes for one.
    std::string taken = exists(to) ? to : std::string();
    for (const auto& n : names(folder))
        if (taken.empty() && Text_EqualsNoCase(n, newName)) taken = Profiles_Path(folder, n);
    if (!taken.empty()) {
        if (errorText) *errorText = "Profile \"" + taken + "\" already exist.";
        return ERR_EXISTS;
    }
    if (exists(from)) {
        if (rename(from.c_str(), to.c_str()) != 0) return ERR_CREATE;
    } else if (Files_WriteWhole(to, "") != 0) {
        return ERR_CREATE;
    }
    if (samePath(from, Settings_GetVendorText("InboxwardenDefProfile")))
        Settings_SetVendorText("InboxwardenDefProfile", to);
    return 0;
}

uint32_t Profiles_Delete(const std::string& folder, const std::string& name,
                         const ProfilesConfirmFn& confirm, std::string* errorText) {
    const std::string path = Profiles_Path(folder, name);
    if (samePath(path, Settings_ActivePath())) {
        if (errorText) *errorText = IW_N_("Inboxwarden", "Cannot delete active profile.");
        return ERR_BADARG;
    }
    if (!confirm || !confirm("This operation cannot be undone.\n\nAre you sure you want to "
                             "delete profile \"" +
                             name + "\"?"))
        return ERR_CANCELLED;
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return ERR_CREATE;
    return 0;
}

uint32_t Profiles_SetDefault(const std::string& path, bool explicitProfileRun) {
    if (explicitProfileRun) return ERR_NOT_READY;
    return Settings_SetVendorText("InboxwardenDefProfile", path) ? ERR_OPERATION : 0;
}

uint32_t Profiles_SetRecovery(int mode) {
    HREGKEY vendor;
    if (RegStore_CreateKey(HREGKEY_USER, REG_VENDOR_PATH, &vendor)) return ERR_OPERATION;
    const uint32_t v = static_cast<uint32_t>(mode);
    return RegStore_SetValue(vendor, "Recovery", REGTYPE_DWORD,
                             std::string_view(reinterpret_cast<const char*>(&v), 4))
               ? ERR_OPERATION
               : 0;
}

uint32_t Profiles_Activate(const std::string& path, NOTICES* notices) {
    const std::string previous = Settings_ActivePath();
    if (Settings_IsInitialized()) Settings_Shutdown(false, notices);
    uint32_t rc = Settings_Initialize(path, 2, notices);
    if (rc == 0) {
        Settings_LoadMessages(true, notices);
        return 0;
    }
    DebugLog_Write("Profiles_Activate: %s failed (0x%x); back to %s\n", path.c_str(), rc,
                   previous.c_str());
    if (!previous.empty() && Settings_Initialize(previous, 2, notices) == 0)
        Settings_LoadMessages(true, notices);
    return rc;
}
