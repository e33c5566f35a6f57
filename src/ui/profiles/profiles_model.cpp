// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/profiles/profiles_model.h"

#include "common/status.h"
#include "common/text.h"
#include "common/translate.h"
#include "platform/log.h"
#include "settings/profile.h"
#include "settings/reg.h"
#include "settings/settings.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr const char* kCaption = "Inboxwarden";

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void note(PROFILES_OUTCOME* out, std::string text, NOTICE_KIND kind = NOTICE_ERROR) {
    out->notices.push_back(NOTICE{kCaption, std::move(text), kind});
}

} // namespace

ProfilesModel::ProfilesModel(PROFILES_HOOKS hooks, bool explicitProfileRun)
    : hooks_(std::move(hooks)), explicitRun_(explicitProfileRun) {
    recovery_ = static_cast<int>(Settings_GetVendorByte("Recovery", 1));
    if (recovery_ > 2) recovery_ = 1;
    SetFolder(InitialFolder());
}

std::string ProfilesModel::InitialFolder() {
    if (const std::string& active = Settings_ActivePath(); !active.empty()) return folderOf(active);
    const std::string def = Settings_GetVendorText("InboxwardenDefProfile");
    return folderOf(def.empty() ? Settings_DefaultProfilePath() : def);
}

void ProfilesModel::SetFolder(const std::string& folder) {
    folder_ = folder;
    while (folder_.size() > 1 && folder_.back() == '/')
        folder_.pop_back();
    relist("");
}

void ProfilesModel::relist(const std::string& select) {
    items_ = Profiles_List(folder_);
    selected_ = items_.empty() ? -1 : 0;
    for (int i = 0; i < Count(); ++i)
        if (Text_EqualsNoCase(items_[i].name, select)) selected_ = i;
}

void ProfilesModel::Select(int row) {
    if (row >= 0 && row < Count()) selected_ = row;
}

std::string ProfilesModel::StatusText(int row) const {
    return row >= 0 && row < Count() ? Profiles_StatusText(items_[row]) : std::string();
}

std::string ProfilesModel::selectedName() const {
    return selected_ >= 0 && selected_ < Count() ? items_[selected_].name : std::string();
}

std::string ProfilesModel::path(const std::string& name) const {
    return Profiles_Path(folder_, name);
}

void ProfilesModel::SetRecovery(int mode) {
    if (mode >= 0 && mode <= 2) recovery_ = mode;
}

PROFILES_OUTCOME ProfilesModel::CreateNew() {
    PROFILES_OUTCOME out;
    // The standard folder does not exist before the first profile is saved.
    mkdir(folder_.c_str(), 0700);
    std::string name;
    const uint32_t rc = Profiles_CreateNew(folder_, &name);
    if (rc == ERR_EXISTS)
        note(&out, IW_N_("Inboxwarden",
                         "Every name from Inboxwarden to Inboxwarden199 is taken in this folder."));
    else if (rc != 0)
        note(&out, "Can't create a profile in \"" + folder_ + "\" (" + std::strerror(errno) + ").");
    relist(name);
    if (rc == 0) out.editRow = selected_;
    return out;
}

PROFILES_OUTCOME ProfilesModel::Copy() {
    PROFILES_OUTCOME out;
    const std::string name = selectedName();
    if (name.empty()) return out;
    std::string copy;
    const uint32_t rc = Profiles_Copy(folder_, name, &copy);
    if (rc == ERR_NOT_FOUND) {
        note(&out, "Profile \"" + name + "\" has no file yet: there is nothing to copy.",
             NOTICE_WARNING);
    } else if (rc == ERR_EXISTS) {
        note(&out, "Every name from " + name + "1 to " + name + "199 is taken in this folder.");
    } else if (rc != 0) {
        note(&out, "Can't copy profile \"" + name + "\" (" + std::strerror(errno) + ").");
    } else if (Text_EqualsNoCase(path(name), Settings_ActivePath())) {
        // The running profile's file holds what was saved last; what runs
        // (accounts changed since, every record of the checks) is the tree.
        const bool ready = Settings_ImportMessages(&out.notices) == 0;
        const uint32_t erc =
            ready ? Reg_ExportKey(PROFILE_ROOT_NAME, REG_ROOT_PATH, true, PROFILE_MAGIC, path(copy))
                  : ERR_NOT_READY;
        if (erc != 0) {
            DebugLog_Write("ProfilesModel: running settings not copied into %s (%u)\n",
                           path(copy).c_str(), erc);
            note(&out,
                 "The running settings could not be copied; \"" + copy +
                     "\" holds them as they were last saved.",
                 NOTICE_WARNING);
        }
    }
    relist(rc == 0 ? copy : name);
    if (rc == 0) out.editRow = selected_;
    return out;
}

PROFILES_OUTCOME ProfilesModel::Rename(int row, const std::string& newName) {
    PROFILES_OUTCOME out;
    if (row < 0 || row >= Count()) return out;
    const std::string oldName = items_[row].name;
    const std::string name(Text_TrimBlanks(newName));
    std::string why;
    const uint32_t rc = Profiles_Rename(folder_, oldName, name, &why);
    if (rc == 0) {
        relist(name);
        return out;
    }
    if (rc != 1) {
        if (why.empty() && rc == ERR_BADARG) why = IW_N_("Inboxwarden", "Invalid profile name.");
        if (why.empty())
            why = "Can't rename profile \"" + oldName + "\" (" + std::strerror(errno) + ").";
        note(&out, why, NOTICE_WARNING);
    }
    relist(oldName);
    return out;
}

PROFILES_OUTCOME ProfilesModel::Delete() {
    PROFILES_OUTCOME out;
    const std::string name = selectedName();
    if (name.empty()) return out;
    const int row = selected_;
    std::string why;
    const uint32_t rc = Profiles_Delete(folder_, name, hooks_.confirm, &why);
    if (rc == ERR_BADARG)
        note(&out, why, NOTICE_WARNING);
    else if (rc != 0 && rc != ERR_CANCELLED)
        note(&out, "Can't delete profile \"" + name + "\" (" + std::strerror(errno) + ").");
    relist(rc == 0 ? "" : name);
    // The selection stays at the same place, or moves to the last item.
    if (rc == 0 && Count() > 0) selected_ = row < Count() ? row : Count() - 1;
    return out;
}

PROFILES_OUTCOME ProfilesModel::SetDefault() {
    PROFILES_OUTCOME out;
    const std::string name = selectedName();
    if (name.empty() || explicitRun_) return out;
    if (Profiles_SetDefault(path(name), false) != 0)
        note(&out, IW_N_("Inboxwarden", "Can't store the default profile."));
    relist(name);
    return out;
}

PROFILES_OUTCOME ProfilesModel::NoDefault() {
    PROFILES_OUTCOME out;
    if (explicitRun_) return out;
    const std::string name = selectedName();
    if (Profiles_SetDefault("", false) != 0)
        note(&out, IW_N_("Inboxwarden", "Can't clear the default profile."));
    relist(name);
    return out;
}

PROFILES_OUTCOME ProfilesModel::Activate() {
    PROFILES_OUTCOME out;
    const std::string name = selectedName();
    if (name.empty()) return out;
    if (Profiles_SetRecovery(recovery_) != 0)
        note(&out, IW_N_("Inboxwarden", "Can't store the recovery choice."), NOTICE_WARNING);
    if (!explicitRun_)
        for (const PROFILE_ITEM& it : items_)
            if (it.isDefault) Profiles_SetDefault(path(it.name), false);
    const std::string target = path(name);
    if (Settings_IsInitialized() && Text_EqualsNoCase(target, Settings_ActivePath())) {
        out.close = true; // already running: nothing to switch
        return out;
    }
    mkdir(folder_.c_str(), 0700);
    if (hooks_.beforeSwitch) hooks_.beforeSwitch();
    const uint32_t rc = Profiles_Activate(target, &out.notices);
    if (hooks_.afterSwitch) hooks_.afterSwitch();
    if (rc == 0) {
        switched_ = true;
        out.close = true;
    } else if (out.notices.empty()) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%X", rc);
        note(&out, "Profile \"" + name + "\" could not be started (" + code +
                       "); the previous profile runs again.");
    }
    relist(name);
    return out;
}
