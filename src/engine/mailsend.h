// SPDX-License-Identifier: GPL-3.0-or-later
// Sending mail: the send thread around the SMTP client, the interactive send
// that the compose window waits for, and the bounce report (a fake "User
// unknown" delivery-status report) sent interactively or quietly during a
// check.
//
// Every send runs on a thread of its own. Interactive sends are waited for by
// their caller (behind the send progress box when the user interface has
// installed one); quiet sends run alone and are kept in a list so that
// MailSend_Shutdown can stop them before the settings go away. A cancel never
// touches the socket from another thread: it triggers the record's SockAbort
// and the send thread, which owns the socket, closes it. Plain C++: no Qt.
#pragma once

#include "engine/engine_ui.h"
#include "message/mime_decoder.h"
#include "net/smtp.h"
#include "settings/account.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

inline constexpr int SEND_INTERACTIVE = 0; // the caller waits and keeps the job
inline constexpr int SEND_QUIET = 1;       // thread, record and job belong to the thread

// One running send.
struct SEND_RECORD {
    SendJob* job = nullptr; // null once the interactive caller has taken it back
    void* owner = nullptr;  // the progress box's parent, handed to the UI hooks
    int mode = SEND_INTERACTIVE;
    int socket = SOCK_INVALID; // owned by the send thread
    SockAbort abort;           // any thread: ends the session's current wait
    // Interactive sends: finished by the send thread before it closes the
    // box, so a box shown after a fast failure ends at once. Quiet: null.
    std::shared_ptr<CHECK_COMPLETION> completion;
    std::thread thread;
    std::mutex mu;
    std::condition_variable cv;
    bool started = false;
    bool finished = false;
};

// The send progress box, installed by the user interface. Without it an
// interactive send just waits for its thread. Quiet sends have no box and
// never reach these hooks.
struct MAILSEND_UI {
    // Shows the box modally over `owner` with `text` (the server's name) until
    // `completion` is done (at once when it is done already) or the user
    // cancels. True when the user cancelled.
    std::function<bool(void* owner, const char* text, std::shared_ptr<CHECK_COMPLETION> completion)>
        run;
    // Puts a progress text into the owner's box (from the send thread).
    std::function<void(const char* text, void* owner)> setStatus;
    // Closes the owner's box (from the send thread, after the completion).
    std::function<void(void* owner)> close;
};
void MailSend_SetUi(MAILSEND_UI ui);

// Copies the account's outgoing security (SendSecurity, SendCertPolicy,
// SendCertPin) into the job.
void MailSend_UseAccountSecurity(SendJob* job, const ACCOUNT& account);

// Makes a SEND_MIME job write `message` (which must outlive the send) after
// the header lines from the job's fields, a Date, and a Message-ID.
void MailSend_UseMessage(SendJob* job, const MimeMessage* message);

// Starts the send thread and returns once it runs.
//   0              running; mode SEND_INTERACTIVE hands the record out through
//                  *record (free it with _freeSendRecord after the thread has
//                  ended, which MailSend_Send does)
//   ERR_BADARG     no job, or SEND_INTERACTIVE without record
//   ERR_NOT_READY  shutdown has begun (a quiet job is freed)
//   ERR_OPERATION  the thread could not be started; the job's result is set
//                  to it in interactive mode, a quiet job is freed
// In quiet mode the job must come from new; the thread deletes it.
uint32_t _startSendProcess(SendJob* job, void* owner, int mode, SEND_RECORD** record);

// The thread body: Smtp_SendMessage into the job, progress box closed, quiet
// leftovers freed. The proxy was copied into the job from the global
// settings (when loaded) by _startSendProcess, on the caller's thread.
void _sendProcess(SEND_RECORD* record);

// Joins an interactive record's thread and frees the record (not the job).
void _freeSendRecord(SEND_RECORD* record);

// The interactive send of the compose window: runs the job on a send thread
// behind the progress box and waits for it (cancel aborts the session).
// 0 when sent; ERR_OPERATION otherwise (the job's result is then set to it
// and its error text holds the reason); a start failure of _startSendProcess.
// job->refused lists recipients that did not get a sent message.
uint32_t MailSend_Send(void* owner, SendJob* job);

// Answers `text` (a whole received message as the POP3 session delivered it)
// with a "Returned mail: User unknown" report to its sender, through the
// account's outgoing server. Interactive (quiet 0): waits; quiet (1): returns
// once the send thread runs.
//   0              sent (interactive) / the thread is running (quiet)
//   ERR_BADARG     no account or text
//   ERR_NOT_READY  no outgoing server, no Email or one without '@', or
//                  shutdown has begun
//   ERR_NOT_FOUND  no Return-Path, Reply-To or From field
//   ERR_OPERATION  the send failed or its thread could not start
// When given, *why receives the reason of an interactive send that failed
// (the SMTP client's error text), so the caller can tell the user.
uint32_t MailSend_Bounce(void* owner, ACCOUNT* account, std::string_view text, int quiet,
                         std::string* why = nullptr);

// The report text MailSend_Bounce sends, and the job that would carry it
// (for tests and for a caller that wants to show it first). `now` fixes the
// dates. Returns 0 or a code as above; *report and *job are valid on 0.
uint32_t MailSend_BuildBounce(const ACCOUNT& account, std::string_view text, time_t now,
                              std::string* report, SendJob* job);

// The account check's bounce collaborator (POP3ACC_HOOKS::bounce): a quiet
// MailSend_Bounce without an owner window.
std::function<uint32_t(ACCOUNT*, std::string_view)> MailSend_QuietBounceHook();

// Stops every send still running: aborts their sessions, refuses new ones,
// and waits up to timeoutMs for the quiet threads to end. Call it before the
// settings and logs are freed. Returns the number of quiet sends that did
// not end in time (they are left running).
int MailSend_Shutdown(int timeoutMs = 5000);

// Number of quiet sends running now.
int MailSend_QuietCount();

// Lets sends start again after MailSend_Shutdown (tests, a restart in place).
void MailSend_Restart();
