// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of the profiles dialog, as operations on a profiles folder: list,
// create, copy, rename, delete, mark the default, choose the recovery mode,
// and activate (switch the running settings to another profile). The window
// itself belongs to the user interface.
#pragma once

#include "common/notice.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct PROFILE_ITEM {
    std::string name; // file name without the last ".iwpf"
    bool active = false;
    bool isDefault = false;
    bool isNew = false; // listed but no file yet
};

// The "*.iwpf" files of `folder`, sorted by name. Marks compare folder and
// name ignoring ASCII case with the active profile (Settings_ActivePath) and
// the default one ("InboxwardenDefProfile"). An empty folder without a
// default profile lists one new default item "Inboxwarden".
std::vector<PROFILE_ITEM> Profiles_List(const std::string& folder);

// "new", "active" or "default"; for the default item "new (default)" or
// "active (default)".
std::string Profiles_StatusText(const PROFILE_ITEM& item);

// folder + "/" + name + ".iwpf"
std::string Profiles_Path(const std::string& folder, const std::string& name);

// Creates "Inboxwarden", or "Inboxwarden<n>" with the first n in 1..199 not
// listed, as an empty file (an existing file is left alone); *name gets it.
// 0, ERR_EXISTS (all 199 taken), ERR_CREATE.
uint32_t Profiles_CreateNew(const std::string& folder, std::string* name);

// Copies profile `name` to name<n> (the first n in 1..199 not listed).
// 0, ERR_NOT_FOUND, ERR_EXISTS, ERR_CREATE.
uint32_t Profiles_Copy(const std::string& folder, const std::string& name, std::string* newName);

// Renames a profile. 1 when nothing is to be done (empty name, or equal to
// the old one ignoring case); ERR_EXISTS when a file of the new name exists
// (*errorText: "Profile "%s" already exist."); ERR_BADARG for the active
// profile (*errorText: "Cannot rename active profile.") or a name holding
// '/' or NUL, or "." / ".."; ERR_CREATE. A missing old file gives an empty
// new one. Renaming the default profile moves the default with it. The
// caller shows *errorText (when given and not empty) as a warning.
uint32_t Profiles_Rename(const std::string& folder, const std::string& oldName,
                         const std::string& newName, std::string* errorText = nullptr);

// Deletes a profile once `confirm` answers yes to the question it is given
// (no `confirm`: not deleted). The active one is refused (ERR_BADARG;
// *errorText: "Cannot delete active profile.", for the caller to show as a
// warning). 0, ERR_CANCELLED (answered No), ERR_CREATE.
using ProfilesConfirmFn = std::function<bool(const std::string& question)>;
uint32_t Profiles_Delete(const std::string& folder, const std::string& name,
                         const ProfilesConfirmFn& confirm, std::string* errorText = nullptr);

// Marks a profile as the default ("InboxwardenDefProfile"), or clears the
// default when `path` is empty. ERR_NOT_READY while running an explicit
// profile (the default is not managed then).
uint32_t Profiles_SetDefault(const std::string& path, bool explicitProfileRun);

// Stores the recovery mode (0 never, 1 always, 2 ask) as "Recovery".
uint32_t Profiles_SetRecovery(int mode);

// Switches the running settings to `path`: Settings_Shutdown (the tree is
// deleted after a successful export, so the new start asks nothing about
// it), Settings_Initialize(path, 2) and the message boxes. On failure the
// previous profile is started again the same way and the code returned.
// What the user is to be told is added to `notices`.
uint32_t Profiles_Activate(const std::string& path, NOTICES* notices = nullptr);
