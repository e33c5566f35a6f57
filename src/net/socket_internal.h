// SPDX-License-Identifier: GPL-3.0-or-later
// What the parts of the socket module (TCP, SOCKS, TLS) share. Internal to
// net/.
#pragma once

#include "net/socket.h"
#include "net/tls_lib.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <netdb.h>
#include <string>

namespace iwsock {

using Clock = std::chrono::steady_clock;
using Deadline = SockDeadline;

inline Deadline _deadlineIn(int seconds) {
    return SockDeadline::In(seconds);
}

// Waits until fd reports one of events (an error or hang-up counts too: the
// call that follows reports it), the deadline passes or abort is triggered.
uint32_t _wait(int fd, short events, const Deadline& deadline, const SockAbort* abort);

struct AddrInfoFree {
    void operator()(addrinfo* a) const { freeaddrinfo(a); }
};
using AddrList = std::unique_ptr<addrinfo, AddrInfoFree>;

// The addresses of host (AF_INET, AF_INET6 or AF_UNSPEC), within the deadline.
uint32_t _resolve(const char* host, int family, const Deadline& deadline, const SockAbort* abort,
                  AddrList* out);

// The SOCKS 4 and SOCKS 5 requests that ask the proxy on fd for host:port.
uint32_t _socks4(int fd, const char* host, uint16_t port, int timeoutSec, const SockAbort* abort);
uint32_t _socks5(int fd, const char* host, uint16_t port, const SockAbort* abort);

struct SslFree {
    void operator()(SSL* s) const { Tls_Lib()->SSL_free(s); }
};
using SslPtr = std::unique_ptr<SSL, SslFree>;

// The TLS connection of a socket (null without TLS); _tlsTake also removes it.
SSL* _tlsOf(int sock);
SslPtr _tlsTake(int sock);

// What an SSL call that failed wants: a wait for the socket (0 once it is
// ready), or the error that ends the connection.
uint32_t _tlsRetry(SSL* ssl, int ret, int fd, const Deadline& deadline, const SockAbort* abort,
                   int savedErrno, std::string* reason);

} // namespace iwsock
