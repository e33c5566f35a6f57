// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox model's commands and the events it takes in; its state, tree
// and list are in mailbox_model.cpp.
#include "common/translate.h"
#include "ui/mailbox/mailbox_internal.h"
#include "ui/mailbox/mailbox_model.h"

#include "common/status.h"
#include "engine/pop3acc.h"
#include "engine/schedule.h"
#include "net/fastpop3.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"

#include <cstring>
#include <unordered_set>

using namespace mailbox;

namespace {

// Marks the model as inside one of the engine's blocking calls.
class WorkerWaits {
  public:
    explicit WorkerWaits(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
    ~WorkerWaits() { flag_ = was_; }
    WorkerWaits(const WorkerWaits&) = delete;
    WorkerWaits& operator=(const WorkerWaits&) = delete;

  private:
    bool& flag_;
    bool was_;
};

// Forgets every record of a box (and its stored value) without a word to
// the server; the next check sees the server's messages as new.
void clearLog(ACCOUNT* account) {
    MsgBox_SetAllStatus(account->hMsgBox, MSG_TO_DELETE, 0, account);
    MsgBox_EndCheck(account->hMsgBox, 0, account);
    // The next check must not take the server for unchanged.
    std::memcpy(account->LastSTAT, " ", 2);
}

} // namespace

std::optional<MailBoxModel::Target> MailBoxModel::target(MAILBOX_OUTCOME* refusal) const {
    ACCOUNT* acc = SelectedAccount();
    if (!acc) return std::nullopt;
    QueueHold hold; // the caller holds it too, for the whole command
    if (BoxBusy(hold, AccountIndex(acc))) {
        refusal->notice = BusyNotice();
        return std::nullopt;
    }
    return Target{acc, acc->hMsgBox};
}

int MailBoxModel::pendingDeletes(MSGBOX* box) const {
    int n = 0;
    for (int i = 0; i < MsgBox_GetCount(box); ++i)
        if (MsgBox_GetMsg(box, i)->Status == MSG_TO_DELETE) ++n;
    return n;
}

void MailBoxModel::afterRowChanges(ACCOUNT* account, MAILBOX_OUTCOME* out, bool stale) {
    MsgBox_Recount(account->hMsgBox, account);
    refreshNode(account);
    refreshTexts();
    // A row whose message is gone leaves; the others keep their place.
    if (stale) fillList(true);
    changes_ |= MBCH_ROW_DATA;
    out->trayRefresh = !MailCheck_IsRunning();
    // However many records failed to reach the store: one box.
    if (std::string failed = Reg_TakeWriteFailure(); !failed.empty() && !out->notice)
        out->notice =
            MAILBOX_NOTICE{"Reg_UpdateMsgStatus", std::move(failed), UM_OK | UM_ICONERROR};
}

// ---- Marking ----------------------------------------------------------------

bool MailBoxModel::restatusRows(const Target& t, const std::vector<int>& rows,
                                const std::function<int32_t(int32_t)>& next) {
    bool stale = false;
    BulkWrite write;
    for (int pos : rows) {
        int index = -1;
        MSG_RECORD* r = MailBoxList_FindRecord(t.box, list_.Row(pos), &index);
        if (!r) {
            stale = true;
            continue;
        }
        const int32_t status = next(r->Status);
        if (status < 0) continue;
        MsgBox_SetStatus(t.box, nullptr, index, status, t.account);
        list_.SetStatus(pos, status);
    }
    return stale;
}

MAILBOX_OUTCOME MailBoxModel::MarkForDeletion(bool fromDeleteKey) {
    MAILBOX_OUTCOME out;
    QueueHold hold;
    const auto t = target(&out);
    const std::vector<int> rows = list_.Selected();
    if (!t || rows.empty()) return out;
    const bool stale = restatusRows(*t, rows, [](int32_t s) -> int32_t {
        if (s == MSG_DELETED) return -1;
        return s == MSG_TO_DELETE ? MSG_OLD : MSG_TO_DELETE;
    });
    // The Delete key walks down the list one message at a time.
    if (fromDeleteKey && rows.size() == 1 && rows.front() + 1 < list_.Count()) {
        list_.SelectOnly(rows.front() + 1);
        changes_ |= MBCH_SELECTION | MBCH_SCROLL;
    }
    afterRowChanges(t->account, &out, stale);
    return out;
}

MAILBOX_OUTCOME MailBoxModel::MarkRows(int32_t status) {
    MAILBOX_OUTCOME out;
    QueueHold hold;
    const auto t = target(&out);
    const std::vector<int> rows = list_.Selected();
    if (!t || rows.empty() || (status != MSG_OLD && status != MSG_UNREAD)) return out;
    const bool stale = restatusRows(
        *t, rows, [status](int32_t s) -> int32_t { return s == status ? -1 : status; });
    afterRowChanges(t->account, &out, stale);
    return out;
}

MAILBOX_OUTCOME MailBoxModel::MarkBox(int32_t status) {
    MAILBOX_OUTCOME out;
    QueueHold hold;
    const auto t = target(&out);
    if (!t || (status != MSG_OLD && status != MSG_UNREAD)) return out;
    MsgBox_SetAllStatus(t->box, status, 1, t->account);
    refreshNode(t->account);
    fillList(true);
    out.trayRefresh = !MailCheck_IsRunning();
    return out;
}

MAILBOX_OUTCOME MailBoxModel::MarkAll(int32_t status) {
    MAILBOX_OUTCOME out;
    if (status != MSG_OLD && status != MSG_UNREAD) return out;
    QueueHold hold;
    for (int i = 0; i < Account_GetCount(); ++i) {
        ACCOUNT* acc = Account_Get(nullptr, i);
        if (acc && !BoxBusy(hold, i)) MsgBox_SetAllStatus(acc->hMsgBox, status, 1, acc);
    }
    FillTree();
    out.trayRefresh = !MailCheck_IsRunning();
    return out;
}

MAILBOX_OUTCOME MailBoxModel::ClearLog() {
    MAILBOX_OUTCOME out;
    QueueHold hold;
    const auto t = target(&out);
    if (!t) return out;
    clearLog(t->account);
    refreshNode(t->account);
    fillList(false);
    out.trayRefresh = !MailCheck_IsRunning();
    return out;
}

MAILBOX_OUTCOME MailBoxModel::ClearAllLogs() {
    MAILBOX_OUTCOME out;
    QueueHold hold;
    for (int i = 0; i < Account_GetCount(); ++i) {
        ACCOUNT* acc = Account_Get(nullptr, i);
        if (acc && !BoxBusy(hold, i)) clearLog(acc);
    }
    FillTree();
    out.trayRefresh = !MailCheck_IsRunning();
    return out;
}

// ---- Checks -------------------------------------------------------------------

std::optional<MAILBOX_NOTICE> MailBoxModel::PendingDeletesQuestion(MAILBOX_SCOPE scope) const {
    if (Param(GD_CONFIRMMSGDEL).value_or(1) == 0) return std::nullopt;
    QueueHold hold;
    bool marked = false;
    if (scope == MAILBOX_SCOPE::Selected) {
        const ACCOUNT* acc = SelectedAccount();
        marked = acc && readable(acc) && pendingDeletes(acc->hMsgBox) > 0;
    } else {
        for (int i = 0; i < Account_GetCount() && !marked; ++i) {
            const ACCOUNT* acc = Account_Get(nullptr, i);
            marked = acc && readable(acc) && pendingDeletes(acc->hMsgBox) > 0;
        }
    }
    if (!marked) return std::nullopt;
    return MAILBOX_NOTICE{kProgram,
                          IW_N_("Inboxwarden", "Some messages will be deleted.\n Are you sure?"),
                          UM_YESNO | UM_ICONQUESTION};
}

MAILBOX_OUTCOME MailBoxModel::CheckCurrent() {
    MAILBOX_OUTCOME out;
    if (selected_ <= 0) return out; // the root: nothing to check
    const int index = AccountIndex(SelectedAccount());
    if (index < 0) {
        out.notice =
            MAILBOX_NOTICE{"Error", IW_N_("Inboxwarden", "Cannot retrieve account information."),
                           UM_OK | UM_ICONERROR};
        return out;
    }
    Queue_PushAndCheck(index);
    out.showProgress = MailCheck_IsRunning() && GlobalData_GetNumber(GD_SHOWPROGRESSWINDOW) != 0;
    out.focusList = true;
    refreshTexts();
    return out;
}

MAILBOX_OUTCOME MailBoxModel::CheckAll(bool includedOnly) {
    MAILBOX_OUTCOME out;
    if (includedOnly) Account_MarkSkipped();
    Timers_KillAll();
    Schedule_Update(includedOnly ? SU_QUEUE_INCLUDED : SU_QUEUE_ALL);
    out.showProgress = MailCheck_IsRunning() && GlobalData_GetNumber(GD_SHOWPROGRESSWINDOW) != 0;
    out.focusList = true;
    for (int i = 0; i < Account_GetCount(); ++i)
        refreshNode(Account_Get(nullptr, i));
    refreshTexts();
    return out;
}

// ---- Delete now -------------------------------------------------------------

MAILBOX_OUTCOME MailBoxModel::DeleteNow(const MailBoxDeleteRunner& run) {
    MAILBOX_OUTCOME out;
    std::vector<std::string> ids;
    std::string accountName, afterId;
    int afterDup = -1; // the row to select afterwards; -1 none below the last one handled
    ACCOUNT* account = nullptr;
    {
        QueueHold hold;
        const auto t = target(&out);
        if (!t) return out;
        account = t->account;
        accountName = account->Name;
        std::unordered_set<std::string> handled;
        if (pendingDeletes(t->box) == 0) {
            for (int pos : list_.Selected())
                if (const MSG_RECORD* r = MailBoxList_FindRecord(t->box, list_.Row(pos), nullptr))
                    if (handled.insert(r->MsgId().c_str()).second) ids.emplace_back(r->MsgId());
        } else {
            // Every marked message of the box, counted from the box itself.
            for (int i = MsgBox_GetCount(t->box) - 1; i >= 0; --i) {
                const MSG_RECORD* r = MsgBox_GetMsg(t->box, i);
                if (r->Status == MSG_TO_DELETE && handled.insert(r->MsgId().c_str()).second)
                    ids.emplace_back(r->MsgId());
            }
        }
        if (ids.empty()) return out;
        int last = -1;
        for (int pos = 0; pos < list_.Count(); ++pos)
            if (handled.count(list_.Row(pos).id)) last = pos;
        for (int pos = last + 1; pos > 0 && pos < list_.Count(); ++pos)
            if (!handled.count(list_.Row(pos).id)) {
                afterId = list_.Row(pos).id;
                afterDup = list_.Row(pos).dup;
                break;
            }
    }

    // An event loop runs in here: the engine may check accounts meanwhile
    // and this model may be refilled. Only names and ids go on from here.
    FASTPOP3_RESULT result;
    const uint32_t rc = run(account, ids, &result);

    ACCOUNT* acc = Account_Get(accountName.c_str(), -1);
    if (!acc) {
        FillTree();
        return out;
    }
    refreshNode(acc);
    out.trayRefresh = !MailCheck_IsRunning();
    if (!SelectedAccount() || SelectedAccount() != acc) return out;
    // The rows follow the box, from which fast delete took exactly what the
    // server confirmed; the others stay, marked for the next check.
    list_.ClearSelection();
    fillList(false);
    const int pos = afterDup < 0 ? -1 : list_.Position(afterId, afterDup);
    list_.SelectOnly(pos >= 0 ? pos : list_.Count() - 1);
    changes_ |= MBCH_SELECTION | MBCH_SCROLL;
    if (rc == ERR_EXISTS)
        out.notice = BusyNotice();
    else if (afterDup < 0 && list_.Count() > 0)
        out.notice = MAILBOX_NOTICE{"DELETE_NOW:", IW_N_("Inboxwarden", "Defaulting to last msg"),
                                    UM_OK | UM_ICONWARNING};
    return out;
}

// ---- Find -------------------------------------------------------------------

MAILBOX_OUTCOME MailBoxModel::Find(std::string_view text, bool matchCase, bool forward) {
    MAILBOX_OUTCOME out;
    if (text.empty()) {
        out.openFindBox = true;
        return out;
    }
    int from = list_.Focus();
    if (from < 0 && list_.SelectedCount() > 0) from = list_.Selected().front();
    const int pos = list_.Find(text, matchCase, forward, from);
    if (pos < 0) {
        out.notice = MAILBOX_NOTICE{kProgram, "Can't find \"" + std::string(text) + "\".",
                                    UM_OK | UM_ICONINFO};
        return out;
    }
    list_.SelectOnly(pos);
    changes_ |= MBCH_SELECTION | MBCH_SCROLL;
    return out;
}

// ---- Events -------------------------------------------------------------------

MAILBOX_OUTCOME MailBoxModel::OnAccountChecked(uint32_t result, ACCOUNT* account) {
    MAILBOX_OUTCOME out;
    WorkerWaits waits(workerWaits_);
    if (!account || AccountIndex(account) < 0) return out;
    const bool shown = SelectedAccount() == account;
    if (result == 1) {
        if (shown) refreshTexts();
        return out;
    }
    if (result == CHECK_UNCHANGED) {
        // Nothing arrived: what was new has been announced.
        int changed = 0;
        {
            BulkWrite write;
            for (int i = 0; i < MsgBox_GetCount(account->hMsgBox); ++i)
                if (MsgBox_GetMsg(account->hMsgBox, i)->Status == MSG_NEW) {
                    MsgBox_SetStatus(account->hMsgBox, nullptr, i, MSG_NOTIFIED, account);
                    ++changed;
                }
        }
        MsgBox_Recount(account->hMsgBox, account);
        refreshNode(account);
        if (changed > 0)
            for (NODE& n : nodes_)
                if (n.account == account->Name) n.image = MBIMG_NOTIFIED;
        if (shown) fillList(true);
    } else {
        MsgBox_Recount(account->hMsgBox, account);
        refreshNode(account);
        if (shown) fillList(true);
        out.focusList = true;
    }
    if (shown) refreshTexts();
    return out;
}

MAILBOX_OUTCOME MailBoxModel::OnRefresh(ACCOUNT* account) {
    WorkerWaits waits(workerWaits_);
    if (account && AccountIndex(account) >= 0) {
        refreshNode(account);
        if (SelectedAccount() == account) fillList(true);
    }
    return {};
}

MAILBOX_OUTCOME MailBoxModel::OnSettingsChanged(std::string profileName) {
    profileName_ = std::move(profileName);
    widths_[MBCOL_ATTACH] = GlobalData_GetNumber(GD_ATTACHCHECK) > 0 ? 26 : 0;
    FillTree();
    return {};
}

MAILBOX_OUTCOME MailBoxModel::OnTrayCommand(int command) {
    MAILBOX_OUTCOME out;
    switch (command) {
    case MBC_AUTO_SWITCHED:
        refreshTexts();
        break;
    case MBC_FLASH:
    case MBC_RAISE:
        out.raise = true;
        out.focusList = true;
        break;
    default:
        break;
    }
    return out;
}

MAILBOX_OUTCOME MailBoxModel::OnMessageMarked(ACCOUNT* account, std::string_view id) {
    MAILBOX_OUTCOME out;
    QueueHold hold;
    if (!account || SelectedAccount() != account || BoxBusy(hold, AccountIndex(account)))
        return out;
    const int pos = list_.Position(id);
    const MSG_RECORD* r =
        pos < 0 ? nullptr : MailBoxList_FindRecord(account->hMsgBox, list_.Row(pos), nullptr);
    if (!r || r->Status != MSG_TO_DELETE) return out;
    list_.SetStatus(pos, MSG_TO_DELETE);
    if (pos + 1 < list_.Count()) {
        list_.SelectOnly(pos + 1);
        changes_ |= MBCH_SELECTION | MBCH_SCROLL;
    }
    afterRowChanges(account, &out, false);
    return out;
}

MAILBOX_OUTCOME MailBoxModel::OnCountsChanged(ACCOUNT* account) {
    MAILBOX_OUTCOME out;
    QueueHold hold;
    if (!account || BoxBusy(hold, AccountIndex(account))) return out;
    MsgBox_Recount(account->hMsgBox, account);
    refreshNode(account);
    if (SelectedAccount() == account) fillList(true);
    return out;
}
