// SPDX-License-Identifier: GPL-3.0-or-later
// Connecting through a SOCKS 4 or SOCKS 5 proxy.
#include "net/socket.h"
#include "net/socket_internal.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

using namespace iwsock;

namespace {

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

} // namespace

namespace iwsock {

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

} // namespace iwsock
