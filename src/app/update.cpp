// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/update.h"

#include "build_date.h"
#include "common/status.h"
#include "common/translate.h"
#include "platform/autostart.h"
#include "platform/installer_date.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/selfremove.h"
#include "platform/user_message.h"
#include "settings/globaldata.h"
#include "settings/reg.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Every line goes to the category log, as the start-up's do, and to the
// debug log, where a user who asks why the program restarted will look.
__attribute__((format(printf, 1, 2))) void _log(const char* fmt, ...) {
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    Log_Write(LOG_APP, "%s", line);
    DebugLog_WriteText(line);
}

const char kRemoveCaption[] = "Inboxwarden Uninstallation";

std::string _dateKey(const DATETIME& installer, const DATETIME& program) {
    char b[64];
    std::snprintf(b, sizeof b, "%u %u %u for %u %u %u\n", installer.wYear, installer.wMonth,
                  installer.wDay, program.wYear, program.wMonth, program.wDay);
    return b;
}

std::string _readSmall(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f) return "";
    char b[128];
    const size_t n = std::fread(b, 1, sizeof b, f);
    std::fclose(f);
    return std::string(b, n);
}

bool _isDesktopEntry(const std::string& path) {
    return path.size() > 8 && path.compare(path.size() - 8, 8, ".desktop") == 0;
}

// "InboxwardenDefProfile", and the vendor key once nothing else is in it.
// A store that does not exist is not made for this.
void _removeVendorValues() {
    if (::access(RegStore_Path().c_str(), F_OK) != 0) return;
    HREGKEY vendor = HREGKEY_NONE;
    if (RegStore_OpenKey(HREGKEY_USER, REG_VENDOR_PATH, &vendor) != REGSTORE_OK) return;
    RegStore_DeleteValue(vendor, "InboxwardenDefProfile");
    uint32_t subkeys = 0, values = 0;
    if (RegStore_QueryInfoKey(vendor, &subkeys, nullptr, &values, nullptr, nullptr) ==
            REGSTORE_OK &&
        subkeys == 0 && values == 0)
        RegStore_DeleteTree(HREGKEY_USER, REG_VENDOR_PATH);
}

} // namespace

bool Update_IsDistroBuild() {
#ifdef IW_DISTRO_BUILD
    return true;
#else
    return false;
#endif
}

DATETIME Update_ReleaseDate() {
    DATETIME d{};
    d.wYear = IW_BUILD_YEAR;
    d.wMonth = IW_BUILD_MONTH;
    d.wDay = IW_BUILD_DAY;
    return d;
}

UpdateStart Update_CheckOnStart(const DATETIME& program, const UPDATE_START_HOOKS& hooks) {
    if (Update_IsDistroBuild()) {
        _log("\t* info: auto update is disabled (the package manager updates this "
             "build).\n");
        return UpdateStart::Continue;
    }
    if (GlobalData_GetNumber(GD_REMOTEINSTALLERENABLE) != 1) {
        _log("\t* info: auto update is disabled.\n");
        return UpdateStart::Continue;
    }
    const std::string path = GlobalData_GetText(GD_REMOTEINSTALLER);
    DATETIME date{};
    if (const uint32_t rc = InstallerDate_Read(path, &date); rc != 0) {
        DebugLog_Write("\t* installer \"%s\" has no release date (%s); not used.\n", path.c_str(),
                       Status_Name(rc));
        return UpdateStart::Continue;
    }
    if (!InstallerDate_IsNewer(date, program)) return UpdateStart::Continue;
    const std::string marker = hooks.stateDir + "/update-started";
    const std::string key = _dateKey(date, program);
    if (!hooks.stateDir.empty() && _readSmall(marker) == key) {
        _log("\t* info: the installer of %u.%u.%u was started before and this program is "
             "still the old one; it is not started again.\n",
             date.wYear, date.wMonth, date.wDay);
        return UpdateStart::Continue;
    }

    const bool group = GlobalData_GetNumber(GD_REMOTEINSTALLERGROUP) != 0;
    const bool icon = GlobalData_GetNumber(GD_REMOTEINSTALLERICON) != 0;
    std::string line = "\"" + path + "\" /quite /start " + (group ? "/creategrp" : "") + " " +
                       (icon ? "/addicon" : "");
    // A shell script: run through the shell, so that a file copied without
    // its executable bit, or onto a share mounted noexec, still runs.
    std::vector<std::string> argv{"/bin/sh", path, "/quite", "/start"};
    if (group) argv.emplace_back("/creategrp");
    if (icon) argv.emplace_back("/addicon");

    _log("* newer version of inboxwarden is found.\n");
    _log("\t* closing profile....\n");
    if (hooks.closeProfile) hooks.closeProfile();
    _log("\t* executing:\n\t\"%s\".\n", line.c_str());
    const int err = hooks.launch ? hooks.launch(argv) : ENOSYS;
    if (err == 0) {
        if (!hooks.stateDir.empty() && Paths_EnsureDir(hooks.stateDir) == 0) {
            if (FILE* f = std::fopen(marker.c_str(), "we")) {
                std::fputs(key.c_str(), f);
                std::fclose(f);
            }
        }
        _log("* inboxwarden installer is started. Exiting...\n");
        return UpdateStart::Exit;
    }
    _log("* inboxwarden installer %s failed to start (%d). continue.\n", path.c_str(), err);
    const uint32_t rc = hooks.reinitSettings ? hooks.reinitSettings() : ERR_FAILED;
    if (rc == 0) {
        _log("* settings reinitialized. ok.\n");
        return UpdateStart::Continue;
    }
    if (rc != ERR_CANCELLED) {
        char text[64];
        std::snprintf(text, sizeof text,
                      Iw_Translate("App", "Failed to initialize settings (0x%x)."), rc);
        UserMsg_Show("Inboxwarden", text, UM_OK | UM_ICONERROR);
    }
    return UpdateStart::Failed;
}

bool Update_UninstallAsk(bool fromSwitch, const std::string& exePath) {
    if (Update_IsDistroBuild()) {
        UserMsg_Show(
            kRemoveCaption,
            IW_N_("Inboxwarden",
                  "This copy of Inboxwarden was installed by the package manager, which "
                  "also updates and removes it. Remove the package \"inboxwarden\" with it."),
            UM_OK | UM_ICONINFO);
        return false;
    }
    INSTALL_MANIFEST m;
    std::string why;
    if (SelfRemove_ReadManifest(exePath, &m, &why) != 0) {
        DebugLog_Write("Removal: %s\n", why.c_str());
        UserMsg_Show(kRemoveCaption,
                     "Inboxwarden can remove only a copy installed for you by its installer (" +
                         why +
                         ").\r\n\r\nRemove this copy with the package manager or the tool that "
                         "installed it.",
                     UM_OK | UM_ICONINFO);
        return false;
    }
    const char* question =
        fromSwitch ? IW_N_("Inboxwarden", "Are you sure you want to completely remove Inboxwarden "
                                          "and all of its components?")
                   : IW_N_("Inboxwarden", "Are you sure you want to uninstall Inboxwarden?");
    return UserMsg_Show(kRemoveCaption, question, UM_YESNO | UM_ICONQUESTION) == UM_IDYES;
}

void Update_UninstallRun(const UPDATE_REMOVE_HOOKS& hooks) {
    DebugLog_Write("Removal of %s\n", hooks.exePath.c_str());
    if (hooks.stop) hooks.stop();
    Autostart_Set(false, hooks.exePath);
    _removeVendorValues();

    INSTALL_MANIFEST m;
    uint32_t rc = SelfRemove_ReadManifest(hooks.exePath, &m);
    const std::string plugin = Paths_DirName(m.path) + "/libiwfilter.so";
    if (rc == 0) {
        char exeReal[4096];
        const std::string exe = ::realpath(hooks.exePath.c_str(), exeReal) ? exeReal : "";
        auto kept = [&](const std::string& f) {
            char r[4096];
            const std::string real = ::realpath(f.c_str(), r) ? r : "";
            return (!real.empty() && real == exe) || f == plugin || f == m.path;
        };
        for (const std::string& f : m.files) // the side files
            if (!kept(f) && !_isDesktopEntry(f)) SelfRemove_DeleteListed(m, f);
        for (const std::string& f : m.files) // the menu entry and the desktop icon
            if (!kept(f) && _isDesktopEntry(f)) SelfRemove_DeleteListed(m, f);
        if (hooks.pump) hooks.pump();
        rc = SelfRemove_HandOver(hooks.copyFrom.empty() ? hooks.exePath : hooks.copyFrom,
                                 hooks.exePath, plugin, hooks.timeoutMs, hooks.copyPid);
    }
    if (rc != 0)
        UserMsg_Show(
            "Inboxwarden",
            IW_N_("Inboxwarden", "Can't delete some files. You need delete them manually."),
            UM_OK | UM_ICONWARNING);
    if (hooks.shutdown) hooks.shutdown();
}
