// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/pop3.h"

#include "common/status.h"
#include "common/text.h"
#include "common/translate.h"
#include "net/md5.h"
#include "platform/log.h"

#include <algorithm>
#include <cstring>
#include <mutex>

int Pop3Socket = SOCK_INVALID;
GrowBuffer Pop3SessionBuffer(POP3_BUFFER_LIMIT);
GrowBuffer Pop3MessageBuffer(POP3_BUFFER_LIMIT);
std::atomic<uint32_t> CheckState{0};
char CheckErrorText[CHECK_ERROR_TEXT_SIZE] = "";

namespace {

// Wakes the worker's socket waits; see Pop3_Abort.
SockAbort g_abort;
// Keeps Pop3_Abort's store-and-wake apart from the worker re-arming the
// abort, so a cancel can never be stored and then drained unseen.
std::mutex g_abortMutex;

// Bytes of a response that reach the log: enough to see what the server
// said without copying a whole message into the log for every read.
constexpr int kLogBytes = 256;

// The longest command line before CRLF; callers never build one from valid
// account data.
constexpr size_t kMaxLine = 241;

constexpr const char* kCanceledText = IW_N_("Inboxwarden", "Operation canceled");

bool _isAbortCode(uint32_t code) {
    return code == ERR_CANCELLED || code == ERR_SKIPPED;
}

void _setText(std::string_view text) {
    const std::string_view cut = Text_CutUtf8(text, CHECK_ERROR_TEXT_SIZE - 1);
    std::memcpy(CheckErrorText, cut.data(), cut.size());
    CheckErrorText[cut.size()] = '\0';
}

int _logLength(size_t n) {
    return static_cast<int>(std::min<size_t>(n, kLogBytes));
}

// The line as the log may show it: a password stays out.
std::string _loggedLine(const char* command, const std::string& line) {
    if (Text_EqualsNoCase(command, "PASS")) return std::string(command) + " XXXXXXXX";
    return line;
}

} // namespace

// ---------------------------------------------------------------- check state

void Pop3_ResetCheckState() {
    std::lock_guard lock(g_abortMutex);
    CheckState.store(0);
    CheckErrorText[0] = '\0';
    g_abort.Reset();
}

uint32_t Pop3_BeginCheck() {
    Sock_Close(&Pop3Socket);
    std::lock_guard lock(g_abortMutex);
    if (CheckState.load() == ERR_CANCELLED) {
        _setText(kCanceledText);
        return ERR_CANCELLED;
    }
    CheckState.store(0);
    g_abort.Reset();
    return 0;
}

uint32_t Pop3_Abort(uint32_t code) {
    if (!_isAbortCode(code)) return code;
    std::lock_guard lock(g_abortMutex);
    if (!(code == ERR_SKIPPED && CheckState.load() == ERR_CANCELLED)) CheckState.store(code);
    g_abort.Trigger();
    return 0;
}

uint32_t Pop3_SetError(const char* text, uint32_t code) {
    Sock_Close(&Pop3Socket);
    // Pop3_Abort may store its code at any moment; it must win over the
    // failure its own wake-up caused.
    uint32_t state = CheckState.load();
    while (!_isAbortCode(state)) {
        if (CheckState.compare_exchange_weak(state, code)) {
            _setText(text                ? text
                     : code == ERR_NOMEM ? IW_N_("Inboxwarden", "No memory.")
                                         : IW_N_("Inboxwarden", "UNKNOWN error"));
            return code;
        }
    }
    _setText(kCanceledText);
    return state;
}

uint32_t Pop3_GetLastError(char* text, size_t length) {
    const uint32_t state = CheckState.load();
    if (text && length > 0) {
        const std::string_view from =
            state == 0 || state == 2 ? IW_N_("Inboxwarden", "No errors") : CheckErrorText;
        const std::string_view cut = Text_CutUtf8(from, length - 1);
        std::memcpy(text, cut.data(), cut.size());
        text[cut.size()] = '\0';
    }
    return state;
}

void Pop3_ReleaseBuffers() {
    if (Pop3MessageBuffer.Capacity() > POP3_KEEP_BUFFER) Pop3MessageBuffer.Release();
}

// ---------------------------------------------------------------- session

const SockAbort* Pop3_SessionAbort() {
    return &g_abort;
}

uint32_t Pop3_Connect(int* sock, const char* server, uint16_t port, int timeoutSec,
                      const char* proxyHost, uint32_t proxyParam, GrowBuffer* buf,
                      SockProgress progress, void* context, const SockAbort* abort) {
    Log_Write(LOG_POP3, "POP3: Connecting to Server \"%s\":%d *****\n", server ? server : "(null)",
              port);
    if (!sock || !buf) return SOCKERR_INVAL;
    *sock = SOCK_INVALID;
    if (!server) return SOCKERR_FAULT;
    if (const uint32_t rc = Sock_Connect(sock, server, port, proxyHost, proxyParam, progress,
                                         context, timeoutSec, abort))
        return rc;
    const uint32_t rc = Pop3_GetMessage(*sock, buf, timeoutSec, "\r\n", 2, abort);
    if (rc != 0) Sock_Close(sock);
    const char* greeting = rc == 0 ? buf->Data() : "";
    Log_Write(LOG_POP3, "POP3: Server reply: \"%.*s\"\n",
              _logLength(std::strcspn(greeting, "\r\n")), greeting);
    return rc;
}

namespace {

// STLS on a session whose greeting was "+OK": CAPA first where the server
// knows it, then the upgrade.
uint32_t _startTls(int sock, const char* server, const Pop3Security& sec, GrowBuffer* buf,
                   int timeoutSec, std::string* errorText, const SockAbort* abort) {
    uint32_t caps = 0;
    const uint32_t capa = Pop3_Capa(sock, buf, timeoutSec, &caps, abort);
    if (capa != 0 && capa != ERR_REFUSED) return capa;
    if (capa == 0 && !(caps & POP3_CAPA_STLS)) {
        Log_Write(LOG_POP3, "POP3: STLS required, but CAPA does not list it\n");
        return POP3_STLS_UNAVAILABLE;
    }
    if (const uint32_t rc =
            Pop3_SendCMD(sock, "STLS", nullptr, POP3_SINGLE_LINE, buf, timeoutSec, abort))
        return rc;
    if (Pop3_ParseResponse(buf->Data(), nullptr) != 1) return POP3_STLS_UNAVAILABLE;
    // Bytes after the answer came before TLS, from anyone on the path; taken
    // as the server's they would be read as answers to commands sent later.
    if (std::strlen(buf->Data()) != std::strcspn(buf->Data(), "\n") + 1) {
        Log_Write(LOG_POP3, "POP3: data after the STLS answer, before TLS\n");
        return POP3_STLS_UNAVAILABLE;
    }
    return Sock_StartTls(sock, server, sec.certPolicy, sec.certPin.c_str(), timeoutSec, abort,
                         errorText);
}

bool _putText(GrowBuffer* buf, std::string_view text) {
    if (!buf->Reserve(text.size() + 1)) return false;
    std::memcpy(buf->Data(), text.data(), text.size());
    buf->Data()[text.size()] = '\0';
    return true;
}

} // namespace

uint32_t Pop3_ConnectSecure(int* sock, const char* server, uint16_t port, int timeoutSec,
                            const char* proxyHost, uint32_t proxyParam, const Pop3Security& sec,
                            GrowBuffer* buf, SockProgress progress, void* context,
                            std::string* errorText, const SockAbort* abort) {
    std::string ignored;
    if (!errorText) errorText = &ignored;
    errorText->clear();
    if (sock) *sock = SOCK_INVALID;
    // An unknown choice (a damaged profile) must not mean clear text.
    if (sec.mode != POP3_SECURITY_NONE && sec.mode != POP3_SECURITY_TLS &&
        sec.mode != POP3_SECURITY_STLS) {
        *errorText = IW_N_("Inboxwarden", "Unknown connection security setting");
        return SOCKERR_INVAL;
    }
    if (sec.mode == POP3_SECURITY_NONE) {
        const uint32_t rc = Pop3_Connect(sock, server, port, timeoutSec, proxyHost, proxyParam, buf,
                                         progress, context, abort);
        if (rc) *errorText = Pop3_ErrorText(rc);
        return rc;
    }
    Log_Write(LOG_POP3, "POP3: Connecting to Server \"%s\":%d (%s) *****\n",
              server ? server : "(null)", port, sec.mode == POP3_SECURITY_TLS ? "TLS" : "STLS");
    if (!sock || !buf) return SOCKERR_INVAL;
    *sock = SOCK_INVALID;
    uint32_t rc = server ? Sock_Connect(sock, server, port, proxyHost, proxyParam, progress,
                                        context, timeoutSec, abort)
                         : SOCKERR_FAULT;
    if (rc == 0 && sec.mode == POP3_SECURITY_TLS)
        rc = Sock_StartTls(*sock, server, sec.certPolicy, sec.certPin.c_str(), timeoutSec, abort,
                           errorText);
    if (rc == 0) rc = Pop3_GetMessage(*sock, buf, timeoutSec, "\r\n", 2, abort);
    if (rc == 0 && sec.mode == POP3_SECURITY_STLS && Pop3_ParseResponse(buf->Data(), nullptr)) {
        const std::string greeting(buf->Data(), std::strcspn(buf->Data(), "\r\n"));
        rc = _startTls(*sock, server, sec, buf, timeoutSec, errorText, abort);
        if (rc == 0 && !_putText(buf, greeting + "\r\n")) rc = SOCKERR_NOBUFS;
    }
    if (rc != 0) {
        if (errorText->empty()) *errorText = Pop3_ErrorText(rc);
        Log_Write(LOG_POP3, "POP3: secure connection failed == %u: %s\n", rc, errorText->c_str());
        Sock_Close(sock);
        return rc;
    }
    Log_Write(LOG_POP3, "POP3: Server reply: \"%.*s\"\n",
              _logLength(std::strcspn(buf->Data(), "\r\n")), buf->Data());
    return 0;
}

uint32_t Pop3_Capa(int sock, GrowBuffer* buf, int timeoutSec, uint32_t* caps,
                   const SockAbort* abort) {
    uint32_t ignored;
    if (!caps) caps = &ignored;
    *caps = 0;
    if (const uint32_t rc =
            Pop3_SendCMD(sock, "CAPA", nullptr, POP3_MULTI_LINE, buf, timeoutSec, abort))
        return rc;
    if (Pop3_ParseResponse(buf->Data(), nullptr) != 1) return ERR_REFUSED;
    *caps = Pop3_ParseCapa(buf->Data());
    return 0;
}

uint32_t Pop3_ParseCapa(std::string_view listing) {
    static constexpr struct {
        std::string_view word;
        uint32_t bit;
    } kKnown[] = {{"STLS", POP3_CAPA_STLS},
                  {"UIDL", POP3_CAPA_UIDL},
                  {"TOP", POP3_CAPA_TOP},
                  {"PIPELINING", POP3_CAPA_PIPELINING},
                  {"USER", POP3_CAPA_USER}};
    uint32_t caps = 0;
    // The first line is the "+OK" status; the listing ends at the "." line.
    size_t pos = listing.find('\n');
    while (pos != std::string_view::npos && ++pos < listing.size()) {
        const size_t eol = listing.find('\n', pos);
        std::string_view line =
            listing.substr(pos, eol == std::string_view::npos ? eol : eol - pos);
        pos = eol;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line == ".") break;
        const std::string_view word = line.substr(0, line.find(' '));
        for (const auto& k : kKnown)
            if (Text_EqualsNoCase(word, k.word)) caps |= k.bit;
    }
    return caps;
}

namespace {

// "command[ argument]" and whether it may be sent: 0, SOCKERR_MSGSIZE or
// SOCKERR_INVAL.
uint32_t _commandLine(const char* command, const char* argument, std::string* line) {
    if (!command) return SOCKERR_INVAL;
    *line = command;
    if (argument) {
        *line += ' ';
        *line += argument;
    }
    // A CR or LF inside would let an account field smuggle in a second
    // command; an over-long line would be refused by the server anyway.
    return line->size() > kMaxLine                            ? SOCKERR_MSGSIZE
           : line->find_first_of("\r\n") != std::string::npos ? SOCKERR_INVAL
                                                              : 0;
}

} // namespace

uint32_t Pop3_SendCMD(int sock, const char* command, const char* argument, int mode,
                      GrowBuffer* buf, int timeoutSec, const SockAbort* abort) {
    if (!command) return SOCKERR_INVAL;
    std::string line;
    const uint32_t bad = _commandLine(command, argument, &line);
    const std::string logged = _loggedLine(command, line);
    if (bad == 0) Log_Write(LOG_POP3, "POP3: SendCMD: \"%s\"\n", logged.c_str());
    line += "\r\n";
    const uint32_t rc = bad ? bad : Sock_Send(sock, line.data(), line.size(), timeoutSec, abort);
    if (rc != 0) {
        Log_Write(LOG_POP3, "POP3: Error: on CMD: \"%s\" == %u\n", logged.c_str(), rc);
        return rc;
    }
    if (!buf) {
        Log_Write(LOG_POP3, "POP3: success CMD: \"%s\" (no answer requested)\n", logged.c_str());
        return 0;
    }
    return mode == POP3_MULTI_LINE ? Pop3_GetMessage(sock, buf, timeoutSec, "\r\n.\r\n", 5, abort)
                                   : Pop3_GetMessage(sock, buf, timeoutSec, "\r\n", 2, abort);
}

uint32_t Pop3_GetMessage(int sock, GrowBuffer* buf, int timeoutSec, const char* terminator,
                         size_t terminatorLength, const SockAbort* abort) {
    if (!buf) return SOCKERR_INVAL;
    if (!terminator) terminatorLength = 0;
    size_t total = 0;
    SockLinePace pace(timeoutSec);
    for (;;) {
        size_t got = 0;
        const uint32_t rc = Sock_RecvUntil(sock, buf, total, &got, pace.Deadline(), abort);
        if (rc != 0) {
            if (buf->Capacity() > total) buf->Data()[total] = '\0';
            Log_Write(LOG_POP3, "POP3: GetMessage: == %u, buff=\"%.*s\"\n", rc, _logLength(total),
                      total ? buf->Data() : "");
            return rc;
        }
        const char* fresh = buf->Data() + total;
        pace.Received({fresh, got});
        total += got;
        Log_Write(LOG_POP3, "POP3: Read: bytes=%zu, buff=\"%.*s\"\n", got, _logLength(got), fresh);
        // An error reply is one line even where a listing was asked for.
        if (buf->Data()[0] == '-') {
            terminator = "\r\n";
            terminatorLength = 2;
        }
        if (terminatorLength < 1) return 0;
        if (total >= terminatorLength &&
            std::memcmp(buf->Data() + total - terminatorLength, terminator, terminatorLength) == 0)
            return 0;
    }
}

uint32_t Pop3_Login(int sock, GrowBuffer* buf, int timeoutSec, int authType,
                    std::string_view greeting, std::string_view login, std::string_view password,
                    std::string* errorText, const SockAbort* abort) {
    std::string ignored;
    if (!errorText) errorText = &ignored;
    errorText->clear();
    // One command: 0 for "+OK", 1 for a refusal, else the transport's result.
    auto send = [&](const char* command, const std::string& argument) -> uint32_t {
        const uint32_t rc =
            Pop3_SendCMD(sock, command, argument.c_str(), POP3_SINGLE_LINE, buf, timeoutSec, abort);
        if (rc != 0) {
            errorText->assign(Pop3_ErrorText(rc));
            return rc == SOCKERR_TIMEDOUT ? ERR_TIMEOUT : ERR_OPERATION;
        }
        const char* text = nullptr;
        if (Pop3_ParseResponse(buf->Data(), &text) == 1) return 0;
        // The server's own words are the reason the user sees.
        errorText->assign(text, std::strcspn(text, "\r\n"));
        return 1;
    };
    if (authType == 1) {
        std::string argument;
        if (Pop3_ApopArgument(greeting, login, password, &argument) != 0) {
            errorText->assign(Pop3_ErrorText(POP3_APOP_UNSUPPORTED));
            return ERR_OPERATION;
        }
        const uint32_t rc = send("APOP", argument);
        if (rc == 1) errorText->assign(Pop3_ErrorText(POP3_APOP_FAILED));
        return rc == 1 ? ERR_OPERATION : rc;
    }
    uint32_t rc = send("USER", std::string(login));
    if (rc == 0) rc = send("PASS", std::string(password));
    return rc == 1 ? ERR_OPERATION : rc;
}

int Pop3_ParseResponse(const char* response, const char** text) {
    const char* ignored;
    if (!text) text = &ignored;
    // The text starts one past the indicator's space; an indicator at the very
    // end of the response gives an empty text rather than a pointer past it.
    if (response && std::strncmp(response, "+OK", 3) == 0) {
        *text = response + 3 + (response[3] ? 1 : 0);
        return 1;
    }
    if (response && std::strncmp(response, "-ERR", 4) == 0) {
        *text = response + 4 + (response[4] ? 1 : 0);
        return 0;
    }
    *text = IW_N_("Inboxwarden", "UNKNOWN POP3 response");
    return 0;
}

const char* Pop3_ErrorText(uint32_t code) {
    switch (code) {
    case POP3_APOP_UNSUPPORTED:
        return IW_N_("Inboxwarden", "APOP authorization is not supported by the server");
    case POP3_APOP_FAILED:
        return IW_N_(
            "Inboxwarden",
            "Login using APOP failed. Either password is wrong or server doesn't support APOP");
    case POP3_STLS_UNAVAILABLE:
        return IW_N_("Inboxwarden", "The server does not offer STLS; the login was not sent");
    default:
        return Sock_ErrorText(code);
    }
}

uint32_t Pop3_Quit(int* sock, int sendQuit) {
    if (!sock) return 0;
    if (sendQuit && *sock != SOCK_INVALID)
        Pop3_SendCMD(*sock, "QUIT", nullptr, POP3_SINGLE_LINE, nullptr, 10);
    Sock_Close(sock);
    return 0;
}

uint32_t Pop3_QuitAndConfirm(int timeoutSec, GrowBuffer* buf, Pop3Pipeline* pipe) {
    const char* text = nullptr;
    const uint32_t rc =
        Pop3_Command(timeoutSec, buf, "QUIT", nullptr, POP3_SINGLE_LINE, 1, &text, pipe);
    Sock_Close(&Pop3Socket);
    return rc;
}

uint32_t Pop3_Command(int timeoutSec, GrowBuffer* buf, const char* command, const char* argument,
                      int mode, int failOnErr, const char** text, Pop3Pipeline* pipe) {
    const char* ignored;
    if (!text) text = &ignored;
    *text = "";
    const uint32_t rc = !pipe  ? Pop3_SendCMD(Pop3Socket, command, argument, mode, buf, timeoutSec)
                        : !buf ? SOCKERR_INVAL
                               : pipe->Command(command, argument, mode, buf);
    if (rc != 0) return Pop3_SetError(Pop3_ErrorText(rc), ERR_OPERATION);
    if (!buf) return 0;
    if (Pop3_ParseResponse(buf->Data(), text) == 1) return 0;
    if (!failOnErr) return ERR_REFUSED;
    // The server's own words become the message the user sees.
    const std::string_view words(*text, std::strcspn(*text, "\r\n"));
    return Pop3_SetError(std::string(words).c_str(), ERR_OPERATION);
}

uint32_t Pop3_ApopArgument(std::string_view greeting, std::string_view login,
                           std::string_view password, std::string* argument) {
    if (greeting.starts_with("+OK")) {
        greeting.remove_prefix(3);
        if (greeting.starts_with(' ')) greeting.remove_prefix(1);
    }
    greeting = greeting.substr(0, greeting.find_first_of("\r\n"));
    const size_t open = greeting.find('<');
    const size_t close = open == std::string_view::npos ? open : greeting.find('>', open);
    // A '<' without its '>' is a broken or forged greeting; falling back to
    // USER/PASS there would hand the password over in clear.
    if (close == std::string_view::npos) return POP3_APOP_UNSUPPORTED;
    const std::string_view stamp = greeting.substr(open, close - open + 1);
    MD5_CONTEXT ctx;
    Md5_Init(&ctx);
    Md5_Update(&ctx, stamp.data(), stamp.size());
    Md5_Update(&ctx, password.data(), password.size());
    uint8_t digest[MD5_DIGEST_SIZE];
    Md5_Final(digest, &ctx);
    char hex[MD5_HEX_SIZE];
    Md5_ToHex(hex, digest);
    if (argument) {
        argument->assign(login);
        argument->append(" ");
        argument->append(hex);
    }
    return 0;
}

// ---------------------------------------------------------------- pipeline

namespace {

// What a send adds on the wire besides the commands (a TLS record's header
// and tag), counted against the window so that it still fits the buffers.
constexpr size_t kSendOverhead = 64;

} // namespace

Pop3Pipeline::Pop3Pipeline(int* sock, int timeoutSec, const SockAbort* abort)
    : m_sock(sock), m_timeoutSec(timeoutSec), m_abort(abort) {}

void Pop3Pipeline::Plan(const char* command, const char* argument, int mode) {
    std::string line;
    if (_commandLine(command, argument, &line) != 0) return;
    line += "\r\n";
    m_entries.push_back({std::move(line), mode, State::Queued, 0, {}});
}

void Pop3Pipeline::DropPlanned() {
    std::deque<Entry> kept;
    for (Entry& e : m_entries) {
        if (e.state == State::Queued) continue;
        if (e.state == State::Kept) {
            m_kept -= e.answer.size();
            continue;
        }
        e.state = State::Dropped;
        kept.push_back(std::move(e));
    }
    m_entries = std::move(kept);
}

uint32_t Pop3Pipeline::Command(const char* command, const char* argument, int mode,
                               GrowBuffer* buf) {
    std::string line;
    if (const uint32_t bad = _commandLine(command, argument, &line)) {
        Log_Write(LOG_POP3, "POP3: Error: on CMD: \"%s\" == %u\n",
                  _loggedLine(command, line).c_str(), bad);
        return bad;
    }
    line += "\r\n";
    size_t k = 0;
    while (k < m_entries.size() && (m_entries[k].state == State::Dropped ||
                                    m_entries[k].line != line || m_entries[k].mode != mode))
        ++k;
    if (k < m_entries.size()) {
        // The planned commands before it were not wanted after all.
        for (size_t i = 0; i < k;) {
            Entry& e = m_entries[i];
            if (e.state == State::Sent) e.state = State::Dropped;
            if (e.state == State::Queued || e.state == State::Kept) {
                if (e.state == State::Kept) m_kept -= e.answer.size();
                m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(i));
                --k;
            } else {
                ++i;
            }
        }
    } else {
        // Not planned: it goes out before the planned ones not yet sent.
        k = 0;
        while (k < m_entries.size() && m_entries[k].state != State::Queued)
            ++k;
        m_entries.insert(m_entries.begin() + static_cast<std::ptrdiff_t>(k),
                         Entry{std::move(line), mode, State::Queued, 0, {}});
    }
    return answerOf(k, buf);
}

uint32_t Pop3Pipeline::answerOf(size_t index, GrowBuffer* buf) {
    while (m_entries[index].state != State::Kept) {
        if (const uint32_t rc = sendMore()) return rc;
        size_t j = 0;
        while (m_entries[j].state != State::Sent && m_entries[j].state != State::Dropped)
            ++j; // there is one: the window is never empty here
        size_t length = 0;
        if (const uint32_t rc = readNext(m_entries[j].mode, &length)) return rc;
        Entry& e = m_entries[j];
        m_inFlight -= e.cost;
        const char* answer = m_in.Data() + m_start;
        m_start += length;
        m_scanned = 0;
        if (j == index) {
            if (!buf->Reserve(length + 1)) return SOCKERR_NOBUFS;
            std::memcpy(buf->Data(), answer, length);
            buf->Data()[length] = '\0';
            m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(j));
            return 0;
        }
        if (e.state == State::Dropped) {
            m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(j));
            if (j < index) --index;
            continue;
        }
        // Asked for later: kept until then, within what one answer may take.
        if (m_kept + length > POP3_BUFFER_LIMIT) return SOCKERR_NOBUFS;
        e.answer.assign(answer, length);
        m_kept += length;
        e.state = State::Kept;
    }
    Entry& e = m_entries[index];
    if (!buf->Reserve(e.answer.size() + 1)) return SOCKERR_NOBUFS;
    std::memcpy(buf->Data(), e.answer.data(), e.answer.size());
    buf->Data()[e.answer.size()] = '\0';
    m_kept -= e.answer.size();
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
    return 0;
}

uint32_t Pop3Pipeline::sendMore() {
    // Topped up in batches rather than one command per answer read.
    if (m_inFlight > kWindowBytes / 2) return 0;
    std::string batch;
    for (Entry& e : m_entries) {
        if (e.state != State::Queued) continue;
        const size_t cost = e.line.size() + (batch.empty() ? kSendOverhead : 0);
        if (m_inFlight + cost > kWindowBytes && m_inFlight > 0) break;
        Log_Write(LOG_POP3, "POP3: SendCMD: \"%.*s\" (pipelined)\n",
                  static_cast<int>(e.line.size() - 2), e.line.c_str());
        batch += e.line;
        e.state = State::Sent;
        e.cost = cost;
        m_inFlight += cost;
    }
    if (batch.empty()) return 0;
    const uint32_t rc = Sock_Send(*m_sock, batch.data(), batch.size(), m_timeoutSec, m_abort);
    if (rc != 0) Log_Write(LOG_POP3, "POP3: Error: pipelined send == %u\n", rc);
    return rc;
}

uint32_t Pop3Pipeline::readNext(int mode, size_t* length) {
    SockLinePace pace(m_timeoutSec);
    for (;;) {
        const std::string_view have(m_in.Data() + m_start, m_end - m_start);
        if (!have.empty()) {
            // An error answer is one line even where a listing was asked for.
            const bool multi = mode == POP3_MULTI_LINE && have[0] != '-';
            const std::string_view end = multi ? "\r\n.\r\n" : "\r\n";
            const size_t from = m_scanned > end.size() ? m_scanned - end.size() : 0;
            const size_t at = have.find(end, from);
            if (at != std::string_view::npos) {
                *length = at + end.size();
                return 0;
            }
            m_scanned = have.size();
        }
        // Room for a good read: what was consumed goes first, then the
        // buffer grows.
        if (m_in.Capacity() - m_end < GrowBuffer::kMinGrowth && m_start > 0) {
            std::memmove(m_in.Data(), m_in.Data() + m_start, m_end - m_start);
            m_end -= m_start;
            m_start = 0;
        }
        if (m_in.Capacity() - m_end < GrowBuffer::kMinGrowth / 4 &&
            !m_in.Reserve(m_end + GrowBuffer::kMinGrowth))
            return SOCKERR_NOBUFS;
        size_t got = 0;
        const uint32_t rc = Sock_RecvUntil(*m_sock, &m_in, m_end, &got, pace.Deadline(), m_abort);
        if (rc != 0) {
            Log_Write(LOG_POP3, "POP3: GetMessage (pipelined): == %u, buff=\"%.*s\"\n", rc,
                      _logLength(m_end - m_start), m_in.Data() ? m_in.Data() + m_start : "");
            return rc;
        }
        const char* fresh = m_in.Data() + m_end;
        pace.Received({fresh, got});
        Log_Write(LOG_POP3, "POP3: Read: bytes=%zu, buff=\"%.*s\"\n", got, _logLength(got), fresh);
        m_end += got;
    }
}
