// SPDX-License-Identifier: GPL-3.0-or-later
// What the mail-check engine (mailcheck.h) and the scheduler (schedule.h)
// need from the program around them: the windows, the tray, sounds, the mail
// client, and timers with a clock. These two interfaces are the engine's only
// way up: nothing in src/engine includes a window, the tray or Qt. The tray program implements both
// interfaces in its hidden main window (QTimers, queued calls); the
// command-line front implements them headless; tests record the calls and
// drive a fake clock.
//
// Threads. "UI thread" members are called only on the thread that owns the
// windows. "Worker" members are called on the mail-check worker while the UI
// thread runs its event loop:
//   - a *posted* worker call must not wait: the implementer copies what it
//     needs and hands it to the UI thread as a queued call;
//   - a *blocking* worker call hands the work to the UI thread as a queued
//     call and waits for it, each with the limit given below. While
//     UnblockWorker(true) is in force (shutdown, or a dialog waiting for the
//     worker) a blocking call in progress returns at once, and a new one
//     returns at once without queueing anything, with the "not done" answer
//     given for it. The UI thread can then join the worker without the two
//     waiting for each other.
// Members that hand over text take it by value or as a view that is valid
// only during the call: keep a copy.
#pragma once

#include "common/datetime.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

struct ACCOUNT;

// Timer ids of the main window (the periods are the scheduler's).
inline constexpr int TIMER_CLICK = 32;          // tray single-click delay (the tray's own)
inline constexpr int TIMER_ANIMATION = 151;     // check animation, 1000 ms
inline constexpr int TIMER_BLINK = 152;         // new-mail blink, 1000 ms
inline constexpr int TIMER_RETRY = 153;         // retry of queued checks, 30000 ms
inline constexpr int TIMER_TICK = 154;          // time-table tick, up to the next five-minute mark
inline constexpr int TIMER_ACCOUNT_BASE = 1000; // + account index: the account's interval

// The outcome of one fetch-one download, shared by the worker (which fills
// it) and the download progress box (which waits for it). The box looks at
// `done` when it is created and closes at once when the worker has already
// finished, so a fast failure cannot leave it waiting for a close that came
// before it existed.
struct CHECK_COMPLETION {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;       // the worker has finished with the request
    uint32_t result = 0;     // Pop3Acc_Check's result (valid once done)
    bool gotMessage = false; // the wanted message arrived

    // Called by the worker: records the result and wakes every waiter.
    void Finish(uint32_t code, bool arrived) {
        {
            std::lock_guard<std::mutex> guard(lock);
            done = true;
            result = code;
            gotMessage = arrived;
        }
        changed.notify_all();
    }
    bool IsDone() {
        std::lock_guard<std::mutex> guard(lock);
        return done;
    }
};

class ENGINE_UI {
  public:
    virtual ~ENGINE_UI() = default;

    // ---- Shutdown and dialogs (UI thread) --------------------------------

    // true: every blocking worker call returns at once (see above) until it
    // is called again with false. The engine turns it on before it waits
    // for the worker (MailCheck_Stop, MailCheck_WaitIdle) and off after a
    // MailCheck_WaitIdle.
    virtual void UnblockWorker(bool on) = 0;

    // Whether a settings or profiles dialog is open. Called on both threads:
    // the implementer keeps it in an atomic.
    virtual bool IsSettingsDialogOpen() = 0;
    // Brings the open settings or profiles dialog to the front (UI thread).
    virtual void BringSettingsDialogToFront() = 0;

    // Whether the MailBox window / a compose window is open. Called on both
    // threads: atomics on the implementer's side.
    virtual bool IsMailBoxOpen() = 0;
    virtual bool IsComposeOpen() = 0;

    // The system reports a usable connection (network present, or with
    // dial-up mode 2 a dial-up line up). Unknown counts as usable. UI thread.
    virtual bool NetworkUsable() = 0;

    // ---- Progress (worker, posted; UI thread for ProgressStart) ------------

    // Opens the modeless check progress window (UI thread, right after the
    // worker started, when ShowProgressWindow is set and the MailBox window
    // is closed).
    virtual void ProgressStart() = 0;
    // The account now being checked (posted).
    virtual void ProgressSetAccount(std::string_view accountName) = 0;
    // A status line of the running check (posted). The implementer shows it
    // in the progress window and sets the tray tooltip to "%s: %s" (account
    // name, text).
    virtual void ProgressSetStatus(std::string_view accountName, std::string_view text) = 0;
    // Closes the progress window or download box that is open; none open is
    // harmless (posted).
    virtual void ProgressClose() = 0;
    // Fetch-one (UI thread, inside MailCheck_Start): shows the modal download
    // box until `completion` is done or the user cancels (the box calls
    // MailCheck_Abort itself for Cancel). Returns 1 when closed because the
    // worker finished, 2 when cancelled.
    virtual int ProgressDownload(std::shared_ptr<CHECK_COMPLETION> completion) = 0;

    // ---- Tray (worker, posted) -------------------------------------------

    // Enables or greys the tray menu's "Cancel Check".
    virtual void SetCancelCheckEnabled(bool enabled) = 0;
    // Starts (on) or stops the check animation (timer 151, icons 120/121).
    virtual void SetCheckAnimation(bool on) = 0;
    // Starts (on) or stops the new-mail blink (timer 152, icons 125/122;
    // stopping it leaves icon 122).
    virtual void SetNewMailBlink(bool on) = 0;
    // Tray_UpdateSummary: recounts the tooltip and the icon from the account
    // table. Blocking, at most 5000 ms; the worker has stopped changing
    // boxes when it calls it.
    virtual void TrayUpdateSummary() = 0;

    // ---- Announcements (worker) ------------------------------------------

    // WM_ACCOUNT_CHECKED: the MailBox window takes in the checked account
    // (result of Pop3Acc_Check). Blocking, at most 60000 ms.
    virtual void AccountChecked(uint32_t result, ACCOUNT* account) = 0;
    // After an account's check has been taken in: the MailBox window
    // refreshes the entry of this account if it shows it. Blocking, at most 60000 ms.
    virtual void MailBoxRefresh(ACCOUNT* account) = 0;
    // WM_SHOW_MAILBOXES: open the MailBox window (tray command 40009). Posted.
    virtual void ShowMailBoxes() = 0;
    // WM_NEWMAIL_POPUP: show or update "You have %d new message(s)." with
    // this count. Blocking, at most 60000 ms.
    virtual void NewMailPopup(int count) = 0;
    // WM_FILTER_SHOW_MSG: open the message viewer on this message of the
    // account and return once it is shown, at most 10000 ms after the call.
    // true when the viewer was opened; false on time-out or while unblocked.
    virtual bool FilterShowMessage(ACCOUNT* account, std::string_view id,
                                   std::string_view text) = 0;
    // Asks the user for the account's POP3 password (the prompt of the
    // password dialog). Blocking without limit other than the user's answer
    // and UnblockWorker. 0 and *password; ERR_NOT_READY (nothing typed or
    // unblocked); ERR_CANCELLED.
    virtual uint32_t AskPassword(const ACCOUNT& account, std::string* password) = 0;
    // Plays a sound file; an empty one plays the sound theme's new-mail
    // event, a failing one gives the default beep.
    // sync: return when it has played (SndSync), else at once. Worker.
    virtual void PlaySound(std::string_view file, bool sync) = 0;
    // MailClient_Launch (account or null): starts the mail client; a failure
    // shows "Mail client not found\n(%s)". true when started. Blocking, at
    // most 60000 ms (false when unblocked).
    virtual bool LaunchMailClient(ACCOUNT* account) = 0;
    // The program must end (out of memory in a check, a queue lock that
    // could not be taken in 60000 ms). Posted; the UI thread runs the
    // normal shutdown.
    virtual void RequestShutdown() = 0;

    // ---- For outside observers (worker, posted; nothing by default) --------

    // An account's check has been recorded (result, box, status), whether
    // or not a window shows it.
    virtual void AccountDone(std::string_view /*accountName*/, uint32_t /*result*/) {}
    // A queue run (not a fetch-one) has ended: its boxes are recounted.
    virtual void RunEnded(bool /*cancelled*/) {}
};

// Timers of the main window and the clock the scheduler reads.
class ENGINE_TIMERS {
  public:
    virtual ~ENGINE_TIMERS() = default;

    // (Re)starts timer `id`: it fires first after firstMs, then every
    // periodMs, each time by a call of Timers_OnTimer(id) on the UI thread
    // (ids 32, 151 and 152 are the tray's own and go to the tray instead).
    // Setting a running timer replaces it. May be called on the worker: the
    // implementer then posts it, keeping the order of Set and Kill calls.
    // Timer 154 may fire a little early or late (it re-arms itself from the
    // clock), but not minutes late: use a precise timer for it.
    // false when the timer could not be set.
    virtual bool SetTimer(int id, int64_t firstMs, int64_t periodMs) = 0;
    // Stops timer `id`; stopping a timer that does not run is harmless. Any
    // thread, as SetTimer.
    virtual void KillTimer(int id) = 0;
    // The local time now (milliseconds included). Any thread.
    virtual DATETIME Now() = 0;
};

// What the implementer calls back (declared in mailcheck.h and schedule.h):
//   MailCheck_Init(ui, timers)          once, with the other engine objects
//                                       ("* mailsystem ok.")
//   Timers_Init() / Timers_Shutdown()   after loading / at shutdown
//   Timers_OnTimer(id)                  every firing of 153, 154 and 1000+
//   Schedule_OnWake()                   after a resume or when the network
//                                       comes back: overdue checks run and
//                                       the timers are set again
//   Schedule_CheckCmd(text)             a "CheckCmd" value (All, AllInc or an
//                                       account name); kept until loading ends
//   Schedule_Update(mode), CheckOnStart(), Timers_KillAll()
//   Queue_PushAndCheck(index), Queue_Contains(index), MailCheck_IsBusy(index)
//   MailCheck_Abort(code)               Cancel/Skip buttons, "Cancel Check"
//   MailCheck_WaitIdle()                before the settings or profiles dialog
//   MailCheck_Stop()                    at shutdown, before anything is saved
//   MailCheck_SetRemindLater(1)         the popup's "Remind Later" button
//   MailCheck_IsRunning()               "a check runs" (tooltip recount rule)
