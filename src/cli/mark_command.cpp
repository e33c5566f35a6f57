// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/mark_command.h"

#include "cli/bus_client.h"
#include "cli/output.h"
#include "cli/session.h"
#include "cli/terminal.h"
#include "engine/mark.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/settings.h"

#include <cstdio>

int Cli_Mark(const std::string& profile, const std::string& account,
             const std::vector<std::string>& args, bool hex, const std::string& state) {
    int32_t status = 0;
    if (!Mark_ParseState(state, &status)) {
        std::fprintf(stderr, "inboxwarden-cli: mark takes read, unread or delete, not '%s'\n",
                     Cli_Printable(state).c_str());
        return 2;
    }
    std::vector<std::string> ids;
    if (!Cli_IdsFromArgs(args, hex, &ids)) return 2;
    if (CliBus_ProgramRuns()) return CliBus_Mark(profile, account, args, hex, state);
    CliSession session(profile);
    if (!session.ok()) return 1;
    ACCOUNT* acc = Cli_FindAccount(account);
    if (!acc) return 1;
    // Loaded as they are: only the named records change, and what is new
    // stays new for the next start to announce.
    NOTICES notices;
    Settings_LoadMessages(false, &notices);
    UserMsg_ShowNotices(notices);
    std::string failure;
    const std::vector<std::string> missing = Mark_Messages(acc, ids, status, &failure);
    session.changed();
    if (!failure.empty()) {
        std::fprintf(stderr, "inboxwarden-cli: %s\n", Cli_Printable(failure).c_str());
        return 1;
    }
    return Cli_PrintMarked(account, args, hex, missing);
}
