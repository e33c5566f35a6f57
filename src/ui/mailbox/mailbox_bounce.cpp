// SPDX-License-Identifier: GPL-3.0-or-later
// "Return an ERROR": the selected message back to its sender as a "User
// unknown" report, and marked for deletion once the report went out.
#include "common/translate.h"
#include "ui/mailbox/mailbox_internal.h"
#include "ui/mailbox/mailbox_model.h"

#include "common/status.h"
#include "platform/log.h"

using namespace mailbox;

namespace {

std::string reason(uint32_t rc, const std::string& why) {
    switch (rc) {
    case ERR_NOT_READY:
        return IW_N_("Inboxwarden",
                     "The account needs an outgoing server and an e-mail address with \"@\" "
                     "(Settings, the account's Sending page).");
    case ERR_NOT_FOUND:
        return IW_N_("Inboxwarden",
                     "The message has no Return-Path, Reply-To or From field: there is nobody to "
                     "return it to.");
    case ERR_BADARG:
        return IW_N_("Inboxwarden", "The message is empty.");
    default:
        return why.empty() ? std::string(IW_N_("Inboxwarden", "The report could not be sent."))
                           : why;
    }
}

} // namespace

MAILBOX_NOTICE MailBoxModel::ReturnErrorQuestion() {
    return {
        "Confirmation",
        IW_N_("Inboxwarden", "Message will be returned with an error \"user unknown\". Continue?"),
        UM_YESNO | UM_ICONQUESTION};
}

MAILBOX_OUTCOME MailBoxModel::ReturnError(const MailBoxFetchRunner& fetch,
                                          const MailBoxBounceRunner& bounce) {
    std::optional<MAILBOX_MESSAGE> message;
    MAILBOX_OUTCOME out = Download(MBDL_HEADERS, std::nullopt, fetch, &message);
    // Without the headers there is no sender to return it to.
    if (!message) return out;

    // The download box ran an event loop: look the account up again.
    ACCOUNT* acc = Account_Get(message->account.c_str(), -1);
    if (!acc) {
        out.notice =
            MAILBOX_NOTICE{"Error", IW_N_("Inboxwarden", "Cannot retrieve account information."),
                           UM_OK | UM_ICONERROR};
        return out;
    }
    std::string why;
    const uint32_t rc = bounce(acc, message->text, &why);
    if (rc != 0) {
        DebugLog_Write("MailBox: the message was not returned (0x%X): %s\n", rc, why.c_str());
        out.notice = MAILBOX_NOTICE{"Error",
                                    "The message was not returned to its sender, and stays "
                                    "unmarked.\r\n\r\n" +
                                        reason(rc, why),
                                    UM_OK | UM_ICONERROR};
        return out;
    }

    // The message that went back, by its id: the selection may have moved
    // while the report was sent.
    QueueHold hold;
    acc = Account_Get(message->account.c_str(), -1);
    if (!acc || BoxBusy(hold, AccountIndex(acc))) {
        out.notice = MAILBOX_NOTICE{"Error",
                                    IW_N_("Inboxwarden",
                                          "The message was returned to its sender, but a check is "
                                          "running: mark it for deletion when it has finished."),
                                    UM_OK | UM_ICONWARNING};
        return out;
    }
    int index = -1;
    MSG_RECORD* r = MsgBox_FindMsg(acc->hMsgBox, message->record.MsgId(), &index);
    if (!r) return out; // gone from the box meanwhile: nothing left to mark
    if (r->Status != MSG_TO_DELETE) {
        MsgBox_SetStatus(acc->hMsgBox, nullptr, index, MSG_TO_DELETE, acc);
        if (SelectedAccount() == acc) {
            const int pos = list_.Position(message->record.MsgId());
            if (pos >= 0) list_.SetStatus(pos, MSG_TO_DELETE);
        }
    }
    afterRowChanges(acc, &out, false);
    return out;
}
