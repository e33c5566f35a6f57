// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/check_command.h"

#include "cli/session.h"
#include "cli/terminal.h"
#include "common/status.h"
#include "engine/engine_headless.h"
#include "engine/mailcheck.h"
#include "engine/mailsend.h"
#include "engine/schedule.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/msgbox.h"
#include "settings/settings.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <mutex>
#include <string>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::string resultName(uint32_t rc) {
    if (rc == CHECK_UNCHANGED) return "UNCHANGED";
    return Status_Name(rc);
}

} // namespace

int Cli_Check(const std::string& profile, const std::string& account, bool json,
              bool passwordStdin) {
    const char* what = account.c_str();
    // The running program owns the store: two engines must never check the
    // same boxes.
    const std::string hint = "use 'inboxwarden /check:" + std::string(what) + "' or quit it first";
    CliSession session(profile, hint.c_str());
    if (!session.ok()) return 1;
    NOTICES notices;
    Settings_LoadMessages(true, &notices);
    UserMsg_ShowNotices(notices);

    HEADLESS_UI ui([&](const ACCOUNT& acc, std::string* password) -> uint32_t {
        return Cli_AskPop3Password(acc.Name, passwordStdin, "check", password) ? 0 : ERR_NOT_READY;
    });
    HEADLESS_TIMERS timers;
    MailCheck_Init(&ui, &timers);

    int status = 0;
    if (strcasecmp(what, "All") == 0) {
        Schedule_Update(SU_QUEUE_ALL);
    } else if (strcasecmp(what, "AllInc") == 0) {
        Schedule_Update(SU_QUEUE_INCLUDED);
    } else {
        ACCOUNT* acc = Account_Get(what, -1);
        int index = -1;
        if (!acc || Account_IndexOf(acc, &index) != 0) {
            std::fprintf(stderr,
                         "inboxwarden-cli: there is no account '%s'; 'inboxwarden-cli accounts' "
                         "lists them\n",
                         Cli_Printable(account).c_str());
            status = 1;
        } else {
            Queue_PushAndCheck(index);
        }
    }
    MailCheck_Wait();

    nlohmann::json list = nlohmann::json::array();
    const auto results = ui.Results();
    for (const HEADLESS_RESULT& r : results) {
        ACCOUNT* acc = Account_Get(r.account.c_str(), -1);
        if (!acc) continue;
        MSGBOX_COUNTS c{};
        if (acc->hMsgBox) c = *MsgBox_GetCounts(acc->hMsgBox);
        if (acc->CheckResult == CR_TIMEOUT || acc->CheckResult == CR_FAILED) status = 1;
        if (json) {
            list.push_back({{"name", acc->Name},
                            {"result", resultName(r.result)},
                            {"CheckResult", acc->CheckResult},
                            {"StatusText", acc->StatusText},
                            {"counts",
                             {{"new", c.New},
                              {"notified", c.Notified},
                              {"unread", c.Unread},
                              {"old", c.Old},
                              {"quiet", c.Quiet},
                              {"size", c.Size}}}});
        } else {
            std::printf("%s\t%s\tCheckResult %d\t%s\tnew %d, notified %d, unread %d, old %d, "
                        "quiet %d, size %lld\n",
                        Cli_Printable(acc->Name).c_str(), resultName(r.result).c_str(),
                        acc->CheckResult, Cli_Printable(acc->StatusText).c_str(), c.New, c.Notified,
                        c.Unread, c.Old, c.Quiet, static_cast<long long>(c.Size));
        }
    }
    if (json)
        std::printf("%s\n", nlohmann::json{{"accounts", list}}
                                .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                                .c_str());
    if (results.empty() && status == 0) {
        std::fprintf(stderr, "inboxwarden-cli: no account was checked\n");
        status = 1;
    }

    MailCheck_Stop();
    MailSend_Shutdown();
    // The boxes changed: the profile gets them, as at the program's shutdown.
    session.changed();
    return status;
}
