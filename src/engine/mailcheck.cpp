// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/mailcheck.h"

#include "common/status.h"
#include "common/translate.h"
#include "engine/dialup.h"
#include "engine/mailsend.h"
#include "engine/schedule.h"
#include "message/filter.h"
#include "net/pop3.h"
#include "net/socket.h"
#include "platform/log.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"
#include "settings/settings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kQueueSize = 256;
constexpr auto kQueueWait = std::chrono::milliseconds(60000);

ENGINE_UI* g_ui = nullptr;
ENGINE_TIMERS* g_timers = nullptr;

// Recursive: the scheduler holds it around Queue_PushAndCheck, which takes it
// again, as the original single-owner mutex allowed.
std::recursive_timed_mutex g_queueMu;
std::vector<int32_t> g_queue; // under g_queueMu; back() is the top
int g_current = -1;           // under g_queueMu: the account being checked
bool g_walkingAll = false;    // under g_queueMu: the run's end walks every box

// The queue as the scheduler reaches it; also what QueueGuard takes here.
const SCHEDULE_QUEUE kQueue{Queue_Lock,   Queue_Unlock,     Queue_PushAndCheck,
                            Queue_Remove, Queue_HasPending, [] { MailCheck_Start(nullptr); }};

// 1 from the compare-exchange in MailCheck_Start until the worker's last act.
std::atomic<int> g_running{0};
std::atomic<bool> g_stopping{false};

// The worker handle belongs to the UI thread (started, joined there).
std::thread g_worker;
// The global filter was loaded moments before the next run.
std::atomic<bool> g_filterFresh{false};

POP3ACC_HOOKS g_extraHooks;

// What the worker needs of the global settings, read on the UI thread when
// the check starts (the global record belongs to that thread).
struct RUN_SETTINGS {
    CHECK_SETTINGS check;
    NEW_MAIL_VISUAL newMailVisual = NMV_NONE;
    bool notifyOnlyOnce = false;
    bool sndSync = true;
    std::string newMailSound;
    FILTER_HANDLE globalFilter = nullptr;
};

RUN_SETTINGS _readSettings() {
    RUN_SETTINGS s;
    GLOBAL_PROXY proxy = GlobalData_GetProxy().value_or(GLOBAL_PROXY{});
    s.check.ProxySocksServer = std::move(proxy.server);
    s.check.ProxySocksParam = proxy.param;
    s.check.AttachCheck = GlobalData_GetNumber(GD_ATTACHCHECK) != 0;
    s.check.NLinesDwnLoad = static_cast<int32_t>(GlobalData_GetNumber(GD_NLINESDWNLOAD));
    // Well defined for any stored number: one out of range announces nothing.
    s.newMailVisual = static_cast<NEW_MAIL_VISUAL>(GlobalData_GetNumber(GD_NEWMAILVISUAL));
    s.notifyOnlyOnce = GlobalData_GetNumber(GD_NOTIFYONLYONCE) != 0;
    s.sndSync = GlobalData_GetNumber(GD_SNDSYNC) != 0;
    s.newMailSound = GlobalData_GetText(GD_NEWMAILSOUND);
    return s;
}

void _installHooks() {
    POP3ACC_HOOKS h = g_extraHooks;
    if (!h.askPassword)
        h.askPassword = [](const ACCOUNT& acc, std::string* pw) -> uint32_t {
            return g_ui ? g_ui->AskPassword(acc, pw) : ERR_NOT_READY;
        };
    if (!h.bounce) h.bounce = MailSend_QuietBounceHook();
    if (!h.display)
        h.display = [](ACCOUNT* acc, const char* id, std::string_view text) {
            return g_ui && g_ui->FilterShowMessage(acc, id ? id : "", text);
        };
    Pop3Acc_SetHooks(std::move(h));
}

struct PROGRESS_CONTEXT {
    std::string account;
};

int _progress(const char* text, void* context) {
    auto* p = static_cast<PROGRESS_CONTEXT*>(context);
    if (g_ui && p && text) g_ui->ProgressSetStatus(p->account, text);
    return 0;
}

void _setState(ACCOUNT* acc, int32_t state) {
    QueueGuard lock(&kQueue);
    if (lock.ok()) acc->TimerState = state;
}

void _setCurrent(int index) {
    QueueGuard lock(&kQueue);
    if (lock.ok()) g_current = index;
}

// Joins a worker that has ended (UI thread). The state is given back as the
// worker's last act, so the join returns at once.
void _reapWorker() {
    if (g_worker.joinable() && g_running.load() == 0) g_worker.join();
}

// Joins the worker, cancelling its run first when asked; `pump` (may be
// empty) is called about every 20 ms until the worker has ended.
void _waitWorker(bool cancel, const std::function<void(int64_t waitedMs)>& pump = {}) {
    if (!g_worker.joinable()) return;
    if (cancel) {
        if (g_ui) g_ui->UnblockWorker(true);
        MailCheck_Abort(ERR_CANCELLED);
    }
    const auto started = std::chrono::steady_clock::now();
    while (pump && g_running.load() != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pump(std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::steady_clock::now() - started)
                 .count());
    }
    g_worker.join();
}

struct WORKER_RUN {
    CheckRequest* fetch = nullptr; // fetch-one request, owned by MailCheck_Start's caller
    std::shared_ptr<CHECK_COMPLETION> completion;
    RUN_SETTINGS settings;
};

struct SUMS {
    int64_t checkedNew = 0, checkedNotified = 0, others = 0;
};

SUMS _sumCounts() {
    SUMS s;
    for (int i = 0; i < Account_GetCount(); ++i) {
        ACCOUNT* acc = Account_Get(nullptr, i);
        if (!acc || !acc->hMsgBox) continue;
        const MSGBOX_COUNTS* c = MsgBox_GetCounts(acc->hMsgBox);
        if (acc->TimerState == TS_CHECKED) {
            s.checkedNew += c->New;
            s.checkedNotified += c->Notified;
        } else {
            s.others += int64_t{c->New} + c->Notified;
        }
    }
    return s;
}

// What the run has found so far, for the steps after its last account.
struct RUN_STATE {
    uint32_t lastResult = 0;
    bool gotMessage = false; // fetch-one: the message arrived
    bool noMemory = false;
    // Cancelled, a settings dialog opened, or out of memory.
    bool cancelled = false;
    // An account with new mail has no sound of its own.
    bool playGlobal = false;
    // Whether the mail reader started for an account with new mail.
    bool launched = false, launchFailed = false;
};

void _beginRun(const WORKER_RUN& run) {
    if (!run.fetch) {
        g_ui->SetCancelCheckEnabled(true);
        if (run.settings.globalFilter && !g_filterFresh.exchange(false))
            Filter_Reload(run.settings.globalFilter, 1);
    }
    g_ui->SetNewMailBlink(false);
    g_ui->SetCheckAnimation(true);
    Sock_Startup();
    DialUp_OnCheckStart(
        [](std::string_view entry, std::string_view text) { g_ui->ProgressSetStatus(entry, text); },
        Pop3_SessionAbort());
}

// The account check itself, with the buffers it leaves given back.
uint32_t _runCheck(CheckRequest* req, RUN_STATE* st) {
    PROGRESS_CONTEXT progress{req->account->Name};
    g_ui->ProgressSetAccount(req->account->Name);
    const uint32_t rc = Pop3Acc_Check(req, _progress, &progress);
    st->lastResult = rc;
    Pop3_ReleaseBuffers();
    if (rc == ERR_NOMEM) {
        Log_Write(LOG_APP, "MailCheck: NO MEMORY!\n");
        DebugLog_Write("MailCheck: NO MEMORY!\n");
        UserMsg_Show("Inboxwarden", IW_N_("Inboxwarden", "No memory."), UM_OK | UM_ICONERROR);
        st->noMemory = true;
    }
    return rc;
}

void _fetchOne(const WORKER_RUN& run, RUN_STATE* st) {
    CheckRequest* req = run.fetch;
    int index = -1;
    if (Account_IndexOf(req->account, &index) != 0) index = -1;
    _setCurrent(index);
    if (req->result && req->result->Data()) req->result->Data()[0] = '\0';
    const uint32_t rc = _runCheck(req, st);
    st->gotMessage =
        rc == 0 && req->result && req->result->Data() && req->result->Data()[0] != '\0';
    if (!st->gotMessage) {
        char text[ACCOUNT_STATUSTEXT_SIZE];
        Pop3_GetLastError(text, sizeof text);
        req->failure = text;
    }
}

// The account's result, box and status after its check, and TS_CHECKED for
// the rescheduling at the end of the run.
void _recordResult(ACCOUNT* acc, uint32_t rc) {
    acc->CheckResult = Pop3Acc_CheckResult(rc);
    if (rc == CHECK_UNCHANGED) MsgBox_RollbackCheck(acc->hMsgBox);
    MsgBox_EndCheck(acc->hMsgBox, static_cast<int>(rc), acc);
    char text[ACCOUNT_STATUSTEXT_SIZE];
    Pop3_GetLastError(text, sizeof text);
    // A successful check may have left a filter save failure there.
    if (acc->StatusText[0] == '\0' || rc != 0) std::memcpy(acc->StatusText, text, sizeof text);
    acc->LastCheck = g_timers->Now();
    acc->TimerBase = acc->LastCheck;
    _setState(acc, TS_CHECKED);
}

// The account's own announcement of new mail: its sound (or, without one, the
// global sound once the run ends) and the mail reader.
void _announceAccount(ACCOUNT* acc, const RUN_SETTINGS& set, RUN_STATE* st) {
    const MSGBOX_COUNTS* c = MsgBox_GetCounts(acc->hMsgBox);
    const bool nothing = (c->New == 0 && c->Notified == 0) ||
                         (c->New == 0 && set.notifyOnlyOnce && MailCheck_GetRemindLater() != 1);
    if (nothing) return;
    if (!acc->NewMailSnd.empty())
        g_ui->PlaySound(acc->NewMailSnd, set.sndSync);
    else
        st->playGlobal = true;
    if (set.newMailVisual == NMV_LAUNCH_READER) {
        if (g_ui->LaunchMailClient(acc))
            st->launched = true;
        else
            st->launchFailed = true;
    }
}

void _checkQueue(const WORKER_RUN& run, RUN_STATE* st) {
    for (;;) {
        const int index = Queue_Pop();
        if (index < 0) return;
        ACCOUNT* acc = Account_Get(nullptr, index);
        if (!acc) continue;
        acc->StatusText[0] = '\0';
        CheckRequest req;
        req.flags = CHECK_STOP_IF_UNCHANGED | CHECK_TIMED;
        req.account = acc;
        req.settings = run.settings.check;
        // The box's pass begins once the server let us in: boxes still being
        // loaded (a command-line check) are awaited behind its greeting. A
        // check that ended sooner passes the box all the same, as it always
        // did before connecting.
        bool passed = false;
        req.boxNeeded = [acc, &passed] {
            Settings_AwaitMessages();
            acc->PendingDeletes = MsgBox_BeginCheck(acc->hMsgBox, acc->DontCleanOldMsgs, acc);
            passed = true;
        };
        const uint32_t rc = _runCheck(&req, st);
        if (!passed) req.boxNeeded();

        // A dialog that opened meanwhile may change accounts: this account
        // still ends as a cancelled one, so its new mail is not lost and it
        // gets its timer back.
        const bool dialogOpened = g_ui->IsSettingsDialogOpen();
        _recordResult(acc, rc);
        g_ui->AccountDone(acc->Name, rc);
        if (g_ui->IsMailBoxOpen()) g_ui->AccountChecked(rc, acc);
        if (acc->hMsgBox && !st->noMemory) _announceAccount(acc, run.settings, st);
        if (rc == ERR_CANCELLED || dialogOpened || st->noMemory) {
            st->cancelled = true;
            return;
        }
    }
}

// The run's announcement of what the checked accounts found, as the
// new-mail visual choice says.
void _announceRun(const RUN_SETTINGS& set, const SUMS& sums, const RUN_STATE& st) {
    const bool found = sums.checkedNew > 0 || sums.checkedNotified > 0;
    if (!found || st.noMemory ||
        !(sums.checkedNew > 0 || !set.notifyOnlyOnce || MailCheck_GetRemindLater() == 1))
        return;
    MailCheck_SetRemindLater(0);
    switch (set.newMailVisual) {
    case NMV_SHOW_MAILBOXES:
        if (!g_ui->IsComposeOpen()) g_ui->ShowMailBoxes();
        break;
    case NMV_POPUP:
        if (!g_ui->IsMailBoxOpen())
            g_ui->NewMailPopup(static_cast<int>(std::min<int64_t>(
                sums.checkedNew + sums.checkedNotified + sums.others, INT32_MAX)));
        break;
    case NMV_LAUNCH_READER:
        if (st.launchFailed && !g_ui->IsComposeOpen()) g_ui->ShowMailBoxes();
        break;
    case NMV_BLINK:
        g_ui->SetNewMailBlink(true);
        break;
    case NMV_NONE:
        break;
    }
}

void _endRun(const WORKER_RUN& run, const RUN_STATE& st) {
    const bool fetchOne = run.fetch != nullptr;
    const RUN_SETTINGS& set = run.settings;
    Sock_Cleanup();
    g_ui->SetCheckAnimation(false);
    // The download box may be waiting for this; the caller joins us with the
    // windows unblocked, so the steps below cannot hold it up.
    if (run.completion) run.completion->Finish(st.lastResult, st.gotMessage);

    SUMS sums;
    if (!fetchOne) sums = _sumCounts();
    g_ui->TrayUpdateSummary();

    if (st.playGlobal) g_ui->PlaySound(set.newMailSound, set.sndSync);
    if (!fetchOne)
        DialUp_OnCheckEnd(!st.cancelled && (st.launched || sums.checkedNew > 0 ||
                                            sums.checkedNotified > 0 || sums.others > 0));

    Schedule_Update(st.cancelled ? SU_AFTER_CANCEL : SU_AFTER_CHECK);
    g_ui->ProgressClose();

    if (!fetchOne) {
        g_ui->SetCancelCheckEnabled(false);
        _announceRun(set, sums, st);
        if (!g_stopping.load() && GlobalData_GetNumber(GD_ENABLED) != 0)
            Schedule_Update(SU_START_TIMERS);
    }
}

// Recounts every box while this run still counts as running, so no window
// changes a box while it is walked here.
void _recountBoxes() {
    auto walking = [](bool on) {
        QueueGuard lock(&kQueue);
        if (lock.ok()) g_walkingAll = on;
    };
    walking(true);
    const bool mailBoxOpen = g_ui->IsMailBoxOpen();
    for (int i = 0; i < Account_GetCount(); ++i) {
        ACCOUNT* acc = Account_Get(nullptr, i);
        if (!acc) continue;
        MsgBox_Recount(acc->hMsgBox, acc);
        if (mailBoxOpen) g_ui->MailBoxRefresh(acc);
    }
    walking(false);
}

// Record writes that failed during the run: one box for all of them.
void _reportWriteFailures() {
    NOTICES failed;
    Reg_TakeWriteFailureNotice(&failed);
    UserMsg_ShowNotices(failed);
}

void _worker(WORKER_RUN run) {
    RUN_STATE st;
    _beginRun(run);
    if (run.fetch)
        _fetchOne(run, &st);
    else
        _checkQueue(run, &st);
    _endRun(run, st);
    _recountBoxes();
    _reportWriteFailures();
    _setCurrent(-1);
    if (st.noMemory) g_ui->RequestShutdown();
    if (!run.fetch) g_ui->RunEnded(st.cancelled);
    g_running.store(0);
}

} // namespace

uint32_t MailCheck_Init(ENGINE_UI* ui, ENGINE_TIMERS* timers) {
    if (!ui || !timers) return ERR_BADARG;
    g_ui = ui;
    g_timers = timers;
    g_stopping.store(false);
    g_filterFresh.store(false);
    MailCheck_SetRemindLater(0);
    {
        QueueGuard lock(&kQueue);
        if (lock.ok()) {
            g_queue.clear();
            g_current = -1;
        }
    }
    Schedule_SetInterfaces(ui, timers, &kQueue);
    _installHooks();
    return 0;
}

void MailCheck_FilterJustLoaded() {
    g_filterFresh.store(true);
}

void MailCheck_SetCheckHooks(POP3ACC_HOOKS hooks) {
    g_extraHooks = std::move(hooks);
    _installHooks();
}

uint32_t MailCheck_Start(CheckRequest* request) {
    if (!g_ui || g_stopping.load()) return ERR_NOT_READY;
    if (g_ui->IsSettingsDialogOpen()) {
        g_ui->BringSettingsDialogToFront();
        return ERR_OPERATION;
    }
    int expected = 0;
    if (!g_running.compare_exchange_strong(expected, 1)) return ERR_EXISTS;
    // The state is ours: a worker that gave it back has ended or is ending.
    if (g_worker.joinable()) g_worker.join();

    if (!request && (!Queue_HasPending() || !g_ui->NetworkUsable())) {
        g_running.store(0);
        return 0;
    }

    // Cleared here, before the worker exists: a cancel given from now on,
    // even before the worker has set up its run, is one it hears.
    Pop3_ResetCheckState();
    WORKER_RUN run;
    run.fetch = request;
    run.settings = _readSettings();
    if (!request) run.settings.globalFilter = GlobalData_GetFilter();
    if (request) {
        run.completion = std::make_shared<CHECK_COMPLETION>();
        request->settings = run.settings.check;
    }
    std::shared_ptr<CHECK_COMPLETION> completion = run.completion;

    Log_Write(LOG_APP, "MAIN: -> Start mailcheck thread.\n");
    DebugLog_Write("MAIN: -> Start mailcheck thread.\n");
    try {
        g_worker = std::thread(_worker, std::move(run));
    } catch (const std::system_error& e) {
        Log_Write(LOG_APP, "MAIN: -> CreateThread failed %d.\n", e.code().value());
        DebugLog_Write("MAIN: -> CreateThread failed %d.\n", e.code().value());
        g_running.store(0);
        UserMsg_Show(IW_N_("Inboxwarden", "Error"),
                     IW_N_("Inboxwarden", "Can't start the check process"), UM_OK | UM_ICONERROR);
        return ERR_FAILED;
    }

    if (request) {
        const int shown = g_ui->ProgressDownload(completion);
        DebugLog_Write("MailCheck_Start: Progress_Start returned %u.\n",
                       static_cast<unsigned>(shown));
        // The request and its buffer are the caller's: the worker must be done
        // with them before we return.
        if (shown != 1) {
            _waitWorker(true);
        } else {
            g_ui->UnblockWorker(true);
            _waitWorker(false);
        }
        g_ui->UnblockWorker(false);
        const bool got = completion->IsDone() && completion->gotMessage && shown == 1;
        DebugLog_Write(got ? "Looks like WeGotTheMessage is TRUE\n"
                           : "Looks like WeGotTheMessage is FALSE\n");
        if (got) return 0;
        if (shown != 1 || !completion->IsDone()) return ERR_CANCELLED;
        // The worker is done: its result stands (a cancel it saw included).
        return completion->result != 0 ? completion->result : ERR_NOT_FOUND;
    }

    if (GlobalData_GetNumber(GD_SHOWPROGRESSWINDOW) != 0 && !g_ui->IsMailBoxOpen())
        g_ui->ProgressStart();
    return 0;
}

void MailCheck_Abort(uint32_t code) {
    if (code != ERR_CANCELLED && code != ERR_SKIPPED) return;
    Pop3_Abort(code);
}

void MailCheck_WaitIdle(const std::function<void(int64_t waitedMs)>& pump) {
    if (g_running.load() == 0) {
        _reapWorker();
        return;
    }
    _waitWorker(true, pump);
    if (g_ui) g_ui->UnblockWorker(false);
}

void MailCheck_Wait() {
    if (g_worker.joinable()) g_worker.join();
}

void MailCheck_Stop() {
    g_stopping.store(true);
    if (g_ui) g_ui->UnblockWorker(true);
    MailCheck_Abort(ERR_CANCELLED);
    if (g_worker.joinable()) g_worker.join();
    DialUp_OnCheckEnd(false);
}

int MailCheck_IsRunning() {
    return g_running.load() != 0 ? 1 : 0;
}

int MailCheck_IsBusy(int index) {
    QueueGuard lock(&kQueue);
    if (!lock.ok()) return 1;
    const bool busy = g_walkingAll || g_current == index ||
                      std::find(g_queue.begin(), g_queue.end(), index) != g_queue.end();
    return busy ? 1 : 0;
}

// The flag is the runtime global setting 8, so whoever sets that setting
// reaches the same flag the announcement rules read.
void MailCheck_SetRemindLater(int on) {
    GlobalData_SetParam(GD_RUNTIME8, on ? 1 : 0);
}
int MailCheck_GetRemindLater() {
    return static_cast<int>(GlobalData_GetNumber(GD_RUNTIME8));
}

bool Queue_Lock() {
    if (g_queueMu.try_lock_for(kQueueWait)) return true;
    DebugLog_Write("MAIN: the check queue lock was not free within 60000 ms; shutting down.\n");
    if (g_ui) g_ui->RequestShutdown();
    return false;
}

void Queue_Unlock() {
    g_queueMu.unlock();
}

int Queue_PushAndCheck(int index) {
    {
        QueueGuard lock(&kQueue);
        if (!lock.ok()) return 0;
        ACCOUNT* acc = Account_Get(nullptr, index);
        if (!acc || index < 0 || static_cast<int>(g_queue.size()) >= kQueueSize) return 0;
        Timer_Stop(TIMER_ACCOUNT_BASE + index);
        g_queue.push_back(index);
        acc->TimerState = TS_QUEUED;
    }
    if (!g_ui || !g_ui->IsSettingsDialogOpen()) MailCheck_Start(nullptr);
    return 1;
}

int Queue_Pop() {
    QueueGuard lock(&kQueue);
    if (!lock.ok()) return -1;
    int index = -1;
    if (!g_queue.empty()) {
        index = g_queue.back();
        g_queue.pop_back();
    }
    g_current = index;
    return index;
}

void Queue_Remove(int index) {
    QueueGuard lock(&kQueue);
    if (lock.ok()) g_queue.erase(std::remove(g_queue.begin(), g_queue.end(), index), g_queue.end());
}

int Queue_HasPending() {
    QueueGuard lock(&kQueue);
    return lock.ok() && !g_queue.empty() ? 1 : 0;
}

int Queue_Contains(int index) {
    QueueGuard lock(&kQueue);
    return lock.ok() && std::find(g_queue.begin(), g_queue.end(), index) != g_queue.end() ? 1 : 0;
}

void Queue_Clear() {
    QueueGuard lock(&kQueue);
    if (lock.ok()) g_queue.clear();
}
