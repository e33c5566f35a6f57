// SPDX-License-Identifier: GPL-3.0-or-later
// The SMTP client: delivers one message per call to an outgoing server (RFC
// 5321) over the socket transport, with AUTH PLAIN (RFC 4616), LOGIN or
// CRAM-MD5 (RFC 2195) when the job has a login.
//
// The message data is either written by the job's writer (mode SEND_MIME:
// header lines and MIME body, made above this layer) or taken ready-made
// (SEND_RAW). Either way it goes through one data writer that makes every
// line end CR LF, dot-stuffs (RFC 5321 §4.5.2) and never lets a line pass
// 998 octets, so no text can end DATA early or reach the server as commands.
#pragma once

#include "net/socket.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int32_t SEND_MIME = 101; // the job's writer makes the data
inline constexpr int32_t SEND_RAW = 102;  // rawText is the whole message

// SendJob::security.
inline constexpr int32_t SMTP_SECURITY_NONE = 0;
inline constexpr int32_t SMTP_SECURITY_STARTTLS = 1; // STARTTLS (RFC 3207) before anything else
inline constexpr int32_t SMTP_SECURITY_TLS = 2;      // TLS from the first byte (RFC 8314)

// Results of Smtp_SendMessage besides 0 and the Winsock numbers.
inline constexpr uint32_t SMTP_REFUSED = 0xFFFFFFFF;        // the server refused a step
inline constexpr uint32_t SMTP_UNKNOWN_AUTH = 99;           // an authentication method not 0..2
inline constexpr size_t SMTP_ERROR_TEXT_SIZE = 1025;        // bytes of SendJob::errorText
inline constexpr size_t SMTP_REPLY_LIMIT = size_t{1} << 20; // one reply may take this much

// Authentication methods (the account's SendAuthType) and the bits of
// Smtp_AuthMethods.
inline constexpr int32_t SMTP_AUTH_PLAIN = 0;
inline constexpr int32_t SMTP_AUTH_LOGIN = 1;
inline constexpr int32_t SMTP_AUTH_CRAM_MD5 = 2;
inline constexpr uint32_t SMTP_OFFERS_CRAM_MD5 = 1;
inline constexpr uint32_t SMTP_OFFERS_LOGIN = 2;
inline constexpr uint32_t SMTP_OFFERS_PLAIN = 4;

// Takes message text; returns 0 or the transport error that ends the send.
using SMTP_WRITE = std::function<uint32_t(std::string_view text)>;

// One outgoing message. Empty texts count as "none".
struct SendJob {
    std::string server;
    int32_t port = 25;
    int32_t timeout = 30; // seconds for each reply line (see SockLinePace) and blocked send
    std::string login;    // empty: HELO and no authentication; else EHLO and AUTH
    std::string password;
    int32_t authMethod = SMTP_AUTH_PLAIN;
    std::string proxyHost; // empty: connect directly
    uint32_t proxyParam = 0;
    int32_t security = SMTP_SECURITY_NONE;
    int32_t certPolicy = SOCK_TLS_VERIFY; // see Sock_StartTls
    std::string certPin;
    std::string senderAddress; // MAIL FROM
    std::string to;            // addresses as typed: separated by "<>,; "
    int32_t mode = SEND_MIME;
    std::string replyTo; // SEND_MIME: the Reply-To address
    std::string rawText; // SEND_RAW: the whole message, header included
    std::string senderName;
    std::string cc;
    std::string bcc; // recipients only: never written into the message
    std::string subject;
    // SEND_MIME: writes the header lines and the MIME body through `write`,
    // stopping at (and returning) its first failure.
    std::function<uint32_t(const SendJob& job, const SMTP_WRITE& write)> writeMessage;
    // Makes the session's connection in *sock instead of Sock_Connect to
    // server:port (returns 0 or a Winsock number); the fuzz target hands the
    // session one end of a socket pair, which leaves no port behind.
    std::function<uint32_t(int* sock)> connect;

    uint32_t result = 0;
    char errorText[SMTP_ERROR_TEXT_SIZE] = {};
    // Recipients the server (or the client, before connecting, for addresses
    // holding control characters) refused: "address: reason". With a sent
    // message these did not get it; when none was accepted the send failed.
    std::vector<std::string> refused;
    // A refusal whose reply has no words: the reply as received (NULs as
    // '?'). The client shows no box; the caller that owns a user shows it.
    std::string unknownReply;
};

// Base64 for the AUTH exchanges. The codec lives in another layer; the
// program installs it once before the first send (MailSend does). Encode
// returns unbroken text or with CR LF breaks (they are removed); decode
// returns 0 on success.
struct SMTP_CODEC {
    std::string (*encode)(std::string_view data);
    uint32_t (*decode)(std::string_view text, std::string* out);
};
void Smtp_SetCodec(const SMTP_CODEC* codec);

// Delivers the job's message. *sock holds the session's socket while it runs
// (SOCK_INVALID before and after); `abort`, when given, lets another thread
// end any wait at once, the send then failing with SOCKERR_INTR. The error
// text (always NUL-terminated) gets the reason of a failure; job->refused the
// recipients that did not get the message. Results:
//   0                  sent (possibly to only some recipients: job->refused)
//   a Winsock number   the connection failed or broke
//   SMTP_REFUSED       the server refused a step; the text is its reply
//   SMTP_REFUSED       also: no recipient was accepted. The transaction was
//                      reset (RSET, QUIT) before DATA, or nothing was sent
//                      when no address was left to try; the text is "No
//                      recipient was accepted" and, after ": ", every entry
//                      of job->refused, separated by "; "
//   SMTP_UNKNOWN_AUTH  the job's method is not 0, 1 or 2
//   SOCKERR_TLS_CERT, SOCKERR_TLS  TLS could not start (see Sock_StartTls);
//                      the text names the reason and, for a certificate,
//                      its fingerprint
//   SMTP_REFUSED       also: STARTTLS is required and the server does not
//                      offer it or refuses it (nothing else was sent)
//   SOCKERR_INVAL      also: a security choice that is none of the three
// The data's end mark is sent only when every byte before it went out.
uint32_t Smtp_SendMessage(SendJob* job, int* sock, char* errorText, size_t errorTextSize,
                          SockProgress progress, void* context, const SockAbort* abort = nullptr);

// True when `data` holds a whole reply: it ends with a line feed and its last
// line has no '-' as its fourth character (RFC 5321 §4.2.1).
bool Smtp_ReplyComplete(std::string_view data);

// Whether an EHLO reply has a "250-STARTTLS" / "250 STARTTLS" line (ignoring
// case).
bool Smtp_OffersStartTls(std::string_view ehloReply);

// Whether a step succeeded: no transport error, at least 5 characters, a
// space or '-' fourth, and a first line starting with 1, 2 or 3.
bool Smtp_ReplyOk(uint32_t transport, std::string_view reply);

// The SMTP_OFFERS_* bits of the methods an EHLO reply names on its
// "250-AUTH" / "250 AUTH" lines (ignoring case).
uint32_t Smtp_AuthMethods(std::string_view ehloReply);

// The addresses of a recipient field: the pieces between "<", ">", ",", ";"
// and spaces that contain '@' and no '"'.
std::vector<std::string> Smtp_SplitRecipients(std::string_view list);

// The Date value for `now` in local time: "Sun, 06 Dec 2026 13:05:09 +0100"
// with English names; the zone sign is '+' only when local time is ahead of
// UTC (UTC itself gives "-0000"). Cut to size and NUL-terminated.
void Smtp_DateHeader(char* buffer, size_t size, time_t now = std::time(nullptr));
