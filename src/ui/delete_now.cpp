// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/delete_now.h"

#include "engine/fastdelete.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "ui/progress.h"
#include "ui/windows.h"

uint32_t DeleteNow_Run(QWidget* owner, ACCOUNT* account, const std::vector<std::string>& ids,
                       FASTPOP3_RESULT* result) {
    UiBoxOwner boxes(owner); // the password prompt, if one is needed
    FASTDELETE_OPTIONS options;
    options.showBoxes = false; // shown below, in front of the owner
    options.wait = [owner, name = account->Name](FASTDELETE_JOB& job) {
        DeleteProgress_Run(
            owner, name, [&job] { return job.IsDone(); }, [&job] { return job.Status(); },
            [&job] { job.Cancel(); });
    };
    FASTPOP3_SESSION said; // what the boxes' texts need of the session
    said.authType = account->ChkAuthType;
    const uint32_t rc = FastDelete_Run(account, ids, nullptr, options, result);
    for (const FASTPOP3_BOX& box : FastPOP3_Boxes(said, *result))
        UserMsg_Show(box.title, box.text, UM_OK | UM_ICONWARNING);
    return rc;
}
