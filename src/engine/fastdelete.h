// SPDX-License-Identifier: GPL-3.0-or-later
// "Delete now": removes chosen messages of an account from its server at
// once (net/fastpop3.h) and brings the account's message box in line with
// what the server confirmed. The session runs on a thread of its own; the
// caller's thread only gets the password, waits (a progress box keeps the UI
// alive meanwhile) and updates the box.
#pragma once

#include "engine/pop3acc.h"
#include "net/fastpop3.h"
#include "net/socket.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class FASTDELETE_JOB;

struct FASTDELETE_OPTIONS {
    // Called on the caller's thread while the session runs; returns once
    // job.IsDone() (calling job.Cancel() first when the user cancels). The
    // MailBox window shows its progress box here. The job lives only during
    // the call. Empty: wait.
    std::function<void(FASTDELETE_JOB& job)> wait;
    // Show the outcome's boxes (FastPOP3_Boxes) through UserMsg_Show.
    bool showBoxes = true;
};

// One running session, as the waiting caller sees it.
class FASTDELETE_JOB {
  public:
    // Any thread: ends the session at once, without QUIT, so the server
    // deletes nothing.
    void Cancel() { abort_.Trigger(); }
    bool IsDone();
    // Waits up to ms milliseconds; true once the session has ended.
    bool WaitFor(int ms);
    // The phase the session reports ("Connecting", "Authorizing",
    // "Deleting messages", ...), for a progress box.
    std::string Status();

  private:
    friend uint32_t FastDelete_Run(ACCOUNT*, const std::vector<std::string>&, const CHECK_SETTINGS*,
                                   const FASTDELETE_OPTIONS&, FASTPOP3_RESULT*);
    static int onProgress(const char* text, void* context);
    void finish();

    SockAbort abort_;
    std::mutex mu_;
    std::condition_variable changed_;
    bool done_ = false;
    std::string status_;
};

// Deletes the messages with these unique ids from the account's server.
// First the account's records with those ids are marked MSG_TO_DELETE (and
// written), so that whatever happens next the following check deletes what
// this call could not. The password is got as a check gets it
// (Pop3Acc_GetPassword: stored, remembered, or asked through the check's
// askPassword hook on this thread). The session uses the account's server,
// port, login type and ChkTmout and the proxy of `settings` (null: the global
// ProxySocksServer and ProxySocksParam). Afterwards only the records whose
// ids the server confirmed (FASTPOP3_RESULT::deleted) are dropped from the box
// and the store; LastSTAT is emptied so that the next check lists the server
// again. The outcome's boxes keep the texts users know.
// Results: 0 the session ended with a confirmed QUIT (see result for what was
// deleted, refused or not found); ERR_EXISTS the account is being checked
// right now (nothing done); ERR_NOT_READY no password; ERR_CANCELLED;
// ERR_TIMEOUT or ERR_OPERATION the session failed (nothing was deleted);
// ERR_BADARG no account or no ids; ERR_FAILED no thread could be started.
// result may be null. The caller's thread (the UI thread in the program).
uint32_t FastDelete_Run(ACCOUNT* account, const std::vector<std::string>& ids,
                        const CHECK_SETTINGS* settings, const FASTDELETE_OPTIONS& options,
                        FASTPOP3_RESULT* result);
