// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/session.h"
#include "cli/terminal.h"

#include "common/status.h"
#include "message/filter.h"
#include "platform/instance.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/miscutil.h"
#include "settings/msgbox_reg.h"

#include <cstdio>
#include <cstring>

namespace {

const ACCOUNT_FILTER_OPS kFilterOps{Filter_Open, Filter_Close, Filter_AssignVars,
                                    Filter_ChangePath};

bool g_saveFailed = false;

} // namespace

bool CliSession::SaveFailed() {
    return g_saveFailed;
}

CliSession::CliSession(const std::string& profile, const char* whileRunning) : rc_(ERR_NOT_READY) {
    // Without the lock a crashed run's leftover tree and the running
    // program's live one look the same.
    int err = 0;
    const int lock = Instance_Acquire(&err);
    if (lock == INSTANCE_HELD) {
        std::fprintf(stderr, "inboxwarden-cli: Inboxwarden is running on this store; %s\n",
                     whileRunning);
        return;
    }
    if (lock != INSTANCE_ACQUIRED) {
        std::fprintf(stderr, "inboxwarden-cli: cannot take the store's lock file (%s)\n",
                     std::strerror(err));
        return;
    }
    locked_ = true;
    Account_SetFilterOps(&kFilterOps);
    rc_ = Settings_Start(profile, 1, &start_);
    UserMsg_ShowNotices(start_.notices);
    if (!start_.storeNotice.empty())
        std::fprintf(stderr, "inboxwarden-cli: %s\n", start_.storeNotice.c_str());
    // The logon entry starts the program, not this tool: leave it to the program.
    GlobalData_SetManageLogon(false);
    if (rc_ == 0) {
        NOTICES notices;
        Settings_SetCleanShutdown(0, &notices);
        UserMsg_ShowNotices(notices);
    } else {
        Cli_Failed("cannot load the settings", rc_);
    }
}

ACCOUNT* Cli_FindAccount(const std::string& name) {
    ACCOUNT* a = Account_Get(name.c_str(), -1);
    if (!a)
        std::fprintf(stderr,
                     "inboxwarden-cli: there is no account '%s'; 'inboxwarden-cli accounts' "
                     "lists them\n",
                     Cli_Printable(name).c_str());
    return a;
}

CliSession::~CliSession() {
    NOTICES notices;
    Reg_TakeWriteFailureNotice(&notices);
    UserMsg_ShowNotices(notices); // before what the save has to say
    notices.clear();
    if (rc_ == 0) {
        bool saved = true;
        if (Settings_IsInitialized()) {
            // As the program's shutdown does: the option decides whether
            // the tree stays for the next start.
            if (const GLOBAL_DATA* gd = GlobalData_GetRecord())
                MiscUtil_SaveOptimizeFlag(gd->OptimizeStartup, nullptr);
            if (changed_) {
                const std::string active = Settings_ActivePath();
                saved = Settings_Shutdown(true, &notices) == 0;
                // The store keeps them; the next start recovers them.
                if (!saved) {
                    g_saveFailed = true;
                    std::fprintf(stderr, "inboxwarden-cli: %s\n",
                                 Settings_SaveFailureText(active).c_str());
                }
            } else if (start_.fast || !Settings_Changed()) {
                // Nothing changed: a tree kept from the program's last run
                // goes back as it came, one rebuilt from the profile is kept
                // for the next start or dropped, the profile is not written.
                Settings_Shutdown(true, &notices);
            } else {
                Settings_Abort(&notices);
            }
        }
        if (saved) Settings_SetCleanShutdown(1, &notices);
    }
    UserMsg_ShowNotices(notices);
    if (locked_) Instance_Release();
}
