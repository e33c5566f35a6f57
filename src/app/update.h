// SPDX-License-Identifier: GPL-3.0-or-later
// The program's two maintenance jobs on itself: the update from a newer
// installer at start-up, and its removal. A distribution build (the
// IW_DISTRO_BUILD definition) leaves both to the package manager.
#pragma once

#include "common/datetime.h"

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// True in a build whose updates and removal belong to the package manager.
bool Update_IsDistroBuild();

// The program's release date: the date of the sources it was built from.
DATETIME Update_ReleaseDate();

struct UPDATE_START_HOOKS {
    std::function<void()> closeProfile; // saves and closes the active profile
    // Starts the installer; 0 or errno.
    std::function<int(const std::vector<std::string>& argv)> launch;
    std::function<uint32_t()> reinitSettings; // after a failed launch; 0 or a status
    std::string stateDir;                     // where the started update is remembered
};

enum class UpdateStart { Continue, Exit, Failed };

// The start-up check: with RemoteInstallerEnable 1 and an installer that is
// newer than `program`, closes the profile and starts the installer
// ("/quite /start" and "/creategrp", "/addicon" as the settings ask); Exit
// means it started and the program must end at once with 0. Failed: the
// settings could not be made again after a failed start (the box is shown).
// An installer that was started once for this same program and date is not
// started again: it did not bring a newer program, and starting it at every
// start would restart the program forever.
UpdateStart Update_CheckOnStart(const DATETIME& program, const UPDATE_START_HOOKS& hooks);

// Removal, first half: says why this copy cannot remove itself (a
// distribution build, or not a per-user install of the installer; then
// nothing is touched) or asks the user. `fromSwitch` picks the "/uninstall"
// question over the settings button's. True when the removal is to go on.
bool Update_UninstallAsk(bool fromSwitch, const std::string& exePath);

struct UPDATE_REMOVE_HOOKS {
    std::function<void()> stop;     // timers, a running check, the active profile
    std::function<void()> pump;     // pending window messages, before the wait
    std::function<void()> shutdown; // the tray's shutdown path
    std::string exePath;            // the installed executable
    std::string copyFrom;           // what the temporary copy is made of ("" = exePath)
    int timeoutMs = 3000;           // how long the copy has to answer
    pid_t* copyPid = nullptr;       // receives the copy's pid (tests)
};

// Removal, second half, in this order: stop; the autostart entry; the
// default profile value of the vendor key (and the key when that leaves it
// empty); the installed side files; the menu entry and the desktop icon; the
// hand-over to the temporary copy, which removes the executable, the plug-in
// and the folders once the program has ended; shutdown. When the copy does
// not answer in time the user is told to delete the rest by hand.
void Update_UninstallRun(const UPDATE_REMOVE_HOOKS& hooks);
