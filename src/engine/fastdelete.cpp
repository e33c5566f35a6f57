// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/fastdelete.h"

#include "common/status.h"
#include "engine/mailcheck.h"
#include "platform/log.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"

#include <chrono>
#include <system_error>
#include <thread>

bool FASTDELETE_JOB::IsDone() {
    std::lock_guard lock(mu_);
    return done_;
}

bool FASTDELETE_JOB::WaitFor(int ms) {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done_; });
}

std::string FASTDELETE_JOB::Status() {
    std::lock_guard lock(mu_);
    return status_;
}

int FASTDELETE_JOB::onProgress(const char* text, void* context) {
    auto* job = static_cast<FASTDELETE_JOB*>(context);
    std::lock_guard lock(job->mu_);
    job->status_ = text ? text : "";
    return 0;
}

void FASTDELETE_JOB::finish() {
    {
        std::lock_guard lock(mu_);
        done_ = true;
    }
    changed_.notify_all();
}

namespace {

CHECK_SETTINGS globalSettings() {
    CHECK_SETTINGS s;
    if (std::optional<GLOBAL_PROXY> proxy = GlobalData_GetProxy()) {
        s.ProxySocksServer = std::move(proxy->server);
        s.ProxySocksParam = proxy->param;
    }
    return s;
}

bool accountBusy(ACCOUNT* account) {
    int index = -1;
    return Account_IndexOf(account, &index) == 0 && MailCheck_IsBusy(index);
}

// Runs `change` on the account's box unless the worker owns it; the queue
// lock keeps the worker from taking it up meanwhile. False when busy.
template <typename Fn> bool changeBoxIfFree(ACCOUNT* account, Fn change) {
    if (!Queue_Lock()) return false;
    const bool busy = accountBusy(account);
    if (!busy) change();
    Queue_Unlock();
    return !busy;
}

} // namespace

uint32_t FastDelete_Run(ACCOUNT* account, const std::vector<std::string>& ids,
                        const CHECK_SETTINGS* settings, const FASTDELETE_OPTIONS& options,
                        FASTPOP3_RESULT* result) {
    FASTPOP3_RESULT ignored;
    FASTPOP3_RESULT& out = result ? *result : ignored;
    out = FASTPOP3_RESULT{};
    if (!account || ids.empty()) return out.status = ERR_BADARG;
    // The worker owns the box while it checks the account. Whatever becomes
    // of the session, the next check deletes what is left.
    const bool marked = changeBoxIfFree(account, [&] {
        for (const std::string& id : ids) {
            int index = -1;
            MSG_RECORD* r = MsgBox_FindMsg(account->hMsgBox, id.c_str(), &index);
            if (r && r->Status != MSG_TO_DELETE)
                MsgBox_SetStatus(account->hMsgBox, r, index, MSG_TO_DELETE, account);
        }
    });
    if (!marked) {
        DebugLog_Write("FastDelete: \"%s\" is being checked; nothing deleted now\n",
                       account->Name.c_str());
        return out.status = ERR_EXISTS;
    }

    FASTPOP3_SESSION session;
    bool prompted = false;
    if (const uint32_t rc = Pop3Acc_GetPassword(account, &session.password, &prompted); rc != 0) {
        DebugLog_Write("FastDelete: no password for \"%s\" (0x%X)\n", account->Name.c_str(), rc);
        return out.status = rc;
    }
    // A prompt keeps the UI's event loop running: a timer may have queued
    // the account meanwhile. Its check now deletes the marked messages.
    if (accountBusy(account)) return out.status = ERR_EXISTS;
    const CHECK_SETTINGS s = settings ? *settings : globalSettings();
    session.server = account->ChkServer;
    session.port = static_cast<uint16_t>(account->ChkPort);
    session.proxyHost = s.ProxySocksServer;
    session.proxyParam = s.ProxySocksParam;
    session.authType = account->ChkAuthType;
    session.login = account->ChkLogin;
    session.timeoutSec = account->ChkTmout;
    session.security = account->ChkSecurity;
    session.certPolicy = account->ChkCertPolicy;
    session.certPin = account->ChkCertPin;

    FASTDELETE_JOB job;
    Sock_Startup();
    std::thread worker;
    try {
        worker = std::thread([&] {
            FastPOP3_Delete(session, ids, &out, &job.abort_, &FASTDELETE_JOB::onProgress, &job);
            job.finish();
        });
    } catch (const std::system_error&) {
        Sock_Cleanup();
        return out.status = ERR_FAILED;
    }
    if (options.wait)
        options.wait(job);
    else
        while (!job.WaitFor(1000)) {
        }
    // A waiter that returned early has given up on the session: it must
    // not go on deleting behind the user's back.
    if (!job.IsDone()) job.Cancel();
    worker.join();
    Sock_Cleanup();

    if (out.stage == FastPop3Stage::Login && out.status == ERR_OPERATION && prompted)
        account->RememberedChkPswd.clear(); // ask again next time
    // The box no longer matches a STAT taken before: the next check must walk
    // the listing instead of taking the server for unchanged.
    account->LastSTAT[0] = '\0';
    if (!out.deleted.empty() &&
        !changeBoxIfFree(account, [&] { MsgBox_DropMsgs(account->hMsgBox, out.deleted, account); }))
        // A check started meanwhile; it finds the deleted messages gone.
        DebugLog_Write("FastDelete: \"%s\" is being checked; its check drops the records\n",
                       account->Name.c_str());
    DebugLog_Write("FastDelete: \"%s\": 0x%X, %zu of %zu deleted\n", account->Name.c_str(),
                   out.status, out.deleted.size(), ids.size());
    if (options.showBoxes)
        for (const FASTPOP3_BOX& box : FastPOP3_Boxes(session, out))
            UserMsg_Show(box.title, box.text, UM_OK | UM_ICONWARNING);
    return out.status;
}
