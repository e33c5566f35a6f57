// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/delete_command.h"

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
    const char* name = account.c_str();
    // Id bytes -> the argument that named them, for the printed confirmations.
    std::map<std::string, std::string> given;
    std::vector<std::string> ids;
    for (const std::string& id : named) {
        std::string bytes = id;
        if (hex && !Text_FromHex(id, &bytes)) {
            std::fprintf(stderr,
                         "inboxwarden-cli: '%s' is not an id in hex (pairs of hex digits, as "
                         "MsgIdHex of 'box --json')\n",
                         Cli_Printable(id).c_str());
            return 2;
        }
        given[bytes] = id;
        ids.push_back(std::move(bytes));
    }
    CliSession session(profile);
    if (!session.ok()) return 1;
    NOTICES notices;
    Settings_LoadMessages(true, &notices);
    UserMsg_ShowNotices(notices);

    int status = 1;
    ACCOUNT* acc = Account_Get(name, -1);
    if (!acc) {
        std::fprintf(stderr,
                     "inboxwarden-cli: there is no account '%s'; 'inboxwarden-cli accounts' lists "
                     "them\n",
                     Cli_Printable(account).c_str());
    } else {
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
        for (const std::string& id : result.deleted)
            std::printf("%s\n", given.count(id) ? given[id].c_str() : id.c_str());
        FASTPOP3_SESSION where;
        where.authType = acc->ChkAuthType;
        for (const FASTPOP3_BOX& box : FastPOP3_Boxes(where, result)) {
            std::string text = box.text;
            for (size_t p; (p = text.find('\r')) != std::string::npos;)
                text.erase(p, 1);
            while (!text.empty() && text.back() == '\n')
                text.pop_back();
            for (char& c : text)
                if (c == '\n') c = ' ';
            std::fprintf(stderr, "inboxwarden-cli: %s\n", Cli_Printable(text).c_str());
        }
        if (rc == ERR_EXISTS)
            std::fprintf(stderr, "inboxwarden-cli: %s is being checked; try again\n",
                         Cli_Printable(account).c_str());
        else if (rc == ERR_NOT_READY)
            std::fprintf(stderr, "inboxwarden-cli: no password for %s\n",
                         Cli_Printable(account).c_str());
        else if (rc != 0 && result.errorText.empty())
            Cli_Failed("cannot delete on the server of " + Cli_Printable(account), rc);
        // An id named twice on the command line counts once.
        std::vector<std::string> wanted = ids;
        std::sort(wanted.begin(), wanted.end());
        wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
        if (rc == 0 && result.deleted.size() == wanted.size()) status = 0;
    }

    // LastSTAT and the boxes changed: the profile gets them, as at the
    // program's shutdown.
    session.changed();
    return status;
}
