#include "net/socket.h"
#include "common/text.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

using Deadline = SockDeadline;

Deadline _deadlineIn(int seconds) {
    return SockDeadline::In(seconds);
}

// Without an eventfd the abort flag is looked at this often.
constexpr int kAbortSliceMs = 200;

// Waits until fd reports one of events (an error or hang-up counts too: the
// call that follows reports it), the deadline passes or abort is triggered.
uint32_t _wait(int fd, short events, const Deadline& deadline, const SockAbort* abort) {
    const int abortFd = abort ? abort->WaitFd() : -1;
    for (;;) {
        if (abort && abort->Triggered()) return SOCKERR_INTR;
        int ms = -1;
        if (!deadline.none) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline.at - Clock::now());
            if (left.count() <= 0) return SOCKERR_TIMEDOUT;
            ms = left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
        }
        if (abort && abortFd < 0 && (ms < 0 || ms > kAbortSliceMs)) ms = kAbortSliceMs;
        pollfd p[2] = {{fd, events, 0}, {abortFd, POLLIN, 0}};
        const int n = poll(p, abortFd >= 0 ? 2 : 1, ms);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Sock_ErrorFromErrno(errno);
        }
        if (abortFd >= 0 && p[1].revents) return SOCKERR_INTR;
        if (p[0].revents) return 0;
    }
}

struct AddrInfoFree {
    void operator()(addrinfo* a) const { freeaddrinfo(a); }
};
using AddrList = std::unique_ptr<addrinfo, AddrInfoFree>;

// One name lookup on a helper thread. The thread owns a share of it, so a
// waiter that gives up (abort, time-out) may simply leave.
struct ResolveJob {
    std::string host;
    addrinfo hints{};
    int doneFd = -1;
    std::atomic<bool> done{false};
    int rc = 0;
    int sysErrno = 0;
    addrinfo* result = nullptr;

    ~ResolveJob() {
        if (result) freeaddrinfo(result);
        if (doneFd >= 0) close(doneFd);
    }
};

// getaddrinfo cannot be interrupted, so a name is looked up on a helper
// thread while this one waits for it, the deadline or the abort.
uint32_t _resolve(const char* host, int family, const Deadline& deadline, const SockAbort* abort,
                  AddrList* out) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* res = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &res) == 0) {
        out->reset(res);
        return 0;
    }
    hints.ai_flags = 0;
    auto job = std::make_shared<ResolveJob>();
    job->host = host;
    job->hints = hints;
    job->doneFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (job->doneFd < 0) return Sock_ErrorFromErrno(errno);
    try {
        std::thread([job] {
            job->rc = getaddrinfo(job->host.c_str(), nullptr, &job->hints, &job->result);
            job->sysErrno = errno;
            job->done.store(true, std::memory_order_release);
            eventfd_write(job->doneFd, 1);
        }).detach();
    } catch (const std::system_error&) {
        return SOCKERR_NOBUFS;
    }
    while (!job->done.load(std::memory_order_acquire)) {
        if (const uint32_t rc = _wait(job->doneFd, POLLIN, deadline, abort)) return rc;
    }
    if (abort && abort->Triggered()) return SOCKERR_INTR;
    if (job->rc != 0) return Sock_ErrorFromResolver(job->rc, job->sysErrno);
    out->reset(std::exchange(job->result, nullptr));
    return 0;
}

void _closeFd(int fd) {
    const linger off{0, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    close(fd);
}

// Tries every address in turn; each attempt may take timeoutSec.
uint32_t _connectAny(const addrinfo* list, uint16_t port, int timeoutSec, const SockAbort* abort,
                     int* out) {
    uint32_t last = SOCKERR_HOST_NOT_FOUND;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        sockaddr_storage addr{};
        if (ai->ai_addrlen > sizeof addr) continue;
        std::memcpy(&addr, ai->ai_addr, ai->ai_addrlen);
        if (addr.ss_family == AF_INET)
            reinterpret_cast<sockaddr_in*>(&addr)->sin_port = htons(port);
        else if (addr.ss_family == AF_INET6)
            reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port = htons(port);
        else
            continue;
        const int fd = socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            last = Sock_ErrorFromErrno(errno);
            continue;
        }
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), ai->ai_addrlen) != 0) {
            if (errno != EINPROGRESS && errno != EINTR) {
                last = Sock_ErrorFromErrno(errno);
                _closeFd(fd);
                continue;
            }
            const uint32_t rc = _wait(fd, POLLOUT, _deadlineIn(timeoutSec), abort);
            int soError = 0;
            socklen_t len = sizeof soError;
            if (rc == 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
                soError = errno;
            if (rc != 0 || soError != 0) {
                _closeFd(fd);
                if (rc == SOCKERR_INTR) return rc;
                last = rc ? rc : Sock_ErrorFromErrno(soError);
                continue;
            }
        }
        // Every command goes out in one send; waiting to merge it with the
        // next one only adds a round trip's delay.
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        *out = fd;
        return 0;
    }
    return last;
}

// Reads at least `least` and at most `most` bytes into out (*got says how
// many): a proxy's reply may come in pieces.
uint32_t _recvAtLeast(int fd, uint8_t* out, size_t least, size_t most, size_t* got,
                      const Deadline& deadline, const SockAbort* abort) {
    *got = 0;
    while (*got < least) {
        if (const uint32_t rc = _wait(fd, POLLIN, deadline, abort)) return rc;
        const ssize_t r = recv(fd, out + *got, most - *got, 0);
        if (r > 0) {
            *got += static_cast<size_t>(r);
        } else if (r == 0) {
            return SOCKERR_CONNRESET;
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return Sock_ErrorFromErrno(errno);
        }
    }
    return 0;
}

// Reads exactly n bytes: reading past a proxy's reply would swallow the
// first bytes of the server behind it.
uint32_t _recvExact(int fd, uint8_t* out, size_t n, const Deadline& deadline,
                    const SockAbort* abort) {
    size_t got;
    return _recvAtLeast(fd, out, n, n, &got, deadline, abort);
}

uint32_t _socks4(int fd, const char* host, uint16_t port, int timeoutSec, const SockAbort* abort) {
    AddrList addrs;
    if (const uint32_t rc = _resolve(host, AF_INET, _deadlineIn(timeoutSec), abort, &addrs))
        return rc;
    const auto* in = reinterpret_cast<const sockaddr_in*>(addrs->ai_addr);
    uint8_t request[9] = {4, 1, static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
    std::memcpy(request + 4, &in->sin_addr.s_addr, 4); // already in network order
    request[8] = 0;                                    // empty user id
    if (const uint32_t rc = Sock_Send(fd, request, sizeof request, SOCK_SOCKS_TIMEOUT, abort))
        return rc;
    uint8_t reply[8];
    if (const uint32_t rc =
            _recvExact(fd, reply, sizeof reply, _deadlineIn(SOCK_SOCKS_TIMEOUT), abort))
        return rc;
    return reply[1] == 0x5A ? 0 : SOCKERR_INVAL;
}

uint32_t _socks5(int fd, const char* host, uint16_t port, const SockAbort* abort) {
    const Deadline deadline = _deadlineIn(SOCK_SOCKS_TIMEOUT);
    static const uint8_t greeting[3] = {5, 1, 0};
    if (const uint32_t rc = Sock_Send(fd, greeting, sizeof greeting, SOCK_SOCKS_TIMEOUT, abort))
        return rc;
    // The method reply is two bytes; more than that is not a SOCKS 5 proxy
    // (the method itself is not looked at).
    uint8_t reply[16];
    size_t got;
    if (const uint32_t rc = _recvAtLeast(fd, reply, 2, sizeof reply, &got, deadline, abort))
        return rc;
    uint8_t extra;
    if (got != 2 || recv(fd, &extra, 1, MSG_PEEK | MSG_DONTWAIT) > 0) return SOCKERR_PROTONOSUPPORT;

    const size_t nameLength = std::strlen(host);
    uint8_t request[4 + 1 + 255 + 2] = {5, 1, 0, 3, static_cast<uint8_t>(nameLength)};
    std::memcpy(request + 5, host, nameLength);
    request[5 + nameLength] = static_cast<uint8_t>(port >> 8);
    request[6 + nameLength] = static_cast<uint8_t>(port);
    if (const uint32_t rc = Sock_Send(fd, request, nameLength + 7, SOCK_SOCKS_TIMEOUT, abort))
        return rc;
    uint8_t head[4];
    if (const uint32_t rc = _recvExact(fd, head, sizeof head, deadline, abort)) return rc;
    if (head[1] != 0) return SOCKERR_INVAL;
    // The bound address and port follow; they are read so that the server's
    // first bytes start clean.
    size_t rest;
    switch (head[3]) {
    case 1:
        rest = 4 + 2;
        break;
    case 4:
        rest = 16 + 2;
        break;
    case 3: {
        uint8_t len;
        if (const uint32_t rc = _recvExact(fd, &len, 1, deadline, abort)) return rc;
        rest = size_t{len} + 2;
        break;
    }
    default:
        return SOCKERR_INVAL;
    }
    uint8_t skip[255 + 2];
    return _recvExact(fd, skip, rest, deadline, abort);
}

void _report(SockProgress progress, void* context, const char* text) {
    if (progress) progress(text, context);
}

std::mutex g_startupMutex;
int g_startupCount = 0;

// ---------------------------------------------------------------- TLS state

struct SslFree {
    void operator()(SSL* s) const { SSL_free(s); }
};
using SslPtr = std::unique_ptr<SSL, SslFree>;

// The TLS connections by socket handle. Only the owning thread uses an entry,
// but sessions on other threads add and remove theirs at the same time.
std::mutex g_tlsMutex;
std::unordered_map<int, SSL*> g_tls;
// Sockets without TLS skip the table; most connections never have it.
std::atomic<int> g_tlsCount{0};

SSL* _tlsOf(int sock) {
    if (g_tlsCount.load(std::memory_order_acquire) == 0) return nullptr;
    std::lock_guard lock(g_tlsMutex);
    const auto it = g_tls.find(sock);
    return it == g_tls.end() ? nullptr : it->second;
}

SslPtr _tlsTake(int sock) {
    if (g_tlsCount.load(std::memory_order_acquire) == 0) return nullptr;
    std::lock_guard lock(g_tlsMutex);
    const auto it = g_tls.find(sock);
    if (it == g_tls.end()) return nullptr;
    SslPtr ssl(it->second);
    g_tls.erase(it);
    g_tlsCount.fetch_sub(1, std::memory_order_release);
    return ssl;
}

// One client context for the process: loading the CA store for every
// connection would cost more than the handshake itself.
SSL_CTX* _tlsContext() {
    static SSL_CTX* const ctx = [] {
        // OpenSSL writes to the socket itself, without MSG_NOSIGNAL.
        Sock_Startup();
        Sock_Cleanup();
        SSL_CTX* c = SSL_CTX_new(TLS_client_method());
        if (!c) return c;
        SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
        SSL_CTX_set_default_verify_paths(c);
        // The verdict is taken after the handshake (Sock_StartTls), where a
        // pinned certificate may overrule the store and the reason is named.
        SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_mode(c, SSL_MODE_AUTO_RETRY);
        return c;
    }();
    return ctx;
}

std::string _opensslReason() {
    char text[160] = "unknown reason";
    if (const unsigned long e = ERR_peek_last_error()) {
        const char* r = ERR_reason_error_string(e);
        if (r) std::snprintf(text, sizeof text, "%s", r);
    }
    ERR_clear_error();
    return text;
}

// What an SSL call that failed wants: a wait for the socket (0 once it is
// ready), or the error that ends the connection.
uint32_t _tlsRetry(SSL* ssl, int ret, int fd, const Deadline& deadline, const SockAbort* abort,
                   int savedErrno, std::string* reason) {
    switch (SSL_get_error(ssl, ret)) {
    case SSL_ERROR_WANT_READ:
        return _wait(fd, POLLIN, deadline, abort);
    case SSL_ERROR_WANT_WRITE:
        return _wait(fd, POLLOUT, deadline, abort);
    case SSL_ERROR_ZERO_RETURN:
        return SOCKERR_CONNRESET;
    case SSL_ERROR_SYSCALL:
        if (savedErrno == EINTR) return 0;
        ERR_clear_error();
        return savedErrno ? Sock_ErrorFromErrno(savedErrno) : SOCKERR_CONNRESET;
    default: {
        const unsigned long e = ERR_peek_last_error();
        if (ERR_GET_LIB(e) == ERR_LIB_SSL &&
            ERR_GET_REASON(e) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            ERR_clear_error();
            return SOCKERR_CONNRESET;
        }
        if (reason) *reason = _opensslReason();
        ERR_clear_error();
        return SOCKERR_TLS;
    }
    }
}

std::string _fingerprint(X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!cert || X509_digest(cert, EVP_sha256(), md, &n) != 1) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(n * 2);
    for (unsigned int i = 0; i < n; ++i) {
        hex += kHex[md[i] >> 4];
        hex += kHex[md[i] & 15];
    }
    return hex;
}

// The reason a certificate failed verification, short enough that the
// fingerprint after it still fits a one-line status text.
std::string _verifyReason(long result) {
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "Certificate expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "Not yet valid";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "Host name mismatch";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "Unknown issuer";
    case X509_V_ERR_CERT_REVOKED:
        return "Certificate revoked";
    default:
        return "Refused (" + std::to_string(result) + ")";
    }
}

bool _isIpLiteral(const char* host) {
    in6_addr a6;
    in_addr a4;
    return inet_pton(AF_INET, host, &a4) == 1 || inet_pton(AF_INET6, host, &a6) == 1;
}

// Judges the certificate of a finished handshake: 0, or SOCKERR_TLS_CERT
// with the reason and the fingerprint.
uint32_t _judgeCertificate(SSL* ssl, int policy, const char* pin, std::string* text) {
    X509* cert = SSL_get0_peer_certificate(ssl);
    if (!cert) {
        *text = "The server sent no certificate";
        return SOCKERR_TLS_CERT;
    }
    const std::string fp = _fingerprint(cert);
    if (policy == SOCK_TLS_PINNED) {
        if (pin && Sock_IsValidPin(pin) && Text_EqualsNoCase(fp, pin)) return 0;
        *text = "Pin mismatch, SHA-256 " + fp;
        return SOCKERR_TLS_CERT;
    }
    const long result = SSL_get_verify_result(ssl);
    if (result == X509_V_OK) return 0;
    *text = _verifyReason(result) + ", SHA-256 " + fp;
    return SOCKERR_TLS_CERT;
}

} // namespace

// ---------------------------------------------------------------- SockAbort

SockAbort::SockAbort() : m_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SockAbort::~SockAbort() {
    if (m_fd >= 0) close(m_fd);
}

void SockAbort::Trigger() {
    std::lock_guard lock(m_mu);
    m_triggered.store(true, std::memory_order_release);
    if (m_fd >= 0) eventfd_write(m_fd, 1);
}

void SockAbort::Reset() {
    std::lock_guard lock(m_mu);
    m_triggered.store(false, std::memory_order_release);
    eventfd_t drained;
    if (m_fd >= 0) eventfd_read(m_fd, &drained);
}

// ---------------------------------------------------------------- Sock_*

uint32_t Sock_Startup() {
    std::lock_guard lock(g_startupMutex);
    if (g_startupCount < 1) {
        // A peer that closes while we write must give an error, not kill the
        // process; a handler someone else installed is left alone.
        struct sigaction old {};
        if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL)
            signal(SIGPIPE, SIG_IGN);
    }
    ++g_startupCount;
    return 0;
}

uint32_t Sock_Cleanup() {
    std::lock_guard lock(g_startupMutex);
    if (g_startupCount < 1) return SOCKERR_NOTCONN;
    --g_startupCount;
    return 0;
}

uint32_t Sock_Connect(int* sock, const char* host, uint16_t port, const char* proxyHost,
                      uint32_t proxyParam, SockProgress progress, void* context, int timeoutSec,
                      const SockAbort* abort) {
    if (!sock) return SOCKERR_INVAL;
    *sock = SOCK_INVALID;
    if (!host || !*host) return SOCKERR_FAULT;
    const bool viaProxy = proxyHost && *proxyHost;
    const bool socks5 = (proxyParam >> 24) == 5;
    // The SOCKS 5 request carries the name's length in one byte.
    if (viaProxy && socks5 && std::strlen(host) > 255) return SOCKERR_NAMETOOLONG;

    _report(progress, context, "Initializing");
    _report(progress, context, "Finding host");
    AddrList addrs;
    if (const uint32_t rc = _resolve(viaProxy ? proxyHost : host, AF_UNSPEC,
                                     _deadlineIn(timeoutSec), abort, &addrs))
        return rc;
    _report(progress, context, "Connecting");
    int fd = SOCK_INVALID;
    const uint16_t firstPort = viaProxy ? static_cast<uint16_t>(proxyParam & 0xFFFF) : port;
    if (const uint32_t rc = _connectAny(addrs.get(), firstPort, timeoutSec, abort, &fd)) return rc;
    if (viaProxy) {
        const uint32_t rc =
            socks5 ? _socks5(fd, host, port, abort) : _socks4(fd, host, port, timeoutSec, abort);
        if (rc != 0) {
            _closeFd(fd);
            return rc;
        }
    }
    _report(progress, context, "Connected");
    *sock = fd;
    return 0;
}

uint32_t Sock_Send(int sock, const void* data, size_t length, int timeoutSec,
                   const SockAbort* abort) {
    if (sock == SOCK_INVALID) return SOCKERR_NOTCONN;
    if (length > 0 && !data) return SOCKERR_FAULT;
    if (abort && abort->Triggered()) return SOCKERR_INTR;
    const auto* p = static_cast<const char*>(data);
    const Deadline deadline = _deadlineIn(timeoutSec);
    if (SSL* ssl = _tlsOf(sock)) {
        while (length > 0) {
            ERR_clear_error();
            size_t n = 0;
            errno = 0;
            const int ret = SSL_write_ex(ssl, p, length, &n);
            const int savedErrno = errno;
            if (ret == 1) {
                p += n;
                length -= n;
            } else if (const uint32_t rc =
                           _tlsRetry(ssl, ret, sock, deadline, abort, savedErrno, nullptr)) {
                return rc;
            }
        }
        return 0;
    }
    while (length > 0) {
        const ssize_t n = send(sock, p, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            length -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (const uint32_t rc = _wait(sock, POLLOUT, deadline, abort)) return rc;
        } else {
            return n == 0 ? SOCKERR_CONNRESET : Sock_ErrorFromErrno(errno);
        }
    }
    return 0;
}

uint32_t Sock_Recv(int sock, GrowBuffer* buf, size_t offset, size_t* received, int timeoutSec,
                   const SockAbort* abort) {
    return Sock_RecvUntil(sock, buf, offset, received, _deadlineIn(timeoutSec), abort);
}

uint32_t Sock_RecvUntil(int sock, GrowBuffer* buf, size_t offset, size_t* received,
                        const SockDeadline& deadline, const SockAbort* abort) {
    if (received) *received = 0;
    if (!buf || !received) return SOCKERR_INVAL;
    if (sock == SOCK_INVALID) return SOCKERR_NOTCONN;
    if (buf->Capacity() <= offset + 1 && !buf->Reserve(offset + 2)) return SOCKERR_NOBUFS;
    if (SSL* ssl = _tlsOf(sock)) {
        for (;;) {
            if (abort && abort->Triggered()) return SOCKERR_INTR;
            ERR_clear_error();
            size_t n = 0;
            errno = 0;
            const int ret =
                SSL_read_ex(ssl, buf->Data() + offset, buf->Capacity() - offset - 1, &n);
            const int savedErrno = errno;
            if (ret == 1) {
                buf->Data()[offset + n] = '\0';
                *received = n;
                return 0;
            }
            if (const uint32_t rc = _tlsRetry(ssl, ret, sock, deadline, abort, savedErrno, nullptr))
                return rc;
        }
    }
    // Data that is already there is taken without a poll first: a session of
    // many short commands makes one call less for each answer.
    for (;;) {
        if (abort && abort->Triggered()) return SOCKERR_INTR;
        const ssize_t n =
            recv(sock, buf->Data() + offset, buf->Capacity() - offset - 1, MSG_DONTWAIT);
        if (n > 0) {
            buf->Data()[offset + static_cast<size_t>(n)] = '\0';
            *received = static_cast<size_t>(n);
            return 0;
        }
        if (n == 0) return SOCKERR_CONNRESET;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (const uint32_t rc = _wait(sock, POLLIN, deadline, abort)) return rc;
        } else if (errno != EINTR) {
            return Sock_ErrorFromErrno(errno);
        }
    }
}

SockDeadline SockDeadline::In(int timeoutSec) {
    if (timeoutSec <= 0) return {};
    return {false, Clock::now() + std::chrono::seconds(timeoutSec)};
}

void SockLinePace::Received(std::string_view fresh) {
    if (fresh.empty()) return;
    // A line that ended opens the next one's time; so does the very first
    // byte, which ends the wait for the peer to start.
    if (!m_started || fresh.find('\n') != std::string_view::npos)
        m_deadline = SockDeadline::In(m_timeoutSec);
    m_started = true;
}

uint32_t Sock_Close(int* sock) {
    if (!sock || *sock == SOCK_INVALID) return 0;
    // The entry goes before the handle does: the number may be reused at once.
    if (SslPtr ssl = _tlsTake(*sock)) {
        if (SSL_is_init_finished(ssl.get())) {
            ERR_clear_error();
            SSL_shutdown(ssl.get());
        }
        ERR_clear_error();
    }
    _closeFd(*sock);
    *sock = SOCK_INVALID;
    return 0;
}

uint32_t Sock_StartTls(int sock, const char* host, int policy, const char* pin, int timeoutSec,
                       const SockAbort* abort, std::string* errorText) {
    std::string ignored;
    if (!errorText) errorText = &ignored;
    errorText->clear();
    const auto fail = [&](uint32_t rc) {
        if (errorText->empty()) *errorText = Sock_ErrorText(rc);
        return rc;
    };
    if (sock == SOCK_INVALID) return fail(SOCKERR_NOTCONN);
    if (!host || (policy != SOCK_TLS_VERIFY && policy != SOCK_TLS_PINNED) || _tlsOf(sock))
        return fail(SOCKERR_INVAL);
    SSL_CTX* ctx = _tlsContext();
    SslPtr ssl(ctx ? SSL_new(ctx) : nullptr);
    if (!ssl || SSL_set_fd(ssl.get(), sock) != 1) {
        *errorText = "TLS negotiation failed: " + _opensslReason();
        return SOCKERR_TLS;
    }
    if (_isIpLiteral(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), host);
    } else {
        SSL_set_tlsext_host_name(ssl.get(), host);
        SSL_set1_host(ssl.get(), host);
    }
    SSL_set_connect_state(ssl.get());
    const Deadline deadline = _deadlineIn(timeoutSec);
    for (;;) {
        if (abort && abort->Triggered()) return fail(SOCKERR_INTR);
        ERR_clear_error();
        errno = 0;
        const int ret = SSL_connect(ssl.get());
        const int savedErrno = errno;
        if (ret == 1) break;
        std::string reason;
        if (const uint32_t rc =
                _tlsRetry(ssl.get(), ret, sock, deadline, abort, savedErrno, &reason)) {
            if (rc == SOCKERR_TLS) *errorText = "TLS negotiation failed: " + reason;
            return fail(rc);
        }
    }
    if (const uint32_t rc = _judgeCertificate(ssl.get(), policy, pin, errorText)) return rc;
    std::lock_guard lock(g_tlsMutex);
    g_tls.emplace(sock, ssl.release());
    g_tlsCount.fetch_add(1, std::memory_order_release);
    return 0;
}

bool Sock_IsTls(int sock) {
    return sock != SOCK_INVALID && _tlsOf(sock) != nullptr;
}

bool Sock_IsValidPin(std::string_view text) {
    if (text.size() != SOCK_TLS_PIN_LENGTH) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

const char* Sock_ErrorText(uint32_t code) {
    switch (code) {
    case SOCKERR_TLS:
        return "TLS negotiation failed";
    case SOCKERR_TLS_CERT:
        return "The server's certificate was refused";
    case 10004:
        return "Interrupted system call";
    case 10009:
        return "Bad file number";
    case 10013:
        return "Permission denied";
    case 10014:
        return "Bad address";
    case 10022:
        return "Invalid argument";
    case 10024:
        return "Too many open files";
    case 10035:
        return "Operation would block";
    case 10036:
        return "Operation now in progress";
    case 10037:
        return "Operation already in progress";
    case 10038:
        return "Socket operation on non-socket";
    case 10039:
        return "Destination address required";
    case 10040:
        return "Message too long";
    case 10041:
        return "Protocol wrong type for socket";
    case 10042:
        return "Protocol not available";
    case 10043:
        return "Protocol not supported";
    case 10044:
        return "Socket type not supported";
    case 10045:
        return "Operation not supported";
    case 10046:
        return "Protocol family not supported";
    case 10047:
        return "Address family not supported by protocol family";
    case 10048:
        return "Address already in use";
    case 10049:
        return "Can't assign requested address";
    case 10050:
        return "Network is down";
    case 10051:
        return "Network is unreachable";
    case 10052:
        return "Network dropped connection on reset";
    case 10053:
        return "Software caused connection abort";
    case 10054:
        return "Connection reset by peer";
    case 10055:
        return "No buffer space available";
    case 10056:
        return "Socket is already connected";
    case 10057:
        return "Socket is not connected";
    case 10058:
        return "Can't send after socket shutdown";
    case 10059:
        return "Too many references: can't splice";
    case 10060:
        return "Connection timed out";
    case 10061:
        return "Connection refused";
    case 10062:
        return "Too many levels of symbolic links";
    case 10063:
        return "File name too long";
    case 10064:
        return "Host is down";
    case 10065:
        return "No route to host";
    case 10066:
        return "Directory not empty";
    case 10067:
        return "Too many processes";
    case 10068:
        return "Unknown socket error";
    case 10069:
        return "Disk quota exceeded";
    case 10070:
        return "Stale NFS file handle";
    case 10071:
        return "Too many levels of remote in path";
    case 10101:
        return "Graceful shutdown in progress";
    case 11001:
        return "Host not found";
    case 11002:
        return "Host not found, or server failed";
    case 11004:
        return "No DNS server (Valid name but no data record of requested type)";
    default:
        return "Unknown socket error";
    }
}

uint32_t Sock_ErrorFromErrno(int err) {
    switch (err) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EAGAIN:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    // A write to a connection the peer has closed: for the user that is the
    // same as a reset.
    case ECONNRESET:
    case EPIPE:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return 10068; // "Unknown socket error"
    }
}

uint32_t Sock_ErrorFromResolver(int gaiError, int sysErrno) {
    switch (gaiError) {
    case 0:
        return 0;
    case EAI_NONAME:
        return SOCKERR_HOST_NOT_FOUND;
    case EAI_AGAIN:
    case EAI_FAIL:
        return SOCKERR_TRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return SOCKERR_NO_DATA;
    case EAI_MEMORY:
        return SOCKERR_NOBUFS;
    case EAI_FAMILY:
        return 10047;
    case EAI_SOCKTYPE:
        return 10044;
    case EAI_SYSTEM:
        return Sock_ErrorFromErrno(sysErrno);
    default:
        return SOCKERR_HOST_NOT_FOUND;
    }
}
