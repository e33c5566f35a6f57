// SPDX-License-Identifier: GPL-3.0-or-later
// The profiles dialog without its widgets: the list of one profiles folder,
// the selection, and the commands on it (create, copy, rename, delete, mark
// the default, the recovery choice, activate) over the settings layer's
// Profiles_*. The window shows what this model holds, passes the user's
// commands in, shows the notices each command hands back (with itself as
// the owner) and lists the items again after each call.
//
// Rules the model keeps:
//   - Every command works on the files as they are now: the folder is
//     listed again after each one, so a file that another program added or
//     removed meanwhile is never acted on from a stale list.
//   - A copy of the running profile is a copy of the running settings (the
//     tree with its message records), not of the file as it was last saved.
//   - The account table is replaced only inside Activate, after the
//     beforeSwitch hook has stopped everything that uses it; afterSwitch
//     runs after every attempt, failed ones included (the previous profile
//     is then started again: new account records all the same).
//
// UI thread only; the model never shows a box itself.
#pragma once

#include "common/notice.h"
#include "settings/profiles.h"

#include <functional>
#include <string>
#include <vector>

struct PROFILES_OUTCOME {
    NOTICES notices;  // to show, in order
    int editRow = -1; // the row whose name the window opens for editing
    bool close = false;
};

struct PROFILES_HOOKS {
    // The yes/no question of a delete; none: No.
    std::function<bool(const std::string& text)> confirm;
    // Right before the account table is replaced: stop the checks, the
    // timers and the queue, and wait for the worker.
    std::function<void()> beforeSwitch;
    // After an activation attempt: rebuild what shows accounts.
    std::function<void()> afterSwitch;
};

class ProfilesModel {
  public:
    // `explicitProfileRun`: the program was started with "/profile:", so
    // the default profile is not managed from here.
    ProfilesModel(PROFILES_HOOKS hooks, bool explicitProfileRun);

    // The folder of the running profile, else of the default one, else the
    // standard one.
    static std::string InitialFolder();

    const std::string& Folder() const { return folder_; }
    // Lists `folder` (the "..." button); the first item is selected.
    void SetFolder(const std::string& folder);

    const std::vector<PROFILE_ITEM>& Items() const { return items_; }
    int Count() const { return static_cast<int>(items_.size()); }
    int Selected() const { return selected_; }
    void Select(int row);
    std::string StatusText(int row) const;

    // Set as Default and No Default are offered only when running the
    // default profile.
    bool DefaultOffered() const { return !explicitRun_; }

    // Recovery after an unclean end: 0 never, 1 always, 2 ask. Kept here
    // and stored by Activate.
    int Recovery() const { return recovery_; }
    void SetRecovery(int mode);

    PROFILES_OUTCOME CreateNew();
    PROFILES_OUTCOME Copy();
    // The end of the editing of `row`'s name.
    PROFILES_OUTCOME Rename(int row, const std::string& newName);
    PROFILES_OUTCOME Delete();
    PROFILES_OUTCOME SetDefault();
    PROFILES_OUTCOME NoDefault();
    // Makes the selected profile the running one. Closes the dialog when it
    // was started (or was the running one already); a failure keeps it open
    // with its notices.
    PROFILES_OUTCOME Activate();

    // Whether another profile was activated since the model was made.
    bool Switched() const { return switched_; }

  private:
    void relist(const std::string& select);
    std::string selectedName() const;
    std::string path(const std::string& name) const;

    PROFILES_HOOKS hooks_;
    bool explicitRun_;
    std::string folder_;
    std::vector<PROFILE_ITEM> items_;
    int selected_ = -1;
    int recovery_ = 1;
    bool switched_ = false;
};
