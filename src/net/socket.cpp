// SPDX-License-Identifier: GPL-3.0-or-later
// TCP connections: name lookup, connecting (directly or through a proxy),
// sending and receiving within a deadline, closing.
#include "net/socket.h"
#include "common/translate.h"
#include "net/socket_internal.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace iwsock;

namespace {

// Without an eventfd the abort flag is looked at this often.
constexpr int kAbortSliceMs = 200;

} // namespace

namespace iwsock {

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

} // namespace iwsock

namespace {

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

} // namespace

namespace iwsock {

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

} // namespace iwsock

namespace {

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

void _report(SockProgress progress, void* context, const char* text) {
    if (progress) progress(text, context);
}

std::mutex g_startupMutex;
int g_startupCount = 0;

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
    _report(progress, context, IW_N_("Inboxwarden", "Finding host"));
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
            Tls_Lib()->ERR_clear_error();
            size_t n = 0;
            errno = 0;
            const int ret = Tls_Lib()->SSL_write_ex(ssl, p, length, &n);
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
            Tls_Lib()->ERR_clear_error();
            size_t n = 0;
            errno = 0;
            const int ret =
                Tls_Lib()->SSL_read_ex(ssl, buf->Data() + offset, buf->Capacity() - offset - 1, &n);
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
        if (Tls_Lib()->SSL_is_init_finished(ssl.get())) {
            Tls_Lib()->ERR_clear_error();
            Tls_Lib()->SSL_shutdown(ssl.get());
        }
        Tls_Lib()->ERR_clear_error();
    }
    _closeFd(*sock);
    *sock = SOCK_INVALID;
    return 0;
}
