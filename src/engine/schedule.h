// SPDX-License-Identifier: GPL-3.0-or-later
// The check scheduler: when accounts are checked. Every account follows
// either its own interval timer (ChkTime minutes, timer 1000 + index) or its
// time table (UseSchedule, Schedule), which the five-minute tick (timer 154)
// evaluates; timer 153 retries every 30 s a queued check that could not start.
// Timers only push accounts on the check queue of mailcheck.h, which starts
// the worker. Timers and the clock come from ENGINE_TIMERS (engine_ui.h).
//
// Timer events, CheckOnStart, Schedule_CheckCmd and Schedule_OnWake run on
// the UI thread; Schedule_Update also runs on the worker (SU_START_TIMERS,
// SU_AFTER_CHECK and SU_AFTER_CANCEL after a check). Account TimerStates change only under the
// queue lock.
#pragma once

#include "common/datetime.h"

#include <cstdint>
#include <string_view>

struct ACCOUNT;

// Account TimerState values.
inline constexpr int32_t TS_IDLE = 555;    // no timer
inline constexpr int32_t TS_WAITING = 556; // interval timer running since TimerBase
inline constexpr int32_t TS_QUEUED = 557;  // in the check queue
inline constexpr int32_t TS_CHECKED = 558; // checked, to be rescheduled

inline constexpr int64_t TIMER_RETRY_MS = 30000;

// Starts timers 153 and 154 (154 first after 1000 ms) and logs "* timer
// ok.\n". 1, or 0 after showing "Failed to initialize timer.". Needs
// MailCheck_Init first.
int Timers_Init();
// Timers_KillAll and stops 151, 153 and 154.
void Timers_Shutdown();

// Starts timer `id`: 151 and 152 with 1000 ms, other ids below 1000 with
// `value` ms, account timers with `value` minutes (GlobalData_IntervalMs).
// 1 when set, 0 when not (no timers, or the implementer refused).
int Timer_Start(int id, int32_t value);
// Stops a timer; an account timer's account also leaves the check queue.
void Timer_Stop(int id);
// Under the queue lock: stops every account timer and sets every TimerState
// to TS_IDLE.
void Timers_KillAll();

// One firing of timer 153, 154 or 1000 + index (other ids are ignored).
void Timers_OnTimer(int id);

// What Schedule_Update does to each account.
enum SCHEDULE_UPDATE : int {
    // Accounts with CheckIt and no time table that are neither waiting nor
    // queued get their interval timer.
    SU_START_TIMERS = 0,
    SU_QUEUE_INCLUDED = 1, // queue every account with CheckIt
    SU_QUEUE_ALL = 2,      // queue every account
    // After a check: TS_CHECKED accounts get their timer again (TS_WAITING)
    // or, without CheckIt or with a time table, become TS_IDLE.
    SU_AFTER_CHECK = 3,
    // After a cancelled check: as SU_AFTER_CHECK for TS_CHECKED and
    // TS_QUEUED accounts, which first leave the queue.
    SU_AFTER_CANCEL = 4,
};

// Reschedules every account, from the last to the first, under the queue
// lock, as `mode` says.
void Schedule_Update(SCHEDULE_UPDATE mode);

// Check On Start after the boxes are loaded (setting 1: skip the accounts
// left out of automatic checks, queue the others; 2: queue all), then the
// CheckCmds that arrived while loading, in their order. From here on
// Schedule_CheckCmd acts at once.
void CheckOnStart();

// A "CheckCmd" text: "All" (any case) queues every account, "AllInc" the
// included ones, anything else the account of that name (ignoring case).
// Before CheckOnStart the text is kept and run after it. Returns the index of
// the named account queued, -1 for All/AllInc, -2 for an unknown name or a
// kept command.
int Schedule_CheckCmd(std::string_view text);

// After a resume from suspend or when the network comes back. With "Enabled"
// set: accounts whose interval ran out meanwhile are queued, the others get
// their timer again for the time left; accounts on a time table with a due
// mark since the last tick are queued. Timers 153 and 154 are set again in
// any case. Returns the number of accounts queued.
int Schedule_OnWake();

// 1 when minute is a multiple of 5, hour < 24 and bit minute/5 is set in mask
// 0 or in mask hour+1. With hour and minute both 65535: 1 when any bit of
// the table is set.
int Schedule_IsDue(const uint16_t schedule[25], int hour, int minute);

// The delay from `now` to just after the next five-minute mark (300001 ms at
// a mark itself).
int64_t Schedule_TickDelayMs(const DATETIME& now);

// The next check of an account, for "Next check:": its interval from
// TimerBase, or the first due five-minute mark after the current one (within
// 24 hours) of its time table. 0 with hour, minute and second set in *out
// (the other fields are those of now), or 1 when the time table is empty.
int NextCheckTime(const ACCOUNT* account, DATETIME* out);
// NextCheckTime at a given local time (for callers that hold one).
int NextCheckTimeAt(const ACCOUNT* account, const DATETIME& now, DATETIME* out);

// The check queue as the scheduler reaches it: the scheduler decides what
// is due, the queue and its worker (mailcheck) run it. Functions of the
// Queue_* and MailCheck_* contracts.
struct SCHEDULE_QUEUE {
    bool (*lock)();
    void (*unlock)();
    int (*pushAndCheck)(int index); // 1 when queued
    void (*remove)(int index);
    int (*hasPending)();
    void (*start)(); // start the worker on what is queued, when it can run
};

// Holds the lock of `queue` for a scope. ok() is false when it could not be
// taken (no queue, or the wait ran out): then nothing is held or released.
class QueueGuard {
  public:
    explicit QueueGuard(const SCHEDULE_QUEUE* queue)
        : queue_(queue && queue->lock() ? queue : nullptr) {}
    ~QueueGuard() {
        if (queue_) queue_->unlock();
    }
    QueueGuard(const QueueGuard&) = delete;
    QueueGuard& operator=(const QueueGuard&) = delete;
    bool ok() const { return queue_ != nullptr; }

  private:
    const SCHEDULE_QUEUE* queue_;
};

// The windows, timers and queue the scheduler uses (MailCheck_Init passes
// them; `queue` must outlive the scheduler's use).
class ENGINE_UI;
class ENGINE_TIMERS;
void Schedule_SetInterfaces(ENGINE_UI* ui, ENGINE_TIMERS* timers, const SCHEDULE_QUEUE* queue);
