// SPDX-License-Identifier: GPL-3.0-or-later
// POP3 session (RFC 1939): connects (through the socket transport, with its
// SOCKS support), sends one command at a time, reads one response at a time
// and classifies it, and keeps the check's error state. The account check
// drives the dialogue on top of this.
//
// There is one process-wide session: Pop3Socket with its two buffers. They
// and everything below belong to the mail-check worker. Another thread may
// only call Pop3_Abort and read CheckState. Session lines go to the category
// log (LOG_POP3); a password never does.
#pragma once

#include "common/grow_buffer.h"
#include "net/socket.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

class Pop3Pipeline;

// Pop3_ErrorText codes of the APOP login (small positive results, apart from
// the socket numbers).
inline constexpr uint32_t POP3_APOP_UNSUPPORTED = 1; // the greeting offers no timestamp
inline constexpr uint32_t POP3_APOP_FAILED = 2;      // the server refused the APOP login
inline constexpr uint32_t POP3_STLS_UNAVAILABLE = 3; // STLS is required but not offered or refused

// Transport security of a session (the account's ChkSecurity).
inline constexpr int POP3_SECURITY_NONE = 0;
inline constexpr int POP3_SECURITY_STLS = 1; // STLS (RFC 2595) before the login, required
inline constexpr int POP3_SECURITY_TLS = 2;  // TLS from the first byte (POP3S)

struct Pop3Security {
    int mode = POP3_SECURITY_NONE;
    int certPolicy = SOCK_TLS_VERIFY; // see Sock_StartTls
    std::string certPin{};
};

// Capabilities a CAPA listing (RFC 2449) names.
inline constexpr uint32_t POP3_CAPA_STLS = 1;
inline constexpr uint32_t POP3_CAPA_UIDL = 2;
inline constexpr uint32_t POP3_CAPA_TOP = 4;
inline constexpr uint32_t POP3_CAPA_PIPELINING = 8;
inline constexpr uint32_t POP3_CAPA_USER = 16;

// Modes of Pop3_SendCMD and Pop3_Command.
inline constexpr int POP3_SINGLE_LINE = 1;
inline constexpr int POP3_MULTI_LINE = 2; // "+OK" answers end with CRLF "." CRLF

// What one response may take in either session buffer; more gives
// SOCKERR_NOBUFS, which fails that account only.
inline constexpr size_t POP3_BUFFER_LIMIT = size_t{64} << 20;
// A message buffer larger than this is freed after each account.
inline constexpr size_t POP3_KEEP_BUFFER = 65536;

inline constexpr size_t CHECK_ERROR_TEXT_SIZE = 96; // 95 bytes and a NUL

// The session socket (SOCK_INVALID between sessions).
extern int Pop3Socket;
// Greeting, login and STAT (the account check reads its listings into
// buffers of its own, freed after each check).
extern GrowBuffer Pop3SessionBuffer;
// TOP, RETR, LIST n and DELE responses.
extern GrowBuffer Pop3MessageBuffer;

// Result of the current check: 0, 2 (server unchanged), or a status code of
// common/status.h. Written by the worker and by Pop3_Abort from the UI thread.
extern std::atomic<uint32_t> CheckState;
// The text beside a failure in CheckState (worker only; read it through
// Pop3_GetLastError).
extern char CheckErrorText[CHECK_ERROR_TEXT_SIZE];

// ---- Check state and cancellation -----------------------------------------

// Before a worker run starts: CheckState 0, no text, the abort re-armed. A cancel
// from an earlier run must not end every later check at once.
void Pop3_ResetCheckState();

// Starts one account's check: closes a session left open (without QUIT);
// then a pending cancel returns ERR_CANCELLED with "Operation canceled" as the
// text, and anything else (a skip of the previous account included) is
// cleared and the abort re-armed, returning 0.
uint32_t Pop3_BeginCheck();

// From any thread. ERR_CANCELLED or ERR_SKIPPED: stores the code in
// CheckState (a pending cancel is not turned into a skip) and wakes whatever
// the worker is waiting for; its wait fails with SOCKERR_INTR within a poll
// cycle and the worker closes its own socket. Returns 0. Any other code does
// nothing and is returned unchanged.
uint32_t Pop3_Abort(uint32_t code);

// Records a failure: closes the session without QUIT; if the user cancelled
// or skipped, keeps that code with the text "Operation canceled"; otherwise
// stores code with text (cut to 95 bytes on a UTF-8 boundary; null gives
// "No memory." for ERR_NOMEM and "UNKNOWN error" otherwise). Returns what
// CheckState now holds.
uint32_t Pop3_SetError(const char* text, uint32_t code);

// Copies CheckErrorText, or "No errors" when CheckState is 0 or 2, into text
// (at most length - 1 bytes, cut on a UTF-8 boundary, NUL-terminated; text
// may be null when length is 0). Returns CheckState.
uint32_t Pop3_GetLastError(char* text, size_t length);

// After an account: frees the message buffer when it has grown past
// POP3_KEEP_BUFFER; smaller ones are kept for the next check.
void Pop3_ReleaseBuffers();

// ---- Session ----------------------------------------------------------------
// The functions below take the socket, buffer and abort they work on, so
// that a second session (fast delete) can run beside the check's: the
// default abort is the process-wide session's, which Pop3_Abort triggers.

const SockAbort* Pop3_SessionAbort();

// Connects to server:port (directly or through the SOCKS proxy of
// proxyHost/proxyParam, see Sock_Connect), waiting up to timeoutSec for each
// step, and reads the greeting line into buf. Returns 0 with the socket in
// *sock and the greeting in buf (which may be "-ERR ..." - the caller
// classifies it); SOCKERR_FAULT for a null server; otherwise a socket error
// (SOCKERR_TIMEDOUT for a connect or greeting time-out, SOCKERR_INTR after
// Pop3_Abort), with *sock SOCK_INVALID.
uint32_t Pop3_Connect(int* sock, const char* server, uint16_t port, int timeoutSec,
                      const char* proxyHost, uint32_t proxyParam, GrowBuffer* buf,
                      SockProgress progress, void* context,
                      const SockAbort* abort = Pop3_SessionAbort());

// Sends "command[ argument]" CRLF and, when buf is given, reads the response
// into buf from offset 0 (multi-line for POP3_MULTI_LINE, else one line).
// argument may be null. Returns 0 or a socket error; SOCKERR_MSGSIZE for a
// line over 241 bytes and SOCKERR_INVAL for one holding CR or LF (neither is
// sent). PASS is logged as the word and "XXXXXXXX".
uint32_t Pop3_SendCMD(int sock, const char* command, const char* argument, int mode,
                      GrowBuffer* buf, int timeoutSec,
                      const SockAbort* abort = Pop3_SessionAbort());

// Reads one response into buf from offset 0, NUL-terminated: until it ends
// with the terminator, or after one read when terminator is null or empty.
// A response starting with '-' is one line whatever the terminator. Each line
// must arrive within timeoutSec as SockLinePace counts it, however steadily
// its bytes trickle in. Returns 0 or the socket error (SOCKERR_TIMEDOUT;
// SOCKERR_NOBUFS when it outgrows the buffer's limit).
uint32_t Pop3_GetMessage(int sock, GrowBuffer* buf, int timeoutSec, const char* terminator,
                         size_t terminatorLength, const SockAbort* abort = Pop3_SessionAbort());

// Connects like Pop3_Connect and secures the session as sec asks before
// anything else is sent: POP3_SECURITY_TLS starts TLS before the greeting;
// POP3_SECURITY_STLS reads the greeting, asks CAPA and, unless a CAPA
// listing lacks STLS, sends STLS and starts TLS on "+OK". With TLS on, buf
// holds the greeting again (the one line the server sent first, which is
// what APOP needs). A greeting that is not "+OK" is returned as it is (0:
// the caller classifies it) and nothing is sent. Results besides
// Pop3_Connect's:
//   POP3_STLS_UNAVAILABLE  STLS is required but CAPA does not list it, the
//                          server refused it, or sent more than its answer
//                          before TLS began
//   SOCKERR_TLS_CERT, SOCKERR_TLS  see Sock_StartTls
//   SOCKERR_INVAL          sec.mode is none of the three (nothing is sent)
// On failure the session is closed, nothing else was sent (no credential
// ever goes out in clear) and *errorText, when given, is the text to show
// (the certificate's reason and fingerprint for SOCKERR_TLS_CERT).
uint32_t Pop3_ConnectSecure(int* sock, const char* server, uint16_t port, int timeoutSec,
                            const char* proxyHost, uint32_t proxyParam, const Pop3Security& sec,
                            GrowBuffer* buf, SockProgress progress, void* context,
                            std::string* errorText, const SockAbort* abort = Pop3_SessionAbort());

// CAPA (RFC 2449 §5): 0 and the POP3_CAPA_* bits of the listing in *caps;
// ERR_REFUSED when the server answers "-ERR" (an older server: nothing is
// known); else the socket error. The listing is read into buf.
uint32_t Pop3_Capa(int sock, GrowBuffer* buf, int timeoutSec, uint32_t* caps,
                   const SockAbort* abort = Pop3_SessionAbort());

// The POP3_CAPA_* bits of a CAPA answer ("+OK" line, capability lines, "."):
// each line's first word, ignoring case; anything else is ignored.
uint32_t Pop3_ParseCapa(std::string_view listing);

// Logs in on an open session whose greeting line is `greeting` (RFC 1939
// §7): authType 1 sends APOP with the digest of Pop3_ApopArgument, anything
// else USER and PASS. The answers are read into buf. Returns 0 once the
// server accepted, else
//   ERR_OPERATION  *errorText is what to show: the APOP texts of
//                  Pop3_ErrorText (no timestamp, or APOP refused), the
//                  server's first line for a refused USER or PASS, or the
//                  socket's text for a transport failure
//   ERR_TIMEOUT    no answer within timeoutSec (*errorText the socket's text)
// An APOP account never falls back to USER/PASS. The session stays open
// whatever the result; the caller closes it.
uint32_t Pop3_Login(int sock, GrowBuffer* buf, int timeoutSec, int authType,
                    std::string_view greeting, std::string_view login, std::string_view password,
                    std::string* errorText, const SockAbort* abort = Pop3_SessionAbort());

// Classifies a response: 1 for "+OK" (*text after "+OK" and its space), 0 for
// "-ERR" (*text after "-ERR" and its space), 0 for anything else (*text is
// "UNKNOWN POP3 response"). *text points into response (or at a static text).
int Pop3_ParseResponse(const char* response, const char** text);

// POP3_APOP_UNSUPPORTED and POP3_APOP_FAILED have their own texts; anything
// else is Sock_ErrorText(code). The text is static.
const char* Pop3_ErrorText(uint32_t code);

// Closes *sock; first sends "QUIT" without reading the answer when sendQuit
// is non-zero. Always 0. Use Pop3_QuitAndConfirm where it matters whether the
// server committed its deletions.
uint32_t Pop3_Quit(int* sock, int sendQuit);

// Sends QUIT on the session, reads the answer within timeoutSec into buf and
// closes the session. A server deletes messages only when it answers QUIT
// with "+OK" (RFC 1939 §6), so 0 means the DELEs of this session took effect.
// Otherwise returns what Pop3_Command returns for a failure (ERR_OPERATION
// with the server's or the socket's words, or the user's cancel or skip).
uint32_t Pop3_QuitAndConfirm(int timeoutSec, GrowBuffer* buf, Pop3Pipeline* pipe = nullptr);

// Commands in flight on a server that advertised PIPELINING (RFC 2449 §6).
// The caller plans the commands it expects to send, in order; a command it
// then asks for is answered from the pipeline when planned (planned ones it
// skipped are dropped: their answers are read and thrown away), and sent
// after those in flight when not. So the commands go out in the order asked,
// only earlier, and the answers are read in the order sent.
//
// Never more than kWindowBytes of commands are unanswered: they fit the
// socket buffers whatever the server does, so a send never waits on a server
// that is itself waiting for its answers to be read. Answers read ahead of the
// one asked for are kept, within the buffer limit in all. One per session;
// it holds the socket by address, so a session closed under it (an abort, an
// error) fails its next wait rather than touching another socket.
class Pop3Pipeline {
  public:
    static constexpr size_t kWindowBytes = 2048;

    Pop3Pipeline(int* sock, int timeoutSec, const SockAbort* abort = Pop3_SessionAbort());

    // Queues "command[ argument]" (checked as Pop3_SendCMD checks it; a bad
    // line is not planned and fails when asked for).
    void Plan(const char* command, const char* argument, int mode);
    // As Pop3_SendCMD with a buffer: the answer in buf from offset 0,
    // NUL-terminated, or a socket error (the session is then unusable).
    uint32_t Command(const char* command, const char* argument, int mode, GrowBuffer* buf);
    // Forgets every planned command not yet asked for (those sent are still
    // answered, and their answers thrown away).
    void DropPlanned();

  private:
    enum class State { Queued, Sent, Dropped, Kept };
    struct Entry {
        std::string line; // with CRLF
        int mode;
        State state;
        size_t cost; // bytes it holds in the window while unanswered
        std::string answer;
    };
    uint32_t answerOf(size_t index, GrowBuffer* buf);
    uint32_t sendMore();
    uint32_t readNext(int mode, size_t* length);

    int* m_sock;
    int m_timeoutSec;
    const SockAbort* m_abort;
    std::deque<Entry> m_entries; // in the order they go on the wire
    size_t m_inFlight = 0;       // bytes of the window taken
    size_t m_kept = 0;           // bytes of kept answers
    GrowBuffer m_in{POP3_BUFFER_LIMIT};
    size_t m_start = 0; // the unread answers are m_in[m_start, m_end)
    size_t m_end = 0;
    size_t m_scanned = 0; // how far the answer at m_start was searched for its end
};

// Sends a command on the session and classifies the answer:
//   0              "+OK"; *text follows "+OK" and its space, inside buf
//   ERR_REFUSED    "-ERR" or an unknown answer and failOnErr is 0; nothing is
//                  recorded, the session stays open, *text is the server's
//                  words (or "UNKNOWN POP3 response")
//   ERR_OPERATION  the same with failOnErr non-zero: the server's first line
//                  becomes the check text; or a transport failure, whose
//                  socket text becomes the check text ("Connection timed
//                  out" when the answer did not come in time: only a connect
//                  or greeting time-out is ERR_TIMEOUT)
//   ERR_CANCELLED, ERR_SKIPPED  the user aborted (text "Operation canceled")
// Every result but 0 and ERR_REFUSED has closed the session (Pop3_SetError).
// Without buf no answer is read and 0 means the command was sent.
// With pipe, the command goes through it (buf is then required).
uint32_t Pop3_Command(int timeoutSec, GrowBuffer* buf, const char* command, const char* argument,
                      int mode, int failOnErr, const char** text, Pop3Pipeline* pipe = nullptr);

// The APOP argument (RFC 1939 §7) for a greeting: "login" SP 32 hex digits of
// MD5(timestamp password), where the timestamp is the greeting's first '<' up
// to the first '>' after it, brackets included. Returns 0 and sets *argument,
// or POP3_APOP_UNSUPPORTED when the greeting has no '<' or no '>' after it:
// an APOP account is then refused rather than sent the password in clear.
uint32_t Pop3_ApopArgument(std::string_view greeting, std::string_view login,
                           std::string_view password, std::string* argument);
