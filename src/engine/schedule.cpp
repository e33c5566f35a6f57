// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/schedule.h"

#include "common/status.h"
#include "common/translate.h"
#include "engine/engine_ui.h"
#include "platform/log.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace {

ENGINE_UI* g_ui = nullptr;
ENGINE_TIMERS* g_timers = nullptr;
const SCHEDULE_QUEUE* g_queue = nullptr;

// CheckCmds that arrived before CheckOnStart; UI thread only.
bool g_loaded = false;
std::vector<std::string> g_keptCmds;

// The five-minute mark the tick last evaluated (time_t), so that a wake-up
// can catch up the marks it slept through. -1 before the first tick.
std::mutex g_tickMu;
time_t g_lastTick = -1;

int _push(int index) {
    return g_queue ? g_queue->pushAndCheck(index) : 0;
}
void _remove(int index) {
    if (g_queue) g_queue->remove(index);
}
int _hasPending() {
    return g_queue ? g_queue->hasPending() : 0;
}
void _start() {
    if (g_queue) g_queue->start();
}

bool _enabled() {
    return GlobalData_GetNumber(GD_ENABLED) != 0;
}

DATETIME _now() {
    return g_timers ? g_timers->Now() : DateTime_Now();
}

bool _equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

// Gives a checked (or cancelled) account its interval timer back, or leaves
// it idle when it has none.
void _rearmChecked(ACCOUNT* acc, int index) {
    if (!acc->CheckIt || acc->UseSchedule) {
        acc->TimerState = TS_IDLE;
        return;
    }
    if (Timer_Start(TIMER_ACCOUNT_BASE + index, acc->ChkTime)) {
        acc->TimerBase = _now();
        acc->TimerState = TS_WAITING;
    } else {
        acc->TimerState = TS_IDLE;
    }
}

void _runCheckCmd(std::string_view text, int* queued) {
    *queued = -2;
    if (_equalsIgnoreCase(text, "All")) {
        Schedule_Update(SU_QUEUE_ALL);
        *queued = -1;
    } else if (_equalsIgnoreCase(text, "AllInc")) {
        Schedule_Update(SU_QUEUE_INCLUDED);
        *queued = -1;
    } else {
        const std::string name(text);
        ACCOUNT* acc = Account_Get(name.c_str(), -1);
        int index = -1;
        if (acc && Account_IndexOf(acc, &index) == 0 && _push(index)) *queued = index;
    }
}

int _setTick(const DATETIME& now) {
    if (!g_timers) return 0;
    const int64_t delay = Schedule_TickDelayMs(now);
    if (g_timers->SetTimer(TIMER_TICK, delay, delay)) return 1;
    return g_timers->SetTimer(TIMER_TICK, 1000, 1000) ? 1 : 0;
}

void _update(int mode, bool* timerFailed);

} // namespace

void Schedule_SetInterfaces(ENGINE_UI* ui, ENGINE_TIMERS* timers, const SCHEDULE_QUEUE* queue) {
    g_ui = ui;
    g_timers = timers;
    g_queue = queue;
    g_loaded = false;
    g_keptCmds.clear();
    std::lock_guard lock(g_tickMu);
    g_lastTick = -1;
}

int Timers_Init() {
    const bool ok = g_timers && g_timers->SetTimer(TIMER_RETRY, TIMER_RETRY_MS, TIMER_RETRY_MS) &&
                    g_timers->SetTimer(TIMER_TICK, 1000, 1000);
    if (!ok) {
        UserMsg_Show("Inboxwarden", IW_N_("Inboxwarden", "Failed to initialize timer."),
                     UM_OK | UM_ICONERROR);
        return 0;
    }
    Log_Write(LOG_APP, "* timer ok.\n");
    return 1;
}

void Timers_Shutdown() {
    Timers_KillAll();
    if (!g_timers) return;
    g_timers->KillTimer(TIMER_ANIMATION);
    g_timers->KillTimer(TIMER_RETRY);
    g_timers->KillTimer(TIMER_TICK);
}

int Timer_Start(int id, int32_t value) {
    if (!g_timers) return 0;
    int64_t period;
    if (id >= TIMER_ACCOUNT_BASE)
        period = GlobalData_IntervalMs(value);
    else if (id == TIMER_ANIMATION || id == TIMER_BLINK)
        period = 1000;
    else
        period = value;
    if (period <= 0) return 0;
    return g_timers->SetTimer(id, period, period) ? 1 : 0;
}

void Timer_Stop(int id) {
    if (g_timers) g_timers->KillTimer(id);
    if (id >= TIMER_ACCOUNT_BASE) _remove(id - TIMER_ACCOUNT_BASE);
}

void Timers_KillAll() {
    QueueGuard guard(g_queue);
    if (!guard.ok()) return;
    const int n = Account_GetCount();
    for (int i = 0; i < n; ++i) {
        Timer_Stop(TIMER_ACCOUNT_BASE + i);
        if (ACCOUNT* acc = Account_Get(nullptr, i)) acc->TimerState = TS_IDLE;
    }
}

void Schedule_Update(SCHEDULE_UPDATE mode) {
    // The box waits for the UI thread, which may itself be waiting for the
    // queue lock: show it once the lock is given back.
    bool timerFailed = false;
    {
        QueueGuard guard(g_queue);
        if (!guard.ok()) return;
        _update(mode, &timerFailed);
    }
    if (timerFailed)
        UserMsg_Show(IW_N_("Inboxwarden", "Error"), IW_N_("Inboxwarden", "Failed start timer (0)"),
                     UM_OK | UM_ICONERROR);
}

namespace {

void _update(int mode, bool* timerFailed) {
    for (int i = Account_GetCount() - 1; i >= 0; --i) {
        ACCOUNT* acc = Account_Get(nullptr, i);
        if (!acc) continue;
        switch (mode) {
        case SU_START_TIMERS:
            if (acc->CheckIt && !acc->UseSchedule && acc->TimerState != TS_WAITING &&
                acc->TimerState != TS_QUEUED) {
                if (Timer_Start(TIMER_ACCOUNT_BASE + i, acc->ChkTime)) {
                    acc->TimerBase = _now();
                    acc->TimerState = TS_WAITING;
                } else {
                    *timerFailed = true;
                }
            }
            break;
        case SU_QUEUE_INCLUDED:
            if (acc->CheckIt) _push(i);
            break;
        case SU_QUEUE_ALL:
            _push(i);
            break;
        case SU_AFTER_CHECK:
            if (acc->TimerState == TS_CHECKED) _rearmChecked(acc, i);
            break;
        case SU_AFTER_CANCEL:
            if (acc->TimerState == TS_CHECKED || acc->TimerState == TS_QUEUED) {
                _remove(i);
                _rearmChecked(acc, i);
            }
            break;
        default:
            return;
        }
    }
}

} // namespace

void CheckOnStart() {
    const int64_t setting = GlobalData_GetNumber(GD_CHECKONSTART);
    if (setting == 1) {
        Account_MarkSkipped();
        Timers_KillAll();
        Schedule_Update(SU_QUEUE_INCLUDED);
    } else if (setting == 2) {
        Timers_KillAll();
        Schedule_Update(SU_QUEUE_ALL);
    }
    g_loaded = true;
    std::vector<std::string> kept;
    kept.swap(g_keptCmds);
    for (const std::string& cmd : kept) {
        Log_Write(LOG_APP, "MAIN: running the check command \"%s\" kept while loading.\n",
                  cmd.c_str());
        int queued;
        _runCheckCmd(cmd, &queued);
    }
}

int Schedule_CheckCmd(std::string_view text) {
    if (!g_loaded) {
        g_keptCmds.emplace_back(text);
        return -2;
    }
    int queued;
    _runCheckCmd(text, &queued);
    return queued;
}

void Timers_OnTimer(int id) {
    if (id >= TIMER_ACCOUNT_BASE) {
        if (!_enabled())
            Timers_KillAll();
        else
            _push(id - TIMER_ACCOUNT_BASE);
        return;
    }
    if (id == TIMER_RETRY) {
        if ((g_ui && g_ui->IsSettingsDialogOpen()) || !_hasPending() || !_enabled()) return;
        if (g_timers) g_timers->KillTimer(TIMER_RETRY);
        // The worker's start itself asks whether a connection is usable.
        _start();
        if (g_timers) g_timers->SetTimer(TIMER_RETRY, TIMER_RETRY_MS, TIMER_RETRY_MS);
        return;
    }
    if (id == TIMER_TICK) {
        const DATETIME now = _now();
        if (g_timers) g_timers->KillTimer(TIMER_TICK);
        _setTick(now);
        if (now.wMinute % 5 != 0) return;
        {
            DATETIME mark = now;
            mark.wSecond = 0;
            mark.wMilliseconds = 0;
            std::lock_guard lock(g_tickMu);
            g_lastTick = DateTime_ToTime(mark);
        }
        if (!_enabled()) return;
        QueueGuard guard(g_queue);
        if (!guard.ok()) return;
        for (int i = Account_GetCount() - 1; i >= 0; --i) {
            ACCOUNT* acc = Account_Get(nullptr, i);
            if (acc && acc->CheckIt && acc->UseSchedule &&
                Schedule_IsDue(acc->Schedule.data(), now.wHour, now.wMinute))
                _push(i);
        }
    }
}

int Schedule_OnWake() {
    const DATETIME nowDt = _now();
    const time_t now = DateTime_ToTime(nowDt);
    int queued = 0;
    Log_Write(LOG_APP, "MAIN: woken (resume or network back): timers set again.\n");
    if (_enabled() && now != -1) {
        time_t since;
        {
            std::lock_guard lock(g_tickMu);
            since = g_lastTick;
        }
        QueueGuard guard(g_queue);
        if (!guard.ok()) return 0;
        for (int i = Account_GetCount() - 1; i >= 0; --i) {
            ACCOUNT* acc = Account_Get(nullptr, i);
            if (!acc || !acc->CheckIt) continue;
            if (!acc->UseSchedule) {
                if (acc->TimerState != TS_WAITING) continue;
                const time_t base = DateTime_ToTime(acc->TimerBase);
                const int64_t interval = GlobalData_IntervalMs(acc->ChkTime);
                const int64_t left = base == -1 ? 0 : (base - now) * 1000 + interval;
                if (left <= 0 || left > interval) {
                    // Overdue, or a clock that went back: check now.
                    if (_push(i)) ++queued;
                } else if (g_timers) {
                    g_timers->SetTimer(TIMER_ACCOUNT_BASE + i, left, interval);
                }
                continue;
            }
            // Marks slept through: at most a day back, never before the last tick.
            if (since == -1) continue;
            const time_t from = std::max<time_t>(since + 300, now - 24 * 3600);
            for (time_t t = from - from % 60; t <= now; t += 60) {
                const DATETIME dt = DateTime_FromTime(t);
                if (Schedule_IsDue(acc->Schedule.data(), dt.wHour, dt.wMinute)) {
                    if (_push(i)) ++queued;
                    break;
                }
            }
        }
    }
    if (g_timers) g_timers->SetTimer(TIMER_RETRY, TIMER_RETRY_MS, TIMER_RETRY_MS);
    _setTick(nowDt);
    if (queued == 0 && _hasPending() && _enabled()) _start();
    return queued;
}

int Schedule_IsDue(const uint16_t schedule[25], int hour, int minute) {
    if (!schedule) return 0;
    if (hour == 65535 && minute == 65535) {
        for (int i = 0; i < 25; ++i)
            if (schedule[i] & 0x0FFF) return 1;
        return 0;
    }
    if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || minute % 5 != 0) return 0;
    const unsigned bit = 1u << (minute / 5);
    return (schedule[0] & bit) || (schedule[hour + 1] & bit) ? 1 : 0;
}

int64_t Schedule_TickDelayMs(const DATETIME& now) {
    return static_cast<int64_t>(5 - now.wMinute % 5) * 60000 - now.wSecond * 1000 -
           now.wMilliseconds + 1;
}

int NextCheckTimeAt(const ACCOUNT* account, const DATETIME& now, DATETIME* out) {
    if (!account || !out) return 1;
    *out = now;
    out->wMilliseconds = 0;
    if (!account->UseSchedule) {
        const DATETIME& base = account->TimerBase;
        const int64_t minutes = account->ChkTime <= 1 ? 10 : account->ChkTime;
        const int64_t total = base.wMinute + minutes;
        out->wMinute = static_cast<uint16_t>(total % 60);
        out->wHour = static_cast<uint16_t>((total / 60 + base.wHour) % 24);
        out->wSecond = base.wSecond;
        return 0;
    }
    // The first due mark strictly after the current five-minute mark: the
    // mark the tick is evaluating now counts as past.
    int hour = now.wHour;
    int minute = now.wMinute - now.wMinute % 5 + 5;
    for (int step = 0; step < 24 * 12; ++step) {
        if (minute >= 60) {
            minute = 0;
            hour = (hour + 1) % 24;
        }
        if (Schedule_IsDue(account->Schedule.data(), hour, minute)) {
            out->wHour = static_cast<uint16_t>(hour);
            out->wMinute = static_cast<uint16_t>(minute);
            out->wSecond = 0;
            return 0;
        }
        minute += 5;
    }
    return 1;
}

int NextCheckTime(const ACCOUNT* account, DATETIME* out) {
    return NextCheckTimeAt(account, _now(), out);
}
