// SPDX-License-Identifier: GPL-3.0-or-later
// Fast delete: a POP3 session of its own that deletes chosen messages by
// their unique ids at once, without a check of the account (RFC 1939: UIDL
// §7, DELE §5, QUIT §6).
//
// It has its own socket, buffer and abort, so it may run on any thread while
// the mail-check worker runs its session; it never touches Pop3Socket, the
// session buffers or CheckState. The account's server, port, SOCKS proxy,
// security (POP3S or required STLS), login type and time-out are used as the
// check uses them; an APOP account
// is never sent its password in clear. Plain C++: the caller (core) gets the
// password, runs this off the UI thread and updates the message box.
#pragma once

#include "net/socket.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Where a session to delete messages goes and how it logs in.
struct FASTPOP3_SESSION {
    std::string server;
    uint16_t port = 110;
    std::string proxyHost;   // empty: connect directly
    uint32_t proxyParam = 0; // proxy port in the low 16 bits, SOCKS version in bits 24-31
    int authType = 0;        // 1 APOP, otherwise USER/PASS
    std::string login;
    std::string password;
    int timeoutSec = 30; // each wait of the session
    // The account's transport security and certificate acceptance, as the
    // check uses them (see Pop3_ConnectSecure).
    int security = 0; // POP3_SECURITY_*
    int certPolicy = SOCK_TLS_VERIFY;
    std::string certPin;
};

// How far a session got before it failed.
enum class FastPop3Stage {
    Connect, // connecting or reading the greeting (or the greeting was "-ERR")
    Login,   // APOP, or USER and PASS
    Listing, // UIDL
    Delete,  // a DELE (a refusal of one DELE is not a failure: see refused)
    Quit,    // QUIT was not answered "+OK": the server deleted nothing
    Done,    // QUIT confirmed
};

struct FASTPOP3_REFUSAL {
    std::string number; // the message number sent with DELE
    std::string id;
    std::string reply; // the server's first line
};

struct FASTPOP3_RESULT {
    // 0 the session ended with a confirmed QUIT; ERR_OPERATION, ERR_TIMEOUT
    // or ERR_CANCELLED otherwise; ERR_BADARG for an empty id list.
    uint32_t status = 0;
    FastPop3Stage stage = FastPop3Stage::Connect;
    uint32_t sockError = 0; // the socket error behind a failure (0: the server refused)
    std::string errorText;  // the server's words or the socket's text
    // The requested ids whose DELE and the final QUIT were both answered
    // "+OK": these, and only these, are gone from the server.
    std::vector<std::string> deleted;
    std::vector<FASTPOP3_REFUSAL> refused; // DELEs answered "-ERR"
    int found = 0;                         // requested ids found in the listing
    int ambiguous = 0;     // requested ids that matched several listing lines (not deleted)
    std::string uidlReply; // the UIDL answer when it was not "+OK"
};

// Logs in, lists UIDL and sends one DELE per listing line whose id equals a
// requested id (whole string, case-sensitive; a listing id is cut to 128
// bytes on a character boundary as the message box stores it, and an id that
// matches two lines is left alone), then QUIT. The listing ends only at a
// line that is "." alone; lines that are not "number SP id" are skipped.
// Every answer is read up to its CRLF. abort (may be null) ends any wait at
// once; the session then closes without QUIT, so nothing is deleted. progress
// (may be null) is called on this thread with the phase. Returns result.status.
uint32_t FastPOP3_Delete(const FASTPOP3_SESSION& session, const std::vector<std::string>& ids,
                         FASTPOP3_RESULT* result, const SockAbort* abort = nullptr,
                         SockProgress progress = nullptr, void* context = nullptr);

// A listing line whose id was asked for.
struct FASTPOP3_MATCH {
    std::string number; // of the first line carrying the id
    std::string id;
    int lines = 0; // lines carrying it; more than 1 leaves it alone
};

// Matches a UIDL answer (its status line first) against ids, as
// FastPOP3_Delete does: the requested ids found, each once, in listing order.
// Returns true only when the listing ended with its lone "." line; a listing
// that stopped short must not be acted on.
bool FastPOP3_MatchListing(std::string_view listing, const std::vector<std::string>& ids,
                           std::vector<FASTPOP3_MATCH>* matches);

// One message box telling the user what became of a fast delete.
struct FASTPOP3_BOX {
    std::string title;
    std::string text;
};

// The boxes for a result, in the order to show them (none for a clean
// deletion or a cancel). Texts hold "\r\n" line breaks.
std::vector<FASTPOP3_BOX> FastPOP3_Boxes(const FASTPOP3_SESSION& session,
                                         const FASTPOP3_RESULT& result);
