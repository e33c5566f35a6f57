// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/check_command.h"

#include "cli/bus_client.h"
#include "cli/output.h"
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

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <mutex>
#include <string>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

int Cli_Check(const std::string& profile, const std::string& account, bool json,
              bool passwordStdin) {
    // The running program owns the store: two engines must never check the
    // same boxes, so its own engine does it.
    if (CliBus_ProgramRuns()) return CliBus_Check(profile, account, json);
    const char* what = account.c_str();
    const std::string hint = "use 'inboxwarden /check:" + std::string(what) + "' or quit it first";
    CliSession session(profile, hint.c_str());
    if (!session.ok()) return 1;
    HEADLESS_UI ui([&](const ACCOUNT& acc, std::string* password) -> uint32_t {
        return Cli_AskPop3Password(acc.Name, passwordStdin, "check", password) ? 0 : ERR_NOT_READY;
    });
    HEADLESS_TIMERS timers;
    MailCheck_Init(&ui, &timers);
    MailCheck_FilterJustLoaded(); // by the session

    // The server is slow to greet and let us in: the boxes load meanwhile.
    Settings_ExpectMessages();
    int status = 0;
    if (strcasecmp(what, "All") == 0) {
        Schedule_Update(SU_QUEUE_ALL);
    } else if (strcasecmp(what, "AllInc") == 0) {
        Schedule_Update(SU_QUEUE_INCLUDED);
    } else {
        ACCOUNT* acc = Cli_FindAccount(account);
        int index = -1;
        if (acc && Account_IndexOf(acc, &index) == 0)
            Queue_PushAndCheck(index);
        else
            status = 1;
    }
    NOTICES notices;
    Settings_LoadMessages(true, &notices, true);
    MailCheck_Wait();
    // Not over a password prompt of the check.
    UserMsg_ShowNotices(notices);

    std::vector<CLI_CHECKED> checked;
    const auto results = ui.Results();
    for (const HEADLESS_RESULT& r : results) {
        ACCOUNT* acc = Account_Get(r.account.c_str(), -1);
        if (!acc) continue;
        MSGBOX_COUNTS c{};
        if (acc->hMsgBox) c = *MsgBox_GetCounts(acc->hMsgBox);
        if (acc->CheckResult == CR_TIMEOUT || acc->CheckResult == CR_FAILED) status = 1;
        checked.push_back({acc->Name, Pop3Acc_ResultName(r.result), acc->CheckResult,
                           acc->StatusText, c.New, c.Notified, c.Unread, c.Old, c.Quiet, c.Size});
    }
    Cli_PrintChecked(checked, json);
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
