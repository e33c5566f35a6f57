// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/mark.h"

#include "common/text.h"
#include "platform/registry.h"
#include "settings/account.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"

#include <set>

bool Mark_ParseState(std::string_view word, int32_t* status) {
    if (Text_EqualsNoCase(word, "read"))
        *status = MSG_OLD;
    else if (Text_EqualsNoCase(word, "unread"))
        *status = MSG_UNREAD;
    else if (Text_EqualsNoCase(word, "delete"))
        *status = MSG_TO_DELETE;
    else
        return false;
    return true;
}

std::vector<std::string> Mark_Messages(ACCOUNT* account, const std::vector<std::string>& ids,
                                       int32_t status, std::string* writeFailure) {
    // One walk of the box, however many ids: every record of an id (a box
    // keyed by Message-ID may hold two) is marked, as its rows would be.
    std::set<std::string, std::less<>> wanted(ids.begin(), ids.end());
    std::set<std::string, std::less<>> found;
    MSGBOX* box = account->hMsgBox;
    {
        RegStoreBatch batch;
        for (int i = 0; box && i < MsgBox_GetCount(box); ++i) {
            MSG_RECORD* r = MsgBox_GetMsg(box, i);
            const std::string_view id = r->MsgId();
            if (!wanted.count(id)) continue;
            found.emplace(id);
            if (r->Status == MSG_DELETED || r->Status == status) continue;
            MsgBox_SetStatus(box, nullptr, i, status, account);
        }
    }
    if (box) MsgBox_Recount(box, account);
    if (writeFailure) *writeFailure = Reg_TakeWriteFailure();
    std::vector<std::string> missing;
    for (const std::string& id : wanted)
        if (!found.count(id)) missing.push_back(id);
    return missing;
}
