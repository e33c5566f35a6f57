// SPDX-License-Identifier: GPL-3.0-or-later
// The account check: one POP3 session for one account that brings the
// account's message box up to date (new messages added, known ones
// confirmed, marked ones deleted on the server, the filter consulted for each
// new message), or, given a target id, fetches that one message.
//
// Runs on the mail-check worker only; the UI thread cancels or skips it
// through Pop3_Abort. Plain C++: no Qt here.
#pragma once

#include "common/grow_buffer.h"
#include "common/status.h"
#include "net/socket.h"
#include "settings/account.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// CheckRequest flags.
inline constexpr uint32_t CHECK_STOP_IF_UNCHANGED =
    0x10000;                                              // the unchanged-server shortcut may apply
inline constexpr uint32_t CHECK_TIMED = 0x20000;          // set by timer and menu checks
inline constexpr uint32_t CHECK_FETCH_ONE = 0x40000;      // fetch the message targetId
inline constexpr uint32_t CHECK_FETCH_TOP = 0x80000;      // fetch-one, only its first `lines` lines
inline constexpr uint32_t CHECK_FETCH_NO_SAVE = 0x100000; // fetch-one, do not save it to a file

// Result of a check that found the server unchanged since the last one.
inline constexpr uint32_t CHECK_UNCHANGED = 2;

// The account's CheckResult after a check that returned rc: success (an
// unchanged server and 1 included), a time-out, or any other failure.
inline CHECK_RESULT Pop3Acc_CheckResult(uint32_t rc) {
    if (rc == ERR_TIMEOUT) return CR_TIMEOUT;
    return rc == 0 || rc == 1 || rc == CHECK_UNCHANGED ? CR_OK : CR_FAILED;
}

// A check's result as the command line and the bus name it ("OK",
// "UNCHANGED", "ERR_TIMEOUT", ...).
inline const char* Pop3Acc_ResultName(uint32_t rc) {
    return rc == CHECK_UNCHANGED ? "UNCHANGED" : Status_Name(rc);
}

// The global settings a check reads.
struct CHECK_SETTINGS {
    std::string ProxySocksServer; // empty: connect directly
    uint32_t ProxySocksParam = 0; // proxy port in the low 16 bits, SOCKS version in bits 24-31
    bool AttachCheck = false;     // fetch new messages whole (to know their attachments)
    int32_t NLinesDwnLoad = 0;    // lines for a filter-requested partial download
};

struct CheckRequest {
    uint32_t flags = 0;
    ACCOUNT* account = nullptr;
    std::string targetId;         // fetch-one: the wanted message's unique id
    int32_t lines = 0;            // fetch-one with CHECK_FETCH_TOP: body lines
    GrowBuffer* result = nullptr; // fetch-one: receives the server's answer
    std::string failure;          // fetch-one: the check text when no message came
    CHECK_SETTINGS settings;
    // Called once the session is logged in, before the box is first used: the
    // box's check pass starts there, so that whatever it waits for overlaps
    // the server's greeting and login. Not called when the check ends sooner.
    std::function<void()> boxNeeded;
};

// Collaborators that live above this module (windows, the SMTP sender, the
// saved-message files). Each has a default that fails visibly in the log and
// never pretends to have done its work.
struct POP3ACC_HOOKS {
    // Asks the user for the account's POP3 password: 0 and *password, or
    // ERR_NOT_READY (nothing typed), ERR_NOMEM, ERR_CANCELLED.
    // Default: ERR_NOT_READY (no one to ask).
    std::function<uint32_t(const ACCOUNT& account, std::string* password)> askPassword;
    // Saves a message text (the server's answer, its first line included) for
    // the account into the folder of root setting GD_DWNRTDIR (downloads) or
    // GD_SPAMRTDIR (quarantine): 0 saved, 1 no folder configured, ERR_CREATE
    // not written, or another code that fails the whole check. Default:
    // SavedMsg_SaveIfNeeded.
    std::function<uint32_t(std::string_view text, ACCOUNT* account, const char* id, int rootSetting,
                           bool partial, bool quiet)>
        saveMessage;
    // Returns a message to its sender as undeliverable, without waiting for
    // the send: 0 when the send was started. Default: ERR_NOT_READY.
    std::function<uint32_t(ACCOUNT* account, std::string_view text)> bounce;
    // Shows a message now and returns once it is shown (at most 10 s): true
    // when the user saw it. Default: false (the message stays new).
    std::function<bool(ACCOUNT* account, const char* id, std::string_view text)> display;
};

// Installs the collaborators (empty members keep their defaults).
void Pop3Acc_SetHooks(POP3ACC_HOOKS hooks);

// The account's POP3 password the way a check gets it: the stored one
// (ChkPswdType 0), the one remembered from a prompt earlier in this run
// (type 1), or asked now through the askPassword hook (type 1 then remembers
// it). Returns 0 with *password (and *prompted true when the user was just
// asked: a refused login should then clear RememberedChkPswd so that the
// next attempt asks again); ERR_CANCELLED; ERR_NOMEM; ERR_NOT_READY when
// nothing was typed or no one can be asked; ERR_BADARG for null arguments.
// Runs on the calling thread: the hook's prompt may block until the user
// answers.
uint32_t Pop3Acc_GetPassword(ACCOUNT* account, std::string* password, bool* prompted);

// Runs the check of request->account. Results:
//   0              success
//   ERR_NOT_FOUND  fetch-one: the target is no longer listed
//   ERR_REFUSED    fetch-one: the server answered the RETR or TOP with
//                  "-ERR" (its words are the check text)
//   CHECK_UNCHANGED the server is unchanged since the last check; nothing done
//   ERR_NOT_READY  no password (or a bad request)
//   ERR_CANCELLED, ERR_SKIPPED  the user cancelled the whole check / skipped this account
//   ERR_TIMEOUT    the connection or the greeting timed out
//   ERR_OPERATION  any other failure, including a server that stops
//                  answering after the greeting ("Connection timed out"), a
//                  STAT answer without a message count, a listing that ended
//                  before its last line or a QUIT the server did not confirm;
//                  the text is in the check state (Pop3_GetLastError).
//                  Records the walk did not reach, and deletions the server
//                  did not commit, are kept for the next check.
// A filter save that failed for an action that requires it leaves the text
// "Filter: message save operation failed." in account->StatusText while the
// check still succeeds.
uint32_t Pop3Acc_Check(CheckRequest* request, SockProgress progress, void* context);
