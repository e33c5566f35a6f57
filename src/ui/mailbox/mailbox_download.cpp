// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox model's download of one message: a saved copy when there is
// one, otherwise the server's answer through the engine's fetch-one request.
#include "common/translate.h"
#include "ui/mailbox/mailbox_internal.h"
#include "ui/mailbox/mailbox_model.h"

#include "common/grow_buffer.h"
#include "common/status.h"
#include "engine/pop3acc.h"
#include "engine/savedmsg.h"
#include "message/savedfile.h"
#include "platform/log.h"

using namespace mailbox;

namespace {

constexpr const char* kFailed = IW_N_("Inboxwarden", "Failed to download message.");

MAILBOX_NOTICE failure(const std::string& why) {
    std::string text = kFailed;
    if (!why.empty()) text += "\r\n\r\n" + why;
    return {kProgram, std::move(text), UM_OK | UM_ICONERROR};
}

// What the user is told when no message came (nullopt: nothing, a cancel).
std::optional<MAILBOX_NOTICE> fetchFailure(uint32_t rc, const CheckRequest& req) {
    switch (rc) {
    case ERR_CANCELLED:
        return std::nullopt;
    case ERR_NOT_FOUND:
        return failure(IW_N_("Inboxwarden",
                             "The message is no longer on the server. Check the account to bring "
                             "the list up to date."));
    case ERR_REFUSED:
        return failure("The server refused to send it: " + req.failure);
    case ERR_EXISTS:
        return failure(
            IW_N_("Inboxwarden", "A check is running; open the message when it has finished."));
    case ERR_NOT_READY:
        return failure("");
    default:
        return failure(req.failure);
    }
}

} // namespace

std::optional<int32_t> MailBoxModel::LinesQuestion(unsigned flags) const {
    if (flags & (MBDL_HEADERS | MBDL_FIRST_LINES)) return std::nullopt;
    if (Param(GD_ASKNLINES).value_or(0) == 0) return std::nullopt;
    return static_cast<int32_t>(Param(GD_NLINESDWNLOAD).value_or(0));
}

MAILBOX_OUTCOME MailBoxModel::Download(unsigned flags, std::optional<MAILBOX_LINES> answer,
                                       const MailBoxFetchRunner& fetch,
                                       std::optional<MAILBOX_MESSAGE>* message) {
    MAILBOX_OUTCOME out;
    message->reset();
    const std::vector<int> rows = list_.Selected();
    if (rows.empty()) return out;

    // The record is copied out: the lock is not held across the download
    // box, whose event loop lets the worker (and this window) run.
    MAILBOX_MESSAGE m;
    ACCOUNT* acc = nullptr;
    {
        QueueHold hold;
        const auto t = target(&out);
        if (!t) return out;
        const MSG_RECORD* r = MailBoxList_FindRecord(t->box, list_.Row(rows.front()), nullptr);
        if (!r) {
            fillList(true);
            return out;
        }
        acc = t->account;
        m.account = acc->Name;
        m.record = *r;
    }

    const bool headers = flags & MBDL_HEADERS;
    MAILBOX_LINES how;
    how.whole = !(flags & (MBDL_HEADERS | MBDL_FIRST_LINES));
    how.lines = static_cast<int32_t>(Param(GD_NLINESDWNLOAD).value_or(0));
    if (answer) how = *answer;

    std::string path;
    if (SavedMsg_FindCopy(*acc, m.record, how.whole, &path) == 0) {
        const uint32_t rc = SavedFile_Load(path, &m.text);
        if (rc != 0)
            DebugLog_Write("MailBox: the saved copy \"%s\" cannot be read (0x%X)\n", path.c_str(),
                           rc);
        else
            m.savedCopy = true;
    }
    if (!m.savedCopy) {
        if (flags & MBDL_NO_DOWNLOAD) return out;
        GrowBuffer answerText;
        CheckRequest req;
        req.account = acc;
        req.targetId = m.record.MsgId();
        req.result = &answerText;
        req.flags = CHECK_FETCH_ONE;
        if (headers || !how.whole) {
            req.flags |= CHECK_FETCH_TOP;
            req.lines = headers ? 0 : std::max<int32_t>(0, how.lines);
        }
        const uint32_t rc = fetch(&req);
        const std::string_view got = answerText.Data() ? answerText.Data() : "";
        if (rc != 0 || !got.starts_with("+OK")) {
            out.notice = fetchFailure(rc == 0 ? ERR_OPERATION : rc, req);
            return out;
        }
        m.text = SavedFile_MessageText(got);
    }

    // The account may be gone, or its box busy, after the download box.
    if (!headers || m.savedCopy) {
        QueueHold hold;
        ACCOUNT* now = Account_Get(m.account.c_str(), -1);
        int index = -1;
        MSG_RECORD* r = now && !BoxBusy(hold, AccountIndex(now))
                            ? MsgBox_FindMsg(now->hMsgBox, m.record.MsgId(), &index)
                            : nullptr;
        if (r && r->Status != MSG_TO_DELETE && r->Status != MSG_OLD) {
            MsgBox_SetStatus(now->hMsgBox, nullptr, index, MSG_OLD, now);
            m.record.Status = MSG_OLD;
            if (SelectedAccount() == now) {
                const int pos = list_.Position(m.record.MsgId());
                if (pos >= 0) list_.SetStatus(pos, MSG_OLD);
            }
            afterRowChanges(now, &out, false);
        }
    }
    *message = std::move(m);
    return out;
}
