// SPDX-License-Identifier: GPL-3.0-or-later
// Socket transport shared by POP3, SMTP and the message download: TCP
// connections (IPv4 and IPv6, every resolved address tried), optionally
// through a SOCKS 4 or SOCKS 5 proxy, with whole sends and bounded receives.
// A connection can carry TLS (OpenSSL) from its first byte or from an upgrade
// the protocol above asked for (STLS, STARTTLS); the handle stays the same
// int, and Sock_Send/Sock_Recv/Sock_Close go through TLS once it is on.
//
// Errors are the Winsock numbers below (0 is success); Sock_ErrorText gives
// their texts, which the rest of the program shows to the user. Sockets are
// non-blocking inside: every wait is a poll() with a time-out that also
// watches an optional SockAbort, so another thread can end any wait of a
// session at once without touching its socket. Only the thread that owns a
// socket closes it.
#pragma once

#include "common/grow_buffer.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

// The Winsock numbers this module returns (the full table is in
// Sock_ErrorText).
inline constexpr uint32_t SOCKERR_INTR = 10004;           // the wait was aborted by SockAbort
inline constexpr uint32_t SOCKERR_FAULT = 10014;          // "Bad address": no host name
inline constexpr uint32_t SOCKERR_INVAL = 10022;          // bad argument; a SOCKS proxy refused
inline constexpr uint32_t SOCKERR_MSGSIZE = 10040;        // a command line is too long
inline constexpr uint32_t SOCKERR_PROTONOSUPPORT = 10043; // SOCKS 5 greeting reply not 2 bytes
inline constexpr uint32_t SOCKERR_CONNRESET = 10054;      // the peer closed or reset the connection
inline constexpr uint32_t SOCKERR_NOBUFS = 10055;         // a receive would pass the buffer's limit
inline constexpr uint32_t SOCKERR_NOTCONN = 10057;  // no socket (handle -1); Cleanup underflow
inline constexpr uint32_t SOCKERR_TIMEDOUT = 10060; // a wait ran past its time-out
inline constexpr uint32_t SOCKERR_CONNREFUSED = 10061;
inline constexpr uint32_t SOCKERR_NAMETOOLONG = 10063; // a name over 255 bytes for SOCKS 5
inline constexpr uint32_t SOCKERR_HOST_NOT_FOUND = 11001;
inline constexpr uint32_t SOCKERR_TRY_AGAIN = 11002;
inline constexpr uint32_t SOCKERR_NO_DATA = 11004;
// Not Winsock numbers: the TLS layer's own.
inline constexpr uint32_t SOCKERR_TLS = 12001;      // the TLS negotiation or a TLS record failed
inline constexpr uint32_t SOCKERR_TLS_CERT = 12002; // the server's certificate was refused

inline constexpr int SOCK_INVALID = -1; // a socket handle that is not connected

// The SOCKS replies get this long whatever the caller's time-out.
inline constexpr int SOCK_SOCKS_TIMEOUT = 30;

// Progress report: the phase of a connection ("Initializing", "Finding host",
// "Connecting", "Connected"). The return value is ignored.
using SockProgress = int (*)(const char* text, void* context);

// A wake-up that another thread pulls to end every wait of one session (or of
// several sessions run one after another by the same owner). Waits that see
// it triggered return SOCKERR_INTR; it stays triggered until Reset().
class SockAbort {
  public:
    SockAbort();
    ~SockAbort();
    SockAbort(const SockAbort&) = delete;
    SockAbort& operator=(const SockAbort&) = delete;

    // Any thread. Wakes the owner's current wait within a poll cycle.
    void Trigger();
    // Re-arms it; the owner calls it between sessions, never during a wait.
    void Reset();
    bool Triggered() const { return m_triggered.load(std::memory_order_acquire); }
    // Readable while triggered (an eventfd; -1 if none could be made, in
    // which case waits poll the flag several times a second instead).
    int WaitFd() const { return m_fd; }

  private:
    std::mutex m_mu;
    std::atomic<bool> m_triggered{false};
    int m_fd;
};

// Counts the users of the socket library (the mail-check worker, each send
// thread). The first start also makes SIGPIPE harmless for the process.
//   Sock_Startup → 0.
//   Sock_Cleanup → 0, or SOCKERR_NOTCONN when there was no matching start.
uint32_t Sock_Startup();
uint32_t Sock_Cleanup();

// Opens a TCP connection to host:port and stores the socket in *sock.
// proxyHost null or empty connects directly; otherwise proxyParam packs the
// proxy port in its low 16 bits and the SOCKS version in bits 24-31 (5 is
// SOCKS 5, anything else SOCKS 4):
//   SOCKS 4  sends 4, 1, port (2 bytes, network order), the IPv4 address of
//            host resolved here (4 bytes), 0; reads an 8-byte reply whose
//            second byte must be 0x5A.
//   SOCKS 5  sends 5, 1, 0 and wants a reply of exactly 2 bytes (else
//            SOCKERR_PROTONOSUPPORT); then 5, 1, 0, 3, name length, host as
//            given (not resolved), port; reads the whole reply (4 bytes,
//            the bound address, 2 port bytes) whose second byte must be 0.
//   A refusing proxy gives SOCKERR_INVAL. The replies are read with
//   SOCK_SOCKS_TIMEOUT.
// Names are resolved with getaddrinfo and every address is tried in order,
// each connect attempt waiting up to timeoutSec seconds (<= 0: no time-out).
// Returns 0, SOCKERR_FAULT for a null or empty host, SOCKERR_NAMETOOLONG for
// a name over 255 bytes sent to SOCKS 5, the resolver's error (11001, 11002,
// 11004), SOCKERR_TIMEDOUT, SOCKERR_INTR when abort was triggered, or the
// connect error of the last address tried. On failure *sock is SOCK_INVALID
// and nothing is left open. progress may be null.
uint32_t Sock_Connect(int* sock, const char* host, uint16_t port, const char* proxyHost,
                      uint32_t proxyParam, SockProgress progress, void* context, int timeoutSec,
                      const SockAbort* abort = nullptr);

// Sends all length bytes, waiting up to timeoutSec (<= 0: no time-out) each
// time the socket cannot take more. Returns 0 only when every byte went out;
// else SOCKERR_NOTCONN (no socket), SOCKERR_TIMEDOUT, SOCKERR_INTR or the
// send error. A failure may leave part of the data sent.
uint32_t Sock_Send(int sock, const void* data, size_t length, int timeoutSec,
                   const SockAbort* abort = nullptr);

// The moment a wait gives up (steady clock); `none` waits without limit.
struct SockDeadline {
    bool none = true;
    std::chrono::steady_clock::time_point at{};

    // timeoutSec from now; <= 0 gives none.
    static SockDeadline In(int timeoutSec);
};

// Receives what has arrived (waiting up to timeoutSec for something; <= 0:
// no time-out) into buf at offset and stores the count in *received. The
// buffer is grown first when it has no room past offset + 1 (twice the size,
// at least 16384 more, never past its limit), and a NUL is written after the
// new bytes. Returns 0; SOCKERR_INVAL for a null buf or received;
// SOCKERR_NOTCONN for SOCK_INVALID; SOCKERR_NOBUFS when the buffer may not
// grow; SOCKERR_TIMEDOUT; SOCKERR_INTR; SOCKERR_CONNRESET when the peer has
// closed; or the receive error. *received is 0 on failure.
uint32_t Sock_Recv(int sock, GrowBuffer* buf, size_t offset, size_t* received, int timeoutSec,
                   const SockAbort* abort = nullptr);
// The same, waiting for something until deadline at the latest (bytes that
// are there already are taken even after it).
uint32_t Sock_RecvUntil(int sock, GrowBuffer* buf, size_t offset, size_t* received,
                        const SockDeadline& deadline, const SockAbort* abort = nullptr);

// The deadlines of a reply read in lines (POP3, SMTP), so that a peer
// trickling a byte now and then cannot hold a session for ever: the first
// byte must come within timeoutSec, each line must end within timeoutSec of
// its first byte, and after a line has ended the next one must end within
// timeoutSec. Construct it before the first receive of a reply; <= 0 never
// times out.
class SockLinePace {
  public:
    explicit SockLinePace(int timeoutSec)
        : m_timeoutSec(timeoutSec), m_deadline(SockDeadline::In(timeoutSec)) {}
    // For the next Sock_RecvUntil.
    const SockDeadline& Deadline() const { return m_deadline; }
    // Takes the bytes that receive brought.
    void Received(std::string_view fresh);

  private:
    int m_timeoutSec;
    bool m_started = false;
    SockDeadline m_deadline;
};

// Closes *sock (lingering off; with TLS on, a close notice is offered first
// without waiting) and sets it to SOCK_INVALID; nothing when sock is null or
// already SOCK_INVALID. Always 0. Owning thread only.
uint32_t Sock_Close(int* sock);

// ---- TLS ----------------------------------------------------------------------

// How a server's certificate is accepted.
inline constexpr int SOCK_TLS_VERIFY = 0; // a chain to the system CA store, for this host name
inline constexpr int SOCK_TLS_PINNED = 1; // exactly the certificate with the pinned fingerprint
// A fingerprint: SHA-256 of the certificate's DER bytes, 64 lower-case hex digits.
inline constexpr size_t SOCK_TLS_PIN_LENGTH = 64;

// Starts TLS (1.2 or later) as the client on a connected socket: at once for
// implicit TLS, or after the protocol's upgrade command was accepted. host is
// the name the user gave for the server: it is sent as SNI (unless it is an
// IP address) and, with SOCK_TLS_VERIFY, must match the certificate. With
// SOCK_TLS_PINNED the certificate is accepted when its fingerprint equals pin
// (ASCII case ignored) and refused otherwise, whoever issued it. The
// certificate is judged before this returns, so nothing the caller sends
// later can reach a server that was refused. The handshake waits up to
// timeoutSec in all and watches abort.
// Returns 0; SOCKERR_NOTCONN (no socket), SOCKERR_INVAL (TLS already on, a
// null host, an unknown policy), SOCKERR_TLS_CERT (refused: *errorText names
// the reason - expired, not yet valid, host name mismatch, unknown issuer,
// pin mismatch - followed by ", SHA-256 " and the fingerprint), SOCKERR_TLS
// (the negotiation failed: *errorText has OpenSSL's reason), or a transport
// error (SOCKERR_TIMEDOUT, SOCKERR_INTR, SOCKERR_CONNRESET ...; *errorText is
// its text). errorText may be null. On failure the socket stays open (the
// caller closes it) but carries nothing more.
uint32_t Sock_StartTls(int sock, const char* host, int policy, const char* pin, int timeoutSec,
                       const SockAbort* abort = nullptr, std::string* errorText = nullptr);

// Whether TLS is on for the socket.
bool Sock_IsTls(int sock);

// Whether text is a fingerprint as stored: 64 hex digits (either case).
bool Sock_IsValidPin(std::string_view text);

// The text of a Winsock number; "Unknown socket error" for anything else.
// The text is static.
const char* Sock_ErrorText(uint32_t code);

// The Winsock number for an errno value, and for a getaddrinfo() result
// (sysErrno is errno after it, read for EAI_SYSTEM).
uint32_t Sock_ErrorFromErrno(int err);
uint32_t Sock_ErrorFromResolver(int gaiError, int sysErrno);
