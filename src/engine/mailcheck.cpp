#include "engine/mailcheck.h"

#include "common/status.h"
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

// 1 from the compare-exchange in MailCheck_Start until the worker's last act.
std::atomic<int> g_running{0};
std::atomic<bool> g_stopping{false};

// The worker handle belongs to the UI thread (started, joined there).
std::thread g_worker;

POP3ACC_HOOKS g_extraHooks;

// What the worker needs of the global settings, read on the UI thread when
// the check starts (the global record belongs to that thread).
struct RUN_SETTINGS {
    CHECK_SETTINGS check;
    int32_t newMailVisual = 0;
    bool notifyOnlyOnce = false;
    bool sndSync = true;
    std::string newMailSound;
    FILTER_HANDLE globalFilter = nullptr;
};

intptr_t _param(int number) {
    intptr_t v = 0;
    GlobalData_GetParam(number, &v);
    return v;
}

std::string _textParam(int number) {
    const char* s = reinterpret_cast<const char*>(_param(number));
    return s ? s : "";
}

RUN_SETTINGS _readSettings() {
    RUN_SETTINGS s;
    s.check.ProxySocksServer = _textParam(GD_PROXYSOCKSSERVER);
    s.check.ProxySocksParam = static_cast<uint32_t>(_param(GD_PROXYSOCKSPARAM));
    s.check.AttachCheck = _param(GD_ATTACHCHECK) != 0;
    s.check.NLinesDwnLoad = static_cast<int32_t>(_param(GD_NLINESDWNLOAD));
    s.newMailVisual = static_cast<int32_t>(_param(GD_NEWMAILVISUAL));
    s.notifyOnlyOnce = _param(GD_NOTIFYONLYONCE) != 0;
    s.sndSync = _param(GD_SNDSYNC) != 0;
    s.newMailSound = _textParam(GD_NEWMAILSOUND);
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
    if (!Queue_Lock()) return;
    acc->TimerState = state;
    Queue_Unlock();
}

// Joins a worker that has ended (UI thread). The state is given back as the
// worker's last act, so the join returns at once.
void _reapWorker() {
    if (g_worker.joinable() && g_running.load() == 0) g_worker.join();
}

void _waitWorker(bool cancel) {
    if (!g_worker.joinable()) return;
    if (cancel) {
        if (g_ui) g_ui->UnblockWorker(true);
        MailCheck_Abort(ERR_CANCELLED);
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

void _worker(WORKER_RUN run) {
    const bool fetchOne = run.fetch != nullptr;
    bool cancelled = false;
    bool playGlobal = false, launched = false, launchFailed = false;
    const RUN_SETTINGS& set = run.settings;

    Pop3_ResetCheckState();
    if (!fetchOne) {
        g_ui->SetCancelCheckEnabled(true);
        if (set.globalFilter) Filter_Reload(set.globalFilter, 1);
    }
    g_ui->SetNewMailBlink(false);
    g_ui->SetCheckAnimation(true);
    Sock_Startup();
    DialUp_OnCheckStart(
        [](std::string_view entry, std::string_view text) { g_ui->ProgressSetStatus(entry, text); },
        Pop3_SessionAbort());

    uint32_t lastResult = 0;
    bool gotMessage = false;
    bool noMemory = false;
    for (;;) {
        int index = -1;
        ACCOUNT* acc = nullptr;
        if (fetchOne) {
            acc = run.fetch->account;
            if (Account_IndexOf(acc, &index) != 0) index = -1;
            if (Queue_Lock()) {
                g_current = index;
                Queue_Unlock();
            }
        } else {
            index = Queue_Pop();
            if (index < 0) break;
            acc = Account_Get(nullptr, index);
            if (!acc) continue;
        }
        if (!fetchOne) {
            acc->PendingDeletes = MsgBox_BeginCheck(acc->hMsgBox, acc->DontCleanOldMsgs, acc);
            acc->StatusText[0] = '\0';
        }
        PROGRESS_CONTEXT progress{acc->Name};
        g_ui->ProgressSetAccount(acc->Name);

        uint32_t rc;
        if (fetchOne) {
            if (run.fetch->result && run.fetch->result->Data()) run.fetch->result->Data()[0] = '\0';
            rc = Pop3Acc_Check(run.fetch, _progress, &progress);
        } else {
            CheckRequest req;
            req.flags = CHECK_STOP_IF_UNCHANGED | CHECK_TIMED;
            req.account = acc;
            req.settings = set.check;
            rc = Pop3Acc_Check(&req, _progress, &progress);
        }
        lastResult = rc;
        Pop3_ReleaseBuffers();

        if (rc == ERR_NOMEM) {
            Log_Write(LOG_APP, "MailCheck: NO MEMORY!\n");
            DebugLog_Write("MailCheck: NO MEMORY!\n");
            UserMsg_Show("Inboxwarden", "No memory.", UM_OK | UM_ICONERROR);
            noMemory = true;
        }
        if (fetchOne) {
            gotMessage = rc == 0 && run.fetch->result && run.fetch->result->Data() &&
                         run.fetch->result->Data()[0] != '\0';
            break;
        }
        // A dialog that opened meanwhile may change accounts: this account
        // still ends as a cancelled one, so its new mail is not lost and it
        // gets its timer back.
        const bool dialogOpened = g_ui->IsSettingsDialogOpen();

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

        if (g_ui->IsMailBoxOpen()) g_ui->AccountChecked(rc, acc);

        if (acc->hMsgBox && !noMemory) {
            const MSGBOX_COUNTS* c = MsgBox_GetCounts(acc->hMsgBox);
            const bool nothing =
                (c->New == 0 && c->Notified == 0) ||
                (c->New == 0 && set.notifyOnlyOnce && MailCheck_GetRemindLater() != 1);
            if (!nothing) {
                if (!acc->NewMailSnd.empty())
                    g_ui->PlaySound(acc->NewMailSnd, set.sndSync);
                else
                    playGlobal = true;
                if (set.newMailVisual == 3) {
                    if (g_ui->LaunchMailClient(acc))
                        launched = true;
                    else
                        launchFailed = true;
                }
            }
        }
        if (rc == ERR_CANCELLED || dialogOpened || noMemory) {
            cancelled = true;
            break;
        }
    }

    Sock_Cleanup();
    g_ui->SetCheckAnimation(false);
    // The download box may be waiting for this; the caller joins us with the
    // windows unblocked, so the steps below cannot hold it up.
    if (run.completion) run.completion->Finish(lastResult, gotMessage);

    SUMS sums;
    if (!fetchOne) sums = _sumCounts();
    g_ui->TrayUpdateSummary();

    if (playGlobal) g_ui->PlaySound(set.newMailSound, set.sndSync);
    if (!fetchOne)
        DialUp_OnCheckEnd(!cancelled && (launched || sums.checkedNew > 0 ||
                                         sums.checkedNotified > 0 || sums.others > 0));

    Schedule_Update(cancelled ? 4 : 3);
    g_ui->ProgressClose();

    if (!fetchOne) {
        g_ui->SetCancelCheckEnabled(false);
        const bool found = sums.checkedNew > 0 || sums.checkedNotified > 0;
        if (found && !noMemory &&
            (sums.checkedNew > 0 || !set.notifyOnlyOnce || MailCheck_GetRemindLater() == 1)) {
            MailCheck_SetRemindLater(0);
            switch (set.newMailVisual) {
            case 1:
                if (!g_ui->IsComposeOpen()) g_ui->ShowMailBoxes();
                break;
            case 2:
                if (!g_ui->IsMailBoxOpen())
                    g_ui->NewMailPopup(static_cast<int>(std::min<int64_t>(
                        sums.checkedNew + sums.checkedNotified + sums.others, INT32_MAX)));
                break;
            case 3:
                if (launchFailed && !g_ui->IsComposeOpen()) g_ui->ShowMailBoxes();
                break;
            case 4:
                g_ui->SetNewMailBlink(true);
                break;
            default:
                break;
            }
        }
        intptr_t enabled = 0;
        if (!g_stopping.load()) {
            GlobalData_GetParam(GD_ENABLED, &enabled);
            if (enabled) Schedule_Update(0);
        }
    }

    // Recount while this run still counts as running, so no window changes
    // a box while it is walked here.
    const bool mailBoxOpen = g_ui->IsMailBoxOpen();
    for (int i = 0; i < Account_GetCount(); ++i) {
        ACCOUNT* acc = Account_Get(nullptr, i);
        if (!acc) continue;
        MsgBox_Recount(acc->hMsgBox, acc);
        if (mailBoxOpen) g_ui->MailBoxRefresh(acc);
    }
    if (Queue_Lock()) {
        g_current = -1;
        Queue_Unlock();
    }
    if (noMemory) g_ui->RequestShutdown();
    g_running.store(0);
}

} // namespace

uint32_t MailCheck_Init(ENGINE_UI* ui, ENGINE_TIMERS* timers) {
    if (!ui || !timers) return ERR_BADARG;
    g_ui = ui;
    g_timers = timers;
    g_stopping.store(false);
    MailCheck_SetRemindLater(0);
    {
        std::lock_guard lock(g_queueMu);
        g_queue.clear();
        g_current = -1;
    }
    static const SCHEDULE_QUEUE kQueue{Queue_Lock,         Queue_Unlock,
                                       Queue_PushAndCheck, Queue_Remove,
                                       Queue_HasPending,   [] { MailCheck_Start(nullptr); }};
    Schedule_SetInterfaces(ui, timers, &kQueue);
    _installHooks();
    return 0;
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

    WORKER_RUN run;
    run.fetch = request;
    run.settings = _readSettings();
    if (!request) run.settings.globalFilter = reinterpret_cast<FILTER_HANDLE>(_param(GD_GLBFILTER));
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
        UserMsg_Show("Error", "Can't start the check process", UM_OK | UM_ICONERROR);
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
        if (!got) return ERR_CANCELLED;
        return 0;
    }

    intptr_t showProgress = 0;
    GlobalData_GetParam(GD_SHOWPROGRESSWINDOW, &showProgress);
    if (showProgress && !g_ui->IsMailBoxOpen()) g_ui->ProgressStart();
    return 0;
}

void MailCheck_Abort(uint32_t code) {
    if (code != ERR_CANCELLED && code != ERR_SKIPPED) return;
    Pop3_Abort(code);
}

void MailCheck_WaitIdle() {
    if (g_running.load() == 0) {
        _reapWorker();
        return;
    }
    _waitWorker(true);
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
    if (!Queue_Lock()) return 1;
    const bool busy =
        g_current == index || std::find(g_queue.begin(), g_queue.end(), index) != g_queue.end();
    Queue_Unlock();
    return busy ? 1 : 0;
}

// The flag is the runtime global setting 8, so whoever sets that setting
// reaches the same flag the announcement rules read.
void MailCheck_SetRemindLater(int on) {
    GlobalData_SetParam(GD_RUNTIME8, on ? 1 : 0);
}
int MailCheck_GetRemindLater() {
    intptr_t v = 0;
    GlobalData_GetParam(GD_RUNTIME8, &v);
    return static_cast<int>(v);
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
    if (!Queue_Lock()) return 0;
    ACCOUNT* acc = Account_Get(nullptr, index);
    if (!acc || index < 0 || static_cast<int>(g_queue.size()) >= kQueueSize) {
        Queue_Unlock();
        return 0;
    }
    Timer_Stop(TIMER_ACCOUNT_BASE + index);
    g_queue.push_back(index);
    acc->TimerState = TS_QUEUED;
    Queue_Unlock();
    if (!g_ui || !g_ui->IsSettingsDialogOpen()) MailCheck_Start(nullptr);
    return 1;
}

int Queue_Pop() {
    if (!Queue_Lock()) return -1;
    int index = -1;
    if (!g_queue.empty()) {
        index = g_queue.back();
        g_queue.pop_back();
    }
    g_current = index;
    Queue_Unlock();
    return index;
}

void Queue_Remove(int index) {
    if (!Queue_Lock()) return;
    g_queue.erase(std::remove(g_queue.begin(), g_queue.end(), index), g_queue.end());
    Queue_Unlock();
}

int Queue_HasPending() {
    if (!Queue_Lock()) return 0;
    const bool pending = !g_queue.empty();
    Queue_Unlock();
    return pending ? 1 : 0;
}

int Queue_Contains(int index) {
    if (!Queue_Lock()) return 0;
    const bool found = std::find(g_queue.begin(), g_queue.end(), index) != g_queue.end();
    Queue_Unlock();
    return found ? 1 : 0;
}

void Queue_Clear() {
    if (!Queue_Lock()) return;
    g_queue.clear();
    Queue_Unlock();
}
