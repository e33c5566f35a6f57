// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/delete_command.h"

#include "cli/bus_client.h"
#include "cli/output.h"
#include "cli/session.h"
#include "cli/terminal.h"
#include "common/status.h"
#include "common/text.h"
#include "engine/fastdelete.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

int Cli_Delete(const std::string& profile, const std::string& account,
               const std::vector<std::string>& named, bool hex, bool passwordStdin) {
    std::vector<std::string> ids;
    if (!Cli_IdsFromArgs(named, hex, &ids)) return 2;
    // The running program deletes on its own (it asks a password it lacks).
    if (CliBus_ProgramRuns()) return CliBus_Delete(profile, account, named, hex);
    CliSession session(profile);
    if (!session.ok()) return 1;
    NOTICES notices;
    Settings_LoadMessages(true, &notices);
    UserMsg_ShowNotices(notices);

    int status = 1;
    ACCOUNT* acc = Cli_FindAccount(account);
    if (acc) {
        POP3ACC_HOOKS hooks;
        hooks.askPassword = [&](const ACCOUNT& a, std::string* password) -> uint32_t {
            return Cli_AskPop3Password(a.Name, passwordStdin, "delete", password) ? 0
                                                                                  : ERR_NOT_READY;
        };
        Pop3Acc_SetHooks(hooks);
        FASTDELETE_OPTIONS options;
        options.showBoxes = false;
        FASTPOP3_RESULT result;
        const uint32_t rc = FastDelete_Run(acc, ids, nullptr, options, &result);
        Pop3Acc_SetHooks({});
        FASTPOP3_SESSION where;
        where.authType = acc->ChkAuthType;
        std::vector<std::string> notes;
        for (const FASTPOP3_BOX& box : FastPOP3_Boxes(where, result))
            notes.push_back(box.text);
        status = Cli_PrintDeleted(named, hex, result.deleted, notes);
        if (rc == ERR_EXISTS)
            std::fprintf(stderr, "inboxwarden-cli: %s is being checked; try again\n",
                         Cli_Printable(account).c_str());
        else if (rc == ERR_NOT_READY)
            std::fprintf(stderr, "inboxwarden-cli: no password for %s\n",
                         Cli_Printable(account).c_str());
        else if (rc != 0 && result.errorText.empty())
            Cli_Failed("cannot delete on the server of " + Cli_Printable(account), rc);
        if (rc != 0) status = 1;
    }

    // LastSTAT and the boxes changed: the profile gets them, as at the
    // program's shutdown.
    session.changed();
    return status;
}
