// SPDX-License-Identifier: GPL-3.0-or-later
// The mail-check engine: the check queue and one worker thread that checks
// the queued accounts one after another (Pop3Acc_Check), brings their message
// boxes and status up to date and announces new mail through ENGINE_UI
// (engine_ui.h). It also downloads one message for the MailBox window
// (a fetch-one request).
//
// "A check runs" is one atomic state: MailCheck_Start takes it with a
// compare-exchange on the calling thread and the worker gives it back as its
// very last action, so no lock is handed between threads and two workers
// can never overlap. The queue lock guards the queue, every account's
// TimerState and the account being checked; every wait on it is limited to
// 60000 ms, and a wait that fails asks the program to shut down.
#pragma once

#include "engine/engine_ui.h"
#include "engine/pop3acc.h"

#include <cstdint>
#include <functional>

// Creates the engine objects (the queue lock among them, so that a CheckCmd
// during loading finds it) and remembers the interfaces, which must outlive
// the engine. Installs the account check's password and filter-display
// hooks. 0, or ERR_BADARG for a null interface.
uint32_t MailCheck_Init(ENGINE_UI* ui, ENGINE_TIMERS* timers);

// The other account-check collaborators (saving, bouncing); askPassword and
// display are filled from ENGINE_UI when left empty.
void MailCheck_SetCheckHooks(POP3ACC_HOOKS hooks);

// The global filter's rules were read just now: the next run uses them as
// they are, instead of reading them again at its start as every run does
// (for a process that loads its settings only to make one run).
void MailCheck_FilterJustLoaded();

// Starts a check on the calling (UI) thread:
//   request null   work through the queue (0 also when it is empty or no
//                  connection is usable: timer 153 tries again);
//   request set    a fetch-one request (CHECK_FETCH_ONE/TOP): shows the
//                  download box and returns when it closes, the worker done.
// Results: 0 started (or nothing to do; fetch-one: the message arrived),
//   ERR_OPERATION  a settings or profiles dialog is open (brought to front);
//                  fetch-one: the check failed (request->failure says why),
//   ERR_EXISTS     a check is already running,
//   ERR_CANCELLED  fetch-one: the user cancelled,
//   ERR_REFUSED    fetch-one: the server answered "-ERR" (request->failure),
//   ERR_NOT_FOUND  fetch-one: the message is no longer on the server,
//   ERR_TIMEOUT    fetch-one: the connection timed out,
//   ERR_FAILED     the worker could not be started ("Can't start the check
//                  process" shown),
//   ERR_NOT_READY  before MailCheck_Init or once MailCheck_Stop has run.
// UI thread only (it owns the worker's handle).
uint32_t MailCheck_Start(CheckRequest* request);

// Cancels (ERR_CANCELLED) or skips (ERR_SKIPPED) the running check from any
// thread; harmless when none runs.
void MailCheck_Abort(uint32_t code);

// Cancels a running check and waits until the worker has ended; the
// worker's blocking calls to the windows return at once meanwhile. Before a
// settings or profiles dialog opens (accounts may then change). The worker
// may still be inside a step that does not look at the cancel (a sound that
// plays to its end): `pump`, when given, is called about every 20 ms until
// the worker has ended, with the milliseconds waited so far, so that the
// caller's event loop runs and it can say why it waits.
void MailCheck_WaitIdle(const std::function<void(int64_t waitedMs)>& pump = {});

// Waits until the worker has ended without cancelling it (the command line).
void MailCheck_Wait();

// At shutdown, before any account is saved or freed: as MailCheck_WaitIdle,
// and the worker's blocking calls stay answered at once from here on.
void MailCheck_Stop();

// 1 from MailCheck_Start until the worker has ended, else 0.
int MailCheck_IsRunning();
// 1 while account `index` is queued or being checked, or while the run's
// end recounts every box: its box must not be changed by the windows. The
// answer holds as long as the caller keeps the queue lock (Queue_Lock): the
// worker takes it before it moves to another account or to the recount.
int MailCheck_IsBusy(int index);

// The remind-later flag of the new-mail popup ("Remind Later" sets it; an
// announcement clears it).
void MailCheck_SetRemindLater(int on);
int MailCheck_GetRemindLater();

// ---- The check queue --------------------------------------------------------
// A stack of at most 256 account indices: the last pushed is checked first,
// and pushing an account removes its earlier place.

// Takes the queue lock (recursive; at most 60000 ms). false when it could not
// be taken; the program is then asked to shut down.
bool Queue_Lock();
void Queue_Unlock();

// Under the queue lock: stops the account's timer, pushes it and sets
// TS_QUEUED; then, unless a settings or profiles dialog is open,
// MailCheck_Start (null). 1 when queued; 0 for an unknown index or a full
// queue.
int Queue_PushAndCheck(int index);
int Queue_Pop(); // -1 when empty
void Queue_Remove(int index);
int Queue_HasPending();
int Queue_Contains(int index);
// Empties the queue (tests, shutdown).
void Queue_Clear();
